// InitializeSDK against the simulated box in this process: its wall time beside the pauses it must
// make (the 1 s lamp test, the 2 s wait for the boards, the positioning mode's 1 s and 2 s), then
// the idle CPU of the eight library threads it leaves running, beside eight threads of this program
// making the same wake-ups over the same seconds: each sleeps as its library thread does and then
// reads a pseudo-terminal that has nothing to give, as the receive threads poll their ports. The
// threads are told apart by their thread IDs; their CPU time comes from
// /proc/self/task/<tid>/schedstat.
//
//   startup_load [--idle-seconds N]      (default 60)
#include <dirent.h>
#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "os/os.h"
#include "task_cpu.h"
#include "sdk_bsp.h"
#include "sim/box.h"

namespace {

using bench::task_cpu_ms;
using bench::tasks;

constexpr double kPausesSeconds = 1 + 2 + 1 + 2;

// The library threads' pace: four pass-through ports every 200 ms, the two board links and the GPS
// read loop every 100 ms (each a read of its port), the software watchdog every second (no read).
struct Waker {
    long pace_ms;
    bool reads;
};
constexpr Waker kWakers[] = {{200, true}, {200, true}, {200, true}, {200, true},
                             {100, true}, {100, true}, {100, true}, {1000, false}};

// Threads that only wake up as the library's do, until stopped.
class WakeUps {
  public:
    WakeUps() {
        for (const Waker& w : kWakers) threads_.emplace_back([this, w] { run(w); });
    }
    ~WakeUps() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

  private:
    void run(Waker w) {
        int master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        int port = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        tcgetattr(port, &raw);
        cfmakeraw(&raw);
        tcsetattr(port, TCSANOW, &raw);
        std::array<unsigned char, 4096> area;
        while (!stop_) {
            timeval tv{w.pace_ms / 1000, static_cast<suseconds_t>((w.pace_ms % 1000) * 1000)};
            select(0, nullptr, nullptr, nullptr, &tv);
            if (w.reads) {
                [[maybe_unused]] ssize_t n = read(port, area.data(), area.size());
            }
        }
        close(port);
        close(master);
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

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
        const std::set<int> others = tasks();
        double idle = 0, wake_ups = 0;
        {
            WakeUps baseline;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::set<int> baseline_tasks = bench::tasks_since(others);
            double idle0 = task_cpu_ms(library), wake0 = task_cpu_ms(baseline_tasks);
            std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
            idle = task_cpu_ms(library) - idle0;
            wake_ups = task_cpu_ms(baseline_tasks) - wake0;
        }

        std::fflush(stdout);
        dup2(saved, 1);
        std::printf("InitializeSDK: %.3f s wall, of which %.0f s are the pauses it must make (%.3f s beyond)\n", wall,
                    kPausesSeconds, wall - kPausesSeconds);
        std::printf("library threads: %zu, idle for %d s: %.1f ms CPU (%.3f %% of one core)\n", library.size(),
                    idle_seconds, idle, idle / (idle_seconds * 10.0));
        std::printf("baseline: %zu threads making the same wake-ups: %.1f ms CPU; the library's %.2f times it\n",
                    std::size(kWakers), wake_ups, wake_ups > 0 ? idle / wake_ups : 0.0);
        if (library.size() != 8) code = 1;
    }
    std::filesystem::remove_all(dir);
    return code;
}
