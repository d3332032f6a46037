// The Uart API: "Local/Uart/1".."Local/Uart/16" by name, their stored line settings, and the
// dispatch of each Uart ID to the pass-through port, board channel or environment channel that
// carries it.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>

#include "com/uart_api.h"
#include "os/os.h"
#include "sdk/sdk.h"

namespace bsp::com {
namespace {

// Stored line settings, entry ID - 1. Read and written field by field without a lock: a reader
// racing a writer may see a mix of an entry's old and new fields, never a torn field.
struct BauPar {
    std::int32_t iBaudRate;
    std::int32_t iDataSize;
    std::int32_t iStopBit;
    std::int32_t iParity;
};
std::array<BauPar, kUartCount> STR_BauPar{};
constexpr BauPar kDefaultBauPar{9600, 8, 1, 0};

std::int32_t get(std::int32_t& field) noexcept { return std::atomic_ref(field).load(std::memory_order_relaxed); }
void put(std::int32_t& field, std::int32_t v) noexcept { std::atomic_ref(field).store(v, std::memory_order_relaxed); }

void store(std::size_t index, const BauPar& p) noexcept {
    BauPar& e = STR_BauPar[index];
    put(e.iBaudRate, p.iBaudRate);
    put(e.iDataSize, p.iDataSize);
    put(e.iStopBit, p.iStopBit);
    put(e.iParity, p.iParity);
}

BauPar load(std::size_t index) noexcept {
    BauPar& e = STR_BauPar[index];
    return {get(e.iBaudRate), get(e.iDataSize), get(e.iStopBit), get(e.iParity)};
}

// What carries each Uart ID.
enum class Carrier { kPort, kBoard, kEnv, kNone };
Carrier carrier(int id) noexcept {
    if (id >= 1 && id <= 4) return Carrier::kPort;
    if (id >= 5 && id <= 12) return Carrier::kBoard;
    if (id == kEnvUart) return Carrier::kEnv;
    return Carrier::kNone;
}

bool is_uart(int id) noexcept { return id >= 1 && id <= static_cast<int>(kUartCount); }
const char* shown(const char* name) noexcept { return name ? name : "(null)"; }

// The bytes of a write as "%02x " each, in chunks rather than one printf per byte.
void print_hex(const std::uint8_t* data, int len) noexcept {
    char chunk[3 * 256 + 1];
    for (int at = 0; at < len;) {
        int n = 0;
        for (int k = 0; k < 256 && at < len; ++k, ++at) n += std::snprintf(chunk + n, 4, "%02x ", data[at]);
        std::fwrite(chunk, 1, static_cast<std::size_t>(n), stdout);
    }
}

}  // namespace

int SetUartParam_FromResourceName(int id, int baud, int data_bits, int stop_bits, int parity) noexcept {
    if (!is_uart(id)) return -1;
    store(static_cast<std::size_t>(id - 1), {baud, data_bits, stop_bits, parity});
    return static_cast<int>(COM_BAU_INIT(static_cast<std::uint32_t>(id - 1)));
}

int GetUartParam_FromResourceName(int id, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept {
    if (!is_uart(id)) return -1;
    BauPar p = load(static_cast<std::size_t>(id - 1));
    if (baud) *baud = p.iBaudRate;
    if (data_bits) *data_bits = p.iDataSize;
    if (stop_bits) *stop_bits = p.iStopBit;
    if (parity) *parity = p.iParity;
    return 0;
}

int ReadUart_FromResourceName(int id, std::uint8_t* buffer, int max, std::uint32_t) noexcept {
    // Uart ID 16 has no receive buffer; 13 and 15 have one that nothing fills.
    if (id < 1 || id > static_cast<int>(kUartCount) - 1) return -1;
    unsigned char* dest = buffer;
    return SDK_Read_COM(static_cast<std::uint32_t>(id - 1), &dest, max);
}

int WriteUart_FromResourceName(int id, const std::uint8_t* data, int len) noexcept {
    auto n = static_cast<std::uint32_t>(len);
    switch (carrier(id)) {
        case Carrier::kPort: SDK_BSP_ComWrite(static_cast<std::uint32_t>(id - 1), data, n, nullptr); return 0;
        case Carrier::kBoard: EXT_TTYSCOM_SEND_INFO(id - 1, data, n); return 0;
        case Carrier::kEnv: ENV_TTYSCOM_SEND_INFO(data, n); return 0;
        case Carrier::kNone: break;
    }
    return -1;
}

}  // namespace bsp::com

using namespace bsp::com;
using bsp::sdk::kLogSo;

extern "C" {

std::uint32_t COM_BAU_INIT(std::uint32_t index) noexcept {
    if (index >= kUartCount) return static_cast<std::uint32_t>(-1);
    BauPar p = load(index);
    auto low = [](std::int32_t v) { return static_cast<std::uint8_t>(v); };
    auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    switch (carrier(static_cast<int>(index) + 1)) {
        case Carrier::kPort:
            M_BAU_SET_COM(index, u(p.iBaudRate), low(p.iDataSize), low(p.iStopBit), low(p.iParity));
            break;
        case Carrier::kBoard:
            EXT_TTYSCOM_SET_BAU(static_cast<std::int32_t>(index), u(p.iBaudRate), u(p.iDataSize), u(p.iStopBit),
                                u(p.iParity));
            break;
        case Carrier::kEnv: ENV_TTYSCOM_SET_BAU(u(p.iBaudRate), u(p.iDataSize), u(p.iStopBit), u(p.iParity)); break;
        case Carrier::kNone: break;  // Uart IDs 13, 15 and 16 are only stored
    }
    return 0;
}

SDK_BSP_API void BSP_BAU_INIT(void) noexcept {
    for (std::uint32_t i = 0; i < kUartCount; ++i) {
        store(i, kDefaultBauPar);
        COM_BAU_INIT(i);
    }
}

SDK_BSP_API int SetUartParam(const char* name, int iBaudRate, int iDataSize, int iStopBit, int iParity) noexcept {
    int result = SetUartParam_FromResourceName(READ_resourceName(name), iBaudRate, iDataSize, iStopBit, iParity);
    SDK_LOG_WRITE(kLogSo, "SetUartParam:%s iBaudRate:%d,iDataSize:%d,iStopBit:%d,iParity:%d,result:%d", shown(name),
                  iBaudRate, iDataSize, iStopBit, iParity, result);
    return result;
}

SDK_BSP_API int GetUartParam(const char* name, int* iBaudRate, int* iDataSize, int* iStopBit, int* iParity) noexcept {
    int result = GetUartParam_FromResourceName(READ_resourceName(name), iBaudRate, iDataSize, iStopBit, iParity);
    auto value = [](const int* p) { return p ? *p : 0; };
    SDK_LOG_WRITE(kLogSo, "GetUartParam:%s iBaudRate:%d,iDataSize:%d,iStopBit:%d,iParity:%d,result:%d", shown(name),
                  value(iBaudRate), value(iDataSize), value(iStopBit), value(iParity), result);
    return result;
}

SDK_BSP_API int ReadUart(const char* name, unsigned char* buffer, int length, unsigned int timeout) noexcept {
    if (!buffer) return -1;
    int got = ReadUart_FromResourceName(READ_resourceName(name), buffer, length, timeout);
    if (got > 0) return got;
    // One wait, then one more try, whatever it brings.
    bsp::os::sleep_ms(timeout <= 1 ? 1 : static_cast<long>(timeout) - 1);
    return ReadUart_FromResourceName(READ_resourceName(name), buffer, length, timeout);
}

SDK_BSP_API int WriteUart(const char* name, const unsigned char* data, int length) noexcept {
    int result = -1;
    if ((data || length == 0) && length >= 0) {
        print_hex(data, length);
        result = WriteUart_FromResourceName(READ_resourceName(name), data, length);
    }
    SDK_LOG_WRITE(kLogSo, "WriteUart resourceName:%s TXLENTH:%d,result=%d", shown(name), length, result);
    return result;
}

}  // extern "C"
