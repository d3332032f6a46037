#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "com/com.h"
#include "support.h"

namespace {

std::string encode(const STR_POWER_CMD& cmd) {
    char frame[SDK_BSP_POWER_FRAME_MAX + 1] = {};
    int n = POWER_7E_CMDSend(&cmd, frame);
    return std::string(frame, static_cast<std::size_t>(n));
}

STR_POWER_CMD command(std::uint8_t ver, std::uint8_t adr, std::uint8_t cid1, std::uint8_t cid2) {
    STR_POWER_CMD cmd{};
    cmd.lead = 0x7E;
    cmd.VER = ver;
    cmd.ADR = adr;
    cmd.CID1 = cid1;
    cmd.CID2 = cid2;
    return cmd;
}

TEST(PowerCodec, EncodesTheStoredFramesByteForByte) {
    EXPECT_EQ(encode(command(0xFF, 0xFF, 0x03, 0x54)), "~FFFF03540000FD5C\r");
    EXPECT_EQ(encode(command(0x21, 0x01, 0xD0, 0x90)), "~2101D0900000FD9F\r");
    EXPECT_EQ(encode(bsp::com::output_command(0x01)), "~FFFF0555B014FF01FFFFFFFFFFFFFFFFF7F5\r");

    // The library's stored copies are what the encoder makes of their records.
    EXPECT_EQ(std::string(bsp::com::kPollFrame), encode(command(0xFF, 0xFF, 0x03, 0x54)));
    EXPECT_EQ(std::string(bsp::com::kPositionQueryFrame) + "\r", encode(command(0x21, 0x01, 0xD0, 0x90)));
    EXPECT_EQ(encode(bsp::com::output_command(0x0F)).size(), static_cast<std::size_t>(bsp::com::kOutputCommandChars));
}

TEST(PowerCodec, EncoderRefusesWhatItCannotWriteAndStaysInsideAFullFrame) {
    STR_POWER_CMD cmd = command(0x20, 0x01, 0x46, 0x42);
    char frame[SDK_BSP_POWER_FRAME_MAX + 8];
    std::memset(frame, '#', sizeof frame);
    EXPECT_EQ(POWER_7E_CMDSend(&cmd, nullptr), 0);
    EXPECT_EQ(POWER_7E_CMDSend(nullptr, frame), 0);
    cmd.INFO_LEN = SDK_BSP_POWER_INFO_MAX + 1;
    EXPECT_EQ(POWER_7E_CMDSend(&cmd, frame), 0);
    EXPECT_EQ(frame[0], '#');

    cmd.INFO_LEN = SDK_BSP_POWER_INFO_MAX;
    std::memset(cmd.INFO, 0xA5, sizeof cmd.INFO);
    ASSERT_EQ(POWER_7E_CMDSend(&cmd, frame), SDK_BSP_POWER_FRAME_MAX);
    EXPECT_EQ(std::string(frame + 1, 12), "20014642E200");  // LENID 512 = 0x200: LCHKSUM (16 - 2) = E
    EXPECT_EQ(frame[SDK_BSP_POWER_FRAME_MAX - 1], '\r');
    EXPECT_EQ(frame[SDK_BSP_POWER_FRAME_MAX], '#');
    EXPECT_EQ(CheckSum(frame + 1, SDK_BSP_POWER_FRAME_MAX - 2), 0);
}

TEST(PowerCodec, LengthFieldAndItsCheck) {
    EXPECT_EQ(EnCheckLTH(10), 0xB014);
    EXPECT_EQ(EnCheckLTH(0), 0x0000);
    EXPECT_EQ(EnCheckLTH(1), 0xE002);
    EXPECT_EQ(EnCheckLTH(2048), 0x0000);  // LENID keeps 12 bits: 4096 wraps to 0

    const unsigned char b014[] = {0xB0, 0x14}, a014[] = {0xA0, 0x14}, zero[] = {0x00, 0x00};
    EXPECT_EQ(CheckLTH(b014, 18), 0);
    EXPECT_EQ(CheckLTH(b014, 17), 3);
    EXPECT_EQ(CheckLTH(a014, 18), 1);
    EXPECT_EQ(CheckLTH(a014, 17), 3);  // LENID is looked at first
    EXPECT_EQ(CheckLTH(zero, 8), 0);
    EXPECT_EQ(CheckLTH(zero, 7), 3);
    EXPECT_EQ(CheckLTH(zero, 0), 3);
    EXPECT_EQ(CheckLTH(nullptr, 18), 3);
}

TEST(PowerCodec, ChecksumIsAcceptedInOneCaseOnly) {
    char text[32];
    std::memcpy(text, "FFFF03540000", 12);
    EXPECT_EQ(EnCheckSum(text, 12), 16);
    EXPECT_EQ(std::string(text, 16), "FFFF03540000FD5C");
    EXPECT_EQ(EnCheckSum(nullptr, 12), 16);

    EXPECT_EQ(CheckSum("FFFF03540000FD5C", 16), 0);
    EXPECT_EQ(CheckSum("FFFF03540000fd5c", 16), 0);
    EXPECT_EQ(CheckSum("FFFF03540000Fd5C", 16), 1);
    EXPECT_EQ(CheckSum("FFFF03540000FD5D", 16), 1);
    EXPECT_EQ(CheckSum("FFFF03540000FD5C", 15), 1);  // the checksum is taken from the last four
    EXPECT_EQ(CheckSum("0000", 4), 0);               // the checksum of nothing
    EXPECT_EQ(CheckSum("0001", 4), 1);
    EXPECT_EQ(CheckSum("000", 3), 1);
    EXPECT_EQ(CheckSum("", 0), 1);
    EXPECT_EQ(CheckSum("FFFF", -4), 1);
    EXPECT_EQ(CheckSum(nullptr, 16), 1);
}

TEST(PowerCodec, NibbleAndCharacterConversions) {
    unsigned char data[6] = {0x12, 0xAB, 0x77, 0x77, 0x77, 0x77};
    EXPECT_EQ(Data_Open(data, 2), 4);
    EXPECT_THAT(data, testing::ElementsAre(0x01, 0x02, 0x0A, 0x0B, 0x77, 0x77));
    EXPECT_EQ(Data_Close(data, 4), 2);
    EXPECT_THAT(data, testing::ElementsAre(0x12, 0xAB, 0x00, 0x00, 0x77, 0x77));
    unsigned char odd[4] = {0x01, 0x02, 0x03, 0x77};
    EXPECT_EQ(Data_Close(odd, 3), 1);
    EXPECT_THAT(odd, testing::ElementsAre(0x12, 0x00, 0x00, 0x77));

    unsigned char nibbles[5] = {0x00, 0x09, 0x0A, 0x0F, 0x0C};
    HexToAsc(nibbles, 5);
    EXPECT_THAT(nibbles, testing::ElementsAre('0', '9', 'A', 'F', 0x0C));  // odd count: last byte stays
    HexToAsc(nullptr, 4);
    EXPECT_EQ(Data_Open(nullptr, 3), 6);

    EXPECT_EQ(bsp_AscToHex("aF"), 0xAF);
    EXPECT_EQ(bsp_AscToHex("G1"), 0x01);
    EXPECT_EQ(bsp_AscToHex("9z"), 0x90);
    EXPECT_EQ(bsp_AscToHex(nullptr), 0);
    EXPECT_EQ(AscToUnShort("fD5c"), 0xFD5C);
    EXPECT_EQ(AscToUnShort("0-12"), 0x0012);
    EXPECT_EQ(AscToUnShort(nullptr), 0);
}

TEST(PowerCodec, UnixTimeComesFromTheSystemClock) {
    unit::FixedClock clock(1719822600);  // 2024-07-01 08:30:00 UTC
    EXPECT_EQ(READ_SYSTEM_UnixTime(), 1719822600);
}

// frames.tsv: one frame per row, "~" to a carriage return written as the two characters \r, with
// the validity of its checksum and LCHKSUM, its header fields and its INFO byte count.
struct Row {
    int number;
    std::string frame;  // with a real carriage return
    bool chksum_ok, lchksum_ok;
    unsigned ver, adr, cid1, cid2, info_bytes;
};

std::vector<Row> read_frames() {
    std::ifstream in(std::filesystem::path(SDK_BSP_TESTDATA) / "power/frames.tsv");
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::vector<std::string> col;
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            col.push_back(line.substr(at, tab - at));
        col.push_back(line.substr(at));
        if (col.size() < 8 || !col[0].ends_with("\\r")) continue;
        auto hex = [](const std::string& s) { return static_cast<unsigned>(std::stoul(s, nullptr, 16)); };
        rows.push_back({static_cast<int>(rows.size()) + 1, col[0].substr(0, col[0].size() - 2) + "\r", col[1] == "1",
                        col[2] == "1", hex(col[3]), hex(col[4]), hex(col[5]), hex(col[6]),
                        static_cast<unsigned>(std::stoul(col[7]))});
    }
    return rows;
}

class PowerFrames : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(std::filesystem::path(SDK_BSP_TESTDATA) / "power/frames.tsv"))
            GTEST_SKIP() << "real power-protocol frames not found under " << SDK_BSP_TESTDATA;
        rows_ = read_frames();
        ASSERT_EQ(rows_.size(), 40u);
    }
    // VER through CHKSUM, as received between "~" and the carriage return.
    static std::string body(const Row& r) { return r.frame.substr(1, r.frame.size() - 2); }
    // LENID as written in the frame, against the INFO actually present.
    static bool lenid_matches(const Row& r) {
        return (std::stoul(r.frame.substr(9, 4), nullptr, 16) & 0xFFF) == 2 * r.info_bytes;
    }
    std::vector<Row> rows_;
};

TEST_F(PowerFrames, CheckersAgreeWithEveryRealFrame) {
    int lenid_mismatches = 0;
    for (const Row& r : rows_) {
        std::string text = body(r);
        EXPECT_EQ(CheckSum(text.data(), static_cast<int>(text.size())), r.chksum_ok ? 0 : 1) << "row " << r.number;

        std::vector<unsigned char> binary;
        for (std::size_t i = 0; i + 1 < text.size(); i += 2) binary.push_back(bsp_AscToHex(text.data() + i));
        int expected = lenid_matches(r) ? (r.lchksum_ok ? 0 : 1) : 3;
        lenid_mismatches += !lenid_matches(r);
        EXPECT_EQ(CheckLTH(binary.data() + 4, static_cast<std::uint16_t>(binary.size())), expected) << "row " << r.number;
        EXPECT_EQ(AscToUnShort(text.data() + text.size() - 4), std::stoul(text.substr(text.size() - 4), nullptr, 16));
    }
    EXPECT_EQ(lenid_mismatches, 2);  // the standard's checksum-only example, twice
}

TEST_F(PowerFrames, ValidFramesReencodeToTheSameText) {
    int reencoded = 0;
    for (const Row& r : rows_) {
        if (!r.chksum_ok || !r.lchksum_ok || !lenid_matches(r) || r.info_bytes > SDK_BSP_POWER_INFO_MAX) continue;
        STR_POWER_CMD cmd = command(static_cast<std::uint8_t>(r.ver), static_cast<std::uint8_t>(r.adr),
                                    static_cast<std::uint8_t>(r.cid1), static_cast<std::uint8_t>(r.cid2));
        cmd.INFO_LEN = r.info_bytes;
        for (unsigned i = 0; i < r.info_bytes; ++i)
            cmd.INFO[i] = static_cast<std::uint8_t>(std::stoul(r.frame.substr(13 + 2 * i, 2), nullptr, 16));
        EXPECT_EQ(encode(cmd), r.frame) << "row " << r.number;
        ++reencoded;
    }
    EXPECT_EQ(reencoded, 32);
}

}  // namespace
