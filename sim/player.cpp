// A scenario played on the box: its steps on time, its expectations checked on the box's state
// every kSample (and at each window's edges) until each is decided, one line each.
//
//   ok       14.803  link.up is true  (line 9: expect within 25s link.up = on)
//   #        30.000  set modem-unplugged=on  (line 11)
//   not ok   35.000  link.up is true  (line 12: expect within 5s link.up = off)
#include <time.h>

#include <algorithm>
#include <cstdio>

#include "sim/box.h"
#include "sim/host_process.h"
#include "sim/scenario.h"

namespace sim {
namespace {

using J = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// "ok       14.803  ": the verdict, then the time since time 0.
std::string head(const char* verdict, Clock::duration t) {
    char out[32];
    std::snprintf(out, sizeof out, "%-6s %8.3f  ", verdict, std::chrono::duration<double>(t).count());
    return out;
}

std::string verdict(bool ok, Clock::duration t, const Expectation& e, const J* seen) {
    return head(ok ? "ok" : "not ok", t) + e.condition.path + " is " + (seen ? seen->dump() : "not in the state") +
           "  (line " + std::to_string(e.line) + ": " + e.text + ")";
}

// Decides an expectation on the state at t, when it can be: a `within` once it holds or its time
// is up, an `always` once it fails or its window has closed. Nothing before its window opens.
std::optional<bool> decide(const Expectation& e, std::size_t steps_done, Clock::duration t, const J* seen) {
    if ((e.after && *e.after >= steps_done) || t < e.from) return std::nullopt;
    const bool ok = holds(e.condition, seen);
    const bool over = t >= e.to;
    if (e.always ? (!ok || over) : (ok || over)) return ok;
    return std::nullopt;
}

// When the state is next read: a sample later, or sooner at a step or a window's edge.
Clock::duration next_check(const Scenario& s, std::size_t steps_done, const std::vector<bool>& decided, Clock::duration t) {
    Clock::duration next = t + kSample;
    if (steps_done < s.steps.size()) next = std::min<Clock::duration>(next, s.steps[steps_done].at);
    for (std::size_t i = 0; i < s.expectations.size(); ++i) {
        if (decided[i]) continue;
        for (Clock::duration edge : {Clock::duration(s.expectations[i].from), Clock::duration(s.expectations[i].to)})
            if (edge > t) next = std::min(next, edge);
    }
    return std::max(t, std::min<Clock::duration>(next, std::max<Clock::duration>(s.end, t)));
}

}  // namespace

Outcome play(const Scenario& s, const Box& box, HostProcess* host, const std::function<void(const std::string&)>& say,
             const sigset_t& stop) {
    Outcome out;
    const auto t0 = Clock::now();
    std::vector<bool> decided(s.expectations.size());
    std::size_t steps_done = 0, open = s.expectations.size();
    bool host_ended = false;
    for (;;) {
        const auto t = Clock::now() - t0;
        for (; steps_done < s.steps.size() && s.steps[steps_done].at <= t; ++steps_done) {
            const auto& step = s.steps[steps_done];
            const auto why = box.set(step.changes);  // checked before the run: refused only if the box changed its mind
            say(head(why.empty() ? "#" : "not ok", t) + "set " + step.text + "  (line " + std::to_string(step.line) + ")" +
                (why.empty() ? "" : ": " + why));
            if (!why.empty()) ++out.failed;
        }
        const J state = box.state();
        for (std::size_t i = 0; i < s.expectations.size(); ++i) {
            if (decided[i]) continue;
            const auto& e = s.expectations[i];
            const J* seen = find_path(state, e.condition.path);
            if (const auto ok = decide(e, steps_done, t, seen)) {
                decided[i] = true;
                --open;
                ++(*ok ? out.passed : out.failed);
                say(verdict(*ok, t, e, seen));
            }
        }
        if (host && !host_ended) {
            if (const auto how = host->ended(); !how.empty()) {
                host_ended = true;
                ++out.failed;
                say(head("not ok", t) + "the host " + how + " before the end");
            }
        }
        if (open == 0 && steps_done == s.steps.size() && t >= s.end) return out;
        const auto wait = next_check(s, steps_done, decided, t) - (Clock::now() - t0);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(wait, Clock::duration::zero())).count();
        const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        if (sigtimedwait(&stop, nullptr, &ts) > 0) {
            out.interrupted = true;
            say(head("#", Clock::now() - t0) + "interrupted");
            return out;
        }
    }
}

}  // namespace sim
