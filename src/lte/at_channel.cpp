// The AT command channel: the one port to the cellular module, the line reader that polls it, the
// three exchanges that wait for an answer line, and the tokenizer for "name: value,value" answers.
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

#include "base/log.h"
#include "base/texts.h"
#include "lte/lte.h"
#include "os/os.h"

namespace bsp::lte {
namespace {

using base::log_write;

constexpr int kMaxSeconds = INT_MAX / kPollsPerSecond;  // seconds * 10 polls must stay an int

bool is_eol(char c) noexcept { return c == '\r' || c == '\n'; }

void skip_line_ends(char*& p) noexcept {
    while (is_eol(*p)) ++p;
}

void trace(const texts::Step& step) noexcept { log_write(kLogNet, texts::kAtStep, step.function, step.line); }

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
            if (line) log_write(kLogNet, texts::kAnswerLine, line);
            log_write(kLogNet, texts::kAtLine, texts::kExchangeLine.function, texts::kExchangeLine.line,
                      line ? line : "");
            break;
        case Variant::kRead1:
            if (line) log_write(kLogNet, texts::kAnswerLine, line);
            log_write(kLogNet, texts::kAnswerLine1, line ? line : "");
            break;
        case Variant::kReadCimi:
            if (line) log_write(kLogNet, texts::kAnswerLineCimi, line);
            break;
    }
}

bool is_failure(Variant v, const char* line) noexcept {
    return std::strstr(line, "ERROR") || (v == Variant::kReadCimi && std::strstr(line, "COMMAND NOT SUPPORT"));
}

// The channel's buffers, all zeros at start (so in .bss, costing the library file nothing); only
// the channel below uses them.
struct AtBuffers {
    std::array<char, kAtBufferSize> line{};
    std::array<char, kAnswerSize> answer{};
};
constinit AtBuffers g_buffers;

// The one port to the cellular module and its buffers. They belong to whoever holds the channel:
// the supervisor thread, or a query holding the channel lock.
class AtChannel {
  public:
    char* answer() noexcept { return answer_.data(); }
    int fd() const noexcept { return port_.get(); }
    std::uint32_t read_count() const noexcept { return read_count_; }
    std::mutex& lock() noexcept { return lock_; }

    int open(const char* path) noexcept;
    void close() noexcept { port_.reset(); }
    int write_line(const char* line) noexcept;
    char* read_line(int maxpolls) noexcept;
    int exchange(Variant v, const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept;

  private:
    // Keeps the text at cur as the start of the buffer, to be completed by the next reads.
    void keep_partial_line() noexcept {
        const std::size_t len = std::strlen(cur_);
        std::memmove(buffer_.data(), cur_, len + 1);
        cur_ = buffer_.data();
        fill_ = buffer_.data() + len;
    }
    void discard_buffer() noexcept {
        cur_ = fill_ = buffer_.data();
        buffer_[0] = '\0';
    }
    ssize_t poll_port() noexcept;
    bool send_command(Variant v, const char* cmd) noexcept;

    os::Fd port_;  // the open AT port (ltefd)
    // The receive buffer (s_ATBuffer). The line logic uses the first kLineCapacity bytes and keeps
    // a zero at index kLineCapacity; a read fills at most up to there and is followed by two zeros
    // (at most indexes 8192 and 8193): the second one is where the cursor lands after the prompt
    // "> ", whose line end is the terminator itself.
    std::array<char, kAtBufferSize>& buffer_ = g_buffers.line;
    char* cur_ = buffer_.data();   // the next unread line (s_ATBufferCur); a zero byte when none is pending
    char* fill_ = buffer_.data();  // where the next read goes
    std::uint32_t read_count_ = 0;  // s_readCount
    std::array<char, kAnswerSize>& answer_ = g_buffers.answer;  // out_put
    std::mutex lock_;
};
static_assert(kAtBufferSize >= kLineCapacity + 2);

// One poll: a 100 ms pause, then whatever the port has, as far as the line capacity allows.
ssize_t AtChannel::poll_port() noexcept {
    ticksleep(kPollMs);
    trace(texts::kReadlinePoll);
    const int d = port_.get();
    if (d < 0) return 0;  // no port: an empty poll
    const int room = kLineCapacity - static_cast<int>(fill_ - buffer_.data());
    log_write(kLogNet, texts::kAtRead, texts::kReadlineRead.function, texts::kReadlineRead.line, d, room);
    ssize_t count = ::read(d, fill_, static_cast<std::size_t>(room));
    trace(texts::kReadlineReadDone);
    return count;
}

// Writes the command (when there is one) with the variant's log lines.
bool AtChannel::send_command(Variant v, const char* cmd) noexcept {
    if (!*cmd) return true;
    const bool steps = v == Variant::kRead;
    if (steps) {
        trace(texts::kExchangeWrite);
        log_write(kLogNet, texts::kCommandSent, cmd);
    }
    const int written = write_line(cmd);
    if (steps) trace(texts::kExchangeWritten);
    if (v == Variant::kReadCimi) log_write(kLogNet, texts::kCommandWritten, cmd);
    return written == 0;
}

int AtChannel::exchange(Variant v, const char* cmd, char* prefix, char* dst, int maxlines, int seconds) noexcept {
    std::memset(buffer_.data(), 0, kLineCapacity + 1);
    cur_ = fill_ = buffer_.data();
    if (!send_command(v, cmd)) return kWriteFailed;
    const bool steps = v == Variant::kRead;
    if (steps) trace(texts::kExchangeUpper);
    upper_case(prefix);
    if (steps) trace(texts::kExchangeUpperDone);
    const int polls = std::clamp(seconds, -1, kMaxSeconds) * kPollsPerSecond;
    for (int count = 0;;) {
        if (steps) trace(texts::kExchangeRead);
        char* line = upper_case(read_line(polls));
        if (steps) trace(texts::kExchangeReadDone);
        log_line(v, line);
        if (line && v != Variant::kRead) append_answer(dst, line);
        if (line && starts_with(line, prefix)) {
            if (steps) trace(texts::kExchangeMatched);
            if (v == Variant::kRead) copy_answer(dst, line);
            os::sleep_ms(20);
            return kMatched;
        }
        if (line && is_failure(v, line)) {
            os::sleep_ms(1);
            return kFailed;
        }
        if (++count <= maxlines) continue;
        if (steps) log_write(kLogNet, line ? texts::kTimeOut : texts::kTimeOutNoData);
        if (v != Variant::kReadCimi) count_timeout();
        return kTimedOut;
    }
}

char* AtChannel::read_line(int maxpolls) noexcept {
    char* eol = nullptr;
    if (*cur_ == '\0') {
        discard_buffer();
    } else {
        skip_line_ends(cur_);
        eol = next_eol(cur_);
        if (!eol) keep_partial_line();
    }
    for (int polls = 0; !eol;) {
        if (fill_ - buffer_.data() >= kLineCapacity) {
            log_write(kLogNet, texts::kLineOverflow);
            discard_buffer();
        }
        if (polls > maxpolls) {
            log_write(kLogNet, texts::kPollsOver, polls, maxpolls);
            return nullptr;
        }
        log_write(kLogNet, texts::kPollBefore, polls, maxpolls);
        const ssize_t count = poll_port();
        ++polls;
        log_write(kLogNet, texts::kPollAfter, polls, maxpolls);
        if (count < 1) continue;
        read_count_ += static_cast<std::uint32_t>(count);
        fill_[count] = '\0';
        fill_[count + 1] = '\0';
        skip_line_ends(cur_);
        buffer_[kLineCapacity] = '\0';
        fill_ += count;
        eol = next_eol(cur_);
    }
    *eol = '\0';
    char* line = cur_;
    cur_ = eol + 1;
    log_write(kLogNet, texts::kLineRead, line);
    return line;
}

int AtChannel::open(const char* path) noexcept {
    port_.reset();
    if (!path) return -1;
    // Never the host's controlling terminal: a module that resets would hang the host up.
    port_.reset(os::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!port_) return -1;
    termios tio{};
    // A device that is not a terminal has no modes to set; it is read and written all the same.
    if (tcgetattr(port_.get(), &tio) == 0) {
        tio.c_lflag = 0;  // no echo, no canonical input, no signals
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(port_.get(), TCSANOW, &tio);
    }
    return 0;
}

int AtChannel::write_line(const char* line) noexcept {
    const int d = port_.get();
    if (d < 0) {
        std::puts("??????ltefd=-1???????");
        return -1;
    }
    if (!line) return -1;
    return os::write_all(d, line, std::strlen(line)) && os::write_all(d, "\r", 1) ? 0 : -1;
}

constinit AtChannel g_channel;

}  // namespace

char* out_put() noexcept { return g_channel.answer(); }
int ltefd() noexcept { return g_channel.fd(); }
std::uint32_t read_count() noexcept { return g_channel.read_count(); }
std::mutex& channel_lock() noexcept { return g_channel.lock(); }

void ticksleep(int ms) noexcept { os::sleep_on_clock(ms, kTickMs, ms / kTickMs, os::Steps::kWhole); }

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
    return g_channel.exchange(v, cmd, prefix, dst, maxlines, seconds);
}

char* read_line(int maxpolls) noexcept { return g_channel.read_line(maxpolls); }
int open_at_port(const char* path) noexcept { return g_channel.open(path); }
void close_at_port() noexcept { g_channel.close(); }
int write_line(const char* line) noexcept { return g_channel.write_line(line); }

char* next_eol(char* cur) noexcept {
    if (!cur) return nullptr;
    if (cur[0] == '>' && cur[1] == ' ' && cur[2] == '\0') return cur + 2;  // the prompt is a line
    while (*cur && !is_eol(*cur)) ++cur;
    return *cur ? cur : nullptr;
}

// ---- tokenizer ----

int tok_start(char** cur) noexcept {
    if (!cur || !*cur) return -1;
    char* colon = std::strchr(*cur, ':');
    // Without a ':' the cursor becomes null, so that the calls after it fail too.
    *cur = colon ? colon + 1 : nullptr;
    return colon ? 0 : -1;
}

void skip_white_space(char** cur) noexcept {
    if (!cur || !*cur) return;
    while (**cur && std::isspace(static_cast<unsigned char>(**cur))) ++*cur;
}

void skip_next_comma(char** cur) noexcept {
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

char* next_tok(char** cur) noexcept {
    if (!cur || !*cur) return nullptr;
    skip_white_space(cur);
    if (**cur != '"') return cut_at(cur, ',');
    ++*cur;
    char* token = cut_at(cur, '"');
    skip_next_comma(cur);  // an unclosed quote left the cursor null: nothing to skip
    return token;
}

int tok_next_int_base(char** cur, int* out, int base, int is_unsigned) noexcept {
    if (!cur || !*cur || !out) return -1;
    char* token = next_tok(cur);
    if (!token) return -1;
    char* end = token;
    const long value = is_unsigned ? static_cast<long>(std::strtoul(token, &end, base)) : std::strtol(token, &end, base);
    *out = static_cast<int>(value);
    return end == token ? -1 : 0;
}

int tok_next_int(char** cur, int* out) noexcept { return tok_next_int_base(cur, out, 10, 0); }

int tok_next_hex_int(char** cur, int* out) noexcept { return tok_next_int_base(cur, out, 16, 1); }

int starts_with(const char* line, const char* prefix) noexcept {
    if (!line || !prefix) return 0;
    for (; *prefix; ++line, ++prefix)
        if (*line != *prefix) return 0;  // also where the line ends first
    return 1;
}

char* upper_case(char* s) noexcept {
    if (!s) return s;
    // Only lower-case letters are written, so an upper-case text may live in read-only memory.
    for (char* p = s; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return s;
}

}  // namespace bsp::lte
