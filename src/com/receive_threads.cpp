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

#include "base/log.h"
#include "base/resources.h"
#include "base/texts.h"
#include "com/board_link.h"
#include "com/ports.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "os/os.h"

namespace bsp::com {
namespace {

using base::kLogError;
using base::kLogSo;
using base::kLogSys;
using base::log_write;

constexpr long kPassThroughPaceMs = 200;
constexpr long kBoardLinkPaceMs = 100;
constexpr int kStartNumber = 10;  // the number the start routine's own trace carries

// The receive threads' handles and the arguments they are handed (entry i holds i), started once.
struct ReceiveThreads {
    std::array<int, 16> port_numbers{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    std::array<pthread_t, 16> handles{};
    std::atomic<bool> started{false};
};
constinit ReceiveThreads g_threads;

// The receive buffer of a board channel's data: the inverse of the senders' addressing, so each
// Uart ID talks to one physical channel in both directions.
int target_buffer(int port, std::uint32_t channel) noexcept {
    return receive_buffer(port == static_cast<int>(kPortBoard1) ? kPortBoard1 : kPortBoard2, channel);
}

}  // namespace

void stump(int number, const char* function, int line) noexcept {
    std::printf(texts::kThreadStart, number, texts::kThreadModule, function, line);
}

int port_argument(void* arg) noexcept { return arg ? *static_cast<const int*>(arg) : -1; }

std::uint32_t poll_port(int port, std::uint8_t* into, std::uint32_t room) noexcept {
    std::uint32_t got = 0;
    read_port(static_cast<std::uint32_t>(port), into, room, &got);
    return got;
}

bool read_board_frame(const std::uint8_t* frame, int size, BoardFrame& out) noexcept {
    if (!frame || size < static_cast<int>(kFrameOverhead)) return false;
    const auto len = static_cast<std::size_t>(frame[1] << 8 | frame[2]);
    out = {frame[3], {frame + 4, len}};
    return true;
}

int handle_frame(int port, const std::uint8_t* frame, int size) noexcept {
    BoardFrame f;
    if (!read_board_frame(frame, size, f)) return -1;
    const std::uint8_t cid = f.cid;
    const auto payload = f.payload;
    const int len = static_cast<int>(payload.size());
    log_write(kLogSo, texts::kBoardFrame, cid, len);
    if (cid == kCidPresent) {
        if (port == static_cast<int>(kPortBoard1)) base::set_presence(&BSP_BOARD_HARDWARE_RESOURCES_T::M_COM, 1);
        if (port == static_cast<int>(kPortBoard2)) base::set_presence(&BSP_BOARD_HARDWARE_RESOURCES_T::EXT_COM, 1);
        return -1;
    }
    if (cid == kCidRecvInfo + kEnvChannel) {
        auto kept = append(kEnvBuffer, payload);
        log_write(kLogSys, texts::kReceived, static_cast<int>(kEnvBuffer), kept.len());
        return static_cast<int>(kEnvBuffer);
    }
    if (cid >= kCidRecvInfo && cid < kCidRecvInfo + 4) {
        int target = target_buffer(port, cid - kCidRecvInfo);
        auto kept = append(static_cast<std::size_t>(target), payload);
        log_write(kLogSo, texts::kBoardReceived, target, port, kept.len(), len, kept.kept());
        return target;
    }
    return -1;  // other CIDs are dropped after their trace
}

int cut_frame(unsigned char* acc, unsigned char* msg, int fill, int* new_fill) noexcept {
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

void* pass_through_main(void* arg) noexcept {
    const int port = port_argument(arg);
    if (port < 0 || port > 3) return nullptr;
    stump(port, texts::kPassThroughThread, __LINE__);
    clear(static_cast<std::size_t>(port));
    std::array<std::uint8_t, kReadArea> area;
    for (;;) {
        os::sleep_ms(kPassThroughPaceMs);
        std::uint32_t got = poll_port(port, area.data(), kReadArea);
        if (got == 0) continue;
        auto kept = append(static_cast<std::size_t>(port), {area.data(), got});
        log_write(kLogSys, texts::kReceived, port, kept.len());
    }
}

void* board_link_main(void* arg) noexcept {
    const int port = port_argument(arg);
    stump(port, texts::kBoardLinkThread, __LINE__);
    if (port != static_cast<int>(kPortBoard1) && port != static_cast<int>(kPortBoard2))
        log_write(kLogError, texts::kBoardIndexError, port);
    // Bytes wait in the accumulation area until they form a frame; one frame at a time is cut out.
    LinkReceiver area;
    for (;;) {
        os::sleep_ms(kBoardLinkPaceMs);
        area.step([port](std::uint8_t* into, std::uint32_t room) { return poll_port(port, into, room); },
                  [port](const std::uint8_t* frame, int size) { handle_frame(port, frame, size); });
    }
}

void start_receive_threads(ThreadRoutine gps_loop) noexcept {
    if (g_threads.started.exchange(true)) return;
    struct Start {
        int port;
        ThreadRoutine routine;
    };
    const Start starts[] = {
        {0, pass_through_main}, {1, pass_through_main}, {2, pass_through_main}, {3, pass_through_main},
        {4, board_link_main},   {5, board_link_main},   {6, gps_loop},
    };
    for (const Start& s : starts)
        pthread_create(&g_threads.handles[static_cast<std::size_t>(s.port)], nullptr, s.routine,
                       &g_threads.port_numbers[static_cast<std::size_t>(s.port)]);
    stump(kStartNumber, texts::kThreadsStart, __LINE__);
}

}  // namespace bsp::com
