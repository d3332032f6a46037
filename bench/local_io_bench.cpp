// Host calls of the local I/O per second, each beside a baseline measured in the same run: a DI
// read and an output request beside the name lookup they start with; an LED set (a sysfs value
// write under a temporary box root) beside a plain open+write+close of the same file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "os/os.h"
#include "sdk_bsp.h"

namespace {

std::filesystem::path g_value;  // the run LED's value file (GPIO 1)

void SetUpRoot() {
    if (!g_value.empty()) return;
    std::string tmpl = (std::filesystem::temp_directory_path() / "sdkbsp-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    static const std::filesystem::path root = tmpl;
    std::atexit([] { std::filesystem::remove_all(root); });
    std::filesystem::path gpio = root / "sys/class/gpio";
    for (int n : {0, 1, 4, 18}) {
        std::filesystem::create_directories(gpio / ("gpio" + std::to_string(n)));
        for (const char* a : {"direction", "value"}) std::ofstream(gpio / ("gpio" + std::to_string(n)) / a);
    }
    std::ofstream(gpio / "export");
    g_value = gpio / "gpio1/value";
    setenv("SDK_BSP_ROOT", tmpl.c_str(), 1);
    bsp::os::reload_environment();
    SetLEDValue("Local/Led/run", 0);  // the one-time line set-up (and its traces) before timing
    std::fflush(stdout);
}

void BM_GetDIValue(benchmark::State& state) {
    int v = 0;
    for (auto _ : state) benchmark::DoNotOptimize(GetDIValue("Local/DI/24", &v));
    state.SetItemsProcessed(state.iterations());
}

void BM_SetDOValue(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(SetDOValue("Local/DO/4", 1));
    state.SetItemsProcessed(state.iterations());
}

void BM_BaselineNameLookup(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(READ_resourceName("Local/DI/24"));
    state.SetItemsProcessed(state.iterations());
}

void BM_SetLEDValue(benchmark::State& state) {
    SetUpRoot();
    int on = 0;
    for (auto _ : state) benchmark::DoNotOptimize(SetLEDValue("Local/Led/run", on ^= 1));
    state.SetItemsProcessed(state.iterations());
}

void BM_BaselineOpenWriteClose(benchmark::State& state) {
    SetUpRoot();
    char c = '0';
    for (auto _ : state) {
        int fd = ::open(g_value.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        c ^= 1;
        benchmark::DoNotOptimize(::write(fd, &c, 1));
        ::close(fd);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_GetDIValue);
BENCHMARK(BM_SetDOValue);
BENCHMARK(BM_BaselineNameLookup);
BENCHMARK(BM_SetLEDValue);
BENCHMARK(BM_BaselineOpenWriteClose);

}  // namespace

BENCHMARK_MAIN();
