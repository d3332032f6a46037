// The simulated boards' own frame code, against the system's literal board-link frames.
#include <gtest/gtest.h>

#include "sim/frame.h"

namespace {

using sim::Bytes;

const Bytes kSettings9600 = {0x7E, 0x00, 0x07, 0x60, 0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, 0x15, 0x0D};
const Bytes kDataAbc = {0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D};
const Bytes kKeepAlive = {0x7E, 0x00, 0x00, 0x92, 0x92, 0x0D};

TEST(SimFrame, BuildsTheSystemsFrames) {
    EXPECT_EQ(sim::build_frame(0x80, "abc"), kDataAbc);
    EXPECT_EQ(sim::build_frame(0x50, "abc"), (Bytes{0x7E, 0x00, 0x03, 0x50, 0x61, 0x62, 0x63, 0x79, 0x0D}));
    EXPECT_EQ(sim::build_frame(0x92, ""), kKeepAlive);
    EXPECT_EQ(sim::build_frame(0x60, std::span(kSettings9600).subspan(4, 7)), kSettings9600);
    // The length's high byte is sent first and counts in the sum: 01 + 2C + 81 + 300 x 01 = 0x1DA.
    Bytes big = sim::build_frame(0x81, Bytes(300, 0x01));
    ASSERT_EQ(big.size(), 306u);
    EXPECT_EQ(big[1], 0x01);
    EXPECT_EQ(big[2], 0x2C);
    EXPECT_EQ(big[304], 0xDA);
}

TEST(SimFrame, CutsFramesInOrderAndDecodesSettings) {
    sim::FrameCutter cut;
    Bytes stream = kSettings9600;
    stream.insert(stream.end(), kDataAbc.begin(), kDataAbc.end());
    cut.feed(stream);

    auto settings = cut.next();
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->cid, 0x60);
    EXPECT_TRUE(settings->checksum_ok);
    EXPECT_EQ(sim::decode_settings(settings->payload), (sim::LineSettings{9600, 8, 1, 0}));

    auto data = cut.next();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->cid, 0x80);
    EXPECT_EQ(data->payload, (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(data->raw, kDataAbc);
    EXPECT_TRUE(data->checksum_ok);

    EXPECT_FALSE(cut.next());
    EXPECT_EQ(cut.garbage(), 0u);
    EXPECT_EQ(cut.pending(), 0u);
    EXPECT_FALSE(sim::decode_settings(Bytes{0x00, 0x00, 0x25, 0x80, 0x08, 0x01}));
}

TEST(SimFrame, SkipsGarbageAndWaitsForTheRestOfAFrame) {
    sim::FrameCutter cut;
    // Two stray bytes, a 0x7E whose length no host frame can have, and a frame whose length
    // does not lead to the 0x0D end byte: 2 + 3 + 7 bytes of garbage.
    cut.feed(Bytes{0x55, 0x0D, 0x7E, 0xFF, 0xFF, 0x7E, 0x00, 0x01, 0x80, 0x41, 0xC2, 0x00});
    EXPECT_FALSE(cut.next());
    EXPECT_EQ(cut.garbage(), 12u);
    // A frame arriving one byte at a time is cut when its last byte is in.
    for (std::size_t i = 0; i + 1 < kKeepAlive.size(); ++i) {
        cut.feed(std::span(kKeepAlive).subspan(i, 1));
        EXPECT_FALSE(cut.next()) << "after byte " << i;
    }
    cut.feed(std::span(kKeepAlive).last(1));
    auto f = cut.next();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->raw, kKeepAlive);
    EXPECT_EQ(cut.garbage(), 12u);

    // A wrong sum is reported, and the frame is still delivered.
    Bytes bad = kDataAbc;
    bad[7] = 0xA8;
    cut.feed(bad);
    f = cut.next();
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->checksum_ok);
    EXPECT_EQ(f->payload, (Bytes{'a', 'b', 'c'}));
}

}  // namespace
