// The exported names of the wireless modem: the AT channel and its tokenizer, module detection and
// the shell runners, the modem queries, the LTE supervisor, the Dial API and the modem record; the
// record NTU and the modem table.
#include <cstddef>
#include <cstdint>

#include "lte/lte.h"
#include "os/os.h"
#include "sdk_bsp.h"

SDK_BSP_API NTU_T NTU{};
// The record is part of the interface: hosts read it, and may set its request flags, by offset.
static_assert(sizeof(NTU_T) == 572);
static_assert(offsetof(NTU_T, pppdend) == 4 && offsetof(NTU_T, softreboot) == 8 &&
              offsetof(NTU_T, hardreboot) == 12 && offsetof(NTU_T, usbstate) == 16 &&
              offsetof(NTU_T, attimeouts) == 32 && offsetof(NTU_T, lteip) == 52 && offsetof(NTU_T, lteip1) == 72 &&
              offsetof(NTU_T, dialstarted) == 92 && offsetof(NTU_T, mode_id) == 100);
static_assert(offsetof(NTU_T, atdev) == 104 && offsetof(NTU_T, csq) == 124 && offsetof(NTU_T, imsi) == 144 &&
              offsetof(NTU_T, imei) == 164 && offsetof(NTU_T, netstate) == 184 &&
              offsetof(NTU_T, reserved5) == 264 && offsetof(NTU_T, reserved6) == 324 &&
              offsetof(NTU_T, reserved7) == 444 && offsetof(NTU_T, reserved8) == 448);
static_assert(offsetof(NTU_T, longitude) == 508 && offsetof(NTU_T, latitude) == 528 && offsetof(NTU_T, high) == 548 &&
              offsetof(NTU_T, cardstat) == 568);

// The modem table: model, USB id as lsusb prints it, data (PPP) device as uci is given it, AT
// device. The module number is the row, from 1.
extern "C" {
SDK_BSP_API const char* ltemm[SDK_BSP_LTEMM_ROWS][SDK_BSP_LTEMM_FIELDS] = {
    {"ZTE3630", "19d2:1509", "ttyUSB2", "/dev/ttyUSB1"},
    {"N720CA04", "2949:8243", "ttyUSB1", "/dev/ttyUSB3"},
    {"gprs", "0001:0001", "ttyS6", "/dev/ttyS6"},
    {"ZTE3630c3b", "19d2:1476", "ttyUSB2", "/dev/ttyUSB1"},
    {"N720CA05", "05c6:8241", "ttyUSB2", "/dev/ttyUSB0"},
    {"N720CA61s2", "2949:8247", "ttyUSB0", "/dev/ttyUSB2"},
    {"ZTE3630", "19d2:1432", "ttyUSB2", "/dev/ttyUSB1"},
    {"ZTE3630tty_GW", "0001:0001", "ttyS6", "/dev/ttyS6"},
    {"VQM4411", "1d9f:9c05", "ttyUSB1", "/dev/ttyUSB3"},
    {"EC20", "2c7c:0125", "/dev/ttyUSB2", "/dev/ttyUSB3"},
    {"EC200T", "2c7c:6026", "/dev/ttyUSB3", "/dev/ttyUSB3"},
    {"EC200S", "2c7c:6002", "/dev/ttyUSB2", "/dev/ttyUSB1"},
    {"M620", "2c7c:6005", "/dev/ttyUSB3", "/dev/ttyUSB3"},
    {"M620A", "1286:4e3c", "/dev/ttyUSB4", "/dev/ttyUSB3"},
    {"M820A", "05c6:9025", "/dev/ttyUSB2", "/dev/ttyUSB3"},
};
SDK_BSP_API int ltemnum = SDK_BSP_LTEMM_ROWS;
}

namespace lte = bsp::lte;

extern "C" {

// ---- AT command channel ----

SDK_BSP_API int at_port_open(const char* path) noexcept { return lte::open_at_port(path); }
SDK_BSP_API void at_port_close(void) noexcept { lte::close_at_port(); }
SDK_BSP_API int writeline(const char* line) noexcept { return lte::write_line(line); }
SDK_BSP_API char* readline(int maxpolls) noexcept { return lte::read_line(maxpolls); }
SDK_BSP_API char* findNextEOL(char* cur) noexcept { return lte::next_eol(cur); }
SDK_BSP_API int write_wait_read(const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    return lte::exchange(lte::Variant::kRead, cmd, prefix, dst, maxlines, seconds);
}
SDK_BSP_API int write_wait_read1(const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    return lte::exchange(lte::Variant::kRead1, cmd, prefix, dst, maxlines, seconds);
}
SDK_BSP_API int write_wait_readcimi(const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    return lte::exchange(lte::Variant::kReadCimi, cmd, prefix, dst, maxlines, seconds);
}
SDK_BSP_API int at_tok_start(char** cur) noexcept { return lte::tok_start(cur); }
SDK_BSP_API void skipWhiteSpace(char** cur) noexcept { lte::skip_white_space(cur); }
SDK_BSP_API void skipNextComma(char** cur) noexcept { lte::skip_next_comma(cur); }
SDK_BSP_API char* nextTok(char** cur) noexcept { return lte::next_tok(cur); }
SDK_BSP_API int at_tok_nextint_base(char** cur, int* out, int base, int is_unsigned) noexcept {
    return lte::tok_next_int_base(cur, out, base, is_unsigned);
}
SDK_BSP_API int at_tok_nextint(char** cur, int* out) noexcept { return lte::tok_next_int(cur, out); }
SDK_BSP_API int at_tok_nexthexint(char** cur, int* out) noexcept { return lte::tok_next_hex_int(cur, out); }
SDK_BSP_API int strStartsWith(const char* line, const char* prefix) noexcept { return lte::starts_with(line, prefix); }
SDK_BSP_API char* to_upper(char* s) noexcept { return lte::upper_case(s); }

// ---- modem detection and network configuration ----

SDK_BSP_API char* cmdread(const char* command, char* buf) noexcept { return lte::read_command(command, buf); }
SDK_BSP_API char* uci_read(const char* command, char* dst) noexcept { return lte::uci_output(command, dst, false); }
SDK_BSP_API char* uciread(const char* command, char* dst) noexcept { return lte::uci_output(command, dst, true); }
SDK_BSP_API void mysleep(unsigned int seconds) noexcept { bsp::os::sleep_seconds(seconds); }
SDK_BSP_API int readusb(void) noexcept { return lte::detect_module(); }
SDK_BSP_API int readttyUSB(void) noexcept { return lte::usb_ttys_present(); }
SDK_BSP_API int read_ethip(const char* ifname, char* out) noexcept { return lte::interface_address(ifname, out); }
SDK_BSP_API int read_ethip1(const char* ifname, char* out) noexcept { return lte::listed_address(ifname, out); }

// ---- LTE supervisor ----

SDK_BSP_API int FSU_Lte_THREAD_START(void) noexcept { return lte::start_supervisor(); }
SDK_BSP_API void* lte_main(void* arg) noexcept { return lte::supervisor_main(arg); }
SDK_BSP_API void readatdata(void) noexcept { lte::query_cycle(); }

// ---- Dial API ----

SDK_BSP_API int DialInit(void) noexcept { return lte::dial_init(); }
SDK_BSP_API int DialTerminate(void) noexcept { return lte::dial_terminate(); }
SDK_BSP_API int DialDial(const char* first, const char* second) noexcept { return lte::dial(first, second); }
SDK_BSP_API int DialIsOnline(void) noexcept { return lte::dial_is_online(); }
SDK_BSP_API int DialGetStaticInfo(char* out, int /*size: not used*/) noexcept { return lte::static_info(out); }
SDK_BSP_API int DialGetDynamicInfo(char* out, int /*size: not used*/) noexcept { return lte::dynamic_info(out); }
SDK_BSP_API int DialSoftReboot(void) noexcept { return lte::soft_reboot(); }
SDK_BSP_API int DialHardReboot(void) noexcept { return lte::hard_reboot(); }

// ---- modem queries and record ----

SDK_BSP_API int send_ate(const char* atdev) noexcept { return lte::echo_off(atdev); }
SDK_BSP_API int send_ath(const char* atdev) noexcept { return lte::hang_up(atdev); }
SDK_BSP_API int send_DialSoftReboot(const char* atdev) noexcept { return lte::restart_module(atdev); }
SDK_BSP_API int readcsq(const char* atdev) noexcept { return lte::read_signal(atdev); }
SDK_BSP_API int read_sysinfo(const char* atdev) noexcept { return lte::read_registration(atdev); }
SDK_BSP_API void read_MINI1(const char* atdev) noexcept { lte::read_imsi(atdev); }
SDK_BSP_API int readIMEI(const char* atdev) noexcept { return lte::read_imei(atdev); }
SDK_BSP_API void read_MINI(const char* atdev) noexcept { lte::read_imsi_prefixed(atdev); }
SDK_BSP_API void readgps(const char* atdev) noexcept { lte::read_position(atdev); }
SDK_BSP_API int readCSQState(char* line) noexcept { return lte::csq_strength(line); }
SDK_BSP_API int ParseRegistrationState_GT9615(char* line) noexcept { return lte::registration_mode(line); }
SDK_BSP_API int64_t hex2dec(const char* text) noexcept { return lte::hex_to_int64(text); }
SDK_BSP_API int c2i(char c) noexcept { return lte::hex_char_value(c); }
SDK_BSP_API int hexstrtolong(const char* text, int n) noexcept { return lte::hex_prefix_value(text, n); }
SDK_BSP_API void gpsaddpoint(char* text, int n) noexcept { lte::insert_point(text, n); }
SDK_BSP_API void data_init(void) noexcept { lte::clear_record(); }

}  // extern "C"
