// The Dial API on its own: the requests it leaves in NTU, its log lines at their levels, and the
// reports it makes from NTU and the GPS fix.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "gps/gps.h"
#include "io/io.h"
#include "lte/lte.h"
#include "support.h"

namespace {

using bsp::lte::store_text;

class DialApi : public unit::RootedTest {
  protected:
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        NTU = NTU_T{};
        bsp::gps::reset_record();
        RootedTest::TearDown();
    }
    // Only the level's records go to the file.
    void log_level(int level) {
        STR_LOG_PAR = {};
        (level == 3 ? STR_LOG_PAR.net : STR_LOG_PAR.sys) = 2;
        take("tmp/sdklog.log");
    }
    unit::FixedClock clock{0};
};

TEST_F(DialApi, RequestsAndTheirLogLines) {
    struct Case {
        std::function<int()> call;
        std::int32_t NTU_T::*flag;
        int level;
        const char* message;
    };
    const Case cases[] = {
        {DialInit, nullptr, 3, "无线拨号初始化DialInit"},
        {DialTerminate, &NTU_T::pppdend, 3, "结束无线模块拨号DialTerminate"},
        {[] { return DialDial("cmnet", nullptr); }, &NTU_T::pppdstart, 3, "执行拨号动作(cmnet,(null))"},
        {DialSoftReboot, &NTU_T::softreboot, 5, "无线模块软重启DialSoftReboot"},
        {DialHardReboot, &NTU_T::hardreboot, 5, "无线模块断电硬重启DialHardReboot"},
    };
    for (const Case& c : cases) {
        NTU = NTU_T{};
        log_level(c.level);
        EXPECT_EQ(c.call(), 0) << c.message;
        if (c.flag) {
            EXPECT_EQ(NTU.*c.flag, 1) << c.message;
        }
        const auto messages = logged();
        ASSERT_FALSE(messages.empty()) << c.message;
        EXPECT_EQ(messages.front(), c.message);
    }
    EXPECT_EQ(clock.slept_ms, 3000);  // the 12 V output off for 3 s, and on again
    EXPECT_EQ(bsp::io::ao_12v_state(0), 1);
}

TEST_F(DialApi, ReportsFromTheRecord) {
    store_text(NTU.netstate, "LTE");
    store_text(NTU.imei, "862140060226843");
    struct Carrier {
        const char* imsi;
        const char* carrier;
    };
    for (auto [imsi, carrier] : {Carrier{"460001234567890", "CMCC"}, Carrier{"460061234567890", "CUCC"},
                                 Carrier{"460111234567890", "CTCC"}, Carrier{"460091234567890", "46009"},
                                 Carrier{"310260123456789", "31026"}, Carrier{"", ""}}) {
        store_text(NTU.imsi, imsi);
        std::array<char, 256> out{};
        EXPECT_EQ(DialGetStaticInfo(out.data(), 0), 0);
        EXPECT_EQ(std::string(out.data()), std::string("{\"TelcomCarrier\":\"") + carrier +
                                               "\",\"MFRS\":\"VQ\", \"Model\":\"LTE\", \"Version\":\"0.1\", "
                                               "\"IMEI\":\"862140060226843\", \"IMSI\":\"" + imsi + "\"}");
    }

    log_level(3);
    struct Online {
        const char* lteip;
        int result;
        const char* message;
    };
    for (auto [lteip, result, message] : {Online{"", -1, "通过ppp0网卡获取相应的ip拨号失败"},
                                          Online{"1.2.3", -1, "通过ppp0网卡获取相应的ip拨号失败"},
                                          Online{"1.2.34", 0, "通过ppp0网卡获取相应的ip拨号成功"}}) {
        store_text(NTU.lteip, lteip);
        EXPECT_EQ(DialIsOnline(), result) << lteip;
        EXPECT_EQ(logged(), std::vector<std::string>{message}) << lteip;
    }

    // No IMSI: no card, whatever was said before.
    NTU.cardstat = 1;
    store_text(NTU.imsi, "");
    store_text(NTU.csq, "-61");
    bsp::gps::update_record([](STR_GPS_INFO_T& r) {
        r.lon = 113.946483;
        r.lat = -22.602057;
    });
    std::array<char, 256> out{};
    EXPECT_EQ(DialGetDynamicInfo(out.data(), 0), 0);
    EXPECT_STREQ(out.data(), "{\"CardStat\":\"0\", \"SignalStrength\":\"-61\", \"IP\":\"1.2.34\", "
                             "\"Longitude\":\"113.946483\", \"Latitude\":\"-22.602057\"}");
    EXPECT_EQ(NTU.cardstat, 0);
    EXPECT_EQ(DialGetStaticInfo(nullptr, 0), 0);  // only logged
}

}  // namespace
