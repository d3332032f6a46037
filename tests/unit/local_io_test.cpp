// The box's local I/O: the GPIO primitives, the LEDs and their lamp test, the 12 V output, and the
// software watchdog.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "io/io.h"
#include "support.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
namespace fs = std::filesystem;

constexpr int kLedLines[] = {1, 18, 0, 4};  // run, alarm, net, LED 1: table order
constexpr int kOther = 7;                   // a line of no LED

class Gpio : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        bsp::io::forget_led_lines();
        unit::write_file(gpio("export"), "");
        unit::write_file(gpio("unexport"), "");
        for (int n : kLedLines) exported(n);
        exported(kOther);
        STR_LOG_PAR.debug = 2;
        STR_LOG_PAR.sys = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        RootedTest::TearDown();
    }
    fs::path gpio(const std::string& rel) { return box("sys/class/gpio/" + rel); }
    void exported(int n) {
        for (const char* a : {"direction", "value", "edge"}) unit::write_file(gpio("gpio" + std::to_string(n) + "/" + a), "");
    }
    std::string attr(int n, const char* name) { return unit::read_file(gpio("gpio" + std::to_string(n) + "/" + name)); }
    // The value files of the LED lines, in table order.
    std::string leds() {
        std::string s;
        for (int n : kLedLines) s += attr(n, "value");
        return s;
    }
    std::string log() { return unit::read_file(box("tmp/sdklog.log")); }
};

TEST_F(Gpio, PrimitivesWriteTheSysfsTextsAndPrintEveryFailure) {
    EXPECT_EQ(unit::printed([&] {
                  EXPECT_EQ(bsp_gpio_export(kOther) + bsp_gpio_unexport(123), 0);
                  EXPECT_EQ(unit::read_file(gpio("export")) + unit::read_file(gpio("unexport")), "7123");
                  EXPECT_EQ(bsp_gpio_direction(kOther, 5), 0);
                  EXPECT_EQ(attr(kOther, "direction"), "out");
                  EXPECT_EQ(bsp_gpio_direction(kOther, 0) + SDK_bsp_gpio_write(kOther, -2), 0);
                  EXPECT_EQ(attr(kOther, "direction") + attr(kOther, "value"), "in1");
                  unit::write_file(gpio("gpio7/value"), "0\n");
                  EXPECT_EQ(bsp_gpio_read(kOther), 0);
                  for (auto [edge, word] : {std::pair{1, "rising"}, {2, "falling"}, {3, "both"}, {0, "none"}, {4, "none"}}) {
                      EXPECT_EQ(bsp_gpio_edge(kOther, edge), 0);
                      EXPECT_EQ(attr(kOther, "edge"), word) << edge;
                  }
              }),
              "");
    // Files that cannot be opened (those of a line not exported are bad_calls.txt's); files that
    // open but refuse the write (a full device) or the read (a directory, an empty file).
    fs::remove(gpio("export"));
    fs::remove(gpio("unexport"));
    const std::string unopened = unit::printed([] { EXPECT_EQ(bsp_gpio_export(9) + bsp_gpio_unexport(9), -2); });
    for (const char* f : {"export", "unexport"}) fs::create_symlink("/dev/full", gpio(f));
    fs::remove_all(gpio("gpio7"));
    fs::create_directories(gpio("gpio7"));
    for (const char* a : {"direction", "value", "edge"}) fs::create_symlink("/dev/full", gpio("gpio7") / a);
    fs::create_directories(gpio("gpio9/value"));
    const std::string refused = unit::printed([] {
        EXPECT_EQ(bsp_gpio_export(9) + bsp_gpio_unexport(9) + bsp_gpio_direction(kOther, 1) +
                      SDK_bsp_gpio_write(kOther, 1) + bsp_gpio_edge(kOther, 1) + bsp_gpio_read(9) + bsp_gpio_read(1),
                  -7);
    });
    EXPECT_EQ(unopened + refused,
              "Failed to open export for writing!\nFailed to open unexport for writing!\n"
              "Failed to export gpio!Failed to unexport gpio!Failed to set direction!\nFailed to write value!\n"
              "Failed to set edge!\nFailed to read value!\nFailed to read value!\n");
}

TEST_F(Gpio, FirstLedOperationSetsUpTheLinesEvenWhenExportedBefore) {
    fs::remove(gpio("export"));
    fs::create_symlink("/dev/full", gpio("export"));  // sysfs refuses to export a line twice
    std::string init;
    for (int n : kLedLines)
        init += "LED_GPIO_INIT=" + std::to_string(n) + "\r\nFailed to export gpio!LED_GPIO_INIT=" + std::to_string(n) + " ok\r\n";
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(SetLEDValue("Local/Led/run", 1), -1); }), init);
    for (int n : kLedLines) EXPECT_EQ(attr(n, "direction"), "out") << n;
    EXPECT_EQ(leds(), "0111") << "active-low: run lit, the others dark";
    EXPECT_EQ(unit::printed([] {
                  SetLEDValue("Local/Led/alarm", 3);
                  SetLEDValue("Local/Led/run", 0);
                  EXPECT_EQ(SetLEDValue_FromResourceName(509, 1), -1);
              }),
              "")
        << "the lines are set up once";
    EXPECT_EQ(leds(), "1010");
    // LEDs without a line and names of no LED change nothing, and still log.
    for (const char* name : {"Local/Led/power", "Local/Led/5", "Local/DO/1", static_cast<const char*>(nullptr)})
        EXPECT_EQ(SetLEDValue(name, 0), -1);
    EXPECT_EQ(leds(), "1010");
    EXPECT_EQ(attr(kOther, "value"), "");
    EXPECT_THAT(log(), HasSubstr("]:SetLEDValue resourceName:Local/Led/run,Value=1"));
    EXPECT_THAT(log(), HasSubstr("]:SetLEDValue resourceName:Local/Led/power,Value=0"));
}

// The table hosts read: every LED resource once, in ID order, with the box's line or none.
TEST(LedTable, EveryLedByItsResourceWithItsLine) {
    std::vector<int> ids, lines(SDK_BSP_LED_ROWS, SDK_BSP_NO_GPIO), got_lines;
    for (const LED_GPIO_T& row : LED_GPIO_LIST) ids.push_back(row.resource), got_lines.push_back(row.gpio);
    std::vector<int> want_ids(SDK_BSP_LED_ROWS);
    std::iota(want_ids.begin(), want_ids.end(), 501);  // "Local/Led/run" .. "Local/Led/14"
    EXPECT_EQ(ids, want_ids);
    lines[0] = 1, lines[2] = 18, lines[3] = 0, lines[8] = 4;  // run, alarm, net, LED 1
    EXPECT_EQ(got_lines, lines);
}

// Sleeps return at once, after noting what the snapshot function sees.
class Snapshots : public unit::FixedClock {
  public:
    explicit Snapshots(std::function<std::string()> snap) : FixedClock(1719822600), snap_(std::move(snap)) {}
    void sleep_ms(long ms) noexcept override {
        FixedClock::sleep_ms(ms);
        during.push_back(snap_());
    }
    std::vector<std::string> during;

  private:
    std::function<std::string()> snap_;
};

TEST_F(Gpio, LampTestLightsTheLedsForASecondAndLeavesThemDark) {
    Snapshots clock([this] { return leds(); });
    std::string init;
    for (int n : kLedLines) init += "LED_GPIO_INIT=" + std::to_string(n) + "\r\nLED_GPIO_INIT=" + std::to_string(n) + " ok\r\n";
    EXPECT_EQ(unit::printed(sdk_start_log), "SDK:open all led\r\n" + init + "SDK:close all led\r\nsdk_start_log end\r\n");
    EXPECT_EQ(unit::read_file(gpio("export")), "4") << "the last line exported";
    EXPECT_EQ(clock.slept_ms, 1000);
    EXPECT_THAT(clock.during, ElementsAre("0000"));
    EXPECT_EQ(leds(), "1111");
}

TEST_F(Gpio, TwelveVoltRestartIsOffForTheGivenSeconds) {
    Snapshots clock([] { return std::to_string(bsp::io::ao_12v_state(0)); });
    EXPECT_EQ(SET_AO_12V_RESTART(0, 3), 0);
    EXPECT_THAT(clock.during, ElementsAre("0", "0", "0"));
    EXPECT_EQ(bsp::io::ao_12v_state(0), 1);
    EXPECT_EQ(SET_AO_12V_RESTART(2, 0), 0);  // no pause at all
    EXPECT_EQ(SET_AO_12V_RESTART(-1, 0), 0);
    EXPECT_EQ(clock.slept_ms, 3000);
    EXPECT_THAT(log(), HasSubstr("]:SET AO 12V RESTART CH=0\r\n"));
}

constexpr std::time_t kStart = 1719822600;

// The box's bin/reboot only records that it was run: the runner puts the box's bin first on PATH,
// so the real command is never reached.
class SoftDog : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        Rest_cnt_com_dog(0);
        Rest_cnt_com_dog(1);
        STR_LOG_PAR.sys = 2;
        STR_LOG_PAR.debug = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
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

    unit::SteppingClock clock_{kStart};
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
