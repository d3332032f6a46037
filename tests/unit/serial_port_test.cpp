// The serial ports: their settings and failures on ptys standing in for the box's devices, and the
// Uart API over them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "com/ports.h"
#include "com/receive_buffers.h"
#include "../common/fake_port.h"
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
    unit::FakePort tty(root_, "ttymxc1");
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
        // (parity 3, data bits 4 and stop bits 3 are bad_calls.txt's)
        {params(150, 8, 1, 0), "Unsupported nBaudrate 150\n"}, {params(230400, 8, 1, 0), "Unsupported nBaudrate 230400\n"},
        {params(9600, 9, 1, 0), "Unsupported data bits 9\n"},   {{20, 0, 9600, 8, 1, 0}, ""},
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
    unit::FakePort tty(root_, "ttymxc5");
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

class UartApi : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        for (int n = 0; n < 7; ++n) ports[n] = std::make_unique<unit::FakePort>(root_, "ttymxc" + std::to_string(n + 1));
        for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
        unit::printed([] {
            for (std::uint32_t p = 0; p < 7; ++p) BSP_ComCreate(p);
            BSP_BAU_INIT();
        });
        for (int n : {4, 5}) ports[n]->drain();
        STR_LOG_PAR.so = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        for (std::uint32_t p = 0; p < 7; ++p) SDK_BSP_ComDestroy(p);
        RootedTest::TearDown();
    }
    std::unique_ptr<unit::FakePort> ports[7];
};

TEST_F(UartApi, SettingsAreStoredEvenWhenRefused) {
    EXPECT_THAT(unit::printed([] { EXPECT_EQ(SetUartParam("Local/Uart/2", 1234, 8, 1, 0), 0); }),
                testing::StartsWith("Unsupported nBaudrate 1234\n"));
    termios t = ports[1]->settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(SetUartParam("Local/Uart/9", 230400, 8, 1, 0), 0);
    EXPECT_EQ(ports[5]->read(13), (Bytes{0x7E, 0x00, 0x07, 0x60, 0x00, 0x03, 0x84, 0x00, 0x08, 0x01, 0x00, 0xF7, 0x0D}));
    EXPECT_EQ(SetUartParam("Local/AI/1", 4800, 8, 1, 0), -1);
    int b = 0, d = 0, s = 0, par = 7;
    EXPECT_EQ(GetUartParam("Local/Uart/2", &b, &d, &s, &par), 0);
    EXPECT_EQ(std::tie(b, d, s, par), std::make_tuple(1234, 8, 1, 0));
    b = 5;
    EXPECT_EQ(GetUartParam("Local/Uart/17", &b, &d, &s, &par), -1);
    EXPECT_EQ(b, 5);
    EXPECT_THAT(logged(), testing::ElementsAre("SetUartParam:Local/Uart/2 iBaudRate:1234,iDataSize:8,iStopBit:1,iParity:0,result:0",
                                      "SetUartParam:Local/Uart/9 iBaudRate:230400,iDataSize:8,iStopBit:1,iParity:0,result:0",
                                      "SetUartParam:Local/AI/1 iBaudRate:4800,iDataSize:8,iStopBit:1,iParity:0,result:-1",
                                      "GetUartParam:Local/Uart/2 iBaudRate:1234,iDataSize:8,iStopBit:1,iParity:0,result:0",
                                      "GetUartParam:Local/Uart/17 iBaudRate:5,iDataSize:8,iStopBit:1,iParity:0,result:-1"));
}

TEST_F(UartApi, ReadsWaitOnceAndOnlyWhenNothingIsThere) {
    unit::FixedClock clock(0);
    unsigned char buf[64];
    (void)bsp::com::append(5, unit::bytes("0123456789abcdefghijklmno"));
    EXPECT_EQ(ReadUart("Local/Uart/6", buf, 10, 500), 10);
    EXPECT_EQ(ReadUart("Local/Uart/6", buf + 10, 10, 500), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 20), "0123456789abcdefghij");
    EXPECT_EQ(clock.slept_ms, 0);
    EXPECT_EQ(ReadUart("Local/Uart/6", buf, 64, 500), 5);
    struct Case {
        const char* name;
        unsigned timeout;
        int result;
        long waited;
    };
    for (const Case& c : {Case{"Local/Uart/6", 500, 0, 499}, Case{"Local/Uart/6", 0, 0, 1}, Case{"Local/Uart/6", 1, 0, 1},
                          Case{"Local/Uart/13", 2, 0, 1}, Case{"Local/Uart/16", 10, -1, 9}, Case{"Local/Led/1", 3, -1, 2}}) {
        clock.slept_ms = 0;
        EXPECT_EQ(ReadUart(c.name, buf, 64, c.timeout), c.result) << c.name;
        EXPECT_EQ(clock.slept_ms, c.waited) << c.name << " " << c.timeout;
    }
}

}  // namespace
