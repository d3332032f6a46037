// The power-protocol frame codec: the ASCII frame "~ VER ADR CID1 CID2 LENGTH INFO CHKSUM \r" of
// the environment channel, every binary field as two upper-case hexadecimal characters.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/hex.h"
#include "com/power_codec.h"
#include "os/os.h"
#include "sdk_bsp.h"

namespace bsp::com {
namespace {

constexpr char kSoi = '~';
constexpr char kEoi = '\r';
constexpr int kChksumChars = 4;
constexpr unsigned kLenidMask = 0x0FFF;
constexpr std::size_t kMinFrameBytes = 8;  // VER ADR CID1 CID2 LENGTH(2) CHKSUM(2), binary

constexpr std::array<char, 16> kUpperDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                            '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// A hexadecimal digit's value; anything else reads as 0.
unsigned digit(char c) noexcept { return static_cast<unsigned>(std::max(base::hex_digit(c), 0)); }

// Minus the sum of LENID's three nibbles, modulo 16.
constexpr unsigned lchksum(unsigned lenid) noexcept {
    unsigned sum = (lenid & 0xF) + ((lenid >> 4) & 0xF) + ((lenid >> 8) & 0xF);
    return (16 - sum % 16) % 16;
}

// The 16-bit two's complement of the sum of the characters' codes.
std::uint16_t chksum(const char* text, std::size_t count) noexcept {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += static_cast<unsigned char>(text[i]);
    return static_cast<std::uint16_t>(0u - sum);
}

// Writes value as `digits` upper-case hexadecimal characters, most significant first.
char* put_hex(char* out, unsigned value, int digits) noexcept {
    for (int d = digits - 1; d >= 0; --d) *out++ = kUpperDigits[(value >> (4 * d)) & 0xF];
    return out;
}

char lower(char c) noexcept { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

// Writes the fields straight as characters rather than binary-then-expanded in place: the
// characters are the same, and the output buffer is written front to back once.
int encode_frame(const STR_POWER_CMD* cmd, char* frame) noexcept {
    if (!cmd || !frame || cmd->INFO_LEN > SDK_BSP_POWER_INFO_MAX) return 0;
    char* p = frame;
    *p++ = kSoi;
    for (std::uint8_t field : {cmd->VER, cmd->ADR, cmd->CID1, cmd->CID2}) p = put_hex(p, field, 2);
    p = put_hex(p, length_field(static_cast<std::uint16_t>(cmd->INFO_LEN)), 4);
    for (std::uint32_t i = 0; i < cmd->INFO_LEN; ++i) p = put_hex(p, cmd->INFO[i], 2);
    p = put_hex(p, chksum(frame + 1, static_cast<std::size_t>(p - frame - 1)), kChksumChars);
    *p++ = kEoi;
    return static_cast<int>(p - frame);
}

std::uint16_t length_field(std::uint16_t info_bytes) noexcept {
    unsigned lenid = (2u * info_bytes) & kLenidMask;
    return static_cast<std::uint16_t>(lchksum(lenid) << 12 | lenid);
}

int append_checksum(char* text, std::uint16_t count) noexcept {
    if (text) put_hex(text + count, chksum(text, count), kChksumChars);
    return count + kChksumChars;
}

int check_checksum(const char* text, int count) noexcept {
    if (!text || count < kChksumChars) return 1;
    std::size_t body = static_cast<std::size_t>(count - kChksumChars);
    std::array<char, kChksumChars> want{};
    put_hex(want.data(), chksum(text, body), kChksumChars);
    const char* got = text + body;
    if (std::equal(want.begin(), want.end(), got)) return 0;
    std::transform(want.begin(), want.end(), want.begin(), lower);
    return std::equal(want.begin(), want.end(), got) ? 0 : 1;
}

int check_length(const unsigned char* length, std::uint16_t frame_bytes) noexcept {
    constexpr int kLenidWrong = 3, kLchksumWrong = 1, kConsistent = 0;
    if (!length || frame_bytes < kMinFrameBytes) return kLenidWrong;
    unsigned lenid = (length[0] & 0xFu) << 8 | length[1];
    if (lenid != 2u * (frame_bytes - kMinFrameBytes)) return kLenidWrong;
    return (length[0] >> 4) == lchksum(lenid) ? kConsistent : kLchksumWrong;
}

void digits_to_ascii(unsigned char* data, std::uint16_t count) noexcept {
    if (!data) return;
    // Values of 16 and above are not hexadecimal digits; they follow the same rule and wrap.
    for (std::size_t i = 0; i < 2u * (count / 2u); ++i)
        data[i] = static_cast<unsigned char>(data[i] < 10 ? '0' + data[i] : 'A' + (data[i] - 10));
}

std::uint16_t split_nibbles(unsigned char* data, std::uint16_t count) noexcept {
    if (data) {
        // Backwards, so that no byte is overwritten before it is split.
        for (std::size_t i = count; i-- > 0;) {
            unsigned char b = data[i];
            data[2 * i + 1] = b & 0xF;
            data[2 * i] = static_cast<unsigned char>(b >> 4);
        }
    }
    return static_cast<std::uint16_t>(2u * count);
}

std::uint8_t join_nibbles(unsigned char* data, std::uint8_t count) noexcept {
    std::size_t half = count / 2u;
    if (data) {
        for (std::size_t i = 0; i < half; ++i) data[i] = static_cast<unsigned char>(data[2 * i] << 4 | data[2 * i + 1]);
        std::memset(data + half, 0, count - half);
    }
    return static_cast<std::uint8_t>(half);
}

std::uint8_t hex_byte(const char* text) noexcept {
    if (!text) return 0;
    return static_cast<std::uint8_t>(digit(text[0]) << 4 | digit(text[1]));
}

std::uint16_t hex_word(const char* text) noexcept {
    if (!text) return 0;
    return static_cast<std::uint16_t>(hex_byte(text) << 8 | hex_byte(text + 2));
}

std::int32_t unix_time() noexcept { return static_cast<std::int32_t>(os::now()); }

}  // namespace bsp::com
