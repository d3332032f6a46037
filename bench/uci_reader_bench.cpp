// A lookup from the memory copy of a package (sdkuci_get_ram) beside a plain strstr of the same
// section and option over the same text, and beside the lookup that reads the file afresh.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "os/os.h"
#include "sdk_bsp.h"

namespace {

// The network package as uci writes it (testdata/uci/device/network), or a stand-in when the test
// data is absent; the query asks for an option of its last section.
constexpr const char* kQuery = "uci get network.wan6.proto";
constexpr const char* kStandIn =
    "\nconfig interface 'loopback'\n\toption device 'lo'\n\toption proto 'static'\n\toption ipaddr '127.0.0.1'\n"
    "\toption netmask '255.0.0.0'\n\nconfig globals 'globals'\n\toption ula_prefix 'auto'\n\nconfig device\n"
    "\toption name 'br-lan'\n\toption type 'bridge'\n\tlist ports 'eth1'\n\nconfig interface 'lan'\n"
    "\toption device 'br-lan'\n\toption proto 'static'\n\toption ipaddr '192.168.1.1'\n"
    "\toption netmask '255.255.255.0'\n\toption ip6assign '60'\n\nconfig interface 'wan'\n\toption device 'eth0'\n"
    "\toption proto 'dhcp'\n\nconfig interface 'wan6'\n\toption device 'eth0'\n\toption proto 'dhcpv6'\n";

std::string g_text;

void SetUpRoot() {
    if (!g_text.empty()) return;
    std::ifstream in(std::string(SDK_BSP_TESTDATA) + "/uci/device/network");
    std::ostringstream s;
    s << in.rdbuf();
    g_text = in ? s.str() : kStandIn;
    std::string tmpl = (std::filesystem::temp_directory_path() / "sdkbsp-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    static const std::filesystem::path root = tmpl;
    std::atexit([] { std::filesystem::remove_all(root); });
    std::filesystem::path config = root / "etc/config";
    std::filesystem::create_directories(config);
    for (const char* p : {"Device", "vqm", "EnvironmentPar", "monitor", "ks"}) std::ofstream(config / p);
    std::ofstream(config / "network") << g_text;
    setenv("SDK_BSP_ROOT", tmpl.c_str(), 1);
    bsp::os::reload_environment();
}

void BM_RamLookup(benchmark::State& state) {
    SetUpRoot();
    sdkuci_free();
    if (std::strcmp(sdkuci_get_ram(kQuery), "dhcpv6") != 0) state.SkipWithError("wrong answer");
    for (auto _ : state) benchmark::DoNotOptimize(sdkuci_get_ram(kQuery));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_text.size()));
}

void BM_BaselineStrstr(benchmark::State& state) {
    SetUpRoot();
    for (auto _ : state) {
        const char* section = std::strstr(g_text.c_str(), "'wan6'");
        benchmark::DoNotOptimize(std::strstr(section, " proto "));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_text.size()));
}

void BM_FlashLookup(benchmark::State& state) {
    SetUpRoot();
    for (auto _ : state) benchmark::DoNotOptimize(sdkuci_get_flash(kQuery));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g_text.size()));
}

BENCHMARK(BM_RamLookup);
BENCHMARK(BM_BaselineStrstr);
BENCHMARK(BM_FlashLookup);

}  // namespace

BENCHMARK_MAIN();
