// Device information and maintenance under a temporary box root whose bin/ holds recording
// stand-ins (date, hwclock, user.sh): no real clock is ever set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "io/io.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class Maintenance : public unit::RootedTest {
  public:
    void SetUp() override {
        RootedTest::SetUp();
        journal_commands();
        STR_LOG_PAR = {2, 2, 2, 2, 2, 2, 2, 2};  // every level to the file only
        cwd_ = fs::current_path();
        fs::current_path(root_);  // a canary written relative to the working directory lands in the box
    }
    void TearDown() override {
        fs::current_path(cwd_);
        SDK_LOG_PAR_INIT_NOPRINTF();
        RootedTest::TearDown();
    }
    // The journal's commands, or the log's records as lines "<tag> <message>", since the last
    // take; the root written as $R.
    std::string take(const char* file) const {
        static const std::regex header("\r\n\\[[-0-9: ]+ (sdk_[A-Z]+) +Line=[0-9]{10}\\]:");
        std::string text = std::regex_replace(unit::read_file(box(file)), header, "\n$1 ");
        fs::remove(box(file));
        return std::regex_replace(text, std::regex(root_.string()), "$$R");
    }
    fs::path cwd_;
};

TEST_F(Maintenance, CallerTextTheShellWouldNotTakeLiterallyRunsNothing) {
    const std::string unpack = "gunzip $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz\ntar -xf $R/tmp/sdk/CAIRN_KIT_SDK.tar\n";
    const struct {
        std::string refusal;  // its level-2 line: "<call>: <argument> refused, <why>"
        bool quoted;          // inside single quotes in its command
        std::function<int(const char*)> call;
        std::string normal;  // the commands run for accepted TEXT
    } targets[] = {
        {"SetRtc: time", true, [](const char* t) { return SetRtc(t); }, "date -s 'TEXT'\nhwclock -w\n"},
        {"SetFtp: user", false, [](const char* t) { return SetFtp(t, "pw", "/tmp"); }, "user.sh add TEXT pw $R/tmp\n"},
        {"SetFtp: password", false, [](const char* t) { return SetFtp("u", t, "/tmp"); }, "user.sh add u TEXT $R/tmp\n"},
        {"SetFtp: path", false, [](const char* t) { return SetFtp("u", "pw", t); }, "mkdir TEXT\nuser.sh add u pw TEXT\n"},
        {"DelFtp: user", false, [](const char* t) { return DelFtp(t); }, "user.sh del TEXT\n"},
        {"UpdateSDK: path", false, [](const char* t) { return UpdateSDK((t + "/CAIRN_KIT_SDK.tar.gz"s).c_str()); },
         "mkdir $R/tmp/sdk\nmv TEXT/CAIRN_KIT_SDK.tar.gz $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz\n" + unpack},
    };
    const struct {
        const char* text;
        bool refused_quoted, refused_bare;
    } payloads[] = {
        {"';touch canary;'", true, true}, {"\";touch canary;\"", true, true}, {";touch canary", true, true},
        {"|touch canary", true, true},    {"&touch canary", true, true},      {"$(touch canary)", true, true},
        {"`touch canary`", true, true},   {">canary", true, true},            {"<canary", true, true},
        {"(touch canary)", true, true},   {"x\\", true, true},                {"x\ntouch canary", true, true},
        {"x\ttouch", true, true},         {"x\x7f", true, true},              {"x touch canary", false, true},
        {"*", false, true},               {"canar?", false, true},            {"[c]anary", false, true},
        {"-rf", false, true},             {"#canary", false, true},           {"~root", false, true},
        // Literal everywhere: the normal command.
        {"2024-07-01", false, false}, {"a=b,c.d_e+f@g:h%i^j{k}l]m!n", false, false}, {"p\xc3\xa4ss\xe2\x82\xac", false, false},
    };
    for (const auto& p : payloads) {
        for (const auto& t : targets) {
            SCOPED_TRACE(t.refusal + " <- " + testing::PrintToString(std::string(p.text)));
            const bool refused = t.quoted ? p.refused_quoted : p.refused_bare;
            const int result = t.call(p.text);
            std::string normal = t.normal;
            for (auto at = normal.find("TEXT"); at != std::string::npos; at = normal.find("TEXT", at + 1))
                normal.replace(at, 4, p.text);
            EXPECT_EQ(take("cmdlog"), refused ? "" : normal);
            const std::string refusal = "\nsdk_ERROR " + t.refusal + " refused, the shell would not take it literally";
            EXPECT_EQ(take("tmp/sdklog.log").find(refused ? refusal : "\nsdk_ERROR") != std::string::npos, refused);
            EXPECT_TRUE(!refused || result == -1);
            EXPECT_FALSE(fs::exists(box("canary")));
        }
    }
}

TEST_F(Maintenance, CommandsResultsAndLogLines) {
    // The longest package path the 512-byte move command holds, and one character more.
    const std::string longest = "/" + std::string(456, 'p') + "/CAIRN_KIT_SDK.tar.gz", too_long = "/p" + longest.substr(1);
    const std::string clock = "2024-07-01 08:30:00.000000000'; reboot";  // cut after the zeros
    const struct {
        std::function<int()> call;
        int result;
        std::string commands, log;
    } cases[] = {
        {[&] { return SetRtc(clock.c_str()); }, 0, "date -s '2024-07-01 08:30:00.000000000'\nhwclock -w\n",
         "\nsdk_SYS SetRtc " + clock + ";set_cmd=date -s '2024-07-01 08:30:00.000000000'"},
        {[] { return SetFtp("ftpuser", "secret", "/tmp/ftp"); }, 0, "mkdir $R/tmp/ftp\nuser.sh add ftpuser secret $R/tmp/ftp\n",
         "\nsdk_DEBUG fun=SetFtp,usr =ftpuser,password=secret,path=/tmp/ftp"},
        {[] { return SetFtp("u", std::string(500, 'p').c_str(), "/tmp"); }, -1, "",
         "\nsdk_DEBUG fun=SetFtp,usr =u,password=" + std::string(500, 'p') +
             ",path=/tmp\nsdk_ERROR SetFtp: arguments refused, too long for its command"},
        {[] { return DelFtp("ftpuser"); }, -1, "user.sh del ftpuser\n", "\nsdk_DEBUG fun=DelFtp,usr =ftpuser"},
        {[] { return DelFtp(""); }, -1, "",
         "\nsdk_DEBUG fun=DelFtp,usr =\nsdk_ERROR DelFtp: user refused, the shell would not take it literally"},
        {[&] {  // a reference hash, but no library to hash
             unit::write_file(box("tmp/sdk/file.md5"), std::string(32, '0'));
             return UpdateSDK(longest.c_str());
         },
         -1,
         "mkdir $R/tmp/sdk\nmv $R" + longest + " $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz\ngunzip $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz\n"
         "tar -xf $R/tmp/sdk/CAIRN_KIT_SDK.tar\nmd5sum $R/tmp/sdk/libsdk_bsp.so\n",
         "\nsdk_SYS UpdateSDK(" + longest + ")"},
        {[&] { return UpdateSDK(too_long.c_str()); }, -1, "",
         "\nsdk_SYS UpdateSDK(" + too_long + ")\nsdk_ERROR UpdateSDK: path refused, too long for its command"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(take("cmdlog"), c.commands);
        EXPECT_EQ(take("tmp/sdklog.log"), c.log);
    }
}

TEST_F(Maintenance, TheWatchdogIsFedAfterTheClockCommands) {
    // The clock reads the number of commands run so far.
    struct CommandCountClock : bsp::os::Clock {
        explicit CommandCountClock(const fs::path& j) : journal(j) { bsp::os::set_clock(this); }
        ~CommandCountClock() override { bsp::os::set_clock(nullptr); }
        std::time_t now() noexcept override {
            const std::string text = unit::read_file(journal);
            return 1719822600 + std::count(text.begin(), text.end(), '\n');
        }
        fs::path journal;
    } clock(box("cmdlog"));
    bsp_SoftDog_Init();
    EXPECT_EQ(SetRtc("2024-07-01 08:30:00"), 0);
    EXPECT_EQ(bsp::io::soft_dog().last_feed, 1719822600u + 2);
}

TEST_F(Maintenance, VersionAndHardwareTextsAreWrittenWhole) {
    const std::string version("VQ-1.1.0\0", 9);
    const std::string hardware = "{\"产品型号\":\"VQM-KP-2000A1\",\"生产日期\":\"2022-07-01 08:30:00\"}";
    const struct {
        std::function<int(char*)> call;
        std::string buffer;  // its first 80 bytes afterwards; '.' marks bytes left alone
        std::string log;
    } cases[] = {
        {[](char* b) { return ReadSDKVersion(b, 16); }, version + std::string(7, '\0') + std::string(64, '.'),
         "ReadSDKVersion(VQ-1.1.0)"},
        {[](char* b) { return ReadSDKVersion(b, 4); }, version + std::string(71, '.'), "ReadSDKVersion(VQ-1.1.0)"},
        {[](char* b) { return ReadHardwareInformation(b, 1); }, hardware + '\0' + std::string(10, '.'),
         "ReadHardwareInformation(" + hardware + ")"},
    };
    for (const auto& c : cases) {
        std::string buffer(80, '.');
        EXPECT_EQ(c.call(buffer.data()), 0);
        EXPECT_EQ(buffer, c.buffer);
        EXPECT_EQ(take("tmp/sdklog.log"), "\nsdk_SYS " + c.log);
    }
}

TEST_F(Maintenance, FileHelpersTakeBoxPaths) {
    unit::write_file(box("tmp/ten"), "0123456789");
    const struct {
        const char* path;
        int exists, size, read_size, read;
        std::string contents;
    } cases[] = {
        {"/tmp/ten", 1, 10, 32, 10, "0123456789"}, {"/tmp/ten", 1, 10, 4, 4, "0123"}, {"/tmp/ten", 1, 10, 0, 0, ""},
        {"/tmp/missing", 0, -1, 32, 0, ""},
    };
    for (const auto& c : cases) {
        std::string buffer(40, '\0');
        EXPECT_EQ(IsFileExist(c.path), c.exists);
        EXPECT_EQ(FSU_get_file_size(c.path), c.size);
        EXPECT_EQ(Read_Data_File(c.path, buffer.data(), c.read_size), c.read);
        EXPECT_EQ(buffer.c_str(), c.contents);
    }
    EXPECT_EQ(Read_Data_File("/tmp", std::string(8, '\0').data(), 8), -1);  // opened for writing too
    const int fd = FSU_get_fd("/tmp/ten");
    EXPECT_EQ(fcntl(fd, F_GETFD), FD_CLOEXEC);
    close(fd);
}

TEST_F(Maintenance, CommandOutputKeepsItsFirstWord) {
    const struct {
        const char* command;
        std::string buffer;  // all of it afterwards
    } cases[] = {
        {"echo 'abc def'", "abc\0def\0\0\0\0\0"s},
        {"printf ' lead\\r\\n'", "\0lead\0\0\0"s},
        {"echo 'No such Entry'", "\0o such Entry\n\0\0\0\0\0\0"s},  // no answer: the first byte cleared
        {"echo \"md5sum: can't open\"", "\0d5sum: can't open\n\0\0\0\0\0"s},
        {"printf 0123456789", "01234\0"s},  // one byte short of the buffer is read
        {"exit 3", "\0\0\0\0"s},
    };
    for (const auto& c : cases) {
        std::string buffer(c.buffer.size(), '.');
        EXPECT_EQ(ReadsyscmdReturn(c.command, buffer.data(), static_cast<int>(buffer.size())), buffer.data());
        EXPECT_EQ(buffer, c.buffer) << c.command;
    }
    EXPECT_EQ(take("cmdlog").substr(0, 15), "echo 'abc def'\n");  // run as given
}

}  // namespace
