// The box's switches set over its control API while the real library runs against it, through the
// host shell: what the library then does, from the system's own texts. The signal the Dial API
// reports follows the CSQ-to-dBm table; the GPS API follows the receiver's new position; a serial
// device pulled out fails its writes with the port layer's I/O error line while the others serve,
// and a new one serves once the host opens it again; board 1 sending garbage before every frame
// still carries every byte of its channels. Run in the plain build only (label default-only).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <httplib.h>

#include <memory>
#include <string>

#include "host_shell.h"
#include "sim/box.h"
#include "sim/control.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using testing::HasSubstr;

class LiveSwitches : public testing::Test {
  protected:
    void start(sim::Options o) {
        o.announce_period = 300ms;
        box = std::make_unique<sim::Box>(root.path(), o);
        server = std::make_unique<sim::ControlServer>(*box, sim::ControlOptions{});
        shell = std::make_unique<HostShell>(root, box->env());
        ASSERT_EQ(shell->call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
    }
    void set(const std::string& body) {
        const auto r = httplib::Client(server->url()).Post("/api/set", body, "application/json");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
    }
    std::size_t count(const std::string& what) {
        const std::string out = shell->out();
        std::size_t n = 0;
        for (auto at = out.find(what); at != std::string::npos; at = out.find(what, at + 1)) ++n;
        return n;
    }
    std::string round_trip(int uart, const std::string& hex) {
        const std::string id = "\"Local/Uart/" + std::to_string(uart) + "\"";
        shell->call("WriteUart " + id + " hex:" + hex + " " + std::to_string(hex.size() / 2));
        return shell->call_until("ReadUart " + id + " bytes:64 64 100", "hex:" + hex);
    }

    systest::TempRoot root;
    std::unique_ptr<sim::Box> box;
    std::unique_ptr<sim::ControlServer> server;
    std::unique_ptr<HostShell> shell;
};

TEST_F(LiveSwitches, DialReportFollowsTheSignal) {
    start({});
    ASSERT_EQ(shell->call("FSU_Lte_THREAD_START"), "FSU_Lte_THREAD_START -> 0");
    // r 10 to 15 gives r - 87; r 16 to 21 gives r - 89.
    for (const auto& [csq, dbm] : {std::pair{10, "-77"}, {16, "-73"}}) {
        set("{\"modem-csq\": " + std::to_string(csq) + "}");
        const std::string signal = R"(\"SignalStrength\":\")" + std::string(dbm) + R"(\")";  // quoted by the shell
        EXPECT_THAT(shell->call_until("DialGetDynamicInfo buf:137 0", signal, 20s), HasSubstr(signal)) << csq;
    }
    EXPECT_EQ(shell->finish(), 0);
}

TEST_F(LiveSwitches, SerialSideAndReceiverFollowTheSwitches) {
    sim::Options o;
    o.gps.enabled = true;
    start(o);
    for (const char* call : {"M_COM_INIT", "BSP_BAU_INIT", "FSU_COM_READ_THREAD_START"})
        ASSERT_EQ(shell->call(call), std::string(call) + " -> void");
    ASSERT_EQ(shell->call("SetPositionMode 3", 15s), "SetPositionMode -> 0");
    // 3115.00000 N 12130.00000 E: whole in single precision; high is 10.5 plus the -2.1 separation.
    set(R"({"gps-position": "31.25,121.5,10.5"})");
    EXPECT_THAT(shell->call_until("GET_BSP_GPS_INFO buf:384", "lon=121.5", 15s),
                HasSubstr("lon=121.50000000,lat=31.25000000,high=8.400000,"));

    set(R"({"garbage.1": "on"})");
    for (int uart : {5, 6, 7, 8}) EXPECT_EQ(round_trip(uart, "00017E0D0A61"), "ReadUart -> 6 hex:00017E0D0A61") << uart;

    const std::string io_error = "ErrNo:0x01020002.\n";
    const std::size_t errors = count(io_error);
    set(R"({"unplugged.ttymxc2": true})");
    EXPECT_EQ(shell->call("WriteUart \"Local/Uart/2\" hex:6F6B 2"), "WriteUart -> 0");
    EXPECT_TRUE(box->wait_for([&] { return count(io_error) > errors; }, 5s));
    for (int uart : {1, 3, 5}) EXPECT_EQ(round_trip(uart, "6F6B"), "ReadUart -> 2 hex:6F6B") << uart;
    // A new device plugged in: the open port stays dead until the host opens it again.
    set(R"({"unplugged.ttymxc2": false})");
    EXPECT_EQ(shell->call("SDK_BSP_ComDestroy 1"), "SDK_BSP_ComDestroy -> 0");
    const std::size_t from = shell->out().size();
    EXPECT_EQ(shell->call("BSP_ComCreate 1"), "BSP_ComCreate -> 0");
    EXPECT_TRUE(shell->wait_out("BSP_ComCreate(1, /dev/ttymxc2) success !\n", 5s, from));
    EXPECT_EQ(round_trip(2, "6F6B"), "ReadUart -> 2 hex:6F6B");
    EXPECT_EQ(shell->finish(), 0);
}

}  // namespace
