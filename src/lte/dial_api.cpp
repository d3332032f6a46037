// The Dial API: the host's requests, left in NTU for the LTE supervisor, and its reports, made
// from the texts the supervisor keeps there (copied under the record's lock) and the GPS fix.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "gps/gps.h"
#include "lte/lte.h"
#include "sdk/sdk.h"

namespace bsp::lte {
namespace {

// The carrier by the IMSI's mobile country and network code (its first five digits).
struct Carrier {
    std::string_view code;
    const char* name;
};
constexpr Carrier kCarriers[] = {
    {"46000", "CMCC"}, {"46002", "CMCC"}, {"46004", "CMCC"}, {"46007", "CMCC"}, {"46001", "CUCC"},
    {"46006", "CUCC"}, {"46003", "CTCC"}, {"46005", "CTCC"}, {"46011", "CTCC"},
};
constexpr std::size_t kCodeDigits = 5;
constexpr std::size_t kOnlineMin = 6;  // an address of "ppp0" this long: the link is up

// The static text is at most 145 characters (19-character fields); the dynamic one holds two "%f"
// numbers, up to 317 characters each for any double, beside its 19-character texts.
constexpr std::size_t kStaticText = 256;
constexpr std::size_t kDynamicText = 1024;
constexpr std::size_t kStaticLongest = 145;
constexpr std::size_t kDynamicLongest = 136;  // with coordinates in their ranges

using Text = std::array<char, kTextSize>;

Text text_of(const char (&field)[kTextSize]) noexcept {
    Text t{};
    copy_text(t.data(), t.size(), field);
    return t;
}

// A text of the record, for a reader that holds the record's lock.
void copy_locked(Text& to, const char (&field)[kTextSize]) noexcept {
    std::memcpy(to.data(), field, kTextSize);
    to.back() = '\0';  // a host may have left it unterminated
}

// The carrier's name, or the code itself when it is none of the table's.
Text carrier_of(const Text& imsi) noexcept {
    Text carrier{};
    const std::string_view code(imsi.data(), strnlen(imsi.data(), kCodeDigits));
    const auto known = std::find_if(std::begin(kCarriers), std::end(kCarriers), [&](const Carrier& c) { return c.code == code; });
    if (known != std::end(kCarriers)) std::strcpy(carrier.data(), known->name);
    else std::memcpy(carrier.data(), code.data(), code.size());
    return carrier;
}

// Hands the whole text to the caller (when it gave a buffer).
// Hands out at most longest characters and the terminator: the host's buffer is sized for the
// longest text the report can have, which coordinates outside their ranges would exceed.
void hand_out(char* out, const char* text, std::size_t longest) noexcept {
    if (!out) return;
    const std::size_t n = strnlen(text, longest);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

const char* shown(const char* text) noexcept { return text ? text : "(null)"; }

}  // namespace
}  // namespace bsp::lte

using namespace bsp::lte;
using bsp::sdk::kLogSys;

extern "C" {

SDK_BSP_API int DialInit(void) noexcept {
    SDK_LOG_WRITE(kLogNet, "无线拨号初始化DialInit");
    return 0;
}

SDK_BSP_API int DialTerminate(void) noexcept {
    SDK_LOG_WRITE(kLogNet, "结束无线模块拨号DialTerminate");
    word(&NTU_T::pppdend).store(1);  // the supervisor hangs up, as a host expects
    return 0;
}

SDK_BSP_API int DialDial(const char* first, const char* second) noexcept {
    word(&NTU_T::pppdstart).store(1);
    SDK_LOG_WRITE(kLogNet, "执行拨号动作(%s,%s)", shown(first), shown(second));
    return 0;
}

SDK_BSP_API int DialIsOnline(void) noexcept {
    const bool online = std::strlen(text_of(NTU.lteip).data()) >= kOnlineMin;
    SDK_LOG_WRITE(kLogNet, "%s", online ? "通过ppp0网卡获取相应的ip拨号成功" : "通过ppp0网卡获取相应的ip拨号失败");
    return online ? 0 : -1;
}

SDK_BSP_API int DialGetStaticInfo(char* out, int) noexcept {
    Text imsi{}, netstate{}, imei{};
    with_record([&](const NTU_T& r) {  // in one piece
        copy_locked(imsi, r.imsi);
        copy_locked(netstate, r.netstate);
        copy_locked(imei, r.imei);
    });
    std::array<char, kStaticText> json{};
    std::snprintf(json.data(), json.size(),
                  "{\"TelcomCarrier\":\"%s\",\"MFRS\":\"VQ\", \"Model\":\"%s\", \"Version\":\"0.1\", \"IMEI\":\"%s\", "
                  "\"IMSI\":\"%s\"}",
                  carrier_of(imsi).data(), netstate.data(), imei.data(), imsi.data());
    hand_out(out, json.data(), kStaticLongest);
    SDK_LOG_WRITE(kLogNet, "获取无线模块静态信息DialGetStaticInfo(%s)", json.data());
    return 0;
}

SDK_BSP_API int DialGetDynamicInfo(char* out, int) noexcept {
    const int cardstat = text_of(NTU.imsi)[0] ? 1 : 0;
    word(&NTU_T::cardstat).store(cardstat);
    const Text csq = text_of(NTU.csq), ip = text_of(NTU.lteip);
    const bsp::gps::Fix fix = bsp::gps::fix();
    std::array<char, kDynamicText> json{};
    std::snprintf(json.data(), json.size(),
                  "{\"CardStat\":\"%d\", \"SignalStrength\":\"%s\", \"IP\":\"%s\", \"Longitude\":\"%f\", "
                  "\"Latitude\":\"%f\"}",
                  cardstat, csq.data(), ip.data(), fix.lon, fix.lat);
    hand_out(out, json.data(), kDynamicLongest);
    SDK_LOG_WRITE(kLogNet, "获取无线模块动态信息DialGetDynamicInfo(%s)", json.data());
    return 0;
}

SDK_BSP_API int DialSoftReboot(void) noexcept {
    SDK_LOG_WRITE(kLogSys, "无线模块软重启DialSoftReboot");
    word(&NTU_T::softreboot).store(1);
    return 0;
}

SDK_BSP_API int DialHardReboot(void) noexcept {
    SDK_LOG_WRITE(kLogSys, "无线模块断电硬重启DialHardReboot");
    SET_AO_12V_RESTART(0, 3);
    word(&NTU_T::hardreboot).store(1);
    return 0;
}

}  // extern "C"
