// sdk-shell: calls the library's exported functions from text, one call per line.
//
//   sdk-shell [--result-fd N] [SCRIPT]
//
// Reads SCRIPT (or standard input). Each line is a function name and its arguments:
//   42  -7  0x1F        integers
//   "text\r\n"          a string (escapes \" \\ \r \n \t \xHH)
//   null                a null pointer
//   hex:616263          bytes
//   buf:N               an output buffer of N bytes (reported as a string)
//   bytes:N             an output buffer of N bytes (reported as hex:, cut to a count result)
//   out:int             an output integer
//   out:float           an output float (reported with "%g")
// and is answered with one line on the result channel (file descriptor N, default 2, unbuffered,
// because the library prints on standard output):
//   NAME -> RESULT [OUTPUT...]          e.g.  ReadFSUResource -> 0 "[\"Local/Uart/1\",...]"
//                                       (a returned text is the RESULT: quoted, or null)
//   NAME !! REASON                      the line could not be called
// Built-ins: "sleep MS", "echo TEXT" (copied to the result channel), "#" comments, and
// "parallel COUNT LINE | LINE ..." (each line COUNT times in its own thread, all at once; one result
// line when all are done).
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "shell.h"

namespace shell {

Table& table() {
    static Table t;
    return t;
}

const char* Call::s(std::size_t k) const {
    auto* str = std::get_if<std::string>(&args_[k]);
    return str ? str->c_str() : nullptr;
}
const unsigned char* Call::x(std::size_t k) const {
    auto* b = std::get_if<Bytes>(&args_[k]);
    return b ? b->bytes.data() : nullptr;
}
int Call::x_len(std::size_t k) const {
    auto* b = std::get_if<Bytes>(&args_[k]);
    return b ? static_cast<int>(b->bytes.size()) : 0;
}
char* Call::b(std::size_t k) const {
    auto* buf = std::get_if<OutBuffer>(&args_[k]);
    return buf ? buf->bytes.data() : nullptr;
}
unsigned char* Call::o(std::size_t k) const {
    auto* buf = std::get_if<OutBytes>(&args_[k]);
    return buf ? buf->bytes.data() : nullptr;
}
int* Call::p(std::size_t k) const {
    auto* out = std::get_if<OutInt>(&args_[k]);
    return out ? &out->value : nullptr;
}
float* Call::f(std::size_t k) const {
    auto* out = std::get_if<OutFloat>(&args_[k]);
    return out ? &out->value : nullptr;
}

}  // namespace shell

namespace {

using namespace shell;

int g_result_fd = 2;

void report(const std::string& line) {
    std::string out = line + "\n";
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
        ssize_t n = ::write(g_result_fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

std::string quote(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> parse_string(std::string_view line, size_t& at) {
    std::string s;
    for (++at; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"') {
            ++at;
            return s;
        }
        if (c != '\\') {
            s += c;
            continue;
        }
        if (++at >= line.size()) return std::nullopt;
        switch (line[at]) {
            case 'r': s += '\r'; break;
            case 'n': s += '\n'; break;
            case 't': s += '\t'; break;
            case 'x': {
                int hi = at + 2 < line.size() ? hex_digit(line[at + 1]) : -1;
                int lo = hi >= 0 ? hex_digit(line[at + 2]) : -1;
                if (lo < 0) return std::nullopt;
                s += static_cast<char>(hi * 16 + lo);
                at += 2;
                break;
            }
            default: s += line[at];
        }
    }
    return std::nullopt;
}

std::optional<Arg> parse_word(std::string_view w) {
    if (w == "null") return Null{};
    if (w == "out:int") return OutInt{};
    if (w == "out:float") return OutFloat{};
    if (w.starts_with("buf:") || w.starts_with("bytes:")) {
        bool text = w.starts_with("buf:");
        long n = std::strtol(std::string(w.substr(text ? 4 : 6)).c_str(), nullptr, 10);
        if (n <= 0 || n > (1 << 24)) return std::nullopt;
        if (text) return OutBuffer{std::vector<char>(static_cast<size_t>(n), '\0')};
        return OutBytes{std::vector<unsigned char>(static_cast<size_t>(n), 0)};
    }
    if (w.starts_with("hex:")) {
        Bytes b;
        std::string_view h = w.substr(4);
        if (h.size() % 2) return std::nullopt;
        for (size_t i = 0; i < h.size(); i += 2) {
            int hi = hex_digit(h[i]), lo = hex_digit(h[i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            b.bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
        }
        return b;
    }
    std::string text(w);
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end || errno) return std::nullopt;
    return v;
}

// Splits a line into its name and arguments; nullopt on a malformed argument.
std::optional<std::vector<Arg>> parse_args(std::string_view line, size_t at) {
    std::vector<Arg> args;
    while (true) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        if (at >= line.size()) return args;
        if (line[at] == '"') {
            auto s = parse_string(line, at);
            if (!s) return std::nullopt;
            args.emplace_back(std::move(*s));
            continue;
        }
        size_t end = line.find_first_of(" \t", at);
        if (end == std::string_view::npos) end = line.size();
        auto a = parse_word(line.substr(at, end - at));
        if (!a) return std::nullopt;
        args.push_back(std::move(*a));
        at = end;
    }
}

bool fits(char sig, const Arg& a) {
    switch (sig) {
        case 'i': return std::holds_alternative<long long>(a);
        case 's': return std::holds_alternative<std::string>(a) || std::holds_alternative<Null>(a);
        case 'x': return std::holds_alternative<Bytes>(a) || std::holds_alternative<Null>(a);
        case 'b': return std::holds_alternative<OutBuffer>(a) || std::holds_alternative<Null>(a);
        case 'o': return std::holds_alternative<OutBytes>(a) || std::holds_alternative<Null>(a);
        case 'p': return std::holds_alternative<OutInt>(a) || std::holds_alternative<Null>(a);
        case 'f': return std::holds_alternative<OutFloat>(a) || std::holds_alternative<Null>(a);
        case 'v': return std::holds_alternative<long long>(a) || std::holds_alternative<std::string>(a);
    }
    return false;
}

bool matches(std::string_view sig, const std::vector<Arg>& args) {
    bool variadic = sig.ends_with('v');
    size_t fixed = variadic ? sig.size() - 1 : sig.size();
    if (args.size() < fixed || (!variadic && args.size() > fixed)) return false;
    for (size_t k = 0; k < args.size(); ++k)
        if (!fits(k < fixed ? sig[k] : 'v', args[k])) return false;
    return true;
}

std::string hex(const std::vector<unsigned char>& bytes, std::size_t count) {
    std::string out = "hex:";
    char two[3];
    for (std::size_t k = 0; k < count; ++k) {
        std::snprintf(two, sizeof two, "%02X", bytes[k]);
        out += two;
    }
    return out;
}

std::string outputs(const std::vector<Arg>& args, const Result& result) {
    std::string out;
    for (const Arg& a : args) {
        if (auto* buf = std::get_if<OutBuffer>(&a)) {
            out += " " + quote(std::string_view(buf->bytes.data(), strnlen(buf->bytes.data(), buf->bytes.size())));
        } else if (auto* bytes = std::get_if<OutBytes>(&a)) {
            bool count = result && *result >= 0 && static_cast<std::size_t>(*result) <= bytes->bytes.size();
            out += " " + hex(bytes->bytes, count ? static_cast<std::size_t>(*result) : bytes->bytes.size());
        } else if (auto* v = std::get_if<OutInt>(&a)) {
            out += " " + std::to_string(v->value);
        } else if (auto* fv = std::get_if<OutFloat>(&a)) {
            char text[32];
            std::snprintf(text, sizeof text, "%g", static_cast<double>(fv->value));
            out += " " + std::string(text);
        }
    }
    return out;
}

// Runs one call line; returns its result line ("" for a blank line or a comment).
std::string run_line(std::string_view line);

// "parallel COUNT LINE | LINE | ...": each line COUNT times in a thread of its own, all at once.
std::string run_parallel(std::string_view rest) {
    char* end = nullptr;
    std::string text(rest);
    long count = std::strtol(text.c_str(), &end, 10);
    if (count <= 0 || end == text.c_str()) return "parallel !! parallel COUNT LINE | LINE ...";
    std::vector<std::string> lines;
    for (std::string_view all = end; !all.empty();) {
        size_t bar = all.find(" | ");
        lines.emplace_back(all.substr(0, bar));
        all = bar == std::string_view::npos ? std::string_view{} : all.substr(bar + 3);
    }
    std::vector<std::thread> threads;
    std::atomic<long> failed{0};
    for (const std::string& l : lines)
        threads.emplace_back([&failed, &l, count] {
            for (long k = 0; k < count; ++k)
                if (run_line(l).find(" -> ") == std::string::npos) ++failed;
        });
    for (auto& t : threads) t.join();
    return failed ? "parallel !! " + std::to_string(failed.load()) + " calls failed" : "parallel -> done";
}

std::string run_line(std::string_view line) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] == '#') return "";
    size_t end = line.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = line.size();
    std::string name(line.substr(start, end - start));
    std::string_view rest = line.substr(std::min(line.size(), end + 1));

    if (name == "echo") return std::string(rest);
    if (name == "parallel") return run_parallel(rest);
    auto args = parse_args(line, end);
    if (!args) return name + " !! malformed argument";
    if (name == "sleep") {
        if (args->size() != 1 || !std::holds_alternative<long long>((*args)[0])) return "sleep !! sleep MS";
        std::this_thread::sleep_for(std::chrono::milliseconds(std::get<long long>((*args)[0])));
        return "sleep -> void";
    }
    auto fn = table().find(name);
    if (fn == table().end()) return name + " !! unknown function";
    if (!matches(fn->second.sig, *args)) return name + " !! arguments do not match (" + fn->second.sig + ")";
    Result result = fn->second.call(Call(*args));
    std::string shown = result ? std::to_string(*result) : std::string("void");
    if (!args->empty()) {
        if (auto* t = std::get_if<ReturnedText>(&args->back())) shown = t->text ? quote(*t->text) : "null";
    }
    return name + " -> " + shown + outputs(*args, result);
}

void execute(std::string_view line) {
    std::string result = run_line(line);
    if (!result.empty()) report(result);
}

}  // namespace

int main(int argc, char** argv) {
    // The library's own prints go to standard output; unbuffered, so they interleave with the
    // results in the order they happen.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const char* script = nullptr;
    for (int k = 1; k < argc; ++k) {
        std::string_view a = argv[k];
        if (a == "--result-fd" && k + 1 < argc) {
            g_result_fd = std::atoi(argv[++k]);
        } else if (a == "--help" || a == "-h") {
            std::fprintf(stderr, "usage: sdk-shell [--result-fd N] [SCRIPT]\n");
            return 0;
        } else {
            script = argv[k];
        }
    }
    std::FILE* in = script ? std::fopen(script, "r") : stdin;
    if (!in) {
        std::perror(script);
        return 2;
    }
    char* line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, in)) >= 0) {
        std::string_view l(line, static_cast<size_t>(n));
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.remove_suffix(1);
        execute(l);
    }
    std::free(line);
    // The library's threads run until the process ends: leave without running exit handlers and
    // static destructors under them.
    std::fflush(nullptr);
    _exit(0);
}
