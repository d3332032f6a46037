// Shared by the unit tests: a temporary box root the library's paths go under, a fixed clock,
// captured standard output and the messages of the log file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../common/files.h"
#include "os/os.h"

namespace unit {

using namespace testfiles;

// A fresh SDK_BSP_ROOT (with tmp/) for one test; the environment is read again on both ends.
class RootedTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::make_unique<TempDir>();
        root_ = dir_->path();
        // The box's tools that change the machine only record here: the runner finds them first.
        for (const char* tool : {"reboot", "date", "hwclock", "killall", "user.sh", "lte.sh"})
            stand_in(tool, std::string("echo ") + tool + " \"$@\" >> \"$(dirname \"$0\")/../tmp/ran\"\n");
        setenv("SDK_BSP_ROOT", root_.c_str(), 1);
        unsetenv("SDK_BSP_CMDLOG");
        bsp::os::reload_environment();
    }
    void TearDown() override {
        unsetenv("SDK_BSP_ROOT");
        unsetenv("SDK_BSP_CMDLOG");
        bsp::os::reload_environment();
        dir_.reset();
    }
    std::filesystem::path box(const std::string& rel) const { return root_ / rel; }
    // A tool of the box in bin/, found first on PATH by the library's commands.
    void stand_in(const std::string& name, const std::string& script) {
        write_file(box("bin") / name, "#!/bin/sh\n" + script);
        std::filesystem::permissions(box("bin") / name, std::filesystem::perms::owner_all);
    }
    void journal_commands() {
        setenv("SDK_BSP_CMDLOG", box("cmdlog").c_str(), 1);
        bsp::os::reload_environment();
    }
    // The text of a box file, which is removed: the next call sees only what came since.
    std::string take(const std::string& rel) {
        std::string text = read_file(box(rel));
        std::filesystem::remove(box(rel));
        return text;
    }
    // The messages of the log records written since the last call (what follows each "]:").
    std::vector<std::string> logged() {
        const std::string text = take("tmp/sdklog.log");
        std::vector<std::string> out;
        for (auto at = text.find("\r\n["); at != std::string::npos;) {
            auto start = text.find("]:", at) + 2;
            at = text.find("\r\n[", start);
            out.push_back(text.substr(start, at == std::string::npos ? at : at - start));
        }
        return out;
    }

    std::filesystem::path root_;

  private:
    std::unique_ptr<TempDir> dir_;
};

// Time moves only when the library sleeps, by what it slept, from `base`; each sleep also yields a
// few microseconds, so that bytes written to a pty reach its slave while the library polls.
class SteppingClock : public bsp::os::Clock {
  public:
    explicit SteppingClock(std::time_t b = 0) : base(b) { bsp::os::set_clock(this); }
    ~SteppingClock() override { bsp::os::set_clock(nullptr); }
    std::time_t now() noexcept override { return base + static_cast<std::time_t>(slept_us / 1000000); }
    timeval time_of_day() noexcept override {
        const long long us = base * 1000000LL + slept_us;
        return {static_cast<std::time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
    }
    void sleep_ms(long ms) noexcept override {
        slept_us += ms * 1000;
        std::this_thread::sleep_for(std::chrono::microseconds(5));
    }
    long slept_ms() const { return static_cast<long>(slept_us / 1000); }
    void reset() { slept_us = 0; }
    std::atomic<std::time_t> base;

  private:
    std::atomic<long long> slept_us{0};
};

// Time stands still at a chosen instant; sleeps return at once and are counted.
class FixedClock : public bsp::os::Clock {
  public:
    explicit FixedClock(std::time_t t) : t_(t) { bsp::os::set_clock(this); }
    ~FixedClock() override { bsp::os::set_clock(nullptr); }
    std::time_t now() noexcept override { return t_; }
    void sleep_ms(long ms) noexcept override { slept_ms += ms; }
    void set(std::time_t t) { t_ = t; }
    long slept_ms = 0;

  private:
    std::time_t t_;
};

// Writes a text into a record's fixed field as a host may: cut to the field, the rest zero.
template <std::size_t N>
void put_text(char (&field)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::fill(std::copy_n(text.begin(), n, field), field + N, '\0');
}

// What f printed on standard output.
template <typename F>
std::string printed(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

}  // namespace unit
