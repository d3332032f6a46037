// Power-protocol frames per second: encoding a command and checking a received frame, beside
// baselines measured in the same run that only turn the same bytes into hexadecimal characters.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "com/power_codec.h"

namespace {

// The output command (10 INFO bytes) and a battery stack's analog reply (161 INFO bytes).
STR_POWER_CMD sized_command(std::uint32_t info_bytes) {
    STR_POWER_CMD cmd = bsp::com::output_command(0x05);
    cmd.INFO_LEN = info_bytes;
    for (std::uint32_t i = 0; i < info_bytes; ++i) cmd.INFO[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return cmd;
}

void BM_Encode(benchmark::State& state) {
    STR_POWER_CMD cmd = sized_command(static_cast<std::uint32_t>(state.range(0)));
    std::array<char, SDK_BSP_POWER_FRAME_MAX> frame{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(POWER_7E_CMDSend(&cmd, frame.data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// What a receiver does with a frame: the checksum over the text, then LENGTH in binary.
void BM_Check(benchmark::State& state) {
    STR_POWER_CMD cmd = sized_command(static_cast<std::uint32_t>(state.range(0)));
    std::array<char, SDK_BSP_POWER_FRAME_MAX> frame{};
    int chars = POWER_7E_CMDSend(&cmd, frame.data());
    const char* body = frame.data() + 1;
    for (auto _ : state) {
        std::array<unsigned char, 2> length{bsp_AscToHex(body + 8), bsp_AscToHex(body + 10)};
        benchmark::DoNotOptimize(CheckSum(body, chars - 2));
        benchmark::DoNotOptimize(CheckLTH(length.data(), static_cast<std::uint16_t>((chars - 2) / 2)));
    }
    state.SetItemsProcessed(state.iterations());
}

// The frame's binary bytes from VER to the end of INFO, as the baselines format them.
struct Binary {
    std::array<unsigned char, 6 + SDK_BSP_POWER_INFO_MAX> bytes{};
    std::size_t n = 0;
};
Binary binary(const STR_POWER_CMD& cmd) {
    Binary b;
    std::uint16_t length = EnCheckLTH(static_cast<std::uint16_t>(cmd.INFO_LEN));
    b.bytes = {cmd.VER, cmd.ADR, cmd.CID1, cmd.CID2, static_cast<unsigned char>(length >> 8),
               static_cast<unsigned char>(length & 0xFF)};
    std::memcpy(b.bytes.data() + 6, cmd.INFO, cmd.INFO_LEN);
    b.n = 6 + cmd.INFO_LEN;
    return b;
}

// Baseline: the same 6 + n bytes as hexadecimal characters through a digit table, nothing else.
void BM_BaselineHexTable(benchmark::State& state) {
    auto [bytes, n] = binary(sized_command(static_cast<std::uint32_t>(state.range(0))));
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<char, SDK_BSP_POWER_FRAME_MAX> out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());  // the bytes may change, the characters are used
        benchmark::DoNotOptimize(out.data());
        for (std::size_t i = 0; i < n; ++i) {
            out[2 * i] = kDigits[bytes[i] >> 4];
            out[2 * i + 1] = kDigits[bytes[i] & 0xF];
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// Baseline: the same bytes through snprintf("%02X"), the usual way of writing them.
void BM_BaselineSnprintf(benchmark::State& state) {
    auto [bytes, n] = binary(sized_command(static_cast<std::uint32_t>(state.range(0))));
    std::array<char, SDK_BSP_POWER_FRAME_MAX + 1> out{};
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) std::snprintf(out.data() + 2 * i, 3, "%02X", bytes[i]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Encode)->Arg(0)->Arg(10)->Arg(161)->Arg(256);
BENCHMARK(BM_Check)->Arg(0)->Arg(10)->Arg(161)->Arg(256);
BENCHMARK(BM_BaselineHexTable)->Arg(0)->Arg(10)->Arg(161)->Arg(256);
BENCHMARK(BM_BaselineSnprintf)->Arg(0)->Arg(10)->Arg(161)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
