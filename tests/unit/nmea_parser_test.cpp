#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "gps/gps.h"
#include "gps/nmea.h"
#include "nmea.h"

namespace {

using unit::batch;
using unit::checksummed;
using unit::feed;
using unit::printed;

std::string fmt(const char* f, double v) {
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}
std::string lat() { return fmt("%.8f", STR_GPS_INFO.lat); }

// Every test starts from a zeroed record and a cleared text flag, under a box root of its own
// (the clear request runs a command).
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

TEST_F(NmeaParser, WorkedExampleInABatchOfMoreThan1024Bytes) {
    const std::string short_batch = batch({kRmc}, 1024);
    EXPECT_EQ(printed([&] { EXPECT_EQ(BSP_GPS_READ(short_batch.data(), 1024), -1); }), "");
    EXPECT_EQ(STR_GPS_INFO.lat, 0.0);
    const std::string b = batch({"$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D", kRmc,
                                 "$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50"});
    EXPECT_EQ(printed([&] { EXPECT_EQ(BSP_GPS_READ(b.data(), static_cast<int>(b.size())), 0); }),
              "______GPS 数据梳理---1100\r\nGPS_CMD_NUM :GPS_CMD_NUM=1,/2\r\nRead_a_info 标识：03\r\n"
              "Read_a_info 标识：07\r\nRead_a_info 标识：16\r\nRead_a_info 标识：19\r\n");
    const auto& r = STR_GPS_INFO;
    EXPECT_EQ(std::vector<int>(r.gps_id, r.gps_id + 5), (std::vector<int>{3, 7, 16, 19, 0}));
    EXPECT_EQ(std::vector<int>(r.gps_cn0, r.gps_cn0 + 5), (std::vector<int>{40, 38, 0, 42, 0}));
    EXPECT_EQ(r.gpslook, 7.0f);
    EXPECT_EQ(lat() + " " + fmt("%.8f", r.lon) + " " + fmt("%f", r.high), "22.60205841 113.94647980 54.600002");
    EXPECT_EQ(Read_GPS_dB_Flag(), 0);  // message 1 of 2: the text is not built yet
}

TEST_F(NmeaParser, GsvCyclesFillSlotsAndBuildTheSignalText) {
    // A cycle of three messages clears the old satellites; the text is rebuilt after the third.
    feed(batch({checksummed("$GPGSV,1,1,02,05,10,100,20,09,10,100,21"), checksummed("$GPGSV,3,1,09,03,45,120,40"),
                checksummed("$GPGSV,3,2,09,,,,")}));
    EXPECT_EQ(STR_GPS_INFO.gps_id[1], 0);
    EXPECT_EQ(Read_GPS_dB_Flag() * 10 + Read_GPS_dB_Flag(), 10);  // the first cycle's
    feed(batch({checksummed("$GPGSV,3,3,09,07,30,200,38"), checksummed("$BDGSV,1,1,01,06,20,100,33")}));
    EXPECT_EQ(Read_GPS_dB_Flag(), 1);
    EXPECT_EQ(std::string(SET_GPS_BD_dB()), "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=33;");
    char small[5];
    EXPECT_EQ(bsp::gps::copy_signal_text(small, sizeof small), 4u);
    EXPECT_EQ(std::string(small), "GPS,");
    // Message 2 does not clear; a block without elevation keeps its slot's CN0. Message 10 stores
    // no satellite and, taken as message 0, ends no cycle; a GN cycle stores nothing, yet rebuilds.
    feed(batch({checksummed("$BDGSV,2,2,05,11,40,100,44"), checksummed("$BDGSV,2,2,05,12,,100,30")}));
    Read_GPS_dB_Flag();
    feed(batch({checksummed("$GPGSV,10,10,40,21,45,120,40")}));
    EXPECT_EQ(std::vector<int>({STR_GPS_INFO.bd_id[0], STR_GPS_INFO.bd_id[4], STR_GPS_INFO.bd_cn0[4], STR_GPS_INFO.gps_id[36]}),
              std::vector<int>({6, 12, 44, 0}));
    EXPECT_EQ(STR_GPS_INFO.gpslook, 40.0f);
    EXPECT_EQ(Read_GPS_dB_Flag(), 0);
    feed(batch({checksummed("$GNGSV,1,1,01,22,45,120,40")}));
    EXPECT_EQ(STR_GPS_INFO.gps_id[0] * 10 + Read_GPS_dB_Flag(), 31);
    // A CN0 left empty inside a sentence reads 0 and is listed as 0.
    feed(batch({checksummed("$GPGSV,1,1,02,03,45,120,,07,30,200,38")}));
    EXPECT_TRUE(std::string(SET_GPS_BD_dB()).starts_with("GPS,卫星标识=3;7;,CN0=0;38;\r\n,BD,"));
}

TEST_F(NmeaParser, SignalTextStopsAtTheFirstItemThatDoesNotFit) {
    // Values a host may leave in the record: whole items while they fit in the 1024 bytes with the
    // terminator, none after the first that does not.
    struct Case {
        std::int32_t cn0;
        std::string item;
        int fitting;
    };
    for (const Case& c : {Case{7, "7;", 55}, Case{INT32_MIN, "-2147483648;", 9}}) {
        unit::host_writes([&](STR_GPS_INFO_T& r) {
            for (int slot = 0; slot < SDK_BSP_GPS_SLOTS; ++slot) {
                r.gps_id[slot] = INT32_MAX;
                r.gps_cn0[slot] = c.cn0;
            }
        });
        std::string expected = "GPS,卫星标识=";
        for (int slot = 0; slot < SDK_BSP_GPS_SLOTS; ++slot) expected += "2147483647;";
        expected += ",CN0=";
        for (int k = 0; k < c.fitting; ++k) expected += c.item;
        EXPECT_EQ(std::string(SET_GPS_BD_dB()), expected);
    }
}

TEST_F(NmeaParser, UsedSatellitesAndPositionRules) {
    feed(batch({checksummed("$GPGSA,A,3,01,,03,04,05,06,,,,,,,1.3,0.8,1.1,1"),              // 18 commas: twelve IDs
                checksummed("$BDGSA,A,3,01,02,03,04,05,06,07,08,09,10,11,12,1.3,0.8,1.1"),  // 17: eleven
                checksummed("$GNGSA,A,3,01,02,03,,,,,,,,,,1.3,0.8,1.1,1")}));
    EXPECT_EQ(STR_GPS_INFO.gpsnum * 100 + STR_GPS_INFO.bdnum, 511.0f);
    feed(batch({checksummed("$GPRMC,1,A,2236.12345,S,11356.78901,W,0,0,091202,,,A")}));
    EXPECT_EQ(lat(), "22.60205841");  // the hemisphere is not applied
    feed(batch({checksummed("$GPRMC,1,V,1111.00000,N,11111.00000,E,0,0,091202,,,A"),
                checksummed("$GPGGA,1,,N,11111.00000,E,0,00,1.0,56.7,M,-2.1,M,,"),
                "$GPRMC,1,A,3300.5,N,11100.0,E,0,0,091202,,,A*4d"}));  // lower-case checksum
    EXPECT_EQ(lat(), "22.60205841");
    EXPECT_EQ(STR_GPS_INFO.high, 0.0f);
}

TEST_F(NmeaParser, CuttingSurvivesDamagedStreams) {
    // Binary bytes with zeros and a stray "$" and "*" before a sentence, glued to it.
    feed(batch({std::string("\xBA\xCE\0\0$\x01*\x02\0", 9) + checksummed("$GPRMC,1,A,3300.0,N,11100.0,E,0,0,1,,,A")}));
    EXPECT_EQ(lat(), "33.00000000");
    // A sentence behind a damaged one on the same line (the cut resumes past the checksum digits),
    // and one behind a sentence broken off before its "*".
    feed(batch({checksummed("$GPGSA,A,1,,") + checksummed("$GPRMC,1,A,3400.0,N,11100.0,E,0,0,1,,,A")}));
    EXPECT_EQ(lat(), "34.00000000");
    feed(batch({"$GPGSV,3,1,11,23,87,270," + checksummed("$GPRMC,1,A,3500.0,N,11100.0,E,0,0,1,,,A")}));
    EXPECT_EQ(lat(), "35.00000000");
    // Longer than the 200-byte sentence buffer: the "*" too far, or only the line end; unfinished
    // at the end of the batch.
    const std::string rmc36 = "$GPRMC,1,A,3600.0,N,11100.0,E,0,0,1,,,A,";
    feed(batch({checksummed(rmc36 + std::string(170, '0')), checksummed(rmc36 + std::string(100, '0')) + std::string(60, ' ')}));
    feed(batch({}) + checksummed("$GPRMC,1,A,3700.0,N,11100.0,E,0,0,1,,,A"));
    EXPECT_EQ(lat(), "35.00000000");
}

// ---- the parser alone: bytes in, what they say out; no box, no output ------------------------

std::vector<std::string> sentences_in(std::string_view batch) {
    std::vector<std::string> out;
    bsp::gps::nmea::Cutter cutter(batch);
    for (bsp::gps::nmea::Sentence s; cutter.next(s);) out.emplace_back(s.text);
    return out;
}

TEST(NmeaCutter, ResumesTwoCharactersPastTheStar) {
    const std::string rmc = checksummed("$GPRMC,1,A,3300.0,N,11100.0,E,0,0,1,,,A");
    const std::string gsa = checksummed("$GPGSA,A,1,,");
    struct Case {
        std::string batch;
        std::vector<std::string> sentences;
    };
    const Case cases[] = {
        {gsa + "\r\n" + rmc + "\r\n", {gsa, rmc}},
        {gsa + rmc + "\r\n", {gsa + rmc, rmc}},        // glued behind whole checksum digits: both
        {"$GPGSA,A,1*" + rmc + "\r\n", {}},            // its "$" at the star + 1: skipped with the digits
        {"$GPGSA,A,1*X" + rmc + "\r\n", {}},           // at the star + 2: the same
        {"$GPGSA,A,1*XY" + rmc + "\r\n", {rmc}},       // at the star + 3: found
        {"$GPGSV,3,1,11," + rmc + "\r\n", {rmc}},      // broken off before its "*"
        {rmc, {}},                                       // no line end: unfinished
        {rmc.substr(0, 20) + std::string(1, '\0') + rmc.substr(20) + "\r\n", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(sentences_in(c.batch), c.sentences) << c.batch;
}

TEST(NmeaReadings, WhatEachSentenceSays) {
    using Kind = bsp::gps::nmea::Reading::Kind;
    using bsp::gps::nmea::System;
    std::vector<std::string> texts;  // the readings' views point into them
    texts.reserve(16);
    auto read = [&](const std::string& body) {
        const std::string& text = texts.emplace_back(checksummed(body));
        return bsp::gps::nmea::read_sentence({text, text.size() - 3});
    };
    auto gsv = read("$BDGSV,2,2,05,11,40,100,44,12,,100,30,,1,2,3");
    EXPECT_EQ(gsv.kind, Kind::kSatellitesInView);
    EXPECT_EQ(gsv.system, System::kBeidou);
    EXPECT_EQ(std::vector<int>({gsv.total, gsv.sent_number, gsv.message, gsv.new_cycle, gsv.cycle_end, gsv.blocks}),
              std::vector<int>({2, 2, 2, 0, 1, 3}));
    EXPECT_EQ(gsv.in_view, 5.0f);
    const auto& sats = gsv.satellites;
    EXPECT_EQ(std::vector<int>({sats[0].id, sats[0].has_cn0, sats[0].cn0, sats[1].id, sats[1].has_cn0}),
              std::vector<int>({11, 1, 44, 12, 0}));
    EXPECT_TRUE(sats[2].id_text().empty());
    const auto late = read("$GNGSV,10,10,40,21,45,120,40");
    EXPECT_EQ(late.system, System::kNone);
    EXPECT_EQ(late.message * 10 + late.cycle_end, 0);
    const auto used = read("$GPGSA,A,3,01,,03,04,05,06,,,,,,,1.3,0.8,1.1,1");
    EXPECT_EQ(used.kind, Kind::kSatellitesUsed);
    EXPECT_EQ(used.used, 5.0f);
    const auto gga = read("$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,");
    EXPECT_EQ(gga.kind, Kind::kPosition);
    EXPECT_EQ(fmt("%.8f", gga.lat) + fmt(" %f", gga.high), "22.60205841 54.600002");
    // A field reads as the 99 characters its 100-byte buffer holds: here only the spaces of the height.
    const auto wide = read("$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0," + std::string(99, ' ') + "7,M,-2.1,M,,");
    EXPECT_EQ(fmt("%f", wide.high), "-2.100000");
    for (const char* nothing : {"$GPRMC,1,V,1111.0,N,11111.0,E,0,0,1,,,A", "$GPGGA,1,,N,11111.0,E,0,00,1.0,56.7,M,-2.1,M,,",
                                "$GLGSA,A,3,01,02,,,,,,,,,,,1.3,0.8,1.1", "$GPRMC,1,A,3300.0,N", "$GPVTG,1,T,,M,0,N,0,K,A"})
        EXPECT_EQ(read(nothing).kind, Kind::kNothing) << nothing;
}

// ---- real receiver captures, handed over as the read loop does ----------------------------

// What each capture leaves in the record. The positions are gpsd's fixes for the same capture
// (its .chk file: a TPV of the same latitude, longitude and altHAE, without the hemisphere's sign);
// the last batch of a capture (1024 bytes or less) is never parsed. Receivers that
// never give a fix in CR LF sentences leave 0 (magellan-ec10 ends its lines with LF alone;
// gp-320fw's last GGA reports 0000.0000 after its cold boot).
struct Capture {
    const char* file;
    double lat, lon;
    float high, gp_used, gp_view, bd_used, bd_view;
};
void PrintTo(const Capture& c, std::ostream* os) { *os << c.file; }
class RealCaptures : public NmeaParser, public testing::WithParamInterface<Capture> {};

TEST_P(RealCaptures, WholeCaptureInReadLoopBatches) {
    const Capture& c = GetParam();
    const std::filesystem::path file = std::filesystem::path(SDK_BSP_TESTDATA) / "nmea" / c.file;
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "test data absent: " << file;
    const std::string capture = unit::read_file(file);
    // The read loop: reads of up to 96 bytes (9600 baud, every 100 ms) appended to its 4096-byte
    // buffer, handed over whole; exactly the buffered bytes, so a read past the count shows under
    // the address sanitizer.
    std::string buffered;
    for (std::size_t at = 0; at < capture.size(); at += 96) {
        buffered += capture.substr(at, std::min<std::size_t>(96, 4096 - buffered.size()));
        std::vector<char> exact(buffered.begin(), buffered.end());
        int result = -1;
        printed([&] { result = BSP_GPS_READ(exact.data(), static_cast<int>(exact.size())); });
        if (result == 0) buffered.clear();
    }
    const auto& r = STR_GPS_INFO;
    EXPECT_EQ(fmt("%.8f", r.lat) + fmt(",%.8f", r.lon) + fmt(",%f", r.high),
              fmt("%.8f", c.lat) + fmt(",%.8f", c.lon) + fmt(",%f", c.high));
    EXPECT_EQ(std::vector<float>({r.gpsnum, r.gpslook, r.bdnum, r.bdlook}),
              std::vector<float>({c.gp_used, c.gp_view, c.bd_used, c.bd_view}));
}

INSTANTIATE_TEST_SUITE_P(Nmea, RealCaptures,
                         testing::Values(Capture{"beidou-bd.log", 31.24825478, 121.58739471, 206.800003f, 4, 20, 3, 12},
                                         Capture{"beidou-gb.log", 31.24803543, 121.58737946, 175.5f, 0, 18, 0, 0},
                                         Capture{"quectel-l76k-dual.log", 47.66195679, 122.32637787, 56.0f, 0, 11, 0, 4},
                                         Capture{"skytraq-fixB.log", 44.06860733, 121.31450653, 1194.897949f, 6, 13, 1, 2},
                                         Capture{"magellan-ec10.log", 0, 0, 0, 0, 0, 0, 0},
                                         Capture{"gp-320fw-2019-04-07-coldboot.log", 0, 0, 0, 0, 12, 0, 0}));

TEST_F(NmeaParser, ClearRequestDiscardsTheNextBatch) {
    unit::write_file(box("tmp/gps_track"), "x");
    unit::write_file(box("tmp/other"), "x");
    journal_commands();
    feed(batch({kRmc}));
    bsp::gps::arm_clear();
    const std::string b = batch({checksummed("$GPRMC,1,A,3300.0,N,11100.0,E,0,0,1,,,A")});
    EXPECT_EQ(printed([&] { EXPECT_EQ(BSP_GPS_READ(b.data(), static_cast<int>(b.size())), 0); }), "______清空GPS数据流_____");
    EXPECT_EQ(STR_GPS_INFO.lat + STR_GPS_INFO.clear, 0.0);
    EXPECT_FALSE(std::filesystem::exists(box("tmp/gps_track")));
    EXPECT_TRUE(std::filesystem::exists(box("tmp/other")));
    EXPECT_EQ(take("cmdlog"), "rm " + box("tmp/gps_*").string() + "\n");
    feed(batch({kRmc}));  // the request is spent
    EXPECT_EQ(lat(), "22.60205841");
}

TEST_F(NmeaParserThreads, GettersNeverSeeATornFix) {
    const std::string a = batch({checksummed("$GPGSV,1,1,01,03,45,120,40"), kRmc});
    const std::string b = batch({checksummed("$GPGSV,1,1,01,09,45,120,21"),
                                 checksummed("$GPRMC,1,A,4739.71754,N,12219.58177,W,0,0,1,,,A")});
    feed(b);
    const auto fix_b = bsp::gps::fix();
    const std::string text_b = SET_GPS_BD_dB();
    feed(a);
    const auto fix_a = bsp::gps::fix();
    const std::string text_a = SET_GPS_BD_dB();
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    testing::internal::CaptureStdout();
    std::thread parser([&] {
        for (int i = 0; i < 300; ++i) {
            const std::string& next = i % 2 ? a : b;
            BSP_GPS_READ(next.data(), static_cast<int>(next.size()));
        }
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
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(torn, 0);
}

// The read loop gathers the receiver's bytes in buffer 15 and parses them there, while a host may
// drain that buffer through SDK_Read_COM at any moment: whatever the host takes, the parser sees
// whole sentences only, and the two never touch the buffer at once (the TSan build runs it).
TEST_F(NmeaParserThreads, ReadLoopBesideAHostDrainingItsBuffer) {
    std::string stream;
    while (stream.size() < 40000) stream += kRmc + "\r\n";
    std::atomic<bool> done{false};
    testing::internal::CaptureStdout();
    std::thread host([&] {
        std::array<unsigned char, 64> out;
        while (!done) {
            unsigned char* dest = out.data();
            SDK_Read_COM(15, &dest, static_cast<int>(out.size()));
        }
    });
    bsp::gps::ReadLoop loop;
    for (std::size_t at = 0; at < stream.size(); at += 96)
        loop.step({reinterpret_cast<const std::uint8_t*>(stream.data()) + at, std::min<std::size_t>(96, stream.size() - at)});
    done = true;
    host.join();
    // A batch parsed is whole RMC sentences around the host's cuts: the fix is the sentence's.
    const bool parsed = testing::internal::GetCapturedStdout().find("______GPS 数据梳理---") != std::string::npos;
    EXPECT_EQ(lat(), parsed ? "22.60205841" : "0.00000000");
}

}  // namespace
