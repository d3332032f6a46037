// What the serial transport's files share: port objects, the board-link frame, receive buffers,
// the power-protocol codec.
#pragma once

#include <cstddef>
#include <cstdint>

#include <termios.h>

#include "sdk_bsp.h"

namespace bsp::com {

// Module names printed in the error and start-up lines.
constexpr const char* kPortModule = "bsp_m_com";
constexpr const char* kThreadModule = "com_process";

// ---- serial port objects ----
constexpr std::uint32_t kPortCount = 7;
enum PortIndex : std::uint32_t { kPortBoard1 = 4, kPortBoard2 = 5, kPortGps = 6 };
constexpr std::uint32_t kMinBaudrate = 600;  // reported as the lowest rate, though 300 is accepted
constexpr std::uint32_t kMaxBaudrate = 115200;
constexpr std::uint32_t kBoardLinkBaud = 115200;  // every port's rate after M_COM_INIT

struct ComObj {
    char devName[32];  // the box's device path, NUL padded
    std::int32_t fd;   // -1 while not open
};

// Puts speed, parity, data bits and stop bits into tio. Prints the line of the first unsupported
// value and returns false, tio then half filled and not to be applied.
bool fill_line(termios& tio, const ComParams& p) noexcept;

// The descriptor of an open port, -1 otherwise (and for an index out of range).
int port_fd(std::uint32_t index) noexcept;
const char* port_device(std::uint32_t index) noexcept;

// ---- board-link frames ----
// 0x7E, payload length (16 bits, big-endian), CID, payload, 8-bit sum of length..payload, 0x0D.
constexpr std::uint8_t kFrameStart = 0x7E;
constexpr std::uint8_t kFrameEnd = 0x0D;
constexpr std::size_t kFrameOverhead = 6;
constexpr std::size_t kFrameArea = 5120;  // one frame is built (and received) in this much room
constexpr std::size_t kMaxPayload = kFrameArea - kFrameOverhead;

enum Cid : std::uint8_t {
    kCidPresent = 0x41,   // board to host: the board is there
    kCidRecvInfo = 0x50,  // + channel: data received on a board channel (0x54 the environment channel)
    kCidSetBau = 0x60,    // + channel: line settings for a board channel
    kCidSendInfo = 0x80,  // + channel: data for a board channel
    kCidAppDog = 0x92,    // keep-alive, no payload
};
constexpr std::uint32_t kEnvChannel = 4;  // board 1's fifth channel leads to the environment equipment

// Where a receive-buffer index 4..11 (Uart ID - 1) lives on the boards.
struct BoardChannel {
    std::uint32_t port;     // kPortBoard1 or kPortBoard2
    std::uint32_t channel;  // 0..3
};
// False for an index outside 4..11.
bool board_channel(std::int32_t index, BoardChannel& out) noexcept;
// The other way: the receive buffer of a board channel's data, -1 for none.
int receive_buffer(std::uint32_t port, std::uint32_t channel) noexcept;

}  // namespace bsp::com
