// The simulated box's serving loop: one thread polls the seven pty masters, the devices behind the
// Uarts, an inotify descriptor on the box's files and a wake-up descriptor, and paces the
// receiver; everything it learns is kept in BoxState under one mutex, and every change wakes the
// tests waiting in Box::wait_for. Every BoxState member here runs with that mutex held, but for serve() itself.
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <exception>
#include <nlohmann/json.hpp>

#include "sim/box_state.h"
#include "sim/standins.h"

namespace sim {
namespace {

constexpr std::size_t kReadChunk = 4096;
// Bytes waiting toward the host on one port; beyond this (a host that stopped reading) new
// bytes are dropped, with a trace line, rather than kept without bound.
constexpr std::size_t kMaxQueued = 1 << 20;
// The garbage fault's bytes: a carriage return, then a 0x7E whose length (0xFFFF) makes a frame
// no host can hold, then a stray byte. A host that cuts frames by their length must skip them;
// they can never complete a frame of their own.
constexpr std::array<std::uint8_t, 5> kGarbage{0x0D, kFrameStart, 0xFF, 0xFF, 0x55};
// The noise fault: a slice of the link's full rate (115200 baud 8N1, 11520 bytes a second) every
// 10 ms. Each slice is random bytes with one half frame in it: 0x7E, a random length and a CID the
// host drops, the bytes after it its payload. Nothing in it is 0x7E but the half frame's start, so
// no route can come of it: a receiver that cuts frames by their length loses real frames to it, at
// worst.
constexpr std::chrono::milliseconds kNoiseSlice{10};
constexpr std::size_t kNoiseBytes = 115;
constexpr std::uint8_t kDroppedCids[] = {0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
                                         0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F};
// Room for a burst of inotify events (each at most the header and a file name).
constexpr std::size_t kEventBuffer = 16 * (sizeof(inotify_event) + NAME_MAX + 1);

std::string local_time_now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::array<char, 32> buf{};
    std::strftime(buf.data(), buf.size(), "%Y-%m-%d %H:%M:%S", &tm);
    return buf.data();
}

}  // namespace

void PortState::seen(bool in, std::span<const std::uint8_t> chunk, TimePoint now) {
    const auto first = [&](std::size_t n) { return chunk.first(std::min(chunk.size(), n)); };
    (in ? bytes_in : bytes_out) += chunk.size();
    const auto shown = first(kLastChunk);
    (in ? last_in : last_out).assign(shown.begin(), shown.end());
    if (recent.empty() || recent.back().in != in || now - recent.back().last > kTrafficGap ||
        recent.back().head.size() >= kTraceBytes) {
        recent.push_back({in, 0, {}, now});
        if (recent.size() > kRecentTraffic) recent.pop_front();
    }
    auto& t = recent.back();
    t.bytes += chunk.size();
    t.last = now;
    const auto more = first(kLastChunk - t.head.size());
    t.head.insert(t.head.end(), more.begin(), more.end());
}

void BoxState::wake_up() const {
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake.get(), &one, sizeof one);
}

void BoxState::await_round(std::unique_lock<std::mutex>& lock) const {
    const auto seen = events;
    lock.unlock();
    wake_up();
    lock.lock();
    cv.wait(lock, [&] { return events != seen; });
}

void BoxState::serve() {
    std::vector<pollfd> fds;
    std::vector<Watch> watches;
    std::vector<std::string> lines;
    std::unique_lock lock(mu);
    while (!stop) {
        auto now = SteadyClock::now();
        const auto next_announce = announce(now);  // queued first, so that it goes out now
        const auto next_gps = pace_gps(now), next_noise = make_noise(now);
        const auto next_device = tick_devices(now);  // before flushing: its answers are queued
        const auto wake_at = std::min({next_announce, next_gps, next_noise, next_device, flush(now), modem_tick(now)});
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
                case Watch::kDevice: on_device_readable(w.a, w.b); break;
                case Watch::kFiles: on_files(); break;
                case Watch::kModem:
                    if (fds[i].revents & ~POLLOUT) on_modem_readable();
                    break;
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
    add(files.inotify.get(), POLLIN, {Watch::kFiles});
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) {
        auto& p = port(tty);
        if (!p.dead) add(p.pty.master.get(), static_cast<short>(POLLIN | (p.blocked ? POLLOUT : 0)), {Watch::kPort, tty});
    }
    watch_modem(fds, watches);
    watch_devices(fds, watches);
}

void BoxState::enqueue(int tty, Bytes bytes, TimePoint due) { enqueue(port(tty), tty_name(tty), std::move(bytes), due); }

void BoxState::enqueue(PortState& p, const std::string& name, Bytes bytes, TimePoint due) {
    if (p.dead) return;  // nobody to send it to
    if (p.queued + bytes.size() > kMaxQueued) {
        note(name + ": host not reading, " + count(bytes.size()) + " dropped");
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
    ++boards[b].frames_out;
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
            ++bd.announcements;
            bd.next_announce = announce_period.count() > 0 ? now + announce_period : kNever;
        }
        next = std::min(next, bd.next_announce);
    }
    return next;
}

// Queues the noise slices that are due; returns when the next one is.
TimePoint BoxState::make_noise(TimePoint now) {
    TimePoint next = kNever;
    for (auto& bd : boards) {
        if (!bd.faults.noise) continue;
        if (now >= bd.next_noise) {
            auto& random = bd.noise_bytes;
            Bytes slice(kNoiseBytes);
            for (auto& c : slice) {  // any byte but 0x7E
                const auto r = random() % 255;
                c = static_cast<std::uint8_t>(r < kFrameStart ? r : r + 1);
            }
            const Bytes half{kFrameStart, static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                             kDroppedCids[random() % std::size(kDroppedCids)]};
            slice.insert(slice.begin() + static_cast<std::ptrdiff_t>(random() % kNoiseBytes), half.begin(), half.end());
            enqueue(bd.tty, std::move(slice), now);
            bd.next_noise = now + kNoiseSlice;
        }
        next = std::min(next, bd.next_noise);
    }
    return next;
}

// Writes what is due toward the host, as far as the ptys take it; returns when the next piece
// is due.
TimePoint BoxState::flush(TimePoint now) {
    TimePoint next = kNever;
    for (int tty = kFirstTty; tty <= kLastTty; ++tty) next = std::min(next, flush_port(port(tty), tty_name(tty), now));
    return next;
}

TimePoint BoxState::flush_port(PortState& p, const std::string& name, TimePoint now) {
    p.blocked = false;
    while (!p.dead && !p.out.empty()) {
        auto& c = p.out.front();
        if (c.due > now) return c.due;
        auto n = ::write(p.pty.master.get(), c.bytes.data(), c.bytes.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            p.blocked = true;
            break;
        }
        if (n < 0) {
            note(name + ": write failed (" + std::strerror(errno) + "), " + count(c.bytes.size()) + " dropped");
            n = static_cast<ssize_t>(c.bytes.size());
        }
        p.queued -= static_cast<std::size_t>(n);
        p.seen(false, std::span(c.bytes).first(static_cast<std::size_t>(n)), now);
        if (static_cast<std::size_t>(n) < c.bytes.size()) {
            c.bytes.erase(c.bytes.begin(), c.bytes.begin() + n);
            p.blocked = true;
            break;
        }
        p.out.pop_front();
    }
    return kNever;
}

void BoxState::on_readable(int tty) {
    auto& p = port(tty);
    if (p.dead) return;  // unplugged while the serving thread was polling
    std::array<std::uint8_t, kReadChunk> buf;
    auto n = ::read(p.pty.master.get(), buf.data(), buf.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {  // the slave we hold keeps the pty up, so this is not a host closing it
        note(tty_name(tty) + ": read failed (" + std::strerror(n < 0 ? errno : EIO) + "), no longer served");
        p.dead = true;
        return;
    }
    auto got = std::span(buf).first(static_cast<std::size_t>(n));
    p.seen(true, got, SteadyClock::now());
    if (opt.record) p.received.insert(p.received.end(), got.begin(), got.end());
    if (tty == kGpsTty) return on_gps_bytes(got);
    auto board = std::find_if(boards.begin(), boards.end(), [&](const BoardState& bd) { return bd.tty == tty; });
    if (board == boards.end()) {
        note(tty_name(tty) + " <- " + count(got.size()) + " " + quoted(got));
        if (auto* line = line_at_port(tty)) on_host_bytes(*line, got);
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
    bd.last_frame = "CID=" + hex(std::span(&f.cid, 1)) + " len=" + std::to_string(f.payload.size()) +
                    (f.checksum_ok ? " sum=ok" : " sum=BAD") + (f.payload.empty() ? "" : " " + hex(f.payload));
    note(tty_name(bd.tty) + " board " + std::to_string(b + 1) + " <- " + bd.last_frame);
    ++bd.frames_in;
    bd.bad_sums += !f.checksum_ok;
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

// The host's data for a channel: to the device behind it; on the environment channel, to the
// environment equipment, or looped back without it.
void BoxState::on_channel_data(int b, int ch, const Bytes& payload) {
    auto& line = line_at_channel(b, ch);
    if (line.device) return on_host_bytes(line, payload);
    if (environment) return on_environment_data(payload);
    if (!boards[b].faults.silent) board_send(b, static_cast<std::uint8_t>(cid::kRecvInfo + ch), payload);
}

// The receiver's bytes due now. A host that is not reading loses them, as on a serial line:
// nothing piles up for it.
TimePoint BoxState::pace_gps(TimePoint now) {
    Bytes bytes = gps.receiver.take(now);
    if (!bytes.empty()) {
        if (port(kGpsTty).out.empty()) enqueue(kGpsTty, std::move(bytes), now);
        else gps.dropped += bytes.size();
    }
    return gps.receiver.next_due();
}

void BoxState::on_gps_bytes(std::span<const std::uint8_t> bytes) {
    const int mode = gps.receiver.mode();
    const int saves = gps.receiver.saves();
    for (auto& s : gps.receiver.feed(bytes)) {
        note(tty_name(kGpsTty) + " receiver <- " + quoted(as_bytes(s.text)) + (s.checksum_ok ? " ok" : " BAD"));
        gps.last = s;
        if (opt.record) gps.sentences.push_back(std::move(s));
    }
    if (gps.receiver.mode() != mode) note("receiver mode " + mode_name(gps.receiver.mode()));
    if (gps.receiver.saves() != saves) note("receiver saved mode " + mode_name(gps.receiver.mode()));
}

// The host's bytes for the environment channel: the equipment's replies go back as channel 4's
// received data, unless the board is silent.
void BoxState::on_environment_data(const Bytes& payload) {
    const auto outputs = env.equipment.outputs();
    auto replies = env.equipment.feed(payload);
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (env.equipment.outputs()[i] != outputs[i]) event("output", {{"output", i + 1}, {"on", !outputs[i]}});
    for (const auto& f : env.equipment.last_frames()) {
        ++env.frames_in;
        env.bad_frames += !f.ok();
        std::string verdict = f.ok() ? " ok" : "";
        if (!f.complete) verdict += " too short";
        else if (!f.hex_ok) verdict += " not hexadecimal";
        if (f.complete && !f.chksum_ok) verdict += " CHKSUM BAD";
        if (f.complete && !f.lchksum_ok) verdict += " LCHKSUM BAD";
        if (f.complete && !f.lenid_ok) verdict += " LENID BAD";
        note("environment <- " + quoted(as_bytes(f.text)) + verdict);
        env.last_frame = f.text;
        if (opt.record) env.frames.push_back(f);
    }
    if (boards[0].faults.silent) return;
    for (auto& r : replies) {
        ++env.replies_out;
        note("environment -> " + quoted(as_bytes(r)));
        env.last_reply = r;
        board_send(0, static_cast<std::uint8_t>(cid::kRecvInfo + kEnvChannel), as_bytes(r));
        if (opt.record) env.replies.push_back(std::move(r));
    }
}

// Writes to the GPIO tree and lines added to the stand-ins' record.
void BoxState::on_files() {
    alignas(inotify_event) std::array<char, kEventBuffer> buf;
    std::vector<std::optional<bool>> lit;
    for (const auto& led : kLeds) lit.push_back(led_lit(files.gpio->lines(), led.gpio));
    for (;;) {
        const auto n = ::read(files.inotify.get(), buf.data(), buf.size());
        if (n <= 0) break;
        std::vector<std::string> changes, calls;
        for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf.data() + at);
            at += sizeof(inotify_event) + e->len;
            try {
                if (!on_driver_event(*e, changes) && !files.gpio->on_event(*e, changes))
                    files.standins->on_event(*e, calls);
            } catch (const std::exception& x) {  // the host (or a test) took the files away
                changes.push_back(std::string("files: ") + x.what());
            }
        }
        for (auto& c : changes) note(std::move(c));
        for (auto& c : calls) {
            ++files.calls;
            files.last_calls.push_back(c);
            if (files.last_calls.size() > kLastCalls) files.last_calls.pop_front();
            event("command", {{"command", c}});
            if (c == "reboot" || c.starts_with("reboot ")) {
                ++files.reboots;
                files.last_reboot = local_time_now();
                event("reboot", {{"requests", files.reboots}, {"at", files.last_reboot}});
            }
            note("stand-in: " + c);
            on_standin_call(c);
        }
    }
    for (std::size_t i = 0; i < lit.size(); ++i) {
        const auto now = led_lit(files.gpio->lines(), kLeds[i].gpio);
        if (now == lit[i]) continue;
        event("led", {{"led", kLeds[i].name}, {"gpio", kLeds[i].gpio}, {"lit", now ? nlohmann::ordered_json(*now) : nullptr}});
    }
}

}  // namespace sim
