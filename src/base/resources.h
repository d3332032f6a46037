// Resource names and IDs, the board presence flags and the resource counts derived from them. The
// exported resource calls are forwarders to these.
#pragma once

#include <cstdint>

#include "sdk_bsp.h"

namespace bsp::base {

// One row of the resource table.
struct Resource {
    std::int32_t id;
    const char* name;
};
constexpr int kResourceRows = 110;
const Resource* resources() noexcept;

// The ID of a resource name (exact, case-sensitive), SDK_BSP_RESOURCE_NOT_FOUND for any other text.
int resource_id(const char* name) noexcept;

// One presence flag of BSP_BOARD_HARDWARE_RESOURCES, stored as one word.
using PresenceFlag = std::int32_t BSP_BOARD_HARDWARE_RESOURCES_T::*;
void set_presence(PresenceFlag flag, int value) noexcept;
// All four flags to 0.
void clear_presence() noexcept;

// Counts the resources from the presence flags into STR_SYSTEM_RESOURCES_NUM, logs and prints them.
void count_resources() noexcept;
// One count of STR_SYSTEM_RESOURCES_NUM, read as one word.
using ResourceCount = std::int32_t STR_SYSTEM_RESOURCES_NUM_T::*;
int resource_count(ResourceCount count) noexcept;

// The resource list as a JSON array into buffer (SDK_BSP_RESOURCE_LIST_SIZE bytes); length only
// limits the clearing. Returns 0.
int resource_list(char* buffer, int length) noexcept;
// The name itself as its alias, copied whole. Returns 0.
int resource_alias(const char* name, char* alias) noexcept;

}  // namespace bsp::base
