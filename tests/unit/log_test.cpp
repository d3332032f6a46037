#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "sdk_bsp.h"
#include "support.h"

namespace {

constexpr std::time_t k20240701_083000 = 1719822600;  // UTC

// A record as the log writes it at 08:30:00 on 1 July 2024: the tag is a format of its number.
std::string record(const char* tag, int number, const std::string& message) {
    char head[64];
    std::snprintf(head, sizeof head, tag, number);
    return "\r\n[2024-07-01 08:30:00 " + std::string(head) + message;
}

class Log : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        setenv("TZ", "UTC0", 1);  // time stamps in UTC
        tzset();
        SDK_LOG_PAR_INIT();
    }
    void TearDown() override {
        SDK_LOG_PAR_INIT_NOPRINTF();
        RootedTest::TearDown();
    }
    std::string file() { return unit::read_file(box("tmp/sdklog.log")); }
    int next() { return bsp::base::log_record_count() + 1; }  // the number the next record carries

    unit::FixedClock clock{k20240701_083000};
};

TEST_F(Log, RecordLayoutTagsAndModes) {
    struct Case {
        int level;
        const char* tag;
        bool on_stdout;  // level 3 goes to the file only
    };
    const Case cases[] = {
        {1, "sdk_SQL   Line=%010d]:", true},  {2, "sdk_ERROR Line=%010d]:", true}, {3, "sdk_NET   Line=%010d]:", false},
        {4, "sdk_SO    Line=%010d]:", true},  {5, "sdk_SYS   Line=%010d]:", true}, {6, "sdk_PIC   Line=%010d]:", true},
        {8, "sdk_DEBUG Line=%010d]:", true},  {0, "sdk_OTHER Line=%010d]:", true}, {7, "sdk_OTHER Line=%010d]:", true},
        {9, "sdk_OTHER Line=%010d]:", true},  {-1, "sdk_OTHER Line=%010d]:", true},
    };
    std::string expected_file;
    for (const Case& c : cases) {
        const std::string r = record(c.tag, next(), "level " + std::to_string(c.level) + ": text");
        EXPECT_EQ(unit::printed([&] { EXPECT_EQ(SDK_LOG_WRITE(c.level, "level %d: %s", c.level, "text"), 1); }),
                  c.on_stdout ? r : "")
            << c.level;
        expected_file += r;
    }
    EXPECT_EQ(file(), expected_file);
    struct stat st {};
    ASSERT_EQ(stat(box("tmp/sdklog.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0700, 0700u);

    // Off, or a word that is no mode: nothing is output, yet every call takes a number.
    SDK_LOG_PAR_INIT_NOPRINTF();
    const int n = next();
    EXPECT_EQ(SDK_LOG_WRITE(5, "off"), 0);
    STR_LOG_PAR.sys = 7;
    EXPECT_EQ(SDK_LOG_WRITE(5, "unknown mode"), 0);
    EXPECT_EQ(SDK_LOG_WRITE(5, nullptr), 0);
    STR_LOG_PAR.sys = 1;  // standard output only
    EXPECT_EQ(unit::printed([] { SDK_LOG_WRITE(5, "stdout only"); }), record("sdk_SYS   Line=%010d]:", n + 3, "stdout only"));
    EXPECT_EQ(file(), expected_file);
}

TEST_F(Log, HeaderFieldsArePaddedAsTheirFormatsPadThem) {
    for (int year : {-5, 999, 2024, 12345}) {
        std::tm tm{};
        tm.tm_year = year - 1900, tm.tm_mday = 2, tm.tm_hour = 3, tm.tm_min = 4, tm.tm_sec = 5;
        clock.set(timegm(&tm));
        const int n = next();
        char head[bsp::base::kLogHeaderMax], expected[128];
        EXPECT_EQ(bsp::base::write_header(6, head), 3);
        std::snprintf(expected, sizeof expected, "\r\n[%04d-%02d-%02d %02d:%02d:%02d sdk_PIC   Line=%010d]:", year, 1, 2, 3, 4,
                      5, n);
        EXPECT_EQ(std::string(head), expected);
    }
}

TEST_F(Log, LongMessagesAreCutToTheRecordLimit) {
    STR_LOG_PAR.sys = 2;
    EXPECT_EQ(SDK_LOG_WRITE(5, "%s", std::string(200000, 'm').c_str()), 1);
    std::string just_fits(bsp::base::kLogRecordMax - 50, 'k');  // the header is 50 characters
    EXPECT_EQ(SDK_LOG_WRITE(5, "%s", just_fits.c_str()), 1);
    const std::string rec = file();
    ASSERT_EQ(rec.size(), 2u * bsp::base::kLogRecordMax);
    EXPECT_EQ(rec.substr(bsp::base::kLogRecordMax - 1, 3), "m\r\n");
    EXPECT_EQ(rec.back(), 'k');
}

TEST_F(Log, RotatesOnlyPastTwoMegabytes) {
    journal_commands();
    STR_LOG_PAR.sys = 2;
    unit::write_file(box("tmp/sdklog.log"), std::string(bsp::base::kLogFileLimit, 'a'));
    SDK_LOG_WRITE(5, "still appended");
    EXPECT_FALSE(std::filesystem::exists(box("cmdlog")));
    EXPECT_EQ(std::filesystem::file_size(box("tmp/sdklog.log")), bsp::base::kLogFileLimit + 50u + 14);

    STR_LOG_PAR.sys = 1;  // a record for standard output only still rotates the file
    unit::printed([] { SDK_LOG_WRITE(5, "first of the new log"); });
    const std::string r = root_.string();
    EXPECT_EQ(take("cmdlog"), "rm " + r + "/tmp/sdklog.zip\nzip " + r + "/tmp/sdklog.zip " + r + "/tmp/sdklog.log\nrm " +
                                  r + "/tmp/sdklog.log\n");
    EXPECT_TRUE(std::filesystem::exists(box("tmp/sdklog.zip")));
    EXPECT_FALSE(std::filesystem::exists(box("tmp/sdklog.log")));
}

TEST_F(Log, SaveFileReportsWhatFailed) {
    char text[] = "text";
    EXPECT_EQ(SDK_LOG_SAVE_FILE("/tmp/saved", text) + SDK_LOG_SAVE_FILE("/tmp/saved", text), 2);
    EXPECT_EQ(unit::read_file(box("tmp/saved")), "texttext");
    ASSERT_EQ(mkfifo(box("tmp/fifo").c_str(), 0600), 0);
    EXPECT_EQ(SDK_LOG_SAVE_FILE("/tmp/fifo", text), -2);  // a pipe has no end to seek
}

// Eight threads at mixed levels until the log has been archived once, with the real zip: every
// record whole, every number once, nothing lost between the archive and the new log.
TEST_F(Log, Threads_EightWritersThroughOneRotation) {
    bsp::os::set_clock(nullptr);
    STR_LOG_PAR.net = 3;  // every level to the file and standard output
    const int first = next();
    std::atomic<bool> rotated{false};
    std::atomic<int> written{0};
    std::vector<std::thread> threads;
    testing::internal::CaptureStdout();
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            const std::string pad(40 + 13 * t, static_cast<char>('a' + t));
            for (int i = 0; !rotated.load() || i % 50 != 0; ++i) {
                SDK_LOG_WRITE(1 + (t + i) % 8, "writer %d record %d %s end", t, i, pad.c_str());
                written.fetch_add(1);
                if (std::filesystem::exists(box("tmp/sdklog.zip"))) rotated = true;
            }
        });
    for (auto& th : threads) th.join();
    const std::string out = testing::internal::GetCapturedStdout();

    std::string old_log;
    FILE* unzip = popen(("unzip -p " + box("tmp/sdklog.zip").string()).c_str(), "r");
    ASSERT_NE(unzip, nullptr);
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, unzip)) > 0;) old_log.append(buf, n);
    pclose(unzip);
    EXPECT_GT(old_log.size(), static_cast<size_t>(bsp::base::kLogFileLimit));

    const std::regex one(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d sdk_(SQL  |ERROR|NET  |SO   |SYS  |PIC  |OTHER|DEBUG) )"
                         R"(Line=(\d{10})\]:writer (\d) record \d+ ([a-h]+) end)");
    std::vector<int> numbers;
    for (const std::string& text : {old_log, file()}) {
        ASSERT_TRUE(text.starts_with("\r\n"));
        for (size_t at = 2, end; at < text.size(); at = end + 2) {
            end = std::min(text.find("\r\n", at), text.size());
            std::smatch m;
            const std::string r = text.substr(at, end - at);
            ASSERT_TRUE(std::regex_match(r, m, one)) << r.substr(0, 200);
            EXPECT_EQ(m[4].length(), 40 + 13 * std::stoi(m[3]));
            numbers.push_back(std::stoi(m[2]));
        }
    }
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(std::set<int>(numbers.begin(), numbers.end()).size(), numbers.size());
    EXPECT_EQ(numbers.size(), static_cast<size_t>(written.load()));
    EXPECT_EQ(numbers.front(), first);
    EXPECT_EQ(numbers.back(), first + written.load() - 1);
    EXPECT_EQ(static_cast<int>(std::count(out.begin(), out.end(), '[')), written.load());
}

}  // namespace
