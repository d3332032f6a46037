// fsu-sim: the simulated box as a command. Builds the box in DIR (or in a new temporary
// directory), prints the environment a host needs, then serves the box until SIGINT or SIGTERM,
// printing one line per frame, chunk, command or file change it sees. The status view is kept in
// DIR/status (rewritten within a second of a change), printed on SIGUSR1 and by
// `fsu-sim --status DIR`.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/box.h"

namespace {

constexpr const char* kUsage =
    "usage: fsu-sim [OPTIONS] [DIR]\n"
    "Builds a simulated box in DIR (default: a new temporary directory, removed at exit), prints\n"
    "the environment a host needs, and serves the box until interrupted. The GPIO lines the box's\n"
    "board set-up exports (LEDs on 1, 18, 0 and 4; 12, the cellular module's power) are there from\n"
    "the start.\n"
    "\n"
    "  --announce MS              board presence period in ms (default 1000; 0: at start only)\n"
    "  --silent BOARD             board 1 or 2 sends nothing of its own accord\n"
    "  --garbage BOARD            garbage bytes before every frame the board sends\n"
    "  --split BOARD              every frame the board sends in pieces of 4 bytes, 150 ms apart\n"
    "  --bad-checksum BOARD       every frame the board sends with a wrong sum\n"
    "  --noise BOARD              random bytes and half frames at the link's full rate besides\n"
    "                             the board's frames\n"
    "  --bridge BOARD:CHANNEL:PORT  serve a board channel on 127.0.0.1:PORT instead of looping\n"
    "                             it back (channels 0-3; 4 is board 1's environment channel)\n"
    "  --no-env                   board 1's channel 4 loops back instead of leading to the\n"
    "                             environment equipment\n"
    "  --no-gps                   the receiver on ttymxc7 sends nothing (it still takes $PCAS)\n"
    "  --gps-capture FILE         replay a receiver capture, looping, instead of the track\n"
    "  --gps-pace BYTES           receiver bytes per second (default 960: 9600 baud)\n"
    "  --gps-mode N               receiver mode at power-up: 1 GPS, 2 BeiDou, 3 both (default)\n"
    "  --export N                 GPIO line N exported when the box is built (repeatable)\n"
    "  --modem ROW|MODEL          the cellular module: a row of the modem table by number (1-15)\n"
    "                             or model (default EC20); its AT device is DIR/dev/ttyUSBn\n"
    "  --no-modem                 no cellular module, no AT device\n"
    "  --modem-compact            no blank line between an answer's information and its OK\n"
    "  --modem-echo-off           the module starts with echo off (as after ATE0)\n"
    "  --modem-csq N              signal level, the first value of +CSQ (default 24; 99 unknown)\n"
    "  --modem-no-sim             no SIM: AT+CIMI is answered \"+CME ERROR: 10\"\n"
    "  --modem-silent             the module reads everything and answers nothing\n"
    "  --modem-error              every command is answered \"ERROR\"\n"
    "  --modem-cme-error          every command is answered \"+CME ERROR: 100\"\n"
    "  --modem-slow MS            every answer comes MS milliseconds after its command\n"
    "  --modem-pieces             every answer in 1-byte pieces, 20 ms apart\n"
    "  --modem-unsolicited        an unsolicited line (RDY, +CPIN: READY, ...) after every answer\n"
    "  --modem-no-service         not registered: +CSQ: 99,99 and ^SYSINFO: 0,0,0,0,1\n"
    "  --modem-unplugged          the module is unplugged: its AT device is not there\n"
    "  --quiet                    no trace\n"
    "\n"
    "usage: fsu-sim --status DIR\n"
    "Prints the status view of the box served in DIR (kill -USR1 prints it on fsu-sim's output).\n";

struct Bridge {
    int board, channel, port;
};

struct Args {
    std::filesystem::path dir;
    sim::Options options;
    std::vector<Bridge> bridges;
    bool quiet = false;
    std::filesystem::path status_of;  // --status DIR
};

[[noreturn]] void usage(const std::string& complaint) {
    if (!complaint.empty()) std::fprintf(stderr, "fsu-sim: %s\n", complaint.c_str());
    std::fputs(kUsage, stderr);
    std::exit(2);
}

int number(const char* text, int lo, int hi, const char* what) {
    char* end = nullptr;
    long v = std::strtol(text ? text : "", &end, 10);
    if (!text || !*text || *end || v < lo || v > hi) usage(std::string("bad ") + what + ": " + (text ? text : "(none)"));
    return static_cast<int>(v);
}

Args parse(int argc, char** argv) {
    Args a;
    // A box for people: the receiver streams and the environment equipment answers.
    a.options.gps.enabled = true;
    a.options.environment = true;
    // The lines the box's own board set-up exports before any host starts.
    a.options.exported.assign(std::begin(sim::kBoardSetupLines), std::end(sim::kBoardSetupLines));
    // The switches that set one fault of one board.
    const std::pair<std::string_view, bool sim::Faults::*> faults[] = {
        {"--silent", &sim::Faults::silent},
        {"--garbage", &sim::Faults::garbage},
        {"--split", &sim::Faults::split},
        {"--bad-checksum", &sim::Faults::bad_checksum},
        {"--noise", &sim::Faults::noise},
    };
    // The switches that set one fault of the cellular module.
    const std::pair<std::string_view, bool sim::ModemFaults::*> modem_faults[] = {
        {"--modem-silent", &sim::ModemFaults::silent},
        {"--modem-error", &sim::ModemFaults::error},
        {"--modem-cme-error", &sim::ModemFaults::cme_error},
        {"--modem-pieces", &sim::ModemFaults::pieces},
        {"--modem-unsolicited", &sim::ModemFaults::unsolicited},
        {"--modem-no-service", &sim::ModemFaults::no_service},
        {"--modem-unplugged", &sim::ModemFaults::unplugged},
    };
    auto& modem = a.options.modem;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool matched = false;
        for (auto [name, fault] : modem_faults) {
            if (arg != name) continue;
            modem.faults.*fault = true;
            matched = true;
        }
        for (auto [name, fault] : faults) {
            if (arg != name) continue;
            a.options.faults[static_cast<std::size_t>(number(value, 1, 2, "board") - 1)].*fault = true;
            matched = true;
            ++i;
        }
        if (matched) continue;
        if (arg == "--no-env") {
            a.options.environment = false;
        } else if (arg == "--no-gps") {
            a.options.gps.enabled = false;
        } else if (arg == "--gps-capture") {
            if (!value) usage("--gps-capture needs a file");
            a.options.gps.capture = value;
            ++i;
        } else if (arg == "--gps-pace") {
            a.options.gps.bytes_per_second = number(value, 1, 1000000, "pace");
            ++i;
        } else if (arg == "--gps-mode") {
            a.options.gps.mode = number(value, 1, sim::gnss::kAll, "mode");
            ++i;
        } else if (arg == "--export") {
            a.options.exported.push_back(number(value, 0, 1023, "GPIO line"));
            ++i;
        } else if (arg == "--modem") {
            auto row = sim::modem_row(value ? value : "");
            if (!row) usage(std::string("no such modem: ") + (value ? value : "(none)"));
            modem.row = *row;
            ++i;
        } else if (arg == "--no-modem") {
            modem.fitted = false;
        } else if (arg == "--modem-compact") {
            modem.framing = sim::Framing::kCompact;
        } else if (arg == "--modem-echo-off") {
            modem.echo = false;
        } else if (arg == "--modem-csq") {
            modem.state.rssi = number(value, 0, 99, "signal level");
            ++i;
        } else if (arg == "--modem-no-sim") {
            modem.state.sim = false;
        } else if (arg == "--modem-slow") {
            modem.faults.delay = std::chrono::milliseconds(number(value, 0, 600000, "delay"));
            ++i;
        } else if (arg == "--status") {
            if (!value) usage("--status needs the box's directory");
            a.status_of = value;
            ++i;
        } else if (arg == "--announce") {
            a.options.announce_period = std::chrono::milliseconds(number(value, 0, 3600000, "period"));
            ++i;
        } else if (arg == "--bridge") {
            Bridge b{};
            char tail = 0;
            if (!value || std::sscanf(value, "%d:%d:%d%c", &b.board, &b.channel, &b.port, &tail) != 3 ||
                b.board < 1 || b.board > 2 || b.channel < 0 || b.channel >= sim::kChannels || b.port < 1 ||
                b.port > 65535)
                usage(std::string("bad bridge: ") + (value ? value : "(none)"));
            a.bridges.push_back(b);
            ++i;
        } else if (arg == "--quiet") {
            a.quiet = true;
        } else if (arg == "-h" || arg == "--help") {
            usage("");
        } else if (arg.starts_with("-") || !a.dir.empty()) {
            usage("unexpected argument: " + std::string(arg));
        } else {
            a.dir = arg;
        }
    }
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

// DIR/status, replaced whole so that a reader never sees half of it.
void write_status(const std::filesystem::path& dir, const std::string& text) {
    std::ofstream(dir / ".status.new") << text;
    std::filesystem::rename(dir / ".status.new", dir / "status");
}

std::filesystem::path make_temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fsu-sim-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary directory");
    return tmpl;
}

}  // namespace

int main(int argc, char** argv) {
    Args args = parse(argc, argv);
    if (!args.status_of.empty()) return print_status(args.status_of);
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
            const std::string dir = box.dir().string();
            if (dir.find_first_of(" \t\n'\"\\$`;&|<>*?()[]{}!#~") != std::string::npos)
                std::fprintf(stderr, "fsu-sim: warning: the library refuses a root holding blanks or shell characters\n");
            std::printf("export SDK_BSP_ROOT=%s\nexport PATH=%s/bin:\"$PATH\"\nexport SDK_BSP_CMDLOG=%s/cmdlog\n",
                        dir.c_str(), dir.c_str(), dir.c_str());
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
                if (now != shown) write_status(box.dir(), shown = now);
            }
            std::filesystem::remove(box.dir() / "status");
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
