// The Uart API: "Local/Uart/1".."Local/Uart/16" by name, their stored line settings, and the
// dispatch of each Uart ID to the pass-through port, board channel or environment channel that
// carries it.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>

#include "base/log.h"
#include "base/resources.h"
#include "base/texts.h"
#include "com/board_link.h"
#include "com/ports.h"
#include "com/receive_buffers.h"
#include "com/uart_api.h"
#include "os/os.h"

namespace bsp::com {
namespace {

// The stored line settings, entry ID - 1. Read and written field by field without a lock: a reader
// racing a writer may see a mix of an entry's old and new fields, never a torn field.
struct LineSettings {
    std::int32_t baud;
    std::int32_t data_bits;
    std::int32_t stop_bits;
    std::int32_t parity;
};
constexpr LineSettings kDefaultSettings{9600, 8, 1, 0};

class StoredSettings {
  public:
    void store(std::size_t index, const LineSettings& p) noexcept {
        LineSettings& e = entries_[index];
        put(e.baud, p.baud);
        put(e.data_bits, p.data_bits);
        put(e.stop_bits, p.stop_bits);
        put(e.parity, p.parity);
    }
    LineSettings load(std::size_t index) noexcept {
        LineSettings& e = entries_[index];
        return {get(e.baud), get(e.data_bits), get(e.stop_bits), get(e.parity)};
    }

  private:
    static std::int32_t get(std::int32_t& field) noexcept { return std::atomic_ref(field).load(std::memory_order_relaxed); }
    static void put(std::int32_t& field, std::int32_t v) noexcept {
        std::atomic_ref(field).store(v, std::memory_order_relaxed);
    }
    std::array<LineSettings, kUartCount> entries_{};
};

constinit StoredSettings g_settings;

void store(std::size_t index, const LineSettings& p) noexcept { g_settings.store(index, p); }
LineSettings load(std::size_t index) noexcept { return g_settings.load(index); }

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

int set_uart_by_id(int id, int baud, int data_bits, int stop_bits, int parity) noexcept {
    if (!is_uart(id)) return -1;
    store(static_cast<std::size_t>(id - 1), {baud, data_bits, stop_bits, parity});
    return static_cast<int>(apply_line_settings(static_cast<std::uint32_t>(id - 1)));
}

int get_uart_by_id(int id, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept {
    if (!is_uart(id)) return -1;
    LineSettings p = load(static_cast<std::size_t>(id - 1));
    if (baud) *baud = p.baud;
    if (data_bits) *data_bits = p.data_bits;
    if (stop_bits) *stop_bits = p.stop_bits;
    if (parity) *parity = p.parity;
    return 0;
}

int read_uart_by_id(int id, std::uint8_t* buffer, int max) noexcept {
    // Uart ID 16 has no receive buffer; 13 and 15 have one that nothing fills.
    if (id < 1 || id > static_cast<int>(kUartCount) - 1) return -1;
    unsigned char* dest = buffer;
    return drain(static_cast<std::uint32_t>(id - 1), &dest, max);
}

int write_uart_by_id(int id, const std::uint8_t* data, int len) noexcept {
    auto n = static_cast<std::uint32_t>(len);
    switch (carrier(id)) {
        case Carrier::kPort: write_port(static_cast<std::uint32_t>(id - 1), data, n, nullptr); return 0;
        case Carrier::kBoard: send_board(id - 1, data, n); return 0;
        case Carrier::kEnv: send_env(data, n); return 0;
        case Carrier::kNone: break;
    }
    return -1;
}

std::uint32_t apply_line_settings(std::uint32_t index) noexcept {
    if (index >= kUartCount) return static_cast<std::uint32_t>(-1);
    LineSettings p = load(index);
    auto low = [](std::int32_t v) { return static_cast<std::uint8_t>(v); };
    auto u = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    switch (carrier(static_cast<int>(index) + 1)) {
        case Carrier::kPort: set_port_line(index, u(p.baud), low(p.data_bits), low(p.stop_bits), low(p.parity)); break;
        case Carrier::kBoard:
            set_board_line(static_cast<std::int32_t>(index), u(p.baud), u(p.data_bits), u(p.stop_bits), u(p.parity));
            break;
        case Carrier::kEnv: set_env_line(u(p.baud), u(p.data_bits), u(p.stop_bits), u(p.parity)); break;
        case Carrier::kNone: break;  // Uart IDs 13, 15 and 16 are only stored
    }
    return 0;
}

void init_line_settings() noexcept {
    for (std::uint32_t i = 0; i < kUartCount; ++i) {
        store(i, kDefaultSettings);
        apply_line_settings(i);
    }
}

int set_uart(const char* name, int baud, int data_bits, int stop_bits, int parity) noexcept {
    int result = set_uart_by_id(base::resource_id(name), baud, data_bits, stop_bits, parity);
    base::log_write(base::kLogSo, texts::kSetUartParam, shown(name), baud, data_bits, stop_bits, parity, result);
    return result;
}

int get_uart(const char* name, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept {
    int result = get_uart_by_id(base::resource_id(name), baud, data_bits, stop_bits, parity);
    auto value = [](const int* p) { return p ? *p : 0; };
    base::log_write(base::kLogSo, texts::kGetUartParam, shown(name), value(baud), value(data_bits), value(stop_bits),
                   value(parity), result);
    return result;
}

int read_uart(const char* name, unsigned char* buffer, int length, unsigned timeout) noexcept {
    if (!buffer) return -1;
    int got = read_uart_by_id(base::resource_id(name), buffer, length);
    if (got > 0) return got;
    // One wait, then one more try, whatever it brings.
    os::sleep_ms(timeout <= 1 ? 1 : static_cast<long>(timeout) - 1);
    return read_uart_by_id(base::resource_id(name), buffer, length);
}

int write_uart(const char* name, const unsigned char* data, int length) noexcept {
    int result = -1;
    if ((data || length == 0) && length >= 0) {
        print_hex(data, length);
        result = write_uart_by_id(base::resource_id(name), data, length);
    }
    base::log_write(base::kLogSo, texts::kWriteUart, shown(name), length, result);
    return result;
}

}  // namespace bsp::com
