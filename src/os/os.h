// The library's one seam to the operating system: paths under the simulated box's root, shell
// commands, the wall clock and sleeps. Device I/O on an already rooted path stays plain POSIX.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string_view>

#include <dirent.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

namespace bsp::os {

// The longest root accepted (a longer one is refused) and the longest path taken under it.
constexpr std::size_t kRootMax = 256;
constexpr std::size_t kPathMax = 1024;
// Room for one command text: the largest buffer the box builds a command in, plus a root per path.
constexpr std::size_t kCommandMax = 2048;

// SDK_BSP_ROOT as read once: "" when unset or empty (the box's own paths).
std::string_view root() noexcept;
// False when SDK_BSP_ROOT is set but unusable: then no path is opened and no command is run.
bool usable() noexcept;

// Reads SDK_BSP_ROOT and SDK_BSP_CMDLOG again. For unit tests only, with no other thread running.
void reload_environment() noexcept;

// An absolute path taken under the root; a relative path stays as it is. Not ok() when the root
// is refused or the result would not fit; c_str() is then "".
class Path {
  public:
    explicit Path(const char* path) noexcept;
    bool ok() const noexcept { return ok_; }
    const char* c_str() const noexcept { return buf_.data(); }

  private:
    // Only the text and its terminator are ever read: the rest is left as it is, not cleared
    // (a path is built for every log record).
    std::array<char, kRootMax + kPathMax> buf_;
    bool ok_ = false;
};

// The one owner of whatever the library opens (a descriptor, a stream, a directory): released
// exactly once, by its deleter, when the owner goes or is reset. Move-only.
template <typename T, T kNone, auto kRelease>
class Owned {
  public:
    Owned() noexcept = default;
    explicit Owned(T handle) noexcept : h_(handle) {}
    ~Owned() { reset(); }
    Owned(Owned&& o) noexcept : h_(o.release()) {}
    Owned& operator=(Owned&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != kNone; }
    T release() noexcept {
        T h = h_;
        h_ = kNone;
        return h;
    }
    void reset(T handle = kNone) noexcept {
        if (h_ != kNone) kRelease(h_);
        h_ = handle;
    }

  private:
    T h_ = kNone;
};

inline void close_fd(int fd) noexcept { ::close(fd); }
inline void close_file(std::FILE* f) noexcept { std::fclose(f); }
inline void close_dir(DIR* d) noexcept { ::closedir(d); }
inline void close_pipe(std::FILE* f) noexcept { ::pclose(f); }
using Fd = Owned<int, -1, close_fd>;
using File = Owned<std::FILE*, nullptr, close_file>;
using Dir = Owned<DIR*, nullptr, close_dir>;

// Rooted file-system calls: on a refused path they fail with errno EACCES (or ENAMETOOLONG).
// Whatever they open is close-on-exec (O_CLOEXEC is added to the flags, "e" to the mode), so
// the commands the library runs inherit none of it. Wrap the result in its owner (Fd, File, Dir).
int open(const char* path, int flags, mode_t mode = 0) noexcept;
int stat(const char* path, struct stat* st) noexcept;
std::FILE* fopen(const char* path, const char* mode) noexcept;
DIR* opendir(const char* path) noexcept;
// True when the (rooted) path exists.
bool exists(const char* path) noexcept;

// A command text built in a fixed buffer.
class Command {
  public:
    // Formats the command. box_size is the size of the buffer the box builds it in; each Path
    // argument is rooted and gets room for the root on top. Returns false, leaving the text
    // empty, when a path is refused or the text would not fit: a command is refused, never cut.
    template <typename... A>
    bool format(std::size_t box_size, const char* fmt, const A&... args) noexcept {
        bool ok = true;
        std::size_t room = box_size;
        ((room += extra_room(args, ok)), ...);
        return ok && print(room, fmt, pass(args)...);
    }
    const char* c_str() const noexcept { return text_.data(); }

  private:
    static std::size_t extra_room(const Path& p, bool& ok) noexcept {
        ok = ok && p.ok();
        return root().size();
    }
    template <typename T>
    static std::size_t extra_room(const T&, bool&) noexcept { return 0; }
    static const char* pass(const Path& p) noexcept { return p.c_str(); }
    template <typename T>
    static const T& pass(const T& v) noexcept { return v; }
    bool print(std::size_t room, const char* fmt, ...) noexcept;

    std::array<char, kCommandMax> text_{};
};

// Where caller text stands in a command: inside single quotes, or as a bare word.
enum class Quoting { kQuoted, kBare };

// True when the shell would take the text literally in that place, as exactly one argument: no
// quote, ; | & $ ` < > ( ) \ or control character anywhere; a bare word is also not empty, holds
// no blank, * ? or [ (globbing), and does not begin with - (an option), # (a comment) or ~ (a home
// directory). Null is never literal.
bool shell_literal(const char* text, Quoting quoting) noexcept;

// Runs a command through /bin/sh as system() does, after appending it to the SDK_BSP_CMDLOG
// journal. Its standard error is /dev/null, so nothing reaches the host's. When rooted,
// $SDK_BSP_ROOT/bin comes first on PATH. Returns system()'s status, or -1 when the command is
// refused (unusable root, null or over-long text).
int run(const char* command) noexcept;

// popen(command, "r") through the same journal, PATH and quiet standard error, its end close-on-exec (so a command
// started later does not hold it); closed with pclose when the owner goes.
class Pipe : public Owned<std::FILE*, nullptr, close_pipe> {
  public:
    explicit Pipe(const char* command) noexcept;
};

// Reads a command's standard output once into buf: at most size - 1 bytes, then a terminator.
// False, with buf empty, when the command could not be started (or buf is null or size 0).
bool read_output(const char* command, char* buf, std::size_t size) noexcept;

// Writes every byte to a descriptor, trying again after an interruption: false when a write fails.
bool write_all(int fd, const void* data, std::size_t len) noexcept;

// The wall clock and the sleeps. Unit tests install their own; every member is inline so the
// interface needs no type information from the library.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::time_t now() noexcept { return std::time(nullptr); }
    // The wall clock to the microsecond, for waits counted in milliseconds.
    virtual timeval time_of_day() noexcept {
        timeval tv{};
        ::gettimeofday(&tv, nullptr);
        return tv;
    }
    virtual void sleep_ms(long ms) noexcept {
        timeval tv{ms / 1000, static_cast<suseconds_t>((ms % 1000) * 1000)};
        ::select(0, nullptr, nullptr, nullptr, &tv);
    }
};

Clock& clock() noexcept;
// Installs a replacement clock; nullptr restores the real one.
void set_clock(Clock* c) noexcept;

inline std::time_t now() noexcept { return clock().now(); }
inline void sleep_ms(long ms) noexcept { clock().sleep_ms(ms); }
inline timeval time_of_day() noexcept { return clock().time_of_day(); }

// Sleeps until want_ms have passed on the library's clock, in at most max_sleeps sleeps, so that a
// sleep a signal cut short goes on for the rest; ends early when the clock goes back (the wait can
// no longer be measured). Each sleep is step_ms long (kWhole: the AT channel's 2 ms ticks) or only
// what is left when that is shorter (kUpToWhatIsLeft).
enum class Steps { kWhole, kUpToWhatIsLeft };
void sleep_on_clock(long long want_ms, long step_ms, long long max_sleeps, Steps steps) noexcept;
// Whole seconds on the library's clock: at most 100 sleeps.
void sleep_seconds(unsigned seconds) noexcept;

}  // namespace bsp::os
