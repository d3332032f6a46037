#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "gps_box.h"

namespace {

using testing::ElementsAre;
using testing::MatchesRegex;
using namespace unit;

class PositionMode : public GpsBox {};
using PositionModeThreads = PositionMode;

TEST_F(PositionMode, StoredKeysChooseTheReceiverCommandAndTheMode) {
    struct Case {
        const char *pcas, *pcas_sdk;
        const std::string& sent;
        const char* logged;  // the second log line
        int reported;        // Read_PositionMode
    };
    const Case cases[] = {
        {"2", nullptr, kBothSystems, "gps_pcas=0,PositionMode=2", 2},  // the receiver follows pcas_sdk
        {"1", "2", kBeidouOnly, "gps_pcas=2,PositionMode=2", 2},
        {"1", "3", kBothSystems, "gps_pcas=3,PositionMode=3", 3},
        {"1", "99999", kNothingSent, "gps_pcas=99999,PositionMode=99999", 0},  // off, whatever pcas says
        {"x1", "", kBothSystems, "gps_pcas=0,PositionMode=0", 0},
    };
    for (const Case& c : cases) {
        keys(c.pcas, c.pcas_sdk);
        GPS_MODE_UPDATE();
        EXPECT_EQ(wire(), c.sent) << c.logged;
        EXPECT_EQ(logged().at(1), c.logged);
        EXPECT_EQ(Read_PositionMode(), c.reported);
    }
    keys("2", "1");
    GPS_MODE_UPDATE();
    EXPECT_EQ(wire(), kGpsOnly);
    EXPECT_THAT(logged(), ElementsAre("sdk gps_pcas=1", "gps_pcas=1,PositionMode=1", trace("$PCAS04,1*18\r\n", 14),
                                      trace("$PCAS00*01\r\n", 12)));
}

TEST_F(PositionMode, ApplyingTheModeResetsTheFixRecord) {
    bsp::gps::update_record([](STR_GPS_INFO_T& r) { r.lat = r.gps_id[0] = 3; });
    write_file(box("tmp/gps_track"), "x");
    keys("1", "99999");
    EXPECT_EQ(GPS_MODE_UPDATE(), 0);  // the deleting command's status
    EXPECT_EQ(STR_GPS_INFO.lat + STR_GPS_INFO.gps_id[0], 0.0);
    EXPECT_EQ(STR_GPS_INFO.clear, 1);  // the parser discards its next batch
    EXPECT_FALSE(std::filesystem::exists(box("tmp/gps_track")));
    EXPECT_EQ(commands(), rm_line());
    EXPECT_NE(GPS_MODE_UPDATE(), 0);  // nothing left to delete

    // A receiver that cannot be written keeps its mode; the mode changes all the same.
    SDK_BSP_ComDestroy(6);
    keys("2", "2");
    testing::internal::CaptureStdout();
    GPS_MODE_UPDATE();
    const std::string error = "ERROR: FILE:bsp_m_com, FUNCTION:GPS_COM_WRITE, LINE:[0-9]+, ErrNo:0x0102000";
    std::uint32_t written = 99;
    EXPECT_EQ(GPS_COM_WRITE("abc", -1, &written), BSP_COM_ERR_PARAM);
    EXPECT_EQ(written, 0u);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                MatchesRegex(error + "4\\.\n" + error + "4\\.\n" + error + "1\\.\n"));
    EXPECT_EQ(Read_PositionMode(), 2);
}

TEST_F(PositionMode, SdkSideSetter) {
    keys("2", nullptr);
    write_file(box("tmp/gps_track"), "x");
    EXPECT_EQ(SDK_GPS_SET_PCAS(1), 0);  // the mode update's result
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas=1\nuci set vqm.sys.pcas_sdk=1\nuci commit\n" + rm_line());
    EXPECT_THAT(logged(), testing::IsSupersetOf({"gps_pcas sdkk=2", "gps_pcas set :uci set vqm.sys.pcas_sdk=1"}));
    EXPECT_EQ(wire(), kGpsOnly);
    EXPECT_EQ(key("pcas") + key("pcas_sdk"), "11");

    // 0 switches positioning off at once: keys only, the receiver and the record left alone.
    bsp::gps::update_record([](STR_GPS_INFO_T& r) { r.lat = 22.6; });
    EXPECT_EQ(SDK_GPS_SET_PCAS(0), 0);
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas_sdk=99999\nuci set vqm.sys.pcas=99999\nuci commit\n");
    EXPECT_THAT(logged(), ElementsAre("gps_pcas sdk=99999"));
    EXPECT_EQ(wire(), "");
    EXPECT_EQ(STR_GPS_INFO.lat, 22.6);
    EXPECT_EQ(Read_PositionMode(), 0);
    SDK_GPS_SET_PCAS(0);
    EXPECT_EQ(commands(), "");  // already off

    // Only pcas is compared: pcas 1 with pcas_sdk 99999 takes a request for 1 as done, and stays off.
    keys("1", "99999");
    SDK_GPS_SET_PCAS(1);
    EXPECT_EQ(commands(), rm_line());
    EXPECT_EQ(wire(), kNothingSent);
    EXPECT_EQ(Read_PositionMode(), 0);
}

TEST_F(PositionMode, WebSideSetterAndFirstStartDefault) {
    keys("2", nullptr);
    GPS_SET_PCAS(0);  // stored as 0: both systems, reported as 0
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas=0\nuci set vqm.sys.pcas_sdk=0\nuci commit\n" + rm_line());
    EXPECT_EQ(logged().at(0), "gps_pcas web=2");
    EXPECT_EQ(wire(), kBothSystems);
    EXPECT_EQ(Read_PositionMode(), 0);
    GPS_SET_PCAS(0);  // nothing to write; applied all the same
    EXPECT_EQ(commands(), rm_line());
    EXPECT_EQ(wire(), kBothSystems);

    keys(nullptr, nullptr);
    EXPECT_EQ(GPS_DEFAULT_SET(), 0);
    const std::string marker = box("etc/bd_gps_default").string();
    EXPECT_EQ(commands(), "echo 1 >" + marker + "\nuci set vqm.sys.pcas=2;uci commit\n");
    EXPECT_EQ(read_file(marker) + key("pcas") + key("pcas_sdk"), "1\n2");
    EXPECT_EQ(GPS_DEFAULT_SET(), 1);
    EXPECT_EQ(commands(), "");
}

// Mode changes from host threads while start-up applies the mode run one after the other: each
// command is followed by its own save sentence; a host searching the configuration reader's
// copies meanwhile never has one freed under it.
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
    threads.emplace_back([] {
        for (int i = 0; i < 2000; ++i) EXPECT_THAT(sdkuci_get_ram("uci get vqm.sys.pcas"), MatchesRegex("[0-9]?"));
    });
    for (auto& t : threads) t.join();
    std::string all = wire();
    int applied = 0;
    for (std::size_t at = 0, end; (end = all.find(kNothingSent, at)) != std::string::npos; at = end) {
        end += kNothingSent.size();
        std::string one = all.substr(at, end - at);
        EXPECT_TRUE(one == kGpsOnly || one == kBeidouOnly || one == kBothSystems) << one;
        ++applied;
    }
    EXPECT_EQ(applied, 3);
}

}  // namespace
