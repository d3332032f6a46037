// Arbitrary received text into CheckSum, CheckLTH and the hexadecimal conversions, as a receiver
// hands them a frame; and the same bytes as one command, whose encoded frame must pass both checks.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sdk_bsp.h"

namespace {

// Exactly sized copies, so that a read past the text is caught. A seed line of frames.tsv
// ("~<VER..CHKSUM>\r\t...") is checked as received too: between "~" and the line end.
void check_received(const std::uint8_t* data, std::size_t size) {
    const std::vector<char> text(data, data + size);
    int sum = CheckSum(text.data(), static_cast<int>(text.size()));
    std::vector<unsigned char> binary;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) binary.push_back(bsp_AscToHex(text.data() + i));
    int lth = binary.size() >= 6 ? CheckLTH(binary.data() + 4, static_cast<std::uint16_t>(binary.size())) : 0;
    if ((sum != 0 && sum != 1) || (lth != 0 && lth != 1 && lth != 3)) std::abort();
}

void check_encoded(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return;
    STR_POWER_CMD cmd{};
    cmd.VER = data[0], cmd.ADR = data[1], cmd.CID1 = data[2], cmd.CID2 = data[3];
    cmd.INFO_LEN = static_cast<std::uint32_t>(std::min<std::size_t>(size - 4, SDK_BSP_POWER_INFO_MAX));
    std::memcpy(cmd.INFO, data + 4, cmd.INFO_LEN);
    std::vector<char> frame(2 * cmd.INFO_LEN + 18);
    if (POWER_7E_CMDSend(&cmd, frame.data()) != static_cast<int>(frame.size())) std::abort();
    const int body = static_cast<int>(frame.size()) - 2;
    std::vector<unsigned char> binary;
    for (int i = 0; i < body; i += 2) binary.push_back(bsp_AscToHex(frame.data() + 1 + i));
    if (frame.front() != '~' || frame.back() != '\r' || CheckSum(frame.data() + 1, body) != 0 ||
        CheckLTH(binary.data() + 4, static_cast<std::uint16_t>(binary.size())) != 0 ||
        std::memcmp(binary.data() + 6, cmd.INFO, cmd.INFO_LEN) != 0)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_received(data, size);
    if (size > 0 && data[0] == '~') {
        std::size_t end = 1;
        while (end < size && data[end] != '\r' && data[end] != '\\' && data[end] != '\t') ++end;
        check_received(data + 1, end - 1);
    }
    check_encoded(data, size);
    return 0;
}
