// Arbitrary received text into CheckSum, CheckLTH and the hexadecimal conversions; every frame the
// encoder makes from the same bytes must pass both checkers, and the nibble conversions must undo
// each other.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk_bsp.h"

namespace {

// A seed line of frames.tsv is "~<VER..CHKSUM>\r<tab>...": keep what a receiver hands the
// checkers, the characters between "~" and the line end.
std::vector<char> received(const std::uint8_t* data, std::size_t size) {
    std::size_t from = size > 0 && data[0] == '~' ? 1 : 0;
    std::size_t to = from;
    while (to < size && data[to] != '\r' && data[to] != '\\' && data[to] != '\t') ++to;
    return std::vector<char>(data + from, data + to);
}

void check_received(const std::vector<char>& text) {
    // Exactly sized copies, so that a read past the text is caught.
    std::vector<char> copy(text);
    int sum = CheckSum(copy.data(), static_cast<int>(copy.size()));
    if (sum != 0 && sum != 1) std::abort();
    std::vector<unsigned char> binary;
    for (std::size_t i = 0; i + 1 < copy.size(); i += 2) binary.push_back(bsp_AscToHex(copy.data() + i));
    if (copy.size() >= 4) (void)AscToUnShort(copy.data() + copy.size() - 4);
    if (binary.size() >= 6) {
        int lth = CheckLTH(binary.data() + 4, static_cast<std::uint16_t>(binary.size()));
        if (lth != 0 && lth != 1 && lth != 3) std::abort();
    }
}

// The bytes as one command: VER, ADR, CID1, CID2, then at most 256 INFO bytes.
void check_encoded(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return;
    STR_POWER_CMD cmd{};
    cmd.VER = data[0], cmd.ADR = data[1], cmd.CID1 = data[2], cmd.CID2 = data[3];
    cmd.INFO_LEN = static_cast<std::uint32_t>(std::min<std::size_t>(size - 4, SDK_BSP_POWER_INFO_MAX));
    std::memcpy(cmd.INFO, data + 4, cmd.INFO_LEN);
    std::vector<char> frame(2 * cmd.INFO_LEN + 18);
    if (POWER_7E_CMDSend(&cmd, frame.data()) != static_cast<int>(frame.size())) std::abort();
    if (frame.front() != '~' || frame.back() != '\r') std::abort();
    int body = static_cast<int>(frame.size()) - 2;
    if (CheckSum(frame.data() + 1, body) != 0) std::abort();
    std::vector<unsigned char> binary;
    for (int i = 0; i < body; i += 2) binary.push_back(bsp_AscToHex(frame.data() + 1 + i));
    if (CheckLTH(binary.data() + 4, static_cast<std::uint16_t>(binary.size())) != 0) std::abort();
    if (std::memcmp(binary.data() + 6, cmd.INFO, cmd.INFO_LEN) != 0) std::abort();
}

void check_nibbles(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMax = 127;  // Data_Close counts in 8 bits: 2 x 127 nibbles
    std::size_t n = std::min(size, kMax);
    if (n == 0) return;
    std::vector<unsigned char> buf(2 * n);
    std::memcpy(buf.data(), data, n);
    if (Data_Open(buf.data(), static_cast<std::uint16_t>(n)) != 2 * n) std::abort();
    std::vector<unsigned char> ascii(buf);
    HexToAsc(ascii.data(), static_cast<std::uint16_t>(ascii.size()));
    for (std::size_t i = 0; i < n; ++i)
        if (bsp_AscToHex(reinterpret_cast<const char*>(ascii.data()) + 2 * i) != data[i]) std::abort();
    if (Data_Close(buf.data(), static_cast<std::uint8_t>(2 * n)) != n || std::memcmp(buf.data(), data, n) != 0)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_received(received(data, size));
    check_received(std::vector<char>(data, data + size));
    check_encoded(data, size);
    check_nibbles(data, size);
    return 0;
}
