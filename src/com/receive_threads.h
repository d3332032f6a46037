// The receive threads (com_process) and what they share with the GPS read loop, which starts with
// them: the start-up trace, the thread argument, one poll of a port, the frame cutter and the
// board-link frame handler. The exported thread routines are forwarders to these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "com/board_link.h"
#include "sdk_bsp.h"

namespace bsp::com {

constexpr std::uint32_t kReadArea = 4096;  // one poll of a pass-through or the GPS port
constexpr std::size_t kEnvBuffer = 13;     // Uart ID 14, the environment channel

// "STUMP[%03d]: FILE: com_process, FUNCTION: %s, LINE: %d." on standard output.
void stump(int number, const char* function, int line) noexcept;

using ThreadRoutine = void* (*)(void*);
// Starts the seven receive threads once per process: the pass-through threads of port indexes 0
// to 3, the board-link threads of 4 and 5, and gps_loop (the GPS read loop) for port index 6.
void start_receive_threads(ThreadRoutine gps_loop) noexcept;
// The thread routines, each handed the address of its port index; they never return.
void* pass_through_main(void* arg) noexcept;
void* board_link_main(void* arg) noexcept;

// Cuts the first whole frame out of the fill bytes of acc into msg; the bytes before it and the
// frame leave acc, and *new_fill gets what remains. Returns the frame's size, 0 for none.
int cut_frame(unsigned char* acc, unsigned char* msg, int fill, int* new_fill) noexcept;
// The port index a thread routine is handed (-1 for none).
int port_argument(void* arg) noexcept;
// One read of a port: the count, 0 when nothing came or the read failed.
std::uint32_t poll_port(int port, std::uint8_t* into, std::uint32_t room) noexcept;
// Handles one whole board-link frame received on a board port: presence, or channel data into
// its receive buffer. Returns the buffer filled, -1 for none.
int handle_frame(int port, const std::uint8_t* frame, int size) noexcept;

// What a whole board-link frame says: its CID and payload (a view into the frame).
struct BoardFrame {
    std::uint8_t cid;
    std::span<const std::uint8_t> payload;
};
// Reads a frame cut out by cut_frame (size bytes): false for one shorter than a frame's overhead.
bool read_board_frame(const std::uint8_t* frame, int size, BoardFrame& out) noexcept;

// What one board-link thread keeps between its passes: the bytes that do not form a frame yet.
class LinkReceiver {
  public:
    // One pass of the thread's loop: an area full without a whole frame is emptied (all of it is
    // lost), read(into, room) adds what the port has, then every whole frame is cut out and handed
    // to handle(frame, size). Returns the frames cut out.
    template <typename Read, typename Handle>
    int step(Read&& read, Handle&& handle) noexcept {
        if (fill_ == static_cast<int>(kFrameArea)) {
            acc_.fill(0);
            fill_ = 0;
        }
        fill_ += static_cast<int>(read(acc_.data() + fill_, static_cast<std::uint32_t>(kFrameArea) - fill_));
        int frames = 0;
        for (int size; (size = cut_frame(acc_.data(), msg_.data(), fill_, &fill_)) != 0; ++frames)
            handle(msg_.data(), size);
        return frames;
    }
    int fill() const noexcept { return fill_; }

  private:
    std::array<std::uint8_t, kFrameArea> acc_{}, msg_{};
    int fill_ = 0;
};

}  // namespace bsp::com
