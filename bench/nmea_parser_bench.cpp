// The GPS sentence parser's cost per sentence on the CASIC capture (NMEA mixed with binary
// messages), beside the cost of merely splitting the same batches into lines, in the same run.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sdk_bsp.h"

namespace {

const std::string kCapture = SDK_BSP_TESTDATA "/nmea/quectel-l76k-dual.log";

// The capture cut as the read loop hands it over: reads of 96 bytes gathered until a batch
// exceeds 1024 bytes (the tail that never does is not parsed). Empty when the file is absent.
const std::vector<std::string>& batches() {
    static const std::vector<std::string> all = [] {
        std::ifstream f(kCapture, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        std::string capture = s.str(), batch;
        std::vector<std::string> out;
        for (std::size_t at = 0; at < capture.size(); at += 96) {
            batch += capture.substr(at, 96);
            if (batch.size() > 1024) out.push_back(std::move(batch)), batch.clear();
        }
        return out;
    }();
    return all;
}

// Sentences in the batches: line ends behind a "*" and two checksum characters.
long sentences() {
    long n = 0;
    for (const auto& b : batches())
        for (std::size_t at = b.find("\r\n"); at != std::string::npos; at = b.find("\r\n", at + 1))
            n += at >= 3 && b[at - 3] == '*';
    return n;
}

bool ready(benchmark::State& state) {
    if (batches().empty()) state.SkipWithError(("test data absent: " + kCapture).c_str());
    return !batches().empty();
}

void per_sentence(benchmark::State& state) {
    using C = benchmark::Counter;
    state.counters["per_sentence"] = C(static_cast<double>(sentences()), C::kIsIterationInvariantRate | C::kInvert);
}

// The parser prints its traces on standard output; they go to /dev/null while it runs.
class QuietStdout {
  public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

  private:
    int saved_;
};

void BM_ParseCapture(benchmark::State& state) {
    if (!ready(state)) return;
    QuietStdout quiet;
    for (auto _ : state)
        for (const auto& b : batches()) benchmark::DoNotOptimize(BSP_GPS_READ(b.data(), static_cast<int>(b.size())));
    per_sentence(state);
}

void BM_BaselineSplitLines(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state)
        for (const auto& b : batches()) {
            std::string_view text(b);
            for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != text.npos; at = end + 2)
                benchmark::DoNotOptimize(text.substr(at, end - at));
        }
    per_sentence(state);
}

BENCHMARK(BM_ParseCapture);
BENCHMARK(BM_BaselineSplitLines);

}  // namespace

BENCHMARK_MAIN();
