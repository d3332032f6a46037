// The board link both ways: the frames sent to the extension boards, the link keep-alive, the
// sixteen receive buffers, the frame cutter, and what the board-link threads do with each frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "com/board_link.h"
#include "com/receive_buffers.h"
#include "com/receive_threads.h"
#include "../common/fake_port.h"
#include "sdk_bsp.h"
#include "support.h"

namespace {

using bsp::com::append;
using testing::HasSubstr;
using unit::Bytes;
using unit::operator+;

const Bytes kKeepAlive{0x7E, 0x00, 0x00, 0x92, 0x92, 0x0D};

class BoardLink : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        board1 = std::make_unique<unit::FakePort>(root_, "ttymxc5");
        board2 = std::make_unique<unit::FakePort>(root_, "ttymxc6");
        unit::printed([] {
            for (std::uint32_t port : {4u, 5u}) {
                BSP_ComCreate(port);
                M_BAU_SET_COM(port, 115200, 8, 1, 0);
            }
        });
        Rest_cnt_com_dog(0);
        Rest_cnt_com_dog(1);
    }
    void TearDown() override {
        SDK_BSP_ComDestroy(4);
        SDK_BSP_ComDestroy(5);
        RootedTest::TearDown();
    }
    static void ticks(int n) {
        unit::printed([n] {
            for (int k = 0; k < n; ++k) RunComDog();
        });
    }
    std::unique_ptr<unit::FakePort> board1, board2;
};
using BoardLinkThreads = BoardLink;

// Every carried Uart's data frames and the 9600 8N1 settings frames of start-up are checked on the
// simulated boards (serial_test.cpp, startup_test.cpp); here what those leave out.
TEST_F(BoardLink, DataAndSettingsFramesOnTheRightChannel) {
    const std::uint8_t abc[] = {0x61, 0x62, 0x63};
    EXPECT_EQ(EXT_TTYSCOM_SEND_INFO(4, abc, 3), 9u);      // Uart ID 5: board 1, channel 0
    EXPECT_EQ(EXT_TTYSCOM_SEND_INFO(4, nullptr, 0), 6u);  // an empty frame still goes out
    EXPECT_EQ(board1->read(15),
              (Bytes{0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D, 0x7E, 0x00, 0x00, 0x80, 0x80, 0x0D}));
    EXT_TTYSCOM_SET_BAU(9, 230400, 7, 2, 9);  // Uart ID 10, board 2's channel 2: passed as given, nothing validated
    EXPECT_EQ(board2->read(13), (Bytes{0x7E, 0x00, 0x07, 0x62, 0x00, 0x03, 0x84, 0x00, 0x07, 0x02, 0x09, 0x02, 0x0D}));
    ENV_TTYSCOM_SEND_INFO(abc, 2);
    EXPECT_EQ(board1->read(8), (Bytes{0x7E, 0x00, 0x02, 0x84, 0x61, 0x62, 0x49, 0x0D}));
    // Indexes outside 4..11 send nothing.
    EXPECT_EQ(EXT_TTYSCOM_SET_BAU(13, 9600, 8, 1, 0) + INFo_SUM(abc, 0), 0u);
    EXPECT_TRUE(board1->drain().empty());
    EXPECT_TRUE(board2->drain().empty());
}

TEST_F(BoardLink, LongDataIsSplitIntoWholeFrames) {
    Bytes data(6000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(EXT_TTYSCOM_SEND_INFO(5, data.data(), 6000), 6000u + 2 * 6);
    const Bytes wire = board1->read(6012);
    ASSERT_EQ(wire.size(), 6012u);
    // 5114 bytes in the first frame, 886 in the second.
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), (Bytes{0x7E, 0x13, 0xFA, 0x81}));
    EXPECT_EQ(Bytes(wire.begin() + 5119, wire.begin() + 5124), (Bytes{0x0D, 0x7E, 0x03, 0x76, 0x81}));
    Bytes payload(wire.begin() + 4, wire.begin() + 5118);
    payload.insert(payload.end(), wire.begin() + 5124, wire.end() - 2);
    EXPECT_EQ(payload, data);
    EXPECT_EQ(wire.back(), 0x0D);
}

TEST_F(BoardLink, KeepAliveAfterTwentyOneIdleTicks) {
    ticks(20);
    EXPECT_EQ(Return_ComDog_Cnt(0), 20u);
    EXPECT_TRUE(board1->drain().empty());
    ticks(1);
    EXPECT_EQ(board1->read(6), kKeepAlive);
    EXPECT_EQ(board2->read(6), kKeepAlive);
    EXPECT_EQ(Return_ComDog_Cnt(0) + Return_ComDog_Cnt(1) + Return_ComDog_Cnt(2), 0u);

    // A frame to board 1 after 15 ticks restarts only board 1's count.
    ticks(15);
    const std::uint8_t x = 0x55;
    EXT_TTYSCOM_SEND_INFO(4, &x, 1);
    board1->read(7);
    ticks(6);
    EXPECT_EQ(board2->read(6), kKeepAlive);
    EXPECT_TRUE(board1->drain().empty());
    ticks(15);
    EXPECT_EQ(board1->read(6), kKeepAlive);
    EXPECT_TRUE(board2->drain().empty());

    // The top-board output frame leaves the count alone.
    EXPECT_EQ(unit::printed([] { EXT_TOP_DO_SET(0x58, 0x101), EXT_TOP_DO_SET(0, 1); }),
              "EXT_TOP_DO_SET CH88 =257\r\nEXT_TOP_DO_SET CH0 =1\r\n");
    EXPECT_EQ(board2->read(14), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x01, 0x03, 0x0D, 0x7E, 0x00, 0x01, 0xA9, 0x01, 0xAB, 0x0D}));
    EXPECT_EQ(Return_ComDog_Cnt(1), 15u);
}

// Eight threads sending to channels of both boards while the keep-alive ticks: each board sees
// only whole frames with good sums, and every payload arrives once, in each thread's order.
TEST_F(BoardLinkThreads, ConcurrentSendersNeverInterleave) {
    constexpr int kThreads = 8, kFrames = 200;
    std::atomic<bool> done{false}, ticking{true};
    std::thread ticker([&] {
        testing::internal::CaptureStdout();  // the keep-alive's log line is not wanted here
        while (ticking) RunComDog();
        testing::internal::GetCapturedStdout();
    });
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < kFrames; ++i) {
                Bytes payload(3 + 17 * t, static_cast<std::uint8_t>(0xA0 + t));  // thread, sequence, filler
                payload[0] = static_cast<std::uint8_t>(t);
                payload[1] = static_cast<std::uint8_t>(i >> 8);
                payload[2] = static_cast<std::uint8_t>(i);
                EXT_TTYSCOM_SEND_INFO(4 + t, payload.data(), static_cast<std::uint32_t>(payload.size()));
            }
        });
    Bytes wire[2];  // drained while the senders run: a pty holds only a few KiB
    std::thread reader([&] {
        while (!done)
            for (int b = 0; b < 2; ++b) {
                Bytes got = (b ? board2 : board1)->read(SIZE_MAX, std::chrono::milliseconds(20));
                wire[b].insert(wire[b].end(), got.begin(), got.end());
            }
    });
    for (auto& s : senders) s.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ticking = false;  // stopped while the reader still drains: a full pty would block its last write
    ticker.join();
    done = true;
    reader.join();
    std::array<int, kThreads> next{};
    for (int b = 0; b < 2; ++b) {
        Bytes& w = wire[b];
        Bytes rest = (b ? board2 : board1)->drain();
        w.insert(w.end(), rest.begin(), rest.end());
        for (std::size_t at = 0, len; at < w.size(); at += len + 6) {
            ASSERT_LE(at + 6, w.size());
            ASSERT_EQ(w[at], 0x7E) << "at " << at;
            len = std::size_t(w[at + 1]) << 8 | w[at + 2];
            ASSERT_LE(at + len + 6, w.size());
            ASSERT_EQ(w[at + 4 + len], INFo_SUM(&w[at + 1], static_cast<std::uint32_t>(len + 3)));
            ASSERT_EQ(w[at + 5 + len], 0x0D);
            if (w[at + 3] == 0x92) continue;
            const int t = w[at + 4];
            ASSERT_LT(t, kThreads);
            ASSERT_EQ(len, 3u + 17 * t);
            EXPECT_EQ(w[at + 5] << 8 | w[at + 6], next[t]++);
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kFrames) << "thread " << t;
}

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
        EXPECT_EQ(bsp::com::fill(b), 0) << "buffer " << b;
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
    bsp::com::LinkReceiver link;
    Bytes wire = Bytes(5120, 0x7E) + kPresent;  // every 0x7E announces a frame longer than the area
    std::size_t at = 0;
    auto read = [&](std::uint8_t* into, std::uint32_t room) {
        std::size_t n = std::min<std::size_t>({room, 2000, wire.size() - at});
        std::memcpy(into, wire.data() + at, n);
        at += n;
        return static_cast<std::uint32_t>(n);
    };
    auto handle = [](const std::uint8_t* frame, int size) { bsp::com::handle_frame(4, frame, size); };
    EXPECT_EQ(link.step(read, handle) + link.step(read, handle) + link.step(read, handle), 0);
    EXPECT_EQ(link.fill(), 5120);
    EXPECT_EQ(link.step(read, handle), 1);
    EXPECT_EQ(link.fill(), 0);
    EXPECT_EQ(BSP_BOARD_HARDWARE_RESOURCES.M_COM, 1);
}

}  // namespace
