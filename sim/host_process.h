// The host a scenario run starts: a command of the developer's, in a process group of its own (not
// a session of its own: a port the library opens without O_NOCTTY must never become its
// controlling terminal), with the box's environment, its standard output and error in a file.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sim {

class HostProcess {
  public:
    // Starts argv[0] (looked up on PATH) with these variables set over the environment; throws
    // std::runtime_error saying why when it cannot be run.
    HostProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                const std::filesystem::path& output);
    ~HostProcess();  // stops it
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // "exited with status 3" or "was killed by signal 9" once it has ended; "" while it runs.
    std::string ended();
    // SIGTERM to its group, SIGKILL to it after kStopWait; waits for it.
    void stop();

    static constexpr int kStopWaitMs = 5000;

  private:
    pid_t pid_ = -1;
    std::string ended_;
};

}  // namespace sim
