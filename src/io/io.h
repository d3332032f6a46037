// What the local I/O files share: the LED lines, the switched 12 V output and the software
// watchdog's record and pass.
#pragma once

#include <cstdint>

#include "sdk_bsp.h"

namespace bsp::io {

// ---- gpio, leds, 12 V output ----

// The GPIO number of an LED resource ID (first row of LED_GPIO_LIST with that ID), or
// SDK_BSP_NO_GPIO for an LED without a line and for an ID that is no LED.
int Read_GpioPin_FromRESOURCES(int id) noexcept;
// Lights (value not 0) or darkens (0) the LED of a resource ID, exporting the LED lines first on
// the process's first LED operation. LEDs without a line and other IDs are ignored.
void SET_LED_STATUS(int id, int value) noexcept;
// Exports every LED line, sets it to output and dark, with its two traces on standard output.
void LED_GPIO_INIT() noexcept;
// Unit tests only: the next LED operation initialises the lines again.
void forget_led_lines() noexcept;

// Switches a channel of the 12 V output off (on 0) or on (on 1). Returns 0.
constexpr int kAo12vChannels = 4;
int SET_AO_12V_ONOFF(int channel, int on) noexcept;
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

// The wall clock in whole seconds, through the replaceable clock.
std::uint32_t ReadSysTime_Value() noexcept;

// One pass of the watchdog thread: the link keep-alive tick, a second's sleep, the expiry check
// and, once expired, the log line, another second and the reboot command.
void soft_dog_pass() noexcept;

}  // namespace bsp::io
