#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/receive_buffers.h"
#include "support.h"

namespace {

using bsp::com::append;
using bsp::com::LIST_MCOM_RECV_INFO;
using unit::Bytes;

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

}  // namespace
