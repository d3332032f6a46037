// The seven serial port objects (bsp_m_com): their indexes and devices, line settings, and the
// descriptor of an open port for the code that writes or reads it beside the port layer.
#pragma once

#include <cstdint>

#include <termios.h>

#include "sdk_bsp.h"

namespace bsp::com {

// The module name printed in the port layer's error lines.
constexpr const char* kPortModule = "bsp_m_com";

constexpr std::uint32_t kPortCount = 7;
enum PortIndex : std::uint32_t { kPortBoard1 = 4, kPortBoard2 = 5, kPortGps = 6 };
constexpr std::uint32_t kMinBaudrate = 600;  // reported as the lowest rate, though 300 is accepted
constexpr std::uint32_t kMaxBaudrate = 115200;
constexpr std::uint32_t kBoardLinkBaud = 115200;  // every port's rate after M_COM_INIT

struct ComObj {
    char devName[32];  // the box's device path, NUL padded
    std::int32_t fd;   // -1 while not open
};

// Puts speed, parity, data bits and stop bits into tio. Prints the line of the first unsupported
// value and returns false, tio then half filled and not to be applied.
bool fill_line(termios& tio, const ComParams& p) noexcept;

// The descriptor of an open port, -1 otherwise (and for an index out of range).
int port_fd(std::uint32_t index) noexcept;
const char* port_device(std::uint32_t index) noexcept;

}  // namespace bsp::com
