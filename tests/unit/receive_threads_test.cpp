#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "com/board_link.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "pty_device.h"
#include "support.h"

namespace {

using unit::Bytes;
using unit::operator+;

// Runs the cutter over acc as a board-link thread does: every frame it yields, and what is left.
struct Cut {
    std::vector<Bytes> frames;
    Bytes left;
};
Cut cut(const Bytes& stream) {
    Bytes acc(bsp::com::kFrameArea), msg(bsp::com::kFrameArea);
    std::memcpy(acc.data(), stream.data(), stream.size());
    int fill = static_cast<int>(stream.size());
    Cut c;
    while (int n = read_a_msg(acc.data(), msg.data(), fill, &fill)) c.frames.emplace_back(msg.begin(), msg.begin() + n);
    c.left.assign(acc.begin(), acc.begin() + fill);
    return c;
}

const Bytes kAbcCh0{0x7E, 0x00, 0x03, 0x50, 0x61, 0x62, 0x63, 0x79, 0x0D};

TEST(FrameCutter, FirstWholeFrameWinsAndWhatPrecedesItIsDropped) {
    EXPECT_EQ(cut(kAbcCh0).frames, std::vector<Bytes>{kAbcCh0});
    EXPECT_TRUE(cut(kAbcCh0).left.empty());

    // Two stray bytes go with the frame; two frames in one read come out in order.
    const Bytes keep_alive{0x7E, 0x00, 0x00, 0x41, 0x41, 0x0D};
    Cut two = cut(Bytes{0x11, 0x7E} + kAbcCh0 + keep_alive);
    EXPECT_EQ(two.frames, (std::vector<Bytes>{kAbcCh0, keep_alive}));

    // A 0x7E whose length does not end on 0x0D is skipped; the scan goes on with the next byte.
    Cut skipped = cut(Bytes{0x7E, 0x00, 0x01, 0x50} + kAbcCh0);
    EXPECT_EQ(skipped.frames, std::vector<Bytes>{kAbcCh0});

    // A frame split over two reads waits, untouched, for its end.
    Bytes half(kAbcCh0.begin(), kAbcCh0.begin() + 5);
    Cut waiting = cut(Bytes{0x33} + half);
    EXPECT_TRUE(waiting.frames.empty());
    EXPECT_EQ(waiting.left, Bytes{0x33} + half);
    EXPECT_EQ(cut(waiting.left + Bytes(kAbcCh0.begin() + 5, kAbcCh0.end())).frames, std::vector<Bytes>{kAbcCh0});

    // A wrong checksum is still delivered; the receiver ignores it.
    Bytes bad_sum = kAbcCh0;
    bad_sum[7] = 0x00;
    EXPECT_EQ(cut(bad_sum).frames, std::vector<Bytes>{bad_sum});

    unsigned char acc[8] = {0x7E, 0, 0, 0x41, 0x41, 0x0D}, msg[8];
    int fill = 77;
    EXPECT_EQ(read_a_msg(nullptr, msg, 6, &fill), 0);
    EXPECT_EQ(read_a_msg(acc, msg, 5121, &fill), 0);
    EXPECT_EQ(read_a_msg(acc, msg, -1, &fill), 0);
    EXPECT_EQ(fill, 77);
}

class BoardFrames : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
        BOARD_flags_clear();
        STR_LOG_PAR.so = 2;
        STR_LOG_PAR.sys = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        BOARD_flags_clear();
        RootedTest::TearDown();
    }
    static void BOARD_flags_clear() {
        PAR_SET_M_COM_EXIST_STATUS(0);
        PAR_SET_EXT_COM_EXIST_STATUS(0);
    }
    int handle(int port, const Bytes& frame) { return bsp::com::handle_frame(port, frame.data(), static_cast<int>(frame.size())); }
    Bytes taken(std::uint32_t buffer) {
        Bytes out(4096);
        unsigned char* dest = out.data();
        out.resize(static_cast<std::size_t>(SDK_Read_COM(buffer, &dest, 4096)));
        return out;
    }
};

TEST_F(BoardFrames, ChannelDataReachesItsUartsBuffer) {
    const Bytes abc{0x61, 0x62, 0x63};
    EXPECT_EQ(handle(4, kAbcCh0), 4);  // board 1 channel 0: Uart ID 5
    EXPECT_EQ(taken(4), abc);
    EXPECT_EQ(handle(5, kAbcCh0), 8);  // board 2 channel 0: Uart ID 9
    EXPECT_EQ(taken(8), abc);
    Bytes ch1 = kAbcCh0, ch2 = kAbcCh0, env = kAbcCh0, other = kAbcCh0;
    ch1[3] = 0x51;
    ch2[3] = 0x52;
    env[3] = 0x54;
    other[3] = 0x42;
    EXPECT_EQ(handle(5, ch1), 10);  // board 2's channels 1 and 2 are crossed
    EXPECT_EQ(handle(5, ch2), 9);
    EXPECT_EQ(handle(4, ch2), 6);
    EXPECT_EQ(handle(5, env), 13);  // the environment channel, from either board port
    EXPECT_EQ(handle(4, other), -1);
    EXPECT_EQ(taken(10), abc);
    EXPECT_EQ(taken(9), abc);
    EXPECT_EQ(taken(13), abc);
    for (std::uint32_t b : {12u, 14u}) EXPECT_TRUE(taken(b).empty());

    const std::string log = unit::read_file(box("tmp/sdklog.log"));
    EXPECT_THAT(log, testing::HasSubstr("]:CID=50 nLength=3\r\n\r\n["));
    EXPECT_THAT(log, testing::HasSubstr("]:EXT_M_COM_READ_THREAD com 4 sol_index=4 recv info len=3/3/3"));
    EXPECT_THAT(log, testing::HasSubstr("]:EXT_M_COM_READ_THREAD com 10 sol_index=5 recv info len=3/3/3"));
    EXPECT_THAT(log, testing::HasSubstr("]:M_COM_READ_THREAD com 13 recv info len=3"));
    EXPECT_THAT(log, testing::HasSubstr("]:CID=42 nLength=3"));
}

TEST_F(BoardFrames, PresenceFramesMarkTheirBoard) {
    const Bytes present{0x7E, 0x00, 0x01, 0x41, 0x00, 0x42, 0x0D};
    EXPECT_EQ(handle(5, present), -1);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.M_COM, 0);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.EXT_COM, 1);
    handle(4, present);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.M_COM, 1);
    for (std::uint32_t b = 0; b < 16; ++b) EXPECT_TRUE(taken(b).empty());
}

}  // namespace
