#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "com/receive_buffers.h"
#include "pty_device.h"
#include "support.h"

namespace {

using testing::ElementsAre;
using unit::Bytes;

class UartApi : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        for (int n = 0; n < 7; ++n) ports[n] = std::make_unique<unit::PtyDevice>(root_, "ttymxc" + std::to_string(n + 1));
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
    std::unique_ptr<unit::PtyDevice> ports[7];
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
    EXPECT_THAT(logged(), ElementsAre("SetUartParam:Local/Uart/2 iBaudRate:1234,iDataSize:8,iStopBit:1,iParity:0,result:0",
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
