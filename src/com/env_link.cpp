// The environment-board link: the environment record, and the send loop that polls the
// environment equipment once a second or carries the host's output requests to it.
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/texts.h"
#include "com/board_link.h"
#include "com/env_link.h"
#include "com/power_codec.h"
#include "com/receive_threads.h"
#include "os/os.h"

namespace bsp::com {
namespace {

constexpr std::uint32_t kEnvBaud = 9600;
constexpr long kSendPaceMs = 1000;
constexpr std::size_t kOutputs = 4;  // DO 1..4 travel in the output command's mask
constexpr std::size_t kRequestFlags = 8;

// The environment board's flag, a single word.
std::int32_t g_env_board_flag = 0;

// The environment record is the host's to read; only this link writes it, every field as one
// atomic word or byte (the host may be reading). The request hand-over with the value API: the
// requester stores the value, then sets the flag (release); the send loop takes the flag with an
// exchange (acquire), then reads the value. A request made while the previous one is consumed stays
// pending for the next second: never lost.
std::atomic_ref<std::uint8_t> byte(std::uint8_t& b) noexcept { return std::atomic_ref(b); }

bool take_request(std::size_t n) noexcept {
    return byte(STR_BSP_ENV_INFO.do_request[n]).exchange(0, std::memory_order_acquire) == 1;
}

}  // namespace

void clear_env_record() noexcept {
    auto& env = STR_BSP_ENV_INFO;
    for (auto* ai : {&env.ai_kind0, &env.ai_other})
        for (float& v : *ai) std::atomic_ref(v).store(0.0f, std::memory_order_relaxed);
    for (auto* bytes : {&env.do_state, &env.do_request, &env.do_value})
        for (std::uint8_t& b : *bytes) byte(b).store(0, std::memory_order_relaxed);
    for (std::uint8_t& b : env.di) byte(b).store(0, std::memory_order_relaxed);
    std::memset(env.reserved0, 0, sizeof env.reserved0);
    std::memset(env.reserved1, 0, sizeof env.reserved1);
}

// One frame a second: a pending output change replaces that second's poll.
std::string_view next_env_frame(std::array<char, SDK_BSP_POWER_FRAME_MAX>& area) noexcept {
    if (output_request_pending() != 1) return kPollFrame;
    return {area.data(), static_cast<std::size_t>(output_command_frame(area.data()))};
}

void request_output(std::size_t n, std::uint8_t value) noexcept {
    if (n >= kRequestFlags) return;
    byte(STR_BSP_ENV_INFO.do_value[n]).store(value, std::memory_order_relaxed);
    byte(STR_BSP_ENV_INFO.do_request[n]).store(1, std::memory_order_release);
}

int output_request_pending() noexcept {
    for (std::size_t n = 0; n < kRequestFlags; ++n) {
        if (byte(STR_BSP_ENV_INFO.do_request[n]).load(std::memory_order_acquire) == 1) {
            std::printf("ready set do %d", static_cast<int>(n + 1));
            return 1;
        }
    }
    return -1;
}

int output_command_frame(char* frame) noexcept {
    if (!frame) return 0;
    auto& env = STR_BSP_ENV_INFO;
    std::uint8_t mask = 0;
    for (std::size_t n = 0; n < kOutputs; ++n) {
        // A pending request gives its requested value; the others keep their present state.
        bool on = take_request(n) ? byte(env.do_value[n]).load(std::memory_order_relaxed) == 1
                                  : byte(env.do_state[n]).load(std::memory_order_relaxed) == 1;
        if (on) mask = static_cast<std::uint8_t>(mask | 1u << n);
    }
    const STR_POWER_CMD cmd = output_command(mask);
    return encode_frame(&cmd, frame);
}

void set_env_board_flag() noexcept { std::atomic_ref(g_env_board_flag).store(1); }

std::uint32_t take_env_board_flag() noexcept {
    return static_cast<std::uint32_t>(std::atomic_ref(g_env_board_flag).exchange(0));
}

void* env_send_main(void* arg) noexcept {
    const int port = port_argument(arg);
    stump(port, texts::kEnvSendThread, __LINE__);
    set_env_line(kEnvBaud, 8, 1, 0);
    std::printf(texts::kEnvSendStarted, port);
    std::array<char, SDK_BSP_POWER_FRAME_MAX> area;
    for (;;) {
        os::sleep_ms(kSendPaceMs);
        std::string_view frame = next_env_frame(area);
        send_env(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<std::uint32_t>(frame.size()));
    }
}

}  // namespace bsp::com
