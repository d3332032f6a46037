// The GPS/BeiDou receiver on ttymxc7: a CASIC-style receiver (as the ATGM336H family) that sends
// NMEA 0183 at 9600-baud pace, one fix per second, from a built-in track or a recorded capture,
// and takes the $PCAS commands the host writes to it. No threads here: the box's serving thread
// asks it for the bytes due and hands it what the host wrote.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/frame.h"

namespace sim {

// Which satellite systems the receiver uses: the CASIC mask of $PCAS04,n. The track has GPS and
// BeiDou satellites only, so a mask without either gives no fix.
namespace gnss {
constexpr int kGps = 1;
constexpr int kBeiDou = 2;
constexpr int kGlonass = 4;
constexpr int kAll = kGps | kBeiDou | kGlonass;
}  // namespace gnss

// A position of the track: degrees north and east (south and west below zero), metres above the
// geoid.
struct Position {
    double lat = 0;
    double lon = 0;
    double altitude = 0;
    bool operator==(const Position&) const = default;
};
// Where the built-in track lies: a rooftop in Shenzhen, 2236.12345 N 11356.78901 E, 56.7 m.
constexpr Position kTrackOrigin{22.6020575, 113.9464835, 56.7};

struct GpsOptions {
    // Streams sentences toward the host. Off, the receiver is silent but still takes commands:
    // for tests that push the sentences themselves.
    bool enabled = false;
    // A capture file to replay line by line, looping, instead of the built-in track. Lines that
    // start with '#' (capture headers) are skipped; other bytes go out as recorded, binary
    // included. Sentences of a talker the mode excludes (GP: GPS; BD, GB: BeiDou; GL: GLONASS)
    // are left out, as the receiver would not send them.
    std::filesystem::path capture;
    // 9600 baud, 10 bits a byte on the wire.
    int bytes_per_second = 960;
    // The mask in effect at power-up: GPS and BeiDou, as these receivers ship.
    int mode = gnss::kGps | gnss::kBeiDou;
    // The receiver has a fix. Without one it keeps sending, each second a GGA and an RMC that say
    // so (a capture's replay pauses meanwhile).
    bool fix = true;
    // The track's first spot; its other spots keep their few metres from it.
    Position origin = kTrackOrigin;
};

// The satellites the track's sentences report: in view (GSV) and used for the fix (GGA).
struct Sky {
    int in_view = 0;
    int used = 0;
    bool operator==(const Sky&) const = default;
};

// A sentence received from the host, without its line end.
struct Sentence {
    std::string text;
    bool checksum_ok = false;  // a line end came, and "*HH" matches the exclusive-or of the body
    bool operator==(const Sentence&) const = default;
};

namespace nmea {

// The exclusive-or of the characters between '$' and '*'.
std::uint8_t checksum(std::string_view body);
// "$" body "*HH\r\n".
std::string sentence(std::string_view body);
// The sentence's checksum verdict: text is "$body*HH", hexadecimal in either case.
bool checksum_ok(std::string_view text);

// Cuts the host's byte stream into sentences: from '$' to the line feed. Bytes outside a
// sentence (the zero byte a host may send after a command) are junk; a '$' before the line end
// ends the sentence before it unfinished, and so does reaching kMaxSentence characters.
class SentenceCutter {
  public:
    static constexpr std::size_t kMaxSentence = 128;  // $PCAS commands are short; NMEA allows 82
    void feed(std::span<const std::uint8_t> bytes);
    std::optional<Sentence> next();
    std::size_t junk() const { return junk_; }

  private:
    std::string buf_;
    std::size_t junk_ = 0;
};

}  // namespace nmea

class GpsReceiver {
  public:
    using TimePoint = SteadyClock::time_point;
    // Bytes go out in chunks this far apart: four wakes a second, 240 bytes each at 9600 baud.
    static constexpr std::chrono::milliseconds kChunkPeriod{250};

    // Throws std::runtime_error when the capture cannot be read or holds no data.
    GpsReceiver(GpsOptions options, TimePoint now);

    // The bytes due toward the host at `now`, at the line's pace; idle time is not saved up.
    Bytes take(TimePoint now);
    // When take() has more to give; TimePoint::max() when not streaming.
    TimePoint next_due() const;
    // Bytes the host wrote: returns the sentences completed, each recorded and, when its
    // checksum holds, obeyed ($PCAS04,n with n from 1 to 7 sets the mode, $PCAS00 saves it).
    std::vector<Sentence> feed(std::span<const std::uint8_t> bytes);

    // Takes what may change while it runs: streaming, pace, mode, fix and origin (the track starts
    // again from its first spot when it moves); the capture stays.
    void reconfigure(const GpsOptions& next, TimePoint now);

    const GpsOptions& options() const { return opt_; }
    int mode() const { return mode_; }
    int saves() const { return saves_; }
    std::optional<int> saved_mode() const { return saved_mode_; }
    std::size_t junk() const { return cutter_.junk(); }
    // The track's present position; nothing while replaying a capture or without a fix.
    std::optional<Position> position() const;
    // The satellites its sentences report now (none in view without a fix); nothing while
    // replaying a capture.
    std::optional<Sky> sky() const;
    // One second of the track, as sent at the given UTC time (for the tests).
    std::string epoch(std::size_t index, std::time_t utc) const;

  private:
    void refill(TimePoint now);

    GpsOptions opt_;
    int mode_;
    int saves_ = 0;
    std::optional<int> saved_mode_;
    nmea::SentenceCutter cutter_;
    std::vector<std::string> capture_;  // the capture's lines, headers left out
    std::size_t next_line_ = 0;
    std::size_t epochs_ = 0;
    TimePoint next_epoch_;
    TimePoint last_take_;
    double credit_ = 0;  // bytes the line could have carried since the last take
    std::string pending_;
};

}  // namespace sim
