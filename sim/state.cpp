// The box's state as one JSON object, as the control API serves it and the README documents it,
// key by key: every key is always there, null where it does not apply, so tools can rely on the
// layout. It is built under the box's lock (copies of small values) and serialised by the caller,
// outside it; the FTP accounts, read from their file, are filled in after the lock is let go.
#include <charconv>
#include <fstream>
#include <nlohmann/json.hpp>

#include "sim/box_state.h"

namespace sim {
namespace {

using J = nlohmann::ordered_json;

template <typename T>
J or_null(const std::optional<T>& v) {
    return v ? J(*v) : J(nullptr);
}

J chunk(const Bytes& b) { return b.empty() ? J(nullptr) : J(hex(b)); }

J recent(const std::deque<Traffic>& traffic) {
    J out = J::array();
    for (const auto& t : traffic) out.push_back({{"way", t.in ? "in" : "out"}, {"bytes", t.bytes}, {"hex", hex(t.head)}});
    return out;
}

// The accounts user.sh keeps, "user home" each.
J ftp_accounts(const std::filesystem::path& dir) {
    std::ifstream in(dir / kFtpAccounts);
    J accounts = J::array();
    for (std::string l; std::getline(in, l);) {
        const auto blank = l.find(' ');
        if (!l.empty()) accounts.push_back({{"user", l.substr(0, blank)}, {"home", blank == l.npos ? "" : l.substr(blank + 1)}});
    }
    return accounts;
}

}  // namespace

J BoxState::state() const {
    J s;
    const auto& lines = files.gpio->lines();
    J& leds = s["leds"] = J::object();
    for (const auto& led : kLeds) leds[led.name] = {{"gpio", led.gpio}, {"lit", or_null(led_lit(lines, led.gpio))}};
    J& gpio = s["gpio"] = J::object();
    for (const auto& [n, l] : lines) gpio[std::to_string(n)] = {{"direction", l.direction}, {"value", l.value}, {"edge", l.edge}};

    s["outputs"] = nullptr;
    if (environment) {
        const auto outputs = env.equipment.outputs();
        for (std::size_t i = 0; i < outputs.size(); ++i) s["outputs"][std::to_string(i + 1)] = outputs[i];
    }
    s["environment"] = {{"fitted", environment},          {"frames", env.frames_in},
                        {"bad_frames", env.bad_frames},    {"replies", env.replies_out},
                        {"last_frame", or_null(env.last_frame)}, {"last_reply", or_null(env.last_reply)}};

    J& boards_json = s["boards"] = J::object();
    for (int b = 0; b < 2; ++b) {
        const auto& bd = boards[static_cast<std::size_t>(b)];
        boards_json[std::to_string(b + 1)] = {
            {"port", tty_name(bd.tty)},       {"present", board_present(b)},     {"announcements", bd.announcements},
            {"frames_in", bd.frames_in},      {"bad_sums", bd.bad_sums},         {"frames_out", bd.frames_out},
            {"keepalives", bd.keepalives},    {"garbage", bd.garbage},
            {"last_frame", bd.last_frame.empty() ? J(nullptr) : J(bd.last_frame)}};
    }
    J& ports_json = s["ports"] = J::object();
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        const auto& p = port(tty);
        ports_json[tty_name(tty)] = {{"present", !p.unplugged}, {"bytes_in", p.bytes_in}, {"bytes_out", p.bytes_out},
                                     {"last_in", chunk(p.last_in)}, {"last_out", chunk(p.last_out)},
                                     {"recent", recent(p.recent)}};
    }

    const auto& r = gps.receiver;
    const auto position = r.options().enabled ? r.position() : std::nullopt;
    const auto sky = r.options().enabled ? r.sky() : std::nullopt;
    s["gps"] = {{"streaming", r.options().enabled},
                {"source", r.options().capture.empty() ? "track" : r.options().capture.filename().string()},
                {"pace", r.options().bytes_per_second},
                {"mode", r.mode()},
                {"mode_name", mode_name(r.mode())},
                {"fix", position.has_value()},
                {"satellites", sky ? J{{"in_view", sky->in_view}, {"used", sky->used}} : J(nullptr)},
                {"position", position ? J{{"lat", position->lat}, {"lon", position->lon}, {"altitude", position->altitude}}
                                      : J(nullptr)},
                {"last_command", gps.last ? J(gps.last->text) : J(nullptr)},
                {"last_command_ok", gps.last ? J(gps.last->checksum_ok) : J(nullptr)},
                {"saves", r.saves()},
                {"saved_mode", or_null(r.saved_mode())},
                {"dropped", gps.dropped}};

    const CellularModule* m = modem.module ? &*modem.module : nullptr;
    const bool serving = m && !m->faults().no_service;
    s["modem"] = {{"fitted", m != nullptr},
                  {"row", m ? J(m->row_number()) : J(nullptr)},
                  {"model", m ? J(m->row().model) : J(nullptr)},
                  {"usb_id", m ? J(m->row().usb_id) : J(nullptr)},
                  {"at_device", m ? J(std::string(m->row().at_device).substr(1)) : J(nullptr)},
                  {"present", modem.present},
                  {"framing", m ? J(m->framing() == Framing::kV250 ? "V.250" : "compact") : J(nullptr)},
                  {"echo", m ? J(m->echo()) : J(nullptr)},
                  {"csq", m ? J(serving ? m->state().rssi : 99) : J(nullptr)},
                  {"ber", m ? J(serving ? m->state().ber : 99) : J(nullptr)},
                  {"registered", modem_registered()},
                  {"system_mode", serving ? J(m->state().mode) : J(nullptr)},
                  {"sim", m ? J(m->state().sim) : J(nullptr)},
                  {"imsi", m && m->state().sim ? J(m->state().imsi) : J(nullptr)},
                  {"imei", m ? J(m->state().imei) : J(nullptr)},
                  {"commands", modem.commands},
                  {"last_command", modem.last.empty() ? J(nullptr) : J(modem.last)},
                  {"restarts", m ? m->restarts() : 0},
                  {"power_cycles", modem.power_cycles}};
    s["link"] = {{"up", modem.link_up},
                 {"address", modem.link_up ? J(opt.modem.ppp_address) : J(nullptr)},
                 {"dialling", modem.link_at != kNever},
                 {"dials", modem.dials},
                 {"usb_device", m && modem.present ? J(modem.usb_device) : J(nullptr)},
                 {"power_cut", modem.power_cut},
                 {"new_id", modem.driver_ids}};
    s["reboot"] = {{"requests", files.reboots}, {"last", files.reboots ? J(files.last_reboot) : J(nullptr)}};
    s["commands"] = {{"count", files.calls}, {"last", files.last_calls}};
    s["ftp"] = J::array();  // read from its file once the lock is let go (Box::state)

    s["devices"] = devices_state();

    const Options now = condition();
    J& switches_json = s["switches"] = J::object();
    for (const auto& sw : switches) switches_json[sw.name] = sw.get(now);
    return s;
}

J Box::state() const {
    J s;
    {
        std::lock_guard lock(s_->mu);
        s = s_->state();
    }
    s["ftp"] = ftp_accounts(s_->dir);
    return s;
}

const J* find_path(const J& node, std::string_view path) {
    if (node.is_array()) {
        const auto dot = std::min(path.find('.'), path.size());
        std::size_t i = 0;
        const auto [end, ec] = std::from_chars(path.data(), path.data() + dot, i);
        if (dot == 0 || ec != std::errc() || end != path.data() + dot || i >= node.size()) return nullptr;
        return dot == path.size() ? &node[i] : find_path(node[i], path.substr(dot + 1));
    }
    if (!node.is_object()) return nullptr;
    // The longest key first: "silent.2" is one key of "switches".
    for (std::size_t end = path.size();;) {
        const auto it = node.find(std::string(path.substr(0, end)));
        if (it != node.end()) {
            if (end == path.size()) return &*it;
            if (const J* found = find_path(*it, path.substr(end + 1))) return found;
        }
        if (end == 0 || (end = path.rfind('.', end - 1)) == std::string_view::npos) return nullptr;
    }
}

const J* switch_value(const J& state, std::string_view name) {
    if (const auto sw = state.find("switches"); sw != state.end())
        if (const auto it = sw->find(std::string(name)); it != sw->end()) return &*it;
    const auto r = parse_register_name(name);
    const J* units = r ? find_path(state, "devices." + std::to_string(r->uart) + ".units") : nullptr;
    if (!units || !units->is_object() || (r->unit == 0 && units->size() != 1)) return nullptr;
    const std::string unit = r->unit ? std::to_string(r->unit) : units->begin().key();
    const std::string table = kTableNames[static_cast<std::size_t>(r->table)];
    return find_path(*units, unit + "." + table + "." + std::to_string(r->address) + ".value");
}

}  // namespace sim
