// fsu-sim: the simulated box as a command. Builds the box in DIR (or in a new temporary
// directory), serves its control API on the loopback address, prints the environment a host needs,
// then serves the box until SIGINT or SIGTERM, printing one line per frame, chunk, command or file
// change it sees. The status view is kept in DIR/status (rewritten within a second of a change),
// printed on SIGUSR1 and by `fsu-sim --status DIR`; the control API's URL is kept in DIR/url, where
// `fsu-sim --set NAME=VALUE... DIR` and `fsu-sim --get DIR` find it. `fsu-sim --scenario FILE`
// plays a scenario file on the box, with a host of the developer's (sim/scenario.h).
#include <signal.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/box.h"
#include "sim/control.h"
#include "sim/host_process.h"
#include "sim/io.h"
#include "sim/scenario.h"
#include "sim/start_options.h"

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

constexpr const char* kUsageTalk =
    "\n"
    "usage: fsu-sim --set NAME=VALUE [NAME=VALUE...] DIR\n"
    "Sets switches of the box served in DIR, all or none (VALUE as on the command line: on, off,\n"
    "10, EC20), and prints them as the box now has them.\n"
    "\n"
    "usage: fsu-sim --get DIR\n"
    "Prints the state of the box served in DIR, as JSON.\n"
    "\n"
    "usage: fsu-sim --status DIR\n"
    "Prints the status view of the box served in DIR (kill -USR1 prints it on fsu-sim's output).\n"
    "\n"
    "usage: fsu-sim [--check] --scenario FILE [DIR] [-- HOST COMMAND...]\n"
    "Builds the box its box line describes, starts the host command with the box's environment\n"
    "(its output in DIR/host.log, the box's trace in DIR/trace), plays the file's steps on time and\n"
    "prints one line per expectation, then \"N passed, M failed\". Exits 0 when every expectation\n"
    "held, 1 when one failed or the host ended before the end, 2 for a file it refuses. --check\n"
    "only checks the file.\n";

struct Args {
    std::filesystem::path dir;
    sim::StartOptions start;
    bool started = false;  // a start option was given
    // Talking to a box served in dir: --status, --get, or --set with its settings.
    enum class Talk { kNone, kStatus, kGet, kSet } talk = Talk::kNone;
    std::vector<std::string> settings;
    std::filesystem::path scenario;
    bool check = false;
    std::vector<std::string> host;  // the command after "--"
};

[[noreturn]] void usage(const std::string& complaint) {
    if (!complaint.empty()) std::fprintf(stderr, "fsu-sim: %s\n", complaint.c_str());
    std::fputs((kUsageHead + sim::start_usage() + kUsageTalk).c_str(), stderr);
    std::exit(2);
}

Args parse(int argc, char** argv) {
    Args a;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        try {
            if (a.talk == Args::Talk::kNone && sim::read_start_option(args, i, a.start)) {
                a.started = true;
                continue;
            }
        } catch (const std::invalid_argument& e) {
            usage(e.what());
        }
        if (arg == "--status" || arg == "--get" || arg == "--set") {
            a.talk = arg == "--status" ? Args::Talk::kStatus : arg == "--get" ? Args::Talk::kGet : Args::Talk::kSet;
        } else if (arg == "--scenario") {
            if (i + 1 == args.size()) usage("--scenario needs a file");
            a.scenario = args[++i];
        } else if (arg == "--check") {
            a.check = true;
        } else if (arg == "--" && !a.scenario.empty()) {
            a.host.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            if (a.host.empty()) usage("-- needs a host command");
            break;
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
    if (!a.scenario.empty() && (a.started || a.talk != Args::Talk::kNone))
        usage("--scenario takes the box's options from the file's box line");
    if (a.check && a.scenario.empty()) usage("--check checks a scenario: --check --scenario FILE");
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

std::filesystem::path make_temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fsu-sim-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary directory");
    return tmpl;
}

using Clock = std::chrono::steady_clock;

// The trace's lines, "%9.3f what" with the seconds since `origin` (moved to a scenario's time 0
// once it begins, so that trace and report tell the same times).
struct Trace {
    std::FILE* to = stdout;
    std::atomic<Clock::rep> origin{Clock::now().time_since_epoch().count()};
    void line(const std::string& what) {
        const Clock::duration t = Clock::now().time_since_epoch() - Clock::duration(origin.load());
        std::fprintf(to, "%9.3f %s\n", std::chrono::duration<double>(t).count(), what.c_str());
        std::fflush(to);
    }
};

// The box as the start options say; its trace to `trace` unless they say --quiet.
std::unique_ptr<sim::Box> build(const std::filesystem::path& dir, sim::StartOptions& start, Trace& trace) {
    if (!start.quiet) start.box.trace = [&trace](const std::string& line) { trace.line(line); };
    start.box.record = false;  // a long run keeps nothing; the trace shows it all
    start.box.uci_program = installed_uci();
    auto box = std::make_unique<sim::Box>(dir, start.box);
    for (const auto& b : start.bridges) box->board(b.board).bridge(b.channel, static_cast<std::uint16_t>(b.port));
    return box;
}

// The control server, when the start options want one; its URL in DIR/url.
std::unique_ptr<sim::ControlServer> serve_control(const sim::Box& box, const sim::StartOptions& start) {
    if (!start.http) return nullptr;
    auto control = std::make_unique<sim::ControlServer>(box, start.control);
    sim::io::write_whole(box.dir() / "url", control->url() + "\n");
    return control;
}

// A person's box: the environment lines, then the trace until SIGINT or SIGTERM.
int serve(Args& a, const sigset_t& stop) {
    Trace trace;
    const auto box = build(a.dir, a.start, trace);
    const auto control = serve_control(*box, a.start);
    const std::string dir = box->dir().string();
    if (dir.find_first_of(" \t\n'\"\\$`;&|<>*?()[]{}!#~") != std::string::npos)
        std::fprintf(stderr, "fsu-sim: warning: the library refuses a root holding blanks or shell characters\n");
    std::printf("export SDK_BSP_ROOT=%s\nexport PATH=%s/bin:\"$PATH\"\nexport SDK_BSP_CMDLOG=%s/cmdlog\n", dir.c_str(),
                dir.c_str(), dir.c_str());
    if (control) std::printf("export FSU_SIM_URL=%s\n", control->url().c_str());
    std::fflush(stdout);
    const auto modem = box->modem();
    std::fprintf(stderr, "fsu-sim: serving %s/dev/ttymxc1..7%s; Ctrl-C stops\n", dir.c_str(),
                 modem.fitted() ? (", the cellular module at " + modem.link().string()).c_str() : "");
    // Once a second: the status file, when something changed.
    const timespec second{1, 0};
    std::string shown;
    for (;;) {
        const int sig = sigtimedwait(&stop, nullptr, &second);
        if (sig == SIGINT || sig == SIGTERM) break;
        const std::string now = box->status();
        if (sig == SIGUSR1) {
            std::fputs(now.c_str(), stdout);
            std::fflush(stdout);
        }
        if (now != shown) sim::io::write_whole(box->dir() / "status", shown = now);
    }
    std::filesystem::remove(box->dir() / "status");
    std::filesystem::remove(box->dir() / "url");
    return 0;
}

// What a scenario run refuses before it starts anything (exit status 2).
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A scenario file read, its box line's options and all.
sim::Scenario read_scenario(const std::filesystem::path& file, sim::StartOptions& start) {
    const auto refuse = [&](const std::string& why) { throw Refusal(file.string() + ": " + why); };
    std::ifstream in(file);
    if (!in) refuse("cannot read it");
    std::stringstream text;
    text << in.rdbuf();
    sim::Scenario s;
    try {
        s = sim::parse_scenario(text.str());
    } catch (const std::invalid_argument& e) {
        refuse(e.what());
    }
    try {
        for (std::size_t i = 0; i < s.box.size(); ++i)
            if (!sim::read_start_option(s.box, i, start)) throw std::invalid_argument(json(s.box[i]).dump() + " is not a start option");
    } catch (const std::invalid_argument& e) {
        refuse("line " + std::to_string(s.box_line) + ": " + e.what());
    }
    sim::resolve_files(start, file.parent_path());
    return s;
}

// --scenario: the box of the file's box line, the host started in it, the file played until its
// end or SIGINT or SIGTERM; `failed` when not every expectation held.
int run_scenario(Args& a, bool& failed) {
    const sim::Scenario scenario = read_scenario(a.scenario, a.start);
    std::filesystem::create_directories(a.dir);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace_file(std::fopen((a.dir / "trace").c_str(), "w"), std::fclose);
    if (!trace_file) throw std::runtime_error("cannot write " + (a.dir / "trace").string());
    Trace trace{trace_file.get()};
    const auto box = build(a.dir, a.start, trace);
    if (const auto why = sim::check_scenario(scenario, *box); !why.empty()) throw Refusal(a.scenario.string() + ": " + why);
    if (a.check) {
        std::printf("%s: %zu steps and %zu expectations until %.3f s, every one as the box takes it\n", a.scenario.c_str(),
                    scenario.steps.size(), scenario.expectations.size(), std::chrono::duration<double>(scenario.end).count());
        return 0;
    }
    const auto control = serve_control(*box, a.start);
    std::vector<std::string> env = box->env();
    if (control) env.push_back("FSU_SIM_URL=" + control->url());
    std::unique_ptr<sim::HostProcess> host;
    if (!a.host.empty()) {
        try {
            host = std::make_unique<sim::HostProcess>(a.host, env, a.dir / "host.log");
        } catch (const std::runtime_error& e) {
            throw Refusal(e.what());
        }
    }
    trace.origin = Clock::now().time_since_epoch().count();  // time 0
    const auto say = [&](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        trace.line("scenario: " + line);
    };
    char until[32];
    std::snprintf(until, sizeof until, "%.3f", std::chrono::duration<double>(scenario.end).count());
    say("# " + a.scenario.string() + ", until " + until + " s: the box in " + a.dir.string() +
        (host ? ", the host's output in its host.log" : ""));
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    const sim::Outcome outcome = sim::play(scenario, *box, host.get(), say, stop);
    if (host) host->stop();
    say(std::to_string(outcome.passed) + " passed, " + std::to_string(outcome.failed) + " failed");
    std::filesystem::remove(a.dir / "url");
    failed = outcome.failed > 0 || outcome.interrupted;
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args args = parse(argc, argv);
    if (args.talk == Args::Talk::kStatus) return print_status(args.dir);
    if (args.talk != Args::Talk::kNone) return talk(args);
    const bool temporary = args.dir.empty();
    // Blocked before the serving thread starts, so that only sigtimedwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    int status = 1;
    bool failed = false;  // a scenario run that failed keeps its temporary directory for a look
    try {
        if (temporary) args.dir = make_temp_dir();
        status = args.scenario.empty() ? serve(args, stop) : run_scenario(args, failed);
    } catch (const Refusal& e) {
        std::fprintf(stderr, "fsu-sim: %s\n", e.what());
        status = 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fsu-sim: %s\n", e.what());
    }
    if (temporary && failed) {
        const bool host = std::filesystem::exists(args.dir / "host.log");
        std::fprintf(stderr, "fsu-sim: the box's directory is kept for a look: %s (the box's trace in trace%s)\n",
                     args.dir.c_str(), host ? ", the host's output in host.log" : "");
    } else if (temporary && !args.dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(args.dir, ec);
    }
    return status;
}
