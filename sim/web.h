// The box's page: its HTML, CSS and JavaScript (sim/web/), put into the program when it is built
// (cmake/embed_files.cmake), so that the page works on a machine without a network. The control
// server serves each file at its path, and index.html at "/" too.
#pragma once

#include <span>
#include <string_view>

namespace sim {

struct WebFile {
    std::string_view path;  // "/index.html", "/app.js", ...
    std::string_view body;
};

std::span<const WebFile> web_files();

}  // namespace sim
