// The GPS fix record STR_GPS_INFO, its lock, and the satellite-signal text built from it: the
// owner applies what the sentence parser read and hands out consistent copies.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <mutex>
#include <span>
#include <string_view>

#include "base/decimal.h"
#include "gps/gps.h"
#include "gps/nmea.h"

namespace bsp::gps {
namespace {

using Record = STR_GPS_INFO_T;
using SignalText = std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE>;

// Appends items while they fit in the text; the first item that does not fit ends it, so the text
// is always a whole prefix of the full listing.
class Appender {
  public:
    explicit Appender(std::span<char, SDK_BSP_GPS_DB_TEXT_SIZE> text) noexcept : text_(text) {
        std::fill(text_.begin(), text_.end(), '\0');
    }
    void put(std::string_view s) noexcept {
        if (full_ || s.size() >= text_.size() - len_) {
            full_ = true;
            return;
        }
        std::memcpy(text_.data() + len_, s.data(), s.size());
        len_ += s.size();
    }
    // The number as "%d;" writes it. The text is rebuilt after every GSV cycle, a few times a
    // second: formatted here, not by snprintf, which would cost more than the whole parse.
    void item(std::int32_t v) noexcept {
        constexpr std::size_t kItemMax = kIntTextMax + 1;
        std::array<char, kItemMax> b;
        // Straight into the text while a longest item and the terminator still fit.
        const bool room = !full_ && text_.size() - len_ > kItemMax;
        char* at = room ? text_.data() + len_ : b.data();
        std::size_t n = format_int(at, v);
        at[n++] = ';';
        if (room) len_ += n;
        else put({at, n});
    }

  private:
    std::span<char, SDK_BSP_GPS_DB_TEXT_SIZE> text_;
    std::size_t len_ = 0;
    bool full_ = false;
};

struct SystemText {
    std::string_view head;
    std::int32_t (STR_GPS_INFO_T::*ids)[SDK_BSP_GPS_SLOTS];
    std::int32_t (STR_GPS_INFO_T::*cn0)[SDK_BSP_GPS_SLOTS];
};
constexpr std::array<SystemText, 2> kSystemTexts{{
    {"GPS,卫星标识=", &STR_GPS_INFO_T::gps_id, &STR_GPS_INFO_T::gps_cn0},
    {"\r\n,BD,卫星标识=", &STR_GPS_INFO_T::bd_id, &STR_GPS_INFO_T::bd_cn0},
}};

// The slots, count fields and the used count of a satellite system.
struct SystemFields {
    std::int32_t (Record::*ids)[SDK_BSP_GPS_SLOTS];
    std::int32_t (Record::*cn0)[SDK_BSP_GPS_SLOTS];
    float Record::*in_view;
    float Record::*used;
};
constexpr SystemFields kGpsFields{&Record::gps_id, &Record::gps_cn0, &Record::gpslook, &Record::gpsnum};
constexpr SystemFields kBeidouFields{&Record::bd_id, &Record::bd_cn0, &Record::bdlook, &Record::bdnum};

const SystemFields* fields_of(nmea::System system) noexcept {
    switch (system) {
        case nmea::System::kGps: return &kGpsFields;
        case nmea::System::kBeidou: return &kBeidouFields;
        case nmea::System::kNone: break;
    }
    return nullptr;
}

// A GSV's satellites: message 1 clears the system's slots; message n fills slots 4(n-1) onwards.
void apply_satellites(const nmea::Reading& r, const SystemFields& sys, Record& rec) noexcept {
    auto& ids = rec.*sys.ids;
    auto& cn0 = rec.*sys.cn0;
    if (r.new_cycle) std::memset(ids, 0, sizeof ids), std::memset(cn0, 0, sizeof cn0);
    for (int i = 0; r.message != 0 && i < r.blocks; ++i) {
        const nmea::Satellite& sat = r.satellites[static_cast<std::size_t>(i)];
        const int slot = nmea::kSatsPerGsv * (r.message - 1) + i;
        if (sat.id_size == 0 || slot >= SDK_BSP_GPS_SLOTS) continue;
        ids[slot] = sat.id;
        if (sat.has_cn0) cn0[slot] = sat.cn0;
    }
    rec.*sys.in_view = r.in_view;
}

// The record's lock, its signal text and the text's flag (1 once the text is built). Only this
// object writes STR_GPS_INFO and the text, each under the lock, held only to copy values in or out
// (never while printing, running a command or taking another lock), so that lat and lon are never
// seen half written.
class FixRecord {
  public:
    void apply(const nmea::Reading& r) noexcept {
        // A GSV of no known system keeps nothing, yet may end a cycle.
        if (r.system != nmea::System::kNone || r.kind == nmea::Reading::Kind::kPosition) {
            std::lock_guard lock(lock_);
            apply_reading(r, STR_GPS_INFO);
        }
        if (r.kind == nmea::Reading::Kind::kSatellitesInView && r.cycle_end) rebuild_signal_text();
    }
    Fix fix() noexcept {
        std::lock_guard lock(lock_);
        const Record& r = STR_GPS_INFO;
        return {r.lon, r.lat, r.high, r.gpslook, r.gpsnum, r.bdlook, r.bdnum};
    }
    void reset() noexcept {
        std::lock_guard lock(lock_);
        STR_GPS_INFO = Record{};
    }
    void arm_clear() noexcept {
        std::lock_guard lock(lock_);
        STR_GPS_INFO.clear = 1;
    }
    bool take_clear_request() noexcept {
        std::lock_guard lock(lock_);
        if (STR_GPS_INFO.clear != 1) return false;
        STR_GPS_INFO = Record{};
        return true;
    }
    std::size_t copy_signal_text(char* out, std::size_t size) noexcept {
        std::lock_guard lock(lock_);
        build();
        const std::size_t n = std::min(std::strlen(text_.data()), size - 1);
        std::memcpy(out, text_.data(), n);
        out[n] = '\0';
        return n;
    }
    char* rebuild_signal_text() noexcept {
        std::lock_guard lock(lock_);
        build();
        return text_.data();
    }
    int take_signal_flag() noexcept { return built_.exchange(0) == 1 ? 1 : 0; }

  private:
    // The caller holds the lock.
    void build() noexcept {
        built_.store(1);
        build_signal_text(STR_GPS_INFO, text_);
    }

    std::mutex lock_;
    SignalText text_{};
    std::atomic<int> built_{0};
};

constinit FixRecord g_record;

}  // namespace

void apply_reading(const nmea::Reading& r, STR_GPS_INFO_T& rec) noexcept {
    using Kind = nmea::Reading::Kind;
    const SystemFields* sys = fields_of(r.system);
    switch (r.kind) {
        case Kind::kSatellitesInView:
            if (sys) apply_satellites(r, *sys, rec);
            break;
        case Kind::kSatellitesUsed:
            if (sys) rec.*sys->used = r.used;
            break;
        case Kind::kPosition:
            rec.lat = r.lat, rec.lon = r.lon;
            if (r.has_high) rec.high = r.high;
            break;
        case Kind::kNothing: break;
    }
}

void build_signal_text(const STR_GPS_INFO_T& rec, std::span<char, SDK_BSP_GPS_DB_TEXT_SIZE> out) noexcept {
    Appender text(out);
    for (const SystemText& sys : kSystemTexts) {
        const auto& ids = rec.*sys.ids;
        const auto& cn0 = rec.*sys.cn0;
        std::array<std::uint8_t, SDK_BSP_GPS_SLOTS> listed;  // the slots whose identifier is > 0
        std::size_t n = 0;
        for (std::size_t slot = 0; slot < std::size(ids); ++slot)
            if (ids[slot] > 0) listed[n++] = static_cast<std::uint8_t>(slot);
        text.put(sys.head);
        for (std::size_t k = 0; k < n; ++k) text.item(ids[listed[k]]);
        text.put(",CN0=");
        for (std::size_t k = 0; k < n; ++k) text.item(cn0[listed[k]]);
    }
}

void apply(const nmea::Reading& r) noexcept { g_record.apply(r); }
Fix fix() noexcept { return g_record.fix(); }
void reset_record() noexcept { g_record.reset(); }
void arm_clear() noexcept { g_record.arm_clear(); }
bool take_clear_request() noexcept { return g_record.take_clear_request(); }

std::size_t copy_signal_text(char* out, std::size_t size) noexcept {
    return out && size != 0 ? g_record.copy_signal_text(out, size) : 0;
}

char* rebuild_signal_text() noexcept { return g_record.rebuild_signal_text(); }
int take_signal_flag() noexcept { return g_record.take_signal_flag(); }

}  // namespace bsp::gps
