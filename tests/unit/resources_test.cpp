#include <gmock/gmock.h>
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
        {"Local/Uart/1", 1},       {"Local/Uart/16", 16},     {"Local/AI/1", 101},     {"Local/AI/32", 132},
        {"Local/DI/5", 205},       {"Local/DO/4", 304},       {"Local/Bat/4", 404},    {"Local/Led/run", 501},
        {"Local/Led/power", 502},  {"Local/Led/alarm", 503},  {"Local/Led/net", 504},  {"Local/Led/update", 505},
        {"Local/Led/extend3", 508}, {"Local/Led/1", 509},     {"Local/Led/14", 522},
        // not in the table
        {"Local/Uart/17", 523},    {"Local/Led/15", 523},     {"", 523},               {"local/uart/1", 523},
        {"Local/Uart/01", 523},    {"Local/Uart/1 ", 523},    {"Local/AI/0", 523},     {"Local/Bat/5", 523},
    };
    for (const Case& c : cases) EXPECT_EQ(READ_resourceName(c.name), c.id) << c.name;
    EXPECT_EQ(READ_resourceName(nullptr), 523);
}

class Resources : public unit::RootedTest {
  protected:
    void flags(int m_com, int ext_com, int m_env, int ext_env) {
        PAR_SET_M_COM_EXIST_STATUS(m_com);
        PAR_SET_EXT_COM_EXIST_STATUS(ext_com);
        PAR_SET_M_ENV_EXIST_STATUS(m_env);
        PAR_SET_EXT_ENV_EXIST_STATUS(ext_env);
    }
    // "COM,AI,DI,DO" as counted, and the line printed on standard output.
    std::string count() {
        testing::internal::CaptureStdout();
        BSP_Resource_CHECK();
        printed_ = testing::internal::GetCapturedStdout();
        return std::to_string(sdk_read_com_num()) + "," + std::to_string(sdk_read_ai_num()) + "," +
               std::to_string(sdk_read_di_num()) + "," + std::to_string(sdk_read_do_num());
    }
    void TearDown() override {
        flags(0, 0, 0, 0);
        RootedTest::TearDown();
    }
    std::string printed_;
};

TEST_F(Resources, CountsFollowOnlyFlagsHoldingOne) {
    flags(0, 0, 0, 0);
    EXPECT_EQ(count(), "4,0,0,0");
    EXPECT_EQ(printed_, "COM=4;AI=0;DI=0,AO=0,DO=0");
    flags(1, 1, 0, 0);
    EXPECT_EQ(count(), "12,0,0,0");
    flags(0, 1, 0, 0);
    EXPECT_EQ(count(), "8,0,0,0");
    flags(2, 0, 2, 2);  // only exactly 1 counts
    EXPECT_EQ(count(), "4,0,0,0");
    flags(0, 0, 0, 1);
    EXPECT_EQ(count(), "4,8,0,0");
    flags(1, 0, 1, 1);
    EXPECT_EQ(count(), "8,16,16,4");
    EXPECT_EQ(printed_, "COM=8;AI=16;DI=16,AO=0,DO=4");
    EXPECT_EQ(STR_SYSTEM_RESOURCES_NUM.RESERVED, 0);
    EXPECT_EQ(STR_SYSTEM_RESOURCES_NUM.AO, 0);
    // The getters return the last count; a flag set since then changes nothing until a recount.
    PAR_SET_EXT_COM_EXIST_STATUS(1);
    EXPECT_EQ(sdk_read_com_num(), 8);
}

std::string numbered(const char* fmt, int count) {
    std::string s;
    char one[32];
    for (int n = 1; n <= count; ++n) {
        std::snprintf(one, sizeof one, fmt, n);
        s += one;
    }
    return s;
}

TEST_F(Resources, ListIsTheLongestJsonWithEveryBoard) {
    flags(1, 1, 1, 1);
    char list[SDK_BSP_RESOURCE_LIST_SIZE];
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadFSUResource(list, sizeof list), 0);
    testing::internal::GetCapturedStdout();
    std::string expected = "[" + numbered("\"Local/Uart/%d\",", 12) + numbered("\"Local/AI/%d\",", 16) +
                           numbered("\"Local/DI/%d\",", 16) + numbered("\"Local/DO/%d\",", 4) +
                           numbered("\"Local/Led/%d\",", 14);
    expected.back() = ']';
    EXPECT_EQ(list, expected);
    EXPECT_EQ(expected.size(), SDK_BSP_RESOURCE_LIST_SIZE - 1u);
}

TEST_F(Resources, ListIsWrittenWholeWhateverTheLength) {
    flags(0, 0, 0, 0);
    char list[SDK_BSP_RESOURCE_LIST_SIZE];
    std::memset(list, 'x', sizeof list);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadFSUResource(list, 16), 0);  // the length limits only the clearing
    EXPECT_EQ(ReadFSUResource(nullptr, 868), 0);
    EXPECT_EQ(ReadFSUResource(list, -5), 0);
    testing::internal::GetCapturedStdout();
    std::string expected = "[" + numbered("\"Local/Uart/%d\",", 4) + numbered("\"Local/Led/%d\",", 14);
    expected.back() = ']';
    EXPECT_EQ(list, expected);
    EXPECT_EQ(list[expected.size() + 1], 'x');
}

TEST_F(Resources, AliasIsTheNameAndStateIsZero) {
    char alias[32] = "old";
    EXPECT_EQ(ReadResourceAlias("Local/DI/3", alias, sizeof alias), 0);
    EXPECT_STREQ(alias, "Local/DI/3");
    EXPECT_EQ(ReadResourceAlias("Local/Led/extend1", alias, 4), 0);  // the length is not looked at
    EXPECT_STREQ(alias, "Local/Led/extend1");
    EXPECT_EQ(ReadResourceAlias(nullptr, alias, sizeof alias), 0);
    int state = 7;
    EXPECT_EQ(GetResourceState("Local/DI/3", &state), 0);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(GetResourceState(nullptr, nullptr), 0);
}

}  // namespace
