#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sdk/sdk.h"
#include "support.h"

namespace {

TEST(ResourceNames, ResolveExactlyByTheTableRule) {
    struct Case {
        const char* name;
        int id;
    };
    const Case cases[] = {
        {"Local/Uart/1", 1},        {"Local/Uart/16", 16},    {"Local/AI/1", 101},    {"Local/AI/32", 132},
        {"Local/DI/5", 205},        {"Local/DO/4", 304},      {"Local/Bat/4", 404},   {"Local/Led/run", 501},
        {"Local/Led/power", 502},   {"Local/Led/alarm", 503}, {"Local/Led/net", 504}, {"Local/Led/update", 505},
        {"Local/Led/extend3", 508}, {"Local/Led/1", 509},     {"Local/Led/14", 522},
        // not in the table
        {"Local/Uart/17", 523}, {"Local/Led/15", 523}, {"", 523},           {"local/uart/1", 523},
        {"Local/Uart/01", 523}, {"Local/Uart/1 ", 523}, {"Local/AI/0", 523}, {"Local/Bat/5", 523},
    };
    for (const Case& c : cases) EXPECT_EQ(READ_resourceName(c.name), c.id) << c.name;
    EXPECT_EQ(READ_resourceName(nullptr), 523);
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

}  // namespace
