// The AT command channel on a pty: the line reader on the answers real modules send
// (../shared/testdata/modem/transcripts.md, rows cited), the exchanges' endings and their waits on
// the library's clock, and the tokenizer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "at_port.h"

namespace {

using testing::Contains;
using testing::StartsWith;

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

    testing::internal::CaptureStdout();
    EXPECT_EQ(writeline("AT"), -1);
    std::string prefix = "OK";
    EXPECT_EQ(write_wait_read("AT", prefix.data(), bsp::lte::out_put(), 2, 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "??????ltefd=-1???????\n??????ltefd=-1???????\n");
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
    char* none = nullptr;
    EXPECT_EQ(nextTok(&none), nullptr);
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

}  // namespace
