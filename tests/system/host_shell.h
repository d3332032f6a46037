// Drives the real library through the host shell in a child process, under a temporary box root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../common/files.h"

namespace systest {

using namespace std::chrono_literals;

using testfiles::read_file;
using TempRoot = testfiles::TempDir;

// What the tests drive, from the environment when set there, else what this build made:
// SDK_SHELL (the host shell), SDK_SHELL_LAUNCHER (words run before it, e.g. "qemu-arm -L
// /usr/arm-linux-gnueabihf" for a 32-bit build's shell), SDK_BSP_LIBRARY, SDK_BSP_UPDATE_PACKAGE.
std::string driven(const char* variable, const char* built);

// The host shell, started in its own process group with SDK_BSP_ROOT (and SDK_BSP_CMDLOG) set and
// its working directory at the box's root, as the box runs its host.
class HostShell {
  public:
    explicit HostShell(const TempRoot& root, std::vector<std::string> env = {});
    ~HostShell();
    HostShell(const HostShell&) = delete;
    HostShell& operator=(const HostShell&) = delete;

    // Sends one call line and returns its result line ("" when none came before the deadline).
    std::string call(const std::string& line, std::chrono::milliseconds deadline = 10s);
    // Repeats a call until its result contains `wanted`; returns the last result.
    std::string call_until(const std::string& line, const std::string& wanted, std::chrono::milliseconds deadline = 10s);
    // What the library printed on standard output so far.
    std::string out();
    // Waits until standard output (from offset `from` on) contains text; false at the deadline.
    bool wait_out(const std::string& text, std::chrono::milliseconds deadline = 10s, std::size_t from = 0);
    // Closes the shell's input and waits for it to end; returns its exit status.
    int finish();
    pid_t pid() const { return pid_; }

  private:
    void pump(int fd, std::string& into);

    pid_t pid_ = -1;
    int in_ = -1;
    std::mutex mu_;
    std::condition_variable cv_;
    std::string out_, results_;
    std::size_t results_taken_ = 0;
    bool results_closed_ = false;  // the shell is gone: no result will come
    std::thread out_reader_, result_reader_;
};

}  // namespace systest
