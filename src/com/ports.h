// The seven serial port objects (bsp_m_com): their indexes and devices, line settings, and the
// descriptor of an open port for the code that writes or reads it beside the port layer. The
// exported port calls are forwarders to these.
#pragma once

#include <cstdint>

#include <termios.h>

#include "sdk_bsp.h"

namespace bsp::com {

constexpr std::uint32_t kPortCount = 7;
enum PortIndex : std::uint32_t { kPortBoard1 = 4, kPortBoard2 = 5, kPortGps = 6 };
constexpr std::uint32_t kMinBaudrate = 600;  // reported as the lowest rate, though 300 is accepted
constexpr std::uint32_t kMaxBaudrate = 115200;
constexpr std::uint32_t kBoardLinkBaud = 115200;  // every port's rate after M_COM_INIT

struct Port {
    char device[32];  // the box's device path, NUL padded
    std::int32_t fd;  // -1 while not open
};

// Puts speed, parity, data bits and stop bits into tio. Prints the line of the first unsupported
// value and returns false, tio then half filled and not to be applied.
bool fill_line(termios& tio, const ComParams& p) noexcept;

// The descriptor of an open port, -1 otherwise (and for an index out of range).
int port_fd(std::uint32_t index) noexcept;
const char* port_device(std::uint32_t index) noexcept;

// The port operations, each returning a port status code (BSP_COM_OK or BSP_COM_ERR_*) after the
// port layer's error line on standard output for an error.
std::uint32_t create_port(std::uint32_t index) noexcept;
std::uint32_t destroy_port(std::uint32_t index) noexcept;
std::uint32_t port_slots() noexcept;
std::uint32_t port_capability(std::uint32_t index, ComCapability* cap) noexcept;
std::uint32_t set_port_params(std::uint32_t index, const ComParams* params) noexcept;
std::uint32_t write_port(std::uint32_t index, const std::uint8_t* data, std::uint32_t len,
                         std::uint32_t* written) noexcept;
std::uint32_t read_port(std::uint32_t index, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) noexcept;
std::uint32_t flush_port(std::uint32_t index) noexcept;
// Line settings as the box's applications give them (stop bits 1 or 2, parity 0 none, 1 odd,
// else even): the low byte of the status, 255 for an index above 7.
std::uint8_t set_port_line(std::uint32_t index, std::uint32_t baud, std::uint8_t data_bits, std::uint8_t stop_bits,
                           std::uint8_t parity) noexcept;
// Opens the seven ports at 115200 8N1, once per process.
void open_ports() noexcept;

// The port layer's error line ("ERROR: FILE:bsp_m_com, FUNCTION:..."), for a function of the
// system; returns the code.
std::uint32_t port_error(const char* function, int line, std::uint32_t code) noexcept;

}  // namespace bsp::com
