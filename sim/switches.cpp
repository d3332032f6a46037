// The box's switches: names, types, ranges and where each one's value lives in Options.
#include "sim/switches.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "sim/box.h"

namespace sim {

using json = nlohmann::json;

namespace {

// A boolean switch.
template <typename Get, typename Set>
Switch boolean(std::string name, std::string help, Get get, Set set) {
    Switch s{name, SwitchType::kBoolean, "", true, "", std::move(help), {}, {}};
    s.get = [get](const Options& o) { return json(get(o)); };
    s.set = [name, set](Options& o, const json& v) -> std::string {
        const auto on = as_boolean(v);
        if (!on) return refused(name, v, "on or off (true or false)");
        set(o, *on);
        return "";
    };
    return s;
}

// A boolean switch on a bool of Options: `field` is a generic lambda giving it (`inverted`: the
// switch is on while the bool is false, as no-gps is on while the receiver is not enabled).
template <typename Field>
Switch flag(std::string name, std::string help, Field field, bool inverted = false) {
    return boolean(std::move(name), std::move(help), [field, inverted](const Options& o) { return field(o) != inverted; },
                   [field, inverted](Options& o, bool on) { field(o) = on != inverted; });
}

// A whole-number switch from lo to hi.
template <typename Get, typename Set>
Switch number(std::string name, std::string argument, std::string help, long long lo, long long hi, Get get, Set set) {
    Switch s{name, SwitchType::kNumber, "", true, std::move(argument), std::move(help), {}, {}};
    s.get = [get](const Options& o) { return json(get(o)); };
    s.set = [name, lo, hi, set](Options& o, const json& v) -> std::string {
        const auto n = as_whole(v);
        if (!n || *n < lo || *n > hi)
            return refused(name, v, "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
        set(o, *n);
        return "";
    };
    return s;
}

// The members of a family: "silent.1" and "silent.2", set by "--silent 1" and "--silent 2".
template <typename Make>
void family(Switches& table, const std::string& name, const std::vector<std::string>& members, Make make) {
    for (const auto& m : members) {
        Switch s = make(name + "." + m, m);
        s.family = name;
        if (&m != &members.front()) s.help.clear();
        table.push_back(std::move(s));
    }
}

// "22.6020575,113.9464835,56.7": each number in its shortest exact form.
std::string position_text(const Position& p) {
    std::string out;
    for (double v : {p.lat, p.lon, p.altitude}) {
        char buf[32];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
        out += (out.empty() ? "" : ",") + std::string(buf, ec == std::errc() ? end : buf);
    }
    return out;
}

constexpr double kMinAltitude = -500, kMaxAltitude = 10000;  // metres: the Dead Sea to past Everest

std::optional<Position> parse_position(const json& v) {
    if (!v.is_string()) return std::nullopt;
    const std::string& text = v.get_ref<const std::string&>();
    double n[3];
    const char* at = text.c_str();
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        n[i] = std::strtod(at, &end);
        if (end == at || !std::isfinite(n[i]) || *end != (i < 2 ? ',' : '\0')) return std::nullopt;
        at = end + 1;
    }
    if (std::abs(n[0]) > 90 || std::abs(n[1]) > 180 || n[2] < kMinAltitude || n[2] > kMaxAltitude) return std::nullopt;
    return Position{n[0], n[1], n[2]};
}

Switch gps_position() {
    Switch s{"gps-position", SwitchType::kString, "", true, "LAT,LON,ALT",
             "the receiver's track moves there (degrees north and east, metres)", {}, {}};
    s.get = [](const Options& o) { return json(position_text(o.gps.origin)); };
    s.set = [](Options& o, const json& v) -> std::string {
        const auto p = parse_position(v);
        if (!p) return refused("gps-position", v, "LAT,LON,ALT (degrees -90 to 90 and -180 to 180, metres -500 to 10000)");
        o.gps.origin = *p;
        return "";
    };
    return s;
}

Switch modem_model() {
    Switch s{"modem", SwitchType::kNumber, "", true, "ROW|MODEL",
             "the cellular module: a row of the modem table by number (1-15)\nor model (default EC20); its AT device is DIR/dev/ttyUSBn",
             {}, {}};
    s.get = [](const Options& o) { return json(o.modem.row); };
    s.set = [](Options& o, const json& v) -> std::string {
        std::optional<int> row;
        if (v.is_number_integer() && v.get<long long>() >= 1 && v.get<long long>() <= static_cast<long long>(kModemRows))
            row = v.get<int>();
        else if (v.is_string())
            row = modem_row(v.get_ref<const std::string&>());
        if (!row) return refused("modem", v, "a row of the modem table (1-15) or a model in it");
        o.modem.row = *row;
        return "";
    };
    return s;
}

Switch compact_framing() {
    return boolean("modem-compact", "no blank line between an answer's information and its OK",
                   [](const Options& o) { return o.modem.framing == Framing::kCompact; },
                   [](Options& o, bool on) { o.modem.framing = on ? Framing::kCompact : Framing::kV250; });
}

}  // namespace

std::string refused(const std::string& name, const json& value, const std::string& wanted) {
    return name + ": " + value.dump() + " is not " + wanted;
}

std::optional<bool> as_boolean(const json& v) {
    if (v.is_boolean()) return v.get<bool>();
    if (v == "on") return true;
    if (v == "off") return false;
    return std::nullopt;
}

std::optional<long long> as_whole(const json& v) {
    if (v.is_number_integer()) return v.get<long long>();
    if (!v.is_string()) return std::nullopt;
    const auto& text = v.get_ref<const std::string&>();
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return n;
}

const char* type_name(SwitchType type) {
    switch (type) {
        case SwitchType::kBoolean: return "boolean";
        case SwitchType::kNumber: return "number";
        case SwitchType::kString: break;
    }
    return "string";
}

Switches box_switches() {
    using std::chrono::milliseconds;
    Switches t;
    t.push_back(number("announce", "MS", "board presence period in ms (default 1000; 0: at start only)", 0, 3600000,
                       [](const Options& o) { return o.announce_period.count(); },
                       [](Options& o, long long n) { o.announce_period = milliseconds(n); }));
    // One fault of one board each.
    struct BoardFault {
        const char* name;
        bool Faults::*fault;
        const char* help;
    };
    static constexpr BoardFault kBoardFaults[] = {
        {"silent", &Faults::silent, "board 1 or 2 sends nothing of its own accord"},
        {"garbage", &Faults::garbage, "garbage bytes before every frame the board sends"},
        {"split", &Faults::split, "every frame the board sends in pieces of 4 bytes, 150 ms apart"},
        {"bad-checksum", &Faults::bad_checksum, "every frame the board sends with a wrong sum"},
        {"noise", &Faults::noise, "random bytes and half frames at the link's full rate besides\nthe board's frames"},
    };
    for (const auto& f : kBoardFaults)
        family(t, f.name, {"1", "2"}, [&](const std::string& name, const std::string& board) {
            const std::size_t b = board == "1" ? 0 : 1;
            auto s = flag(name, f.help, [b, fault = f.fault](auto& o) -> auto& { return o.faults[b].*fault; });
            s.argument = "BOARD";
            return s;
        });
    t.push_back(flag("no-env", "board 1's channel 4 loops back instead of leading to the\nenvironment equipment",
                     [](auto& o) -> auto& { return o.environment; }, true));
    t.push_back(flag("no-gps", "the receiver on ttymxc7 sends nothing (it still takes $PCAS)",
                     [](auto& o) -> auto& { return o.gps.enabled; }, true));
    t.push_back(number("gps-pace", "BYTES", "receiver bytes per second (default 960: 9600 baud)", 1, 1000000,
                       [](const Options& o) { return o.gps.bytes_per_second; },
                       [](Options& o, long long n) { o.gps.bytes_per_second = static_cast<int>(n); }));
    t.push_back(number("gps-mode", "N", "receiver mode: 1 GPS, 2 BeiDou, 3 both (default)", 1, gnss::kAll,
                       [](const Options& o) { return o.gps.mode; },
                       [](Options& o, long long n) { o.gps.mode = static_cast<int>(n); }));
    auto fix = flag("gps-fix", "", [](auto& o) -> auto& { return o.gps.fix; });
    fix.start = false;  // on from the start; a switch to take the fix away while the box runs
    t.push_back(std::move(fix));
    t.push_back(gps_position());
    t.push_back(modem_model());
    t.push_back(flag("no-modem", "no cellular module, no AT device", [](auto& o) -> auto& { return o.modem.fitted; }, true));
    t.push_back(compact_framing());
    t.push_back(flag("modem-echo-off", "the module's echo is off (as after ATE0)", [](auto& o) -> auto& { return o.modem.echo; },
                     true));
    t.push_back(number("modem-csq", "N", "signal level, the first value of +CSQ (default 24; 99 unknown)", 0, 99,
                       [](const Options& o) { return o.modem.state.rssi; },
                       [](Options& o, long long n) { o.modem.state.rssi = static_cast<int>(n); }));
    t.push_back(flag("modem-no-sim", "no SIM: AT+CIMI is answered \"+CME ERROR: 10\"",
                     [](auto& o) -> auto& { return o.modem.state.sim; }, true));
    t.push_back(flag("modem-silent", "the module reads everything and answers nothing",
                     [](auto& o) -> auto& { return o.modem.faults.silent; }));
    t.push_back(flag("modem-error", "every command is answered \"ERROR\"", [](auto& o) -> auto& { return o.modem.faults.error; }));
    t.push_back(flag("modem-cme-error", "every command is answered \"+CME ERROR: 100\"",
                     [](auto& o) -> auto& { return o.modem.faults.cme_error; }));
    t.push_back(number("modem-slow", "MS", "every answer comes MS milliseconds after its command", 0, 600000,
                       [](const Options& o) { return o.modem.faults.delay.count(); },
                       [](Options& o, long long n) { o.modem.faults.delay = milliseconds(n); }));
    t.push_back(flag("modem-pieces", "every answer in 1-byte pieces, 20 ms apart",
                     [](auto& o) -> auto& { return o.modem.faults.pieces; }));
    t.push_back(flag("modem-unsolicited", "an unsolicited line (RDY, +CPIN: READY, ...) after every answer",
                     [](auto& o) -> auto& { return o.modem.faults.unsolicited; }));
    t.push_back(flag("modem-no-service", "not registered: +CSQ: 99,99 and ^SYSINFO: 0,0,0,0,1",
                     [](auto& o) -> auto& { return o.modem.faults.no_service; }));
    t.push_back(flag("modem-unplugged", "the module is unplugged: its AT device is not there",
                     [](auto& o) -> auto& { return o.modem.faults.unplugged; }));
    std::vector<std::string> ttys;
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) ttys.push_back("ttymxc" + std::to_string(tty));
    family(t, "unplugged", ttys, [](const std::string& name, const std::string& tty) {
        const auto i = static_cast<std::size_t>(tty.back() - '0' - kFirstTty);
        auto s = flag(name, "serial device TTY (ttymxc1-7) is gone, as a USB adapter pulled out",
                      [i](auto& o) -> auto& { return o.unplugged[i]; });
        s.argument = "TTY";
        return s;
    });
    return t;
}

const Switch* find_switch(const Switches& table, std::string_view name) {
    for (const auto& s : table)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace sim
