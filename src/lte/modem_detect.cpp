// Module detection and what follows it: the box's modem table, the shell-command runners the
// subsystem uses, the search of the lsusb listing with the network and driver set-up of a newly
// found module, and the IPv4 address of an interface, from the kernel or from ifconfig.
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

#include "lte/lte.h"
#include "os/os.h"

// The modem table: model, USB id as lsusb prints it, data (PPP) device as uci is given it, AT
// device. The module number is the row, from 1.
extern "C" {
SDK_BSP_API const char* ltemm[SDK_BSP_LTEMM_ROWS][SDK_BSP_LTEMM_FIELDS] = {
    {"ZTE3630", "19d2:1509", "ttyUSB2", "/dev/ttyUSB1"},
    {"N720CA04", "2949:8243", "ttyUSB1", "/dev/ttyUSB3"},
    {"gprs", "0001:0001", "ttyS6", "/dev/ttyS6"},
    {"ZTE3630c3b", "19d2:1476", "ttyUSB2", "/dev/ttyUSB1"},
    {"N720CA05", "05c6:8241", "ttyUSB2", "/dev/ttyUSB0"},
    {"N720CA61s2", "2949:8247", "ttyUSB0", "/dev/ttyUSB2"},
    {"ZTE3630", "19d2:1432", "ttyUSB2", "/dev/ttyUSB1"},
    {"ZTE3630tty_GW", "0001:0001", "ttyS6", "/dev/ttyS6"},
    {"VQM4411", "1d9f:9c05", "ttyUSB1", "/dev/ttyUSB3"},
    {"EC20", "2c7c:0125", "/dev/ttyUSB2", "/dev/ttyUSB3"},
    {"EC200T", "2c7c:6026", "/dev/ttyUSB3", "/dev/ttyUSB3"},
    {"EC200S", "2c7c:6002", "/dev/ttyUSB2", "/dev/ttyUSB1"},
    {"M620", "2c7c:6005", "/dev/ttyUSB3", "/dev/ttyUSB3"},
    {"M620A", "1286:4e3c", "/dev/ttyUSB4", "/dev/ttyUSB3"},
    {"M820A", "05c6:9025", "/dev/ttyUSB2", "/dev/ttyUSB3"},
};
SDK_BSP_API int ltemnum = SDK_BSP_LTEMM_ROWS;
}

namespace bsp::lte {
namespace {

enum Field { kModel, kUsbId, kDataDevice, kAtDevice };

// The modules the option1 driver does not bind by itself: detection writes their ids to its new_id.
constexpr int kRegisteredRows[] = {5, 10, 11, 12, 13, 14, 15};
constexpr const char* kNewId = "/sys/bus/usb-serial/drivers/option1/new_id";

constexpr std::size_t kUciOutput = 256;    // what uci_read keeps of an output; its dst holds 257 bytes
constexpr std::size_t kTtyListing = 100;   // readttyUSB's listing
constexpr std::size_t kAddressText = 20;   // an address in NTU's texts: 19 characters at most
constexpr std::size_t kFullListing = 200;  // a shorter ifconfig output is an error message
constexpr std::size_t kAddressMin = 8;     // "10.0.0.1"
constexpr int kPopenAttempts = 6;
constexpr int kAddressAttempts = 3;
constexpr int kSleepCalls = 100;
constexpr std::size_t kErrorText = 50;  // what read_ethip examines of the system's error text
// The buffers the box builds these commands in: each text is well within them.
constexpr std::size_t kSetupCommand = 100;
constexpr std::size_t kShortCommand = 64;

constexpr std::string_view kEntry = "Entry";  // how uci begins "Entry not found"
constexpr std::string_view kInetAddr = "inet addr:";

char g_empty[1] = "";      // cmdread's empty answer
char g_entry[] = "Entry";  // uci_read's answer when uci's message came: not dst, and not null

const char* field(int row, Field f) noexcept {
    const char* text = ltemm[row - 1][f];
    return text ? text : "";
}

// "vvvv:pppp" with hexadecimal digits: the only form put into the driver's registration command.
bool usb_id_ok(std::string_view id) noexcept {
    constexpr std::size_t kLength = 9, kColon = 4;
    if (id.size() != kLength) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (i == kColon ? c != ':' : !hex) return false;
    }
    return true;
}

// A newly found module: the dial-up interface on its data device, and the driver told its ids.
void set_up_module(int row) noexcept {
    const char* data_device = field(row, kDataDevice);
    os::Command uci;
    if (os::shell_literal(data_device, os::Quoting::kBare) &&
        uci.format(kSetupCommand, "uci set network.ppp0.device=%s", data_device))
        uciread(uci.c_str(), nullptr);
    uciread("uci commit", nullptr);
    if (std::find(std::begin(kRegisteredRows), std::end(kRegisteredRows), row) == std::end(kRegisteredRows)) return;
    const char* id = field(row, kUsbId);
    os::Command echo;
    if (usb_id_ok(id) && echo.format(kSetupCommand, "echo \"0x%.4s 0x%.4s\"> %s", id, id + 5, os::Path(kNewId)))
        uciread(echo.c_str(), nullptr);
}

// popen's failure, as uci_read reports it before trying again.
void report_popen_failure(int error) noexcept {
    std::array<char, 128> text{};  // the prefix and a system error text
    std::snprintf(text.data(), text.size(), "open cmderror:%s", std::strerror(error));
    std::printf("error:%s!\n", text.data());
}

// uci_read's and uciread's work: the output (kUciOutput bytes at most) into dst, stripped or not.
char* read_uci_output(const char* command, char* dst, bool strip) noexcept {
    if (!command) return nullptr;
    std::array<char, kUciOutput + 1> out{};
    bool started = false;
    for (int attempt = 0; attempt < kPopenAttempts && !started; ++attempt) {
        started = command_output(command, out.data(), out.size());
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

// The address ifconfig shows after "inet addr:", up to the next space; empty when the listing is
// no full one or the address is not 8 to 19 characters long.
std::string_view ifconfig_address(std::string_view listing) noexcept {
    if (listing.size() < kFullListing) return {};
    const auto at = listing.find(kInetAddr);
    if (at == listing.npos) return {};
    listing.remove_prefix(at + kInetAddr.size());
    const auto end = listing.find(' ');
    if (end == listing.npos || end < kAddressMin || end >= kAddressText) return {};
    return listing.substr(0, end);
}

}  // namespace

bool command_output(const char* command, char* buf, std::size_t size) noexcept {
    if (!buf || size == 0) return false;
    buf[0] = '\0';
    os::Pipe pipe(command);
    if (!pipe) return false;
    const std::size_t n = std::fread(buf, 1, size - 1, pipe.get());
    buf[n] = '\0';
    return true;
}

}  // namespace bsp::lte

using namespace bsp::lte;

extern "C" {

SDK_BSP_API char* cmdread(const char* command, char* buf) noexcept {
    if (!command || !buf || !command_output(command, buf, kCmdreadSize)) return g_empty;
    return std::string_view(buf).find(kEntry) != std::string_view::npos ? g_empty : buf;
}

SDK_BSP_API char* uci_read(const char* command, char* dst) noexcept { return read_uci_output(command, dst, false); }

SDK_BSP_API char* uciread(const char* command, char* dst) noexcept { return read_uci_output(command, dst, true); }

SDK_BSP_API void mysleep(unsigned int seconds) noexcept {
    // Measured on the library's clock, so that a sleep a signal cut short goes on for the rest.
    const long long want_ms = static_cast<long long>(seconds) * 1000;
    const timeval start = bsp::os::time_of_day();
    long long left_ms = want_ms;
    for (int call = 0; call < kSleepCalls && left_ms > 0; ++call) {
        constexpr long long kLongestStep = 1000LL * 1000 * 1000;  // fits a 32-bit long
        bsp::os::sleep_ms(static_cast<long>(std::min(left_ms, kLongestStep)));
        const timeval now = bsp::os::time_of_day();
        const long long elapsed_ms = (static_cast<long long>(now.tv_sec) - start.tv_sec) * 1000 +
                                     (static_cast<long long>(now.tv_usec) - start.tv_usec) / 1000;
        if (elapsed_ms < 0) break;  // the clock went back: the wait cannot be measured
        left_ms = want_ms - elapsed_ms;
    }
}

SDK_BSP_API int readusb(void) noexcept {
    std::array<char, kUciOutput + 1> listing{};
    uci_read("lsusb", listing.data());
    for (int row = 1; row <= kModemRows; ++row) {
        const char* id = field(row, kUsbId);
        if (!*id || !std::strstr(listing.data(), id)) continue;
        store_text(NTU.atdev, field(row, kAtDevice));
        if (word(&NTU_T::mode_id).exchange(row) != row) set_up_module(row);
        return 1;
    }
    return 0;
}

SDK_BSP_API int readttyUSB(void) noexcept {
    const int state = word(&NTU_T::usbstate).load();
    if (state == 1 || state == 2) return 1;
    std::array<char, kTtyListing> listing{};
    bsp::os::Command ls;
    if (ls.format(kShortCommand, "ls %s", bsp::os::Path("/dev/ttyUSB*"))) command_output(ls.c_str(), listing.data(), listing.size());
    std::printf("ls ttyusb=%s\n", listing.data());
    return listing[0] && !std::strstr(listing.data(), "No such file or directory") ? 1 : 0;
}

SDK_BSP_API int read_ethip1(const char* ifname, char* out) noexcept {
    std::array<char, kCmdreadSize> listing{};
    bsp::os::Command ifconfig;
    if (bsp::os::shell_literal(ifname, bsp::os::Quoting::kBare) && ifconfig.format(kShortCommand, "ifconfig %s", ifname))
        cmdread(ifconfig.c_str(), listing.data());
    const std::string_view address = ifconfig_address(listing.data());
    std::array<char, kAddressText> text{};
    if (!address.empty()) std::memcpy(text.data(), address.data(), address.size());  // no address: data() may be null
    if (out) store_text(out, kAddressText, text.data());
    if (address.empty() || !out) return -1;
    std::puts(text.data());
    return 1;
}

SDK_BSP_API int read_ethip(const char* ifname, char* out) noexcept {
    if (!ifname || !out) return 0;
    for (int attempt = 0; attempt < kAddressAttempts; ++attempt) {
        ifreq request{};
        std::memcpy(request.ifr_name, ifname, strnlen(ifname, IFNAMSIZ - 1));
        bsp::os::Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (sock && ::ioctl(sock.get(), SIOCGIFADDR, &request) == 0) {
            std::array<char, INET_ADDRSTRLEN> text{};  // 16 bytes: "255.255.255.255"
            const auto* address = reinterpret_cast<const sockaddr_in*>(&request.ifr_addr);
            ::inet_ntop(AF_INET, &address->sin_addr, text.data(), text.size());
            store_text(out, kAddressText, text.data());
            return 1;
        }
        const std::string_view error(std::strerror(errno));
        if (error.substr(0, kErrorText).find("No such device") != std::string_view::npos)
            return read_ethip1(ifname, out) == 1 ? 1 : 0;
    }
    return read_ethip1(ifname, out) == 1 ? 1 : 0;
}

}  // extern "C"
