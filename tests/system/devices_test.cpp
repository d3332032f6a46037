// Field devices behind the simulated box's Uarts, reached by the real library through the host
// shell: Modbus RTU meters on a box port (Local/Uart/2) and on a board channel (Local/Uart/6),
// with frames from the Modbus application protocol's and serial line's documents and a CRC this
// test computes itself; a meter at another rate, a bus of two units, a text device and a TCP line.
// Run in the plain build only (label default-only).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using systest::HostShell;

// CRC-16 of the serial line's RTU framing: reflected polynomial 0xA001 from 0xFFFF, low byte first.
Bytes rtu(Bytes frame) {
    std::uint16_t crc = 0xFFFF;
    for (auto b : frame) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

std::string hex(const Bytes& b) {
    std::string s;
    char two[3];
    for (auto c : b) {
        std::snprintf(two, sizeof two, "%02X", c);
        s += two;
    }
    return s;
}

std::string uart(int id) { return "\"Local/Uart/" + std::to_string(id) + "\""; }

class LiveDevices : public testing::Test {
  protected:
    void start(const std::vector<std::string>& devices) {
        sim::Options o;
        o.announce_period = 300ms;
        for (const auto& d : devices) ASSERT_EQ(sim::parse_device(d, o.devices.emplace_back()), "") << d;
        box = std::make_unique<sim::Box>(root.path(), o);
        shell = std::make_unique<HostShell>(root, box->env());
        for (const char* call : {"SDK_LOG_PAR_INIT", "M_COM_INIT", "BSP_BAU_INIT", "FSU_COM_READ_THREAD_START"})
            ASSERT_EQ(shell->call(call), std::string(call) + " -> void");
    }
    void write(int id, const Bytes& b) {
        EXPECT_EQ(shell->call("WriteUart " + uart(id) + " hex:" + hex(b) + " " + std::to_string(b.size())), "WriteUart -> 0");
    }
    void write(int id, const std::string& text) { write(id, Bytes(text.begin(), text.end())); }
    // What the host reads within the window, in hexadecimal ("" for nothing).
    std::string read(int id, std::chrono::milliseconds window = 3s) {
        const std::string none = "ReadUart -> 0 hex:";
        const auto end = std::chrono::steady_clock::now() + window;
        std::string r = none;
        while (r == none && std::chrono::steady_clock::now() < end) r = shell->call("ReadUart " + uart(id) + " bytes:512 512 100");
        const auto at = r.find("hex:");
        return at == std::string::npos ? r : r.substr(at + 4);
    }
    std::string ask(int id, const Bytes& request) {
        write(id, request);
        return read(id);
    }
    void set(const nlohmann::json& changes) { ASSERT_EQ(box->set(changes), ""); }
    nlohmann::ordered_json device(int id) { return box->state()["devices"][std::to_string(id)]; }

    systest::TempRoot root;
    std::unique_ptr<sim::Box> box;
    std::unique_ptr<HostShell> shell;
};

TEST_F(LiveDevices, MetersAnswerOnABoxPortAndABoardChannel) {
    // The application protocol's example of function 03: registers 108 to 110 (addresses 107 to
    // 109) hold 555, 0 and 100; two named registers before them.
    testfiles::write_file(root / "meter.json", R"({"holding": [
        {"address": 0, "name": "voltage", "value": 2301}, {"address": 1, "name": "current", "value": 152},
        {"address": 107, "value": 555}, {"address": 109, "value": 100}]})");
    const std::string meter = "=modbus,file=" + (root / "meter.json").string();
    start({"2" + meter, "6" + meter, "4=modbus,baud=19200", "8=modbus,baud=19200", "10=modbus,unit=2", "10=modbus,unit=1"});

    const Bytes read_two = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
    ASSERT_EQ(rtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}), read_two);
    for (int id : {2, 6}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(ask(id, read_two), hex(rtu({0x01, 0x03, 0x04, 0x08, 0xFD, 0x00, 0x98})));
        EXPECT_EQ(ask(id, rtu({0x01, 0x03, 0x00, 0x6B, 0x00, 0x03})), hex(rtu({0x01, 0x03, 0x06, 0x02, 0x2B, 0x00, 0x00, 0x00, 0x64})));
        set({{"device." + std::to_string(id) + ".holding.1", 0x1234}});
        EXPECT_EQ(ask(id, rtu({0x01, 0x03, 0x00, 0x01, 0x00, 0x01})), hex(rtu({0x01, 0x03, 0x02, 0x12, 0x34})));
        // Address 200 is past the map's 110 registers: exception 2, illegal data address.
        EXPECT_EQ(ask(id, rtu({0x01, 0x03, 0x00, 0xC8, 0x00, 0x01})), hex(rtu({0x01, 0x83, 0x02})));
        // A broken CRC gets no answer: what comes back is the next request's answer alone.
        Bytes broken = read_two;
        broken.back() ^= 0x01;
        write(id, broken);
        EXPECT_EQ(ask(id, read_two), hex(rtu({0x01, 0x03, 0x04, 0x08, 0xFD, 0x12, 0x34})));

        set({{"device." + std::to_string(id) + ".fault", "silent"}});
        write(id, read_two);
        EXPECT_EQ(read(id, 1s), "");
        set({{"device." + std::to_string(id) + ".fault", "none"}});
        EXPECT_EQ(ask(id, read_two), hex(rtu({0x01, 0x03, 0x04, 0x08, 0xFD, 0x12, 0x34})));
        const auto d = device(id);
        EXPECT_EQ(d["units"]["1"]["holding"]["0"], (nlohmann::json{{"name", "voltage"}, {"value", 2301}}));
        EXPECT_EQ(d["requests"], 8);
        EXPECT_EQ(d["errors"], 2);  // the exception and the broken CRC
    }

    // Meters at 19200 baud hear noise while the host's line is at 9600, and answer once it is not.
    const Bytes read_one = rtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    for (int id : {4, 8}) {
        SCOPED_TRACE(id);
        write(id, read_one);
        EXPECT_TRUE(box->wait_for([&] { return device(id)["errors"] == 1; }, 5s));
        EXPECT_EQ(shell->call("SetUartParam " + uart(id) + " 19200 8 1 0"), "SetUartParam -> 0");
        EXPECT_EQ(ask(id, read_one), hex(rtu({0x01, 0x03, 0x02, 0x00, 0x00})));
    }

    // Units 2 and 1 on one bus (Local/Uart/10, board 2's channel 2), each answering its own;
    // a request for unit 3 gets nothing.
    set({{"device.10.u2.holding.0", 2}, {"device.10.u1.holding.0", 1}});
    write(10, rtu({0x02, 0x03, 0x00, 0x00, 0x00, 0x01}));
    write(10, rtu({0x03, 0x03, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(ask(10, rtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x01})),
              hex(rtu({0x02, 0x03, 0x02, 0x00, 0x02})) + hex(rtu({0x01, 0x03, 0x02, 0x00, 0x01})));
    EXPECT_EQ(ask(10, rtu({0x02, 0x03, 0x00, 0x00, 0x00, 0x01})), hex(rtu({0x02, 0x03, 0x02, 0x00, 0x02})));
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(LiveDevices, TextDeviceAndTcpLineOnBoxPorts) {
    testfiles::write_file(root / "ups.json", R"([{"request": "Q1", "answer": "(230.1 229.8 230.0 012 50.0\r", "delay": 100}])");
    start({"3=lines,file=" + (root / "ups.json").string(), "1=tcp"});
    write(3, std::string("X\rQ1\r"));
    EXPECT_EQ(read(3), hex(testfiles::bytes("(230.1 229.8 230.0 012 50.0\r")));

    const int port = box->state()["devices"]["1"]["port"];
    const int client = testfiles::connect_loopback(port);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(box->wait_for([&] { return device(1)["client"] == true; }, 5s));
    write(1, std::string("ping"));
    timeval five{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
    char got[8] = {};
    EXPECT_EQ(::recv(client, got, sizeof got, 0), 4);
    EXPECT_EQ(std::string(got, 4), "ping");
    ASSERT_EQ(::send(client, "pong", 4, 0), 4);
    EXPECT_EQ(read(1), hex(testfiles::bytes("pong")));
    ::close(client);
    EXPECT_EQ(shell->finish(), 0);
}

}  // namespace
