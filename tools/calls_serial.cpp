// sdk-shell: serial port objects, board link and link watchdog.
#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

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
