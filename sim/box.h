// The simulated box: the seven serial ports as pseudo-terminals in a directory, the two extension
// boards on ttymxc5 and ttymxc6 (board 1's channel 4 leading to the environment equipment), the
// field devices behind ttymxc1..4 and the boards' channels (echoes unless told otherwise), the GPS/BeiDou receiver on ttymxc7, the cellular
// module on its AT device (dev/ttyUSB3), the sysfs GPIO tree, the UCI configuration and the box's
// tools in bin/. One thread serves it all; tests read
// what it recorded through thread-safe accessors that return copies, and wait with a deadline.
//
//   sim::Options opt;
//   opt.environment = true;                             // channel 4: the environment equipment
//   opt.gps.enabled = true;                             // NMEA from the built-in track
//   sim::Box box(dir, opt);                             // dir/dev/ttymxc1..7, sys/, etc/, bin/, tmp/
//   host.start(box.env());                              // SDK_BSP_ROOT, PATH, SDK_BSP_CMDLOG
//   box.wait_for([&] { return !box.board(1).frames(0x80).empty(); }, 5s);
//   box.board(1).frames(0x80)[0].payload;               // what the host sent to channel 0
//   box.port(sim::kGpsTty).push("$GPGGA,...\r\n");       // NMEA toward the host
//   box.gps().sentences();                              // the $PCAS commands the host sent
//   box.environment().outputs();                        // the four outputs
//   box.gpio().line(1);                                 // value and direction of GPIO 1
//   box.modem().commands();                             // "ATE0", "AT+CSQ", ... the module received
//   box.standins();                                     // "uci set vqm.sys.pcas=2", "reboot", ...
//   box.status();                                       // the status view, as fsu-sim shows it
//   box.set({{"modem-csq", 10}, {"silent.2", true}});   // switches, as the control API sets them
//   box.set({{"device.2.holding.0", 2301}});            // a register of the meter on Local/Uart/2
//   box.state()["switches"]["modem-csq"];               // 10: the state, as the control API shows it
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/device.h"
#include "sim/environment.h"
#include "sim/events.h"
#include "sim/frame.h"
#include "sim/gpio.h"
#include "sim/modem.h"
#include "sim/power_frame.h"
#include "sim/receiver.h"
#include "sim/switches.h"

namespace sim {

// Ports are numbered as their devices: ttymxc1 .. ttymxc7.
constexpr int kFirstTty = 1;
constexpr int kLastTty = 7;
constexpr std::size_t kTtys = kLastTty - kFirstTty + 1;
constexpr int kBoardTty[] = {5, 6};  // extension board 1, extension board 2
constexpr int kGpsTty = 7;
// Channels of a board: 0..3 on both boards; 4, the environment channel, on board 1 only.
constexpr int kEnvChannel = 4;
constexpr int kChannels = 5;

// What a board does wrong on request. Faults shape every frame the board builds (presence,
// loopback, bridged data, Board::send_frame); Board::send_raw goes out as given.
struct Faults {
    bool silent = false;        // no presence frames, no loopback, no bridged data toward the host
    bool garbage = false;       // a few garbage bytes before every frame
    bool split = false;         // every frame in pieces of split_bytes, split_pause apart
    bool bad_checksum = false;  // the sum byte of every frame is one too high
    // Random bytes and half frames toward the host at the link's full rate, besides its frames;
    // never a frame the host would route (no 0x7E in the bytes, CIDs the host drops in the halves).
    bool noise = false;
    std::size_t split_bytes = 4;
    std::chrono::milliseconds split_pause{150};
    bool operator==(const Faults&) const = default;
};

struct Options {
    // A board announces itself at start and then at this period (zero: at start only).
    std::chrono::milliseconds announce_period{1000};
    std::array<Faults, 2> faults{};  // board 1, board 2
    // Keep what arrives (frames, bytes) for the accessors; a long-running box may turn it off.
    bool record = true;
    // One line per frame or chunk received, receiver command, environment frame and reply, GPIO
    // change, stand-in call and bridge event; called on the serving thread, never with the box
    // locked, so it may not block for long (it may call the accessors).
    std::function<void(const std::string&)> trace;
    // The GPS/BeiDou receiver on ttymxc7. It takes $PCAS commands always, but streams only when
    // enabled: tests that push their own sentences leave it off.
    GpsOptions gps;
    // Board 1's channel 4 leads to the environment equipment, which answers the host's
    // power-protocol frames (sim/environment.h). Off, the channel loops back like the others.
    bool environment = false;
    // GPIO lines exported when the box is built, as the board set-up (kBoardSetupLines) or an
    // earlier run of the host leaves them.
    std::vector<int> exported;
    // The fsu-uci program that bin/uci runs, as it is; empty: the one built with the simulator,
    // through the build's emulator in a cross build.
    std::filesystem::path uci_program;
    // The cellular module (sim/modem.h): an EC20 unless another row of the modem table is chosen;
    // its AT device is a pty linked at the row's device under the box (dev/ttyUSB3).
    ModemOptions modem;
    // Serial devices gone from the start, as USB adapters pulled out (ttymxc1 first).
    std::array<bool, kTtys> unplugged{};
    // What is behind Local/Uart/1 to 12 (sim/device.h): an echo where nothing is given; several
    // Modbus units on one Uart form a bus. The box's condition lists every Uart's.
    std::vector<DeviceSetup> devices;
};

class Box;
struct BoxState;

// One serial port: what the host wrote to it, and bytes toward the host. A handle, valid while
// its Box lives.
class Port {
  public:
    int tty() const { return tty_; }
    std::filesystem::path link() const;  // <dir>/dev/ttymxcN
    std::string slave() const;           // the pty slave the link points to (/dev/pts/N)
    // Every byte the host wrote to the port so far (boards: the raw stream).
    Bytes received() const;
    // Bytes toward the host, as they are.
    void push(std::span<const std::uint8_t> bytes) const;
    void push(std::string_view text) const;
    void clear() const;  // forgets what was received
    // The device goes away, as a USB adapter pulled out: its link is removed and the pty hung up,
    // so a descriptor the host holds reads nothing more and fails every write. It stays away until
    // the switch unplugged.ttymxcN is turned off, which plugs a new one in (Box::set).
    void unplug() const;

  private:
    friend class Box;
    friend class Board;
    Port(BoxState* s, int tty) : s_(s), tty_(tty) {}
    BoxState* s_;
    int tty_;
};

// One extension board. A handle, valid while its Box lives.
class Board {
  public:
    int number() const { return number_; }  // 1 or 2
    Port port() const;                      // its ttymxc5 or ttymxc6
    // Every frame received from the host, in order; or those with one CID.
    std::vector<Frame> frames() const;
    std::vector<Frame> frames(std::uint8_t cid) const;
    // The last line settings received for a channel (nothing before the first settings frame).
    std::optional<LineSettings> settings(int channel) const;
    int keepalives() const;       // keep-alive frames received
    std::size_t garbage() const;  // bytes received that were no frame
    // A frame toward the host, shaped by the board's faults; raw bytes as they are.
    void send_frame(std::uint8_t cid, std::span<const std::uint8_t> payload) const;
    void send_frame(std::uint8_t cid, std::string_view payload) const;
    void send_raw(std::span<const std::uint8_t> bytes) const;
    void set_faults(const Faults& f) const;
    // Serves a channel on 127.0.0.1:tcp_port (0: a free port) instead of the device behind it (a
    // tcp device, sim/device.h): what a TCP client sends goes to the host as that channel's data,
    // the host's data for the channel goes to the client (dropped while none is connected). One
    // client at a time; a new one replaces the old. Returns the port; throws std::system_error
    // when it cannot listen.
    std::uint16_t bridge(int channel, std::uint16_t tcp_port = 0) const;
    void clear() const;  // forgets frames, settings, keep-alive and garbage counts

  private:
    friend class Box;
    Board(BoxState* s, int number) : s_(s), number_(number) {}
    BoxState* s_;
    int number_;
};

// The GPS/BeiDou receiver. A handle, valid while its Box lives.
class Gps {
  public:
    int mode() const;                       // the CASIC mask in effect: 1 GPS, 2 BeiDou, 3 both
    int saves() const;                      // $PCAS00 commands obeyed
    std::optional<int> saved_mode() const;  // the mask the last one saved
    // Every sentence received from the host, in order, with its checksum verdict.
    std::vector<Sentence> sentences() const;
    std::optional<Position> position() const;  // the track's present fix
    void clear() const;                         // forgets the sentences

  private:
    friend class Box;
    explicit Gps(BoxState* s) : s_(s) {}
    BoxState* s_;
};

// The environment equipment behind board 1's channel 4. A handle, valid while its Box lives.
class Environment {
  public:
    // Every power-protocol frame received, in order, with its verdicts.
    std::vector<power::Frame> frames() const;
    std::vector<std::string> replies() const;  // every reply sent, in order
    std::array<bool, kOutputs> outputs() const;
    std::size_t junk() const;  // characters received outside any frame
    void clear() const;        // forgets frames and replies; the outputs stay

  private:
    friend class Box;
    explicit Environment(BoxState* s) : s_(s) {}
    BoxState* s_;
};

// The sysfs GPIO tree. A handle, valid while its Box lives.
class Gpio {
  public:
    std::map<int, GpioLine> lines() const;  // the exported lines
    std::optional<GpioLine> line(int n) const;

  private:
    friend class Box;
    explicit Gpio(BoxState* s) : s_(s) {}
    BoxState* s_;
};

// The cellular module on the box's AT device. A handle, valid while its Box lives.
class Modem {
  public:
    bool fitted() const;
    int row() const;                     // its row of the modem table, from 1; 0 when none
    std::filesystem::path link() const;  // <dir>/dev/ttyUSB3, say, whether the tty is there or not
    bool present() const;                // the tty is there (powered, plugged in, not restarting)
    // Every command line received, in order, without its carriage return: "AT+CSQ", "ATE0".
    std::vector<std::string> commands() const;
    Bytes received() const;  // every byte the host wrote to it
    ModemState state() const;
    // A new state or new faults take effect with the next command (power and unplugging at once:
    // the tty goes, or comes back and the module starts, announcing itself).
    void set_state(const ModemState& state) const;
    ModemFaults faults() const;
    void set_faults(const ModemFaults& faults) const;
    bool echo() const;
    int restarts() const;  // AT+CFUN=1,1 obeyed
    // Takes the module out and fits one of another row of the modem table (1-15) in its place: its
    // tty at that row's AT device, its USB id in the lsusb listing; state and faults carry over.
    void replace(int row) const;
    int power_cycles() const;  // times GPIO 12 cut its power
    bool link_up() const;      // the dial-up link "ppp0" is up
    std::vector<std::string> driver_ids() const;  // what the host wrote to the option1 driver's new_id
    void push(std::string_view text) const;  // bytes toward the host (dropped while the tty is gone)
    void clear() const;                      // forgets commands and received bytes

  private:
    friend class Box;
    explicit Modem(BoxState* s) : s_(s) {}
    BoxState* s_;
};

// A dotted path into the state (Box::state): "boards.2.present", "outputs.3", "switches.silent.2"
// (a key that holds dots is one name: the longest key that fits is taken first), array items by
// their number from 0. Nothing when the state has no such path.
const nlohmann::ordered_json* find_path(const nlohmann::ordered_json& state, std::string_view path);
// A switch's value in the state, by the switch's name: under "switches", or for a register or bit
// ("device.2.holding.0") its value under "devices". Nothing when the state has none.
const nlohmann::ordered_json* switch_value(const nlohmann::ordered_json& state, std::string_view name);

class Box {
  public:
    // Builds the box in dir (created when missing): dev/ttymxc1..7 (links to raw pty slaves,
    // replacing old links), sys/class/gpio/ (lines of an earlier box removed), bin/ stand-ins,
    // etc/config/vqm (when missing), tmp/ with an empty tmp/standins.log; then starts serving.
    // Throws on failure.
    explicit Box(const std::filesystem::path& dir, Options options = {});
    // Stops serving and removes the dev/ links; the rest of the directory stays.
    ~Box();
    Box(const Box&) = delete;
    Box& operator=(const Box&) = delete;

    const std::filesystem::path& dir() const;
    // The environment a host needs: SDK_BSP_ROOT=<dir>, PATH=<dir>/bin:$PATH,
    // SDK_BSP_CMDLOG=<dir>/cmdlog.
    std::vector<std::string> env() const;

    Port port(int tty) const;      // 1..7; std::out_of_range otherwise
    Board board(int number) const;  // 1 or 2; std::out_of_range otherwise
    Gps gps() const;
    Environment environment() const;
    Gpio gpio() const;
    Modem modem() const;
    // Every line the stand-ins in bin/ recorded, in order: "uci set vqm.sys.pcas=2", "reboot".
    std::vector<std::string> standins() const;
    // The status view: LEDs, outputs, boards, traffic per port, the receiver, reboot requests.
    std::string status() const;

    // Calls done() (without the box locked) until it is true or the timeout has passed; wakes
    // whenever the box has received or sent something. Returns done()'s last answer.
    bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout) const;

    // ---- The control surface: switches, the state and events (fsu-sim serves them over HTTP)
    // The box's switches (sim/switches.h).
    const Switches& switches() const;
    // The box's present condition, as its switches read it.
    Options condition() const;
    // Sets switches from a JSON object of names and values ({"modem-csq": 10, "silent.2": "on"}),
    // all or none: returns what is wrong with the first one that cannot be set (an unknown name,
    // a bad value), naming it and changing nothing; "" when every one was set. A port unplugged is
    // gone when this returns. Every switch that changed is told as a "switch" event.
    std::string set(const nlohmann::json& changes) const;
    // What set would say of these changes, changing nothing: "" when it would set every one.
    std::string check(const nlohmann::json& changes) const;
    // The whole state as one JSON object, every key always present (README, "The control
    // server"); taken under the box's lock, without the file reads (sim/state.cpp).
    nlohmann::ordered_json state() const;
    // Named events, one per change a person would want to see (README).
    EventLog& events() const;

  private:
    std::unique_ptr<BoxState> s_;
};

}  // namespace sim
