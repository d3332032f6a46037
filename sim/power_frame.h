// The power protocol's character frame (YD/T 1363) on the environment equipment's side of the
// wire: "~", then VER, ADR, CID1, CID2 and the 16-bit LENGTH as upper-case ASCII hexadecimal,
// INFO (LENID characters), the 16-bit CHKSUM, and "\r". LENGTH carries LENID (the number of INFO
// characters) in its low 12 bits and LCHKSUM in its high 4; CHKSUM is the two's complement of the
// sum of the characters from VER to the end of INFO.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/frame.h"

namespace sim::power {

constexpr char kSoi = '~';
constexpr char kEoi = '\r';
constexpr std::size_t kHeaderChars = 12;  // VER, ADR, CID1, CID2, LENGTH
constexpr std::size_t kChksumChars = 4;
constexpr std::size_t kMaxInfo = 0xFFF / 2;  // LENID has 12 bits
constexpr std::size_t kMaxFrame = 2 + kHeaderChars + 2 * kMaxInfo + kChksumChars;

// Return codes a reply carries in the CID2 position.
namespace rtn {
constexpr std::uint8_t kOk = 0x00;
constexpr std::uint8_t kChksum = 0x02;
constexpr std::uint8_t kLchksum = 0x03;  // also a LENID that does not match the INFO sent
constexpr std::uint8_t kCid2 = 0x04;     // a command the device does not know
constexpr std::uint8_t kFormat = 0x05;   // characters that are not hexadecimal, INFO too short
}  // namespace rtn

// A frame as received, with its verdicts. Fields that are not hexadecimal read as 0.
struct Frame {
    std::string text;  // from '~' to '\r'
    std::uint8_t ver = 0, adr = 0, cid1 = 0, cid2 = 0;
    std::uint16_t length = 0;
    Bytes info;
    bool complete = false;    // long enough for the header and CHKSUM
    bool hex_ok = false;      // every character between '~' and '\r' is hexadecimal
    bool chksum_ok = false;   // CHKSUM matches (written in either case)
    bool lchksum_ok = false;  // LCHKSUM matches LENID
    bool lenid_ok = false;    // LENID is the number of INFO characters sent
    bool ok() const { return complete && hex_ok && chksum_ok && lchksum_ok && lenid_ok; }
};

// LENGTH for an INFO of n bytes: LCHKSUM << 12 | LENID.
std::uint16_t length_field(std::size_t info_bytes);
// CHKSUM over the characters from VER to the end of INFO.
std::uint16_t chksum(std::string_view chars);
// A whole frame, "~" to "\r". INFO beyond kMaxInfo bytes is not sent.
std::string build(std::uint8_t ver, std::uint8_t adr, std::uint8_t cid1, std::uint8_t cid2,
                  std::span<const std::uint8_t> info = {});
// Reads a frame's fields and checks it; text runs from '~' to '\r'.
Frame decode(std::string_view text);

// Cuts frames out of the characters the equipment receives. Anything before a '~' is junk; a
// '~' that is followed by another '~' before its '\r', or by more than kMaxFrame characters
// without one, starts no frame and is junk too.
class Cutter {
  public:
    void feed(std::span<const std::uint8_t> bytes);
    std::optional<Frame> next();
    std::size_t junk() const { return junk_; }

  private:
    std::string buf_;
    std::size_t junk_ = 0;
};

}  // namespace sim::power
