// The whole box comes up: InitializeSDK against the simulated box, then the send loop, output
// requests, the GPS receiver and the positioning mode, in one host process (start-up costs ~6 s).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using systest::HostShell;
using systest::TempRoot;
using testing::HasSubstr;

// The system's poll frame, and its output command with output 1 on; output 2 alone changes the
// mask to 02 and, one ASCII code higher in the sum, the checksum to F7F4.
constexpr std::string_view kPoll = "~FFFF03540000FD5C\r";
constexpr std::string_view kOutput2On = "~FFFF0555B014FF02FFFFFFFFFFFFFFFFF7F4\r";

// The system's settings frame for 9600 8N1 on board channel 0; another channel changes the CID
// and, with it, the sum.
Bytes settings_9600(std::uint8_t cid) {
    return {0x7E, 0x00, 0x07, cid, 0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, static_cast<std::uint8_t>(cid - 0x4B), 0x0D};
}

std::vector<Bytes> raws(const std::vector<sim::Frame>& frames) {
    std::vector<Bytes> out;
    for (auto& f : frames)
        if (f.cid != 0x92) out.push_back(f.raw);
    return out;
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
        testfiles::write_file(root / "etc/config/vqm", "\nconfig vqm 'sys'\n\toption pcas '3'\n");
        for (const char* pkg : {"Device", "EnvironmentPar", "monitor", "network", "ks"})
            testfiles::write_file(root / (std::string("etc/config/") + pkg), "\n");
    }
    static sim::Options options() {
        sim::Options o;
        o.announce_period = 300ms;
        o.environment = true;
        o.gps.enabled = true;
        o.exported = {kLedLines.begin(), kLedLines.end()};
        return o;
    }
    static constexpr std::array<int, 4> kLedLines{1, 18, 0, 4};  // run, alarm, net and Local/Led/1
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

    // Standard output, in the start-up's order, with every receive thread announcing itself.
    const std::string out = shell.out();
    std::size_t at = 0;
    for (const std::string text :
         {"]:InitializeSDK", "SDK:open all led\r\n", "SDK:close all led\r\n", "sdk_start_log end\r\n",
          "BSP_ComCreate(0, /dev/ttymxc1) success !\n", "BSP_ComCreate(6, /dev/ttymxc7) success !\n",
          "STUMP[010]: FILE: com_process, FUNCTION: FSU_COM_READ_THREAD_START, LINE: ",
          "]:COM=12;AI=0;DI=0,AO=0,DO=0COM=12;AI=0;DI=0,AO=0,DO=0"}) {
        std::size_t found = out.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << text << "\n" << out;
        at = found + text.size();
    }
    EXPECT_THAT(out, testing::Not(HasSubstr("ERROR:"))) << "every port opens and takes its settings";
    for (auto [n, fn] : {std::pair{0, "M_COM_READ_THREAD"}, {3, "M_COM_READ_THREAD"}, {4, "EXT_COM_READ_THREAD"},
                         {5, "EXT_COM_READ_THREAD"}, {6, "ENV_COM_READ_THREAD"}}) {
        char stump[80];
        std::snprintf(stump, sizeof stump, "STUMP[%03d]: FILE: com_process, FUNCTION: %s, LINE: ", n, fn);
        EXPECT_THAT(out, HasSubstr(stump));
    }
    // The LED lines: set up as outputs, and all off again after the lamp test (active-low: 1).
    for (int line : kLedLines) EXPECT_EQ(box.gpio().line(line), (sim::GpioLine{1, "out", "none"})) << "gpio" << line;
    // The wire: nine settings frames (board 2's channels in Uart order 9..12: 0, 2, 1, 3), then
    // the receiver commanded into mode 3.
    EXPECT_EQ(raws(b1.frames()), (std::vector<Bytes>{settings_9600(0x60), settings_9600(0x61), settings_9600(0x62),
                                                     settings_9600(0x63), settings_9600(0x64)}));
    EXPECT_EQ(raws(b2.frames()),
              (std::vector<Bytes>{settings_9600(0x60), settings_9600(0x62), settings_9600(0x61), settings_9600(0x63)}));
    ASSERT_TRUE(box.wait_for([&] { return !box.gps().sentences().empty(); }, 5s));
    EXPECT_EQ(box.gps().sentences()[0].text, "$PCAS04,3*1A");

    // A second start returns -1 and sends nothing.
    const std::size_t out_before = shell.out().size();
    EXPECT_EQ(shell.call("InitializeSDK"), "InitializeSDK -> -1");
    EXPECT_EQ(shell.call("UninitializeSDK"), "UninitializeSDK -> 0");
    EXPECT_EQ(shell.call("InitializeSDK"), "InitializeSDK -> -1");
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(raws(b1.frames()).size(), 5u);
    EXPECT_EQ(shell.out().substr(out_before).find("InitializeSDK"), std::string::npos);
    EXPECT_THAT(systest::read_file(root / "tmp/sdklog.log"), HasSubstr("]:UninitializeSDK"));

    // The send loop: one poll a second; an output request replaces one poll with its command.
    ASSERT_EQ(shell.call("ENV_COM_SEND_THREAD 6"), "ENV_COM_SEND_THREAD -> 0");
    ASSERT_TRUE(box.wait_for([&] { return payloads_of(b1, 0x84, kPoll).size() >= 2; }, 5s));
    const auto polls = payloads_of(b1, 0x84, kPoll);
    EXPECT_GT(polls[1].when - polls[0].when, 700ms);
    EXPECT_LT(polls[1].when - polls[0].when, 1500ms);
    EXPECT_EQ(shell.call("SetDOValue \"Local/DO/2\" 1"), "SetDOValue -> 0");
    ASSERT_TRUE(box.wait_for([&] { return !payloads_of(b1, 0x84, kOutput2On).empty(); }, 5s));
    EXPECT_EQ(shell.call("DO_API_SET_CHECK"), "DO_API_SET_CHECK -> -1");
    // The equipment switched output 2 on; its answers come back on Local/Uart/14 as power-protocol
    // frames ("~" ... "\r").
    EXPECT_TRUE(box.wait_for([&] { return box.environment().outputs() == std::array<bool, 4>{false, true, false, false}; }, 5s));
    EXPECT_THAT(shell.call_until("ReadUart \"Local/Uart/14\" bytes:512 512 200", "hex:7E"),
                testing::ContainsRegex("ReadUart -> [1-9][0-9]* hex:7E([0-9A-F]{2})+0D"));

    // The receiver's stream reaches the GPS API (the batch after the mode change is discarded):
    // the worked example's position, to the metres the receiver moves.
    EXPECT_THAT(shell.call_until("GET_BSP_GPS_INFO buf:384", "lon=113.9464", 15s), HasSubstr("lon=113.9464"));
    EXPECT_THAT(shell.call("GET_BSP_GPS_INFO buf:384"), HasSubstr(",lat=22.6020"));

    // The positioning mode, from the SDK side and the web side: both keys, then the receiver.
    box.gps().clear();
    EXPECT_EQ(shell.call("SetPositionMode 1", 15s), "SetPositionMode -> 0");
    EXPECT_THAT(standins(), HasSubstr("uci set vqm.sys.pcas=1\nuci set vqm.sys.pcas_sdk=1\nuci commit\n"));
    EXPECT_THAT(systest::read_file(root / "etc/config/vqm"), HasSubstr("option pcas_sdk '1'"));
    ASSERT_TRUE(box.wait_for([&] { return !box.gps().sentences().empty(); }, 5s));
    EXPECT_EQ(box.gps().sentences()[0], (sim::Sentence{"$PCAS04,1*18", true}));
    EXPECT_EQ(shell.call("BSP_SET_GPS_PCAS 2", 15s), "BSP_SET_GPS_PCAS -> 0");
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
    EXPECT_TRUE(box.wait_for([&] { return standins().find("reboot\n") != std::string::npos; }, 20s));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 59s);
    shell.finish();
}

}  // namespace
