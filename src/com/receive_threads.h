// What the receive threads (com_process) share with the GPS read loop, which starts with them:
// the start-up trace, the thread argument, one poll of a port, and the board-link frame handler.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bsp::com {

// The module name printed in the threads' start-up lines.
constexpr const char* kThreadModule = "com_process";

constexpr std::uint32_t kReadArea = 4096;  // one poll of a pass-through or the GPS port
constexpr std::size_t kEnvBuffer = 13;     // Uart ID 14, the environment channel

// "STUMP[%03d]: FILE: com_process, FUNCTION: %s, LINE: %d." on standard output.
void stump(int number, const char* function, int line) noexcept;
// The port index a thread routine is handed (-1 for none).
int port_argument(void* arg) noexcept;
// One read of a port: the count, 0 when nothing came or the read failed.
std::uint32_t poll_port(int port, std::uint8_t* into, std::uint32_t room) noexcept;
// Handles one whole board-link frame received on a board port: presence, or channel data into
// its receive buffer. Returns the buffer filled, -1 for none.
int handle_frame(int port, const std::uint8_t* frame, int size) noexcept;

}  // namespace bsp::com
