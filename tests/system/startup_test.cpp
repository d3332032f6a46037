// The whole box comes up: InitializeSDK against the simulated box, then the send loop, output
// requests, the GPS receiver and the positioning mode, in one host process (start-up costs ~6 s).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using systest::HostShell;
using systest::TempRoot;
using testing::ContainsRegex;
using testing::HasSubstr;

// The system's poll frame, and its output command with output 1 on; output 2 alone changes the
// mask to 02 and, one ASCII code higher in the sum, the checksum to F7F4.
constexpr std::string_view kPoll = "~FFFF03540000FD5C\r";
constexpr std::string_view kOutput2On = "~FFFF0555B014FF02FFFFFFFFFFFFFFFFF7F4\r";

// The worked example of the receiver's sentences, repeated past the parser's 1024-byte batch.
std::string receiver_batch() {
    const std::string sentences =
        "$GPGSV,2,1,07,03,45,120,40,07,30,200,38,16,10,050,,19,60,300,42*7D\r\n"
        "$GPRMC,083559.00,A,2236.12345,N,11356.78901,E,0.004,77.52,091202,,,A*54\r\n"
        "$GNGGA,083559.00,2236.12345,N,11356.78901,E,1,08,1.0,56.7,M,-2.1,M,,*50\r\n";
    std::string batch;
    while (batch.size() <= 1100) batch += sentences;
    return batch;
}

void write_text(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

std::vector<sim::Frame> payloads_of(const sim::Board& b, std::uint8_t cid, std::string_view payload) {
    std::vector<sim::Frame> out;
    for (auto& f : b.frames(cid))
        if (std::string_view(reinterpret_cast<const char*>(f.payload.data()), f.payload.size()) == payload) out.push_back(f);
    return out;
}

class WholeBox : public testing::Test {
  protected:
    WholeBox() : box(root.path(), options()) {
        // Positioning mode 3 (GPS and BeiDou) stored as the box's uci writes it; the reader's
        // memory copies load these packages in order.
        write_text(root / "etc/config/vqm", "\nconfig vqm 'sys'\n\toption pcas '3'\n");
        for (const char* pkg : {"Device", "EnvironmentPar", "monitor", "network", "ks"})
            write_text(root / (std::string("etc/config/") + pkg), "\n");
    }
    static sim::Options options() {
        sim::Options o;
        o.announce_period = 300ms;
        o.environment = true;
        o.exported = {kLedLines.begin(), kLedLines.end()};
        return o;
    }
    // The LEDs that have a line: run, alarm, net and Local/Led/1.
    static constexpr std::array<int, 4> kLedLines{1, 18, 0, 4};
    std::string log() { return systest::read_file(root / "tmp/sdklog.log"); }
    std::string standins() {
        std::string all;
        for (auto& line : box.standins()) all += line + "\n";
        return all;
    }

    TempRoot root;
    sim::Box box;
};

TEST_F(WholeBox, StartsInOrderOnceAndServesTheHost) {
    HostShell shell(root, box.env());
    auto b1 = box.board(1), b2 = box.board(2);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(shell.call("InitializeSDK", 20s), "InitializeSDK -> 0");
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 5s);  // the lamp test, the boards' pause, the mode's pauses
    EXPECT_LT(took, 15s);

    // Standard output, in the start-up's order.
    const std::string out = shell.out();
    std::vector<std::string> in_order = {"]:InitializeSDK",
                                         "SDK:open all led\r\n",
                                         "SDK:close all led\r\n",
                                         "sdk_start_log end\r\n",
                                         "BSP_ComCreate(0, /dev/ttymxc1) success !\n",
                                         "BSP_ComCreate(6, /dev/ttymxc7) success !\n",
                                         "STUMP[010]: FILE: com_process, FUNCTION: FSU_COM_READ_THREAD_START, LINE: ",
                                         "]:COM=12;AI=0;DI=0,AO=0,DO=0COM=12;AI=0;DI=0,AO=0,DO=0"};
    std::size_t at = 0;
    for (const std::string& text : in_order) {
        std::size_t found = out.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << out;
        at = found + text.size();
    }
    for (int n = 0; n <= 6; ++n) {
        char stump[32];
        std::snprintf(stump, sizeof stump, "STUMP[%03d]: FILE: com_process", n);
        EXPECT_THAT(out, HasSubstr(stump));
    }
    // The LED lines: set up as outputs, and all off again after the lamp test (active-low: 1).
    for (int line : kLedLines) {
        auto l = box.gpio().line(line);
        ASSERT_TRUE(l.has_value()) << "gpio" << line;
        EXPECT_EQ(l->direction, "out") << "gpio" << line;
        EXPECT_EQ(l->value, 1) << "gpio" << line;
    }
    // The wire: nine settings frames, then the receiver commanded into mode 3.
    EXPECT_EQ(b1.frames(0x60).size() + b1.frames(0x61).size() + b1.frames(0x62).size() + b1.frames(0x63).size() +
                  b1.frames(0x64).size(),
              5u);
    EXPECT_EQ(b2.frames().size() - b2.frames(0x92).size(), 4u);
    ASSERT_TRUE(box.wait_for([&] { return box.port(7).received().size() >= 13; }, 5s));
    const Bytes gps = box.port(7).received();
    EXPECT_EQ(std::string(gps.begin(), gps.end()).substr(0, 14), "$PCAS04,3*1A\r\n");

    // A second start returns -1 and sends nothing.
    const std::size_t frames_before = b1.frames().size() - b1.frames(0x92).size();
    const std::size_t out_before = shell.out().size();
    EXPECT_EQ(shell.call("InitializeSDK"), "InitializeSDK -> -1");
    EXPECT_EQ(shell.call("UninitializeSDK"), "UninitializeSDK -> 0");
    EXPECT_EQ(shell.call("InitializeSDK"), "InitializeSDK -> -1");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(b1.frames().size() - b1.frames(0x92).size(), frames_before);
    EXPECT_EQ(shell.out().substr(out_before).find("InitializeSDK"), std::string::npos);
    EXPECT_THAT(log(), HasSubstr("]:UninitializeSDK"));

    // The send loop: one poll a second; an output request replaces one poll with its command.
    ASSERT_EQ(shell.call("ENV_COM_SEND_THREAD 6"), "ENV_COM_SEND_THREAD -> 0");
    ASSERT_TRUE(box.wait_for([&] { return payloads_of(b1, 0x84, kPoll).size() >= 2; }, 5s));
    const auto polls = payloads_of(b1, 0x84, kPoll);
    const auto gap = polls[1].when - polls[0].when;
    EXPECT_GT(gap, 700ms);
    EXPECT_LT(gap, 1500ms);
    EXPECT_EQ(shell.call("SetDOValue \"Local/DO/2\" 1"), "SetDOValue -> 0");
    ASSERT_TRUE(box.wait_for([&] { return !payloads_of(b1, 0x84, kOutput2On).empty(); }, 5s));
    EXPECT_EQ(shell.call("DO_API_SET_CHECK"), "DO_API_SET_CHECK -> -1");
    // The equipment switched output 2 on; its answers come back on Local/Uart/14 as power-protocol
    // frames ("~" ... "\r").
    EXPECT_TRUE(box.wait_for([&] { return box.environment().outputs() == std::array<bool, 4>{false, true, false, false}; }, 5s));
    std::string back;
    auto end = std::chrono::steady_clock::now() + 5s;
    while (back.find("hex:7E") == std::string::npos && std::chrono::steady_clock::now() < end)
        back = shell.call("ReadUart \"Local/Uart/14\" bytes:512 512 200");
    EXPECT_THAT(back, ContainsRegex("ReadUart -> [1-9][0-9]* hex:7E([0-9A-F]{2})+0D"));

    // The receiver's sentences reach the GPS API. The batch after a mode change is discarded, so
    // keep sending, as a receiver does.
    std::string info;
    end = std::chrono::steady_clock::now() + 10s;
    while (info.find("lon=113.94647980") == std::string::npos && std::chrono::steady_clock::now() < end) {
        box.port(7).push(receiver_batch());
        std::this_thread::sleep_for(600ms);
        info = shell.call("GET_BSP_GPS_INFO buf:384");
    }
    EXPECT_THAT(info, HasSubstr("lon=113.94647980,lat=22.60205841,high=54.600002,"));

    // The positioning mode, from the SDK side and the web side: both keys, then the receiver.
    box.port(7).clear();
    EXPECT_EQ(shell.call("SetPositionMode 1", 15s), "SetPositionMode -> 0");
    EXPECT_THAT(standins(), HasSubstr("uci set vqm.sys.pcas=1\nuci set vqm.sys.pcas_sdk=1\nuci commit\n"));
    EXPECT_THAT(systest::read_file(root / "etc/config/vqm"), HasSubstr("option pcas_sdk '1'"));
    ASSERT_TRUE(box.wait_for([&] { return box.port(7).received().size() >= 14; }, 5s));
    const Bytes sentences = box.port(7).received();
    EXPECT_EQ(std::string(sentences.begin(), sentences.begin() + 14), "$PCAS04,1*18\r\n");
    EXPECT_THAT(shell.call("BSP_SET_GPS_PCAS 2", 15s), testing::StartsWith("BSP_SET_GPS_PCAS -> "));
    EXPECT_THAT(standins(), HasSubstr("uci set vqm.sys.pcas=2\nuci set vqm.sys.pcas_sdk=2\nuci commit\n"));
    EXPECT_THAT(systest::read_file(root / "etc/config/vqm"), HasSubstr("option pcas '2'"));
    EXPECT_EQ(shell.finish(), 0);
}

// The one real-time watchdog test: armed with the shortest interval, never fed, it runs the box's
// reboot (a stand-in) once the interval plus 60 s have passed.
TEST_F(WholeBox, RealTime_UnfedWatchdogReboots) {
    HostShell shell(root, box.env());
    ASSERT_EQ(shell.call("bsp_SoftDog_Init"), "bsp_SoftDog_Init -> void");
    ASSERT_EQ(shell.call("soft_dog_run"), "soft_dog_run -> void");
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(shell.call("SoftDogEnable 1 0"), "SoftDogEnable -> 0");
    std::this_thread::sleep_for(55s);
    EXPECT_THAT(standins(), testing::Not(HasSubstr("reboot")));
    auto end = t0 + 75s;
    while (standins().find("reboot") == std::string::npos && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(200ms);
    EXPECT_THAT(standins(), HasSubstr("reboot\n"));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 59s);
    shell.finish();
}

}  // namespace
