// What the serial side costs in CPU, against the simulated box in this process:
//   - per megabyte moved through a pass-through port (Uart 1, echoed by the box) and through a
//     board channel (Uart 5, looped back as board-link frames), all ports at 115200 baud, beside a
//     bare read loop moving the same bytes through the same pty;
//   - the idle CPU of the seven receive threads.
// The library's threads are told apart from the box's by their thread IDs; their CPU time comes
// from /proc/self/task/<tid>/schedstat (nanoseconds).
//
//   serial_load [--idle-seconds N] [--kib N]      (defaults: 60 s, 256 KiB per transfer)
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

using Clock = std::chrono::steady_clock;

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

std::vector<unsigned char> pattern(std::size_t n, unsigned seed) {
    std::vector<unsigned char> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 7 + seed) % 251);
    return b;
}

struct Cost {
    double receive_ms;  // the receive threads
    double api_ms;      // the host's WriteUart/ReadUart calls
    double seconds;
};

// Moves `total` bytes through a Uart: one 1024-byte write at a time, then read until echoed back.
Cost through_uart(const char* name, std::size_t total, const std::set<int>& library) {
    const std::size_t chunk = 1024;
    std::vector<unsigned char> in(4096);
    double rx0 = task_cpu_ms(library), api0 = thread_cpu_ms();
    auto t0 = Clock::now();
    for (std::size_t sent = 0; sent < total; sent += chunk) {
        auto data = pattern(chunk, static_cast<unsigned>(sent));
        WriteUart(name, data.data(), static_cast<int>(chunk));
        std::size_t got = 0;
        auto end = Clock::now() + std::chrono::seconds(5);
        while (got < chunk && Clock::now() < end) {
            int n = ReadUart(name, in.data(), static_cast<int>(in.size()), 50);
            if (n > 0) got += static_cast<std::size_t>(n);
        }
        if (got != chunk) {
            std::fprintf(stderr, "%s: %zu of %zu bytes came back\n", name, got, chunk);
            std::exit(1);
        }
    }
    return {task_cpu_ms(library) - rx0, thread_cpu_ms() - api0, std::chrono::duration<double>(Clock::now() - t0).count()};
}

// The same bytes through the same pty with a bare poll/read loop of this thread.
double bare_loop_ms(const std::filesystem::path& tty, std::size_t total) {
    int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::vector<unsigned char> in(4096);
    double cpu0 = thread_cpu_ms();
    for (std::size_t sent = 0; sent < total; sent += 1024) {
        auto data = pattern(1024, static_cast<unsigned>(sent));
        if (write(fd, data.data(), data.size()) != 1024) std::exit(1);
        for (std::size_t got = 0; got < 1024;) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 1000);
            ssize_t n = read(fd, in.data(), in.size());
            if (n > 0) got += static_cast<std::size_t>(n);
        }
    }
    double cpu = thread_cpu_ms() - cpu0;
    close(fd);
    return cpu;
}

}  // namespace

int main(int argc, char** argv) {
    int idle_seconds = 60;
    std::size_t kib = 256;
    for (int k = 1; k + 1 < argc; k += 2) {
        if (!std::strcmp(argv[k], "--idle-seconds")) idle_seconds = std::atoi(argv[k + 1]);
        if (!std::strcmp(argv[k], "--kib")) kib = static_cast<std::size_t>(std::atol(argv[k + 1]));
    }
    char tmpl[] = "/tmp/sdkbsp-load-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::filesystem::path dir = tmpl;
    int code = 0;
    {
        sim::Box box(dir);
        setenv("SDK_BSP_ROOT", dir.c_str(), 1);
        bsp::os::reload_environment();
        // The library's prints (the write hex dumps, traces) are part of its cost, not of the report.
        std::fflush(stdout);
        int saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);

        // The baseline first, while no library thread reads the pty.
        const std::size_t total = kib * 1024;
        double bare = bare_loop_ms(dir / "dev/ttymxc1", total);

        const std::set<int> before = tasks();
        M_COM_INIT();
        BSP_BAU_INIT();
        for (std::uint32_t port = 0; port < 4; ++port) M_BAU_SET_COM(port, 115200, 8, 1, 0);
        FSU_COM_READ_THREAD_START();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::set<int> library = bench::tasks_since(before);

        double idle0 = task_cpu_ms(library);
        std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
        double idle = task_cpu_ms(library) - idle0;

        Cost pass = through_uart("Local/Uart/1", total, library);
        Cost board = through_uart("Local/Uart/5", total, library);

        std::fflush(stdout);
        dup2(saved, 1);
        const double mb = static_cast<double>(total) / (1024.0 * 1024.0);
        std::printf("receive threads: %zu, idle for %d s: %.1f ms CPU (%.3f %% of one core)\n", library.size(),
                    idle_seconds, idle, idle / (idle_seconds * 10.0));
        // The threads poll whether or not data comes; their idle share of a transfer is shown apart.
        const double idle_per_s = idle / idle_seconds;
        auto row = [&](const char* what, const Cost& c) {
            std::printf("%-24s receive threads %7.1f ms/MB (%7.1f beyond idle), host calls %7.1f ms/MB; %5.1f s for %zu KiB\n",
                        what, c.receive_ms / mb, (c.receive_ms - idle_per_s * c.seconds) / mb, c.api_ms / mb, c.seconds, kib);
        };
        row("pass-through (Uart 1)", pass);
        row("board channel (Uart 5)", board);
        std::printf("%-24s %7.1f ms/MB (a bare poll/read loop on the same pty)\n", "baseline", bare / mb);
        if (library.size() != 7) code = 1;
    }
    std::filesystem::remove_all(dir);
    return code;
}
