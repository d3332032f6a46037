// A device that speaks lines of text, as older units with ASCII commands do: each line the host
// sends (ended by a carriage return or a line feed) is looked up in its table and answered with the
// row's answer, as written there, after the row's delay. A line not in the table gets no answer.
// The table (file=) is a JSON list of rows:
//   [{"request": "Q1", "answer": "(230.1 229.8 230.0 012 50.0 2.27 25.0 00001001\r", "delay": 50},
//    {"request": "I", "answer": "#ACME UPS 1.00\r"}]
#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/device.h"

namespace sim {
namespace {

using json = nlohmann::json;

constexpr std::size_t kMaxLine = 1024;  // longer without a line end: noise, dropped
constexpr long long kMaxDelayMs = 60000;

struct Row {
    std::string request, answer;
    std::chrono::milliseconds delay{0};
};

std::vector<Row> load_rows(const std::filesystem::path& file) {
    auto bad = [&](const std::string& why) { return std::runtime_error(file.string() + ": " + why); };
    std::ifstream in(file);
    if (!in) throw bad("cannot be read");
    const json j = json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_array()) throw bad("not a JSON list of rows {\"request\", \"answer\", \"delay\"}");
    std::vector<Row> rows;
    for (const auto& r : j) {
        const bool texts = r.is_object() && r.value("request", json()).is_string() && r.value("answer", json()).is_string();
        const auto delay = r.is_object() ? r.value("delay", json(0)) : json();
        if (!texts || !delay.is_number_integer() || delay.get<long long>() < 0 || delay.get<long long>() > kMaxDelayMs)
            throw bad("row " + r.dump() + " is not {\"request\": TEXT, \"answer\": TEXT, \"delay\": 0 to 60000 ms}");
        rows.push_back({r["request"], r["answer"], std::chrono::milliseconds(delay.get<long long>())});
    }
    return rows;
}

class TextDevice : public Device {
  public:
    explicit TextDevice(const DeviceSetup& setup) : setup_(setup), rows_(load_rows(setup.file)) {}

    void hear(std::span<const std::uint8_t> bytes, bool in_tune, TimePoint now) override {
        if (!in_tune) {
            ++counts.errors;
            notes.push_back(label + ": noise (the host's line is not at " + settings_text(setup_.line) + "), no answer");
            line_.clear();
            return;
        }
        for (const auto c : bytes) {
            if (c != '\r' && c != '\n') {
                line_ += static_cast<char>(c);
                if (line_.size() > kMaxLine) {
                    ++counts.errors;
                    line_.clear();
                }
                continue;
            }
            if (!line_.empty()) on_line(now);
            line_.clear();
        }
    }

    std::optional<LineSettings> settings() const override { return setup_.line; }

    void describe(nlohmann::ordered_json& into) const override {
        Device::describe(into);
        into["file"] = setup_.file.string();
    }

  private:
    void on_line(TimePoint now) {
        ++counts.requests;
        const auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.request == line_; });
        if (row == rows_.end()) {
            ++counts.errors;
            notes.push_back(label + " <- " + quoted(as_bytes(line_)) + ": not in its table, no answer");
            return;
        }
        notes.push_back(label + " <- " + quoted(as_bytes(line_)) + ", -> " + quoted(as_bytes(row->answer)));
        answer(Bytes(row->answer.begin(), row->answer.end()), now + row->delay, fault);
    }

    DeviceSetup setup_;
    std::vector<Row> rows_;
    std::string line_;
};

}  // namespace

std::unique_ptr<Device> make_text_device(const DeviceSetup& setup) {
    try {
        return std::make_unique<TextDevice>(setup);
    } catch (const std::exception& e) {
        throw std::runtime_error("device " + std::to_string(setup.uart) + ": " + e.what());
    }
}

}  // namespace sim
