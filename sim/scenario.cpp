// A scenario file read, line by line, and checked against the box before it is played.
#include "sim/scenario.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "sim/box.h"

namespace sim {
namespace {

using J = nlohmann::ordered_json;

constexpr Millis kLongest = std::chrono::hours(24);  // no time in a file beyond a day

struct Unit {
    std::string_view suffix;
    Millis size;
};
// "ms" before "s", which ends it too.
constexpr Unit kUnits[] = {{"ms", Millis(1)}, {"s", std::chrono::seconds(1)}, {"m", std::chrono::minutes(1)}};

struct Operator {
    std::string_view text;
    Compare op;
};
constexpr Operator kOperators[] = {{"=", Compare::kEq}, {"!=", Compare::kNe}, {"<", Compare::kLt},
                                   {"<=", Compare::kLe}, {">", Compare::kGt}, {">=", Compare::kGe}};

[[noreturn]] void bad(const std::string& what) { throw std::invalid_argument(what); }

std::string in_quotes(std::string_view word) { return J(std::string(word)).dump(); }

// The words of a line, without its comment: a `#` that starts a word starts it.
std::vector<std::string> words_of(std::string_view line) {
    std::vector<std::string> words;
    for (std::size_t at = 0;;) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos || line[at] == '#') return words;
        const auto end = std::min(line.find_first_of(" \t\r", at), line.size());
        words.emplace_back(line.substr(at, end - at));
        at = end;
    }
}

// 500ms, 10s, 2m.
Millis time_of(std::string_view word) {
    for (const auto& u : kUnits) {
        if (!word.ends_with(u.suffix)) continue;
        const auto digits = word.substr(0, word.size() - u.suffix.size());
        long long n = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || n > kLongest / u.size) break;
        return n * u.size;
    }
    bad(in_quotes(word) + " is not a time: a whole number and ms, s or m (500ms, 10s, 2m), a day at most");
}

Condition condition_of(const std::vector<std::string>& w, std::size_t at) {
    if (w.size() != at + 3) bad("a condition is PATH OP VALUE, three words");
    const auto op = std::find_if(std::begin(kOperators), std::end(kOperators), [&](const Operator& o) { return o.text == w[at + 1]; });
    if (op == std::end(kOperators)) bad(in_quotes(w[at + 1]) + " is not one of = != < <= > >=");
    return {w[at], op->op, w[at + 2]};
}

void read_step(const std::vector<std::string>& w, Scenario& s, int line) {
    if (w.size() < 4 || w[2] != "set") bad("a step is at T set NAME=VALUE [NAME=VALUE...]");
    Step step{line, time_of(w[1]), nlohmann::json::object(), {}};
    if (!s.steps.empty() && step.at < s.steps.back().at)
        bad("at " + w[1] + " comes before the step of line " + std::to_string(s.steps.back().line) + ": steps go in time order");
    for (std::size_t i = 3; i < w.size(); ++i) {
        const auto eq = w[i].find('=');
        if (eq == 0 || eq == std::string::npos) bad(in_quotes(w[i]) + " is not NAME=VALUE");
        const auto name = w[i].substr(0, eq);
        if (step.changes.contains(name)) bad(name + " is set twice");
        step.changes[name] = w[i].substr(eq + 1);
        step.text += (i > 3 ? " " : "") + w[i];
    }
    s.end = std::max(s.end, step.at);
    s.steps.push_back(std::move(step));
}

void read_expectation(const std::vector<std::string>& w, Scenario& s, int line) {
    if (w.size() < 3 || (w[1] != "within" && w[1] != "always"))
        bad("an expectation is expect within D PATH OP VALUE, or expect always T1..T2 PATH OP VALUE");
    Expectation e{line, w[1] == "always", std::nullopt, {}, {}, condition_of(w, 3), {}};
    if (e.always) {
        const auto dots = w[2].find("..");
        if (dots == std::string::npos) bad(in_quotes(w[2]) + " is not a window T1..T2");
        e.from = time_of(w[2].substr(0, dots));
        e.to = time_of(w[2].substr(dots + 2));
        if (e.to < e.from) bad("the window " + w[2] + " ends before it begins");
    } else {
        if (!s.steps.empty()) {
            e.after = s.steps.size() - 1;
            e.from = s.steps.back().at;
        }
        e.to = e.from + time_of(w[2]);
    }
    for (const auto& word : w) e.text += (e.text.empty() ? "" : " ") + word;
    s.end = std::max(s.end, e.to);
    s.expectations.push_back(std::move(e));
}

std::optional<bool> boolean_of(std::string_view word) {
    if (word == "on" || word == "true") return true;
    if (word == "off" || word == "false") return false;
    return std::nullopt;
}

std::optional<double> number_of(std::string_view word) {
    double v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (word.empty() || ec != std::errc() || end != word.data() + word.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool ordered(Compare op) { return op != Compare::kEq && op != Compare::kNe; }

// What is wrong with a condition on the state as it is now: a path it does not have, a value or
// an operator the value there cannot take.
std::string check_condition(const J& state, const Condition& c) {
    const J* seen = find_path(state, c.path);
    if (!seen) {
        // The nearest part the state has: null now (no fix yet) or a list, it may hold it later.
        for (auto cut = c.path.rfind('.'); cut != std::string::npos && cut > 0; cut = c.path.rfind('.', cut - 1)) {
            if (const J* part = find_path(state, c.path.substr(0, cut)))
                return part->is_null() || part->is_array() ? "" : "the box's state has no " + c.path;
        }
        return "the box's state has no " + c.path;
    }
    if (seen->is_null() || c.value == "null") return "";
    if (seen->is_structured()) return c.path + " holds more than one value: name one of them";
    if (seen->is_number()) return number_of(c.value) ? "" : c.path + " is a number: " + in_quotes(c.value) + " is not one";
    if (ordered(c.op)) return c.path + " is not a number: = and != compare it";
    if (seen->is_boolean() && !boolean_of(c.value)) return c.path + " is on or off: " + in_quotes(c.value) + " is neither";
    return "";
}

}  // namespace

Scenario parse_scenario(std::string_view text) {
    Scenario s;
    int line = 0;
    for (std::size_t at = 0; at <= text.size(); ++line) {
        const auto end = std::min(text.find('\n', at), text.size());
        const auto w = words_of(text.substr(at, end - at));
        at = end + 1;
        if (w.empty()) continue;
        try {
            if (w[0] == "box") {
                if (s.box_line) bad("a second box line (the first is line " + std::to_string(s.box_line) + ")");
                if (!s.steps.empty() || !s.expectations.empty()) bad("the box line comes before every step and expectation");
                s.box_line = line + 1;
                s.box.assign(w.begin() + 1, w.end());
            } else if (w[0] == "at") {
                read_step(w, s, line + 1);
            } else if (w[0] == "expect") {
                read_expectation(w, s, line + 1);
            } else {
                bad(in_quotes(w[0]) + " is not a step: box, at or expect");
            }
        } catch (const std::invalid_argument& e) {
            bad("line " + std::to_string(line + 1) + ": " + e.what());
        }
    }
    if (s.steps.empty() && s.expectations.empty()) bad("no step and no expectation: nothing to play");
    return s;
}

std::string check_scenario(const Scenario& s, const Box& box) {
    for (const auto& step : s.steps)
        if (const auto why = box.check(step.changes); !why.empty()) return "line " + std::to_string(step.line) + ": " + why;
    const J state = box.state();
    for (const auto& e : s.expectations)
        if (const auto why = check_condition(state, e.condition); !why.empty()) return "line " + std::to_string(e.line) + ": " + why;
    return "";
}

bool holds(const Condition& c, const J* seen) {
    if (!seen) return false;
    const auto same = [&](bool equal) { return c.op == Compare::kEq ? equal : c.op == Compare::kNe && !equal; };
    if (seen->is_null() || c.value == "null") return same(seen->is_null() && c.value == "null");
    if (seen->is_string()) return same(seen->get_ref<const std::string&>() == c.value);
    if (seen->is_boolean()) {
        const auto b = boolean_of(c.value);
        return b && same(*b == seen->get<bool>());
    }
    const auto want = number_of(c.value);
    if (!seen->is_number() || !want) return false;
    const double v = seen->get<double>();
    switch (c.op) {
        case Compare::kEq: return v == *want;
        case Compare::kNe: return v != *want;
        case Compare::kLt: return v < *want;
        case Compare::kLe: return v <= *want;
        case Compare::kGt: return v > *want;
        case Compare::kGe: return v >= *want;
    }
    return false;
}

}  // namespace sim
