// Board-link frames on the board's side: building, checking and cutting.
#include "sim/frame.h"

#include <algorithm>
#include <stdexcept>

namespace sim {
namespace {

constexpr std::size_t kLengthAt = 1;
constexpr std::size_t kCidAt = 3;
constexpr std::size_t kPayloadAt = 4;

constexpr std::size_t kHeader = 3;  // start and length: enough to know where the frame ends

// What the bytes from position i hold: garbage, the beginning of a frame, or a whole frame of
// `total` bytes.
enum class Scan { kGarbage, kWait, kFrame };
Scan scan_at(const Bytes& b, std::size_t i, std::size_t& total) {
    if (b[i] != kFrameStart) return Scan::kGarbage;
    if (b.size() - i < kHeader) return Scan::kWait;
    total = (static_cast<std::size_t>(b[i + kLengthAt]) << 8 | b[i + kLengthAt + 1]) + kFrameOverhead;
    if (total > kMaxFrame) return Scan::kGarbage;
    if (b.size() - i < total) return Scan::kWait;
    return b[i + total - 1] == kFrameEnd ? Scan::kFrame : Scan::kGarbage;
}

}  // namespace

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

std::uint8_t sum(std::span<const std::uint8_t> bytes) {
    std::uint8_t s = 0;
    for (auto b : bytes) s = static_cast<std::uint8_t>(s + b);
    return s;
}

Bytes build_frame(std::uint8_t cid, std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxPayload) throw std::length_error("board-link payload over 65535 bytes");
    Bytes f;
    f.reserve(payload.size() + kFrameOverhead);
    f.push_back(kFrameStart);
    f.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    f.push_back(static_cast<std::uint8_t>(payload.size()));
    f.push_back(cid);
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(sum(std::span(f).subspan(kLengthAt)));
    f.push_back(kFrameEnd);
    return f;
}

Bytes build_frame(std::uint8_t cid, std::string_view payload) {
    return build_frame(cid, std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
}

std::optional<LineSettings> decode_settings(std::span<const std::uint8_t> p) {
    if (p.size() != kSettingsPayload) return std::nullopt;
    LineSettings s;
    s.baud = std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
    s.data_bits = p[4];
    s.stop_bits = p[5];
    s.parity = p[6];
    return s;
}

void FrameCutter::feed(std::span<const std::uint8_t> bytes) { buf_.insert(buf_.end(), bytes.begin(), bytes.end()); }

std::optional<Frame> FrameCutter::next() {
    std::size_t i = 0, total = 0;
    Scan s = Scan::kWait;
    while (i < buf_.size() && (s = scan_at(buf_, i, total)) == Scan::kGarbage) ++i;
    garbage_ += i;
    std::optional<Frame> frame;
    if (i < buf_.size() && s == Scan::kFrame) {
        auto raw = std::span(buf_).subspan(i, total);
        auto payload = raw.subspan(kPayloadAt, total - kFrameOverhead);
        std::size_t sum_at = total - 2;
        bool sum_ok = sum(raw.subspan(kLengthAt, sum_at - kLengthAt)) == raw[sum_at];
        frame.emplace(Frame{raw[kCidAt], Bytes(payload.begin(), payload.end()), sum_ok, Bytes(raw.begin(), raw.end()),
                            SteadyClock::now()});
    } else {
        total = 0;
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(i + total));
    return frame;
}

}  // namespace sim
