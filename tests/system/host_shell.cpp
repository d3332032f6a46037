#include "host_shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace systest {

std::string driven(const char* variable, const char* built) {
    const char* set = std::getenv(variable);
    return set && *set ? set : built;
}

HostShell::HostShell(const TempRoot& root, std::vector<std::string> env) {
    int in[2], out[2], res[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(res, O_CLOEXEC)) throw std::runtime_error("pipe");
    env.push_back("SDK_BSP_ROOT=" + root.path().string());
    // The child's environment, built before fork: ours, with the given variables replacing ours.
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
        std::string_view var(*e);
        bool replaced = false;
        for (auto& mine : env) replaced |= var.substr(0, var.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
        if (!replaced) envp.push_back(*e);
    }
    for (auto& mine : env) envp.push_back(mine.data());
    envp.push_back(nullptr);
    // The launcher's words, then the shell: all built before fork.
    std::vector<std::string> words;
    std::istringstream launcher(driven("SDK_SHELL_LAUNCHER", ""));
    for (std::string w; launcher >> w;) words.push_back(w);
    words.insert(words.end(), {driven("SDK_SHELL", SDK_SHELL), "--result-fd", "3"});
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string dir = root.path().string();
    pid_ = fork();
    if (pid_ == 0) {
        // Its own process group, not a session: a port opened without O_NOCTTY must never become
        // the shell's controlling terminal.
        setpgid(0, 0);
        // The box runs its host at its root: tar unpacks an update relative to it.
        if (chdir(dir.c_str()) != 0) _exit(126);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(res[1], 3);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(res[1]);
    in_ = in[1];
    out_reader_ = std::thread([this, fd = out[0]] { pump(fd, out_); });
    result_reader_ = std::thread([this, fd = res[0]] { pump(fd, results_); });
}

HostShell::~HostShell() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        finish();
    }
}

void HostShell::pump(int fd, std::string& into) {
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        std::lock_guard lock(mu_);
        into.append(buf, static_cast<std::size_t>(n));
        cv_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mu_);
    results_closed_ |= &into == &results_;
    cv_.notify_all();
}

std::string HostShell::call(const std::string& line, std::chrono::milliseconds deadline) {
    std::string text = line + "\n";
    if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    std::unique_lock lock(mu_);
    std::size_t end = std::string::npos;
    cv_.wait_for(lock, deadline,
                 [&] { return (end = results_.find('\n', results_taken_)) != std::string::npos || results_closed_; });
    if (end == std::string::npos) return "";
    std::string result = results_.substr(results_taken_, end - results_taken_);
    results_taken_ = end + 1;
    return result;
}

std::string HostShell::call_until(const std::string& line, const std::string& wanted, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::string result = call(line);
    while (result.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(50ms);
        result = call(line);
    }
    return result;
}

std::string HostShell::out() {
    std::lock_guard lock(mu_);
    return out_;
}

bool HostShell::wait_out(const std::string& text, std::chrono::milliseconds deadline, std::size_t from) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, deadline, [&] { return out_.find(text, from) != std::string::npos; });
}

int HostShell::finish() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    int status = -1;
    if (pid_ > 0) {
        // A shell that does not end within the deadline is killed: a hung host fails its test
        // rather than the whole run.
        auto end = std::chrono::steady_clock::now() + 30s;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    pid_ = -1;
    if (out_reader_.joinable()) out_reader_.join();
    if (result_reader_.joinable()) result_reader_.join();
    return status;
}

}  // namespace systest
