// The sixteen receive buffers, one per Uart ID: the receive threads append, the application drains.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "com/receive_buffers.h"

namespace bsp::com {

std::array<ReceiveBuffer, kRecvBuffers> g_receive_buffers{};
// Constant-initialised: ready before any thread can touch a buffer, never re-initialised.
std::array<std::mutex, kRecvBuffers> g_receive_locks;

namespace {

std::int32_t load_len(ReceiveBuffer& b) noexcept { return std::atomic_ref(b.len).load(std::memory_order_relaxed); }
void store_len(ReceiveBuffer& b, std::int32_t len) noexcept {
    std::atomic_ref(b.len).store(len, std::memory_order_relaxed);
}

}  // namespace

Appended append(std::size_t index, std::span<const unsigned char> bytes) noexcept {
    if (index >= kRecvBuffers) return {};
    ReceiveBuffer& b = g_receive_buffers[index];
    std::unique_lock lock(g_receive_locks[index]);
    std::int32_t len = load_len(b);
    auto kept = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(kRecvBufferSize - len)));
    if (kept > 0) std::memcpy(b.buf.data() + len, bytes.data(), static_cast<std::size_t>(kept));
    store_len(b, len + kept);
    return Appended(std::move(lock), kept, len + kept);
}

void clear(std::size_t index) noexcept {
    if (index >= kRecvBuffers) return;
    ReceiveBuffer& b = g_receive_buffers[index];
    std::lock_guard lock(g_receive_locks[index]);
    b.buf.fill(0);
    store_len(b, 0);
}

int drain(std::uint32_t index, unsigned char** dest, int max) noexcept {
    if (index >= kRecvBuffers || !dest || !*dest || max <= 0) return 0;
    ReceiveBuffer& b = g_receive_buffers[index];
    // An empty buffer is answered without its mutex, so idle polling never waits on an appender.
    if (load_len(b) == 0) return 0;
    std::lock_guard lock(g_receive_locks[index]);
    std::int32_t len = load_len(b);
    std::int32_t n = std::min(len, max);
    std::memcpy(*dest, b.buf.data(), static_cast<std::size_t>(n));
    if (len > n) std::memmove(b.buf.data(), b.buf.data() + n, static_cast<std::size_t>(len - n));
    store_len(b, len - n);
    return n;
}

}  // namespace bsp::com
