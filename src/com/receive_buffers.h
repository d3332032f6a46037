// The sixteen receive buffers, one per Uart ID (buffer index = Uart ID - 1): the receive threads
// and the GPS read loop append, the application drains.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "sdk_bsp.h"

namespace bsp::com {

constexpr std::size_t kRecvBuffers = SDK_BSP_RECV_BUFFERS;
constexpr std::int32_t kRecvBufferSize = SDK_BSP_RECV_BUFFER_SIZE;

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

// Appends as append does and copies the whole buffer, oldest byte first, into batch under the same
// hold of its mutex: the count copied. The GPS read loop parses that copy, never the buffer, which
// a host may drain at any time (0 for an index above 15).
std::int32_t append_and_copy(std::size_t index, std::span<const unsigned char> bytes,
                             std::span<unsigned char, kRecvBufferSize> batch) noexcept;

// The bytes waiting in a buffer (0 for an index above 15).
std::int32_t fill(std::size_t index) noexcept;

// Empties a buffer: all its bytes zero, fill count 0.
void clear(std::size_t index) noexcept;

// Moves up to max of the oldest bytes of buffer index into *dest: the count, 0 for nothing (and
// for an index above 15, a null destination or a max below 1).
int drain(std::uint32_t index, unsigned char** dest, int max) noexcept;

}  // namespace bsp::com
