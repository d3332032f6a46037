// The LTE supervisor's passes beside four host threads calling the Dial API, against a pty that
// answers as a module and stand-in tools in the root's bin/: no data race (the TSan build runs it),
// and every report a host gets holds whole texts.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "at_port.h"

namespace {

using namespace std::chrono_literals;

// The module's answers (transcripts.md rows 9, 13, 19, 27 and 30).
const std::map<std::string, std::string> kAnswers{
    {"ATE0", "\r\nOK\r\n"}, {"ATH", "\r\nOK\r\n"}, {"AT+CFUN=1,1", "\r\nOK\r\n"}, {"AT+CSQ", "\r\n+CSQ: 24,99\r\n\r\nOK\r\n"},
    {"AT^SYSINFO", "\r\n^SYSINFO: 2,3,0,17,1\r\n\r\nOK\r\n"}, {"AT+CIMI", "\r\n460023210226023\r\n\r\nOK\r\n"},
    {"AT+CGSN", "\r\n862140060226843\r\n\r\nOK\r\n"}};

// The module on a pty at dev/ttyUSB3 and a clock on which a 100 ms poll passes in a few
// microseconds of sleep (at_port.h).
class SupervisorThreads : public unit::AtPortTest {
  protected:
    void SetUp() override {
        AtPortTest::SetUp();
        stand_in("lsusb", "echo 'Bus 001 Device 003: ID 2c7c:0125 Quectel Wireless Solutions Co., Ltd. EC25 LTE modem'\n");
        stand_in("ifconfig", "printf 'ppp0 Link encap:Point-to-Point Protocol\\n inet addr:10.64.12.7  Mask:255.255.255.255\\n%0200d\\n' 0\n");
        stand_in("uci", "");
        stand_in("nohup", "exec \"$@\"\n");  // no nohup.out where the tests run
        for (const char* dir : {"sys/class/gpio/gpio12", "sys/bus/usb-serial/drivers/option1"}) std::filesystem::create_directories(box(dir));
    }
    void TearDown() override {
        NTU = NTU_T{};
        AtPortTest::TearDown();
    }
    void answer_commands() {
        for (std::string line; !stop;)
            for (auto b : module->read(1, 20ms)) {
                if (b != '\r') {
                    if (b != '\n') line += static_cast<char>(b);
                } else if (auto a = kAnswers.find(std::exchange(line, {})); a != kAnswers.end()) {
                    module->write(unit::bytes(a->second));
                }
            }
    }
    bool done(int passes) {
        std::array<char, SDK_BSP_NTU_TEXT_SIZE> ip{};
        bsp::lte::copy_text(ip.data(), ip.size(), NTU.lteip);
        return passes >= 6 && std::string(ip.data()) == "10.64.12.7" && unit::read_file(box("tmp/ran")).find("lte.sh") != std::string::npos;
    }

    std::atomic<bool> stop{false};
};

TEST_F(SupervisorThreads, DialApiBesideTheSupervisor) {
    const std::regex static_info(R"(\{"TelcomCarrier":"(CMCC)?","MFRS":"VQ", "Model":"(LTE)?", "Version":"0.1", )"
                                 R"("IMEI":"(862140060226843)?", "IMSI":"(460023210226023)?"\})");
    const std::regex dynamic_info(R"(\{"CardStat":"[01]", "SignalStrength":"(-61)?", "IP":"(10\.64\.12\.7)?", )"
                                  R"("Longitude":"0\.000000", "Latitude":"0\.000000"\})");
    std::atomic<int> passes{0}, torn{0};
    testing::internal::CaptureStdout();  // the queries' prints
    std::vector<std::thread> threads;
    threads.emplace_back([&] { answer_commands(); });
    threads.emplace_back([&] {
        for (int count = 0; !stop; passes = ++count) {
            bsp::lte::supervisor_pass(count);
            mysleep(1);
        }
    });
    for (int host = 0; host < 4; ++host)
        threads.emplace_back([&, host] {
            std::array<char, 256> info{};
            if (host == 0) torn += DialHardReboot();  // once: its 3 s pass on everyone's clock
            while (!stop) {
                DialDial("", "");
                torn += DialIsOnline() < -1;
                DialGetStaticInfo(info.data(), 0);
                torn += !std::regex_match(info.data(), static_info);
                DialGetDynamicInfo(info.data(), 0);
                torn += !std::regex_match(info.data(), dynamic_info);
                if (host == 0) torn += DialSoftReboot() + DialTerminate() + DialInit();  // all 0
            }
        });
    for (auto end = std::chrono::steady_clock::now() + 120s; !done(passes) && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    stop = true;
    for (auto& t : threads) t.join();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(done(passes));
    EXPECT_EQ(torn, 0);
}

}  // namespace
