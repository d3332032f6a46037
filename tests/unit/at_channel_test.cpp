// The AT command channel on a pty: the line reader on the answers real modules send
// (../shared/testdata/modem/transcripts.md, rows cited), the exchanges' endings and their waits on
// the library's clock, and the tokenizer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "at_port.h"

namespace {

using testing::HasSubstr;
using testing::Not;
using unit::bytes;

class AtChannel : public unit::AtPortTest {
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
        {"row 62, unsolicited lines after OK", "\r\nOK\r\n\r\n+CIEV: 7,1\r\n\r\n+CRING: VOICE\r\n",
         {"OK", "+CIEV: 7,1", "+CRING: VOICE"}},
        {"row 60, the prompt without a line end", "\r\n> ", {"> "}},
        {"row 55, an unsolicited line inside the echo (\"Y?\" waits for its line end)",
         "T*EMRD\r\n*EMRDY: 1\r\nY?", {"T*EMRD", "*EMRDY: 1"}},
    };
    for (const Case& c : cases) {
        answer(c.answer);
        EXPECT_EQ(lines(), c.lines) << c.source;
    }
    EXPECT_THAT(log(), HasSubstr("AT< +CSQ: 19,99\n"));
    EXPECT_THAT(log(), HasSubstr("read#######,0,0"));
    EXPECT_THAT(log(), HasSubstr("LTE_TEHED fun=readline,Line=856;ltefd="));
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
    const char* line = readline(0);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "OK");
    // Nothing more: one poll, then the poll limit.
    clock.reset();
    EXPECT_EQ(readline(4), nullptr);
    EXPECT_EQ(clock.slept_ms(), 5 * 100);
    EXPECT_THAT(log(), HasSubstr("ticksleep end,5,4"));
}

TEST_F(AtChannel, DropsALineLongerThanTheBufferAndReadsOn) {
    // 9000 characters without a line end: the first 8192 fill the buffer and are dropped.
    answer(std::string(9000, 'A') + "\r\nOK\r\n");
    const char* tail = readline(1000);
    ASSERT_NE(tail, nullptr);
    EXPECT_EQ(std::string(tail), std::string(9000 - 8192, 'A'));
    EXPECT_STREQ(readline(0), "OK");
    EXPECT_THAT(log(), HasSubstr("tERROR: Input line exceeded buffer"));
}

TEST_F(AtChannel, ExchangesEndAsTheAnswerSays) {
    enum Fn { kRead, kRead1, kCimi };
    struct Case {
        Fn fn;
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
        {kRead, "AT+CIMI", "\r\n+CME ERROR: 10\r\n", "+CIMI: ", 2, 2, -3, "before", 101, 0, "AT> AT+CIMI"},
        {kRead, "AT+CSQ", "\r\n+CSQ: ERROR\r\n", "+CSQ", 2, 1, 0, "+CSQ: ERROR", 120, 0, "AT> AT+CSQ"},
        {kRead, "AT+CSQ", "", "+CSQ", 2, 1, -2, "before", 3 * 11 * 100, 1, "no data At time out"},
        {kRead, "AT+CSQ", "\r\nRDY\r\n\r\n+CPIN: READY\r\n\r\n+QIND: PB DONE\r\n", "+CSQ", 2, 1, -2, "before", 100, 1,
         "]:At time out"},
        {kRead, "AT+CSQ", "\r\nRDY\r\n", "+CSQ", 0, 1, -2, "before", 100, 1, "]:At time out"},
        {kRead, "", "\r\n+CSQ: 30,99\r\n", "+CSQ", 0, 1, 0, "+CSQ: 30,99", 120, 0, "AT <,Line=+CSQ: 30,99;"},
        {kRead1, "AT+CIMI", "AT+CIMI\r\r\n460023210226023\r\n\r\nOK\r\n", "OK", 2, 2, 0, "beforeAT+CIMI460023210226023OK",
         120, 0, "!!!!!!!!!!!!line=460023210226023"},
        {kRead1, "AT+CIMI", "\r\n+CME ERROR: 10\r\n", "OK", 2, 2, -3, "before+CME ERROR: 10", 101, 0,
         "AT <,Line=+CME ERROR: 10;"},
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
        clear_log();
        answer(c.answer);
        std::array<char, bsp::lte::kAnswerSize> dst{};
        std::strcpy(dst.data(), "before");
        std::string prefix = c.prefix;
        const int timeouts = NTU.attimeouts;
        clock.reset();
        int r = c.fn == kRead    ? write_wait_read(c.cmd, prefix.data(), dst.data(), c.maxlines, c.seconds)
                : c.fn == kRead1 ? write_wait_read1(c.cmd, prefix.data(), dst.data(), c.maxlines, c.seconds)
                                 : write_wait_readcimi(c.cmd, prefix.data(), dst.data(), c.maxlines, c.seconds);
        EXPECT_EQ(r, c.result);
        EXPECT_STREQ(dst.data(), c.dst);
        EXPECT_EQ(clock.slept_ms(), c.slept_ms);
        EXPECT_EQ(NTU.attimeouts - timeouts, c.timeouts);
        EXPECT_THAT(log(), HasSubstr(c.logged));
        if (*c.cmd) {
            EXPECT_EQ(sent(std::strlen(c.cmd) + 1), std::string(c.cmd) + "\r");  // no line feed
        }
    }
}

TEST_F(AtChannel, TheCollectingExchangesLogNeitherCommandNorSteps) {
    clear_log();
    std::string ok = "OK";
    answer("\r\nOK\r\n");
    write_wait_read1("AT", ok.data(), bsp::lte::out_put(), 0, 1);
    answer("\r\nOK\r\n");
    write_wait_readcimi("AT", ok.data(), bsp::lte::out_put(), 0, 1);
    EXPECT_THAT(log(), Not(HasSubstr("AT> ")));
    EXPECT_THAT(log(), Not(HasSubstr("LTE_TEHED fun=write_wait_read,")));
    EXPECT_THAT(log(), Not(HasSubstr("At time out")));
}

TEST_F(AtChannel, KeepsWhatItWritesWithin1024Bytes) {
    struct Case {
        bool appending;
        std::size_t before, line;
        std::size_t after;
    };
    for (const Case& c : {Case{false, 0, 3000, 1023}, Case{true, 1000, 100, 1023}, Case{true, 1023, 5, 1023},
                          Case{true, 10, 20, 30}}) {
        std::array<char, 1024 + 16> dst;
        dst.fill('#');
        std::memset(dst.data(), 'b', c.before);
        dst[c.before] = '\0';
        answer("\r\n" + std::string(c.line, '7') + "\r\n");
        std::string prefix = "7";
        auto exchange = c.appending ? write_wait_read1 : write_wait_read;
        EXPECT_EQ(exchange("", prefix.data(), dst.data(), 0, 1), 0);
        EXPECT_EQ(std::strlen(dst.data()), c.after);
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

    testing::internal::CaptureStdout();
    EXPECT_EQ(writeline("AT"), -1);
    std::string prefix = "OK";
    EXPECT_EQ(write_wait_read("AT", prefix.data(), bsp::lte::out_put(), 2, 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "??????ltefd=-1???????\n??????ltefd=-1???????\n");
    clock.reset();
    EXPECT_EQ(readline(2), nullptr);  // no port: three empty polls
    EXPECT_EQ(clock.slept_ms(), 300);
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
        {"^SYSINFO: 2,3,0,17,1,7", 0, "iiiiii", {"2", "3", "0", "17", "1", "7"}},
        {"+CNUM: \"\",\"+11234567890\",145", 0, "tti", {"", "+11234567890", "145"}},
        {"+CREG: 2,1,\"00A8\",\"5355E8D\",7", 0, "iihhi", {"2", "1", "168", "87383693", "7"}},
        {"+CME ERROR: raspberry", 0, "i", {"-"}},  // row 53: no digits
        {"+CSQ: ,5", 0, "ii", {"-", "5"}},
        {"+X: \"open", 0, "tt", {"open", "-"}},  // an unclosed quote ends the text
        {"+CSQ: -5,99", 0, "i", {"-5"}},
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
    char* none = nullptr;
    int v = 0;
    EXPECT_EQ(at_tok_start(&none), -1);
    EXPECT_EQ(at_tok_start(nullptr), -1);
    EXPECT_EQ(nextTok(&none), nullptr);
    EXPECT_EQ(at_tok_nextint(&none, &v), -1);
    skipWhiteSpace(&none);
    skipNextComma(&none);

    std::string spaced = " \t 7, 8";
    char* cur = spaced.data();
    skipWhiteSpace(&cur);
    EXPECT_STREQ(cur, "7, 8");
    skipNextComma(&cur);
    EXPECT_STREQ(cur, " 8");
    skipNextComma(&cur);
    EXPECT_STREQ(cur, "");
}

TEST(AtTokenizer, PrefixesCaseAndLineEnds) {
    struct Starts {
        const char* line;
        const char* prefix;
        int result;
    };
    for (const Starts& s : {Starts{"+CSQ: 21,99", "+CSQ", 1}, Starts{"OK", "", 1}, Starts{"O", "OK", 0},
                            Starts{"ok", "OK", 0}, Starts{"+CIMI: 4600", "+CIMI: ", 1}, Starts{nullptr, "OK", 0},
                            Starts{"OK", nullptr, 0}})
        EXPECT_EQ(strStartsWith(s.line, s.prefix), s.result) << (s.line ? s.line : "null") << " / "
                                                             << (s.prefix ? s.prefix : "null");

    struct Upper {
        const char* in;
        const char* out;
    };
    for (const Upper& u : {Upper{"ok", "OK"}, Upper{"+cgsn: 0x80a1", "+CGSN: 0X80A1"}, Upper{"Az09{}", "AZ09{}"},
                           Upper{"\xc3\xa9t\xc3\xa9", "\xc3\xa9T\xc3\xa9"}}) {
        std::string s = u.in;
        EXPECT_EQ(to_upper(s.data()), s.data());
        EXPECT_EQ(s, u.out);
    }
    EXPECT_EQ(to_upper(nullptr), nullptr);

    struct Eol {
        const char* text;
        int at;  // -1: none
    };
    for (const Eol& e : {Eol{"OK\r\n", 2}, Eol{"\nOK", 0}, Eol{"> ", 2}, Eol{">  ", -1}, Eol{"> x", -1}, Eol{"OK", -1},
                         Eol{"", -1}}) {
        std::string s = e.text;
        const char* eol = findNextEOL(s.data());
        EXPECT_EQ(eol ? eol - s.data() : -1, e.at) << e.text;
    }
    EXPECT_EQ(findNextEOL(nullptr), nullptr);
}

}  // namespace
