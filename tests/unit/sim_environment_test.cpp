// The simulated environment equipment: its answers to the system's poll and output commands.
#include <gtest/gtest.h>

#include "sim/environment.h"

namespace {

using Outputs = std::array<bool, sim::kOutputs>;

std::span<const std::uint8_t> bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

const std::string kPoll = "~FFFF03540000FD5C\r";
const std::string kOnlyOutput1 = "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r";

TEST(SimEnvironment, AnswersPollsAndOutputCommandsWithTheOutputs) {
    sim::EnvironmentEquipment eq;
    EXPECT_EQ(eq.feed(bytes(kPoll)), std::vector<std::string>{"~FFFF0300E00200FCEE\r"});
    EXPECT_EQ(eq.outputs(), (Outputs{false, false, false, false}));
    EXPECT_EQ(eq.feed(bytes(kOnlyOutput1)), std::vector<std::string>{"~FFFF0500E00201FCEB\r"});
    EXPECT_EQ(eq.outputs(), (Outputs{true, false, false, false}));
    // Outputs 1 and 3 (mask 0x05), with a poll in the same payload: one reply each, in order.
    const std::uint8_t mask5[] = {0xFF, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const std::string both = sim::power::build(0xFF, 0xFF, 0x05, 0x55, mask5) + kPoll;
    EXPECT_EQ(eq.feed(bytes(both)), (std::vector<std::string>{"~FFFF0500E00205FCE7\r", "~FFFF0300E00205FCE9\r"}));
    EXPECT_EQ(eq.outputs(), (Outputs{true, false, true, false}));
    ASSERT_EQ(eq.last_frames().size(), 2u);
    EXPECT_TRUE(eq.last_frames()[0].ok() && eq.last_frames()[1].ok());
}

TEST(SimEnvironment, RefusesBrokenFramesWithTheirReturnCode) {
    sim::EnvironmentEquipment eq;
    eq.feed(bytes(kOnlyOutput1));
    // A wrong CHKSUM (RTN 02) and a command the equipment does not know (RTN 04).
    EXPECT_EQ(eq.feed(bytes("~FFFF03540000FD5D\r")), std::vector<std::string>{"~FFFF03020000FD63\r"});
    EXPECT_FALSE(eq.last_frames()[0].chksum_ok);
    EXPECT_EQ(eq.feed(bytes("~FFFF03420000FD5F\r")), std::vector<std::string>{"~FFFF03040000FD61\r"});
    // The checksum-only example of the protocol: CHKSUM right, LENID (0x6AB) not the four INFO
    // characters sent (RTN 03).
    EXPECT_EQ(eq.feed(bytes("~1203400456ABCDFEFC72\r")), std::vector<std::string>{"~120340030000FDB3\r"});
    EXPECT_EQ(eq.outputs(), (Outputs{true, false, false, false}));
    // Too short to say whom it is for: no answer.
    EXPECT_TRUE(eq.feed(bytes("~FFFF\r")).empty());
}

}  // namespace
