// The simulated box's uci: its answers and its files against what the real uci printed and wrote
// for the same configuration files.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "../common/files.h"
#include "sim/standins.h"
#include "sim/uci.h"

namespace {

namespace fs = std::filesystem;

const fs::path kUciData = fs::path(SDK_BSP_TESTDATA) / "uci";

struct Result {
    int status;
    std::string out, err;
};

Result uci(const sim::uci::Dirs& dirs, std::vector<std::string> args) {
    Result r;
    r.status = sim::uci::run(args, dirs, r.out, r.err);
    return r;
}

// `uci get` and `uci show` of every file the real tool was asked about.
TEST(SimUci, AnswersAsTheRealUciDid) {
    if (!fs::exists(kUciData)) GTEST_SKIP() << "no UCI files in " << SDK_BSP_TESTDATA;
    const std::regex generated_name(R"(\.cfg[0-9a-f]{6}(\.|$))");  // names from `uci show -X`
    int checked = 0;
    for (const char* set : {"device", "handwritten"}) {
        const sim::uci::Dirs dirs{kUciData / set, fs::temp_directory_path() / "sim-uci-unused"};
        for (const auto& e : fs::directory_iterator(kUciData / "expected" / set)) {
            const std::string expected = testfiles::read_file(e.path());
            if (e.path().extension() == ".show") {
                EXPECT_EQ(uci(dirs, {"show", e.path().stem().string()}).out, expected) << e.path();
                ++checked;
                continue;
            }
            std::istringstream rows(expected);  // key, exit status, output
            for (std::string row; std::getline(rows, row);) {
                const auto tab1 = row.find('\t'), tab2 = row.find('\t', tab1 + 1);
                const std::string key = row.substr(0, tab1);
                if (std::regex_search(key, generated_name)) continue;
                const Result r = uci(dirs, {"get", key});
                EXPECT_EQ(r.status, std::stoi(row.substr(tab1 + 1, tab2 - tab1 - 1))) << key;
                EXPECT_EQ(r.out, r.status ? "" : row.substr(tab2 + 1) + "\n") << key;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 250);
}

// The shipped files, read and written back as `uci commit` writes them.
TEST(SimUci, WritesPackagesAsUciCommitDoes) {
    if (!fs::exists(kUciData)) GTEST_SKIP() << "no UCI files in " << SDK_BSP_TESTDATA;
    for (const auto& e : fs::directory_iterator(kUciData / "handwritten")) {
        const auto package = sim::uci::parse(testfiles::read_file(e.path()));
        EXPECT_EQ(sim::uci::export_text(package), testfiles::read_file(kUciData / "committed" / e.path().filename()))
            << e.path();
    }
}

}  // namespace
