// The configuration reader: the query split, the option search over a package text, the heap
// copies of package files, and the directory listing. The positioning-mode code reads the vqm
// package through copy_ram_value (after free_copies). The exported reader calls are forwarders to
// these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::uci {

// "uci get package.section.option": each part is copied into a 50-byte buffer; the section goes
// between single quotes and the option between two spaces into 50-byte pattern buffers, so a
// section or option name holds at most 47 characters, a package name 49.
constexpr std::string_view kQueryPrefix = "uci get ";
constexpr std::size_t kNameBuffer = 50;
constexpr std::size_t kPackageMax = kNameBuffer - 1;
constexpr std::size_t kPatternNameMax = kNameBuffer - 3;
// The longest query that can be answered; the caller's text is not scanned further than this.
constexpr std::size_t kQueryMax = kQueryPrefix.size() + kPackageMax + 1 + 2 * kPatternNameMax + 1;

// The value found, zero-terminated: at most 99 characters (a longer value is cut).
constexpr std::size_t kResultBuffer = 100;
// The directory listing, zero-terminated.
constexpr std::size_t kListBuffer = 10000;

// Package files live in /etc/config (under SDK_BSP_ROOT when rooted).
constexpr std::string_view kConfigDir = "/etc/config/";
// The box's package files are a few KiB. A bigger file counts as unreadable, so that one broken
// file cannot take a large share of the host's memory. (A choice: nothing on the box comes near.)
constexpr std::int64_t kFileMax = 1024 * 1024;

struct Query {
    std::string_view package, section, option;
};

// Splits a query. False when it does not begin with "uci get ", has fewer than two dots after
// it, or a part is empty or longer than its buffer allows.
bool split_query(std::string_view query, Query& out) noexcept;

// The value of option in the named section of a zero-terminated package text, found by a plain
// substring search (not a parser); empty when there is none. The value points into the text.
std::string_view find_option(const char* text, std::string_view section, std::string_view option) noexcept;

// The size of a regular file from its status, or -1 when it cannot be examined or is no regular
// file (a FIFO would block the reader, a directory cannot be read).
std::int64_t regular_file_size(const char* path) noexcept;
// Opens /etc/config/<package> read-only; -1 on failure.
int open_package(std::string_view package) noexcept;

// The value for a query from the copies of six packages (loaded on first use), in the reader's
// result buffer: "" when there is none. The buffer is shared: copy the text out before the next call.
char* get_ram(const char* query) noexcept;
// get_ram's answer copied into out under the reader's lock, for the library's own lookups: they
// leave the shared result buffer to the host.
void copy_ram_value(const char* query, std::span<char, kResultBuffer> out) noexcept;
// The value for a query read from the package file afresh, in a result buffer of its own.
char* get_flash(const char* query) noexcept;
// Drops the copies; the next get_ram loads them again.
void free_copies() noexcept;
// The names in a directory, one a line, in a shared buffer; null when it cannot be opened.
char* list_dir(const char* path) noexcept;

// A package file read whole onto the heap, zero-terminated (one byte more than the file), so the
// searches stop at its end. Empty when the file cannot be read.
class Text {
  public:
    static Text read_package(std::string_view package) noexcept;
    // The text ("" when not loaded); a search stops at its first NUL byte.
    const char* c_str() const noexcept { return buf_ ? buf_.get() : ""; }
    bool loaded() const noexcept { return buf_ != nullptr; }
    void reset() noexcept { buf_.reset(); }

  private:
    struct Free {
        void operator()(char* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<char, Free> buf_;
};

}  // namespace bsp::uci
