// The GPS read loop: the thread routine of port index 6 that gathers the receiver's bytes in
// receive buffer 15 and hands them to the sentence parser in batches. It starts with the receive
// threads and, as the box's own does, clears the environment record as it starts.
#include <array>
#include <cstdint>

#include "com/env_link.h"
#include "com/ports.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "gps/gps.h"
#include "os/os.h"
#include "sdk/sdk.h"

namespace {

constexpr long kGpsPaceMs = 100;
constexpr std::size_t kGpsBuffer = 15;  // Uart ID 16, the receiver's bytes
constexpr std::uint32_t kGpsBaud = 9600;

}  // namespace

using namespace bsp::com;

extern "C" SDK_BSP_API void* ENV_COM_READ_THREAD(void* arg) noexcept {
    const int port = port_argument(arg);
    stump(port, __func__, __LINE__);
    M_BAU_SET_COM(kPortGps, kGpsBaud, 8, 1, 0);  // the port named, not the argument
    clear_env_record();
    std::array<std::uint8_t, kReadArea> area;
    MCOM_RECV_INFO& gps = LIST_MCOM_RECV_INFO[kGpsBuffer];
    for (;;) {
        bsp::os::sleep_ms(kGpsPaceMs);
        std::uint32_t got = poll_port(port, area.data(), kReadArea);
        if (got == 0) continue;
        std::int32_t len = append(kGpsBuffer, {area.data(), got}).len();
        // Only this thread changes buffer 15, so the parser reads it without the mutex.
        if (BSP_GPS_READ(reinterpret_cast<const char*>(gps.buf.data()), len) == -1) continue;
        clear(kGpsBuffer);
        bsp::gps::Fix fix = bsp::gps::fix();
        SDK_LOG_WRITE(bsp::sdk::kLogSys, "GPS:J:%f;W:%f", fix.lon, fix.lat);
    }
}
