// The box's control server over HTTP: switches set all or none, every refusal with the name or
// value it refuses, the Host check, the event stream and its cap; and fsu-sim's own address, --set
// and --get. Run in the plain build only (label default-only).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <thread>

#include "../common/files.h"
#include "sim/box.h"
#include "sim/control.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::ordered_json;

struct Served {
    testfiles::TempDir dir;
    sim::Box box{dir.path()};
    sim::ControlServer server{box, {}};
    httplib::Client client{server.url()};
    httplib::Result set(const std::string& body, const char* type = "application/json") {
        return client.Post("/api/set", body, type);
    }
    json switches() { return json::parse(client.Get("/api/state")->body)["switches"]; }
};

TEST(LiveControl, SetsAllOrNoneAndSaysWhatItRefuses) {
    Served s;
    auto r = s.set(R"({"modem-csq": 10, "silent.2": true, "gps-position": "-31.25,121.5,10.5"})");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const auto state = json::parse(r->body);
    EXPECT_EQ(state["switches"]["modem-csq"], 10);
    EXPECT_EQ(state["boards"]["2"]["present"], false);
    EXPECT_EQ(state["switches"]["gps-position"], "-31.25,121.5,10.5");
    // The command-line texts; the path a scenario names reaches the same values.
    ASSERT_EQ(s.set(R"({"modem-csq": "7", "silent.2": "off", "modem": "EC200T"})")->status, 200);
    const auto now = json::parse(s.client.Get("/api/state")->body);
    for (const auto& [path, value] : {std::pair{"switches.modem-csq", json(7)},
                                      {"switches.silent.2", json(false)},
                                      {"modem.model", json("EC200T")},
                                      {"switches.modem", json(11)},
                                      {"switches.unplugged.ttymxc3", json(false)},
                                      {"boards.2.present", json(true)}}) {
        const auto* found = sim::find_path(now, path);
        ASSERT_NE(found, nullptr) << path;
        EXPECT_EQ(*found, value) << path;
    }
    EXPECT_EQ(sim::find_path(now, "boards.3.present"), nullptr);
    EXPECT_EQ(sim::find_path(now, "commands.last.0"), nullptr);

    struct Refusal {
        std::string body;
        const char* type;
        int status;
        const char* error;
    };
    const char* kJson = "application/json";
    const Refusal refusals[] = {
        {R"({"modem-csq": 3, "nope": 1})", kJson, 400, "no switch \"nope\""},
        {R"({"modem-csq": 100})", kJson, 400, "modem-csq: 100 is not a whole number from 0 to 99"},
        {R"({"modem-csq": true})", kJson, 400, "modem-csq: true is not a whole number from 0 to 99"},
        {R"({"silent.2": "maybe"})", kJson, 400, "silent.2: \"maybe\" is not on or off (true or false)"},
        {R"({"silent.3": true})", kJson, 400, "no switch \"silent.3\""},
        {R"({"gps-position": "91,0,0"})", kJson, 400, "gps-position: \"91,0,0\" is not LAT,LON,ALT"},
        {R"({"modem": "EC21"})", kJson, 400, "modem: \"EC21\" is not a row of the modem table"},
        {R"({"modem-csq": 3, "device.1.fault": "bad-crc"})", kJson, 400, "device.1.fault: \"bad-crc\" is a Modbus fault"},
        {R"({"device.1.holding.0": 1})", kJson, 400, "device.1.holding.0: no registers (this device is echo)"},
        {R"({"modem-csq": 3)", kJson, 400, "malformed JSON"},
        {"[1]", kJson, 400, "the switches come as a JSON object"},
        {R"({"modem-csq": 3})", "text/plain", 415, "Content-Type application/json"},
        {"{\"x\": \"" + std::string(70000, 'x') + "\"}", kJson, 413, "over 65536 bytes"},
    };
    for (const auto& bad : refusals) {
        r = s.set(bad.body, bad.type);
        ASSERT_TRUE(r) << bad.error;
        EXPECT_EQ(r->status, bad.status) << bad.error;
        EXPECT_NE(json::parse(r->body)["error"].get<std::string>().find(bad.error), std::string::npos) << r->body;
    }
    EXPECT_EQ(s.client.Get("/api/set")->status, 405);
    EXPECT_EQ(s.switches()["modem-csq"], 7);  // nothing changed

    // A page elsewhere in the browser names its own host: refused.
    const auto port = std::to_string(s.server.port());
    EXPECT_EQ(s.client.Get("/api/state", {{"Host", "attacker.example:" + port}})->status, 403);
    EXPECT_EQ(s.client.Get("/api/state", {{"Host", "127.0.0.2:" + port}})->status, 403);
    EXPECT_EQ(s.client.Get("/api/state", {{"Host", "localhost:" + port}})->status, 200);
    EXPECT_EQ(s.client.Get("/", {{"Host", "attacker.example:" + port}})->status, 403);
}

TEST(LiveControl, ServesItsPageFromItsOwnFilesAndShowsEachPortsLastTraffic) {
    Served s;
    for (const auto& [path, type] : {std::pair{"/", "text/html; charset=utf-8"},
                                     {"/app.js", "text/javascript; charset=utf-8"},
                                     {"/style.css", "text/css; charset=utf-8"}}) {
        const auto r = s.client.Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
        EXPECT_EQ(r->get_header_value("Content-Type"), type) << path;
        EXPECT_EQ(r->get_header_value("Content-Security-Policy"), "default-src 'self'; img-src data:");
        for (const char* elsewhere : {"http://", "https://", "//fonts", "@import"}) EXPECT_EQ(r->body.find(elsewhere), std::string::npos) << path;
    }
    EXPECT_EQ(s.client.Get("/nope.js")->status, 404);

    // Chunks close behind each other one way make one entry, up to what an entry shows; the way
    // turning starts another.
    for (const std::string& chunk : {std::string("abc"), std::string("def"), std::string(60, 'x'), std::string("z")})
        s.box.port(1).push(chunk);
    const auto recent = [&] { return json::parse(s.client.Get("/api/state")->body)["ports"]["ttymxc1"]["recent"]; };
    ASSERT_TRUE(s.box.wait_for([&] { return recent().size() == 2; }, 5s)) << recent();
    testfiles::write_file(s.box.port(1).link(), "hi");  // echoed back
    std::string shown = "61 62 63 64 65 66";
    for (int i = 6; i < 48; ++i) shown += " 78";
    const json expected = {{{"way", "out"}, {"bytes", 66}, {"hex", shown + " ..."}},
                           {{"way", "out"}, {"bytes", 1}, {"hex", "7A"}},
                           {{"way", "in"}, {"bytes", 2}, {"hex", "68 69"}},
                           {{"way", "out"}, {"bytes", 2}, {"hex", "68 69"}}};
    EXPECT_TRUE(s.box.wait_for([&] { return recent() == expected; }, 5s)) << recent();
}

// A client socket on the server, with bytes sent and nothing more read than the reply's head.
int connect_raw(int port, const std::string& request) {
    const int fd = testfiles::connect_loopback(port);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    return fd;
}

TEST(LiveControl, EventsNameEachChangeStateAtMostFourASecondStreamsCapped) {
    Served s;
    std::mutex mu;
    std::string got;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        httplib::Client c(s.server.url());
        c.Get("/api/events", [&](const char* data, std::size_t n) {
            std::lock_guard lock(mu);
            got.append(data, n);
            return !done;
        });
    });
    auto count = [&](const std::string& what) {
        std::lock_guard lock(mu);
        std::size_t n = 0;
        for (auto at = got.find(what); at != std::string::npos; at = got.find(what, at + 1)) ++n;
        return n;
    };
    ASSERT_TRUE(s.box.wait_for([&] { return count("event: state\ndata: {\"leds\":") >= 1; }, 5s));
    ASSERT_EQ(s.set(R"({"modem-csq": 5, "noise.1": true})")->status, 200);
    EXPECT_TRUE(s.box.wait_for([&] {
        return count("event: switch\ndata: {\"name\":\"noise.1\",\"value\":true}\n\n") == 1 &&
               count("event: switch\ndata: {\"name\":\"modem-csq\",\"value\":5}\n\n") == 1;
    }, 5s));
    // What the box sees a host do: the run LED lit (GPIO 1 an output at 0: active low), a reboot
    // asked of the box's own stand-in.
    testfiles::write_file(s.dir / "sys/class/gpio/export", "1");
    ASSERT_TRUE(s.box.wait_for([&] { return s.box.gpio().line(1).has_value(); }, 5s));
    testfiles::write_file(s.dir / "sys/class/gpio/gpio1/direction", "out");
    ASSERT_EQ(std::system((s.dir / "bin/reboot").c_str()), 0);
    EXPECT_TRUE(s.box.wait_for([&] {
        return count("event: led\ndata: {\"led\":\"run\",\"gpio\":1,\"lit\":true}\n\n") == 1 &&
               count("event: command\ndata: {\"command\":\"reboot\"}\n\n") == 1 &&
               count("event: reboot\ndata: {\"requests\":1,") == 1;
    }, 5s));
    // Board 1's noise changes its port's counters all the time: a state event every quarter second.
    const auto states = count("event: state");
    const auto t0 = std::chrono::steady_clock::now();
    s.box.wait_for([] { return false; }, 1500ms);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(count("event: state") - states, 2u);
    EXPECT_LE(static_cast<double>(count("event: state") - states), 4 * seconds + 1);

    // The other streams up to the cap, never read; then one more is refused, while a slow request
    // and the full streams leave /api/set answering.
    const std::string host = "Host: 127.0.0.1:" + std::to_string(s.server.port()) + "\r\n";
    std::vector<int> held;
    for (int i = 1; i < sim::ControlServer::kMaxStreams; ++i) held.push_back(connect_raw(s.server.port(), "GET /api/events HTTP/1.1\r\n" + host + "\r\n"));
    held.push_back(connect_raw(s.server.port(), "POST /api/set HTTP/1.1\r\n" + host + "Content-Type: application/json\r\nContent-Length: 99\r\n\r\n{"));
    for (std::size_t i = 0; i + 1 < held.size(); ++i) {  // each stream's head has come: it is counted
        char head[256];
        EXPECT_GT(::recv(held[i], head, sizeof head, 0), 0);
    }
    EXPECT_EQ(s.client.Get("/api/events")->status, 503);
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(s.set(R"({"noise.1": false})")->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    for (int fd : held) ::close(fd);
    done = true;
    reader.join();
}

using testfiles::Ran;
using testfiles::run;

TEST(LiveControl, FsuSimPrintsItsAddressAndSetsAndGetsThroughIt) {
    testfiles::TempDir dir;
    const auto out = dir / "fsu-sim.out";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl(FSU_SIM, FSU_SIM, "--quiet", "--device", "2=modbus", dir.path().c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto url_file = dir / "url";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!std::filesystem::exists(url_file) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    const std::string url = testfiles::read_file(url_file);
    EXPECT_TRUE(url.starts_with("http://127.0.0.1:")) << url;
    EXPECT_NE(testfiles::read_file(out).find("export FSU_SIM_URL=" + url), std::string::npos);

    const std::string fsu_sim = std::string(FSU_SIM) + " ";
    const Ran set = run(fsu_sim + "--set modem-csq=10 gps-fix=off device.2.holding.3=7 device.2.fault=delay:20 " + dir.path().string());
    EXPECT_EQ(set.status, 0);
    EXPECT_EQ(set.out, "modem-csq=10\ngps-fix=false\ndevice.2.holding.3=7\ndevice.2.fault=\"delay:20\"\n");
    for (const auto& [args, error] : {std::pair{"modem-csq=10x", "modem-csq: \"10x\" is not a whole number from 0 to 99"},
                                      {"modem-csq=3 device.2.holding.100=1", "device.2.holding.100: no such register (0 to 99)"}}) {
        const Ran bad = run(fsu_sim + "--set " + args + " " + dir.path().string());
        EXPECT_EQ(bad.status, 1);
        EXPECT_EQ(bad.out, "fsu-sim: " + std::string(error) + "\n");
    }
    const Ran get = run(fsu_sim + "--get " + dir.path().string());
    EXPECT_EQ(get.status, 0);
    const auto state = json::parse(get.out, nullptr, false);
    EXPECT_EQ(state["switches"]["modem-csq"], 10);
    EXPECT_EQ(state["gps"]["fix"], false);
    EXPECT_EQ(state["devices"]["2"]["units"]["1"]["holding"]["3"]["value"], 7);
    EXPECT_EQ(state["switches"]["device.2.fault"], "delay:20");
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    EXPECT_FALSE(std::filesystem::exists(url_file));
}

}  // namespace
