// The LTE supervisor: one thread that, once a second, detects the module and refreshes its state
// on every second pass, and carries out the requests the Dial API leaves in NTU: dial, hang up,
// restart the module by command, or cut its power.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>

#include <pthread.h>

#include "base/log.h"
#include "base/texts.h"
#include "lte/lte.h"
#include "os/os.h"

namespace bsp::lte {
namespace {

using base::log_write;

pthread_t g_thread;
int g_thread_argument = 0;  // not used by the thread

// The start: a caller returns only once the thread has cleared the record (or its creation
// failed), so that a request the host makes after the call is never wiped by that clearing. A
// second caller, racing the first, waits for the same moment.
enum class Start { kNotStarted, kStarting, kCleared, kFailed };
// The mutex and condition of POSIX threads: the C++ runtime's condition variable would bring its
// exception machinery into the library.
pthread_mutex_t g_start_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_start_settled = PTHREAD_COND_INITIALIZER;
Start g_start = Start::kNotStarted;  // guarded by g_start_lock

// Holds g_start_lock for a scope.
class StartLock {
  public:
    StartLock() noexcept { pthread_mutex_lock(&g_start_lock); }
    ~StartLock() { pthread_mutex_unlock(&g_start_lock); }
    StartLock(const StartLock&) = delete;
    StartLock& operator=(const StartLock&) = delete;
    void wait_while_starting() noexcept {
        while (g_start == Start::kStarting) pthread_cond_wait(&g_start_settled, &g_start_lock);
    }
};

constexpr std::size_t kKnownMin = 5;   // an IMSI or IMEI shorter than this is read again
constexpr int kQuietWhileOnline = 13;  // M620: not queried while its link is up
constexpr int kPrefixedImsiRows[] = {2, 5, 6, 9};  // the Neoway and VQM modules
constexpr unsigned kPassSeconds = 1;
constexpr unsigned kDialPauseSeconds = 5;
constexpr unsigned kPowerCutSeconds = 5;
constexpr std::size_t kGpioCommand = 64;  // "echo 0 > /sys/class/gpio/gpio12/value" and room
constexpr const char* kModulePower = "/sys/class/gpio/gpio12/value";

int mode_id() noexcept { return word(Word::kModeId); }

void log_step(int line) noexcept { log_write(kLogNet, texts::kQueryStep, 1, line, text(Field::kAtdev).data()); }

// The address of an interface, kept in the record's text for it (empty when it has none).
void refresh_address(const char* ifname, Field f) noexcept {
    Text address{};
    interface_address(ifname, address.data());
    set_text(f, address.data());
}

void switch_module_power(int level) noexcept {
    os::Command echo;
    if (echo.format(kGpioCommand, "echo %d > %s", level, os::Path(kModulePower))) os::run(echo.c_str());
}

void serve_dial() noexcept {
    log_write(kLogNet, texts::kDialRequest, static_cast<int>(word(Word::kPppdstart)));
    if (!take_request(Word::kPppdstart)) return;
    query_cycle();
    if (read_registration(text(Field::kAtdev).data()) <= 0) {
        log_write(kLogNet, texts::kNoService);  // the request is dropped
        return;
    }
    hang_up(text(Field::kAtdev).data());
    {
        std::lock_guard channel(channel_lock());
        close_at_port();
    }
    log_write(kLogNet, "%s", texts::kDialRestart);
    for (int i = 0; i < 4; ++i) log_write(kLogNet, texts::kDialBanner);
    log_write(kLogNet, "%s", texts::kDialRestart);
    os::sleep_seconds(kDialPauseSeconds);
    uci_output("killall lte.sh", nullptr, true);
    os::run("nohup  lte.sh &");
    set_word(Word::kDialstarted, 1);
}

void serve_hang_up() noexcept {
    log_write(kLogNet, texts::kHangUpRequest, static_cast<int>(word(Word::kPppdend)));
    if (!take_request(Word::kPppdend)) return;
    hang_up(text(Field::kAtdev).data());
    log_write(kLogNet, texts::kHangUp);
    uci_output("killall pppd", nullptr, true);
}

void serve_restarts() noexcept {
    if (word(Word::kSoftreboot) == 1) {
        log_write(kLogNet, texts::kSoftRestart);
        restart_module(text(Field::kAtdev).data());
        set_word(Word::kSoftreboot, 0);
    }
    if (!take_request(Word::kHardreboot)) return;
    switch_module_power(0);
    os::sleep_seconds(kPowerCutSeconds);
    switch_module_power(1);
    set_word(Word::kSoftreboot, 0);  // a soft restart asked for during the power cycle is moot
}

// Wakes the callers waiting in start_supervisor.
void settle_start(Start state) noexcept {
    StartLock lock;
    g_start = state;
    pthread_cond_broadcast(&g_start_settled);
}

}  // namespace

void supervisor_pass(int count) noexcept {
    log_write(kLogNet, texts::kSupervisorPass, count, texts::kSupervisorPassLine);
    if (count % 2 == 0 && detect_module() == 1) {
        log_write(kLogNet, texts::kSupervisorDetected, count, texts::kSupervisorDetectedLine, text(Field::kLteip).data(),
                  mode_id());
        refresh_address("ppp0", Field::kLteip);
        refresh_address("ppp1", Field::kLteip1);
        if (mode_id() != kQuietWhileOnline || !link_up(text(Field::kLteip))) query_cycle();
    }
    serve_dial();
    serve_hang_up();
    serve_restarts();
}

// The system says only that the call returns the thread creation's result. It returns once the
// new thread has cleared the record, so that a DialDial right after it is never wiped; a failed
// creation returns at once; a later call returns -1, after that clearing too.
int start_supervisor() noexcept {
    {
        StartLock lock;
        if (g_start != Start::kNotStarted) {
            lock.wait_while_starting();
            return -1;
        }
        g_start = Start::kStarting;
    }
    const int created = pthread_create(&g_thread, nullptr, supervisor_main, &g_thread_argument);
    if (created != 0) {
        settle_start(Start::kFailed);
        return created;
    }
    StartLock lock;
    lock.wait_while_starting();
    return 0;
}

void* supervisor_main(void*) noexcept {
    log_write(kLogNet, texts::kSupervisorStart);
    clear_record();
    settle_start(Start::kCleared);
    for (int count = 0;; ++count) {
        supervisor_pass(count);
        os::sleep_seconds(kPassSeconds);
    }
}

void query_cycle() noexcept {
    const auto atdev = [] { return text(Field::kAtdev); };
    log_step(texts::kQueryEchoOff);
    echo_off(atdev().data());
    log_step(texts::kQueryEchoOffDone);
    log_step(texts::kQuerySignal);
    read_signal(atdev().data());
    log_step(texts::kQuerySignalDone);
    read_registration(atdev().data());
    log_step(texts::kQueryRegistrationDone);
    if (std::strlen(text(Field::kImsi).data()) < kKnownMin) {
        const bool prefixed = std::find(std::begin(kPrefixedImsiRows), std::end(kPrefixedImsiRows), mode_id()) !=
                              std::end(kPrefixedImsiRows);
        log_step(prefixed ? texts::kQueryImsiPrefixed : texts::kQueryImsi);
        read_imsi(atdev().data());
    }
    if (std::strlen(text(Field::kImei).data()) < kKnownMin) {
        log_write(kLogNet, texts::kSupervisorPass, 1, texts::kQueryImei);
        read_imei(atdev().data());
    }
    const Texts t = record_texts();
    log_write(kLogNet, texts::kQueryCycleDone, t.imei.data(), t.imsi.data(), t.netstate.data(), t.csq.data(), mode_id());
}

}  // namespace bsp::lte
