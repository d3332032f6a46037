// The modem state record: what a fresh start of the supervisor clears and keeps, and its texts
// handed over between threads under the record's lock.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "lte/lte.h"

namespace {

using bsp::lte::word;

TEST(ModemRecord, DataInitClearsAllButTheIdentities) {
    std::memset(&NTU, 0x5A, sizeof NTU);  // every byte written, as a long-running process leaves it
    bsp::lte::store_text(NTU.imsi, "460023210226023");
    bsp::lte::store_text(NTU.imei, "862140060226843");
    NTU.attimeouts = 7;
    testing::internal::CaptureStdout();
    data_init();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "################NTU.mode_id=0\n");
    // Kept: the identities, the time-out count and the two reserved areas the supervisor leaves.
    NTU_T want{};
    std::strcpy(want.imsi, "460023210226023");
    std::strcpy(want.imei, "862140060226843");
    want.attimeouts = 7;
    std::memset(want.reserved5, 0x5A, sizeof want.reserved5);
    std::memset(want.reserved7, 0x5A, sizeof want.reserved7);
    const auto* got = reinterpret_cast<const unsigned char*>(&NTU);
    const auto* wanted = reinterpret_cast<const unsigned char*>(&want);
    for (std::size_t at = 0; at < sizeof NTU; ++at) ASSERT_EQ(got[at], wanted[at]) << "byte " << at;
}

TEST(ModemRecordThreads, TextsCopiedWhileRewrittenAreWhole) {
    constexpr int kRounds = 20000;
    const std::string kTexts[] = {"-107", "-73", "-101"};
    bsp::lte::store_text(NTU.csq, kTexts[0]);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            bsp::lte::store_text(NTU.csq, kTexts[i % 3]);
            word(&NTU_T::pppdstart).store(0);  // the supervisor clears a request
        }
        done = true;
    });
    int torn = 0;
    while (!done) {
        std::array<char, SDK_BSP_NTU_TEXT_SIZE> copy{};
        bsp::lte::copy_text(copy.data(), copy.size(), NTU.csq);
        const std::string seen = copy.data();
        torn += seen != kTexts[0] && seen != kTexts[1] && seen != kTexts[2];
        word(&NTU_T::pppdstart).store(1);  // a host requests
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
