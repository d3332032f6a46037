// Shared by the unit tests: a temporary box root the library's paths go under, and a fixed clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "os/os.h"

namespace unit {

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline void write_file(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// A fresh SDK_BSP_ROOT (with tmp/) for one test; the environment is read again on both ends.
class RootedTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sdkbsp-unit-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        std::filesystem::create_directories(root_ / "tmp");
        setenv("SDK_BSP_ROOT", root_.c_str(), 1);
        unsetenv("SDK_BSP_CMDLOG");
        bsp::os::reload_environment();
    }
    void TearDown() override {
        unsetenv("SDK_BSP_ROOT");
        unsetenv("SDK_BSP_CMDLOG");
        bsp::os::reload_environment();
        std::filesystem::remove_all(root_);
    }
    std::filesystem::path box(const std::string& rel) const { return root_ / rel; }

    std::filesystem::path root_;
};

// Time stands still at a chosen instant; sleeps return at once and are counted.
class FixedClock : public bsp::os::Clock {
  public:
    explicit FixedClock(std::time_t t) : t_(t) { bsp::os::set_clock(this); }
    ~FixedClock() override { bsp::os::set_clock(nullptr); }
    std::time_t now() noexcept override { return t_; }
    void sleep_ms(long ms) noexcept override { slept_ms += ms; }
    long slept_ms = 0;

  private:
    std::time_t t_;
};

// Local time is UTC for the test's duration, so time stamps are predictable.
class UtcZone {
  public:
    UtcZone() {
        setenv("TZ", "UTC0", 1);
        tzset();
    }
};

}  // namespace unit
