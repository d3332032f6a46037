// The wireless modem: the modem record's keeper, the AT channel and its tokenizer, module
// detection, the modem queries and their answer readers, the LTE supervisor and the Dial API. The
// exported modem calls are forwarders to these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::lte {

// ---- the modem record NTU (lte/modem_record.cpp), its only writer ----------------------------
//
// Its texts are written and copied under one lock (see the lock order in the README's Layout);
// its integers are single words, read and written atomically, never under a lock.

constexpr std::size_t kTextSize = SDK_BSP_NTU_TEXT_SIZE;  // 19 characters and the terminator
using Text = std::array<char, kTextSize>;

// The record's texts and integers.
enum class Field { kLteip, kLteip1, kAtdev, kCsq, kNetstate, kImsi, kImei, kLongitude, kLatitude, kHigh };
enum class Word { kPppdstart, kPppdend, kSoftreboot, kHardreboot, kUsbstate, kDialstarted, kModeId, kCardstat,
                  kAttimeouts, kReserved3 };

// Writes text into a field of size bytes (the record's or a caller's): at most size - 1 characters
// (the rest of an over-long text is cut), the remaining bytes zero. No lock: the caller's.
void put_text(char* field, std::size_t size, std::string_view text) noexcept;
// A text, copied under the lock and terminated.
Text text(Field f) noexcept;
// The texts the reports and the query cycle's trace show, copied in one piece.
struct Texts {
    Text imsi, imei, netstate, csq, lteip;
};
Texts record_texts() noexcept;
// Replaces a text: at most 19 characters of text (the rest of an over-long text is cut), the
// remaining bytes zero.
void set_text(Field f, std::string_view text) noexcept;
// The position texts, replaced in one piece.
void set_position(const Text& lon, const Text& lat, const Text& high) noexcept;
// Copies a text that may be one of the record's (a host passes NTU.atdev) under the lock into out
// (size bytes, cut to size - 1 characters and zero-terminated): the characters copied.
std::size_t copy_text(char* out, std::size_t size, const char* text, std::size_t text_size) noexcept;

std::int32_t word(Word w) noexcept;
void set_word(Word w, std::int32_t value) noexcept;
// The old value.
std::int32_t exchange_word(Word w, std::int32_t value) noexcept;
// Claims a request flag: true, and the flag cleared, when it was 1.
bool take_request(Word flag) noexcept;
// One more exchange ended in a time-out.
void count_timeout() noexcept;

// The supervisor's start: the request flags, the link state and its texts cleared (the IMSI, the
// IMEI, the time-out count and two reserved areas kept), with its print.
void clear_record() noexcept;

// An address of "ppp0" this long: the link is up.
constexpr std::size_t kOnlineMin = 6;
bool link_up(const Text& address) noexcept;

// ---- the AT channel ------------------------------------------------------------------------

constexpr int kLineCapacity = 8192;      // the line logic's part of the receive buffer
constexpr std::size_t kAtBufferSize = 9216;
constexpr std::size_t kAnswerSize = 1024;  // out_put, the destination of every exchange
constexpr int kPollMs = 100;
constexpr long kTickMs = 2;  // ticksleep's step
constexpr int kPollsPerSecond = 1000 / kPollMs;
constexpr int kLogNet = 3;  // every line of the subsystem is logged at the modem's level

// Return codes of the exchanges.
enum ExchangeResult : int { kMatched = 0, kWriteFailed = -1, kTimedOut = -2, kFailed = -3 };

// The three exchange routines differ in what they log and keep and in what ends them.
enum class Variant { kRead, kRead1, kReadCimi };

// The shared answer buffer the queries hand to the exchanges (kAnswerSize bytes).
char* out_put() noexcept;
// The open AT port, -1 when none.
int ltefd() noexcept;
// Bytes read from the port since the process started.
std::uint32_t read_count() noexcept;

// Sleeps ms milliseconds in steps of 2 ms on the library's clock, ending early when the wall
// clock went back.
void ticksleep(int ms) noexcept;

// Held by a query for its whole conversation (open, exchange, close): queries from several threads
// run one after the other.
std::mutex& channel_lock() noexcept;

// The three exchanges in one: cmd ("" sends nothing), the expected prefix (upper-cased in place),
// the destination (kAnswerSize bytes), the lines or empty waits tolerated, the wait per line.
// Returns an ExchangeResult; kWriteFailed also for a null argument.
int exchange(Variant v, const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept;

// Appends text to the zero-terminated dst (kAnswerSize bytes), cut so that the whole stays within
// kAnswerSize - 1 characters. Returns false when something was cut.
bool append_answer(char* dst, const char* text) noexcept;

// The port: 0 opened (any earlier one closed), -1 not.
int open_at_port(const char* path) noexcept;
void close_at_port() noexcept;
// Writes the line and a carriage return: 0, or -1 (no port, null line, failed write).
int write_line(const char* line) noexcept;
// The next line from the port, waiting at most maxpolls polls of 100 ms; null when none came.
char* read_line(int maxpolls) noexcept;
// The line end at or after cur (the prompt "> " counts as a line), null when none.
char* next_eol(char* cur) noexcept;

// ---- the tokenizer for "name: value,value" answers: 0 (or the token), -1 (or null) on failure ----

int tok_start(char** cur) noexcept;
void skip_white_space(char** cur) noexcept;
void skip_next_comma(char** cur) noexcept;
char* next_tok(char** cur) noexcept;
int tok_next_int_base(char** cur, int* out, int base, int is_unsigned) noexcept;
int tok_next_int(char** cur, int* out) noexcept;
int tok_next_hex_int(char** cur, int* out) noexcept;
// 1 when the line begins with the prefix, else 0 (also for null).
int starts_with(const char* line, const char* prefix) noexcept;
// Upper-cases the text in place (only lower-case letters are written); returns it.
char* upper_case(char* s) noexcept;

// ---- detection and the shell ---------------------------------------------------------------

constexpr int kModemRows = SDK_BSP_LTEMM_ROWS;
constexpr std::size_t kCmdreadSize = 1024;  // what cmdread's caller provides: the ifconfig text


// A command's output into buf (kCmdreadSize bytes): buf, or "" when it could not be started or
// printed uci's "Entry not found".
char* read_command(const char* command, char* buf) noexcept;
// A command's first 256 bytes of output into dst (257 bytes; null: only run), trailing blanks and
// line ends stripped or not: dst; null when it could not be started or dst is null; a text of the
// library's own when uci's "Entry not found" came.
char* uci_output(const char* command, char* dst, bool strip) noexcept;
// Finds the first module of the modem table in the lsusb listing and sets it up when it is new: 1
// found, 0 not.
int detect_module() noexcept;
// 1 when USB serial devices are there (or usbstate says so), else 0.
int usb_ttys_present() noexcept;
// The IPv4 address of an interface into out (20 bytes), from the kernel or else from ifconfig:
// 1 found, else 0.
int interface_address(const char* ifname, char* out) noexcept;
// The same from ifconfig's listing only: 1 found, else -1.
int listed_address(const char* ifname, char* out) noexcept;

// ---- the modem queries: each holds the channel from opening the AT device to closing it ----

int echo_off(const char* atdev) noexcept;
int hang_up(const char* atdev) noexcept;
int restart_module(const char* atdev) noexcept;
int read_signal(const char* atdev) noexcept;
int read_registration(const char* atdev) noexcept;
void read_imsi(const char* atdev) noexcept;
void read_imsi_prefixed(const char* atdev) noexcept;
int read_imei(const char* atdev) noexcept;
void read_position(const char* atdev) noexcept;
// The registration answer's reading, kept in the record: the system mode, -1 when not in service.
int registration_mode(char* line) noexcept;

// ---- the answer readers: pure (the line is cut up in place by the tokenizer) ----

// "+CSQ: <rssi>,<ber>": the strength indicator, -999 for no usable answer.
int csq_strength(char* line) noexcept;
// The signal text for a strength indicator: dBm by band, "-107" when unknown or too weak.
Text signal_text(int rssi) noexcept;
// "^SYSINFO: <service>,<domain>,<roaming>,<mode>,<sim>": the system mode (-1 when not in service or
// no usable answer) and the text for netstate (null: netstate stays as it is).
struct Registration {
    int mode = -1;
    const char* netstate = nullptr;
};
Registration read_registration_answer(char* line) noexcept;
// What "AT+CIMI" collected gives as the IMSI: after an echo, up to "OK", when longer than 10
// characters; empty without an "OK".
std::string_view imsi_of(std::string_view collected) noexcept;
// The same from a "+CIMI: " answer: what follows the prefix, empty when the answer is no such one.
std::string_view prefixed_imsi_of(std::string_view answer) noexcept;
// What the collected "AT+CGSN" answer gives: the first of its forms whose markers occur decides.
struct ImeiAnswer {
    enum class Print : std::uint8_t { kNone, kQuotedBare, kQuotedSpaced, kImeiOnly };
    bool found = false;   // a form applies: the record's IMEI becomes `imei` (empty when not stored)
    bool stored = false;  // the form gave a good IMEI
    Text imei{};
    Print print = Print::kNone;  // the form's prints
    std::string_view shown;      // from the form's marker on, as its print shows it
    std::size_t candidate = 0;   // the length of the text the form took
};
ImeiAnswer read_imei_answer(std::string_view collected) noexcept;
// The position query's answer (power-protocol INFO from offset 15: longitude, latitude, height in
// hexadecimal): the three texts, read false for an answer shorter than 17 characters.
struct PositionAnswer {
    bool read = false;
    Text lon{}, lat{}, high{};
};
PositionAnswer read_position_answer(std::string_view line) noexcept;
// The answers' numbers.
std::int64_t hex_to_int64(const char* text) noexcept;
int hex_char_value(char c) noexcept;
int hex_prefix_value(const char* text, int n) noexcept;
void insert_point(char* text, int n) noexcept;

// ---- the supervisor ------------------------------------------------------------------------

// One pass of the supervisor's loop, its 1 s pause aside: detection and the query cycle on even
// passes, then the requests of the record. `count` is the pass counter, from 0.
void supervisor_pass(int count) noexcept;
// Starts the supervisor once per process and returns when its start has cleared the record: 0,
// pthread_create's error at once, or -1 on every later call (after that clearing, too).
int start_supervisor() noexcept;
// The supervisor's thread routine; never returns.
void* supervisor_main(void*) noexcept;
// One query cycle: echo off, signal, registration, and the IMSI and IMEI while they are unknown.
void query_cycle() noexcept;

// ---- the Dial API ----

int dial_init() noexcept;
int dial_terminate() noexcept;
int dial(const char* first, const char* second) noexcept;
int dial_is_online() noexcept;
int static_info(char* out) noexcept;
int dynamic_info(char* out) noexcept;
int soft_reboot() noexcept;
int hard_reboot() noexcept;

}  // namespace bsp::lte
