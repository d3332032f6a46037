// The board link to the two extension boards: frame senders and the link keep-alive.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/texts.h"
#include "com/board_link.h"
#include "com/ports.h"

namespace bsp::com {
namespace {

constexpr std::int32_t kDogTicks = 20;  // a board idle for more than this many ticks gets a keep-alive

// The link keep-alive's counts: ticks since the last frame sent to board 1 (entry 0) and board 2
// (entry 1). The watchdog thread ticks, every sender restarts; each count is a single word.
class LinkDog {
  public:
    std::int32_t count(std::size_t board) noexcept { return word(board).load(); }
    void restart(std::size_t board) noexcept { word(board).store(0); }
    // One tick for both boards: true for each board idle for more than kDogTicks, its count restarted.
    std::array<bool, 2> tick() noexcept {
        for (std::size_t board = 0; board < 2; ++board) word(board).fetch_add(1);
        std::array<bool, 2> due{};
        for (std::size_t board = 0; board < 2; ++board) due[board] = count(board) > kDogTicks;
        return due;
    }

  private:
    std::atomic_ref<std::int32_t> word(std::size_t board) noexcept { return std::atomic_ref(idle_ticks_[board]); }
    std::array<std::int32_t, 2> idle_ticks_{};
};

constinit LinkDog g_dog;

std::int32_t board_of(std::uint32_t port) noexcept { return port == kPortBoard1 ? 0 : 1; }

// Buffer index 4..11 to its board channel. Board 2's channels 1 and 2 are crossed: index 9 is
// channel 2 and index 10 channel 1, in both directions.
constexpr std::array<BoardChannel, 8> kChannels{{
    {kPortBoard1, 0}, {kPortBoard1, 1}, {kPortBoard1, 2}, {kPortBoard1, 3},
    {kPortBoard2, 0}, {kPortBoard2, 2}, {kPortBoard2, 1}, {kPortBoard2, 3},
}};
constexpr std::int32_t kFirstBoardIndex = 4;

// Builds one frame and writes it whole to the board's port. Returns the count the port reported.
std::uint32_t write_frame(std::uint32_t port, std::uint8_t cid, const std::uint8_t* payload, std::size_t len,
                          bool restart_dog) noexcept {
    std::array<std::uint8_t, kFrameArea> frame;
    frame[0] = kFrameStart;
    frame[1] = static_cast<std::uint8_t>(len >> 8);
    frame[2] = static_cast<std::uint8_t>(len);
    frame[3] = cid;
    if (len > 0) std::memcpy(&frame[4], payload, len);
    frame[4 + len] = static_cast<std::uint8_t>(frame_sum(&frame[1], static_cast<std::uint32_t>(len + 3)));
    frame[5 + len] = kFrameEnd;
    if (restart_dog) restart_link_dog(board_of(port));
    std::uint32_t written = 0;
    write_port(port, frame.data(), static_cast<std::uint32_t>(len + kFrameOverhead), &written);
    return written;
}

// Sends data of any length: what does not fit one frame follows in further frames, none lost.
std::uint32_t send_data(std::uint32_t port, std::uint8_t cid, const std::uint8_t* data, std::uint32_t len) noexcept {
    if (!data && len > 0) return 0;
    std::uint32_t total = 0;
    std::size_t done = 0;
    do {
        std::size_t n = std::min<std::size_t>(len - done, kMaxPayload);
        total += write_frame(port, cid, data + done, n, true);
        done += n;
    } while (done < len);
    return total;
}

// Line settings: baud rate (32 bits, big-endian), then the low bytes of data bits, stop bits,
// parity, as the application gave them.
std::uint32_t send_settings(std::uint32_t port, std::uint8_t cid, std::uint32_t baud, std::uint32_t data_bits,
                            std::uint32_t stop_bits, std::uint32_t parity) noexcept {
    const std::uint8_t payload[7] = {
        static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8),  static_cast<std::uint8_t>(baud),
        static_cast<std::uint8_t>(data_bits),  static_cast<std::uint8_t>(stop_bits),
        static_cast<std::uint8_t>(parity),
    };
    return write_frame(port, cid, payload, sizeof payload, true);
}

}  // namespace

bool board_channel(std::int32_t index, BoardChannel& out) noexcept {
    if (index < kFirstBoardIndex || index >= kFirstBoardIndex + static_cast<std::int32_t>(kChannels.size()))
        return false;
    out = kChannels[static_cast<std::size_t>(index - kFirstBoardIndex)];
    return true;
}

int receive_buffer(std::uint32_t port, std::uint32_t channel) noexcept {
    for (std::size_t i = 0; i < kChannels.size(); ++i)
        if (kChannels[i].port == port && kChannels[i].channel == channel) return kFirstBoardIndex + static_cast<int>(i);
    return -1;
}

std::uint32_t frame_sum(const std::uint8_t* data, std::uint32_t count) noexcept {
    std::uint8_t sum = 0;
    for (std::uint32_t i = 0; data && i < count; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    return sum;
}

std::uint32_t send_board(std::int32_t index, const std::uint8_t* data, std::uint32_t len) noexcept {
    BoardChannel ch;
    if (!board_channel(index, ch)) return 0;
    return send_data(ch.port, static_cast<std::uint8_t>(kCidSendInfo + ch.channel), data, len);
}

std::uint32_t set_board_line(std::int32_t index, std::uint32_t baud, std::uint32_t data_bits, std::uint32_t stop_bits,
                             std::uint32_t parity) noexcept {
    BoardChannel ch;
    if (!board_channel(index, ch)) return 0;
    return send_settings(ch.port, static_cast<std::uint8_t>(kCidSetBau + ch.channel), baud, data_bits, stop_bits,
                         parity);
}

std::uint32_t send_env(const std::uint8_t* data, std::uint32_t len) noexcept {
    return send_data(kPortBoard1, kCidSendInfo + kEnvChannel, data, len);
}

std::int32_t set_env_line(std::uint32_t baud, std::uint32_t data_bits, std::uint32_t stop_bits,
                          std::uint32_t parity) noexcept {
    return static_cast<std::int32_t>(
        send_settings(kPortBoard1, kCidSetBau + kEnvChannel, baud, data_bits, stop_bits, parity));
}

std::int32_t set_top_do(std::uint32_t ch, std::uint32_t value) noexcept {
    const std::uint8_t payload = static_cast<std::uint8_t>(value);
    // The only sender that leaves the keep-alive count alone.
    auto written = write_frame(kPortBoard2, static_cast<std::uint8_t>(ch - 0x57), &payload, 1, false);
    std::printf(texts::kTopDoSet, static_cast<int>(ch), static_cast<int>(value));
    return static_cast<std::int32_t>(written);
}

std::uint32_t send_keep_alive(std::uint32_t board) noexcept {
    if (board > 1) return 0;
    std::uint32_t written = write_frame(board == 0 ? kPortBoard1 : kPortBoard2, kCidAppDog, nullptr, 0, true);
    base::log_write(base::kLogSys, "%s", texts::kKeepAlive[board]);
    return written;
}

void tick_link_dog() noexcept {
    const auto due = g_dog.tick();
    for (std::uint32_t board = 0; board < 2; ++board) {
        if (!due[board]) continue;
        send_keep_alive(board);
        g_dog.restart(board);
    }
}

void restart_link_dog(std::int32_t board) noexcept {
    if (board == 0 || board == 1) g_dog.restart(static_cast<std::size_t>(board));
}

std::uint32_t link_dog_count(std::int32_t board) noexcept {
    return board == 0 || board == 1 ? static_cast<std::uint32_t>(g_dog.count(static_cast<std::size_t>(board))) : 0;
}

}  // namespace bsp::com

