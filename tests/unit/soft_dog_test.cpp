#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "io/io.h"
#include "support.h"

namespace {

using testing::HasSubstr;
using testing::Not;

constexpr std::time_t kStart = 1719822600;

// Time moves only when the library sleeps, by the whole seconds slept so far.
class SteppingClock : public bsp::os::Clock {
  public:
    std::time_t now() noexcept override { return base + slept_ms.load() / 1000; }
    void sleep_ms(long ms) noexcept override { slept_ms += ms; }
    std::atomic<std::time_t> base{kStart};
    std::atomic<long> slept_ms{0};
};

// The box's bin/reboot only records that it was run: the runner puts the box's bin first on PATH,
// so the real command is never reached.
class SoftDog : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        bsp::os::set_clock(&clock_);
        Rest_cnt_com_dog(0);
        Rest_cnt_com_dog(1);
        STR_LOG_PAR.sys = 2;
        STR_LOG_PAR.debug = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        bsp::os::set_clock(nullptr);
        RootedTest::TearDown();
    }
    // Watchdog passes, their keep-alive traces (no board port is open) kept off the test output.
    void passes(int n) {
        unit::printed([n] {
            for (int k = 0; k < n; ++k) bsp::io::soft_dog_pass();
        });
    }
    std::time_t now() { return clock_.now(); }
    int reboots() {
        std::string r = unit::read_file(box("tmp/ran"));
        return static_cast<int>(std::count(r.begin(), r.end(), '\n'));
    }
    std::string log() { return unit::read_file(box("tmp/sdklog.log")); }

    SteppingClock clock_;
};

TEST_F(SoftDog, ArmedAndStarvedItRebootsOnePassAfterIntervalPlusAMinute) {
    bsp_SoftDog_Init();
    EXPECT_EQ(bsp::io::soft_dog().interval, 600u);
    passes(3);  // disarmed: only the link keep-alive ticks
    EXPECT_EQ(Return_ComDog_Cnt(0), 3u);
    clock_.base += 100000;
    passes(1);
    EXPECT_EQ(reboots(), 0);

    clock_.base = kStart;
    EXPECT_EQ(SoftDogEnable(1, 30000), 0);
    bsp::io::SoftDog d = bsp::io::soft_dog();
    EXPECT_EQ(d.enable, 1);
    EXPECT_EQ(d.interval, 30u);
    EXPECT_EQ(d.last_feed, static_cast<std::uint32_t>(now()));
    const std::time_t fed = now();
    passes(90);  // the check of pass k sees the clock k seconds after the feed
    EXPECT_EQ(now(), fed + 90);
    EXPECT_THAT(log(), Not(HasSubstr("soft dog start")));
    EXPECT_EQ(reboots(), 0);
    passes(1);  // 91 seconds after: expired; one more second, then the reboot
    EXPECT_THAT(log(), HasSubstr("]:soft dog start,ready reboot=30"));
    EXPECT_EQ(reboots(), 1);
    EXPECT_EQ(now(), fed + 92);
    passes(1);  // while the box goes down, both repeat every two seconds
    EXPECT_EQ(reboots(), 2);
    EXPECT_EQ(now(), fed + 94);
}

TEST_F(SoftDog, HostCallsAndClockJumpsMoveTheDeadline) {
    EXPECT_EQ(SoftDogEnable(257, 1999), 0);  // low byte 1 arms; milliseconds round down
    EXPECT_EQ(bsp::io::soft_dog().enable, 1);
    EXPECT_EQ(bsp::io::soft_dog().interval, 1u);
    EXPECT_EQ(SoftDogEnable(2, 5000), 0);  // only exactly 1 arms
    clock_.base += 100000;
    passes(1);
    EXPECT_EQ(reboots(), 0);

    EXPECT_EQ(bsp_SoftDogEnable(1, 600000), 0);
    EXPECT_EQ(SoftDogFeedInterval(999), 0);  // interval 0: a minute from now
    EXPECT_EQ(bsp::io::soft_dog().interval, 0u);
    passes(60);
    EXPECT_EQ(SoftDogFeed(), 0);  // moves only the feed time
    EXPECT_EQ(bsp::io::soft_dog().last_feed, static_cast<std::uint32_t>(now()));
    EXPECT_EQ(bsp::io::soft_dog().interval, 0u);
    passes(60);
    EXPECT_EQ(bsp_SoftDogFeed(), 0);
    clock_.base -= 1000;  // set back: the deadline is far ahead
    passes(200);
    EXPECT_EQ(reboots(), 0);
    clock_.base += 10000;  // set forward past it: the next pass expires
    passes(1);
    EXPECT_EQ(reboots(), 1);

    // Only the host API logs, each call with its own number.
    const std::string text = log();
    int lines = 0;
    for (auto at = text.find("]:fun="); at != std::string::npos; at = text.find("]:fun=", at + 1)) ++lines;
    EXPECT_EQ(lines, 4);
    EXPECT_THAT(text, HasSubstr("]:fun=SoftDogEnable,line =409"));
    EXPECT_THAT(text, HasSubstr("]:fun=SoftDogFeedInterval,line =424"));
    EXPECT_THAT(text, HasSubstr("]:fun=SoftDogFeed,line =439"));
}

}  // namespace
