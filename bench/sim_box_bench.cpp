// What the simulated box costs while it runs: CPU time and wake-ups of its serving thread per
// second of wall time, idle (boards announcing once a second), with the receiver streaming NMEA,
// and with a host polling the environment equipment ten times a second. The baseline, measured
// in the same run, is the process with no box at all.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kWindow = 2s;

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Voluntary context switches of every thread of the process: each is one wake-up after a wait.
long wakeups() {
    long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("voluntary_ctxt_switches:")) total += std::stol(line.substr(24));
    }
    return total;
}

fs::path temp_dir() {
    std::string tmpl = (fs::temp_directory_path() / "sim-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    return tmpl;
}

enum class Load { kNone, kIdle, kStreaming, kPolled };

void BM_Box(benchmark::State& state) {
    const auto load = static_cast<Load>(state.range(0));
    const fs::path dir = temp_dir();
    std::optional<sim::Box> box;
    sim::Options opt;
    opt.record = false;
    opt.environment = load == Load::kPolled;
    opt.gps.enabled = load == Load::kStreaming || load == Load::kPolled;
    if (load != Load::kNone) box.emplace(dir, opt);
    int board1 = load == Load::kPolled ? ::open((dir / "dev/ttymxc5").c_str(), O_RDWR | O_NOCTTY) : -1;
    const auto poll = sim::build_frame(0x84, "~FFFF03540000FD5C\r");
    std::array<char, 4096> sink;
    double cpu = 0;
    long woke = 0;
    for (auto _ : state) {
        const double cpu0 = cpu_seconds();
        const long woke0 = wakeups();
        const auto end = std::chrono::steady_clock::now() + kWindow;
        while (std::chrono::steady_clock::now() < end) {
            if (board1 >= 0) {
                benchmark::DoNotOptimize(::write(board1, poll.data(), poll.size()));
                std::this_thread::sleep_for(100ms);
                benchmark::DoNotOptimize(::read(board1, sink.data(), sink.size()));  // replies, announcements
            } else {
                std::this_thread::sleep_until(end);
            }
        }
        cpu += cpu_seconds() - cpu0;
        woke += wakeups() - woke0;
        state.SetIterationTime(std::chrono::duration<double>(kWindow).count());
    }
    const double seconds = static_cast<double>(state.iterations()) * std::chrono::duration<double>(kWindow).count();
    state.counters["cpu_ms_per_s"] = 1000 * cpu / seconds;
    state.counters["wakeups_per_s"] = static_cast<double>(woke) / seconds;
    if (board1 >= 0) ::close(board1);
    box.reset();
    fs::remove_all(dir);
}

BENCHMARK(BM_Box)
    ->ArgName("load")
    ->Arg(static_cast<int>(Load::kNone))
    ->Arg(static_cast<int>(Load::kIdle))
    ->Arg(static_cast<int>(Load::kStreaming))
    ->Arg(static_cast<int>(Load::kPolled))
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
