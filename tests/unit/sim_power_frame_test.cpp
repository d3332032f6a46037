// The environment equipment's own power-protocol frame code, against the system's stored frames
// and real frames from devices.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim/power_frame.h"

namespace {

std::span<const std::uint8_t> bytes(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

TEST(SimPowerFrame, BuildsTheSystemsFrames) {
    EXPECT_EQ(sim::power::build(0xFF, 0xFF, 0x03, 0x54), "~FFFF03540000FD5C\r");
    EXPECT_EQ(sim::power::build(0x21, 0x01, 0xD0, 0x90), "~2101D0900000FD9F\r");
    const std::uint8_t only_output_1[] = {0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(sim::power::build(0xFF, 0xFF, 0x05, 0x55, only_output_1), "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r");
    EXPECT_EQ(sim::power::length_field(10), 0xB014);
    EXPECT_EQ(sim::power::length_field(0), 0x0000);
    EXPECT_EQ(sim::power::length_field(1), 0xE002);
}

// Every frame of the real-frame table, checked as the table's own columns say.
TEST(SimPowerFrame, VerdictsMatchRealFrames) {
    std::ifstream in(std::string(SDK_BSP_TESTDATA) + "/power/frames.tsv");
    if (!in) GTEST_SKIP() << "no power-protocol frames in " << SDK_BSP_TESTDATA;
    std::string row;
    std::getline(in, row);  // header
    int rows = 0;
    while (std::getline(in, row)) {
        std::istringstream cols(row);
        std::string frame, chksum, lchksum, ver, adr, cid1, cid2, info_bytes;
        std::getline(cols, frame, '\t');
        cols >> chksum >> lchksum >> ver >> adr >> cid1 >> cid2 >> info_bytes;
        frame.replace(frame.size() - 2, 2, "\r");  // the table writes the carriage return as \r
        SCOPED_TRACE(frame);
        const auto f = sim::power::decode(frame);
        EXPECT_TRUE(f.complete && f.hex_ok);
        EXPECT_EQ(f.chksum_ok, chksum == "1");
        EXPECT_EQ(f.lchksum_ok, lchksum == "1");
        EXPECT_EQ(f.ver, std::stoi(ver, nullptr, 16));
        EXPECT_EQ(f.adr, std::stoi(adr, nullptr, 16));
        EXPECT_EQ(f.cid1, std::stoi(cid1, nullptr, 16));
        EXPECT_EQ(f.cid2, std::stoi(cid2, nullptr, 16));
        EXPECT_EQ(f.info.size(), std::stoul(info_bytes));
        // Only the checksum-only example (LENGTH 56AB with four INFO characters) lies in LENID.
        EXPECT_EQ(f.lenid_ok, frame.find("56AB") == std::string::npos);
        ++rows;
    }
    EXPECT_EQ(rows, 40);
}

TEST(SimPowerFrame, CutsFramesFromAStreamWithJunk) {
    sim::power::Cutter cut;
    // Junk, a frame in three pieces, a '~' that never ends, the poll with its CHKSUM in lower case.
    cut.feed(bytes("\x01zz~FFFF03"));
    EXPECT_FALSE(cut.next());
    cut.feed(bytes("540000"));
    cut.feed(bytes("FD5C\r~broken~FFFF03540000fd5c\r"));
    auto poll = cut.next();
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->text, "~FFFF03540000FD5C\r");
    EXPECT_TRUE(poll->ok());
    auto lower = cut.next();
    ASSERT_TRUE(lower);
    EXPECT_TRUE(lower->ok());
    EXPECT_EQ(lower->cid2, 0x54);
    EXPECT_FALSE(cut.next());
    EXPECT_EQ(cut.junk(), 3u + 7u);
    // Too short to be a frame; then a '~' followed by more than any frame holds.
    cut.feed(bytes("~FFFF\r"));
    auto shorty = cut.next();
    ASSERT_TRUE(shorty);
    EXPECT_FALSE(shorty->complete);
    cut.feed(bytes("~" + std::string(sim::power::kMaxFrame, 'F')));
    EXPECT_FALSE(cut.next());
    EXPECT_EQ(cut.junk(), 10u + 1 + sim::power::kMaxFrame);
}

}  // namespace
