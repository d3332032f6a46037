// The Uart API by numeric Uart ID (1..16) rather than by name, and the start-up line settings.
#pragma once

#include <cstdint>

namespace bsp::com {

constexpr std::uint32_t kUartCount = 16;
constexpr int kEnvUart = 14;  // the environment channel

int SetUartParam_FromResourceName(int id, int baud, int data_bits, int stop_bits, int parity) noexcept;
int GetUartParam_FromResourceName(int id, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept;
int ReadUart_FromResourceName(int id, std::uint8_t* buffer, int max, std::uint32_t timeout) noexcept;
int WriteUart_FromResourceName(int id, const std::uint8_t* data, int len) noexcept;

}  // namespace bsp::com

// Applies the stored line settings of one Uart (index = ID - 1) to what carries it; -1 (as
// unsigned) for an index above 15.
extern "C" std::uint32_t COM_BAU_INIT(std::uint32_t index) noexcept;
