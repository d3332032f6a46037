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

namespace systest {

using namespace std::chrono_literals;

// A fresh box directory (with tmp/), removed with everything in it at the end.
class TempRoot {
  public:
    TempRoot();
    ~TempRoot();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& rel) const { return path_ / rel; }

  private:
    std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& p);

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
    // What the library printed on standard output so far.
    std::string out();
    // Waits until standard output contains text; false at the deadline.
    bool wait_out(const std::string& text, std::chrono::milliseconds deadline = 10s);
    // Closes the shell's input and waits for it to end; returns its exit status.
    int finish();

  private:
    void pump(int fd, std::string& into);

    pid_t pid_ = -1;
    int in_ = -1;
    std::mutex mu_;
    std::condition_variable cv_;
    std::string out_, results_;
    std::size_t results_taken_ = 0;
    std::thread out_reader_, result_reader_;
};

}  // namespace systest
