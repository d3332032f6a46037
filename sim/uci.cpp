// The box's uci tool: its file syntax, its export format, staged changes and the commands.
#include "sim/uci.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

namespace sim::uci {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNotFound = "uci: Entry not found\n";
constexpr std::string_view kInvalid = "uci: Invalid argument\n";
constexpr std::string_view kUsage = "usage: uci [-c DIR] get|set|commit|show [KEY[=VALUE]]\n";

int fail(std::string& err, std::string_view message) {
    err += message;
    return 1;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The words of one line: quotes and backslashes resolved, a '#' at the start of a word ends it.
std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && blank(line[i])) ++i;
        if (i == line.size() || line[i] == '#') return out;
        std::string w;
        while (i < line.size() && !blank(line[i])) {
            const char c = line[i++];
            if (c == '\'' || c == '"') {
                for (; i < line.size() && line[i] != c; ++i) {
                    if (c == '"' && line[i] == '\\' && i + 1 < line.size()) ++i;
                    w += line[i];
                }
                ++i;  // the closing quote
            } else if (c == '\\' && i < line.size()) {
                w += line[i++];
            } else {
                w += c;
            }
        }
        out.push_back(std::move(w));
    }
}

// A value in single quotes, as uci writes it: a quote inside becomes '\''.
std::string in_quotes(std::string_view v) {
    std::string q = "'";
    for (char c : v) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool name_ok(std::string_view s, bool dash) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || (dash && c == '-');
    });
}

Option* find_option(Section& s, std::string_view name) {
    auto it = std::find_if(s.options.begin(), s.options.end(), [&](const Option& o) { return o.name == name; });
    return it == s.options.end() ? nullptr : &*it;
}

// A section by name or as @type[i] (i below 0 counts from the end).
Section* find_section(Package& p, std::string_view ref) {
    if (!ref.starts_with('@')) {
        auto it = std::find_if(p.sections.begin(), p.sections.end(), [&](const Section& s) { return s.name == ref; });
        return it == p.sections.end() ? nullptr : &*it;
    }
    const auto open = ref.find('[');
    if (open == std::string_view::npos || !ref.ends_with(']')) return nullptr;
    const std::string_view type = ref.substr(1, open - 1), index = ref.substr(open + 1, ref.size() - open - 2);
    int i = 0;
    auto [end, ec] = std::from_chars(index.data(), index.data() + index.size(), i);
    if (ec != std::errc() || end != index.data() + index.size()) return nullptr;
    std::vector<Section*> of_type;
    for (auto& s : p.sections)
        if (s.type == type) of_type.push_back(&s);
    if (i < 0) i += static_cast<int>(of_type.size());
    return i >= 0 && i < static_cast<int>(of_type.size()) ? of_type[static_cast<std::size_t>(i)] : nullptr;
}

// How `uci show` names a section: its name, or @type[i] for an anonymous one.
std::string section_ref(const Package& p, const Section& s) {
    if (!s.name.empty()) return s.name;
    int i = 0;
    for (const auto& other : p.sections) {
        if (&other == &s) break;
        if (other.type == s.type) ++i;
    }
    return "@" + s.type + "[" + std::to_string(i) + "]";
}

void set_option(Section& s, const std::string& name, const std::string& value, bool list) {
    Option* o = find_option(s, name);
    if (!o) {
        s.options.push_back({name, {}, list});
        o = &s.options.back();
    }
    if (!list) o->values.clear();
    o->list = o->list || list;
    o->values.push_back(value);
}

// A key: package[.section[.option]].
struct Key {
    std::string package, section, option;
};

std::optional<Key> split_key(std::string_view text) {
    Key k;
    std::string* parts[] = {&k.package, &k.section, &k.option};
    std::size_t n = 0;
    for (std::size_t at = 0;; ++n) {
        const auto dot = text.find('.', at);
        if (n == std::size(parts)) return std::nullopt;
        *parts[n] = text.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at);
        if (dot == std::string_view::npos) break;
        at = dot + 1;
    }
    const bool section_ok = k.section.empty() ? n == 0 : (k.section[0] == '@' || name_ok(k.section, false));
    const bool option_ok = n < 2 || name_ok(k.option, false);
    if (!name_ok(k.package, true) || !section_ok || !option_ok) return std::nullopt;
    return k;
}

std::string read_text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Applies `uci set`: an option (an empty value deletes it), or a section of a type. False when
// the section of an option does not exist.
bool apply_set(Package& p, const Key& k, const std::string& value) {
    Section* s = find_section(p, k.section);
    if (k.option.empty()) {
        if (k.section[0] == '@') {
            if (!s) return false;
            s->type = value;
        } else if (s) {
            s->type = value;
        } else {
            p.sections.push_back({value, k.section, {}});
        }
        return true;
    }
    if (!s) return false;
    if (!value.empty()) {
        set_option(*s, k.option, value, false);
        return true;
    }
    std::erase_if(s->options, [&](const Option& o) { return o.name == k.option; });
    return true;
}

// The package as the tool sees it: the file, with the changes staged for it.
std::optional<Package> load(const Dirs& d, const std::string& package) {
    if (!fs::is_regular_file(d.config / package)) return std::nullopt;
    Package p = parse(read_text(d.config / package));
    std::istringstream changes(read_text(d.save / package));
    for (std::string line; std::getline(changes, line);) {
        const auto eq = line.find('=');
        auto key = split_key(std::string_view(line).substr(0, eq));
        auto value = words(eq == std::string::npos ? "" : std::string_view(line).substr(eq + 1));
        if (key && eq != std::string::npos) apply_set(p, *key, value.empty() ? "" : value[0]);
    }
    return p;
}

std::string show_section(const Package& p, const std::string& package, const Section& s) {
    const std::string ref = package + "." + section_ref(p, s);
    std::string out = ref + "=" + s.type + "\n";
    for (const auto& o : s.options) {
        out += ref + "." + o.name + "=";
        for (std::size_t i = 0; i < o.values.size(); ++i) out += (i ? " " : "") + in_quotes(o.values[i]);
        out += "\n";
    }
    return out;
}

int get(const Dirs& d, const std::string& arg, std::string& out, std::string& err) {
    auto k = split_key(arg);
    auto p = k ? load(d, k->package) : std::nullopt;
    Section* s = p && !k->section.empty() ? find_section(*p, k->section) : nullptr;
    Option* o = s && !k->option.empty() ? find_option(*s, k->option) : nullptr;
    if (!s || (!k->option.empty() && !o)) return fail(err, kNotFound);
    if (!o) {
        out += s->type + "\n";
        return 0;
    }
    // A list's values joined by blanks; those that hold blanks themselves in quotes.
    for (std::size_t i = 0; i < o->values.size(); ++i) {
        const std::string& v = o->values[i];
        const bool quote = o->list && v.find_first_of(" \t\r\n") != std::string::npos;
        out += (i ? " " : "") + (quote ? in_quotes(v) : v);
    }
    out += "\n";
    return 0;
}

int set(const Dirs& d, const std::string& arg, std::string& err) {
    const auto eq = arg.find('=');
    auto k = split_key(std::string_view(arg).substr(0, eq));
    if (eq == std::string::npos || !k || k->section.empty()) return fail(err, kInvalid);
    auto p = load(d, k->package);
    const std::string value = arg.substr(eq + 1);
    if (!p || !apply_set(*p, *k, value)) return fail(err, kNotFound);
    fs::create_directories(d.save);
    std::ofstream(d.save / k->package, std::ios::binary | std::ios::app)
        << std::string_view(arg).substr(0, eq) << "=" << in_quotes(value) << "\n";
    return 0;
}

int commit(const Dirs& d, std::span<const std::string> packages, std::string& err) {
    std::vector<std::string> names(packages.begin(), packages.end());
    if (names.empty() && fs::is_directory(d.save))
        for (const auto& e : fs::directory_iterator(d.save)) names.push_back(e.path().filename().string());
    for (const auto& name : names) {
        if (!name_ok(name, true)) return fail(err, kInvalid);
        if (!fs::exists(d.save / name)) continue;  // nothing staged
        auto p = load(d, name);
        if (p) {
            // Written aside and renamed over the old file, as uci does: never half a package.
            const fs::path fresh = d.config / ("." + name + ".uci-new");
            std::ofstream(fresh, std::ios::binary | std::ios::trunc) << export_text(*p);
            fs::rename(fresh, d.config / name);
        }
        fs::remove(d.save / name);
    }
    return 0;
}

int show(const Dirs& d, std::span<const std::string> args, std::string& out, std::string& err) {
    std::vector<std::string> packages;
    std::optional<Key> k;
    if (args.empty()) {
        if (fs::is_directory(d.config))
            for (const auto& e : fs::directory_iterator(d.config))
                if (e.is_regular_file() && name_ok(e.path().filename().string(), true))
                    packages.push_back(e.path().filename().string());
        std::sort(packages.begin(), packages.end());
    } else if ((k = split_key(args[0]))) {
        packages.push_back(k->package);
    } else {
        return fail(err, kNotFound);
    }
    std::string text;
    for (const auto& name : packages) {
        auto p = load(d, name);
        if (!p) return fail(err, kNotFound);
        if (!k || k->section.empty()) {
            for (const auto& s : p->sections) text += show_section(*p, name, s);
            continue;
        }
        Section* s = find_section(*p, k->section);
        if (!s) return fail(err, kNotFound);
        if (k->option.empty()) {
            text += show_section(*p, name, *s);
            continue;
        }
        Section only{s->type, s->name, {}};
        Option* o = find_option(*s, k->option);
        if (!o) return fail(err, kNotFound);
        only.options.push_back(*o);
        const std::string all = show_section(*p, name, only);
        text += all.substr(all.find('\n') + 1);  // the option's line alone
    }
    out += text;
    return 0;
}

}  // namespace

Package parse(std::string_view text) {
    Package p;
    Section* current = nullptr;
    for (std::size_t at = 0; at < text.size();) {
        auto end = std::min(text.find('\n', at), text.size());
        const auto w = words(text.substr(at, end - at));
        at = end + 1;
        if (w.empty()) continue;
        if (w[0] == "config" && w.size() >= 2) {
            // A name given twice continues the same section.
            auto named = std::find_if(p.sections.begin(), p.sections.end(),
                                      [&](const Section& s) { return w.size() >= 3 && s.name == w[2]; });
            current = named == p.sections.end() ? nullptr : &*named;
            if (current) {
                current->type = w[1];
            } else {
                p.sections.push_back({w[1], w.size() >= 3 ? w[2] : "", {}});
                current = &p.sections.back();
            }
        } else if ((w[0] == "option" || w[0] == "list") && w.size() >= 3 && current) {
            set_option(*current, w[1], w[2], w[0] == "list");
        }
    }
    return p;
}

std::string export_text(const Package& p) {
    std::string out;
    for (const auto& s : p.sections) {
        out += "\nconfig " + s.type + (s.name.empty() ? "" : " " + in_quotes(s.name)) + "\n";
        for (const auto& o : s.options)
            for (const auto& v : o.values) out += std::string(o.list ? "\tlist " : "\toption ") + o.name + " " + in_quotes(v) + "\n";
    }
    return out + "\n";
}

int run(std::span<const std::string> args, const Dirs& dirs, std::string& out, std::string& err) {
    if (args.empty()) return fail(err, kUsage);
    const std::string& cmd = args[0];
    const auto rest = args.subspan(1);
    if (cmd == "get" && rest.size() == 1) return get(dirs, rest[0], out, err);
    if (cmd == "set" && rest.size() == 1) return set(dirs, rest[0], err);
    if (cmd == "commit" && rest.size() <= 1) return commit(dirs, rest, err);
    if (cmd == "show" && rest.size() <= 1) return show(dirs, rest, out, err);
    return fail(err, kUsage);
}

}  // namespace sim::uci
