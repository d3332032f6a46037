// The LTE supervisor and the Dial API of the real library, through the host shell, against the
// simulated box's module and tools: detection and its set-up once per module, the query cycle,
// dialling with and without service, restarts and power cycles, a module that goes away. Expected
// commands, log lines and JSON are the system's own texts, filled with the state the test gives.
// Two boxes, each with one host in sequence, so the two tests run side by side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using systest::TempRoot;
using testing::HasSubstr;

using Lines = std::vector<std::string>;

bool has_run(const Lines& lines, const Lines& in_a_row) {
    return std::search(lines.begin(), lines.end(), in_a_row.begin(), in_a_row.end()) != lines.end();
}

class ShellDial : public testing::Test {
  protected:
    void start() {
        sim::Options o;
        o.modem.state.imsi = "460023210226023";  // transcripts.md rows 19 and 23; carrier 46002, CMCC
        o.modem.state.imei = "862140060226843";
        o.modem.ppp_address = "10.64.12.7";
        box = std::make_unique<sim::Box>(root.path(), o);
        shell = std::make_unique<HostShell>(root, box->env());
        ASSERT_EQ(shell->call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
        ASSERT_EQ(shell->call("FSU_Lte_THREAD_START"), "FSU_Lte_THREAD_START -> 0");
    }
    Lines run() {  // the commands the library ran, in order
        std::istringstream in(systest::read_file(root / "cmdlog"));
        Lines lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
    long times(const std::string& command) { return std::ranges::count(run(), command); }
    // Waits until the command has run `more` times more than it had.
    bool runs_again(const std::string& command, long more, std::chrono::milliseconds deadline = 20s) {
        const long before = times(command);
        return box->wait_for([&] { return times(command) >= before + more; }, deadline);
    }
    bool sent(const Lines& in_a_row, std::chrono::milliseconds deadline = 20s) {
        return box->wait_for([&] { return has_run(box->modem().commands(), in_a_row); }, deadline);
    }
    std::string log() { return systest::read_file(root / "tmp/sdklog.log"); }

    TempRoot root;
    std::unique_ptr<sim::Box> box;
    std::unique_ptr<HostShell> shell;
};

TEST_F(ShellDial, DetectsQueriesDialsKeepsTheAddressUnpluggedAndFollowsASwap) {
    start();
    auto modem = box->modem();
    // Three cycles in order, the IMSI and the IMEI in the first only.
    const Lines cycles{"ATE0", "AT+CSQ", "AT^SYSINFO", "AT+CIMI", "AT+CGSN", "ATE0", "AT+CSQ", "AT^SYSINFO", "ATE0"};
    ASSERT_TRUE(box->wait_for([&] { return modem.commands().size() >= cycles.size(); }, 20s));
    Lines first = modem.commands();
    first.resize(cycles.size());
    EXPECT_EQ(first, cycles);
    const std::string new_id = "echo \"0x2c7c 0x0125\"> " + (root / "sys/bus/usb-serial/drivers/option1/new_id").string();
    EXPECT_EQ(times("uci set network.ppp0.device=/dev/ttyUSB2"), 1);
    EXPECT_EQ(times("uci commit"), 1);
    EXPECT_EQ(times(new_id), 1);
    EXPECT_EQ(shell->call("DialIsOnline"), "DialIsOnline -> -1");

    // Dialling: a query cycle, registration, hang-up and lte.sh afresh; online once ppp0 has its address.
    modem.clear();
    EXPECT_EQ(shell->call(R"(DialDial "apn" "user")"), "DialDial -> 0");
    EXPECT_TRUE(sent({"ATE0", "AT+CSQ", "AT^SYSINFO", "AT^SYSINFO", "ATH"}));
    EXPECT_EQ(shell->call_until("DialIsOnline", "-> 0", 30s), "DialIsOnline -> 0");
    EXPECT_TRUE(has_run(run(), {"killall lte.sh", "nohup  lte.sh &"}));

    // Unplugged: detection finds nothing, so no query runs and the last address stays.
    modem.set_faults({.unplugged = true});
    ASSERT_TRUE(box->wait_for([&] { return !modem.present(); }, 5s));
    modem.clear();
    const long addresses = times("ifconfig ppp0");
    ASSERT_TRUE(runs_again("lsusb", 2));
    EXPECT_THAT(modem.commands(), testing::IsEmpty());
    EXPECT_EQ(times("ifconfig ppp0"), addresses);
    EXPECT_EQ(shell->call("DialIsOnline"), "DialIsOnline -> 0");

    // Another module in its place (row 4, ZTE3630c3b): set up once more, for its own devices.
    modem.replace(4);
    modem.set_faults({});
    ASSERT_TRUE(box->wait_for([&] { return times("uci commit") == 2; }, 20s));
    EXPECT_EQ(times("uci set network.ppp0.device=ttyUSB2"), 1);
    EXPECT_EQ(times(new_id), 1);  // its ids are the driver's own
    EXPECT_EQ(shell->call("NTU \"atdev\""), "NTU -> \"/dev/ttyUSB1\"");
    EXPECT_EQ(shell->call("NTU \"mode_id\""), "NTU -> 4");

    EXPECT_EQ(shell->call("FSU_Lte_THREAD_START"), "FSU_Lte_THREAD_START -> -1");
    EXPECT_EQ(shell->finish(), 0);
    const std::string text = log();
    EXPECT_EQ(text.find("]:LTE_TEHED START!"), text.rfind("]:LTE_TEHED START!"));
    EXPECT_THAT(text, HasSubstr("]:start up killall lte.sh-start lte.sh\r\n"));
}

TEST_F(ShellDial, SoftAndHardRestartTogetherSoftFirstThenNoDialWithoutService) {
    start();
    auto modem = box->modem();
    ASSERT_TRUE(sent({"ATE0", "AT+CSQ", "AT^SYSINFO"}));
    EXPECT_EQ(shell->call("DialHardReboot"), "DialHardReboot -> 0");  // cycles the 12 V output for 3 s first
    EXPECT_EQ(shell->call("DialSoftReboot"), "DialSoftReboot -> 0");
    auto gpio12 = [&] { return box->gpio().line(12).value_or(sim::GpioLine{}).value; };
    ASSERT_TRUE(box->wait_for([&] { return gpio12() == 0; }, 20s));
    EXPECT_EQ(modem.restarts(), 1);  // "AT+CFUN=1,1" came first
    // Asked for during the power cycle: dropped.
    EXPECT_EQ(shell->call("DialSoftReboot"), "DialSoftReboot -> 0");
    ASSERT_TRUE(box->wait_for([&] { return gpio12() == 1; }, 10s));
    const std::string value = (root / "sys/class/gpio/gpio12/value").string();
    EXPECT_TRUE(has_run(run(), {"echo 0 > " + value, "echo 1 > " + value}));
    EXPECT_TRUE(box->wait_for([&] { return modem.present(); }, 5s));
    EXPECT_EQ(modem.power_cycles(), 1);
    ASSERT_TRUE(runs_again("lsusb", 2));  // a whole pass after the power cycle
    EXPECT_EQ(modem.restarts(), 1);

    // Out of service, a dial request starts nothing and is dropped.
    modem.set_faults({.no_service = true});
    EXPECT_EQ(shell->call(R"(DialDial "" "")"), "DialDial -> 0");
    ASSERT_TRUE(box->wait_for([&] { return log().find("]:LTE SYS NO CSQ!") != std::string::npos; }, 30s));
    EXPECT_EQ(shell->call("NTU \"pppdstart\""), "NTU -> 0");
    EXPECT_EQ(times("killall lte.sh") + times("nohup  lte.sh &"), 0);
    EXPECT_THAT(modem.commands(), testing::Not(testing::Contains("ATH")));
    EXPECT_EQ(shell->finish(), 0);
    EXPECT_THAT(log(), HasSubstr("]:无线模块断电硬重启DialHardReboot"));
}

}  // namespace
