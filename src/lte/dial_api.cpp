// The Dial API: the host's requests, left in NTU for the LTE supervisor, and its reports, made
// from the texts the supervisor keeps there (copied under the record's lock) and the GPS fix.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/log.h"
#include "base/texts.h"
#include "gps/gps.h"
#include "io/io.h"
#include "lte/lte.h"

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

using base::log_write;

// The static text is at most 145 characters (19-character fields); the dynamic one holds two "%f"
// numbers, up to 317 characters each for any double, beside its 19-character texts.
constexpr std::size_t kStaticText = 256;
constexpr std::size_t kDynamicText = 1024;
constexpr std::size_t kStaticLongest = 145;
constexpr std::size_t kDynamicLongest = 136;  // with coordinates in their ranges

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

int dial_init() noexcept {
    log_write(kLogNet, texts::kDialInit);
    return 0;
}

int dial_terminate() noexcept {
    log_write(kLogNet, texts::kDialTerminate);
    set_word(Word::kPppdend, 1);  // the supervisor hangs up, as a host expects
    return 0;
}

int dial(const char* first, const char* second) noexcept {
    set_word(Word::kPppdstart, 1);
    log_write(kLogNet, texts::kDialDial, shown(first), shown(second));
    return 0;
}

int dial_is_online() noexcept {
    const bool online = link_up(text(Field::kLteip));
    log_write(kLogNet, "%s", online ? texts::kOnline : texts::kOffline);
    return online ? 0 : -1;
}

int static_info(char* out) noexcept {
    const Texts t = record_texts();  // in one piece
    std::array<char, kStaticText> json{};
    std::snprintf(json.data(), json.size(),
                  "{\"TelcomCarrier\":\"%s\",\"MFRS\":\"VQ\", \"Model\":\"%s\", \"Version\":\"0.1\", \"IMEI\":\"%s\", "
                  "\"IMSI\":\"%s\"}",
                  carrier_of(t.imsi).data(), t.netstate.data(), t.imei.data(), t.imsi.data());
    hand_out(out, json.data(), kStaticLongest);
    log_write(kLogNet, texts::kStaticInfo, json.data());
    return 0;
}

int dynamic_info(char* out) noexcept {
    const Texts t = record_texts();  // in one piece
    const int cardstat = t.imsi[0] ? 1 : 0;
    set_word(Word::kCardstat, cardstat);
    const gps::Fix fix = gps::fix();
    std::array<char, kDynamicText> json{};
    std::snprintf(json.data(), json.size(),
                  "{\"CardStat\":\"%d\", \"SignalStrength\":\"%s\", \"IP\":\"%s\", \"Longitude\":\"%f\", "
                  "\"Latitude\":\"%f\"}",
                  cardstat, t.csq.data(), t.lteip.data(), fix.lon, fix.lat);
    hand_out(out, json.data(), kDynamicLongest);
    log_write(kLogNet, texts::kDynamicInfo, json.data());
    return 0;
}

int soft_reboot() noexcept {
    log_write(base::kLogSys, texts::kDialSoftReboot);
    set_word(Word::kSoftreboot, 1);
    return 0;
}

int hard_reboot() noexcept {
    log_write(base::kLogSys, texts::kDialHardReboot);
    io::restart_12v(0, 3);
    set_word(Word::kHardreboot, 1);
    return 0;
}

}  // namespace bsp::lte
