// fsu-uci: the simulated box's uci. Works on $SDK_BSP_ROOT/etc/config (or -c DIR), stages changes
// in $SDK_BSP_ROOT/tmp/.uci until `uci commit`, and appends its command line to the box's record
// of stand-in calls, $SDK_BSP_ROOT/tmp/standins.log. The box's bin/uci runs it.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/standins.h"
#include "sim/uci.h"

int main(int argc, char** argv) {
    const char* root = std::getenv("SDK_BSP_ROOT");
    if (!root || !*root) {
        std::fputs("fsu-uci: SDK_BSP_ROOT names no box\n", stderr);
        return 1;
    }
    const std::filesystem::path box = root;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string line = "uci";
    for (const auto& a : args) line += " " + a;
    std::ofstream(box / sim::kStandinLog, std::ios::binary | std::ios::app) << line + "\n";

    sim::uci::Dirs dirs{box / "etc/config", box / "tmp/.uci"};
    if (args.size() >= 2 && args[0] == "-c") {
        dirs.config = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    std::string out, err;
    int status = 1;
    try {
        status = sim::uci::run(args, dirs, out, err);
    } catch (const std::exception& e) {
        err += std::string("uci: ") + e.what() + "\n";
    }
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    return status;
}
