// The SDK log: one record per call, to standard output and/or /tmp/sdklog.log, archived to
// /tmp/sdklog.zip when the file passes 2 MiB.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "base/decimal.h"
#include "base/log.h"
#include "os/os.h"
#include "sdk_bsp.h"

namespace bsp::base {
namespace {

// A level's tag, a printf format of the record number, kept as the text around its number.
struct Level {
    std::string_view before, after;
    std::int32_t STR_LOG_PAR_T::*mode;
};

constexpr std::string_view kNumberFormat = "%010d";
constexpr int kNumberWidth = 10;
constexpr Level make_level(std::string_view tag, std::int32_t STR_LOG_PAR_T::*mode) {
    std::size_t at = tag.find(kNumberFormat);  // absent: no constant, the build fails
    return {tag.substr(0, at), tag.substr(at + kNumberFormat.size()), mode};
}

constexpr Level kOther = make_level("sdk_OTHER Line=%010d]:", &STR_LOG_PAR_T::other);
// Indexed by level 0 to 8; every level outside is OTHER too.
constexpr std::array<Level, 9> kLevels{{
    kOther,
    make_level("sdk_SQL   Line=%010d]:", &STR_LOG_PAR_T::sql),
    make_level("sdk_ERROR Line=%010d]:", &STR_LOG_PAR_T::error),
    make_level("sdk_NET   Line=%010d]:", &STR_LOG_PAR_T::net),
    make_level("sdk_SO    Line=%010d]:", &STR_LOG_PAR_T::so),
    make_level("sdk_SYS   Line=%010d]:", &STR_LOG_PAR_T::sys),
    make_level("sdk_PIC   Line=%010d]:", &STR_LOG_PAR_T::pic),
    kOther,
    make_level("sdk_DEBUG Line=%010d]:", &STR_LOG_PAR_T::debug),
}};

// The header's text, built without the printf machinery, which would cost more than the rest of
// the record's own work. It always fits: "\r\n[", an 11-character year at most, "-MM-DD hh:mm:ss ",
// a tag of 17 characters around an 11-character number: 58 characters and the terminator.
class Header {
  public:
    explicit Header(char* out) noexcept : out_(out) {}
    Header& operator<<(std::string_view s) noexcept {
        std::memcpy(out_ + len_, s.data(), s.size());
        len_ += s.size();
        out_[len_] = '\0';
        return *this;
    }
    // As "%0<width>d" writes it.
    Header& padded(int v, int width) noexcept {
        len_ += format_int(out_ + len_, v, width);
        out_[len_] = '\0';
        return *this;
    }

  private:
    char* out_;
    std::size_t len_ = 0;
};
static_assert(kLogHeaderMax > 58);

const Level& level_of(int level) noexcept {
    return level >= 0 && level < static_cast<int>(kLevels.size()) ? kLevels[static_cast<std::size_t>(level)] : kOther;
}

// The mode words are the host's too (an exported record): read and written as single words.
std::atomic_ref<std::int32_t> mode_word(const Level& lv) noexcept { return std::atomic_ref(STR_LOG_PAR.*lv.mode); }

enum Mode : int { kOff = 0, kStdout = 1, kFile = 2, kBoth = 3 };
bool to_stdout(int mode) noexcept { return mode == kStdout || mode == kBoth; }
bool to_file(int mode) noexcept { return mode == kFile || mode == kBoth; }

// The log's state: the record counter, the file lock and the long-record area. Only this object
// numbers records and writes the log file.
class Log {
  public:
    // The number of the next record, taken whether or not the record is written.
    std::int32_t take_number() noexcept {
        return static_cast<std::int32_t>(counter_.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    std::int32_t last_number() const noexcept { return static_cast<std::int32_t>(counter_.load()); }
    int vwrite(int level, const char* format, std::va_list ap) noexcept;

  private:
    // Completes and outputs a record whose message (msg_len characters, terminated) stands behind
    // kLogHeaderMax free bytes at buf. Returns log_write's result.
    int emit(int level, char* buf, int msg_len) noexcept;

    std::atomic<std::uint32_t> counter_{0};
    // Serialises record numbers, the rotation and the append, so that records appear in the file in
    // number order, never interleave, and none is appended while the log is being archived.
    std::mutex file_mutex_;
    // Messages up to kShortMessage are built on the caller's stack; longer ones in the one shared
    // record area, which keeps 100 KiB off host threads' (possibly small) stacks.
    std::mutex long_mutex_;
    std::array<char, kLogHeaderMax + kLogRecordBuffer> long_buffer_{};
};

constexpr int kShortMessage = 1024;

int Log::emit(int level, char* buf, int msg_len) noexcept {
    char* msg = buf + kLogHeaderMax;
    char* record = msg;
    int mode;
    {
        std::lock_guard lock(file_mutex_);
        std::array<char, kLogHeaderMax> head{};
        mode = write_header(level, head.data());
        if (mode == kOff) return 0;
        rotate_if_full();
        int head_len = static_cast<int>(std::strlen(head.data()));
        msg[std::min(msg_len, kLogRecordMax - head_len)] = '\0';
        record = msg - head_len;
        std::memcpy(record, head.data(), static_cast<std::size_t>(head_len));
        if (to_file(mode)) append_record(kLogFile, record);
    }
    // Standard output is slow and may block: printed outside the file lock.
    if (to_stdout(mode)) std::fputs(record, stdout);
    return to_stdout(mode) || to_file(mode) ? 1 : 0;
}

int Log::vwrite(int level, const char* format, std::va_list ap) noexcept {
    if (!format || mode_word(level_of(level)).load(std::memory_order_relaxed) == kOff) {
        take_number();  // the number is taken even so
        return 0;
    }
    va_list again;
    va_copy(again, ap);
    std::array<char, kLogHeaderMax + kShortMessage> small;
    int n = std::vsnprintf(small.data() + kLogHeaderMax, kShortMessage, format, ap);
    int result;
    if (n < kShortMessage) {
        if (n < 0) small[kLogHeaderMax] = '\0';
        result = emit(level, small.data(), std::max(n, 0));
    } else {
        std::lock_guard lock(long_mutex_);
        n = std::vsnprintf(long_buffer_.data() + kLogHeaderMax, kLogRecordBuffer, format, again);
        result = emit(level, long_buffer_.data(), std::clamp(n, 0, kLogRecordBuffer - 1));
    }
    va_end(again);
    return result;
}

constinit Log g_log;

}  // namespace

int write_header(int level, char* buffer) noexcept {
    if (!buffer) return 0;
    const Level& lv = level_of(level);
    std::time_t t = os::now();
    std::tm tm{};
    localtime_r(&t, &tm);
    // "\r\n[%04d-%02d-%02d %02d:%02d:%02d " and the tag
    Header head(buffer);
    head << "\r\n[";
    head.padded(tm.tm_year + 1900, 4) << "-";
    head.padded(tm.tm_mon + 1, 2) << "-";
    head.padded(tm.tm_mday, 2) << " ";
    head.padded(tm.tm_hour, 2) << ":";
    head.padded(tm.tm_min, 2) << ":";
    head.padded(tm.tm_sec, 2) << " ";
    const std::int32_t number = g_log.take_number();
    head << lv.before;
    head.padded(number, kNumberWidth) << lv.after;
    return mode_word(lv).load(std::memory_order_relaxed);
}

int file_size(const char* path) noexcept {
    struct stat st {};
    if (os::stat(path, &st) != 0) return -1;
    return st.st_size > INT_MAX ? INT_MAX : static_cast<int>(st.st_size);
}

void rotate_if_full() noexcept {
    int size = file_size(kLogFile);
    if (size == -1 || size <= kLogFileLimit) return;
    const os::Path archive(kLogArchive), log(kLogFile);
    os::Command cmd;
    if (cmd.format(kLogCommandBuffer, "rm %s", archive)) os::run(cmd.c_str());
    if (cmd.format(kLogCommandBuffer, "zip %s %s", archive, log)) os::run(cmd.c_str());
    if (cmd.format(kLogCommandBuffer, "rm %s", log)) os::run(cmd.c_str());
}

std::int32_t log_record_count() noexcept { return g_log.last_number(); }

int log_write(int level, const char* format, ...) noexcept {
    va_list ap;
    va_start(ap, format);
    int result = log_vwrite(level, format, ap);
    va_end(ap);
    return result;
}

int log_vwrite(int level, const char* format, std::va_list ap) noexcept { return g_log.vwrite(level, format, ap); }

void log_defaults() noexcept {
    for (const Level& lv : kLevels) mode_word(lv).store(lv.mode == &STR_LOG_PAR_T::net ? kFile : kBoth);
}

void log_off() noexcept {
    for (const Level& lv : kLevels) mode_word(lv).store(kOff);
}

int append_record(const char* path, const char* text) noexcept {
    if (!path || !text) return -1;
    os::Fd fd(os::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0700));
    if (!fd) {
        std::perror("open");
        return -1;
    }
    if (::lseek(fd.get(), 0, SEEK_END) < 0) {
        std::perror("lseek");
        return -2;
    }
    [[maybe_unused]] ssize_t written = ::write(fd.get(), text, std::strlen(text));
    return 1;
}

}  // namespace bsp::base
