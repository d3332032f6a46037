#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "com/receive_buffers.h"
#include "pty_device.h"
#include "support.h"

namespace {

using unit::Bytes;
using unit::operator+;

// The settings frame for 9600 8N1 on one board channel (CID 0x60 + channel).
Bytes settings_9600(std::uint8_t cid) {
    Bytes f{0x7E, 0x00, 0x07, cid, 0x00, 0x00, 0x25, 0x80, 0x08, 0x01, 0x00, 0x00, 0x0D};
    f[11] = static_cast<std::uint8_t>(0x07 + cid + 0x25 + 0x80 + 0x08 + 0x01);
    return f;
}

class UartApi : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        for (int n = 0; n < 7; ++n) ports[n] = std::make_unique<unit::PtyDevice>(root_, "ttymxc" + std::to_string(n + 1));
        for (std::size_t b = 0; b < bsp::com::kRecvBuffers; ++b) bsp::com::clear(b);
        testing::internal::CaptureStdout();
        for (std::uint32_t p = 0; p < 7; ++p) BSP_ComCreate(p);
        BSP_BAU_INIT();
        testing::internal::GetCapturedStdout();
        STR_LOG_PAR.so = 2;
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        for (std::uint32_t p = 0; p < 7; ++p) SDK_BSP_ComDestroy(p);
        RootedTest::TearDown();
    }
    std::string log() { return unit::read_file(box("tmp/sdklog.log")); }
    std::unique_ptr<unit::PtyDevice> ports[7];
};

TEST_F(UartApi, StartUpDefaultsGoToPortsAndBoards) {
    // Nine settings frames: board 1 channels 0..3 and the environment channel, board 2 channels
    // 0, 2, 1, 3 (Uart IDs 9..12 in order).
    EXPECT_EQ(ports[4]->read(5 * 13), settings_9600(0x60) + settings_9600(0x61) + settings_9600(0x62) +
                                          settings_9600(0x63) + settings_9600(0x64));
    EXPECT_EQ(ports[5]->read(4 * 13), settings_9600(0x60) + settings_9600(0x62) + settings_9600(0x61) + settings_9600(0x63));
    for (int p = 0; p < 4; ++p) {
        termios t = ports[p]->settings();
        EXPECT_EQ(cfgetospeed(&t), B9600) << p;
    }
    int b = 0, d = 0, s = 0, par = 7;
    EXPECT_EQ(GetUartParam("Local/Uart/7", &b, &d, &s, &par), 0);
    EXPECT_EQ(std::tie(b, d, s, par), std::make_tuple(9600, 8, 1, 0));
    EXPECT_THAT(log(), testing::HasSubstr("]:GetUartParam:Local/Uart/7 iBaudRate:9600,iDataSize:8,iStopBit:1,iParity:0,result:0"));
}

TEST_F(UartApi, SettingsAreStoredEvenWhenRefused) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(SetUartParam("Local/Uart/2", 1234, 8, 1, 0), 0);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), testing::StartsWith("Unsupported nBaudrate 1234\n"));
    termios t = ports[1]->settings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    int b = 0, d = 0, s = 0, par = 0;
    GetUartParam("Local/Uart/2", &b, &d, &s, &par);
    EXPECT_EQ(b, 1234);

    ports[5]->drain();
    EXPECT_EQ(SetUartParam("Local/Uart/9", 230400, 8, 1, 0), 0);
    EXPECT_EQ(ports[5]->read(13), (Bytes{0x7E, 0x00, 0x07, 0x60, 0x00, 0x03, 0x84, 0x00, 0x08, 0x01, 0x00, 0xF7, 0x0D}));

    EXPECT_EQ(SetUartParam("Local/AI/1", 4800, 8, 1, 0), -1);
    EXPECT_EQ(SetUartParam(nullptr, 4800, 8, 1, 0), -1);
    b = 5;
    EXPECT_EQ(GetUartParam("Local/Uart/17", &b, &d, &s, &par), -1);
    EXPECT_EQ(b, 5);
    const std::string text = log();
    EXPECT_THAT(text, testing::HasSubstr("]:SetUartParam:Local/Uart/2 iBaudRate:1234,iDataSize:8,iStopBit:1,iParity:0,result:0"));
    EXPECT_THAT(text, testing::HasSubstr("]:SetUartParam:Local/AI/1 iBaudRate:4800,iDataSize:8,iStopBit:1,iParity:0,result:-1"));
    EXPECT_THAT(text, testing::HasSubstr("]:GetUartParam:Local/Uart/17 iBaudRate:5,iDataSize:8,iStopBit:1,iParity:0,result:-1"));
}

TEST_F(UartApi, WritesGoToWhatCarriesTheUart) {
    ports[4]->drain();
    ports[5]->drain();
    const unsigned char abc[] = {0x61, 0x62, 0x63};
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteUart("Local/Uart/5", abc, 3), 0);
    EXPECT_EQ(WriteUart("Local/Uart/1", abc, 3), 0);
    EXPECT_EQ(WriteUart("Local/Uart/14", abc, 1), 0);
    for (const char* refused : {"Local/Uart/13", "Local/Uart/15", "Local/Uart/16", "Local/DO/1"})
        EXPECT_EQ(WriteUart(refused, abc, 2), -1) << refused;
    EXPECT_EQ(WriteUart("Local/Uart/5", nullptr, 3), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "61 62 63 61 62 63 61 61 62 61 62 61 62 61 62 ");
    EXPECT_EQ(ports[4]->read(9 + 7), (Bytes{0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D, 0x7E, 0x00, 0x01, 0x84, 0x61,
                                           0xE6, 0x0D}));
    EXPECT_EQ(ports[0]->read(3), (Bytes{0x61, 0x62, 0x63}));
    EXPECT_TRUE(ports[5]->drain().empty());
    const std::string text = log();
    EXPECT_THAT(text, testing::HasSubstr("]:WriteUart resourceName:Local/Uart/5 TXLENTH:3,result=0"));
    EXPECT_THAT(text, testing::HasSubstr("]:WriteUart resourceName:Local/Uart/16 TXLENTH:2,result=-1"));
}

TEST_F(UartApi, ReadsWaitOnceAndOnlyWhenNothingIsThere) {
    unit::FixedClock clock(0);
    unsigned char buf[64];
    (void)bsp::com::append(5, std::span<const unsigned char>(reinterpret_cast<const unsigned char*>("0123456789abcdefghijklmno"), 25));
    EXPECT_EQ(ReadUart("Local/Uart/6", buf, 10, 500), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "0123456789");
    EXPECT_EQ(ReadUart("Local/Uart/6", buf, 10, 500), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "abcdefghij");
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
    EXPECT_EQ(ReadUart("Local/Uart/6", nullptr, 64, 5), -1);
}

}  // namespace
