// The status view: one line per part of the box, as fsu-sim shows it and Box::status() gives it.
//
//   LEDs      run lit, alarm dark, net -, 1 -           (-: line not exported; input: not driven)
//   outputs   1 off, 2 on, 3 off, 4 off; 12 frames (0 bad), 12 replies
//   board 1   ttymxc5, 14 announcements, 9 frames in (0 bad sums), 23 frames out, 0 keep-alives
//   board 2   ttymxc6, ...
//   ports     ttymxc1 5/5, ttymxc2 0/0, ... ttymxc7 14/2880 (bytes in/out)
//   devices   2 modbus (unit 1): 4 requests, 3 answers, 1 error; echo on the others
//   GPS       mode GPS+BeiDou, track at 960 bytes/s, 22.6020575 N 113.9464835 E 56.7 m; last command "$PCAS04,3*1A" ok; 1 save
//   modem     EC20 (row 10, 2c7c:0125) at dev/ttyUSB3, V.250 framing, echo off; CSQ 24,99, ^SYSINFO mode 17, ...
//   link      ppp0 up, 10.71.23.145; 1 dial; USB bus 1 device 3; new_id 0x2c7c 0x0125
//   reboot    none requested  |  2 requests, the last at 2024-07-01 08:30:05
//   FTP       no accounts  |  ftpuser /srv/ftp, guest /mnt/data      (what user.sh keeps)
#include <cmath>
#include <cstdio>
#include <fstream>

#include "sim/box_state.h"

namespace sim {
namespace {

constexpr int kLabelWidth = 10;

std::string line(const char* label, const std::string& text) {
    std::string l = label;
    l.resize(kLabelWidth, ' ');
    return l + text + "\n";
}

std::string led_state(const std::map<int, GpioLine>& lines, int gpio) {
    if (const auto lit = led_lit(lines, gpio)) return *lit ? "lit" : "dark";
    return lines.count(gpio) ? "input" : "-";
}

std::string join(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts) s += (s.empty() ? "" : ", ") + p;
    return s;
}

std::string faults(const Faults& f) {
    std::vector<std::string> on;
    if (f.silent) on.push_back("silent");
    if (f.garbage) on.push_back("garbage");
    if (f.split) on.push_back("split");
    if (f.bad_checksum) on.push_back("bad checksum");
    return on.empty() ? "" : ", faults: " + join(on);
}

// The accounts user.sh keeps, as "user home" lines.
std::string ftp_accounts(const std::filesystem::path& dir) {
    std::ifstream in(dir / kFtpAccounts);
    std::vector<std::string> accounts;
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) accounts.push_back(l);
    return accounts.empty() ? "no accounts" : join(accounts);
}

}  // namespace

std::string mode_name(int mode) {
    switch (mode) {
        case gnss::kGps: return "GPS";
        case gnss::kBeiDou: return "BeiDou";
        case gnss::kGps | gnss::kBeiDou: return "GPS+BeiDou";
        default: return "mask " + std::to_string(mode);
    }
}

std::string BoxState::status() const {
    std::string out;
    std::vector<std::string> parts;
    for (const auto& led : kLeds) parts.push_back(std::string(led.name) + " " + led_state(files.gpio->lines(), led.gpio));
    out += line("LEDs", join(parts));

    if (environment) {
        parts.clear();
        const auto outputs = env.equipment.outputs();
        for (std::size_t i = 0; i < outputs.size(); ++i) parts.push_back(std::to_string(i + 1) + (outputs[i] ? " on" : " off"));
        out += line("outputs", join(parts) + "; " + std::to_string(env.frames_in) + " frames (" +
                                   std::to_string(env.bad_frames) + " bad), " + std::to_string(env.replies_out) + " replies");
    } else {
        out += line("outputs", "no environment equipment: channel 4 loops back");
    }

    for (const auto& bd : boards) {
        const std::string name = "board " + std::to_string(&bd - boards.data() + 1);
        out += line(name.c_str(), tty_name(bd.tty) + ", " + std::to_string(bd.announcements) + " announcements, " +
                                      std::to_string(bd.frames_in) + " frames in (" + std::to_string(bd.bad_sums) +
                                      " bad sums), " + std::to_string(bd.frames_out) + " frames out, " +
                                      std::to_string(bd.keepalives) + " keep-alives" + faults(bd.faults));
    }

    parts.clear();
    for (int tty = kFirstTty; tty <= kLastTty; ++tty)
        parts.push_back(tty_name(tty) + " " + std::to_string(port(tty).bytes_in) + "/" + std::to_string(port(tty).bytes_out) +
                        (port(tty).unplugged ? " (unplugged)" : ""));
    out += line("ports", join(parts) + " (bytes in/out)");
    out += line("devices", devices_status());

    const auto& r = gps.receiver;
    std::string g = "mode " + mode_name(r.mode()) + ", ";
    if (!r.options().enabled) g += "not streaming";
    else if (!r.options().capture.empty()) g += "capture " + r.options().capture.filename().string();
    else g += "track";
    if (r.options().enabled) g += " at " + std::to_string(r.options().bytes_per_second) + " bytes/s";
    if (auto p = r.position(); p && r.options().enabled) {
        std::array<char, 64> where{};
        std::snprintf(where.data(), where.size(), ", %.7f %c %.7f %c %.1f m", std::abs(p->lat), p->lat < 0 ? 'S' : 'N',
                      std::abs(p->lon), p->lon < 0 ? 'W' : 'E', p->altitude);
        g += where.data();
    }
    if (gps.last) g += "; last command \"" + gps.last->text + "\"" + (gps.last->checksum_ok ? " ok" : " BAD");
    g += "; " + std::to_string(r.saves()) + (r.saves() == 1 ? " save" : " saves");
    out += line("GPS", g);

    out += line("modem", modem_status());
    out += line("link", link_status());
    out += line("reboot", files.reboots ? std::to_string(files.reboots) + (files.reboots == 1 ? " request" : " requests") +
                                              ", the last at " + files.last_reboot
                                        : "none requested");
    out += line("FTP", ftp_accounts(dir));
    return out;
}

}  // namespace sim
