// The environment link: the record the GPS read loop clears when it starts, the output requests,
// and the send loop. The exported environment-link calls are forwarders to these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::com {

// Zeroes STR_BSP_ENV_INFO field by field, as single words and bytes: the host may be reading it.
void clear_env_record() noexcept;

// One second of the environment send loop: the output command when a request is pending (taking
// the requests), else the poll. Returns the frame to send, built in area.
std::string_view next_env_frame(std::array<char, SDK_BSP_POWER_FRAME_MAX>& area) noexcept;

// Stores an output request of DO n + 1 (n from 0 to 7) for the send loop: the value, then its flag.
void request_output(std::size_t n, std::uint8_t value) noexcept;
// 1 when an output request of DO 1 to 8 is pending (after its print), else -1.
int output_request_pending() noexcept;
// Takes the pending requests of DO 1 to 4 into an output command in frame (38 bytes): its length.
int output_command_frame(char* frame) noexcept;
void set_env_board_flag() noexcept;
// The flag's value, cleared.
std::uint32_t take_env_board_flag() noexcept;
// The send loop: one frame a second on the environment channel; never returns. Its argument is
// only printed, as a port index (null: -1).
void* env_send_main(void* arg) noexcept;

}  // namespace bsp::com
