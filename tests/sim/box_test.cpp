// What the simulated box offers beyond what the system tests drive: the TCP bridge for real tools.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "../common/files.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;

TEST(SimBox, BridgesAChannelToTcp) {
    testfiles::TempDir dir;
    sim::Box box(dir.path());
    const auto port = box.board(1).bridge(2);
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    // TCP to host: a channel-2 data frame on the board's port.
    const int ext1 = ::open((dir / "dev/ttymxc5").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(ext1, 0);
    tcflush(ext1, TCIOFLUSH);
    ASSERT_EQ(::send(client, "pong", 4, 0), 4);
    const Bytes pong = {0x7E, 0x00, 0x04, 0x52, 0x70, 0x6F, 0x6E, 0x67, 0x0A, 0x0D};
    Bytes got;
    for (pollfd p{ext1, POLLIN, 0}; got.size() < 64 && ::poll(&p, 1, 5000) > 0;) {
        unsigned char buf[64];
        auto n = ::read(ext1, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
        if (std::search(got.begin(), got.end(), pong.begin(), pong.end()) != got.end()) break;
    }
    EXPECT_NE(std::search(got.begin(), got.end(), pong.begin(), pong.end()), got.end());
    // Host to TCP: the payload of a channel-2 data frame, not looped back.
    const Bytes xyz = {0x7E, 0x00, 0x03, 0x82, 0x78, 0x79, 0x7A, 0xF0, 0x0D};
    ASSERT_EQ(::write(ext1, xyz.data(), xyz.size()), 9);
    timeval five{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
    char buf[16] = {};
    ASSERT_EQ(::recv(client, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    ::close(client);
    ::close(ext1);
}

}  // namespace
