// sdk-shell: the GPS sentence parser.
#include <algorithm>
#include <cstring>
#include <variant>

#include "sdk_bsp.h"
#include "shell.h"

namespace shell {
namespace {

const Registration gps_calls{
    // BSP_GPS_READ "<batch, escapes allowed>" COUNT: the count is passed as written, as a C caller would.
    {"BSP_GPS_READ", {"si", [](const Call& c) -> Result { return BSP_GPS_READ(c.s(0), c.i(1)); }}},
    // SET_GPS_BD_dB buf:N: the returned text is shown in the buffer (cut to N - 1 bytes); the
    // result is its full length.
    {"SET_GPS_BD_dB", {"b", [](const Call& c) -> Result {
         const char* text = SET_GPS_BD_dB();
         std::size_t n = std::strlen(text);
         if (auto* out = std::get_if<OutBuffer>(&c.args()[0]))
             std::memcpy(out->bytes.data(), text, std::min(n, out->bytes.size() - 1));
         return static_cast<long long>(n);
     }}},
    {"Read_GPS_dB_Flag", {"", [](const Call&) -> Result { return Read_GPS_dB_Flag(); }}},
};

}  // namespace
}  // namespace shell
