// The wireless modem: the modem record's lock and accessors, the AT channel and its tokenizer,
// module detection, the modem queries, the LTE supervisor and the Dial API. The exported modem
// calls are forwarders to these.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::lte {

// ---- the modem record ----------------------------------------------------------------------
//
// Lock order, for the whole subsystem: the channel lock (a query's whole conversation) may be held
// while logging or taking the text lock; the text lock is held only to copy a text in or out, never
// while logging, printing, sleeping or taking another lock. The request flags and the other
// integers are single words accessed through word(), never under a lock.

constexpr std::size_t kTextSize = SDK_BSP_NTU_TEXT_SIZE;  // 19 characters and the terminator

// The lock under which every text of NTU is written and copied out.
std::mutex& text_lock() noexcept;

// Runs fn(NTU) under the text lock: for a reader that copies several texts in one piece.
template <typename F>
void with_record(F&& fn) noexcept {
    std::lock_guard lock(text_lock());
    fn(NTU);
}

// One integer of the record, read and written as a single word (the host may touch it directly).
inline std::atomic_ref<std::int32_t> word(std::int32_t NTU_T::*field) noexcept { return std::atomic_ref(NTU.*field); }

// Replaces a text of the record under the lock: at most size - 1 characters of text (the rest of
// an over-long text is cut), the remaining bytes zero.
void store_text(char* field, std::size_t size, std::string_view text) noexcept;
template <std::size_t N>
void store_text(char (&field)[N], std::string_view text) noexcept {
    store_text(field, N, text);
}
// Copies a text of the record out under the lock into out (size bytes, cut to size - 1 characters
// and zero-terminated). Returns the characters copied.
std::size_t copy_text(char* out, std::size_t size, const char* field, std::size_t field_size) noexcept;
template <std::size_t N>
std::size_t copy_text(char* out, std::size_t size, const char (&field)[N]) noexcept {
    return copy_text(out, size, field, N);
}

// The supervisor's start: the request flags, the link state and its texts cleared (the IMSI, the
// IMEI, the time-out count and two reserved areas kept), with its print.
void clear_record() noexcept;

// ---- the AT channel ------------------------------------------------------------------------

constexpr int kLineCapacity = 8192;      // the line logic's part of the receive buffer
constexpr std::size_t kAtBufferSize = 9216;
constexpr std::size_t kAnswerSize = 1024;  // out_put, the destination of every exchange
constexpr int kPollMs = 100;
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

// Runs a command and reads its standard output once into buf: at most size - 1 bytes, then a
// terminator. False, with buf empty, when the command could not be started.
bool command_output(const char* command, char* buf, std::size_t size) noexcept;

// A command's output into buf (kCmdreadSize bytes): buf, or "" when it could not be started or
// printed uci's "Entry not found".
char* read_command(const char* command, char* buf) noexcept;
// A command's first 256 bytes of output into dst (257 bytes; null: only run), trailing blanks and
// line ends stripped or not: dst; null when it could not be started or dst is null; a text of the
// library's own when uci's "Entry not found" came.
char* uci_output(const char* command, char* dst, bool strip) noexcept;
// Sleeps whole seconds on the library's clock, going on after an interruption.
void sleep_seconds(unsigned seconds) noexcept;
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
// The answers' numbers.
int csq_strength(char* line) noexcept;
int registration_mode(char* line) noexcept;
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
