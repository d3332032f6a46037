#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "gps_box.h"

namespace {

using testing::ElementsAre;
using testing::MatchesRegex;
using unit::kBeidouOnly;
using unit::kBothSystems;
using unit::kGpsOnly;
using unit::kNothingSent;

class PositionMode : public unit::GpsBox {};
using PositionModeThreads = PositionMode;

TEST_F(PositionMode, StoredKeysChooseTheReceiverCommandAndTheMode) {
    struct Case {
        const char* pcas;
        const char* pcas_sdk;
        const std::string& sent;
        int position_mode;  // as logged
        int reported;       // Read_PositionMode
    };
    const Case cases[] = {
        {"2", nullptr, kBothSystems, 2, 2},  // the receiver follows pcas_sdk, not the mode
        {"0", "1", kGpsOnly, 1, 1},
        {"1", "2", kBeidouOnly, 2, 2},
        {"1", "3", kBothSystems, 3, 3},
        {"2", "", kBothSystems, 2, 2},
        {"1", "99999", kNothingSent, 99999, 0},  // off, whatever pcas says
        {"0", "0", kBothSystems, 0, 0},
        {"x1", nullptr, kBothSystems, 0, 0},  // not a number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pcas) + "/" + (c.pcas_sdk ? c.pcas_sdk : "absent"));
        keys(c.pcas, c.pcas_sdk);
        GPS_MODE_UPDATE();
        EXPECT_EQ(wire(), c.sent);
        EXPECT_EQ(Read_PositionMode(), c.reported);
        const int sdk = c.pcas_sdk ? std::atoi(c.pcas_sdk) : 0;
        auto log = logged();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[0], "sdk gps_pcas=" + std::to_string(sdk));
        EXPECT_EQ(log[1], "gps_pcas=" + std::to_string(sdk) + ",PositionMode=" + std::to_string(c.position_mode));
    }
    // Without the package file both keys read 0.
    std::filesystem::remove(box("etc/config/vqm"));
    GPS_MODE_UPDATE();
    EXPECT_EQ(wire(), kBothSystems);
    EXPECT_EQ(Read_PositionMode(), 0);
}

TEST_F(PositionMode, EveryWriteToTheReceiverIsTraced) {
    keys("2", "1");
    GPS_MODE_UPDATE();
    EXPECT_THAT(logged(), ElementsAre("sdk gps_pcas=1", "gps_pcas=1,PositionMode=1",
                                      "14=GPS_COM_WRITE(" + fd() + ",$PCAS04,1*18\r\n,14)\r\n",
                                      "12=GPS_COM_WRITE(" + fd() + ",$PCAS00*01\r\n,12)\r\n"));
    keys("2", "3");
    GPS_MODE_UPDATE();
    auto log = logged();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "13=GPS_COM_WRITE(" + fd() + ",$PCAS00*01\r\n,13)\r\n");  // the zero byte goes too

    // A receiver that cannot be written keeps its old mode; the mode changes all the same.
    SDK_BSP_ComDestroy(6);
    keys("2", "2");
    testing::internal::CaptureStdout();
    GPS_MODE_UPDATE();
    const std::string error = "ERROR: FILE:bsp_m_com, FUNCTION:GPS_COM_WRITE, LINE:[0-9]+, ErrNo:0x01020004\\.\n";
    EXPECT_THAT(testing::internal::GetCapturedStdout(), MatchesRegex(error + error));
    EXPECT_EQ(Read_PositionMode(), 2);
}

TEST_F(PositionMode, ApplyingTheModeResetsTheFixRecord) {
    bsp::gps::update_record([](STR_GPS_INFO_T& r) {
        r.lat = 22.6;
        r.gps_id[0] = 3;
    });
    unit::write_file(box("tmp/gps_track"), "x");
    keys("1", "99999");
    EXPECT_EQ(GPS_MODE_UPDATE(), 0);  // the deleting command's status
    EXPECT_EQ(STR_GPS_INFO.lat, 0.0);
    EXPECT_EQ(STR_GPS_INFO.gps_id[0], 0);
    EXPECT_EQ(STR_GPS_INFO.clear, 1);  // the parser discards its next batch
    EXPECT_FALSE(std::filesystem::exists(box("tmp/gps_track")));
    EXPECT_EQ(commands(), rm_line());
    EXPECT_NE(GPS_MODE_UPDATE(), 0);  // nothing left to delete
}

TEST_F(PositionMode, SdkSideSetter) {
    keys("2", nullptr);
    unit::write_file(box("tmp/gps_track"), "x");
    EXPECT_EQ(SDK_GPS_SET_PCAS(1), 0);  // the mode update's result
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas=1\nuci set vqm.sys.pcas_sdk=1\nuci commit\n" + rm_line());
    auto log = logged();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "gps_pcas sdkk=2");
    EXPECT_EQ(log[1], "gps_pcas set :uci set vqm.sys.pcas_sdk=1");
    EXPECT_EQ(log[2], "sdk gps_pcas=1");
    EXPECT_EQ(wire(), kGpsOnly);
    EXPECT_EQ(key("pcas"), "1");
    EXPECT_EQ(key("pcas_sdk"), "1");
    EXPECT_EQ(Read_PositionMode(), 1);

    // 0 switches positioning off at once: keys only, the receiver and the record are left alone.
    bsp::gps::update_record([](STR_GPS_INFO_T& r) { r.lat = 22.6; });
    EXPECT_EQ(SDK_GPS_SET_PCAS(0), 0);
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas_sdk=99999\nuci set vqm.sys.pcas=99999\nuci commit\n");
    EXPECT_THAT(logged(), ElementsAre("gps_pcas sdk=99999"));
    EXPECT_EQ(wire(), "");
    EXPECT_EQ(STR_GPS_INFO.lat, 22.6);
    EXPECT_EQ(Read_PositionMode(), 0);
    EXPECT_EQ(SDK_GPS_SET_PCAS(0), 0);
    EXPECT_EQ(commands(), "");  // already off

    // Only pcas is compared: with pcas 1 and pcas_sdk 99999 a request for 1 writes nothing, and
    // the override keeps positioning off.
    keys("1", "99999");
    SDK_GPS_SET_PCAS(1);
    EXPECT_EQ(commands(), rm_line());
    EXPECT_EQ(wire(), kNothingSent);
    EXPECT_EQ(Read_PositionMode(), 0);
}

TEST_F(PositionMode, WebSideSetter) {
    keys("2", nullptr);
    GPS_SET_PCAS(0);  // stored as 0: GPS and BeiDou, reported as 0
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas=0\nuci set vqm.sys.pcas_sdk=0\nuci commit\n" + rm_line());
    auto log = logged();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "gps_pcas web=2");
    EXPECT_EQ(log[1], "gps_pcas set :uci set vqm.sys.pcas_sdk=0");
    EXPECT_EQ(wire(), kBothSystems);
    EXPECT_EQ(Read_PositionMode(), 0);
    // The same mode again: nothing is written, the mode is applied all the same.
    GPS_SET_PCAS(0);
    EXPECT_EQ(commands(), rm_line());
    EXPECT_EQ(wire(), kBothSystems);
    GPS_SET_PCAS(2);
    EXPECT_EQ(wire(), kBeidouOnly);
    EXPECT_EQ(Read_PositionMode(), 2);
}

TEST_F(PositionMode, FirstStartDefaultWritesPcasOnce) {
    keys(nullptr, nullptr);
    const std::string marker = box("etc/bd_gps_default").string();
    EXPECT_EQ(GPS_DEFAULT_SET(), 0);
    EXPECT_EQ(commands(), "echo 1 >" + marker + "\nuci set vqm.sys.pcas=2;uci commit\n");
    EXPECT_EQ(unit::read_file(marker), "1\n");
    EXPECT_EQ(key("pcas"), "2");
    EXPECT_EQ(key("pcas_sdk"), "");
    EXPECT_EQ(GPS_DEFAULT_SET(), 1);
    EXPECT_EQ(commands(), "");
}

TEST_F(PositionMode, ReceiverWrites) {
    std::uint32_t written = 99;
    EXPECT_EQ(GPS_COM_WRITE("$PCAS04,2*1B\r\n", 14, &written), BSP_COM_OK);
    EXPECT_EQ(written, 14u);
    EXPECT_EQ(wire(), "$PCAS04,2*1B\r\n");
    // The trace prints no further than the length given.
    EXPECT_EQ(GPS_COM_WRITE("$PCAS00*01\r\nXYZ", 12, nullptr), BSP_COM_OK);
    EXPECT_EQ(wire(), "$PCAS00*01\r\n");
    EXPECT_EQ(logged().back(), "12=GPS_COM_WRITE(" + fd() + ",$PCAS00*01\r\n,12)\r\n");

    const std::string error = "ERROR: FILE:bsp_m_com, FUNCTION:GPS_COM_WRITE, LINE:[0-9]+, ErrNo:0x";
    testing::internal::CaptureStdout();
    EXPECT_EQ(GPS_COM_WRITE("abc", -1, &written), BSP_COM_ERR_PARAM);
    EXPECT_EQ(GPS_COM_WRITE(nullptr, 3, &written), BSP_COM_ERR_PARAM);
    EXPECT_EQ(written, 0u);
    SDK_BSP_ComDestroy(6);
    written = 99;
    EXPECT_EQ(GPS_COM_WRITE("abc", 3, &written), BSP_COM_ERR_DEVICE);
    EXPECT_EQ(written, 0u);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                MatchesRegex(error + "01020001\\.\n" + error + "01020001\\.\n" + error + "01020004\\.\n"));
    EXPECT_EQ(wire(), "");
}

// Two host threads changing the mode while InitializeSDK applies it: the changes run one after the
// other, so each command is followed by its own save sentence and the reader is never shared.
TEST_F(PositionModeThreads, ConcurrentChangesRunOneAfterTheOther) {
    keys("1", nullptr);
    std::vector<std::thread> threads;
    threads.emplace_back([] { GPS_MODE_UPDATE(); });
    threads.emplace_back([] { SetPositionMode(1); });
    threads.emplace_back([] { BSP_SET_GPS_PCAS(2); });
    threads.emplace_back([] {
        char line[SDK_BSP_GPS_INFO_SIZE];
        for (int i = 0; i < 200; ++i) GET_BSP_GPS_INFO(line);
    });
    for (auto& t : threads) t.join();
    std::string sent = wire();
    int applied = 0;
    for (std::size_t at = 0, end; (end = sent.find(kNothingSent, at)) != std::string::npos; at = end + kNothingSent.size()) {
        std::string one = sent.substr(at, end + kNothingSent.size() - at);
        EXPECT_TRUE(one == kGpsOnly || one == kBeidouOnly || one == kBothSystems) << one;
        ++applied;
    }
    EXPECT_EQ(applied, 3);
    EXPECT_TRUE(sent.ends_with(kNothingSent));
}

}  // namespace
