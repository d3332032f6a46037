// The power-protocol codec ("~ VER ADR CID1 CID2 LENGTH INFO CHKSUM \r", every binary field as two
// upper-case hexadecimal characters) and the frames the library itself sends: the environment
// poll, the output command (both on the environment channel) and the position query of the
// modem's AT port. The exported codec calls are forwarders to these.
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

// Encodes the command into frame (2 x INFO_LEN + 18 bytes, not zero-terminated): its length, 0
// for a null argument or an INFO_LEN above SDK_BSP_POWER_INFO_MAX.
int encode_frame(const STR_POWER_CMD* cmd, char* frame) noexcept;
// LENGTH for a count of INFO bytes: LCHKSUM in bits 12-15, LENID (twice the count) in 0-11.
std::uint16_t length_field(std::uint16_t info_bytes) noexcept;
// Writes the CHKSUM of count characters behind them (4 characters): count + 4.
int append_checksum(char* text, std::uint16_t count) noexcept;
// 0 when the last 4 of count characters are the CHKSUM of those before them, else 1.
int check_checksum(const char* text, int count) noexcept;
// 0 consistent, 1 LCHKSUM wrong, 3 LENID wrong, for the binary LENGTH of a frame of frame_bytes.
int check_length(const unsigned char* length, std::uint16_t frame_bytes) noexcept;
// The codec's steps on binary and digit buffers, in place.
void digits_to_ascii(unsigned char* data, std::uint16_t count) noexcept;
std::uint16_t split_nibbles(unsigned char* data, std::uint16_t count) noexcept;
std::uint8_t join_nibbles(unsigned char* data, std::uint8_t count) noexcept;
std::uint8_t hex_byte(const char* text) noexcept;
std::uint16_t hex_word(const char* text) noexcept;
// The wall clock in whole seconds since the epoch, as 32 bits.
std::int32_t unix_time() noexcept;

}  // namespace bsp::com
