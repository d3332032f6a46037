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

#include "com/ports.h"
#include "os/os.h"

namespace bsp::com {
namespace {

// The table of port objects, in port index order. devName keeps the box's own path; the root is
// added when the device is opened.
ComObj g_stComObj[kPortCount] = {
    {"/dev/ttymxc1", -1}, {"/dev/ttymxc2", -1}, {"/dev/ttymxc3", -1}, {"/dev/ttymxc4", -1},
    {"/dev/ttymxc5", -1}, {"/dev/ttymxc6", -1}, {"/dev/ttymxc7", -1},
};
constexpr std::uint32_t g_nComSlots = kPortCount;

// One write lock per port index; the table has room for 16, only the first seven are used.
std::array<std::mutex, 16> COM_WRITE_LOCK;

std::atomic_ref<std::int32_t> fd_of(std::uint32_t index) noexcept { return std::atomic_ref(g_stComObj[index].fd); }

// The error line printed before every error return, and the code itself.
std::uint32_t fail(const char* function, int line, std::uint32_t code) noexcept {
    std::printf("ERROR: FILE:%s, FUNCTION:%s, LINE:%d, ErrNo:0x%08x.\n", kPortModule, function, line, code);
    return code;
}
#define COM_FAIL(code) fail(__func__, __LINE__, (code))

void assert_null(const char* function, int line) noexcept {
    std::printf("ASSERT: FILE: %s, FUNCTION:%s, LINE: %d, x=NULL!\n", kPortModule, function, line);
}
#define COM_ASSERT_NULL() assert_null(__func__, __LINE__)

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

std::atomic<bool> g_ports_started{false};

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

int port_fd(std::uint32_t index) noexcept { return index < g_nComSlots ? fd_of(index).load() : -1; }

const char* port_device(std::uint32_t index) noexcept {
    return index < g_nComSlots ? g_stComObj[index].devName : "";
}

}  // namespace bsp::com

using namespace bsp::com;

extern "C" {

SDK_BSP_API std::uint32_t BSP_ComCreate(std::uint32_t index) noexcept {
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    ComObj& port = g_stComObj[index];
    // A second create reopens rather than leaking the first descriptor. The table owns the
    // descriptor from here to SDK_BSP_ComDestroy; close-on-exec, so no command the library runs
    // holds a terminal of the box.
    bsp::os::Fd(fd_of(index).exchange(-1)).reset();
    int fd = bsp::os::open(port.devName, O_RDWR | O_DSYNC | O_CLOEXEC);
    fd_of(index).store(fd);
    if (fd < 0) {
        std::printf("BSP_ComCreate(%d, %s) Failed !\n", static_cast<int>(index), port.devName);
        return COM_FAIL(BSP_COM_ERR_DEVICE);
    }
    std::printf("BSP_ComCreate(%d, %s) success !\n", static_cast<int>(index), port.devName);
    return BSP_COM_OK;
}

SDK_BSP_API std::uint32_t SDK_BSP_ComDestroy(std::uint32_t index) noexcept {
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    bsp::os::Fd(fd_of(index).exchange(-1)).reset();
    return BSP_COM_OK;
}

SDK_BSP_API std::uint32_t SDK_BSP_ComGetSlots(void) noexcept { return g_nComSlots; }

SDK_BSP_API std::uint32_t SDK_BSP_ComGetCapbility(std::uint32_t index, ComCapability* cap) noexcept {
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    if (!cap) {
        COM_ASSERT_NULL();
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    if (cap->nSize != sizeof(ComCapability)) return COM_FAIL(BSP_COM_ERR_PARAM);
    cap->nMinBaudrate = kMinBaudrate;
    cap->nMaxBaudrate = kMaxBaudrate;
    return BSP_COM_OK;
}

SDK_BSP_API std::uint32_t SDK_BSP_ComSetParams(std::uint32_t index, const ComParams* params) noexcept {
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    if (!params) {
        COM_ASSERT_NULL();
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    if (params->nSize != sizeof(ComParams)) return COM_FAIL(BSP_COM_ERR_PARAM);
    int fd = fd_of(index).load();
    if (fd < 0) return COM_FAIL(BSP_COM_ERR_DEVICE);

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        std::printf("tcgetattr(%d) failed %d!!\n", static_cast<int>(index), errno);
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    cfmakeraw(&tio);
    if (!fill_line(tio, *params)) return COM_FAIL(BSP_COM_ERR_PARAM);
    tio.c_cc[VTIME] = 0;  // a read returns at once with whatever is waiting
    tio.c_cc[VMIN] = 0;
    if (int r = tcflush(fd, TCIOFLUSH); r != 0) {
        std::printf("tcflush(%d) failed!, %d\n ", static_cast<int>(index), r);
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    if (int r = tcsetattr(fd, TCSANOW, &tio); r != 0) {
        std::printf("Tcsetattr(Com = %d) failed !! %d\n", static_cast<int>(index), r);
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    return BSP_COM_OK;
}

SDK_BSP_API std::uint32_t SDK_BSP_ComWrite(std::uint32_t index, const std::uint8_t* data, std::uint32_t len,
                                          std::uint32_t* written) noexcept {
    if (written) *written = 0;
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    if (!data && len > 0) {
        COM_ASSERT_NULL();
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    if (fd_of(index).load() < 0) return COM_FAIL(BSP_COM_ERR_DEVICE);
    {
        // One caller's buffer reaches the wire unbroken by other writers on the same port.
        std::lock_guard lock(COM_WRITE_LOCK[index]);
        int fd = fd_of(index).load();
        for (std::uint32_t done = 0; done < len;) {
            ssize_t n = ::write(fd, data + done, len - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return COM_FAIL(BSP_COM_ERR_IO);
            done += static_cast<std::uint32_t>(n);
        }
    }
    if (written) *written = len;
    return BSP_COM_OK;
}

SDK_BSP_API std::uint32_t SDK_BSP_ComRead(std::uint32_t index, std::uint8_t* buf, std::uint32_t len,
                                         std::uint32_t* got) noexcept {
    if (got) *got = 0;
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    if (!buf && len > 0) {
        COM_ASSERT_NULL();
        return COM_FAIL(BSP_COM_ERR_PARAM);
    }
    int fd = fd_of(index).load();
    if (fd < 0) return COM_FAIL(BSP_COM_ERR_DEVICE);
    ssize_t n = ::read(fd, buf, len);
    if (n < 0) return COM_FAIL(BSP_COM_ERR_IO);
    if (got) *got = static_cast<std::uint32_t>(n);
    return BSP_COM_OK;
}

SDK_BSP_API std::uint32_t SDK_BSP_ComFlush(std::uint32_t index) noexcept {
    if (index >= g_nComSlots) return COM_FAIL(BSP_COM_ERR_PARAM);
    int fd = fd_of(index).load();
    if (fd < 0 || tcflush(fd, TCIOFLUSH) != 0) return COM_FAIL(BSP_COM_ERR_DEVICE);
    return BSP_COM_OK;
}

SDK_BSP_API std::uint8_t M_BAU_SET_COM(std::uint32_t index, std::uint32_t baud, std::uint8_t dataBits,
                                      std::uint8_t stopBits, std::uint8_t parity) noexcept {
    if (index > 7) return 255;
    ComParams p{};
    p.nSize = sizeof(ComParams);
    p.nBaudrate = baud;
    p.nDataBits = dataBits;
    p.nStopBits = stopBits == 2 ? 2 : stopBits == 1 ? 0 : 1;  // anything but 2 is one stop bit
    p.nParity = parity <= 1 ? parity : 2;                      // anything but none or odd is even
    std::uint32_t r = SDK_BSP_ComSetParams(index, &p);
    if (r != BSP_COM_OK) fail("M_BAU_SET_COM", __LINE__, r);
    return static_cast<std::uint8_t>(r & 0xFF);
}

SDK_BSP_API void M_COM_INIT(void) noexcept {
    if (g_ports_started.exchange(true)) return;
    for (std::uint32_t i = 0; i < g_nComSlots; ++i) {
        BSP_ComCreate(i);
        M_BAU_SET_COM(i, kBoardLinkBaud, 8, 1, 0);
    }
}

}  // extern "C"
