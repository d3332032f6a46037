// sdk-shell: the serial transport: port objects, board link and link watchdog, receive threads,
// the Uart API, the power-protocol codec and the receive buffers.
//
//   POWER_7E_CMDSend 0xFF 0xFF 0x05 0x55 hex:FF01FFFFFFFFFFFFFFFF buf:64   VER ADR CID1 CID2 INFO frame
//   CheckSum "FFFF03540000FD5C"            CheckLTH hex:B014 18
//   Data_Open hex:12AB bytes:4             HexToAsc hex:010A0F buf:8
//   SDK_Read_COM 0 bytes:4096 100          buffer index, destination, maximum
#include <algorithm>
#include <array>
#include <cstring>
#include <variant>

#include <pthread.h>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

std::size_t out_size(const Call& c, std::size_t k) {
    if (auto* b = std::get_if<OutBuffer>(&c.args()[k])) return b->bytes.size();
    if (auto* b = std::get_if<OutBytes>(&c.args()[k])) return b->bytes.size();
    return 0;
}

// Copies the hex: argument into the output buffer, for the in-place conversions; false when it
// does not fit with the room the conversion needs (need x bytes for each input byte).
bool stage(const Call& c, std::size_t in, unsigned char* out, std::size_t room, std::size_t need) {
    std::size_t n = static_cast<std::size_t>(c.x_len(in));
    if (!out || n * need > room) return false;
    if (n) std::memcpy(out, c.x(in), n);
    return true;
}

// The converters read a fixed number of characters: a shorter text is padded with NULs.
template <std::size_t N>
std::array<char, N + 1> padded(const char* s) {
    std::array<char, N + 1> a{};
    if (s) std::strncpy(a.data(), s, N);
    return a;
}

const Registration com_calls{
    // power-protocol codec
    {"POWER_7E_CMDSend", {"iiiixb", [](const Call& c) -> Result {
         STR_POWER_CMD cmd{};
         cmd.VER = static_cast<std::uint8_t>(c.i(0));
         cmd.ADR = static_cast<std::uint8_t>(c.i(1));
         cmd.CID1 = static_cast<std::uint8_t>(c.i(2));
         cmd.CID2 = static_cast<std::uint8_t>(c.i(3));
         cmd.INFO_LEN = static_cast<std::uint32_t>(c.x_len(4));  // more than 256 is refused by the call
         if (c.x(4)) std::memcpy(cmd.INFO, c.x(4), std::min<std::size_t>(cmd.INFO_LEN, sizeof cmd.INFO));
         if (c.b(5) && out_size(c, 5) <= 2 * std::min<std::size_t>(cmd.INFO_LEN, sizeof cmd.INFO) + 18) return -999;
         return POWER_7E_CMDSend(&cmd, c.b(5));
     }}},
    {"EnCheckLTH", {"i", [](const Call& c) -> Result { return EnCheckLTH(static_cast<std::uint16_t>(c.i(0))); }}},
    {"EnCheckSum", {"sb", [](const Call& c) -> Result {
         std::size_t n = c.s(0) ? std::strlen(c.s(0)) : 0;
         if (!c.b(1) || n + 5 > out_size(c, 1) || n > 0xFFFF) return -999;
         if (n) std::memcpy(c.b(1), c.s(0), n);
         return EnCheckSum(c.b(1), static_cast<std::uint16_t>(n));
     }}},
    {"CheckSum", {"s", [](const Call& c) -> Result {
         return CheckSum(c.s(0), c.s(0) ? static_cast<int>(std::strlen(c.s(0))) : 0);
     }}},
    {"CheckLTH", {"xi", [](const Call& c) -> Result {
         return CheckLTH(c.x_len(0) >= 2 ? c.x(0) : nullptr, static_cast<std::uint16_t>(c.i(1)));
     }}},
    {"HexToAsc", {"xb", [](const Call& c) -> Result {
         auto* out = reinterpret_cast<unsigned char*>(c.b(1));
         if (!stage(c, 0, out, out_size(c, 1) - 1, 1)) return -999;
         HexToAsc(out, static_cast<std::uint16_t>(c.x_len(0)));
         return kVoid;
     }}},
    {"Data_Open", {"xo", [](const Call& c) -> Result {
         if (!stage(c, 0, c.o(1), out_size(c, 1), 2)) return -999;
         return Data_Open(c.o(1), static_cast<std::uint16_t>(c.x_len(0)));
     }}},
    {"Data_Close", {"xo", [](const Call& c) -> Result {
         if (c.x_len(0) > 255 || !stage(c, 0, c.o(1), out_size(c, 1), 1)) return -999;
         return Data_Close(c.o(1), static_cast<std::uint8_t>(c.x_len(0)));
     }}},
    {"bsp_AscToHex", {"s", [](const Call& c) -> Result { return bsp_AscToHex(c.s(0) ? padded<2>(c.s(0)).data() : nullptr); }}},
    {"AscToUnShort", {"s", [](const Call& c) -> Result { return AscToUnShort(c.s(0) ? padded<4>(c.s(0)).data() : nullptr); }}},
    {"READ_SYSTEM_UnixTime", {"", [](const Call&) -> Result { return READ_SYSTEM_UnixTime(); }}},
    // receive buffers: the destination pointer is passed by address, as the Uart API does
    {"SDK_Read_COM", {"ioi", [](const Call& c) -> Result {
         unsigned char* dest = c.o(1);
         int max = std::min(c.i(2), static_cast<int>(out_size(c, 1)));
         return SDK_Read_COM(static_cast<std::uint32_t>(c.i(0)), dest ? &dest : nullptr, max);
     }}},
};

// A thread routine taking a pointer to its port index, started and left running.
Result in_thread(void* (*routine)(void*), int port) {
    static std::array<int, 16> ports{};
    if (port < 0 || port >= static_cast<int>(ports.size())) return -1;
    ports[static_cast<std::size_t>(port)] = port;
    pthread_t t;
    if (pthread_create(&t, nullptr, routine, &ports[static_cast<std::size_t>(port)]) != 0) return -1;
    pthread_detach(t);
    return 0;
}

std::uint32_t u(const Call& c, std::size_t k) { return static_cast<std::uint32_t>(c.i(k)); }
std::uint8_t u8(const Call& c, std::size_t k) { return static_cast<std::uint8_t>(c.i(k)); }

// Counts stored through a u32 pointer are reported through an out:int.
template <typename F>
Result with_count(const Call& c, std::size_t out, F call) {
    std::uint32_t n = 0;
    Result r = call(c.p(out) ? &n : nullptr);
    if (int* p = c.p(out)) *p = static_cast<int>(n);
    return r;
}

const Registration serial_calls{
    // start-up routines; the thread routines are started in a thread of their own
    {"M_COM_READ_THREAD", {"i", [](const Call& c) { return in_thread(M_COM_READ_THREAD, c.i(0)); }}},
    {"EXT_COM_READ_THREAD", {"i", [](const Call& c) { return in_thread(EXT_COM_READ_THREAD, c.i(0)); }}},
    {"ENV_COM_READ_THREAD", {"i", [](const Call& c) { return in_thread(ENV_COM_READ_THREAD, c.i(0)); }}},
    {"ENV_COM_SEND_THREAD", {"i", [](const Call& c) { return in_thread(ENV_COM_SEND_THREAD, c.i(0)); }}},
    // environment link
    {"DO_API_SET_CHECK", {"", [](const Call&) -> Result { return DO_API_SET_CHECK(); }}},
    {"SET_DO_CMD", {"b", [](const Call& c) -> Result {
         std::array<char, SDK_BSP_POWER_FRAME_MAX + 1> frame{};
         int n = SET_DO_CMD(frame.data());
         if (char* out = c.b(0)) std::memcpy(out, frame.data(), std::min(out_size(c, 0), frame.size()));
         return n;
     }}},
    {"SET_ENV_BOARD_RIGHT_FG", {"", [](const Call&) { return none(SET_ENV_BOARD_RIGHT_FG); }}},
    {"REAG_ENV_BOARD_RIGHT_FG", {"", [](const Call&) -> Result { return REAG_ENV_BOARD_RIGHT_FG(); }}},
    // acc (hex), fill, msg out, new fill out
    {"read_a_msg", {"xiop", [](const Call& c) -> Result {
         std::array<unsigned char, 5120> acc{};
         if (c.x(0)) std::memcpy(acc.data(), c.x(0), std::min<std::size_t>(static_cast<std::size_t>(c.x_len(0)), acc.size()));
         std::array<unsigned char, 5120> msg{};
         int n = read_a_msg(acc.data(), msg.data(), c.i(1), c.p(3));
         if (unsigned char* out = c.o(2)) std::memcpy(out, msg.data(), std::min(out_size(c, 2), msg.size()));
         return n;
     }}},
    {"FSU_COM_READ_THREAD_START", {"", [](const Call&) { return none(FSU_COM_READ_THREAD_START); }}},
    {"BSP_BAU_INIT", {"", [](const Call&) { return none(BSP_BAU_INIT); }}},
    // uart api
    {"SetUartParam", {"siiii", [](const Call& c) -> Result { return SetUartParam(c.s(0), c.i(1), c.i(2), c.i(3), c.i(4)); }}},
    {"GetUartParam", {"spppp", [](const Call& c) -> Result { return GetUartParam(c.s(0), c.p(1), c.p(2), c.p(3), c.p(4)); }}},
    {"ReadUart", {"soii", [](const Call& c) -> Result { return ReadUart(c.s(0), c.o(1), c.i(2), u(c, 3)); }}},
    {"WriteUart", {"sxi", [](const Call& c) -> Result { return WriteUart(c.s(0), c.x(1), c.i(2)); }}},
    // serial port objects
    {"BSP_ComCreate", {"i", [](const Call& c) -> Result { return BSP_ComCreate(u(c, 0)); }}},
    {"SDK_BSP_ComDestroy", {"i", [](const Call& c) -> Result { return SDK_BSP_ComDestroy(u(c, 0)); }}},
    {"SDK_BSP_ComGetSlots", {"", [](const Call&) -> Result { return SDK_BSP_ComGetSlots(); }}},
    {"SDK_BSP_ComGetCapbility", {"ipp", [](const Call& c) -> Result {
         ComCapability cap{};
         cap.nSize = sizeof cap;
         Result r = SDK_BSP_ComGetCapbility(u(c, 0), &cap);
         if (int* p = c.p(1)) *p = static_cast<int>(cap.nMinBaudrate);
         if (int* p = c.p(2)) *p = static_cast<int>(cap.nMaxBaudrate);
         return r;
     }}},
    // index, nSize, baud, data bits, stop bits, parity
    {"SDK_BSP_ComSetParams", {"iiiiii", [](const Call& c) -> Result {
         ComParams p{u(c, 1), 0, u(c, 2), u(c, 3), u(c, 4), u(c, 5)};
         return SDK_BSP_ComSetParams(u(c, 0), &p);
     }}},
    {"SDK_BSP_ComWrite", {"ixip", [](const Call& c) -> Result {
         return with_count(c, 3, [&](std::uint32_t* n) { return SDK_BSP_ComWrite(u(c, 0), c.x(1), u(c, 2), n); });
     }}},
    {"SDK_BSP_ComRead", {"ioip", [](const Call& c) -> Result {
         return with_count(c, 3, [&](std::uint32_t* n) { return SDK_BSP_ComRead(u(c, 0), c.o(1), u(c, 2), n); });
     }}},
    {"SDK_BSP_ComFlush", {"i", [](const Call& c) -> Result { return SDK_BSP_ComFlush(u(c, 0)); }}},
    {"M_COM_INIT", {"", [](const Call&) { return none(M_COM_INIT); }}},
    {"M_BAU_SET_COM", {"iiiii", [](const Call& c) -> Result {
         return M_BAU_SET_COM(u(c, 0), u(c, 1), u8(c, 2), u8(c, 3), u8(c, 4));
     }}},
    // board link and link watchdog
    {"INFo_SUM", {"xi", [](const Call& c) -> Result { return INFo_SUM(c.x(0), u(c, 1)); }}},
    {"EXT_TTYSCOM_SEND_INFO",
     {"ixi", [](const Call& c) -> Result { return EXT_TTYSCOM_SEND_INFO(c.i(0), c.x(1), u(c, 2)); }}},
    {"EXT_TTYSCOM_SET_BAU", {"iiiii", [](const Call& c) -> Result {
         return EXT_TTYSCOM_SET_BAU(c.i(0), u(c, 1), u(c, 2), u(c, 3), u(c, 4));
     }}},
    {"ENV_TTYSCOM_SEND_INFO", {"xi", [](const Call& c) -> Result { return ENV_TTYSCOM_SEND_INFO(c.x(0), u(c, 1)); }}},
    {"ENV_TTYSCOM_SET_BAU",
     {"iiii", [](const Call& c) -> Result { return ENV_TTYSCOM_SET_BAU(u(c, 0), u(c, 1), u(c, 2), u(c, 3)); }}},
    {"EXT_TOP_DO_SET", {"ii", [](const Call& c) -> Result { return EXT_TOP_DO_SET(u(c, 0), u(c, 1)); }}},
    {"EXT_TTYSCOM_app_dog", {"i", [](const Call& c) -> Result { return EXT_TTYSCOM_app_dog(u(c, 0)); }}},
    {"RunComDog", {"", [](const Call&) { return none(RunComDog); }}},
    {"Rest_cnt_com_dog", {"i", [](const Call& c) -> Result {
         Rest_cnt_com_dog(c.i(0));
         return kVoid;
     }}},
    {"Return_ComDog_Cnt", {"i", [](const Call& c) -> Result { return Return_ComDog_Cnt(c.i(0)); }}},
};

}  // namespace
}  // namespace shell
