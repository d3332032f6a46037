// fsu-sim: the simulated box as a command. Builds the box in DIR (or in a new temporary
// directory), prints the environment a host needs, then serves the box until SIGINT or SIGTERM,
// printing one line per frame or chunk it receives.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
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
    "the environment a host needs, and serves the box until interrupted.\n"
    "\n"
    "  --announce MS              board presence period in ms (default 1000; 0: at start only)\n"
    "  --silent BOARD             board 1 or 2 sends nothing of its own accord\n"
    "  --garbage BOARD            garbage bytes before every frame the board sends\n"
    "  --split BOARD              every frame the board sends in pieces of 4 bytes, 150 ms apart\n"
    "  --bad-checksum BOARD       every frame the board sends with a wrong sum\n"
    "  --bridge BOARD:CHANNEL:PORT  serve a board channel on 127.0.0.1:PORT instead of looping\n"
    "                             it back (channels 0-3; 4 is board 1's environment channel)\n"
    "  --quiet                    no trace\n";

struct Bridge {
    int board, channel, port;
};

struct Args {
    std::filesystem::path dir;
    sim::Options options;
    std::vector<Bridge> bridges;
    bool quiet = false;
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
    // The switches that set one fault of one board.
    const std::pair<std::string_view, bool sim::Faults::*> faults[] = {
        {"--silent", &sim::Faults::silent},
        {"--garbage", &sim::Faults::garbage},
        {"--split", &sim::Faults::split},
        {"--bad-checksum", &sim::Faults::bad_checksum},
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool matched = false;
        for (auto [name, fault] : faults) {
            if (arg != name) continue;
            a.options.faults[static_cast<std::size_t>(number(value, 1, 2, "board") - 1)].*fault = true;
            matched = true;
            ++i;
        }
        if (matched) continue;
        if (arg == "--announce") {
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

std::filesystem::path make_temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "fsu-sim-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary directory");
    return tmpl;
}

}  // namespace

int main(int argc, char** argv) {
    Args args = parse(argc, argv);
    const bool temporary = args.dir.empty();
    // Blocked before the serving thread starts, so that only sigwait below sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
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
            std::fprintf(stderr, "fsu-sim: serving %s/dev/ttymxc1..7; Ctrl-C stops\n", dir.c_str());
            int sig = 0;
            sigwait(&stop, &sig);
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
