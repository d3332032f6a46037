// com_process: the receive threads. Four pass-through threads copy their ports into receive
// buffers 0 to 3; two board-link threads cut the extension boards' streams into frames, note board
// presence and route channel data to its buffer. The GPS read loop (gps/read_loop.cpp) starts
// with them.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <span>

#include <pthread.h>

#include "com/board_link.h"
#include "com/ports.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "os/os.h"
#include "sdk/sdk.h"

namespace bsp::com {
namespace {

using bsp::sdk::kLogError;
using bsp::sdk::kLogSo;
using bsp::sdk::kLogSys;

constexpr long kPassThroughPaceMs = 200;
constexpr long kBoardLinkPaceMs = 100;
constexpr int kStartNumber = 10;  // the number the start routine's own trace carries

// The argument each thread is handed: entry i holds i.
std::array<int, 16> COM_INDEX_VALUE{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
std::array<pthread_t, 16> thread_COM{};
std::atomic<bool> g_threads_started{false};

// The receive buffer of a board channel's data: the inverse of the senders' addressing, so each
// Uart ID talks to one physical channel in both directions.
int target_buffer(int port, std::uint32_t channel) noexcept {
    return receive_buffer(port == static_cast<int>(kPortBoard1) ? kPortBoard1 : kPortBoard2, channel);
}

}  // namespace

void stump(int number, const char* function, int line) noexcept {
    std::printf("STUMP[%03d]: FILE: %s, FUNCTION: %s, LINE: %d.\n", number, kThreadModule, function, line);
}

int port_argument(void* arg) noexcept { return arg ? *static_cast<const int*>(arg) : -1; }

std::uint32_t poll_port(int port, std::uint8_t* into, std::uint32_t room) noexcept {
    std::uint32_t got = 0;
    SDK_BSP_ComRead(static_cast<std::uint32_t>(port), into, room, &got);
    return got;
}

int handle_frame(int port, const std::uint8_t* frame, int size) noexcept {
    if (size < static_cast<int>(kFrameOverhead)) return -1;
    const int len = frame[1] << 8 | frame[2];
    const std::uint8_t cid = frame[3];
    std::span<const std::uint8_t> payload(frame + 4, static_cast<std::size_t>(len));
    SDK_LOG_WRITE(kLogSo, "CID=%02x nLength=%d\r\n", cid, len);
    if (cid == kCidPresent) {
        if (port == static_cast<int>(kPortBoard1)) PAR_SET_M_COM_EXIST_STATUS(1);
        if (port == static_cast<int>(kPortBoard2)) PAR_SET_EXT_COM_EXIST_STATUS(1);
        return -1;
    }
    if (cid == kCidRecvInfo + kEnvChannel) {
        auto kept = append(kEnvBuffer, payload);
        SDK_LOG_WRITE(kLogSys, "M_COM_READ_THREAD com %d recv info len=%d", static_cast<int>(kEnvBuffer), kept.len());
        return static_cast<int>(kEnvBuffer);
    }
    if (cid >= kCidRecvInfo && cid < kCidRecvInfo + 4) {
        int target = target_buffer(port, cid - kCidRecvInfo);
        auto kept = append(static_cast<std::size_t>(target), payload);
        SDK_LOG_WRITE(kLogSo, "EXT_M_COM_READ_THREAD com %d sol_index=%d recv info len=%d/%d/%d", target, port,
                      kept.len(), len, kept.kept());
        return target;
    }
    return -1;  // other CIDs are dropped after their trace
}

}  // namespace bsp::com

using namespace bsp::com;
using bsp::sdk::kLogError;
using bsp::sdk::kLogSys;

extern "C" {

SDK_BSP_API int read_a_msg(unsigned char* acc, unsigned char* msg, int fill, int* new_fill) noexcept {
    if (!acc || !msg || fill <= 0 || fill > static_cast<int>(kFrameArea)) return 0;
    for (int i = 0; i < fill; ++i) {
        if (acc[i] != kFrameStart || i + 2 >= fill) continue;
        const int size = (acc[i + 1] << 8 | acc[i + 2]) + static_cast<int>(kFrameOverhead);
        if (i + size > fill || acc[i + size - 1] != kFrameEnd) continue;
        // The first whole, correctly ended frame wins; everything before it is dropped with it.
        std::memcpy(msg, acc + i, static_cast<std::size_t>(size));
        const int rest = fill - i - size;
        std::memmove(acc, acc + i + size, static_cast<std::size_t>(rest));
        if (new_fill) *new_fill = rest;
        return size;
    }
    return 0;
}

SDK_BSP_API void* M_COM_READ_THREAD(void* arg) noexcept {
    const int port = port_argument(arg);
    if (port < 0 || port > 3) return nullptr;
    stump(port, __func__, __LINE__);
    clear(static_cast<std::size_t>(port));
    std::array<std::uint8_t, kReadArea> area;
    for (;;) {
        bsp::os::sleep_ms(kPassThroughPaceMs);
        std::uint32_t got = poll_port(port, area.data(), kReadArea);
        if (got == 0) continue;
        auto kept = append(static_cast<std::size_t>(port), {area.data(), got});
        SDK_LOG_WRITE(kLogSys, "M_COM_READ_THREAD com %d recv info len=%d", port, kept.len());
    }
}

SDK_BSP_API void* EXT_COM_READ_THREAD(void* arg) noexcept {
    const int port = port_argument(arg);
    stump(port, __func__, __LINE__);
    if (port != static_cast<int>(kPortBoard1) && port != static_cast<int>(kPortBoard2))
        SDK_LOG_WRITE(kLogError, "COM_index err %d", port);
    // Bytes wait in the accumulation area until they form a frame; one frame at a time is cut out.
    LinkReceiver area(port);
    for (;;) {
        bsp::os::sleep_ms(kBoardLinkPaceMs);
        area.step([port](std::uint8_t* into, std::uint32_t room) { return poll_port(port, into, room); });
    }
}

SDK_BSP_API void FSU_COM_READ_THREAD_START(void) noexcept {
    if (g_threads_started.exchange(true)) return;
    using Routine = void* (*)(void*);
    struct Start {
        int port;
        Routine routine;
    };
    static constexpr Start kStarts[] = {
        {0, M_COM_READ_THREAD},   {1, M_COM_READ_THREAD},   {2, M_COM_READ_THREAD}, {3, M_COM_READ_THREAD},
        {4, EXT_COM_READ_THREAD}, {5, EXT_COM_READ_THREAD}, {6, ENV_COM_READ_THREAD},
    };
    for (const Start& s : kStarts)
        pthread_create(&thread_COM[static_cast<std::size_t>(s.port)], nullptr, s.routine,
                       &COM_INDEX_VALUE[static_cast<std::size_t>(s.port)]);
    stump(kStartNumber, __func__, __LINE__);
}

}  // extern "C"
