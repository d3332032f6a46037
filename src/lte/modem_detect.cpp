// Module detection and what follows it: the shell-command runners the subsystem uses, the search
// of the lsusb listing for a row of the modem table (ltemm) with the network and driver set-up of
// a newly found module, and the IPv4 address of an interface, from the kernel or from ifconfig.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "base/hex.h"
#include "lte/lte.h"
#include "os/os.h"

namespace bsp::lte {
namespace {

enum Column { kModel, kUsbId, kDataDevice, kAtDevice };

// The modules the option1 driver does not bind by itself: detection writes their ids to its new_id.
constexpr int kRegisteredRows[] = {5, 10, 11, 12, 13, 14, 15};
constexpr const char* kNewId = "/sys/bus/usb-serial/drivers/option1/new_id";

constexpr std::size_t kUciOutput = 256;    // what uci_output keeps of an output; its dst holds 257 bytes
constexpr std::size_t kTtyListing = 100;   // usb_ttys_present's listing
constexpr std::size_t kAddressText = kTextSize;  // an address in NTU's texts: 19 characters at most
constexpr std::size_t kFullListing = 200;  // a shorter ifconfig output is an error message
constexpr std::size_t kAddressMin = 8;     // "10.0.0.1"
constexpr int kPopenAttempts = 6;
constexpr int kAddressAttempts = 3;
constexpr std::size_t kErrorText = 50;  // what interface_address examines of the system's error text
// The buffers the box builds these commands in: each text is well within them.
constexpr std::size_t kSetupCommand = 100;
constexpr std::size_t kShortCommand = 64;

constexpr std::string_view kEntry = "Entry";  // how uci begins "Entry not found"
constexpr std::string_view kInetAddr = "inet addr:";

char g_empty[1] = "";      // read_command's empty answer
char g_entry[] = "Entry";  // uci_output's answer when uci's message came: not dst, and not null

const char* field(int row, Column f) noexcept {
    const char* text = ltemm[row - 1][f];
    return text ? text : "";
}

// "vvvv:pppp" with hexadecimal digits: the only form put into the driver's registration command.
bool usb_id_ok(std::string_view id) noexcept {
    constexpr std::size_t kLength = 9, kColon = 4;
    if (id.size() != kLength) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if (i == kColon ? c != ':' : base::hex_digit(c) < 0) return false;
    }
    return true;
}

// A newly found module: the dial-up interface on its data device, and the driver told its ids.
void set_up_module(int row) noexcept {
    const char* data_device = field(row, kDataDevice);
    os::Command uci;
    if (os::shell_literal(data_device, os::Quoting::kBare) &&
        uci.format(kSetupCommand, "uci set network.ppp0.device=%s", data_device))
        uci_output(uci.c_str(), nullptr, true);
    uci_output("uci commit", nullptr, true);
    if (std::find(std::begin(kRegisteredRows), std::end(kRegisteredRows), row) == std::end(kRegisteredRows)) return;
    const char* id = field(row, kUsbId);
    os::Command echo;
    if (usb_id_ok(id) && echo.format(kSetupCommand, "echo \"0x%.4s 0x%.4s\"> %s", id, id + 5, os::Path(kNewId)))
        uci_output(echo.c_str(), nullptr, true);
}

// popen's failure, as uci_output reports it before trying again.
void report_popen_failure(int error) noexcept {
    std::array<char, 128> text{};  // the prefix and a system error text
    std::snprintf(text.data(), text.size(), "open cmderror:%s", std::strerror(error));
    std::printf("error:%s!\n", text.data());
}

}  // namespace

// The output (kUciOutput bytes at most) into dst, stripped or not.
char* uci_output(const char* command, char* dst, bool strip) noexcept {
    if (!command) return nullptr;
    std::array<char, kUciOutput + 1> out{};
    bool started = false;
    for (int attempt = 0; attempt < kPopenAttempts && !started; ++attempt) {
        started = os::read_output(command, out.data(), out.size());
        if (!started) report_popen_failure(errno);
    }
    if (!started) return nullptr;
    if (std::string_view(out.data()).find(kEntry) != std::string_view::npos) return g_entry;
    if (!dst) return nullptr;
    std::size_t n = std::strlen(out.data());
    while (strip && n > 0 && std::strchr(" \r\n", out[n - 1])) --n;
    std::memcpy(dst, out.data(), n);
    dst[n] = '\0';
    return dst;
}

namespace {

// The address ifconfig shows after "inet addr:", up to the next space; empty when the listing is
// no full one or the address is not 8 to 19 characters long.
std::string_view address_in_listing(std::string_view listing) noexcept {
    if (listing.size() < kFullListing) return {};
    const auto at = listing.find(kInetAddr);
    if (at == listing.npos) return {};
    listing.remove_prefix(at + kInetAddr.size());
    const auto end = listing.find(' ');
    if (end == listing.npos || end < kAddressMin || end >= kAddressText) return {};
    return listing.substr(0, end);
}

}  // namespace

char* read_command(const char* command, char* buf) noexcept {
    if (!command || !buf || !os::read_output(command, buf, kCmdreadSize)) return g_empty;
    return std::string_view(buf).find(kEntry) != std::string_view::npos ? g_empty : buf;
}

int detect_module() noexcept {
    std::array<char, kUciOutput + 1> listing{};
    uci_output("lsusb", listing.data(), false);
    for (int row = 1; row <= kModemRows; ++row) {
        const char* id = field(row, kUsbId);
        if (!*id || !std::strstr(listing.data(), id)) continue;
        set_text(Field::kAtdev, field(row, kAtDevice));
        if (exchange_word(Word::kModeId, row) != row) set_up_module(row);
        return 1;
    }
    return 0;
}

int usb_ttys_present() noexcept {
    const int state = word(Word::kUsbstate);
    if (state == 1 || state == 2) return 1;
    std::array<char, kTtyListing> listing{};
    os::Command ls;
    if (ls.format(kShortCommand, "ls %s", os::Path("/dev/ttyUSB*"))) os::read_output(ls.c_str(), listing.data(), listing.size());
    std::printf("ls ttyusb=%s\n", listing.data());
    return listing[0] && !std::strstr(listing.data(), "No such file or directory") ? 1 : 0;
}

int listed_address(const char* ifname, char* out) noexcept {
    std::array<char, kCmdreadSize> listing{};
    os::Command ifconfig;
    if (os::shell_literal(ifname, os::Quoting::kBare) && ifconfig.format(kShortCommand, "ifconfig %s", ifname))
        read_command(ifconfig.c_str(), listing.data());
    const std::string_view address = address_in_listing(listing.data());
    std::array<char, kAddressText> text{};
    address.copy(text.data(), address.size());  // an empty view may have no data at all
    if (out) put_text(out, kAddressText, text.data());
    if (address.empty() || !out) return -1;
    std::puts(text.data());
    return 1;
}

int interface_address(const char* ifname, char* out) noexcept {
    if (!ifname || !out) return 0;
    for (int attempt = 0; attempt < kAddressAttempts; ++attempt) {
        ifreq request{};
        std::memcpy(request.ifr_name, ifname, strnlen(ifname, IFNAMSIZ - 1));
        os::Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (sock && ::ioctl(sock.get(), SIOCGIFADDR, &request) == 0) {
            std::array<char, INET_ADDRSTRLEN> text{};  // 16 bytes: "255.255.255.255"
            const auto* address = reinterpret_cast<const sockaddr_in*>(&request.ifr_addr);
            ::inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size());
            put_text(out, kAddressText, text.data());
            return 1;
        }
        const std::string_view error(std::strerror(errno));
        if (error.substr(0, kErrorText).find("No such device") != std::string_view::npos)
            return listed_address(ifname, out) == 1 ? 1 : 0;
    }
    return listed_address(ifname, out) == 1 ? 1 : 0;
}

}  // namespace bsp::lte
