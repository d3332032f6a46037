// The sixteen receive buffers, one per Uart ID: the receive threads append, the application drains.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "com/receive_buffers.h"

namespace bsp::com {

std::array<MCOM_RECV_INFO, kRecvBuffers> LIST_MCOM_RECV_INFO{};
// Constant-initialised: ready before any thread can touch a buffer, never re-initialised.
std::array<std::mutex, kRecvBuffers> M_COM_READ_LOCK;

namespace {

std::int32_t load_len(MCOM_RECV_INFO& b) noexcept { return std::atomic_ref(b.len).load(std::memory_order_relaxed); }
void store_len(MCOM_RECV_INFO& b, std::int32_t len) noexcept {
    std::atomic_ref(b.len).store(len, std::memory_order_relaxed);
}

}  // namespace

Appended append(std::size_t index, std::span<const unsigned char> bytes) noexcept {
    if (index >= kRecvBuffers) return {};
    MCOM_RECV_INFO& b = LIST_MCOM_RECV_INFO[index];
    std::unique_lock lock(M_COM_READ_LOCK[index]);
    std::int32_t len = load_len(b);
    auto kept = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(kRecvBufferSize - len)));
    if (kept > 0) std::memcpy(b.buf.data() + len, bytes.data(), static_cast<std::size_t>(kept));
    store_len(b, len + kept);
    return Appended(std::move(lock), kept, len + kept);
}

void clear(std::size_t index) noexcept {
    if (index >= kRecvBuffers) return;
    MCOM_RECV_INFO& b = LIST_MCOM_RECV_INFO[index];
    std::lock_guard lock(M_COM_READ_LOCK[index]);
    b.buf.fill(0);
    store_len(b, 0);
}

}  // namespace bsp::com

using namespace bsp::com;

extern "C" SDK_BSP_API int SDK_Read_COM(std::uint32_t index, unsigned char** dest, int max) noexcept {
    if (index >= kRecvBuffers || !dest || !*dest || max <= 0) return 0;
    MCOM_RECV_INFO& b = LIST_MCOM_RECV_INFO[index];
    // An empty buffer is answered without its mutex, so idle polling never waits on an appender.
    if (load_len(b) == 0) return 0;
    std::lock_guard lock(M_COM_READ_LOCK[index]);
    std::int32_t len = load_len(b);
    std::int32_t n = std::min(len, max);
    std::memcpy(*dest, b.buf.data(), static_cast<std::size_t>(n));
    if (len > n) std::memmove(b.buf.data(), b.buf.data() + n, static_cast<std::size_t>(len - n));
    store_len(b, len - n);
    return n;
}
