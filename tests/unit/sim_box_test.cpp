// The simulated box through its ptys, from the host's side of the wire.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "sim/box.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using Ms = std::chrono::milliseconds;

const Bytes kPresent = {0x7E, 0x00, 0x00, 0x41, 0x41, 0x0D};
const Bytes kSettings9600 = {0x7E, 0x00, 0x07, 0x60, 0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, 0x15, 0x0D};
const Bytes kDataAbc = {0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D};
const Bytes kKeepAlive = {0x7E, 0x00, 0x00, 0x92, 0x92, 0x0D};
const Bytes kLoopedAbc = {0x7E, 0x00, 0x03, 0x50, 0x61, 0x62, 0x63, 0x79, 0x0D};

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A port as the host opens it (O_RDWR | O_NOCTTY, blocking), read with a deadline.
class HostEnd {
  public:
    explicit HostEnd(const std::filesystem::path& link) : fd_(::open(link.c_str(), O_RDWR | O_NOCTTY)) {}
    ~HostEnd() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    bool write(const Bytes& b) { return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
    // Everything read until it holds `want` or the time is up.
    Bytes read_until(const Bytes& want, Ms timeout = 5s) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!contains(got, want)) {
            auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()).count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            unsigned char buf[512];
            auto n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int fd_;
};

class SimBoxThreads : public unit::RootedTest {
  protected:
    std::filesystem::path dev(int tty) const { return root_ / "dev" / ("ttymxc" + std::to_string(tty)); }
};

TEST_F(SimBoxThreads, BuildsRawPortsAndEchoesPassThroughPorts) {
    sim::Box box(root_);
    for (int tty = 1; tty <= 7; ++tty) {
        ASSERT_TRUE(std::filesystem::is_symlink(dev(tty))) << tty;
        EXPECT_EQ(std::filesystem::read_symlink(dev(tty)).string().rfind("/dev/pts/", 0), 0u) << tty;
    }
    for (const char* sub : {"tmp", "bin", "etc/config"}) EXPECT_TRUE(std::filesystem::is_directory(root_ / sub));
    auto env = box.env();
    EXPECT_EQ(env[0], "SDK_BSP_ROOT=" + root_.string());
    EXPECT_EQ(env[1].rfind("PATH=" + root_.string() + "/bin:", 0), 0u);
    EXPECT_EQ(env[2], "SDK_BSP_CMDLOG=" + root_.string() + "/cmdlog");

    HostEnd uart1(dev(1));
    ASSERT_GE(uart1.fd(), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(uart1.fd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u) << "raw before the host sees it";
    ASSERT_TRUE(uart1.write(bytes("hello\r\n")));
    EXPECT_TRUE(contains(uart1.read_until(bytes("hello\r\n")), bytes("hello\r\n")));
    // Closed and opened again, as a host does: the pty must not have hung up.
    uart1.close();
    HostEnd again(dev(1));
    ASSERT_TRUE(again.write(bytes("again")));
    EXPECT_TRUE(contains(again.read_until(bytes("again")), bytes("again")));
    EXPECT_EQ(box.port(1).received(), bytes("hello\r\nagain"));

    // The GPS port records what the host sends and carries what a test pushes.
    HostEnd gps(dev(sim::kGpsTty));
    ASSERT_TRUE(gps.write(bytes("$PCAS04,3*1A\r\n")));
    box.port(sim::kGpsTty).push("$GPGGA,,,,,,0,00,,,,,,,*66\r\n");
    EXPECT_TRUE(contains(gps.read_until(bytes("*66\r\n")), bytes("$GPGGA,,,,,,0,00,,,,,,,*66\r\n")));
    EXPECT_TRUE(box.wait_for([&] { return box.port(sim::kGpsTty).received() == bytes("$PCAS04,3*1A\r\n"); }, 5s));
}

TEST_F(SimBoxThreads, BoardLoopsDataBackAndRecordsEveryFrame) {
    sim::Options opt;
    opt.announce_period = 100ms;
    sim::Box box(root_, opt);
    HostEnd ext1(dev(5));
    ASSERT_GE(ext1.fd(), 0);
    // A host flushes the port when it sets it up; the board announces itself again anyway.
    tcflush(ext1.fd(), TCIOFLUSH);
    EXPECT_TRUE(contains(ext1.read_until(kPresent), kPresent));

    ASSERT_TRUE(ext1.write(join({kSettings9600, kDataAbc, kKeepAlive})));
    EXPECT_TRUE(contains(ext1.read_until(kLoopedAbc), kLoopedAbc));
    auto board = box.board(1);
    ASSERT_TRUE(box.wait_for([&] { return board.frames().size() == 3; }, 5s));
    auto frames = board.frames();
    EXPECT_EQ(frames[0].cid, 0x60);
    EXPECT_EQ(frames[1].raw, kDataAbc);
    EXPECT_EQ(frames[2].cid, 0x92);
    EXPECT_TRUE(frames[0].checksum_ok && frames[1].checksum_ok && frames[2].checksum_ok);
    EXPECT_EQ(board.settings(0), (sim::LineSettings{9600, 8, 1, 0}));
    EXPECT_FALSE(board.settings(1));
    EXPECT_EQ(board.keepalives(), 1);
    EXPECT_EQ(board.garbage(), 0u);
    EXPECT_EQ(box.port(5).received(), join({kSettings9600, kDataAbc, kKeepAlive}));
}

TEST_F(SimBoxThreads, FaultsShapeWhatABoardSends) {
    sim::Options opt;
    opt.announce_period = 100ms;
    opt.faults[0].silent = true;
    opt.faults[1].garbage = true;
    opt.faults[1].bad_checksum = true;
    sim::Box box(root_, opt);

    // Board 2: garbage before every frame, and every sum one too high.
    HostEnd ext2(dev(6));
    tcflush(ext2.fd(), TCIOFLUSH);
    const Bytes bad_present = {0x7E, 0x00, 0x00, 0x41, 0x42, 0x0D};
    auto got = ext2.read_until(bad_present);
    ASSERT_TRUE(contains(got, bad_present));
    EXPECT_NE(got.front(), 0x7E);
    ASSERT_TRUE(ext2.write(kDataAbc));
    const Bytes bad_loop = {0x7E, 0x00, 0x03, 0x50, 0x61, 0x62, 0x63, 0x7A, 0x0D};
    EXPECT_TRUE(contains(ext2.read_until(bad_loop), bad_loop));

    // Split frames arrive in pieces with pauses between them: 9 bytes in 2-byte pieces, 4 pauses.
    sim::Faults split;
    split.split = true;
    split.split_bytes = 2;
    split.split_pause = 50ms;
    box.board(2).set_faults(split);
    tcflush(ext2.fd(), TCIOFLUSH);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(ext2.write(kDataAbc));
    EXPECT_TRUE(contains(ext2.read_until(kLoopedAbc), kLoopedAbc));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 4 * 50ms);

    // Board 1, silent: it records the host's frame but neither announces nor loops back.
    HostEnd ext1(dev(5));
    tcflush(ext1.fd(), TCIOFLUSH);
    ASSERT_TRUE(ext1.write(kDataAbc));
    EXPECT_TRUE(box.wait_for([&] { return box.board(1).frames().size() == 1; }, 5s));
    EXPECT_TRUE(ext1.read_until(kPresent, 300ms).empty());
}

TEST_F(SimBoxThreads, BridgesAChannelToTcp) {
    sim::Box box(root_);
    const auto port = box.board(1).bridge(2);
    int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    // TCP to host: a channel-2 data frame.
    HostEnd ext1(dev(5));
    tcflush(ext1.fd(), TCIOFLUSH);
    ASSERT_EQ(::send(client, "pong", 4, 0), 4);
    const Bytes pong = {0x7E, 0x00, 0x04, 0x52, 0x70, 0x6F, 0x6E, 0x67, 0x0A, 0x0D};
    EXPECT_TRUE(contains(ext1.read_until(pong), pong));

    // Host to TCP: the payload of a channel-2 data frame, not looped back.
    ASSERT_TRUE(ext1.write({0x7E, 0x00, 0x03, 0x82, 0x78, 0x79, 0x7A, 0xF0, 0x0D}));
    timeval five{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
    char buf[16] = {};
    ASSERT_EQ(::recv(client, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    ::close(client);
}

TEST_F(SimBoxThreads, EnvironmentEquipmentAnswersOnChannel4) {
    sim::Options opt;
    opt.environment = true;
    sim::Box box(root_, opt);
    HostEnd ext1(dev(5));
    tcflush(ext1.fd(), TCIOFLUSH);
    // The poll, then the output command for output 1 alone, as the host sends them.
    ASSERT_TRUE(ext1.write(sim::build_frame(0x84, "~FFFF03540000FD5C\r")));
    const Bytes poll_reply = sim::build_frame(0x54, "~FFFF0300E00200FCEE\r");
    EXPECT_TRUE(contains(ext1.read_until(poll_reply), poll_reply));
    ASSERT_TRUE(ext1.write(sim::build_frame(0x84, "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r")));
    const Bytes output_reply = sim::build_frame(0x54, "~FFFF0500E00201FCEB\r");
    EXPECT_TRUE(contains(ext1.read_until(output_reply), output_reply));
    auto env = box.environment();
    EXPECT_EQ(env.outputs(), (std::array<bool, 4>{true, false, false, false}));
    ASSERT_EQ(env.frames().size(), 2u);
    EXPECT_TRUE(env.frames()[1].ok());
    EXPECT_EQ(env.replies().back(), "~FFFF0500E00201FCEB\r");
    EXPECT_NE(box.status().find("outputs   1 on, 2 off, 3 off, 4 off; 2 frames (0 bad), 2 replies"), std::string::npos)
        << box.status();
}

TEST_F(SimBoxThreads, ReceiverStreamsAtItsPaceAndTakesCommands) {
    sim::Options opt;
    opt.gps.enabled = true;
    sim::Box box(root_, opt);
    HostEnd gps(dev(sim::kGpsTty));
    tcflush(gps.fd(), TCIOFLUSH);
    // Fixes one a second, the first at the system's worked example position.
    const auto t0 = std::chrono::steady_clock::now();
    Bytes got = gps.read_until(bytes("$GNRMC"));
    got = join({got, gps.read_until(bytes("$GNRMC"))});
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_TRUE(contains(got, bytes(",2236.12345,N,11356.78901,E,")));

    ASSERT_TRUE(gps.write(bytes("$PCAS04,1*18\r\n")));
    ASSERT_TRUE(box.wait_for([&] { return box.gps().mode() == 1; }, 5s));
    got = gps.read_until(bytes("$GPRMC"), 5s);
    EXPECT_TRUE(contains(got, bytes("$GPGGA")));
    EXPECT_EQ(box.gps().sentences(), (std::vector<sim::Sentence>{{"$PCAS04,1*18", true}}));
    EXPECT_NE(box.status().find("GPS       mode GPS, track at 960 bytes/s, 22.60205"), std::string::npos) << box.status();
}

TEST_F(SimBoxThreads, StandInsRecordWhatTheyWereAskedAndUciWritesThePackage) {
    sim::Options opt;
    opt.exported = {1, 18};
    sim::Box box(root_, opt);
    const std::string bin = (root_ / "bin").string();
    // One shell line as the system runs it, then the rest of the box's tools.
    const std::string line = "PATH=" + bin + ":$PATH; uci set vqm.sys.pcas=2;uci commit; reboot; killall lte.sh; "
                             "date -s '2024-07-01 08:30:00'; hwclock -w";
    ASSERT_EQ(std::system(line.c_str()), 0);
    EXPECT_EQ(box.standins(), (std::vector<std::string>{"uci set vqm.sys.pcas=2", "uci commit", "reboot",
                                                        "killall lte.sh", "date -s 2024-07-01 08:30:00", "hwclock -w"}));
    EXPECT_EQ(unit::read_file(root_ / "etc/config/vqm"), "\nconfig sys 'sys'\n\toption pcas '2'\n\n");
    EXPECT_TRUE(box.wait_for([&] { return box.status().find("reboot    1 request, the last at ") != std::string::npos; }, 5s))
        << box.status();

    // The LEDs of the status view follow the GPIO files: run lit, alarm dark.
    unit::write_file(root_ / "sys/class/gpio/gpio1/direction", "out");
    unit::write_file(root_ / "sys/class/gpio/gpio18/direction", "high");
    ASSERT_TRUE(box.wait_for([&] { return box.gpio().line(18) == sim::GpioLine{1, "out", "none"}; }, 5s));
    EXPECT_EQ(box.gpio().line(1), (sim::GpioLine{0, "out", "none"}));
    EXPECT_EQ(box.status().substr(0, box.status().find('\n')), "LEDs      run lit, alarm dark, net -, 1 -");
}

}  // namespace
