// Log records per second to the file, beside what the same bytes cost written plainly and with the
// per-record stat+open+lseek+write+close the log must do.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "os/os.h"
#include "base/log.h"
#include "sdk_bsp.h"

namespace {

// A record as the log writes it: header (50 characters) and a typical message.
const std::string kRecord = "\r\n[2024-07-01 08:30:00 sdk_SYS   Line=0000000001]:WriteUart(Local/Uart/6, 3 bytes)";

std::filesystem::path g_root;

void SetUpRoot() {
    if (!g_root.empty()) return;
    std::string tmpl = (std::filesystem::temp_directory_path() / "sdkbsp-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    g_root = tmpl;
    std::filesystem::create_directories(g_root / "tmp");
    setenv("SDK_BSP_ROOT", g_root.c_str(), 1);
    bsp::os::reload_environment();
}

// The log itself keeps the file under 2 MiB; the baselines are kept the same way.
void Trim(const std::filesystem::path& p) {
    std::error_code ec;
    if (std::filesystem::file_size(p, ec) > static_cast<std::uintmax_t>(bsp::base::kLogFileLimit)) std::filesystem::remove(p, ec);
}

void BM_LogRecordToFile(benchmark::State& state) {
    if (state.thread_index() == 0) {
        SetUpRoot();
        STR_LOG_PAR.sys = 2;
    }
    for (auto _ : state) SDK_LOG_WRITE(5, "WriteUart(%s, %d bytes)", "Local/Uart/6", 3);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRecord.size()));
}

void BM_BaselinePlainWrite(benchmark::State& state) {
    SetUpRoot();
    auto path = g_root / ("tmp/plain" + std::to_string(state.thread_index()));
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_TRUNC, 0600);
    std::size_t written = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(fd, kRecord.data(), kRecord.size()));
        if ((written += kRecord.size()) > static_cast<std::size_t>(bsp::base::kLogFileLimit)) {
            benchmark::DoNotOptimize(ftruncate(fd, 0));
            written = 0;
        }
    }
    close(fd);
    state.SetItemsProcessed(state.iterations());
}

void BM_BaselineStatOpenSeekWriteClose(benchmark::State& state) {
    SetUpRoot();
    auto path = g_root / ("tmp/reopened" + std::to_string(state.thread_index()));
    for (auto _ : state) {
        struct stat st {};
        benchmark::DoNotOptimize(stat(path.c_str(), &st));
        int fd = open(path.c_str(), O_RDWR | O_CREAT, 0700);
        lseek(fd, 0, SEEK_END);
        benchmark::DoNotOptimize(write(fd, kRecord.data(), kRecord.size()));
        close(fd);
    }
    Trim(path);
    state.SetItemsProcessed(state.iterations());
}

// One record to the file against the bare system calls it must make (status query, open, seek to
// the end, write, close) on a file of the same directory, timed in alternating rounds on this
// thread's CPU clock, so that the load of a shared machine falls on both alike. Both files are cut
// back between rounds, untimed, so no archiving (zip) falls into a round. Counters: nanoseconds per
// record of each, and their ratio.
double thread_cpu_ns() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

void BM_LogAgainstItsSystemCalls(benchmark::State& state) {
    constexpr int kRound = 200;
    SetUpRoot();
    STR_LOG_PAR.sys = 2;
    const auto log = g_root / "tmp/sdklog.log", bare = g_root / "tmp/syscal.log";  // names of one length
    auto bare_record = [&] {
        struct stat st {};
        benchmark::DoNotOptimize(stat(bare.c_str(), &st));
        int fd = open(bare.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0700);
        lseek(fd, 0, SEEK_END);
        benchmark::DoNotOptimize(write(fd, kRecord.data(), kRecord.size()));
        close(fd);
    };
    auto log_record = [] { SDK_LOG_WRITE(5, "WriteUart(%s, %d bytes)", "Local/Uart/6", 3); };
    double log_ns = 0, bare_ns = 0;
    long rounds = 0;
    for (auto _ : state) {
        const bool log_first = rounds++ % 2 == 0;
        for (int side = 0; side < 2; ++side) {
            const bool is_log = (side == 0) == log_first;
            double t0 = thread_cpu_ns();
            for (int i = 0; i < kRound; ++i) is_log ? log_record() : bare_record();
            (is_log ? log_ns : bare_ns) += thread_cpu_ns() - t0;
        }
        state.PauseTiming();
        std::error_code ec;
        for (const auto& p : {log, bare})
            if (std::filesystem::file_size(p, ec) > static_cast<std::uintmax_t>(bsp::base::kLogFileLimit) / 2)
                std::filesystem::remove(p, ec);
        state.ResumeTiming();
    }
    const double records = static_cast<double>(rounds) * kRound;
    state.counters["log_ns"] = log_ns / records;
    state.counters["calls_ns"] = bare_ns / records;
    state.counters["ratio"] = log_ns / bare_ns;
}

BENCHMARK(BM_LogAgainstItsSystemCalls);
BENCHMARK(BM_LogRecordToFile)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_BaselinePlainWrite)->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_BaselineStatOpenSeekWriteClose)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
