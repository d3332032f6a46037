// The simulated box, serial side: one thread polls the seven pty masters, the bridge sockets and
// a wake-up descriptor; everything it learns is kept in BoxState under one mutex, and every
// change wakes the tests waiting in Box::wait_for.
#include "sim/box.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "sim/io.h"

namespace sim {
namespace {

using TimePoint = SteadyClock::time_point;
constexpr TimePoint kNever = TimePoint::max();

constexpr std::size_t kTtys = kLastTty - kFirstTty + 1;
constexpr std::size_t kReadChunk = 4096;
// Bytes waiting toward the host on one port; beyond this (a host that stopped reading) new
// bytes are dropped, with a trace line, rather than kept without bound.
constexpr std::size_t kMaxQueued = 1 << 20;
// The garbage fault's bytes: a carriage return, then a 0x7E whose length (0xFFFF) makes a frame
// no host can hold, then a stray byte. A host that cuts frames by their length must skip them;
// they can never complete a frame of their own.
constexpr std::array<std::uint8_t, 5> kGarbage{0x0D, kFrameStart, 0xFF, 0xFF, 0x55};
// Bytes shown per trace line.
constexpr std::size_t kTraceBytes = 48;

std::string tty_name(int tty) { return "ttymxc" + std::to_string(tty); }

std::string count(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

std::string hex(std::span<const std::uint8_t> b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < std::min(b.size(), kTraceBytes); ++i) {
        s += i ? " " : "";
        s += kDigits[b[i] >> 4];
        s += kDigits[b[i] & 0xF];
    }
    return b.size() > kTraceBytes ? s + " ..." : s;
}

std::string quoted(std::span<const std::uint8_t> b) {
    std::string s = "\"";
    for (std::size_t i = 0; i < std::min(b.size(), kTraceBytes); ++i) {
        auto c = b[i];
        if (c == '\r') s += "\\r";
        else if (c == '\n') s += "\\n";
        else if (c == '"' || c == '\\') s += {'\\', static_cast<char>(c)};
        else if (c >= 0x20 && c < 0x7F) s += static_cast<char>(c);
        else s += "\\x" + hex(b.subspan(i, 1));
    }
    return s + (b.size() > kTraceBytes ? "\"..." : "\"");
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

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
    Bytes received;
    FrameCutter cutter;  // board ports
};

struct Bridge {
    io::Fd listener;  // empty: the channel loops back
    io::Fd client;
};

struct BoardState {
    int tty = 0;
    int channels = 0;
    Faults faults;
    std::vector<Frame> frames;
    std::array<std::optional<LineSettings>, kChannels> settings;
    int keepalives = 0;
    std::size_t garbage = 0;  // bytes received that were no frame
    std::array<Bridge, kChannels> bridges;
    TimePoint next_announce;
};

// What one poll entry stands for.
struct Watch {
    enum Kind { kWake, kPort, kListener, kClient } kind;
    int a = 0;  // tty, or board index
    int b = 0;  // channel
};

struct BoxState {
    std::filesystem::path dir;
    Options opt;
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::uint64_t events = 0;  // counts serving rounds; wait_for wakes on every change
    std::array<PortState, kTtys> ports;
    std::array<BoardState, 2> boards;
    io::Fd wake;
    bool stop = false;
    std::vector<std::string> trace;  // lines for opt.trace, handed over outside the lock
    std::thread thread;

    PortState& port(int tty) { return ports[static_cast<std::size_t>(tty - kFirstTty)]; }
    void wake_up() const;
    void serve();

    // The rest runs with mu held.
    void note(std::string line) {
        if (opt.trace) trace.push_back(std::move(line));
    }
    void enqueue(int tty, Bytes bytes, TimePoint due);
    void board_send(int b, std::uint8_t cid, std::span<const std::uint8_t> payload);
    TimePoint announce(TimePoint now);
    TimePoint flush(TimePoint now);
    void watch(std::vector<pollfd>& fds, std::vector<Watch>& watches);
    void on_readable(int tty);
    void on_frame(int b, Frame f);
    void on_channel_data(int b, int ch, const Bytes& payload);
    void on_listener(int b, int ch);
    void on_client(int b, int ch);
};

void BoxState::wake_up() const {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
}

void BoxState::serve() {
    std::vector<pollfd> fds;
    std::vector<Watch> watches;
    std::vector<std::string> lines;
    std::unique_lock lock(mu);
    while (!stop) {
        auto now = SteadyClock::now();
        const auto next_announce = announce(now);  // queued first, so that it goes out now
        const auto wake_at = std::min(next_announce, flush(now));
        watch(fds, watches);
        int timeout = -1;
        if (wake_at != kNever)
            timeout = static_cast<int>(std::clamp<long long>(
                std::chrono::ceil<std::chrono::milliseconds>(wake_at - now).count(), 0, INT_MAX));
        lines.swap(trace);
        lock.unlock();
        for (auto& l : lines) opt.trace(l);
        lines.clear();
        ::poll(fds.data(), fds.size(), timeout);
        lock.lock();
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            const auto& w = watches[i];
            switch (w.kind) {
                case Watch::kWake: {
                    std::uint64_t count;
                    [[maybe_unused]] auto n = ::read(wake.get(), &count, sizeof count);
                    break;
                }
                case Watch::kPort:
                    if (fds[i].revents & ~POLLOUT) on_readable(w.a);
                    break;
                case Watch::kListener: on_listener(w.a, w.b); break;
                case Watch::kClient: on_client(w.a, w.b); break;
            }
        }
        ++events;
        cv.notify_all();
    }
}

void BoxState::watch(std::vector<pollfd>& fds, std::vector<Watch>& watches) {
    fds.clear();
    watches.clear();
    auto add = [&](int fd, short what, Watch w) {
        fds.push_back({fd, what, 0});
        watches.push_back(w);
    };
    add(wake.get(), POLLIN, {Watch::kWake});
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        auto& p = port(tty);
        if (!p.dead) add(p.pty.master.get(), static_cast<short>(POLLIN | (p.blocked ? POLLOUT : 0)), {Watch::kPort, tty});
    }
    for (int b = 0; b < 2; ++b)
        for (int ch = 0; ch < kChannels; ++ch) {
            const auto& br = boards[b].bridges[ch];
            if (br.listener) add(br.listener.get(), POLLIN, {Watch::kListener, b, ch});
            if (br.client) add(br.client.get(), POLLIN, {Watch::kClient, b, ch});
        }
}

void BoxState::enqueue(int tty, Bytes bytes, TimePoint due) {
    auto& p = port(tty);
    if (p.queued + bytes.size() > kMaxQueued) {
        note(tty_name(tty) + ": host not reading, " + count(bytes.size()) + " dropped");
        return;
    }
    if (!p.out.empty()) due = std::max(due, p.out.back().due);
    p.queued += bytes.size();
    p.out.push_back({std::move(bytes), due});
}

// A frame from board b, shaped by its faults.
void BoxState::board_send(int b, std::uint8_t cid, std::span<const std::uint8_t> payload) {
    const auto& bd = boards[b];
    const auto& f = bd.faults;
    Bytes frame = build_frame(cid, payload);
    if (f.bad_checksum) ++frame[frame.size() - 2];
    if (f.garbage) frame.insert(frame.begin(), kGarbage.begin(), kGarbage.end());
    auto& p = port(bd.tty);
    auto due = SteadyClock::now();
    if (!p.out.empty()) due = std::max(due, p.out.back().due);
    if (!f.split) return enqueue(bd.tty, std::move(frame), due);
    const std::size_t step = std::max<std::size_t>(f.split_bytes, 1);
    for (std::size_t at = 0; at < frame.size(); at += step, due += f.split_pause) {
        auto piece = std::span(frame).subspan(at, std::min(step, frame.size() - at));
        enqueue(bd.tty, Bytes(piece.begin(), piece.end()), due);
    }
}

// Sends the presence frames that are due; returns when the next one is.
TimePoint BoxState::announce(TimePoint now) {
    TimePoint next = kNever;
    for (int b = 0; b < 2; ++b) {
        auto& bd = boards[b];
        if (bd.faults.silent) continue;
        if (now >= bd.next_announce) {
            board_send(b, cid::kPresent, {});  // no payload: the host reads none
            bd.next_announce = opt.announce_period.count() > 0 ? now + opt.announce_period : kNever;
        }
        next = std::min(next, bd.next_announce);
    }
    return next;
}

// Writes what is due toward the host, as far as the ptys take it; returns when the next piece
// is due.
TimePoint BoxState::flush(TimePoint now) {
    TimePoint next = kNever;
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        auto& p = port(tty);
        p.blocked = false;
        while (!p.dead && !p.out.empty()) {
            auto& c = p.out.front();
            if (c.due > now) {
                next = std::min(next, c.due);
                break;
            }
            auto n = ::write(p.pty.master.get(), c.bytes.data(), c.bytes.size());
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                p.blocked = true;
                break;
            }
            if (n < 0) {
                note(tty_name(tty) + ": write failed (" + std::strerror(errno) + "), " +
                     count(c.bytes.size()) + " dropped");
                n = static_cast<ssize_t>(c.bytes.size());
            }
            p.queued -= static_cast<std::size_t>(n);
            if (static_cast<std::size_t>(n) < c.bytes.size()) {
                c.bytes.erase(c.bytes.begin(), c.bytes.begin() + n);
                p.blocked = true;
                break;
            }
            p.out.pop_front();
        }
    }
    return next;
}

void BoxState::on_readable(int tty) {
    auto& p = port(tty);
    std::array<std::uint8_t, kReadChunk> buf;
    auto n = ::read(p.pty.master.get(), buf.data(), buf.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {  // the slave we hold keeps the pty up, so this is not a host closing it
        note(tty_name(tty) + ": read failed (" + std::strerror(n < 0 ? errno : EIO) + "), no longer served");
        p.dead = true;
        return;
    }
    auto got = std::span(buf).first(static_cast<std::size_t>(n));
    if (opt.record) p.received.insert(p.received.end(), got.begin(), got.end());
    auto board = std::find_if(boards.begin(), boards.end(), [&](const BoardState& bd) { return bd.tty == tty; });
    if (board == boards.end()) {
        note(tty_name(tty) + " <- " + count(got.size()) + " " + quoted(got));
        if (tty != kGpsTty) enqueue(tty, Bytes(got.begin(), got.end()), SteadyClock::now());  // echo
        return;
    }
    const int b = static_cast<int>(board - boards.begin());
    p.cutter.feed(got);
    for (;;) {
        const auto garbage_before = p.cutter.garbage();
        auto f = p.cutter.next();
        if (auto dropped = p.cutter.garbage() - garbage_before) {
            board->garbage += dropped;
            note(tty_name(tty) + " board " + std::to_string(b + 1) + " <- garbage, " + count(dropped));
        }
        if (!f) break;
        on_frame(b, std::move(*f));
    }
}

void BoxState::on_frame(int b, Frame f) {
    auto& bd = boards[b];
    note(tty_name(bd.tty) + " board " + std::to_string(b + 1) + " <- CID=" + hex(std::span(&f.cid, 1)) +
         " len=" + std::to_string(f.payload.size()) + (f.checksum_ok ? " sum=ok" : " sum=BAD") +
         (f.payload.empty() ? "" : " " + hex(f.payload)));
    const int set_ch = f.cid - cid::kSetBaud;
    const int data_ch = f.cid - cid::kSendInfo;
    auto has_channel = [&](int ch) { return ch >= 0 && ch < bd.channels; };
    if (f.cid == cid::kKeepAlive) {
        ++bd.keepalives;
    } else if (has_channel(set_ch)) {
        if (auto s = decode_settings(f.payload)) bd.settings[static_cast<std::size_t>(set_ch)] = s;
    } else if (has_channel(data_ch)) {
        on_channel_data(b, data_ch, f.payload);
    }
    if (opt.record) bd.frames.push_back(std::move(f));
}

// The host's data for a channel: to the bridge client when bridged, else looped back.
void BoxState::on_channel_data(int b, int ch, const Bytes& payload) {
    auto& bd = boards[b];
    auto& br = bd.bridges[static_cast<std::size_t>(ch)];
    if (!br.listener) {
        if (!bd.faults.silent) board_send(b, static_cast<std::uint8_t>(cid::kRecvInfo + ch), payload);
        return;
    }
    auto sent = br.client ? ::send(br.client.get(), payload.data(), payload.size(), MSG_NOSIGNAL | MSG_DONTWAIT) : 0;
    if (sent < static_cast<ssize_t>(payload.size())) {
        note("board " + std::to_string(b + 1) + " channel " + std::to_string(ch) + ": " +
             count(payload.size() - static_cast<std::size_t>(std::max<ssize_t>(sent, 0))) +
             " dropped (no client, or it is not reading)");
    }
}

void BoxState::on_listener(int b, int ch) {
    auto& br = boards[b].bridges[static_cast<std::size_t>(ch)];
    if (!br.listener) return;
    if (auto client = io::accept_client(br.listener)) {
        br.client = std::move(client);
        note("board " + std::to_string(b + 1) + " channel " + std::to_string(ch) + ": client connected");
    }
}

void BoxState::on_client(int b, int ch) {
    auto& br = boards[b].bridges[static_cast<std::size_t>(ch)];
    if (!br.client) return;  // replaced while the serving thread was polling
    std::array<std::uint8_t, kReadChunk> buf;
    auto n = ::recv(br.client.get(), buf.data(), buf.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        br.client.reset();
        note("board " + std::to_string(b + 1) + " channel " + std::to_string(ch) + ": client left");
        return;
    }
    auto got = std::span(buf).first(static_cast<std::size_t>(n));
    note("board " + std::to_string(b + 1) + " channel " + std::to_string(ch) + ": client sent " + quoted(got));
    if (!boards[b].faults.silent) board_send(b, static_cast<std::uint8_t>(cid::kRecvInfo + ch), got);
}

// ---- Box

Box::Box(const std::filesystem::path& dir, Options options) : s_(std::make_unique<BoxState>()) {
    namespace fs = std::filesystem;
    s_->dir = fs::absolute(dir);
    s_->opt = std::move(options);
    for (const char* sub : {"dev", "tmp", "bin", "etc/config"}) fs::create_directories(s_->dir / sub);
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        auto& p = s_->port(tty);
        p.pty = io::open_pty();
        // Published in one step, replacing a link left by an earlier box: the host never finds
        // a missing link or one to a slave that is not raw yet.
        p.link = s_->dir / "dev" / tty_name(tty);
        auto fresh = s_->dir / "dev" / ("." + tty_name(tty) + ".new");
        fs::remove(fresh);
        fs::create_symlink(p.pty.slave_path, fresh);
        fs::rename(fresh, p.link);
    }
    const auto now = SteadyClock::now();
    for (int b = 0; b < 2; ++b) {
        auto& bd = s_->boards[static_cast<std::size_t>(b)];
        bd.tty = kBoardTty[b];
        bd.channels = b == 0 ? kChannels : kEnvChannel;  // the environment channel is board 1's
        bd.faults = s_->opt.faults[static_cast<std::size_t>(b)];
        bd.next_announce = now;
    }
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
    auto listener = io::listen_local(tcp_port);
    const auto bound = io::local_port(listener);
    {
        std::lock_guard lock(s_->mu);
        bd.bridges[static_cast<std::size_t>(channel)] = {std::move(listener), {}};
        s_->note("board " + std::to_string(number_) + " channel " + std::to_string(channel) +
                 ": bridged to 127.0.0.1:" + std::to_string(bound));
    }
    s_->wake_up();
    return bound;
}

void Board::clear() const {
    std::lock_guard lock(s_->mu);
    auto& bd = s_->boards[static_cast<std::size_t>(number_ - 1)];
    bd.frames.clear();
    bd.settings = {};
    bd.keepalives = 0;
    bd.garbage = 0;
}

}  // namespace sim
