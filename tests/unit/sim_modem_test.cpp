// The simulated cellular module: its answers against the forms real modules send
// (../shared/testdata/modem/transcripts.md, rows cited), its faults, its restart, and its AT device
// in the box, which comes and goes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/box.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using sim::CellularModule;
using sim::ModemOptions;
using sim::ModemPiece;
using testing::HasSubstr;

std::span<const std::uint8_t> bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

// Everything the module sends for the host's bytes, joined.
std::string joined(const std::vector<ModemPiece>& pieces) {
    std::string s;
    for (const auto& p : pieces) s += p.bytes;
    return s;
}

TEST(SimModem, AnswersAsRealModulesFrameThem) {
    struct Case {
        const char* source;
        sim::Framing framing;
        bool echo;
        sim::IdForm ids;
        const char* host;
        const char* module;
    };
    using F = sim::Framing;
    using I = sim::IdForm;
    const Case cases[] = {
        {"row 1", F::kV250, true, I::kPlain, "AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 19,99\r\n\r\nOK\r\n"},
        {"row 3", F::kCompact, true, I::kPlain, "AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 19,99\r\nOK\r\n"},
        {"row 11", F::kV250, false, I::kPlain, "AT+CSQ\r", "\r\n+CSQ: 19,99\r\n\r\nOK\r\n"},
        {"row 30", F::kV250, false, I::kPlain, "ATE0\r", "\r\nOK\r\n"},
        {"row 32", F::kV250, true, I::kPlain, "ATE0\r", "ATE0\r\r\nOK\r\n"},
        {"row 13", F::kV250, false, I::kPlain, "AT^SYSINFO\r", "\r\n^SYSINFO: 2,3,0,17,1\r\n\r\nOK\r\n"},
        {"row 18", F::kV250, false, I::kPlain, "AT+CIMI\r", "\r\n460023210226023\r\n\r\nOK\r\n"},
        {"row 17", F::kCompact, true, I::kPrefixed, "AT+CIMI\r", "AT+CIMI\r\r\n+CIMI: 460023210226023\r\nOK\r\n"},
        {"row 27", F::kV250, false, I::kPlain, "AT+CGSN\r", "\r\n862140060226843\r\n\r\nOK\r\n"},
        {"row 23", F::kCompact, true, I::kPrefixed, "AT+CGSN\r", "AT+CGSN\r\r\n+CGSN: 862140060226843\r\nOK\r\n"},
        {"row 25", F::kV250, false, I::kQuoted, "AT+CGSN\r", "\r\n+CGSN: \"862140060226843\"\r\n\r\nOK\r\n"},
        {"row 37", F::kV250, false, I::kPlain, "AT+CPIN?\r", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
        {"row 38", F::kV250, false, I::kPlain, "ath\r", "\r\nOK\r\n"},
        {"row 45", F::kV250, false, I::kPlain, "ATI\r", "\r\nERROR\r\n"},
        {"empty line", F::kV250, false, I::kPlain, "\r\n", ""},
    };
    for (const Case& c : cases) {
        ModemOptions o;
        o.framing = c.framing;
        o.echo = c.echo;
        o.ids = c.ids;
        o.state.rssi = 19;
        CellularModule m(o);
        EXPECT_EQ(joined(m.feed(bytes(c.host))), c.module) << c.source;
    }
}

TEST(SimModem, EchoesUntilAte0AndKeepsItsState) {
    CellularModule m(ModemOptions{});
    EXPECT_TRUE(m.echo());
    // The command arrives in two writes (the line, then its carriage return): echoed as it comes.
    EXPECT_EQ(joined(m.feed(bytes("ATE0"))), "ATE0");
    EXPECT_EQ(joined(m.feed(bytes("\r"))), "\r\r\nOK\r\n");
    EXPECT_EQ(joined(m.feed(bytes("AT+CSQ\r"))), "\r\n+CSQ: 24,99\r\n\r\nOK\r\n");
    m.state().sim = false;
    EXPECT_EQ(joined(m.feed(bytes("AT+CIMI\r"))), "\r\n+CME ERROR: 10\r\n");  // row 47
    EXPECT_EQ(joined(m.feed(bytes("AT^SYSINFO\r"))), "\r\n^SYSINFO: 2,3,0,17,255\r\n\r\nOK\r\n");
    EXPECT_EQ(m.commands(), (std::vector<std::string>{"ATE0", "AT+CSQ", "AT+CIMI", "AT^SYSINFO"}));
}

TEST(SimModem, FaultsOnRequest) {
    struct Case {
        const char* name;
        sim::ModemFaults faults;
        std::vector<ModemPiece> pieces;  // for "AT+CSQ\r", echo off
    };
    sim::ModemFaults slow, pieces, unsolicited, silent, error, cme, no_service, long_answers;
    slow.delay = 1500ms;
    pieces.pieces = true;
    unsolicited.unsolicited = true;
    silent.silent = true;
    error.error = true;
    cme.cme_error = true;
    no_service.no_service = true;
    long_answers.long_answers = 20;
    std::vector<ModemPiece> split;
    const std::string answer = "\r\n+CSQ: 24,99\r\n\r\nOK\r\n";
    for (std::size_t i = 0; i < answer.size(); ++i) split.push_back({answer.substr(i, 1), i ? 20ms : 0ms});
    const Case cases[] = {
        {"slow", slow, {{answer, 1500ms}}},
        {"pieces", pieces, split},
        {"unsolicited", unsolicited, {{answer, 0ms}, {"\r\nRDY\r\n", 200ms}}},
        {"silent", silent, {}},
        {"error", error, {{"\r\nERROR\r\n", 0ms}}},
        {"cme", cme, {{"\r\n+CME ERROR: 100\r\n", 0ms}}},
        {"no service", no_service, {{"\r\n+CSQ: 99,99\r\n\r\nOK\r\n", 0ms}}},
        {"long answers", long_answers, {{"\r\n+CSQ: 24,99999999999\r\n\r\nOK\r\n", 0ms}}},
    };
    for (const Case& c : cases) {
        ModemOptions o;
        o.echo = false;
        o.faults = c.faults;
        CellularModule m(o);
        EXPECT_EQ(m.feed(bytes("AT+CSQ\r")), c.pieces) << c.name;
        EXPECT_EQ(m.commands().size(), 1u) << c.name;  // received all the same
    }
}

TEST(SimModem, RestartsOnCfunAndAnnouncesItself) {
    CellularModule m(ModemOptions{});
    m.feed(bytes("ATE0\r"));
    EXPECT_EQ(joined(m.feed(bytes("AT+CFUN=1,1\r"))), "\r\nOK\r\n");  // row 42
    EXPECT_EQ(m.restarts(), 1);
    EXPECT_TRUE(m.take_restart());
    EXPECT_FALSE(m.take_restart());
    // Row 41: Quectel's announcements after a reset; echo is on again.
    EXPECT_EQ(joined(m.boot()), "\r\nRDY\r\n\r\n+CFUN: 1\r\n\r\n+CPIN: READY\r\n\r\n+QIND: SMS DONE\r\n\r\n+QIND: PB DONE\r\n");
    EXPECT_TRUE(m.echo());
}

TEST(SimModem, AnswersThePositionQueryWithAPowerProtocolFrame) {
    ModemOptions o;
    o.echo = false;
    CellularModule m(o);
    // The reply's INFO from offset 13: a status byte, longitude, latitude (32 bits), height (16).
    EXPECT_EQ(joined(m.feed(bytes("~2101D0900000FD9F\r"))),
              std::string("\r\n~2101D0009016") + "00" + "00116308" + "000372E4" + "0039" + "F934\r\n");
    EXPECT_EQ(joined(m.feed(bytes("~2101D0900000FD9E\r"))), "\r\nERROR\r\n");  // a wrong CHKSUM
}

TEST(SimModem, RowsByNumberOrModel) {
    struct Case {
        const char* text;
        std::optional<int> row;
    };
    for (const Case& c : {Case{"EC20", 10}, Case{"10", 10}, Case{"ZTE3630", 1}, Case{"M820A", 15}, Case{"15", 15},
                          Case{"0", std::nullopt}, Case{"16", std::nullopt}, Case{"ec20", std::nullopt},
                          Case{"", std::nullopt}})
        EXPECT_EQ(sim::modem_row(c.text), c.row) << c.text;
    EXPECT_STREQ(sim::kModemTable[9].usb_id, "2c7c:0125");
    EXPECT_STREQ(sim::kModemTable[9].at_device, "/dev/ttyUSB3");
    EXPECT_STREQ(sim::kModemTable[2].at_device, "/dev/ttyS6");
}

// The AT device as the host opens it: read with a deadline.
std::string read_until(int fd, const std::string& want, std::chrono::milliseconds timeout = 5s) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buf[256];
        const auto n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

class SimModemThreads : public unit::RootedTest {};

TEST_F(SimModemThreads, TheAtDeviceComesAndGoesWithTheModule) {
    sim::Box box(root_);
    auto modem = box.modem();
    ASSERT_TRUE(modem.fitted());
    EXPECT_EQ(modem.link(), root_ / "dev/ttyUSB3");
    ASSERT_TRUE(std::filesystem::is_symlink(modem.link()));
    EXPECT_THAT(box.status(), HasSubstr("modem     EC20 (row 10, 2c7c:0125) at dev/ttyUSB3, V.250 framing, echo on"));

    int fd = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "AT+CSQ\r", 7), 7);
    EXPECT_EQ(read_until(fd, "OK\r\n"), "AT+CSQ\r\r\n+CSQ: 24,99\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.commands(), std::vector<std::string>{"AT+CSQ"});
    ::close(fd);

    auto faults = modem.faults();
    faults.unplugged = true;
    modem.set_faults(faults);
    EXPECT_TRUE(box.wait_for([&] { return !std::filesystem::exists(modem.link()); }, 5s));
    EXPECT_THAT(box.status(), HasSubstr("(gone: unplugged)"));
    faults.unplugged = false;
    modem.set_faults(faults);
    ASSERT_TRUE(box.wait_for([&] { return modem.present() && std::filesystem::exists(modem.link()); }, 5s));
    // Back, it starts afresh and says so.
    fd = ::open(modem.link().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_THAT(read_until(fd, "+QIND: PB DONE\r\n"), testing::StartsWith("\r\nRDY\r\n"));

    // AT+CFUN=1,1: "OK", then away for the restart, then back.
    ASSERT_EQ(::write(fd, "AT+CFUN=1,1\r", 12), 12);
    EXPECT_EQ(read_until(fd, "OK\r\n"), "AT+CFUN=1,1\r\r\nOK\r\n");
    ::close(fd);
    EXPECT_TRUE(box.wait_for([&] { return !modem.present(); }, 5s));
    EXPECT_TRUE(box.wait_for([&] { return modem.present(); }, 5s));
    EXPECT_EQ(modem.restarts(), 1);
}

TEST_F(SimModemThreads, AnyRowOfTheTableOrNone) {
    sim::Options o;
    o.modem.row = 1;  // ZTE3630: AT device /dev/ttyUSB1
    {
        sim::Box box(root_, o);
        EXPECT_TRUE(std::filesystem::is_symlink(root_ / "dev/ttyUSB1"));
        EXPECT_FALSE(std::filesystem::exists(root_ / "dev/ttyUSB3"));
    }
    EXPECT_FALSE(std::filesystem::exists(root_ / "dev/ttyUSB1"));  // removed with the box
    o.modem.fitted = false;
    sim::Box box(root_, o);
    EXPECT_FALSE(box.modem().fitted());
    EXPECT_THAT(box.status(), HasSubstr("modem     none fitted"));
}

}  // namespace
