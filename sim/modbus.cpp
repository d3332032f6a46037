// Modbus RTU meters behind a Uart: libmodbus answers for each unit over a pseudo-terminal of its
// own, so that it works a real tty at the unit's line settings. The bus cuts the host's bytes into
// requests and hands each to the unit it addresses before libmodbus reads it: libmodbus 3.1.6,
// having seen a request for another unit, takes the next one for that unit's answer and drops it.
// A request for a unit nobody serves gets no answer; a broadcast (unit 0) goes to every unit,
// which answers nothing.
//
//   host  01 03 00 00 00 02 C4 0B   ->  unit 1's pty  ->  modbus_receive, modbus_reply
//   host  01 03 04 09 0D 00 00 ...  <-  unit 1's pty  <-  (the unit's fault: silent, delay, bad CRC)
//
// The registers file (file=) is a JSON object of tables, each a number of registers (all 0) or a
// list of {"address", "name", "value"}, the highest address giving the table's size:
//   {"holding": [{"address": 0, "name": "voltage", "value": 2301}], "input": 10,
//    "coil": [{"address": 3, "name": "breaker", "value": true}]}
#include <modbus.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/device.h"
#include "sim/io.h"

namespace sim {
namespace {

using json = nlohmann::json;
using J = nlohmann::ordered_json;

constexpr std::size_t kDefaultRegisters = 100;  // holding and input registers without a file
constexpr std::size_t kMaxRegisters = 65536;
// A request ends when its function code says it has all its bytes, or after a silence of 3.5
// characters (at least this long: a pty carries bytes at no pace of its own).
constexpr auto kMinSilence = std::chrono::milliseconds(20);
// libmodbus waits this long for the rest of a request cut short, holding the box up meanwhile.
constexpr std::uint32_t kByteTimeoutUs = 20000;

// The length of a request, from its function code: fixed, or a byte count at `count_at` plus the
// bytes before it and the CRC.
struct RequestShape {
    std::uint8_t function;
    std::size_t length;    // fixed length; with a byte count, the length without its data
    std::size_t count_at;  // 0: none
};
constexpr RequestShape kShapes[] = {
    {0x01, 8, 0},  {0x02, 8, 0}, {0x03, 8, 0}, {0x04, 8, 0},  {0x05, 8, 0},   {0x06, 8, 0},
    {0x07, 4, 0},  {0x0B, 4, 0}, {0x0C, 4, 0}, {0x0F, 9, 6},  {0x10, 9, 6},   {0x11, 4, 0},
    {0x16, 10, 0}, {0x17, 13, 10},
};

std::optional<std::size_t> request_length(const Bytes& b) {
    if (b.size() < 2) return std::nullopt;
    const auto* s =
        std::find_if(std::begin(kShapes), std::end(kShapes), [&](const RequestShape& shape) { return shape.function == b[1]; });
    if (s == std::end(kShapes)) return std::nullopt;
    if (!s->count_at) return s->length;
    if (b.size() <= s->count_at) return std::nullopt;
    return s->length + b[s->count_at];
}

// ---- the registers

struct RegisterTable {
    std::vector<std::uint16_t> values;
    std::map<int, std::string> names;
};
using RegisterMap = std::array<RegisterTable, kTableNames.size()>;

[[noreturn]] void bad_file(const std::filesystem::path& file, const std::string& why) {
    throw std::runtime_error(file.string() + ": " + why);
}

std::uint16_t entry_value(const std::filesystem::path& file, Table t, const json& v) {
    if (is_bits(t)) {
        if (v.is_boolean()) return v.get<bool>();
        if (v == 0 || v == 1) return v.get<std::uint16_t>();
        bad_file(file, std::string(kTableNames[static_cast<std::size_t>(t)]) + " value " + v.dump() + " is not true or false");
    }
    if (!v.is_number_unsigned() || v.get<std::uint64_t>() > 0xFFFF)
        bad_file(file, std::string(kTableNames[static_cast<std::size_t>(t)]) + " value " + v.dump() + " is not 0 to 65535");
    return v.get<std::uint16_t>();
}

RegisterTable load_table(const std::filesystem::path& file, Table t, const json& j) {
    const std::string table = kTableNames[static_cast<std::size_t>(t)];
    RegisterTable out;
    if (j.is_number_unsigned() && j.get<std::uint64_t>() <= kMaxRegisters) {
        out.values.resize(j.get<std::size_t>());
        return out;
    }
    if (!j.is_array()) bad_file(file, table + " is neither a count nor a list of registers");
    std::map<int, std::uint16_t> given;
    for (const auto& e : j) {
        const auto address = e.is_object() ? e.value("address", json()) : json();
        if (!address.is_number_unsigned() || address.get<std::uint64_t>() >= kMaxRegisters)
            bad_file(file, table + " entry " + e.dump() + " has no address from 0 to 65535");
        const int a = address.get<int>();
        if (given.count(a)) bad_file(file, table + " " + std::to_string(a) + " given twice");
        given[a] = e.contains("value") ? entry_value(file, t, e["value"]) : 0;
        if (e.contains("name")) {
            if (!e["name"].is_string()) bad_file(file, table + " " + std::to_string(a) + ": its name is not a text");
            out.names[a] = e["name"].get<std::string>();
        }
    }
    out.values.resize(given.empty() ? 0 : static_cast<std::size_t>(given.rbegin()->first) + 1);
    for (const auto& [a, v] : given) out.values[static_cast<std::size_t>(a)] = v;
    return out;
}

RegisterMap load_registers(const std::filesystem::path& file) {
    RegisterMap map;
    if (file.empty()) {
        map[static_cast<std::size_t>(Table::kHolding)].values.resize(kDefaultRegisters);
        map[static_cast<std::size_t>(Table::kInput)].values.resize(kDefaultRegisters);
        return map;
    }
    std::ifstream in(file);
    if (!in) bad_file(file, "cannot be read");
    const json j = json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object()) bad_file(file, "not a JSON object of tables (holding, input, coil, discrete)");
    for (const auto& [key, value] : j.items()) {
        const auto* t = std::find(kTableNames.begin(), kTableNames.end(), key);
        if (t == kTableNames.end()) bad_file(file, "no table \"" + key + "\" (holding, input, coil, discrete)");
        const auto table = static_cast<Table>(t - kTableNames.begin());
        map[static_cast<std::size_t>(table)] = load_table(file, table, value);
    }
    return map;
}

struct FreeContext {
    void operator()(modbus_t* c) const {
        modbus_close(c);
        modbus_free(c);
    }
};
struct FreeMapping {
    void operator()(modbus_mapping_t* m) const { modbus_mapping_free(m); }
};

// ---- one unit: libmodbus on the slave side of its own pty, the bus on the master side

class Unit {
  public:
    Unit(const DeviceSetup& setup, RegisterMap registers) : setup_(setup), pty_(io::open_pty()) {
        const char parity = parity_letter(setup.line.parity);
        ctx_.reset(modbus_new_rtu(pty_.slave_path.c_str(), static_cast<int>(setup.line.baud), parity, setup.line.data_bits,
                                  setup.line.stop_bits));
        if (!ctx_ || modbus_set_slave(ctx_.get(), setup.unit) != 0 || modbus_connect(ctx_.get()) != 0)
            throw std::runtime_error("unit " + std::to_string(setup.unit) + ": libmodbus cannot work " + pty_.slave_path + ": " +
                                     modbus_strerror(errno));
        modbus_set_byte_timeout(ctx_.get(), 0, kByteTimeoutUs);
        modbus_set_indication_timeout(ctx_.get(), 0, kByteTimeoutUs);  // called only once there are bytes
        auto size = [&](Table t) { return static_cast<int>(registers[static_cast<std::size_t>(t)].values.size()); };
        map_.reset(modbus_mapping_new(size(Table::kCoil), size(Table::kDiscrete), size(Table::kHolding), size(Table::kInput)));
        if (!map_) throw std::runtime_error("unit " + std::to_string(setup.unit) + ": no memory for its registers");
        for (std::size_t t = 0; t < registers.size(); ++t) {
            const auto& values = registers[t].values;
            for (std::size_t a = 0; a < values.size(); ++a) set(static_cast<Table>(t), static_cast<int>(a), values[a]);
            names_[t] = std::move(registers[t].names);
        }
    }

    int unit() const { return setup_.unit; }
    int socket() const { return modbus_get_socket(ctx_.get()); }
    int master() const { return pty_.master.get(); }
    DeviceCounts counts;
    DeviceFault fault;

    // A request for this unit; libmodbus gets one at a time, so that what is left of a broken one
    // can be dropped before the next.
    void take(Bytes request, std::vector<std::string>& notes, const std::string& label) {
        ++counts.requests;
        notes.push_back(label + " <- " + hex(request));
        waiting_.push_back(std::move(request));
        next(notes, label);
    }

    // libmodbus reads the request waiting on its tty and writes its answer there. False when the
    // request was broken (a bad CRC, cut short).
    bool serve(std::vector<std::string>& notes, const std::string& label) {
        std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH> req{};
        const int n = modbus_receive(ctx_.get(), req.data());
        const int why = errno;
        if (n > 0) {
            const int sent = fault.kind == DeviceFault::kException
                                 ? modbus_reply_exception(ctx_.get(), req.data(), static_cast<unsigned>(fault.value))
                                 : modbus_reply(ctx_.get(), req.data(), n, map_.get());
            if (sent < 0) notes.push_back(label + ": libmodbus could not answer: " + modbus_strerror(errno));
        } else if (n < 0) {
            ++counts.errors;
            notes.push_back(label + ": " + modbus_strerror(why) + ", no answer");
        }
        tcflush(socket(), TCIFLUSH);  // what is left of a request cut short or too long
        busy_ = false;
        next(notes, label);
        return n >= 0;
    }

    // The answer libmodbus wrote, as the master reads it.
    std::optional<Bytes> answer() {
        std::array<std::uint8_t, MODBUS_RTU_MAX_ADU_LENGTH * 2> buf;
        const auto n = ::read(master(), buf.data(), buf.size());
        if (n <= 0) return std::nullopt;
        return Bytes(buf.begin(), buf.begin() + n);
    }

    std::size_t size(Table t) const {
        switch (t) {
            case Table::kCoil: return static_cast<std::size_t>(map_->nb_bits);
            case Table::kDiscrete: return static_cast<std::size_t>(map_->nb_input_bits);
            case Table::kHolding: return static_cast<std::size_t>(map_->nb_registers);
            case Table::kInput: break;
        }
        return static_cast<std::size_t>(map_->nb_input_registers);
    }
    std::uint16_t get(Table t, int a) const {
        switch (t) {
            case Table::kCoil: return map_->tab_bits[a];
            case Table::kDiscrete: return map_->tab_input_bits[a];
            case Table::kHolding: return map_->tab_registers[a];
            case Table::kInput: break;
        }
        return map_->tab_input_registers[a];
    }
    void set(Table t, int a, std::uint16_t v) {
        switch (t) {
            case Table::kCoil: map_->tab_bits[a] = v ? 1 : 0; return;
            case Table::kDiscrete: map_->tab_input_bits[a] = v ? 1 : 0; return;
            case Table::kHolding: map_->tab_registers[a] = v; return;
            case Table::kInput: map_->tab_input_registers[a] = v; return;
        }
    }

    J describe() const {
        J u = {{"file", setup_.file.empty() ? J(nullptr) : J(setup_.file.string())}, {"fault", fault_text(fault)},
               {"requests", counts.requests}, {"answers", counts.answers}, {"errors", counts.errors}};
        for (std::size_t t = 0; t < kTableNames.size(); ++t) {
            const auto table = static_cast<Table>(t);
            J& values = u[kTableNames[t]] = J::object();
            for (std::size_t a = 0; a < size(table); ++a) {
                const auto name = names_[t].find(static_cast<int>(a));
                const auto v = get(table, static_cast<int>(a));
                values[std::to_string(a)] = {{"name", name == names_[t].end() ? J(nullptr) : J(name->second)},
                                             {"value", is_bits(table) ? J(v != 0) : J(v)}};
            }
        }
        return u;
    }

  private:
    void next(std::vector<std::string>& notes, const std::string& label) {
        if (busy_ || waiting_.empty()) return;
        const Bytes& r = waiting_.front();
        if (::write(master(), r.data(), r.size()) != static_cast<ssize_t>(r.size()))
            notes.push_back(label + ": its tty took not the whole request (" + std::strerror(errno) + ")");
        else
            busy_ = true;
        waiting_.pop_front();
    }

    DeviceSetup setup_;
    io::Pty pty_;
    std::unique_ptr<modbus_t, FreeContext> ctx_;
    std::unique_ptr<modbus_mapping_t, FreeMapping> map_;
    std::array<std::map<int, std::string>, kTableNames.size()> names_;
    std::deque<Bytes> waiting_;
    bool busy_ = false;
};

// ---- the bus: one or more units on one line

class Bus : public Device {
  public:
    explicit Bus(const std::vector<DeviceSetup>& setups) : line_(setups.front().line) {
        for (const auto& s : setups) {
            try {
                units_.push_back(std::make_unique<Unit>(s, load_registers(s.file)));
            } catch (const std::exception& e) {
                throw std::runtime_error("device " + std::to_string(s.uart) + ": " + e.what());
            }
        }
        // 3.5 characters of start, data, parity and stop bits at the line's rate.
        const auto bits = 1 + line_.data_bits + (line_.parity ? 1 : 0) + line_.stop_bits;
        silence_ = std::max<SteadyClock::duration>(kMinSilence, std::chrono::microseconds(35'000'000LL * bits / 10 / line_.baud));
    }

    void hear(std::span<const std::uint8_t> bytes, bool in_tune, TimePoint now) override {
        if (!in_tune) {
            ++counts.errors;
            notes.push_back(label + ": noise (the host's line is not at " + settings_text(line_) + "), no answer");
            pending_.clear();
            return;
        }
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        last_byte_ = now;
        cut(now);
    }

    TimePoint tick(TimePoint now) override {
        cut(now);
        return pending_.empty() ? kNever : last_byte_ + silence_;
    }

    void watch(std::vector<int>& fds) const override {
        for (const auto& u : units_) {
            fds.push_back(u->socket());
            fds.push_back(u->master());
        }
    }

    void on_readable(int fd, TimePoint now) override {
        for (auto& u : units_) {
            if (fd == u->socket()) counts.errors += !u->serve(notes, unit_label(*u));
            if (fd != u->master()) continue;
            auto reply = u->answer();
            if (!reply) continue;
            const bool exception = reply->size() > 1 && ((*reply)[1] & 0x80);
            u->counts.errors += exception;
            counts.errors += exception;
            if (u->fault.kind == DeviceFault::kBadCrc) reply->back() ^= 0xFF;
            notes.push_back(unit_label(*u) + " -> " + hex(*reply) + (u->fault.kind == DeviceFault::kSilent ? " (silent)" : ""));
            const auto before = counts.answers;
            answer(std::move(*reply), now, u->fault);
            u->counts.answers += counts.answers - before;
        }
    }

    std::optional<LineSettings> settings() const override { return line_; }

    void set_fault(int unit, const DeviceFault& f) override {
        for (auto& u : units_)
            if (unit == 0 || u->unit() == unit) u->fault = f;
    }

    std::string check_write(const RegisterName& r, const std::string& name, const json& value,
                            std::uint16_t& stored) const override {
        const Unit* u = find(r.unit);
        if (!u && r.unit == 0) return name + ": a bus of several units: name one, as device." + std::to_string(r.uart) + ".u" +
                                      std::to_string(units_.front()->unit()) + "." + kTableNames[static_cast<std::size_t>(r.table)] +
                                      "." + std::to_string(r.address);
        if (!u) return name + ": no unit " + std::to_string(r.unit) + " on this Uart";
        const auto size = u->size(r.table);
        if (static_cast<std::size_t>(r.address) >= size)
            return name + ": no such " + (is_bits(r.table) ? "bit" : "register") +
                   (size ? " (0 to " + std::to_string(size - 1) + ")" : " (the table is empty)");
        if (is_bits(r.table)) {
            auto on = as_boolean(value);
            if (const auto n = as_whole(value); !on && n && (*n == 0 || *n == 1)) on = *n == 1;
            if (!on) return refused(name, value, "on or off (true or false, 1 or 0)");
            stored = *on;
            return "";
        }
        const auto n = as_whole(value);
        if (!n || *n < 0 || *n > 0xFFFF) return refused(name, value, "a whole number from 0 to 65535");
        stored = static_cast<std::uint16_t>(*n);
        return "";
    }

    void write(const RegisterName& r, std::uint16_t value) override {
        if (Unit* u = find(r.unit)) u->set(r.table, r.address, value);
    }

    void describe(J& into) const override {
        into["fault"] = nullptr;  // each unit has its own
        J& units = into["units"] = J::object();
        for (const auto& u : units_) units[std::to_string(u->unit())] = u->describe();
    }

  private:
    // Requests out of the bytes heard: complete by their function code, or ended by a silence.
    void cut(TimePoint now) {
        while (!pending_.empty()) {
            const auto length = request_length(pending_);
            std::size_t take = pending_.size();
            if (length && *length <= pending_.size()) take = *length;
            else if (now - last_byte_ < silence_ && pending_.size() < MODBUS_RTU_MAX_ADU_LENGTH) return;
            route(Bytes(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take)));
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
        }
    }

    void route(Bytes request) {
        ++counts.requests;
        const int unit = request[0];
        bool taken = false;
        for (auto& u : units_) {
            if (unit != 0 && u->unit() != unit) continue;
            u->take(request, notes, unit_label(*u));
            taken = true;
        }
        if (taken) return;
        ++counts.errors;
        notes.push_back(label + " <- " + hex(request) + ": no unit " + std::to_string(unit) + " here, no answer");
    }

    // A unit by its id; 0: the only one.
    Unit* find(int unit) const {
        if (unit == 0) return units_.size() == 1 ? units_.front().get() : nullptr;
        for (const auto& u : units_)
            if (u->unit() == unit) return u.get();
        return nullptr;
    }

    std::string unit_label(const Unit& u) const { return label + " unit " + std::to_string(u.unit()); }

    LineSettings line_;
    SteadyClock::duration silence_;
    std::vector<std::unique_ptr<Unit>> units_;
    Bytes pending_;
    TimePoint last_byte_;
};

}  // namespace

std::unique_ptr<Device> make_modbus_bus(const std::vector<DeviceSetup>& units) { return std::make_unique<Bus>(units); }

}  // namespace sim
