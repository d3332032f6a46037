// What the box's own files share: the state the serving thread keeps under one mutex (box.cpp
// serves it, status.cpp shows it).
#pragma once

#include <poll.h>
#include <sys/inotify.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/box.h"
#include "sim/device.h"
#include "sim/io.h"
#include "sim/modem.h"
#include "sim/standins.h"

namespace sim {

inline std::string tty_name(int tty) { return "ttymxc" + std::to_string(tty); }
// What the state keeps of the last chunk each way: one byte more than it shows, so that it can
// say the chunk went on.
constexpr std::size_t kLastChunk = kTraceBytes + 1;
// A receiver mode as people say it: "GPS", "BeiDou", "GPS+BeiDou" or "mask N".
std::string mode_name(int mode);

// A stretch of a port's traffic one way, as the state shows it: a chunk, and the chunks after it
// that came the same way within kTrafficGap, until it holds what it can show. A busy port thus
// adds a few entries a second, however small its chunks.
struct Traffic {
    bool in = false;         // from the host
    std::size_t bytes = 0;   // all of them, shown or not
    Bytes head;              // the first kLastChunk
    TimePoint last;          // when its last byte came
};
constexpr std::size_t kRecentTraffic = 8;  // entries kept per port
constexpr std::chrono::milliseconds kTrafficGap{200};  // a split frame's pieces are 150 ms apart

// Bytes toward the host, not to be written before `due` (the split fault's pauses).
struct Chunk {
    Bytes bytes;
    TimePoint due;
};

struct PortState {
    io::Pty pty;
    std::filesystem::path link;
    std::deque<Chunk> out;
    std::size_t queued = 0;
    bool blocked = false;  // the host's input queue is full: wait until the master is writable
    bool dead = false;     // the master failed: no longer served
    bool unplugged = false;  // gone, as a USB adapter pulled out (dead too)
    Bytes received;
    FrameCutter cutter;  // board ports
    std::size_t bytes_in = 0, bytes_out = 0;
    Bytes last_in, last_out;  // the last chunk each way, as far as the state shows it
    std::deque<Traffic> recent;  // the last kRecentTraffic stretches, oldest first
    // Counts and keeps a chunk that went one way.
    void seen(bool in, std::span<const std::uint8_t> chunk, TimePoint now);
};

struct BoardState {
    int tty = 0;
    int channels = 0;
    Faults faults;
    std::vector<Frame> frames;
    std::array<std::optional<LineSettings>, kChannels> settings;
    int keepalives = 0;
    std::size_t garbage = 0;  // bytes received that were no frame
    TimePoint next_announce;
    TimePoint next_noise;           // the noise fault's next slice
    std::minstd_rand noise_bytes;   // the noise fault's bytes, the same in every run
    std::size_t announcements = 0, frames_in = 0, bad_sums = 0, frames_out = 0;
    std::string last_frame;  // the last frame received, as the trace shows it
};

// The environment equipment and what it received and sent.
struct EnvironmentState {
    EnvironmentEquipment equipment;
    std::vector<power::Frame> frames;
    std::vector<std::string> replies;
    std::size_t frames_in = 0, bad_frames = 0, replies_out = 0;
    std::optional<std::string> last_frame, last_reply;
};

// The receiver and what the host sent it.
struct GpsState {
    explicit GpsState(GpsReceiver r) : receiver(std::move(r)) {}
    GpsReceiver receiver;
    std::vector<Sentence> sentences;
    std::optional<Sentence> last;
    std::size_t dropped = 0;  // bytes not sent because the host was not reading
};

// The files the box follows: the GPIO tree and the stand-ins' record.
struct FilesState {
    io::Fd inotify;
    std::unique_ptr<GpioTree> gpio;
    std::unique_ptr<StandinLog> standins;
    std::size_t reboots = 0;
    std::string last_reboot;  // local time the box saw it
    std::size_t calls = 0;                 // stand-in calls
    std::deque<std::string> last_calls;    // the last kLastCalls of them
};
constexpr std::size_t kLastCalls = 10;

// The cellular module and its AT device, a pty linked at the row's device (modem_port.cpp).
struct ModemPortState {
    // What the switches choose: whether a module is fitted, its row, framing and echo; its state
    // and faults while none is (the module keeps its own).
    ModemOptions options;
    std::optional<CellularModule> module;  // none fitted: no AT device at all
    std::filesystem::path link;            // <dir>/dev/ttyUSB3, say
    PortState port;                        // its pty is open only while the tty is there
    bool present = false;                  // the tty is there
    bool started = false;                  // it has been there: its return is a start
    Bytes received;                        // every byte the host wrote to it
    TimePoint away_at = kNever, back_at = kNever;  // a restart: the module leaves, then returns
    std::size_t commands = 0;
    std::string last;  // the last command received
    // The box around it: GPIO 12 switches its power, lte.sh and killall bring the dial-up link
    // "ppp0" up and down, lsusb lists it while it is there, the option1 driver takes new ids.
    bool power_cut = false;                 // GPIO 12 is low
    TimePoint powered_at = kNever;          // GPIO 12 went high: the module starts, back at this time
    TimePoint link_at = kNever;             // lte.sh ran: "ppp0" comes up at this time
    bool link_up = false;
    int dials = 0, power_cycles = 0;
    int usb_device = 2;                     // its device number on bus 1, a new one at every arrival
    std::vector<std::string> driver_ids;    // written to the option1 driver's new_id
    int driver_watch = -1;
};

// One Uart's line and the device behind it: on a box port (ttymxc1..4) or on a board's channel.
struct UartLine {
    int uart = 0;
    int tty = 0;  // a box port; 0 on a board channel
    int board = 0, channel = 0;
    std::vector<DeviceSetup> setups;   // several for a Modbus bus
    std::unique_ptr<Device> device;  // none on the environment channel but while it is bridged
};
// A register or bit set through the control API, checked and waiting to be written.
struct RegisterWrite {
    std::string name;  // as the switch was named
    RegisterName register_name;
    std::uint16_t value = 0;
};
// Local/Uart/1 to 12, then 14: the environment channel, which only a bridge leads elsewhere.
constexpr std::size_t kLines = kDeviceUarts + 1;

// What one poll entry stands for.
struct Watch {
    enum Kind { kWake, kPort, kDevice, kFiles, kModem } kind;
    int a = 0;  // tty, or line index
    int b = 0;  // a device's descriptor
};

struct BoxState {
    BoxState(const std::filesystem::path& d, Options o);

    // Set when the box is built, then only read: no lock needed. The conditions its switches
    // change are kept below, under mu; opt keeps those it was built with.
    std::filesystem::path dir;
    Options opt;
    Switches switches;
    EventLog event_log;  // locks itself; appended to with mu held, never waited on
    io::Fd wake;  // written by any thread to end the serving thread's poll
    std::thread thread;

    mutable std::mutex mu;
    mutable std::condition_variable cv;
    // ---- guarded by mu: everything below ----
    std::uint64_t events = 0;  // counts serving rounds; wait_for wakes on every change
    std::chrono::milliseconds announce_period;
    bool environment;  // board 1's channel 4 leads to the environment equipment
    std::array<PortState, kTtys> ports;
    std::array<BoardState, 2> boards;
    GpsState gps;
    EnvironmentState env;
    FilesState files;
    ModemPortState modem;
    std::array<UartLine, kLines> uarts;
    bool stop = false;
    std::vector<std::string> trace;  // lines for opt.trace, handed over outside the lock

    PortState& port(int tty) { return ports[static_cast<std::size_t>(tty - kFirstTty)]; }
    const PortState& port(int tty) const { return ports[static_cast<std::size_t>(tty - kFirstTty)]; }
    void wake_up() const;
    // Waits, the lock held on entry and on return, until the serving thread has been round once:
    // its poll has ended, so the descriptors closed under the lock are let go.
    void await_round(std::unique_lock<std::mutex>& lock) const;
    void serve();

    // The rest runs with mu held.
    void note(std::string line) {
        if (opt.trace) trace.push_back(std::move(line));
    }
    void event(std::string_view name, const nlohmann::ordered_json& data) { event_log.push(name, data); }
    // The switches (live.cpp): the present condition, and a new one enacted where it differs.
    Options condition() const;
    void enact(const Options& next);
    void unplug_port(int tty);
    void plug_port(int tty);
    bool board_present(int b) const;
    nlohmann::ordered_json state() const;  // state.cpp
    void enqueue(int tty, Bytes bytes, TimePoint due);
    void enqueue(PortState& p, const std::string& name, Bytes bytes, TimePoint due);
    TimePoint flush_port(PortState& p, const std::string& name, TimePoint now);
    void board_send(int b, std::uint8_t cid, std::span<const std::uint8_t> payload);
    TimePoint announce(TimePoint now);
    TimePoint make_noise(TimePoint now);
    TimePoint pace_gps(TimePoint now);
    TimePoint flush(TimePoint now);
    void watch(std::vector<pollfd>& fds, std::vector<Watch>& watches);
    void on_readable(int tty);
    void on_gps_bytes(std::span<const std::uint8_t> bytes);
    void on_frame(int b, Frame f);
    void on_channel_data(int b, int ch, const Bytes& payload);
    void on_environment_data(const Bytes& payload);
    // The devices behind the Uarts (uarts.cpp).
    void build_lines();
    UartLine* line_at_port(int tty);
    UartLine& line_at_channel(int b, int ch);
    void on_host_bytes(UartLine& l, std::span<const std::uint8_t> bytes);
    std::optional<LineSettings> host_settings(const UartLine& l) const;  // as far as the box sees them
    bool in_tune(const UartLine& l) const;
    TimePoint drain(UartLine& l, TimePoint now);  // trace lines and due answers; when the next is due
    TimePoint tick_devices(TimePoint now);
    void watch_devices(std::vector<pollfd>& fds, std::vector<Watch>& watches) const;
    void on_device_readable(int line, int fd);
    void replace_device(UartLine& l, std::vector<DeviceSetup> setups, std::unique_ptr<Device> device);
    // "device.2.holding.0" and its value: "" and `out` when they can be set; else what is wrong.
    std::string check_register(const std::string& name, const nlohmann::json& value, RegisterWrite& out) const;
    // Switches and registers of a JSON object of changes, checked: the switches set in `next`, the
    // registers' writes in `writes`; "" when all can be set, else what is wrong with the first.
    std::string prepare(const nlohmann::json& changes, Options& next, std::vector<RegisterWrite>& writes) const;
    void write_register(const RegisterWrite& w);
    nlohmann::ordered_json devices_state() const;
    std::string devices_status() const;
    void on_files();
    // The cellular module (modem_port.cpp): its tty comes and goes with power, faults and restarts.
    void start_modem();
    void stop_modem();
    void fit_modem();  // takes the module out, and fits one when modem.options say so
    TimePoint modem_tick(TimePoint now);  // brings the tty in line, sends what is due
    void watch_modem(std::vector<pollfd>& fds, std::vector<Watch>& watches);
    void on_modem_readable();
    bool modem_registered() const;
    void set_link(bool up, const std::string& why);
    void write_usb_listing();
    void on_standin_call(const std::string& call);                          // lte.sh, killall
    bool on_driver_event(const inotify_event& e, std::vector<std::string>& changes);  // new_id
    std::string modem_status() const;
    std::string link_status() const;
    std::string status() const;  // status.cpp
};

}  // namespace sim
