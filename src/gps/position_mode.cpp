// The receiver's positioning mode: which satellite systems the GPS/BeiDou receiver on port index 6
// uses. The mode is kept in the UCI keys vqm.sys.pcas (web side, first-start default) and
// vqm.sys.pcas_sdk (SDK side; non-zero overrides pcas) and sent to the receiver as CASIC $PCAS04.
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "base/log.h"
#include "base/texts.h"
#include "com/ports.h"
#include "gps/gps.h"
#include "os/os.h"
#include "uci/uci.h"

namespace bsp::gps {
namespace {

using base::kLogSys;
using base::log_write;

constexpr const char* kPcasQuery = "uci get vqm.sys.pcas";
constexpr const char* kPcasSdkQuery = "uci get vqm.sys.pcas_sdk";
constexpr const char* kMarkerFile = "/etc/bd_gps_default";

// "uci set vqm.sys.pcas_sdk=-2147483648" is 36 characters; the box builds its commands in 100.
constexpr std::size_t kCommandBuffer = 100;

// Switching positioning off from the SDK side: both keys to 99999, the overriding one first.
constexpr std::array<const char*, 3> kSwitchOff{"uci set vqm.sys.pcas_sdk=99999", "uci set vqm.sys.pcas=99999",
                                                "uci commit"};

// Makes the receiver keep its configuration across power cycles.
constexpr char kSaveSentence[] = "$PCAS00*01\r\n";

// The receiver command for a pcas_sdk value, and how many bytes of the save sentence follow it.
struct ModeSentence {
    std::int32_t mode;
    std::string_view sentence;
    int save_bytes;
};
constexpr std::array<ModeSentence, 2> kModeSentences{{
    {1, "$PCAS04,1*18\r\n", 12},  // GPS only
    {2, "$PCAS04,2*1B\r\n", 12},  // BeiDou only
}};
// Every other value (0 and 3 included): GPS and BeiDou together. The box sends the save sentence
// after this one with its terminating zero byte; the receiver ignores the byte.
constexpr ModeSentence kBothSystems{3, "$PCAS04,3*1A\r\n", sizeof kSaveSentence};

constexpr long kSaveDelayMs = 1000;   // between the mode command and the save sentence
constexpr long kSettleDelayMs = 2000;  // before the record is reset

// The positioning mode's state: the effective mode (PositionMode, read by the GPS API on host
// threads) and the lock a mode change holds for its whole run, its 2-3 s of pauses included, so
// that two setters cannot interleave their key writes, receiver commands and configuration reads.
struct ModeState {
    std::atomic<std::int32_t> effective{0};
    std::mutex change;
};
constinit ModeState g_state;

// A key as a number: absent, empty or not a number reads 0. The reader's copies are dropped first,
// so the fresh copies see what a mode change committed a moment before. (The copies load the
// packages in a fixed order and stop at the first unreadable one: a box without
// /etc/config/Device reads every key as 0.)
std::int32_t read_key(const char* query) noexcept {
    uci::free_copies();
    std::array<char, uci::kResultBuffer> value;
    uci::copy_ram_value(query, value);
    long v = std::strtol(value.data(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

// Runs a command built from a format and one number; returns the command for the log.
os::Command run_command(const char* format, std::int32_t value) noexcept {
    os::Command cmd;
    if (cmd.format(kCommandBuffer, format, static_cast<int>(value))) os::run(cmd.c_str());
    return cmd;
}

// Writes the mode into both keys and commits them.
void store_mode(std::int32_t mode) noexcept {
    run_command("uci set vqm.sys.pcas=%d", mode);
    os::Command last = run_command("uci set vqm.sys.pcas_sdk=%d", mode);
    os::run("uci commit");
    log_write(kLogSys, texts::kModeStored, last.c_str());
}

// The receiver follows pcas_sdk, not PositionMode: a mode stored only in pcas (the first-start
// default) puts the receiver into GPS and BeiDou. Write failures are left to write_receiver's
// report: a receiver that cannot be written keeps its old mode.
void command_receiver(std::int32_t pcas_sdk) noexcept {
    if (pcas_sdk == kPositionOff) return;  // the receiver is left as it is
    auto it = std::find_if(kModeSentences.begin(), kModeSentences.end(),
                           [&](const ModeSentence& m) { return m.mode == pcas_sdk; });
    const ModeSentence& m = it != kModeSentences.end() ? *it : kBothSystems;
    std::uint32_t written = 0;
    write_receiver(m.sentence.data(), static_cast<int>(m.sentence.size()), &written);
    os::sleep_ms(kSaveDelayMs);
    write_receiver(kSaveSentence, m.save_bytes, &written);
}

// update_mode's work; the caller holds the mode lock.
int apply_stored_mode() noexcept {
    g_state.effective.store(read_key(kPcasQuery));
    std::int32_t pcas_sdk = read_key(kPcasSdkQuery);
    log_write(kLogSys, texts::kSdkMode, pcas_sdk);
    if (pcas_sdk != 0) g_state.effective.store(pcas_sdk);
    log_write(kLogSys, texts::kModeApplied, pcas_sdk, g_state.effective.load());
    command_receiver(pcas_sdk);
    os::sleep_ms(kSettleDelayMs);
    // No position measured under the old mode is reported: the record is zeroed now, and once more
    // when the parser discards the next batch, which may still hold sentences from before.
    reset_record();
    int status = remove_gps_files();
    arm_clear();
    return status;
}

// The port layer's error line, printed before an error return.
std::uint32_t fail(int line, std::uint32_t code) noexcept { return com::port_error(texts::kGpsWrite, line, code); }

}  // namespace

int update_mode() noexcept {
    std::lock_guard lock(g_state.change);
    return apply_stored_mode();
}

int set_sdk_mode(std::uint32_t mode) noexcept {
    std::lock_guard lock(g_state.change);
    const auto m = static_cast<std::int32_t>(mode);
    std::int32_t pcas = read_key(kPcasQuery);
    std::int32_t pcas_sdk = read_key(kPcasSdkQuery);
    if (m == 0) {
        // Off: the receiver and the record are left as they are.
        if (pcas_sdk != kPositionOff)
            for (const char* cmd : kSwitchOff) os::run(cmd);
        log_write(kLogSys, texts::kSdkModeOff, kPositionOff);
        g_state.effective.store(kPositionOff);
        return 0;
    }
    g_state.effective.store(m);
    log_write(kLogSys, texts::kSdkModeSet, pcas);
    if (pcas != m) store_mode(m);  // only pcas is compared: a differing pcas_sdk alone is kept
    return apply_stored_mode();
}

int set_web_mode(std::uint32_t mode) noexcept {
    std::lock_guard lock(g_state.change);
    const auto m = static_cast<std::int32_t>(mode);
    std::int32_t pcas = read_key(kPcasQuery);
    log_write(kLogSys, texts::kWebModeSet, pcas);
    if (pcas != m) store_mode(m);
    return apply_stored_mode();
}

int position_mode() noexcept {
    std::int32_t m = g_state.effective.load();
    return m == kPositionOff ? 0 : m;
}

int default_mode() noexcept {
    std::lock_guard lock(g_state.change);
    if (os::exists(kMarkerFile)) return 1;
    os::Command marker;
    if (marker.format(kCommandBuffer, "echo 1 >%s", os::Path(kMarkerFile))) os::run(marker.c_str());
    return os::run("uci set vqm.sys.pcas=2;uci commit");
}

// Goes through the port layer's write (under the port's write lock), which keeps writing until
// every byte is out; the trace therefore shows one line per sentence. A failed write prints the
// port layer's own error line first, then this function's.
std::uint32_t write_receiver(const char* data, int len, std::uint32_t* written) noexcept {
    using com::kPortGps;
    if (written) *written = 0;
    if (len < 0 || (!data && len > 0)) return fail(__LINE__, BSP_COM_ERR_PARAM);
    int fd = com::port_fd(kPortGps);
    if (fd < 0) return fail(__LINE__, BSP_COM_ERR_DEVICE);
    std::uint32_t count = 0;
    std::uint32_t r =
        com::write_port(kPortGps, reinterpret_cast<const std::uint8_t*>(data), static_cast<std::uint32_t>(len), &count);
    // The text is not necessarily terminated: it is printed up to len characters or a zero byte.
    log_write(kLogSys, texts::kReceiverWrite, r == BSP_COM_OK ? static_cast<int>(count) : -1, fd, len,
              data ? data : "", len);
    if (r == BSP_COM_ERR_DEVICE) return fail(__LINE__, BSP_COM_ERR_DEVICE);  // closed meanwhile
    if (r != BSP_COM_OK) return fail(__LINE__, BSP_COM_ERR_IO);
    if (written) *written = count;
    return BSP_COM_OK;
}

}  // namespace bsp::gps
