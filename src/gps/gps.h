// What the GPS files share: the fix record's lock and the consistent copies the API hands out.
#pragma once

#include <cstddef>
#include <mutex>

#include "sdk_bsp.h"

namespace bsp::gps {

// The parser thread, the GPS API on host threads and the positioning-mode change all go through
// the record's one lock, held only to copy values in or out (never while printing, running a
// command or taking another lock), so that lat and lon are never seen half written.
std::mutex& record_lock() noexcept;

// Runs fn(STR_GPS_INFO) under the record's lock.
template <typename F>
void update_record(F&& fn) noexcept {
    std::lock_guard lock(record_lock());
    fn(STR_GPS_INFO);
}

// The values the GPS API reports, copied in one piece.
struct Fix {
    double lon, lat;
    float high, gpslook, gpsnum, bdlook, bdnum;
};
Fix fix() noexcept;

// Zeroes the whole record (the clear request included).
void reset_record() noexcept;
// Makes the parser discard its next batch and zero the record again (after a mode change).
void arm_clear() noexcept;
// Deletes the receiver's track files: "rm /tmp/gps_*".
void remove_gps_files() noexcept;

// Rebuilds the satellite-signal text (setting its flag, as SET_GPS_BD_dB does) and copies it into
// out, cut to size - 1 characters and zero-terminated. Returns the characters copied.
std::size_t copy_signal_text(char* out, std::size_t size) noexcept;

}  // namespace bsp::gps
