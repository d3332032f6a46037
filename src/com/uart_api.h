// The Uart API: "Local/Uart/1".."Local/Uart/16" by name or by numeric Uart ID (1..16), the stored
// line settings and the start-up settings. The exported Uart calls are forwarders to these.
#pragma once

#include <cstdint>

namespace bsp::com {

constexpr std::uint32_t kUartCount = 16;
constexpr int kEnvUart = 14;  // the environment channel

// By Uart ID.
int set_uart_by_id(int id, int baud, int data_bits, int stop_bits, int parity) noexcept;
int get_uart_by_id(int id, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept;
int read_uart_by_id(int id, std::uint8_t* buffer, int max) noexcept;
int write_uart_by_id(int id, const std::uint8_t* data, int len) noexcept;

// By name, each with its log line (the reader has none).
int set_uart(const char* name, int baud, int data_bits, int stop_bits, int parity) noexcept;
int get_uart(const char* name, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept;
int read_uart(const char* name, unsigned char* buffer, int length, unsigned timeout) noexcept;
int write_uart(const char* name, const unsigned char* data, int length) noexcept;

// Applies the stored line settings of one Uart (index = ID - 1) to what carries it; -1 (as
// unsigned) for an index above 15.
std::uint32_t apply_line_settings(std::uint32_t index) noexcept;
// Stores and applies 9600 8N1 for all sixteen Uarts.
void init_line_settings() noexcept;

}  // namespace bsp::com
