// Shared by the positioning-mode and GPS API tests: a box root with the receiver's port as a pty,
// a stand-in uci tool that keeps /etc/config/vqm as uci does, the command journal, the log file,
// and a clock that notes each pause in the receiver's transcript instead of waiting.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com/com.h"
#include "gps/gps.h"
#include "pty_device.h"
#include "support.h"

namespace unit {

// Stages "uci set vqm.sys.KEY=VALUE" and writes the staged keys into the sys section (the last
// one in the test files) on "uci commit", one "option KEY 'VALUE'" line each.
constexpr const char* kUciStandIn = R"(#!/bin/sh
root=$(cd "$(dirname "$0")/.." && pwd)
staged="$root/uci.staged"
vqm="$root/etc/config/vqm"
case "$1" in
set) echo "${2#vqm.sys.}" >>"$staged" ;;
commit)
    [ -f "$staged" ] || exit 0
    while IFS='=' read -r key value; do
        sed -i "/option $key '/d" "$vqm"
        printf "\toption %s '%s'\n" "$key" "$value" >>"$vqm"
    done <"$staged"
    rm "$staged" ;;
*) exit 1 ;;
esac
)";

// Each pause appends what the receiver got so far, then "<N ms>".
class TranscriptClock : public bsp::os::Clock {
  public:
    TranscriptClock(PtyDevice& pty, std::string& transcript) : pty_(pty), transcript_(transcript) {
        bsp::os::set_clock(this);
    }
    ~TranscriptClock() override { bsp::os::set_clock(nullptr); }
    void sleep_ms(long ms) noexcept override {
        take();
        transcript_ += "<" + std::to_string(ms) + " ms>";
    }
    void take() {
        Bytes b = pty_.read(SIZE_MAX, std::chrono::milliseconds(30));
        transcript_.append(b.begin(), b.end());
    }

  private:
    PtyDevice& pty_;
    std::string& transcript_;
};

class GpsBox : public RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        write_file(box("bin/uci"), kUciStandIn);
        std::filesystem::permissions(box("bin/uci"), std::filesystem::perms::owner_all);
        setenv("SDK_BSP_CMDLOG", box("cmdlog").c_str(), 1);
        bsp::os::reload_environment();
        saved_log_ = STR_LOG_PAR;
        STR_LOG_PAR = {};
        STR_LOG_PAR.sys = 2;  // level 5 to the file only
        pty_ = std::make_unique<PtyDevice>(root_, "ttymxc7");
        testing::internal::CaptureStdout();
        BSP_ComCreate(6);
        testing::internal::GetCapturedStdout();
        clock_ = std::make_unique<TranscriptClock>(*pty_, transcript_);
        bsp::gps::reset_record();
        Read_GPS_dB_Flag();
    }
    void TearDown() override {
        clock_.reset();
        SDK_BSP_ComDestroy(6);
        pty_.reset();
        STR_LOG_PAR = saved_log_;
        RootedTest::TearDown();
    }

    // /etc/config/vqm with its sys section holding the keys given (null: the key is absent).
    void keys(const char* pcas, const char* pcas_sdk) {
        std::string text = "\nconfig vqm 'sys'\n";
        if (pcas) text += std::string("\toption pcas '") + pcas + "'\n";
        if (pcas_sdk) text += std::string("\toption pcas_sdk '") + pcas_sdk + "'\n";
        write_file(box("etc/config/vqm"), text);
    }
    std::string key(const std::string& name) { return sdkuci_get_flash(("uci get vqm.sys." + name).c_str()); }

    // What was gathered since the last call: the receiver's transcript, the commands run, the
    // messages logged.
    std::string wire() {
        clock_->take();
        return std::exchange(transcript_, "");
    }
    std::string commands() { return take_file("cmdlog"); }
    std::vector<std::string> logged() {
        const std::string text = take_file("tmp/sdklog.log");
        std::vector<std::string> out;
        for (std::size_t at = text.find("\r\n["); at != std::string::npos;) {
            std::size_t start = text.find("]:", at) + 2;
            at = text.find("\r\n[", start);
            out.push_back(text.substr(start, at == std::string::npos ? at : at - start));
        }
        return out;
    }
    // The command that deletes the receiver's files, as the journal shows it.
    std::string rm_line() const { return "rm " + (root_ / "tmp/gps_*").string() + "\n"; }
    // The receiver's descriptor, as the write trace shows it.
    static std::string fd() { return std::to_string(bsp::com::port_fd(6)); }

    std::unique_ptr<PtyDevice> pty_;

  private:
    std::string take_file(const std::string& rel) {
        std::string text = read_file(box(rel));
        std::filesystem::remove(box(rel));
        return text;
    }

    STR_LOG_PAR_T saved_log_{};
    std::string transcript_;
    std::unique_ptr<TranscriptClock> clock_;
};

// The receiver's sentences as the box sends them, with the pauses between them.
inline std::string mode_sentences(const std::string& command, bool save_with_zero = false) {
    return command + "<1000 ms>$PCAS00*01\r\n" + (save_with_zero ? std::string(1, '\0') : "") + "<2000 ms>";
}
inline const std::string kGpsOnly = mode_sentences("$PCAS04,1*18\r\n");
inline const std::string kBeidouOnly = mode_sentences("$PCAS04,2*1B\r\n");
inline const std::string kBothSystems = mode_sentences("$PCAS04,3*1A\r\n", true);
inline const std::string kNothingSent = "<2000 ms>";

}  // namespace unit
