#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gps_box.h"

namespace {

using testing::ElementsAre;
using unit::kBeidouOnly;
using unit::kBothSystems;
using unit::kNothingSent;

class GpsApi : public unit::GpsBox {
  protected:
    // The values of the worked example: 8 GPS satellites used of 12 in view, 6 BeiDou of 10.
    static void store_example_fix() {
        bsp::gps::update_record([](STR_GPS_INFO_T& r) {
            r.lon = 113.94647980;
            r.lat = 22.60205841;
            r.high = 56.7f;
            r.gpsnum = 8;
            r.gpslook = 12;
            r.bdnum = 6;
            r.bdlook = 10;
        });
    }
    static std::string info() {
        char line[SDK_BSP_GPS_INFO_SIZE];
        int n = GET_BSP_GPS_INFO(line);
        EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
        return line;
    }
    static std::string csv() {
        char line[SDK_BSP_GPS_INFO_SIZE];
        int n = GET_BSP_GPS_CSV_INFO(line);
        EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
        return line;
    }
};

const std::string kZeroLine = "lon=0.00000000,lat=0.00000000,high=0.000000,gpsnum=0,gpslook=0,bdnum=0,bdlook=0\r\n";
const std::string kExampleLine =
    "lon=113.94647980,lat=22.60205841,high=56.700001,gpsnum=8,gpslook=12,bdnum=6,bdlook=10\r\n";
const std::string kExampleCsv = "113.94647980,22.60205841,56.700001,8,12,6,10";

TEST_F(GpsApi, PositionLineFollowsTheMode) {
    keys("2", nullptr);
    EXPECT_EQ(SetPositionMode(0), 0);  // off: stored as 99999 in both keys
    EXPECT_EQ(commands(), "uci set vqm.sys.pcas=99999\nuci set vqm.sys.pcas_sdk=99999\nuci commit\n" + rm_line());
    auto log = logged();
    ASSERT_GE(log.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 3),
                ElementsAre("pcas set 0", "pcas set 99999", "gps_pcas sdkk=2"));
    EXPECT_EQ(wire(), kNothingSent);
    store_example_fix();
    EXPECT_EQ(info(), kZeroLine);
    EXPECT_EQ(csv(), kExampleCsv);  // whatever the mode

    EXPECT_EQ(SetPositionMode(2), 0);
    EXPECT_EQ(logged().front(), "pcas set 2");
    EXPECT_EQ(wire(), kBeidouOnly);
    EXPECT_EQ(info(), kZeroLine);  // the mode change reset the record
    store_example_fix();
    EXPECT_EQ(info(), kExampleLine);

    // A web-side 0 is stored as 0: the receiver uses both systems, and the line reports nothing.
    EXPECT_EQ(BSP_SET_GPS_PCAS(0), 0);
    EXPECT_EQ(logged().front(), "web pcas set 0");
    EXPECT_EQ(key("pcas"), "0");
    EXPECT_EQ(key("pcas_sdk"), "0");
    EXPECT_EQ(wire(), kBothSystems);
    store_example_fix();
    EXPECT_EQ(info(), kZeroLine);
    EXPECT_EQ(csv(), kExampleCsv);
}

TEST_F(GpsApi, LinesStayWithinTheirBuffer) {
    keys("0", "1");
    GPS_MODE_UPDATE();
    EXPECT_EQ(GET_BSP_GPS_INFO(nullptr), 0);
    EXPECT_EQ(GET_BSP_GPS_CSV_INFO(nullptr), 0);
    // The widest values single precision holds fit; wider ones that a host stores itself are cut.
    std::vector<char> exact(SDK_BSP_GPS_INFO_SIZE);  // on the heap: a write past it shows under ASan
    bsp::gps::update_record([](STR_GPS_INFO_T& r) {
        r.lon = r.lat = -FLT_MAX;
        r.high = r.gpsnum = r.gpslook = r.bdnum = r.bdlook = -FLT_MAX;
    });
    int n = GET_BSP_GPS_INFO(exact.data());
    EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(exact.data()));
    EXPECT_TRUE(std::string(exact.data()).ends_with("\r\n"));
    bsp::gps::update_record([](STR_GPS_INFO_T& r) { r.lon = r.lat = -1e300; });
    EXPECT_EQ(GET_BSP_GPS_INFO(exact.data()), SDK_BSP_GPS_INFO_SIZE - 1);
    EXPECT_TRUE(std::string(exact.data()).starts_with("lon=-10000000000000000"));
    EXPECT_EQ(GET_BSP_GPS_CSV_INFO(exact.data()), SDK_BSP_GPS_INFO_SIZE - 1);
}

std::string checksummed(const std::string& body) {  // "$...." -> "$....*HH\r\n"
    unsigned x = 0;
    for (char c : body.substr(1)) x ^= static_cast<unsigned char>(c);
    char tail[6];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", x);
    return body + tail;
}
void feed(const std::string& sentences) {
    std::string batch = sentences + std::string(1100, ' ');
    testing::internal::CaptureStdout();
    BSP_GPS_READ(batch.data(), static_cast<int>(batch.size()));
    testing::internal::GetCapturedStdout();
}

TEST_F(GpsApi, SignalTextOnceAGsvCycleIsComplete) {
    std::vector<char> text(SDK_BSP_GPS_DB_TEXT_SIZE, 'x');
    EXPECT_EQ(GET_GPS_dB_INFO(text.data()), -1);
    feed(checksummed("$GPGSV,2,1,02,03,45,120,40"));  // message 1 of 2
    EXPECT_EQ(GET_GPS_dB_INFO(text.data()), -1);
    EXPECT_EQ(text[0], 'x');  // nothing written
    feed(checksummed("$GPGSV,2,2,02,07,30,200,38") + checksummed("$BDGSV,1,1,01,06,20,100,33"));
    EXPECT_EQ(GET_GPS_dB_INFO(nullptr), -1);  // takes nothing away from the next caller
    const std::string expected = "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=33;";
    EXPECT_EQ(GET_GPS_dB_INFO(text.data()), 0);
    EXPECT_EQ(std::string(text.data()), expected);
    // Rebuilt from the record at every call, which keeps succeeding.
    bsp::gps::update_record([](STR_GPS_INFO_T& r) { r.bd_cn0[0] = 35; });
    EXPECT_EQ(GET_GPS_dB_INFO(text.data()), 0);
    EXPECT_EQ(std::string(text.data()), "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=35;");
}

}  // namespace
