// What the wireless modem's files share: the modem record's lock and accessors, the AT channel's
// buffers and its one exchange routine.
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

// ---- detection and the shell ---------------------------------------------------------------

constexpr int kModemRows = SDK_BSP_LTEMM_ROWS;
constexpr std::size_t kCmdreadSize = 1024;  // what cmdread's caller provides: the ifconfig text

// Runs a command and reads its standard output once into buf: at most size - 1 bytes, then a
// terminator. False, with buf empty, when the command could not be started.
bool command_output(const char* command, char* buf, std::size_t size) noexcept;

// ---- the supervisor ------------------------------------------------------------------------

// One pass of the supervisor's loop, its 1 s pause aside: detection and the query cycle on even
// passes, then the requests of the record. `count` is the pass counter, from 0.
void supervisor_pass(int count) noexcept;

}  // namespace bsp::lte
