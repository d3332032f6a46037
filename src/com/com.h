// What the serial transport's files share: port objects, the board-link frame, receive buffers,
// the power-protocol codec.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>

#include <termios.h>

#include "sdk_bsp.h"

namespace bsp::com {

// Module names printed in the error and start-up lines.
constexpr const char* kPortModule = "bsp_m_com";
constexpr const char* kThreadModule = "com_process";

// ---- serial port objects ----
constexpr std::uint32_t kPortCount = 7;
enum PortIndex : std::uint32_t { kPortBoard1 = 4, kPortBoard2 = 5, kPortGps = 6 };
constexpr std::uint32_t kMinBaudrate = 600;  // reported as the lowest rate, though 300 is accepted
constexpr std::uint32_t kMaxBaudrate = 115200;
constexpr std::uint32_t kBoardLinkBaud = 115200;  // every port's rate after M_COM_INIT

struct ComObj {
    char devName[32];  // the box's device path, NUL padded
    std::int32_t fd;   // -1 while not open
};

// Puts speed, parity, data bits and stop bits into tio. Prints the line of the first unsupported
// value and returns false, tio then half filled and not to be applied.
bool fill_line(termios& tio, const ComParams& p) noexcept;

// The descriptor of an open port, -1 otherwise (and for an index out of range).
int port_fd(std::uint32_t index) noexcept;
const char* port_device(std::uint32_t index) noexcept;

// ---- board-link frames ----
// 0x7E, payload length (16 bits, big-endian), CID, payload, 8-bit sum of length..payload, 0x0D.
constexpr std::uint8_t kFrameStart = 0x7E;
constexpr std::uint8_t kFrameEnd = 0x0D;
constexpr std::size_t kFrameOverhead = 6;
constexpr std::size_t kFrameArea = 5120;  // one frame is built (and received) in this much room
constexpr std::size_t kMaxPayload = kFrameArea - kFrameOverhead;

enum Cid : std::uint8_t {
    kCidPresent = 0x41,   // board to host: the board is there
    kCidRecvInfo = 0x50,  // + channel: data received on a board channel (0x54 the environment channel)
    kCidSetBau = 0x60,    // + channel: line settings for a board channel
    kCidSendInfo = 0x80,  // + channel: data for a board channel
    kCidAppDog = 0x92,    // keep-alive, no payload
};
constexpr std::uint32_t kEnvChannel = 4;  // board 1's fifth channel leads to the environment equipment

// Where a receive-buffer index 4..11 (Uart ID - 1) lives on the boards.
struct BoardChannel {
    std::uint32_t port;     // kPortBoard1 or kPortBoard2
    std::uint32_t channel;  // 0..3
};
// False for an index outside 4..11.
bool board_channel(std::int32_t index, BoardChannel& out) noexcept;
// The other way: the receive buffer of a board channel's data, -1 for none.
int receive_buffer(std::uint32_t port, std::uint32_t channel) noexcept;

// ---- receive threads ----
constexpr std::uint32_t kReadArea = 4096;  // one poll of a pass-through or the GPS port
constexpr std::size_t kEnvBuffer = 13;     // Uart ID 14, the environment channel

// "STUMP[%03d]: FILE: com_process, FUNCTION: %s, LINE: %d." on standard output.
void stump(int number, const char* function, int line) noexcept;
// The port index a thread routine is handed (-1 for none).
int port_argument(void* arg) noexcept;
// One read of a port: the count, 0 when nothing came or the read failed.
std::uint32_t poll_port(int port, std::uint8_t* into, std::uint32_t room) noexcept;
// Handles one whole board-link frame received on a board port: presence, or channel data into
// its receive buffer. Returns the buffer filled, -1 for none.
int handle_frame(int port, const std::uint8_t* frame, int size) noexcept;

// What one board-link thread keeps between its passes: the bytes that do not form a frame yet.
class LinkReceiver {
  public:
    explicit LinkReceiver(int port) noexcept : port_(port) {}
    // One pass of the thread's loop: an area full without a whole frame is emptied (all of it is
    // lost), read(into, room) adds what the port has, then every whole frame is cut out and
    // handled. Returns the frames handled.
    template <typename Read>
    int step(Read&& read) noexcept {
        if (fill_ == static_cast<int>(kFrameArea)) {
            acc_.fill(0);
            fill_ = 0;
        }
        fill_ += static_cast<int>(read(acc_.data() + fill_, static_cast<std::uint32_t>(kFrameArea) - fill_));
        int frames = 0;
        for (int size; (size = read_a_msg(acc_.data(), msg_.data(), fill_, &fill_)) != 0; ++frames)
            handle_frame(port_, msg_.data(), size);
        return frames;
    }
    int fill() const noexcept { return fill_; }

  private:
    int port_;
    std::array<std::uint8_t, kFrameArea> acc_{}, msg_{};
    int fill_ = 0;
};

// ---- environment link ----
// One second of the environment send loop: the output command when a request is pending (taking
// the requests), else the poll. Returns the frame to send, built in area.
std::string_view next_env_frame(std::array<char, SDK_BSP_POWER_FRAME_MAX>& area) noexcept;

// ---- uart api ----
constexpr std::uint32_t kUartCount = 16;
constexpr int kEnvUart = 14;  // the environment channel

// The Uart API by numeric Uart ID rather than by name.
int SetUartParam_FromResourceName(int id, int baud, int data_bits, int stop_bits, int parity) noexcept;
int GetUartParam_FromResourceName(int id, int* baud, int* data_bits, int* stop_bits, int* parity) noexcept;
int ReadUart_FromResourceName(int id, std::uint8_t* buffer, int max, std::uint32_t timeout) noexcept;
int WriteUart_FromResourceName(int id, const std::uint8_t* data, int len) noexcept;

// ---- power-protocol frames -----------------------------------------------------------------

// The poll the environment send loop sends once a second when no output change is pending.
constexpr std::string_view kPollFrame{"~FFFF03540000FD5C\r"};
// The position query sent on the modem's AT port; stored without its carriage return, which the
// AT channel's line end supplies.
constexpr std::string_view kPositionQueryFrame{"~2101D0900000FD9F"};

// The output command: INFO byte 1 is the output mask (bit i set = output i + 1 on), every other
// INFO byte 0xFF, ten of them sent. Encoded it is kOutputCommandChars long.
constexpr std::uint32_t kOutputCommandInfo = 10;
constexpr int kOutputCommandChars = 2 * kOutputCommandInfo + 18;
constexpr STR_POWER_CMD output_command(std::uint8_t mask) noexcept {
    STR_POWER_CMD cmd{};
    cmd.VER = 0xFF;
    cmd.ADR = 0xFF;
    cmd.CID1 = 0x05;
    cmd.CID2 = 0x55;
    cmd.INFO_LEN = kOutputCommandInfo;
    for (auto& b : cmd.INFO) b = 0xFF;
    cmd.INFO[1] = mask;
    return cmd;
}

// ---- receive buffers -----------------------------------------------------------------------

constexpr std::size_t kRecvBuffers = SDK_BSP_RECV_BUFFERS;       // buffer index = Uart ID - 1
constexpr std::int32_t kRecvBufferSize = SDK_BSP_RECV_BUFFER_SIZE;

// One receive buffer: the oldest byte first. len is read without the mutex (the drain's empty
// test), so every access to it goes through std::atomic_ref; both change only under the mutex.
struct MCOM_RECV_INFO {
    std::array<unsigned char, kRecvBufferSize> buf;
    std::int32_t len;
};

extern std::array<MCOM_RECV_INFO, kRecvBuffers> LIST_MCOM_RECV_INFO;
extern std::array<std::mutex, kRecvBuffers> M_COM_READ_LOCK;

// The outcome of an append, holding the buffer's mutex until it goes out of scope, so that the
// appender's log line describes the buffer as it was left.
class [[nodiscard]] Appended {
  public:
    Appended() noexcept = default;
    Appended(std::unique_lock<std::mutex> lock, std::int32_t kept, std::int32_t len) noexcept
        : lock_(std::move(lock)), kept_(kept), len_(len) {}
    std::int32_t kept() const noexcept { return kept_; }  // bytes taken in
    std::int32_t len() const noexcept { return len_; }    // the buffer's new fill count

  private:
    std::unique_lock<std::mutex> lock_;
    std::int32_t kept_ = 0;
    std::int32_t len_ = 0;
};

// Appends as many of the bytes as fit behind the buffer's data; the rest is lost (a full buffer
// keeps its old bytes and drops new ones). An index above 15 keeps nothing and locks nothing.
Appended append(std::size_t index, std::span<const unsigned char> bytes) noexcept;

// Empties a buffer: all its bytes zero, fill count 0.
void clear(std::size_t index) noexcept;

}  // namespace bsp::com

// Applies the stored line settings of one Uart (index = ID - 1) to what carries it; -1 (as
// unsigned) for an index above 15.
extern "C" std::uint32_t COM_BAU_INIT(std::uint32_t index) noexcept;
