// The sixteen receive buffers, one per Uart ID: the receive threads append, the application drains.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "com/receive_buffers.h"

namespace bsp::com {
namespace {

// The sixteen buffers and their mutexes: only this object changes a buffer's bytes or its count.
// A count is read without the mutex (the drain's empty test), so every access to it is atomic;
// bytes and count change only under the mutex.
class ReceiveBuffers {
  public:
    Appended append(std::size_t index, std::span<const unsigned char> bytes) noexcept {
        Buffer& b = buffers_[index];
        std::unique_lock lock(locks_[index]);
        const std::int32_t len = load_len(b);
        const auto room = static_cast<std::size_t>(kRecvBufferSize - len);
        const auto kept = static_cast<std::int32_t>(std::min(bytes.size(), room));
        if (kept > 0) std::memcpy(b.buf.data() + len, bytes.data(), static_cast<std::size_t>(kept));
        store_len(b, len + kept);
        return Appended(std::move(lock), kept, len + kept);
    }
    std::int32_t append_and_copy(std::size_t index, std::span<const unsigned char> bytes,
                                 std::span<unsigned char, kRecvBufferSize> batch) noexcept {
        auto kept = append(index, bytes);
        std::memcpy(batch.data(), buffers_[index].buf.data(), static_cast<std::size_t>(kept.len()));
        return kept.len();
    }
    std::int32_t fill(std::size_t index) noexcept { return load_len(buffers_[index]); }
    void clear(std::size_t index) noexcept {
        Buffer& b = buffers_[index];
        std::lock_guard lock(locks_[index]);
        b.buf.fill(0);
        store_len(b, 0);
    }
    int drain(std::size_t index, unsigned char* dest, int max) noexcept {
        Buffer& b = buffers_[index];
        // An empty buffer is answered without its mutex, so idle polling never waits on an appender.
        if (load_len(b) == 0) return 0;
        std::lock_guard lock(locks_[index]);
        const std::int32_t len = load_len(b);
        const std::int32_t n = std::min(len, max);
        std::memcpy(dest, b.buf.data(), static_cast<std::size_t>(n));
        if (len > n) std::memmove(b.buf.data(), b.buf.data() + n, static_cast<std::size_t>(len - n));
        store_len(b, len - n);
        return n;
    }

  private:
    struct Buffer {
        std::array<unsigned char, kRecvBufferSize> buf;
        std::int32_t len;
    };
    static std::int32_t load_len(Buffer& b) noexcept { return std::atomic_ref(b.len).load(std::memory_order_relaxed); }
    static void store_len(Buffer& b, std::int32_t len) noexcept {
        std::atomic_ref(b.len).store(len, std::memory_order_relaxed);
    }

    std::array<Buffer, kRecvBuffers> buffers_{};
    // Constant-initialised: ready before any thread can touch a buffer, never re-initialised.
    std::array<std::mutex, kRecvBuffers> locks_;
};

constinit ReceiveBuffers g_buffers;

}  // namespace

Appended append(std::size_t index, std::span<const unsigned char> bytes) noexcept {
    return index < kRecvBuffers ? g_buffers.append(index, bytes) : Appended{};
}

std::int32_t append_and_copy(std::size_t index, std::span<const unsigned char> bytes,
                             std::span<unsigned char, kRecvBufferSize> batch) noexcept {
    return index < kRecvBuffers ? g_buffers.append_and_copy(index, bytes, batch) : 0;
}

std::int32_t fill(std::size_t index) noexcept { return index < kRecvBuffers ? g_buffers.fill(index) : 0; }

void clear(std::size_t index) noexcept {
    if (index < kRecvBuffers) g_buffers.clear(index);
}

int drain(std::uint32_t index, unsigned char** dest, int max) noexcept {
    if (index >= kRecvBuffers || !dest || !*dest || max <= 0) return 0;
    return g_buffers.drain(index, *dest, max);
}

}  // namespace bsp::com
