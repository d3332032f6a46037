// The modem queries of the real library, through the host shell, against the simulated box's
// cellular module: what they store for each state of the module, in both framings, with echo on
// and off, and with a module that misbehaves. Expected texts come from the system's rules applied
// to the state the test gives the module (and from transcripts.md's real IMSI and IMEI).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using systest::TempRoot;
using testing::HasSubstr;

constexpr const char* kImsi = "460023210226023";  // transcripts.md row 19
constexpr const char* kImei = "862140060226843";  // row 23

class ShellModem : public testing::Test {
  protected:
    void start(const sim::ModemOptions& modem) {
        sim::Options o;
        o.modem = modem;
        o.modem.state.imsi = kImsi;
        o.modem.state.imei = kImei;
        box = std::make_unique<sim::Box>(root.path(), o);
        shell = std::make_unique<HostShell>(root, box->env());
        ASSERT_EQ(shell->call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
    }
    // A query on the module's AT device, e.g. query("readcsq") -> "readcsq -> 1".
    std::string query(const std::string& name, const std::string& atdev = "/dev/ttyUSB3") {
        return shell->call(name + " \"" + atdev + "\"", 30s);
    }
    std::string ntu(const std::string& field) { return shell->call("NTU \"" + field + "\""); }
    static std::string text(const std::string& s) { return "NTU -> \"" + s + "\""; }
    std::string log() { return systest::read_file(root / "tmp/sdklog.log"); }

    TempRoot root;
    std::unique_ptr<sim::Box> box;
    std::unique_ptr<HostShell> shell;
};

TEST_F(ShellModem, Ec20WithEchoOnThenOff) {
    sim::ModemOptions m;  // EC20, V.250 framing, echo on, as it ships
    m.state.rssi = 16;
    m.state.position = sim::ModemPosition{1139464, 226020, 57};
    start(m);
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-73"));
    EXPECT_EQ(query("read_sysinfo"), "read_sysinfo -> 17");
    EXPECT_EQ(ntu("netstate"), text("LTE"));
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");
    EXPECT_EQ(ntu("imsi"), text(kImsi));
    EXPECT_TRUE(shell->wait_out(std::string("AT+CIMI=AT+CIMI") + kImsi + "OK\n"));
    EXPECT_EQ(query("readIMEI"), "readIMEI -> 1");  // the digits after the echo "AT+CGSN"
    EXPECT_EQ(ntu("imei"), text(kImei));

    EXPECT_EQ(query("send_ate"), "send_ate -> 1");
    EXPECT_FALSE(box->modem().echo());
    auto state = box->modem().state();
    state.rssi = 31;
    box->modem().set_state(state);
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-54"));
    EXPECT_EQ(query("readgps"), "readgps -> void");
    EXPECT_EQ(ntu("longitude"), text("113.9464"));
    EXPECT_EQ(ntu("latitude"), text("22.6020"));
    EXPECT_EQ(ntu("high"), text("57"));
    EXPECT_EQ(ntu("attimeouts"), "NTU -> 0");
    EXPECT_EQ(shell->finish(), 0);
    EXPECT_EQ(box->modem().commands(), (std::vector<std::string>{"AT+CSQ", "AT^SYSINFO", "AT+CIMI", "AT+CGSN", "ATE0",
                                                                 "AT+CSQ", "~2101D0900000FD9F"}));
}

TEST_F(ShellModem, NeowayCompactFramingPrefixedIdentities) {
    sim::ModemOptions m;
    m.row = 2;  // N720CA04: AT device /dev/ttyUSB3, "+CIMI: " and "+CGSN: " answers
    m.framing = sim::Framing::kCompact;
    m.echo = false;
    m.state.rssi = 9;
    m.state.mode = 9;
    start(m);
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-94"));
    EXPECT_EQ(query("read_sysinfo"), "read_sysinfo -> 9");
    EXPECT_EQ(query("read_MINI"), "read_MINI -> void");
    EXPECT_EQ(ntu("imsi"), text(kImsi));
    EXPECT_EQ(ntu("cardstat"), "NTU -> 1");
    // read_MINI1 keeps the prefixed line whole, cut to the field's 19 characters.
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");
    EXPECT_EQ(ntu("imsi"), text("+CIMI: 460023210226"));
    EXPECT_EQ(query("readIMEI"), "readIMEI -> 1");
    EXPECT_EQ(ntu("imei"), text(kImei));
    EXPECT_EQ(query("send_DialSoftReboot"), "send_DialSoftReboot -> 1");
    EXPECT_TRUE(box->wait_for([&] { return box->modem().restarts() == 1; }, 5s));
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(ShellModem, AnswersLateAndInOneBytePieces) {
    sim::ModemOptions m;
    m.echo = false;
    m.faults.pieces = true;  // 20 ms apart: an answer spreads over several polls
    m.faults.delay = 300ms;
    start(m);
    EXPECT_EQ(query("send_ath"), "send_ath -> 1");
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");
    EXPECT_EQ(ntu("imsi"), text(kImsi));
    EXPECT_EQ(query("readIMEI"), "readIMEI -> 1");
    EXPECT_EQ(ntu("imei"), text(kImei));
    EXPECT_TRUE(shell->wait_out(std::string("NTU.imei=") + kImei));
    // Last: its "OK" comes after the line it waits for, and would be the next exchange's first line.
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-61"));
    EXPECT_EQ(ntu("attimeouts"), "NTU -> 0");
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(ShellModem, UnsolicitedLinesBetweenAnswers) {
    sim::ModemOptions m;  // echo on until ATE0, as the module ships
    m.faults.unsolicited = true;  // an unsolicited line ("RDY", ...) after every answer
    start(m);
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

TEST_F(ShellModem, SilentErrorsNoSimNoServiceAndUnplugged) {
    sim::ModemOptions m;
    m.echo = false;
    m.faults.silent = true;
    start(m);
    EXPECT_EQ(shell->call(R"(NTU_set "csq" "-60")"), "NTU_set -> 0");
    EXPECT_EQ(query("readcsq"), "readcsq -> -1");  // 3 x 11 polls of 100 ms
    EXPECT_EQ(ntu("attimeouts"), "NTU -> 1");
    auto modem = box->modem();
    sim::ModemFaults faults;
    faults.error = true;
    modem.set_faults(faults);
    EXPECT_EQ(query("send_ate"), "send_ate -> -1");
    EXPECT_EQ(query("readcsq"), "readcsq -> -1");
    EXPECT_EQ(ntu("csq"), text("-60"));

    faults.error = false;
    faults.cme_error = true;
    modem.set_faults(faults);
    EXPECT_EQ(shell->call(std::string("NTU_set \"imsi\" \"") + kImsi + "\""), "NTU_set -> 0");
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");
    EXPECT_TRUE(shell->wait_out("AT+CIMI=+CME ERROR: 100\n"));
    EXPECT_EQ(ntu("imsi"), text(kImsi));

    faults = sim::ModemFaults{};
    faults.no_service = true;
    modem.set_faults(faults);
    auto state = modem.state();
    state.sim = false;
    modem.set_state(state);
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-107"));
    EXPECT_EQ(query("read_sysinfo"), "read_sysinfo -> -1");  // and 2 s without service
    EXPECT_EQ(ntu("netstate"), text("SIMOVER"));

    faults.unplugged = true;
    modem.set_faults(faults);
    ASSERT_TRUE(box->wait_for([&] { return !modem.present(); }, 5s));
    EXPECT_EQ(query("readcsq"), "readcsq -> 0");
    EXPECT_EQ(query("send_ate"), "send_ate -> -1");
    EXPECT_EQ(ntu("csq"), text("-107"));
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(ShellModem, OverlongAnswersOverflowNothing) {
    sim::ModemOptions m;
    m.echo = false;
    m.faults.long_answers = 3000;  // every information line padded with '9's
    start(m);
    EXPECT_EQ(shell->call(std::string("NTU_set \"imei\" \"") + kImei + "\""), "NTU_set -> 0");
    EXPECT_EQ(query("readIMEI"), "readIMEI -> 0");  // the kept 1023 characters hold no "OK"
    EXPECT_EQ(ntu("imei"), text(kImei));
    EXPECT_EQ(query("read_MINI1"), "read_MINI1 -> void");  // nor here: the IMSI is cleared
    EXPECT_EQ(ntu("imsi"), text(""));
    EXPECT_EQ(query("readcsq"), "readcsq -> 1");
    EXPECT_EQ(ntu("csq"), text("-61"));
    // Longer than the line buffer: the first 8192 characters are dropped, the rest is no answer.
    auto faults = box->modem().faults();
    faults.long_answers = 9000;
    box->modem().set_faults(faults);
    EXPECT_EQ(query("readcsq"), "readcsq -> -1");
    EXPECT_EQ(ntu("csq"), text("-61"));
    EXPECT_EQ(shell->finish(), 0);
    EXPECT_THAT(log(), HasSubstr("]:tERROR: Input line exceeded buffer"));
}

}  // namespace
