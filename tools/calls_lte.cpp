// sdk-shell: the wireless modem: the modem record, the AT command channel, the modem queries,
// detection, the LTE supervisor and the Dial API.
//
//   at_port_open "/dev/ttyUSB3"              writeline "AT+CSQ"           readline 10
//   write_wait_read "AT+CSQ" "+CSQ" buf:1024 2 1                          findNextEOL "OK\r\n"  (-> 2)
//   readcsq "/dev/ttyUSB3"                   readIMEI "/dev/ttyUSB3"      hexstrtolong "0010F0A8" 8
//   gpsaddpoint "1139464" 4 buf:20           c2i "a"                      hex2dec "1A"
//
// The tokenizer works on one cursor the shell keeps, set with at_tok_text:
//   at_tok_text "+CSQ: 21,99"   at_tok_start   at_tok_nextint out:int   nextTok   at_tok_rest
// The record NTU is read and set by field name (texts are reported quoted, integers as numbers):
//   NTU "csq"                   NTU_set "imsi" "460023210226023"          NTU_set "pppdstart" 1
// Detection, the supervisor and the Dial API:
//   readusb                     uciread "uci get network.ppp0.device" buf:257    ltemm 10 1  (-> "2c7c:0125")
//   FSU_Lte_THREAD_START        DialDial "" ""      DialIsOnline      DialGetStaticInfo buf:256 256
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

// The text of a string argument, as the library may cut or upper-case it in place: the shell's own
// copy of the line's string (null stays null).
char* text(const Call& c, std::size_t k) {
    auto* s = std::get_if<std::string>(&c.args()[k]);
    return s ? s->data() : nullptr;
}

std::size_t out_size(const Call& c, std::size_t k) {
    auto* b = std::get_if<OutBuffer>(&c.args()[k]);
    return b ? b->bytes.size() : 0;
}

// An exchange into buf:N: the library writes up to 1024 bytes, so smaller buffers are refused.
template <int (*F)(const char*, char*, char*, int, int)>
Result exchange(const Call& c) {
    if (c.b(2) && out_size(c, 2) < 1024) return -999;
    return F(c.s(0), text(c, 1), c.b(2), c.i(3), c.i(4));
}

// The tokenizer's text and cursor.
std::array<char, 4096> g_tok_text{};
char* g_cursor = nullptr;

Result tok_text(const Call& c) {
    g_tok_text.fill('\0');
    g_cursor = nullptr;
    if (const char* s = c.s(0)) {
        std::strncpy(g_tok_text.data(), s, g_tok_text.size() - 1);
        g_cursor = g_tok_text.data();
    }
    return kVoid;
}

// The record's fields by name.
using Text = char[SDK_BSP_NTU_TEXT_SIZE];
struct TextField {
    std::string_view name;
    Text NTU_T::*field;
};
struct WordField {
    std::string_view name;
    int32_t NTU_T::*field;
};
constexpr TextField kTexts[] = {
    {"lteip", &NTU_T::lteip}, {"lteip1", &NTU_T::lteip1},       {"atdev", &NTU_T::atdev},
    {"csq", &NTU_T::csq},     {"imsi", &NTU_T::imsi},           {"imei", &NTU_T::imei},
    {"netstate", &NTU_T::netstate}, {"longitude", &NTU_T::longitude}, {"latitude", &NTU_T::latitude},
    {"high", &NTU_T::high},
};
constexpr WordField kWords[] = {
    {"pppdstart", &NTU_T::pppdstart},   {"pppdend", &NTU_T::pppdend}, {"softreboot", &NTU_T::softreboot},
    {"hardreboot", &NTU_T::hardreboot}, {"usbstate", &NTU_T::usbstate}, {"attimeouts", &NTU_T::attimeouts},
    {"dialstarted", &NTU_T::dialstarted}, {"mode_id", &NTU_T::mode_id}, {"cardstat", &NTU_T::cardstat},
};

template <typename T, std::size_t N>
const T* find(const T (&fields)[N], const char* name) {
    if (!name) return nullptr;
    auto it = std::find_if(std::begin(fields), std::end(fields), [&](const T& f) { return f.name == name; });
    return it == std::end(fields) ? nullptr : it;
}

Result ntu_get(const Call& c) {
    if (auto* t = find(kTexts, c.s(0))) {
        const Text& field = NTU.*t->field;
        // strnlen: a text the host wrote may lack its terminator
        return returns_text(c, std::string(field, strnlen(field, sizeof field)).c_str());
    }
    if (auto* w = find(kWords, c.s(0))) return NTU.*w->field;
    return -999;
}

Result ntu_set(const Call& c) {
    auto& value = c.args()[1];
    if (auto* t = find(kTexts, c.s(0)); t && std::holds_alternative<std::string>(value)) {
        Text& field = NTU.*t->field;
        std::memset(field, 0, sizeof field);
        std::strncpy(field, std::get<std::string>(value).c_str(), sizeof field - 1);
        return 0;
    }
    if (auto* w = find(kWords, c.s(0)); w && std::holds_alternative<long long>(value)) {
        NTU.*w->field = c.i(1);
        return 0;
    }
    return -999;
}

// A runner into buf:N (or null): smaller buffers than the library writes are refused.
template <char* (*F)(const char*, char*), std::size_t kSize>
Result runner(const Call& c) {
    if (c.b(1) && out_size(c, 1) < kSize) return -999;
    return returns_text(c, F(c.s(0), c.b(1)));
}

// An address reader into buf:20 (or null).
template <int (*F)(const char*, char*)>
Result address(const Call& c) {
    if (c.b(1) && out_size(c, 1) < SDK_BSP_NTU_TEXT_SIZE) return -999;
    return F(c.s(0), c.b(1));
}

// A report into buf:N (or null): smaller buffers than its longest text are refused.
template <int (*F)(char*, int), std::size_t kLongest>
Result report(const Call& c) {
    if (c.b(0) && out_size(c, 0) <= kLongest) return -999;
    return F(c.b(0), c.i(1));
}

const Registration lte_calls{
    // modem record
    {"data_init", {"", [](const Call&) { return none(data_init); }}},
    {"NTU", {"s", ntu_get}},
    {"NTU_set", {"sv", ntu_set}},
    // at command channel
    {"at_port_open", {"s", [](const Call& c) -> Result { return at_port_open(c.s(0)); }}},
    {"at_port_close", {"", [](const Call&) { return none(at_port_close); }}},
    {"writeline", {"s", [](const Call& c) -> Result { return writeline(c.s(0)); }}},
    {"readline", {"i", [](const Call& c) -> Result { return returns_text(c, readline(c.i(0))); }}},
    // findNextEOL "TEXT": the offset of the line end found, -1 for none
    {"findNextEOL", {"s", [](const Call& c) -> Result {
         char* cur = text(c, 0);
         char* eol = findNextEOL(cur);
         return eol ? eol - cur : -1;
     }}},
    {"write_wait_read", {"ssbii", exchange<write_wait_read>}},
    {"write_wait_read1", {"ssbii", exchange<write_wait_read1>}},
    {"write_wait_readcimi", {"ssbii", exchange<write_wait_readcimi>}},
    // the tokenizer, on the shell's cursor
    {"at_tok_text", {"s", tok_text}},
    {"at_tok_rest", {"", [](const Call& c) { return returns_text(c, g_cursor); }}},
    {"at_tok_start", {"", [](const Call&) -> Result { return at_tok_start(&g_cursor); }}},
    {"skipWhiteSpace", {"", [](const Call&) -> Result {
         skipWhiteSpace(&g_cursor);
         return kVoid;
     }}},
    {"skipNextComma", {"", [](const Call&) -> Result {
         skipNextComma(&g_cursor);
         return kVoid;
     }}},
    {"nextTok", {"", [](const Call& c) { return returns_text(c, nextTok(&g_cursor)); }}},
    {"at_tok_nextint_base",
     {"pii", [](const Call& c) -> Result { return at_tok_nextint_base(&g_cursor, c.p(0), c.i(1), c.i(2)); }}},
    {"at_tok_nextint", {"p", [](const Call& c) -> Result { return at_tok_nextint(&g_cursor, c.p(0)); }}},
    {"at_tok_nexthexint", {"p", [](const Call& c) -> Result { return at_tok_nexthexint(&g_cursor, c.p(0)); }}},
    {"strStartsWith", {"ss", [](const Call& c) -> Result { return strStartsWith(c.s(0), c.s(1)); }}},
    {"to_upper", {"s", [](const Call& c) { return returns_text(c, to_upper(text(c, 0))); }}},
    // modem queries
    {"send_ate", {"s", [](const Call& c) -> Result { return send_ate(c.s(0)); }}},
    {"readcsq", {"s", [](const Call& c) -> Result { return readcsq(c.s(0)); }}},
    {"read_sysinfo", {"s", [](const Call& c) -> Result { return read_sysinfo(c.s(0)); }}},
    {"read_MINI1", {"s", [](const Call& c) -> Result {
         read_MINI1(c.s(0));
         return kVoid;
     }}},
    {"readIMEI", {"s", [](const Call& c) -> Result { return readIMEI(c.s(0)); }}},
    {"send_ath", {"s", [](const Call& c) -> Result { return send_ath(c.s(0)); }}},
    {"send_DialSoftReboot", {"s", [](const Call& c) -> Result { return send_DialSoftReboot(c.s(0)); }}},
    {"read_MINI", {"s", [](const Call& c) -> Result {
         read_MINI(c.s(0));
         return kVoid;
     }}},
    {"readgps", {"s", [](const Call& c) -> Result {
         readgps(c.s(0));
         return kVoid;
     }}},
    {"readCSQState", {"s", [](const Call& c) -> Result { return readCSQState(text(c, 0)); }}},
    {"ParseRegistrationState_GT9615",
     {"s", [](const Call& c) -> Result { return ParseRegistrationState_GT9615(text(c, 0)); }}},
    {"hex2dec", {"s", [](const Call& c) -> Result { return hex2dec(c.s(0)); }}},
    // c2i "a": the string's first character (its terminator for "")
    {"c2i", {"s", [](const Call& c) -> Result { return c2i(c.s(0) ? c.s(0)[0] : '\0'); }}},
    {"hexstrtolong", {"si", [](const Call& c) -> Result { return hexstrtolong(c.s(0), c.i(1)); }}},
    // detection and network configuration
    {"cmdread", {"sb", runner<cmdread, 1024>}},
    {"uci_read", {"sb", runner<uci_read, 257>}},
    {"uciread", {"sb", runner<uciread, 257>}},
    {"mysleep", {"i", [](const Call& c) -> Result {
         mysleep(static_cast<unsigned>(c.i(0)));
         return kVoid;
     }}},
    {"readusb", {"", [](const Call&) -> Result { return readusb(); }}},
    {"readttyUSB", {"", [](const Call&) -> Result { return readttyUSB(); }}},
    {"read_ethip", {"sb", address<read_ethip>}},
    {"read_ethip1", {"sb", address<read_ethip1>}},
    // ltemm ROW FIELD: the table's text, rows from 1 as the module numbers, fields from 0
    {"ltemm", {"ii", [](const Call& c) -> Result {
         const int row = c.i(0), f = c.i(1);
         if (row < 1 || row > SDK_BSP_LTEMM_ROWS || f < 0 || f >= SDK_BSP_LTEMM_FIELDS) return -999;
         return returns_text(c, ltemm[row - 1][f]);
     }}},
    {"ltemnum", {"", [](const Call&) -> Result { return ltemnum; }}},
    // lte supervisor; lte_main is started in a thread of its own and left running
    {"FSU_Lte_THREAD_START", {"", [](const Call&) -> Result { return FSU_Lte_THREAD_START(); }}},
    {"lte_main", {"", [](const Call&) -> Result {
         pthread_t t;
         if (pthread_create(&t, nullptr, lte_main, nullptr) != 0) return -1;
         pthread_detach(t);
         return kVoid;
     }}},
    {"readatdata", {"", [](const Call&) { return none(readatdata); }}},
    // dial api
    {"DialInit", {"", [](const Call&) -> Result { return DialInit(); }}},
    {"DialTerminate", {"", [](const Call&) -> Result { return DialTerminate(); }}},
    {"DialDial", {"ss", [](const Call& c) -> Result { return DialDial(c.s(0), c.s(1)); }}},
    {"DialIsOnline", {"", [](const Call&) -> Result { return DialIsOnline(); }}},
    {"DialGetStaticInfo", {"bi", report<DialGetStaticInfo, 145>}},
    {"DialGetDynamicInfo", {"bi", report<DialGetDynamicInfo, 136>}},
    {"DialSoftReboot", {"", [](const Call&) -> Result { return DialSoftReboot(); }}},
    {"DialHardReboot", {"", [](const Call&) -> Result { return DialHardReboot(); }}},
    // gpsaddpoint "TEXT" N buf:SIZE: the text is copied into the buffer, which needs room for the
    // point, and changed there
    {"gpsaddpoint", {"sib", [](const Call& c) -> Result {
         const char* in = c.s(0);
         char* out = c.b(2);
         if (!in || !out || std::strlen(in) + 2 > out_size(c, 2)) return -999;
         std::strcpy(out, in);
         gpsaddpoint(out, c.i(1));
         return kVoid;
     }}},
};

}  // namespace
}  // namespace shell
