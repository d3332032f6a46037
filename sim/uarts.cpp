// The devices behind Local/Uart/1 to 12: which line each Uart is, the host's bytes to its device,
// the device's answers back over the box port or the board link, and whether the host's line
// settings are the device's own. Every BoxState member here runs with the box's mutex held.
#include <termios.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "sim/box_state.h"

namespace sim {
namespace {

using J = nlohmann::ordered_json;

// Where each Uart is, as the library's Uart API maps it: 1-4 the box's ttymxc1-4; 5-8 board 1's
// channels 0-3; 9-12 board 2's channels 0, 2, 1, 3; 14 board 1's channel 4, the environment's.
struct Place {
    int uart, tty, board, channel;
};
constexpr Place kPlaces[kLines] = {{1, 1, 0, 0},  {2, 2, 0, 0},  {3, 3, 0, 0},   {4, 4, 0, 0},  {5, 0, 0, 0},
                                   {6, 0, 0, 1},  {7, 0, 0, 2},  {8, 0, 0, 3},   {9, 0, 1, 0},  {10, 0, 1, 2},
                                   {11, 0, 1, 1}, {12, 0, 1, 3}, {14, 0, 0, kEnvChannel}};

// A board channel's settings before the host sends any: the boards start at 9600 8N1.
constexpr LineSettings kBoardStart{9600, 8, 1, 0};

// termios rates as numbers.
struct Speed {
    speed_t speed;
    std::uint32_t baud;
};
constexpr Speed kSpeeds[] = {{B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
                             {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
                             {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
                             {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
                             {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
                             {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
                             {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
                             {B3500000, 3500000}, {B4000000, 4000000}};

// The host's side of a box port, read from the pty master (the slave's termios). A pty keeps only
// the rate and the stop bits: it forces 8 data bits and no parity, so those two cannot be seen.
std::optional<LineSettings> port_settings(const io::Fd& master) {
    termios t{};
    if (!master || tcgetattr(master.get(), &t) != 0) return std::nullopt;
    const auto* s =
        std::find_if(std::begin(kSpeeds), std::end(kSpeeds), [&](const Speed& sp) { return sp.speed == cfgetospeed(&t); });
    return LineSettings{s == std::end(kSpeeds) ? 0 : s->baud, 0, static_cast<std::uint8_t>(t.c_cflag & CSTOPB ? 2 : 1), 0};
}

J settings_json(const LineSettings& s, bool full) {
    static constexpr const char* kParity[] = {"none", "odd", "even"};
    return {{"baud", s.baud},
            {"data", full ? J(s.data_bits) : J(nullptr)},
            {"stop", s.stop_bits},
            {"parity", !full ? J(nullptr) : s.parity < std::size(kParity) ? J(kParity[s.parity]) : J(s.parity)}};
}

}  // namespace

void BoxState::build_lines() {
    for (std::size_t i = 0; i < kLines; ++i) {
        auto& l = uarts[i];
        const auto& p = kPlaces[i];
        l.uart = p.uart;
        l.tty = p.tty;
        l.board = p.board;
        l.channel = p.channel;
        std::copy_if(opt.devices.begin(), opt.devices.end(), std::back_inserter(l.setups),
                     [&](const DeviceSetup& d) { return d.uart == l.uart; });
        if (l.setups.empty()) continue;  // the environment channel
        auto device = make_device(l.setups);
        replace_device(l, l.setups, std::move(device));
    }
}

void BoxState::replace_device(UartLine& l, std::vector<DeviceSetup> setups, std::unique_ptr<Device> device) {
    l.setups = std::move(setups);
    l.device = std::move(device);
    if (l.setups.front().kind == DeviceKind::kTcp)
        note(l.device->label + ": served on 127.0.0.1:" + std::to_string(l.setups.front().port));
}

UartLine* BoxState::line_at_port(int tty) {
    return tty >= 1 && tty <= kBoxPortUarts ? &uarts[static_cast<std::size_t>(tty - 1)] : nullptr;
}

UartLine& BoxState::line_at_channel(int b, int ch) {
    for (auto& l : uarts)
        if (!l.tty && l.board == b && l.channel == ch) return l;
    throw std::out_of_range("no channel " + std::to_string(ch) + " on board " + std::to_string(b + 1));
}

std::optional<LineSettings> BoxState::host_settings(const UartLine& l) const {
    if (l.tty) return port_settings(port(l.tty).pty.master);
    return boards[static_cast<std::size_t>(l.board)].settings[static_cast<std::size_t>(l.channel)].value_or(kBoardStart);
}

bool BoxState::in_tune(const UartLine& l) const {
    const auto own = l.device->settings();
    const auto host = host_settings(l);
    if (!own) return true;
    if (!l.tty) return host == own;
    return host && host->baud == own->baud && host->stop_bits == own->stop_bits;
}

void BoxState::on_host_bytes(UartLine& l, std::span<const std::uint8_t> bytes) {
    const auto now = SteadyClock::now();
    l.device->hear(bytes, in_tune(l), now);
    drain(l, now);
}

TimePoint BoxState::drain(UartLine& l, TimePoint now) {
    auto& d = *l.device;
    for (auto& n : d.notes) note(std::move(n));
    d.notes.clear();
    for (; !d.answers.empty() && d.answers.front().due <= now; d.answers.pop_front()) {
        auto& bytes = d.answers.front().bytes;
        if (l.tty) enqueue(l.tty, std::move(bytes), now);
        else if (!boards[static_cast<std::size_t>(l.board)].faults.silent)
            board_send(l.board, static_cast<std::uint8_t>(cid::kRecvInfo + l.channel), bytes);
    }
    return d.answers.empty() ? kNever : d.answers.front().due;
}

TimePoint BoxState::tick_devices(TimePoint now) {
    TimePoint next = kNever;
    for (auto& l : uarts)
        if (l.device) next = std::min({next, l.device->tick(now), drain(l, now)});
    return next;
}

void BoxState::watch_devices(std::vector<pollfd>& fds, std::vector<Watch>& watches) const {
    std::vector<int> mine;
    for (std::size_t i = 0; i < kLines; ++i) {
        if (!uarts[i].device) continue;
        mine.clear();
        uarts[i].device->watch(mine);
        for (int fd : mine) {
            fds.push_back({fd, POLLIN, 0});
            watches.push_back({Watch::kDevice, static_cast<int>(i), fd});
        }
    }
}

void BoxState::on_device_readable(int line, int fd) {
    auto& l = uarts[static_cast<std::size_t>(line)];
    if (!l.device) return;
    const auto now = SteadyClock::now();
    l.device->on_readable(fd, now);
    drain(l, now);
}

std::string BoxState::check_register(const std::string& name, const nlohmann::json& value, RegisterWrite& out) const {
    const auto r = parse_register_name(name);
    if (!r) return "no switch " + nlohmann::json(name).dump();
    out.register_name = *r;
    out.name = name;
    const auto& l = uarts[static_cast<std::size_t>(r->uart - 1)];
    const auto kind = l.setups.front().kind;
    if (kind != DeviceKind::kModbus) return name + ": no registers (this device is " + kind_name(kind) + ")";
    return l.device->check_write(*r, name, value, out.value);
}

void BoxState::write_register(const RegisterWrite& w) {
    uarts[static_cast<std::size_t>(w.register_name.uart - 1)].device->write(w.register_name, w.value);
    const auto value = is_bits(w.register_name.table) ? J(w.value != 0) : J(w.value);
    note("switch " + w.name + "=" + value.dump());
    event("switch", {{"name", w.name}, {"value", value}});
}

J BoxState::devices_state() const {
    J all = J::object();
    for (const auto& l : uarts) {
        if (!l.device) continue;
        const auto own = l.device->settings();
        const auto host = host_settings(l);
        const auto& c = l.device->counts;
        J d = {{"kind", kind_name(l.setups.front().kind)},
               {"line", l.tty ? tty_name(l.tty) : "board " + std::to_string(l.board + 1) + " channel " + std::to_string(l.channel)},
               {"settings", own ? settings_json(*own, true) : J(nullptr)},
               {"host", host ? settings_json(*host, !l.tty) : J(nullptr)},
               {"requests", c.requests}, {"answers", c.answers}, {"errors", c.errors},
               {"fault", nullptr}, {"file", nullptr}, {"port", nullptr}, {"client", nullptr}, {"units", nullptr}};
        l.device->describe(d);
        all[std::to_string(l.uart)] = std::move(d);
    }
    return all;
}

// "2 modbus (unit 1): 4 requests, 3 answers, 1 error; echo on the others".
std::string BoxState::devices_status() const {
    std::string out;
    bool echo = false;
    for (const auto& l : uarts) {
        if (!l.device) continue;
        const auto kind = l.setups.front().kind;
        if (kind == DeviceKind::kEcho) {
            echo = true;
            continue;
        }
        std::string units;
        for (const auto& s : l.setups) units += (units.empty() ? "" : ", ") + std::to_string(s.unit);
        const auto& c = l.device->counts;
        out += (out.empty() ? "" : "; ") + std::to_string(l.uart) + " " + kind_name(kind) +
               (kind == DeviceKind::kModbus ? (l.setups.size() > 1 ? " (units " : " (unit ") + units + ")" : "") +
               (kind == DeviceKind::kTcp ? " on 127.0.0.1:" + std::to_string(l.setups.front().port) : "") + ": " +
               std::to_string(c.requests) + " requests, " + std::to_string(c.answers) + " answers, " + std::to_string(c.errors) +
               (c.errors == 1 ? " error" : " errors");
    }
    if (out.empty()) return "echo on every Uart";
    return echo ? out + "; echo on the others" : out;
}

}  // namespace sim
