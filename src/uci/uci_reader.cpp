// The configuration reader: answers "uci get package.section.option" from the box's UCI files by a
// plain text search, from heap copies of six packages or from the file afresh; and a small
// directory listing beside it.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/os.h"
#include "uci/uci.h"

namespace bsp::uci {
namespace {

constexpr auto npos = std::string_view::npos;

// uci writes each section header as the word config, the type and the quoted name.
constexpr const char* kSectionWord = "config";

bool fits(std::string_view name, std::size_t max) noexcept { return !name.empty() && name.size() <= max; }

// A name with a delimiter on each side, built in a 50-byte buffer as the box does.
class Pattern {
  public:
    Pattern(char edge, std::string_view name) noexcept {
        if (!fits(name, kPatternNameMax)) return;
        buf_[0] = edge;
        std::memcpy(buf_.data() + 1, name.data(), name.size());
        buf_[name.size() + 1] = edge;
        len_ = name.size() + 2;
    }
    bool ok() const noexcept { return len_ > 0; }
    const char* c_str() const noexcept { return buf_.data(); }
    std::size_t size() const noexcept { return len_; }

  private:
    std::array<char, kNameBuffer> buf_{};
    std::size_t len_ = 0;
};

// The value in single quotes that the rest of an option line begins with, after blanks. An
// option written without quotes (hand-edited files) has no value here, rather than whatever
// quoted text comes next; nor has one whose closing quote is missing (a file cut short).
std::string_view quoted_value(const char* rest) noexcept {
    const char* open = rest + std::strspn(rest, " \t");
    if (*open != '\'') return {};
    const char* close = std::strchr(open + 1, '\'');
    if (!close) return {};
    return {open + 1, static_cast<std::size_t>(close - open - 1)};
}

// "/etc/config/<package>": 12 characters and a package of at most 49.
using PackagePath = std::array<char, 64>;
static_assert(kConfigDir.size() + kPackageMax + 1 <= PackagePath{}.size());

bool package_path(std::string_view package, PackagePath& path) noexcept {
    if (!fits(package, kPackageMax)) return false;
    std::memcpy(path.data(), kConfigDir.data(), kConfigDir.size());
    std::memcpy(path.data() + kConfigDir.size(), package.data(), package.size());
    path[kConfigDir.size() + package.size()] = '\0';
    return true;
}

// Reads up to size bytes (fewer when the file has shrunk since its size was taken).
bool read_whole(int fd, char* buf, std::size_t size, std::size_t& got) noexcept {
    got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool split_query(std::string_view query, Query& out) noexcept {
    out = {};
    if (!query.starts_with(kQueryPrefix)) return false;
    std::string_view rest = query.substr(kQueryPrefix.size());
    std::size_t dot1 = rest.find('.');
    std::size_t dot2 = dot1 == npos ? npos : rest.find('.', dot1 + 1);
    if (dot2 == npos) return false;
    // The option is everything after the second dot, further dots included.
    Query q{rest.substr(0, dot1), rest.substr(dot1 + 1, dot2 - dot1 - 1), rest.substr(dot2 + 1)};
    // A name too long for its buffer gives no value: cut, it would name another option.
    if (!fits(q.package, kPackageMax) || !fits(q.section, kPatternNameMax) || !fits(q.option, kPatternNameMax))
        return false;
    out = q;
    return true;
}

// A substring search, not a parser: the first occurrence of the quoted section name starts the
// search, also one inside an earlier value; an option name between blanks inside a value of the
// same section is the match; a list yields its first item; an escaped quote ends the value.
std::string_view find_option(const char* text, std::string_view section, std::string_view option) noexcept {
    const Pattern quoted_section('\'', section), spaced_option(' ', option);
    if (!text || !quoted_section.ok() || !spaced_option.ok()) return {};
    const char* sec = std::strstr(text, quoted_section.c_str());
    if (!sec) return {};
    const char* opt = std::strstr(sec, spaced_option.c_str());
    if (!opt) return {};
    // A section header between the two: the option belongs to a later section.
    const char* next = std::strstr(sec, kSectionWord);
    if (next && next < opt) return {};
    return quoted_value(opt + spaced_option.size());
}

std::int64_t regular_file_size(const char* path) noexcept {
    struct stat st {};
    if (os::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

int open_package(std::string_view package) noexcept {
    PackagePath path;
    return package_path(package, path) ? os::open(path.data(), O_RDONLY | O_CLOEXEC) : -1;
}

Text Text::read_package(std::string_view package) noexcept {
    Text text;
    PackagePath path;
    if (!package_path(package, path)) return text;
    std::int64_t size = regular_file_size(path.data());
    if (size < 0 || size > kFileMax) return text;
    auto n = static_cast<std::size_t>(size);
    text.buf_.reset(static_cast<char*>(std::malloc(n + 1)));
    const os::Fd fd(open_package(package));
    std::size_t got = 0;
    if (!text.buf_ || !fd || !read_whole(fd.get(), text.buf_.get(), n, got)) {
        text.reset();
        return text;
    }
    text.buf_.get()[got] = '\0';
    return text;
}

namespace {

// The packages get_ram holds copies of, in their load order.
constexpr std::array<std::string_view, 6> kRamPackages{"Device", "vqm", "EnvironmentPar", "monitor", "network", "ks"};

// The caller's text, scanned no further than one character past the longest query that can be
// answered: a longer one then fails the split, as one of its parts is too long.
std::string_view query_text(const char* query) noexcept {
    return query ? std::string_view(query, strnlen(query, kQueryMax + 1)) : std::string_view{};
}

char* answer(std::span<char> result, const char* text, const Query& q) noexcept {
    std::string_view value = find_option(text, q.section, q.option);
    std::size_t n = std::min(value.size(), result.size() - 1);  // a longer value is cut to 99 characters
    std::copy_n(value.begin(), n, result.begin());
    result[n] = '\0';
    return result.data();
}

// The copies of the six packages get_ram searches, loaded by its first call and kept until
// free_copies, with the lock around loading, freeing and searching them, so that no call (the
// positioning-mode code's included) frees a copy under another thread's search. The lock is held
// for one load and one search: a few KiB of strstr. Only this object holds or frees the copies.
class PackageCopies {
  public:
    // The value for a query into out (empty when there is none).
    char* search(const char* query, std::span<char, kResultBuffer> out) noexcept {
        std::lock_guard lock(lock_);
        std::fill(out.begin(), out.end(), '\0');
        Query q;
        const bool ok = split_query(query_text(query), q);
        if (!loaded_) {
            loaded_ = true;
            load();
        }
        auto pkg = std::find(kRamPackages.begin(), kRamPackages.end(), q.package);
        if (!ok || pkg == kRamPackages.end()) return out.data();
        return answer(out, text_[static_cast<std::size_t>(pkg - kRamPackages.begin())].c_str(), q);
    }
    void free() noexcept {
        std::lock_guard lock(lock_);
        if (!loaded_) return;
        // Every copy is dropped, so a later load that stops early leaves no freed buffer in use.
        for (Text& t : text_) t.reset();
        loaded_ = false;
    }

  private:
    // In the load order; the first file that cannot be read stops the loading, leaving it and the
    // packages after it without a copy.
    void load() noexcept {
        for (std::size_t k = 0; k < kRamPackages.size(); ++k) {
            text_[k] = Text::read_package(kRamPackages[k]);
            if (!text_[k].loaded()) return;
        }
    }

    std::mutex lock_;
    std::array<Text, kRamPackages.size()> text_;
    bool loaded_ = false;
};
constinit PackageCopies g_copies;

// The result buffers handed to hosts: the result is the caller's to copy out before its next call,
// as the box has always had it.
std::array<char, kResultBuffer> g_ram_result{};
std::array<char, kResultBuffer> g_flash_result{};
std::array<char, kListBuffer> g_list{};

}  // namespace

void copy_ram_value(const char* query, std::span<char, kResultBuffer> out) noexcept { g_copies.search(query, out); }

char* get_ram(const char* query) noexcept { return g_copies.search(query, g_ram_result); }

// An unreadable file gives the empty result, like a missing option: never null.
char* get_flash(const char* query) noexcept {
    g_flash_result.fill('\0');
    Query q;
    if (!split_query(query_text(query), q)) return g_flash_result.data();
    const Text text = Text::read_package(q.package);  // freed on return
    return answer(g_flash_result, text.c_str(), q);
}

void free_copies() noexcept { g_copies.free(); }

char* list_dir(const char* path) noexcept {
    g_list.fill('\0');
    if (!path) return nullptr;
    const os::Dir dir(os::opendir(path));
    if (!dir) {
        std::printf("can't open %s\n", path);
        return nullptr;
    }
    std::size_t len = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::size_t n = std::strlen(entry->d_name);
        // Stop at the first name that would not fit with its newline and the terminator.
        if (len + n + 2 > g_list.size()) break;
        std::memcpy(g_list.data() + len, entry->d_name, n);
        len += n;
        g_list[len++] = '\n';
    }
    return g_list.data();
}

}  // namespace bsp::uci
