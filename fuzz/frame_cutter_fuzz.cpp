// Arbitrary bytes as a board port's stream, through the board-link thread's own pass: reads of the
// sizes the input's first bytes choose, into the 5120-byte accumulation area (emptied when full),
// every frame cut out read as the thread reads it: whole, its payload within the frame.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "com/board_link.h"
#include "com/receive_threads.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    bsp::com::LinkReceiver link;
    const std::size_t chunk = 1 + data[1] * 23u;  // 1 .. 5866 bytes per read
    std::size_t at = 2;
    auto read = [&](std::uint8_t* into, std::uint32_t room) {
        std::size_t n = std::min({chunk, size - at, static_cast<std::size_t>(room)});
        std::memcpy(into, data + at, n);
        at += n;
        return static_cast<std::uint32_t>(n);
    };
    auto check = [](const std::uint8_t* frame, int frame_size) {
        bsp::com::BoardFrame f;
        if (!bsp::com::read_board_frame(frame, frame_size, f) || frame[0] != bsp::com::kFrameStart ||
            frame[frame_size - 1] != bsp::com::kFrameEnd ||
            f.payload.size() + bsp::com::kFrameOverhead != static_cast<std::size_t>(frame_size))
            std::abort();
    };
    while (at < size) {
        link.step(read, check);
        if (link.fill() < 0 || link.fill() > static_cast<int>(bsp::com::kFrameArea)) std::abort();
    }
    link.step(read, check);  // one more pass: a full area is emptied
    return 0;
}
