// The box's event log: a short queue of numbered events that readers copy out.
#include "sim/events.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace sim {

void EventLog::push(std::string_view name, const nlohmann::ordered_json& data) { push_text(name, data.dump()); }

void EventLog::push_text(std::string_view name, std::string data) {
    {
        std::lock_guard lock(mu_);
        kept_.push_back({++last_, std::string(name), std::move(data)});
        if (kept_.size() > kKept) kept_.pop_front();
    }
    cv_.notify_all();
}

std::vector<Event> EventLog::after(std::uint64_t seq, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return last_ > seq; });
    auto first = std::find_if(kept_.begin(), kept_.end(), [&](const Event& e) { return e.seq > seq; });
    return {first, kept_.end()};
}

std::uint64_t EventLog::last() const {
    std::lock_guard lock(mu_);
    return last_;
}

}  // namespace sim
