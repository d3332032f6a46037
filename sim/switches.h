// The box's switches: every condition the box can be built in, under one name each, that can be
// changed while it runs. The same table reads fsu-sim's start options ("--modem-csq 10" is the
// switch modem-csq set to "10", "--silent 2" is silent.2 set to "on"), takes the control API's
// changes ({"modem-csq": 10, "silent.2": true}) and lists every switch's value in the box's state.
// A switch reads and writes its value in an Options record: the box builds itself from one, and
// while it runs it shows its present condition as one and enacts a changed one (sim/box.h).
//
//   modem-csq      number   Options::modem.state.rssi     10, or the text "10"
//   silent.2       boolean  Options::faults[1].silent     true, or the text "on" ("off": false)
//   gps-position   string   Options::gps.origin           "31.25,121.5,10.5"
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

struct Options;

// The JSON type of a switch's value.
enum class SwitchType { kBoolean, kNumber, kString };

struct Switch {
    std::string name;  // "modem-csq", "silent.2", "unplugged.ttymxc3": one name, dots and all
    SwitchType type;
    // Its start option: "--" + name; or, for a member of a family, "--" + family and the member
    // ("--silent 2" for silent.2, "--unplugged ttymxc3"), which sets it on. No option when `start`
    // is false.
    std::string family;
    bool start = true;
    std::string argument;  // the start option's argument, as the usage names it ("MS", "BOARD")
    std::string help;      // one line for the usage (a family's first member carries it)
    std::function<nlohmann::json(const Options&)> get;
    // Sets the value from its JSON type or from its command-line text ("on", "10", "EC20").
    // Returns what is wrong, naming the switch and the value, or "" when it was set.
    std::function<std::string(Options&, const nlohmann::json&)> set;
};

using Switches = std::vector<Switch>;

// The box's own switches, in the order the usage and the README list them.
Switches box_switches();
const Switch* find_switch(const Switches& table, std::string_view name);
// "boolean", "number", "string".
const char* type_name(SwitchType type);

// What a switch's setter says of a value it refuses: "modem-csq: 100 is not a whole number ...".
std::string refused(const std::string& name, const nlohmann::json& value, const std::string& wanted);
// true or false, or the command-line text "on" or "off".
std::optional<bool> as_boolean(const nlohmann::json& v);
// A whole number, or its decimal text.
std::optional<long long> as_whole(const nlohmann::json& v);

}  // namespace sim
