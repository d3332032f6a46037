#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "gps/gps.h"
#include "support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string checksummed(const std::string& body) {  // "$...." -> "$....*HH"
    unsigned x = 0;
    for (char c : body.substr(1)) x ^= static_cast<unsigned char>(c);
    char tail[4];
    std::snprintf(tail, sizeof tail, "*%02X", x);
    return body + tail;
}

// The sentences, each with its line end, padded with blanks to a batch the parser takes.
std::string batch(const std::vector<std::string>& sentences, std::size_t size = 1100) {
    std::string b;
    for (const auto& s : sentences) b += s + "\r\n";
    return b + std::string(b.size() < size ? size - b.size() : 0, ' ');
}

int feed(const std::string& b) { return BSP_GPS_READ(b.data(), static_cast<int>(b.size())); }

std::string fmt(const char* f, double v) {
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}
std::string lat() { return fmt("%.8f", STR_GPS_INFO.lat); }

// Every test starts from a zeroed record and a cleared text flag, also when all run in one process,
// under a box root of its own (the clear request runs a command).
class NmeaParser : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        bsp::gps::reset_record();
        Read_GPS_dB_Flag();
    }
};
using NmeaParserThreads = NmeaParser;

const std::string kRmc = "$GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*54";

TEST_F(NmeaParser, BatchesOf1024BytesOrLessAreLeftToGather) {
    CaptureStdout();
    EXPECT_EQ(feed(batch({kRmc}, 1024)), -1);
    EXPECT_EQ(BSP_GPS_READ(nullptr, 2000), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(STR_GPS_INFO.lat, 0.0);
    CaptureStdout();
    EXPECT_EQ(feed(batch({kRmc}, 1025)), 0);
    EXPECT_EQ(GetCapturedStdout(), "______GPS 数据梳理---1025\r\n");
    EXPECT_EQ(lat(), "22.60205841");
}

TEST_F(NmeaParser, WorkedExample) {
    CaptureStdout();
    feed(batch({"$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D", kRmc,
                "$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50"}));
    EXPECT_EQ(GetCapturedStdout(),
              "______GPS 数据梳理---1100\r\nGPS_CMD_NUM :GPS_CMD_NUM=1,/2\r\nRead_a_info 标识：03\r\n"
              "Read_a_info 标识：07\r\nRead_a_info 标识：16\r\nRead_a_info 标识：19\r\n");
    const auto& r = STR_GPS_INFO;
    EXPECT_EQ(std::vector<int>(r.gps_id, r.gps_id + 5), (std::vector<int>{3, 7, 16, 19, 0}));
    EXPECT_EQ(std::vector<int>(r.gps_cn0, r.gps_cn0 + 5), (std::vector<int>{40, 38, 0, 42, 0}));
    EXPECT_EQ(r.gpslook, 7.0f);
    EXPECT_EQ(lat(), "22.60205841");
    EXPECT_EQ(fmt("%.8f", r.lon), "113.94647980");
    EXPECT_EQ(fmt("%f", r.high), "54.600002");
    EXPECT_EQ(Read_GPS_dB_Flag(), 0);  // message 1 of 2: the text is not built yet
}

TEST_F(NmeaParser, GsvCyclesFillSlotsAndBuildTheSignalText) {
    CaptureStdout();
    feed(batch({checksummed("$GPGSV,1,1,02,05,10,100,20,09,10,100,21")}));
    EXPECT_EQ(Read_GPS_dB_Flag(), 1);
    EXPECT_EQ(Read_GPS_dB_Flag(), 0);
    // A new cycle of three messages clears the old satellites; the text is rebuilt after the third.
    feed(batch({checksummed("$GPGSV,3,1,09,03,45,120,40"), checksummed("$GPGSV,3,2,09,,,,")}));
    EXPECT_EQ(STR_GPS_INFO.gps_id[1], 0);
    EXPECT_EQ(Read_GPS_dB_Flag(), 0);
    feed(batch({checksummed("$GPGSV,3,3,09,07,30,200,38"), checksummed("$BDGSV,1,1,01,06,20,100,33")}));
    EXPECT_EQ(Read_GPS_dB_Flag(), 1);
    EXPECT_EQ(std::string(SET_GPS_BD_dB()), "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=33;");
    char small[5];
    EXPECT_EQ(bsp::gps::copy_signal_text(small, sizeof small), 4u);
    EXPECT_EQ(std::string(small), "GPS,");

    // Message 2 does not clear; a block without elevation keeps its slot's CN0.
    feed(batch({checksummed("$BDGSV,2,2,05,11,40,100,44"), checksummed("$BDGSV,2,2,05,12,,100,30")}));
    EXPECT_EQ(STR_GPS_INFO.bd_id[4], 12);
    EXPECT_EQ(STR_GPS_INFO.bd_cn0[4], 44);
    EXPECT_EQ(STR_GPS_INFO.bd_id[0], 6);
    // Message 10 stores no satellite and, taken as message 0, ends no cycle; talkers without a
    // system store nothing, yet a GN cycle still rebuilds the text.
    Read_GPS_dB_Flag();
    feed(batch({checksummed("$GPGSV,10,10,40,21,45,120,40")}));
    EXPECT_EQ(STR_GPS_INFO.gps_id[36], 0);
    EXPECT_EQ(STR_GPS_INFO.gpslook, 40.0f);
    EXPECT_EQ(Read_GPS_dB_Flag(), 0);
    feed(batch({checksummed("$GNGSV,1,1,01,22,45,120,40")}));
    EXPECT_EQ(STR_GPS_INFO.gps_id[0], 3);
    EXPECT_EQ(Read_GPS_dB_Flag(), 1);
    // A CN0 left empty inside a sentence reads 0 and is listed as 0.
    feed(batch({checksummed("$GPGSV,1,1,02,03,45,120,,07,30,200,38")}));
    const std::string listed = "GPS,卫星标识=3;7;,CN0=0;38;\r\n,BD,";
    EXPECT_EQ(std::string(SET_GPS_BD_dB()).substr(0, listed.size()), listed);
    GetCapturedStdout();
}

TEST_F(NmeaParser, UsedSatellitesAndPositionRules) {
    CaptureStdout();
    feed(batch({checksummed("$GPGSA,A,3,01,,03,04,05,06,,,,,,,1.3,0.8,1.1,1"),  // 18 commas: twelve IDs
                checksummed("$BDGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.3,0.8,1.1"),  // 17: eleven
                checksummed("$GNGSA,A,3,01,02,03,,,,,,,,,,1.3,0.8,1.1,1")}));
    EXPECT_EQ(STR_GPS_INFO.gpsnum, 5.0f);
    EXPECT_EQ(STR_GPS_INFO.bdnum, 11.0f);

    feed(batch({checksummed("$GPRMC,1,A,2236.12345,S,11356.78901,W,0,0,091202,,,A")}));
    EXPECT_EQ(lat(), "22.60205841");  // the hemisphere is not applied
    feed(batch({checksummed("$GPRMC,1,V,1111.00000,N,11111.00000,E,0,0,091202,,,A"),
                checksummed("$GPGGA,1,,N,11111.00000,E,0,00,1.0,56.7,M,-2.1,M,,"),
                "$GPRMC,1,A,3300.5,N,11100.0,E,0,0,091202,,,A*4d"}));  // lower-case checksum
    EXPECT_EQ(lat(), "22.60205841");
    EXPECT_EQ(STR_GPS_INFO.high, 0.0f);
    GetCapturedStdout();
}

TEST_F(NmeaParser, CuttingSurvivesDamagedStreams) {
    const std::string rmc33 = checksummed("$GPRMC,1,A,3300.0,N,11100.0,E,0,0,091202,,,A");
    CaptureStdout();
    // Binary bytes with zeros and a stray "$" and "*" before a sentence, glued to it.
    feed(batch({std::string("\xBA\xCE\0\0$\x01*\x02\0", 9) + rmc33}));
    EXPECT_EQ(lat(), "33.00000000");
    // A sentence behind a damaged one on the same line (the cut resumes past the checksum digits),
    // and one behind a sentence broken off before its "*".
    feed(batch({checksummed("$GPGSA,A,1,,") + checksummed("$GPRMC,1,A,3400.0,N,11100.0,E,0,0,1,,,A")}));
    EXPECT_EQ(lat(), "34.00000000");
    feed(batch({"$GPGSV,3,1,11,23,87,270," + checksummed("$GPRMC,1,A,3500.0,N,11100.0,E,0,0,1,,,A")}));
    EXPECT_EQ(lat(), "35.00000000");
    // Longer than the 200-byte sentence buffer: the "*" too far, or only the line end; unfinished
    // at the end of the batch.
    feed(batch({checksummed("$GPRMC,1,A,3600.0,N,11100.0,E,0,0,1,,,A," + std::string(170, '0')),
                checksummed("$GPRMC,1,A,3600.0,N,11100.0,E,0,0,1,,,A," + std::string(100, '0')) +
                    std::string(60, ' ')}));
    feed(batch({}) + checksummed("$GPRMC,1,A,3700.0,N,11100.0,E,0,0,1,,,A"));
    EXPECT_EQ(lat(), "35.00000000");
    GetCapturedStdout();
}

// ---- real receiver captures, handed over as the read loop does ----------------------------

struct Expected {
    double lat = 0, lon = 0;
    float high = 0, look[2] = {}, used[2] = {};  // GPS, BeiDou
};

double degrees(const std::string& t, std::size_t n) {
    float d = static_cast<float>(std::atof(t.substr(0, n).c_str()));
    float m = static_cast<float>(std::atof(t.substr(std::min(n, t.size())).c_str()));
    return static_cast<double>(d + m / 60.0f);
}

// What a batch leaves in the record, found with plain string code: every "$" with a "*" and no
// "$" before it, its "\r\n" behind the checksum within 199 characters, and the checksum right.
void expect_from(const std::string& b, Expected& e) {
    const auto npos = std::string::npos;
    for (auto d = b.find('$'); d != npos; d = b.find('$', d + 1)) {
        auto star = b.find('*', d), eol = b.find("\r\n", d);
        if (star == npos || b.find('$', d + 1) < star || eol == npos || eol < star + 3 || eol - d > 199) continue;
        std::string s = b.substr(d, eol - d);
        if (s.find('\0') != npos || checksummed(s.substr(0, star - d)) != s.substr(0, star - d + 3)) continue;
        std::vector<std::string> f;  // the fields closed by a comma
        for (std::size_t at = 0, c; (c = s.find(',', at)) != npos; at = c + 1) f.push_back(s.substr(at, c - at));
        auto num = [&](std::size_t k) { return static_cast<float>(k < f.size() ? std::atof(f[k].c_str()) : 0.0); };
        std::string talker = s.substr(1, 2), type = s.substr(3, 3);
        int sys = talker == "GP" ? 0 : talker == "BD" ? 1 : -1;
        if (type == "GSV" && f.size() >= 3 && sys >= 0) e.look[sys] = num(3);
        if (type == "GSA" && f.size() >= 7 && sys >= 0)  // fields 3 to commas - 4
            e.used[sys] = static_cast<float>(f.end() - f.begin() - 6 - std::count(f.begin() + 3, f.end() - 3, ""));
        if (type == "RMC" && f.size() >= 6 && f[2] != "V") e.lat = degrees(f[3], 2), e.lon = degrees(f[5], 3);
        if (type == "GGA" && f.size() >= 12 && !f[2].empty())
            e.lat = degrees(f[2], 2), e.lon = degrees(f[4], 3), e.high = num(9) + num(11);
    }
}

// A capture, and where its receiver was (as its header says; 0 when it never reports a fix).
struct Capture {
    const char* file;
    double lat, lon;
};
void PrintTo(const Capture& c, std::ostream* os) { *os << c.file; }
std::string summary(double lat, double lon, float high, float gl, float gn, float bl, float bn) {
    char s[160];
    std::snprintf(s, sizeof s, "%.8f,%.8f,%f GP %g/%g BD %g/%g", lat, lon, high, gn, gl, bn, bl);
    return s;
}
class RealCaptures : public NmeaParser, public testing::WithParamInterface<Capture> {};

TEST_P(RealCaptures, WholeCaptureInReadLoopBatches) {
    const std::filesystem::path file = std::filesystem::path(SDK_BSP_TESTDATA) / "nmea" / GetParam().file;
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "test data absent: " << file;
    const std::string capture = unit::read_file(file);
    // The read loop: reads of up to 96 bytes (9600 baud, every 100 ms) appended to its 4096-byte
    // buffer, handed over whole; the parser gets exactly the buffered bytes, so a read past the
    // count shows under the address sanitizer.
    constexpr std::size_t kRead = 96, kBuffer = 4096;
    std::string buffered;
    Expected e;
    CaptureStdout();
    for (std::size_t at = 0; at < capture.size(); at += kRead) {
        buffered += capture.substr(at, std::min(kRead, kBuffer - buffered.size()));
        std::vector<char> exact(buffered.begin(), buffered.end());
        int r = BSP_GPS_READ(exact.data(), static_cast<int>(exact.size()));
        ASSERT_EQ(r, buffered.size() > 1024 ? 0 : -1);
        if (r == -1) continue;
        expect_from(buffered, e);
        buffered.clear();
    }
    GetCapturedStdout();
    EXPECT_NEAR(e.lat, GetParam().lat, 0.1);  // the expectation itself is no accident
    EXPECT_NEAR(e.lon, GetParam().lon, 0.1);
    const auto& r = STR_GPS_INFO;
    EXPECT_EQ(summary(r.lat, r.lon, r.high, r.gpslook, r.gpsnum, r.bdlook, r.bdnum),
              summary(e.lat, e.lon, e.high, e.look[0], e.used[0], e.look[1], e.used[1]));
}

INSTANTIATE_TEST_SUITE_P(Nmea, RealCaptures,
                         testing::Values(Capture{"beidou-bd.log", 31.25, 121.59},
                                         Capture{"beidou-gb.log", 31.25, 121.59},
                                         Capture{"quectel-l76k-dual.log", 47.7, 122.3},
                                         Capture{"skytraq-fixB.log", 44.06, 121.3},  // Bend, Oregon
                                         Capture{"magellan-ec10.log", 0, 0},         // LF line ends only
                                         Capture{"gp-320fw-2019-04-07-coldboot.log", 0, 0}));

TEST_F(NmeaParser, ClearRequestDiscardsTheNextBatch) {
    unit::write_file(box("tmp/gps_track"), "x");
    unit::write_file(box("tmp/other"), "x");
    setenv("SDK_BSP_CMDLOG", box("cmdlog").c_str(), 1);
    bsp::os::reload_environment();
    CaptureStdout();
    feed(batch({kRmc}));
    bsp::gps::arm_clear();
    EXPECT_EQ(feed(batch({checksummed("$GPRMC,1,A,3300.0,N,11100.0,E,0,0,1,,,A")})), 0);
    std::string printed = GetCapturedStdout();
    EXPECT_TRUE(printed.ends_with("______GPS 数据梳理---1100\r\n______清空GPS数据流_____")) << printed;
    EXPECT_EQ(STR_GPS_INFO.lat, 0.0);
    EXPECT_EQ(STR_GPS_INFO.clear, 0);
    EXPECT_FALSE(std::filesystem::exists(box("tmp/gps_track")));
    EXPECT_TRUE(std::filesystem::exists(box("tmp/other")));
    EXPECT_EQ(unit::read_file(box("cmdlog")), "rm " + box("tmp/gps_*").string() + "\n");
    CaptureStdout();
    feed(batch({kRmc}));  // the request is spent
    GetCapturedStdout();
    EXPECT_EQ(lat(), "22.60205841");
}

TEST_F(NmeaParserThreads, GettersNeverSeeATornFix) {
    const std::string a = batch({checksummed("$GPGSV,1,1,01,03,45,120,40"), kRmc});
    const std::string b = batch({checksummed("$GPGSV,1,1,01,09,45,120,21"),
                                 checksummed("$GPRMC,1,A,4739.71754,N,12219.58177,W,0,0,1,,,A")});
    CaptureStdout();
    feed(b);
    const auto fix_b = bsp::gps::fix();
    const std::string text_b = SET_GPS_BD_dB();
    feed(a);
    const auto fix_a = bsp::gps::fix();
    const std::string text_a = SET_GPS_BD_dB();
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread parser([&] {
        for (int i = 0; i < 300; ++i) feed(i % 2 ? a : b);
        done = true;
    });
    std::vector<std::thread> getters;
    for (int g = 0; g < 2; ++g)
        getters.emplace_back([&] {
            char text[SDK_BSP_GPS_DB_TEXT_SIZE];
            while (!done) {
                auto f = bsp::gps::fix();
                bool is_a = f.lat == fix_a.lat && f.lon == fix_a.lon, is_b = f.lat == fix_b.lat && f.lon == fix_b.lon;
                bsp::gps::copy_signal_text(text, sizeof text);
                torn += !(is_a || is_b) + !(text == text_a || text == text_b);
                Read_GPS_dB_Flag();
            }
        });
    parser.join();
    for (auto& g : getters) g.join();
    GetCapturedStdout();
    EXPECT_EQ(torn, 0);
}

}  // namespace
