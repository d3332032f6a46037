// What the serial-transport files share: the power-protocol frames the environment channel sends,
// and the receive buffers the receive threads fill and the Uart API drains.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>

#include "sdk_bsp.h"

namespace bsp::com {

// ---- power-protocol frames -----------------------------------------------------------------

// The poll the environment send loop sends once a second when no output change is pending.
constexpr std::string_view kPollFrame{"~FFFF03540000FD5C\r"};
// The position query sent on the modem's AT port; stored without its carriage return, which the
// AT channel's line end supplies.
constexpr std::string_view kPositionQueryFrame{"~2101D0900000FD9F"};

// The output command: INFO byte 1 is the output mask (bit i set = output i + 1 on), every other
// INFO byte 0xFF, ten of them sent. Encoded it is kOutputCommandChars long.
constexpr std::uint32_t kOutputCommandInfo = 10;
constexpr int kOutputCommandChars = 2 * kOutputCommandInfo + 18;
constexpr STR_POWER_CMD output_command(std::uint8_t mask) noexcept {
    STR_POWER_CMD cmd{};
    cmd.VER = 0xFF;
    cmd.ADR = 0xFF;
    cmd.CID1 = 0x05;
    cmd.CID2 = 0x55;
    cmd.INFO_LEN = kOutputCommandInfo;
    for (auto& b : cmd.INFO) b = 0xFF;
    cmd.INFO[1] = mask;
    return cmd;
}

// ---- receive buffers -----------------------------------------------------------------------

constexpr std::size_t kRecvBuffers = SDK_BSP_RECV_BUFFERS;       // buffer index = Uart ID - 1
constexpr std::int32_t kRecvBufferSize = SDK_BSP_RECV_BUFFER_SIZE;

// One receive buffer: the oldest byte first. len is read without the mutex (the drain's empty
// test), so every access to it goes through std::atomic_ref; both change only under the mutex.
struct MCOM_RECV_INFO {
    std::array<unsigned char, kRecvBufferSize> buf;
    std::int32_t len;
};

extern std::array<MCOM_RECV_INFO, kRecvBuffers> LIST_MCOM_RECV_INFO;
extern std::array<std::mutex, kRecvBuffers> M_COM_READ_LOCK;

// The outcome of an append, holding the buffer's mutex until it goes out of scope, so that the
// appender's log line describes the buffer as it was left.
class [[nodiscard]] Appended {
  public:
    Appended() noexcept = default;
    Appended(std::unique_lock<std::mutex> lock, std::int32_t kept, std::int32_t len) noexcept
        : lock_(std::move(lock)), kept_(kept), len_(len) {}
    std::int32_t kept() const noexcept { return kept_; }  // bytes taken in
    std::int32_t len() const noexcept { return len_; }    // the buffer's new fill count

  private:
    std::unique_lock<std::mutex> lock_;
    std::int32_t kept_ = 0;
    std::int32_t len_ = 0;
};

// Appends as many of the bytes as fit behind the buffer's data; the rest is lost (a full buffer
// keeps its old bytes and drops new ones). An index above 15 keeps nothing and locks nothing.
Appended append(std::size_t index, std::span<const unsigned char> bytes) noexcept;

// Empties a buffer: all its bytes zero, fill count 0.
void clear(std::size_t index) noexcept;

}  // namespace bsp::com
