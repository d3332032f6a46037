// The modem state record (what a fresh start of the supervisor clears and keeps, its texts handed
// over between threads under the record's lock) and the Dial API on it: the requests it leaves, its
// log lines at their levels, and its reports. Then detection on real lsusb lines, the interface
// address from the kernel and from ifconfig listings, and the runners, through stand-ins in the
// root's bin/ that print what the test leaves there.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "lte/lte.h"
#include "nmea.h"
#include "support.h"

namespace {

using bsp::lte::Field;
using bsp::lte::Word;
using unit::put_text;

TEST(ModemRecord, DataInitClearsAllButTheIdentities) {
    std::memset(&NTU, 0x5A, sizeof NTU);  // every byte written, as a long-running process leaves it
    put_text(NTU.imsi, "460023210226023");
    put_text(NTU.imei, "862140060226843");
    NTU.attimeouts = 7;
    EXPECT_EQ(unit::printed(data_init), "################NTU.mode_id=0\n");
    // Kept: the identities, the time-out count and the two reserved areas the supervisor leaves.
    NTU_T want{};
    std::strcpy(want.imsi, "460023210226023");
    std::strcpy(want.imei, "862140060226843");
    want.attimeouts = 7;
    std::memset(want.reserved5, 0x5A, sizeof want.reserved5);
    std::memset(want.reserved7, 0x5A, sizeof want.reserved7);
    const auto* got = reinterpret_cast<const unsigned char*>(&NTU);
    const auto* wanted = reinterpret_cast<const unsigned char*>(&want);
    for (std::size_t at = 0; at < sizeof NTU; ++at) ASSERT_EQ(got[at], wanted[at]) << "byte " << at;
}

TEST(ModemRecordThreads, TextsCopiedWhileRewrittenAreWhole) {
    constexpr int kRounds = 20000;
    const std::string kTexts[] = {"-107", "-73", "-101"};
    bsp::lte::set_text(Field::kCsq, kTexts[0]);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            bsp::lte::set_text(Field::kCsq, kTexts[i % 3]);
            bsp::lte::take_request(Word::kPppdstart);  // the supervisor takes a request
        }
        done = true;
    });
    int torn = 0;
    while (!done) {
        const std::string seen = bsp::lte::text(Field::kCsq).data();
        torn += seen != kTexts[0] && seen != kTexts[1] && seen != kTexts[2];
        bsp::lte::set_word(Word::kPppdstart, 1);  // a host requests, as DialDial does
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

class DialApi : public unit::RootedTest {
  protected:
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        NTU = NTU_T{};
        RootedTest::TearDown();
    }
    // The call's log records when only its level goes to the file.
    std::vector<std::string> logged_at(int level, const std::function<int()>& call, int result = 0) {
        STR_LOG_PAR = {};
        (level == 3 ? STR_LOG_PAR.net : STR_LOG_PAR.sys) = 2;
        take("tmp/sdklog.log");
        EXPECT_EQ(call(), result);
        return logged();
    }
    std::array<char, 256> out{};
    unit::FixedClock clock{0};
};

TEST_F(DialApi, RequestsAndTheirLogLines) {
    using Case = std::tuple<std::function<int()>, std::int32_t NTU_T::*, int, const char*>;
    for (auto [call, flag, level, message] :
         {Case{DialInit, &NTU_T::reserved3, 3, "无线拨号初始化DialInit"},
          Case{DialTerminate, &NTU_T::pppdend, 3, "结束无线模块拨号DialTerminate"},
          Case{[] { return DialDial("cmnet", nullptr); }, &NTU_T::pppdstart, 3, "执行拨号动作(cmnet,(null))"},
          Case{DialSoftReboot, &NTU_T::softreboot, 5, "无线模块软重启DialSoftReboot"},
          Case{DialHardReboot, &NTU_T::hardreboot, 5, "无线模块断电硬重启DialHardReboot"}}) {
        NTU = NTU_T{};
        EXPECT_EQ(logged_at(level, call).at(0), message);
        EXPECT_EQ(NTU.*flag, flag == &NTU_T::reserved3 ? 0 : 1) << message;
    }
    EXPECT_EQ(clock.slept_ms, 3000);  // the 12 V output off for 3 s
}

TEST_F(DialApi, ReportsFromTheRecord) {
    put_text(NTU.netstate, "LTE");
    put_text(NTU.imei, "862140060226843");
    using Carrier = std::pair<std::string, std::string>;  // IMSI, carrier
    for (auto [imsi, carrier] : {Carrier{"460001234567890", "CMCC"}, Carrier{"460061234567890", "CUCC"},
                                 Carrier{"460111234567890", "CTCC"}, Carrier{"460091234567890", "46009"},
                                 Carrier{"310260123456789", "31026"}, Carrier{"", ""}}) {
        put_text(NTU.imsi, imsi);
        EXPECT_EQ(DialGetStaticInfo(out.data(), 0), 0);
        EXPECT_EQ(out.data(), "{\"TelcomCarrier\":\"" + carrier + "\",\"MFRS\":\"VQ\", \"Model\":\"LTE\", \"Version\":\"0.1\", "
                                                                   "\"IMEI\":\"862140060226843\", \"IMSI\":\"" + imsi + "\"}");
    }
    for (auto [lteip, online] : {std::pair{"1.2.3", false}, std::pair{"1.2.34", true}}) {
        put_text(NTU.lteip, lteip);
        EXPECT_EQ(logged_at(3, DialIsOnline, online ? 0 : -1),
                  std::vector<std::string>{online ? "通过ppp0网卡获取相应的ip拨号成功" : "通过ppp0网卡获取相应的ip拨号失败"});
    }
    NTU.cardstat = 1;  // no IMSI now: no card, whatever was said before
    put_text(NTU.csq, "-61");
    EXPECT_EQ(DialGetDynamicInfo(out.data(), 0), 0);
    EXPECT_STREQ(out.data(), "{\"CardStat\":\"0\", \"SignalStrength\":\"-61\", \"IP\":\"1.2.34\", "
                             "\"Longitude\":\"0.000000\", \"Latitude\":\"0.000000\"}");
    EXPECT_EQ(NTU.cardstat, 0);
    // A receiver's coordinate far out of range: the text is cut where the host's buffer ends.
    unit::feed(unit::batch({unit::checksummed("$GPRMC,1,A,2236.1,N," + std::string(60, '9') + ".0,E,0,0,091202,,,A")}));
    std::array<char, 137 + 64> wide;
    wide.fill('#');
    DialGetDynamicInfo(wide.data(), 0);
    EXPECT_EQ(std::string(wide.data()).size(), 136u);
    EXPECT_EQ(wide[137], '#');
    EXPECT_TRUE(std::string(wide.data()).starts_with("{\"CardStat\":\"0\", \"SignalStrength\":\"-61\", \"IP\":\"1.2.34\", \"Longitude\":\""));
}

// The supervisor's start clears the modem record: requests made after FSU_Lte_THREAD_START
// returns, by the caller and by a second caller racing it, must outlive that clearing. The
// supervisor never ends, so it runs in a child process of its own, which leaves with _exit.
using SupervisorStartThreadsDeathTest = unit::RootedTest;

TEST_F(SupervisorStartThreadsDeathTest, RequestsMadeRightAfterTheStartAreServed) {
    stand_in("lsusb", "true\n");  // no module: each request is served and dropped at once
    auto start_and_request = [this] {
        STR_LOG_PAR.net = 2;
        std::array<int, 2> started{};
        std::thread dialler([&] {
            started[0] = FSU_Lte_THREAD_START();
            DialDial("", "");
        });
        std::thread hanger([&] {
            started[1] = FSU_Lte_THREAD_START();
            DialTerminate();
        });
        dialler.join();
        hanger.join();
        bool served = false;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             !served && std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
            const std::string log = unit::read_file(box("tmp/sdklog.log"));
            served = log.find("]:LTE SYS NO CSQ!") != log.npos && log.find("]:killall pppd") != log.npos;
        }
        std::fflush(nullptr);
        _exit(served && started[0] + started[1] == -1 ? 0 : 1);
    };
    EXPECT_EXIT(start_and_request(), testing::ExitedWithCode(0), "");
}

class ModemDetect : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        journal_commands();
        for (std::string tool : {"lsusb", "ifconfig", "uci"}) stand_in(tool, "cat \"$(dirname \"$0\")/../" + tool + ".out\"\n");
    }
    void TearDown() override {
        NTU = NTU_T{};
        RootedTest::TearDown();
    }
    std::array<char, bsp::lte::kCmdreadSize> out{};
};

TEST_F(ModemDetect, FirstKnownRowWithinTheFirst256Characters) {
    // Real lines (../shared/testdata/modem/lsusb.txt); a hub's is 64 characters with its end.
    const std::string hub = "Bus 001 Device 001: ID 1d6b:0002 Linux Foundation 2.0 root hub\n";
    const std::string ec20 = "Bus 001 Device 004: ID 2c7c:0125  \n";
    using Case = std::tuple<std::string, int, int, const char*>;  // listing, result, mode_id, atdev
    for (auto [listing, found, mode_id, atdev] :
         {Case{hub + "Bus 002 Device 005: ID 2c7c:6026 Quectel Wireless Solutions Co., Ltd. \n" + ec20, 1, 10, "/dev/ttyUSB3"},
          Case{"Bus 001 Device 023: ID 0001:0001\n", 1, 3, "/dev/ttyS6"},  // row 3, never row 8
          Case{hub + hub + hub + hub + ec20, 0, 3, "/dev/ttyS6"}}) {        // beyond the window: the last stays
        unit::write_file(box("lsusb.out"), listing);
        EXPECT_EQ(readusb(), found) << listing;
        EXPECT_EQ(NTU.mode_id, mode_id) << listing;
        EXPECT_STREQ(NTU.atdev, atdev) << listing;
    }
}

TEST_F(ModemDetect, AddressFromTheKernelElseFromAFullIfconfigListing) {
    auto listing = [](const std::string& address) {
        return "ppp0      Link encap:Point-to-Point Protocol  \n          inet addr:" + address +
               "  P-t-P:10.64.64.64  Mask:255.255.255.255\n" + std::string(120, ' ') + "\n";
    };
    using Case = std::tuple<std::string, int, const char*>;  // listing, result, address
    for (auto [text, result, address] :
         {Case{"inet addr:10.0.0.1 " + std::string(150, ' '), -1, ""},  // shorter than 200
          Case{listing("1.2.3.4"), -1, ""}, Case{listing("10.0.0.1"), 1, "10.0.0.1"}}) {
        unit::write_file(box("ifconfig.out"), text);
        out.fill('x');
        unit::printed([&] { EXPECT_EQ(read_ethip1("ppp0", out.data()), result) << text; });
        EXPECT_STREQ(out.data(), address) << text;
    }
    take("cmdlog");
    EXPECT_EQ(read_ethip1("ppp0;reboot", out.data()), -1);  // no command is built from it
    EXPECT_EQ(read_ethip("lo", out.data()), 1);             // the kernel knows it
    EXPECT_STREQ(out.data(), "127.0.0.1");
    EXPECT_EQ(take("cmdlog"), "");
    unit::printed([&] { EXPECT_EQ(read_ethip("sdkbsp9", out.data()), 1); });  // no such device: ifconfig
    EXPECT_EQ(take("cmdlog"), "ifconfig sdkbsp9\n");
    // The runners: trailing blanks and line ends stripped; uci's "Entry" message is no output.
    EXPECT_STREQ(uciread("printf 'word \\r\\n'", out.data()), "word");
    unit::write_file(box("uci.out"), "uci: Entry not found\n");
    EXPECT_STREQ(cmdread("uci get network.ppp0.device", out.data()), "");
}

}  // namespace
