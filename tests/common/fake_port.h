// The one stand-in for a device the library opens by its path (a serial port, the modem's AT port),
// shared by the unit tests, the benchmarks and the fuzz targets: a pseudo-terminal whose slave the
// library opens, raw, by its own name or through a link under a box root; the program works the
// master. A pty is a real terminal, so the library's termios code runs as on the box.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "files.h"

namespace testfiles {

class FakePort {
  public:
    // A new pty, its slave set raw; opened by slave_path().
    FakePort() {
        // The library opens devices without O_NOCTTY: a session leader would gain a controlling tty.
        if (getsid(0) == getpid()) throw std::runtime_error("a fake port's user must not be a session leader");
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
        slave_path_ = ptsname(master_);
        // Holding the slave open keeps the pty alive while the library closes and reopens it.
        slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    // The same, linked as root/dev/<name>.
    FakePort(const std::filesystem::path& root, const std::string& name) : FakePort() {
        std::filesystem::create_directories(root / "dev");
        std::filesystem::create_symlink(slave_path_, root / "dev" / name);
    }
    ~FakePort() { hang_up(); }
    FakePort(const FakePort&) = delete;
    FakePort& operator=(const FakePort&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    // The slave as the program holds it: what the library has not read yet can be read here.
    int slave() const { return slave_; }

    // What the library wrote, gathered until `count` bytes came or the deadline passed.
    Bytes read(std::size_t count, std::chrono::milliseconds deadline = std::chrono::milliseconds(2000)) {
        Bytes got;
        auto end = std::chrono::steady_clock::now() + deadline;
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buf[8192];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    // Everything waiting now, after a short settling time.
    Bytes drain() { return read(SIZE_MAX, std::chrono::milliseconds(100)); }

    // The far end goes away: the library's writes to the slave fail from now on.
    void hang_up() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
        slave_ = master_ = -1;
    }

    void write(const Bytes& bytes) { write(bytes.data(), bytes.size()); }
    void write(const void* data, std::size_t size) {
        if (::write(master_, data, size) != static_cast<ssize_t>(size)) throw std::runtime_error("fake port: short write");
    }
    // Writes toward the library and waits until the slave holds the bytes (as far as its input
    // buffer takes them), so that the library's next read without waiting finds them.
    void feed(const Bytes& bytes) { feed(bytes.data(), bytes.size()); }
    void feed(const void* data, std::size_t size) {
        const std::size_t want = std::min<std::size_t>(pending() + size, kInputBuffer);
        write(data, size);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (pending() < want && std::chrono::steady_clock::now() < end) usleep(50);
    }
    // Bytes waiting on the slave for the library to read.
    std::size_t pending() const {
        int n = 0;
        ioctl(slave_, FIONREAD, &n);
        return static_cast<std::size_t>(std::max(n, 0));
    }
    static constexpr std::size_t kInputBuffer = 4095;  // a terminal's input buffer, less one
    // The line settings the library applied, as seen on the slave.
    termios settings() const {
        termios tio{};
        tcgetattr(slave_, &tio);
        return tio;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

}  // namespace testfiles
