// The simulated GPS/BeiDou receiver: its sentences, its pace, its replay of real captures and the
// $PCAS commands the system sends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "sim/receiver.h"

namespace {

using namespace std::chrono_literals;
using sim::GpsReceiver;
using sim::Sentence;

std::span<const std::uint8_t> bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }
std::string text(const sim::Bytes& b) { return std::string(b.begin(), b.end()); }

std::size_t occurrences(std::string_view hay, std::string_view needle) {
    std::size_t n = 0;
    for (auto at = hay.find(needle); at != std::string_view::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

// The lines of a sentence stream.
std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < s.size();) {
        auto end = s.find("\r\n", at);
        out.push_back(s.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

TEST(SimReceiver, ChecksumsMatchTheSystemsSentences) {
    // The positioning-mode commands exactly as the system sends them.
    EXPECT_EQ(sim::nmea::sentence("PCAS04,1"), "$PCAS04,1*18\r\n");
    EXPECT_EQ(sim::nmea::sentence("PCAS04,2"), "$PCAS04,2*1B\r\n");
    EXPECT_EQ(sim::nmea::sentence("PCAS04,3"), "$PCAS04,3*1A\r\n");
    EXPECT_EQ(sim::nmea::sentence("PCAS00"), "$PCAS00*01\r\n");
    // The worked example's receiver sentences.
    for (const char* s : {"$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D",
                          "$GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*54",
                          "$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50",
                          "$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7d"})
        EXPECT_TRUE(sim::nmea::checksum_ok(s)) << s;
    for (const char* s : {"$GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*55", "$PCAS00*0",
                          "$PCAS00*01x", "PCAS00*01", "$PCAS00"})
        EXPECT_FALSE(sim::nmea::checksum_ok(s)) << s;
}

TEST(SimReceiver, ObeysModeCommandsAndRecordsEverySentence) {
    GpsReceiver r({}, {});
    EXPECT_EQ(r.mode(), 3);
    EXPECT_EQ(r.feed(bytes("$PCAS04,1*18\r\n")), (std::vector<Sentence>{{"$PCAS04,1*18", true}}));
    EXPECT_EQ(r.mode(), 1);
    // A wrong checksum, and a mode the receiver does not have: recorded, not obeyed.
    r.feed(bytes("$PCAS04,2*1C\r\n"));
    r.feed(bytes(sim::nmea::sentence("PCAS04,9")));
    EXPECT_EQ(r.mode(), 1);
    // The save as the system sends it after mode 3, with its terminating zero byte.
    auto got = r.feed(bytes(std::string_view("$PCAS00*01\r\n\0", 13)));
    EXPECT_EQ(got, (std::vector<Sentence>{{"$PCAS00*01", true}}));
    EXPECT_EQ(r.saves(), 1);
    EXPECT_EQ(r.saved_mode(), 1);
    EXPECT_EQ(r.junk(), 1u);
    // A command in pieces; then one cut short by the next '$'.
    EXPECT_TRUE(r.feed(bytes("$PCAS04,")).empty());
    EXPECT_EQ(r.feed(bytes("2*1B\r\n$PCAS04,3$PCAS04,3*1A\r\n")),
              (std::vector<Sentence>{{"$PCAS04,2*1B", true}, {"$PCAS04,3", false}, {"$PCAS04,3*1A", true}}));
    EXPECT_EQ(r.mode(), 3);
}

TEST(SimReceiver, SendsOneFixASecondInTheTalkersOfItsMode) {
    GpsReceiver r({}, {});
    const std::time_t noon = 1719836400;  // 2024-07-01 12:20:00 UTC
    auto epoch = lines_of(r.epoch(0, noon));
    ASSERT_GE(epoch.size(), 6u);
    for (const auto& l : epoch) EXPECT_TRUE(sim::nmea::checksum_ok(l)) << l;
    // The first fix is the system's worked example position.
    EXPECT_EQ(epoch.front().rfind("$GNGGA,122000.00,2236.12345,N,11356.78901,E,1,", 0), 0u) << epoch.front();
    EXPECT_NE(epoch.front().find(",56.7,M,-2.1,M,"), std::string::npos);
    EXPECT_EQ(epoch.back().rfind("$GNRMC,122000.00,A,2236.12345,N,11356.78901,E,", 0), 0u) << epoch.back();
    EXPECT_NE(epoch.back().find(",010724,"), std::string::npos);
    const std::string all = r.epoch(0, noon);
    EXPECT_NE(all.find("$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D\r\n"), std::string::npos);
    EXPECT_EQ(occurrences(all, "$GPGSA,"), 1u);
    EXPECT_EQ(occurrences(all, "$BDGSA,"), 1u);
    EXPECT_GE(occurrences(all, "$GPGSV,"), 1u);
    EXPECT_GE(occurrences(all, "$BDGSV,"), 1u);
    // GSA with 18 commas: every one of the twelve satellite fields counts.
    for (const auto& l : epoch) {
        if (l.find("GSA,") == 3) {
            EXPECT_EQ(std::count(l.begin(), l.end(), ','), 18) << l;
        }
    }

    r.feed(bytes("$PCAS04,1*18\r\n"));
    const std::string gps = r.epoch(0, noon);
    EXPECT_EQ(gps.rfind("$GPGGA,", 0), 0u);
    EXPECT_EQ(occurrences(gps, "$BD"), 0u);
    r.feed(bytes("$PCAS04,2*1B\r\n"));
    const std::string bd = r.epoch(0, noon);
    EXPECT_EQ(bd.rfind("$BDGGA,", 0), 0u);
    EXPECT_EQ(occurrences(bd, "$GP"), 0u);
    // GLONASS alone: the track has no such satellites, so no fix.
    r.feed(bytes(sim::nmea::sentence("PCAS04,4")));
    EXPECT_EQ(lines_of(r.epoch(0, noon))[0], "$GNGGA,122000.00,,,,,0,00,99.99,,,,,,*79");
    EXPECT_FALSE(r.position());
}

TEST(SimReceiver, KeepsTheLinesPace) {
    sim::GpsOptions o;
    o.enabled = true;
    const auto t0 = sim::SteadyClock::now();
    GpsReceiver r(o, t0);
    std::string sent;
    for (auto t = t0; t < t0 + 5s; t += GpsReceiver::kChunkPeriod) {
        auto chunk = r.take(t);
        EXPECT_LE(chunk.size(), 240u);  // 960 bytes a second, four chunks a second
        sent += text(chunk);
    }
    EXPECT_LE(sent.size(), 5u * 960);
    // Fixes at 0 .. 4 s, the last one sent whole within its second.
    EXPECT_EQ(occurrences(sent, "$GNGGA,"), 5u);
    EXPECT_EQ(occurrences(sent, "$GNRMC,"), 5u);
    EXPECT_EQ(sent.substr(sent.size() - 2), "\r\n");
    // Idle time is not saved up: after a long pause, one chunk's worth.
    r.take(t0 + 60s);
    EXPECT_LE(r.take(t0 + 60s + GpsReceiver::kChunkPeriod).size(), 240u);
    EXPECT_EQ(r.next_due(), t0 + 60s + 2 * GpsReceiver::kChunkPeriod);
    EXPECT_EQ(GpsReceiver({}, t0).next_due(), sim::SteadyClock::time_point::max());
}

TEST(SimReceiver, ReplaysACaptureLineByLine) {
    const std::filesystem::path capture = std::string(SDK_BSP_TESTDATA) + "/nmea/beidou-bd.log";
    if (!std::filesystem::exists(capture)) GTEST_SKIP() << "no receiver captures in " << SDK_BSP_TESTDATA;
    std::ifstream in(capture, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string body;  // the capture without its '#' header lines
    for (std::size_t at = 0, end; at < file.size(); at = end) {
        end = std::min(file.find('\n', at), file.size() - 1) + 1;
        if (file[at] != '#') body += file.substr(at, end - at);
    }

    sim::GpsOptions o;
    o.enabled = true;
    o.capture = capture;
    o.bytes_per_second = 3 * static_cast<int>(body.size());
    o.mode = sim::gnss::kAll;
    const auto t0 = sim::SteadyClock::now();
    GpsReceiver all(o, t0);
    EXPECT_EQ(text(all.take(t0 + 1s)), body + body + body);  // and round again

    // GPS only: the BeiDou talker's lines are left out, the rest goes as recorded.
    std::string gps_only;
    for (std::size_t at = 0, end; at < body.size(); at = end) {
        end = body.find('\n', at) + 1;
        if (body.compare(at, 3, "$BD") != 0) gps_only += body.substr(at, end - at);
    }
    ASSERT_LT(gps_only.size(), body.size());
    o.mode = sim::gnss::kGps;
    GpsReceiver gps(o, t0);
    EXPECT_EQ(text(gps.take(t0 + 1s)).substr(0, 3 * gps_only.size()), gps_only + gps_only + gps_only);
    EXPECT_THROW(GpsReceiver(sim::GpsOptions{true, capture.string() + ".missing"}, t0), std::runtime_error);
}

}  // namespace
