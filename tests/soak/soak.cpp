// The soak: the whole box for a long while, the way a host runs it in the field. fsu-sim serves a
// box in a child process (receiver streaming, environment equipment, cellular module); this
// process is the host: it starts the library, the environment send loop and the modem supervisor,
// and eight host threads call the Uart, value, LED, GPS, resource and Dial calls in a loop while
// the log rotates. Every few seconds it samples its own resident memory, descriptors and threads.
//
//   soak [--seconds N] [--every N]      (default 60 s, a sample every 5 s)
//
// After the first 10 s it requires: threads exactly constant, descriptors constant (the fewest seen
// within a second: the modem's AT port and the commands' pipes are open for moments by design),
// resident memory within 1 MiB; every log record present once, in order, across rotations; every
// byte written to a board channel read back; all of it with the box's page open (its event stream
// read for the whole run), the state coming all along. The report goes to standard error (the library's own
// prints go to standard output, which the soak sends to /dev/null); the exit status says whether
// every requirement held.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sdk_bsp.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kHostThreads = 8;          // one per extension-board channel, Uart IDs 5..12
constexpr auto kSettle = 10s;            // start-up and the first rotation's pace settle
constexpr long kRssSlackKib = 1024;      // resident memory may move by this much
constexpr std::size_t kPayload = 64;     // bytes per Uart round trip
constexpr auto kRoundTripWait = 5s;      // a board answers within this

std::atomic<bool> g_stop{false};
std::atomic<long> g_failures{0};

void fail(const char* what, long a = 0, long b = 0) {
    g_failures.fetch_add(1);
    std::fprintf(stderr, "soak: FAILED: %s (%ld, %ld)\n", what, a, b);
}

// ---- the process's own figures ---------------------------------------------------------------

long count_entries(const char* dir) {
    long n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

long rss_kib() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The fewest descriptors seen within a second (less the one the count itself opens).
long settled_fds() {
    long fewest = 1L << 30;
    for (int i = 0; i < 20; ++i, std::this_thread::sleep_for(50ms)) fewest = std::min(fewest, count_entries("/proc/self/fd") - 1);
    return fewest;
}

// ---- the host threads --------------------------------------------------------------------------

struct HostCounters {
    std::atomic<long> calls{0}, bytes_written{0}, bytes_read{0};
};

// Writes a numbered payload to its Uart and reads it back (the boards loop channel data back).
bool round_trip(const char* uart, long round, std::uint8_t* sent, std::uint8_t* got) {
    for (std::size_t i = 0; i < kPayload; ++i) sent[i] = static_cast<std::uint8_t>(round * 31 + i);
    if (WriteUart(uart, sent, static_cast<int>(kPayload)) != 0) return false;
    std::size_t have = 0;
    const auto deadline = Clock::now() + kRoundTripWait;
    while (have < kPayload && Clock::now() < deadline) {
        int n = ReadUart(uart, got + have, static_cast<int>(kPayload - have), 100);
        if (n > 0) have += static_cast<std::size_t>(n);
    }
    return have == kPayload && std::memcmp(sent, got, kPayload) == 0;
}

void host_thread(int k, HostCounters& c) {
    char uart[32], text[SDK_BSP_GPS_DB_TEXT_SIZE], list[SDK_BSP_RESOURCE_LIST_SIZE], info[SDK_BSP_GPS_INFO_SIZE];
    char report[256];  // the Dial reports are at most 146 bytes
    std::snprintf(uart, sizeof uart, "Local/Uart/%d", 5 + k);
    std::uint8_t sent[kPayload], got[kPayload];
    float f = 0;
    int v = 0;
    for (long round = 0; !g_stop.load(); ++round) {
        if (round_trip(uart, round, sent, got)) {
            c.bytes_written += kPayload;
            c.bytes_read += kPayload;
        } else {
            fail("Uart round trip", 5 + k, round);
        }
        GetAIValue("Local/AI/3", k % 2, &f);
        GetDIValue("Local/DI/5", &v);
        SetDOValue("Local/DO/2", static_cast<int>(round % 2));
        SetLEDValue("Local/Led/1", static_cast<int>(round % 2));
        GET_BSP_GPS_INFO(info);
        GET_GPS_dB_INFO(text);
        ReadFSUResource(list, sizeof list);
        DialIsOnline();
        DialGetStaticInfo(report, sizeof report);
        DialGetDynamicInfo(report, sizeof report);
        c.calls += 10;
    }
}

// ---- the log, followed across its rotations ----------------------------------------------------

// Reads the log as it grows; when it has been archived (the file replaced), takes the rest of the
// old file from the archive. Checks that the record numbers run on by one.
class LogFollower {
  public:
    explicit LogFollower(std::string dir) : log_(dir + "/tmp/sdklog.log"), zip_(dir + "/tmp/sdklog.zip") {}

    // A new file (another inode, or one shorter than what was read) means the old one has been
    // archived: the archive is complete by then, as the log is removed only after zip has run.
    // While the log is missing (between its removal and the next record) nothing is done.
    void poll() {
        struct stat st {};
        if (::stat(log_.c_str(), &st) != 0) return;
        if (st.st_ino != inode_ || static_cast<long>(st.st_size) < offset_) {
            if (inode_ != 0) {
                take_archive();
                ++rotations_;
            }
            inode_ = st.st_ino;
            offset_ = 0;
        }
        take_file();
    }
    long records() const { return records_; }
    long rotations() const { return rotations_; }

  private:
    void take_file() {
        if (FILE* f = std::fopen(log_.c_str(), "re")) {
            std::fseek(f, offset_, SEEK_SET);
            offset_ += static_cast<long>(scan(f));
            std::fclose(f);
        }
    }
    void take_archive() {
        const std::string cmd = "unzip -p " + zip_ + " 2>/dev/null";
        if (FILE* p = ::popen(cmd.c_str(), "re")) {
            for (long skip = offset_; skip > 0 && std::fgetc(p) != EOF;) --skip;
            scan(p);
            ::pclose(p);
        }
    }
    // Finds " Line=<10 digits>]:" in the text, carrying a number cut at the end of one read over.
    static constexpr std::size_t kNumberText = 18;
    std::size_t scan(FILE* f) {
        std::size_t total = 0;
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0; total += n) {
            carry_.append(buf, n);
            std::size_t at = 0;
            for (std::size_t hit; (hit = carry_.find(" Line=", at)) != std::string::npos && hit + kNumberText <= carry_.size(); at = hit + kNumberText) {
                if (carry_.compare(hit + 16, 2, "]:") != 0) continue;
                const long number = std::strtol(carry_.c_str() + hit + 6, nullptr, 10);
                if (last_ != 0 && number != last_ + 1) fail("log record numbers", last_, number);
                last_ = number;
                ++records_;
            }
            carry_.erase(0, std::max(at, carry_.size() > kNumberText ? carry_.size() - kNumberText : 0));
        }
        return total;
    }

    std::string log_, zip_, carry_;
    ino_t inode_ = 0;
    long offset_ = 0, last_ = 0, records_ = 0, rotations_ = 0;
};

// ---- the box ---------------------------------------------------------------------------------

pid_t start_box(const std::string& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // a soak that dies takes its box along
        execl(FSU_SIM, FSU_SIM, "--quiet", dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = Clock::now() + 20s;
    struct stat st {};
    while ((::stat((dir + "/dev/ttymxc7").c_str(), &st) != 0 || ::stat((dir + "/dev/ttyUSB3").c_str(), &st) != 0) &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    return pid;
}

// ---- the box's page ----------------------------------------------------------------------------

// What a page on the box costs it: the event stream a browser reads, open for the whole run (the
// box builds its state four times a second meanwhile). Counts the state events that come.
class PageWatcher {
  public:
    explicit PageWatcher(const std::string& dir) : thread_([this, dir] { watch(dir); }) {}
    long finish() {  // once g_stop is set
        thread_.join();
        return states_;
    }

  private:
    static int server_port(const std::string& dir) {
        char url[64] = "";  // http://127.0.0.1:PORT, written once the server is up
        for (auto deadline = Clock::now() + 10s; !url[0] && Clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
            if (FILE* f = std::fopen((dir + "/url").c_str(), "re")) {
                if (!std::fgets(url, sizeof url, f)) url[0] = 0;
                std::fclose(f);
            }
        }
        const char* colon = std::strrchr(url, ':');
        return colon ? std::atoi(colon + 1) : 0;
    }
    void watch(const std::string& dir) {
        const int port = server_port(dir);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval wake{1, 0};  // looks for the run's end this often
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
        if (port == 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
            fail("the page's event stream opened", port);
        static constexpr std::string_view kState = "event: state\n";
        std::string carry;
        char buf[65536];
        while (!g_stop.load()) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
            if (n < 0) continue;
            carry.append(buf, static_cast<std::size_t>(n));
            for (auto at = carry.find(kState); at != std::string::npos; at = carry.find(kState, at + 1)) ++states_;
            carry.erase(0, carry.size() - std::min(carry.size(), kState.size() - 1));
        }
        ::close(fd);
    }

    long states_ = 0;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    long seconds = 60, every = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) seconds = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--every")) every = std::atol(argv[i + 1]);
    }
    char dir_template[] = "/tmp/sdkbsp-soak-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const pid_t box = start_box(dir);
    PageWatcher page(dir);
    setenv("SDK_BSP_ROOT", dir.c_str(), 1);
    setenv("PATH", (dir + "/bin:" + std::getenv("PATH")).c_str(), 1);
    if (!std::freopen("/dev/null", "w", stdout)) return 2;

    const auto t0 = Clock::now();
    InitializeSDK();
    static int env_port = 6;
    pthread_t sender;
    pthread_create(&sender, nullptr, ENV_COM_SEND_THREAD, &env_port);
    FSU_Lte_THREAD_START();
    // The supervisor clears the modem record as it starts: dial once it has.
    std::this_thread::sleep_for(2s);
    DialInit();
    DialDial("", "");
    HostCounters counters;
    std::vector<std::thread> hosts;
    for (int k = 0; k < kHostThreads; ++k) hosts.emplace_back(host_thread, k, std::ref(counters));

    LogFollower log(dir);
    long base_fds = -1, base_threads = -1, base_rss = -1;
    std::fprintf(stderr, "%8s %10s %6s %8s %10s %10s %9s\n", "seconds", "rss KiB", "fds", "threads", "calls", "records",
                 "rotations");
    for (auto next = t0 + std::chrono::seconds(every); next <= t0 + std::chrono::seconds(seconds); next += std::chrono::seconds(every)) {
        while (Clock::now() < next) {
            log.poll();
            std::this_thread::sleep_for(100ms);
        }
        const long fds = settled_fds(), threads = count_entries("/proc/self/task"), rss = rss_kib();
        const long at = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - t0).count();
        std::fprintf(stderr, "%8ld %10ld %6ld %8ld %10ld %10ld %9ld\n", at, rss, fds, threads, counters.calls.load(),
                     log.records(), log.rotations());
        if (next - t0 < kSettle) continue;
        if (base_fds < 0) base_fds = fds, base_threads = threads, base_rss = rss;
        if (fds != base_fds) fail("descriptors", base_fds, fds);
        if (threads != base_threads) fail("threads", base_threads, threads);
        if (std::labs(rss - base_rss) > kRssSlackKib) fail("resident memory (KiB)", base_rss, rss);
    }
    g_stop = true;
    for (auto& t : hosts) t.join();
    log.poll();
    const long states = page.finish();
    if (states < seconds) fail("state events the page saw", seconds, states);
    if (counters.bytes_read.load() != counters.bytes_written.load() || counters.bytes_written.load() == 0)
        fail("Uart bytes read back", counters.bytes_written.load(), counters.bytes_read.load());
    if (log.records() == 0) fail("log records seen");
    std::fprintf(stderr, "soak: %ld s, %ld calls, %ld Uart bytes round trip, %ld log records in order over %ld rotations, "
                 "%ld states to the page: %s\n", seconds, counters.calls.load(), counters.bytes_read.load(), log.records(),
                 log.rotations(), states, g_failures.load() ? "FAILED" : "ok");
    kill(-box, SIGTERM);
    waitpid(box, nullptr, 0);
    std::system(("rm -rf " + dir).c_str());
    std::fflush(stderr);
    _exit(g_failures.load() ? 1 : 0);  // the library's threads run on: no exit handlers under them
}
