// The GPS API's getters beside what they cost at the least: the position line beside a bare
// snprintf of the same values, and the satellite-signal text (rebuilt at every call) beside a plain
// copy of the same text.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "gps/gps.h"
#include "os/os.h"
#include "sdk_bsp.h"

namespace {

// Pauses return at once: the mode is applied once, for its side effect only.
class NoSleep : public bsp::os::Clock {
  public:
    void sleep_ms(long) noexcept override {}
};

// A box root whose keys select GPS only, so that the position line reports the record. The
// receiver's port is not open: its error lines go to /dev/null.
void SetUpMode() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string tmpl = (std::filesystem::temp_directory_path() / "sdkbsp-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    static const std::filesystem::path root = tmpl;
    std::atexit([] { std::filesystem::remove_all(root); });
    std::filesystem::create_directories(root / "etc/config");
    std::filesystem::create_directories(root / "tmp");
    std::ofstream(root / "etc/config/vqm") << "\nconfig vqm 'sys'\n\toption pcas '1'\n\toption pcas_sdk '1'\n";
    setenv("SDK_BSP_ROOT", tmpl.c_str(), 1);
    bsp::os::reload_environment();

    static NoSleep clock;
    bsp::os::set_clock(&clock);
    std::fflush(stdout);
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    GPS_MODE_UPDATE();
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    bsp::os::set_clock(nullptr);

    // A fix and twelve satellites per system, as a dual receiver reports them (written as a host may
    // write the record, before any reader runs).
    [](STR_GPS_INFO_T& r) {
        r = STR_GPS_INFO_T{};
        r.lon = 113.94647980;
        r.lat = 22.60205841;
        r.high = 56.7f;
        r.gpsnum = 8;
        r.gpslook = 12;
        r.bdnum = 6;
        r.bdlook = 12;
        for (int i = 0; i < 12; ++i) {
            r.gps_id[i] = 2 * i + 1;
            r.gps_cn0[i] = 30 + i;
            r.bd_id[i] = 3 * i + 1;
            r.bd_cn0[i] = 25 + i;
        }
    }(STR_GPS_INFO);
    SET_GPS_BD_dB();
}

void BM_GetGpsInfo(benchmark::State& state) {
    SetUpMode();
    std::array<char, SDK_BSP_GPS_INFO_SIZE> line;
    for (auto _ : state) benchmark::DoNotOptimize(GET_BSP_GPS_INFO(line.data()));
    if (std::strncmp(line.data(), "lon=113.94647980,", 17) != 0) state.SkipWithError("positioning is off");
}

void BM_BaselineSnprintfLine(benchmark::State& state) {
    std::array<char, SDK_BSP_GPS_INFO_SIZE> line;
    volatile double lon = 113.94647980, lat = 22.60205841;
    volatile float high = 56.7f, n = 8, look = 12;
    for (auto _ : state)
        benchmark::DoNotOptimize(std::snprintf(
            line.data(), line.size(), "lon=%.8lf,lat=%.8lf,high=%f,gpsnum=%.0f,gpslook=%.0f,bdnum=%.0f,bdlook=%.0f\r\n",
            lon, lat, static_cast<double>(high), static_cast<double>(n), static_cast<double>(look),
            static_cast<double>(n), static_cast<double>(look)));
}

void BM_GetSignalText(benchmark::State& state) {
    SetUpMode();
    std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE> text;
    for (auto _ : state) benchmark::DoNotOptimize(GET_GPS_dB_INFO(text.data()));
    state.SetLabel(std::to_string(std::strlen(text.data())) + " characters");
}

void BM_BaselineCopySignalText(benchmark::State& state) {
    SetUpMode();
    std::array<char, SDK_BSP_GPS_DB_TEXT_SIZE> built, text;
    std::strcpy(built.data(), SET_GPS_BD_dB());
    for (auto _ : state) {
        std::strcpy(text.data(), built.data());
        benchmark::DoNotOptimize(text.data());
    }
}

BENCHMARK(BM_GetGpsInfo);
BENCHMARK(BM_BaselineSnprintfLine);
BENCHMARK(BM_GetSignalText);
BENCHMARK(BM_BaselineCopySignalText);

}  // namespace

BENCHMARK_MAIN();
