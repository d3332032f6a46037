// fsu-sim's start options, read one at a time from the command line or a scenario's box line.
#include "sim/start_options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace sim {
namespace {

using json = nlohmann::json;

constexpr std::size_t kHelpColumn = 29;

constexpr const char* kOtherOptions =
    "  --device UART=KIND[,OPTION=VALUE...]\n"
    "                             what is behind Local/Uart/UART (1-12; repeatable): echo (the\n"
    "                             default), modbus (a Modbus RTU meter), lines (a text device),\n"
    "                             tcp (the line on 127.0.0.1:port) or none. Options: file=PATH\n"
    "                             (modbus: registers, JSON; lines: its table, JSON), unit=N\n"
    "                             (default 1), baud=N data=N stop=N parity=none|even|odd (default\n"
    "                             9600 8N1), port=N (tcp). Modbus units on one Uart form a bus.\n"
    "                             At run time: device.UART.holding.ADDR=VALUE (input, coil,\n"
    "                             discrete; device.UART.uUNIT.holding.ADDR on a bus) and\n"
    "                             device.UART.fault=none|silent|bad-crc|exception:CODE|delay:MS\n"
    "  --bridge BOARD:CHANNEL:PORT  serve a board channel on 127.0.0.1:PORT instead of the device\n"
    "                             behind it (channels 0-3; 4 is board 1's environment channel)\n"
    "  --gps-capture FILE         replay a receiver capture, looping, instead of the track\n"
    "  --export N                 GPIO line N exported when the box is built (repeatable)\n"
    "  --http PORT                the control API on this port (default: a free one)\n"
    "  --http-bind ADDR           the control API on this address (default 127.0.0.1; another\n"
    "                             address lets the whole network switch the box)\n"
    "  --no-http                  no control API\n"
    "  --quiet                    no trace\n";

[[noreturn]] void bad(const std::string& what) { throw std::invalid_argument(what); }

int number(const std::string* text, int lo, int hi, const char* what) {
    char* end = nullptr;
    const char* s = text ? text->c_str() : "";
    const long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) bad(std::string("bad ") + what + ": " + (text ? *text : "(none)"));
    return static_cast<int>(v);
}

// A start option that sets a switch ("--modem-csq 10", "--silent 2", "--modem-no-sim"); false
// when arg is none. Moves i past the option's argument.
bool read_switch(const Switches& table, std::string_view arg, const std::string* value, Options& o, std::size_t& i) {
    if (!arg.starts_with("--") || arg.size() == 2) return false;
    const std::string name(arg.substr(2));
    const bool family = std::any_of(table.begin(), table.end(), [&](const Switch& s) { return s.family == name; });
    const Switch* s = find_switch(table, family ? name + "." + (value ? *value : "") : name);
    if (family && !s) bad("no such " + std::string(arg) + ": " + (value ? *value : "(none)"));
    if (!s || !s->start) return false;
    const bool takes_value = family || s->type != SwitchType::kBoolean;
    if (takes_value && !value) bad(std::string(arg) + " needs " + s->argument);
    if (const auto why = s->set(o, family || !takes_value ? json("on") : json(*value)); !why.empty()) bad(why);
    if (takes_value) ++i;
    return true;
}

// The start options that set switches, from the switches' own table.
std::string switch_usage(const Switches& table) {
    std::string out;
    for (const auto& s : table) {
        if (!s.start || s.help.empty()) continue;
        std::string head = "  --" + (s.family.empty() ? s.name : s.family) + (s.argument.empty() ? "" : " " + s.argument);
        head.resize(std::max(head.size() + 1, kHelpColumn), ' ');
        for (std::size_t at = 0, end; at < s.help.size(); at = end + 1) {
            end = std::min(s.help.find('\n', at), s.help.size());
            out += (at ? std::string(kHelpColumn, ' ') : head) + s.help.substr(at, end - at) + "\n";
        }
    }
    return out;
}

}  // namespace

StartOptions::StartOptions() {
    box.gps.enabled = true;
    box.environment = true;
    // The lines the box's own board set-up exports before any host starts.
    box.exported.assign(std::begin(kBoardSetupLines), std::end(kBoardSetupLines));
}

bool read_start_option(std::span<const std::string> args, std::size_t& i, StartOptions& into) {
    static const Switches table = box_switches();
    const std::string_view arg = args[i];
    const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
    if (read_switch(table, arg, value, into.box, i)) return true;
    if (arg == "--no-http" || arg == "--quiet") {
        if (arg == "--quiet") into.quiet = true;
        if (arg == "--no-http") into.http = false;
        return true;
    }
    // The rest take an argument.
    if (arg == "--gps-capture") {
        if (!value) bad("--gps-capture needs a file");
        into.box.gps.capture = *value;
    } else if (arg == "--device") {
        if (!value) bad("--device needs UART=KIND");
        if (const auto why = parse_device(*value, into.box.devices.emplace_back()); !why.empty()) bad(why);
    } else if (arg == "--export") {
        into.box.exported.push_back(number(value, 0, 1023, "GPIO line"));
    } else if (arg == "--bridge") {
        Bridge b{};
        char tail = 0;
        if (!value || std::sscanf(value->c_str(), "%d:%d:%d%c", &b.board, &b.channel, &b.port, &tail) != 3 || b.board < 1 ||
            b.board > 2 || b.channel < 0 || b.channel >= kChannels || b.port < 1 || b.port > 65535)
            bad("bad bridge: " + (value ? *value : "(none)"));
        into.bridges.push_back(b);
    } else if (arg == "--http") {
        into.control.port = number(value, 1, 65535, "port");
    } else if (arg == "--http-bind") {
        if (!value) bad("--http-bind needs an address");
        into.control.bind = *value;
    } else {
        return false;
    }
    ++i;
    return true;
}

void resolve_files(StartOptions& options, const std::filesystem::path& base) {
    const auto resolve = [&](std::filesystem::path& p) {
        if (!p.empty() && p.is_relative()) p = (base / p).lexically_normal();
    };
    resolve(options.box.gps.capture);
    for (auto& d : options.box.devices) resolve(d.file);
}

std::string start_usage() { return switch_usage(box_switches()) + kOtherOptions; }

}  // namespace sim
