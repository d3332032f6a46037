// The simulated environment equipment: its verdicts on real power-protocol frames, and its
// answers to the system's poll and output commands.
#include <gtest/gtest.h>

#include "../common/power_frames.h"
#include "sim/environment.h"

namespace {

using Outputs = std::array<bool, sim::kOutputs>;

std::span<const std::uint8_t> bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

// Every frame of the real-frame table, judged as the table's own columns say.
TEST(SimPowerFrame, VerdictsMatchRealFrames) {
    const auto rows = testfiles::power_frames(SDK_BSP_TESTDATA);
    if (rows.empty()) GTEST_SKIP() << "no power-protocol frames in " << SDK_BSP_TESTDATA;
    EXPECT_EQ(rows.size(), 40u);
    for (const auto& r : rows) {
        const auto f = sim::power::decode(r.frame);
        EXPECT_TRUE(f.complete && f.hex_ok) << r.frame;
        EXPECT_EQ(f.chksum_ok, r.chksum_ok) << r.frame;
        EXPECT_EQ(f.lchksum_ok, r.lchksum_ok) << r.frame;
        EXPECT_EQ(std::vector<unsigned>({f.ver, f.adr, f.cid1, f.cid2, static_cast<unsigned>(f.info.size())}),
                  std::vector<unsigned>({r.ver, r.adr, r.cid1, r.cid2, r.info_bytes}))
            << r.frame;
        // Only the checksum-only example (LENGTH 56AB with four INFO characters) lies in LENID.
        EXPECT_EQ(f.lenid_ok, r.frame.find("56AB") == std::string::npos) << r.frame;
    }
}

TEST(SimEnvironment, AnswersWithTheOutputsOrTheReturnCode) {
    sim::EnvironmentEquipment eq;
    EXPECT_EQ(eq.feed(bytes("~FFFF03540000FD5C\r")), std::vector<std::string>{"~FFFF0300E00200FCEE\r"});
    EXPECT_EQ(eq.feed(bytes("~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r")), std::vector<std::string>{"~FFFF0500E00201FCEB\r"});
    EXPECT_EQ(eq.outputs(), (Outputs{true, false, false, false}));
    // A wrong CHKSUM (RTN 02), a command the equipment does not know (RTN 04), and the
    // checksum-only example of the protocol, whose LENID (0x6AB) is not the four INFO characters
    // sent (RTN 03); a frame too short to say whom it is for gets no answer.
    EXPECT_EQ(eq.feed(bytes("~FFFF03540000FD5D\r~FFFF03420000FD5F\r~1203400456ABCDFEFC72\r~FFFF\r")),
              (std::vector<std::string>{"~FFFF03020000FD63\r", "~FFFF03040000FD61\r", "~120340030000FDB3\r"}));
    EXPECT_EQ(eq.outputs(), (Outputs{true, false, false, false}));
}

}  // namespace
