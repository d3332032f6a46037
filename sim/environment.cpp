// The environment equipment: output states and the answers to polls and output commands.
#include "sim/environment.h"

namespace sim {
namespace {

constexpr std::uint8_t kPollCid1 = 0x03, kPollCid2 = 0x54;
constexpr std::uint8_t kOutputCid1 = 0x05, kOutputCid2 = 0x55;
constexpr std::size_t kMaskByte = 1;  // INFO byte 0 is not read

}  // namespace

std::vector<std::string> EnvironmentEquipment::feed(std::span<const std::uint8_t> bytes) {
    cutter_.feed(bytes);
    last_.clear();
    std::vector<std::string> replies;
    while (auto f = cutter_.next()) {
        if (auto r = answer(*f)) replies.push_back(std::move(*r));
        last_.push_back(std::move(*f));
    }
    return replies;
}

std::optional<std::string> EnvironmentEquipment::answer(const power::Frame& f) {
    if (!f.complete) return std::nullopt;
    auto reply = [&](std::uint8_t rtn, std::span<const std::uint8_t> info = {}) {
        return power::build(f.ver, f.adr, f.cid1, rtn, info);
    };
    if (!f.hex_ok) return reply(power::rtn::kFormat);
    if (!f.chksum_ok) return reply(power::rtn::kChksum);
    if (!f.lchksum_ok || !f.lenid_ok) return reply(power::rtn::kLchksum);
    const bool poll = f.cid1 == kPollCid1 && f.cid2 == kPollCid2;
    const bool output = f.cid1 == kOutputCid1 && f.cid2 == kOutputCid2;
    if (!poll && !output) return reply(power::rtn::kCid2);
    if (output) {
        if (f.info.size() <= kMaskByte) return reply(power::rtn::kFormat);
        for (int i = 0; i < kOutputs; ++i) outputs_[static_cast<std::size_t>(i)] = f.info[kMaskByte] >> i & 1;
    }
    std::uint8_t mask = 0;
    for (int i = 0; i < kOutputs; ++i) mask = static_cast<std::uint8_t>(mask | outputs_[static_cast<std::size_t>(i)] << i);
    return reply(power::rtn::kOk, std::span(&mask, 1));
}

}  // namespace sim
