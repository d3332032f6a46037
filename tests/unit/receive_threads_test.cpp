// The receive side: the sixteen receive buffers, the frame cutter, and what the board-link threads
// do with each frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "com/board_link.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "support.h"

namespace {

using bsp::com::append;
using bsp::com::LIST_MCOM_RECV_INFO;
using testing::HasSubstr;
using unit::Bytes;
using unit::operator+;

// Byte j of the stream sent to buffer b. The period of 251 (prime) shows a lost, repeated or
// reordered run unless its length is a multiple of 251.
Bytes stream(std::size_t b, std::size_t from, std::size_t count) {
    Bytes s(count);
    for (std::size_t j = 0; j < count; ++j) s[j] = static_cast<std::uint8_t>((from + j) % 251 + b);
    return s;
}

Bytes drain(std::uint32_t b, int max) {
    Bytes out(4096);
    unsigned char* dest = out.data();
    out.resize(static_cast<std::size_t>(SDK_Read_COM(b, &dest, max)));
    EXPECT_EQ(dest, out.data());
    return out;
}

// The buffers are the process's own: each test starts with all sixteen empty.
class ReceiveBuffers : public testing::Test {
  protected:
    void SetUp() override {
        for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
    }
};
using ReceiveBuffersThreads = ReceiveBuffers;

TEST_F(ReceiveBuffers, KeepTheOldestBytesAndDrainInOrder) {
    EXPECT_EQ(append(3, stream(3, 0, 5000)).len(), 4096);
    EXPECT_EQ(append(3, stream(3, 5000, 10)).kept(), 0);  // a full buffer loses every new byte
    EXPECT_EQ(drain(3, 100), stream(3, 0, 100));
    EXPECT_EQ(append(3, stream(3, 4096, 300)).kept(), 100);
    EXPECT_EQ(drain(3, 4096), stream(3, 100, 4096));

    (void)append(13, stream(13, 0, 25));
    EXPECT_EQ(drain(13, 10), stream(13, 0, 10));
    // Bad arguments take nothing, and the data stays.
    unsigned char out[8], *dest = out, *none = nullptr;
    EXPECT_EQ(SDK_Read_COM(13, &dest, -1) + SDK_Read_COM(13, nullptr, 8) + SDK_Read_COM(13, &none, 8) +
                  SDK_Read_COM(16, &dest, 8),
              0);
    EXPECT_EQ(append(16, stream(0, 0, 8)).kept(), 0);
    EXPECT_EQ(drain(13, 100), stream(13, 10, 15));
    EXPECT_EQ(drain(13, 10), Bytes{});
}

// One appender and one drainer per buffer, sixteen pairs at once: every drainer receives its
// appender's stream whole, once and in order, although appends are clipped whenever the buffer is
// full (the appender then offers the rest again).
TEST_F(ReceiveBuffersThreads, EveryByteHandedOutOnceAndInOrder) {
    constexpr std::size_t kBytes = 48 * 1024, kPairs = bsp::com::kRecvBuffers;
    std::vector<Bytes> received(kPairs);
    std::vector<std::thread> threads;
    for (std::size_t b = 0; b < kPairs; ++b) {
        threads.emplace_back([b] {
            const Bytes all = stream(b, 0, kBytes);
            for (std::size_t sent = 0, chunk = 1 + b * 37; sent < kBytes; chunk = chunk * 7 % 1500 + 1) {
                auto a = append(b, std::span(all).subspan(sent, std::min(chunk, kBytes - sent)));
                sent += static_cast<std::size_t>(a.kept());
                if (a.kept() == 0) std::this_thread::yield();
            }
        });
        threads.emplace_back([b, &got = received[b]] {
            for (int max = 1 + static_cast<int>(b); got.size() < kBytes; max = max * 5 % 4000 + 1) {
                Bytes part = drain(static_cast<std::uint32_t>(b), max);
                got.insert(got.end(), part.begin(), part.end());
                if (part.empty()) std::this_thread::yield();
            }
        });
    }
    for (auto& t : threads) t.join();
    for (std::size_t b = 0; b < kPairs; ++b) {
        EXPECT_TRUE(received[b] == stream(b, 0, kBytes)) << "buffer " << b;
        EXPECT_EQ(LIST_MCOM_RECV_INFO[b].len, 0) << "buffer " << b;
    }
}

// Runs the cutter over a stream as a board-link thread does: every frame it yields, and what is left.
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
const Bytes kPresent{0x7E, 0x00, 0x00, 0x41, 0x41, 0x0D};

TEST(FrameCutter, FirstWholeFrameWinsAndWhatPrecedesItIsDropped) {
    // Stray bytes go with the frame; two frames in one read come out in order.
    Cut two = cut(Bytes{0x11, 0x7E} + kAbcCh0 + kPresent);
    EXPECT_EQ(two.frames, (std::vector<Bytes>{kAbcCh0, kPresent}));
    EXPECT_TRUE(two.left.empty());
    // A 0x7E whose length does not end on 0x0D is skipped; the scan goes on with the next byte.
    EXPECT_EQ(cut(Bytes{0x7E, 0x00, 0x01, 0x50} + kAbcCh0).frames, std::vector<Bytes>{kAbcCh0});
    // A frame split over two reads waits, untouched, for its end.
    const Bytes half(kAbcCh0.begin(), kAbcCh0.begin() + 5);
    Cut waiting = cut(Bytes{0x33} + half);
    EXPECT_TRUE(waiting.frames.empty());
    EXPECT_EQ(waiting.left, Bytes{0x33} + half);
    EXPECT_EQ(cut(waiting.left + Bytes(kAbcCh0.begin() + 5, kAbcCh0.end())).frames, std::vector<Bytes>{kAbcCh0});
    // A wrong sum is still delivered; the receiver ignores it.
    Bytes bad_sum = kAbcCh0;
    bad_sum[7] = 0x00;
    EXPECT_EQ(cut(bad_sum).frames, std::vector<Bytes>{bad_sum});

    unsigned char acc[8] = {0x7E, 0, 0, 0x41, 0x41, 0x0D}, msg[8];
    int fill = 77;
    EXPECT_EQ(read_a_msg(nullptr, msg, 6, &fill) + read_a_msg(acc, msg, 5121, &fill) + read_a_msg(acc, msg, -1, &fill), 0);
    EXPECT_EQ(fill, 77);
}

class BoardFrames : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
        presence(0);
        STR_LOG_PAR.so = STR_LOG_PAR.sys = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        presence(0);
        RootedTest::TearDown();
    }
    static void presence(int v) {
        PAR_SET_M_COM_EXIST_STATUS(v);
        PAR_SET_EXT_COM_EXIST_STATUS(v);
    }
    static Bytes with_cid(std::uint8_t cid) {
        Bytes f = kAbcCh0;
        f[3] = cid;
        return f;
    }
};

TEST_F(BoardFrames, ChannelDataReachesItsUartsBufferAndPresenceMarksTheBoard) {
    struct Case {
        int port;
        std::uint8_t cid;
        int buffer;  // Uart ID - 1; -1 for none
    };
    const Case cases[] = {
        {4, 0x50, 4},  {5, 0x50, 8},                 // channel 0 of board 1 and 2: Uart IDs 5 and 9
        {5, 0x51, 10}, {5, 0x52, 9}, {4, 0x52, 6},  // board 2's channels 1 and 2 are crossed
        {5, 0x54, 13}, {4, 0x42, -1},               // the environment channel; other CIDs dropped
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bsp::com::handle_frame(c.port, with_cid(c.cid).data(), 9), c.buffer);
        if (c.buffer >= 0) {
            EXPECT_EQ(drain(static_cast<std::uint32_t>(c.buffer), 4096), unit::bytes("abc")) << c.buffer;
        }
    }
    const std::string log = unit::read_file(box("tmp/sdklog.log"));
    EXPECT_THAT(log, HasSubstr("]:CID=50 nLength=3\r\n\r\n["));
    EXPECT_THAT(log, HasSubstr("]:EXT_M_COM_READ_THREAD com 4 sol_index=4 recv info len=3/3/3"));
    EXPECT_THAT(log, HasSubstr("]:EXT_M_COM_READ_THREAD com 10 sol_index=5 recv info len=3/3/3"));
    EXPECT_THAT(log, HasSubstr("]:M_COM_READ_THREAD com 13 recv info len=3"));
    EXPECT_THAT(log, HasSubstr("]:CID=42 nLength=3"));

    const Bytes present{0x7E, 0x00, 0x01, 0x41, 0x00, 0x42, 0x0D};
    EXPECT_EQ(bsp::com::handle_frame(5, present.data(), 7), -1);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.M_COM * 10 + BSP_BOARD_HARDWARE_RESOURCES.EXT_COM, 1);
    bsp::com::handle_frame(4, present.data(), 7);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.M_COM, 1);
    for (std::uint32_t b = 0; b < 16; ++b) EXPECT_TRUE(drain(b, 4096).empty()) << b;
}

// 5120 bytes without a whole frame fill the area: the next pass empties it, and the frame that
// follows is handled.
TEST_F(BoardFrames, LinkRecoversFromAFullAreaWithoutAFrame) {
    bsp::com::LinkReceiver link(4);
    Bytes wire = Bytes(5120, 0x7E) + kPresent;  // every 0x7E announces a frame longer than the area
    std::size_t at = 0;
    auto read = [&](std::uint8_t* into, std::uint32_t room) {
        std::size_t n = std::min<std::size_t>({room, 2000, wire.size() - at});
        std::memcpy(into, wire.data() + at, n);
        at += n;
        return static_cast<std::uint32_t>(n);
    };
    EXPECT_EQ(link.step(read) + link.step(read) + link.step(read), 0);
    EXPECT_EQ(link.fill(), 5120);
    EXPECT_EQ(link.step(read), 1);
    EXPECT_EQ(link.fill(), 0);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.M_COM, 1);
}

}  // namespace
