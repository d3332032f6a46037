// Instructions per line of the GPS receiver's batch handling, counted by callgrind (stable on a
// shared machine, unlike a clock), over each capture in the test data's nmea/ folder: the bytes
// handed over as the read loop does (reads of 96 bytes gathered until a batch exceeds 1024 bytes),
// the traces printed to /dev/null. Beside it, in the same run, a plain line splitter with the
// checksum check and a field split over the same batches: the least any NMEA parser does.
//
//   nmea_parser_count [DIR]            runs itself under valgrind once per capture and side
//   nmea_parser_count --smoke [DIR]    runs each side once natively, counting nothing (CTest)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sdk_bsp.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRead = 96;         // bytes per read at 9600 baud every 100 ms
constexpr std::size_t kBatchOver = 1024;  // the parser takes a batch larger than this

// A capture and the read loop's hand-overs of it: each read is handed over with what the buffer
// already holds, which the parser takes (and the loop empties) once it exceeds 1024 bytes.
struct Capture {
    std::string text;
    struct Handover {
        std::size_t offset, length;
    };
    std::vector<Handover> handovers;
    long lines = 0;

    explicit Capture(const fs::path& file) {
        std::ifstream f(file, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        text = s.str();
        lines = std::count(text.begin(), text.end(), '\n');
        for (std::size_t at = 0, start = 0; at < text.size(); at += kRead) {
            std::size_t end = std::min(at + kRead, text.size());
            handovers.push_back({start, end - start});
            if (end - start > kBatchOver) start = end;
        }
    }
};

// What the compiler must assume is read.
template <typename T>
void keep(const T& value) {
    asm volatile("" : : "r"(&value) : "memory");
}

int hex(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }

// Lines of a batch: those of the form "$...*HH" with a matching checksum are split at their commas.
void split_lines(std::string_view batch) {
    for (std::size_t at = 0, end; (end = batch.find("\r\n", at)) != batch.npos; at = end + 2) {
        std::string_view line = batch.substr(at, end - at);
        std::size_t star = line.size() - 3;
        if (line.size() < 4 || line[0] != '$' || line[star] != '*') continue;
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
        if (static_cast<unsigned>(hex(line[star + 1]) * 16 + hex(line[star + 2])) != sum) continue;
        std::array<std::string_view, 40> fields;
        std::size_t n = 0, from = 1;
        for (std::size_t i = 1; i <= star; ++i)
            if (line[i] == ',' || i == star) {
                if (n < fields.size()) fields[n++] = line.substr(from, i - from);
                from = i + 1;
            }
        keep(fields);
    }
}

}  // namespace

// The two measured sides; callgrind counts only inside them (--toggle-collect).
extern "C" __attribute__((noinline)) void counted_parser(const Capture& c) {
    for (const auto& h : c.handovers) BSP_GPS_READ(c.text.data() + h.offset, static_cast<int>(h.length));
}

extern "C" __attribute__((noinline)) void counted_splitter(const Capture& c) {
    for (const auto& h : c.handovers)
        if (h.length > kBatchOver) split_lines(std::string_view(c.text).substr(h.offset, h.length));
}

namespace {

constexpr std::array<std::string_view, 2> kSides{"parser", "splitter"};

void run_side(std::string_view side, const Capture& c) {
    if (side == "parser") counted_parser(c);
    else counted_splitter(c);
    std::fflush(stdout);
}

// Runs this program under callgrind for one side of one capture; returns the instructions counted
// inside the side's function, or -1.
long count_under_valgrind(std::string_view side, const fs::path& file, const fs::path& work) {
    const std::string out = (work / "callgrind.out").string(), log = (work / "valgrind.log").string();
    std::vector<std::string> args = {"valgrind", "--tool=callgrind", "--collect-atstart=no",
                                     "--toggle-collect=counted_" + std::string(side), "--callgrind-out-file=" + out,
                                     "--log-file=" + log, fs::read_symlink("/proc/self/exe").string(),
                                     "--side", std::string(side), file.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);  // the parser's traces
    setenv("LD_BIND_NOW", "1", 1);  // no lazy symbol binding inside the counted calls
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, "valgrind", &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) return -1;
    std::ifstream f(out);
    for (std::string line; std::getline(f, line);)
        if (line.starts_with("totals:") || line.starts_with("summary:")) return std::atol(line.c_str() + line.find(':') + 1);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    fs::path dir = fs::path(SDK_BSP_TESTDATA) / "nmea";
    for (int k = 1; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--side") && k + 2 < argc) {  // the child under valgrind
            run_side(argv[k + 1], Capture(argv[k + 2]));
            return 0;
        }
        if (!std::strcmp(argv[k], "--smoke")) smoke = true;
        else dir = argv[k];
    }
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".log") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::printf("test data absent: no .log capture in %s\n", dir.c_str());
        return 0;
    }
    if (smoke) {
        std::fflush(stdout);
        int saved = dup(1), null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        for (const auto& file : files)
            for (auto side : kSides) run_side(side, Capture(file));
        dup2(saved, 1);
        std::printf("%zu captures handled once each, nothing counted\n", files.size());
        return 0;
    }
    char tmpl[] = "/tmp/sdkbsp-count-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const fs::path work = tmpl;
    std::printf("instructions per line (callgrind), batches as the read loop hands them over, traces to /dev/null\n");
    std::printf("%-36s %6s %14s %14s %7s\n", "capture", "lines", "batch handling", "line splitter", "ratio");
    int code = 0;
    for (const auto& file : files) {
        const long lines = Capture(file).lines;
        std::array<long, kSides.size()> counts{};
        for (std::size_t s = 0; s < kSides.size(); ++s) counts[s] = count_under_valgrind(kSides[s], file, work);
        if (counts[0] < 0 || counts[1] < 0 || lines == 0) {
            std::printf("%-36s valgrind failed (is it installed? see %s)\n", file.filename().c_str(), (work / "valgrind.log").c_str());
            code = 1;
            break;
        }
        std::printf("%-36s %6ld %14.0f %14.0f %7.2f\n", file.filename().c_str(), lines, double(counts[0]) / lines,
                    double(counts[1]) / lines, double(counts[0]) / double(counts[1]));
    }
    if (code == 0) fs::remove_all(work);
    return code;
}
