// The modem queries: one AT conversation each (echo off, signal, registration, IMSI, IMEI, hang-up,
// restart, position), whose answer the pure answer readers below read and the query keeps in the
// modem record. A query holds the channel from opening the port to closing it.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/hex.h"
#include "base/log.h"
#include "base/texts.h"
#include "com/power_codec.h"
#include "lte/lte.h"
#include "os/os.h"

namespace bsp::lte {
namespace {

// One query's exchange: command, expected prefix, variant, lines tolerated, seconds per line.
struct Query {
    const char* command;
    const char* prefix;
    Variant variant;
    int maxlines;
    int seconds;
};
constexpr Query kEchoOff{"ATE0", "OK", Variant::kRead, 2, 1};
constexpr Query kSignal{"AT+CSQ", "+CSQ", Variant::kRead, 2, 1};
constexpr Query kSysinfo{"AT^SYSINFO", "^SYSINFO", Variant::kRead, 2, 2};
constexpr Query kImsi{"AT+CIMI", "OK", Variant::kRead1, 2, 2};
constexpr Query kImei{"AT+CGSN", "OK", Variant::kReadCimi, 4, 1};
constexpr Query kHangUp{"ATH", "OK", Variant::kRead, 1, 1};
constexpr Query kRestart{"AT+CFUN=1,1", "OK", Variant::kRead, 2, 1};
constexpr Query kImsiPrefixed{"AT+CIMI", "+CIMI: ", Variant::kRead, 2, 2};
constexpr Query kPosition{com::kPositionQueryFrame.data(), "~", Variant::kRead, 2, 1};

constexpr std::size_t kPrefixMax = 16;  // the longest prefix above, "^SYSINFO", and room to spare
constexpr int kNoNumber = -999;         // csq_strength's "no usable answer"
constexpr unsigned kNoServiceWaitSeconds = 2;

// The channel, held from opening the AT device to closing it.
class Session {
  public:
    explicit Session(const char* atdev) noexcept : lock_(channel_lock()) {
        // A copy of the path, taken under the record's lock: it is often NTU.atdev itself, which
        // detection rewrites. A path too long for the seam is not opened.
        std::array<char, os::kPathMax + 1> path{};
        const bool fits = atdev && copy_text(path.data(), path.size(), atdev, path.size()) < os::kPathMax;
        open_ = fits && open_at_port(path.data()) == 0;
    }
    ~Session() { close_at_port(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool open() const noexcept { return open_; }
    int run(const Query& q, char* dst) const noexcept {
        std::array<char, kPrefixMax> prefix{};  // the exchange upper-cases it in place
        std::strncpy(prefix.data(), q.prefix, prefix.size() - 1);
        return exchange(q.variant, q.command, prefix.data(), dst, q.maxlines, q.seconds);
    }

  private:
    std::unique_lock<std::mutex> lock_;
    bool open_ = false;
};

// A query that only wants "OK": 1 done, -1 not.
int command_only(const Query& q, const char* atdev) noexcept {
    Session s(atdev);
    return s.open() && s.run(q, out_put()) == kMatched ? 1 : -1;
}

// ---- signal strength ----

// The dBm of a received strength indicator r, by band: a table, not a rule (15 gives -72, 16 -73).
struct Band {
    int low, high, offset;
};
constexpr Band kBands[] = {{4, 9, -103}, {10, 15, -87}, {16, 21, -89}, {22, 27, -85}, {28, INT_MAX, -85}};
constexpr int kUnknownStrength = 99;
constexpr const char* kNoSignal = "-107";


// ---- registration ----

struct NetworkType {
    int mode;
    const char* text;
};
constexpr NetworkType kNetworkTypes[] = {
    {0, "NOSERVICE"}, {2, "CDMA"}, {3, "GSM/GPRS"}, {4, "EVDO"}, {5, "WCDMA"}, {15, "TD-SCDMA"}, {9, "LTE"}, {17, "LTE"},
};

const char* network_type(int mode) noexcept {
    for (const NetworkType& t : kNetworkTypes)
        if (t.mode == mode) return t.text;
    return "";
}

const char* sim_state(int state) noexcept {
    if (state == 1) return "SIM_OK";
    return state == 0 || state == 255 ? "SIMOVER" : "";
}

// ---- IMEI ----

constexpr std::size_t kImeiDigits = 15;

// The forms of the collected "AT+CGSN" answer, tried in order; the first whose markers occur
// decides. The candidate runs from its start to the first `end` at or after it.
struct ImeiForm {
    enum Start { kAfterMarker, kAfterAlso, kAfterEcho, kWhole };
    using Print = ImeiAnswer::Print;
    std::string_view marker;
    std::string_view also;  // a second text that must occur too ("" for none)
    std::string_view end;
    Start start;
    bool hexadecimal;   // the candidate is a hexadecimal number, stored as 15 decimal digits
    bool end_required;  // a quoted form without its closing quote stores nothing
    Print print;
};
using enum ImeiAnswer::Print;
constexpr ImeiForm kImeiForms[] = {
    {"+CGSN:\"", "", "\"OK", ImeiForm::kAfterMarker, false, true, kQuotedBare},
    {"+CGSN: \"", "", "\"OK", ImeiForm::kAfterMarker, false, true, kQuotedSpaced},
    {"+CGSN: ", "", "OK", ImeiForm::kAfterMarker, false, false, kImeiOnly},
    {"+CGSN:", "", "OK", ImeiForm::kAfterMarker, false, false, kImeiOnly},
    {"AT+CGSN", "0X", "OK", ImeiForm::kAfterAlso, true, false, kNone},
    {"AT+CGSN", "", "OK", ImeiForm::kAfterEcho, false, false, kNone},
    {"OK", "", "OK", ImeiForm::kWhole, false, false, kImeiOnly},
};

bool occurs(std::string_view text, std::string_view part) noexcept { return part.empty() || text.find(part) != text.npos; }

std::uint64_t hex_value(std::string_view text) noexcept;

// What the form finds.
ImeiAnswer read_imei_form(const ImeiForm& f, std::string_view text) noexcept {
    std::size_t from = 0;
    switch (f.start) {
        case ImeiForm::kAfterMarker: from = text.find(f.marker) + f.marker.size(); break;
        case ImeiForm::kAfterAlso: from = text.find(f.also) + f.also.size(); break;
        case ImeiForm::kAfterEcho: from = f.marker.size(); break;  // the echo opens the text
        case ImeiForm::kWhole: from = 0; break;
    }
    from = std::min(from, text.size());
    const auto end = text.find(f.end, from);
    std::string_view candidate = text.substr(from, end == text.npos ? text.npos : end - from);
    ImeiAnswer a;
    a.found = true;
    a.print = f.print;
    a.candidate = candidate.size();
    a.shown = text.substr(text.find(f.marker), candidate.size() + f.marker.size());
    if (end == text.npos && f.end_required) {
        // no closing quote: the candidate has no end, so nothing is stored
    } else if (f.hexadecimal) {
        std::snprintf(a.imei.data(), a.imei.size(), "%015lld", static_cast<long long>(hex_value(candidate)));
        a.stored = true;
    } else if (candidate.size() == kImeiDigits) {
        std::memcpy(a.imei.data(), candidate.data(), candidate.size());
        a.stored = true;
    }
    return a;
}

// ---- numbers in answers ----

std::uint64_t hex_value(std::string_view text) noexcept {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t shift = 4 * (text.size() - 1 - i);
        // A digit shifted past 64 bits is lost, as in 64-bit arithmetic; the sign of -1 spreads.
        if (shift < 64) value |= static_cast<std::uint64_t>(static_cast<std::int64_t>(hex_char_value(text[i]))) << shift;
    }
    return value;
}

// The position answer's fields: characters at offset..offset+n of the line; characters beyond the
// end of a short line count 0 (hex_prefix_value stops at the terminator).
const char* field_at(std::string_view line, std::size_t offset) noexcept {
    return line.data() + std::min(offset, line.size());
}

constexpr std::size_t kPositionMin = 17;  // the shortest position answer taken
constexpr int kDecimals = 4;

}  // namespace

// ---- the answer readers: pure ----

Text signal_text(int r) noexcept {
    Text text{};
    std::snprintf(text.data(), text.size(), "%s", kNoSignal);
    for (const Band& b : kBands)
        if (r != kUnknownStrength && r >= b.low && r <= b.high) std::snprintf(text.data(), text.size(), "%d", r + b.offset);
    return text;
}

int csq_strength(char* line) noexcept {
    char* cur = line;
    int strength = 0, error_rate = 0;
    if (tok_start(&cur) < 0 || tok_next_int(&cur, &strength) < 0 || tok_next_int(&cur, &error_rate) < 0)
        return kNoNumber;
    return strength;
}

Registration read_registration_answer(char* line) noexcept {
    char* cur = line;
    if (tok_start(&cur) < 0) return {};
    // service status, service domain, roaming status, system mode, SIM state
    std::array<int, 5> v{};
    for (int& value : v)
        if (tok_next_int(&cur, &value) < 0) return {};
    const auto [service, domain, roaming, mode, sim] = v;
    (void)roaming;
    if (service < 1 || domain < 1) return {-1, sim_state(sim)};
    return {mode, network_type(mode)};
}

std::string_view imsi_of(std::string_view text) noexcept {
    constexpr std::string_view kEcho = "AT+CIMI";
    if (auto at = text.find(kEcho); at != text.npos) text.remove_prefix(at + kEcho.size());
    const auto ok = text.find("OK");
    if (ok == text.npos) return {};
    text = text.substr(0, ok);
    return text.size() > 10 ? text : std::string_view{};
}

std::string_view prefixed_imsi_of(std::string_view answer) noexcept {
    constexpr std::string_view kMarker = kImsiPrefixed.prefix;
    const auto at = answer.find(kMarker);
    const bool usable = answer.find("CIMI") != answer.npos && answer.size() > 10 && at != answer.npos;
    return usable ? answer.substr(at + kMarker.size()) : std::string_view{};
}

ImeiAnswer read_imei_answer(std::string_view text) noexcept {
    for (const ImeiForm& f : kImeiForms)
        if (occurs(text, f.marker) && occurs(text, f.also)) return read_imei_form(f, text);
    return {};
}

PositionAnswer read_position_answer(std::string_view line) noexcept {
    PositionAnswer p;
    if (line.size() < kPositionMin) return p;
    // "%d" of a 32-bit number and its point: at most 12 characters in the 20-byte fields.
    std::snprintf(p.lon.data(), p.lon.size(), "%d", hex_prefix_value(field_at(line, 15), 8));
    std::snprintf(p.lat.data(), p.lat.size(), "%d", hex_prefix_value(field_at(line, 23), 8));
    std::snprintf(p.high.data(), p.high.size(), "%d", hex_prefix_value(field_at(line, 31), 4));
    insert_point(p.lat.data(), kDecimals);
    insert_point(p.lon.data(), kDecimals);
    p.read = true;
    return p;
}

// ---- the queries ----

int echo_off(const char* atdev) noexcept { return command_only(kEchoOff, atdev); }

int hang_up(const char* atdev) noexcept { return command_only(kHangUp, atdev); }

int restart_module(const char* atdev) noexcept { return command_only(kRestart, atdev); }

int read_signal(const char* atdev) noexcept {
    Session s(atdev);
    if (!s.open()) return 0;
    if (s.run(kSignal, out_put()) != kMatched) return -1;
    const int r = csq_strength(out_put());
    set_text(Field::kCsq, signal_text(r).data());
    return r == kNoNumber ? 0 : 1;
}

int registration_mode(char* line) noexcept {
    const Registration r = read_registration_answer(line);
    if (r.netstate) set_text(Field::kNetstate, r.netstate);
    return r.mode;
}

int read_registration(const char* atdev) noexcept {
    int mode;
    {  // the port is closed before the pause, so that the channel is free during it
        Session s(atdev);
        if (!s.open() || s.run(kSysinfo, out_put()) != kMatched) return -1;
        mode = registration_mode(out_put());
    }
    if (mode > 0) return mode;
    os::sleep_seconds(kNoServiceWaitSeconds);  // not in service: the supervisor's pace slows down
    return -1;
}

void read_imsi(const char* atdev) noexcept {
    Session s(atdev);
    if (!s.open()) return;
    char* answer = out_put();
    std::memset(answer, 0, kAnswerSize);
    const int r = s.run(kImsi, answer);
    std::printf("AT+CIMI=%s\n", answer);
    // A text longer than the field (a prefixed "+CIMI: " answer) is cut to its 19 characters, as
    // every text of the record is: an IMSI is 15 digits, so a longer text is no plain IMSI anyway.
    if (r == kMatched) set_text(Field::kImsi, imsi_of(answer));
}

int read_imei(const char* atdev) noexcept {
    Session s(atdev);
    if (!s.open()) return 0;
    char* answer = out_put();
    std::memset(answer, 0, kAnswerSize);
    if (s.run(kImei, answer) != kMatched) return 0;
    const ImeiAnswer a = read_imei_answer(answer);
    if (!a.found) return 0;  // no form applies: imei stays
    set_text(Field::kImei, a.imei.data());
    const int shown = static_cast<int>(a.shown.size());
    if (a.print == kQuotedBare)
        std::printf("###############%.*s,strlen(&ptr1[7])=%d\n", shown, a.shown.data(), static_cast<int>(a.candidate));
    if (a.print == kQuotedSpaced) std::printf("###############%.*s\n", shown, a.shown.data());
    if (a.print != kNone) std::printf("NTU.imei=%s", a.imei.data());
    return a.stored ? 1 : 0;
}

void read_imsi_prefixed(const char* atdev) noexcept {
    Session s(atdev);
    if (!s.open()) return;
    const int r = s.run(kImsiPrefixed, out_put());
    std::printf("AT+CIMI=%s\n", out_put());
    const std::string_view answer(out_put());
    if (r == kMatched) set_text(Field::kImsi, prefixed_imsi_of(answer));
    // Whatever the exchange gave: the answer buffer holds the last answer the channel kept.
    set_word(Word::kCardstat, answer.find("4600") != answer.npos ? 1 : 0);
}

void read_position(const char* atdev) noexcept {
    Session s(atdev);
    if (!s.open() || s.run(kPosition, out_put()) != kMatched) return;
    const PositionAnswer p = read_position_answer(out_put());
    if (!p.read) return;
    set_position(p.lon, p.lat, p.high);
    base::log_write(kLogNet, texts::kModemPosition, p.lat.data(), p.lon.data(), p.high.data());
}

std::int64_t hex_to_int64(const char* text) noexcept {
    return text ? static_cast<std::int64_t>(hex_value(text)) : 0;
}

int hex_char_value(char c) noexcept {
    // Letters beyond F count on (g is 16, z 35), as the system's own conversion has it.
    return c >= 'g' && c <= 'z' ? c - 'a' + 10 : base::hex_digit(c);
}

int hex_prefix_value(const char* text, int n) noexcept {
    if (!text) return 0;
    std::uint32_t value = 0;  // modulo 2^32, as a 32-bit result
    bool ended = false;
    for (int i = 0; i < n; ++i) {
        ended = ended || text[i] == '\0';  // never read past the terminator
        const int digit = ended ? 0 : std::max(base::hex_digit(text[i]), 0);  // any other character counts 0
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return static_cast<int>(value);
}

void insert_point(char* text, int n) noexcept {
    if (!text || n < 0) return;
    const std::size_t len = std::strlen(text), decimals = static_cast<std::size_t>(n);
    if (len < decimals + 1) return;
    std::memmove(text + len - decimals + 1, text + len - decimals, decimals + 1);  // with the terminator
    text[len - decimals] = '.';
}

}  // namespace bsp::lte
