// Start-up: InitializeSDK brings the whole board up once per process, in a fixed order, and
// nothing is ever stopped again; UninitializeSDK is its counterpart by name only.
#include <atomic>

#include "os/os.h"
#include "sdk/sdk.h"

namespace bsp::sdk {
namespace {

std::atomic<int> sdk_init{0};  // 1 from the first InitializeSDK on, never cleared
std::atomic<bool> g_system_started{false};
constexpr long kBoardAnnounceWaitMs = 2000;  // the extension boards announce themselves meanwhile

}  // namespace
}  // namespace bsp::sdk

using namespace bsp::sdk;

extern "C" {

SDK_BSP_API int InitializeSDK(void) noexcept {
    if (sdk_init.exchange(1) == 1) return -1;
    // No step's result is examined: each runs whether or not the one before it succeeded.
    SDK_LOG_PAR_INIT();
    SDK_LOG_WRITE(kLogSys, "InitializeSDK");
    SYSTEM_INIT();
    sdk_start_log();
    M_COM_INIT();
    BSP_BAU_INIT();
    FSU_COM_READ_THREAD_START();
    bsp_SoftDog_Init();
    bsp::os::sleep_ms(kBoardAnnounceWaitMs);
    BSP_Resource_CHECK();
    soft_dog_run();
    GPS_MODE_UPDATE();
    return 0;
}

SDK_BSP_API int UninitializeSDK(void) noexcept {
    SDK_LOG_WRITE(kLogSys, "UninitializeSDK");
    return 0;
}

SDK_BSP_API void SYSTEM_INIT(void) noexcept {
    if (g_system_started.exchange(true)) return;
    BOARD_HARDWARE_RESOURCES_INIT();
}

SDK_BSP_API void BOARD_HARDWARE_RESOURCES_INIT(void) noexcept {
    PAR_SET_M_COM_EXIST_STATUS(0);
    PAR_SET_EXT_COM_EXIST_STATUS(0);
    PAR_SET_M_ENV_EXIST_STATUS(0);
    PAR_SET_EXT_ENV_EXIST_STATUS(0);
}

}  // extern "C"
