#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "pty_device.h"
#include "sdk_bsp.h"
#include "support.h"

namespace {

using unit::Bytes;

const Bytes kKeepAlive{0x7E, 0x00, 0x00, 0x92, 0x92, 0x0D};

class BoardLink : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        board1 = std::make_unique<unit::PtyDevice>(root_, "ttymxc5");
        board2 = std::make_unique<unit::PtyDevice>(root_, "ttymxc6");
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
    std::unique_ptr<unit::PtyDevice> board1, board2;
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

}  // namespace
