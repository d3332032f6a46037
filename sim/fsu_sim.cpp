// fsu-sim: the simulated box as a command. Builds the box in DIR (or in a new temporary
// directory), serves its control API on the loopback address, prints the environment a host needs,
// then serves the box until SIGINT or SIGTERM, printing one line per frame, chunk, command or file
// change it sees. The status view is kept in DIR/status (rewritten within a second of a change),
// printed on SIGUSR1 and by `fsu-sim --status DIR`; the control API's URL is kept in DIR/url, where
// `fsu-sim --set NAME=VALUE... DIR` and `fsu-sim --get DIR` find it.
#include <signal.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/box.h"
#include "sim/control.h"

namespace {

using json = nlohmann::json;

constexpr const char* kUsageHead =
    "usage: fsu-sim [OPTIONS] [DIR]\n"
    "Builds a simulated box in DIR (default: a new temporary directory, removed at exit), prints\n"
    "the environment a host needs, and serves the box and its control API until interrupted. The\n"
    "GPIO lines the box's board set-up exports (LEDs on 1, 18, 0 and 4; 12, the cellular module's\n"
    "power) are there from the start. Each option below that describes the box's condition is a\n"
    "switch of the same name, without the dashes, that can be set while the box runs\n"
    "(\"--modem-csq 10\" is modem-csq=10, \"--silent 2\" is silent.2=on; and gps-fix=off).\n"
    "\n";

constexpr const char* kUsageTail =
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
    "  --quiet                    no trace\n"
    "\n"
    "usage: fsu-sim --set NAME=VALUE [NAME=VALUE...] DIR\n"
    "Sets switches of the box served in DIR, all or none (VALUE as on the command line: on, off,\n"
    "10, EC20), and prints them as the box now has them.\n"
    "\n"
    "usage: fsu-sim --get DIR\n"
    "Prints the state of the box served in DIR, as JSON.\n"
    "\n"
    "usage: fsu-sim --status DIR\n"
    "Prints the status view of the box served in DIR (kill -USR1 prints it on fsu-sim's output).\n";

constexpr std::size_t kHelpColumn = 29;

struct Bridge {
    int board, channel, port;
};

struct Args {
    std::filesystem::path dir;
    sim::Options options;
    std::vector<Bridge> bridges;
    bool quiet = false;
    bool http = true;
    sim::ControlOptions control;
    // Talking to a box served in dir: --status, --get, or --set with its settings.
    enum class Talk { kNone, kStatus, kGet, kSet } talk = Talk::kNone;
    std::vector<std::string> settings;
};

// The start options that set switches, from the switches' own table.
std::string switch_usage(const sim::Switches& table) {
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

[[noreturn]] void usage(const std::string& complaint) {
    if (!complaint.empty()) std::fprintf(stderr, "fsu-sim: %s\n", complaint.c_str());
    std::fputs((kUsageHead + switch_usage(sim::box_switches()) + kUsageTail).c_str(), stderr);
    std::exit(2);
}

int number(const char* text, int lo, int hi, const char* what) {
    char* end = nullptr;
    long v = std::strtol(text ? text : "", &end, 10);
    if (!text || !*text || *end || v < lo || v > hi) usage(std::string("bad ") + what + ": " + (text ? text : "(none)"));
    return static_cast<int>(v);
}

// A start option that sets a switch ("--modem-csq 10", "--silent 2", "--modem-no-sim"); false
// when arg is none. Moves i past the option's argument.
bool parse_switch(const sim::Switches& table, std::string_view arg, const char* value, sim::Options& o, int& i) {
    if (!arg.starts_with("--")) return false;
    const std::string name(arg.substr(2));
    const bool family = std::any_of(table.begin(), table.end(), [&](const sim::Switch& s) { return s.family == name; });
    const sim::Switch* s = sim::find_switch(table, family ? name + "." + (value ? value : "") : name);
    if (family && !s) usage("no such " + std::string(arg) + ": " + (value ? value : "(none)"));
    if (!s || !s->start) return false;
    const bool takes_value = family || s->type != sim::SwitchType::kBoolean;
    if (takes_value && !value) usage(std::string(arg) + " needs " + s->argument);
    if (const auto why = s->set(o, family || !takes_value ? json("on") : json(value)); !why.empty()) usage(why);
    if (takes_value) ++i;
    return true;
}

Args parse(int argc, char** argv) {
    Args a;
    // A box for people: the receiver streams and the environment equipment answers.
    a.options.gps.enabled = true;
    a.options.environment = true;
    // The lines the box's own board set-up exports before any host starts.
    a.options.exported.assign(std::begin(sim::kBoardSetupLines), std::end(sim::kBoardSetupLines));
    const sim::Switches table = sim::box_switches();
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a.talk == Args::Talk::kNone && parse_switch(table, arg, value, a.options, i)) continue;
        if (arg == "--gps-capture") {
            if (!value) usage("--gps-capture needs a file");
            a.options.gps.capture = value;
            ++i;
        } else if (arg == "--device") {
            if (!value) usage("--device needs UART=KIND");
            if (const auto why = sim::parse_device(value, a.options.devices.emplace_back()); !why.empty()) usage(why);
            ++i;
        } else if (arg == "--export") {
            a.options.exported.push_back(number(value, 0, 1023, "GPIO line"));
            ++i;
        } else if (arg == "--status" || arg == "--get" || arg == "--set") {
            a.talk = arg == "--status" ? Args::Talk::kStatus : arg == "--get" ? Args::Talk::kGet : Args::Talk::kSet;
        } else if (arg == "--bridge") {
            Bridge b{};
            char tail = 0;
            if (!value || std::sscanf(value, "%d:%d:%d%c", &b.board, &b.channel, &b.port, &tail) != 3 ||
                b.board < 1 || b.board > 2 || b.channel < 0 || b.channel >= sim::kChannels || b.port < 1 ||
                b.port > 65535)
                usage(std::string("bad bridge: ") + (value ? value : "(none)"));
            a.bridges.push_back(b);
            ++i;
        } else if (arg == "--http") {
            a.control.port = number(value, 1, 65535, "port");
            ++i;
        } else if (arg == "--http-bind") {
            if (!value) usage("--http-bind needs an address");
            a.control.bind = value;
            ++i;
        } else if (arg == "--no-http") {
            a.http = false;
        } else if (arg == "--quiet") {
            a.quiet = true;
        } else if (arg == "-h" || arg == "--help") {
            usage("");
        } else if (a.talk == Args::Talk::kSet && !arg.starts_with("-") && arg.find('=') != std::string_view::npos) {
            a.settings.emplace_back(arg);
        } else if (arg.starts_with("-") || !a.dir.empty()) {
            usage("unexpected argument: " + std::string(arg));
        } else {
            a.dir = arg;
        }
    }
    if (a.talk != Args::Talk::kNone && a.dir.empty()) usage("which box? name its directory");
    if (a.talk == Args::Talk::kSet && a.settings.empty()) usage("--set needs NAME=VALUE");
    return a;
}

// The fsu-uci installed with this program (SIM_INSTALLED_UCI: where, from this program's directory),
// when there is one; in the build tree there is none, and the box runs the one built with it.
std::filesystem::path installed_uci() {
#ifdef SIM_INSTALLED_UCI
    std::error_code ec;
    auto me = std::filesystem::read_symlink("/proc/self/exe", ec);
    auto uci = (me.parent_path() / SIM_INSTALLED_UCI).lexically_normal();
    if (!ec && std::filesystem::exists(uci)) return uci;
#endif
    return {};
}

int print_status(const std::filesystem::path& dir) {
    std::ifstream in(dir / "status");
    if (!in) {
        std::fprintf(stderr, "fsu-sim: no box is served in %s\n", dir.c_str());
        return 1;
    }
    std::cout << in.rdbuf();
    return 0;
}

// --get and --set: a request to the control API of the box served in DIR, found through DIR/url.
int talk(const Args& a) {
    signal(SIGPIPE, SIG_IGN);  // a box gone in the middle of a request: a failed request, said so
    std::ifstream in(a.dir / "url");
    std::string url;
    if (!std::getline(in, url) || url.empty()) {
        std::fprintf(stderr, "fsu-sim: no box with a control API is served in %s (no %s)\n", a.dir.c_str(),
                     (a.dir / "url").c_str());
        return 1;
    }
    httplib::Client client(url);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(30, 0);
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    for (const auto& s : a.settings) body[s.substr(0, s.find('='))] = s.substr(s.find('=') + 1);
    const auto res = a.talk == Args::Talk::kGet ? client.Get("/api/state")
                                                : client.Post("/api/set", body.dump(), "application/json");
    if (!res) {
        std::fprintf(stderr, "fsu-sim: no answer from %s: %s\n", url.c_str(), httplib::to_string(res.error()).c_str());
        return 1;
    }
    const auto answer = nlohmann::ordered_json::parse(res->body, nullptr, false);
    if (res->status != 200 || answer.is_discarded()) {
        const bool said = !answer.is_discarded() && answer.contains("error");
        std::fprintf(stderr, "fsu-sim: %s\n", said ? answer["error"].get<std::string>().c_str() : res->body.c_str());
        return 1;
    }
    if (a.talk == Args::Talk::kGet) std::printf("%s\n", answer.dump(2).c_str());
    for (const auto& [name, value] : body.items()) {
        const auto* now = sim::switch_value(answer, name);
        std::printf("%s=%s\n", name.c_str(), now ? now->dump().c_str() : "null");
    }
    return 0;
}

// A file of the box's directory, replaced whole so that a reader never sees half of it.
void write_whole(const std::filesystem::path& dir, const std::string& name, const std::string& text) {
    std::ofstream(dir / ("." + name + ".new")) << text;
    std::filesystem::rename(dir / ("." + name + ".new"), dir / name);
}

std::filesystem::path make_temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fsu-sim-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary directory");
    return tmpl;
}

}  // namespace

int main(int argc, char** argv) {
    Args args = parse(argc, argv);
    if (args.talk == Args::Talk::kStatus) return print_status(args.dir);
    if (args.talk != Args::Talk::kNone) return talk(args);
    const bool temporary = args.dir.empty();
    // Blocked before the serving thread starts, so that only sigtimedwait below sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        if (temporary) args.dir = make_temp_dir();
        const auto start = std::chrono::steady_clock::now();
        if (!args.quiet) {
            args.options.trace = [start](const std::string& line) {
                std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
                std::printf("%9.3f %s\n", t.count(), line.c_str());
                std::fflush(stdout);
            };
        }
        args.options.record = false;  // a long run keeps nothing; the trace shows it all
        args.options.uci_program = installed_uci();
        {
            sim::Box box(args.dir, args.options);
            std::unique_ptr<sim::ControlServer> control;
            if (args.http) control = std::make_unique<sim::ControlServer>(box, args.control);
            const std::string dir = box.dir().string();
            if (dir.find_first_of(" \t\n'\"\\$`;&|<>*?()[]{}!#~") != std::string::npos)
                std::fprintf(stderr, "fsu-sim: warning: the library refuses a root holding blanks or shell characters\n");
            std::printf("export SDK_BSP_ROOT=%s\nexport PATH=%s/bin:\"$PATH\"\nexport SDK_BSP_CMDLOG=%s/cmdlog\n",
                        dir.c_str(), dir.c_str(), dir.c_str());
            if (control) {
                std::printf("export FSU_SIM_URL=%s\n", control->url().c_str());
                write_whole(box.dir(), "url", control->url() + "\n");
            }
            std::fflush(stdout);
            for (const auto& b : args.bridges)
                box.board(b.board).bridge(b.channel, static_cast<std::uint16_t>(b.port));
            const auto modem = box.modem();
            std::fprintf(stderr, "fsu-sim: serving %s/dev/ttymxc1..7%s; Ctrl-C stops\n", dir.c_str(),
                         modem.fitted() ? (", the cellular module at " + modem.link().string()).c_str() : "");
            // Once a second: the status file, when something changed.
            const timespec second{1, 0};
            std::string shown;
            for (;;) {
                const int sig = sigtimedwait(&stop, nullptr, &second);
                if (sig == SIGINT || sig == SIGTERM) break;
                const std::string now = box.status();
                if (sig == SIGUSR1) {
                    std::fputs(now.c_str(), stdout);
                    std::fflush(stdout);
                }
                if (now != shown) write_whole(box.dir(), "status", shown = now);
            }
            std::filesystem::remove(box.dir() / "status");
            std::filesystem::remove(box.dir() / "url");
        }
        if (temporary) std::filesystem::remove_all(args.dir);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fsu-sim: %s\n", e.what());
        if (temporary && !args.dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(args.dir, ec);
        }
        return 1;
    }
}
