// The Dial API on its own: the requests it leaves in NTU, its log lines at their levels, and its
// reports from NTU.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <tuple>

#include "lte/lte.h"
#include "nmea.h"
#include "support.h"

namespace {

using bsp::lte::store_text;

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
    store_text(NTU.netstate, "LTE");
    store_text(NTU.imei, "862140060226843");
    using Carrier = std::pair<std::string, std::string>;  // IMSI, carrier
    for (auto [imsi, carrier] : {Carrier{"460001234567890", "CMCC"}, Carrier{"460061234567890", "CUCC"},
                                 Carrier{"460111234567890", "CTCC"}, Carrier{"460091234567890", "46009"},
                                 Carrier{"310260123456789", "31026"}, Carrier{"", ""}}) {
        store_text(NTU.imsi, imsi);
        EXPECT_EQ(DialGetStaticInfo(out.data(), 0), 0);
        EXPECT_EQ(out.data(), "{\"TelcomCarrier\":\"" + carrier + "\",\"MFRS\":\"VQ\", \"Model\":\"LTE\", \"Version\":\"0.1\", "
                                                                   "\"IMEI\":\"862140060226843\", \"IMSI\":\"" + imsi + "\"}");
    }
    for (auto [lteip, online] : {std::pair{"1.2.3", false}, std::pair{"1.2.34", true}}) {
        store_text(NTU.lteip, lteip);
        EXPECT_EQ(logged_at(3, DialIsOnline, online ? 0 : -1),
                  std::vector<std::string>{online ? "通过ppp0网卡获取相应的ip拨号成功" : "通过ppp0网卡获取相应的ip拨号失败"});
    }
    NTU.cardstat = 1;  // no IMSI now: no card, whatever was said before
    store_text(NTU.csq, "-61");
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

}  // namespace
