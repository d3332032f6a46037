// The board-link frame as an extension board sees it: built, checked and cut on the board's side
// of the wire. Frame layout: 0x7E, payload length (2 bytes, high byte first), CID, payload, the
// 8-bit sum of the bytes from the length to the end of the payload, 0x0D. No escaping: the end is
// found from the length.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
constexpr TimePoint kNever = TimePoint::max();

constexpr std::uint8_t kFrameStart = 0x7E;
constexpr std::uint8_t kFrameEnd = 0x0D;
constexpr std::size_t kFrameOverhead = 6;  // start, length (2), CID, sum, end
constexpr std::size_t kMaxPayload = 0xFFFF;
// The host builds every frame in a 5120-byte area, so a longer frame can only be garbage.
constexpr std::size_t kMaxFrame = 5120;

// CIDs. Channel k of a board (0..3, and 4 for the environment channel of board 1) adds k to the
// base of its family.
namespace cid {
constexpr std::uint8_t kPresent = 0x41;    // board to host: the board is there
constexpr std::uint8_t kRecvInfo = 0x50;   // board to host: data received on channel k
constexpr std::uint8_t kSetBaud = 0x60;    // host to board: line settings of channel k
constexpr std::uint8_t kSendInfo = 0x80;   // host to board: data to send on channel k
constexpr std::uint8_t kKeepAlive = 0x92;  // host to board: link keep-alive, no payload
}  // namespace cid

inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
// Bytes shown per trace line.
constexpr std::size_t kTraceBytes = 48;
// "1 byte", "2 bytes".
inline std::string count(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }
// Bytes as a quoted C-like text for the trace, cut after a few dozen.
std::string quoted(std::span<const std::uint8_t> b);
// Bytes as hexadecimal pairs, "7E 00 03", cut after a few dozen with " ...".
std::string hex(std::span<const std::uint8_t> b);

// The 8-bit sum of the bytes (the running sum kept modulo 256).
std::uint8_t sum(std::span<const std::uint8_t> bytes);

// A whole frame around the payload. Payloads longer than kMaxPayload do not fit the length field
// and are refused with std::length_error.
Bytes build_frame(std::uint8_t cid, std::span<const std::uint8_t> payload);
Bytes build_frame(std::uint8_t cid, std::string_view payload);

// One frame received from the host, as recorded by a board.
struct Frame {
    std::uint8_t cid = 0;
    Bytes payload;
    bool checksum_ok = false;
    Bytes raw;                      // the whole frame, start to end byte
    SteadyClock::time_point when;   // when its last byte arrived
};

// Line settings of one board channel: the 7-byte payload of a settings frame.
struct LineSettings {
    std::uint32_t baud = 0;  // big-endian on the wire
    std::uint8_t data_bits = 0;
    std::uint8_t stop_bits = 0;
    std::uint8_t parity = 0;
    bool operator==(const LineSettings&) const = default;
};
constexpr std::size_t kSettingsPayload = 7;
// Nothing when the payload is not exactly 7 bytes.
std::optional<LineSettings> decode_settings(std::span<const std::uint8_t> payload);

// Cuts frames out of a byte stream that may hold garbage. At the front of the pending bytes:
// anything but 0x7E is garbage; a 0x7E whose length makes the frame longer than kMaxFrame, or
// whose frame does not end in 0x0D, is garbage too (one byte is dropped and the scan goes on);
// an unfinished frame waits for more bytes. So pending bytes never exceed kMaxFrame plus the
// last feed.
class FrameCutter {
  public:
    void feed(std::span<const std::uint8_t> bytes);
    // The next complete frame, or nothing until more bytes come.
    std::optional<Frame> next();
    // Bytes dropped as garbage so far.
    std::size_t garbage() const { return garbage_; }
    // Bytes waiting: an unfinished frame.
    std::size_t pending() const { return buf_.size(); }

  private:
    Bytes buf_;
    std::size_t garbage_ = 0;
};

}  // namespace sim
