// Scenario files played by fsu-sim on the box while the real library, driven through the host
// shell, works against it: every expectation held gives exit status 0; one that did not, or a
// host that ended before the end, gives 1, each said on its own line; a file refused gives 2,
// naming its line. The runs go side by side. Run in the plain build only (label default-only).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <future>
#include <regex>
#include <string>
#include <vector>

#include "host_shell.h"

namespace {

using testing::ContainsRegex;
using testing::HasSubstr;

using testfiles::Ran;
using testfiles::run;

// A line of the report, its time any: "ok", "not ok" or "#", the time, then `rest` as it is.
std::string line(const std::string& verdict, const std::string& rest) {
    return "\n" + verdict + std::string(verdict.size() < 6 ? 6 - verdict.size() : 0, ' ') +
           " +[0-9]+\\.[0-9]{3}  " + std::regex_replace(rest, std::regex(R"([.()^$|*+?\[\]{}\\])"), R"(\$&)") + "\n";
}

TEST(LiveScenario, ExitStatusSaysWhetherEveryExpectationHeldAndTheHostLasted) {
    systest::TempRoot dir;
    const std::string lights = "SDK_LOG_PAR_INIT\nSetLEDValue \"Local/Led/run\" 1\n";
    testfiles::write_file(dir / "working.calls", lights + "sleep 30000\n");
    testfiles::write_file(dir / "leaving.calls", lights);
    const std::string held =
        "# the host lights its run LED\n"
        "expect within 3s leds.run.lit = on\n"
        "expect always 0s..3s reboot.requests = 0\n"
        "at 1s set modem-csq=10 silent.2=on\n"
        "expect within 2s modem.csq = 10\n"
        "expect within 2s boards.2.present != on\n";
    testfiles::write_file(dir / "held.scenario", held);
    testfiles::write_file(dir / "broken.scenario", held + "expect within 1s reboot.requests >= 1\n");
    testfiles::write_file(dir / "refused.scenario", held + "\nat 2s set modem-csq=100\n");

    const std::string shell = systest::driven("SDK_SHELL", SDK_SHELL) + " ";
    const auto play = [&](const std::string& file, const std::string& calls) {
        return std::async(std::launch::async, run,
                          std::string(FSU_SIM) + " --scenario " + (dir / file).string() + " -- " + shell + (dir / calls).string());
    };
    auto held_run = play("held.scenario", "working.calls"), broken_run = play("broken.scenario", "working.calls"),
         left_run = play("held.scenario", "leaving.calls"), refused_run = play("refused.scenario", "working.calls");

    const std::vector<std::string> kHeld = {
        line("ok", "leds.run.lit is true  (line 2: expect within 3s leds.run.lit = on)"),
        line("#", "set modem-csq=10 silent.2=on  (line 4)"),
        line("ok", "modem.csq is 10  (line 5: expect within 2s modem.csq = 10)"),
        line("ok", "boards.2.present is false  (line 6: expect within 2s boards.2.present != on)"),
        line("ok", "reboot.requests is 0  (line 3: expect always 0s..3s reboot.requests = 0)")};
    const Ran ok = held_run.get();
    EXPECT_EQ(ok.status, 0) << ok.out;
    for (const auto& l : kHeld) EXPECT_THAT(ok.out, ContainsRegex(l));
    EXPECT_THAT(ok.out, HasSubstr("\n4 passed, 0 failed\n"));

    const Ran broken = broken_run.get();
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_THAT(broken.out, ContainsRegex(line("not ok", "reboot.requests is 0  (line 7: expect within 1s reboot.requests >= 1)")));
    EXPECT_THAT(broken.out, HasSubstr("\n4 passed, 1 failed\n"));
    EXPECT_THAT(broken.out, HasSubstr("fsu-sim: the box's directory is kept for a look: "));

    const Ran left = left_run.get();
    EXPECT_EQ(left.status, 1) << left.out;
    EXPECT_THAT(left.out, ContainsRegex(line("not ok", "the host exited with status 0 before the end")));
    EXPECT_THAT(left.out, HasSubstr("\n4 passed, 1 failed\n"));

    const Ran refused = refused_run.get();
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "fsu-sim: " + (dir / "refused.scenario").string() +
                               ": line 8: modem-csq: \"100\" is not a whole number from 0 to 99\n");

    // A failed run keeps its box's directory, with the host's output and the box's trace.
    for (const Ran* r : {&broken, &left}) {
        std::smatch kept;
        ASSERT_TRUE(std::regex_search(r->out, kept, std::regex("kept for a look: (\\S+) ")));
        EXPECT_THAT(testfiles::read_file(std::string(kept[1]) + "/host.log"), HasSubstr("SetLEDValue -> -1"));
        EXPECT_THAT(testfiles::read_file(std::string(kept[1]) + "/trace"), HasSubstr("LED run lit"));
        std::filesystem::remove_all(std::string(kept[1]));
    }
}

}  // namespace
