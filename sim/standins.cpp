// The box's stand-in commands, its shipped configuration, and the record the stand-ins write.
#include "sim/standins.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace sim {
namespace {

namespace fs = std::filesystem;

// Appends the stand-in's name and arguments, joined by blanks, as one line of the record.
constexpr std::string_view kRecord =
    "line=${0##*/}; for a in \"$@\"; do line=\"$line $a\"; done\n"
    "printf '%s\\n' \"$line\" >> ";

struct Standin {
    const char* name;
    const char* what;  // the comment line
    const char* then;  // what it does after recording
};
constexpr Standin kStandins[] = {
    {"reboot", "records the request; never reboots", ""},
    {"killall", "records the request; kills nothing (the box takes ppp0 down for pppd and lte.sh)", ""},
    {"lte.sh", "records the call; the box brings ppp0 up a little later when the module is registered", ""},
    {"hwclock", "records the request; leaves the clock alone", ""},
    {"date", "records the request; sets no clock, passes queries on to the system's date",
     "case \" $* \" in *\" -s \"*|*\" --set\"*) ;; *) exec /bin/date \"$@\" ;; esac\n"},
};

// user.sh keeps one "user home" line per account, the home shown as the box's path (the root
// the library puts in front taken away); an account added again replaces the old one.
constexpr std::string_view kAccounts =
    "[ -f \"$accounts\" ] || : > \"$accounts\"\n"
    "case $1 in\n"
    "add) [ $# -eq 4 ] || exit 1 ;;\n"
    "del) [ $# -eq 2 ] || exit 1 ;;\n"
    "*) exit 1 ;;\n"
    "esac\n"
    "while read -r u home; do [ \"$u\" = \"$2\" ] || printf '%s %s\\n' \"$u\" \"$home\"; done < \"$accounts\" > \"$accounts.new\"\n"
    "[ \"$1\" = del ] || printf '%s %s\\n' \"$2\" \"${4#\"$box\"}\" >> \"$accounts.new\"\n"
    "mv \"$accounts.new\" \"$accounts\"\n";

// ifconfig with no argument lists the interfaces that are up; with one, that one or the error of
// busybox's ifconfig.
constexpr std::string_view kIfconfig =
    "if [ $# -eq 0 ]; then cat \"$net\"/* 2>/dev/null; exit 0; fi\n"
    "case $1 in */*|.*) ;; *) [ -f \"$net/$1\" ] && exec cat \"$net/$1\" ;; esac\n"
    "echo \"ifconfig: $1: error fetching interface information: Device not found\" >&2\n"
    "exit 1\n";

constexpr std::string_view kNetworkPackage = "\nconfig interface 'ppp0'\n\toption proto '3g'\n\n";

void write_script(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
}

}  // namespace

std::string sh_quote(std::string_view text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void install_standins(const fs::path& dir, const std::string& uci_command) {
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "etc/config");
    fs::create_directories(dir / "tmp");
    const std::string record = sh_quote((dir / kStandinLog).string());
    for (const auto& s : kStandins)
        write_script(dir / "bin" / s.name, std::string("#!/bin/sh\n# ") + s.name + " of the simulated box: " + s.what +
                                                ".\n" + std::string(kRecord) + record + "\n" + s.then);
    write_script(dir / "bin/user.sh", "#!/bin/sh\n# user.sh of the simulated box: records the request and keeps the FTP accounts in " +
                                          std::string(kFtpAccounts) + ".\n" + std::string(kRecord) + record + "\n" +
                                          "box=" + sh_quote(dir.string()) + "\naccounts=" +
                                          sh_quote((dir / kFtpAccounts).string()) + "\n" + std::string(kAccounts));
    write_script(dir / "bin/lsusb", "#!/bin/sh\n# lsusb of the simulated box: records the call and lists the box's USB devices, the\n"
                                    "# cellular module among them while it is there.\n" + std::string(kRecord) + record +
                                        "\ncat " + sh_quote((dir / kUsbListing).string()) + "\n");
    write_script(dir / "bin/ifconfig", "#!/bin/sh\n# ifconfig of the simulated box: records the call and shows an interface while it is up.\n" +
                                           std::string(kRecord) + record + "\nnet=" + sh_quote((dir / kInterfaces).string()) +
                                           "\n" + std::string(kIfconfig));
    fs::remove_all(dir / kInterfaces);  // links an earlier box left up
    fs::create_directories(dir / kInterfaces);
    write_script(dir / "bin/uci", "#!/bin/sh\n# uci of the simulated box: fsu-uci on its etc/config; it records the call.\n"
                                  "SDK_BSP_ROOT=" + sh_quote(dir.string()) + " exec " + uci_command + " \"$@\"\n");
    if (!fs::exists(dir / "etc/config/vqm")) std::ofstream(dir / "etc/config/vqm", std::ios::binary) << kVqmPackage;
    // The box's other packages the library's configuration copies load (in an order that stops at
    // the first one missing), empty where the box has nothing to say; network holds the dial-up
    // interface whose device detection sets.
    for (const char* package : {"Device", "EnvironmentPar", "monitor", "network", "ks"})
        if (!fs::exists(dir / "etc/config" / package))
            std::ofstream(dir / "etc/config" / package, std::ios::binary)
                << (package == std::string_view("network") ? kNetworkPackage : "\n");
    std::ofstream(dir / kStandinLog, std::ios::binary | std::ios::trunc);
}

StandinLog::StandinLog(const fs::path& file, int inotify_fd) : file_(file) {
    watch_ = inotify_add_watch(inotify_fd, file_.c_str(), IN_MODIFY);
    if (watch_ < 0) throw std::system_error(errno, std::generic_category(), "inotify_add_watch " + file_.string());
}

bool StandinLog::on_event(const inotify_event& e, std::vector<std::string>& lines) {
    if (e.wd != watch_) return false;
    std::ifstream in(file_, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uintmax_t>(std::max<std::streamoff>(in.tellg(), 0));
    if (size < offset_) {  // emptied and written afresh
        offset_ = 0;
        partial_.clear();
    }
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk(size - offset_, '\0');
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<std::size_t>(in.gcount()));
    offset_ += chunk.size();
    partial_ += chunk;
    for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
        lines.push_back(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
    return true;
}

std::vector<std::string> StandinLog::read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

}  // namespace sim
