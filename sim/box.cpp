// The simulated box's handles: building and tearing down the box, and the accessors tests and
// fsu-sim use. Each takes the box's mutex for the copy it returns, and wakes the serving thread
// after it has queued something.
#include "sim/box.h"

#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "sim/box_state.h"
#include "sim/standins.h"

// The fsu-uci built with the simulator, and how this build runs its programs (an emulator in a
// cross build).
#ifndef SIM_FSU_UCI
#define SIM_FSU_UCI "fsu-uci"
#endif
#ifndef SIM_LAUNCHER
#define SIM_LAUNCHER ""
#endif

namespace sim {

// ---- Box

BoxState::BoxState(const std::filesystem::path& d, Options o)
    : dir(std::filesystem::absolute(d)),
      opt(std::move(o)),
      switches(box_switches()),
      announce_period(opt.announce_period),
      environment(opt.environment),
      gps(GpsReceiver(opt.gps, SteadyClock::now())) {
    opt.devices = every_uart(opt.devices);
    add_fault_switches(switches, opt.devices);
}

Box::Box(const std::filesystem::path& dir, Options options)
    : s_(std::make_unique<BoxState>(dir, std::move(options))) {
    namespace fs = std::filesystem;
    for (const char* sub : {"dev", "tmp", "bin", "etc/config"}) fs::create_directories(s_->dir / sub);
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        auto& p = s_->port(tty);
        p.link = s_->dir / "dev" / tty_name(tty);
        if (s_->opt.unplugged[static_cast<std::size_t>(tty - kFirstTty)]) {
            fs::remove(p.link);  // a link an earlier box left
            p.dead = p.unplugged = true;
            continue;
        }
        p.pty = io::open_pty();
        io::publish_link(p.pty.slave_path, p.link);
    }
    const auto now = SteadyClock::now();
    for (int b = 0; b < 2; ++b) {
        auto& bd = s_->boards[static_cast<std::size_t>(b)];
        bd.tty = kBoardTty[b];
        bd.channels = b == 0 ? kChannels : kEnvChannel;  // the environment channel is board 1's
        bd.faults = s_->opt.faults[static_cast<std::size_t>(b)];
        bd.next_announce = now;
    }
    s_->build_lines();
    // The fsu-uci built here runs as this build runs its programs; one given by path, as it is.
    const std::string uci = s_->opt.uci_program.empty() ? std::string(SIM_LAUNCHER) + " " + sh_quote(SIM_FSU_UCI)
                                                         : sh_quote(s_->opt.uci_program.string());
    install_standins(s_->dir, uci);
    auto& files = s_->files;
    files.inotify = io::Fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!files.inotify) throw std::system_error(errno, std::generic_category(), "inotify_init1");
    files.gpio = std::make_unique<GpioTree>(s_->dir, files.inotify.get());
    files.standins = std::make_unique<StandinLog>(s_->dir / kStandinLog, files.inotify.get());
    std::vector<std::string> exports;
    for (int n : s_->opt.exported) files.gpio->export_line(n, exports);
    for (auto& line : exports) s_->note(std::move(line));
    s_->start_modem();
    s_->wake = io::Fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!s_->wake) throw std::system_error(errno, std::generic_category(), "eventfd");
    s_->thread = std::thread(&BoxState::serve, s_.get());
}

Box::~Box() {
    {
        std::lock_guard lock(s_->mu);
        s_->stop = true;
    }
    s_->wake_up();
    s_->thread.join();
    s_->stop_modem();
    for (auto& p : s_->ports) {
        std::error_code ec;
        std::filesystem::remove(p.link, ec);
    }
}

const std::filesystem::path& Box::dir() const { return s_->dir; }

std::vector<std::string> Box::env() const {
    const char* path = std::getenv("PATH");
    return {"SDK_BSP_ROOT=" + s_->dir.string(),
            "PATH=" + (s_->dir / "bin").string() + (path && *path ? std::string(":") + path : ""),
            "SDK_BSP_CMDLOG=" + (s_->dir / "cmdlog").string()};
}

Port Box::port(int tty) const {
    if (tty < kFirstTty || tty > kLastTty) throw std::out_of_range("no ttymxc" + std::to_string(tty));
    return Port(s_.get(), tty);
}

Board Box::board(int number) const {
    if (number != 1 && number != 2) throw std::out_of_range("no extension board " + std::to_string(number));
    return Board(s_.get(), number);
}

bool Box::wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = SteadyClock::now() + timeout;
    std::unique_lock lock(s_->mu);
    for (;;) {
        const auto seen = s_->events;
        lock.unlock();
        if (done()) return true;
        lock.lock();
        if (!s_->cv.wait_until(lock, deadline, [&] { return s_->events != seen; })) break;
    }
    lock.unlock();
    return done();
}

// ---- Port

std::filesystem::path Port::link() const { return s_->port(tty_).link; }

std::string Port::slave() const { return s_->port(tty_).pty.slave_path; }

Bytes Port::received() const {
    std::lock_guard lock(s_->mu);
    return s_->port(tty_).received;
}

void Port::push(std::span<const std::uint8_t> bytes) const {
    {
        std::lock_guard lock(s_->mu);
        s_->enqueue(tty_, Bytes(bytes.begin(), bytes.end()), SteadyClock::now());
    }
    s_->wake_up();
}

void Port::push(std::string_view text) const { push(as_bytes(text)); }

void Port::clear() const {
    std::lock_guard lock(s_->mu);
    s_->port(tty_).received.clear();
}

void Port::unplug() const {
    std::unique_lock lock(s_->mu);
    s_->unplug_port(tty_);
    s_->await_round(lock);
}

// ---- Board

Port Board::port() const { return Port(s_, kBoardTty[number_ - 1]); }

std::vector<Frame> Board::frames() const {
    std::lock_guard lock(s_->mu);
    return s_->boards[static_cast<std::size_t>(number_ - 1)].frames;
}

std::vector<Frame> Board::frames(std::uint8_t cid) const {
    std::vector<Frame> out;
    std::lock_guard lock(s_->mu);
    for (const auto& f : s_->boards[static_cast<std::size_t>(number_ - 1)].frames)
        if (f.cid == cid) out.push_back(f);
    return out;
}

std::optional<LineSettings> Board::settings(int channel) const {
    if (channel < 0 || channel >= kChannels) return std::nullopt;
    std::lock_guard lock(s_->mu);
    return s_->boards[static_cast<std::size_t>(number_ - 1)].settings[static_cast<std::size_t>(channel)];
}

int Board::keepalives() const {
    std::lock_guard lock(s_->mu);
    return s_->boards[static_cast<std::size_t>(number_ - 1)].keepalives;
}

std::size_t Board::garbage() const {
    std::lock_guard lock(s_->mu);
    return s_->boards[static_cast<std::size_t>(number_ - 1)].garbage;
}

void Board::send_frame(std::uint8_t cid, std::span<const std::uint8_t> payload) const {
    {
        std::lock_guard lock(s_->mu);
        s_->board_send(number_ - 1, cid, payload);
    }
    s_->wake_up();
}

void Board::send_frame(std::uint8_t cid, std::string_view payload) const { send_frame(cid, as_bytes(payload)); }

void Board::send_raw(std::span<const std::uint8_t> bytes) const { port().push(bytes); }

void Board::set_faults(const Faults& f) const {
    {
        std::lock_guard lock(s_->mu);
        s_->boards[static_cast<std::size_t>(number_ - 1)].faults = f;
    }
    s_->wake_up();
}

std::uint16_t Board::bridge(int channel, std::uint16_t tcp_port) const {
    auto& bd = s_->boards[static_cast<std::size_t>(number_ - 1)];
    if (channel < 0 || channel >= bd.channels)
        throw std::out_of_range("board " + std::to_string(number_) + " has no channel " + std::to_string(channel));
    auto& line = s_->line_at_channel(number_ - 1, channel);  // where a line is never changes
    std::vector<DeviceSetup> setups(1);
    setups[0].uart = line.uart;
    setups[0].kind = DeviceKind::kTcp;
    setups[0].port = tcp_port;
    auto device = make_device(setups);  // listening before the box is locked
    {
        std::lock_guard lock(s_->mu);
        s_->replace_device(line, setups, std::move(device));
    }
    s_->wake_up();
    return setups.front().port;
}

void Board::clear() const {
    std::lock_guard lock(s_->mu);
    auto& bd = s_->boards[static_cast<std::size_t>(number_ - 1)];
    bd.frames.clear();
    bd.settings = {};
    bd.keepalives = 0;
    bd.garbage = 0;
}


// ---- Gps

int Gps::mode() const {
    std::lock_guard lock(s_->mu);
    return s_->gps.receiver.mode();
}

int Gps::saves() const {
    std::lock_guard lock(s_->mu);
    return s_->gps.receiver.saves();
}

std::optional<int> Gps::saved_mode() const {
    std::lock_guard lock(s_->mu);
    return s_->gps.receiver.saved_mode();
}

std::vector<Sentence> Gps::sentences() const {
    std::lock_guard lock(s_->mu);
    return s_->gps.sentences;
}

std::optional<Position> Gps::position() const {
    std::lock_guard lock(s_->mu);
    return s_->gps.receiver.position();
}

void Gps::clear() const {
    std::lock_guard lock(s_->mu);
    s_->gps.sentences.clear();
}

// ---- Environment

std::vector<power::Frame> Environment::frames() const {
    std::lock_guard lock(s_->mu);
    return s_->env.frames;
}

std::vector<std::string> Environment::replies() const {
    std::lock_guard lock(s_->mu);
    return s_->env.replies;
}

std::array<bool, kOutputs> Environment::outputs() const {
    std::lock_guard lock(s_->mu);
    return s_->env.equipment.outputs();
}

std::size_t Environment::junk() const {
    std::lock_guard lock(s_->mu);
    return s_->env.equipment.junk();
}

void Environment::clear() const {
    std::lock_guard lock(s_->mu);
    s_->env.frames.clear();
    s_->env.replies.clear();
}

// ---- Gpio

std::map<int, GpioLine> Gpio::lines() const {
    std::lock_guard lock(s_->mu);
    return s_->files.gpio->lines();
}

std::optional<GpioLine> Gpio::line(int n) const {
    std::lock_guard lock(s_->mu);
    const auto& lines = s_->files.gpio->lines();
    auto it = lines.find(n);
    return it == lines.end() ? std::nullopt : std::optional(it->second);
}

// ---- Box, the rest

Gps Box::gps() const { return Gps(s_.get()); }
Environment Box::environment() const { return Environment(s_.get()); }
Gpio Box::gpio() const { return Gpio(s_.get()); }

std::vector<std::string> Box::standins() const { return StandinLog::read(s_->dir / kStandinLog); }

std::string Box::status() const {
    std::lock_guard lock(s_->mu);
    return s_->status();
}

}  // namespace sim
