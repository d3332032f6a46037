// The box's uci tool, as the stand-in fsu-uci runs it: configuration files read in uci's syntax,
// changes staged in a save directory until `uci commit` writes the package back in the form the
// real tool's export gives, and the answers of `uci get` and `uci show`.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim::uci {

struct Option {
    std::string name;
    std::vector<std::string> values;  // one for an option, any number for a list
    bool list = false;
};

struct Section {
    std::string type;
    std::string name;  // empty: anonymous, addressed as @type[i]
    std::vector<Option> options;
};

struct Package {
    std::vector<Section> sections;
};

// Reads a configuration file: "config TYPE [NAME]", "option NAME VALUE", "list NAME VALUE";
// words unquoted or in single or double quotes, '#' comments, a section named twice merged.
Package parse(std::string_view text);
// The file as `uci commit` writes it.
std::string export_text(const Package& p);

// Where the tool works: the package files, and the staged changes (one file per package).
struct Dirs {
    std::filesystem::path config;
    std::filesystem::path save;
};

// Runs one uci command line (the arguments after "uci"): get, set, commit or show. Writes what
// the tool prints to `out` and `err` and returns its exit status.
int run(std::span<const std::string> args, const Dirs& dirs, std::string& out, std::string& err);

}  // namespace sim::uci
