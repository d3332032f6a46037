// The serial side of the real library against the simulated box: bytes on the wire, the receive
// threads, the Uart API, the receiver's stream, misbehaving boards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using systest::TempRoot;
using testfiles::bytes;
using testing::ContainsRegex;
using testing::HasSubstr;

std::string hex(const std::string& s) {
    std::string h;
    char two[3];
    for (unsigned char c : s) {
        std::snprintf(two, sizeof two, "%02X", c);
        h += two;
    }
    return h;
}

// The host with the serial side up as start-up brings it: ports, Uart defaults, threads.
std::unique_ptr<HostShell> start(const TempRoot& root, const sim::Box& box) {
    auto shell = std::make_unique<HostShell>(root, box.env());
    for (const char* call : {"SDK_LOG_PAR_INIT", "M_COM_INIT", "BSP_BAU_INIT", "FSU_COM_READ_THREAD_START"})
        EXPECT_EQ(shell->call(call), std::string(call) + " -> void");
    return shell;
}

sim::Options quick_boards() {
    sim::Options o;
    o.announce_period = 300ms;
    return o;
}

TEST(SerialLink, EveryCarriedUartRoundTripsOnItsOwnChannel) {
    TempRoot root;
    sim::Box box(root.path(), quick_boards());
    auto shell = start(root, box);
    auto b1 = box.board(1), b2 = box.board(2);
    EXPECT_EQ(shell->call("WriteUart \"Local/Uart/5\" hex:616263 3"), "WriteUart -> 0");
    EXPECT_TRUE(shell->wait_out("61 62 63 "));
    ASSERT_TRUE(box.wait_for([&] { return !b1.frames(0x80).empty(); }, 5s));
    EXPECT_EQ(b1.frames(0x80).back().raw, (sim::Bytes{0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D}));
    EXPECT_EQ(shell->call_until("ReadUart \"Local/Uart/5\" bytes:64 64 100", "hex:61"), "ReadUart -> 3 hex:616263");

    for (int id : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 14}) {
        const std::string uart = "\"Local/Uart/" + std::to_string(id) + "\"", payload = "uart" + std::to_string(id);
        EXPECT_EQ(shell->call("WriteUart " + uart + " hex:" + hex(payload) + " " + std::to_string(payload.size())),
                  "WriteUart -> 0");
        EXPECT_EQ(shell->call_until("ReadUart " + uart + " bytes:64 64 100", "hex:75"),
                  "ReadUart -> " + std::to_string(payload.size()) + " hex:" + hex(payload));
    }
    // Uart IDs 10 and 11 are board 2's channels 2 and 1, in both directions.
    EXPECT_EQ(b2.frames(0x82).back().payload, bytes("uart10"));
    EXPECT_EQ(b2.frames(0x81).back().payload, bytes("uart11"));
    EXPECT_EQ(b1.frames(0x84).back().payload, bytes("uart14"));
    b2.send_frame(0x52, "to10");
    b2.send_frame(0x51, "to11");
    EXPECT_EQ(shell->call_until("ReadUart \"Local/Uart/10\" bytes:64 64 100", "hex:"+ hex("to10")), "ReadUart -> 4 hex:" + hex("to10"));
    EXPECT_EQ(shell->call_until("ReadUart \"Local/Uart/11\" bytes:64 64 100", "hex:"+ hex("to11")), "ReadUart -> 4 hex:" + hex("to11"));
    EXPECT_EQ(b1.garbage() + b2.garbage(), 0u);
    EXPECT_EQ(shell->finish(), 0);
}

// The receiver's own stream: its first fix is the worked example's position.
TEST(SerialLink, ReceiverStreamReachesTheFixRecord) {
    TempRoot root;
    sim::Options o;
    o.gps.enabled = true;
    sim::Box box(root.path(), o);
    auto shell = start(root, box);
    EXPECT_THAT(shell->call_until("GET_BSP_GPS_CSV_INFO buf:384", "113.94"),
                HasSubstr("\"113.94647980,22.60205841,54.600002,"));
    EXPECT_THAT(systest::read_file(root / "tmp/sdklog.log"), HasSubstr("]:GPS:J:113.946480;W:22.602058"));
    EXPECT_EQ(shell->finish(), 0);
}

// A command run while the ports are open inherits none of them: the box's uci lists its own
// descriptors instead (GPS_DEFAULT_SET runs "uci set vqm.sys.pcas=2;uci commit").
TEST(SerialLink, CommandsRunWithThePortsOpenHoldNoneOfThem) {
    TempRoot root;
    sim::Box box(root.path(), quick_boards());
    const auto listing = (root / "tmp/fds").string();
    testfiles::write_file(root / "bin/uci", "#!/bin/sh\nfor f in /proc/$$/fd/*; do readlink \"$f\"; done >>" + listing + "\nexit 0\n");
    auto shell = start(root, box);
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
    sim::Options o = quick_boards();
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
    auto count = [&](const std::string& text) {
        const std::string out = shell.out();
        std::size_t n = 0;
        for (std::size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
        return n;
    };
    ASSERT_TRUE(box.wait_for([&] { return count("STUMP[") == 8; }, 5s));  // seven threads and the start
    // A second start starts nothing: no thread announces itself again.
    shell.call("FSU_COM_READ_THREAD_START");
    // That port's thread keeps polling, reporting every cycle; every other port works.
    const std::string poll_error = "ERROR: FILE:bsp_m_com, FUNCTION:SDK_BSP_ComRead, LINE:";
    const std::size_t errors = count(poll_error);
    EXPECT_TRUE(box.wait_for([&] { return count(poll_error) >= errors + 3; }, 5s));
    EXPECT_EQ(count("STUMP["), 8u);
    shell.call("WriteUart \"Local/Uart/1\" hex:6F6B 2");
    shell.call("WriteUart \"Local/Uart/5\" hex:6F6B 2");
    for (const char* uart : {"\"Local/Uart/1\"", "\"Local/Uart/5\""})
        EXPECT_EQ(shell.call_until(std::string("ReadUart ") + uart + " bytes:16 16 100", "hex:6F6B"), "ReadUart -> 2 hex:6F6B");
    // Board 1 announced itself through garbage, split frames and wrong sums; board 2 is silent.
    EXPECT_THAT(shell.call_until("ReadFSUResource buf:868 868", "Local/Uart/8"), HasSubstr("Local/Uart/8"));
    EXPECT_EQ(shell.call("sdk_read_com_num"), "sdk_read_com_num -> 8");
    EXPECT_EQ(shell.finish(), 0);
}

}  // namespace
