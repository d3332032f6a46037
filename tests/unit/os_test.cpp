#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "os/os.h"
#include "sdk_bsp.h"
#include "support.h"

namespace {

using bsp::os::Command;
using bsp::os::Path;

// Every other test's files and commands go through this seam: what they rely on (paths under the
// root, the command journal, the box's tools found first) is not repeated here.
class OsSeam : public unit::RootedTest {};

TEST_F(OsSeam, AbsolutePathsGoUnderTheRootRelativeOnesStay) {
    EXPECT_EQ(Path("/dev/ttymxc5").c_str(), root_.string() + "/dev/ttymxc5");
    EXPECT_STREQ(Path("relative/file").c_str(), "relative/file");
    EXPECT_FALSE(Path(nullptr).ok());
    EXPECT_FALSE(Path(std::string(bsp::os::kPathMax, '/').c_str()).ok());
}

TEST_F(OsSeam, CommandsRootTheirPathsAndAreRefusedRatherThanCut) {
    Command cmd;
    const Path zip("/tmp/sdklog.zip"), log("/tmp/sdklog.log");
    ASSERT_TRUE(cmd.format(100, "zip %s %s", zip, log));
    EXPECT_EQ(cmd.c_str(), "zip " + root_.string() + "/tmp/sdklog.zip " + root_.string() + "/tmp/sdklog.log");

    // The box's 100-byte buffer holds 99 characters of unrooted text; the root comes on top.
    const std::string long_name = "/tmp/" + std::string(99 - 3 - 5, 'x');
    EXPECT_TRUE(cmd.format(100, "rm %s", Path(long_name.c_str())));
    EXPECT_FALSE(cmd.format(100, "rm %s", Path((long_name + "x").c_str())));
    EXPECT_STREQ(cmd.c_str(), "");
    // Data arguments get no room for the root.
    EXPECT_TRUE(cmd.format(10, "echo %s", "abcd"));
    EXPECT_FALSE(cmd.format(10, "echo %s", "abcde"));
}

TEST_F(OsSeam, EverythingItOpensIsCloseOnExec) {
    unit::write_file(box("etc/config/vqm"), "x");
    const bsp::os::Fd fd(bsp::os::open("/etc/config/vqm", O_RDONLY));
    const bsp::os::File file(bsp::os::fopen("/etc/config/vqm", "r"));
    const bsp::os::Dir dir(bsp::os::opendir("/etc/config"));
    const bsp::os::Pipe pipe("true");
    ASSERT_TRUE(fd && file && dir && pipe);
    const std::pair<const char*, int> opened[] = {
        {"open", fd.get()}, {"fopen", fileno(file.get())}, {"opendir", dirfd(dir.get())}, {"popen", fileno(pipe.get())}};
    for (auto [how, d] : opened) EXPECT_TRUE(fcntl(d, F_GETFD) & FD_CLOEXEC) << how;
    // A mode of up to six letters gets its "e"; a longer one is refused rather than cut.
    EXPECT_TRUE(bsp::os::File(bsp::os::fopen("/etc/config/vqm", "rbbbbb")));
    errno = 0;
    EXPECT_FALSE(bsp::os::File(bsp::os::fopen("/etc/config/vqm", "rbbbbbb")));
    EXPECT_EQ(errno, EINVAL);
}

// The box's tools complain on standard error (ifconfig of an interface that is down, rm of a file
// already gone): none of it reaches the host's, whoever owns the command. Standard output, the
// journal and what the library reads are as they were.
TEST_F(OsSeam, CommandsWriteNothingOnTheHostsStandardError) {
    stand_in("chatty", "echo out; echo complaint >&2\n");
    journal_commands();
    std::array<char, 64> first_word{}, stripped{};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    bsp::os::run("chatty");
    bsp::os::run("no-such-tool-of-the-box");
    std::string piped(16, '\0');
    piped.resize(std::fread(piped.data(), 1, piped.size(), bsp::os::Pipe("chatty").get()));
    ReadsyscmdReturn("chatty", first_word.data(), first_word.size());
    uciread("chatty", stripped.data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "out\n");
    EXPECT_EQ(piped, "out\n");
    EXPECT_STREQ(first_word.data(), "out");
    EXPECT_STREQ(stripped.data(), "out");
    EXPECT_EQ(take("cmdlog"), "chatty\nno-such-tool-of-the-box\nchatty\nchatty\nchatty\n");
}

TEST(OsRoot, AnUnusableRootOpensNothingAndRunsNothing) {
    unit::TempDir boxes;  // directories that exist, whose names the shell would not take literally
    for (const char* name : {"a box", "x;rm", "$HOME", "a:b"}) std::filesystem::create_directory(boxes / name);
    const std::string bad_roots[] = {"relative/box", "/nonexistent-sdk-bsp-root", (boxes / "a box").string(),
                                     (boxes / "x;rm").string(), (boxes / "$HOME").string(), (boxes / "a:b").string()};
    for (const std::string& bad : bad_roots) {
        setenv("SDK_BSP_ROOT", bad.c_str(), 1);
        bsp::os::reload_environment();
        EXPECT_FALSE(bsp::os::usable()) << bad;
        EXPECT_FALSE(Path("/tmp/sdklog.log").ok()) << bad;
        EXPECT_EQ(bsp::os::open("/tmp", O_RDONLY), -1) << bad;
        EXPECT_EQ(bsp::os::run("true"), -1) << bad;
    }
    // Empty or "/" is the box itself; a root written with a trailing "/" is the same root.
    unit::TempDir dir;
    const std::string slashed = dir.path().string() + "//";
    for (auto [root, rooted] : {std::pair<std::string, std::string>{"", "/dev/ttymxc1"}, {"/", "/dev/ttymxc1"},
                                {slashed, dir.path().string() + "/dev/ttymxc1"}}) {
        setenv("SDK_BSP_ROOT", root.c_str(), 1);
        bsp::os::reload_environment();
        EXPECT_TRUE(bsp::os::usable()) << root;
        EXPECT_EQ(Path("/dev/ttymxc1").c_str(), rooted) << root;
    }
    unsetenv("SDK_BSP_ROOT");
    bsp::os::reload_environment();
}

}  // namespace
