// The real library, driven through the host shell under a temporary box root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "host_shell.h"

namespace {

using systest::HostShell;
using systest::TempRoot;

const std::string kNoBoardList =
    R"(["Local/Uart/1","Local/Uart/2","Local/Uart/3","Local/Uart/4","Local/Led/1","Local/Led/2",)"
    R"("Local/Led/3","Local/Led/4","Local/Led/5","Local/Led/6","Local/Led/7","Local/Led/8","Local/Led/9",)"
    R"("Local/Led/10","Local/Led/11","Local/Led/12","Local/Led/13","Local/Led/14"])";

// Records with their time stamps as "<time>", the rest exact.
std::string untimed(const std::string& text) {
    return std::regex_replace(text, std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )"), "[<time> ");
}

TEST(ShellLog, ResourceListAndItsRecords) {
    TempRoot root;
    HostShell shell(root, {"SDK_BSP_CMDLOG=" + (root / "cmdlog").string()});
    // Before the modes are set nothing is written, yet the record number advances.
    EXPECT_EQ(shell.call(R"(SDK_LOG_WRITE 5 "before %d" 1)"), "SDK_LOG_WRITE -> 0");
    EXPECT_EQ(shell.call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
    std::string quoted = std::regex_replace(kNoBoardList, std::regex("\""), "\\\"");
    EXPECT_EQ(shell.call("ReadFSUResource buf:1024 1024"), "ReadFSUResource -> 0 \"" + quoted + "\"");
    EXPECT_EQ(shell.call(R"(SDK_LOG_WRITE 3 "modem %s" "up")"), "SDK_LOG_WRITE -> 1");
    EXPECT_EQ(shell.call("ReadFSUResource buf:868 16"), "ReadFSUResource -> 0 \"" + quoted + "\"");  // the length limits only the clearing
    // Bad input never crashes the host.
    EXPECT_EQ(shell.call("ReadFSUResource null 868"), "ReadFSUResource -> 0");
    EXPECT_EQ(shell.call("READ_resourceName null") + shell.call("SDK_LOG_WRITE 5 null"),
              "READ_resourceName -> 523SDK_LOG_WRITE -> 0");
    EXPECT_EQ(shell.finish(), 0);

    const std::string count = "\r\n[<time> sdk_SYS   Line=0000000002]:COM=4;AI=0;DI=0,AO=0,DO=0";
    const std::string list = "\r\n[<time> sdk_SYS   Line=0000000003]:ReadFSUResource(" + kNoBoardList + ")";
    const std::string modem = "\r\n[<time> sdk_NET   Line=0000000004]:modem up";
    EXPECT_EQ(untimed(systest::read_file(root / "tmp/sdklog.log")).substr(0, count.size() + list.size() + modem.size()),
              count + list + modem);
    // Standard output: the SYS records and the count's own print; level 3 goes to the file only.
    EXPECT_TRUE(untimed(shell.out()).starts_with(count + "COM=4;AI=0;DI=0,AO=0,DO=0" + list + "\r\n["));
    EXPECT_FALSE(std::filesystem::exists(root / "cmdlog")) << "nothing was rotated, so no command ran";
}

// Functions that return a text report it as their result, quoted, or null.
TEST(ShellUci, TextResultsAreQuotedOrNull) {
    TempRoot root;
    testfiles::write_file(root / "etc/config/Device", "");
    testfiles::write_file(root / "etc/config/vqm", "\nconfig vqm 'sys'\n\toption pcas '2'\n");
    HostShell shell(root);
    EXPECT_EQ(shell.call(R"(sdkuci_get_flash "uci get vqm.sys.pcas")"), R"(sdkuci_get_flash -> "2")");
    // EnvironmentPar is missing: the copies after it are not loaded, Device and vqm are.
    EXPECT_EQ(shell.call(R"(sdkuci_get_ram "uci get vqm.sys.pcas")"), R"(sdkuci_get_ram -> "2")");
    EXPECT_EQ(shell.call("sdkuci_free"), "sdkuci_free -> void");
    EXPECT_EQ(shell.call(R"(sdkuci_get_flash "uci get vqm.sys")"), R"(sdkuci_get_flash -> "")");
    EXPECT_EQ(shell.call(R"(sdkls "/etc/config/vqm")"), "sdkls -> null");
    EXPECT_TRUE(shell.wait_out("can't open /etc/config/vqm\n"));
    EXPECT_EQ(shell.finish(), 0);
}

}  // namespace
