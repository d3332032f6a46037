// GPIO lines through sysfs (/sys/class/gpio), the LEDs on them, the LED lamp test, and the
// switched 12 V output.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "io/io.h"
#include "os/os.h"
#include "sdk/sdk.h"

// The LED lines are active-low: an LED lights while its line reads 0. (extern "C" again on the
// definition, so that GCC keeps the export of a const object.)
extern "C" SDK_BSP_API const LED_GPIO_T LED_GPIO_LIST[SDK_BSP_LED_ROWS] = {
    {501, 1},     // "Local/Led/run"
    {502, 65535}, // "Local/Led/power"
    {503, 18},    // "Local/Led/alarm"
    {504, 0},     // "Local/Led/net"
    {505, 65535}, // "Local/Led/update"
    {506, 65535}, {507, 65535}, {508, 65535},  // "Local/Led/extend1".."Local/Led/extend3"
    {509, 4},     // "Local/Led/1"
    {510, 65535}, {511, 65535}, {512, 65535}, {513, 65535}, {514, 65535}, {515, 65535}, {516, 65535},
    {517, 65535}, {518, 65535}, {519, 65535}, {520, 65535}, {521, 65535}, {522, 65535},
};

static_assert(sizeof(LED_GPIO_T) == 8 && offsetof(LED_GPIO_T, gpio) == 4);
static_assert(sizeof LED_GPIO_LIST == 22 * 8);

namespace bsp::io {
namespace {

// Paths and the text written to them are built in 64-byte buffers, as the box does.
constexpr std::size_t kGpioText = 64;
using Text = std::array<char, kGpioText>;

constexpr const char* kExport = "/sys/class/gpio/export";
constexpr const char* kUnexport = "/sys/class/gpio/unexport";

Text line_path(int gpio, const char* attribute) noexcept {
    Text path{};
    std::snprintf(path.data(), path.size(), "/sys/class/gpio/gpio%d/%s", gpio, attribute);
    return path;
}

// What a primitive prints when the open or the write fails ("\n" ends a message that is a line).
struct Messages {
    const char* open;
    const char* write;
};

// Opens path write-only, writes text whole and closes. O_TRUNC changes nothing on a sysfs
// attribute; on a simulated box's plain file it leaves just the latest text, as sysfs shows it.
int write_attribute(const char* path, std::string_view text, Messages say) noexcept {
    bsp::os::Fd fd(bsp::os::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd) {
        std::fputs(say.open, stdout);
        return -1;
    }
    ssize_t n = ::write(fd.get(), text.data(), text.size());
    fd.reset();
    if (n != static_cast<ssize_t>(text.size())) {
        std::fputs(say.write, stdout);
        return -1;
    }
    return 0;
}

int write_number(const char* path, int gpio, Messages say) noexcept {
    Text digits{};
    int n = std::snprintf(digits.data(), digits.size(), "%d", gpio);
    return write_attribute(path, {digits.data(), static_cast<std::size_t>(n)}, say);
}

// The edge words by number; any other number is "none".
constexpr std::array<const char*, 4> kEdges{"none", "rising", "falling", "both"};

// The first LED operation of the process initialises the lines; callers that race it wait until
// the lines are ready. The mutex is held only while the lines are set up, and no other lock with it.
std::atomic<bool> g_led_ready{false};
std::mutex g_led_init;

void ensure_led_lines() noexcept {
    if (g_led_ready.load(std::memory_order_acquire)) return;
    std::lock_guard lock(g_led_init);
    if (g_led_ready.load(std::memory_order_relaxed)) return;
    LED_GPIO_INIT();
    g_led_ready.store(true, std::memory_order_release);
}

// The lamp test lights these LEDs and puts them out again, in this order: run, alarm, net and
// "Local/Led/1".."Local/Led/14". Power, update and the extension LEDs keep their state.
constexpr std::array<int, 17> kLampTest{501, 503, 504, 509, 510, 511, 512, 513, 514,
                                        515, 516, 517, 518, 519, 520, 521, 522};
constexpr long kLampTestMs = 1000;

// The box gives the library no control line for the 12 V output: a switch is kept as the
// channel's state, on until first switched off. Channels beyond these are ignored.
std::array<std::atomic<int>, kAo12vChannels> g_ao_12v{1, 1, 1, 1};

}  // namespace

int Read_GpioPin_FromRESOURCES(int id) noexcept {
    for (const LED_GPIO_T& row : LED_GPIO_LIST)
        if (row.resource == id) return row.gpio;
    return SDK_BSP_NO_GPIO;
}

void LED_GPIO_INIT() noexcept {
    for (const LED_GPIO_T& row : LED_GPIO_LIST) {
        if (row.gpio == SDK_BSP_NO_GPIO) continue;
        std::printf("LED_GPIO_INIT=%d\r\n", row.gpio);
        // A line already exported (by an earlier run of the host) fails the export and is
        // still set up.
        bsp_gpio_export(row.gpio);
        bsp_gpio_direction(row.gpio, 1);
        SDK_bsp_gpio_write(row.gpio, 1);
        std::printf("LED_GPIO_INIT=%d ok\r\n", row.gpio);
    }
}

void forget_led_lines() noexcept { g_led_ready.store(false); }

void SET_LED_STATUS(int id, int value) noexcept {
    ensure_led_lines();
    int gpio = Read_GpioPin_FromRESOURCES(id);
    if (gpio != SDK_BSP_NO_GPIO) SDK_bsp_gpio_write(gpio, value == 0 ? 1 : 0);
}

int SET_AO_12V_ONOFF(int channel, int on) noexcept {
    if (channel >= 0 && channel < kAo12vChannels) g_ao_12v[static_cast<std::size_t>(channel)].store(on);
    return 0;
}

int ao_12v_state(int channel) noexcept {
    return channel >= 0 && channel < kAo12vChannels ? g_ao_12v[static_cast<std::size_t>(channel)].load() : -1;
}

}  // namespace bsp::io

using namespace bsp::io;

extern "C" {

SDK_BSP_API int bsp_gpio_export(int gpio) noexcept {
    return write_number(kExport, gpio, {"Failed to open export for writing!\n", "Failed to export gpio!"});
}

SDK_BSP_API int bsp_gpio_unexport(int gpio) noexcept {
    return write_number(kUnexport, gpio, {"Failed to open unexport for writing!\n", "Failed to unexport gpio!"});
}

SDK_BSP_API int bsp_gpio_direction(int gpio, int out) noexcept {
    return write_attribute(line_path(gpio, "direction").data(), out ? "out" : "in",
                           {"Failed to open gpio direction for writing!\n", "Failed to set direction!\n"});
}

SDK_BSP_API int SDK_bsp_gpio_write(int gpio, int value) noexcept {
    return write_attribute(line_path(gpio, "value").data(), value ? "1" : "0",
                           {"Failed to open gpio value for writing!\n", "Failed to write value!\n"});
}

SDK_BSP_API int bsp_gpio_read(int gpio) noexcept {
    bsp::os::Fd fd(bsp::os::open(line_path(gpio, "value").data(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        std::fputs("Failed to open gpio value for reading!\n", stdout);
        return -1;
    }
    std::array<char, 4> text{};  // up to 3 characters and a terminator
    ssize_t n = ::read(fd.get(), text.data(), 3);
    fd.reset();
    // An empty read counts as failed: there is no value to report.
    if (n <= 0) {
        std::fputs("Failed to read value!\n", stdout);
        return -1;
    }
    return std::atoi(text.data());
}

SDK_BSP_API int bsp_gpio_edge(int gpio, int edge) noexcept {
    const char* word = edge >= 1 && edge <= 3 ? kEdges[static_cast<std::size_t>(edge)] : kEdges[0];
    return write_attribute(line_path(gpio, "edge").data(), word,
                           {"Failed to open gpio edge for writing!\n", "Failed to set edge!\n"});
}

SDK_BSP_API int SetLEDValue_FromResourceName(int id, int value) noexcept {
    SET_LED_STATUS(id, value);
    return -1;
}

SDK_BSP_API int SetLEDValue(const char* resourceName, int value) noexcept {
    SET_LED_STATUS(READ_resourceName(resourceName), value);
    SDK_LOG_WRITE(bsp::sdk::kLogDebug, "SetLEDValue resourceName:%s,Value=%d", resourceName ? resourceName : "(null)",
                  value);
    return -1;
}

SDK_BSP_API void sdk_start_log(void) noexcept {
    std::printf("SDK:open all led\r\n");
    for (int id : kLampTest) SetLEDValue_FromResourceName(id, 1);
    bsp::os::sleep_ms(kLampTestMs);
    std::printf("SDK:close all led\r\n");
    for (int id : kLampTest) SetLEDValue_FromResourceName(id, 0);
    std::printf("sdk_start_log end\r\n");
}

SDK_BSP_API int SET_AO_12V_RESTART(int channel, unsigned int seconds) noexcept {
    SDK_LOG_WRITE(bsp::sdk::kLogSys, "SET AO 12V RESTART CH=%d", channel);
    SET_AO_12V_ONOFF(channel, 0);
    for (unsigned int s = 0; s < seconds; ++s) bsp::os::sleep_ms(1000);  // any count, no overflow
    return SET_AO_12V_ONOFF(channel, 1);
}

// The box has no beeper the library drives.
SDK_BSP_API void BSP_BEEP_START(void) noexcept {}

}  // extern "C"
