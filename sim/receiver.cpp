// The GPS/BeiDou receiver: the track's sentences, capture replay, pacing and $PCAS commands.
#include "sim/receiver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace sim {
namespace {

using namespace std::chrono_literals;

// The track: its origin, then three spots a few metres from it, each held for ten seconds. Each
// spot lies north and east of the origin by these minutes of arc, and this much higher.
struct Spot {
    double lat_min;
    double lon_min;
    double altitude;
};
constexpr std::array<Spot, 4> kTrack{{
    {0, 0, 0},
    {0.00017, 0.00024, 0.4},
    {0.00043, -0.00011, 0.2},
    {0.00026, -0.00039, -0.3},
}};
constexpr double kSeparation = -2.1;  // geoid separation, metres
constexpr std::size_t kEpochsPerFix = 10;

// cn0 0: in view but not tracked, sent with an empty CN0 field. The GPS sky's first message is
// the system's worked example of a GSV sentence.
struct Satellite {
    int id, elevation, azimuth, cn0;
    bool used;
};
constexpr std::array<Satellite, 7> kGpsSky{{
    {3, 45, 120, 40, true},
    {7, 30, 200, 38, true},
    {16, 10, 50, 0, false},
    {19, 60, 300, 42, true},
    {22, 25, 80, 35, true},
    {26, 55, 160, 44, true},
    {31, 40, 250, 39, true},
}};
constexpr std::array<Satellite, 7> kBeiDouSky{{
    {6, 60, 20, 33, true},
    {9, 48, 210, 36, true},
    {14, 52, 120, 41, true},
    {16, 35, 300, 30, true},
    {21, 20, 70, 0, false},
    {22, 70, 180, 45, true},
    {33, 15, 250, 25, false},
}};

// One satellite system as the receiver reports it: GSA and GSV under its own talker, with the
// NMEA 4.1 system ID at the end of GSA.
struct System {
    int mask;
    const char* talker;
    int system_id;
    std::span<const Satellite> sky;
};
const std::array<System, 2> kSystems{{
    {gnss::kGps, "GP", 1, kGpsSky},
    {gnss::kBeiDou, "BD", 4, kBeiDouSky},
}};
constexpr std::size_t kSatellitesPerGsv = 4;
constexpr std::size_t kGsaIds = 12;

// Capture talkers and the system each belongs to; other talkers (GN, GA, proprietary) always go.
struct Talker {
    std::string_view name;
    int mask;
};
constexpr std::array<Talker, 4> kTalkers{{
    {"GP", gnss::kGps}, {"BD", gnss::kBeiDou}, {"GB", gnss::kBeiDou}, {"GL", gnss::kGlonass}}};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    std::array<char, 160> buf{};
    std::snprintf(buf.data(), buf.size(), fmt, args...);
    return buf.data();
}

bool has_fix(int mode) { return (mode & (gnss::kGps | gnss::kBeiDou)) != 0; }

// The track's satellites of the systems a mode takes.
Sky sky_in(int mode) {
    Sky sky;
    for (const auto& s : kSystems) {
        if (!(mode & s.mask)) continue;
        sky.in_view += static_cast<int>(s.sky.size());
        sky.used += static_cast<int>(std::count_if(s.sky.begin(), s.sky.end(), [](const Satellite& x) { return x.used; }));
    }
    return sky;
}

// A spot of the track, in degrees.
Position spot(const Position& origin, std::size_t epoch) {
    const Spot& s = kTrack[(epoch / kEpochsPerFix) % kTrack.size()];
    return {origin.lat + s.lat_min / 60, origin.lon + s.lon_min / 60, origin.altitude + s.altitude};
}

// Degrees as NMEA writes them, "2236.12345,N": whole degrees in `digits` places, minutes to five
// decimals, the hemisphere from the sign.
std::string coordinate(double degrees, int digits, char positive, char negative) {
    const double minutes = std::round(std::abs(degrees) * 60 * 1e5) / 1e5;
    const double whole = std::floor(minutes / 60);
    return format("%0*d%08.5f,%c", digits, static_cast<int>(whole), minutes - whole * 60, degrees < 0 ? negative : positive);
}

const char* fix_talker(int mode) {
    if (mode == gnss::kGps) return "GP";
    if (mode == gnss::kBeiDou) return "BD";
    return "GN";
}

bool talker_wanted(std::string_view line, int mode) {
    if (line.size() < 3 || line[0] != '$') return true;
    for (const auto& t : kTalkers)
        if (line.substr(1, 2) == t.name) return (mode & t.mask) != 0;
    return true;
}

std::string gsa(const System& s) {
    std::string body = std::string(s.talker) + "GSA,A,3";
    std::size_t ids = 0;
    for (const auto& sat : s.sky) {
        if (!sat.used || ids == kGsaIds) continue;
        body += format(",%02d", sat.id);
        ++ids;
    }
    for (; ids < kGsaIds; ++ids) body += ",";
    return nmea::sentence(body + format(",1.6,0.9,1.3,%d", s.system_id));
}

std::string gsv(const System& s) {
    const std::size_t total = (s.sky.size() + kSatellitesPerGsv - 1) / kSatellitesPerGsv;
    std::string out;
    for (std::size_t m = 0; m < total; ++m) {
        std::string body = format("%sGSV,%zu,%zu,%02zu", s.talker, total, m + 1, s.sky.size());
        for (const auto& sat : s.sky.subspan(m * kSatellitesPerGsv).first(
                 std::min(kSatellitesPerGsv, s.sky.size() - m * kSatellitesPerGsv))) {
            body += format(",%02d,%02d,%03d,", sat.id, sat.elevation, sat.azimuth);
            if (sat.cn0) body += format("%02d", sat.cn0);
        }
        out += nmea::sentence(body);
    }
    return out;
}

}  // namespace

// ---- nmea

std::uint8_t nmea::checksum(std::string_view body) {
    std::uint8_t x = 0;
    for (char c : body) x = static_cast<std::uint8_t>(x ^ static_cast<std::uint8_t>(c));
    return x;
}

std::string nmea::sentence(std::string_view body) {
    return "$" + std::string(body) + format("*%02X\r\n", checksum(body));
}

bool nmea::checksum_ok(std::string_view text) {
    const auto star = text.rfind('*');
    if (text.empty() || text[0] != '$' || star == std::string_view::npos || text.size() != star + 3) return false;
    const int hi = hex_digit(text[star + 1]), lo = hex_digit(text[star + 2]);
    return hi >= 0 && lo >= 0 && (hi << 4 | lo) == checksum(text.substr(1, star - 1));
}

void nmea::SentenceCutter::feed(std::span<const std::uint8_t> bytes) { buf_.append(bytes.begin(), bytes.end()); }

std::optional<Sentence> nmea::SentenceCutter::next() {
    const auto start = buf_.find('$');
    junk_ += std::min(start, buf_.size());
    buf_.erase(0, start);
    if (buf_.empty()) return std::nullopt;
    auto end = buf_.find_first_of("$\n", 1);
    if (end == std::string::npos && buf_.size() < kMaxSentence) return std::nullopt;  // more to come
    if (end == std::string::npos || end > kMaxSentence || buf_[end] == '$') {
        end = std::min({end, kMaxSentence, buf_.size()});
        Sentence unfinished{buf_.substr(0, end), false};
        buf_.erase(0, end);
        return unfinished;
    }
    std::string text = buf_.substr(0, end);
    buf_.erase(0, end + 1);
    if (text.back() == '\r') text.pop_back();
    const bool ok = checksum_ok(text);
    return Sentence{std::move(text), ok};
}

// ---- GpsReceiver

GpsReceiver::GpsReceiver(GpsOptions options, TimePoint now)
    : opt_(std::move(options)), mode_(opt_.mode), next_epoch_(now), last_take_(now) {
    if (opt_.bytes_per_second < 1) throw std::invalid_argument("GPS pace below one byte a second");
    if (opt_.capture.empty()) return;
    std::ifstream in(opt_.capture, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read GPS capture " + opt_.capture.string());
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::size_t at = 0; at < data.size();) {
        auto end = data.find('\n', at);
        end = end == std::string::npos ? data.size() : end + 1;
        if (data[at] != '#') capture_.push_back(data.substr(at, end - at));
        at = end;
    }
    if (capture_.empty()) throw std::runtime_error("GPS capture " + opt_.capture.string() + " holds no data");
}

std::string GpsReceiver::epoch(std::size_t index, std::time_t utc) const {
    std::tm t{};
    gmtime_r(&utc, &t);
    std::array<char, 16> time{}, date{};
    std::strftime(time.data(), time.size(), "%H%M%S.00", &t);
    std::strftime(date.data(), date.size(), "%d%m%y", &t);
    const char* talker = fix_talker(mode_);
    if (!has_fix(mode_) || !opt_.fix)
        return nmea::sentence(format("%sGGA,%s,,,,,0,00,99.99,,,,,,", talker, time.data())) +
               nmea::sentence(format("%sRMC,%s,V,,,,,,,%s,,,N", talker, time.data(), date.data()));

    const Position p = spot(opt_.origin, index);
    const int used = sky_in(mode_).used;
    const std::string lat = coordinate(p.lat, 2, 'N', 'S');
    const std::string lon = coordinate(p.lon, 3, 'E', 'W');
    std::string out = nmea::sentence(format("%sGGA,%s,%s,%s,1,%02d,1.0,%.1f,M,%.1f,M,,", talker, time.data(),
                                            lat.c_str(), lon.c_str(), used, p.altitude, kSeparation));
    for (const auto& s : kSystems)
        if (mode_ & s.mask) out += gsa(s);
    for (const auto& s : kSystems)
        if (mode_ & s.mask) out += gsv(s);
    return out + nmea::sentence(format("%sRMC,%s,A,%s,%s,0.00,0.00,%s,,,A", talker, time.data(), lat.c_str(),
                                       lon.c_str(), date.data()));
}

void GpsReceiver::refill(TimePoint now) {
    const auto second = static_cast<std::size_t>(opt_.bytes_per_second);
    if (capture_.empty() || !opt_.fix) {
        if (now < next_epoch_) return;
        // A fix that the line could not carry yet is not sent: the receiver moves on.
        if (pending_.size() < second) pending_ += epoch(epochs_++, std::time(nullptr));
        next_epoch_ += 1s;
        if (next_epoch_ <= now) next_epoch_ = now + 1s;
        return;
    }
    // One second's worth ahead; a pass over the whole file that adds nothing ends the search.
    for (std::size_t tried = 0; pending_.size() < second && tried < capture_.size(); ++tried) {
        const std::string& line = capture_[next_line_];
        next_line_ = (next_line_ + 1) % capture_.size();
        if (!talker_wanted(line, mode_)) continue;
        pending_ += line;
        tried = 0;
    }
}

Bytes GpsReceiver::take(TimePoint now) {
    if (!opt_.enabled) return {};
    refill(now);
    const double second = opt_.bytes_per_second;
    credit_ = std::min(credit_ + second * std::chrono::duration<double>(now - last_take_).count(), second);
    last_take_ = now;
    const auto n = std::min(static_cast<std::size_t>(credit_), pending_.size());
    credit_ -= static_cast<double>(n);
    Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    pending_.erase(0, n);
    if (pending_.empty()) credit_ = 0;  // the line idles until the next fix
    return out;
}

GpsReceiver::TimePoint GpsReceiver::next_due() const {
    return opt_.enabled ? last_take_ + kChunkPeriod : TimePoint::max();
}

std::vector<Sentence> GpsReceiver::feed(std::span<const std::uint8_t> bytes) {
    static constexpr std::string_view kSetMode = "$PCAS04,", kSave = "$PCAS00";
    cutter_.feed(bytes);
    std::vector<Sentence> got;
    while (auto s = cutter_.next()) {
        if (s->checksum_ok) {
            const std::string_view body = std::string_view(s->text).substr(0, s->text.rfind('*'));
            if (body == kSave) {
                ++saves_;
                saved_mode_ = mode_;
            } else if (body.starts_with(kSetMode) && body.size() == kSetMode.size() + 1) {
                const int n = body.back() - '0';
                if (n >= 1 && n <= gnss::kAll) mode_ = n;
            }
        }
        got.push_back(std::move(*s));
    }
    return got;
}

std::optional<Position> GpsReceiver::position() const {
    if (!capture_.empty() || !has_fix(mode_) || !opt_.fix) return std::nullopt;
    return spot(opt_.origin, epochs_ ? epochs_ - 1 : 0);
}

std::optional<Sky> GpsReceiver::sky() const {
    if (!capture_.empty()) return std::nullopt;
    return has_fix(mode_) && opt_.fix ? sky_in(mode_) : Sky{};
}

void GpsReceiver::reconfigure(const GpsOptions& next, TimePoint now) {
    if (next.bytes_per_second < 1) throw std::invalid_argument("GPS pace below one byte a second");
    if (next.origin != opt_.origin) epochs_ = 0;
    if (next.enabled && !opt_.enabled) {  // nothing saved up while silent
        last_take_ = now;
        credit_ = 0;
    }
    mode_ = next.mode;
    opt_.enabled = next.enabled;
    opt_.bytes_per_second = next.bytes_per_second;
    opt_.fix = next.fix;
    opt_.origin = next.origin;
}

}  // namespace sim
