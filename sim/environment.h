// The environment equipment behind board 1's channel 4: it receives the power-protocol frames the
// host sends on the environment channel, keeps four outputs and answers every frame with one
// reply frame. No threads here: the box hands it the payloads of the CID 0x84 frames and sends
// its replies back as CID 0x54 frames.
//
// Commands and replies. A reply repeats the command's VER, ADR and CID1 and carries the return
// code (RTN) in the CID2 position:
//
//   poll            CID1 0x03, CID2 0x54, no INFO   ("~FFFF03540000FD5C\r")
//   output command  CID1 0x05, CID2 0x55, INFO byte 1 = output mask (bit i: output i + 1 on);
//                   the four outputs take bits 0-3, the other bits and bytes are not read
//
//   reply, RTN 0x00 INFO one byte: the present outputs (bit i: output i + 1 on), after the command
//                   with both outputs 1 and 3 on: "~FFFF0500E00205FCE7\r"
//   reply, error    no INFO; RTN 0x02 CHKSUM wrong, 0x03 LCHKSUM or LENID wrong, 0x04 command
//                   unknown, 0x05 characters not hexadecimal or output command INFO under two
//                   bytes. The outputs stay as they are.
//
// A frame too short to hold its header and CHKSUM gets no reply: it says not whom it is for.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/power_frame.h"

namespace sim {

constexpr int kOutputs = 4;

class EnvironmentEquipment {
  public:
    // The replies to what came, one per complete frame, in order.
    std::vector<std::string> feed(std::span<const std::uint8_t> bytes);
    // The frames completed by the last feed (with their verdicts).
    const std::vector<power::Frame>& last_frames() const { return last_; }
    std::array<bool, kOutputs> outputs() const { return outputs_; }
    std::size_t junk() const { return cutter_.junk(); }

  private:
    std::optional<std::string> answer(const power::Frame& f);

    power::Cutter cutter_;
    std::vector<power::Frame> last_;
    std::array<bool, kOutputs> outputs_{};
};

}  // namespace sim
