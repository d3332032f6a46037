// The resources by name and count, the input and output values the environment board reports and
// takes, and the environment link's send loop that carries the output requests to it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com/env_link.h"
#include "sdk_bsp.h"
#include "support.h"

namespace {

using testing::ElementsAre;

TEST(ResourceNames, ResolveExactlyByTheTableRule) {
    const std::pair<const char*, int> cases[] = {
        {"Local/Uart/1", 1},        {"Local/Uart/16", 16},    {"Local/AI/1", 101},    {"Local/AI/32", 132},
        {"Local/DI/5", 205},        {"Local/DO/4", 304},      {"Local/Bat/4", 404},   {"Local/Led/run", 501},
        {"Local/Led/power", 502},   {"Local/Led/alarm", 503}, {"Local/Led/net", 504}, {"Local/Led/update", 505},
        {"Local/Led/extend3", 508}, {"Local/Led/1", 509},     {"Local/Led/14", 522},
        // not in the table (more are bad_calls.txt's)
        {"Local/Led/15", 523}, {"local/uart/1", 523}, {"Local/Uart/1 ", 523}, {"Local/AI/0", 523}, {"Local/Bat/5", 523},
    };
    for (const auto& [name, id] : cases) EXPECT_EQ(READ_resourceName(name), id) << name;
}

class Resources : public unit::RootedTest {
  protected:
    void TearDown() override {
        flags(0, 0, 0, 0);
        RootedTest::TearDown();
    }
    static void flags(int m_com, int ext_com, int m_env, int ext_env) {
        PAR_SET_M_COM_EXIST_STATUS(m_com);
        PAR_SET_EXT_COM_EXIST_STATUS(ext_com);
        PAR_SET_M_ENV_EXIST_STATUS(m_env);
        PAR_SET_EXT_ENV_EXIST_STATUS(ext_env);
    }
};

// Counts follow only flags holding exactly 1; the line printed is the system's text.
TEST_F(Resources, CountsFollowTheFlags) {
    struct Case {
        int m_com, ext_com, m_env, ext_env;
        const char* line;
    };
    const Case cases[] = {
        {0, 0, 0, 0, "COM=4;AI=0;DI=0,AO=0,DO=0"},  {1, 1, 0, 0, "COM=12;AI=0;DI=0,AO=0,DO=0"},
        {0, 1, 0, 0, "COM=8;AI=0;DI=0,AO=0,DO=0"},  {2, 0, 2, 2, "COM=4;AI=0;DI=0,AO=0,DO=0"},
        {0, 0, 0, 1, "COM=4;AI=8;DI=0,AO=0,DO=0"},  {1, 0, 1, 1, "COM=8;AI=16;DI=16,AO=0,DO=4"},
    };
    for (const Case& c : cases) {
        flags(c.m_com, c.ext_com, c.m_env, c.ext_env);
        EXPECT_EQ(unit::printed(BSP_Resource_CHECK), c.line);
        char getters[64];
        std::snprintf(getters, sizeof getters, "COM=%d;AI=%d;DI=%d,AO=0,DO=%d", sdk_read_com_num(), sdk_read_ai_num(),
                      sdk_read_di_num(), sdk_read_do_num());
        EXPECT_EQ(getters, std::string(c.line));
        EXPECT_EQ(STR_SYSTEM_RESOURCES_NUM.RESERVED + STR_SYSTEM_RESOURCES_NUM.AO, 0);
    }
    // The getters return the last count; a flag set since then changes nothing until a recount.
    PAR_SET_EXT_COM_EXIST_STATUS(1);
    EXPECT_EQ(sdk_read_com_num(), 8);
}

TEST_F(Resources, ListIsTheLongestJsonWithEveryBoard) {
    flags(1, 1, 1, 1);
    char list[SDK_BSP_RESOURCE_LIST_SIZE];
    unit::printed([&] { EXPECT_EQ(ReadFSUResource(list, sizeof list), 0); });
    std::string expected = "[";
    for (auto [fmt, count] : {std::pair{"\"Local/Uart/%d\",", 12}, {"\"Local/AI/%d\",", 16}, {"\"Local/DI/%d\",", 16},
                              {"\"Local/DO/%d\",", 4}, {"\"Local/Led/%d\",", 14}})
        for (int n = 1; n <= count; ++n) {
            char one[32];
            std::snprintf(one, sizeof one, fmt, n);
            expected += one;
        }
    expected.back() = ']';
    EXPECT_EQ(list, expected);
    EXPECT_EQ(expected.size(), SDK_BSP_RESOURCE_LIST_SIZE - 1u);
}

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
};

TEST_F(Values, AnalogReadsPickTheKindsTableAndRefuseOtherNames) {
    STR_BSP_ENV_INFO.ai_kind0[15] = 12.5f;
    STR_BSP_ENV_INFO.ai_other[15] = -3.25f;
    float v = 0;
    EXPECT_EQ(GetAIValue("Local/AI/16", 0, &v), 0);
    EXPECT_EQ(v, 12.5f);
    EXPECT_EQ(GetAIValue("Local/AI/16", -1, &v), 0);
    EXPECT_EQ(v, -3.25f);
    EXPECT_THAT(logged(), ElementsAre("GetAIValue resourceName:Local/AI/16 type=0,Value=12.500000;result=0",
                                      "GetAIValue resourceName:Local/AI/16 type=-1,Value=-3.250000;result=0"));
    for (const char* name : {"Local/AI/17", "Local/DI/1", "no such name", static_cast<const char*>(nullptr)}) {
        v = 7.0f;
        EXPECT_EQ(GetAIValue(name, 0, &v), -1);
        EXPECT_EQ(v, 7.0f);
        EXPECT_THAT(logged(), ElementsAre("Local/AI/ Resources error",
                                          "GetAIValue resourceName:" + std::string(name ? name : "(null)") +
                                              " type=0,Value=7.000000;result=-1"));
    }
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
    EXPECT_EQ(logged().at(0), "GetAIValue resourceName:Local/AI/2 type=0,Value=0.100000;result=0");
}

TEST_F(Values, DigitalReadsCoverInputsThenOutputStatesAndBatteriesAreRefused) {
    STR_BSP_ENV_INFO.di[15] = 1;
    STR_BSP_ENV_INFO.do_state[0] = 1;
    STR_BSP_ENV_INFO.do_state[7] = 200;
    const std::pair<const char*, int> cases[] = {{"Local/DI/1", 0},  {"Local/DI/16", 1}, {"Local/DI/17", 1},
                                                 {"Local/DI/24", 200}, {"Local/DI/25", -5}, {"Local/DO/1", -5}};
    for (auto [name, expected] : cases) {
        int v = -5;
        EXPECT_EQ(GetDIValue(name, &v), expected == -5 ? -1 : 0) << name;
        EXPECT_EQ(v, expected) << name;
    }
    float f = 2.5f;
    EXPECT_EQ(GetBatValue("Local/Bat/1", &f) + GetBatValue("Local/Bat/1", nullptr), -2);
    EXPECT_EQ(f, 2.5f);
    const auto lines = logged();
    EXPECT_EQ(lines.at(3), "GetDIValue resourceName:Local/DI/24,Value=200");
    EXPECT_EQ(lines.at(4), "GetDIValue resourceName:Local/DI/25,Value=-5");
    EXPECT_EQ(lines.at(6), "GetBatValue resourceName:Local/Bat/1,Value=2.500000");
    EXPECT_EQ(lines.size(), 8u) << "no resources error for DI or battery names";
}

TEST_F(Values, OutputRequestKeepsTheLowByteAndRaisesItsFlag) {
    EXPECT_EQ(SetDOValue("Local/DO/2", 257), 0);
    EXPECT_EQ(SetDOValue("Local/DO/4", -1), 0);
    EXPECT_EQ(STR_BSP_ENV_INFO.do_value[1] * 1000 + STR_BSP_ENV_INFO.do_value[3], 1255);
    const std::array<std::uint8_t, 8> pending{0, 1, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(STR_BSP_ENV_INFO.do_request, pending.data(), 8), 0);
    const STR_BSP_ENV_INFO_T before = STR_BSP_ENV_INFO;
    EXPECT_EQ(SetDOValue("Local/DO/5", 1) + SetDOValue("Local/DI/1", 1) + SetDOValue(nullptr, 1), -3);
    EXPECT_EQ(std::memcmp(&before, &STR_BSP_ENV_INFO, sizeof before), 0) << "a refused request records nothing";
    EXPECT_THAT(logged(), testing::IsSupersetOf({"SetDOValue resourceName:Local/DO/2,Value=257",
                                                 "SetDOValue resourceName:Local/DO/5,Value=1"}));
}

// One second of the send loop, as the frame it would send.
std::string next_frame() {
    std::array<char, SDK_BSP_POWER_FRAME_MAX> area;
    return std::string(bsp::com::next_env_frame(area));
}

class EnvLink : public testing::Test {
  protected:
    void SetUp() override { std::memset(&STR_BSP_ENV_INFO, 0, sizeof STR_BSP_ENV_INFO); }
};
using EnvLinkThreads = EnvLink;

TEST_F(EnvLink, OutputCommandCarriesRequestsAndPresentStates) {
    EXPECT_EQ(next_frame(), "~FFFF03540000FD5C\r");  // the poll while nothing is pending
    SetDOValue_FromResourceName(301, 1);
    SetDOValue_FromResourceName(303, 0);
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(DO_API_SET_CHECK(), 1); }), "ready set do 1");
    // The system's stored output command for output 1 on, the others off; both requests consumed.
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(next_frame(), "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r"); }), "ready set do 1");
    EXPECT_EQ(DO_API_SET_CHECK(), -1);

    // A value other than 1 is off; an output without a request keeps its present state.
    STR_BSP_ENV_INFO.do_state[1] = STR_BSP_ENV_INFO.do_state[3] = 1;
    SetDOValue_FromResourceName(304, 2);
    char frame[SDK_BSP_POWER_FRAME_MAX];
    EXPECT_EQ(SET_DO_CMD(frame), 38);
    EXPECT_EQ(std::string(frame + 13, 4), "FF02");
    EXPECT_EQ(SET_DO_CMD(nullptr), 0);
    // Flags 5..8 are seen but never consumed by the command.
    STR_BSP_ENV_INFO.do_request[6] = 1;
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(DO_API_SET_CHECK(), 1); }), "ready set do 7");
    SET_DO_CMD(frame);
    EXPECT_EQ(STR_BSP_ENV_INFO.do_request[6], 1);

    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 0u);
    SET_ENV_BOARD_RIGHT_FG();
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 1u);
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 0u);
}

// Host threads keep requesting "off" through SetDOValue and finally "on", while the send loop's
// own step consumes. No output is on otherwise, so an output's bit set in any frame proves that
// its final request went out: none is lost.
TEST_F(EnvLinkThreads, RequestsMadeWhileTheSendLoopConsumesAreNeverLost) {
    std::atomic<bool> hosts_done{false};
    unsigned seen = 0;
    auto consume = [&] {
        const std::string f = next_frame();
        if (f.size() == 38) seen |= static_cast<unsigned>(std::stoul(f.substr(15, 2), nullptr, 16));
    };
    testing::internal::CaptureStdout();  // the pending check's traces
    std::thread sender([&] {
        while (!hosts_done.load()) consume();
    });
    std::vector<std::thread> hosts;
    for (int output = 1; output <= 4; ++output)
        hosts.emplace_back([output] {
            const std::string name = "Local/DO/" + std::to_string(output);
            for (int k = 0; k < 5000; ++k) SetDOValue(name.c_str(), 0);
            SetDOValue(name.c_str(), 1);
        });
    for (auto& h : hosts) h.join();
    hosts_done = true;
    sender.join();
    consume();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(seen, 0x0Fu);
    EXPECT_EQ(DO_API_SET_CHECK(), -1);
}

}  // namespace
