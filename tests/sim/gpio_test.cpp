// The simulated sysfs GPIO tree, written to as the system's GPIO primitives write: the line's
// number to export and unexport, "out"/"in" to direction, 1 or 0 to value, the edge word to edge,
// each opened write-only without truncation.
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../common/files.h"
#include "sim/gpio.h"

namespace {

namespace fs = std::filesystem;

class SimGpio : public testing::Test {
  protected:
    void SetUp() override {
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(inotify_, 0);
    }
    void TearDown() override { ::close(inotify_); }
    std::filesystem::path box(const std::string& rel) const { return dir_ / rel; }
    // Writes as the primitives do (no O_TRUNC), then lets the tree see the events the write made.
    void write(sim::GpioTree& tree, const std::string& rel, const std::string& text) {
        const int fd = ::open(box("sys/class/gpio/" + rel).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0) << rel;
        ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = ::read(inotify_, buf, sizeof buf)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                tree.on_event(*e, trace_);
            }
    }
    std::string file(const std::string& rel) { return testfiles::read_file(box("sys/class/gpio/" + rel)); }

    testfiles::TempDir dir_;
    int inotify_ = -1;
    std::vector<std::string> trace_;
};

TEST_F(SimGpio, ExportMakesALineThatFollowsItsFiles) {
    fs::create_directories(box("sys/class/gpio/gpio7"));  // left by an earlier box
    sim::GpioTree tree(dir_.path(), inotify_);
    EXPECT_FALSE(fs::exists(box("sys/class/gpio/gpio7")));
    write(tree, "export", "1");
    write(tree, "export", "18");
    EXPECT_EQ(file("gpio1/value"), "0\n");
    EXPECT_EQ(file("gpio1/direction"), "in\n");
    EXPECT_EQ(file("gpio1/edge"), "none\n");
    EXPECT_TRUE(fs::exists(box("sys/class/gpio/gpio18/value")));
    EXPECT_EQ(file("export"), "") << "ready for the next number";

    // The LED set-up: output, dark (1); then lit (0). Active low.
    write(tree, "gpio1/direction", "out");
    write(tree, "gpio1/value", "1");
    EXPECT_EQ(tree.lines().at(1), (sim::GpioLine{1, "out", "none"}));
    write(tree, "gpio1/value", "0");
    EXPECT_EQ(trace_.back(), "gpio1 out 0 (LED run lit)");
    // Shorter words over longer ones, as writes that do not truncate leave them.
    write(tree, "gpio18/edge", "falling");
    write(tree, "gpio18/edge", "both");
    EXPECT_EQ(file("gpio18/edge"), "both\n");
    write(tree, "gpio18/direction", "out");
    write(tree, "gpio18/direction", "in");
    EXPECT_EQ(file("gpio18/direction"), "in\n");
    write(tree, "gpio18/direction", "high");
    EXPECT_EQ(tree.lines().at(18), (sim::GpioLine{1, "out", "both"}));
    EXPECT_EQ(file("gpio18/value"), "1\n");

    write(tree, "unexport", "18");
    EXPECT_FALSE(fs::exists(box("sys/class/gpio/gpio18")));
    EXPECT_EQ(tree.lines().size(), 1u);
    write(tree, "export", "1");
    write(tree, "export", "x9");
    write(tree, "unexport", "4");
    EXPECT_EQ(std::vector<std::string>(trace_.end() - 3, trace_.end()),
              (std::vector<std::string>{"gpio1 already exported", "gpio: \"x9\" written to export is no line number",
                                        "gpio4 not exported, cannot unexport"}));
}

}  // namespace
