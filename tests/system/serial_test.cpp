// The serial side of the real library against the simulated box: frames and bytes on the wire,
// the receive threads, the Uart API.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using systest::HostShell;
using systest::TempRoot;
using testing::ContainsRegex;
using testing::HasSubstr;

std::string hex(const Bytes& b) {
    std::string s;
    char two[3];
    for (auto c : b) {
        std::snprintf(two, sizeof two, "%02X", c);
        s += two;
    }
    return s;
}
Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The system's settings frame for 9600 8N1 on board channel 0, and the same for another
// channel: only the CID and, with it, the sum change.
const Bytes kSettings9600Ch0{0x7E, 0x00, 0x07, 0x60, 0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, 0x15, 0x0D};
Bytes settings_9600(std::uint8_t cid) {
    Bytes f = kSettings9600Ch0;
    f[3] = cid;
    f[11] = static_cast<std::uint8_t>(0x15 + cid - 0x60);
    return f;
}

std::vector<Bytes> raws(const std::vector<sim::Frame>& frames) {
    std::vector<Bytes> out;
    for (auto& f : frames) out.push_back(f.raw);
    return out;
}

class SerialLink : public testing::Test {
  protected:
    SerialLink() : box(root.path(), box_options()) {}
    static sim::Options box_options() {
        sim::Options o;
        o.announce_period = 300ms;
        return o;
    }
    // Starts the host with the serial side up as start-up brings it: ports, Uart defaults, threads.
    void start(bool with_log = true) {
        shell = std::make_unique<HostShell>(root, box.env());
        if (with_log) {
            ASSERT_EQ(shell->call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
        }
        ASSERT_EQ(shell->call("M_COM_INIT"), "M_COM_INIT -> void");
        ASSERT_EQ(shell->call("BSP_BAU_INIT"), "BSP_BAU_INIT -> void");
        ASSERT_EQ(shell->call("FSU_COM_READ_THREAD_START"), "FSU_COM_READ_THREAD_START -> void");
    }
    // Reads a Uart until `count` bytes came or the deadline passed (each call waits at most once).
    Bytes read_uart(int id, std::size_t count, std::chrono::milliseconds deadline = 5s) {
        Bytes got;
        auto end = std::chrono::steady_clock::now() + deadline;
        std::regex result(R"(ReadUart -> (-?\d+) hex:([0-9A-F]*))");
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            std::smatch m;
            std::string line = shell->call("ReadUart \"Local/Uart/" + std::to_string(id) + "\" bytes:4096 4096 100");
            if (!std::regex_match(line, m, result) || std::stoi(m[1]) < 0) break;
            std::string h = m[2];
            for (std::size_t k = 0; k < h.size(); k += 2) got.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(k, 2), nullptr, 16)));
        }
        return got;
    }
    std::string log() { return systest::read_file(root / "tmp/sdklog.log"); }
    bool wait_log(const std::string& text, std::chrono::milliseconds deadline = 5s) {
        auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            if (log().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    TempRoot root;
    sim::Box box;
    std::unique_ptr<HostShell> shell;
};

TEST_F(SerialLink, StartUpSendsNineSettingsFramesAndStartsSevenThreads) {
    start();
    auto b1 = box.board(1), b2 = box.board(2);
    ASSERT_TRUE(box.wait_for([&] { return b1.frames().size() >= 5 && b2.frames().size() >= 4; }, 5s));
    EXPECT_EQ(raws(b1.frames()), (std::vector<Bytes>{kSettings9600Ch0, settings_9600(0x61), settings_9600(0x62),
                                                     settings_9600(0x63), settings_9600(0x64)}));
    // Board 2's channels in Uart order 9..12: 0, 2, 1, 3.
    EXPECT_EQ(raws(b2.frames()),
              (std::vector<Bytes>{kSettings9600Ch0, settings_9600(0x62), settings_9600(0x61), settings_9600(0x63)}));

    for (auto [n, fn] : {std::pair{0, "M_COM_READ_THREAD"}, {1, "M_COM_READ_THREAD"}, {2, "M_COM_READ_THREAD"},
                         {3, "M_COM_READ_THREAD"}, {4, "EXT_COM_READ_THREAD"}, {5, "EXT_COM_READ_THREAD"},
                         {6, "ENV_COM_READ_THREAD"}, {10, "FSU_COM_READ_THREAD_START"}}) {
        char head[64];
        std::snprintf(head, sizeof head, "STUMP[%03d]: FILE: com_process, FUNCTION: %s, LINE: ", n, fn);
        EXPECT_TRUE(shell->wait_out(head, 5s)) << head;
    }
    EXPECT_THAT(shell->out(), ContainsRegex("STUMP\\[006\\]: FILE: com_process, FUNCTION: ENV_COM_READ_THREAD, LINE: [0-9]+\\.\n"));

    // Both boards announce themselves: twelve serial ports.
    auto list = [&] { return shell->call("ReadFSUResource buf:868 868"); };
    auto end = std::chrono::steady_clock::now() + 5s;
    while (list().find("Local/Uart/12") == std::string::npos && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(shell->call("sdk_read_com_num"), "sdk_read_com_num -> 12");
    // A second start does nothing.
    EXPECT_EQ(shell->call("FSU_COM_READ_THREAD_START"), "FSU_COM_READ_THREAD_START -> void");
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(SerialLink, EveryCarriedUartRoundTripsOnItsOwnChannel) {
    start(false);
    auto b1 = box.board(1), b2 = box.board(2);
    EXPECT_EQ(shell->call("WriteUart \"Local/Uart/5\" hex:616263 3"), "WriteUart -> 0");
    ASSERT_TRUE(box.wait_for([&] { return !b1.frames(0x80).empty(); }, 5s));
    EXPECT_EQ(b1.frames(0x80).back().raw, (Bytes{0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D}));
    EXPECT_EQ(read_uart(5, 3), bytes("abc"));

    for (int id : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 14}) {
        const std::string payload = "uart" + std::to_string(id);
        EXPECT_EQ(shell->call("WriteUart \"Local/Uart/" + std::to_string(id) + "\" hex:" + hex(bytes(payload)) + " " +
                              std::to_string(payload.size())),
                  "WriteUart -> 0");
        EXPECT_EQ(read_uart(id, payload.size()), bytes(payload)) << "Local/Uart/" << id;
    }
    // Uart IDs 10 and 11 are board 2's channels 2 and 1, in both directions.
    EXPECT_EQ(b2.frames(0x82).back().payload, bytes("uart10"));
    EXPECT_EQ(b2.frames(0x81).back().payload, bytes("uart11"));
    EXPECT_EQ(b1.frames(0x84).back().payload, bytes("uart14"));
    b2.send_frame(0x52, "to10");
    b2.send_frame(0x51, "to11");
    EXPECT_EQ(read_uart(10, 4), bytes("to10"));
    EXPECT_EQ(read_uart(11, 4), bytes("to11"));
    EXPECT_EQ(b1.garbage() + b2.garbage(), 0u);
    EXPECT_EQ(shell->finish(), 0);
    EXPECT_THAT(shell->out(), HasSubstr("61 62 63 "));
}

TEST_F(SerialLink, OneKeepAlivePerBoardAfterTwentyOneTicks) {
    start(false);
    auto b1 = box.board(1), b2 = box.board(2);
    ASSERT_TRUE(box.wait_for([&] { return b1.frames().size() == 5 && b2.frames().size() == 4; }, 5s));
    for (int tick = 0; tick < 20; ++tick) ASSERT_EQ(shell->call("RunComDog"), "RunComDog -> void");
    EXPECT_EQ(shell->call("Return_ComDog_Cnt 0"), "Return_ComDog_Cnt -> 20");
    shell->call("RunComDog");
    ASSERT_TRUE(box.wait_for([&] { return b1.keepalives() == 1 && b2.keepalives() == 1; }, 5s));
    EXPECT_EQ(b1.frames(0x92).back().raw, (Bytes{0x7E, 0x00, 0x00, 0x92, 0x92, 0x0D}));
    EXPECT_EQ(shell->call("Return_ComDog_Cnt 1"), "Return_ComDog_Cnt -> 0");
    EXPECT_EQ(shell->finish(), 0);
    EXPECT_EQ(b1.keepalives() + b2.keepalives(), 2);
}

TEST_F(SerialLink, PassThroughKeepsTheFirst4096Bytes) {
    start();
    Bytes burst(5000);
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<std::uint8_t>(i % 251);
    box.port(1).push(burst);
    ASSERT_TRUE(wait_log("M_COM_READ_THREAD com 0 recv info len=4096"));
    std::this_thread::sleep_for(1s);  // five polls: the rest of the burst has been read, and lost
    EXPECT_EQ(read_uart(1, 5000, 1500ms), Bytes(burst.begin(), burst.begin() + 4096));
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(SerialLink, ReadUartWaitsOnceAndOnlyWhenNothingWaits) {
    start();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(shell->call("ReadUart \"Local/Uart/6\" bytes:16 16 500"), "ReadUart -> 0 hex:");
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 3s);

    box.board(1).send_frame(0x51, "xyz");
    ASSERT_TRUE(wait_log("EXT_M_COM_READ_THREAD com 5 sol_index=4 recv info len=3/3/3"));
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(shell->call("ReadUart \"Local/Uart/6\" bytes:16 16 5000"), "ReadUart -> 3 hex:78797A");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_EQ(shell->call("ReadUart \"Local/Uart/16\" bytes:16 16 0"), "ReadUart -> -1 hex:00000000000000000000000000000000");
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(SerialLink, ReceiverSentencesReachTheFixRecord) {
    start();
    // The system's own worked example, repeated until the batch passes 1024 bytes.
    const std::string sentences =
        "$GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*54\r\n"
        "$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50\r\n";
    std::string batch;
    while (batch.size() <= 1100) batch += sentences;
    // The read loop flushes the port when it sets 9600 baud as it starts: send after that.
    auto at_9600 = [&] {
        int fd = open(box.port(7).slave().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        bool set = fd >= 0 && tcgetattr(fd, &tio) == 0 && cfgetispeed(&tio) == B9600;
        if (fd >= 0) close(fd);
        return set;
    };
    auto end = std::chrono::steady_clock::now() + 5s;
    while (!at_9600() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
    box.port(7).push(batch);
    EXPECT_TRUE(wait_log("]:GPS:J:113.946480;W:22.602058")) << log();
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(SerialLink, ConcurrentWritersGiveOnlyWholeFrames) {
    start(false);
    auto b1 = box.board(1), b2 = box.board(2);
    ASSERT_TRUE(box.wait_for([&] { return b1.frames().size() == 5 && b2.frames().size() == 4; }, 5s));
    b1.clear();
    b2.clear();
    constexpr int kCount = 100;
    std::string lines;
    for (int id = 5; id <= 12; ++id) {
        std::string payload = "writer " + std::to_string(id) + std::string(static_cast<std::size_t>(id * 9), '.');
        lines += "WriteUart \"Local/Uart/" + std::to_string(id) + "\" hex:" + hex(bytes(payload)) + " " +
                 std::to_string(payload.size()) + " | ";
    }
    lines += "RunComDog";
    EXPECT_EQ(shell->call("parallel " + std::to_string(kCount) + " " + lines, 60s), "parallel -> done");
    ASSERT_TRUE(box.wait_for([&] { return b1.frames().size() + b2.frames().size() >= 8 * kCount; }, 10s));
    std::this_thread::sleep_for(300ms);
    for (auto board : {b1, b2}) {
        EXPECT_EQ(board.garbage(), 0u);
        int data = 0;
        for (const sim::Frame& f : board.frames()) {
            EXPECT_TRUE(f.checksum_ok);
            if (f.cid == 0x92) continue;
            ++data;
            std::string text(f.payload.begin(), f.payload.end());
            EXPECT_THAT(text, testing::MatchesRegex("writer [0-9]+\\.+"));
        }
        EXPECT_EQ(data, 4 * kCount) << "board " << board.number();
    }
    EXPECT_EQ(shell->finish(), 0);
}

// A command run while the ports are open inherits none of them: the box's uci lists its own
// descriptors instead (GPS_DEFAULT_SET runs "uci set vqm.sys.pcas=2;uci commit").
TEST_F(SerialLink, CommandsRunWithThePortsOpenHoldNoneOfThem) {
    const auto listing = (root / "tmp/fds").string();
    std::ofstream(root / "bin/uci") << "#!/bin/sh\nfor f in /proc/$$/fd/*; do readlink \"$f\"; done >>" << listing << "\nexit 0\n";
    start(false);
    EXPECT_EQ(shell->call("GPS_DEFAULT_SET"), "GPS_DEFAULT_SET -> 0");
    EXPECT_EQ(shell->finish(), 0);
    std::vector<std::string> held;
    std::istringstream lines(systest::read_file(listing));
    for (std::string l; std::getline(lines, l);) held.push_back(l);
    EXPECT_THAT(held, testing::Contains(listing));  // the stand-in ran and listed
    for (int tty = sim::kFirstTty; tty <= sim::kLastTty; ++tty)
        EXPECT_THAT(held, testing::Not(testing::Contains(box.port(tty).slave()))) << "ttymxc" << tty;
}

TEST(SerialFaults, MissingDeviceAndMisbehavingBoards) {
    TempRoot root;
    sim::Options o;
    o.announce_period = 300ms;
    o.faults[0].garbage = o.faults[0].split = o.faults[0].bad_checksum = true;
    o.faults[1].silent = true;
    sim::Box box(root.path(), o);
    std::filesystem::remove(root / "dev/ttymxc3");
    HostShell shell(root, box.env());
    shell.call("M_COM_INIT");
    // Standard output comes on a channel of its own: wait for the last port's line.
    EXPECT_TRUE(shell.wait_out("BSP_ComCreate(6, /dev/ttymxc7) success !\n"));
    EXPECT_THAT(shell.out(), ContainsRegex("BSP_ComCreate\\(2, /dev/ttymxc3\\) Failed !\n"
                                           "ERROR: FILE:bsp_m_com, FUNCTION:BSP_ComCreate, LINE:[0-9]+, ErrNo:0x01020004\\.\n"
                                           "ERROR: FILE:bsp_m_com, FUNCTION:SDK_BSP_ComSetParams, LINE:[0-9]+, ErrNo:0x01020004\\.\n"
                                           "ERROR: FILE:bsp_m_com, FUNCTION:M_BAU_SET_COM, LINE:[0-9]+, ErrNo:0x01020004\\.\n"
                                           "BSP_ComCreate\\(3, /dev/ttymxc4\\) success !\n"));
    shell.call("BSP_BAU_INIT");
    shell.call("FSU_COM_READ_THREAD_START");

    // That port's thread keeps polling, reporting every cycle; every other port works.
    const std::string poll_error = "ERROR: FILE:bsp_m_com, FUNCTION:SDK_BSP_ComRead, LINE:";
    auto count = [&](const std::string& text) {
        std::string out = shell.out();
        std::size_t n = 0;
        for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
        return n;
    };
    auto end = std::chrono::steady_clock::now() + 5s;
    while (count(poll_error) < 3 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(50ms);
    EXPECT_GE(count(poll_error), 3u);

    shell.call("WriteUart \"Local/Uart/1\" hex:6F6B 2");
    shell.call("WriteUart \"Local/Uart/5\" hex:6F6B 2");
    for (int id : {1, 5}) {
        std::string got;
        end = std::chrono::steady_clock::now() + 5s;
        while (got.find("hex:6F6B") == std::string::npos && std::chrono::steady_clock::now() < end)
            got = shell.call("ReadUart \"Local/Uart/" + std::to_string(id) + "\" bytes:16 16 100");
        EXPECT_EQ(got, "ReadUart -> 2 hex:6F6B") << "Local/Uart/" << id;
    }
    // Board 1 announced itself through garbage, split frames and wrong sums; board 2 is silent.
    end = std::chrono::steady_clock::now() + 5s;
    while (shell.call("ReadFSUResource buf:868 868").find("Local/Uart/8") == std::string::npos &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(shell.call("sdk_read_com_num"), "sdk_read_com_num -> 8");
    EXPECT_EQ(shell.finish(), 0);
}

}  // namespace
