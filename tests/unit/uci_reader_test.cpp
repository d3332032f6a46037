#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "support.h"
#include "uci/uci.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kVqm =
    "\nconfig vqm 'sys'\n\toption pcas '2'\n\nconfig vqm 'web'\n\toption pcas_sdk '99999'\n\toption pcas '3'\n";

class UciReader : public unit::RootedTest {
  protected:
    void SetUp() override {
        RootedTest::SetUp();
        sdkuci_free();
    }
    void TearDown() override {
        sdkuci_free();
        RootedTest::TearDown();
    }
    void put(const std::string& package, const std::string& text) { unit::write_file(box("etc/config/" + package), text); }
    // The six packages of the memory copies, empty unless given.
    void put_six(const std::string& vqm = "", const std::string& network = "") {
        for (const char* p : {"Device", "EnvironmentPar", "monitor", "ks"}) put(p, "");
        put("vqm", vqm);
        put("network", network);
    }
    static std::string ram(const std::string& q) { return sdkuci_get_ram(q.c_str()); }
    static std::string flash(const std::string& q) { return sdkuci_get_flash(q.c_str()); }
};

TEST_F(UciReader, FindsOptionInItsNamedSectionOnly) {
    put_six(kVqm);
    for (auto get : {&UciReader::ram, &UciReader::flash}) {
        EXPECT_EQ(get("uci get vqm.sys.pcas"), "2");
        EXPECT_EQ(get("uci get vqm.sys.pcas_sdk"), "") << "the option lies in the next section";
        EXPECT_EQ(get("uci get vqm.web.pcas_sdk"), "99999");
        EXPECT_EQ(get("uci get vqm.web.pcas"), "3") << "pcas_sdk is not pcas";
    }
    put("other", kVqm);
    EXPECT_EQ(flash("uci get other.sys.pcas"), "2");
    EXPECT_EQ(ram("uci get other.sys.pcas"), "") << "not one of the six packages";
    EXPECT_EQ(flash("uci get absent.sys.pcas"), "");  // never null
}

TEST_F(UciReader, CopiesLiveFromFirstLookupUntilDroppedAndLoadInOrder) {
    put_six(kVqm, "config interface 'lan'\n\toption proto 'static'\n");
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "2");
    put("vqm", "config vqm 'sys'\n\toption pcas '1'\n");
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "2");
    EXPECT_EQ(flash("uci get vqm.sys.pcas"), "1");
    EXPECT_EQ(ram("uci get network.lan.proto"), "static");
    sdkuci_free();
    sdkuci_free();  // dropping twice is harmless
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "1");
    // A package that cannot be read stops the loading: the ones after it have no copy (and no
    // copy dropped before stays in use).
    sdkuci_free();
    fs::remove(box("etc/config/monitor"));
    fs::create_directory(box("etc/config/monitor"));
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "1");
    EXPECT_EQ(ram("uci get network.lan.proto"), "");
}

TEST_F(UciReader, MalformedQueriesAndOverlongPartsFindNothing) {
    const std::string s47(47, 's'), o47(47, 'o'), p49(49, 'p'), value(120, 'v');
    put("vqm", "config x '" + s47 + "'\n\toption " + o47 + " 'ok'\n\toption " + o47 + "x 'long'\n\toption v '" +
                   value + "'\n\toption a.b 'dotted'\n");
    put(p49, "config x 's'\n\toption o 'pkg'\n");
    EXPECT_EQ(flash("uci get vqm." + s47 + "." + o47), "ok");
    EXPECT_EQ(flash("uci get vqm." + s47 + "." + o47 + "x"), "");
    EXPECT_EQ(flash("uci get vqm." + s47 + ".v"), std::string(99, 'v'));
    EXPECT_EQ(flash("uci get vqm." + s47 + ".a.b"), "dotted");
    EXPECT_EQ(flash("uci get " + p49 + ".s.o"), "pkg");
    for (const std::string& q :
         {"uci get vqm." + s47 + "s.o", "uci get " + p49 + "p.s.o", "uci get " + std::string(200, 'v') + ".s.o",
          std::string("uci get vqm.sys"), std::string("uci  get vqm.x.v"), std::string("uci show vqm.x.v"),
          std::string("uci get vqm..v"), "uci get vqm." + s47 + "."})
        EXPECT_EQ(flash(q), "") << q;
    EXPECT_STREQ(sdkuci_get_flash(nullptr), "");
    EXPECT_STREQ(sdkuci_get_ram(nullptr), "");
}

// What a plain text search finds where uci's parser would find something else (or nothing).
TEST_F(UciReader, PlainSearchDifferencesFromUci) {
    put("t", "config a 'first'\n\toption note 'watch the baud rate'\n\toption baud '9600'\n"
             "\toption bare 9600\n\toption next 'quoted'\n"
             "config a 'x'\n\toption label 'it'\\''s'\n\toption cut 'open");
    EXPECT_EQ(flash("uci get t.first.baud"), "") << "baud inside the note value is the match";
    EXPECT_EQ(flash("uci get t.first.bare"), "") << "an unquoted value gives nothing, not the next quoted text";
    EXPECT_EQ(flash("uci get t.x.label"), "it") << "an escaped quote ends the value";
    EXPECT_EQ(flash("uci get t.x.cut"), "") << "no closing quote before the end of the file";
}

// uci's own answers for the test files (testdata/uci/expected/*.get: key, exit code, output).
TEST_F(UciReader, AgreesWithUciWhereThePlainSearchReaches) {
    const fs::path data = fs::path(SDK_BSP_TESTDATA) / "uci";
    if (!fs::exists(data / "expected")) GTEST_SKIP() << "no UCI test data at " << data;
    // Answers out of the plain search's reach, with what it gives instead.
    struct Difference {
        std::string dir, key_prefix, value;
    };
    const Difference kDifferences[] = {
        // The quoted section name first appears as an earlier option's value ('rs485' as the port of
        // the first gpio section, 'lan' as dnsmasq's domain or an alias's interface): the search
        // starts there and meets the section's own header before the option.
        {"device", "board.rs485.", ""},
        {"device", "dhcp.lan.", ""},
        {"committed", "dhcp.lan.", ""},
        {"committed", "network.lan.", ""},
        // Lists: the first item only.
        {"device", "board.rs232.gpio", "10"},
        {"device", "board.ttymxc7.alias", "debug port"},
        {"device", "system.ntp.server", "0.openwrt.pool.ntp.org"},
        // The shipped hand-written files as a whole: unquoted section names, tabs between option
        // and value, quoted option names.
        {"handwritten", "", ""},
    };
    // Section types (no option), anonymous sections (@type[n]) and their generated names
    // (cfgNNNNNN) have no quoted name in the file: nothing is found.
    const std::regex kNoQuotedName(R"([^.]*(\.[^.]*|\.@.*|\.cfg[0-9a-f]{6}\..*))");
    int agreed = 0;
    for (std::string dir : {"device", "committed", "handwritten"}) {
        fs::remove_all(box("etc/config"));
        put_six();
        for (const auto& f : fs::directory_iterator(data / dir))
            fs::copy_file(f, box("etc/config") / f.path().filename(), fs::copy_options::overwrite_existing);
        sdkuci_free();
        // The expectations for committed/ are those for handwritten/ (uci reads both alike).
        const fs::path expected = data / "expected" / (dir == "device" ? "device" : "handwritten");
        for (const auto& f : fs::directory_iterator(expected)) {
            if (f.path().extension() != ".get") continue;
            std::ifstream in(f.path());
            for (std::string line; std::getline(in, line);) {
                std::istringstream fields(line);
                std::string key, code, want;
                std::getline(std::getline(fields, key, '\t'), code, '\t');
                if (code != "0" || !std::getline(fields, want)) want.clear();
                bool reached = !std::regex_match(key, kNoQuotedName);
                if (!reached) want.clear();
                for (const Difference& d : kDifferences) {
                    if (dir == d.dir && key.starts_with(d.key_prefix)) want = d.value, reached = false;
                }
                agreed += reached && !want.empty();
                EXPECT_EQ(flash("uci get " + key), want) << dir << ": " << key;
                if (key.starts_with("network.")) {
                    EXPECT_EQ(ram("uci get " + key), want) << "copy of " << dir << ": " << key;
                }
            }
        }
    }
    EXPECT_GE(agreed, 50) << "uci answers the plain search reached";
}

TEST_F(UciReader, ListsADirectoryWithinItsBuffer) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(sdkls("/no/such"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't open /no/such\n");
    EXPECT_EQ(sdkls(nullptr), nullptr);

    // Every name, "." and ".." too, in the file system's order, one per line, as long as the line
    // and the terminator fit in 10000 bytes. 2100 names of four characters: "." and ".." (5 bytes)
    // and 1999 names fill the 10000 bytes exactly, leaving no room for the terminator.
    fs::create_directory(box("big"));
    for (int k = 0; k < 2100; ++k) std::ofstream(box("big") / std::to_string(1000 + k));
    std::string want;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(box("big").c_str()), closedir);
    while (const dirent* e = readdir(dir.get())) {
        if (want.size() + std::strlen(e->d_name) + 2 > 10000) break;
        want += std::string(e->d_name) + "\n";
    }
    EXPECT_EQ(sdkls("/big"), want);
}

}  // namespace
