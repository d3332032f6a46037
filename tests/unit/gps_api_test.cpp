// The positioning mode and the GPS API, on a box root with the receiver's port as a pty, a stand-in
// uci that keeps /etc/config/vqm, the command journal, the log file, and a clock that marks each
// pause in the receiver's transcript instead of waiting.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "com/ports.h"
#include "gps/gps.h"
#include "nmea.h"
#include "../common/fake_port.h"

namespace {

using namespace unit;
using testing::ElementsAre;
using testing::MatchesRegex;

class GpsBox : public RootedTest, public bsp::os::Clock {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        // The box's own uci, built with the simulator, on this box's etc/config.
        stand_in("uci", std::string("exec ") + FSU_UCI + " \"$@\"\n");
        journal_commands();
        STR_LOG_PAR.sys = 2;  // level 5 to the file only
        pty_ = std::make_unique<FakePort>(root_, "ttymxc7");
        printed([] { BSP_ComCreate(6); });
        bsp::os::set_clock(this);
        bsp::gps::reset_record();
        Read_GPS_dB_Flag();
    }
    void TearDown() override {
        bsp::os::set_clock(nullptr);
        SDK_BSP_ComDestroy(6);
        STR_LOG_PAR.sys = 0;
        RootedTest::TearDown();
    }
    void sleep_ms(long ms) noexcept override { transcript_ += received() + "<" + std::to_string(ms) + " ms>"; }

    // The vqm package with the keys given (null: absent).
    void keys(const char* pcas, const char* pcas_sdk) {
        std::string text = "\nconfig vqm 'sys'\n";
        if (pcas) text += std::string("\toption pcas '") + pcas + "'\n";
        if (pcas_sdk) text += std::string("\toption pcas_sdk '") + pcas_sdk + "'\n";
        write_file(box("etc/config/vqm"), text);
        // The reader's memory copies load these packages in order, stopping at a missing one.
        for (const char* pkg : {"Device", "EnvironmentPar", "monitor", "network", "ks"})
            if (!std::filesystem::exists(box(std::string("etc/config/") + pkg))) write_file(box(std::string("etc/config/") + pkg), "\n");
    }
    std::string key(const std::string& name) { return sdkuci_get_flash(("uci get vqm.sys." + name).c_str()); }

    // Gathered since the last call: what the receiver got (with the pauses) and the commands run.
    std::string wire() { return std::exchange(transcript_, "") + received(); }
    std::string commands() { return take("cmdlog"); }
    std::string rm_line() const { return "rm " + (root_ / "tmp/gps_*").string() + "\n"; }
    static std::string trace(const std::string& text, int len) {
        return std::to_string(len) + "=GPS_COM_WRITE(" + std::to_string(bsp::com::port_fd(6)) + "," + text + "," +
               std::to_string(len) + ")\r\n";
    }

  private:
    std::string received() {
        Bytes b = pty_->read(SIZE_MAX, std::chrono::milliseconds(30));
        return {b.begin(), b.end()};
    }
    std::unique_ptr<FakePort> pty_;
    std::string transcript_;
};

// The receiver's sentences as the box sends them, with the pauses between them.
std::string sent(const std::string& command, bool save_with_zero = false) {
    return command + "<1000 ms>$PCAS00*01\r\n" + (save_with_zero ? std::string(1, '\0') : "") + "<2000 ms>";
}
const std::string kGpsOnly = sent("$PCAS04,1*18\r\n");
const std::string kBeidouOnly = sent("$PCAS04,2*1B\r\n");
const std::string kBothSystems = sent("$PCAS04,3*1A\r\n", true);
const std::string kNothingSent = "<2000 ms>";

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
    unit::host_writes([](STR_GPS_INFO_T& r) { r.lat = r.gps_id[0] = 3; });
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
    EXPECT_EQ(GPS_COM_WRITE(nullptr, 0, &written), BSP_COM_ERR_DEVICE);  // nothing to write is no bad argument
    EXPECT_EQ(written, 0u);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                MatchesRegex(error + "4\\.\n" + error + "4\\.\n" + error + "1\\.\n" + error + "4\\.\n"));
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
    unit::host_writes([](STR_GPS_INFO_T& r) { r.lat = 22.6; });
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

class GpsApi : public GpsBox {
  protected:
    // The worked example: 8 GPS satellites used of 12 in view, 6 BeiDou of 10.
    static void store_fix(double lon = 113.94647980, double lat = 22.60205841, float f = 56.7f) {
        unit::host_writes([&](STR_GPS_INFO_T& r) {
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
    unit::host_writes([](STR_GPS_INFO_T& r) { r.bd_cn0[0] = 35; });
    EXPECT_EQ(text(db, SDK_BSP_GPS_DB_TEXT_SIZE), "GPS,卫星标识=3;7;,CN0=40;38;\r\n,BD,卫星标识=6;,CN0=35;");
}

}  // namespace
