// The simulated sysfs GPIO tree when the host's writes pile up before the box reads them.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include "../common/files.h"
#include "sim/gpio.h"

namespace {

// Hands the tree every event queued so far, and those its own rewrites queue, in order.
void drain(int fd, sim::GpioTree& tree) {
    alignas(inotify_event) char buf[4096];
    std::vector<std::string> trace;
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        for (char* p = buf; p < buf + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
            tree.on_event(*reinterpret_cast<inotify_event*>(p), trace);
}

TEST(SimGpio, EveryWriteCountsWhenTheBoxSeesThemLate) {
    testfiles::TempDir dir;
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(fd, 0);
    sim::GpioTree tree(dir.path(), fd);
    std::vector<std::string> trace;
    tree.export_line(18, trace);
    // An LED line set up as the library does it: "out" (sysfs makes the line 0), then "1" (dark).
    const auto line = dir / "sys/class/gpio/gpio18";
    testfiles::write_file(line / "direction", "out");
    testfiles::write_file(line / "value", "1");
    drain(fd, tree);
    EXPECT_EQ(tree.lines().at(18), (sim::GpioLine{1, "out", "none"}));
    EXPECT_EQ(testfiles::read_file(line / "value"), "1\n");
    ::close(fd);
}

}  // namespace
