// The sysfs GPIO tree: exports, unexports and the line files, followed with inotify.
#include "sim/gpio.h"

#include "sim/io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>

namespace sim {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxLine = 1023;  // the numbers a sysfs export takes on the box's processor
constexpr std::size_t kMaxRead = 64;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::string s(kMaxRead, '\0');
    in.read(s.data(), static_cast<std::streamsize>(s.size()));
    s.resize(static_cast<std::size_t>(in.gcount()));
    return s;
}

void put(const fs::path& p, std::string_view text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// Replaces the file's text with `text` only while it still holds `expected` (or `expected` without
// its line end, as the host writes it), read and written through one descriptor, so that a host
// write landing meanwhile could be lost only within that instant.
void put_if(const fs::path& p, const std::string& expected, const std::string& text) {
    if (expected == text) return;
    io::Fd fd(::open(p.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) return;
    char now[kMaxRead];
    const ssize_t n = ::pread(fd.get(), now, sizeof now, 0);
    const std::string seen(now, n < 0 ? 0 : static_cast<std::size_t>(n));
    if (n < 0 || (seen != expected && seen + "\n" != expected)) return;
    if (::pwrite(fd.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
        (void)::ftruncate(fd.get(), static_cast<off_t>(text.size()));
}

// The word a file starts with, among `words` (tried in order); empty when none.
std::string_view leading(std::string_view text, std::initializer_list<std::string_view> words) {
    for (auto w : words)
        if (text.starts_with(w)) return w;
    return {};
}

std::string line_name(int n) { return "gpio" + std::to_string(n); }

// A line file's text as sysfs reads it back.
std::string clean_text(const GpioLine& l, std::string_view file) {
    if (file == "value") return std::to_string(l.value) + "\n";
    return (file == "direction" ? l.direction : l.edge) + "\n";
}

const Led* led_of(int gpio) {
    auto it = std::find_if(std::begin(kLeds), std::end(kLeds), [&](const Led& l) { return l.gpio == gpio; });
    return it == std::end(kLeds) ? nullptr : it;
}

std::string describe(int n, const GpioLine& l) {
    std::string s = line_name(n) + " " + l.direction + " " + std::to_string(l.value);
    if (const Led* led = led_of(n); led && l.direction == "out")
        s += std::string(" (LED ") + led->name + (l.value ? " dark)" : " lit)");
    return s;
}

// What a request file holds, emptied at once for the next write: the host's writes land at the
// start of the file whatever it held before. Emptied by path, not through a descriptor opened
// for writing, whose closing would be one more write to see.
std::string take_request(const fs::path& p) {
    std::string s = slurp(p);
    if (!s.empty() && ::truncate(p.c_str(), 0) != 0) s.clear();
    return s;
}

}  // namespace

std::optional<bool> led_lit(const std::map<int, GpioLine>& lines, int gpio) {
    auto it = lines.find(gpio);
    if (it == lines.end() || it->second.direction != "out") return std::nullopt;
    return it->second.value == 0;  // active low
}

GpioTree::GpioTree(const fs::path& dir, int inotify_fd) : class_dir_(dir / "sys/class/gpio"), inotify_(inotify_fd) {
    fs::create_directories(class_dir_);
    for (const auto& entry : fs::directory_iterator(class_dir_))
        if (entry.is_directory()) fs::remove_all(entry.path());  // lines an earlier box exported
    put(class_dir_ / "export", "");
    put(class_dir_ / "unexport", "");
    class_watch_ = inotify_add_watch(inotify_, class_dir_.c_str(), IN_CLOSE_WRITE);
    if (class_watch_ < 0) throw std::system_error(errno, std::generic_category(), "inotify_add_watch " + class_dir_.string());
}

bool GpioTree::on_event(const inotify_event& e, std::vector<std::string>& trace) {
    const std::string name = e.len ? e.name : "";
    if (e.wd == class_watch_) {
        if (e.mask & IN_CLOSE_WRITE) on_request(name, trace);
        return true;
    }
    auto w = watches_.find(e.wd);
    if (w == watches_.end()) return false;
    if (e.mask & IN_IGNORED) watches_.erase(w);
    else if (e.mask & IN_CLOSE_WRITE) on_line_file(w->second, name, trace);
    return true;
}

// A write to export or unexport: every number in it.
void GpioTree::on_request(const std::string& file, std::vector<std::string>& trace) {
    const bool exporting = file == "export";
    if (!exporting && file != "unexport") return;
    const std::string text = take_request(class_dir_ / file);
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t\r\n", at)) != std::string::npos) {
        const auto end = std::min(text.find_first_of(" \t\r\n", at), text.size());
        int n = -1;
        auto [ptr, ec] = std::from_chars(text.data() + at, text.data() + end, n);
        if (ec != std::errc() || ptr != text.data() + end || n < 0 || n > kMaxLine)
            trace.push_back("gpio: \"" + text.substr(at, end - at) + "\" written to " + file + " is no line number");
        else if (exporting)
            export_line(n, trace);
        else
            unexport_line(n, trace);
        at = end;
    }
}

void GpioTree::export_line(int n, std::vector<std::string>& trace) {
    if (lines_.count(n)) {
        trace.push_back(line_name(n) + " already exported");
        return;
    }
    // Made aside and renamed into place, so that the host never finds a half-made line, and
    // watched before the rename, so that no write of the host's goes unseen.
    const GpioLine fresh;
    const fs::path made = class_dir_ / ("." + line_name(n) + ".new"), line = class_dir_ / line_name(n);
    fs::remove_all(made);
    fs::create_directory(made);
    put(made / "value", std::to_string(fresh.value) + "\n");
    put(made / "direction", fresh.direction + "\n");
    put(made / "edge", fresh.edge + "\n");
    const int wd = inotify_add_watch(inotify_, made.c_str(), IN_CLOSE_WRITE);
    if (wd < 0) throw std::system_error(errno, std::generic_category(), "inotify_add_watch " + made.string());
    fs::remove_all(line);
    fs::rename(made, line);
    watches_[wd] = n;
    lines_[n] = fresh;
    trace.push_back(line_name(n) + " exported");
}

void GpioTree::preset(int n, const GpioLine& state, std::vector<std::string>& trace) {
    export_line(n, trace);
    lines_[n] = state;
    const fs::path dir = class_dir_ / line_name(n);
    put(dir / "value", std::to_string(state.value) + "\n");
    put(dir / "direction", state.direction + "\n");
    put(dir / "edge", state.edge + "\n");
    trace.push_back(describe(n, state));
}

void GpioTree::unexport_line(int n, std::vector<std::string>& trace) {
    if (!lines_.erase(n)) {
        trace.push_back(line_name(n) + " not exported, cannot unexport");
        return;
    }
    for (auto it = watches_.begin(); it != watches_.end(); ++it)
        if (it->second == n) {
            inotify_rm_watch(inotify_, it->first);
            watches_.erase(it);
            break;
        }
    fs::remove_all(class_dir_ / line_name(n));
    trace.push_back(line_name(n) + " unexported");
}

// A write to a line's value, direction or edge: read by its leading word and written back clean.
void GpioTree::on_line_file(int n, const std::string& file, std::vector<std::string>& trace) {
    auto it = lines_.find(n);
    if (it == lines_.end()) return;
    GpioLine& l = it->second;
    const GpioLine before = l;
    const fs::path dir = class_dir_ / line_name(n);
    const std::string text = slurp(dir / file);
    if (file == "value") {
        if (!text.empty() && text[0] >= '0' && text[0] <= '9') l.value = text[0] != '0';
    } else if (file == "direction") {
        // A file that reads clean is our own rewrite (or the same word again): no change, so
        // that rewriting "high" as "out" does not set the line to 0.
        const auto word = text == l.direction + "\n" ? std::string_view() : leading(text, {"high", "low", "out", "in"});
        if (!word.empty()) {
            l.direction = word == "in" ? "in" : "out";
            if (word != "in") l.value = word == "high";
        }
    } else if (file == "edge") {
        const auto word = leading(text, {"none", "rising", "falling", "both"});
        if (!word.empty()) l.edge = word;
    } else {
        return;
    }
    for (const char* name : {"value", "direction", "edge"}) {
        const std::string want = clean_text(l, name);
        if (name == file) {
            // The host's own word without its line end ("1", "out") is left as written, and so is
            // an empty file (a host write under way): rewriting either could land after the
            // host's next write and undo it.
            if (!text.empty() && text != want && text + "\n" != want) put_if(dir / name, text, want);
            continue;
        }
        // Another file is set clean only while it holds what the box wrote last: one the host has
        // written since has an event of its own still to come, which must find the host's text
        // ("out" then "1" written before the box saw either leaves the line at 1).
        put_if(dir / name, clean_text(before, name), want);
    }
    if (l.edge != before.edge) trace.push_back(line_name(n) + " edge " + l.edge);
    if (l.value != before.value || l.direction != before.direction) trace.push_back(describe(n, l));
}

}  // namespace sim
