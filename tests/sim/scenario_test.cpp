// Scenario files read and checked before anything is played: every malformed line, unknown switch,
// bad value or path the state does not have is refused naming its line; conditions compare the
// state's values as their types say. Run in the plain build only (label default-only).
#include <gtest/gtest.h>

#include <stdexcept>

#include "../common/files.h"
#include "sim/box.h"
#include "sim/scenario.h"

namespace {

using json = nlohmann::ordered_json;

std::string refusal(const std::string& text, const sim::Box& box) {
    try {
        return sim::check_scenario(sim::parse_scenario(text), box);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
}

TEST(ScenarioFile, RefusedNamingTheLine) {
    testfiles::TempDir dir;
    sim::Options o;
    o.devices.resize(1);
    ASSERT_EQ(sim::parse_device("2=modbus", o.devices[0]), "");
    const sim::Box box(dir.path(), o);
    const std::string ok = "expect within 1s link.up = on\n";
    const std::pair<std::string, std::string> kRefused[] = {
        {"at 5 set modem-csq=10", "line 1: \"5\" is not a time: a whole number and ms, s or m (500ms, 10s, 2m), a day at most"},
        {"at 2h set modem-csq=10", "line 1: \"2h\" is not a time"},
        {"# a comment\n\n" + ok + "expect within 1s link.up == on", "line 4: \"==\" is not one of = != < <= > >="},
        {"expect within 1s link.up", "line 1: a condition is PATH OP VALUE, three words"},
        {"expect always 5s..2s link.up = on", "line 1: the window 5s..2s ends before it begins"},
        {"expect always 5s link.up = on", "line 1: \"5s\" is not a window T1..T2"},
        {"expect soon 5s link.up = on", "line 1: an expectation is expect within D PATH OP VALUE"},
        {"at 2s set modem-csq=10\nat 1s set modem-csq=11", "line 2: at 1s comes before the step of line 1"},
        {"at 1s modem-csq=10", "line 1: a step is at T set NAME=VALUE [NAME=VALUE...]"},
        {"at 1s set modem-csq", "line 1: \"modem-csq\" is not NAME=VALUE"},
        {"at 1s set modem-csq=1 modem-csq=2", "line 1: modem-csq is set twice"},
        {ok + "box --quiet", "line 2: the box line comes before every step and expectation"},
        {"box\nbox --quiet", "line 2: a second box line (the first is line 1)"},
        {"frob 1s", "line 1: \"frob\" is not a step: box, at or expect"},
        {"# nothing\n", "no step and no expectation: nothing to play"},
        // Checked against the box: the switches' own refusals, the state's paths.
        {ok + "at 1s set nope=1", "line 2: no switch \"nope\""},
        {"at 1s set modem-csq=100", "line 1: modem-csq: \"100\" is not a whole number from 0 to 99"},
        {"at 1s set device.2.holding.100=1", "line 1: device.2.holding.100: no such register (0 to 99)"},
        {"at 1s set device.3.holding.0=1", "line 1: device.3.holding.0: no registers (this device is echo)"},
        {"at 1s set device.2.fault=melted", "line 1: device.2.fault: \"melted\" is not"},
        {ok + "expect within 1s boards.3.present = on", "line 2: the box's state has no boards.3.present"},
        {"expect within 1s switches.silent.3 = on", "line 1: the box's state has no switches.silent.3"},
        {"expect within 1s link.up.x = on", "line 1: the box's state has no link.up.x"},
        {"expect within 1s leds.run = on", "line 1: leds.run holds more than one value: name one of them"},
        {"expect within 1s link.up = 5", "line 1: link.up is on or off: \"5\" is neither"},
        {"expect within 1s link.dials = two", "line 1: link.dials is a number: \"two\" is not one"},
        {"expect within 1s modem.model > EC20", "line 1: modem.model is not a number: = and != compare it"},
    };
    for (const auto& [text, why] : kRefused) EXPECT_EQ(refusal(text, box).substr(0, why.size()), why) << text;

    // Paths under a part that is null or a list now may come later; dotted switch names are one key.
    for (const char* later : {"expect within 1s outputs.3 = on", "expect within 1s ports.ttymxc1.recent.0.hex = 68",
                              "expect within 1s switches.silent.2 = off", "expect within 1s link.address != null",
                              "expect within 1s devices.2.units.1.holding.0.value >= 0"})
        EXPECT_EQ(refusal(later, box), "") << later;
}

TEST(ScenarioFile, ConditionsCompareAsTheStateValuesTypeSays) {
    struct Case {
        const char* value;
        sim::Compare op;
        json seen;
        bool holds;
    };
    using sim::Compare;
    const Case kCases[] = {
        {"10", Compare::kEq, 10, true},          {"10", Compare::kEq, "10", true},   {"9.5", Compare::kLt, 10, false},
        {"2", Compare::kGe, 2, true},            {"on", Compare::kEq, true, true},   {"off", Compare::kNe, true, true},
        {"on", Compare::kEq, "on", true},        {"on", Compare::kEq, 1, false},     {"null", Compare::kEq, nullptr, true},
        {"null", Compare::kNe, "10.0.0.1", true}, {"EC20", Compare::kNe, nullptr, true}, {"1", Compare::kLt, nullptr, false},
        {"EC20", Compare::kEq, "EC20", true},    {"true", Compare::kEq, false, false},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(sim::holds({"x", c.op, c.value}, &c.seen), c.holds) << c.value << " against " << c.seen.dump();
    }
    EXPECT_FALSE(sim::holds({"x", sim::Compare::kNe, "1"}, nullptr));  // no value there holds nothing
}

TEST(ScenarioFile, WithinCountsFromTheStepBeforeItAndTheRunEndsAtTheLastTimeNamed) {
    const auto s = sim::parse_scenario(
        "box --device 2=modbus,file=meter.json   # paths from the file's folder\n"
        "expect within 20s link.up = on\n"
        "at 1m set modem-unplugged=on silent.2=on\n"
        "expect within 500ms link.up = off\n"
        "expect always 10s..90s reboot.requests = 0\n");
    EXPECT_EQ(s.box_line, 1);
    EXPECT_EQ(s.box, (std::vector<std::string>{"--device", "2=modbus,file=meter.json"}));
    ASSERT_EQ(s.steps.size(), 1u);
    EXPECT_EQ(s.steps[0].changes, nlohmann::json({{"modem-unplugged", "on"}, {"silent.2", "on"}}));
    ASSERT_EQ(s.expectations.size(), 3u);
    using std::chrono::milliseconds;
    EXPECT_EQ(s.expectations[0].to, milliseconds(20000));
    EXPECT_EQ(s.expectations[1].from, milliseconds(60000));
    EXPECT_EQ(s.expectations[1].to, milliseconds(60500));
    EXPECT_EQ(s.expectations[2].from, milliseconds(10000));
    EXPECT_EQ(s.end, milliseconds(90000));
}

}  // namespace
