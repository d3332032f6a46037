// The AT command channel: the one port to the cellular module, the line reader that polls it, the
// three exchanges that wait for an answer line, and the tokenizer for "name: value,value" answers.
// The port and the buffers belong to whoever holds the channel: the supervisor thread, or a query
// holding the channel lock.
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "lte/lte.h"
#include "os/os.h"

namespace bsp::lte {
namespace {

os::Fd g_ltefd;  // the open AT port (ltefd)

// The receive buffer (s_ATBuffer). The line logic uses the first kLineCapacity bytes and keeps a
// zero at index kLineCapacity; a read fills at most up to there and is followed by two zeros (at
// most indexes 8192 and 8193): the second one is where the cursor lands after the prompt "> ",
// whose line end is the terminator itself.
std::array<char, kAtBufferSize> s_ATBuffer{};
static_assert(kAtBufferSize >= kLineCapacity + 2);
char* s_ATBufferCur = s_ATBuffer.data();  // the next unread line; a zero byte when none is pending
char* s_fill = s_ATBuffer.data();         // where the next read goes
std::uint32_t s_readCount = 0;
std::array<char, kAnswerSize> g_out_put{};
std::mutex g_channel_lock;

constexpr const char* kWaitRead = "write_wait_read";
constexpr int kMaxSeconds = INT_MAX / kPollsPerSecond;  // seconds * 10 polls must stay an int

bool is_eol(char c) noexcept { return c == '\r' || c == '\n'; }

void skip_line_ends(char*& p) noexcept {
    while (is_eol(*p)) ++p;
}

void trace(const char* function, int line) noexcept {
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED fun=%s,Line=%d;", function, line);
}

void SSleep(int ms) noexcept { os::sleep_ms(ms); }

double elapsed_ms(const timeval& from, const timeval& to) noexcept {
    return 1000.0 * static_cast<double>(to.tv_sec - from.tv_sec) + static_cast<double>(to.tv_usec - from.tv_usec) / 1000.0;
}

// Keeps the text at cur as the start of the buffer, to be completed by the next reads.
void keep_partial_line() noexcept {
    const std::size_t len = std::strlen(s_ATBufferCur);
    std::memmove(s_ATBuffer.data(), s_ATBufferCur, len + 1);
    s_ATBufferCur = s_ATBuffer.data();
    s_fill = s_ATBuffer.data() + len;
}

void discard_buffer() noexcept {
    s_ATBufferCur = s_fill = s_ATBuffer.data();
    s_ATBuffer[0] = '\0';
}

// One poll: a 100 ms pause, then whatever the port has, as far as the line capacity allows.
ssize_t poll_port() noexcept {
    ticksleep(kPollMs);
    trace("readline", 854);
    const int fd = g_ltefd.get();
    if (fd < 0) return 0;  // no port: an empty poll
    const int room = kLineCapacity - static_cast<int>(s_fill - s_ATBuffer.data());
    SDK_LOG_WRITE(kLogNet, "LTE_TEHED fun=%s,Line=%d;ltefd=%d,l=%d", "readline", 856, fd, room);
    ssize_t count = ::read(fd, s_fill, static_cast<std::size_t>(room));
    trace("readline", 858);
    return count;
}

char* read_line(int maxpolls) noexcept {
    char* eol = nullptr;
    if (*s_ATBufferCur == '\0') {
        discard_buffer();
    } else {
        skip_line_ends(s_ATBufferCur);
        eol = findNextEOL(s_ATBufferCur);
        if (!eol) keep_partial_line();
    }
    for (int polls = 0; !eol;) {
        if (s_fill - s_ATBuffer.data() >= kLineCapacity) {
            SDK_LOG_WRITE(kLogNet, "tERROR: Input line exceeded buffer");
            discard_buffer();
        }
        if (polls > maxpolls) {
            SDK_LOG_WRITE(kLogNet, "ticksleep end,%d,%d", polls, maxpolls);
            return nullptr;
        }
        SDK_LOG_WRITE(kLogNet, "read#######,%d,%d", polls, maxpolls);
        const ssize_t count = poll_port();
        ++polls;
        SDK_LOG_WRITE(kLogNet, "read!!!!!!,%d,%d", polls, maxpolls);
        if (count < 1) continue;
        s_readCount += static_cast<std::uint32_t>(count);
        s_fill[count] = '\0';
        s_fill[count + 1] = '\0';
        skip_line_ends(s_ATBufferCur);
        s_ATBuffer[kLineCapacity] = '\0';
        s_fill += count;
        eol = findNextEOL(s_ATBufferCur);
    }
    *eol = '\0';
    char* line = s_ATBufferCur;
    s_ATBufferCur = eol + 1;
    SDK_LOG_WRITE(kLogNet, "AT< %s\n", line);
    return line;
}

// Replaces dst's text with the line, cut to what dst holds: every destination is the 1024-byte
// out_put (or, from a host, a buffer documented as 1024 bytes), and a line may hold 8191 characters.
void copy_answer(char* dst, const char* line) noexcept {
    const std::size_t n = std::min(std::strlen(line), kAnswerSize - 1);
    std::memcpy(dst, line, n);
    dst[n] = '\0';
}

// The per-line logging of each exchange, before its tests.
void log_line(Variant v, const char* line) noexcept {
    switch (v) {
        case Variant::kRead:
            if (line) SDK_LOG_WRITE(kLogNet, "AT <,Line=%s;", line);
            SDK_LOG_WRITE(kLogNet, "LTE_TEHED fun=%s,Line=%d;line=%s", kWaitRead, 986, line ? line : "");
            break;
        case Variant::kRead1:
            if (line) SDK_LOG_WRITE(kLogNet, "AT <,Line=%s;", line);
            SDK_LOG_WRITE(kLogNet, "!!!!!!!!!!!!line=%s", line ? line : "");
            break;
        case Variant::kReadCimi:
            if (line) SDK_LOG_WRITE(kLogNet, "#####################line=%s", line);
            break;
    }
}

bool is_failure(Variant v, const char* line) noexcept {
    return std::strstr(line, "ERROR") || (v == Variant::kReadCimi && std::strstr(line, "COMMAND NOT SUPPORT"));
}

// Writes the command (when there is one) with the variant's log lines.
bool send_command(Variant v, const char* cmd) noexcept {
    if (!*cmd) return true;
    const bool steps = v == Variant::kRead;
    if (steps) {
        trace(kWaitRead, 968);
        SDK_LOG_WRITE(kLogNet, "AT> %s", cmd);
    }
    const int written = writeline(cmd);
    if (steps) trace(kWaitRead, 971);
    if (v == Variant::kReadCimi) SDK_LOG_WRITE(kLogNet, "writeline=%s", cmd);
    return written == 0;
}

}  // namespace

char* out_put() noexcept { return g_out_put.data(); }
int ltefd() noexcept { return g_ltefd.get(); }
std::uint32_t read_count() noexcept { return s_readCount; }
std::mutex& channel_lock() noexcept { return g_channel_lock; }

void ticksleep(int ms) noexcept {
    const timeval start = os::time_of_day();
    for (int step = 0; step < ms / 2; ++step) {
        SSleep(2);
        const double elapsed = elapsed_ms(start, os::time_of_day());
        if (elapsed < 0 || elapsed >= ms) break;  // done, or the clock went back
    }
}

bool append_answer(char* dst, const char* text) noexcept {
    // Every destination is out_put: the whole text stays within its 1023 characters, and the
    // first characters are the ones kept (an answer's beginning says what it is).
    const std::size_t len = strnlen(dst, kAnswerSize - 1);
    const std::size_t want = std::strlen(text);
    const std::size_t n = std::min(want, kAnswerSize - 1 - len);
    std::memcpy(dst + len, text, n);
    dst[len + n] = '\0';
    return n == want;
}

int exchange(Variant v, const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    if (!cmd || !prefix || !dst) return kWriteFailed;
    std::memset(s_ATBuffer.data(), 0, kLineCapacity + 1);
    s_ATBufferCur = s_fill = s_ATBuffer.data();
    if (!send_command(v, cmd)) return kWriteFailed;
    const bool steps = v == Variant::kRead;
    if (steps) trace(kWaitRead, 974);
    to_upper(prefix);
    if (steps) trace(kWaitRead, 976);
    const int polls = std::clamp(seconds, -1, kMaxSeconds) * kPollsPerSecond;
    for (int count = 0;;) {
        if (steps) trace(kWaitRead, 979);
        char* line = to_upper(read_line(polls));
        if (steps) trace(kWaitRead, 981);
        log_line(v, line);
        if (line && v != Variant::kRead) append_answer(dst, line);
        if (line && strStartsWith(line, prefix)) {
            if (steps) trace(kWaitRead, 999);
            if (v == Variant::kRead) copy_answer(dst, line);
            os::sleep_ms(20);
            return kMatched;
        }
        if (line && is_failure(v, line)) {
            os::sleep_ms(1);
            return kFailed;
        }
        if (++count <= maxlines) continue;
        if (steps) SDK_LOG_WRITE(kLogNet, line ? "At time out" : "no data At time out");
        if (v != Variant::kReadCimi) word(&NTU_T::attimeouts).fetch_add(1);
        return kTimedOut;
    }
}

}  // namespace bsp::lte

using namespace bsp::lte;

extern "C" {

SDK_BSP_API int at_port_open(const char* path) noexcept {
    g_ltefd.reset();
    if (!path) return -1;
    // Never the host's controlling terminal: a module that resets would hang the host up.
    g_ltefd.reset(bsp::os::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!g_ltefd) return -1;
    termios tio{};
    // A device that is not a terminal has no modes to set; it is read and written all the same.
    if (tcgetattr(g_ltefd.get(), &tio) == 0) {
        tio.c_lflag = 0;  // no echo, no canonical input, no signals
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(g_ltefd.get(), TCSANOW, &tio);
    }
    return 0;
}

SDK_BSP_API void at_port_close(void) noexcept { g_ltefd.reset(); }

SDK_BSP_API int writeline(const char* line) noexcept {
    const int fd = g_ltefd.get();
    if (fd < 0) {
        std::puts("??????ltefd=-1???????");
        return -1;
    }
    if (!line) return -1;
    const std::size_t len = std::strlen(line);
    for (std::size_t done = 0; done < len;) {
        const ssize_t n = ::write(fd, line + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        done += static_cast<std::size_t>(n);
    }
    for (;;) {
        const ssize_t n = ::write(fd, "\r", 1);
        if (n == 1) return 0;
        if (n < 0 && errno != EINTR) return -1;
    }
}

SDK_BSP_API char* readline(int maxpolls) noexcept { return read_line(maxpolls); }

SDK_BSP_API char* findNextEOL(char* cur) noexcept {
    if (!cur) return nullptr;
    if (cur[0] == '>' && cur[1] == ' ' && cur[2] == '\0') return cur + 2;  // the prompt is a line
    while (*cur && !is_eol(*cur)) ++cur;
    return *cur ? cur : nullptr;
}

SDK_BSP_API int write_wait_read(const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    return exchange(Variant::kRead, cmd, prefix, dst, maxlines, seconds);
}

SDK_BSP_API int write_wait_read1(const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    return exchange(Variant::kRead1, cmd, prefix, dst, maxlines, seconds);
}

SDK_BSP_API int write_wait_readcimi(const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    return exchange(Variant::kReadCimi, cmd, prefix, dst, maxlines, seconds);
}

// ---- tokenizer ----

SDK_BSP_API int at_tok_start(char** cur) noexcept {
    if (!cur || !*cur) return -1;
    char* colon = std::strchr(*cur, ':');
    // Without a ':' the cursor becomes null, so that the calls after it fail too.
    *cur = colon ? colon + 1 : nullptr;
    return colon ? 0 : -1;
}

SDK_BSP_API void skipWhiteSpace(char** cur) noexcept {
    if (!cur || !*cur) return;
    while (**cur && std::isspace(static_cast<unsigned char>(**cur))) ++*cur;
}

SDK_BSP_API void skipNextComma(char** cur) noexcept {
    if (!cur || !*cur) return;
    while (**cur && **cur != ',') ++*cur;
    if (**cur == ',') ++*cur;
}

namespace {
// The token at the cursor up to delim (cut there, the cursor one past it), or to the end of the
// text (the cursor then null).
char* cut_at(char** cur, char delim) noexcept {
    char* token = *cur;
    char* end = std::strchr(token, delim);
    if (end) *end = '\0';
    *cur = end ? end + 1 : nullptr;
    return token;
}
}  // namespace

SDK_BSP_API char* nextTok(char** cur) noexcept {
    if (!cur || !*cur) return nullptr;
    skipWhiteSpace(cur);
    if (**cur != '"') return cut_at(cur, ',');
    ++*cur;
    char* token = cut_at(cur, '"');
    skipNextComma(cur);  // an unclosed quote left the cursor null: nothing to skip
    return token;
}

SDK_BSP_API int at_tok_nextint_base(char** cur, int* out, int base, int is_unsigned) noexcept {
    if (!cur || !*cur || !out) return -1;
    char* token = nextTok(cur);
    if (!token) return -1;
    char* end = token;
    const long value = is_unsigned ? static_cast<long>(std::strtoul(token, &end, base)) : std::strtol(token, &end, base);
    *out = static_cast<int>(value);
    return end == token ? -1 : 0;
}

SDK_BSP_API int at_tok_nextint(char** cur, int* out) noexcept { return at_tok_nextint_base(cur, out, 10, 0); }

SDK_BSP_API int at_tok_nexthexint(char** cur, int* out) noexcept { return at_tok_nextint_base(cur, out, 16, 1); }

SDK_BSP_API int strStartsWith(const char* line, const char* prefix) noexcept {
    if (!line || !prefix) return 0;
    for (; *prefix; ++line, ++prefix)
        if (*line != *prefix) return 0;  // also where the line ends first
    return 1;
}

SDK_BSP_API char* to_upper(char* s) noexcept {
    if (!s) return s;
    // Only lower-case letters are written, so an upper-case text may live in read-only memory.
    for (char* p = s; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return s;
}

}  // extern "C"
