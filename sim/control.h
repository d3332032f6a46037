// The box's control server: HTTP (cpp-httplib) on the loopback address, the box's state as JSON,
// its switches set while it runs, its changes as Server-Sent Events. fsu-sim serves one; the
// README documents the state's keys and the events.
//
//   GET  /             the box's page (sim/web.h), live from the events below; its files at
//                      their names (/app.js, /style.css)
//   GET  /api/state    the state (Box::state), one JSON object
//   POST /api/set      a JSON object of switches, {"modem-csq": 10, "silent.2": true}, set all or
//                      none (Box::set): the new state, or 400 and {"error": "..."} naming the
//                      switch or value refused
//   GET  /api/events   text/event-stream: a "state" event at once and then, when anything
//                      changed, at most four times a second; the box's named events as they come
//
// Safe by default: changes only by POST with Content-Type application/json; a request whose Host
// is not 127.0.0.1:PORT, localhost:PORT or the bound ADDR:PORT is refused (403), so a web page
// elsewhere in the developer's browser cannot switch the box; bodies are capped, slow requests
// time out. Errors come as {"error": "..."}. The server's threads never hold the box's lock
// while they talk: a slow client holds up nothing but its own connection.
#pragma once

#include <memory>
#include <string>

namespace sim {

class Box;

struct ControlOptions {
    std::string bind = "127.0.0.1";  // another address reaches whoever can reach it
    int port = 0;                    // 0: a free port
};

class ControlServer {
  public:
    static constexpr int kMaxStreams = 8;  // open event streams; one more is refused (503)

    // Listening when it returns; throws std::runtime_error when it cannot.
    ControlServer(const Box& box, const ControlOptions& options);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    int port() const;
    // http://127.0.0.1:PORT; the bound address instead when it is neither a loopback nor a
    // wildcard address.
    std::string url() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
