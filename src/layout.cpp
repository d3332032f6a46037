// The exported records' layouts, as hosts compiled against the C header see them.
#include <cstddef>
#include <ctime>

#include <sys/types.h>

#include "sdk_bsp.h"

// Every build, the box's 32-bit one included, has large files and a clock past 2038.
static_assert(sizeof(off_t) == 8 && sizeof(std::time_t) == 8);

static_assert(sizeof(STR_LOG_PAR_T) == 32);
static_assert(offsetof(STR_LOG_PAR_T, net) == 8 && offsetof(STR_LOG_PAR_T, sys) == 20 &&
              offsetof(STR_LOG_PAR_T, debug) == 28);

static_assert(sizeof(BSP_BOARD_HARDWARE_RESOURCES_T) == 16);
static_assert(offsetof(BSP_BOARD_HARDWARE_RESOURCES_T, EXT_COM) == 4 &&
              offsetof(BSP_BOARD_HARDWARE_RESOURCES_T, EXT_ENV) == 12);

static_assert(sizeof(STR_SYSTEM_RESOURCES_NUM_T) == 24);
static_assert(offsetof(STR_SYSTEM_RESOURCES_NUM_T, AI) == 8 && offsetof(STR_SYSTEM_RESOURCES_NUM_T, DO) == 16 &&
              offsetof(STR_SYSTEM_RESOURCES_NUM_T, AO) == 20);

static_assert(sizeof(ComParams) == 24 && offsetof(ComParams, nBaudrate) == 8 && offsetof(ComParams, nParity) == 20);
static_assert(sizeof(ComCapability) == 28 && offsetof(ComCapability, nMinBaudrate) == 8 &&
              offsetof(ComCapability, nMaxBaudrate) == 12);

static_assert(sizeof(STR_BSP_ENV_INFO_T) == 268 && offsetof(STR_BSP_ENV_INFO_T, ai_kind0) == 64 &&
              offsetof(STR_BSP_ENV_INFO_T, ai_other) == 128 && offsetof(STR_BSP_ENV_INFO_T, di) == 192 &&
              offsetof(STR_BSP_ENV_INFO_T, do_state) == 208 && offsetof(STR_BSP_ENV_INFO_T, do_request) == 252 &&
              offsetof(STR_BSP_ENV_INFO_T, do_value) == 260);
