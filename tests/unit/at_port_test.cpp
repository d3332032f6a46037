// Everything over the cellular module's AT port, against the answers real modules send
// (../shared/testdata/modem/transcripts.md, rows cited): the AT channel's line reader, the
// exchanges' endings and their waits on the library's clock, the tokenizer; the commands the modem
// queries send, what they store, their waits, and their parsers; the supervisor beside the hosts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "lte/lte.h"
#include "../common/fake_port.h"
#include "support.h"

namespace {

using namespace std::chrono_literals;
using testing::Contains;
using testing::StartsWith;
using unit::printed;

void set(char (&field)[SDK_BSP_NTU_TEXT_SIZE], const char* text) { unit::put_text(field, text); }

// The cellular module's AT port: a pty linked at dev/ttyUSB3 under the test's root, the modem's log
// level written to the file, and a clock on which a 100 ms poll passes in microseconds.
class AtPortTest : public unit::RootedTest {
  protected:
    static constexpr const char* kAtDev = "/dev/ttyUSB3";  // an EC20's AT device

    void SetUp() override {
        RootedTest::SetUp();
        module = std::make_unique<unit::FakePort>(root_, "ttyUSB3");
        STR_LOG_PAR.net = 2;  // the modem's level, to the log file
    }
    void TearDown() override {
        at_port_close();
        SDK_LOG_PAR_INIT_NOPRINTF();
        module.reset();
        RootedTest::TearDown();
    }
    // The module's answer, waiting for the library to read it.
    void answer(std::string_view a) { module->feed(unit::bytes(a)); }
    // The next n bytes the library wrote to the module.
    std::string sent(std::size_t n) { return unit::text(module->read(n)); }

    unit::SteppingClock clock;
    std::unique_ptr<unit::FakePort> module;
};

class AtChannel : public AtPortTest {
  protected:
    void SetUp() override {
        AtPortTest::SetUp();
        ASSERT_EQ(at_port_open(kAtDev), 0);
        // A fresh reader, as every exchange starts with: nothing left from an earlier test.
        std::string nothing = "-";
        write_wait_read("", nothing.data(), bsp::lte::out_put(), 0, -1);
    }
    // Every line readline hands out while lines are waiting (each call polls at most once).
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        while (const char* l = readline(0)) out.emplace_back(l);
        return out;
    }
};

TEST_F(AtChannel, ReadsTheLinesOfRealAnswers) {
    struct Case {
        const char* source;
        const char* answer;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"row 1, echo and V.250 framing", "AT+CSQ\r\r\n+CSQ: 19,99\r\n\r\nOK\r\n", {"AT+CSQ", "+CSQ: 19,99", "OK"}},
        {"row 3, no blank line before OK", "AT+CSQ\r\r\n+CSQ: 16,99\r\nOK\r\n", {"AT+CSQ", "+CSQ: 16,99", "OK"}},
        {"row 26, carriage returns only", "AT+CGSN\r888888888888888\r\rOK\r", {"AT+CGSN", "888888888888888", "OK"}},
        {"row 59, two blank lines", "\r\n+CNUM: \"\",\"+11234567890\",145\r\n\r\n\r\nOK\r\n",
         {"+CNUM: \"\",\"+11234567890\",145", "OK"}},
        {"row 60, the prompt without a line end", "\r\n> ", {"> "}},
        {"row 55, an unsolicited line inside the echo (\"Y?\" waits for its line end)",
         "T*EMRD\r\n*EMRDY: 1\r\nY?", {"T*EMRD", "*EMRDY: 1"}},
    };
    for (const Case& c : cases) {
        answer(c.answer);
        EXPECT_EQ(lines(), c.lines) << c.source;
    }
    const auto log = logged();
    EXPECT_THAT(log, Contains("AT< +CSQ: 19,99\n"));
    EXPECT_THAT(log, Contains("read#######,0,0"));
    EXPECT_THAT(log, Contains(StartsWith("LTE_TEHED fun=readline,Line=856;ltefd=")));
}

TEST_F(AtChannel, CompletesALineSplitAcrossReads) {
    answer("+CSQ: 2");
    EXPECT_EQ(readline(0), nullptr);
    answer("1,99\r\n");
    EXPECT_STREQ(readline(0), "+CSQ: 21,99");
    // Byte by byte, as an EC2x on a UART delivers it (row 1): complete only at its line end.
    for (char c : std::string("\r\nOK")) {
        answer(std::string(1, c));
        EXPECT_EQ(readline(0), nullptr);
    }
    answer("\r");
    EXPECT_STREQ(readline(0), "OK");
    clock.reset();  // nothing more: one poll, then the poll limit
    EXPECT_EQ(readline(4), nullptr);
    EXPECT_EQ(clock.slept_ms(), 5 * 100);
    EXPECT_THAT(logged(), Contains("ticksleep end,5,4"));
}

// Sleeps that overrun, as on a loaded box: ticksleep still sleeps whole 2 ms ticks, at most ms / 2
// of them, until the time has passed.
TEST(AtTicks, WholeTwoMillisecondTicksUntilTheTimeHasPassed) {
    struct OverrunningClock : bsp::os::Clock {
        OverrunningClock() { bsp::os::set_clock(this); }
        ~OverrunningClock() override { bsp::os::set_clock(nullptr); }
        timeval time_of_day() noexcept override { return {0, static_cast<suseconds_t>(us)}; }
        void sleep_ms(long ms) noexcept override { asked.push_back(ms), us += 2300; }
        long us = 0;
        std::vector<long> asked;
    } clock;
    bsp::lte::ticksleep(10);  // 9.2 ms after four ticks: a fifth, of 2 ms
    EXPECT_EQ(clock.asked, std::vector<long>(5, 2));
    clock.asked.clear(), clock.us = 0;
    bsp::lte::ticksleep(40);  // 20 ticks at most
    EXPECT_EQ(clock.asked, std::vector<long>(18, 2));
}

TEST_F(AtChannel, DropsALineLongerThanTheBufferAndReadsOn) {
    // 9000 characters without a line end: the first 8192 fill the buffer and are dropped.
    answer(std::string(9000, 'A') + "\r\nOK\r\n");
    const char* tail = readline(1000);
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(std::string(tail), std::string(9000 - 8192, 'A'));
    EXPECT_STREQ(readline(0), "OK");
    EXPECT_THAT(logged(), Contains("tERROR: Input line exceeded buffer"));
}

TEST_F(AtChannel, ExchangesEndAsTheAnswerSays) {
    const auto kRead = write_wait_read, kRead1 = write_wait_read1, kCimi = write_wait_readcimi;
    struct Case {
        int (*fn)(const char*, char*, char*, int, int);
        const char* cmd;
        const char* answer;
        const char* prefix;
        int maxlines, seconds;
        int result;
        const char* dst;   // the destination afterwards (it holds "before" at the start)
        long slept_ms;     // polls of 100 ms, and the pause after a match (20) or an error (1)
        int timeouts;      // added to NTU.attimeouts
        const char* logged;
    };
    const Case cases[] = {
        {kRead, "ATE0", "\r\nOK\r\n", "OK", 2, 1, 0, "OK", 120, 0, "AT> ATE0"},
        {kRead, "AT+CSQ", "AT+CSQ\r\r\n+CSQ: 19,99\r\n\r\nOK\r\n", "+CSQ", 2, 1, 0, "+CSQ: 19,99", 120, 0,
         "AT <,Line=+CSQ: 19,99;"},
        {kRead, "ATH", "\r\nok\r\n", "ok", 1, 1, 0, "OK", 120, 0, "LTE_TEHED fun=write_wait_read,Line=999;"},
        {kRead, "ATI", "\r\nERROR\r\n", "OK", 2, 1, -3, "before", 101, 0, "AT <,Line=ERROR;"},
        {kRead, "AT+CSQ", "\r\n+CSQ: ERROR\r\n", "+CSQ", 2, 1, 0, "+CSQ: ERROR", 120, 0, "AT> AT+CSQ"},
        {kRead, "AT+CSQ", "", "+CSQ", 2, 1, -2, "before", 3 * 11 * 100, 1, "no data At time out"},
        {kRead, "AT+CSQ", "\r\nRDY\r\n\r\n+CPIN: READY\r\n", "+CSQ", 1, 1, -2, "before", 100, 1, "At time out"},
        {kRead, "", "\r\n+CSQ: 30,99\r\n", "+CSQ", 0, 1, 0, "+CSQ: 30,99", 120, 0, "AT <,Line=+CSQ: 30,99;"},
        {kRead1, "AT+CIMI", "AT+CIMI\r\r\n460023210226023\r\n\r\nOK\r\n", "OK", 2, 2, 0, "beforeAT+CIMI460023210226023OK",
         120, 0, "!!!!!!!!!!!!line=460023210226023"},
        {kRead1, "AT+CIMI", "\r\nCOMMAND NOT SUPPORT\r\n\r\nOK\r\n", "OK", 2, 2, 0, "beforeCOMMAND NOT SUPPORTOK", 120, 0,
         "!!!!!!!!!!!!line=OK"},
        {kRead1, "AT+CIMI", "", "OK", 2, 2, -2, "before", 3 * 21 * 100, 1, "!!!!!!!!!!!!line="},
        {kCimi, "AT+CGSN", "AT+CGSN\r\r\n862140060226843\r\n\r\nOK\r\n", "OK", 4, 1, 0, "beforeAT+CGSN862140060226843OK",
         120, 0, "writeline=AT+CGSN"},
        {kCimi, "AT+CGSN", "\r\nCOMMAND NOT SUPPORT\r\n", "OK", 4, 1, -3, "beforeCOMMAND NOT SUPPORT", 101, 0,
         "#####################line=COMMAND NOT SUPPORT"},
        {kCimi, "AT+CGSN", "", "OK", 4, 1, -2, "before", 5 * 11 * 100, 0, "writeline=AT+CGSN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cmd) + " <- " + c.answer);
        logged();
        answer(c.answer);
        std::array<char, bsp::lte::kAnswerSize> dst{};
        std::strcpy(dst.data(), "before");
        std::string prefix = c.prefix;
        const int timeouts = NTU.attimeouts;
        clock.reset();
        EXPECT_EQ(c.fn(c.cmd, prefix.data(), dst.data(), c.maxlines, c.seconds), c.result);
        EXPECT_STREQ(dst.data(), c.dst);
        EXPECT_EQ(clock.slept_ms(), c.slept_ms);
        EXPECT_EQ(NTU.attimeouts - timeouts, c.timeouts);
        EXPECT_THAT(logged(), Contains(c.logged));
        if (*c.cmd) {
            EXPECT_EQ(sent(std::strlen(c.cmd) + 1), std::string(c.cmd) + "\r");  // no line feed
        }
    }
}

TEST_F(AtChannel, KeepsWhatItWritesWithin1024Bytes) {
    // A 3000-character line replacing the text, and one appended behind 1000 characters.
    for (std::size_t before : {std::size_t(0), std::size_t(1000)}) {
        std::array<char, 1024 + 16> dst;
        dst.fill('#');
        std::memset(dst.data(), 'b', before);
        dst[before] = '\0';
        answer("\r\n" + std::string(3000, '7') + "\r\n");
        std::string prefix = "7";
        EXPECT_EQ((before ? write_wait_read1 : write_wait_read)("", prefix.data(), dst.data(), 0, 1), 0);
        EXPECT_EQ(std::strlen(dst.data()), 1023u);
        EXPECT_EQ(std::string(dst.begin() + 1024, dst.end()), std::string(16, '#')) << "written past 1024 bytes";
    }
}

TEST_F(AtChannel, OpensRawAndClosedOnExec) {
    const int fd = bsp::lte::ltefd();
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    EXPECT_EQ(tio.c_lflag, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    // Opening again closes the first descriptor; a missing device leaves no port open.
    EXPECT_EQ(at_port_open("/dev/ttyUSB9"), -1);
    EXPECT_EQ(bsp::lte::ltefd(), -1);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(AtChannel, WritesWholeLinesWhateverErrnoHeldBefore) {
    for (int stale : {0, EINTR, EAGAIN, EBADF}) {
        errno = stale;
        EXPECT_EQ(writeline("AT+CSQ"), 0) << stale;
        EXPECT_EQ(sent(7), "AT+CSQ\r") << stale;
    }
    module->hang_up();
    EXPECT_EQ(writeline("AT"), -1);  // the far end gone: the write fails
}

TEST(AtTokenizer, CutsNameColonValues) {
    // Steps: i at_tok_nextint, h at_tok_nexthexint, t nextTok; each expected as text ("-" for a
    // failed step or a null token).
    struct Case {
        const char* line;
        int start;
        const char* steps;
        std::vector<std::string> got;
    };
    const Case cases[] = {
        {"+CSQ: 21,99", 0, "ii", {"21", "99"}},
        {"+CSQ:99,99", 0, "iii", {"99", "99", "-"}},  // row 5: no blank; the end of the text
        {"+CNUM: \"\",\"+11234567890\",145", 0, "tti", {"", "+11234567890", "145"}},
        {"+CREG: 2,1,\"00A8\",\"5355E8D\",7", 0, "iihhi", {"2", "1", "168", "87383693", "7"}},
        {"+CME ERROR: raspberry", 0, "i", {"-"}},  // row 53: no digits
        {"+X: \"open", 0, "tt", {"open", "-"}},  // an unclosed quote ends the text
        {"NO CARRIER", -1, "it", {"-", "-"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string text = c.line;
        char* cur = text.data();
        EXPECT_EQ(at_tok_start(&cur), c.start);
        std::vector<std::string> got;
        for (const char* s = c.steps; *s; ++s) {
            int v = 0;
            if (*s == 't') {
                const char* t = nextTok(&cur);
                got.emplace_back(t ? t : "-");
            } else {
                got.emplace_back((*s == 'i' ? at_tok_nextint(&cur, &v) : at_tok_nexthexint(&cur, &v)) == 0 ? std::to_string(v)
                                                                                                          : "-");
            }
        }
        EXPECT_EQ(got, c.got);
    }
    std::string spaced = " \t 7, 8";
    char* cur = spaced.data();
    skipWhiteSpace(&cur);
    skipNextComma(&cur);
    EXPECT_STREQ(cur, " 8");
}

TEST(AtTokenizer, PrefixesAndLineEnds) {
    // An empty prefix matches; a prefix longer than the line does not; case matters.
    EXPECT_EQ(strStartsWith("OK", ""), 1);
    EXPECT_EQ(strStartsWith("O", "OK"), 0);
    EXPECT_EQ(strStartsWith("ok", "OK"), 0);
    struct Eol {
        const char* text;
        int at;  // -1: none
    };
    for (const Eol& e : {Eol{"OK\r\n", 2}, Eol{"> ", 2}, Eol{">  ", -1}, Eol{"> x", -1}, Eol{"OK", -1}}) {
        std::string s = e.text;
        const char* eol = findNextEOL(s.data());
        EXPECT_EQ(eol ? eol - s.data() : -1, e.at) << e.text;
    }
}

using ModemQueries = AtPortTest;

TEST_F(ModemQueries, SignalTextByBand) {
    struct Case {
        std::string answer;
        int result;
        const char* csq;
    };
    const Case cases[] = {
        {"+CSQ: 99,99", 1, "-107"}, {"+CSQ: 3,99", 1, "-107"},  {"+CSQ: 4,99", 1, "-99"},   {"+CSQ: 10,99", 1, "-77"},
        {"+CSQ: 15,99", 1, "-72"},  {"+CSQ: 16,99", 1, "-73"},  {"+CSQ: 21,99", 1, "-68"},  {"+CSQ: 22,0", 1, "-63"},
        {"+CSQ: 27,99", 1, "-58"},  {"+CSQ: 28,99", 1, "-57"},  {"+CSQ: 31,99", 1, "-54"},
        {"+CSQ:99,99", 1, "-107"},  // row 5, no blank after the colon
        {"+CSQ: 19", 0, "-107"},    {"+CSQ", 0, "-107"},        {"+CSQ: 2147483647,99", 1, "2147483562"},
        {"+CSQ: 24,99" + std::string(2989, '9'), 1, "-61"},  // padded to 3000: the 1023 kept still parse
    };
    for (const Case& c : cases) {
        set(NTU.csq, "old");
        answer("AT+CSQ\r\r\n" + c.answer + "\r\n\r\nOK\r\n");
        EXPECT_EQ(readcsq(kAtDev), c.result) << c.answer;
        EXPECT_STREQ(NTU.csq, c.csq) << c.answer;
        EXPECT_EQ(sent(7), "AT+CSQ\r");
    }
}

TEST(ModemParsers, RegistrationStatesAndNetworkTypes) {
    struct Case {
        const char* line;
        int result;
        const char* netstate;
    };
    const Case cases[] = {
        {"^SYSINFO: 2,3,0,9,1", 9, "LTE"},       {"^SYSINFO: 2,3,0,17,1,7", 17, "LTE"},  // rows 13, 14
        {"^SYSINFO:2,4,5,3,1", 3, "GSM/GPRS"},   {"^SYSINFO: 2,3,0,15,1", 15, "TD-SCDMA"},  // row 15
        {"^SYSINFO: 2,3,0,2,1", 2, "CDMA"},      {"^SYSINFO: 2,3,0,0,1", 0, "NOSERVICE"},
        {"^SYSINFO: 2,3,0,4,1", 4, "EVDO"},
        {"^SYSINFO: 2,3,0,7,1", 7, ""},          {"^SYSINFO: 0,0,0,0,1", -1, "SIM_OK"},
        {"^SYSINFO: 2,0,0,9,255", -1, "SIMOVER"}, {"^SYSINFO: 1,0,0,5,4", -1, ""},
        {"^SYSINFO: 2,3,0,9", -1, "before"},     {"^SYSINFO 2,3,0,9,1", -1, "before"},  // netstate stays
    };
    for (const Case& c : cases) {
        set(NTU.netstate, "before");
        std::string line = c.line;
        EXPECT_EQ(ParseRegistrationState_GT9615(line.data()), c.result) << c.line;
        EXPECT_STREQ(NTU.netstate, c.netstate) << c.line;
    }
}

TEST_F(ModemQueries, ImsiAndSimPresence) {
    struct Case {
        void (*query)(const char*);
        const char* answer;
        const char* imsi;
        int cardstat;  // -1: not changed by the query
        const char* printed;
    };
    const Case cases[] = {
        {read_MINI1, "\r\n998899889988997\r\n\r\nOK\r\n", "998899889988997", -1, "AT+CIMI=998899889988997OK\n"},  // row 18
        {read_MINI1, "\r\n1234567890\r\n\r\nOK\r\n", "", -1, "AT+CIMI=1234567890OK\n"},  // ten characters: no IMSI
        {read_MINI1, "\r\n12345678901\r\n\r\nOK\r\n", "12345678901", -1, "AT+CIMI=12345678901OK\n"},  // eleven
        {read_MINI1, "\r\n+CME ERROR: 10\r\n", "before", -1, "AT+CIMI=+CME ERROR: 10\n"},  // row 47: no SIM
        {read_MINI, "\r\n+CIMI: 405864140242618\r\n\r\nOK\r\n", "405864140242618", 0,  // row 17: not "4600"
         "AT+CIMI=+CIMI: 405864140242618\n"},
        {read_MINI, "\r\n+CIMI: 460\r\n", "", 0, "AT+CIMI=+CIMI: 460\n"},
        {read_MINI, "\r\n+CIMI: 460023210226023\r\n", "460023210226023", 1, "AT+CIMI=+CIMI: 460023210226023\n"},
        // The answer buffer still holds the last answer: it decides the SIM's presence.
        {read_MINI, "\r\n+CME ERROR: 10\r\n", "before", 1, "AT+CIMI=+CIMI: 460023210226023\n"},
    };
    for (const Case& c : cases) {
        set(NTU.imsi, "before");
        NTU.cardstat = -1;
        answer(c.answer);
        EXPECT_EQ(printed([&] { c.query(kAtDev); }), c.printed);
        EXPECT_STREQ(NTU.imsi, c.imsi) << c.answer;
        EXPECT_EQ(NTU.cardstat, c.cardstat) << c.answer;
        EXPECT_EQ(sent(8), "AT+CIMI\r");
    }
}

TEST(ModemParsers, ImsiTexts) {
    using bsp::lte::imsi_of;
    using bsp::lte::prefixed_imsi_of;
    using Case = std::pair<std::string_view, std::string_view>;
    for (auto [collected, imsi] : {Case{"AT+CIMI460023210226023OK", "460023210226023"}, Case{"1234567890OK", ""},
                                   Case{"12345678901OK", "12345678901"}, Case{"460023210226023", ""}})
        EXPECT_EQ(imsi_of(collected), imsi) << collected;
    for (auto [answer, imsi] : {Case{"+CIMI: 460", ""}, Case{"+CIMI: 4600", "4600"}, Case{"+CME ERROR: 10", ""},
                                Case{"+CIMI: 460023210226023", "460023210226023"}})
        EXPECT_EQ(prefixed_imsi_of(answer), imsi) << answer;
}

TEST_F(ModemQueries, ImeiForms) {
    struct Case {
        const char* answer;
        int result;
        const char* imei;
        const char* printed;
    };
    const Case cases[] = {
        {"\r\n+CGSN: \"869777028421538\"\r\n\r\nOK\r\n", 1, "869777028421538",  // row 25
         "###############+CGSN: \"869777028421538\nNTU.imei=869777028421538"},
        {"\r\n+CGSN:\"869777028421538\"\r\n\r\nOK\r\n", 1, "869777028421538",
         "###############+CGSN:\"869777028421538,strlen(&ptr1[7])=15\nNTU.imei=869777028421538"},
        {"\r\n+CGSN:862140060226843\r\nOK\r\n", 1, "862140060226843", "NTU.imei=862140060226843"},
        {"\r\n+CGSN: 862140060226843\r\nOK\r\n", 1, "862140060226843", "NTU.imei=862140060226843"},  // row 23
        {"AT+CGSN\r888888888888888\r\rOK\r", 1, "888888888888888", ""},  // row 26, after the echo
        {"AT+CGSN\r\r\n0x80A1B2C3\r\n\r\nOK\r\n", 1, "000002158080707", ""},
        {"\r\n12345678901234\r\n\r\nOK\r\n", 0, "", "NTU.imei="},                        // 14 digits
        {"\r\n357516032005989,TR19A8P11R\r\n\r\nOK\r\n", 0, "", "NTU.imei="},           // row 24
        {"\r\n+CGSN: \"869777028421538\r\n\r\nOK\r\n", 0, "",  // no closing quote: nothing stored
         "###############+CGSN: \"869777028421538OK\nNTU.imei="},
        {"\r\nERROR\r\n", 0, "before", ""},
    };
    for (const Case& c : cases) {
        set(NTU.imei, "before");
        answer(c.answer);
        int r = 0;
        EXPECT_EQ(printed([&] { r = readIMEI(kAtDev); }), c.printed) << c.answer;
        EXPECT_EQ(r, c.result) << c.answer;
        EXPECT_STREQ(NTU.imei, c.imei) << c.answer;
        EXPECT_EQ(sent(8), "AT+CGSN\r");
    }
}

TEST_F(ModemQueries, PositionFromThePowerProtocolAnswer) {
    // A reply frame: "~", VER 21, ADR 01, CID1 D0, RTN 00, LENGTH, then INFO from offset 13: a
    // status byte, longitude 0x00116308, latitude 0x000372E4, height 0x0039, and CHKSUM.
    const std::string reply = std::string("~2101D0009016") + "00" + "00116308" + "000372E4" + "0039" + "F934";
    struct Case {
        std::string answer;
        const char *longitude, *latitude, *high;
    };
    const Case cases[] = {
        {"\r\n" + reply + "\r\n", "113.9464", "22.6020", "57"},
        {"\r\n~2101d000901600ffeea09c000000010001f934\r\n", "-113.8532", "1", "1"},  // lower case
        {"\r\n" + reply.substr(0, 20) + "\r\n", "113.8688", "0", "0"},  // what is missing counts 0
        {"\r\n~2101D0009016\r\n", "-", "-", "-"},  // 13 characters: nothing stored
    };
    for (const Case& c : cases) {
        for (auto* field : {&NTU.longitude, &NTU.latitude, &NTU.high}) set(*field, "-");
        answer(c.answer);
        readgps(kAtDev);
        EXPECT_STREQ(NTU.longitude, c.longitude) << c.answer;
        EXPECT_STREQ(NTU.latitude, c.latitude) << c.answer;
        EXPECT_STREQ(NTU.high, c.high) << c.answer;
        EXPECT_EQ(sent(18), "~2101D0900000FD9F\r");
    }
    EXPECT_THAT(logged(), Contains("GPS data:Latitude=22.6020,Longitude=113.9464,high=57"));
}

TEST_F(ModemQueries, CommandsTheirWaitsAndResults) {
    struct Case {
        const char* name;
        std::function<int()> query;
        const char* command;
        const char* answer;
        int answered, silent, missing;  // the result on the answer, on silence, without the device
        long answered_ms, silent_ms;     // silence: (lines tolerated + 1) x (10 x seconds + 1) polls
    };
    const std::string no_service = "\r\n^SYSINFO: 0,0,0,0,255\r\n\r\nOK\r\n";  // then a 2 s wait
    const Case cases[] = {
        {"send_ate", [] { return send_ate(kAtDev); }, "ATE0\r", "\r\nOK\r\n", 1, -1, -1, 120, 3 * 11 * 100},
        {"send_ath", [] { return send_ath(kAtDev); }, "ATH\r", "\r\nOK\r\n", 1, -1, -1, 120, 2 * 11 * 100},
        {"send_DialSoftReboot", [] { return send_DialSoftReboot(kAtDev); }, "AT+CFUN=1,1\r", "\r\nOK\r\n", 1, -1, -1,
         120, 3 * 11 * 100},
        {"readcsq", [] { return readcsq(kAtDev); }, "AT+CSQ\r", "\r\nERROR\r\n", -1, -1, 0, 101, 3 * 11 * 100},
        {"read_sysinfo", [] { return read_sysinfo(kAtDev); }, "AT^SYSINFO\r", no_service.c_str(), -1, -1, -1, 2120,
         3 * 21 * 100},
        {"read_MINI1", [] { read_MINI1(kAtDev); return 0; }, "AT+CIMI\r", "\r\nOK\r\n", 0, 0, 0, 120, 3 * 21 * 100},
        {"readIMEI", [] { return readIMEI(kAtDev); }, "AT+CGSN\r", "\r\nOK\r\n", 0, 0, 0, 120, 5 * 11 * 100},
        {"read_MINI", [] { read_MINI(kAtDev); return 0; }, "AT+CIMI\r", "\r\n+CIMI: 460023210226023\r\n", 0, 0, 0, 120,
         3 * 21 * 100},
        {"readgps", [] { readgps(kAtDev); return 0; }, "~2101D0900000FD9F\r", "\r\n~2101D0009016\r\n", 0, 0, 0, 120,
         3 * 11 * 100},
    };
    testing::internal::CaptureStdout();
    for (const Case& c : cases) {
        answer(c.answer);
        clock.reset();
        EXPECT_EQ(c.query(), c.answered) << c.name;
        EXPECT_EQ(clock.slept_ms(), c.answered_ms) << c.name;
        EXPECT_EQ(sent(std::strlen(c.command)), c.command) << c.name;
        clock.reset();
        EXPECT_EQ(c.query(), c.silent) << c.name;
        EXPECT_EQ(clock.slept_ms(), c.silent_ms) << c.name;
        sent(std::strlen(c.command));
        // The device missing: the query fails at once, and no port stays open.
        std::filesystem::rename(box("dev/ttyUSB3"), box("dev/away"));
        clock.reset();
        EXPECT_EQ(c.query(), c.missing) << c.name;
        EXPECT_EQ(clock.slept_ms(), 0) << c.name;
        EXPECT_EQ(bsp::lte::ltefd(), -1) << c.name;
        std::filesystem::rename(box("dev/away"), box("dev/ttyUSB3"));
    }
    testing::internal::GetCapturedStdout();
}

TEST(ModemParsers, HexadecimalHelpers) {
    using Digit = std::pair<char, int>;
    for (auto [c, value] : {Digit{'0', 0}, Digit{'F', 15}, Digit{'G', -1}, Digit{'`', -1}, Digit{'a', 10}, Digit{'z', 35},
                            Digit{'{', -1}})
        EXPECT_EQ(c2i(c), value) << c;
    using Hex = std::pair<const char*, std::int64_t>;
    for (auto [text, value] : {Hex{"1A", 26}, Hex{"80A1B2C3", 2158080707LL}, Hex{"7FFFFFFFFFFFFFFF", INT64_MAX},
                               Hex{"FFFFFFFFFFFFFFFF", -1}, Hex{"1G", -1}, Hex{"10000000000000000", 0}, Hex{"", 0}})
        EXPECT_EQ(hex2dec(text), value) << text;
    using Fixed = std::tuple<const char*, int, int>;
    for (auto [text, n, value] : {Fixed{"00116308", 8, 1139464}, Fixed{"fffffff6", 8, -10}, Fixed{"12", 4, 0x1200},
                                  Fixed{"xyz1", 4, 1}, Fixed{"123456789", 9, 0x23456789}, Fixed{"1F", -3, 0}})
        EXPECT_EQ(hexstrtolong(text, n), value) << text << " " << n;
    using Point = std::tuple<const char*, int, const char*>;
    for (auto [in, n, out] : {Point{"1139464", 4, "113.9464"}, Point{"12345", 4, "1.2345"}, Point{"1234", 4, "1234"},
                              Point{"-1139464", 4, "-113.9464"}}) {
        char text[SDK_BSP_NTU_TEXT_SIZE] = {};
        std::strcpy(text, in);
        gpsaddpoint(text, n);
        EXPECT_STREQ(text, out) << in;
    }
}

// The module's answers (transcripts.md rows 9, 13, 19, 27 and 30).
const std::map<std::string, std::string> kAnswers{
    {"ATE0", "\r\nOK\r\n"}, {"ATH", "\r\nOK\r\n"}, {"AT+CFUN=1,1", "\r\nOK\r\n"}, {"AT+CSQ", "\r\n+CSQ: 24,99\r\n\r\nOK\r\n"},
    {"AT^SYSINFO", "\r\n^SYSINFO: 2,3,0,17,1\r\n\r\nOK\r\n"}, {"AT+CIMI", "\r\n460023210226023\r\n\r\nOK\r\n"},
    {"AT+CGSN", "\r\n862140060226843\r\n\r\nOK\r\n"}};

// The supervisor's passes beside four host threads calling the Dial API, against the pty answering
// as a module and stand-in tools in the root's bin/: no data race (the TSan build runs it), and
// every report a host gets holds whole texts.
class SupervisorThreads : public AtPortTest {
  protected:
    void SetUp() override {
        AtPortTest::SetUp();
        stand_in("lsusb", "echo 'Bus 001 Device 003: ID 2c7c:0125 Quectel Wireless Solutions Co., Ltd. EC25 LTE modem'\n");
        stand_in("ifconfig", "printf 'ppp0 Link encap:Point-to-Point Protocol\\n inet addr:10.64.12.7  Mask:255.255.255.255\\n%0200d\\n' 0\n");
        stand_in("uci", "");
        stand_in("nohup", "exec \"$@\"\n");  // no nohup.out where the tests run
        for (const char* dir : {"sys/class/gpio/gpio12", "sys/bus/usb-serial/drivers/option1"}) std::filesystem::create_directories(box(dir));
    }
    void TearDown() override {
        NTU = NTU_T{};
        AtPortTest::TearDown();
    }
    void answer_commands() {
        for (std::string line; !stop;)
            for (auto b : module->read(1, 20ms)) {
                if (b != '\r') {
                    if (b != '\n') line += static_cast<char>(b);
                } else if (auto a = kAnswers.find(std::exchange(line, {})); a != kAnswers.end()) {
                    module->write(unit::bytes(a->second));
                }
            }
    }
    bool done(int passes) {
        const auto ip = bsp::lte::text(bsp::lte::Field::kLteip);
        return passes >= 6 && std::string(ip.data()) == "10.64.12.7" && unit::read_file(box("tmp/ran")).find("lte.sh") != std::string::npos;
    }

    std::atomic<bool> stop{false};
};

TEST_F(SupervisorThreads, DialApiBesideTheSupervisor) {
    const std::regex static_info(R"(\{"TelcomCarrier":"(CMCC)?","MFRS":"VQ", "Model":"(LTE)?", "Version":"0.1", )"
                                 R"("IMEI":"(862140060226843)?", "IMSI":"(460023210226023)?"\})");
    const std::regex dynamic_info(R"(\{"CardStat":"[01]", "SignalStrength":"(-61)?", "IP":"(10\.64\.12\.7)?", )"
                                  R"("Longitude":"0\.000000", "Latitude":"0\.000000"\})");
    std::atomic<int> passes{0}, torn{0};
    testing::internal::CaptureStdout();  // the queries' prints
    std::vector<std::thread> threads;
    threads.emplace_back([&] { answer_commands(); });
    threads.emplace_back([&] {
        for (int count = 0; !stop; passes = ++count) {
            bsp::lte::supervisor_pass(count);
            mysleep(1);
        }
    });
    for (int host = 0; host < 4; ++host)
        threads.emplace_back([&, host] {
            std::array<char, 256> info{};
            if (host == 0) torn += DialHardReboot();  // once: its 3 s pass on everyone's clock
            while (!stop) {
                DialDial("", "");
                torn += DialIsOnline() < -1;
                DialGetStaticInfo(info.data(), 0);
                torn += !std::regex_match(info.data(), static_info);
                DialGetDynamicInfo(info.data(), 0);
                torn += !std::regex_match(info.data(), dynamic_info);
                if (host == 0) torn += DialSoftReboot() + DialTerminate() + DialInit();  // all 0
            }
        });
    for (auto end = std::chrono::steady_clock::now() + 120s; !done(passes) && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    stop = true;
    for (auto& t : threads) t.join();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(done(passes));
    EXPECT_EQ(torn, 0);
}

}  // namespace
