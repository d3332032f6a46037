// Power-protocol frames on the equipment's side: building, checking and cutting.
#include "sim/power_frame.h"

#include <algorithm>

namespace sim::power {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr std::size_t kLenidMask = 0xFFF;

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The value of n hexadecimal characters; a character that is not one counts as 0.
unsigned hex_value(std::string_view s) {
    unsigned v = 0;
    for (char c : s) v = v << 4 | static_cast<unsigned>(std::max(nibble(c), 0));
    return v;
}

// LCHKSUM: the negated sum of LENID's three nibbles, modulo 16.
unsigned lchksum(unsigned lenid) {
    const unsigned sum = (lenid & 0xF) + (lenid >> 4 & 0xF) + (lenid >> 8 & 0xF);
    return (16 - sum % 16) % 16;
}

bool all_hex(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return nibble(c) >= 0; });
}

void put_hex(std::string& out, unsigned value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

std::uint16_t length_field(std::size_t info_bytes) {
    const unsigned lenid = static_cast<unsigned>(2 * info_bytes) & kLenidMask;
    return static_cast<std::uint16_t>(lchksum(lenid) << 12 | lenid);
}

std::uint16_t chksum(std::string_view chars) {
    unsigned sum = 0;
    for (char c : chars) sum += static_cast<unsigned char>(c);
    return static_cast<std::uint16_t>(0x10000 - (sum & 0xFFFF));
}

std::string build(std::uint8_t ver, std::uint8_t adr, std::uint8_t cid1, std::uint8_t cid2,
                  std::span<const std::uint8_t> info) {
    info = info.first(std::min(info.size(), kMaxInfo));
    std::string body;
    for (unsigned b : {ver, adr, cid1, cid2}) put_hex(body, b, 2);
    put_hex(body, length_field(info.size()), 4);
    for (unsigned b : info) put_hex(body, b, 2);
    std::string frame(1, kSoi);
    frame += body;
    put_hex(frame, chksum(body), 4);
    return frame + kEoi;
}

Frame decode(std::string_view text) {
    Frame f;
    f.text = text;
    // The characters between '~' and '\r'.
    const std::string_view body = text.substr(1, text.size() >= 2 ? text.size() - 2 : 0);
    if (body.size() < kHeaderChars + kChksumChars) return f;
    f.complete = true;
    f.hex_ok = all_hex(body);
    f.ver = static_cast<std::uint8_t>(hex_value(body.substr(0, 2)));
    f.adr = static_cast<std::uint8_t>(hex_value(body.substr(2, 2)));
    f.cid1 = static_cast<std::uint8_t>(hex_value(body.substr(4, 2)));
    f.cid2 = static_cast<std::uint8_t>(hex_value(body.substr(6, 2)));
    f.length = static_cast<std::uint16_t>(hex_value(body.substr(8, 4)));
    const std::string_view info = body.substr(kHeaderChars, body.size() - kHeaderChars - kChksumChars);
    for (std::size_t i = 0; i + 1 < info.size(); i += 2)
        f.info.push_back(static_cast<std::uint8_t>(hex_value(info.substr(i, 2))));
    const unsigned lenid = f.length & kLenidMask;
    f.lenid_ok = lenid == info.size();
    f.lchksum_ok = lchksum(lenid) == static_cast<unsigned>(f.length >> 12);
    const std::string_view sent = body.substr(body.size() - kChksumChars);
    f.chksum_ok = all_hex(sent) && hex_value(sent) == chksum(body.substr(0, body.size() - kChksumChars));
    return f;
}

void Cutter::feed(std::span<const std::uint8_t> bytes) { buf_.append(bytes.begin(), bytes.end()); }

std::optional<Frame> Cutter::next() {
    for (;;) {
        const auto start = buf_.find(kSoi);
        junk_ += std::min(start, buf_.size());
        buf_.erase(0, start);
        if (buf_.empty()) return std::nullopt;
        const auto end = buf_.find_first_of("~\r", 1);
        if (end == std::string::npos) {
            if (buf_.size() <= kMaxFrame) return std::nullopt;  // the rest is on its way
            junk_ += buf_.size();
            buf_.clear();
            return std::nullopt;
        }
        if (buf_[end] == kSoi || end + 1 > kMaxFrame) {
            junk_ += end;
            buf_.erase(0, end);
            continue;
        }
        Frame f = decode(std::string_view(buf_).substr(0, end + 1));
        buf_.erase(0, end + 1);
        return f;
    }
}

}  // namespace sim::power
