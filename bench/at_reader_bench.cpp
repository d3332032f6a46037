// The AT channel's line reader over a long recorded conversation (the answers of
// ../shared/testdata/modem/transcripts.md, one after the other, repeated to 256 KiB, each fed to
// the AT port, the tests' fake port, and read line by line), beside a plain memchr line splitter over the same pieces in
// the same run. Sleeps take no time here; the log is off.
//
//   at_reader_bench                      nanoseconds per byte (Google Benchmark)
//   at_reader_bench --instructions       instructions per byte of each loop, counted by callgrind
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "../tests/common/fake_port.h"
#include "lte/lte.h"
#include "os/os.h"

namespace {

const std::string kTranscripts = SDK_BSP_TESTDATA "/modem/transcripts.md";
constexpr std::size_t kConversationBytes = 256 * 1024;

// The answers of the transcript tables: each row's answer column, its `quoted` pieces joined with
// <CR> and <LF> as the bytes they stand for; rows given line by line get CR LF around each piece.
std::vector<std::string> answers() {
    std::ifstream in(kTranscripts);
    std::vector<std::string> out;
    const std::regex row(R"(^\| *[0-9]+ *\|)"), piece("`([^`]*)`");
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_search(line, row)) continue;
        std::vector<std::string> fields;
        std::stringstream cols(line);
        for (std::string f; std::getline(cols, f, '|');) fields.push_back(f);
        if (fields.size() < 5) continue;
        const std::string& column = fields[4];
        const bool bytes = column.find("<CR>") != std::string::npos || column.find("<LF>") != std::string::npos;
        std::string answer;
        for (std::sregex_iterator it(column.begin(), column.end(), piece), end; it != end; ++it) {
            std::string p = (*it)[1];
            p = std::regex_replace(std::regex_replace(p, std::regex("<CR>"), "\r"), std::regex("<LF>"), "\n");
            answer += bytes ? p : "\r\n" + p + "\r\n";
        }
        if (!answer.empty()) out.push_back(answer);
    }
    return out;
}

// The conversation: the answers over and over, up to kConversationBytes.
const std::vector<std::string>& conversation() {
    static const std::vector<std::string> all = [] {
        const auto one = answers();
        std::vector<std::string> out;
        for (std::size_t n = 0; !one.empty() && n < kConversationBytes;)
            for (const auto& a : one) out.push_back(a), n += a.size();
        return out;
    }();
    return all;
}

std::size_t conversation_bytes() {
    std::size_t n = 0;
    for (const auto& a : conversation()) n += a.size();
    return n;
}

class InstantClock : public bsp::os::Clock {
  public:
    timeval time_of_day() noexcept override {
        return {static_cast<time_t>(ms_ / 1000), static_cast<suseconds_t>(ms_ % 1000 * 1000)};
    }
    void sleep_ms(long ms) noexcept override { ms_ += ms; }

  private:
    long long ms_ = 0;
};

// The module's side: the fake port, whose slave the AT channel opens by its name as a device is.
testfiles::FakePort& port_once() {
    static testfiles::FakePort* port = [] {
        static InstantClock clock;
        bsp::os::set_clock(&clock);
        auto* p = new testfiles::FakePort;
        if (bsp::lte::open_at_port(p->slave_path().c_str()) != 0) std::abort();
        return p;
    }();
    return *port;
}

}  // namespace

// The two loops, under names callgrind can count alone. Each returns the lines it found.
extern "C" __attribute__((noinline)) long at_bench_readline_loop() {
    long lines = 0;
    testfiles::FakePort& port = port_once();
    for (const auto& answer : conversation()) {
        port.feed(answer.data(), answer.size());
        while (bsp::lte::read_line(0)) ++lines;
    }
    return lines;
}

extern "C" __attribute__((noinline)) long at_bench_memchr_loop() {
    static char buf[65536];
    long lines = 0;
    testfiles::FakePort& port = port_once();
    for (const auto& answer : conversation()) {
        port.feed(answer.data(), answer.size());
        const ssize_t n = ::read(port.slave(), buf, sizeof buf);
        for (char *at = buf, *end = buf + std::max<ssize_t>(n, 0); at < end;) {
            char* nl = static_cast<char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
            if (!nl) break;
            lines += nl - at > 1 || (nl - at == 1 && *at != '\r');  // a line that is more than its CR
            at = nl + 1;
        }
    }
    return lines;
}

namespace {

bool ready(benchmark::State& state) {
    if (conversation().empty()) state.SkipWithError(("test data absent: " + kTranscripts).c_str());
    return !conversation().empty();
}

void per_byte(benchmark::State& state) {
    using C = benchmark::Counter;
    state.counters["per_byte"] = C(static_cast<double>(conversation_bytes()), C::kIsIterationInvariantRate | C::kInvert);
}

void BM_Readline(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(at_bench_readline_loop());
    per_byte(state);
}

void BM_BaselineMemchrSplit(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(at_bench_memchr_loop());
    per_byte(state);
}

BENCHMARK(BM_Readline);
BENCHMARK(BM_BaselineMemchrSplit);

// Runs this program under callgrind once per loop, counting that loop alone; prints instructions
// per byte of the conversation.
int count_instructions(const char* self) {
    const std::size_t bytes = conversation_bytes();
    if (!bytes) {
        std::printf("test data absent: %s\n", kTranscripts.c_str());
        return 1;
    }
    std::printf("conversation: %zu bytes in %zu answers\n", bytes, conversation().size());
    for (const char* loop : {"at_bench_readline_loop", "at_bench_memchr_loop"}) {
        char out[] = "/tmp/at_reader_bench.callgrind.XXXXXX";
        const int fd = mkstemp(out);
        if (fd < 0) return 1;
        ::close(fd);
        const std::string cmd = std::string("valgrind --tool=callgrind --collect-atstart=no --toggle-collect=") + loop +
                                " --callgrind-out-file=" + out + " " + self + " --run " + loop + " >/dev/null 2>&1";
        const int status = std::system(cmd.c_str());
        std::ifstream in(out);
        long long instructions = -1;
        for (std::string line; std::getline(in, line);)
            if (line.rfind("summary:", 0) == 0 || line.rfind("totals:", 0) == 0)
                instructions = std::atoll(line.c_str() + line.find(':') + 1);
        std::remove(out);
        if (status != 0 || instructions < 0) {
            std::printf("%s: callgrind did not count (is valgrind installed?)\n", loop);
            return 1;
        }
        std::printf("%-24s %8.1f instructions per byte\n", loop, static_cast<double>(instructions) / static_cast<double>(bytes));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--run") {
        conversation();  // built and the port opened before the counted loop
        port_once();
        const long lines = std::string_view(argv[2]) == "at_bench_readline_loop" ? at_bench_readline_loop() : at_bench_memchr_loop();
        std::printf("%ld lines\n", lines);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--instructions") {
        std::array<char, 4096> self{};
        if (readlink("/proc/self/exe", self.data(), self.size() - 1) <= 0) return 1;
        return count_instructions(self.data());
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
