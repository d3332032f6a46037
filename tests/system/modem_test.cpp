// The modem queries of the real library, through the host shell, against the simulated box's
// cellular module misbehaving on a real pty: late answers in one-byte pieces, unsolicited lines
// between answers. What each query stores for each answer is pinned by the unit tests, the query
// cycle of a well-behaved module by the supervisor's (dial_test.cpp). Expected texts come from the
// system's rules applied to the state the test gives the module (transcripts.md's IMSI and IMEI).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using systest::TempRoot;

constexpr const char* kImsi = "460023210226023";  // transcripts.md row 19
constexpr const char* kImei = "862140060226843";  // row 23

class ShellModem : public testing::Test {
  protected:
    void start(bool echo, const sim::ModemFaults& faults) {
        sim::Options o;
        o.modem.echo = echo;
        o.modem.faults = faults;
        o.modem.state.imsi = kImsi;
        o.modem.state.imei = kImei;
        box = std::make_unique<sim::Box>(root.path(), o);
        shell = std::make_unique<HostShell>(root, box->env());
        ASSERT_EQ(shell->call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
    }
    // A query on the EC20's AT device, e.g. query("readcsq") -> "readcsq -> 1".
    std::string query(const std::string& name) { return shell->call(name + " \"/dev/ttyUSB3\"", 30s); }
    std::string ntu(const std::string& field) { return shell->call("NTU \"" + field + "\""); }
    static std::string text(const std::string& s) { return "NTU -> \"" + s + "\""; }

    TempRoot root;
    std::unique_ptr<sim::Box> box;
    std::unique_ptr<HostShell> shell;
};

TEST_F(ShellModem, AnswersLateAndInOneBytePieces) {
    start(false, {.delay = 300ms, .pieces = true});  // 20 ms apart: an answer spreads over several polls
    EXPECT_EQ(query("send_ath"), "send_ath -> 1");
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");
    EXPECT_EQ(ntu("imsi"), text(kImsi));
    EXPECT_EQ(query("readIMEI"), "readIMEI -> 1");
    EXPECT_TRUE(shell->wait_out(std::string("NTU.imei=") + kImei));
    // Last: its "OK" comes after the line it waits for, and would be the next exchange's first line.
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-61"));
    EXPECT_EQ(ntu("attimeouts"), "NTU -> 0");
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(ShellModem, UnsolicitedLinesBetweenAnswers) {
    start(true, {.unsolicited = true});  // "RDY", ... after every answer; echo on until ATE0
    // The exchanges that wait for one line let the unsolicited ones pass.
    EXPECT_EQ(query("send_ate"), "send_ate -> 1");
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-61"));
    EXPECT_EQ(query("read_sysinfo"), "read_sysinfo -> 17");
    auto modem = box->modem();
    modem.set_faults({});
    EXPECT_EQ(query("send_ath"), "send_ath -> 1");  // takes the last one in passing
    // The collecting exchanges keep every line: an unsolicited one becomes part of the IMSI's text,
    // which is then cut to its 19 characters.
    modem.push("\r\n+CPIN: READY\r\n");
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");
    EXPECT_EQ(ntu("imsi"), text("+CPIN: READY4600232"));
    EXPECT_EQ(query("readIMEI"), "readIMEI -> 1");
    EXPECT_EQ(ntu("imei"), text(kImei));
    EXPECT_EQ(ntu("attimeouts"), "NTU -> 0");
    EXPECT_EQ(shell->finish(), 0);
}

}  // namespace
