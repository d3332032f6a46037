// The cellular module in the box: its AT device, a pty linked at the row's device path (dev/ttyUSB3
// for an EC20), which comes and goes as a USB module's does (power, unplugging, AT+CFUN=1,1), and
// the handle tests use. Every BoxState member here runs with the box's mutex held.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "sim/box_state.h"

namespace sim {
namespace {

constexpr std::size_t kReadChunk = 4096;
// After AT+CFUN=1,1 the module answers "OK" and leaves this long after the answer went out, as a
// USB module drops off the bus a moment after it acknowledged: a host polling every 100 ms reads
// the answer first.
constexpr std::chrono::milliseconds kLeaveAfterAnswer{500};

std::string why_gone(const ModemPortState& m) {
    if (!m.module->state().powered) return "powered off";
    if (m.module->faults().unplugged) return "unplugged";
    return "restarting";
}

}  // namespace

void BoxState::start_modem() {
    if (!opt.modem.fitted) return;
    modem.module.emplace(opt.modem);
    modem.link = dir / std::string(modem.module->row().at_device).substr(1);
    std::filesystem::create_directories(modem.link.parent_path());
    std::error_code ec;
    std::filesystem::remove(modem.link, ec);  // a link an earlier box left
    modem_tick(SteadyClock::now());           // the tty is there at once, announcing nothing
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
    const bool wanted = m.state().powered && !m.faults().unplugged && !restarting;
    if (!wanted && modem.present) {
        std::error_code ec;
        std::filesystem::remove(modem.link, ec);
        p = PortState{};
        modem.present = false;
        note("modem: " + modem.link.filename().string() + " gone (" + why_gone(modem) + ")");
    } else if (wanted && !modem.present) {
        const bool booting = modem.started;  // it was there before: the module starts afresh
        try {
            p = PortState{};
            p.pty = io::open_pty();
            p.link = modem.link;
            // Published in one step, as the serial ports are: never a link to a slave not yet raw.
            auto fresh = modem.link.parent_path() / ("." + modem.link.filename().string() + ".new");
            std::filesystem::remove(fresh);
            std::filesystem::create_symlink(p.pty.slave_path, fresh);
            std::filesystem::rename(fresh, modem.link);
            modem.present = modem.started = true;
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
    }
    TimePoint next = modem.present ? flush_port(p, "modem", now) : kNever;
    for (TimePoint t : {modem.away_at, modem.back_at})
        if (t > now) next = std::min(next, t);
    return next;
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

// ---- the handle

Modem Box::modem() const { return Modem(s_.get()); }

bool Modem::fitted() const { return s_->modem.module.has_value(); }

int Modem::row() const { return fitted() ? s_->modem.module->row_number() : 0; }

std::filesystem::path Modem::link() const { return s_->modem.link; }

bool Modem::present() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.present;
}

std::vector<std::string> Modem::commands() const {
    std::lock_guard lock(s_->mu);
    return fitted() ? s_->modem.module->commands() : std::vector<std::string>{};
}

Bytes Modem::received() const {
    std::lock_guard lock(s_->mu);
    return s_->modem.received;
}

ModemState Modem::state() const {
    std::lock_guard lock(s_->mu);
    return fitted() ? s_->modem.module->state() : ModemState{};
}

ModemFaults Modem::faults() const {
    std::lock_guard lock(s_->mu);
    return fitted() ? s_->modem.module->faults() : ModemFaults{};
}

void Modem::set_state(const ModemState& state) const {
    if (!fitted()) return;
    {
        std::lock_guard lock(s_->mu);
        s_->modem.module->state() = state;
    }
    s_->wake_up();
}

void Modem::set_faults(const ModemFaults& faults) const {
    if (!fitted()) return;
    {
        std::lock_guard lock(s_->mu);
        s_->modem.module->faults() = faults;
    }
    s_->wake_up();
}

bool Modem::echo() const {
    std::lock_guard lock(s_->mu);
    return fitted() && s_->modem.module->echo();
}

int Modem::restarts() const {
    std::lock_guard lock(s_->mu);
    return fitted() ? s_->modem.module->restarts() : 0;
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
    if (fitted()) s_->modem.module->clear_commands();
    s_->modem.received.clear();
}

}  // namespace sim
