// The serial side of the real library against the simulated box: bytes on the wire, the receive
// threads, the Uart API, the receiver's stream, misbehaving boards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "host_shell.h"
#include "sim/box.h"

namespace {

using namespace std::chrono_literals;
using systest::HostShell;
using systest::TempRoot;
using testfiles::bytes;
using testing::ContainsRegex;
using testing::HasSubstr;

std::string hex(const std::string& s) {
    std::string h;
    char two[3];
    for (unsigned char c : s) {
        std::snprintf(two, sizeof two, "%02X", c);
        h += two;
    }
    return h;
}

// The bytes of a result's "hex:" output.
std::string unhex(const std::string& result) {
    std::string bytes;
    const auto at = result.find("hex:");
    for (std::size_t k = at == std::string::npos ? result.size() : at + 4; k + 1 < result.size(); k += 2)
        bytes += static_cast<char>(std::stoi(result.substr(k, 2), nullptr, 16));
    return bytes;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The CPU seconds a process has used, all its threads (utime and stime of /proc/PID/stat).
double cpu_seconds(pid_t pid) {
    const std::string stat = systest::read_file("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));  // past the command's name
    std::string field;
    long long ticks = 0;
    for (int k = 3; k <= 15 && fields >> field; ++k)
        if (k >= 14) ticks += std::stoll(field);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string uart(int id) { return "\"Local/Uart/" + std::to_string(id) + "\""; }
std::string write_uart(int id, const std::string& bytes) {
    return "WriteUart " + uart(id) + " hex:" + hex(bytes) + " " + std::to_string(bytes.size());
}

// The host with the serial side up as start-up brings it: ports, Uart defaults, threads.
std::unique_ptr<HostShell> start(const TempRoot& root, const sim::Box& box) {
    auto shell = std::make_unique<HostShell>(root, box.env());
    for (const char* call : {"SDK_LOG_PAR_INIT", "M_COM_INIT", "BSP_BAU_INIT", "FSU_COM_READ_THREAD_START"})
        EXPECT_EQ(shell->call(call), std::string(call) + " -> void");
    return shell;
}

sim::Options quick_boards() {
    sim::Options o;
    o.announce_period = 300ms;
    return o;
}

TEST(SerialLink, EveryCarriedUartRoundTripsOnItsOwnChannel) {
    TempRoot root;
    sim::Box box(root.path(), quick_boards());
    auto shell = start(root, box);
    auto b1 = box.board(1), b2 = box.board(2);
    EXPECT_EQ(shell->call("WriteUart \"Local/Uart/5\" hex:616263 3"), "WriteUart -> 0");
    EXPECT_TRUE(shell->wait_out("61 62 63 "));
    ASSERT_TRUE(box.wait_for([&] { return !b1.frames(0x80).empty(); }, 5s));
    EXPECT_EQ(b1.frames(0x80).back().raw, (sim::Bytes{0x7E, 0x00, 0x03, 0x80, 0x61, 0x62, 0x63, 0xA9, 0x0D}));
    EXPECT_EQ(shell->call_until("ReadUart \"Local/Uart/5\" bytes:64 64 100", "hex:61"), "ReadUart -> 3 hex:616263");

    for (int id : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 14}) {
        const std::string payload = "uart" + std::to_string(id);
        EXPECT_EQ(shell->call(write_uart(id, payload)), "WriteUart -> 0");
        EXPECT_EQ(shell->call_until("ReadUart " + uart(id) + " bytes:64 64 100", "hex:75"),
                  "ReadUart -> " + std::to_string(payload.size()) + " hex:" + hex(payload));
    }
    // Uart IDs 10 and 11 are board 2's channels 2 and 1, in both directions.
    EXPECT_EQ(b2.frames(0x82).back().payload, bytes("uart10"));
    EXPECT_EQ(b2.frames(0x81).back().payload, bytes("uart11"));
    EXPECT_EQ(b1.frames(0x84).back().payload, bytes("uart14"));
    b2.send_frame(0x52, "to10");
    b2.send_frame(0x51, "to11");
    EXPECT_EQ(shell->call_until("ReadUart \"Local/Uart/10\" bytes:64 64 100", "hex:"+ hex("to10")), "ReadUart -> 4 hex:" + hex("to10"));
    EXPECT_EQ(shell->call_until("ReadUart \"Local/Uart/11\" bytes:64 64 100", "hex:"+ hex("to11")), "ReadUart -> 4 hex:" + hex("to11"));
    EXPECT_EQ(b1.garbage() + b2.garbage(), 0u);
    EXPECT_EQ(shell->finish(), 0);
}

TEST(SerialFaults, MissingDeviceAndMisbehavingBoards) {
    TempRoot root;
    sim::Options o = quick_boards();
    o.faults[0].garbage = o.faults[0].split = o.faults[0].bad_checksum = true;
    o.faults[1].silent = true;
    sim::Box box(root.path(), o);
    std::filesystem::remove(root / "dev/ttymxc3");
    HostShell shell(root, box.env());
    shell.call("M_COM_INIT");
    // Standard output comes on a channel of its own: wait for the last port's line.
    EXPECT_TRUE(shell.wait_out("BSP_ComCreate(6, /dev/ttymxc7) success !\n"));
    EXPECT_THAT(shell.out(), ContainsRegex("BSP_ComCreate\\(2, /dev/ttymxc3\\) Failed !\n"
                                           "ERROR: FILE:bsp_m_com, FUNCTION:BSP_ComCreate, LINE:[0-9]+, ErrNo:0x01020004\\.\n"
                                           "ERROR: FILE:bsp_m_com, FUNCTION:SDK_BSP_ComSetParams, LINE:[0-9]+, ErrNo:0x01020004\\.\n"
                                           "ERROR: FILE:bsp_m_com, FUNCTION:M_BAU_SET_COM, LINE:[0-9]+, ErrNo:0x01020004\\.\n"
                                           "BSP_ComCreate\\(3, /dev/ttymxc4\\) success !\n"));
    shell.call("BSP_BAU_INIT");
    shell.call("FSU_COM_READ_THREAD_START");
    ASSERT_TRUE(box.wait_for([&] { return count(shell.out(), "STUMP[") == 8; }, 5s));  // seven threads and the start
    // A second start starts nothing: no thread announces itself again.
    shell.call("FSU_COM_READ_THREAD_START");
    // That port's thread keeps polling, reporting every cycle; every other port works.
    const std::string poll_error = "ERROR: FILE:bsp_m_com, FUNCTION:SDK_BSP_ComRead, LINE:";
    const std::size_t errors = count(shell.out(), poll_error);
    EXPECT_TRUE(box.wait_for([&] { return count(shell.out(), poll_error) >= errors + 3; }, 5s));
    EXPECT_EQ(count(shell.out(), "STUMP["), 8u);
    for (int id : {1, 5}) {
        shell.call(write_uart(id, "ok"));
        EXPECT_EQ(shell.call_until("ReadUart " + uart(id) + " bytes:16 16 100", "hex:6F6B"), "ReadUart -> 2 hex:6F6B");
    }
    // Board 1 announced itself through garbage, split frames and wrong sums; board 2 is silent.
    EXPECT_THAT(shell.call_until("ReadFSUResource buf:868 868", "Local/Uart/8"), HasSubstr("Local/Uart/8"));
    EXPECT_EQ(shell.call("sdk_read_com_num"), "sdk_read_com_num -> 8");
    EXPECT_EQ(shell.finish(), 0);
}

// Devices that vanish while their threads poll them: a pass-through port, board 2's link and the
// receiver's port. The system never reopens a port: each stays dead, every write to it failing
// with the I/O error line; its thread goes on at its pace (a thread spinning on a dead port would
// burn a core), and every other port keeps serving.
TEST(SerialFaults, VanishedDevicesStayDeadTheOthersServe) {
    TempRoot root;
    sim::Options o = quick_boards();
    o.gps.enabled = true;
    sim::Box box(root.path(), o);
    auto shell = start(root, box);
    // The receiver's first fix is the worked example's position.
    ASSERT_THAT(shell->call_until("GET_BSP_GPS_CSV_INFO buf:384", "113.94", 20s),
                HasSubstr("\"113.94647980,22.60205841,54.600002,"));
    EXPECT_THAT(systest::read_file(root / "tmp/sdklog.log"), HasSubstr("]:GPS:J:113.946480;W:22.602058"));
    for (int tty : {2, 6, 7}) box.port(tty).unplug();
    const double cpu_before = cpu_seconds(shell->pid());
    const auto window_start = std::chrono::steady_clock::now();

    const std::string io_error = "ErrNo:0x01020002.\n";
    for (const auto& [call, result] : {std::pair{write_uart(2, "ok"), "WriteUart -> 0"},
                                       {write_uart(9, "ok"), "WriteUart -> 0"},
                                       {"GPS_COM_WRITE hex:6F6B 2 out:int", "GPS_COM_WRITE -> 16908290 0"}}) {
        const std::size_t errors = count(shell->out(), io_error);
        EXPECT_EQ(shell->call(call), result);
        EXPECT_TRUE(box.wait_for([&] { return count(shell->out(), io_error) > errors; }, 5s)) << call;
    }
    EXPECT_EQ(shell->call("ReadUart " + uart(2) + " bytes:16 16 300"), "ReadUart -> 0 hex:");
    for (int id : {1, 3, 4, 5, 6, 7, 8, 14}) {
        EXPECT_EQ(shell->call(write_uart(id, "ok")), "WriteUart -> 0");
        EXPECT_EQ(shell->call_until("ReadUart " + uart(id) + " bytes:16 16 100", "hex:6F6B"), "ReadUart -> 2 hex:6F6B") << id;
    }
    EXPECT_THAT(shell->call("GET_BSP_GPS_CSV_INFO buf:384"), HasSubstr("\"113.94"));  // the last fix stays

    // A window of a few seconds at the threads' pace, measured whole.
    box.wait_for([] { return false; }, 3s);
    const double window = std::chrono::duration<double>(std::chrono::steady_clock::now() - window_start).count();
    const double used = cpu_seconds(shell->pid()) - cpu_before;
    std::printf("host CPU with three dead ports: %.2f s in %.2f s\n", used, window);
    EXPECT_LT(used, 0.5 * window);
    EXPECT_EQ(shell->finish(), 0);
}

// Board 1 sends noise and half frames at the link's full rate while each of its channels loops
// numbered tokens back ("k:n;" on channel k). Frames may be lost to the noise, but none may bring
// a byte that is not its channel's, out of order or twice; once the noise stops, every channel
// round-trips again. The noise lasts SDK_BSP_NOISE_SECONDS (3 unless set; a minute in the long run).
TEST(SerialFaults, NoisyBoardLinkRoutesNothingAmiss) {
    TempRoot root;
    sim::Box box(root.path(), quick_boards());
    auto shell = start(root, box);
    constexpr int kUarts[] = {5, 6, 7, 8, 14};  // board 1's channels 0..3 and the environment channel
    std::array<std::string, std::size(kUarts)> got;
    auto token = [](std::size_t k, int n) { return std::to_string(k) + ":" + std::to_string(n) + ";"; };
    auto exchange = [&](int n, const std::vector<bool>& skip) {
        for (std::size_t k = 0; k < got.size(); ++k)
            if (!skip[k]) shell->call(write_uart(kUarts[k], token(k, n)));
        for (std::size_t k = 0; k < got.size(); ++k)
            got[k] += unhex(shell->call("ReadUart " + uart(kUarts[k]) + " bytes:4096 4096 0"));
    };
    sim::Faults noisy;
    noisy.noise = true;
    box.board(1).set_faults(noisy);
    const auto noise_end = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(systest::driven("SDK_BSP_NOISE_SECONDS", "3")));
    int n = 0;
    for (; std::chrono::steady_clock::now() < noise_end; ++n) exchange(n, std::vector<bool>(got.size()));
    box.board(1).set_faults({});

    // Recovery: tokens written from now on come back on every channel (one may still be lost to
    // the last half frames).
    const int quiet = n;
    std::vector<bool> recovered(got.size());
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end; ++n) {
        exchange(n, recovered);
        for (std::size_t k = 0; k < got.size(); ++k) {
            const auto colon = got[k].rfind(':');
            recovered[k] = colon != std::string::npos && std::atoi(got[k].c_str() + colon + 1) >= quiet;
        }
        if (std::count(recovered.begin(), recovered.end(), true) == static_cast<long>(got.size())) break;
    }
    for (std::size_t k = 0; k < got.size(); ++k) {
        EXPECT_TRUE(recovered[k]) << "Uart " << kUarts[k];
        int last = -1, tokens = 0;
        std::istringstream in(got[k]);
        for (std::string t; std::getline(in, t, ';'); ++tokens) {
            ASSERT_TRUE(t.starts_with(std::to_string(k) + ":")) << "Uart " << kUarts[k] << " got \"" << t << "\"";
            ASSERT_GT(std::atoi(t.c_str() + 2), last) << "Uart " << kUarts[k];
            last = std::atoi(t.c_str() + 2);
        }
        EXPECT_TRUE(got[k].ends_with(";"));
        std::printf("Uart %d: %d of %d tokens came back\n", kUarts[k], tokens, n);
    }
    EXPECT_EQ(shell->finish(), 0);
}

}  // namespace
