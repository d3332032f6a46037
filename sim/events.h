// What the box tells the people watching it: named events, one per change a person would want to
// see (an LED lit, a switch set, a dial, a board gone), and the whole state now and then. The box
// appends under its own lock and never waits here; readers (the event streams of the control
// server) take copies and may fall behind, losing the oldest events, never holding the box up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

struct Event {
    std::uint64_t seq = 0;  // from 1, one more for each event
    std::string name;       // "led", "switch", "state", ...
    std::string data;       // a JSON text
};

class EventLog {
  public:
    static constexpr std::size_t kKept = 256;

    void push(std::string_view name, const nlohmann::ordered_json& data);
    void push_text(std::string_view name, std::string data);
    // The events after `seq`, oldest first (those no longer kept are skipped); when there are
    // none, waits up to `timeout` for one.
    std::vector<Event> after(std::uint64_t seq, std::chrono::milliseconds timeout) const;
    std::uint64_t last() const;

  private:
    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    std::deque<Event> kept_;
    std::uint64_t last_ = 0;
};

}  // namespace sim
