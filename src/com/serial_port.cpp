// bsp_m_com: the seven serial port objects. Opens the devices, applies line settings through
// termios, writes whole buffers under a per-port lock and reads whatever is waiting.
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "base/texts.h"
#include "com/ports.h"
#include "os/os.h"

namespace bsp::com {
namespace {

constexpr std::uint32_t kSlots = kPortCount;

// The seven port objects: their devices, descriptors and write locks. Only this table opens,
// closes and writes the ports; the descriptors are read and swapped as single words.
class PortTable {
  public:
    std::atomic_ref<std::int32_t> fd(std::uint32_t index) noexcept { return std::atomic_ref(ports_[index].fd); }
    const char* device(std::uint32_t index) const noexcept { return ports_[index].device; }
    // Opens the device again, closing what was open: the new descriptor, -1 when it cannot be opened.
    int reopen(std::uint32_t index) noexcept {
        // The table owns the descriptor from here to its destruction; close-on-exec, so no command
        // the library runs holds a terminal of the box.
        close(index);
        int d = os::open(ports_[index].device, O_RDWR | O_DSYNC | O_CLOEXEC);
        fd(index).store(d);
        return d;
    }
    void close(std::uint32_t index) noexcept { os::Fd(fd(index).exchange(-1)).reset(); }
    // Writes every byte under the port's write lock, so that one caller's buffer reaches the wire
    // unbroken by other writers: false when a write fails.
    bool write_all(std::uint32_t index, const std::uint8_t* data, std::uint32_t len) noexcept {
        std::lock_guard lock(write_locks_[index]);
        return os::write_all(fd(index).load(), data, len);
    }
    bool claim_start() noexcept { return !started_.exchange(true); }

  private:
    // In port index order. device keeps the box's own path; the root is added when it is opened.
    Port ports_[kPortCount] = {
        {"/dev/ttymxc1", -1}, {"/dev/ttymxc2", -1}, {"/dev/ttymxc3", -1}, {"/dev/ttymxc4", -1},
        {"/dev/ttymxc5", -1}, {"/dev/ttymxc6", -1}, {"/dev/ttymxc7", -1},
    };
    std::array<std::mutex, kPortCount> write_locks_;
    std::atomic<bool> started_{false};
};

constinit PortTable g_ports;

std::atomic_ref<std::int32_t> fd_of(std::uint32_t index) noexcept { return g_ports.fd(index); }

// The error and null-record lines name the operation as the system calls it, and this file's line.
#define COM_FAIL(function, code) port_error(function, __LINE__, (code))

void assert_null(const char* function, int line) noexcept {
    std::printf(texts::kPortNull, texts::kPortModule, function, line);
}
#define COM_ASSERT_NULL(function) assert_null(function, __LINE__)

struct Speed {
    std::uint32_t baud;
    speed_t speed;
};
constexpr std::array<Speed, 11> kSpeeds{{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};
constexpr std::array<tcflag_t, 4> kDataBits{CS5, CS6, CS7, CS8};  // for 5 to 8 bits

}  // namespace

bool fill_line(termios& tio, const ComParams& p) noexcept {
    const Speed* speed = nullptr;
    for (const Speed& s : kSpeeds)
        if (s.baud == p.nBaudrate) speed = &s;
    if (!speed) {
        std::printf("Unsupported nBaudrate %d\n", static_cast<int>(p.nBaudrate));
        return false;
    }
    cfsetispeed(&tio, speed->speed);
    cfsetospeed(&tio, speed->speed);

    switch (p.nParity) {
        case 0: tio.c_cflag &= ~PARENB; tio.c_iflag &= ~INPCK; break;
        case 1: tio.c_cflag |= PARENB | PARODD; tio.c_iflag |= INPCK; break;
        case 2: tio.c_cflag |= PARENB; tio.c_cflag &= ~PARODD; tio.c_iflag |= INPCK; break;
        default: std::printf("Unsupported parity %d\n", static_cast<int>(p.nParity)); return false;
    }

    tio.c_cflag &= ~CSIZE;
    if (p.nDataBits < 5 || p.nDataBits > 8) {
        std::printf("Unsupported data bits %d\n", static_cast<int>(p.nDataBits));
        return false;
    }
    tio.c_cflag |= kDataBits[p.nDataBits - 5];

    tio.c_cflag &= ~CSTOPB;
    if (p.nStopBits == 2) {
        tio.c_cflag |= CSTOPB;
    } else if (p.nStopBits > 1) {
        std::printf("Unsupported stop bits %d\n", static_cast<int>(p.nStopBits));
        return false;
    }
    return true;
}

std::uint32_t port_error(const char* function, int line, std::uint32_t code) noexcept {
    std::printf(texts::kPortError, texts::kPortModule, function, line, code);
    return code;
}

int port_fd(std::uint32_t index) noexcept { return index < kSlots ? fd_of(index).load() : -1; }

const char* port_device(std::uint32_t index) noexcept { return index < kSlots ? g_ports.device(index) : ""; }

std::uint32_t create_port(std::uint32_t index) noexcept {
    constexpr const char* kName = texts::kComCreate;
    if (index >= kSlots) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    // A second create reopens rather than leaking the first descriptor.
    if (g_ports.reopen(index) < 0) {
        std::printf(texts::kPortNotCreated, static_cast<int>(index), g_ports.device(index));
        return COM_FAIL(kName, BSP_COM_ERR_DEVICE);
    }
    std::printf(texts::kPortCreated, static_cast<int>(index), g_ports.device(index));
    return BSP_COM_OK;
}

std::uint32_t destroy_port(std::uint32_t index) noexcept {
    if (index >= kSlots) return COM_FAIL(texts::kComDestroy, BSP_COM_ERR_PARAM);
    g_ports.close(index);
    return BSP_COM_OK;
}

std::uint32_t port_slots() noexcept { return kSlots; }

std::uint32_t port_capability(std::uint32_t index, ComCapability* cap) noexcept {
    constexpr const char* kName = texts::kComGetCapability;
    if (index >= kSlots) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    if (!cap) {
        COM_ASSERT_NULL(kName);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    if (cap->nSize != sizeof(ComCapability)) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    cap->nMinBaudrate = kMinBaudrate;
    cap->nMaxBaudrate = kMaxBaudrate;
    return BSP_COM_OK;
}

std::uint32_t set_port_params(std::uint32_t index, const ComParams* params) noexcept {
    constexpr const char* kName = texts::kComSetParams;
    if (index >= kSlots) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    if (!params) {
        COM_ASSERT_NULL(kName);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    if (params->nSize != sizeof(ComParams)) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    int fd = fd_of(index).load();
    if (fd < 0) return COM_FAIL(kName, BSP_COM_ERR_DEVICE);

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        std::printf("tcgetattr(%d) failed %d!!\n", static_cast<int>(index), errno);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    cfmakeraw(&tio);
    if (!fill_line(tio, *params)) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    tio.c_cc[VTIME] = 0;  // a read returns at once with whatever is waiting
    tio.c_cc[VMIN] = 0;
    if (int r = tcflush(fd, TCIOFLUSH); r != 0) {
        std::printf("tcflush(%d) failed!, %d\n ", static_cast<int>(index), r);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    if (int r = tcsetattr(fd, TCSANOW, &tio); r != 0) {
        std::printf("Tcsetattr(Com = %d) failed !! %d\n", static_cast<int>(index), r);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    return BSP_COM_OK;
}

std::uint32_t write_port(std::uint32_t index, const std::uint8_t* data, std::uint32_t len,
                         std::uint32_t* written) noexcept {
    constexpr const char* kName = texts::kComWrite;
    if (written) *written = 0;
    if (index >= kSlots) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    if (!data && len > 0) {
        COM_ASSERT_NULL(kName);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    if (fd_of(index).load() < 0) return COM_FAIL(kName, BSP_COM_ERR_DEVICE);
    if (!g_ports.write_all(index, data, len)) return COM_FAIL(kName, BSP_COM_ERR_IO);
    if (written) *written = len;
    return BSP_COM_OK;
}

std::uint32_t read_port(std::uint32_t index, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) noexcept {
    constexpr const char* kName = texts::kComRead;
    if (got) *got = 0;
    if (index >= kSlots) return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    if (!buf && len > 0) {
        COM_ASSERT_NULL(kName);
        return COM_FAIL(kName, BSP_COM_ERR_PARAM);
    }
    int fd = fd_of(index).load();
    if (fd < 0) return COM_FAIL(kName, BSP_COM_ERR_DEVICE);
    ssize_t n = ::read(fd, buf, len);
    if (n < 0) return COM_FAIL(kName, BSP_COM_ERR_IO);
    if (got) *got = static_cast<std::uint32_t>(n);
    return BSP_COM_OK;
}

std::uint32_t flush_port(std::uint32_t index) noexcept {
    if (index >= kSlots) return COM_FAIL(texts::kComFlush, BSP_COM_ERR_PARAM);
    int fd = fd_of(index).load();
    if (fd < 0 || tcflush(fd, TCIOFLUSH) != 0) return COM_FAIL(texts::kComFlush, BSP_COM_ERR_DEVICE);
    return BSP_COM_OK;
}

std::uint8_t set_port_line(std::uint32_t index, std::uint32_t baud, std::uint8_t dataBits, std::uint8_t stopBits,
                           std::uint8_t parity) noexcept {
    if (index > 7) return 255;
    ComParams p{};
    p.nSize = sizeof(ComParams);
    p.nBaudrate = baud;
    p.nDataBits = dataBits;
    p.nStopBits = stopBits == 2 ? 2 : stopBits == 1 ? 0 : 1;  // anything but 2 is one stop bit
    p.nParity = parity <= 1 ? parity : 2;                      // anything but none or odd is even
    std::uint32_t r = set_port_params(index, &p);
    if (r != BSP_COM_OK) COM_FAIL(texts::kSetPortLine, r);
    return static_cast<std::uint8_t>(r & 0xFF);
}

void open_ports() noexcept {
    if (!g_ports.claim_start()) return;
    for (std::uint32_t i = 0; i < kSlots; ++i) {
        create_port(i);
        set_port_line(i, kBoardLinkBaud, 8, 1, 0);
    }
}

}  // namespace bsp::com
