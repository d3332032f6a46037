// InitializeSDK against the simulated box in this process: its wall time beside the pauses it must
// make (the 1 s lamp test, the 2 s wait for the boards, the positioning mode's 1 s and 2 s), then
// the idle CPU of the eight library threads it leaves running. The library's threads are told apart
// from the box's by their thread IDs; their CPU time comes from /proc/self/task/<tid>/schedstat.
//
//   startup_load [--idle-seconds N]      (default 60)
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "os/os.h"
#include "task_cpu.h"
#include "sdk_bsp.h"
#include "sim/box.h"

namespace {

using bench::task_cpu_ms;
using bench::tasks;

constexpr double kPausesSeconds = 1 + 2 + 1 + 2;

}  // namespace

int main(int argc, char** argv) {
    int idle_seconds = 60;
    for (int k = 1; k + 1 < argc; k += 2)
        if (!std::strcmp(argv[k], "--idle-seconds")) idle_seconds = std::atoi(argv[k + 1]);
    char tmpl[] = "/tmp/sdkbsp-startup-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::filesystem::path dir = tmpl;
    int code = 0;
    {
        sim::Box box(dir);
        // Positioning mode 3, so the mode update makes both of its pauses.
        std::ofstream(dir / "etc/config/vqm") << "\nconfig vqm 'sys'\n\toption pcas '3'\n";
        for (const char* pkg : {"Device", "EnvironmentPar", "monitor", "network", "ks"})
            std::ofstream(dir / "etc/config" / pkg) << "\n";
        setenv("SDK_BSP_ROOT", dir.c_str(), 1);
        bsp::os::reload_environment();
        std::fflush(stdout);
        int saved = dup(1), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);  // the library's own prints

        const std::set<int> before = tasks();
        auto t0 = std::chrono::steady_clock::now();
        InitializeSDK();
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const std::set<int> library = bench::tasks_since(before);
        double idle0 = task_cpu_ms(library);
        std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
        double idle = task_cpu_ms(library) - idle0;

        std::fflush(stdout);
        dup2(saved, 1);
        std::printf("InitializeSDK: %.3f s wall, of which %.0f s are the pauses it must make (%.3f s beyond)\n", wall,
                    kPausesSeconds, wall - kPausesSeconds);
        std::printf("library threads: %zu, idle for %d s: %.1f ms CPU (%.3f %% of one core)\n", library.size(),
                    idle_seconds, idle, idle / (idle_seconds * 10.0));
        if (library.size() != 8) code = 1;
    }
    std::filesystem::remove_all(dir);
    return code;
}
