// Local TCP sockets for bridging a board channel to a serial tool on the same machine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

#include "sim/io.h"

namespace sim::io {
namespace {

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

Fd listen_local(std::uint16_t port) {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s) fail("socket");
    int on = 1;
    setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fail("bind 127.0.0.1");
    if (::listen(s.get(), 1) != 0) fail("listen");
    return s;
}

std::uint16_t local_port(const Fd& listener) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) fail("getsockname");
    return ntohs(a.sin_port);
}

Fd accept_client(const Fd& listener) {
    return Fd(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

}  // namespace sim::io
