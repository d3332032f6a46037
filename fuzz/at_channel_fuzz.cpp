// The AT channel on arbitrary bytes from the module, handed over through the fake port in pieces
// whose size the input's first byte chooses, at most 64 of them (the rest repeated as often as its
// second byte says): every line the reader hands out stays within its buffer, the tokenizer and the
// answer readers take each line apart, and an exchange keeps what it collects within the
// 1024-byte answer buffer.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../tests/common/fake_port.h"
#include "lte/lte.h"
#include "os/os.h"

namespace {

constexpr std::size_t kInputMax = 16384;
constexpr std::size_t kPiecesMax = 64;   // a long stream comes in larger pieces, or a run crawls
constexpr int kTokensMax = 64;

// Sleeps take no time; the clock moves by what was slept.
class InstantClock : public bsp::os::Clock {
  public:
    timeval time_of_day() noexcept override {
        return {static_cast<time_t>(ms_ / 1000), static_cast<suseconds_t>(ms_ % 1000 * 1000)};
    }
    void sleep_ms(long ms) noexcept override { ms_ += ms; }

  private:
    long long ms_ = 0;
};

testfiles::FakePort* g_module = nullptr;

void check_line(const char* line) {
    if (std::strlen(line) >= bsp::lte::kLineCapacity) std::abort();
    std::string copy(line);
    char* cur = copy.data();
    bsp::lte::tok_start(&cur);
    for (int i = 0; cur && i < kTokensMax; ++i) {
        int v = 0;
        if (i % 2) bsp::lte::tok_next_int(&cur, &v);
        else bsp::lte::next_tok(&cur);
    }
    copy = line;
    bsp::lte::csq_strength(copy.data());
    copy = line;
    bsp::lte::read_registration_answer(copy.data());
    bsp::lte::read_imei_answer(line);
    bsp::lte::imsi_of(line);
    bsp::lte::prefixed_imsi_of(line);
    bsp::lte::read_position_answer(line);
}

// A fresh reader, as every exchange starts with, and an empty port.
void reset() {
    std::string nothing = "\x01";
    bsp::lte::exchange(bsp::lte::Variant::kRead, "", nothing.data(), bsp::lte::out_put(), 0, -1);
    char sink[4096];
    while (::read(bsp::lte::ltefd(), sink, sizeof sink) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static InstantClock clock;
    bsp::os::set_clock(&clock);
    g_module = new testfiles::FakePort;
    if (bsp::lte::open_at_port(g_module->slave_path().c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t input_size) {
    // Two bytes choose the size of the pieces written and how often the rest is repeated, so that
    // short inputs reach lines longer than the reader's buffer.
    if (input_size < 2) return 0;
    const std::size_t repeats = input[1] % 64 + 1;
    std::string stream;
    for (std::size_t r = 0; r < repeats && stream.size() < kInputMax; ++r) stream.append(input + 2, input + input_size);
    stream.resize(std::min(stream.size(), kInputMax));
    const std::size_t piece = std::max<std::size_t>(input[0] % 64 + 1, stream.size() / kPiecesMax + 1);
    const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
    const std::size_t size = stream.size();
    reset();
    for (std::size_t at = 0; at < size; at += piece) {
        g_module->feed(data + at, std::min(piece, size - at));
        while (const char* line = bsp::lte::read_line(0)) check_line(line);
    }
    // The same bytes, as many as the port's input buffer holds, to an exchange that collects every line.
    reset();
    if (size) g_module->feed(data, std::min(size, testfiles::FakePort::kInputBuffer));
    char* answer = bsp::lte::out_put();
    std::memset(answer, 0, bsp::lte::kAnswerSize);
    std::string ok = "OK";
    bsp::lte::exchange(bsp::lte::Variant::kRead1, "", ok.data(), answer, 8, 0);
    if (strnlen(answer, bsp::lte::kAnswerSize) >= bsp::lte::kAnswerSize) std::abort();
    return 0;
}
