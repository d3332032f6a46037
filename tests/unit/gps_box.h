// For the positioning-mode and GPS API tests: a box root with the receiver's port as a pty, a
// stand-in uci that keeps /etc/config/vqm, the command journal, the log file, and a clock that
// marks each pause in the receiver's transcript instead of waiting.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com/ports.h"
#include "gps/gps.h"
#include "pty_device.h"
#include "support.h"

namespace unit {

class GpsBox : public RootedTest, public bsp::os::Clock {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        // The box's own uci, built with the simulator, on this box's etc/config.
        write_file(box("bin/uci"), std::string("#!/bin/sh\nexec ") + FSU_UCI + " \"$@\"\n");
        std::filesystem::permissions(box("bin/uci"), std::filesystem::perms::owner_all);
        journal_commands();
        STR_LOG_PAR.sys = 2;  // level 5 to the file only
        pty_ = std::make_unique<PtyDevice>(root_, "ttymxc7");
        printed([] { BSP_ComCreate(6); });
        bsp::os::set_clock(this);
        bsp::gps::reset_record();
        Read_GPS_dB_Flag();
    }
    void TearDown() override {
        bsp::os::set_clock(nullptr);
        SDK_BSP_ComDestroy(6);
        STR_LOG_PAR.sys = 0;
        RootedTest::TearDown();
    }
    void sleep_ms(long ms) noexcept override { transcript_ += received() + "<" + std::to_string(ms) + " ms>"; }

    // The vqm package with the keys given (null: absent).
    void keys(const char* pcas, const char* pcas_sdk) {
        std::string text = "\nconfig vqm 'sys'\n";
        if (pcas) text += std::string("\toption pcas '") + pcas + "'\n";
        if (pcas_sdk) text += std::string("\toption pcas_sdk '") + pcas_sdk + "'\n";
        write_file(box("etc/config/vqm"), text);
        // The reader's memory copies load these packages in order, stopping at a missing one.
        for (const char* pkg : {"Device", "EnvironmentPar", "monitor", "network", "ks"})
            if (!std::filesystem::exists(box(std::string("etc/config/") + pkg))) write_file(box(std::string("etc/config/") + pkg), "\n");
    }
    std::string key(const std::string& name) { return sdkuci_get_flash(("uci get vqm.sys." + name).c_str()); }

    // Gathered since the last call: what the receiver got (with the pauses) and the commands run.
    std::string wire() { return std::exchange(transcript_, "") + received(); }
    std::string commands() { return take("cmdlog"); }
    std::string rm_line() const { return "rm " + (root_ / "tmp/gps_*").string() + "\n"; }
    static std::string trace(const std::string& text, int len) {
        return std::to_string(len) + "=GPS_COM_WRITE(" + std::to_string(bsp::com::port_fd(6)) + "," + text + "," +
               std::to_string(len) + ")\r\n";
    }

  private:
    std::string received() {
        Bytes b = pty_->read(SIZE_MAX, std::chrono::milliseconds(30));
        return {b.begin(), b.end()};
    }
    std::unique_ptr<PtyDevice> pty_;
    std::string transcript_;
};

// The receiver's sentences as the box sends them, with the pauses between them.
inline std::string sent(const std::string& command, bool save_with_zero = false) {
    return command + "<1000 ms>$PCAS00*01\r\n" + (save_with_zero ? std::string(1, '\0') : "") + "<2000 ms>";
}
inline const std::string kGpsOnly = sent("$PCAS04,1*18\r\n");
inline const std::string kBeidouOnly = sent("$PCAS04,2*1B\r\n");
inline const std::string kBothSystems = sent("$PCAS04,3*1A\r\n", true);
inline const std::string kNothingSent = "<2000 ms>";

}  // namespace unit
