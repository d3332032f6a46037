// What the GPS files share: the fix record's lock, the consistent copies the API hands out, and
// the positioning mode's constants.
#pragma once

#include <cstddef>
#include <cstdint>
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
// Deletes the receiver's track files: "rm /tmp/gps_*". Returns the command's status (system()'s),
// -1 when it is refused.
int remove_gps_files() noexcept;

// Rebuilds the satellite-signal text (setting its flag, as SET_GPS_BD_dB does) and copies it into
// out, cut to size - 1 characters and zero-terminated. Returns the characters copied.
std::size_t copy_signal_text(char* out, std::size_t size) noexcept;

// ---- positioning mode ----
// Lock order: a mode change holds the mode lock (position_mode.cpp) for its whole run, its 2-3 s
// of pauses included, so that two setters cannot interleave their key writes, receiver commands
// and configuration reads. Under it the change logs, writes port 6 (its write lock) and resets
// the record (the record's lock); none of those is ever held while the mode lock is taken.

// The mode number that stands for positioning off, in the keys and in PositionMode.
constexpr std::int32_t kPositionOff = 99999;

// 1 when the path (rooted) exists, else 0.
int API_IsFileExist(const char* path) noexcept;

}  // namespace bsp::gps
