// Module detection on lsusb listings, the interface address from the kernel and from ifconfig
// listings, and the shell-command runners, through stand-ins in the root's bin/ that print what the
// test puts in the root.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "lte/lte.h"
#include "support.h"

namespace {

class ModemDetect : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        journal_commands();
        for (const char* tool : {"lsusb", "ifconfig", "uci"})
            stand_in(tool, std::string("cat \"$(dirname \"$0\")/../") + tool + ".out\"\n");
        bsp::lte::word(&NTU_T::mode_id).store(0);
    }
    void TearDown() override {
        NTU = NTU_T{};
        RootedTest::TearDown();
    }
};

TEST_F(ModemDetect, FirstKnownRowWithinTheFirst256Characters) {
    // Real lines (../shared/testdata/modem/lsusb.txt); a hub line is 64 characters with its end.
    const std::string hub = "Bus 001 Device 001: ID 1d6b:0002 Linux Foundation 2.0 root hub\n";
    const std::string ec200t = "Bus 002 Device 005: ID 2c7c:6026 Quectel Wireless Solutions Co., Ltd. \n";
    const std::string ec20 = "Bus 001 Device 004: ID 2c7c:0125  \n";
    struct Case {
        std::string listing;
        int found, mode_id;
        const char* atdev;
    };
    const Case cases[] = {
        {hub + ec200t + ec20, 1, 10, "/dev/ttyUSB3"},         // the earlier row, not the earlier line
        {hub + "Bus 001 Device 023: ID 0001:0001\n", 1, 3, "/dev/ttyS6"},  // row 3, never row 8
        {hub + hub + hub + hub + ec20, 0, 3, "/dev/ttyS6"},  // beyond the window: the last module stays
        {"", 0, 3, "/dev/ttyS6"},
    };
    for (const Case& c : cases) {
        unit::write_file(box("lsusb.out"), c.listing);
        EXPECT_EQ(readusb(), c.found) << c.listing;
        EXPECT_EQ(NTU.mode_id, c.mode_id) << c.listing;
        EXPECT_STREQ(NTU.atdev, c.atdev) << c.listing;
    }
}

TEST_F(ModemDetect, AddressFromTheKernelElseFromAFullIfconfigListing) {
    const std::string lines = "          UP POINTOPOINT RUNNING NOARP MULTICAST  MTU:1500  Metric:1\n"
                              "          RX packets:0 errors:0 dropped:0 overruns:0 frame:0\n"
                              "          TX packets:0 errors:0 dropped:0 overruns:0 carrier:0\n";
    auto listing = [&](const std::string& address) {
        return "ppp0      Link encap:Point-to-Point Protocol  \n          inet addr:" + address +
               "  P-t-P:10.64.64.64  Mask:255.255.255.255\n" + lines;
    };
    struct Case {
        std::string listing;
        int result;
        const char* address;
    };
    const Case cases[] = {
        {listing("10.0.0.1"), 1, "10.0.0.1"},
        {listing("1.2.3.4"), -1, ""},                     // 7 characters
        {listing("100.100.100.1001234"), 1, "100.100.100.1001234"},
        {listing("100.100.100.10012345"), -1, ""},        // 20 characters
        {"inet addr:10.0.0.1 " + std::string(150, ' '), -1, ""},  // shorter than 200
    };
    std::array<char, SDK_BSP_NTU_TEXT_SIZE> out{};
    for (const Case& c : cases) {
        unit::write_file(box("ifconfig.out"), c.listing);
        out.fill('x');
        unit::printed([&] { EXPECT_EQ(read_ethip1("ppp0", out.data()), c.result) << c.listing; });
        EXPECT_STREQ(out.data(), c.address) << c.listing;
    }
    take("cmdlog");
    EXPECT_EQ(read_ethip1("ppp0;reboot", out.data()), -1);  // no command is built from it
    EXPECT_EQ(read_ethip("lo", out.data()), 1);             // the kernel knows it
    EXPECT_STREQ(out.data(), "127.0.0.1");
    EXPECT_EQ(take("cmdlog"), "");
    unit::write_file(box("ifconfig.out"), listing("10.0.0.1"));
    unit::printed([&] { EXPECT_EQ(read_ethip("sdkbsp9", out.data()), 1); });  // no such device: ifconfig
    EXPECT_STREQ(out.data(), "10.0.0.1");
    EXPECT_EQ(take("cmdlog"), "ifconfig sdkbsp9\n");
}

TEST_F(ModemDetect, RunnersKeepStripOrRefuseTheOutput) {
    std::array<char, bsp::lte::kCmdreadSize> buf{};
    EXPECT_STREQ(uciread("printf 'word \\r\\n'", buf.data()), "word");
    EXPECT_STREQ(uci_read("printf 'word \\r\\n'", buf.data()), "word \r\n");
    unit::write_file(box("uci.out"), "uci: Entry not found\n");
    buf.fill('\0');
    char* found = uci_read("uci get network.ppp0.device", buf.data());
    EXPECT_TRUE(found && found != buf.data());
    EXPECT_STREQ(buf.data(), "");
    EXPECT_EQ(uci_read("true", nullptr), nullptr);
    EXPECT_STREQ(cmdread("uci get network.ppp0.device", buf.data()), "");
    EXPECT_STREQ(cmdread("printf 'a\\nb'", buf.data()), "a\nb");
}

}  // namespace
