// The GPS read loop: the thread routine of port index 6 that gathers the receiver's bytes in
// receive buffer 15 and hands them to the sentence parser in batches. It starts with the receive
// threads and, as the box's own does, clears the environment record as it starts.
#include <array>
#include <cstdint>

#include "abi/texts.h"
#include "com/env_link.h"
#include "com/ports.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "gps/gps.h"
#include "os/os.h"
#include "sdk/log.h"

namespace bsp::gps {
namespace {

constexpr long kGpsPaceMs = 100;
constexpr std::size_t kGpsBuffer = 15;  // Uart ID 16, the receiver's bytes
constexpr std::uint32_t kGpsBaud = 9600;

}  // namespace

void* read_loop(void* arg) noexcept {
    const int port = com::port_argument(arg);
    com::stump(port, texts::kGpsThread, __LINE__);
    com::set_port_line(com::kPortGps, kGpsBaud, 8, 1, 0);  // the port named, not the argument
    com::clear_env_record();
    std::array<std::uint8_t, com::kReadArea> area;
    com::ReceiveBuffer& gps = com::g_receive_buffers[kGpsBuffer];
    for (;;) {
        os::sleep_ms(kGpsPaceMs);
        std::uint32_t got = com::poll_port(port, area.data(), com::kReadArea);
        if (got == 0) continue;
        std::int32_t len = com::append(kGpsBuffer, {area.data(), got}).len();
        // Only this thread changes buffer 15, so the parser reads it without the mutex.
        if (parse_batch(reinterpret_cast<const char*>(gps.buf.data()), len) == -1) continue;
        com::clear(kGpsBuffer);
        Fix f = fix();
        sdk::log_write(sdk::kLogSys, texts::kGpsFix, f.lon, f.lat);
    }
}

}  // namespace bsp::gps
