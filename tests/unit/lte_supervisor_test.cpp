// The LTE supervisor's passes beside four host threads calling the Dial API, against a pty that
// answers as a module and stand-in tools in the root's bin/: no data race (the TSan build runs
// it), and every report a host gets holds whole texts.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "lte/lte.h"
#include "pty_device.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;

// The module's answers (transcripts.md rows 9, 13, 19, 27 and 30).
struct Answer {
    std::string_view command, answer;
};
constexpr Answer kAnswers[] = {
    {"ATE0", "\r\nOK\r\n"},
    {"ATH", "\r\nOK\r\n"},
    {"AT+CFUN=1,1", "\r\nOK\r\n"},
    {"AT+CSQ", "\r\n+CSQ: 24,99\r\n\r\nOK\r\n"},
    {"AT^SYSINFO", "\r\n^SYSINFO: 2,3,0,17,1\r\n\r\nOK\r\n"},
    {"AT+CIMI", "\r\n460023210226023\r\n\r\nOK\r\n"},
    {"AT+CGSN", "\r\n862140060226843\r\n\r\nOK\r\n"},
};

// Each thread's time passes a hundred times faster than the wall clock while it sleeps: a 100 ms
// poll takes 1 ms, a pass's second 10 ms.
class FastClock : public bsp::os::Clock {
  public:
    FastClock() { bsp::os::set_clock(this); }
    ~FastClock() override { bsp::os::set_clock(nullptr); }
    timeval time_of_day() noexcept override {
        return {static_cast<std::time_t>(slept_us / 1000000), static_cast<suseconds_t>(slept_us % 1000000)};
    }
    void sleep_ms(long ms) noexcept override {
        slept_us += ms * 1000;
        std::this_thread::sleep_for(std::chrono::microseconds(ms * 10));
    }

  private:
    static thread_local long long slept_us;
};
thread_local long long FastClock::slept_us = 0;

class SupervisorThreads : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        stand_in("lsusb", "echo 'Bus 001 Device 003: ID 2c7c:0125 Quectel Wireless Solutions Co., Ltd. EC25 LTE modem'\n");
        stand_in("ifconfig", "printf 'ppp0      Link encap:Point-to-Point Protocol  \\n          inet addr:10.64.12.7  "
                             "P-t-P:10.64.64.64  Mask:255.255.255.255\\n%0200d\\n' 0\n");
        stand_in("uci", "");
        stand_in("nohup", "exec \"$@\"\n");  // no nohup.out where the tests run
        std::filesystem::create_directories(box("sys/class/gpio/gpio12"));
        std::filesystem::create_directories(box("sys/bus/usb-serial/drivers/option1"));
        module = std::make_unique<unit::PtyDevice>(root_, "ttyUSB3");
        STR_LOG_PAR.net = STR_LOG_PAR.sys = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        NTU = NTU_T{};
        module.reset();
        RootedTest::TearDown();
    }
    // Answers each command line as it comes in, until stopped.
    void answer_commands() {
        std::string line;
        while (!stop) {
            for (auto b : module->read(1, 20ms)) {
                if (b == '\n') continue;
                if (b != '\r') {
                    line += static_cast<char>(b);
                    continue;
                }
                for (const Answer& a : kAnswers)
                    if (line == a.command) module->write(unit::bytes(a.answer));
                line.clear();
            }
        }
    }

    FastClock clock;
    std::unique_ptr<unit::PtyDevice> module;
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
            while (!stop) {
                DialDial("", "");
                if (const int online = DialIsOnline(); online != 0 && online != -1) ++torn;
                DialGetStaticInfo(info.data(), 0);
                if (!std::regex_match(info.data(), static_info)) ++torn;
                DialGetDynamicInfo(info.data(), 0);
                if (!std::regex_match(info.data(), dynamic_info)) ++torn;
                if (host != 0) continue;
                DialSoftReboot();
                DialHardReboot();
                DialTerminate();
                DialInit();
            }
        });
    auto done = [&] {
        std::array<char, SDK_BSP_NTU_TEXT_SIZE> ip{};
        bsp::lte::copy_text(ip.data(), ip.size(), NTU.lteip);
        return passes >= 6 && std::string(ip.data()) == "10.64.12.7" &&
               unit::read_file(box("tmp/ran")).find("lte.sh") != std::string::npos;
    };
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    stop = true;
    for (auto& t : threads) t.join();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(done());
    EXPECT_EQ(torn, 0);
    EXPECT_STREQ(NTU.imsi, "460023210226023");
    EXPECT_STREQ(NTU.imei, "862140060226843");
    EXPECT_NE(unit::read_file(box("tmp/ran")).find("killall pppd"), std::string::npos);
}

}  // namespace
