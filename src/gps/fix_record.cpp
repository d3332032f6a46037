// The GPS fix record STR_GPS_INFO, its lock, and the satellite-signal text built from it.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "decimal.h"
#include "gps/gps.h"
#include "os/os.h"


namespace bsp::gps {
namespace {

std::mutex g_record_lock;

// The satellite-signal text and its flag: 1 once the text is built.
// The text is written only under the record's lock.
std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE> g_signal_text{};
std::atomic<int> g_signal_text_built{0};

constexpr std::size_t kRemoveCommandBuffer = 64;  // "rm /tmp/gps_*" and room to spare

// Appends items while they fit in the text; the first item that does not fit ends it, so the text
// is always a whole prefix of the full listing.
class Appender {
  public:
    explicit Appender(std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE>& text) noexcept : text_(text) { text_.fill('\0'); }
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
    std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE>& text_;
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

// Rebuilds the text from the record; the caller holds the record's lock.
void build_signal_text() noexcept {
    g_signal_text_built.store(1);
    Appender text(g_signal_text);
    for (const SystemText& sys : kSystemTexts) {
        const auto& ids = STR_GPS_INFO.*sys.ids;
        const auto& cn0 = STR_GPS_INFO.*sys.cn0;
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

}  // namespace

std::mutex& record_lock() noexcept { return g_record_lock; }

Fix fix() noexcept {
    std::lock_guard lock(g_record_lock);
    const STR_GPS_INFO_T& r = STR_GPS_INFO;
    return {r.lon, r.lat, r.high, r.gpslook, r.gpsnum, r.bdlook, r.bdnum};
}

void reset_record() noexcept {
    update_record([](STR_GPS_INFO_T& r) { r = STR_GPS_INFO_T{}; });
}

void arm_clear() noexcept {
    update_record([](STR_GPS_INFO_T& r) { r.clear = 1; });
}

int remove_gps_files() noexcept {
    os::Command cmd;
    return cmd.format(kRemoveCommandBuffer, "rm %s", os::Path("/tmp/gps_*")) ? os::run(cmd.c_str()) : -1;
}

std::size_t copy_signal_text(char* out, std::size_t size) noexcept {
    if (!out || size == 0) return 0;
    std::lock_guard lock(g_record_lock);
    build_signal_text();
    std::size_t n = std::min(std::strlen(g_signal_text.data()), size - 1);
    std::memcpy(out, g_signal_text.data(), n);
    out[n] = '\0';
    return n;
}

char* rebuild_signal_text() noexcept {
    std::lock_guard lock(g_record_lock);
    build_signal_text();
    return g_signal_text.data();
}

int take_signal_flag() noexcept { return g_signal_text_built.exchange(0) == 1 ? 1 : 0; }

}  // namespace bsp::gps
