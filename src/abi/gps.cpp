// The exported names of the GPS: the sentence parser and the satellite-signal text, the
// positioning mode, the GPS API; the fix record.
#include <cstddef>
#include <cstdint>

#include "gps/gps.h"
#include "sdk_bsp.h"

SDK_BSP_API STR_GPS_INFO_T STR_GPS_INFO{};
static_assert(sizeof(STR_GPS_INFO_T) == 1336);
static_assert(offsetof(STR_GPS_INFO_T, lat) == 8 && offsetof(STR_GPS_INFO_T, high) == 16 &&
              offsetof(STR_GPS_INFO_T, gpslook) == 20 && offsetof(STR_GPS_INFO_T, gpsnum) == 24 &&
              offsetof(STR_GPS_INFO_T, bdlook) == 28 && offsetof(STR_GPS_INFO_T, bdnum) == 32);
static_assert(offsetof(STR_GPS_INFO_T, gps_id) == 36 && offsetof(STR_GPS_INFO_T, gps_cn0) == 360 &&
              offsetof(STR_GPS_INFO_T, bd_id) == 684 && offsetof(STR_GPS_INFO_T, bd_cn0) == 1008 &&
              offsetof(STR_GPS_INFO_T, clear) == 1332);

namespace gps = bsp::gps;

extern "C" {

// ---- sentence parser ----

SDK_BSP_API int BSP_GPS_READ(const char* text, int count) noexcept { return gps::parse_batch(text, count); }
SDK_BSP_API char* SET_GPS_BD_dB(void) noexcept { return gps::rebuild_signal_text(); }
SDK_BSP_API int Read_GPS_dB_Flag(void) noexcept { return gps::take_signal_flag(); }

// ---- positioning mode ----

SDK_BSP_API int GPS_MODE_UPDATE(void) noexcept { return gps::update_mode(); }
SDK_BSP_API int SDK_GPS_SET_PCAS(uint32_t mode) noexcept { return gps::set_sdk_mode(mode); }
SDK_BSP_API int GPS_SET_PCAS(uint32_t mode) noexcept { return gps::set_web_mode(mode); }
SDK_BSP_API int Read_PositionMode(void) noexcept { return gps::position_mode(); }
SDK_BSP_API int GPS_DEFAULT_SET(void) noexcept { return gps::default_mode(); }
SDK_BSP_API uint32_t GPS_COM_WRITE(const char* data, int len, uint32_t* written) noexcept {
    return gps::write_receiver(data, len, written);
}

// ---- GPS API ----

SDK_BSP_API int GET_BSP_GPS_INFO(char* buffer) noexcept { return gps::gps_info(buffer); }
SDK_BSP_API int GET_BSP_GPS_CSV_INFO(char* buffer) noexcept { return gps::gps_csv(buffer); }
SDK_BSP_API int GET_GPS_dB_INFO(char* buffer) noexcept { return gps::signal_info(buffer); }
SDK_BSP_API int SetPositionMode(uint32_t mode) noexcept { return gps::set_position_mode(mode); }
SDK_BSP_API int BSP_SET_GPS_PCAS(int mode) noexcept { return gps::set_web_position_mode(mode); }

}  // extern "C"
