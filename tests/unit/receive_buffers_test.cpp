#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "com/com.h"

namespace {

using bsp::com::append;
using bsp::com::LIST_MCOM_RECV_INFO;

// Byte j of the stream sent to buffer b: a period of 251 (prime), so a lost, repeated or
// reordered run of bytes shows unless its length happens to be a multiple of 251.
unsigned char stream_byte(std::size_t b, std::size_t j) { return static_cast<unsigned char>(j % 251 + b); }

std::vector<unsigned char> stream(std::size_t b, std::size_t from, std::size_t count) {
    std::vector<unsigned char> s(count);
    for (std::size_t j = 0; j < count; ++j) s[j] = stream_byte(b, from + j);
    return s;
}

std::vector<unsigned char> drain(std::uint32_t b, int max) {
    std::vector<unsigned char> out(static_cast<std::size_t>(std::max(max, 1)));
    unsigned char* dest = out.data();
    int n = SDK_Read_COM(b, &dest, max);
    EXPECT_EQ(dest, out.data());
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return out;
}

class ReceiveBuffers : public testing::Test {
  protected:
    void SetUp() override {
        for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
    }
};

TEST_F(ReceiveBuffers, KeepTheOldestBytesAndDropWhatDoesNotFit) {
    auto in = stream(3, 0, 5000);
    {
        auto a = append(3, in);
        EXPECT_EQ(a.kept(), 4096);
        EXPECT_EQ(a.len(), 4096);
    }
    EXPECT_EQ(append(3, stream(3, 5000, 10)).kept(), 0);  // a full buffer loses every new byte

    EXPECT_EQ(drain(3, 100), stream(3, 0, 100));
    EXPECT_EQ(LIST_MCOM_RECV_INFO[3].len, 3996);
    {
        auto a = append(3, stream(3, 7000, 300));  // room for 100 more
        EXPECT_EQ(a.kept(), 100);
        EXPECT_EQ(a.len(), 4096);
    }
    auto rest = stream(3, 100, 3996);
    auto tail = stream(3, 7000, 100);
    rest.insert(rest.end(), tail.begin(), tail.end());
    EXPECT_EQ(drain(3, 5000), rest);
    EXPECT_EQ(drain(3, 5000), std::vector<unsigned char>{});
    EXPECT_EQ(append(16, in).kept(), 0);
}

TEST_F(ReceiveBuffers, PartialDrainsHandOutTheRestInOrder) {
    (void)append(13, stream(13, 0, 25));
    EXPECT_EQ(drain(13, 10), stream(13, 0, 10));
    EXPECT_EQ(drain(13, 10), stream(13, 10, 10));
    EXPECT_EQ(LIST_MCOM_RECV_INFO[13].len, 5);
    EXPECT_EQ(drain(13, 10), stream(13, 20, 5));
    EXPECT_EQ(LIST_MCOM_RECV_INFO[13].len, 0);

    // Nothing is taken on bad arguments, and the data stays.
    (void)append(0, stream(0, 0, 8));
    unsigned char out[8];
    unsigned char* dest = out;
    unsigned char* none = nullptr;
    EXPECT_EQ(SDK_Read_COM(0, &dest, 0), 0);
    EXPECT_EQ(SDK_Read_COM(0, &dest, -1), 0);
    EXPECT_EQ(SDK_Read_COM(0, nullptr, 8), 0);
    EXPECT_EQ(SDK_Read_COM(0, &none, 8), 0);
    EXPECT_EQ(SDK_Read_COM(16, &dest, 8), 0);
    EXPECT_EQ(SDK_Read_COM(0xFFFFFFFFu, &dest, 8), 0);
    EXPECT_EQ(drain(0, 8), stream(0, 0, 8));
}

TEST_F(ReceiveBuffers, AppendHoldsTheMutexForTheCallersLogLine) {
    {
        auto a = append(5, stream(5, 0, 3));
        EXPECT_FALSE(bsp::com::M_COM_READ_LOCK[5].try_lock());
    }
    ASSERT_TRUE(bsp::com::M_COM_READ_LOCK[5].try_lock());
    bsp::com::M_COM_READ_LOCK[5].unlock();
}

TEST_F(ReceiveBuffers, EmptyBufferIsAnsweredWithoutItsMutex) {
    std::unique_lock held(bsp::com::M_COM_READ_LOCK[7]);
    auto read = std::async(std::launch::async, [] { return drain(7, 10).size(); });
    auto status = read.wait_for(std::chrono::seconds(5));
    held.unlock();
    EXPECT_EQ(status, std::future_status::ready);
    EXPECT_EQ(read.get(), 0u);
}

// One appender and one drainer per buffer, all sixteen pairs at once: each drainer receives its
// appender's stream whole, in order and once, although appends are clipped whenever the buffer is
// full (the appender then offers the rest again).
TEST(ReceiveBuffersThreads, EveryByteHandedOutOnceAndInOrder) {
    constexpr std::size_t kBytes = 48 * 1024;
    constexpr std::size_t kPairs = bsp::com::kRecvBuffers;
    std::vector<std::size_t> bad_at(kPairs, kBytes);
    std::vector<std::size_t> received(kPairs, 0);
    std::vector<std::thread> threads;
    for (std::size_t b = 0; b < kPairs; ++b) {
        threads.emplace_back([b] {
            auto all = stream(b, 0, kBytes);
            for (std::size_t sent = 0, chunk = 1 + b * 37; sent < kBytes; chunk = chunk * 7 % 1500 + 1) {
                std::size_t k = std::min(chunk, kBytes - sent);
                auto a = append(b, std::span(all).subspan(sent, k));
                sent += static_cast<std::size_t>(a.kept());
                if (a.kept() == 0) std::this_thread::yield();
            }
        });
        threads.emplace_back([b, &bad_at, &received] {
            std::vector<unsigned char> out(4096);
            std::size_t got = 0;
            for (int max = 1 + static_cast<int>(b); got < kBytes; max = max * 5 % 4000 + 1) {
                unsigned char* dest = out.data();
                int n = SDK_Read_COM(static_cast<std::uint32_t>(b), &dest, max);
                for (int i = 0; i < n; ++i, ++got)
                    if (out[static_cast<std::size_t>(i)] != stream_byte(b, got) && bad_at[b] == kBytes) bad_at[b] = got;
                if (n == 0) std::this_thread::yield();
            }
            received[b] = got;
        });
    }
    for (auto& t : threads) t.join();
    for (std::size_t b = 0; b < kPairs; ++b) {
        EXPECT_EQ(bad_at[b], kBytes) << "buffer " << b << ": first wrong byte";
        EXPECT_EQ(received[b], kBytes) << "buffer " << b;
        EXPECT_EQ(LIST_MCOM_RECV_INFO[b].len, 0) << "buffer " << b;
    }
}

}  // namespace
