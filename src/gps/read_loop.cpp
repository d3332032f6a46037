// The GPS read loop: the thread routine of port index 6 that gathers the receiver's bytes in
// receive buffer 15 and works through them in batches: the parser's sentences traced and kept in
// the fix record, a pending clear request carried out. It starts with the receive threads and, as
// the box's own does, clears the environment record as it starts.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "base/decimal.h"
#include "base/log.h"
#include "base/texts.h"
#include "com/env_link.h"
#include "com/ports.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "gps/gps.h"
#include "gps/nmea.h"
#include "os/os.h"

namespace bsp::gps {
namespace {

constexpr long kGpsPaceMs = 100;
constexpr std::size_t kGpsBuffer = 15;  // Uart ID 16, the receiver's bytes
constexpr std::uint32_t kGpsBaud = 9600;
constexpr std::size_t kRemoveCommandBuffer = 64;  // "rm /tmp/gps_*" and room to spare

// The parser's traces on standard output, gathered and written a sentence at a time: the same
// bytes one printf per trace would write, without the cost of formatting each (the GSV traces run
// to a dozen lines a second). Written when full and when done, so any size serves; 256 bytes hold
// a GSV sentence's usual four satellites.
class Trace {
  public:
    Trace() noexcept = default;
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    ~Trace() { flush(); }

    Trace& operator<<(std::string_view s) noexcept {
        if (s.size() > buf_.size() - len_) flush();
        if (s.size() > buf_.size()) {
            std::fwrite(s.data(), 1, s.size(), stdout);
            return *this;
        }
        std::memcpy(buf_.data() + len_, s.data(), s.size());
        len_ += s.size();
        return *this;
    }
    // As "%d" writes it.
    Trace& operator<<(int v) noexcept {
        std::array<char, kIntTextMax> b;
        return *this << std::string_view(b.data(), format_int(b.data(), v));
    }
    void flush() noexcept {
        if (len_ != 0) std::fwrite(buf_.data(), 1, len_, stdout);
        len_ = 0;
    }

  private:
    std::array<char, 256> buf_;
    std::size_t len_ = 0;
};

// A GSV's traces: the message numbers as sent, then every satellite identifier sent.
void trace_satellites(const nmea::Reading& r) noexcept {
    Trace trace;
    trace << "GPS_CMD_NUM :GPS_CMD_NUM=" << r.sent_number << ",/" << r.total << "\r\n";
    for (int i = 0; i < r.blocks; ++i) {
        const std::string_view id = r.satellites[static_cast<std::size_t>(i)].id_text();
        if (!id.empty()) trace << "Read_a_info 标识：" << id << "\r\n";
    }
}

// What a sentence said, traced (before the record's lock is taken) and kept.
void keep(const nmea::Reading& r) noexcept {
    if (r.kind == nmea::Reading::Kind::kSatellitesInView) trace_satellites(r);
    apply(r);
}

}  // namespace

int remove_gps_files() noexcept {
    os::Command cmd;
    return cmd.format(kRemoveCommandBuffer, "rm %s", os::Path("/tmp/gps_*")) ? os::run(cmd.c_str()) : -1;
}

int parse_batch(const char* text, int count) noexcept {
    if (!text || count < nmea::kBatchMin) return -1;
    if (take_clear_request()) {
        remove_gps_files();
        std::printf("______清空GPS数据流_____");
        return 0;
    }
    Trace() << "______GPS 数据梳理---" << count << "\r\n";
    nmea::Cutter cutter({text, static_cast<std::size_t>(count)});
    for (nmea::Sentence s; cutter.next(s);) {
        const nmea::Reading r = nmea::read_sentence(s);
        if (r.kind != nmea::Reading::Kind::kNothing) keep(r);
    }
    return 0;
}

int ReadLoop::step(std::span<const std::uint8_t> got) noexcept {
    // A host may drain buffer 15 at any time: the batch is copied out under the buffer's mutex and
    // the copy parsed, with no lock held.
    std::span<std::uint8_t, com::kRecvBufferSize> batch(batch_.data(), com::kRecvBufferSize);
    const std::int32_t len = com::append_and_copy(kGpsBuffer, got, batch);
    if (parse_batch(reinterpret_cast<const char*>(batch_.data()), len) == -1) return -1;
    com::clear(kGpsBuffer);
    Fix f = fix();
    base::log_write(base::kLogSys, texts::kGpsFix, f.lon, f.lat);
    return 0;
}

void* read_loop(void* arg) noexcept {
    const int port = com::port_argument(arg);
    com::stump(port, texts::kGpsThread, __LINE__);
    com::set_port_line(com::kPortGps, kGpsBaud, 8, 1, 0);  // the port named, not the argument
    com::clear_env_record();
    std::array<std::uint8_t, com::kReadArea> area;
    ReadLoop loop;
    for (;;) {
        os::sleep_ms(kGpsPaceMs);
        std::uint32_t got = com::poll_port(port, area.data(), com::kReadArea);
        if (got != 0) loop.step({area.data(), got});
    }
}

}  // namespace bsp::gps
