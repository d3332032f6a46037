// Detection on real lsusb lines, the interface address from the kernel and from ifconfig listings,
// and the runners, through stand-ins in the root's bin/ that print what the test leaves there.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "lte/lte.h"
#include "support.h"

namespace {

class ModemDetect : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        journal_commands();
        for (std::string tool : {"lsusb", "ifconfig", "uci"}) stand_in(tool, "cat \"$(dirname \"$0\")/../" + tool + ".out\"\n");
    }
    void TearDown() override {
        NTU = NTU_T{};
        RootedTest::TearDown();
    }
    std::array<char, bsp::lte::kCmdreadSize> out{};
};

TEST_F(ModemDetect, FirstKnownRowWithinTheFirst256Characters) {
    // Real lines (../shared/testdata/modem/lsusb.txt); a hub's is 64 characters with its end.
    const std::string hub = "Bus 001 Device 001: ID 1d6b:0002 Linux Foundation 2.0 root hub\n";
    const std::string ec20 = "Bus 001 Device 004: ID 2c7c:0125  \n";
    using Case = std::tuple<std::string, int, int, const char*>;  // listing, result, mode_id, atdev
    for (auto [listing, found, mode_id, atdev] :
         {Case{hub + "Bus 002 Device 005: ID 2c7c:6026 Quectel Wireless Solutions Co., Ltd. \n" + ec20, 1, 10, "/dev/ttyUSB3"},
          Case{"Bus 001 Device 023: ID 0001:0001\n", 1, 3, "/dev/ttyS6"},  // row 3, never row 8
          Case{hub + hub + hub + hub + ec20, 0, 3, "/dev/ttyS6"}}) {        // beyond the window: the last stays
        unit::write_file(box("lsusb.out"), listing);
        EXPECT_EQ(readusb(), found) << listing;
        EXPECT_EQ(NTU.mode_id, mode_id) << listing;
        EXPECT_STREQ(NTU.atdev, atdev) << listing;
    }
}

TEST_F(ModemDetect, AddressFromTheKernelElseFromAFullIfconfigListing) {
    auto listing = [](const std::string& address) {
        return "ppp0      Link encap:Point-to-Point Protocol  \n          inet addr:" + address +
               "  P-t-P:10.64.64.64  Mask:255.255.255.255\n" + std::string(120, ' ') + "\n";
    };
    using Case = std::tuple<std::string, int, const char*>;  // listing, result, address
    for (auto [text, result, address] :
         {Case{"inet addr:10.0.0.1 " + std::string(150, ' '), -1, ""},  // shorter than 200
          Case{listing("1.2.3.4"), -1, ""}, Case{listing("10.0.0.1"), 1, "10.0.0.1"}}) {
        unit::write_file(box("ifconfig.out"), text);
        out.fill('x');
        unit::printed([&] { EXPECT_EQ(read_ethip1("ppp0", out.data()), result) << text; });
        EXPECT_STREQ(out.data(), address) << text;
    }
    take("cmdlog");
    EXPECT_EQ(read_ethip1("ppp0;reboot", out.data()), -1);  // no command is built from it
    EXPECT_EQ(read_ethip("lo", out.data()), 1);             // the kernel knows it
    EXPECT_STREQ(out.data(), "127.0.0.1");
    EXPECT_EQ(take("cmdlog"), "");
    unit::printed([&] { EXPECT_EQ(read_ethip("sdkbsp9", out.data()), 1); });  // no such device: ifconfig
    EXPECT_EQ(take("cmdlog"), "ifconfig sdkbsp9\n");
    // The runners: trailing blanks and line ends stripped; uci's "Entry" message is no output.
    EXPECT_STREQ(uciread("printf 'word \\r\\n'", out.data()), "word");
    unit::write_file(box("uci.out"), "uci: Entry not found\n");
    EXPECT_STREQ(cmdread("uci get network.ppp0.device", out.data()), "");
}

}  // namespace
