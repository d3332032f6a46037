// The configuration reader on arbitrary bytes: the input up to its first NUL is the query and the
// rest the package text; an input without a NUL is a package text, asked a few usual queries.
// The text is looked up directly, and written as /etc/config/network under a temporary root and
// read back through sdkuci_get_flash and sdkuci_get_ram, which must give the same answer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/os.h"
#include "uci/uci.h"

namespace {

constexpr std::string_view kUsualQueries[] = {
    "uci get network.lan.proto", "uci get network.wan.ifname", "uci get board.rs485.device",
    "uci get dhcp.wan.interface", "uci get dropbear.main.Port", "uci get vqm.sys.pcas",
};

std::filesystem::path g_config;

// Each query against the text directly and from the file; then, the file's copy loaded once, from
// memory.
void check(std::span<const std::string_view> queries, const std::string& text) {
    // The text zero-terminated in a buffer exactly as large, so a read past its end is caught; a
    // search stops at its first NUL, as in a file copy.
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';

    std::vector<std::string> direct;
    for (std::string_view query : queries) {
        bsp::uci::Query q;
        const bool ok = bsp::uci::split_query(query, q);
        direct.push_back(ok ? std::string(bsp::uci::find_option(copy.get(), q.section, q.option).substr(0, 99)) : "");
        const std::string flash = sdkuci_get_flash(std::string(query).c_str());
        if (flash.size() > 99 || (q.package == "network" && flash != direct.back())) __builtin_trap();
    }
    sdkuci_free();
    for (std::size_t k = 0; k < queries.size(); ++k) {
        bsp::uci::Query q;
        bsp::uci::split_query(queries[k], q);
        const std::string ram = sdkuci_get_ram(std::string(queries[k]).c_str());
        if (ram.size() > 99 || (q.package == "network" && ram != direct[k])) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sdkbsp-fuzz-uci-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    g_config = std::filesystem::path(tmpl) / "etc/config";
    std::filesystem::create_directories(g_config);
    for (const char* p : {"Device", "vqm", "EnvironmentPar", "monitor", "ks"}) std::ofstream(g_config / p);
    static const std::filesystem::path root = tmpl;
    std::atexit([] { std::filesystem::remove_all(root); });
    setenv("SDK_BSP_ROOT", tmpl.c_str(), 1);
    bsp::os::reload_environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t nul = input.find('\0');
    std::string text(nul == std::string_view::npos ? input : input.substr(nul + 1));
    // A new file each time: ext4 flushes a file that is truncated and written again.
    std::filesystem::remove(g_config / "network");
    std::ofstream(g_config / "network", std::ios::binary) << text;
    const std::string_view query = input.substr(0, nul);
    if (nul != std::string_view::npos) check({&query, 1}, text);
    else check(kUsualQueries, text);
    return 0;
}
