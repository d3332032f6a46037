// The receiver's sentence parser: cuts a batch into NMEA sentences, checks each one, and reads what
// the GGA, RMC, GSA and GSV sentences say. It keeps nothing and prints nothing.
#include <algorithm>
#include <array>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "gps/nmea.h"

namespace bsp::gps::nmea {
namespace {

constexpr std::size_t kFieldMax = 99;  // characters of the 100-byte field buffer

// ---- cutting ---------------------------------------------------------------------------------

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

}  // namespace

// A sentence broken by a "$" before its "*" is dropped and the cut restarts at that "$". After a
// sentence, the cut resumes just past its checksum digits, not past its line end, so a sentence
// glued onto a damaged one is still found. A sentence unfinished at the end of the batch is dropped
// with the batch.
bool Cutter::next(Sentence& out) noexcept {
    for (;;) {
        const std::size_t dollar = dollars_.next(scan_);
        if (dollar == batch_.npos) return false;
        scan_ = dollar + 1;
        const std::size_t star = stars_.next(scan_);
        if (star == batch_.npos) return false;  // no later "$" has a "*" either
        if (const std::size_t next = dollars_.next(scan_); next < star) {
            scan_ = next;
            continue;
        }
        const std::size_t eol = line_ends_.next(dollar + 1);
        if (eol == batch_.npos) return false;  // nor a line end
        scan_ = star + 3;
        // The sentence must fit the 200-byte sentence buffer with its terminator (which also keeps
        // its "*" within 200 characters of the "$"); a longer one is damaged or glued to others and
        // is skipped, never cut short. Its line end must follow the checksum digits, and a zero
        // byte never belongs to a sentence.
        const std::size_t length = eol - dollar;
        if (length > kSentenceMax || eol < star + 3) continue;
        const Sentence s{batch_.substr(dollar, length), star - dollar};
        if (s.text.find('\0') != s.text.npos || !checksum_ok(s)) continue;
        out = s;
        return true;
    }
}

namespace {

// ---- fields ----------------------------------------------------------------------------------

// Field k of a sentence is the text between its k-th and (k+1)-th comma (field 0 is the address);
// a field with no comma after it (the last one, before the "*") reads as empty. A field is read
// as at most kFieldMax characters.
class Fields {
  public:
    explicit Fields(const Sentence& s) noexcept : text_(s.text), star_(s.star) {
        // Locals, not the members: a store into the offsets may alias any of them.
        const char* text = s.text.data();
        const std::size_t size = s.text.size();
        int n = 0;
        for (std::size_t i = 0; i < size; ++i)
            if (text[i] == ',') comma_[n++] = static_cast<std::uint8_t>(i);
        commas_ = n;
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

// ---- sentence readers ------------------------------------------------------------------------

System system_of(std::string_view talker) noexcept {
    if (talker == "GP") return System::kGps;
    return talker == "BD" ? System::kBeidou : System::kNone;
}

// The CN0 of satellite block i of a GSV, when the block has elevation and azimuth and a CN0 text.
// The last block's CN0 has no comma after it: then the text up to the "*" is taken, which for a
// block inside the sentence starts with a comma and so reads 0.
bool block_cn0(const Fields& f, int i, std::int32_t& cn0) noexcept {
    int at = 4 * i + 7;
    if (f[at - 2].empty() || f[at - 1].empty()) return false;
    std::string_view text = f[at].empty() ? f.up_to_star(at) : f[at];
    if (text.empty()) return false;
    cn0 = leading_digits(text);
    return true;
}

// GSV: satellites in view. Message 1 starts a cycle; the last message of the cycle ends it.
//   $GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D
//   field 1 total 2, 2 number 1, 3 in view 07; block i at 4i+4: 03,45,120,40 (identifier,
//   elevation, azimuth, CN0); the last block's CN0 42 stands before the "*", not a comma
void read_gsv(const Sentence& s, const Fields& f, Reading& r) noexcept {
    r.kind = Reading::Kind::kSatellitesInView;
    r.system = system_of(s.talker());
    r.total = to_int(f[1]);
    r.sent_number = to_int(f[2]);
    r.new_cycle = r.sent_number == 1;
    // A message number outside 1-9 is taken as 0: no slots, and no end of cycle unless total is 0.
    r.message = r.sent_number >= 1 && r.sent_number <= kGsvMessagesMax ? r.sent_number : 0;
    r.cycle_end = r.message == r.total;
    r.blocks = std::min((f.commas() - 3) / kSatsPerGsv, kBlocksMax);
    // The identifiers are traced whatever the system; the numbers are read only where they are kept.
    const bool kept = r.system != System::kNone;
    if (kept) r.in_view = field_float(f[3]);
    const bool fills = kept && r.message != 0;
    for (int i = 0; i < r.blocks; ++i) {
        Satellite& sat = r.satellites[static_cast<std::size_t>(i)];
        const std::string_view id = f[4 * i + 4];
        sat.id_at = id.data();
        sat.id_size = static_cast<std::uint8_t>(id.size());  // a field holds at most 99 characters
        if (!fills || id.empty()) continue;
        sat.id = to_int(id);
        sat.has_cn0 = block_cn0(f, i, sat.cn0);
    }
}

// GSA: satellites used, the identifier fields that are not empty among fields 3 to commas - 4
// (twelve with the system-ID field of NMEA 4.1, eleven without).
//   $GPGSA,A,3,25,32,14,12,,,,,,,,,2.1,1.1,1.8,1.2*39
//   18 commas: identifiers in fields 3 to 14 (25, 32, 14, 12 and eight empty), used = 4
void read_gsa(const Sentence& s, const Fields& f, Reading& r) noexcept {
    r.system = system_of(s.talker());
    if (r.system == System::kNone) return;
    int used = 0;
    for (int k = 3; k <= f.commas() - 4; ++k) used += f[k].empty() ? 0 : 1;
    r.kind = Reading::Kind::kSatellitesUsed;
    r.used = static_cast<float>(used);
}

// RMC: the position, unless the status says "V" (no fix).
//   $GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*54
//   field 2 status A, 3 latitude 2236.12345, 5 longitude 11356.78901
void read_rmc(const Sentence&, const Fields& f, Reading& r) noexcept {
    if (f[2] == "V") return;
    r.kind = Reading::Kind::kPosition;
    r.lat = coordinate(f[3], 2);
    r.lon = coordinate(f[5], 3);
    r.has_high = false;
}

// GGA: position and height (altitude plus geoid separation), unless the latitude is empty.
//   $GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50
//   field 2 latitude 2236.12345, 4 longitude 11356.78901, 9 altitude 56.7, 11 separation -2.1
void read_gga(const Sentence&, const Fields& f, Reading& r) noexcept {
    if (f[2].empty()) return;
    r.kind = Reading::Kind::kPosition;
    r.lat = coordinate(f[2], 2);
    r.lon = coordinate(f[4], 3);
    r.has_high = true;
    r.high = field_float(f[9]) + field_float(f[11]);
}

// min_fields: the fields, each closed by its comma, that the reader needs; a sentence cut short
// before them is damaged and reads as nothing.
struct Kind {
    std::string_view type;
    int min_fields;
    void (*read)(const Sentence&, const Fields&, Reading&) noexcept;
};
constexpr std::array<Kind, 4> kKinds{{
    {"GSV", 3, read_gsv},   // total and message number
    {"GSA", 7, read_gsa},   // at least one identifier field
    {"RMC", 6, read_rmc},   // up to the longitude
    {"GGA", 12, read_gga},  // up to the geoid separation
}};

}  // namespace

Reading read_sentence(const Sentence& s) noexcept {
    Reading r;
    auto k = std::find_if(kKinds.begin(), kKinds.end(), [&](const Kind& kind) { return kind.type == s.type(); });
    if (k == kKinds.end()) return r;
    const Fields fields(s);
    if (fields.commas() >= k->min_fields) k->read(s, fields, r);
    return r;
}

}  // namespace bsp::gps::nmea
