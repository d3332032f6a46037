// The box's tools and configuration: bin/ holds harmless stand-ins for the commands the library
// runs (uci, reboot, killall, date, hwclock, user.sh), each recording its command line, one line
// each, in tmp/standins.log; etc/config/vqm holds the GPS positioning mode as uci writes it.
#pragma once

#include <sys/inotify.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr std::string_view kStandinLog = "tmp/standins.log";
// What the box keeps for its stand-ins: the lsusb listing, and one ifconfig listing per interface
// that is up.
constexpr std::string_view kUsbListing = ".box/lsusb";
constexpr std::string_view kInterfaces = ".box/net";
// The FTP accounts user.sh keeps: one "user home" line each.
constexpr std::string_view kFtpAccounts = "etc/ftp_accounts";
// The package as a box ships it: uci's own export of one named section.
constexpr std::string_view kVqmPackage = "\nconfig sys 'sys'\n\toption pcas '3'\n\n";

// Writes the stand-ins into <dir>/bin (replacing old ones), <dir>/etc/config/vqm when there is
// none, and an empty record. bin/uci runs `uci_command` (a shell command, the fsu-uci program)
// with SDK_BSP_ROOT set to the box. `date` with no -s or --set is a query and is passed on to
// the system's own date after it is recorded; `user.sh add USER PASSWORD HOME` and
// `user.sh del USER` keep the account list; `lsusb` prints the box's kUsbListing; `ifconfig IF`
// prints kInterfaces/IF, or the error of an interface that does not exist. The box itself acts on
// the recorded calls of `lte.sh` and `killall` (sim/modem_port.cpp); the others do nothing else.
void install_standins(const std::filesystem::path& dir, const std::string& uci_command);

// Text quoted for /bin/sh.
std::string sh_quote(std::string_view text);

// Follows the record as the stand-ins append to it.
class StandinLog {
  public:
    StandinLog(const std::filesystem::path& file, int inotify_fd);
    // Handles an inotify event; false when it is not about the record. New whole lines are
    // appended to `lines`.
    bool on_event(const inotify_event& e, std::vector<std::string>& lines);
    // Every line recorded so far.
    static std::vector<std::string> read(const std::filesystem::path& file);

  private:
    std::filesystem::path file_;
    int watch_;
    std::uintmax_t offset_ = 0;
    std::string partial_;
};

}  // namespace sim
