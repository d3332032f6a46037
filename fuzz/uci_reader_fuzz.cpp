// The configuration reader's search on arbitrary bytes: the input up to its first NUL is the query
// and the rest the package text; an input without a NUL is a package text, asked a few usual
// queries. A value found lies within the text, between two quotes it does not hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "uci/uci.h"

namespace {

constexpr std::string_view kUsualQueries[] = {
    "uci get network.lan.proto", "uci get network.wan.ifname", "uci get board.rs485.device",
    "uci get dhcp.wan.interface", "uci get dropbear.main.Port", "uci get vqm.sys.pcas",
};

void check(std::span<const std::string_view> queries, std::string_view text) {
    // The text zero-terminated in a buffer exactly as large, so a read past its end is caught; a
    // search stops at its first NUL, as in a file copy.
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    const char* begin = copy.get();
    const char* end = begin + std::strlen(begin);
    for (std::string_view query : queries) {
        bsp::uci::Query q;
        if (!bsp::uci::split_query(query, q)) continue;
        const std::string_view value = bsp::uci::find_option(begin, q.section, q.option);
        if (value.empty()) continue;
        if (value.data() <= begin || value.data() + value.size() >= end || value.data()[-1] != '\'' ||
            value.data()[value.size()] != '\'' || value.find('\'') != value.npos)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) {
        check(kUsualQueries, input);
    } else {
        const std::string_view query = input.substr(0, nul);
        check({&query, 1}, input.substr(nul + 1));
    }
    return 0;
}
