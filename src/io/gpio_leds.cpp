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

#include "base/log.h"
#include "base/resources.h"
#include "base/texts.h"
#include "io/io.h"
#include "os/os.h"

static_assert(sizeof(LED_GPIO_T) == 8 && offsetof(LED_GPIO_T, gpio) == 4);

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
    os::Fd fd(os::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC));
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

// The LED lines' set-up, done by the process's first LED operation; callers that race it wait
// until the lines are ready. The mutex is held only while the lines are set up.
class LedLines {
  public:
    void ensure() noexcept {
        if (ready_.load(std::memory_order_acquire)) return;
        std::lock_guard lock(init_);
        if (ready_.load(std::memory_order_relaxed)) return;
        init_led_lines();
        ready_.store(true, std::memory_order_release);
    }
    void forget() noexcept { ready_.store(false); }

  private:
    std::atomic<bool> ready_{false};
    std::mutex init_;
};
constinit LedLines g_led_lines;

// The lamp test lights these LEDs and puts them out again, in this order: run, alarm, net and
// "Local/Led/1".."Local/Led/14". Power, update and the extension LEDs keep their state.
constexpr std::array<int, 17> kLampTest{501, 503, 504, 509, 510, 511, 512, 513, 514,
                                        515, 516, 517, 518, 519, 520, 521, 522};
constexpr long kLampTestMs = 1000;
constexpr long kSecondMs = 1000;

// The box gives the library no control line for the 12 V output: a switch is kept as the
// channel's state, on until first switched off. Channels beyond these are ignored.
std::array<std::atomic<int>, kAo12vChannels> g_ao_12v{1, 1, 1, 1};

}  // namespace

int led_gpio(int id) noexcept {
    for (const LED_GPIO_T& row : LED_GPIO_LIST)
        if (row.resource == id) return row.gpio;
    return SDK_BSP_NO_GPIO;
}

void init_led_lines() noexcept {
    for (const LED_GPIO_T& row : LED_GPIO_LIST) {
        if (row.gpio == SDK_BSP_NO_GPIO) continue;
        std::printf(texts::kLedLineInit, row.gpio);
        // A line already exported (by an earlier run of the host) fails the export and is
        // still set up.
        gpio_export(row.gpio);
        gpio_direction(row.gpio, 1);
        gpio_write(row.gpio, 1);
        std::printf(texts::kLedLineReady, row.gpio);
    }
}

void forget_led_lines() noexcept { g_led_lines.forget(); }

void set_led(int id, int value) noexcept {
    g_led_lines.ensure();
    int gpio = led_gpio(id);
    if (gpio != SDK_BSP_NO_GPIO) gpio_write(gpio, value == 0 ? 1 : 0);
}

void set_led_by_name(const char* name, int value) noexcept {
    set_led(base::resource_id(name), value);
    base::log_write(base::kLogDebug, texts::kSetLedValue, name ? name : "(null)", value);
}

void lamp_test() noexcept {
    std::printf("SDK:open all led\r\n");
    for (int id : kLampTest) set_led(id, 1);
    os::sleep_ms(kLampTestMs);
    std::printf("SDK:close all led\r\n");
    for (int id : kLampTest) set_led(id, 0);
    std::fputs(texts::kLampTestEnd, stdout);
}

int switch_12v(int channel, int on) noexcept {
    if (channel >= 0 && channel < kAo12vChannels) g_ao_12v[static_cast<std::size_t>(channel)].store(on);
    return 0;
}

int ao_12v_state(int channel) noexcept {
    return channel >= 0 && channel < kAo12vChannels ? g_ao_12v[static_cast<std::size_t>(channel)].load() : -1;
}

int restart_12v(int channel, unsigned seconds) noexcept {
    base::log_write(base::kLogSys, texts::kRestart12v, channel);
    switch_12v(channel, 0);
    for (unsigned s = 0; s < seconds; ++s) os::sleep_ms(kSecondMs);  // any count, whatever the clock does
    return switch_12v(channel, 1);
}

int gpio_export(int gpio) noexcept {
    return write_number(kExport, gpio, {"Failed to open export for writing!\n", "Failed to export gpio!"});
}

int gpio_unexport(int gpio) noexcept {
    return write_number(kUnexport, gpio, {"Failed to open unexport for writing!\n", "Failed to unexport gpio!"});
}

int gpio_direction(int gpio, int out) noexcept {
    return write_attribute(line_path(gpio, "direction").data(), out ? "out" : "in",
                           {"Failed to open gpio direction for writing!\n", "Failed to set direction!\n"});
}

int gpio_write(int gpio, int value) noexcept {
    return write_attribute(line_path(gpio, "value").data(), value ? "1" : "0",
                           {"Failed to open gpio value for writing!\n", "Failed to write value!\n"});
}

int gpio_read(int gpio) noexcept {
    os::Fd fd(os::open(line_path(gpio, "value").data(), O_RDONLY | O_CLOEXEC));
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

int gpio_edge(int gpio, int edge) noexcept {
    const char* word = edge >= 1 && edge <= 3 ? kEdges[static_cast<std::size_t>(edge)] : kEdges[0];
    return write_attribute(line_path(gpio, "edge").data(), word,
                           {"Failed to open gpio edge for writing!\n", "Failed to set edge!\n"});
}

}  // namespace bsp::io
