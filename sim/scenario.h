// Scenario files: a host's behaviour in the field, written once and checked against the box on
// every run (fsu-sim --scenario FILE [DIR] [-- HOST COMMAND...]). One step a line, `#` comments;
// time 0 is the moment the box is up and the host has been started.
//
//   box --device 2=modbus,file=../meter.json      start options (paths from the file's folder)
//   expect within 25s link.up = on                 from the at line before it (0 if none)
//   at 30s set modem-unplugged=on                  switches, as the control API sets them
//   expect within 5s link.up = off
//   at 35s set modem-unplugged=off
//   expect within 25s link.dials = 2
//   expect always 0s..60s reboot.requests = 0      all through the window
//
// A condition is PATH OP VALUE: PATH a dotted path into the box's state (find_path); OP one of
// = != < <= > >=; VALUE read as the type the state's value has (a number, on/off or true/false, a
// word, or null). The state is read every kSample; steps at a time come before the checks at it.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

class Box;
class HostProcess;

using Millis = std::chrono::milliseconds;

enum class Compare { kEq, kNe, kLt, kLe, kGt, kGe };

struct Condition {
    std::string path;
    Compare op = Compare::kEq;
    std::string value;  // as written
};

// at T set NAME=VALUE...
struct Step {
    int line = 0;
    Millis at{0};
    nlohmann::json changes;  // {"modem-csq": "10"}: the command-line texts, as fsu-sim --set sends
    std::string text;        // "modem-csq=10 silent.2=on", as written
};

// expect within D ... (from the at line before it) or expect always T1..T2 ...
struct Expectation {
    int line = 0;
    bool always = false;
    std::optional<std::size_t> after;  // within: the step it counts from
    Millis from{0}, to{0};             // the window
    Condition condition;
    std::string text;  // the line, its words one blank apart
};

struct Scenario {
    int box_line = 0;  // 0: none
    std::vector<std::string> box;
    std::vector<Step> steps;  // in time order
    std::vector<Expectation> expectations;
    Millis end{0};  // the last time any line names
};

// Reads a scenario's text; throws std::invalid_argument naming the line ("line 7: ...") of a
// malformed one, or saying that there is nothing to play. A file of steps alone is played (the
// page saves one): it passes while the host lasts to its end.
Scenario parse_scenario(std::string_view text);
// Checks a scenario against the box its box line built, before anything is played: every switch
// and value as the box would take them, every path in its state (a path under a part that is
// null or a list now may come later). "" when all is well, else "line N: ...".
std::string check_scenario(const Scenario& s, const Box& box);
// Whether a condition holds on the value at its path (null: the state has none there).
bool holds(const Condition& c, const nlohmann::ordered_json* seen);

// ---- Playing one (player.cpp)

constexpr Millis kSample{100};

struct Outcome {
    int passed = 0, failed = 0;
    bool interrupted = false;
};

// Plays the scenario on the box from now, time 0: every step on time and every expectation
// checked until it is decided, each told through `say` as one line as it is ("ok", "not ok",
// "#" for the steps), a host that ends before the end as a failure. Returns early, interrupted,
// when one of the signals in `stop` (blocked by the caller) comes.
Outcome play(const Scenario& s, const Box& box, HostProcess* host, const std::function<void(const std::string&)>& say,
             const sigset_t& stop);

}  // namespace sim
