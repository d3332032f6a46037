// The modem state record: what a fresh start of the supervisor clears and keeps, and its texts
// handed over between threads under the record's lock.
#include <gtest/gtest.h>

#include <algorithm>
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

    for (auto field : {&NTU_T::pppdstart, &NTU_T::pppdend, &NTU_T::softreboot, &NTU_T::hardreboot, &NTU_T::usbstate,
                       &NTU_T::dialstarted, &NTU_T::reserved3, &NTU_T::mode_id, &NTU_T::cardstat})
        EXPECT_EQ(NTU.*field, 0);
    for (int w : NTU.reserved1) EXPECT_EQ(w, 0);
    for (int w : NTU.reserved2) EXPECT_EQ(w, 0);
    using Text = char[SDK_BSP_NTU_TEXT_SIZE];
    for (Text NTU_T::*field : {&NTU_T::lteip, &NTU_T::lteip1, &NTU_T::atdev, &NTU_T::csq, &NTU_T::netstate,
                               &NTU_T::longitude, &NTU_T::latitude, &NTU_T::high})
        EXPECT_EQ(std::string(NTU.*field, sizeof(Text)), std::string(sizeof(Text), '\0'));
    auto zero = [](const auto& area) {
        const auto* b = reinterpret_cast<const unsigned char*>(&area);
        return std::all_of(b, b + sizeof area, [](unsigned char c) { return c == 0; });
    };
    EXPECT_TRUE(zero(NTU.reserved4));
    EXPECT_TRUE(zero(NTU.reserved6));
    EXPECT_TRUE(zero(NTU.reserved8));
    // Kept: the identities and the time-out count; the two reserved areas the supervisor leaves.
    EXPECT_STREQ(NTU.imsi, "460023210226023");
    EXPECT_STREQ(NTU.imei, "862140060226843");
    EXPECT_EQ(NTU.attimeouts, 7);
    EXPECT_EQ(NTU.reserved5[0], 0x5A);
    EXPECT_EQ(NTU.reserved5[59], 0x5A);
    EXPECT_EQ(NTU.reserved7[3], 0x5A);
}

TEST(ModemRecord, TextsAreCutToTheirField) {
    struct Case {
        const char* text;
        const char* stored;
    };
    for (const Case& c : {Case{"-73", "-73"}, Case{"1234567890123456789", "1234567890123456789"},
                          Case{"12345678901234567890123", "1234567890123456789"}, Case{"", ""}}) {
        std::memset(NTU.csq, 'x', sizeof NTU.csq);
        bsp::lte::store_text(NTU.csq, c.text);
        EXPECT_EQ(std::string(NTU.csq, sizeof NTU.csq), std::string(c.stored) + std::string(20 - std::strlen(c.stored), '\0'));
        std::array<char, 8> out{};
        EXPECT_EQ(bsp::lte::copy_text(out.data(), out.size(), NTU.csq), std::min<std::size_t>(std::strlen(c.stored), 7));
        EXPECT_EQ(std::string(out.data()), std::string(c.stored).substr(0, 7));
    }
    // A host that wrote the whole field without a terminator: the copy stops at the field's end.
    std::memset(NTU.imsi, '4', sizeof NTU.imsi);
    std::array<char, 64> out{};
    EXPECT_EQ(bsp::lte::copy_text(out.data(), out.size(), NTU.imsi), 20u);
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
