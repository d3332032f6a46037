// Start-up: InitializeSDK brings the whole board up once per process, in a fixed order, and
// nothing is ever stopped again; UninitializeSDK is its counterpart by name only.
#include <atomic>

#include "base/log.h"
#include "base/resources.h"
#include "base/texts.h"
#include "com/ports.h"
#include "com/receive_threads.h"
#include "com/uart_api.h"
#include "gps/gps.h"
#include "io/io.h"
#include "os/os.h"
#include "sdk/sdk.h"

namespace bsp::sdk {
namespace {

using base::clear_presence;
using base::count_resources;
using base::kLogSys;
using base::log_defaults;
using base::log_write;

std::atomic<bool> g_initialized{false};  // from the first initialize on, never cleared
std::atomic<bool> g_system_started{false};
constexpr long kBoardAnnounceWaitMs = 2000;  // the extension boards announce themselves meanwhile

}  // namespace

int initialize() noexcept {
    if (g_initialized.exchange(true)) return -1;
    // No step's result is examined: each runs whether or not the one before it succeeded.
    log_defaults();
    log_write(kLogSys, texts::kInitializeSdk);
    start_system();
    io::lamp_test();
    com::open_ports();
    com::init_line_settings();
    com::start_receive_threads(gps::read_loop);
    io::reset_soft_dog();
    os::sleep_ms(kBoardAnnounceWaitMs);
    count_resources();
    io::start_soft_dog();
    gps::update_mode();
    return 0;
}

int uninitialize() noexcept {
    log_write(kLogSys, texts::kUninitializeSdk);
    return 0;
}

void start_system() noexcept {
    if (g_system_started.exchange(true)) return;
    clear_presence();
}

}  // namespace bsp::sdk
