// The cellular module in the box: its AT device, a pty linked at the row's device path (dev/ttyUSB3
// for an EC20), which comes and goes as a USB module's does (power, unplugging, AT+CFUN=1,1), and
// the handle tests use. Every BoxState member here runs with the box's mutex held.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "sim/box_state.h"

namespace sim {
namespace {

constexpr std::size_t kReadChunk = 4096;
// After AT+CFUN=1,1 the module answers "OK" and leaves this long after the answer went out, as a
// USB module drops off the bus a moment after it acknowledged: a host polling every 100 ms reads
// the answer first.
constexpr std::chrono::milliseconds kLeaveAfterAnswer{500};

// GPIO 12 switches the module's power: low cuts it; high again, the module starts.
constexpr int kModulePowerGpio = 12;
constexpr const char* kDriverDir = "sys/bus/usb-serial/drivers/option1";

std::string why_gone(const ModemPortState& m) {
    if (!m.module->state().powered) return "powered off";
    if (m.power_cut) return "power cut by GPIO 12";
    if (m.module->faults().unplugged) return "unplugged";
    return "starting";
}

// The hubs of the box's USB, and the module between them, as usbutils' lsusb prints them
// (../shared/testdata/modem/lsusb.txt): after the id the usb.ids names, or blanks when it has none.
struct UsbNames {
    std::string_view id;  // a whole id, or a vendor's "vvvv:"
    std::string_view names;
};
constexpr UsbNames kUsbNames[] = {
    {"2c7c:0125", " Quectel Wireless Solutions Co., Ltd. EC25 LTE modem"},
    {"2c7c:", " Quectel Wireless Solutions Co., Ltd. "},
    {"19d2:", " ZTE WCDMA Technologies MSM "},
    {"05c6:9025", " Qualcomm, Inc. HSUSB Device"},
    {"05c6:", " Qualcomm, Inc. "},
    {"1286:", " Marvell Semiconductor, Inc. "},
};

std::string usb_line(int device, std::string_view id) {
    std::array<char, 32> head{};
    std::snprintf(head.data(), head.size(), "Bus 001 Device %03d: ID ", device);
    std::string_view names = "  ";
    for (const auto& n : kUsbNames)
        if (id.starts_with(n.id)) {
            names = n.names;
            break;
        }
    return head.data() + std::string(id) + std::string(names) + "\n";
}

// "ppp0" as ifconfig shows it while the link is up.
std::string ppp_listing(const std::string& address) {
    return "ppp0      Link encap:Point-to-Point Protocol  \n"
           "          inet addr:" + address + "  P-t-P:10.64.64.64  Mask:255.255.255.255\n"
           "          UP POINTOPOINT RUNNING NOARP MULTICAST  MTU:1500  Metric:1\n"
           "          RX packets:0 errors:0 dropped:0 overruns:0 frame:0\n"
           "          TX packets:0 errors:0 dropped:0 overruns:0 carrier:0\n"
           "          collisions:0 txqueuelen:3 \n"
           "          RX bytes:0 (0.0 B)  TX bytes:0 (0.0 B)\n\n";
}

}  // namespace

void BoxState::start_modem() {
    // The option1 driver's new_id, where the host registers the ids of modules it must bind.
    const auto driver = dir / kDriverDir;
    std::filesystem::create_directories(driver);
    std::ofstream(driver / "new_id", std::ios::binary | std::ios::trunc);
    modem.driver_watch = inotify_add_watch(files.inotify.get(), driver.c_str(), IN_CLOSE_WRITE);
    if (modem.driver_watch < 0) throw std::system_error(errno, std::generic_category(), "inotify_add_watch " + driver.string());
    // The module's power switch, an output set high by the board's own set-up.
    std::vector<std::string> changes;
    files.gpio->preset(kModulePowerGpio, GpioLine{1, "out", "none"}, changes);
    for (auto& c : changes) note(std::move(c));
    modem.options = opt.modem;
    fit_modem();
    modem_tick(SteadyClock::now());  // the tty is there at once, announcing nothing
}

void BoxState::fit_modem() {
    auto& m = modem;
    std::error_code ec;
    if (m.module && m.present) {
        std::filesystem::remove(m.link, ec);
        event("modem", {{"present", false}, {"model", m.module->row().model}, {"why", "taken out"}});
    }
    m.module.reset();
    m.port = PortState{};
    m.present = m.started = false;
    m.away_at = m.back_at = kNever;
    set_link(false, "the module is gone");
    if (m.options.fitted) {
        m.module.emplace(m.options);
        m.link = dir / std::string(m.module->row().at_device).substr(1);
        std::filesystem::create_directories(m.link.parent_path());
        std::filesystem::remove(m.link, ec);  // a link an earlier box left
    }
    write_usb_listing();
}

void BoxState::stop_modem() {
    std::error_code ec;
    if (modem.present) std::filesystem::remove(modem.link, ec);
}

TimePoint BoxState::modem_tick(TimePoint now) {
    if (!modem.module) return kNever;
    auto& m = *modem.module;
    auto& p = modem.port;
    if (m.take_restart()) {
        const TimePoint answered = p.out.empty() ? now : std::max(now, p.out.back().due);
        modem.away_at = answered + kLeaveAfterAnswer;
        modem.back_at = modem.away_at + opt.modem.restart_time;
    }
    const bool restarting = now >= modem.away_at && now < modem.back_at;
    if (now >= modem.back_at) modem.away_at = modem.back_at = kNever;
    const auto& lines = files.gpio->lines();
    const auto power = lines.find(kModulePowerGpio);
    const bool cut = power != lines.end() && power->second.direction == "out" && power->second.value == 0;
    if (cut && !modem.power_cut) {
        ++modem.power_cycles;
        modem.powered_at = kNever;
        note("modem: power cut (GPIO 12 low)");
    } else if (!cut && modem.power_cut) {
        modem.powered_at = now + opt.modem.restart_time;
        note("modem: power back (GPIO 12 high)");
    }
    modem.power_cut = cut;
    if (now >= modem.powered_at) modem.powered_at = kNever;
    const bool wanted = m.state().powered && !m.faults().unplugged && !restarting && !cut && modem.powered_at == kNever;
    if (!wanted && modem.present) {
        std::error_code ec;
        std::filesystem::remove(modem.link, ec);
        p = PortState{};
        modem.present = false;
        note("modem: " + modem.link.filename().string() + " gone (" + why_gone(modem) + ")");
        event("modem", {{"present", false}, {"model", m.row().model}, {"why", why_gone(modem)}});
        write_usb_listing();
        set_link(false, "the module is gone");
    } else if (wanted && !modem.present) {
        const bool booting = modem.started;  // it was there before: the module starts afresh
        try {
            p = PortState{};
            p.pty = io::open_pty();
            p.link = modem.link;
            io::publish_link(p.pty.slave_path, modem.link);
            modem.present = modem.started = true;
            event("modem", {{"present", true}, {"model", m.row().model}, {"why", nullptr}});
        } catch (const std::exception& e) {
            note(std::string("modem: no tty: ") + e.what());
            p = PortState{};
            p.dead = true;
        }
        if (modem.present && booting) {
            note("modem: " + modem.link.filename().string() + " back, the module starts");
            TimePoint due = now;
            for (auto& piece : m.boot()) enqueue(p, "modem", Bytes(piece.bytes.begin(), piece.bytes.end()), due += piece.after);
        }
        if (modem.present) {
            ++modem.usb_device;  // enumerated afresh
            write_usb_listing();
        }
    }
    if (now >= modem.link_at) {
        modem.link_at = kNever;
        if (modem_registered()) set_link(true, "dialled");
        else note("ppp0: the module is not registered, no link");
    }
    TimePoint next = modem.present ? flush_port(p, "modem", now) : kNever;
    for (TimePoint t : {modem.away_at, modem.back_at, modem.powered_at, modem.link_at})
        if (t > now) next = std::min(next, t);
    return next;
}

bool BoxState::modem_registered() const {
    if (!modem.module || !modem.present) return false;
    const auto& s = modem.module->state();
    const auto& f = modem.module->faults();
    return s.sim && s.service > 0 && s.domain > 0 && s.mode > 0 && !f.silent && !f.no_service && !f.error && !f.cme_error;
}

void BoxState::set_link(bool up, const std::string& why) {
    if (up == modem.link_up) return;
    modem.link_up = up;
    const auto file = dir / kInterfaces / "ppp0";
    if (up) {
        io::write_whole(file, ppp_listing(opt.modem.ppp_address));
    } else {
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
    note("ppp0 " + (up ? "up, " + opt.modem.ppp_address : std::string("down")) + " (" + why + ")");
    event("link", {{"up", up}, {"address", up ? nlohmann::ordered_json(opt.modem.ppp_address) : nullptr}});
}

void BoxState::write_usb_listing() {
    std::string text = "Bus 002 Device 001: ID 1d6b:0003 Linux Foundation 3.0 root hub\n";
    if (modem.module && modem.present) text += usb_line(modem.usb_device, modem.module->row().usb_id);
    text += "Bus 001 Device 002: ID 2109:3431 VIA Labs, Inc. Hub\n"
            "Bus 001 Device 001: ID 1d6b:0002 Linux Foundation 2.0 root hub\n";
    io::write_whole(dir / kUsbListing, text);
}

// The dial-up script brings the link up a little later, when the module is registered; killing it
// or pppd takes the link down.
void BoxState::on_standin_call(const std::string& call) {
    if (call == "lte.sh" || call.starts_with("lte.sh ")) {
        ++modem.dials;
        modem.link_at = SteadyClock::now() + opt.modem.dial_time;
        event("dial", {{"dials", modem.dials}});
    } else if (call == "killall pppd" || call == "killall lte.sh") {
        modem.link_at = kNever;
        set_link(false, call);
    }
}

bool BoxState::on_driver_event(const inotify_event& e, std::vector<std::string>& changes) {
    if (e.wd != modem.driver_watch) return false;
    if (!(e.mask & IN_CLOSE_WRITE) || !e.len || std::string_view(e.name) != "new_id") return true;
    const auto file = dir / kDriverDir / "new_id";
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Emptied by path for the next write (no descriptor opened for writing, whose close we would see).
    if (!text.empty() && ::truncate(file.c_str(), 0) != 0) text.clear();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    if (text.empty()) return true;
    changes.push_back("usb-serial option1: new_id " + text);
    modem.driver_ids.push_back(std::move(text));
    return true;
}

void BoxState::watch_modem(std::vector<pollfd>& fds, std::vector<Watch>& watches) {
    if (!modem.present || modem.port.dead) return;
    fds.push_back({modem.port.pty.master.get(), static_cast<short>(POLLIN | (modem.port.blocked ? POLLOUT : 0)), 0});
    watches.push_back({Watch::kModem});
}

void BoxState::on_modem_readable() {
    auto& p = modem.port;
    if (!modem.present || p.dead) return;  // gone while the serving thread was polling
    std::array<std::uint8_t, kReadChunk> buf;
    const auto n = ::read(p.pty.master.get(), buf.data(), buf.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        note(std::string("modem: read failed (") + std::strerror(n < 0 ? errno : EIO) + "), no longer served");
        p.dead = true;
        return;
    }
    const auto got = std::span(buf).first(static_cast<std::size_t>(n));
    p.bytes_in += got.size();
    if (opt.record) modem.received.insert(modem.received.end(), got.begin(), got.end());
    auto& m = *modem.module;
    const std::size_t seen = m.commands().size();
    const auto pieces = m.feed(got);
    for (std::size_t i = seen; i < m.commands().size(); ++i) {
        ++modem.commands;
        modem.last = m.commands()[i];
        note("modem <- " + quoted(as_bytes(modem.last)));
    }
    if (!opt.record) m.clear_commands();
    TimePoint due = SteadyClock::now();
    std::string told;
    for (const auto& piece : pieces) {
        enqueue(p, "modem", Bytes(piece.bytes.begin(), piece.bytes.end()), due += piece.after);
        told += piece.bytes;
    }
    if (!told.empty()) note("modem -> " + quoted(as_bytes(told)));
}

std::string BoxState::modem_status() const {
    if (!modem.module) return "none fitted";
    const auto& m = *modem.module;
    const auto& s = m.state();
    const auto& f = m.faults();
    std::string t = std::string(m.row().model) + " (row " + std::to_string(m.row_number()) + ", " + m.row().usb_id +
                    ") at " + std::string(m.row().at_device).substr(1);
    t += modem.present ? "" : " (gone: " + why_gone(modem) + ")";
    t += m.framing() == Framing::kV250 ? ", V.250 framing" : ", compact framing";
    t += m.echo() ? ", echo on" : ", echo off";
    t += "; CSQ " + (f.no_service ? std::string("99,99") : std::to_string(s.rssi) + "," + std::to_string(s.ber));
    t += f.no_service ? ", no service" : ", ^SYSINFO mode " + std::to_string(s.mode);
    t += s.sim ? ", SIM " + s.imsi : ", no SIM";
    t += ", IMEI " + s.imei;
    t += "; " + std::to_string(modem.commands) + (modem.commands == 1 ? " command" : " commands");
    if (!modem.last.empty()) t += ", last \"" + modem.last + "\"";
    t += ", " + std::to_string(m.restarts()) + (m.restarts() == 1 ? " restart" : " restarts");
    t += ", " + std::to_string(modem.power_cycles) + (modem.power_cycles == 1 ? " power cycle" : " power cycles");
    std::vector<std::string> on;
    if (f.silent) on.push_back("silent");
    if (f.error) on.push_back("ERROR");
    if (f.cme_error) on.push_back("+CME ERROR");
    if (f.delay.count()) on.push_back("slow " + std::to_string(f.delay.count()) + " ms");
    if (f.pieces) on.push_back("1-byte pieces");
    if (f.unsolicited) on.push_back("unsolicited lines");
    if (f.long_answers) on.push_back("answers of " + std::to_string(f.long_answers));
    for (std::size_t i = 0; i < on.size(); ++i) t += (i ? ", " : "; faults: ") + on[i];
    return t;
}

std::string BoxState::link_status() const {
    std::string t = modem.link_up ? "ppp0 up, " + opt.modem.ppp_address : std::string("ppp0 down");
    if (modem.link_at != kNever) t += ", dialling";
    t += "; " + std::to_string(modem.dials) + (modem.dials == 1 ? " dial" : " dials");
    t += modem.module && modem.present ? "; USB bus 1 device " + std::to_string(modem.usb_device) : "; not on USB";
    t += modem.power_cut ? ", power cut by GPIO 12" : "";
    for (std::size_t i = 0; i < modem.driver_ids.size(); ++i) t += (i ? ", " : "; new_id ") + modem.driver_ids[i];
    return t;
}

// ---- the handle

Modem Box::modem() const { return Modem(s_.get()); }

bool Modem::fitted() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module.has_value();
}

int Modem::row() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module ? s_->modem.module->row_number() : 0;
}

std::filesystem::path Modem::link() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.link;
}

bool Modem::present() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.present;
}

std::vector<std::string> Modem::commands() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module ? s_->modem.module->commands() : std::vector<std::string>{};
}

Bytes Modem::received() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.received;
}

ModemState Modem::state() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module ? s_->modem.module->state() : ModemState{};
}

ModemFaults Modem::faults() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module ? s_->modem.module->faults() : ModemFaults{};
}

void Modem::set_state(const ModemState& state) const {
    {
        std::lock_guard lock(s_->mu);
        if (!s_->modem.module) return;
        s_->modem.module->state() = state;
    }
    s_->wake_up();
}

void Modem::set_faults(const ModemFaults& faults) const {
    {
        std::lock_guard lock(s_->mu);
        if (!s_->modem.module) return;
        s_->modem.module->faults() = faults;
    }
    s_->wake_up();
}

bool Modem::echo() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module && s_->modem.module->echo();
}

int Modem::restarts() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.module ? s_->modem.module->restarts() : 0;
}

void Modem::replace(int row) const {
    {
        std::lock_guard lock(s_->mu);
        auto& m = s_->modem;
        if (!m.module || row < 1 || row > static_cast<int>(kModemRows)) return;
        m.options.row = row;
        m.options.state = m.module->state();
        m.options.faults = m.module->faults();
        s_->fit_modem();
        s_->note(std::string("modem: replaced by ") + m.module->row().model);
    }
    s_->wake_up();
}

int Modem::power_cycles() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.power_cycles;
}

bool Modem::link_up() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.link_up;
}

std::vector<std::string> Modem::driver_ids() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.driver_ids;
}

void Modem::push(std::string_view text) const {
    {
        std::lock_guard lock(s_->mu);
        if (!s_->modem.present) return;
        s_->enqueue(s_->modem.port, "modem", Bytes(text.begin(), text.end()), SteadyClock::now());
    }
    s_->wake_up();
}

void Modem::clear() const {
    std::lock_guard lock(s_->mu);
    if (s_->modem.module) s_->modem.module->clear_commands();
    s_->modem.received.clear();
}

}  // namespace sim
