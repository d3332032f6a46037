// Local I/O through the real library and the host shell, under a temporary box root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host_shell.h"

namespace {

using systest::HostShell;
using systest::TempRoot;

TEST(ShellLocalIo, LedsValuesAndWatchdogCalls) {
    TempRoot root;
    for (int n : {1, 18, 0, 4}) {
        std::filesystem::create_directories(root / ("sys/class/gpio/gpio" + std::to_string(n)));
        for (const char* a : {"direction", "value"}) std::ofstream(root / ("sys/class/gpio/gpio" + std::to_string(n) + "/" + a));
    }
    std::ofstream(root / "sys/class/gpio/export");
    HostShell shell(root);

    EXPECT_EQ(shell.call(R"(SetLEDValue "Local/Led/alarm" 1)"), "SetLEDValue -> -1");
    EXPECT_TRUE(shell.wait_out("LED_GPIO_INIT=4 ok\r\n"));
    EXPECT_EQ(systest::read_file(root / "sys/class/gpio/gpio18/value"), "0");
    EXPECT_EQ(systest::read_file(root / "sys/class/gpio/gpio1/value"), "1");
    EXPECT_EQ(shell.call("bsp_gpio_read 18"), "bsp_gpio_read -> 0");

    EXPECT_EQ(shell.call(R"(GetAIValue "Local/AI/16" 1 out:float)"), "GetAIValue -> 0 0");
    EXPECT_EQ(shell.call(R"(GetAIValue_String "Local/AI/17" 0 buf:48)"), R"(GetAIValue_String -> -1 "0.000000")");
    EXPECT_EQ(shell.call(R"(GetDIValue "Local/DI/24" out:int)"), "GetDIValue -> 0 0");
    EXPECT_EQ(shell.call(R"(GetBatValue "Local/Bat/1" null)"), "GetBatValue -> -1");
    EXPECT_EQ(shell.call(R"(SetDOValue "Local/DO/5" 1)"), "SetDOValue -> -1");
    EXPECT_EQ(shell.call(R"(SetDOValue "Local/DO/4" 1)"), "SetDOValue -> 0");

    EXPECT_EQ(shell.call("bsp_SoftDog_Init"), "bsp_SoftDog_Init -> void");
    EXPECT_EQ(shell.call("SoftDogEnable 0 30000"), "SoftDogEnable -> 0");
    EXPECT_EQ(shell.call("SoftDogFeed"), "SoftDogFeed -> 0");
    EXPECT_EQ(shell.call("SET_AO_12V_RESTART 0 0"), "SET_AO_12V_RESTART -> 0");
    EXPECT_EQ(shell.finish(), 0);
}

}  // namespace
