#include "os/os.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace bsp::os {
namespace {

// A root is pasted into command texts and into PATH unquoted: no blanks, quotes, shell
// characters or ':'.
bool root_char_ok(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("/._-+,@", c) != nullptr;
}

struct Environment {
    std::array<char, kRootMax + 1> root{};
    std::size_t root_len = 0;
    bool usable = true;
    std::array<char, kPathMax + 1> cmdlog{};

    Environment() noexcept {
        load_root();
        const char* log = secure_getenv("SDK_BSP_CMDLOG");
        if (log && std::strlen(log) <= kPathMax) std::strcpy(cmdlog.data(), log);
    }

    void load_root() noexcept {
        const char* r = secure_getenv("SDK_BSP_ROOT");
        if (!r || !*r) return;
        std::size_t n = std::strlen(r);
        while (n > 1 && r[n - 1] == '/') --n;  // "/x/box/" and "/x/box" are one root
        const char* why = nullptr;
        struct stat st {};
        if (r[0] != '/')
            why = "not an absolute path";
        else if (n > kRootMax)
            why = "too long";
        else if (!std::all_of(r, r + n, root_char_ok))
            why = "holds blanks or shell characters";
        else if (::stat(r, &st) != 0 || !S_ISDIR(st.st_mode))
            why = "not a directory";
        if (why) {
            usable = false;
            std::fprintf(stderr, "sdk_bsp: SDK_BSP_ROOT \"%s\" refused (%s): no path is opened, no command is run\n",
                         r, why);
            return;
        }
        if (n == 1) return;  // "/" is the box itself
        std::memcpy(root.data(), r, n);
        root_len = n;
    }
};

// Read once, on first use. Built with pthread_once rather than as a function-local static, whose
// guard would bring the C++ runtime's exception machinery into the library.
alignas(Environment) unsigned char g_env_storage[sizeof(Environment)];
pthread_once_t g_env_once = PTHREAD_ONCE_INIT;

Environment& env_storage() noexcept {
    pthread_once(&g_env_once, [] { new (g_env_storage) Environment; });
    return *std::launder(reinterpret_cast<Environment*>(g_env_storage));
}

const Environment& env() noexcept { return env_storage(); }

void journal(const char* command) noexcept {
    const char* log = env().cmdlog.data();
    if (!*log) return;
    Fd fd(::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd) return;
    // One write per line, so the lines of concurrent commands never mix.
    std::array<char, kCommandMax + 1> line{};
    std::size_t n = std::min(std::strlen(command), kCommandMax);
    std::memcpy(line.data(), command, n);
    line[n++] = '\n';
    [[maybe_unused]] ssize_t w = ::write(fd.get(), line.data(), n);
}

// The text handed to /bin/sh. Its standard error goes to /dev/null before the command runs: the
// box's tools complain every few seconds (an interface that is down, a file already gone), and the
// host's standard error is the host's. What the command writes on standard output is unchanged.
// When rooted, the simulated box's tools come first on PATH.
constexpr std::string_view kQuietErrors = "exec 2>/dev/null; ";

class ShellText {
  public:
    explicit ShellText(const char* command) noexcept {
        if (!command || !usable() || std::strlen(command) >= kCommandMax) return;
        journal(command);
        int n = root().empty() ? std::snprintf(text_.data(), text_.size(), "%s%s", kQuietErrors.data(), command)
                               : std::snprintf(text_.data(), text_.size(), "%sPATH=%s/bin:$PATH; export PATH; %s",
                                               kQuietErrors.data(), env().root.data(), command);
        ok_ = n > 0 && static_cast<std::size_t>(n) < text_.size();
    }
    bool ok() const noexcept { return ok_; }
    const char* c_str() const noexcept { return text_.data(); }

  private:
    std::array<char, kCommandMax + kRootMax + kQuietErrors.size() + 32> text_{};
    bool ok_ = false;
};

std::atomic<Clock*> g_clock{nullptr};

// The real clock, built at compile time and never destroyed: the library's threads still sleep
// through it while the process exits.
union RealClock {
    Clock clock;
    constexpr RealClock() noexcept : clock() {}
    ~RealClock() {}
};
constinit RealClock g_real_clock;

}  // namespace

std::string_view root() noexcept { return {env().root.data(), env().root_len}; }

bool usable() noexcept { return env().usable; }

void reload_environment() noexcept { env_storage() = Environment{}; }

Path::Path(const char* path) noexcept {
    buf_[0] = '\0';
    if (!path || !usable()) return;
    std::string_view r = path[0] == '/' ? root() : std::string_view{};
    std::size_t n = std::strlen(path);
    if (n >= kPathMax) return;
    if (!r.empty()) std::memcpy(buf_.data(), r.data(), r.size());
    std::memcpy(buf_.data() + r.size(), path, n + 1);
    ok_ = true;
}

namespace {
template <typename F>
auto rooted(const char* path, F call, decltype(call("")) refused) noexcept {
    Path p(path);
    if (!p.ok()) {
        errno = usable() ? ENAMETOOLONG : EACCES;
        return refused;
    }
    return call(p.c_str());
}
}  // namespace

int open(const char* path, int flags, mode_t mode) noexcept {
    return rooted(path, [&](const char* p) { return ::open(p, flags | O_CLOEXEC, mode); }, -1);
}

int stat(const char* path, struct stat* st) noexcept {
    return rooted(path, [&](const char* p) { return ::stat(p, st); }, -1);
}

std::FILE* fopen(const char* path, const char* mode) noexcept {
    // A mode is a few letters ("r", "a+", "rb"); a longer one is refused rather than cut.
    std::array<char, 8> cloexec{};
    if (!mode || std::strlen(mode) + 2 > cloexec.size()) {
        errno = EINVAL;
        return nullptr;
    }
    std::strcpy(cloexec.data(), mode);
    if (!std::strchr(mode, 'e')) std::strcat(cloexec.data(), "e");
    return rooted(path, [&](const char* p) { return std::fopen(p, cloexec.data()); }, static_cast<std::FILE*>(nullptr));
}

DIR* opendir(const char* path) noexcept {
    return rooted(path, [](const char* p) {
        Fd fd(::open(p, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        DIR* dir = fd ? ::fdopendir(fd.get()) : nullptr;
        if (dir) fd.release();  // the stream owns it now
        return dir;
    }, static_cast<DIR*>(nullptr));
}

bool exists(const char* path) noexcept {
    struct stat st {};
    return path && os::stat(path, &st) == 0;
}

bool Command::print(std::size_t room, const char* fmt, ...) noexcept {
    text_.fill('\0');
    if (!fmt || room > text_.size()) return false;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(text_.data(), room, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<std::size_t>(n) >= room) {
        text_.fill('\0');
        return false;
    }
    return true;
}

namespace {
constexpr std::string_view kNeverLiteral = "'\"`;|&$<>()\\";
constexpr std::string_view kNotInBareWord = " *?[";
constexpr std::string_view kNotFirstInBareWord = "-#~";

bool control(char c) noexcept { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }
}  // namespace

bool shell_literal(const char* text, Quoting quoting) noexcept {
    if (!text) return false;
    const std::string_view t(text);
    const bool bare = quoting == Quoting::kBare;
    if (bare && (t.empty() || kNotFirstInBareWord.find(t.front()) != std::string_view::npos)) return false;
    return std::none_of(t.begin(), t.end(), [bare](char c) {
        return control(c) || kNeverLiteral.find(c) != std::string_view::npos ||
               (bare && kNotInBareWord.find(c) != std::string_view::npos);
    });
}

int run(const char* command) noexcept {
    ShellText sh(command);
    return sh.ok() ? std::system(sh.c_str()) : -1;
}

Pipe::Pipe(const char* command) noexcept {
    ShellText sh(command);
    if (sh.ok()) reset(::popen(sh.c_str(), "re"));
}

bool read_output(const char* command, char* buf, std::size_t size) noexcept {
    if (!buf || size == 0) return false;
    buf[0] = '\0';
    Pipe pipe(command);
    if (!pipe) return false;
    const std::size_t n = std::fread(buf, 1, size - 1, pipe.get());
    buf[n] = '\0';
    return true;
}

bool write_all(int fd, const void* data, std::size_t len) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t done = 0; done < len;) {
        const ssize_t n = ::write(fd, bytes + done, len - done);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

Clock& clock() noexcept {
    Clock* c = g_clock.load(std::memory_order_acquire);
    return c ? *c : g_real_clock.clock;
}

void set_clock(Clock* c) noexcept { g_clock.store(c, std::memory_order_release); }

void sleep_on_clock(long long want_ms, long step_ms, long long max_sleeps, Steps steps) noexcept {
    const timeval start = time_of_day();
    const long long want_us = want_ms * 1000;
    long long left_us = want_us;
    for (long long n = 0; n < max_sleeps && left_us > 0; ++n) {
        const long long left_ms = (left_us + 999) / 1000;
        sleep_ms(static_cast<long>(steps == Steps::kWhole ? step_ms : std::min<long long>(left_ms, step_ms)));
        const timeval now = time_of_day();
        const long long elapsed_us = (static_cast<long long>(now.tv_sec) - start.tv_sec) * 1000000 +
                                     (static_cast<long long>(now.tv_usec) - start.tv_usec);
        if (elapsed_us < 0) return;  // the clock went back
        left_us = want_us - elapsed_us;
    }
}

void sleep_seconds(unsigned seconds) noexcept {
    constexpr long kLongestSleep = 1000L * 1000 * 1000;  // fits a 32-bit long
    constexpr long long kSleepsMax = 100;
    sleep_on_clock(static_cast<long long>(seconds) * 1000, kLongestSleep, kSleepsMax, Steps::kUpToWhatIsLeft);
}

}  // namespace bsp::os
