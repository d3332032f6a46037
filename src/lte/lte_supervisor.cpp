// The LTE supervisor: one thread that, once a second, detects the module and refreshes its state
// on every second pass, and carries out the requests the Dial API leaves in NTU: dial, hang up,
// restart the module by command, or cut its power.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include <pthread.h>

#include "lte/lte.h"
#include "os/os.h"

namespace bsp::lte {
namespace {

pthread_t lte_thread;
int lte_th_index = 0;  // the thread's argument; not used by it
std::atomic<bool> g_started{false};

constexpr std::size_t kKnownMin = 5;   // an IMSI or IMEI shorter than this is read again
constexpr std::size_t kOnlineMin = 6;  // an address of "ppp0" this long: the link is up
constexpr int kQuietWhileOnline = 13;  // M620: not queried while its link is up
constexpr int kPrefixedImsiRows[] = {2, 5, 6, 9};  // the Neoway and VQM modules
constexpr unsigned kPassSeconds = 1;
constexpr unsigned kDialPauseSeconds = 5;
constexpr unsigned kPowerCutSeconds = 5;
constexpr std::size_t kGpioCommand = 64;  // "echo 0 > /sys/class/gpio/gpio12/value" and room
constexpr const char* kModulePower = "/sys/class/gpio/gpio12/value";

using Text = std::array<char, kTextSize>;

// A text of the record, copied under its lock.
Text text_of(const char (&field)[kTextSize]) noexcept {
    Text t{};
    copy_text(t.data(), t.size(), field);
    return t;
}

int mode_id() noexcept { return word(&NTU_T::mode_id).load(); }

// Claims a request flag: true, and the flag cleared, when it was 1.
bool take(std::int32_t NTU_T::*flag) noexcept {
    std::int32_t requested = 1;
    return word(flag).compare_exchange_strong(requested, 0);
}

void log_step(int line) noexcept {
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED sleepcount=%d,Line=%d;NTU.atdev=%s", 1, line, text_of(NTU.atdev).data());
}

void switch_module_power(int level) noexcept {
    os::Command echo;
    if (echo.format(kGpioCommand, "echo %d > %s", level, os::Path(kModulePower))) os::run(echo.c_str());
}

void serve_dial() noexcept {
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED NTU.pppdstart=%d", static_cast<int>(word(&NTU_T::pppdstart).load()));
    if (!take(&NTU_T::pppdstart)) return;
    readatdata();
    if (read_sysinfo(NTU.atdev) <= 0) {
        SDK_LOG_WRITE(kLogNet, "LTE SYS NO CSQ!");  // the request is dropped
        return;
    }
    send_ath(NTU.atdev);
    {
        std::lock_guard channel(channel_lock());
        at_port_close();
    }
    constexpr const char* kRestart = "start up killall lte.sh-start lte.sh";
    SDK_LOG_WRITE(kLogNet, "%s", kRestart);
    for (int i = 0; i < 4; ++i) SDK_LOG_WRITE(kLogNet, "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@");
    SDK_LOG_WRITE(kLogNet, "%s", kRestart);
    mysleep(kDialPauseSeconds);
    uciread("killall lte.sh", nullptr);
    os::run("nohup  lte.sh &");
    word(&NTU_T::dialstarted).store(1);
}

void serve_hang_up() noexcept {
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED NTU.pppdend=%d", static_cast<int>(word(&NTU_T::pppdend).load()));
    if (!take(&NTU_T::pppdend)) return;
    send_ath(NTU.atdev);
    SDK_LOG_WRITE(kLogNet, "killall pppd");
    uciread("killall pppd", nullptr);
}

void serve_restarts() noexcept {
    if (word(&NTU_T::softreboot).load() == 1) {
        SDK_LOG_WRITE(kLogNet, "无线模块软重启!!!!!!!!");
        send_DialSoftReboot(NTU.atdev);
        word(&NTU_T::softreboot).store(0);
    }
    if (!take(&NTU_T::hardreboot)) return;
    switch_module_power(0);
    mysleep(kPowerCutSeconds);
    switch_module_power(1);
    word(&NTU_T::softreboot).store(0);  // a soft restart asked for during the power cycle is moot
}

}  // namespace

void supervisor_pass(int count) noexcept {
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED sleepcount=%d,Line=%d", count, 1754);
    if (count % 2 == 0 && readusb() == 1) {
        SDK_LOG_WRITE(kLogNet, "LTE_TEHED sleepcount1=%d,Line=%d;NTU.lteip=%s,NTU.mode_id=%d", count, 1756,
                      text_of(NTU.lteip).data(), mode_id());
        read_ethip("ppp0", NTU.lteip);
        read_ethip("ppp1", NTU.lteip1);
        if (mode_id() != kQuietWhileOnline || std::strlen(text_of(NTU.lteip).data()) < kOnlineMin) readatdata();
    }
    serve_dial();
    serve_hang_up();
    serve_restarts();
}

}  // namespace bsp::lte

using namespace bsp::lte;

extern "C" {

SDK_BSP_API int FSU_Lte_THREAD_START(void) noexcept {
    // Started before: nothing more starts, and the caller is told so.
    if (g_started.exchange(true)) return -1;
    return pthread_create(&lte_thread, nullptr, lte_main, &lte_th_index);
}

SDK_BSP_API void* lte_main(void*) noexcept {
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED START!");
    data_init();
    for (int count = 0;; ++count) {
        supervisor_pass(count);
        mysleep(kPassSeconds);
    }
}

SDK_BSP_API void readatdata(void) noexcept {
    log_step(1709);
    send_ate(NTU.atdev);
    log_step(1711);
    log_step(1713);
    readcsq(NTU.atdev);
    log_step(1715);
    read_sysinfo(NTU.atdev);
    log_step(1717);
    if (std::strlen(text_of(NTU.imsi).data()) < kKnownMin) {
        const bool prefixed = std::find(std::begin(kPrefixedImsiRows), std::end(kPrefixedImsiRows), mode_id()) !=
                              std::end(kPrefixedImsiRows);
        log_step(prefixed ? 1720 : 1725);
        read_MINI1(NTU.atdev);
    }
    if (std::strlen(text_of(NTU.imei).data()) < kKnownMin) {
        SDK_LOG_WRITE(kLogNet, "LTE_TEHED sleepcount=%d,Line=%d", 1, 1730);
        readIMEI(NTU.atdev);
    }
    Text imei{}, imsi{}, netstate{}, csq{};
    with_record([&](const NTU_T& r) {
        std::memcpy(imei.data(), r.imei, kTextSize);
        std::memcpy(imsi.data(), r.imsi, kTextSize);
        std::memcpy(netstate.data(), r.netstate, kTextSize);
        std::memcpy(csq.data(), r.csq, kTextSize);
    });
    for (Text* t : {&imei, &imsi, &netstate, &csq}) t->back() = '\0';  // a host may have left one unterminated
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED NTU数据打印=%s,%s,%s,%s,%d!", imei.data(), imsi.data(), netstate.data(), csq.data(),
                  mode_id());
}

}  // extern "C"
