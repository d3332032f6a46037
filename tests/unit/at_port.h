// The cellular module's AT port for the modem's unit tests: a pty linked at dev/ttyUSB3 under the
// test's root, the modem's log level written to the file, and a clock on which a 100 ms poll passes
// in microseconds.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "lte/lte.h"
#include "pty_device.h"
#include "support.h"

namespace unit {

// The wall clock moves only when the library sleeps, by what it slept; each sleep also yields a few
// microseconds, so that bytes written to a pty reach its slave while the library polls.
class PollClock : public bsp::os::Clock {
  public:
    PollClock() { bsp::os::set_clock(this); }
    ~PollClock() override { bsp::os::set_clock(nullptr); }
    timeval time_of_day() noexcept override {
        return {static_cast<std::time_t>(slept_us / 1000000), static_cast<suseconds_t>(slept_us % 1000000)};
    }
    void sleep_ms(long ms) noexcept override {
        slept_us += ms * 1000;
        std::this_thread::sleep_for(std::chrono::microseconds(5));
    }
    long slept_ms() const { return static_cast<long>(slept_us / 1000); }
    void reset() { slept_us = 0; }

  private:
    std::atomic<long long> slept_us{0};
};

class AtPortTest : public RootedTest {
  protected:
    static constexpr const char* kAtDev = "/dev/ttyUSB3";  // an EC20's AT device

    void SetUp() override {
        RootedTest::SetUp();
        module = std::make_unique<PtyDevice>(root_, "ttyUSB3");
        STR_LOG_PAR.net = 2;  // the modem's level, to the log file
    }
    void TearDown() override {
        at_port_close();
        SDK_LOG_PAR_INIT_NOPRINTF();
        module.reset();
        RootedTest::TearDown();
    }
    // The module's answer, waiting for the library to read it.
    void answer(std::string_view a) { module->feed(bytes(a)); }
    // The next n bytes the library wrote to the module.
    std::string sent(std::size_t n) { return text(module->read(n)); }

    PollClock clock;
    std::unique_ptr<PtyDevice> module;
};

}  // namespace unit
