// The GPS API: the fix as a line of text or as CSV, the satellite-signal text, and the SDK-side and
// web-side positioning-mode setters.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/texts.h"
#include "gps/gps.h"

namespace bsp::gps {
namespace {

constexpr const char* kInfoFormat = "lon=%.8lf,lat=%.8lf,high=%f,gpsnum=%.0f,gpslook=%.0f,bdnum=%.0f,bdlook=%.0f\r\n";
constexpr const char* kCsvFormat = "%.8lf,%.8lf,%f,%.0f,%.0f,%.0f,%.0f";

// The parser stores single-precision values only (lon and lat are widened from single precision).
// At +-3.4e38 a "%.8lf" takes 49 characters, a "%f" 47 and a "%.0f" 40: with the keys and the line
// end the position line is 354 characters long at most, and the CSV line shorter.
constexpr std::size_t kLongestInfoLine = 4 + 49 + 5 + 49 + 6 + 47 + 8 + 40 + 9 + 40 + 7 + 40 + 8 + 40 + 2;
static_assert(kLongestInfoLine < SDK_BSP_GPS_INFO_SIZE);

// Formats the seven values, in the order lon, lat, high, gpsnum, gpslook, bdnum, bdlook, into out.
// Values no sentence can give (a host storing doubles of its own in STR_GPS_INFO) may make a longer
// text: it is cut to SDK_BSP_GPS_INFO_SIZE - 1 characters.
int write_fix(char* out, const char* format, const Fix& f) noexcept {
    std::array<char, SDK_BSP_GPS_INFO_SIZE> text;
    int n = std::snprintf(text.data(), text.size(), format, f.lon, f.lat, static_cast<double>(f.high),
                          static_cast<double>(f.gpsnum), static_cast<double>(f.gpslook),
                          static_cast<double>(f.bdnum), static_cast<double>(f.bdlook));
    std::size_t len = std::min(static_cast<std::size_t>(std::max(n, 0)), text.size() - 1);
    std::memcpy(out, text.data(), len);
    out[len] = '\0';
    return static_cast<int>(len);
}

}  // namespace

int gps_info(char* buffer) noexcept {
    if (!buffer) return 0;
    // While the mode is 0 (never applied, or positioning off) the line reports no position.
    return write_fix(buffer, kInfoFormat, position_mode() != 0 ? fix() : Fix{});
}

int gps_csv(char* buffer) noexcept { return buffer ? write_fix(buffer, kCsvFormat, fix()) : 0; }

int signal_info(char* buffer) noexcept {
    if (!buffer || take_signal_flag() != 1) return -1;
    // Rebuilt from the record as it is now, which sets the flag again: every later call succeeds.
    copy_signal_text(buffer, SDK_BSP_GPS_DB_TEXT_SIZE);
    return 0;
}

int set_position_mode(std::uint32_t mode) noexcept {
    base::log_write(base::kLogSys, texts::kPcasSet, static_cast<int>(mode));
    if (mode == 0) {  // 0 asks for positioning off, which the keys hold as 99999
        base::log_write(base::kLogSys, texts::kPcasSet, kPositionOff);
        mode = kPositionOff;
    }
    set_sdk_mode(mode);
    return 0;
}

int set_web_position_mode(int mode) noexcept {
    base::log_write(base::kLogSys, texts::kWebPcasSet, mode);
    set_web_mode(static_cast<std::uint32_t>(mode));  // a web-side 0 is stored as 0
    return 0;
}

}  // namespace bsp::gps
