#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "support.h"
#include "uci/uci.h"

namespace {

namespace fs = std::filesystem;

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

// The plain text search on packages as uci writes them, and where it differs from uci's parser.
TEST_F(UciReader, FindsTheOptionAsThePlainSearchDoes) {
    const std::string s47(47, 's'), o47(47, 'o'), p49(49, 'p');
    put_six("\nconfig vqm 'sys'\n\toption pcas '2'\n\nconfig vqm 'web'\n\toption pcas_sdk '99999'\n\toption pcas '3'\n");
    put("t", "config a 'first'\n\toption note 'watch the baud rate'\n\toption baud '9600'\n\toption bare 9600\n"
             "\toption next 'quoted'\nconfig a 'x'\n\toption label 'it'\\''s'\n\toption a.b 'dotted'\n\toption v '" +
                 std::string(120, 'v') + "'\n\tlist srv 'one'\n\tlist srv 'two'\n\toption domain 'lan'\n"
                 "config interface 'lan'\n\toption proto 'static'\nconfig x '" + s47 + "'\n\toption " + o47 + " 'ok'\n\toption " + o47 +
                 "x 'long'\n\toption cut 'open");
    put(p49, "config x 's'\n\toption o 'pkg'\n");
    const std::pair<std::string, std::string> cases[] = {
        {"uci get vqm.sys.pcas", "2"},
        {"uci get vqm.sys.pcas_sdk", ""},  // the option lies in the next section
        {"uci get vqm.web.pcas_sdk", "99999"},
        {"uci get vqm.web.pcas", "3"},      // pcas_sdk is not pcas
        {"uci get t.first.baud", ""},        // "baud" inside the note's value is the match
        {"uci get t.first.bare", ""},        // an unquoted value gives nothing, not the next quoted text
        {"uci get t.x.label", "it"},         // an escaped quote ends the value
        {"uci get t.x.a.b", "dotted"},       // the option is the rest of the query
        {"uci get t.x.v", std::string(99, 'v')},
        {"uci get t.x.srv", "one"},      // a list: its first item
        {"uci get t.lan.proto", ""},     // 'lan' first appears as a value: the search meets the header
        {"uci get t." + s47 + "." + o47, "ok"},
        {"uci get t." + s47 + ".cut", ""},  // no closing quote before the end of the file
        {"uci get " + p49 + ".s.o", "pkg"},
        {"uci get absent.sys.pcas", ""},
        // malformed queries and names over their limits
        {"uci get t." + s47 + "." + o47 + "x", ""}, {"uci get t." + s47 + "s.o", ""}, {"uci get " + p49 + "p.s.o", ""},
        {"uci get vqm.sys", ""}, {"uci  get vqm.sys.pcas", ""}, {"uci show vqm.sys.pcas", ""}, {"uci get vqm..pcas", ""},
        {"UCI GET vqm.sys.pcas", ""}, {"uci_get vqm.sys.pcas", ""},  // eight characters, but not "uci get "
        {"uci get t." + s47 + ".", ""},
    };
    for (const auto& [query, value] : cases) EXPECT_EQ(flash(query), value) << query;
    EXPECT_EQ(ram("uci get vqm.web.pcas_sdk"), "99999");
    EXPECT_EQ(ram("uci get t.x.label"), "") << "not one of the six packages";
}

TEST_F(UciReader, CopiesLiveFromFirstLookupUntilDroppedAndLoadInOrder) {
    put_six("config vqm 'sys'\n\toption pcas '2'\n", "config interface 'lan'\n\toption proto 'static'\n");
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "2");
    put("vqm", "config vqm 'sys'\n\toption pcas '1'\n");
    EXPECT_EQ(ram("uci get vqm.sys.pcas") + flash("uci get vqm.sys.pcas"), "21");
    EXPECT_EQ(ram("uci get network.lan.proto"), "static");
    sdkuci_free();
    sdkuci_free();  // dropping twice is harmless
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "1");
    // A package that cannot be read stops the loading: the ones after it have no copy.
    sdkuci_free();
    fs::remove(box("etc/config/monitor"));
    fs::create_directory(box("etc/config/monitor"));
    EXPECT_EQ(ram("uci get vqm.sys.pcas"), "1");
    EXPECT_EQ(ram("uci get network.lan.proto"), "");
}

TEST_F(UciReader, ReadsPackageFilesOfUpToOneMebibyte) {
    const std::string tail = "config x 's'\n\toption o 'end'\n";
    const auto limit = static_cast<std::size_t>(bsp::uci::kFileMax);
    put("full", std::string(limit - tail.size(), '#') + tail);
    put("over", std::string(limit + 1 - tail.size(), '#') + tail);
    EXPECT_EQ(flash("uci get full.s.o"), "end");
    EXPECT_EQ(flash("uci get over.s.o"), "") << "a larger file reads as no file";
}

TEST_F(UciReader, ListsADirectoryWithinItsBuffer) {
    // Every name, "." and ".." too, in the file system's order, one per line, as long as the line
    // and the terminator fit in 10000 bytes. 2100 names of four characters: "." and ".." (5 bytes)
    // and 1999 names fill the 10000 bytes exactly, leaving no room for the terminator.
    fs::create_directory(box("big"));
    for (int k = 0; k < 2100; ++k) unit::write_file(box("big") / std::to_string(1000 + k), "");
    const std::string list = sdkls("/big");
    EXPECT_EQ(list.size(), 5u + 1998 * 5);
    std::istringstream lines(list);
    std::set<std::string> names;
    for (std::string l; std::getline(lines, l);) names.insert(l);
    EXPECT_EQ(names.size(), 2000u);
    EXPECT_TRUE(names.contains(".") && names.contains(".."));
}

}  // namespace
