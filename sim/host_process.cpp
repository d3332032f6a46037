// The host a scenario run starts and stops.
#include "sim/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace sim {
namespace {

using namespace std::chrono_literals;

// The environment with `over` set on top, NAME=VALUE each.
std::vector<std::string> environment(const std::vector<std::string>& over) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        vars[v.substr(0, v.find('='))] = v;
    }
    for (const auto& v : over) vars[v.substr(0, v.find('='))] = v;
    std::vector<std::string> out;
    for (auto& [name, v] : vars) out.push_back(std::move(v));
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

std::string how_it_ended(int status) {
    if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
    return "exited with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

HostProcess::HostProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::filesystem::path& output) {
    if (argv.empty()) throw std::runtime_error("no host command");
    std::vector<std::string> args = argv, vars = environment(env);
    auto arg_ptrs = pointers(args), env_ptrs = pointers(vars);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) throw std::runtime_error("cannot write " + output.string() + ": " + std::strerror(errno));
    // The child says on this pipe why it could not run the command; closed unsaid when it could.
    int said[2];
    if (::pipe2(said, O_CLOEXEC) != 0) {
        ::close(out);
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        const int err = errno;
        for (int fd : {out, said[0], said[1]}) ::close(fd);
        throw std::runtime_error(std::string("fork: ") + std::strerror(err));
    }
    if (pid_ == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);  // fsu-sim keeps its stop signals blocked
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);           // a run killed outright leaves no host behind
        ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execvpe(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
        const int err = errno;
        (void)!::write(said[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(out);
    ::close(said[1]);
    int err = 0;
    const bool failed = ::read(said[0], &err, sizeof err) == static_cast<ssize_t>(sizeof err);
    ::close(said[0]);
    if (failed) {
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::runtime_error("cannot run " + argv[0] + ": " + std::strerror(err));
    }
    ::setpgid(pid_, pid_);  // as the child does: whichever comes first
}

HostProcess::~HostProcess() { stop(); }

std::string HostProcess::ended() {
    int status = 0;
    if (ended_.empty() && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = how_it_ended(status);
        pid_ = -1;
    }
    return ended_;
}

void HostProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
}

}  // namespace sim
