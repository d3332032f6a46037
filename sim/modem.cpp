// The cellular module: its modem table, its AT conversation, its state and its faults.
#include "sim/modem.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "sim/power_frame.h"

namespace sim {

// The box's modem table, as the library's detection knows it.
const std::array<ModemRow, kModemRows> kModemTable{{
    {"ZTE3630", "19d2:1509", "ttyUSB2", "/dev/ttyUSB1", IdForm::kPlain},
    {"N720CA04", "2949:8243", "ttyUSB1", "/dev/ttyUSB3", IdForm::kPrefixed},
    {"gprs", "0001:0001", "ttyS6", "/dev/ttyS6", IdForm::kPlain},
    {"ZTE3630c3b", "19d2:1476", "ttyUSB2", "/dev/ttyUSB1", IdForm::kPlain},
    {"N720CA05", "05c6:8241", "ttyUSB2", "/dev/ttyUSB0", IdForm::kPrefixed},
    {"N720CA61s2", "2949:8247", "ttyUSB0", "/dev/ttyUSB2", IdForm::kPrefixed},
    {"ZTE3630", "19d2:1432", "ttyUSB2", "/dev/ttyUSB1", IdForm::kPlain},
    {"ZTE3630tty_GW", "0001:0001", "ttyS6", "/dev/ttyS6", IdForm::kPlain},
    {"VQM4411", "1d9f:9c05", "ttyUSB1", "/dev/ttyUSB3", IdForm::kPlain},
    {"EC20", "2c7c:0125", "/dev/ttyUSB2", "/dev/ttyUSB3", IdForm::kPlain},
    {"EC200T", "2c7c:6026", "/dev/ttyUSB3", "/dev/ttyUSB3", IdForm::kPlain},
    {"EC200S", "2c7c:6002", "/dev/ttyUSB2", "/dev/ttyUSB1", IdForm::kPlain},
    {"M620", "2c7c:6005", "/dev/ttyUSB3", "/dev/ttyUSB3", IdForm::kPlain},
    {"M620A", "1286:4e3c", "/dev/ttyUSB4", "/dev/ttyUSB3", IdForm::kPlain},
    {"M820A", "05c6:9025", "/dev/ttyUSB2", "/dev/ttyUSB3", IdForm::kPlain},
}};

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kMaxCommand = 1024;   // what the module's command buffer keeps of a line
// An unsolicited line follows the answer this late: after a host that polls every 100 ms has taken
// the answer, so that it meets the line first thing in its next exchange.
constexpr milliseconds kUnsolicitedAfter{200};
constexpr milliseconds kBootStep{100};         // the announcements after a start, this far apart
constexpr const char* kUnsolicited[] = {"RDY", "+CPIN: READY", "+QIND: PB DONE", "+QIND: SMS DONE"};
constexpr int kCmeSimNotInserted = 10;  // 3GPP TS 27.007
constexpr int kCmeUnknown = 100;

// The position query and its reply: VER 0x21, ADR 0x01, CID1 0xD0; the query's CID2 0x90, the
// reply's RTN 0x00 and INFO: a status byte, longitude and latitude (32 bits each), height (16 bits).
constexpr std::uint8_t kPositionCid1 = 0xD0, kPositionCid2 = 0x90;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string framed(std::string_view line) { return "\r\n" + std::string(line) + "\r\n"; }

std::string cme(int code) { return framed("+CME ERROR: " + std::to_string(code)); }

void put_be(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace

std::optional<int> modem_row(std::string_view number_or_model) {
    for (std::size_t i = 0; i < kModemTable.size(); ++i)
        if (number_or_model == kModemTable[i].model) return static_cast<int>(i + 1);
    const std::string text(number_or_model);
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || n < 1 || n > static_cast<long>(kModemRows)) return std::nullopt;
    return static_cast<int>(n);
}

CellularModule::CellularModule(const ModemOptions& o)
    : row_(std::clamp(o.row, 1, static_cast<int>(kModemRows))),
      framing_(o.framing),
      ids_(o.ids.value_or(kModemTable[static_cast<std::size_t>(row_ - 1)].ids)),
      echo_(o.echo),
      state_(o.state),
      faults_(o.faults) {}

std::vector<ModemPiece> CellularModule::feed(std::span<const std::uint8_t> bytes) {
    std::vector<ModemPiece> out;
    std::string echoed;
    for (std::uint8_t b : bytes) {
        const char c = static_cast<char>(b);
        if (echo_ && !faults_.silent) echoed += c;  // as it arrives, before any answer
        if (c == '\n') continue;
        if (c != '\r') {
            if (line_.size() < kMaxCommand) line_ += c;
            continue;
        }
        if (!echoed.empty()) out.push_back({std::exchange(echoed, {}), milliseconds(0)});
        std::string command = std::exchange(line_, {});
        if (command.empty()) continue;  // an empty line is not a command
        commands_.push_back(command);
        if (faults_.silent) continue;
        for (auto& p : answer(command)) out.push_back(std::move(p));
    }
    if (!echoed.empty()) out.push_back({std::move(echoed), milliseconds(0)});
    return out;
}

std::vector<ModemPiece> CellularModule::boot() {
    echo_ = true;
    line_.clear();
    if (faults_.silent) return {};
    return {{framed("RDY"), kBootStep},
            {framed("+CFUN: 1"), kBootStep},
            {framed(state_.sim ? "+CPIN: READY" : "+CPIN: NOT READY"), kBootStep},
            {framed("+QIND: SMS DONE"), kBootStep},
            {framed("+QIND: PB DONE"), kBootStep}};
}

bool CellularModule::take_restart() { return std::exchange(restart_due_, false); }

std::vector<ModemPiece> CellularModule::answer(const std::string& command) {
    auto out = shape(reply(command), faults_.delay);
    if (faults_.unsolicited) {
        const auto& line = kUnsolicited[next_unsolicited_++ % std::size(kUnsolicited)];
        out.push_back({framed(line), kUnsolicitedAfter});
    }
    return out;
}

// The answer's bytes; commands that change the module's state change it here.
std::string CellularModule::reply(const std::string& command) {
    if (faults_.error) return framed("ERROR");
    if (faults_.cme_error) return cme(kCmeUnknown);
    struct Known {
        std::string_view command;
        std::string (CellularModule::*answer)();
    };
    static constexpr Known kKnown[] = {
        {"AT", &CellularModule::ok},          {"ATH", &CellularModule::ok},
        {"ATE0", &CellularModule::echo_off},  {"ATE1", &CellularModule::echo_on},
        {"ATE", &CellularModule::echo_on},    {"AT+CSQ", &CellularModule::signal},
        {"AT^SYSINFO", &CellularModule::sysinfo}, {"AT+CIMI", &CellularModule::imsi},
        {"AT+CGSN", &CellularModule::imei},   {"AT+CPIN?", &CellularModule::pin},
        {"AT+CFUN=1,1", &CellularModule::restart},
    };
    const std::string c = upper(command);
    for (const Known& k : kKnown)
        if (c == k.command) return (this->*k.answer)();
    return c.starts_with("~") ? position(command) : framed("ERROR");
}

std::string CellularModule::ok() { return framed("OK"); }

std::string CellularModule::echo_off() {
    echo_ = false;
    return ok();
}

std::string CellularModule::echo_on() {
    echo_ = true;
    return ok();
}

std::string CellularModule::signal() {
    const bool serving = !faults_.no_service;
    return info("+CSQ: " + std::to_string(serving ? state_.rssi : 99) + "," + std::to_string(serving ? state_.ber : 99)) +
           final_ok();
}

std::string CellularModule::sysinfo() {
    const auto& s = state_;
    const std::string sim = s.sim ? "1" : "255";
    if (faults_.no_service) return info("^SYSINFO: 0,0,0,0," + sim) + final_ok();
    return info("^SYSINFO: " + std::to_string(s.service) + "," + std::to_string(s.domain) + "," +
                std::to_string(s.roaming) + "," + std::to_string(s.mode) + "," + sim) +
           final_ok();
}

std::string CellularModule::imsi() {
    if (!state_.sim) return cme(kCmeSimNotInserted);
    return info(ids_ == IdForm::kPlain ? state_.imsi : "+CIMI: " + state_.imsi) + final_ok();
}

std::string CellularModule::imei() {
    switch (ids_) {
        case IdForm::kPlain: return info(state_.imei) + final_ok();
        case IdForm::kPrefixed: return info("+CGSN: " + state_.imei) + final_ok();
        case IdForm::kQuoted: break;
    }
    return info("+CGSN: \"" + state_.imei + "\"") + final_ok();
}

std::string CellularModule::pin() { return state_.sim ? info("+CPIN: READY") + final_ok() : cme(kCmeSimNotInserted); }

std::string CellularModule::restart() {
    ++restarts_;
    restart_due_ = true;
    return ok();
}

// The power-protocol position query: its reply frame, when the module knows where it is.
std::string CellularModule::position(const std::string& command) {
    const power::Frame f = power::decode(command + "\r");
    if (!f.ok() || f.cid1 != kPositionCid1 || f.cid2 != kPositionCid2 || !state_.position) return framed("ERROR");
    std::vector<std::uint8_t> data{0x00};
    put_be(data, static_cast<std::uint32_t>(state_.position->lon_e4), 4);
    put_be(data, static_cast<std::uint32_t>(state_.position->lat_e4), 4);
    put_be(data, static_cast<std::uint16_t>(state_.position->height), 2);
    return "\r\n" + power::build(f.ver, f.adr, f.cid1, power::rtn::kOk, data) + "\n";  // the frame ends in \r
}

// An information line, padded to the long-answers fault's length.
std::string CellularModule::info(std::string line) const {
    if (line.size() < faults_.long_answers) line.append(faults_.long_answers - line.size(), '9');
    return framed(line);
}

std::string CellularModule::final_ok() const { return framing_ == Framing::kCompact ? "OK\r\n" : framed("OK"); }

std::vector<ModemPiece> CellularModule::shape(std::string bytes, milliseconds after) const {
    if (!faults_.pieces) return {{std::move(bytes), after}};
    std::vector<ModemPiece> out;
    for (std::size_t i = 0; i < bytes.size(); ++i) out.push_back({std::string(1, bytes[i]), i ? faults_.piece_pause : after});
    return out;
}

}  // namespace sim
