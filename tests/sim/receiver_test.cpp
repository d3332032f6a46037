// The simulated GPS/BeiDou receiver: the system's sentences, its $PCAS commands and the replay of
// real captures.
#include <gtest/gtest.h>

#include <filesystem>

#include "../common/files.h"
#include "sim/receiver.h"

namespace {

using namespace std::chrono_literals;
using sim::GpsReceiver;
using sim::Sentence;
using testfiles::text;

std::span<const std::uint8_t> bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

TEST(SimReceiver, ChecksumsAndCommandsAreTheSystems) {
    EXPECT_EQ(sim::nmea::sentence("PCAS04,1") + sim::nmea::sentence("PCAS04,2") + sim::nmea::sentence("PCAS04,3") +
                  sim::nmea::sentence("PCAS00"),
              "$PCAS04,1*18\r\n$PCAS04,2*1B\r\n$PCAS04,3*1A\r\n$PCAS00*01\r\n");
    for (const char* s : {"$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7d",
                          "$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50"})
        EXPECT_TRUE(sim::nmea::checksum_ok(s)) << s;
    for (const char* s : {"$PCAS00*00", "$PCAS00*0", "$PCAS00*01x", "PCAS00*01", "$PCAS00"})
        EXPECT_FALSE(sim::nmea::checksum_ok(s)) << s;

    GpsReceiver r({}, {});
    EXPECT_EQ(r.feed(bytes("$PCAS04,1*18\r\n$PCAS04,2*1C\r\n")),
              (std::vector<Sentence>{{"$PCAS04,1*18", true}, {"$PCAS04,2*1C", false}}));
    EXPECT_EQ(r.mode(), 1);  // a wrong checksum is recorded, not obeyed
    // The save as the system sends it after mode 3, with its terminating zero byte; a command in
    // pieces; one cut short by the next '$'.
    EXPECT_EQ(r.feed(bytes(std::string_view("$PCAS00*01\r\n\0$PCAS04,", 21))), (std::vector<Sentence>{{"$PCAS00*01", true}}));
    EXPECT_EQ(r.saved_mode(), 1);
    EXPECT_EQ(r.feed(bytes("2*1B\r\n$PCAS04,3$PCAS04,3*1A\r\n")),
              (std::vector<Sentence>{{"$PCAS04,2*1B", true}, {"$PCAS04,3", false}, {"$PCAS04,3*1A", true}}));
    EXPECT_EQ(r.mode(), 3);
}

TEST(SimReceiver, ReplaysACaptureWithoutTheExcludedTalkers) {
    const std::filesystem::path capture = std::string(SDK_BSP_TESTDATA) + "/nmea/beidou-bd.log";
    if (!std::filesystem::exists(capture)) GTEST_SKIP() << "no receiver captures in " << SDK_BSP_TESTDATA;
    const std::string file = testfiles::read_file(capture);
    std::string body, gps_only;  // the capture without its '#' header lines; and without BeiDou
    for (std::size_t at = 0, end; at < file.size(); at = end) {
        end = std::min(file.find('\n', at), file.size() - 1) + 1;
        if (file[at] == '#') continue;
        body += file.substr(at, end - at);
        if (file.compare(at, 3, "$BD") != 0) gps_only += file.substr(at, end - at);
    }
    sim::GpsOptions o{true, capture, 3 * static_cast<int>(body.size()), sim::gnss::kAll};
    const auto t0 = sim::SteadyClock::now();
    EXPECT_EQ(text(GpsReceiver(o, t0).take(t0 + 1s)), body + body + body);  // and round again
    o.mode = sim::gnss::kGps;
    EXPECT_EQ(text(GpsReceiver(o, t0).take(t0 + 1s)).substr(0, 2 * gps_only.size()), gps_only + gps_only);
    EXPECT_THROW(GpsReceiver(sim::GpsOptions{true, capture.string() + ".missing"}, t0), std::runtime_error);
}

}  // namespace
