#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "com/ports.h"
#include "pty_device.h"
#include "support.h"

namespace {

using testing::ContainsRegex;
using testing::MatchesRegex;
using unit::Bytes;

// "ERROR: FILE:bsp_m_com, FUNCTION:<fn>, LINE:<n>, ErrNo:0x<code>.\n", the line number a pattern.
std::string error_line(const std::string& fn, const std::string& code) {
    return "ERROR: FILE:bsp_m_com, FUNCTION:" + fn + ", LINE:[0-9]+, ErrNo:0x" + code + "\\.\n";
}

template <typename F>
std::string printed(F&& f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

ComParams params(std::uint32_t baud, std::uint32_t data, std::uint32_t stop, std::uint32_t parity) {
    return {sizeof(ComParams), 0, baud, data, stop, parity};
}

TEST(SerialPorts, BadIndexesAreRejectedByEveryOperation) {
    EXPECT_EQ(SDK_BSP_ComGetSlots(), 7u);
    ComParams p = params(9600, 8, 1, 0);
    ComCapability cap{};
    cap.nSize = sizeof cap;
    std::uint8_t byte = 0;
    std::uint32_t count = 99;
    struct Op {
        const char* name;
        std::uint32_t (*call)(ComParams&, ComCapability&, std::uint8_t&, std::uint32_t&);
    };
    const Op ops[] = {
        {"BSP_ComCreate", [](auto&, auto&, auto&, auto&) { return BSP_ComCreate(7); }},
        {"SDK_BSP_ComDestroy", [](auto&, auto&, auto&, auto&) { return SDK_BSP_ComDestroy(7); }},
        {"SDK_BSP_ComGetCapbility", [](auto&, auto& c, auto&, auto&) { return SDK_BSP_ComGetCapbility(7, &c); }},
        {"SDK_BSP_ComSetParams", [](auto& q, auto&, auto&, auto&) { return SDK_BSP_ComSetParams(7, &q); }},
        {"SDK_BSP_ComWrite", [](auto&, auto&, auto& b, auto& n) { return SDK_BSP_ComWrite(7, &b, 1, &n); }},
        {"SDK_BSP_ComRead", [](auto&, auto&, auto& b, auto& n) { return SDK_BSP_ComRead(7, &b, 1, &n); }},
        {"SDK_BSP_ComFlush", [](auto&, auto&, auto&, auto&) { return SDK_BSP_ComFlush(7); }},
    };
    for (const Op& op : ops) {
        std::uint32_t r = 0;
        EXPECT_THAT(printed([&] { r = op.call(p, cap, byte, count); }), MatchesRegex(error_line(op.name, "01020001")));
        EXPECT_EQ(r, BSP_COM_ERR_PARAM) << op.name;
    }
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(M_BAU_SET_COM(8, 9600, 8, 1, 0), 255);
    std::uint8_t r = 0;
    EXPECT_THAT(printed([&] { r = M_BAU_SET_COM(7, 9600, 8, 1, 0); }),
                MatchesRegex(error_line("SDK_BSP_ComSetParams", "01020001") + error_line("M_BAU_SET_COM", "01020001")));
    EXPECT_EQ(r, 1);
}

class SerialPort : public unit::RootedTest {
  protected:
    void TearDown() override {
        for (std::uint32_t i = 0; i < 7; ++i) SDK_BSP_ComDestroy(i);
        RootedTest::TearDown();
    }
    std::uint32_t set(std::uint32_t index, const ComParams& p, std::string* out = nullptr) {
        std::uint32_t r = 0;
        std::string text = printed([&] { r = SDK_BSP_ComSetParams(index, &p); });
        if (out) *out = text;
        return r;
    }
};

TEST_F(SerialPort, OpensUnderTheRootAndReportsMissingDevices) {
    unit::PtyDevice tty(root_, "ttymxc2");
    std::uint32_t r = 0;
    EXPECT_EQ(printed([&] { r = BSP_ComCreate(1); }), "BSP_ComCreate(1, /dev/ttymxc2) success !\n");
    EXPECT_EQ(r, BSP_COM_OK);
    EXPECT_THAT(printed([&] { r = BSP_ComCreate(3); }),
                MatchesRegex("BSP_ComCreate\\(3, /dev/ttymxc4\\) Failed !\n" + error_line("BSP_ComCreate", "01020004")));
    EXPECT_EQ(r, BSP_COM_ERR_DEVICE);
    std::uint8_t b = 1;
    std::uint32_t n = 5;
    EXPECT_THAT(printed([&] { r = SDK_BSP_ComWrite(3, &b, 1, &n); }), MatchesRegex(error_line("SDK_BSP_ComWrite", "01020004")));
    EXPECT_EQ(r, BSP_COM_ERR_DEVICE);
    EXPECT_EQ(n, 0u);
    EXPECT_THAT(printed([&] { EXPECT_EQ(M_BAU_SET_COM(3, 9600, 8, 1, 0), 4); }),
                MatchesRegex(error_line("SDK_BSP_ComSetParams", "01020004") + error_line("M_BAU_SET_COM", "01020004")));
}

TEST_F(SerialPort, SettingsReachTheDeviceOrNothingDoes) {
    unit::PtyDevice tty(root_, "ttymxc1");
    printed([] { BSP_ComCreate(0); });
    std::string out;
    ASSERT_EQ(set(0, params(9600, 8, 1, 0), &out), BSP_COM_OK);
    EXPECT_EQ(out, "");
    termios t = tty.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // A pty keeps the speed, stop bits and odd parity it is given, but always reads back as CS8
    // without PARENB: those two are checked on the settings as built (LineSettings below).
    ASSERT_EQ(set(0, params(300, 7, 2, 1)), BSP_COM_OK);  // below the reported minimum, still accepted
    t = tty.settings();
    EXPECT_EQ(cfgetospeed(&t), B300);
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
    EXPECT_TRUE(t.c_iflag & INPCK);
    ASSERT_EQ(set(0, params(115200, 5, 0, 2)), BSP_COM_OK);
    t = tty.settings();
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), 0u);

    struct Refused {
        ComParams p;
        const char* line;
    };
    const Refused refused[] = {
        {params(150, 8, 1, 0), "Unsupported nBaudrate 150\n"},   {params(230400, 8, 1, 0), "Unsupported nBaudrate 230400\n"},
        {params(9600, 8, 1, 3), "Unsupported parity 3\n"},        {params(9600, 4, 1, 0), "Unsupported data bits 4\n"},
        {params(9600, 9, 1, 0), "Unsupported data bits 9\n"},     {params(9600, 8, 3, 0), "Unsupported stop bits 3\n"},
        {{20, 0, 9600, 8, 1, 0}, ""},
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(set(0, r.p, &out), BSP_COM_ERR_PARAM);
        EXPECT_THAT(out, MatchesRegex(std::string(r.line) + error_line("SDK_BSP_ComSetParams", "01020001")));
        t = tty.settings();
        EXPECT_EQ(cfgetospeed(&t), B115200) << "a refused setting leaves the previous one";
    }

    // Through M_BAU_SET_COM, only the rate and the data bits can be refused.
    EXPECT_EQ(M_BAU_SET_COM(0, 4800, 6, 0, 5), 0);
    EXPECT_EQ(cfgetospeed(&(t = tty.settings())), B4800);
    EXPECT_EQ(M_BAU_SET_COM(0, 4800, 8, 2, 1), 0);
    EXPECT_EQ(tty.settings().c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
}

TEST(LineSettings, DataBitsAndParityAsBuilt) {
    struct Case {
        ComParams p;
        tcflag_t cflag;
    };
    const Case cases[] = {
        {params(9600, 5, 1, 0), CS5 | PARODD},  // no parity clears PARENB only; PARODD stays as it was
        {params(9600, 6, 0, 2), CS6 | PARENB},
        {params(9600, 7, 2, 1), CS7 | PARENB | PARODD | CSTOPB},
        {params(9600, 8, 1, 0), CS8 | PARODD},
    };
    for (const Case& c : cases) {
        termios t{};
        t.c_cflag = PARODD | CSTOPB | CS8;  // what the device had
        ASSERT_TRUE(bsp::com::fill_line(t, c.p));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), c.cflag) << c.p.nDataBits;
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.p.nParity != 0);
    }
}

TEST_F(SerialPort, WritesWholeAndReadsWithoutWaiting) {
    unit::PtyDevice tty(root_, "ttymxc5");
    printed([] { BSP_ComCreate(4); });
    ASSERT_EQ(set(4, params(115200, 8, 1, 0)), BSP_COM_OK);

    std::uint8_t buf[64];
    std::uint32_t got = 7;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SDK_BSP_ComRead(4, buf, sizeof buf, &got), BSP_COM_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    Bytes data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    std::uint32_t written = 0;
    EXPECT_EQ(SDK_BSP_ComWrite(4, data.data(), static_cast<std::uint32_t>(data.size()), &written), BSP_COM_OK);
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(tty.read(data.size()), data);

    tty.write({0x7E, 0x00, 0x0D});
    Bytes in;
    for (int tries = 0; tries < 100 && in.size() < 3; ++tries) {
        ASSERT_EQ(SDK_BSP_ComRead(4, buf, sizeof buf, &got), BSP_COM_OK);
        in.insert(in.end(), buf, buf + got);
        if (got == 0) usleep(10000);
    }
    EXPECT_EQ(in, (Bytes{0x7E, 0x00, 0x0D}));

    ComCapability cap{};
    cap.nSize = sizeof cap;
    cap.reserved1 = 77;
    EXPECT_EQ(SDK_BSP_ComGetCapbility(4, &cap), BSP_COM_OK);
    EXPECT_EQ(cap.nMinBaudrate, 600u);
    EXPECT_EQ(cap.nMaxBaudrate, 115200u);
    EXPECT_EQ(cap.reserved1, 77u);
    EXPECT_EQ(SDK_BSP_ComFlush(4), BSP_COM_OK);

    EXPECT_EQ(SDK_BSP_ComDestroy(4), BSP_COM_OK);
    std::uint32_t r = 0;
    EXPECT_THAT(printed([&] { r = SDK_BSP_ComWrite(4, data.data(), 1, &written); }),
                MatchesRegex(error_line("SDK_BSP_ComWrite", "01020004")));
    EXPECT_EQ(r, BSP_COM_ERR_DEVICE);
    EXPECT_THAT(printed([&] { r = SDK_BSP_ComFlush(4); }), MatchesRegex(error_line("SDK_BSP_ComFlush", "01020004")));
}

TEST_F(SerialPort, NullRecordsAreReportedNotFollowed) {
    unit::PtyDevice tty(root_, "ttymxc3");
    printed([] { BSP_ComCreate(2); });
    std::uint32_t r = 0;
    EXPECT_THAT(printed([&] { r = SDK_BSP_ComSetParams(2, nullptr); }),
                MatchesRegex("ASSERT: FILE: bsp_m_com, FUNCTION:SDK_BSP_ComSetParams, LINE: [0-9]+, x=NULL!\n" +
                             error_line("SDK_BSP_ComSetParams", "01020001")));
    EXPECT_EQ(r, BSP_COM_ERR_PARAM);
    printed([&] { r = SDK_BSP_ComGetCapbility(2, nullptr); });
    EXPECT_EQ(r, BSP_COM_ERR_PARAM);
    printed([&] { r = SDK_BSP_ComWrite(2, nullptr, 4, nullptr); });
    EXPECT_EQ(r, BSP_COM_ERR_PARAM);
}

}  // namespace
