// Maintenance through the real library and the host shell, each case in a fresh box: the update
// package the build writes, installed into the box's /lib/libsdk_bsp.so, and packages that must
// install nothing; the clock and FTP accounts on the box's recording stand-ins.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "host_shell.h"
#include "sim/box.h"

namespace {

namespace fs = std::filesystem;
using systest::HostShell;
using systest::TempRoot;

constexpr const char* kPackage = "/mnt/CAIRN_KIT_SDK.tar.gz";
constexpr const char* kOldLibrary = "the library installed before the update\n";

void write_bytes(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

// The shell's journal, one command a line, the root written as $R.
std::vector<std::string> journal(const TempRoot& root) {
    std::vector<std::string> lines;
    std::istringstream in(systest::read_file(root / "cmdlog"));
    for (std::string l; std::getline(in, l);) lines.push_back(std::regex_replace(l, std::regex(root.path().string()), "$$R"));
    return lines;
}

// The build's library with a reference hash that is not its own, packed as the build packs it.
void mismatched_package(const fs::path& file) {
    const fs::path stage = file.parent_path() / "stage";
    write_bytes(stage / "tmp/sdk/file.md5", std::string(32, '0'));
    fs::copy_file(SDK_BSP_LIBRARY, stage / "tmp/sdk/libsdk_bsp.so");
    const std::string tar = "tar -C " + stage.string() + " -czf " + file.string() + " tmp/sdk/file.md5 tmp/sdk/libsdk_bsp.so";
    ASSERT_EQ(std::system(tar.c_str()), 0);
    fs::remove_all(stage);
}

TEST(ShellUpdate, TheBuiltPackageInstallsOthersInstallNothing) {
    const std::string package = systest::read_file(SDK_BSP_UPDATE_PACKAGE);
    const std::string library = systest::read_file(SDK_BSP_LIBRARY);
    ASSERT_GT(package.size(), 1000u);
    const std::vector<std::string> unpack = {
        "mkdir $R/tmp/sdk", "mv $R/mnt/CAIRN_KIT_SDK.tar.gz $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz",
        "gunzip $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz", "tar -xf $R/tmp/sdk/CAIRN_KIT_SDK.tar"};
    const std::string check = "md5sum $R/tmp/sdk/libsdk_bsp.so";
    const std::string install = "cp $R/tmp/sdk/libsdk_bsp.so $R/lib/libsdk_bsp.so";
    auto then = [&](std::vector<std::string> more) {
        auto all = unpack;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;  // writes the file at the package's path
        const char* path;                           // as the host names it
        const char* result;
        bool installed;
        std::vector<std::string> commands;
    };
    const Case cases[] = {
        {"the built package", [&](const fs::path& f) { write_bytes(f, package); }, kPackage, "UpdateSDK -> 0", true,
         then({check, install})},
        {"a hash that does not match", mismatched_package, kPackage, "UpdateSDK -> 0", false, then({check})},
        {"a truncated archive", [&](const fs::path& f) { write_bytes(f, package.substr(0, package.size() / 2)); },
         kPackage, "UpdateSDK -> -1", false, unpack},
        {"garbage", [](const fs::path& f) { write_bytes(f, std::string(4096, 'x')); }, kPackage, "UpdateSDK -> -1",
         false, unpack},
        {"a path that does not name the package", [&](const fs::path& f) { write_bytes(f, package); },
         "/mnt/CAIRN_KIT_SDK.tar", "UpdateSDK -> 0", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempRoot root;
        write_bytes(root / "lib/libsdk_bsp.so", kOldLibrary);
        c.make(root / (std::string(c.path).substr(1)));
        HostShell shell(root, {"SDK_BSP_CMDLOG=" + (root / "cmdlog").string()});
        EXPECT_EQ(shell.call(std::string("UpdateSDK \"") + c.path + "\""), c.result);
        EXPECT_EQ(shell.finish(), 0);
        EXPECT_TRUE(systest::read_file(root / "lib/libsdk_bsp.so") == (c.installed ? library : kOldLibrary));
        EXPECT_EQ(journal(root), c.commands);
    }
}

TEST(ShellMaintenance, ClockAndFtpAccountsOnTheBoxStandins) {
    TempRoot root;
    sim::Box box(root.path());
    HostShell shell(root, box.env());
    EXPECT_EQ(shell.call("ReadSDKVersion buf:16 16"), R"(ReadSDKVersion -> 0 "VQ-1.1.0")");
    EXPECT_EQ(shell.call(R"(SetRtc "2024-07-01 08:30:00")"), "SetRtc -> 0");
    EXPECT_EQ(shell.call(R"(SetFtp "ftpuser" "secret" "/tmp/ftp")"), "SetFtp -> 0");
    EXPECT_EQ(shell.call(R"(SetFtp "guest" "pw" "/tmp")"), "SetFtp -> 0");
    EXPECT_EQ(shell.call(R"(DelFtp "ftpuser")"), "DelFtp -> -1");
    EXPECT_EQ(shell.call(R"(SetFtp "x" "p;touch canary" "/tmp")"), "SetFtp -> -1");
    EXPECT_EQ(shell.finish(), 0);

    const std::string r = root.path().string();
    EXPECT_THAT(box.standins(), testing::ElementsAre("date -s 2024-07-01 08:30:00", "hwclock -w",
                                                     "user.sh add ftpuser secret " + r + "/tmp/ftp",
                                                     "user.sh add guest pw " + r + "/tmp", "user.sh del ftpuser"));
    EXPECT_TRUE(fs::is_directory(root / "tmp/ftp"));
    EXPECT_FALSE(fs::exists(root / "canary"));
    EXPECT_THAT(box.status(), testing::HasSubstr("\nFTP       guest /tmp\n"));
}

}  // namespace
