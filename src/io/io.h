// Local I/O: the input and output values, the GPIO lines and LEDs, the switched 12 V output and the
// software watchdog. The exported calls of local I/O are forwarders to these.
#pragma once

#include <cstdint>

#include "sdk_bsp.h"

namespace bsp::io {

// ---- input and output values ----

// By resource ID: 0, or -1 for an ID out of range or a null value.
int read_ai(int id, int type, float* value) noexcept;
int read_di(int id, int* value) noexcept;
int request_do(int id, int value) noexcept;
// By resource name, each with its log line.
int get_ai(const char* name, int type, float* value) noexcept;
int get_ai_text(const char* name, int type, char* text) noexcept;
int get_di(const char* name, int* value) noexcept;
int get_bat(const char* name, float* value) noexcept;
int set_do(const char* name, int value) noexcept;

// ---- gpio, leds, 12 V output ----

// The sysfs primitives: 0, or -1 after their message on standard output (bsp_gpio_read: the value).
int gpio_export(int gpio) noexcept;
int gpio_unexport(int gpio) noexcept;
int gpio_direction(int gpio, int out) noexcept;
int gpio_write(int gpio, int value) noexcept;
int gpio_read(int gpio) noexcept;
int gpio_edge(int gpio, int edge) noexcept;

// The GPIO number of an LED resource ID (first row of LED_GPIO_LIST with that ID), or
// SDK_BSP_NO_GPIO for an LED without a line and for an ID that is no LED.
int led_gpio(int id) noexcept;
// Lights (value not 0) or darkens (0) the LED of a resource ID, exporting the LED lines first on
// the process's first LED operation. LEDs without a line and other IDs are ignored.
void set_led(int id, int value) noexcept;
// The same by name, with its log line.
void set_led_by_name(const char* name, int value) noexcept;
// Exports every LED line, sets it to output and dark, with its two traces on standard output.
void init_led_lines() noexcept;
// Unit tests only: the next LED operation initialises the lines again.
void forget_led_lines() noexcept;
// The lamp test of start-up: the LEDs lit for a second, then dark.
void lamp_test() noexcept;

// Switches a channel of the 12 V output off (on 0) or on (on 1). Returns 0.
constexpr int kAo12vChannels = 4;
int switch_12v(int channel, int on) noexcept;
// Off, the seconds, on again: returns 0.
int restart_12v(int channel, unsigned seconds) noexcept;
// The state a channel was last switched to (0 off, 1 on; on until first switched), -1 for a
// channel out of range.
int ao_12v_state(int channel) noexcept;

// ---- software watchdog ----

// The watchdog record, as the watchdog thread last saw it.
struct SoftDog {
    std::uint8_t enable;     // armed only when exactly 1
    std::uint32_t interval;  // whole seconds
    std::uint32_t last_feed; // wall clock, whole seconds since the epoch
};
SoftDog soft_dog() noexcept;

// Disarmed, 600 s, fed now.
void reset_soft_dog() noexcept;
// Each feeds the watchdog; arm and set_feed_interval also take an interval in milliseconds. The
// host's calls also write their trace line (traced).
void arm_soft_dog(int enable, unsigned interval_ms, bool traced = false) noexcept;
void set_feed_interval(unsigned interval_ms, bool traced = false) noexcept;
void feed_soft_dog(bool traced = false) noexcept;

// The wall clock in whole seconds, through the replaceable clock.
std::uint32_t seconds_now() noexcept;

// One pass of the watchdog thread: the link keep-alive tick, a second's sleep, the expiry check
// and, once expired, the log line, another second and the reboot command.
void soft_dog_pass() noexcept;
// The watchdog thread's routine; never returns.
void* soft_dog_main(void*) noexcept;
// Starts the watchdog thread once (its handle in thread_dog).
void start_soft_dog() noexcept;

}  // namespace bsp::io
