// The simulated cellular module's answers, byte for byte against the forms real modules send
// (../shared/testdata/modem/transcripts.md, rows cited): what the system tests cannot see, since
// the library keeps only the lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/modem.h"

namespace {

using sim::CellularModule;
using sim::ModemOptions;

// Everything the module sends for the host's bytes, joined.
std::string answer(CellularModule& m, std::string_view host) {
    std::string s;
    for (const auto& p : m.feed({reinterpret_cast<const std::uint8_t*>(host.data()), host.size()})) s += p.bytes;
    return s;
}

TEST(SimModem, AnswersAsRealModulesFrameThem) {
    using F = sim::Framing;
    using I = sim::IdForm;
    struct Case {
        const char* source;
        F framing;
        bool echo;
        I ids;
        const char* host;
        const char* module;
    };
    const Case cases[] = {
        {"row 1", F::kV250, true, I::kPlain, "AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 19,99\r\n\r\nOK\r\n"},
        {"row 3", F::kCompact, true, I::kPlain, "AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 19,99\r\nOK\r\n"},
        {"row 32", F::kV250, true, I::kPlain, "ATE0\r", "ATE0\r\r\nOK\r\n"},
        {"row 13", F::kV250, false, I::kPlain, "AT^SYSINFO\r", "\r\n^SYSINFO: 2,3,0,17,1\r\n\r\nOK\r\n"},
        {"row 18", F::kV250, false, I::kPlain, "AT+CIMI\r", "\r\n460023210226023\r\n\r\nOK\r\n"},
        {"row 17", F::kCompact, true, I::kPrefixed, "AT+CIMI\r", "AT+CIMI\r\r\n+CIMI: 460023210226023\r\nOK\r\n"},
        {"row 23", F::kCompact, true, I::kPrefixed, "AT+CGSN\r", "AT+CGSN\r\r\n+CGSN: 862140060226843\r\nOK\r\n"},
        {"row 25", F::kV250, false, I::kQuoted, "AT+CGSN\r", "\r\n+CGSN: \"862140060226843\"\r\n\r\nOK\r\n"},
        {"row 45", F::kV250, false, I::kPlain, "ATI\r", "\r\nERROR\r\n"},
        {"an empty line", F::kV250, false, I::kPlain, "\r\n", ""},
    };
    for (const Case& c : cases) {
        ModemOptions o;
        o.framing = c.framing;
        o.echo = c.echo;
        o.ids = c.ids;
        o.state.rssi = 19;
        CellularModule m(o);
        EXPECT_EQ(answer(m, c.host), c.module) << c.source;
    }
}

}  // namespace
