// The GPS room: the fix record's keeper and the consistent copies the API hands out, the read loop
// and its batches, the positioning mode and the GPS API; the sentence parser has its own header
// (gps/nmea.h). The exported GPS calls are forwarders to these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "sdk_bsp.h"

namespace bsp::gps {

namespace nmea {
struct Reading;
}

// ---- the fix record (gps/fix_record.cpp), its only writer ----

// The values the GPS API reports, copied in one piece.
struct Fix {
    double lon, lat;
    float high, gpslook, gpsnum, bdlook, bdnum;
};
Fix fix() noexcept;

// Keeps what a sentence said in STR_GPS_INFO; the end of a GSV cycle rebuilds the signal text.
void apply(const nmea::Reading& r) noexcept;
// Zeroes the whole record (the clear request included).
void reset_record() noexcept;
// Makes the read loop discard its next batch and zero the record again (after a mode change).
void arm_clear() noexcept;
// Takes a pending clear request, zeroing the record with it: true when there was one.
bool take_clear_request() noexcept;

// Rebuilds the satellite-signal text (setting its flag, as SET_GPS_BD_dB does) and copies it into
// out, cut to size - 1 characters and zero-terminated. Returns the characters copied.
std::size_t copy_signal_text(char* out, std::size_t size) noexcept;
// Rebuilds the satellite-signal text and sets its flag: the library's own copy of the text (its
// buffer is shared by every caller).
char* rebuild_signal_text() noexcept;
// Takes the satellite-signal flag: 1 when it was set (the text was built since), else 0.
int take_signal_flag() noexcept;

// The record keeper's two steps on a record of the caller's: what a sentence said kept in it, and
// the satellite-signal text listed from it (a whole prefix of the listing, zero-terminated).
void apply_reading(const nmea::Reading& r, STR_GPS_INFO_T& record) noexcept;
void build_signal_text(const STR_GPS_INFO_T& record, std::span<char, SDK_BSP_GPS_DB_TEXT_SIZE> out) noexcept;

// ---- the receiver's stream ----

// Works through a batch of the receiver's bytes (count of them), printing the parser's traces and
// keeping what the sentences say: -1 while the batch is 1024 bytes or fewer (nothing parsed), 0
// once worked through (or a pending clear request was carried out: the track files deleted).
int parse_batch(const char* text, int count) noexcept;
// Deletes the receiver's track files: "rm /tmp/gps_*". Returns the command's status (system()'s),
// -1 when it is refused.
int remove_gps_files() noexcept;
// The GPS read loop's work on what each poll of the receiver's port brought: the bytes are gathered
// in receive buffer 15, and a copy of the buffer is parsed; the buffer is emptied once a batch was
// parsed. Each read loop has its own copy.
class ReadLoop {
  public:
    // Returns parse_batch's result for the buffer's bytes.
    int step(std::span<const std::uint8_t> got) noexcept;

  private:
    std::array<std::uint8_t, SDK_BSP_RECV_BUFFER_SIZE + 1> batch_{};  // and a terminator
};
// The GPS read loop, the thread routine of port index 6, handed its port index; never returns.
void* read_loop(void* arg) noexcept;

// ---- positioning mode ----
// A mode change holds the mode lock for its whole run (lock order: the README's Layout).

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
