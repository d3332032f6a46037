#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../common/power_frames.h"
#include "com/power_codec.h"
#include "support.h"

namespace {

using testing::ElementsAre;

std::string encode(const STR_POWER_CMD& cmd) {
    char frame[SDK_BSP_POWER_FRAME_MAX];
    return std::string(frame, static_cast<std::size_t>(POWER_7E_CMDSend(&cmd, frame)));
}

STR_POWER_CMD command(std::uint8_t ver, std::uint8_t adr, std::uint8_t cid1, std::uint8_t cid2) {
    return {.lead = 0x7E, .VER = ver, .ADR = adr, .CID1 = cid1, .CID2 = cid2, .INFO_LEN = 0, .INFO = {}};
}

// The stored frames (poll, output command, position query) are checked where they are sent, and the
// encoder against every real frame below.
TEST(PowerCodec, EncoderStaysInsideItsBuffer) {
    STR_POWER_CMD cmd = command(0x20, 0x01, 0x46, 0x42);
    char frame[SDK_BSP_POWER_FRAME_MAX + 1];
    std::memset(frame, '#', sizeof frame);
    EXPECT_EQ(POWER_7E_CMDSend(&cmd, nullptr), 0);
    EXPECT_EQ(POWER_7E_CMDSend(nullptr, frame), 0);
    cmd.INFO_LEN = SDK_BSP_POWER_INFO_MAX + 1;
    EXPECT_EQ(POWER_7E_CMDSend(&cmd, frame), 0);
    EXPECT_EQ(frame[0], '#');
    cmd.INFO_LEN = SDK_BSP_POWER_INFO_MAX;
    ASSERT_EQ(POWER_7E_CMDSend(&cmd, frame), SDK_BSP_POWER_FRAME_MAX);
    EXPECT_EQ(std::string(frame, 13), "~20014642E200");  // LENID 512 = 0x200: LCHKSUM 16 - 2 = E
    EXPECT_EQ(std::string(frame + SDK_BSP_POWER_FRAME_MAX - 1, 2), "\r#");
}

TEST(PowerCodec, LengthFieldAndItsCheck) {
    EXPECT_EQ(EnCheckLTH(0), 0x0000);
    EXPECT_EQ(EnCheckLTH(1), 0xE002);
    EXPECT_EQ(EnCheckLTH(2048), 0x0000);  // LENID keeps 12 bits

    const unsigned char b014[] = {0xB0, 0x14}, a014[] = {0xA0, 0x14};
    EXPECT_EQ(CheckLTH(b014, 17), 3);
    EXPECT_EQ(CheckLTH(a014, 18), 1);
    EXPECT_EQ(CheckLTH(a014, 17), 3);  // LENID is judged first
}

TEST(PowerCodec, ChecksumIsAcceptedInOneCaseOnly) {
    char text[20] = "FFFF03540000";
    EXPECT_EQ(EnCheckSum(text, 12), 16);
    EXPECT_EQ(std::string(text, 16), "FFFF03540000FD5C");

    EXPECT_EQ(CheckSum("FFFF03540000fd5c", 16), 0);  // upper-case sums are the real frames' (below)
    EXPECT_EQ(CheckSum("FFFF03540000Fd5C", 16), 1);
    EXPECT_EQ(CheckSum("0000", 4), 0);  // the checksum of nothing
    EXPECT_EQ(CheckSum("0001", 4), 1);
}

TEST(PowerCodec, NibbleAndCharacterConversions) {
    unsigned char data[6] = {0x12, 0xAB, 0x77, 0x77, 0x77, 0x77};
    EXPECT_EQ(Data_Open(data, 2), 4);
    EXPECT_THAT(data, ElementsAre(0x01, 0x02, 0x0A, 0x0B, 0x77, 0x77));
    EXPECT_EQ(Data_Close(data, 4), 2);
    EXPECT_THAT(data, ElementsAre(0x12, 0xAB, 0x00, 0x00, 0x77, 0x77));
    unsigned char odd[4] = {0x01, 0x02, 0x03, 0x77};
    EXPECT_EQ(Data_Close(odd, 3), 1);
    EXPECT_THAT(odd, ElementsAre(0x12, 0x00, 0x00, 0x77));
    unsigned char nibbles[5] = {0x00, 0x09, 0x0A, 0x0F, 0x0C};
    HexToAsc(nibbles, 5);
    EXPECT_THAT(nibbles, ElementsAre('0', '9', 'A', 'F', 0x0C));  // odd count: the last byte stays

    EXPECT_EQ(bsp_AscToHex("aF"), 0xAF);
    EXPECT_EQ(AscToUnShort("fD5c"), 0xFD5C);
    EXPECT_EQ(AscToUnShort("0-1z"), 0x0010);

    unit::FixedClock clock(1719822600);  // 2024-07-01 08:30:00 UTC
    EXPECT_EQ(READ_SYSTEM_UnixTime(), 1719822600);
}

// The real frames: the checkers agree with every verdict, and every valid frame re-encodes to the
// same text.
TEST(PowerFrames, CheckersAndEncoderAgreeWithEveryRealFrame) {
    const auto rows = testfiles::power_frames(SDK_BSP_TESTDATA);
    if (rows.empty()) GTEST_SKIP() << "real power-protocol frames not found under " << SDK_BSP_TESTDATA;
    ASSERT_EQ(rows.size(), 40u);
    int lenid_mismatches = 0, reencoded = 0;
    for (const auto& r : rows) {
        const std::string body = r.body();
        EXPECT_EQ(CheckSum(body.data(), static_cast<int>(body.size())), r.chksum_ok ? 0 : 1) << r.frame;
        std::vector<unsigned char> binary;
        for (std::size_t i = 0; i + 1 < body.size(); i += 2) binary.push_back(bsp_AscToHex(body.data() + i));
        const bool lenid_ok = (AscToUnShort(body.data() + 8) & 0xFFF) == 2 * r.info_bytes;
        EXPECT_EQ(CheckLTH(binary.data() + 4, static_cast<std::uint16_t>(binary.size())), lenid_ok ? (r.lchksum_ok ? 0 : 1) : 3)
            << r.frame;
        lenid_mismatches += !lenid_ok;
        if (!r.chksum_ok || !r.lchksum_ok || !lenid_ok || r.info_bytes > SDK_BSP_POWER_INFO_MAX) continue;
        STR_POWER_CMD cmd = command(static_cast<std::uint8_t>(r.ver), static_cast<std::uint8_t>(r.adr),
                                    static_cast<std::uint8_t>(r.cid1), static_cast<std::uint8_t>(r.cid2));
        cmd.INFO_LEN = r.info_bytes;
        for (unsigned i = 0; i < r.info_bytes; ++i) cmd.INFO[i] = binary[6 + i];
        EXPECT_EQ(encode(cmd), r.frame);
        ++reencoded;
    }
    EXPECT_EQ(lenid_mismatches, 2);  // rows 35 and 36, the standard's checksum-only example
    EXPECT_EQ(reencoded, 32);
}

}  // namespace
