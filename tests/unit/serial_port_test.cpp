#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "com/ports.h"
#include "pty_device.h"
#include "support.h"

namespace {

using testing::MatchesRegex;
using unit::Bytes;
using unit::printed;

// "ERROR: FILE:bsp_m_com, FUNCTION:<fn>, LINE:<n>, ErrNo:0x<code>.\n", the line number a pattern.
std::string error_line(const std::string& fn, const std::string& code) {
    return "ERROR: FILE:bsp_m_com, FUNCTION:" + fn + ", LINE:[0-9]+, ErrNo:0x0102000" + code + "\\.\n";
}

ComParams params(std::uint32_t baud, std::uint32_t data, std::uint32_t stop, std::uint32_t parity) {
    return {sizeof(ComParams), 0, baud, data, stop, parity};
}

// Bad indexes, and a null buffer to write, are bad_calls.txt's; here null records on a good index and
// the lines every refusal prints.
TEST(SerialPorts, NullRecordsAreRejected) {
    const std::pair<std::string, std::function<std::uint32_t()>> ops[] = {
        {"ASSERT: FILE: bsp_m_com, FUNCTION:SDK_BSP_ComSetParams, LINE: [0-9]+, x=NULL!\n" +
             error_line("SDK_BSP_ComSetParams", "1"),
         [] { return SDK_BSP_ComSetParams(2, nullptr); }},
        {".*" + error_line("SDK_BSP_ComGetCapbility", "1"), [] { return SDK_BSP_ComGetCapbility(2, nullptr); }},
        {error_line("SDK_BSP_ComSetParams", "1") + error_line("M_BAU_SET_COM", "1"),
         [] { return M_BAU_SET_COM(7, 9600, 8, 1, 0) == 1 ? BSP_COM_ERR_PARAM : 0u; }},
    };
    for (const auto& [expected, call] : ops) {
        std::uint32_t r = 0;
        EXPECT_THAT(printed([&, &c = call] { r = c(); }), MatchesRegex(expected));
        EXPECT_EQ(r, BSP_COM_ERR_PARAM) << expected;
    }
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

class SerialPort : public unit::RootedTest {
  protected:
    void TearDown() override {
        for (std::uint32_t i = 0; i < 7; ++i) SDK_BSP_ComDestroy(i);
        RootedTest::TearDown();
    }
};

TEST_F(SerialPort, SettingsReachTheDeviceOrNothingDoes) {
    unit::PtyDevice tty(root_, "ttymxc1");
    EXPECT_EQ(printed([] { BSP_ComCreate(0); }), "BSP_ComCreate(0, /dev/ttymxc1) success !\n");
    ASSERT_EQ(printed([] { EXPECT_EQ(M_BAU_SET_COM(0, 9600, 8, 1, 0), 0); }), "");
    termios t = tty.settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);
    // A pty keeps the speed, stop bits and odd parity it is given, but always reads back as CS8
    // without PARENB: those two are checked on the settings as built (LineSettings above).
    ASSERT_EQ(M_BAU_SET_COM(0, 300, 7, 2, 1), 0);  // below the reported minimum, still accepted
    t = tty.settings();
    EXPECT_EQ(cfgetospeed(&t), B300);
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
    EXPECT_TRUE(t.c_iflag & INPCK);
    ASSERT_EQ(M_BAU_SET_COM(0, 115200, 5, 1, 2), 0);  // stop bits other than 2 mean one
    t = tty.settings();
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), 0u);

    const std::pair<ComParams, const char*> refused[] = {
        {params(150, 8, 1, 0), "Unsupported nBaudrate 150\n"}, {params(230400, 8, 1, 0), "Unsupported nBaudrate 230400\n"},
        {params(9600, 8, 1, 3), "Unsupported parity 3\n"},      {params(9600, 4, 1, 0), "Unsupported data bits 4\n"},
        {params(9600, 9, 1, 0), "Unsupported data bits 9\n"},   {params(9600, 8, 3, 0), "Unsupported stop bits 3\n"},
        {{20, 0, 9600, 8, 1, 0}, ""},
    };
    for (const auto& [p, line] : refused) {
        std::uint32_t r = 0;
        EXPECT_THAT(printed([&] { r = SDK_BSP_ComSetParams(0, &p); }),
                    MatchesRegex(std::string(line) + error_line("SDK_BSP_ComSetParams", "1")));
        EXPECT_EQ(r, BSP_COM_ERR_PARAM);
        EXPECT_EQ(cfgetospeed(&(t = tty.settings())), B115200) << "a refused setting leaves the previous one";
    }
}

TEST_F(SerialPort, WritesWholeReadsWithoutWaitingAndReportsDeviceFailures) {
    unit::PtyDevice tty(root_, "ttymxc5");
    printed([] { BSP_ComCreate(4), M_BAU_SET_COM(4, 115200, 8, 1, 0); });
    std::uint8_t buf[64];
    std::uint32_t got = 7;
    EXPECT_EQ(SDK_BSP_ComRead(4, buf, sizeof buf, &got), BSP_COM_OK);
    EXPECT_EQ(got, 0u);

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
    ComCapability cap{sizeof cap, 77, 0, 0, {}};
    EXPECT_EQ(SDK_BSP_ComGetCapbility(4, &cap), BSP_COM_OK);
    EXPECT_EQ(std::tie(cap.reserved1, cap.nMinBaudrate, cap.nMaxBaudrate), std::make_tuple(77u, 600u, 115200u));
    EXPECT_EQ(SDK_BSP_ComFlush(4), BSP_COM_OK);

    // The far end hung up: the write fails and says so.
    tty.hang_up();
    std::uint32_t r = 0;
    EXPECT_THAT(printed([&] { r = SDK_BSP_ComWrite(4, data.data(), 3, &written); }),
                MatchesRegex(error_line("SDK_BSP_ComWrite", "2")));
    EXPECT_EQ(r, BSP_COM_ERR_IO);
    EXPECT_EQ(written, 0u);

    // A closed port (a missing device is serial_test.cpp's).
    EXPECT_EQ(SDK_BSP_ComDestroy(4), BSP_COM_OK);
    for (auto [call, name] : {std::pair<std::function<std::uint32_t()>, const char*>{
                                  [&] { return SDK_BSP_ComWrite(4, data.data(), 1, &written); }, "SDK_BSP_ComWrite"},
                              {[] { return SDK_BSP_ComFlush(4); }, "SDK_BSP_ComFlush"}}) {
        EXPECT_THAT(printed([&, c = call] { r = c(); }), MatchesRegex(error_line(name, "4")));
        EXPECT_EQ(r, BSP_COM_ERR_DEVICE);
    }
}

}  // namespace
