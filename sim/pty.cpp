// Pseudo-terminals standing in for the box's serial ports.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "sim/io.h"

namespace sim::io {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

void Fd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Pty open_pty() {
    Pty p;
    // No controlling terminal for the test process, whatever its session: O_NOCTTY on both ends.
    p.master = Fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.master) fail("posix_openpt");
    if (grantpt(p.master.get()) != 0 || unlockpt(p.master.get()) != 0) fail("grantpt/unlockpt");
    std::array<char, 64> name{};
    if (ptsname_r(p.master.get(), name.data(), name.size()) != 0) fail("ptsname_r");
    p.slave_path = name.data();
    p.slave = Fd(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.slave) fail("open pty slave");
    // Raw from the first byte: a host that writes before setting the line up must not see its
    // bytes echoed or its line ends translated.
    termios t{};
    if (tcgetattr(p.slave.get(), &t) != 0) fail("tcgetattr");
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    if (tcsetattr(p.slave.get(), TCSANOW, &t) != 0) fail("tcsetattr");
    int flags = fcntl(p.master.get(), F_GETFL);
    if (flags < 0 || fcntl(p.master.get(), F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl O_NONBLOCK");
    return p;
}

void publish_link(const std::string& target, const std::filesystem::path& link) {
    const auto fresh = link.parent_path() / ("." + link.filename().string() + ".new");
    std::filesystem::remove(fresh);
    std::filesystem::create_symlink(target, fresh);
    std::filesystem::rename(fresh, link);
}

void write_whole(const std::filesystem::path& path, const std::string& text) {
    const auto fresh = path.parent_path() / ("." + path.filename().string() + ".new");
    std::ofstream(fresh, std::ios::binary | std::ios::trunc) << text;
    std::filesystem::rename(fresh, path);
}

}  // namespace sim::io
