// What the simulator's files share: owned descriptors, pseudo-terminals and local TCP sockets.
// Failures throw std::system_error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

namespace sim::io {

// One owned file descriptor, closed on destruction.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset();

  private:
    int fd_ = -1;
};

// A pseudo-terminal: the master (non-blocking) that the simulator serves and one descriptor on
// the slave that the simulator keeps open, so that the pty never hangs up when the host closes
// and reopens the slave. The slave is already raw at 115200 baud when this returns.
struct Pty {
    Fd master;
    Fd slave;
    std::string slave_path;  // /dev/pts/N
};
Pty open_pty();
// Points `link` at `target` in one step, replacing an old link: whoever opens the link never finds
// it missing, or pointing at a slave that is not raw yet.
void publish_link(const std::string& target, const std::filesystem::path& link);
// Replaces the file at path whole, through a hidden file beside it renamed in one step: a reader
// (a stand-in, a tool watching the box's directory) never sees half of it.
void write_whole(const std::filesystem::path& path, const std::string& text);

// A non-blocking socket listening on 127.0.0.1:port (0: a free port, chosen by the system).
Fd listen_local(std::uint16_t port);
// The port a listening socket is bound to.
std::uint16_t local_port(const Fd& listener);
// The next waiting client as a non-blocking socket, or an empty Fd when none is waiting.
Fd accept_client(const Fd& listener);

}  // namespace sim::io
