#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com/env_link.h"
#include "support.h"

namespace {

// One second of the send loop, as the frame it would send.
std::string next_frame() {
    std::array<char, SDK_BSP_POWER_FRAME_MAX> area;
    return std::string(bsp::com::next_env_frame(area));
}

class EnvLink : public testing::Test {
  protected:
    void SetUp() override { std::memset(&STR_BSP_ENV_INFO, 0, sizeof STR_BSP_ENV_INFO); }
};
using EnvLinkThreads = EnvLink;

TEST_F(EnvLink, OutputCommandCarriesRequestsAndPresentStates) {
    EXPECT_EQ(next_frame(), "~FFFF03540000FD5C\r");  // the poll while nothing is pending
    SetDOValue_FromResourceName(301, 1);
    SetDOValue_FromResourceName(303, 0);
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(DO_API_SET_CHECK(), 1); }), "ready set do 1");
    // The system's stored output command for output 1 on, the others off; both requests consumed.
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(next_frame(), "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r"); }), "ready set do 1");
    EXPECT_EQ(DO_API_SET_CHECK(), -1);

    // A value other than 1 is off; an output without a request keeps its present state.
    STR_BSP_ENV_INFO.do_state[1] = STR_BSP_ENV_INFO.do_state[3] = 1;
    SetDOValue_FromResourceName(304, 2);
    char frame[SDK_BSP_POWER_FRAME_MAX];
    EXPECT_EQ(SET_DO_CMD(frame), 38);
    EXPECT_EQ(std::string(frame + 13, 4), "FF02");
    EXPECT_EQ(SET_DO_CMD(nullptr), 0);
    // Flags 5..8 are seen but never consumed by the command.
    STR_BSP_ENV_INFO.do_request[6] = 1;
    EXPECT_EQ(unit::printed([] { EXPECT_EQ(DO_API_SET_CHECK(), 1); }), "ready set do 7");
    SET_DO_CMD(frame);
    EXPECT_EQ(STR_BSP_ENV_INFO.do_request[6], 1);

    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 0u);
    SET_ENV_BOARD_RIGHT_FG();
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 1u);
    EXPECT_EQ(REAG_ENV_BOARD_RIGHT_FG(), 0u);
}

// Host threads keep requesting "off" through SetDOValue and finally "on", while the send loop's
// own step consumes. No output is on otherwise, so an output's bit set in any frame proves that
// its final request went out: none is lost.
TEST_F(EnvLinkThreads, RequestsMadeWhileTheSendLoopConsumesAreNeverLost) {
    std::atomic<bool> hosts_done{false};
    unsigned seen = 0;
    auto consume = [&] {
        const std::string f = next_frame();
        if (f.size() == 38) seen |= static_cast<unsigned>(std::stoul(f.substr(15, 2), nullptr, 16));
    };
    testing::internal::CaptureStdout();  // the pending check's traces
    std::thread sender([&] {
        while (!hosts_done.load()) consume();
    });
    std::vector<std::thread> hosts;
    for (int output = 1; output <= 4; ++output)
        hosts.emplace_back([output] {
            const std::string name = "Local/DO/" + std::to_string(output);
            for (int k = 0; k < 5000; ++k) SetDOValue(name.c_str(), 0);
            SetDOValue(name.c_str(), 1);
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
