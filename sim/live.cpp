// The box's switches at run time: its present condition read back as an Options record, and a
// changed one enacted part by part (boards, receiver, module, serial devices). Every BoxState
// member here runs with the box's mutex held.
#include <nlohmann/json.hpp>

#include "sim/box_state.h"

namespace sim {

Options BoxState::condition() const {
    Options o = opt;
    o.announce_period = announce_period;
    for (std::size_t b = 0; b < boards.size(); ++b) o.faults[b] = boards[b].faults;
    o.environment = environment;
    const auto& g = gps.receiver.options();
    o.gps.enabled = g.enabled;
    o.gps.bytes_per_second = g.bytes_per_second;
    o.gps.mode = gps.receiver.mode();  // as the host's $PCAS04 left it
    o.gps.fix = g.fix;
    o.gps.origin = g.origin;
    o.modem = modem.options;
    if (modem.module) {  // as the module is now: the host's ATE0 and a restart change its echo
        o.modem.state = modem.module->state();
        o.modem.faults = modem.module->faults();
        o.modem.echo = modem.module->echo();
        o.modem.framing = modem.module->framing();
    }
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) o.unplugged[static_cast<std::size_t>(tty - kFirstTty)] = port(tty).unplugged;
    o.devices.clear();
    for (const auto& l : uarts) o.devices.insert(o.devices.end(), l.setups.begin(), l.setups.end());
    return o;
}

bool BoxState::board_present(int b) const {
    const auto& bd = boards[static_cast<std::size_t>(b)];
    return !bd.faults.silent && !port(bd.tty).unplugged;
}

void BoxState::enact(const Options& next) {
    const auto now = SteadyClock::now();
    const bool present[] = {board_present(0), board_present(1)};
    if (next.announce_period != announce_period) {
        announce_period = next.announce_period;
        for (auto& bd : boards) bd.next_announce = now;  // one at once, then at the new period
    }
    for (std::size_t b = 0; b < boards.size(); ++b) {
        auto& bd = boards[b];
        if (next.faults[b].noise && !bd.faults.noise) bd.next_noise = now;
        bd.faults = next.faults[b];
    }
    environment = next.environment;
    gps.receiver.reconfigure(next.gps, now);

    const ModemOptions was = modem.options;
    modem.options = next.modem;
    if (next.modem.fitted != was.fitted || next.modem.row != was.row) {
        fit_modem();  // out, and another in as if plugged: state and faults as next has them
    } else if (modem.module) {
        auto& m = *modem.module;
        m.state() = next.modem.state;
        m.faults() = next.modem.faults;
        m.set_framing(next.modem.framing);
        if (next.modem.echo != m.echo()) m.set_echo(next.modem.echo);
    }

    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        const bool out = next.unplugged[static_cast<std::size_t>(tty - kFirstTty)];
        if (out && !port(tty).unplugged) unplug_port(tty);
        if (!out && port(tty).unplugged) plug_port(tty);
    }
    for (int b = 0; b < 2; ++b)
        if (board_present(b) != present[b]) event("board", {{"board", b + 1}, {"present", !present[b]}});

    for (const auto& d : next.devices) {
        auto& l = d.uart == kEnvironmentUart ? uarts.back() : uarts[static_cast<std::size_t>(d.uart - 1)];
        for (auto& setup : l.setups) {
            if (setup.unit != d.unit || setup.fault == d.fault) continue;
            setup.fault = d.fault;
            l.device->set_fault(l.setups.size() > 1 ? d.unit : 0, d.fault);
        }
    }
}

void BoxState::unplug_port(int tty) {
    auto& p = port(tty);
    std::error_code ec;
    std::filesystem::remove(p.link, ec);
    p.pty = io::Pty{};  // the serving thread reads -1 from now on
    p.dead = p.unplugged = true;
    p.out.clear();
    p.queued = 0;
    note(tty_name(tty) + ": unplugged");
}

// A new device in its place, raw before its link appears: a descriptor the host opened on the old
// one stays dead.
void BoxState::plug_port(int tty) {
    auto& p = port(tty);
    try {
        auto pty = io::open_pty();
        io::publish_link(pty.slave_path, p.link);
        p.pty = std::move(pty);
    } catch (const std::exception& e) {
        note(tty_name(tty) + ": cannot plug a new one in: " + e.what());
        return;
    }
    p.dead = p.unplugged = p.blocked = false;
    p.cutter = FrameCutter{};
    note(tty_name(tty) + ": plugged in");
}

// ---- the handle

const Switches& Box::switches() const { return s_->switches; }

Options Box::condition() const {
    std::lock_guard lock(s_->mu);
    return s_->condition();
}

std::string BoxState::prepare(const nlohmann::json& changes, Options& next, std::vector<RegisterWrite>& writes) const {
    if (!changes.is_object()) return "the switches come as a JSON object of names and values";
    for (const auto& [name, value] : changes.items()) {
        if (const Switch* s = find_switch(switches, name)) {
            if (auto why = s->set(next, value); !why.empty()) return why;
        } else if (auto why = check_register(name, value, writes.emplace_back()); !why.empty()) {
            return why;
        }
    }
    return "";
}

std::string Box::check(const nlohmann::json& changes) const {
    std::lock_guard lock(s_->mu);
    Options next = s_->condition();
    std::vector<RegisterWrite> writes;
    return s_->prepare(changes, next, writes);
}

std::string Box::set(const nlohmann::json& changes) const {
    std::unique_lock lock(s_->mu);
    const Options before = s_->condition();
    Options next = before;
    std::vector<RegisterWrite> writes;  // registers are data, not a condition: written after
    if (auto why = s_->prepare(changes, next, writes); !why.empty()) return why;
    s_->enact(next);
    for (const auto& w : writes) s_->write_register(w);
    const Options after = s_->condition();
    for (const auto& s : s_->switches) {
        const auto value = s.get(after);
        if (value == s.get(before)) continue;
        s_->note("switch " + s.name + "=" + value.dump());
        s_->event("switch", {{"name", s.name}, {"value", value}});
    }
    bool unplugged = false;
    for (std::size_t i = 0; i < kTtys; ++i) unplugged |= after.unplugged[i] && !before.unplugged[i];
    if (unplugged) s_->await_round(lock);  // a pty hangs up once the serving thread lets it go
    lock.unlock();
    s_->wake_up();
    return "";
}

EventLog& Box::events() const { return s_->event_log; }

}  // namespace sim
