// The environment link's part in the GPS read loop's start: the environment record is cleared
// when that loop starts.
#pragma once

namespace bsp::com {

// Zeroes STR_BSP_ENV_INFO field by field, as single words and bytes: the host may be reading it.
void clear_env_record() noexcept;

}  // namespace bsp::com
