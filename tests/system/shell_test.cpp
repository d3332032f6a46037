// The real library, driven through the host shell under a temporary box root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "host_shell.h"

namespace {

using systest::HostShell;
using systest::TempRoot;
using testing::MatchesRegex;

constexpr const char* kNoBoardList =
    R"(["Local/Uart/1","Local/Uart/2","Local/Uart/3","Local/Uart/4","Local/Led/1","Local/Led/2",)"
    R"("Local/Led/3","Local/Led/4","Local/Led/5","Local/Led/6","Local/Led/7","Local/Led/8","Local/Led/9",)"
    R"("Local/Led/10","Local/Led/11","Local/Led/12","Local/Led/13","Local/Led/14"])";

// The shell reports an output buffer C-escaped in double quotes.
std::string shell_quoted(const std::string& s) {
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\\\"") : std::string(1, c);
    return q + "\"";
}

std::string escaped(const std::string& literal) {
    return std::regex_replace(literal, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// A record as the log writes it: its tag and number literal, its time stamp a pattern.
std::string record_pattern(const std::string& tag, const std::string& message) {
    return "\r\n\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} " + escaped(tag + message);
}

bool matches_records(const std::string& text, const std::vector<std::string>& patterns) {
    std::string all;
    for (auto& p : patterns) all += p;
    return std::regex_match(text, std::regex(all));
}

TEST(ShellLog, ResourceListAndItsRecords) {
    TempRoot root;
    HostShell shell(root, {"SDK_BSP_CMDLOG=" + (root / "cmdlog").string()});

    // Before the modes are set nothing is written, yet the record number advances.
    EXPECT_EQ(shell.call(R"(SDK_LOG_WRITE 5 "before %d" 1)"), "SDK_LOG_WRITE -> 0");
    EXPECT_EQ(shell.call("SDK_LOG_PAR_INIT"), "SDK_LOG_PAR_INIT -> void");
    EXPECT_EQ(shell.call("ReadFSUResource buf:1024 1024"),
              std::string("ReadFSUResource -> 0 ") + shell_quoted(kNoBoardList));
    EXPECT_EQ(shell.call(R"(SDK_LOG_WRITE 3 "modem %s" "up")"), "SDK_LOG_WRITE -> 1");
    EXPECT_EQ(shell.finish(), 0);

    std::string log = systest::read_file(root / "tmp/sdklog.log");
    EXPECT_TRUE(matches_records(log, {record_pattern("sdk_SYS   Line=0000000002]:", "COM=4;AI=0;DI=0,AO=0,DO=0"),
                                      record_pattern("sdk_SYS   Line=0000000003]:", std::string("ReadFSUResource(") + kNoBoardList + ")"),
                                      record_pattern("sdk_NET   Line=0000000004]:", "modem up")}))
        << log;
    // Standard output: the SYS records and the count's own print; level 3 goes to the file only.
    EXPECT_TRUE(matches_records(shell.out(), {record_pattern("sdk_SYS   Line=0000000002]:", "COM=4;AI=0;DI=0,AO=0,DO=0") +
                                                  "COM=4;AI=0;DI=0,AO=0,DO=0",
                                              record_pattern("sdk_SYS   Line=0000000003]:", std::string("ReadFSUResource(") + kNoBoardList + ")")}))
        << shell.out();
    // Nothing was rotated, so no command ran.
    EXPECT_FALSE(std::filesystem::exists(root / "cmdlog"));
}

TEST(ShellResources, CountsFollowPresenceFlags) {
    TempRoot root;
    HostShell shell(root);
    EXPECT_EQ(shell.call("PAR_SET_EXT_COM_EXIST_STATUS 1"), "PAR_SET_EXT_COM_EXIST_STATUS -> void");
    EXPECT_EQ(shell.call("PAR_SET_EXT_ENV_EXIST_STATUS 1"), "PAR_SET_EXT_ENV_EXIST_STATUS -> void");
    std::string list = shell.call("ReadFSUResource buf:868 868");
    EXPECT_THAT(list, testing::HasSubstr(R"(\"Local/Uart/8\",\"Local/AI/1\")"));
    EXPECT_THAT(list, testing::HasSubstr(R"(\"Local/AI/8\",\"Local/Led/1\")"));
    EXPECT_EQ(shell.call("sdk_read_com_num"), "sdk_read_com_num -> 8");
    EXPECT_EQ(shell.call("sdk_read_ai_num"), "sdk_read_ai_num -> 8");
    EXPECT_EQ(shell.call("ReadResourceAlias \"Local/DO/2\" buf:32 32"), R"(ReadResourceAlias -> 0 "Local/DO/2")");
    EXPECT_EQ(shell.call("GetResourceState \"Local/DO/2\" out:int"), "GetResourceState -> 0 0");
    // Bad input never crashes the host.
    EXPECT_EQ(shell.call("ReadFSUResource null 868"), "ReadFSUResource -> 0");
    EXPECT_EQ(shell.call("ReadFSUResource buf:868 16"), list);  // the length limits only the clearing
    EXPECT_EQ(shell.call("READ_resourceName null"), "READ_resourceName -> 523");
    EXPECT_EQ(shell.call("SDK_LOG_WRITE 5 null"), "SDK_LOG_WRITE -> 0");
    EXPECT_EQ(shell.finish(), 0);
}

// Functions that return a text report it as their result, quoted, or null.
TEST(ShellUci, TextResultsAreQuotedOrNull) {
    TempRoot root;
    std::filesystem::create_directories(root / "etc/config");
    std::ofstream(root / "etc/config/Device") << "";
    std::ofstream(root / "etc/config/vqm") << "\nconfig vqm 'sys'\n\toption pcas '2'\n";
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
