// The GPS receiver's stream: cuts a batch into NMEA sentences, checks each one, and keeps what the
// GGA, RMC, GSA and GSV sentences say in the fix record.
#include <algorithm>
#include <array>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "decimal.h"
#include "gps/gps.h"

namespace bsp::gps {
namespace {

using Record = STR_GPS_INFO_T;

constexpr int kBatchMin = 1025;            // smaller batches are left to gather
constexpr std::size_t kSentenceMax = 199;  // characters of the 200-byte sentence buffer
constexpr std::size_t kFieldMax = 99;      // characters of the 100-byte field buffer
constexpr int kGsvMessagesMax = 9;         // GSV messages 1-9 fill slots; others store nothing
constexpr int kSatsPerGsv = 4;

// ---- cutting ---------------------------------------------------------------------------------

// The next occurrence of a text in the batch at or after a position. The positions asked for never
// decrease, so the last answer is reused while it still lies ahead: the whole cut stays linear.
class Finder {
  public:
    Finder(std::string_view batch, std::string_view what) noexcept : batch_(batch), what_(what) {}
    std::size_t next(std::size_t from) noexcept {
        if (fresh_ || at_ < from) at_ = batch_.find(what_, from);
        fresh_ = false;
        return at_;
    }

  private:
    std::string_view batch_, what_;
    std::size_t at_ = 0;
    bool fresh_ = true;
};

// One sentence: from its "$" up to (not including) its "\r\n"; star is the offset of its "*".
struct Sentence {
    std::string_view text;
    std::size_t star;
    std::string_view talker() const noexcept { return text.substr(1, 2); }
    std::string_view type() const noexcept { return text.substr(3, 3); }
};

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// The exclusive-or of the bytes, taken eight at a time: folding the 64-bit exclusive-or of the
// words gives that of their bytes, whatever the byte order.
unsigned xor_bytes(std::string_view t) noexcept {
    std::uint64_t words = 0;
    std::size_t i = 0;
    for (; i + 8 <= t.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, t.data() + i, 8);
        words ^= w;
    }
    for (; i < t.size(); ++i) words ^= static_cast<unsigned char>(t[i]);
    words ^= words >> 32;
    words ^= words >> 16;
    words ^= words >> 8;
    return static_cast<unsigned>(words & 0xFF);
}

// The exclusive-or of the characters between "$" and "*", as two upper-case hexadecimal digits.
bool checksum_ok(const Sentence& s) noexcept {
    unsigned sum = xor_bytes(s.text.substr(1, s.star - 1));
    return s.text[s.star + 1] == kHexDigits[sum >> 4] && s.text[s.star + 2] == kHexDigits[sum & 0xF];
}

void dispatch(const Sentence& s) noexcept;

// Cuts the batch into sentences by its byte count, not by its first zero byte: CASIC receivers mix
// binary messages (zero bytes, stray "$" and "*") into the stream. A sentence broken by a "$"
// before its "*" is dropped and the cut restarts at that "$". After a sentence, the cut resumes
// just past its checksum digits, not past its line end, so a sentence glued onto a damaged one is
// still found. A sentence unfinished at the end of the batch is dropped with the batch.
void cut_sentences(std::string_view batch) noexcept {
    Finder dollars(batch, "$"), stars(batch, "*"), line_ends(batch, "\r\n");
    std::size_t scan = 0;
    for (;;) {
        std::size_t dollar = dollars.next(scan);
        if (dollar == batch.npos) return;
        scan = dollar + 1;
        std::size_t star = stars.next(scan);
        if (star == batch.npos) return;  // no later "$" has a "*" either
        if (std::size_t next = dollars.next(scan); next < star) {
            scan = next;
            continue;
        }
        scan = star + 1;
        std::size_t eol = line_ends.next(dollar + 1);
        if (eol == batch.npos) return;  // nor a line end
        scan = star + 3;
        // The sentence must fit the 200-byte sentence buffer with its terminator (which also keeps
        // its "*" within 200 characters of the "$"); a longer one is damaged or glued to others and
        // is skipped, never cut short. Its line end must follow the checksum digits, and a zero
        // byte never belongs to a sentence.
        std::size_t length = eol - dollar;
        if (length > kSentenceMax || eol < star + 3) continue;
        Sentence s{batch.substr(dollar, length), star - dollar};
        if (s.text.find('\0') != s.text.npos || !checksum_ok(s)) continue;
        dispatch(s);
    }
}

// ---- fields ----------------------------------------------------------------------------------

// Field k of a sentence is the text between its k-th and (k+1)-th comma (field 0 is the address);
// a field with no comma after it (the last one, before the "*") reads as empty. A field is read
// as at most kFieldMax characters.
class Fields {
  public:
    explicit Fields(const Sentence& s) noexcept : text_(s.text), star_(s.star) {
        for (std::size_t i = 0; i < text_.size(); ++i)
            if (text_[i] == ',') comma_[commas_++] = static_cast<std::uint8_t>(i);
    }
    int commas() const noexcept { return commas_; }
    std::string_view operator[](int k) const noexcept {
        if (k < 0 || k >= commas_) return {};
        return cut(k == 0 ? 0 : comma_[k - 1] + 1u, comma_[k]);
    }
    // The text from the k-th comma's next character up to the "*"; empty when the "*" comes first.
    std::string_view up_to_star(int k) const noexcept {
        if (k < 1 || k > commas_ || comma_[k - 1] + 1u >= star_) return {};
        return cut(comma_[k - 1] + 1u, star_);
    }

  private:
    std::string_view cut(std::size_t from, std::size_t to) const noexcept {
        return text_.substr(from, std::min(to - from, kFieldMax));
    }
    static_assert(kSentenceMax <= UINT8_MAX + 1);
    std::string_view text_;
    std::size_t star_;
    std::array<std::uint8_t, kSentenceMax> comma_;  // offsets of the commas
    int commas_ = 0;
};

// ---- numbers: as the C library's atoi and atof read them, without locale --------------------

constexpr bool is_blank(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Leading blanks and one sign; returns true for "-".
bool take_sign(std::string_view& t) noexcept {
    while (!t.empty() && is_blank(t.front())) t.remove_prefix(1);
    bool negative = !t.empty() && t.front() == '-';
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) t.remove_prefix(1);
    return negative;
}

// The leading decimal digits as an integer (0 when there are none), saturated to the int range.
int leading_digits(std::string_view t, bool negative = false) noexcept {
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long v = 0;
    for (char c : t) {
        if (!is_digit(c)) break;
        v = std::min(v * 10 + (c - '0'), kLimit);
    }
    return static_cast<int>(negative ? -v : std::min<long long>(v, INT_MAX));
}

int to_int(std::string_view t) noexcept {
    bool negative = take_sign(t);
    return leading_digits(t, negative);
}

// A decimal number: digits with at most one point, read as strtod reads it in the C locale
// (whatever locale the host has set), and rounded as exactly for up to 15 significant digits and
// 22 decimals (the receiver sends at most 10 digits); longer ones come out within a rounding step.
// The receiver sends no exponents, so none is read. Text that does not start as one reads as 0.
double to_double(std::string_view t) noexcept {
    constexpr std::uint64_t kMantissaMax = 100000000000000000;  // 10^17: the digits beyond are dropped
    bool negative = take_sign(t), digits = false, point = false;
    std::uint64_t mantissa = 0;
    int exp10 = 0;
    for (char c : t) {
        if (c == '.' && !point) {
            point = true;
        } else if (is_digit(c)) {
            digits = true;
            if (mantissa < kMantissaMax) {
                mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
                exp10 -= point ? 1 : 0;
            } else {
                exp10 += point ? 0 : 1;
            }
        } else {
            break;
        }
    }
    if (!digits) return 0;
    double scale = 1;  // powers of ten are exact up to 10^22; a field holds at most 99 digits
    for (int i = 0; i < (exp10 < 0 ? -exp10 : exp10); ++i) scale *= 10;
    double v = exp10 < 0 ? static_cast<double>(mantissa) / scale : static_cast<double>(mantissa) * scale;
    return negative ? -v : v;
}

float to_float(double v) noexcept {
    constexpr double kMax = FLT_MAX;  // beyond it the conversion is undefined
    return static_cast<float>(std::clamp(v, -kMax, kMax));
}
float field_float(std::string_view t) noexcept { return to_float(to_double(t)); }

// ddmm.mmmm (2 degree digits) or dddmm.mmmm (3): degrees + minutes / 60, each part and the
// result in single precision, then widened. The hemisphere is not applied.
double coordinate(std::string_view text, std::size_t degree_digits) noexcept {
    degree_digits = std::min(degree_digits, text.size());
    float degrees = field_float(text.substr(0, degree_digits));
    float minutes = field_float(text.substr(degree_digits));
    return static_cast<double>(degrees + minutes / 60.0f);
}

// ---- traces ----------------------------------------------------------------------------------

// The parser's traces on standard output, gathered and written a sentence at a time: the same
// bytes one printf per trace would write, without the cost of formatting each (the GSV traces run
// to a dozen lines a second). Written when full and when done, so any size serves; 256 bytes hold
// a GSV sentence's usual four satellites.
class Trace {
  public:
    Trace() noexcept = default;
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    ~Trace() { flush(); }

    Trace& operator<<(std::string_view s) noexcept {
        if (s.size() > buf_.size() - len_) flush();
        if (s.size() > buf_.size()) {
            std::fwrite(s.data(), 1, s.size(), stdout);
            return *this;
        }
        std::memcpy(buf_.data() + len_, s.data(), s.size());
        len_ += s.size();
        return *this;
    }
    // As "%d" writes it.
    Trace& operator<<(int v) noexcept {
        std::array<char, kIntTextMax> b;
        return *this << std::string_view(b.data(), format_int(b.data(), v));
    }
    void flush() noexcept {
        if (len_ != 0) std::fwrite(buf_.data(), 1, len_, stdout);
        len_ = 0;
    }

  private:
    std::array<char, 256> buf_;
    std::size_t len_ = 0;
};

// ---- sentence handlers -----------------------------------------------------------------------

// The satellite systems, by talker; other talkers store nothing.
struct System {
    std::string_view talker;
    std::int32_t (Record::*ids)[SDK_BSP_GPS_SLOTS];
    std::int32_t (Record::*cn0)[SDK_BSP_GPS_SLOTS];
    float Record::*in_view;
    float Record::*used;
};
constexpr std::array<System, 2> kSystems{{
    {"GP", &Record::gps_id, &Record::gps_cn0, &Record::gpslook, &Record::gpsnum},
    {"BD", &Record::bd_id, &Record::bd_cn0, &Record::bdlook, &Record::bdnum},
}};

const System* system_of(std::string_view talker) noexcept {
    auto sys = std::find_if(kSystems.begin(), kSystems.end(), [&](const System& s) { return s.talker == talker; });
    return sys == kSystems.end() ? nullptr : &*sys;
}

// The CN0 of satellite block i of a GSV, when the block has elevation and azimuth and a CN0 text.
// The last block's CN0 has no comma after it: then the text up to the "*" is taken, which for a
// block inside the sentence starts with a comma and so reads 0.
bool block_cn0(const Fields& f, int i, int& cn0) noexcept {
    int at = 4 * i + 7;
    if (f[at - 2].empty() || f[at - 1].empty()) return false;
    std::string_view text = f[at].empty() ? f.up_to_star(at) : f[at];
    if (text.empty()) return false;
    cn0 = leading_digits(text);
    return true;
}

// GSV: satellites in view. Message 1 starts a cycle and clears the system's slots; the last
// message of the cycle rebuilds the satellite-signal text.
//   $GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D
//   field 1 total 2, 2 number 1, 3 in view 07; block i at 4i+4: 03,45,120,40 (identifier,
//   elevation, azimuth, CN0); the last block's CN0 42 stands before the "*", not a comma
void on_gsv(const Sentence& s, const Fields& f) noexcept {
    int total = to_int(f[1]), number = to_int(f[2]);
    Trace trace;
    trace << "GPS_CMD_NUM :GPS_CMD_NUM=" << number << ",/" << total << "\r\n";
    bool new_cycle = number == 1;
    // A message number outside 1-9 is taken as 0: no slots, and no end of cycle unless total is 0.
    if (number < 1 || number > kGsvMessagesMax) number = 0;
    int blocks = (f.commas() - 3) / kSatsPerGsv;

    for (int i = 0; i < blocks; ++i) {
        std::string_view id = f[4 * i + 4];
        if (!id.empty()) trace << "Read_a_info 标识：" << id << "\r\n";
    }
    trace.flush();  // printed before the record's lock is taken
    if (const System* sys = system_of(s.talker())) {
        update_record([&](Record& r) {
            auto& ids = r.*sys->ids;
            auto& cn0 = r.*sys->cn0;
            if (new_cycle) std::memset(ids, 0, sizeof ids), std::memset(cn0, 0, sizeof cn0);
            for (int i = 0; number != 0 && i < blocks; ++i) {
                std::string_view id = f[4 * i + 4];
                int slot = kSatsPerGsv * (number - 1) + i;
                if (id.empty() || slot >= SDK_BSP_GPS_SLOTS) continue;
                ids[slot] = to_int(id);
                block_cn0(f, i, cn0[slot]);
            }
            r.*sys->in_view = field_float(f[3]);
        });
    }
    if (number == total) rebuild_signal_text();
}

// GSA: satellites used, the identifier fields that are not empty among fields 3 to commas - 4
// (twelve with the system-ID field of NMEA 4.1, eleven without).
//   $GPGSA,A,3,25,32,14,12,,,,,,,,,2.1,1.1,1.8,1.2*39
//   18 commas: identifiers in fields 3 to 14 (25, 32, 14, 12 and eight empty), used = 4
void on_gsa(const Sentence& s, const Fields& f) noexcept {
    const System* sys = system_of(s.talker());
    if (!sys) return;
    int used = 0;
    for (int k = 3; k <= f.commas() - 4; ++k) used += f[k].empty() ? 0 : 1;
    update_record([&](Record& r) { r.*sys->used = static_cast<float>(used); });
}

// RMC: the position, unless the status says "V" (no fix).
//   $GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*54
//   field 2 status A, 3 latitude 2236.12345, 5 longitude 11356.78901
void on_rmc(const Sentence&, const Fields& f) noexcept {
    if (f[2] == "V") return;
    double lat = coordinate(f[3], 2), lon = coordinate(f[5], 3);
    update_record([&](Record& r) { r.lat = lat, r.lon = lon; });
}

// GGA: position and height (altitude plus geoid separation), unless the latitude is empty.
//   $GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50
//   field 2 latitude 2236.12345, 4 longitude 11356.78901, 9 altitude 56.7, 11 separation -2.1
void on_gga(const Sentence&, const Fields& f) noexcept {
    if (f[2].empty()) return;
    double lat = coordinate(f[2], 2), lon = coordinate(f[4], 3);
    float high = field_float(f[9]) + field_float(f[11]);
    update_record([&](Record& r) { r.lat = lat, r.lon = lon, r.high = high; });
}

// min_fields: the fields, each closed by its comma, that the handler reads; a sentence cut short
// before them is damaged and ignored.
struct Handler {
    std::string_view type;
    int min_fields;
    void (*handle)(const Sentence&, const Fields&) noexcept;
};
constexpr std::array<Handler, 4> kHandlers{{
    {"GSV", 3, on_gsv},   // total and message number
    {"GSA", 7, on_gsa},   // at least one identifier field
    {"RMC", 6, on_rmc},   // up to the longitude
    {"GGA", 12, on_gga},  // up to the geoid separation
}};

void dispatch(const Sentence& s) noexcept {
    auto h = std::find_if(kHandlers.begin(), kHandlers.end(), [&](const Handler& k) { return k.type == s.type(); });
    if (h == kHandlers.end()) return;
    Fields fields(s);
    if (fields.commas() >= h->min_fields) h->handle(s, fields);
}

// Takes a pending clear request, zeroing the record with it.
bool take_clear_request() noexcept {
    bool taken = false;
    update_record([&](Record& r) {
        if (r.clear != 1) return;
        r = Record{};
        taken = true;
    });
    return taken;
}

}  // namespace

int parse_batch(const char* text, int count) noexcept {
    if (!text || count < kBatchMin) return -1;
    if (take_clear_request()) {
        remove_gps_files();
        std::printf("______清空GPS数据流_____");
        return 0;
    }
    Trace() << "______GPS 数据梳理---" << count << "\r\n";
    cut_sentences({text, static_cast<std::size_t>(count)});
    return 0;
}

}  // namespace bsp::gps
