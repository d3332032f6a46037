// Every exported call with bad input, from the host's thread while the whole box runs: in a box as
// it should be, with /tmp turned into a plain file, and with the log on a device that refuses
// writes. Each call answers as bad_calls.txt says the system defines, nothing crashes, and a
// sanitizer build reports nothing (the shell then ends with status 0).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using systest::TempRoot;

struct Row {
    std::string call, result, text;  // as bad_calls.txt gives them
};

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' '), last = s.find_last_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first, last - first + 1);
}

std::vector<Row> rows() {
    std::vector<Row> out;
    std::ifstream in(SYSTEM_TESTS_DIR "/bad_calls.txt");
    for (std::string l; std::getline(in, l);) {
        const auto arrow = l.find(" => "), bar = l.find(" | ", arrow);
        if (l.starts_with("#") || arrow == std::string::npos) continue;
        out.push_back({trimmed(l.substr(0, arrow)), trimmed(l.substr(arrow + 4, bar - arrow - 4)),
                       bar == std::string::npos ? "" : trimmed(l.substr(bar + 3))});
    }
    return out;
}

// How the box is spoilt once it is up, and what appending to the log file then gives.
struct Spoilt {
    const char* name;
    void (*spoil)(const TempRoot&);
    const char* save;  // SDK_LOG_SAVE_FILE's result for the log file
};
const Spoilt kSpoilt[] = {
    {"Whole", [](const TempRoot&) {}, "1"},
    {"TmpIsAPlainFile",
     [](const TempRoot& root) {
         // The running library may add a file while the directory is emptied: until it is gone.
         for (std::error_code ec; std::filesystem::remove_all(root / "tmp", ec), ec;) {}
         testfiles::write_file(root / "tmp", "not a directory\n");
     },
     "-1"},
    {"LogOnDevFull",  // opened and sought, yet every write fails
     [](const TempRoot& root) {
         std::filesystem::remove(root / "tmp/sdklog.log");
         std::filesystem::create_symlink("/dev/full", root / "tmp/sdklog.log");
     },
     "1"},
};

void PrintTo(const Spoilt& s, std::ostream* os) { *os << s.name; }

class BadCalls : public testing::TestWithParam<Spoilt> {};

TEST_P(BadCalls, AnswerAsDefinedWhileTheBoxRuns) {
    TempRoot root;
    sim::Options o;
    o.announce_period = 300ms;
    o.environment = true;
    o.gps.enabled = true;
    o.exported = {1, 18, 0, 4};  // the LED lines
    sim::Box box(root.path(), o);
    HostShell shell(root, box.env());
    ASSERT_EQ(shell.call("InitializeSDK", 60s), "InitializeSDK -> 0");
    GetParam().spoil(root);
    EXPECT_EQ(shell.call(R"(SDK_LOG_SAVE_FILE "/tmp/sdklog.log" "text")"), std::string("SDK_LOG_SAVE_FILE -> ") + GetParam().save);
    EXPECT_EQ(shell.call(R"(SDK_LOG_WRITE 5 "%s" "a record")"), "SDK_LOG_WRITE -> 1");  // output, whatever the file

    const auto all = rows();
    ASSERT_GT(all.size(), 100u);
    for (const Row& row : all) {
        const std::string name = row.call.substr(0, row.call.find(' ')) + " -> ";
        const std::size_t printed = shell.out().size();
        const std::string got = shell.call(row.call, 60s);
        ASSERT_FALSE(got.empty()) << row.call << ": no answer (the host is gone)";
        const bool any = row.result == "*", beginning = row.result.ends_with("...");
        const std::string wanted = name + (any ? "" : row.result.substr(0, row.result.size() - (beginning ? 3 : 0)));
        EXPECT_EQ(any || beginning ? got.substr(0, wanted.size()) : got, wanted);
        EXPECT_TRUE(row.text.empty() || shell.wait_out(row.text, 5s, printed)) << row.call << ": no \"" << row.text << "\"";
    }
    EXPECT_EQ(shell.finish(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, BadCalls, testing::ValuesIn(kSpoilt),
                         [](const testing::TestParamInfo<Spoilt>& p) { return std::string(p.param.name); });

}  // namespace
