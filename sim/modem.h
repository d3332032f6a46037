// The cellular module behind the box's AT device: the modules of the box's modem table, answering
// the AT commands the library sends the way real modules do. No threads here: the box's serving
// thread hands it what the host wrote and sends what it returns, piece by piece, at the times given.
//
//   host writes "AT+CSQ\r"            echo on (until ATE0):  "AT+CSQ\r"
//                                     V.250 framing:         "\r\n+CSQ: 24,99\r\n\r\nOK\r\n"
//                                     compact framing:       "\r\n+CSQ: 24,99\r\nOK\r\n"
//
// Commands: AT, ATE0, ATE1, ATH, AT+CSQ, AT^SYSINFO, AT+CIMI, AT+CGSN, AT+CPIN?, AT+CFUN=1,1 and the
// power-protocol position query "~2101D0900000FD9F"; anything else gets "ERROR". Letters may be of
// either case; a command ends at its carriage return, line feeds are ignored.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// How the module writes the IMEI and the IMSI: "862140060226843", "+CGSN: 862140060226843",
// "+CGSN: \"862140060226843\"" (the quoted form is the IMEI's only; the IMSI is then prefixed).
enum class IdForm { kPlain, kPrefixed, kQuoted };
// V.250: an information line and the final result each framed by CR LF, so a blank line lies
// between them; compact: no blank line before the final result.
enum class Framing { kV250, kCompact };

// One row of the box's modem table: model, USB vendor:product, data device, AT device; and how
// that module writes its identities.
struct ModemRow {
    const char* model;
    const char* usb_id;
    const char* data_device;
    const char* at_device;
    IdForm ids;
};
constexpr std::size_t kModemRows = 15;
extern const std::array<ModemRow, kModemRows> kModemTable;
constexpr int kEc20Row = 10;  // rows are numbered from 1, as the library's module number
// A row by its number ("10") or model name ("EC20", the first row with that name).
std::optional<int> modem_row(std::string_view number_or_model);

// A position the module reports to the power-protocol query: ten-thousandths of a degree east and
// north, metres.
struct ModemPosition {
    std::int32_t lon_e4 = 1139464;
    std::int32_t lat_e4 = 226020;
    std::int16_t height = 57;
};

struct ModemState {
    bool powered = true;      // off: the module is gone from the USB bus, its tty too
    bool sim = true;          // a SIM is inserted
    int rssi = 24;            // +CSQ: 0-31, 99 unknown
    int ber = 99;
    int service = 2;          // ^SYSINFO: service status (2 in service)
    int domain = 3;           // service domain (3 CS and PS)
    int roaming = 0;
    int mode = 17;            // system mode (17 LTE)
    std::string imsi = "460023210226023";
    std::string imei = "862140060226843";
    std::optional<ModemPosition> position = ModemPosition{};
    bool operator==(const ModemState&) const = default;
};

struct ModemFaults {
    bool silent = false;     // reads everything, sends nothing (no echo either)
    bool error = false;      // every command answered "ERROR"
    bool cme_error = false;  // every command answered "+CME ERROR: 100"
    std::chrono::milliseconds delay{0};  // slow answers: each answer this long after its command
    bool no_service = false;             // not registered: "+CSQ: 99,99", "^SYSINFO: 0,0,0,0,<sim>"
    bool unplugged = false;              // the module is gone: its tty goes away
    bool pieces = false;                 // every answer in 1-byte pieces, piece_pause apart
    std::chrono::milliseconds piece_pause{20};
    bool unsolicited = false;  // an unsolicited line ("RDY", "+CPIN: READY", ...) after every answer
    std::size_t long_answers = 0;  // > 0: every information line padded with '9's to this length
    bool operator==(const ModemFaults&) const = default;
};

struct ModemOptions {
    bool fitted = true;  // no module: no AT device at all
    int row = kEc20Row;
    Framing framing = Framing::kV250;
    std::optional<IdForm> ids;  // the row's own form when empty
    bool echo = true;           // at power-up, as modules ship
    ModemState state;
    ModemFaults faults;
    // How long the module takes to start: away after AT+CFUN=1,1, or after its power (GPIO 12)
    // comes back, before its tty is there and it announces itself.
    std::chrono::milliseconds restart_time{1000};
    // The dial-up: lte.sh brings "ppp0" up this long after it runs, with this address, when the
    // module is registered.
    std::chrono::milliseconds dial_time{1500};
    std::string ppp_address = "10.71.23.145";
};

// Bytes the module sends, `after` the piece before them (the first: after the host's bytes).
struct ModemPiece {
    std::string bytes;
    std::chrono::milliseconds after{0};
    bool operator==(const ModemPiece&) const = default;
};

class CellularModule {
  public:
    explicit CellularModule(const ModemOptions& options);

    // The host's bytes: what the module sends back (echo, answers, unsolicited lines).
    std::vector<ModemPiece> feed(std::span<const std::uint8_t> bytes);
    // The module has just started (power-up or restart): echo on, and what it announces.
    std::vector<ModemPiece> boot();

    const ModemRow& row() const { return kModemTable[static_cast<std::size_t>(row_ - 1)]; }
    int row_number() const { return row_; }
    Framing framing() const { return framing_; }
    void set_framing(Framing f) { framing_ = f; }
    bool echo() const { return echo_; }
    void set_echo(bool on) { echo_ = on; }
    // Every command line received, in order, as written (without its carriage return).
    const std::vector<std::string>& commands() const { return commands_; }
    void clear_commands() { commands_.clear(); }
    int restarts() const { return restarts_; }
    // True once after AT+CFUN=1,1 was answered: the module goes away and restarts.
    bool take_restart();
    const ModemState& state() const { return state_; }
    ModemState& state() { return state_; }
    const ModemFaults& faults() const { return faults_; }
    ModemFaults& faults() { return faults_; }

  private:
    std::vector<ModemPiece> answer(const std::string& command);
    std::string reply(const std::string& command);
    std::string ok();
    std::string echo_off();
    std::string echo_on();
    std::string signal();
    std::string sysinfo();
    std::string imsi();
    std::string imei();
    std::string pin();
    std::string restart();
    std::string position(const std::string& command);
    std::string info(std::string line) const;
    std::string final_ok() const;
    std::vector<ModemPiece> shape(std::string bytes, std::chrono::milliseconds after) const;

    int row_;
    Framing framing_;
    IdForm ids_;
    bool echo_;
    ModemState state_;
    ModemFaults faults_;
    std::string line_;  // the command being received
    std::vector<std::string> commands_;
    int restarts_ = 0;
    bool restart_due_ = false;
    std::size_t next_unsolicited_ = 0;
};

}  // namespace sim
