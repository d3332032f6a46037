#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "sdk_bsp.h"
#include "support.h"

namespace {

using testing::HasSubstr;

class Values : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        std::memset(&STR_BSP_ENV_INFO, 0, sizeof STR_BSP_ENV_INFO);
        STR_LOG_PAR.debug = 2;  // the API lines, to the file only
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        RootedTest::TearDown();
    }
    std::string log() { return unit::read_file(box("tmp/sdklog.log")); }
};

TEST_F(Values, AnalogReadsPickTheKindsTableAndRefuseOtherNames) {
    STR_BSP_ENV_INFO.ai_kind0[15] = 12.5f;
    STR_BSP_ENV_INFO.ai_other[15] = -3.25f;
    float v = 0;
    EXPECT_EQ(GetAIValue("Local/AI/16", 0, &v), 0);
    EXPECT_EQ(v, 12.5f);
    EXPECT_EQ(GetAIValue("Local/AI/16", -1, &v), 0);
    EXPECT_EQ(v, -3.25f);
    for (const char* name : {"Local/AI/17", "Local/DI/1", "no such name", static_cast<const char*>(nullptr)}) {
        v = 7.0f;
        EXPECT_EQ(GetAIValue(name, 0, &v), -1);
        EXPECT_EQ(v, 7.0f);
    }
    EXPECT_EQ(GetAIValue("Local/AI/1", 0, nullptr), -1);

    const std::string text = log();
    EXPECT_THAT(text, HasSubstr("]:GetAIValue resourceName:Local/AI/16 type=-1,Value=-3.250000;result=0"));
    EXPECT_THAT(text, HasSubstr("]:Local/AI/ Resources error\r\n"));
    EXPECT_THAT(text, HasSubstr("]:GetAIValue resourceName:Local/AI/17 type=0,Value=7.000000;result=-1"));
    EXPECT_THAT(text, HasSubstr("]:GetAIValue resourceName:(null) type=0,Value=7.000000;result=-1"));
}

TEST_F(Values, AnalogTextIsPrintfFloatAndFitsItsBuffer) {
    STR_BSP_ENV_INFO.ai_kind0[1] = 0.1f;
    STR_BSP_ENV_INFO.ai_other[1] = -3.40282346638528859811704183484516925440e+38f;  // the longest text
    std::array<char, SDK_BSP_AI_TEXT_SIZE + 1> text;
    text.fill('#');
    EXPECT_EQ(GetAIValue_String("Local/AI/2", 0, text.data()), 0);
    EXPECT_STREQ(text.data(), "0.100000");
    EXPECT_EQ(GetAIValue_String("Local/AI/2", 3, text.data()), 0);
    EXPECT_STREQ(text.data(), "-340282346638528859811704183484516925440.000000");
    EXPECT_EQ(text.back(), '#');
    EXPECT_EQ(GetAIValue_String("Local/AI/20", 0, text.data()), -1);
    EXPECT_STREQ(text.data(), "0.000000");
    EXPECT_EQ(GetAIValue_String("Local/AI/2", 0, nullptr), -1);
    EXPECT_THAT(log(), HasSubstr("]:GetAIValue resourceName:Local/AI/2 type=0,Value=0.100000;result=0"));
}

TEST_F(Values, DigitalReadsCoverInputsThenOutputStatesAndBatteriesAreRefused) {
    STR_BSP_ENV_INFO.di[15] = 1;
    STR_BSP_ENV_INFO.do_state[0] = 1;
    STR_BSP_ENV_INFO.do_state[7] = 200;
    const std::pair<const char*, int> served[] = {{"Local/DI/1", 0}, {"Local/DI/16", 1}, {"Local/DI/17", 1}, {"Local/DI/24", 200}};
    for (auto [name, expected] : served) {
        int v = -5;
        EXPECT_EQ(GetDIValue(name, &v), 0) << name;
        EXPECT_EQ(v, expected) << name;
    }
    for (const char* name : {"Local/DI/25", "Local/DO/1", "Local/AI/1"}) {
        int v = -5;
        EXPECT_EQ(GetDIValue(name, &v), -1) << name;
        EXPECT_EQ(v, -5) << name;
    }
    float f = 2.5f;
    EXPECT_EQ(GetBatValue("Local/Bat/1", &f), -1);
    EXPECT_EQ(f, 2.5f);
    EXPECT_EQ(GetBatValue("Local/Bat/1", nullptr), -1);

    const std::string text = log();
    EXPECT_THAT(text, HasSubstr("]:GetDIValue resourceName:Local/DI/24,Value=200"));
    EXPECT_THAT(text, HasSubstr("]:GetDIValue resourceName:Local/DI/25,Value=-5"));
    EXPECT_THAT(text, HasSubstr("]:GetBatValue resourceName:Local/Bat/1,Value=2.500000"));
    EXPECT_THAT(text, testing::Not(HasSubstr("Resources error")));
}

TEST_F(Values, OutputRequestKeepsTheLowByteAndRaisesItsFlag) {
    EXPECT_EQ(SetDOValue("Local/DO/2", 257), 0);
    EXPECT_EQ(STR_BSP_ENV_INFO.do_value[1], 1);
    EXPECT_EQ(SetDOValue("Local/DO/4", -1), 0);
    EXPECT_EQ(STR_BSP_ENV_INFO.do_value[3], 255);
    const std::array<std::uint8_t, 8> pending{0, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(STR_BSP_ENV_INFO.do_request, pending.data(), 8), 0);

    STR_BSP_ENV_INFO_T before = STR_BSP_ENV_INFO;
    EXPECT_EQ(SetDOValue("Local/DO/5", 1), -1);
    EXPECT_EQ(SetDOValue("Local/DI/1", 1), -1);
    EXPECT_EQ(SetDOValue(nullptr, 1), -1);
    EXPECT_EQ(std::memcmp(&before, &STR_BSP_ENV_INFO, sizeof before), 0) << "a refused request records nothing";
    EXPECT_THAT(log(), HasSubstr("]:SetDOValue resourceName:Local/DO/2,Value=257"));
    EXPECT_THAT(log(), HasSubstr("]:SetDOValue resourceName:Local/DO/5,Value=1"));
}

// Host threads request outputs while a consumer does what the environment send loop does with a
// pending request: take the flag with an exchange to 0, then read the value. Each request's value
// must reach the consumer before the next one is made.
using ValuesThreads = Values;

TEST_F(ValuesThreads, NoOutputRequestIsLost) {
    constexpr int kOutputs = 4, kRounds = 5000;
    std::array<std::atomic<int>, kOutputs> seen{};  // the last value the consumer took, per output
    std::atomic<bool> stop{false};
    std::thread consumer([&] {
        while (!stop)
            for (int i = 0; i < kOutputs; ++i)
                if (std::atomic_ref(STR_BSP_ENV_INFO.do_request[i]).exchange(0, std::memory_order_acquire) == 1)
                    seen[i] = std::atomic_ref(STR_BSP_ENV_INFO.do_value[i]).load(std::memory_order_relaxed);
    });
    std::atomic<int> lost{0};
    std::vector<std::thread> hosts;
    for (int i = 0; i < kOutputs; ++i) {
        hosts.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                int value = round % 250 + 1;  // never the previous round's value
                SetDOValue_FromResourceName(301 + i, value);
                auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                while (seen[i] != value) {
                    if (std::chrono::steady_clock::now() > deadline) {
                        ++lost;
                        return;
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(20));
                }
            }
        });
    }
    for (auto& h : hosts) h.join();
    stop = true;
    consumer.join();
    EXPECT_EQ(lost.load(), 0);
}

}  // namespace
