#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sdk_bsp.h"

namespace {

// A host's output request, as the value API makes it: the value first, then the flag.
void request(int output, std::uint8_t value) {
    auto n = static_cast<std::size_t>(output - 1);
    std::atomic_ref(STR_BSP_ENV_INFO.do_value[n]).store(value, std::memory_order_relaxed);
    std::atomic_ref(STR_BSP_ENV_INFO.do_request[n]).store(1, std::memory_order_release);
}

std::string command_frame() {
    char frame[SDK_BSP_POWER_FRAME_MAX];
    int n = SET_DO_CMD(frame);
    return std::string(frame, static_cast<std::size_t>(std::max(n, 0)));
}

class EnvLink : public testing::Test {
  protected:
    void SetUp() override { std::memset(&STR_BSP_ENV_INFO, 0, sizeof STR_BSP_ENV_INFO); }
};
using EnvLinkThreads = EnvLink;

TEST_F(EnvLink, OutputCommandCarriesRequestsAndPresentStates) {
    EXPECT_EQ(DO_API_SET_CHECK(), -1);
    request(1, 1);
    request(3, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(DO_API_SET_CHECK(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ready set do 1");
    // The system's stored output command for output 1 on, the others off.
    EXPECT_EQ(command_frame(), "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r");
    EXPECT_EQ(DO_API_SET_CHECK(), -1) << "both requests consumed";

    // A value other than 1 is off; an output without a request keeps its present state.
    STR_BSP_ENV_INFO.do_state[1] = 1;
    STR_BSP_ENV_INFO.do_state[3] = 1;
    request(4, 2);
    EXPECT_EQ(command_frame().substr(13, 4), "FF02");
    EXPECT_EQ(command_frame().size(), 38u);

    // Flags 5..8 are seen but never consumed here.
    STR_BSP_ENV_INFO.do_request[6] = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(DO_API_SET_CHECK(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ready set do 7");
    command_frame();
    EXPECT_EQ(STR_BSP_ENV_INFO.do_request[6], 1);
    EXPECT_EQ(SET_DO_CMD(nullptr), 0);
}

TEST_F(EnvLink, RightFlagIsAOneShotLatch) {
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 0u);
    SET_ENV_BOARD_RIGHT_FG();
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 1u);
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 0u);
}

// Hosts keep requesting "off" and finally "on" while the send loop consumes. No output is on
// otherwise, so an output's bit set in any frame proves its final request went out: none lost.
TEST_F(EnvLinkThreads, RequestsMadeWhileConsumingAreNeverLost) {
    constexpr int kRequests = 20000;
    std::atomic<bool> hosts_done{false};
    unsigned seen = 0;
    auto consume = [&] {
        if (DO_API_SET_CHECK() == 1) seen |= static_cast<unsigned>(std::stoul(command_frame().substr(15, 2), nullptr, 16));
    };
    testing::internal::CaptureStdout();  // the pending check's traces
    std::thread sender([&] {
        while (!hosts_done.load()) consume();
    });
    std::vector<std::thread> hosts;
    for (int output = 1; output <= 4; ++output)
        hosts.emplace_back([output] {
            for (int k = 0; k < kRequests; ++k) request(output, 0);
            request(output, 1);
        });
    for (auto& h : hosts) h.join();
    hosts_done = true;
    sender.join();
    consume();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(seen, 0x0Fu);
    EXPECT_EQ(DO_API_SET_CHECK(), -1);
}

}  // namespace
