// The update through the real library and the host shell, a fresh box per case: the update
// package the build writes installs into the box's /lib/libsdk_bsp.so, others install nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <regex>

#include "host_shell.h"

namespace {

namespace fs = std::filesystem;
using systest::HostShell;
using systest::TempRoot;

// The build's library with a reference hash not its own, packed as the build packs it.
void mismatched_package(const fs::path& file) {
    const fs::path stage = file.parent_path() / "stage";
    testfiles::write_file(stage / "tmp/sdk/file.md5", std::string(32, '0'));
    fs::copy_file(systest::driven("SDK_BSP_LIBRARY", SDK_BSP_LIBRARY), stage / "tmp/sdk/libsdk_bsp.so");
    const std::string tar = "tar -C " + stage.string() + " -czf " + file.string() + " tmp/sdk/file.md5 tmp/sdk/libsdk_bsp.so";
    ASSERT_EQ(std::system(tar.c_str()), 0);
}

TEST(ShellUpdate, TheBuiltPackageInstallsOthersInstallNothing) {
    const std::string package = systest::read_file(systest::driven("SDK_BSP_UPDATE_PACKAGE", SDK_BSP_UPDATE_PACKAGE)),
                      library = systest::read_file(systest::driven("SDK_BSP_LIBRARY", SDK_BSP_LIBRARY));
    const std::string unpack =
        "mkdir $R/tmp/sdk\nmv $R/mnt/CAIRN_KIT_SDK.tar.gz $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz\n"
        "gunzip $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz\ntar -xf $R/tmp/sdk/CAIRN_KIT_SDK.tar\n";
    const std::string check = "md5sum $R/tmp/sdk/libsdk_bsp.so\n";
    const struct {
        std::function<void(const fs::path&)> make;  // writes the file the host names
        const char* path;
        const char* result;
        bool installed;
        std::string commands;  // the journal, the root written as $R
    } cases[] = {
        {[&](const fs::path& f) { testfiles::write_file(f, package); }, "/mnt/CAIRN_KIT_SDK.tar.gz", "UpdateSDK -> 0", true,
         unpack + check + "cp $R/tmp/sdk/libsdk_bsp.so $R/lib/libsdk_bsp.so\n"},
        {mismatched_package, "/mnt/CAIRN_KIT_SDK.tar.gz", "UpdateSDK -> 0", false, unpack + check},
        {[&](const fs::path& f) { testfiles::write_file(f, package.substr(0, package.size() / 2)); }, "/mnt/CAIRN_KIT_SDK.tar.gz",
         "UpdateSDK -> -1", false, unpack},
        {[](const fs::path& f) { testfiles::write_file(f, std::string(4096, 'x')); }, "/mnt/CAIRN_KIT_SDK.tar.gz", "UpdateSDK -> -1",
         false, unpack},
        {[&](const fs::path& f) { testfiles::write_file(f, package); }, "/mnt/CAIRN_KIT_SDK.tar", "UpdateSDK -> 0", false, ""},
    };
    ASSERT_FALSE(package.empty()) << systest::driven("SDK_BSP_UPDATE_PACKAGE", SDK_BSP_UPDATE_PACKAGE);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        TempRoot root;
        testfiles::write_file(root / "lib/libsdk_bsp.so", "the library before\n");
        c.make(root / (c.path + 1));
        HostShell shell(root, {"SDK_BSP_CMDLOG=" + (root / "cmdlog").string()});
        EXPECT_EQ(shell.call(std::string("UpdateSDK \"") + c.path + "\""), c.result);
        EXPECT_EQ(shell.finish(), 0);
        EXPECT_TRUE(systest::read_file(root / "lib/libsdk_bsp.so") == (c.installed ? library : "the library before\n"));
        EXPECT_EQ(std::regex_replace(systest::read_file(root / "cmdlog"), std::regex(root.path().string()), "$$R"),
                  c.commands);
    }
}

}  // namespace
