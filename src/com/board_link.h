// Board-link frames to and from the two extension boards, which board channel carries which
// receive buffer, and the link keep-alive. The exported board-link calls are forwarders to these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bsp::com {

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

// The 8-bit sum of count bytes (0 for none).
std::uint32_t frame_sum(const std::uint8_t* data, std::uint32_t count) noexcept;

// The senders: each returns the byte count the port reported written (0 for a bad index).
std::uint32_t send_board(std::int32_t index, const std::uint8_t* data, std::uint32_t len) noexcept;
std::uint32_t set_board_line(std::int32_t index, std::uint32_t baud, std::uint32_t data_bits, std::uint32_t stop_bits,
                             std::uint32_t parity) noexcept;
std::uint32_t send_env(const std::uint8_t* data, std::uint32_t len) noexcept;
std::int32_t set_env_line(std::uint32_t baud, std::uint32_t data_bits, std::uint32_t stop_bits,
                          std::uint32_t parity) noexcept;
std::int32_t set_top_do(std::uint32_t ch, std::uint32_t value) noexcept;
std::uint32_t send_keep_alive(std::uint32_t board) noexcept;

// The link keep-alive: one tick a second from the watchdog thread; a board idle for more than 20
// ticks gets a keep-alive frame.
void tick_link_dog() noexcept;
void restart_link_dog(std::int32_t board) noexcept;
std::uint32_t link_dog_count(std::int32_t board) noexcept;

}  // namespace bsp::com
