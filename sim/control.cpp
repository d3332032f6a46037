// The control server: routes, the Host check, the event streams and the state pump.
#include "sim/control.h"

#include <signal.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim/box.h"
#include "sim/web.h"

namespace sim {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

// Every open stream holds a worker for its life; the workers beyond them keep serving requests,
// so streams never hold up /api/set.
constexpr int kWorkers = ControlServer::kMaxStreams + 8;
constexpr std::size_t kMaxBody = 64 * 1024;  // a set of every switch is a few hundred bytes
constexpr time_t kReadSeconds = 2;           // a slow or half-sent request is dropped after this
constexpr time_t kWriteSeconds = 2;
constexpr time_t kKeepAliveSeconds = 1;      // an idle connection holds a worker no longer
constexpr auto kStatePeriod = 250ms;         // at most four "state" events a second
constexpr auto kStreamWait = 1s;             // a stream looks for the server stopping this often
constexpr auto kHeartbeat = 15s;             // a comment on a quiet stream finds a client gone

// The page's files by their names' ends.
struct PageType {
    std::string_view extension;
    const char* type;
};
constexpr PageType kPageTypes[] = {{".html", "text/html; charset=utf-8"},
                                   {".js", "text/javascript; charset=utf-8"},
                                   {".css", "text/css; charset=utf-8"}};

void fail(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(json{{"error", why}}.dump(), "application/json");
}

std::string sse(const std::string& name, const std::string& data) { return "event: " + name + "\ndata: " + data + "\n\n"; }

// "application/json; charset=utf-8" is application/json.
bool is_json(std::string type) {
    type = type.substr(0, type.find(';'));
    type.erase(std::remove_if(type.begin(), type.end(), [](unsigned char c) { return std::isspace(c); }), type.end());
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    return type == "application/json";
}

std::string refusal(int status) {
    switch (status) {
        case 404: return "no such path";
        case 413: return "the body is over " + std::to_string(kMaxBody) + " bytes";
        default: return "refused (HTTP " + std::to_string(status) + ")";
    }
}

bool is_wildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

// ADDR:PORT as a Host header or URL names it ([ADDR]:PORT for IPv6).
std::string authority(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace

struct ControlServer::Impl {
    Impl(const Box& b, const ControlOptions& o) : box(b), opt(o) {}

    void routes();
    bool stream(std::uint64_t& seq, bool& greeted, std::chrono::steady_clock::time_point& quiet_since,
                httplib::DataSink& sink);
    void pump();

    const Box& box;
    ControlOptions opt;
    httplib::Server http;
    int port = 0;
    std::vector<std::string> hosts;  // the Host headers that name this server
    std::atomic<int> streams{0};
    std::atomic<bool> stopping{false};
    std::mutex mu;  // for the pump's pauses
    std::condition_variable cv;
    std::thread listener, pumper;
};

void ControlServer::Impl::routes() {
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto host = req.get_header_value("Host");
        if (std::find(hosts.begin(), hosts.end(), host) != hosts.end()) return httplib::Server::HandlerResponse::Unhandled;
        fail(res, 403, "Host " + json(host).dump() + " is not this box's address");
        return httplib::Server::HandlerResponse::Handled;
    });
    // httplib's own refusals (no such path, a body over the cap) in the same form as ours.
    http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        fail(res, res.status, refusal(res.status));
        return httplib::Server::HandlerResponse::Handled;
    }));
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            fail(res, 500, x.what());
        }
    });
    http.Get(R"(/[\w.-]*)", [](const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.path == "/" ? "/index.html" : req.path;
        const auto files = web_files();
        const auto file = std::find_if(files.begin(), files.end(), [&](const WebFile& f) { return f.path == path; });
        const auto type = std::find_if(std::begin(kPageTypes), std::end(kPageTypes),
                                       [&](const PageType& t) { return path.ends_with(t.extension); });
        if (file == files.end() || type == std::end(kPageTypes)) return fail(res, 404, refusal(404));
        // The page takes nothing from anywhere but this box (its icon is none: an empty data URL),
        // and is asked for again after a rebuild.
        res.set_header("Content-Security-Policy", "default-src 'self'; img-src data:");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Cache-Control", "no-cache");
        res.set_content(file->body.data(), file->body.size(), type->type);
    });
    http.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(box.state().dump(), "application/json");
    });
    http.Get("/api/set", [](const httplib::Request&, httplib::Response& res) {
        fail(res, 405, "switches are set by POST, with Content-Type application/json");
    });
    http.Post("/api/set", [this](const httplib::Request& req, httplib::Response& res) {
        if (!is_json(req.get_header_value("Content-Type")))
            return fail(res, 415, "switches are set with Content-Type application/json");
        const auto changes = json::parse(req.body, nullptr, false);
        if (changes.is_discarded()) return fail(res, 400, "malformed JSON");
        if (const auto why = box.set(changes); !why.empty()) return fail(res, 400, why);
        res.set_content(box.state().dump(), "application/json");
    });
    http.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        if (streams.fetch_add(1) >= kMaxStreams) {
            --streams;
            return fail(res, 503, std::to_string(kMaxStreams) + " event streams are open already");
        }
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, seq = std::uint64_t{0}, greeted = false, quiet_since = std::chrono::steady_clock::now()](
                std::size_t, httplib::DataSink& sink) mutable { return stream(seq, greeted, quiet_since, sink); },
            [this](bool) { --streams; });
    });
}

// One turn of an event stream: the state first, then the events as they come; false ends it.
bool ControlServer::Impl::stream(std::uint64_t& seq, bool& greeted, std::chrono::steady_clock::time_point& quiet_since,
                                 httplib::DataSink& sink) {
    std::string out;
    if (!greeted) {
        greeted = true;
        seq = box.events().last();
        out = sse("state", box.state().dump());
    } else {
        for (const auto& e : box.events().after(seq, kStreamWait)) {
            seq = e.seq;
            out += sse(e.name, e.data);
        }
    }
    if (stopping) return false;
    const auto now = std::chrono::steady_clock::now();
    if (out.empty() && now - quiet_since >= kHeartbeat) out = ":\n\n";
    if (out.empty()) return true;
    quiet_since = now;
    return sink.write(out.data(), out.size());
}

// While a stream is open, the state as an event whenever it changed, at most every kStatePeriod.
void ControlServer::Impl::pump() {
    std::string last;
    std::unique_lock lock(mu);
    while (!cv.wait_for(lock, kStatePeriod, [this] { return stopping.load(); })) {
        if (streams == 0) {
            last.clear();
            continue;
        }
        lock.unlock();
        std::string now = box.state().dump();
        if (now != last) box.events().push_text("state", last = std::move(now));
        lock.lock();
    }
}

ControlServer::ControlServer(const Box& box, const ControlOptions& options) : impl_(std::make_unique<Impl>(box, options)) {
    auto& s = *impl_;
    s.http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    s.http.set_read_timeout(kReadSeconds, 0);
    s.http.set_write_timeout(kWriteSeconds, 0);
    s.http.set_keep_alive_timeout(kKeepAliveSeconds);
    s.http.set_payload_max_length(kMaxBody);
    s.routes();
    s.port = options.port ? (s.http.bind_to_port(options.bind, options.port) ? options.port : -1)
                          : s.http.bind_to_any_port(options.bind);
    if (s.port <= 0) throw std::runtime_error("cannot serve HTTP on " + authority(options.bind, options.port));
    s.hosts = {authority("127.0.0.1", s.port), authority("localhost", s.port), authority(options.bind, s.port)};
    s.listener = std::thread([&s] {
        // A client gone in the middle of an answer makes a write fail, never the process end: the
        // server's threads, and the workers they start, keep SIGPIPE blocked.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        s.http.listen_after_bind();
    });
    // Server::stop() does nothing before the server runs: the destructor must find it running.
    while (!s.http.is_running()) std::this_thread::sleep_for(1ms);
    s.pumper = std::thread([&s] { s.pump(); });
}

ControlServer::~ControlServer() {
    auto& s = *impl_;
    {
        std::lock_guard lock(s.mu);
        s.stopping = true;
    }
    s.cv.notify_all();
    s.http.stop();
    s.listener.join();
    s.pumper.join();
}

int ControlServer::port() const { return impl_->port; }

std::string ControlServer::url() const {
    const auto& bind = impl_->opt.bind;
    const bool local = is_wildcard(bind) || bind == "localhost" || bind.starts_with("127.") || bind == "::1";
    return "http://" + authority(local ? "127.0.0.1" : bind, impl_->port);
}

}  // namespace sim
