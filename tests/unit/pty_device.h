// A pseudo-terminal standing in for one of the box's serial devices: the library opens the slave
// through $SDK_BSP_ROOT/dev/ttymxcN, the test works the master.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "support.h"

namespace unit {

class PtyDevice {
  public:
    // Links root/dev/<name> to a new pty slave, set raw first.
    PtyDevice(const std::filesystem::path& root, const std::string& name) {
        // The library opens devices without O_NOCTTY: a session leader would gain a controlling tty.
        EXPECT_NE(getsid(0), getpid()) << "tests must not run as a session leader";
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master_, 0);
        grantpt(master_);
        unlockpt(master_);
        std::string slave = ptsname(master_);
        // Holding the slave open keeps the pty alive while the library closes and reopens it.
        slave_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        std::filesystem::create_directories(root / "dev");
        std::filesystem::create_symlink(slave, root / "dev" / name);
    }
    ~PtyDevice() {
        close(slave_);
        close(master_);
    }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

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
        close(slave_);
        close(master_);
        slave_ = master_ = -1;
    }

    void write(const Bytes& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // Writes toward the library and waits until the slave holds the bytes (as far as its input
    // buffer takes them), so that the library's next read without waiting finds them.
    void feed(const Bytes& bytes) {
        const std::size_t want = std::min<std::size_t>(pending() + bytes.size(), kInputBuffer);
        write(bytes);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (pending() < want && std::chrono::steady_clock::now() < end) usleep(100);
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
};

}  // namespace unit
