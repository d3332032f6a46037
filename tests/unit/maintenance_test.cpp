// Device information and maintenance, in the test process under a temporary box root whose bin/
// holds the box's recording stand-ins (date, hwclock, user.sh): no real clock is ever set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "io/io.h"
#include "sdk/sdk.h"
#include "sim/standins.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using Records = std::vector<std::pair<std::string, std::string>>;  // level tag, message

constexpr const char* kNotLiteral = "the shell would not take it literally";

class Maintenance : public unit::RootedTest {
  public:
    void SetUp() override {
        RootedTest::SetUp();
        sim::install_standins(root_, "false");
        for (const char* tool : {"bin/date", "bin/hwclock", "bin/user.sh"}) ASSERT_TRUE(fs::exists(box(tool))) << tool;
        setenv("SDK_BSP_CMDLOG", box("cmdlog").c_str(), 1);
        bsp::os::reload_environment();
        STR_LOG_PAR = {2, 2, 2, 2, 2, 2, 2, 2};  // every level to the file only
        cwd_ = fs::current_path();
        fs::current_path(root_);  // a canary written relative to the working directory lands in the box
    }
    void TearDown() override {
        fs::current_path(cwd_);
        SDK_LOG_PAR_INIT_NOPRINTF();
        RootedTest::TearDown();
    }

    // What the library asked of the shell since the last forget(), one command each, the root
    // written as $R.
    std::vector<std::string> journal() const {
        std::vector<std::string> lines;
        std::istringstream in(unit::read_file(box("cmdlog")));
        for (std::string l; std::getline(in, l);)
            lines.push_back(std::regex_replace(l, std::regex(root_.string()), "$$R"));
        return lines;
    }
    Records records() const {
        static const std::regex record("\r\n\\[[-0-9: ]+ (sdk_[A-Z]+) +Line=[0-9]{10}\\]:");
        const std::string log = unit::read_file(box("tmp/sdklog.log"));
        Records out;
        for (std::sregex_iterator m(log.begin(), log.end(), record), end; m != end; ++m) {
            auto from = static_cast<std::size_t>(m->position() + m->length());
            auto next = log.find("\r\n[", from);
            out.emplace_back((*m)[1], log.substr(from, next == std::string::npos ? next : next - from));
        }
        return out;
    }
    void forget() const {
        fs::remove(box("cmdlog"));
        fs::remove(box("tmp/sdklog.log"));
        fs::remove(box("canary"));
    }

    fs::path cwd_;
};

// Each argument that carries caller text into a command, with valid text in the others.
using Commands = std::vector<std::string>;
struct Target {
    const char* name;
    bool quoted;  // inside single quotes in its command
    std::function<int(const char*)> call;
    const char* refusal;                           // the level-2 line of a refused call
    std::function<Commands(const std::string&)> normal;  // the commands of accepted text
};

const Commands kUnpack = {"gunzip $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz", "tar -xf $R/tmp/sdk/CAIRN_KIT_SDK.tar"};

const Target kTargets[] = {
    {"SetRtc time", true, [](const char* t) { return SetRtc(t); }, "SetRtc: time refused, ",
     [](const std::string& t) { return Commands{"date -s '" + t + "'", "hwclock -w"}; }},
    {"SetFtp user", false, [](const char* t) { return SetFtp(t, "secret", "/srv/ftp"); }, "SetFtp: user refused, ",
     [](const std::string& t) { return Commands{"mkdir $R/srv/ftp", "user.sh add " + t + " secret $R/srv/ftp"}; }},
    {"SetFtp password", false, [](const char* t) { return SetFtp("ftpuser", t, "/srv/ftp"); },
     "SetFtp: password refused, ",
     [](const std::string& t) { return Commands{"mkdir $R/srv/ftp", "user.sh add ftpuser " + t + " $R/srv/ftp"}; }},
    {"SetFtp path", false, [](const char* t) { return SetFtp("ftpuser", "secret", t); }, "SetFtp: path refused, ",
     [](const std::string& t) { return Commands{"mkdir " + t, "user.sh add ftpuser secret " + t}; }},
    {"DelFtp user", false, [](const char* t) { return DelFtp(t); }, "DelFtp: user refused, ",
     [](const std::string& t) { return Commands{"user.sh del " + t}; }},
    {"UpdateSDK path", false,
     [](const char* t) { return UpdateSDK((std::string(t) + "/CAIRN_KIT_SDK.tar.gz").c_str()); },
     "UpdateSDK: path refused, ",
     [](const std::string& t) {
         return Commands{"mkdir $R/tmp/sdk", "mv " + t + "/CAIRN_KIT_SDK.tar.gz $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz",
                         kUnpack[0], kUnpack[1]};
     }},
};

TEST_F(Maintenance, CallerTextTheShellWouldNotTakeLiterallyRunsNothing) {
    struct Payload {
        const char* text;
        bool refused_quoted, refused_bare;
    };
    const Payload payloads[] = {
        {"';touch canary;'", true, true},   {"\";touch canary;\"", true, true}, {";touch canary", true, true},
        {"|touch canary", true, true},      {"&touch canary", true, true},      {"&&touch canary", true, true},
        {"$(touch canary)", true, true},    {"`touch canary`", true, true},     {"${IFS}touch${IFS}canary", true, true},
        {">canary", true, true},            {"<canary", true, true},            {"(touch canary)", true, true},
        {"x\\", true, true},                {"x\ntouch canary", true, true},    {"x\rtouch canary", true, true},
        {"x\ttouch canary", true, true},    {"\x1b[2J", true, true},            {"x\x7f", true, true},
        {"x touch canary", false, true},    {"*", false, true},                 {"canar?", false, true},
        {"[c]anary", false, true},          {"-rf", false, true},               {"#canary", false, true},
        {"~root", false, true},
        // Literal everywhere: the normal command.
        {"2024-07-01", false, false}, {"a=b,c.d_e+f@g:h%i^j{k}l]m!n", false, false},
        {"p\xc3\xa4ss\xe2\x82\xac", false, false},
    };
    for (const Payload& p : payloads) {
        for (const Target& t : kTargets) {
            SCOPED_TRACE(testing::Message() << t.name << " <- " << testing::PrintToString(std::string(p.text)));
            forget();
            const int result = t.call(p.text);
            if (t.quoted ? p.refused_quoted : p.refused_bare) {
                EXPECT_EQ(result, -1);
                EXPECT_THAT(journal(), testing::IsEmpty());
                EXPECT_THAT(records(), testing::Contains(Records::value_type{"sdk_ERROR", std::string(t.refusal) + kNotLiteral}));
            } else {
                EXPECT_EQ(journal(), t.normal(p.text));
                EXPECT_THAT(records(), testing::Not(testing::Contains(testing::Key("sdk_ERROR"))));
            }
            EXPECT_FALSE(fs::exists(box("canary")));
        }
    }
}

TEST_F(Maintenance, CommandsResultsAndLogLines) {
    // The longest package path the 512-byte move command holds, and one character more.
    const std::string long_path = "/" + std::string(456, 'p') + "/CAIRN_KIT_SDK.tar.gz";
    const std::string too_long = "/" + std::string(457, 'p') + "/CAIRN_KIT_SDK.tar.gz";
    ASSERT_EQ(long_path.size(), 478u);
    struct Case {
        const char* name;
        std::function<int()> call;
        int result;
        std::vector<std::string> commands;
        Records log;
    };
    const std::vector<Case> cases = {
        {"clock", [] { return SetRtc("2024-07-01 08:30:00"); }, 0,
         {"date -s '2024-07-01 08:30:00'", "hwclock -w"},
         {{"sdk_SYS", "SetRtc 2024-07-01 08:30:00;set_cmd=date -s '2024-07-01 08:30:00'"}}},
        {"clock text cut at 29 characters", [] { return SetRtc("2024-07-01 08:30:00.000000000'; reboot"); }, 0,
         {"date -s '2024-07-01 08:30:00.000000000'", "hwclock -w"},
         {{"sdk_SYS", "SetRtc 2024-07-01 08:30:00.000000000'; reboot;set_cmd=date -s '2024-07-01 08:30:00.000000000'"}}},
        {"clock text absent", [] { return SetRtc(nullptr); }, -1, {}, {}},
        {"new ftp account", [] { return SetFtp("ftpuser", "secret", "/srv/ftp"); }, 0,
         {"mkdir $R/srv/ftp", "user.sh add ftpuser secret $R/srv/ftp"},
         {{"sdk_DEBUG", "fun=SetFtp,usr =ftpuser,password=secret,path=/srv/ftp"}}},
        {"ftp account in an existing directory", [] { return SetFtp("guest", "pw", "/tmp"); }, 0,
         {"user.sh add guest pw $R/tmp"}, {{"sdk_DEBUG", "fun=SetFtp,usr =guest,password=pw,path=/tmp"}}},
        {"ftp path absent", [] { return SetFtp("ftpuser", "secret", nullptr); }, -1, {},
         {{"sdk_DEBUG", "fun=SetFtp,usr =ftpuser,password=secret,path=(null)"}}},
        {"ftp user absent", [] { return SetFtp(nullptr, "secret", "/srv/ftp"); }, -1, {},
         {{"sdk_DEBUG", "fun=SetFtp,usr =(null),password=secret,path=/srv/ftp"},
          {"sdk_ERROR", "SetFtp: user refused, absent"}}},
        {"ftp password empty", [] { return SetFtp("ftpuser", "", "/srv/ftp"); }, -1, {},
         {{"sdk_DEBUG", "fun=SetFtp,usr =ftpuser,password=,path=/srv/ftp"},
          {"sdk_ERROR", std::string("SetFtp: password refused, ") + kNotLiteral}}},
        {"ftp account too long", [] { return SetFtp("u", std::string(500, 'p').c_str(), "/srv/ftp"); }, -1, {},
         {{"sdk_DEBUG", "fun=SetFtp,usr =u,password=" + std::string(500, 'p') + ",path=/srv/ftp"},
          {"sdk_ERROR", "SetFtp: arguments refused, too long for its command"}}},
        {"delete ftp account", [] { return DelFtp("ftpuser"); }, -1, {"user.sh del ftpuser"},
         {{"sdk_DEBUG", "fun=DelFtp,usr =ftpuser"}}},
        {"delete ftp account absent", [] { return DelFtp(nullptr); }, -1, {},
         {{"sdk_DEBUG", "fun=DelFtp,usr =(null)"}, {"sdk_ERROR", "DelFtp: user refused, absent"}}},
        {"update, package missing", [] { return UpdateSDK("/mnt/CAIRN_KIT_SDK.tar.gz"); }, -1,
         {"mkdir $R/tmp/sdk", "mv $R/mnt/CAIRN_KIT_SDK.tar.gz $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz", kUnpack[0], kUnpack[1]},
         {{"sdk_SYS", "UpdateSDK(/mnt/CAIRN_KIT_SDK.tar.gz)"}}},
        {"update, other file", [] { return UpdateSDK("/mnt/CAIRN_KIT_SDK.tar"); }, 0, {},
         {{"sdk_SYS", "UpdateSDK(/mnt/CAIRN_KIT_SDK.tar)"}}},
        {"update, path absent", [] { return UpdateSDK(nullptr); }, 0, {}, {{"sdk_SYS", "UpdateSDK((null))"}}},
        {"update, longest path", [&] { return UpdateSDK(long_path.c_str()); }, -1,
         {"mkdir $R/tmp/sdk", "mv $R" + long_path + " $R/tmp/sdk/CAIRN_KIT_SDK.tar.gz", kUnpack[0], kUnpack[1]},
         {{"sdk_SYS", "UpdateSDK(" + long_path + ")"}}},
        {"update, path too long", [&] { return UpdateSDK(too_long.c_str()); }, -1, {},
         {{"sdk_SYS", "UpdateSDK(" + too_long + ")"}, {"sdk_ERROR", "UpdateSDK: path refused, too long for its command"}}},
        {"extension types", [] { return GetSupportedExtendType(nullptr, 0); }, -2, {}, {}},
        {"add extension", [] { return AddExtend("x", "y"); }, -1, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forget();
        fs::remove_all(box("tmp/sdk"));
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(journal(), c.commands);
        EXPECT_EQ(records(), c.log);
    }
}

TEST_F(Maintenance, TheClockCommandsAreEachFollowedByAWatchdogFeed) {
    // The clock reads the number of commands run so far, so each time read shows which commands
    // preceded it; between the two commands only a feed reads it.
    struct CommandCountClock : bsp::os::Clock {
        explicit CommandCountClock(const Maintenance& t) : test(t) { bsp::os::set_clock(this); }
        ~CommandCountClock() override { bsp::os::set_clock(nullptr); }
        std::time_t now() noexcept override {
            seen.push_back(test.journal().size());
            return 1719822600 + static_cast<std::time_t>(seen.back());
        }
        const Maintenance& test;
        std::vector<std::size_t> seen;
    } clock(*this);
    bsp_SoftDog_Init();
    EXPECT_EQ(SetRtc("2024-07-01 08:30:00"), 0);
    EXPECT_THAT(clock.seen, testing::Contains(1u));                       // after date -s
    EXPECT_EQ(bsp::io::soft_dog().last_feed, 1719822600u + 2);  // after hwclock -w
}

TEST_F(Maintenance, VersionAndHardwareTextsAreWrittenWhole) {
    const std::string version("VQ-1.1.0\0", 9);
    const std::string hardware("{\"产品型号\":\"VQM-KP-2000A1\",\"生产日期\":\"2022-07-01 08:30:00\"}\0", 70);
    struct Case {
        std::function<int(char*)> call;
        std::string written;  // the buffer's first 80 bytes afterwards; '.' marks bytes left alone
        const char* log;
    };
    const Case cases[] = {
        {[](char* b) { return ReadSDKVersion(b, 16); }, version + std::string(7, '\0') + std::string(64, '.'),
         "ReadSDKVersion(VQ-1.1.0)"},
        {[](char* b) { return ReadSDKVersion(b, 4); }, version + std::string(71, '.'), "ReadSDKVersion(VQ-1.1.0)"},
        {[](char* b) { return ReadSDKVersion(b, -1); }, version + std::string(71, '.'), "ReadSDKVersion(VQ-1.1.0)"},
        {[](char* b) { return ReadHardwareInformation(b, 1); }, hardware + std::string(10, '.'),
         "ReadHardwareInformation({\"产品型号\":\"VQM-KP-2000A1\",\"生产日期\":\"2022-07-01 08:30:00\"})"},
    };
    for (const Case& c : cases) {
        forget();
        std::string buffer(80, '.');
        EXPECT_EQ(c.call(buffer.data()), 0);
        EXPECT_EQ(buffer, c.written);
        EXPECT_EQ(records(), (Records{{"sdk_SYS", c.log}}));
    }
    EXPECT_EQ(ReadSDKVersion(nullptr, 16), 0);
    EXPECT_EQ(ReadHardwareInformation(nullptr, 70), 0);
}

TEST_F(Maintenance, FileHelpersTakeBoxPaths) {
    unit::write_file(box("tmp/ten"), "0123456789");
    unit::write_file(box("tmp/empty"), "");
    constexpr int kAny = -2;  // a directory's size is the file system's own
    struct Case {
        const char* path;
        int exists, size;
        int read_size;
        int read;              // Read_Data_File's result
        std::string contents;  // what it placed in the buffer
    };
    const Case cases[] = {
        {"/tmp/ten", 1, 10, 32, 10, "0123456789"}, {"/tmp/ten", 1, 10, 4, 4, "0123"},
        {"/tmp/ten", 1, 10, 0, 0, ""},             {"/tmp/empty", 1, 0, 32, 0, ""},
        {"/tmp/missing", 0, -1, 32, 0, ""},        {"/tmp", 1, kAny, 32, -1, ""},  // opened for writing: refused
        {nullptr, 0, -1, 32, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "null");
        EXPECT_EQ(IsFileExist(c.path), c.exists);
        if (c.size != kAny) {
            EXPECT_EQ(FSU_get_file_size(c.path), c.size);
        }
        std::string buffer(40, '\0');
        EXPECT_EQ(Read_Data_File(c.path, buffer.data(), c.read_size), c.read);
        EXPECT_EQ(buffer.c_str(), c.contents);
        const int fd = FSU_get_fd(c.path);
        EXPECT_EQ(fd >= 0, c.exists == 1);
        if (fd >= 0) {
            EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
            close(fd);
        }
    }
    EXPECT_EQ(Read_Data_File("/tmp/ten", nullptr, 32), 0);
    EXPECT_THAT(journal(), testing::IsEmpty());
}

TEST_F(Maintenance, CommandOutputKeepsItsFirstWord) {
    using namespace std::string_literals;
    struct Case {
        const char* command;
        int size;
        std::string buffer;  // all size bytes afterwards
    };
    const Case cases[] = {
        {"echo 'abc def'", 12, "abc\0def\0\0\0\0\0"s},
        {"printf 'hash\\r\\n'", 8, "hash\0\0\0\0"s},
        {"echo ' lead'", 8, "\0lead\0\0\0"s},
        // An output that mentions "Entry" or "can't" is no answer: its first byte is cleared.
        {"echo 'No such Entry'", 20, "\0o such Entry\n\0\0\0\0\0\0"s},
        {"echo \"md5sum: can't open\"", 24, "\0d5sum: can't open\n\0\0\0\0\0"s},
        // One byte short of the buffer is read, so the text always ends.
        {"printf 0123456789", 6, "01234\0"s},
        {"echo only-on-stderr >&2", 4, "\0\0\0\0"s},
        {"exit 3", 4, "\0\0\0\0"s},
        {nullptr, 4, "\0\0\0\0"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command ? c.command : "null");
        std::string buffer(static_cast<std::size_t>(c.size), '.');
        EXPECT_EQ(ReadsyscmdReturn(c.command, buffer.data(), c.size), buffer.data());
        EXPECT_EQ(buffer, c.buffer);
    }
    char untouched = '.';
    EXPECT_EQ(ReadsyscmdReturn("echo x", &untouched, 0), &untouched);
    EXPECT_EQ(untouched, '.');
    EXPECT_EQ(ReadsyscmdReturn("echo x", nullptr, 8), nullptr);
    // Run as given: the caller owns the text.
    EXPECT_EQ(journal()[0], "echo 'abc def'");
}

}  // namespace
