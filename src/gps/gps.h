// The GPS room: the fix record's lock and the consistent copies the API hands out, the sentence
// parser, the positioning mode and the GPS API. The exported GPS calls are forwarders to these.
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
// Rebuilds the satellite-signal text and sets its flag: the library's own copy of the text (its
// buffer is shared by every caller).
char* rebuild_signal_text() noexcept;
// Takes the satellite-signal flag: 1 when it was set (the text was built since), else 0.
int take_signal_flag() noexcept;

// ---- the receiver's stream ----

// Parses a batch of the receiver's bytes (count of them): -1 while the batch is 1024 bytes or
// fewer (nothing parsed), 0 once worked through (or a pending clear request was carried out).
int parse_batch(const char* text, int count) noexcept;
// The GPS read loop, the thread routine of port index 6, handed its port index; never returns.
void* read_loop(void* arg) noexcept;

// ---- positioning mode ----
// Lock order: a mode change holds the mode lock (position_mode.cpp) for its whole run, its 2-3 s
// of pauses included, so that two setters cannot interleave their key writes, receiver commands
// and configuration reads. Under it the change logs, writes port 6 (its write lock) and resets
// the record (the record's lock); none of those is ever held while the mode lock is taken.

// The mode number that stands for positioning off, in the keys and in PositionMode.
constexpr std::int32_t kPositionOff = 99999;

// Applies the stored mode (the keys' values) to PositionMode and the receiver.
int update_mode() noexcept;
// The SDK-side and web-side setters of the stored mode, then applied.
int set_sdk_mode(std::uint32_t mode) noexcept;
int set_web_mode(std::uint32_t mode) noexcept;
// The effective mode, 0 for none or positioning off.
int position_mode() noexcept;
// The first-start default, once per box (the marker file).
int default_mode() noexcept;
// Writes to the receiver through the port layer: a port status code.
std::uint32_t write_receiver(const char* data, int len, std::uint32_t* written) noexcept;

// ---- the GPS API ----

int gps_info(char* buffer) noexcept;
int gps_csv(char* buffer) noexcept;
int signal_info(char* buffer) noexcept;
int set_position_mode(std::uint32_t mode) noexcept;
int set_web_position_mode(int mode) noexcept;

}  // namespace bsp::gps
