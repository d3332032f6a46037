// The power-protocol frames the library itself sends: the environment poll, the output command
// (both on the environment channel) and the position query of the modem's AT port.
#pragma once

#include <cstdint>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::com {

// The poll the environment send loop sends once a second when no output change is pending.
constexpr std::string_view kPollFrame{"~FFFF03540000FD5C\r"};
// The position query sent on the modem's AT port; stored without its carriage return, which the
// AT channel's line end supplies.
constexpr std::string_view kPositionQueryFrame{"~2101D0900000FD9F"};

// The output command: INFO byte 1 is the output mask (bit i set = output i + 1 on), every other
// INFO byte 0xFF, ten of them sent. Encoded it is kOutputCommandChars long.
constexpr std::uint32_t kOutputCommandInfo = 10;
constexpr int kOutputCommandChars = 2 * kOutputCommandInfo + 18;
constexpr STR_POWER_CMD output_command(std::uint8_t mask) noexcept {
    STR_POWER_CMD cmd{};
    cmd.VER = 0xFF;
    cmd.ADR = 0xFF;
    cmd.CID1 = 0x05;
    cmd.CID2 = 0x55;
    cmd.INFO_LEN = kOutputCommandInfo;
    for (auto& b : cmd.INFO) b = 0xFF;
    cmd.INFO[1] = mask;
    return cmd;
}

}  // namespace bsp::com
