#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <string>
#include <vector>

#include "gps_box.h"
#include "nmea.h"

namespace {

using namespace unit;

class GpsApi : public GpsBox {
  protected:
    // The worked example: 8 GPS satellites used of 12 in view, 6 BeiDou of 10.
    static void store_fix(double lon = 113.94647980, double lat = 22.60205841, float f = 56.7f) {
        bsp::gps::update_record([&](STR_GPS_INFO_T& r) {
            r.lon = lon, r.lat = lat, r.high = f, r.gpsnum = 8, r.gpslook = 12, r.bdnum = 6, r.bdlook = 10;
        });
    }
    // A getter's text, checked against its result; in a buffer of exactly the documented size, on
    // the heap so that a write past it shows under the address sanitizer.
    static std::string text(int (*getter)(char*), int size = SDK_BSP_GPS_INFO_SIZE) {
        std::vector<char> out(static_cast<std::size_t>(size), 'x');
        out.back() = '\0';
        int n = getter(out.data());
        EXPECT_EQ(n, static_cast<int>(std::strlen(out.data())));
        return out.data();
    }
};

const std::string kZeroLine = "lon=0.00000000,lat=0.00000000,high=0.000000,gpsnum=0,gpslook=0,bdnum=0,bdlook=0\r\n";

TEST_F(GpsApi, PositionLineFollowsTheMode) {
    keys("2", nullptr);
    EXPECT_EQ(SetPositionMode(0), 0);  // off, stored as 99999
    EXPECT_THAT(logged(), testing::IsSupersetOf({"pcas set 0", "pcas set 99999"}));
    EXPECT_EQ(key("pcas") + key("pcas_sdk"), "9999999999");
    EXPECT_EQ(wire(), kNothingSent);
    store_fix();
    EXPECT_EQ(text(GET_BSP_GPS_INFO), kZeroLine);
    EXPECT_EQ(text(GET_BSP_GPS_CSV_INFO), "113.94647980,22.60205841,56.700001,8,12,6,10");  // whatever the mode

    EXPECT_EQ(SetPositionMode(2), 0);
    EXPECT_EQ(wire(), kBeidouOnly);
    EXPECT_EQ(logged().at(0), "pcas set 2");
    store_fix();
    EXPECT_EQ(text(GET_BSP_GPS_INFO),
              "lon=113.94647980,lat=22.60205841,high=56.700001,gpsnum=8,gpslook=12,bdnum=6,bdlook=10\r\n");

    // A web-side 0 is stored as 0: the receiver uses both systems, the line reports nothing.
    EXPECT_EQ(BSP_SET_GPS_PCAS(0), 0);
    EXPECT_EQ(logged().at(0), "web pcas set 0");
    EXPECT_EQ(key("pcas") + key("pcas_sdk"), "00");
    EXPECT_EQ(wire(), kBothSystems);
    store_fix();
    EXPECT_EQ(text(GET_BSP_GPS_INFO), kZeroLine);
}

TEST_F(GpsApi, LinesStayWithinTheirBuffer) {
    keys("0", "1");
    GPS_MODE_UPDATE();
    EXPECT_EQ(GET_BSP_GPS_INFO(nullptr) + GET_BSP_GPS_CSV_INFO(nullptr), 0);
    // The widest values single precision holds fit whole; wider ones a host stores itself are cut.
    store_fix(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    EXPECT_TRUE(text(GET_BSP_GPS_INFO).ends_with(",bdlook=10\r\n"));
    store_fix(-1e300, -1e300);
    EXPECT_EQ(text(GET_BSP_GPS_INFO).size(), SDK_BSP_GPS_INFO_SIZE - 1u);
    EXPECT_EQ(text(GET_BSP_GPS_CSV_INFO).size(), SDK_BSP_GPS_INFO_SIZE - 1u);
}

void feed(const std::vector<std::string>& sentences) {
    std::vector<std::string> sent;
    for (const auto& body : sentences) sent.push_back(checksummed(body));
    unit::feed(batch(sent));
}

TEST_F(GpsApi, SignalTextOnceAGsvCycleIsComplete) {
    std::vector<char> untouched(SDK_BSP_GPS_DB_TEXT_SIZE, 'x');
    EXPECT_EQ(GET_GPS_dB_INFO(untouched.data()), -1);
    feed({"$GPGSV,2,1,02,03,45,120,40"});  // message 1 of 2
    EXPECT_EQ(GET_GPS_dB_INFO(untouched.data()), -1);
    EXPECT_EQ(untouched[0], 'x');
    feed({"$GPGSV,2,2,02,07,30,200,38", "$BDGSV,1,1,01,06,20,100,33"});
    EXPECT_EQ(GET_GPS_dB_INFO(nullptr), -1);  // takes nothing from the next caller
    auto db = [](char* out) { return GET_GPS_dB_INFO(out) == 0 ? static_cast<int>(std::strlen(out)) : -1; };
    EXPECT_EQ(text(db, SDK_BSP_GPS_DB_TEXT_SIZE), "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=33;");
    // Rebuilt from the record at every call, which keeps succeeding.
    bsp::gps::update_record([](STR_GPS_INFO_T& r) { r.bd_cn0[0] = 35; });
    EXPECT_EQ(text(db, SDK_BSP_GPS_DB_TEXT_SIZE), "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=35;");
}

}  // namespace
