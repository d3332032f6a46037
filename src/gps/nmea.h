// The receiver's sentence parser: pure, bytes in and what they say out. It cuts a batch into checked
// NMEA sentences and reads the GGA, RMC, GSA and GSV sentences; keeping what they say in the fix
// record, tracing and the clear request are the caller's (gps/read_loop.cpp, gps/fix_record.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bsp::gps::nmea {

constexpr int kBatchMin = 1025;            // smaller batches are left to gather
constexpr std::size_t kSentenceMax = 199;  // characters of the 200-byte sentence buffer
constexpr int kGsvMessagesMax = 9;         // GSV messages 1-9 fill slots; others store nothing
constexpr int kSatsPerGsv = 4;
// The most satellite blocks a sentence of kSentenceMax characters can hold (four commas each).
constexpr int kBlocksMax = static_cast<int>(kSentenceMax) / kSatsPerGsv;

// One sentence: from its "$" up to (not including) its "\r\n"; star is the offset of its "*".
struct Sentence {
    std::string_view text;
    std::size_t star;
    std::string_view talker() const noexcept { return text.substr(1, 2); }
    std::string_view type() const noexcept { return text.substr(3, 3); }
};

// The next occurrence of a text (its length fixed, so the search compiles to a memchr and a compare)
// in the batch at or after a position. The positions asked for never decrease, so the last answer is
// reused while it still lies ahead: the whole cut stays linear.
template <std::size_t Size>  // the text's size with its terminator
class Finder {
  public:
    Finder(std::string_view batch, const char (&what)[Size]) noexcept : batch_(batch), what_(what) {}
    std::size_t next(std::size_t from) noexcept {
        if (fresh_ || at_ < from) at_ = batch_.find(std::string_view(what_, Size - 1), from);
        fresh_ = false;
        return at_;
    }

  private:
    std::string_view batch_;
    const char* what_;
    std::size_t at_ = 0;
    bool fresh_ = true;
};

// Cuts a batch into sentences with a good checksum, by its byte count, not by its first zero byte:
// CASIC receivers mix binary messages (zero bytes, stray "$" and "*") into the stream.
class Cutter {
  public:
    explicit Cutter(std::string_view batch) noexcept
        : batch_(batch), dollars_(batch, "$"), stars_(batch, "*"), line_ends_(batch, "\r\n") {}
    // The next whole sentence; false when the batch holds no more.
    bool next(Sentence& out) noexcept;

  private:
    std::string_view batch_;
    Finder<2> dollars_, stars_;
    Finder<3> line_ends_;
    std::size_t scan_ = 0;
};

// The satellite systems a sentence's talker names; other talkers store nothing.
enum class System : std::uint8_t { kNone, kGps, kBeidou };

// One satellite block of a GSV sentence. Its numbers are read only when the sentence fills slots
// (a known system, message 1 to 9) and its identifier is not empty. (Plain members: a reading's
// blocks are not initialised beyond those read.)
struct Satellite {
    const char* id_at;     // the identifier as sent (traced), id_size characters;
    std::uint8_t id_size;  // none: the block fills no slot
    bool has_cn0;          // false: the slot keeps its CN0
    std::int32_t id, cn0;
    std::string_view id_text() const noexcept { return {id_at, id_size}; }
};

// What one sentence said: its kind and system, and only the members of its kind (the others are
// left unset: a reading is made for every sentence of the stream).
struct Reading {
    enum class Kind : std::uint8_t { kNothing, kSatellitesInView, kSatellitesUsed, kPosition };
    Kind kind = Kind::kNothing;
    System system = System::kNone;
    // GSV: the message numbers as sent (traced), the first slot's message (1-9, else 0: no slots),
    // whether it starts a cycle (message 1) and ends one (the last message), the blocks; in_view
    // only for a known system.
    int total, sent_number, message;
    bool new_cycle, cycle_end;
    float in_view;
    int blocks;
    std::array<Satellite, kBlocksMax> satellites;  // the first `blocks` are read
    // GSA
    float used;
    // RMC, GGA: the position, degrees without the hemisphere; GGA also the height.
    double lat, lon;
    bool has_high;
    float high;
};

// Reads a sentence the cutter gave. A sentence of no kind read, or cut short before the fields its
// kind needs, reads as kNothing.
Reading read_sentence(const Sentence& s) noexcept;

}  // namespace bsp::gps::nmea
