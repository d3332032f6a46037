// The environment link: the record the GPS read loop clears when it starts, and one second of the
// send loop.
#pragma once

#include <array>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::com {

// Zeroes STR_BSP_ENV_INFO field by field, as single words and bytes: the host may be reading it.
void clear_env_record() noexcept;

// One second of the environment send loop: the output command when a request is pending (taking
// the requests), else the poll. Returns the frame to send, built in area.
std::string_view next_env_frame(std::array<char, SDK_BSP_POWER_FRAME_MAX>& area) noexcept;

}  // namespace bsp::com
