// The simulated box's own parts against real data: the cellular module's answers byte for byte
// against the forms real modules send (../shared/testdata/modem/transcripts.md, rows cited; the
// system tests cannot see them, since the library keeps only the lines), the receiver's damaged
// commands and its replay of real captures, the box's uci against what the real uci printed and
// wrote for the same files, the TCP bridge for real tools (no system test drives it), the GPIO
// tree under quick writes, the module's echo switch after the host's ATE0, and the devices behind
// the Uarts refused by name when they cannot be.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../common/files.h"
#include "sim/box.h"
#include "sim/modem.h"
#include "sim/receiver.h"
#include "sim/uci.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testfiles::bytes;
using testfiles::text;

// Everything the module sends for the host's bytes, joined.
std::string answer(sim::CellularModule& m, std::string_view host) {
    std::string s;
    for (const auto& p : m.feed(bytes(host))) s += p.bytes;
    return s;
}

TEST(SimModem, AnswersAsRealModulesFrameThem) {
    using F = sim::Framing;
    using I = sim::IdForm;
    struct Case {
        const char* source;
        F framing;
        bool echo;
        I ids;
        const char* host;
        const char* module;
    };
    const Case cases[] = {
        {"row 1", F::kV250, true, I::kPlain, "AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 19,99\r\n\r\nOK\r\n"},
        {"row 3", F::kCompact, true, I::kPlain, "AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 19,99\r\nOK\r\n"},
        {"row 32", F::kV250, true, I::kPlain, "ATE0\r", "ATE0\r\r\nOK\r\n"},
        {"row 13", F::kV250, false, I::kPlain, "AT^SYSINFO\r", "\r\n^SYSINFO: 2,3,0,17,1\r\n\r\nOK\r\n"},
        {"row 18", F::kV250, false, I::kPlain, "AT+CIMI\r", "\r\n460023210226023\r\n\r\nOK\r\n"},
        {"row 17", F::kCompact, true, I::kPrefixed, "AT+CIMI\r", "AT+CIMI\r\r\n+CIMI: 460023210226023\r\nOK\r\n"},
        {"row 23", F::kCompact, true, I::kPrefixed, "AT+CGSN\r", "AT+CGSN\r\r\n+CGSN: 862140060226843\r\nOK\r\n"},
        {"row 25", F::kV250, false, I::kQuoted, "AT+CGSN\r", "\r\n+CGSN: \"862140060226843\"\r\n\r\nOK\r\n"},
        {"row 45", F::kV250, false, I::kPlain, "ATI\r", "\r\nERROR\r\n"},
        {"an empty line", F::kV250, false, I::kPlain, "\r\n", ""},
    };
    for (const Case& c : cases) {
        sim::ModemOptions o;
        o.framing = c.framing;
        o.echo = c.echo;
        o.ids = c.ids;
        o.state.rssi = 19;
        sim::CellularModule m(o);
        EXPECT_EQ(answer(m, c.host), c.module) << c.source;
    }
}

// The system's commands, whole and valid, are startup_test.cpp's; here the damaged ones.
TEST(SimReceiver, CommandsWithWrongSumsInPiecesOrCutShort) {
    sim::GpsReceiver r({}, {});
    EXPECT_EQ(r.feed(bytes("$PCAS04,1*18\r\n$PCAS04,2*1C\r\n")),
              (std::vector<sim::Sentence>{{"$PCAS04,1*18", true}, {"$PCAS04,2*1C", false}}));
    EXPECT_EQ(r.mode(), 1);  // a wrong checksum is recorded, not obeyed
    // The save as the system sends it after mode 3, with its terminating zero byte; a command in
    // pieces; one cut short by the next '$'.
    EXPECT_EQ(r.feed(bytes(std::string_view("$PCAS00*01\r\n\0$PCAS04,", 21))), (std::vector<sim::Sentence>{{"$PCAS00*01", true}}));
    EXPECT_EQ(r.saved_mode(), 1);
    EXPECT_EQ(r.feed(bytes("2*1B\r\n$PCAS04,3$PCAS04,3*1A\r\n")),
              (std::vector<sim::Sentence>{{"$PCAS04,2*1B", true}, {"$PCAS04,3", false}, {"$PCAS04,3*1A", true}}));
    EXPECT_EQ(r.mode(), 3);
}

TEST(SimReceiver, ReplaysACaptureWithoutTheExcludedTalkers) {
    const std::filesystem::path capture = std::string(SDK_BSP_TESTDATA) + "/nmea/beidou-bd.log";
    if (!std::filesystem::exists(capture)) GTEST_SKIP() << "no receiver captures in " << SDK_BSP_TESTDATA;
    const std::string file = testfiles::read_file(capture);
    std::string body, gps_only;  // the capture without its '#' header lines; and without BeiDou
    for (std::size_t at = 0, end; at < file.size(); at = end) {
        end = std::min(file.find('\n', at), file.size() - 1) + 1;
        if (file[at] == '#') continue;
        body += file.substr(at, end - at);
        if (file.compare(at, 3, "$BD") != 0) gps_only += file.substr(at, end - at);
    }
    sim::GpsOptions o{true, capture, 3 * static_cast<int>(body.size()), sim::gnss::kAll};
    const auto t0 = sim::SteadyClock::now();
    EXPECT_EQ(text(sim::GpsReceiver(o, t0).take(t0 + 1s)), body + body + body);  // and round again
    o.mode = sim::gnss::kGps;
    EXPECT_EQ(text(sim::GpsReceiver(o, t0).take(t0 + 1s)).substr(0, 2 * gps_only.size()), gps_only + gps_only);
    EXPECT_THROW(sim::GpsReceiver(sim::GpsOptions{true, capture.string() + ".missing"}, t0), std::runtime_error);
}

const fs::path kUciData = fs::path(SDK_BSP_TESTDATA) / "uci";

struct Result {
    int status;
    std::string out, err;
};

Result uci(const sim::uci::Dirs& dirs, std::vector<std::string> args) {
    Result r;
    r.status = sim::uci::run(args, dirs, r.out, r.err);
    return r;
}

// `uci get` and `uci show` of every file the real tool was asked about.
TEST(SimUci, AnswersAsTheRealUciDid) {
    if (!fs::exists(kUciData)) GTEST_SKIP() << "no UCI files in " << SDK_BSP_TESTDATA;
    const std::regex generated_name(R"(\.cfg[0-9a-f]{6}(\.|$))");  // names from `uci show -X`
    int checked = 0;
    for (const char* set : {"device", "handwritten"}) {
        const sim::uci::Dirs dirs{kUciData / set, fs::temp_directory_path() / "sim-uci-unused"};
        for (const auto& e : fs::directory_iterator(kUciData / "expected" / set)) {
            const std::string expected = testfiles::read_file(e.path());
            if (e.path().extension() == ".show") {
                EXPECT_EQ(uci(dirs, {"show", e.path().stem().string()}).out, expected) << e.path();
                ++checked;
                continue;
            }
            std::istringstream rows(expected);  // key, exit status, output
            for (std::string row; std::getline(rows, row);) {
                const auto tab1 = row.find('\t'), tab2 = row.find('\t', tab1 + 1);
                const std::string key = row.substr(0, tab1);
                if (std::regex_search(key, generated_name)) continue;
                const Result r = uci(dirs, {"get", key});
                EXPECT_EQ(r.status, std::stoi(row.substr(tab1 + 1, tab2 - tab1 - 1))) << key;
                EXPECT_EQ(r.out, r.status ? "" : row.substr(tab2 + 1) + "\n") << key;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 250);
}

// The shipped files, read and written back as `uci commit` writes them.
TEST(SimUci, WritesPackagesAsUciCommitDoes) {
    if (!fs::exists(kUciData)) GTEST_SKIP() << "no UCI files in " << SDK_BSP_TESTDATA;
    for (const auto& e : fs::directory_iterator(kUciData / "handwritten")) {
        const auto package = sim::uci::parse(testfiles::read_file(e.path()));
        EXPECT_EQ(sim::uci::export_text(package), testfiles::read_file(kUciData / "committed" / e.path().filename()))
            << e.path();
    }
}

TEST(SimBox, BridgesAChannelToTcp) {
    testfiles::TempDir dir;
    sim::Box box(dir.path());
    const auto port = box.board(1).bridge(2);
    const int client = testfiles::connect_loopback(port);
    ASSERT_GE(client, 0);
    // TCP to host: a channel-2 data frame on the board's port.
    const int ext1 = ::open((dir / "dev/ttymxc5").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(ext1, 0);
    tcflush(ext1, TCIOFLUSH);
    ASSERT_EQ(::send(client, "pong", 4, 0), 4);
    const sim::Bytes pong = {0x7E, 0x00, 0x04, 0x52, 0x70, 0x6F, 0x6E, 0x67, 0x0A, 0x0D};
    sim::Bytes got;
    for (pollfd p{ext1, POLLIN, 0}; got.size() < 64 && ::poll(&p, 1, 5000) > 0;) {
        unsigned char buf[64];
        auto n = ::read(ext1, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
        if (std::search(got.begin(), got.end(), pong.begin(), pong.end()) != got.end()) break;
    }
    EXPECT_NE(std::search(got.begin(), got.end(), pong.begin(), pong.end()), got.end());
    // Host to TCP: the payload of a channel-2 data frame, not looped back.
    const sim::Bytes xyz = {0x7E, 0x00, 0x03, 0x82, 0x78, 0x79, 0x7A, 0xF0, 0x0D};
    ASSERT_EQ(::write(ext1, xyz.data(), xyz.size()), 9);
    timeval five{5, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
    char buf[16] = {};
    ASSERT_EQ(::recv(client, buf, sizeof buf, 0), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    ::close(client);
    ::close(ext1);
}

// The echo switch is the module's echo as it is now: off after the host's ATE0, and on again when
// switched so.
TEST(SimModem, EchoSwitchFollowsTheHostsAte0) {
    testfiles::TempDir dir;
    sim::Box box(dir.path());
    const int at = ::open(box.modem().link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(at, 0);
    ASSERT_EQ(::write(at, "ATE0\r", 5), 5);
    ASSERT_TRUE(box.wait_for([&] { return !box.modem().echo(); }, 5s));
    EXPECT_EQ(box.state()["switches"]["modem-echo-off"], true);
    box.set({{"modem-echo-off", false}});
    EXPECT_TRUE(box.modem().echo());
    EXPECT_EQ(box.state()["switches"]["modem-echo-off"], false);
    ::close(at);
}

// The LED set-up writes each line's value twice in quick succession (dark, then lit): whatever the
// box makes of the first write, the line ends as the second one left it, every time.
TEST(SimGpio, AQuickSecondWriteIsTheLinesValue) {
    testfiles::TempDir dir;
    sim::Options opt;
    opt.exported = {1, 18};
    sim::Box box(dir.path(), opt);
    const fs::path gpio = dir.path() / "sys/class/gpio";
    testfiles::write_file(gpio / "gpio1/direction", "out");
    for (int i = 0; i < 100; ++i) {
        const int want = i % 2;
        testfiles::write_file(gpio / "gpio1/value", want ? "0" : "1");
        testfiles::write_file(gpio / "gpio18/value", "1");
        testfiles::write_file(gpio / "gpio1/value", want ? "1" : "0");
        ASSERT_TRUE(box.wait_for([&] { return box.gpio().line(1)->value == want; }, 2s)) << "write " << i;
    }
}

// Each refusal names what is wrong: a --device option, or a box whose devices cannot be.
TEST(SimDevices, RefusesWhatCannotBeByName) {
    const std::pair<const char*, const char*> options[] = {
        {"13=echo", "UART from 1 to 12"},
        {"2=meter", "no device kind \"meter\""},
        {"2=echo,baud=9600", "device kind echo takes no baud="},
        {"2=modbus,unit=0", "unit= takes a unit id from 1 to 247"},
        {"2=modbus,parity=mark", "parity= takes none, even or odd"},
        {"2=modbus,speed=9600", "no device option \"speed=9600\""},
        {"2=lines", "a lines device needs file="},
        {"2=tcp,port=70000", "port= takes a TCP port"},
    };
    for (const auto& [text, error] : options) {
        sim::DeviceSetup d;
        EXPECT_NE(sim::parse_device(text, d).find(error), std::string::npos) << text;
    }
    testfiles::TempDir dir;
    testfiles::write_file(dir / "coils.json", R"({"coils": 3})");
    testfiles::write_file(dir / "big.json", R"({"holding": [{"address": 0, "value": 65536}]})");
    const std::pair<std::vector<std::string>, std::string> boxes[] = {
        {{"7=modbus", "7=echo"}, "device 7: only Modbus units share a Uart"},
        {{"7=modbus", "7=modbus"}, "device 7: unit 1 given twice"},
        {{"7=modbus,baud=19200", "7=modbus,unit=2"}, "device 7: the units of one bus share its line settings"},
        {{"2=modbus,file=" + (dir / "coils.json").string()}, "coils.json: no table \"coils\""},
        {{"2=modbus,file=" + (dir / "big.json").string()}, "holding value 65536 is not 0 to 65535"},
    };
    for (const auto& [devices, error] : boxes) {
        sim::Options o;
        for (const auto& text : devices) ASSERT_EQ(sim::parse_device(text, o.devices.emplace_back()), "");
        try {
            sim::Box box(dir / "box", o);
            ADD_FAILURE() << error;
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(error), std::string::npos) << e.what();
        }
    }
}

}  // namespace
