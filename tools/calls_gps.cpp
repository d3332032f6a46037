// sdk-shell: the GPS sentence parser, the positioning mode and the GPS API.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <variant>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

// Shows text in the buf:N argument k, cut to N - 1 bytes.
void show(const Call& c, std::size_t k, const char* text) {
    if (auto* out = std::get_if<OutBuffer>(&c.args()[k]))
        std::memcpy(out->bytes.data(), text, std::min(std::strlen(text), out->bytes.size() - 1));
}

// A getter that writes into a buffer of the size the library documents, whatever N was asked
// for; null stays null.
template <int (*F)(char*), std::size_t Size>
Result into_buffer(const Call& c) {
    if (!c.b(0)) return F(nullptr);
    std::array<char, Size> text{};
    int r = F(text.data());
    show(c, 0, text.data());
    return r;
}

const Registration gps_calls{
    // BSP_GPS_READ "<batch, escapes allowed>" COUNT: the count is passed as written, as a C caller would.
    {"BSP_GPS_READ", {"si", [](const Call& c) -> Result { return BSP_GPS_READ(c.s(0), c.i(1)); }}},
    // SET_GPS_BD_dB buf:N: the returned text is shown in the buffer (cut to N - 1 bytes); the
    // result is its full length.
    {"SET_GPS_BD_dB", {"b", [](const Call& c) -> Result {
         const char* text = SET_GPS_BD_dB();
         show(c, 0, text);
         return static_cast<long long>(std::strlen(text));
     }}},
    {"Read_GPS_dB_Flag", {"", [](const Call&) -> Result { return Read_GPS_dB_Flag(); }}},
    // positioning mode
    {"GPS_MODE_UPDATE", {"", [](const Call&) -> Result { return GPS_MODE_UPDATE(); }}},
    {"SDK_GPS_SET_PCAS",
     {"i", [](const Call& c) -> Result { return SDK_GPS_SET_PCAS(static_cast<std::uint32_t>(c.i(0))); }}},
    {"GPS_SET_PCAS", {"i", [](const Call& c) -> Result { return GPS_SET_PCAS(static_cast<std::uint32_t>(c.i(0))); }}},
    {"Read_PositionMode", {"", [](const Call&) -> Result { return Read_PositionMode(); }}},
    {"GPS_DEFAULT_SET", {"", [](const Call&) -> Result { return GPS_DEFAULT_SET(); }}},
    // GPS_COM_WRITE hex:... COUNT out:int: the count is passed as written.
    {"GPS_COM_WRITE", {"xip", [](const Call& c) -> Result {
         std::uint32_t written = 0;
         std::uint32_t r = GPS_COM_WRITE(reinterpret_cast<const char*>(c.x(0)), c.i(1), c.p(2) ? &written : nullptr);
         if (c.p(2)) *c.p(2) = static_cast<int>(written);
         return r;
     }}},
    // gps api: buf:N shows the text (cut to N - 1 bytes); the library writes into its full size.
    {"GET_BSP_GPS_INFO", {"b", into_buffer<GET_BSP_GPS_INFO, SDK_BSP_GPS_INFO_SIZE>}},
    {"GET_BSP_GPS_CSV_INFO", {"b", into_buffer<GET_BSP_GPS_CSV_INFO, SDK_BSP_GPS_INFO_SIZE>}},
    {"GET_GPS_dB_INFO", {"b", into_buffer<GET_GPS_dB_INFO, SDK_BSP_GPS_DB_TEXT_SIZE>}},
    {"SetPositionMode",
     {"i", [](const Call& c) -> Result { return SetPositionMode(static_cast<std::uint32_t>(c.i(0))); }}},
    {"BSP_SET_GPS_PCAS", {"i", [](const Call& c) -> Result { return BSP_SET_GPS_PCAS(c.i(0)); }}},
};

}  // namespace
}  // namespace shell
