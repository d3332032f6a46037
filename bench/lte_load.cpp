// The LTE supervisor against the simulated box's answering module (an EC20) in this process: the
// CPU of its thread per second, and that of the commands it starts (lsusb, ifconfig ppp0 and
// ifconfig ppp1 on every second pass), beside a baseline measured first in the same run: a plain
// thread starting lsusb every two seconds and reading its output. The supervisor's thread is told
// apart from the box's by its thread ID; the commands' CPU is the process's children's (getrusage).
//
//   lte_load [--idle-seconds N]      (default 60; --kib, which CTest gives every load program, is ignored)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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

#include "os/os.h"
#include "sdk_bsp.h"
#include "sim/box.h"
#include "task_cpu.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDetectionPeriod = std::chrono::seconds(2);

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double children_cpu_ms() {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(r.ru_utime) + ms(r.ru_stime);
}

long lines_of(const std::filesystem::path& file, const std::string& text) {
    std::ifstream in(file);
    long n = 0;
    for (std::string l; std::getline(in, l);) n += l == text;
    return n;
}

struct Cost {
    double own_ms, commands_ms;
};

// lsusb from this thread every two seconds, as the supervisor starts it, for `seconds`.
Cost lsusb_every_two_seconds(int seconds) {
    const double own0 = thread_cpu_ms(), children0 = children_cpu_ms();
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    for (auto next = Clock::now(); next < end; next += kDetectionPeriod) {
        std::this_thread::sleep_until(next);
        char listing[257] = {};
        if (FILE* p = popen("lsusb", "re")) {
            [[maybe_unused]] auto n = std::fread(listing, 1, sizeof listing - 1, p);
            pclose(p);
        }
    }
    std::this_thread::sleep_until(end);
    return {thread_cpu_ms() - own0, children_cpu_ms() - children0};
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    for (int k = 1; k + 1 < argc; k += 2)
        if (!std::strcmp(argv[k], "--idle-seconds")) seconds = std::max(1, std::atoi(argv[k + 1]));
    char tmpl[] = "/tmp/sdkbsp-lte-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::filesystem::path dir = tmpl;
    int code = 0;
    {
        sim::Box box(dir);
        for (const auto& var : box.env()) putenv(strdup(var.c_str()));  // the root, its bin/ first, the journal
        bsp::os::reload_environment();
        std::fflush(stdout);
        const int saved = dup(1), saved_err = dup(2), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);  // the library's prints, and what its commands say on standard error
        dup2(null, 2);

        const Cost base = lsusb_every_two_seconds(seconds);

        const std::set<int> before = bench::tasks();
        FSU_Lte_THREAD_START();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::set<int> supervisor = bench::tasks_since(before);
        // From the first detection on: the module answers, IMSI and IMEI are being read.
        const double cpu0 = bench::task_cpu_ms(supervisor), children0 = children_cpu_ms();
        const long lsusb0 = lines_of(dir / "cmdlog", "lsusb");
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu = bench::task_cpu_ms(supervisor) - cpu0, children = children_cpu_ms() - children0;
        const long lsusb = lines_of(dir / "cmdlog", "lsusb") - lsusb0;
        const auto commands = box.modem().commands().size();

        std::fflush(stdout);
        dup2(saved, 1);
        dup2(saved_err, 2);
        std::printf("supervisor thread: %.2f ms CPU per second (%.3f %% of one core), %zu AT commands answered in %d s\n",
                    cpu / seconds, cpu / (seconds * 10.0), commands, seconds);
        std::printf("commands it started: %.2f ms CPU per second (%ld lsusb, each with ifconfig ppp0 and ppp1)\n",
                    children / seconds, lsusb);
        std::printf("baseline, lsusb every 2 s from a plain thread: %.2f ms CPU per second starting it, %.2f ms in lsusb\n",
                    base.own_ms / seconds, base.commands_ms / seconds);
        if (supervisor.size() != 1 || commands == 0) code = 1;
    }
    // Moved out of the supervisor's way first: it goes on writing under the root it knows.
    std::error_code ec;
    const std::filesystem::path gone = dir.string() + ".gone";
    std::filesystem::rename(dir, gone, ec);
    std::filesystem::remove_all(ec ? dir : gone, ec);
    std::fflush(stdout);
    std::_Exit(code);  // the supervisor never stops: no exit handlers under it
}
