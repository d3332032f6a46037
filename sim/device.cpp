// Devices behind the Uarts: the --device option and the names of their switches, what every device
// does alike, and the simple kinds: echo, none and tcp.
#include "sim/device.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/box.h"
#include "sim/io.h"

namespace sim {
namespace {

using json = nlohmann::json;

constexpr int kMaxUnit = 247;            // Modbus unit ids 1 to 247; 0 is the broadcast
constexpr int kMaxException = 11;        // the exception codes Modbus defines, 1 to 11
constexpr long long kMaxDelayMs = 600000;
constexpr long long kMaxBaud = 4000000;
constexpr std::size_t kReadChunk = 4096;

constexpr std::array<const char*, 5> kKindNames = {"echo", "modbus", "lines", "tcp", "none"};
constexpr std::array<const char*, 3> kParities = {"none", "odd", "even"};

std::optional<long long> whole(std::string_view text, long long lo, long long hi) {
    const auto n = as_whole(json(std::string(text)));
    return n && *n >= lo && *n <= hi ? n : std::nullopt;
}

template <typename Names>
std::optional<std::size_t> index_of(const Names& names, std::string_view name) {
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? std::nullopt : std::optional(static_cast<std::size_t>(it - names.begin()));
}

constexpr unsigned bit(DeviceKind k) { return 1u << static_cast<unsigned>(k); }
constexpr unsigned kSerialKinds = bit(DeviceKind::kModbus) | bit(DeviceKind::kLines);

// The options of --device, which kinds take each, and how each is set ("" when it was).
struct Option {
    const char* name;
    unsigned kinds;
    std::string (*set)(DeviceSetup&, std::string_view);
};
constexpr Option kOptions[] = {
    {"file", kSerialKinds,
     [](DeviceSetup& d, std::string_view v) -> std::string {
         d.file = std::string(v);
         return v.empty() ? "file= needs a path" : "";
     }},
    {"unit", bit(DeviceKind::kModbus),
     [](DeviceSetup& d, std::string_view v) -> std::string {
         const auto n = whole(v, 1, kMaxUnit);
         d.unit = static_cast<int>(n.value_or(0));
         return n ? "" : "unit= takes a unit id from 1 to 247";
     }},
    {"baud", kSerialKinds,
     [](DeviceSetup& d, std::string_view v) -> std::string {
         const auto n = whole(v, 1, kMaxBaud);
         d.line.baud = static_cast<std::uint32_t>(n.value_or(0));
         return n ? "" : "baud= takes a rate in bits per second";
     }},
    {"data", kSerialKinds,
     [](DeviceSetup& d, std::string_view v) -> std::string {
         const auto n = whole(v, 5, 8);
         d.line.data_bits = static_cast<std::uint8_t>(n.value_or(0));
         return n ? "" : "data= takes 5 to 8 data bits";
     }},
    {"stop", kSerialKinds,
     [](DeviceSetup& d, std::string_view v) -> std::string {
         const auto n = whole(v, 1, 2);
         d.line.stop_bits = static_cast<std::uint8_t>(n.value_or(0));
         return n ? "" : "stop= takes 1 or 2 stop bits";
     }},
    {"parity", kSerialKinds,
     [](DeviceSetup& d, std::string_view v) -> std::string {
         const auto p = index_of(kParities, v);
         d.line.parity = static_cast<std::uint8_t>(p.value_or(0));
         return p ? "" : "parity= takes none, even or odd";
     }},
    {"port", bit(DeviceKind::kTcp),
     [](DeviceSetup& d, std::string_view v) -> std::string {
         const auto n = whole(v, 0, 65535);
         d.port = static_cast<std::uint16_t>(n.value_or(0));
         return n ? "" : "port= takes a TCP port (0: a free one)";
     }},
};

std::vector<std::string_view> split(std::string_view text, char sep) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const auto end = text.find(sep, at);
        parts.push_back(text.substr(at, end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

std::string uart_name(const DeviceSetup& d) { return "device " + std::to_string(d.uart); }

// The single device of a Uart, or the unit of a bus.
template <typename Devices>
auto* find_setup(Devices& devices, int uart, int unit) {
    const auto it = std::find_if(devices.begin(), devices.end(),
                                 [&](const DeviceSetup& d) { return d.uart == uart && (unit == 0 || d.unit == unit); });
    return it == devices.end() ? nullptr : &*it;
}

// ---- the simple kinds

// Today's loopback: what the host writes comes back, whatever the line settings.
class Echo : public Device {
  public:
    void hear(std::span<const std::uint8_t> bytes, bool, TimePoint now) override {
        ++counts.requests;
        answer(Bytes(bytes.begin(), bytes.end()), now, fault);
    }
};

// Nothing on the line: what the host writes goes nowhere.
class Nothing : public Device {
  public:
    void hear(std::span<const std::uint8_t>, bool, TimePoint) override { ++counts.requests; }
};

// The line served on 127.0.0.1:port for a tool of one's own: the host's bytes go to the client
// (dropped while none is connected), the client's come to the host. One client at a time; a new
// one replaces the old.
class Tcp : public Device {
  public:
    explicit Tcp(DeviceSetup& setup) : listener_(io::listen_local(setup.port)), port_(io::local_port(listener_)) {
        setup.port = port_;
    }

    void hear(std::span<const std::uint8_t> bytes, bool, TimePoint) override {
        ++counts.requests;
        const auto sent = client_ ? ::send(client_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) : 0;
        if (sent < static_cast<ssize_t>(bytes.size())) {
            ++counts.errors;
            notes.push_back(label + ": " + count(bytes.size() - static_cast<std::size_t>(std::max<ssize_t>(sent, 0))) +
                            " dropped (no client, or it is not reading)");
        }
    }
    void watch(std::vector<int>& fds) const override {
        fds.push_back(listener_.get());
        if (client_) fds.push_back(client_.get());
    }
    void on_readable(int fd, TimePoint now) override {
        if (fd == listener_.get()) {
            if (auto c = io::accept_client(listener_)) {
                client_ = std::move(c);
                notes.push_back(label + ": client connected");
            }
            return;
        }
        if (!client_ || fd != client_.get()) return;  // replaced while the box was polling
        std::array<std::uint8_t, kReadChunk> buf;
        const auto n = ::recv(client_.get(), buf.data(), buf.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            client_.reset();
            notes.push_back(label + ": client left");
            return;
        }
        const auto got = std::span(buf).first(static_cast<std::size_t>(n));
        notes.push_back(label + ": client sent " + quoted(got));
        answer(Bytes(got.begin(), got.end()), now, fault);
    }
    void describe(nlohmann::ordered_json& into) const override {
        Device::describe(into);
        into["port"] = port_;
        into["client"] = static_cast<bool>(client_);
    }

  private:
    io::Fd listener_, client_;
    std::uint16_t port_;
};

}  // namespace

const char* kind_name(DeviceKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

std::string fault_text(const DeviceFault& f) {
    switch (f.kind) {
        case DeviceFault::kSilent: return "silent";
        case DeviceFault::kBadCrc: return "bad-crc";
        case DeviceFault::kException: return "exception:" + std::to_string(f.value);
        case DeviceFault::kDelay: return "delay:" + std::to_string(f.value);
        case DeviceFault::kNone: break;
    }
    return "none";
}

std::optional<DeviceFault> parse_fault(std::string_view text) {
    if (text == "none") return DeviceFault{};
    if (text == "silent") return DeviceFault{DeviceFault::kSilent, 0};
    if (text == "bad-crc") return DeviceFault{DeviceFault::kBadCrc, 0};
    const auto colon = text.find(':');
    const auto head = text.substr(0, colon), value = colon == text.npos ? "" : text.substr(colon + 1);
    if (head == "exception")
        if (const auto n = whole(value, 1, kMaxException)) return DeviceFault{DeviceFault::kException, static_cast<int>(*n)};
    if (head == "delay")
        if (const auto n = whole(value, 0, kMaxDelayMs)) return DeviceFault{DeviceFault::kDelay, static_cast<int>(*n)};
    return std::nullopt;
}

char parity_letter(std::uint8_t parity) { return parity < 3 ? "NOE"[parity] : '?'; }

std::string settings_text(const LineSettings& s) {
    return std::to_string(s.baud) + " " + std::to_string(s.data_bits) + parity_letter(s.parity) + std::to_string(s.stop_bits);
}

std::string parse_device(std::string_view text, DeviceSetup& out) {
    const auto eq = text.find('=');
    const auto uart = whole(text.substr(0, eq), 1, kDeviceUarts);
    if (eq == text.npos || !uart) return "--device takes UART=KIND[,OPTION=VALUE...], UART from 1 to 12: " + std::string(text);
    DeviceSetup d;
    d.uart = static_cast<int>(*uart);
    const auto fields = split(text.substr(eq + 1), ',');
    const auto kind = index_of(kKindNames, fields[0]);
    if (!kind) return "no device kind \"" + std::string(fields[0]) + "\" (echo, modbus, lines, tcp, none)";
    d.kind = static_cast<DeviceKind>(*kind);
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const auto f = fields[i];
        const auto at = f.find('=');
        const auto name = f.substr(0, at);
        const auto* o = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const Option& opt) { return name == opt.name; });
        if (o == std::end(kOptions) || at == f.npos) return "no device option \"" + std::string(f) + "\"";
        if (!(o->kinds & bit(d.kind))) return "device kind " + std::string(kind_name(d.kind)) + " takes no " + std::string(name) + "=";
        if (auto why = o->set(d, f.substr(at + 1)); !why.empty()) return why;
    }
    if (d.kind == DeviceKind::kLines && d.file.empty()) return "a lines device needs file=, its table";
    out = d;
    return "";
}

std::vector<DeviceSetup> every_uart(const std::vector<DeviceSetup>& given) {
    for (const auto& d : given)
        if (d.uart < 1 || d.uart > kDeviceUarts) throw std::invalid_argument("no Uart " + std::to_string(d.uart) + " for a device");
    std::vector<DeviceSetup> all;
    for (int uart = 1; uart <= kDeviceUarts; ++uart) {
        std::vector<DeviceSetup> here;
        std::copy_if(given.begin(), given.end(), std::back_inserter(here), [&](const DeviceSetup& d) { return d.uart == uart; });
        if (here.empty()) here.emplace_back().uart = uart;
        const bool modbus = std::all_of(here.begin(), here.end(), [](const DeviceSetup& d) { return d.kind == DeviceKind::kModbus; });
        if (here.size() > 1 && !modbus)
            throw std::invalid_argument(uart_name(here.front()) + ": only Modbus units share a Uart, as a bus");
        for (const auto& d : here) {
            const auto name = uart_name(d);
            if (std::count_if(here.begin(), here.end(), [&](const DeviceSetup& o) { return o.unit == d.unit; }) > 1)
                throw std::invalid_argument(name + ": unit " + std::to_string(d.unit) + " given twice");
            if (!(d.line == here.front().line)) throw std::invalid_argument(name + ": the units of one bus share its line settings");
        }
        all.insert(all.end(), here.begin(), here.end());
    }
    return all;
}

void add_fault_switches(Switches& table, const std::vector<DeviceSetup>& devices) {
    for (const auto& d : devices) {
        const bool bus = std::count_if(devices.begin(), devices.end(), [&](const DeviceSetup& o) { return o.uart == d.uart; }) > 1;
        const int unit = bus ? d.unit : 0;
        const std::string name =
            "device." + std::to_string(d.uart) + (bus ? ".u" + std::to_string(d.unit) : "") + ".fault";
        Switch s{name, SwitchType::kString, "", false, "", "", {}, {}};
        s.get = [uart = d.uart, unit](const Options& o) {
            const auto* setup = find_setup(o.devices, uart, unit);
            return json(setup ? fault_text(setup->fault) : "none");
        };
        s.set = [name, uart = d.uart, unit](Options& o, const json& v) -> std::string {
            const auto f = v.is_string() ? parse_fault(v.get_ref<const std::string&>()) : std::nullopt;
            if (!f) return refused(name, v, "none, silent, bad-crc, exception:CODE (1 to 11) or delay:MS");
            DeviceSetup* setup = find_setup(o.devices, uart, unit);
            if (!setup) return "no " + name;
            const bool modbus_only = f->kind == DeviceFault::kBadCrc || f->kind == DeviceFault::kException;
            if (modbus_only && setup->kind != DeviceKind::kModbus)
                return name + ": " + v.dump() + " is a Modbus fault; this device is " + kind_name(setup->kind);
            setup->fault = *f;
            return "";
        };
        table.push_back(std::move(s));
    }
}

std::optional<RegisterName> parse_register_name(std::string_view name) {
    auto parts = split(name, '.');
    if (parts.size() < 4 || parts.size() > 5 || parts[0] != "device") return std::nullopt;
    RegisterName r;
    const auto uart = whole(parts[1], 1, kDeviceUarts);
    if (!uart) return std::nullopt;
    r.uart = static_cast<int>(*uart);
    if (parts.size() == 5) {
        const auto unit = parts[2].starts_with('u') ? whole(parts[2].substr(1), 1, kMaxUnit) : std::nullopt;
        if (!unit) return std::nullopt;
        r.unit = static_cast<int>(*unit);
    }
    const auto table = index_of(kTableNames, parts[parts.size() - 2]);
    const auto address = whole(parts.back(), 0, 65535);
    if (!table || !address) return std::nullopt;
    r.table = static_cast<Table>(*table);
    r.address = static_cast<int>(*address);
    return r;
}

// ---- what every device does alike

TimePoint Device::tick(TimePoint) { return kNever; }
void Device::watch(std::vector<int>&) const {}
void Device::on_readable(int, TimePoint) {}
std::optional<LineSettings> Device::settings() const { return std::nullopt; }
void Device::set_fault(int, const DeviceFault& f) { fault = f; }

std::string Device::check_write(const RegisterName&, const std::string& name, const json&, std::uint16_t&) const {
    return name + ": no registers";
}

void Device::write(const RegisterName&, std::uint16_t) {}

void Device::describe(nlohmann::ordered_json& into) const { into["fault"] = fault_text(fault); }

void Device::answer(Bytes bytes, TimePoint due, const DeviceFault& f) {
    if (f.kind == DeviceFault::kSilent) return;
    if (f.kind == DeviceFault::kDelay) due += std::chrono::milliseconds(f.value);
    if (!answers.empty()) due = std::max(due, answers.back().due);
    ++counts.answers;
    answers.push_back({std::move(bytes), due});
}

std::unique_ptr<Device> make_tcp_device(DeviceSetup& setup) { return std::make_unique<Tcp>(setup); }

std::unique_ptr<Device> make_device(std::vector<DeviceSetup>& setups) {
    std::unique_ptr<Device> d;
    switch (setups.front().kind) {
        case DeviceKind::kEcho: d = std::make_unique<Echo>(); break;
        case DeviceKind::kNone: d = std::make_unique<Nothing>(); break;
        case DeviceKind::kTcp: d = make_tcp_device(setups.front()); break;
        case DeviceKind::kLines: d = make_text_device(setups.front()); break;
        case DeviceKind::kModbus: d = make_modbus_bus(setups); break;
    }
    d->label = uart_name(setups.front());
    for (const auto& s : setups) d->set_fault(setups.size() > 1 ? s.unit : 0, s.fault);
    return d;
}

}  // namespace sim
