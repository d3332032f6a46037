// Arbitrary bytes as a board port's stream: delivered in reads of the sizes the input's first bytes
// choose, into the 5120-byte accumulation area (emptied when full, as the board-link thread does),
// every frame cut out handled on one of the two board ports.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "com/board_link.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"

namespace {
using bsp::com::kFrameArea;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int port = data[0] & 1 ? 5 : 4;
    const std::size_t chunk = 1 + data[1] * 23u;  // 1 .. 5866 bytes per read
    data += 2;
    size -= 2;
    static std::array<std::uint8_t, kFrameArea> acc, msg;
    int fill = 0;
    for (std::size_t at = 0; at < size; at += chunk) {
        if (fill == static_cast<int>(kFrameArea)) fill = 0;
        std::size_t n = std::min({chunk, size - at, kFrameArea - static_cast<std::size_t>(fill)});
        std::memcpy(acc.data() + fill, data + at, n);
        fill += static_cast<int>(n);
        while (int frame = read_a_msg(acc.data(), msg.data(), fill, &fill)) {
            const std::size_t len = std::size_t(msg[1]) << 8 | msg[2];
            if (frame < 6 || static_cast<std::size_t>(frame) != len + 6 || msg[0] != 0x7E || msg[frame - 1] != 0x0D ||
                fill < 0 || fill > static_cast<int>(kFrameArea))
                std::abort();
            bsp::com::handle_frame(port, msg.data(), frame);
        }
    }
    // What the frames brought is drained, so the next input starts from empty buffers.
    for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
    return 0;
}
