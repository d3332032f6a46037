// Receiver sentences for the GPS tests: checksummed as the receiver sends them, in a batch the
// parser takes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sdk_bsp.h"
#include "support.h"

namespace unit {

// "$..." -> "$...*HH", the checksum in upper case.
inline std::string checksummed(const std::string& body) {
    unsigned x = 0;
    for (char c : body.substr(1)) x ^= static_cast<unsigned char>(c);
    char tail[4];
    std::snprintf(tail, sizeof tail, "*%02X", x);
    return body + tail;
}

// The sentences, each with its line end, padded with blanks to a batch the parser takes.
inline std::string batch(const std::vector<std::string>& sentences, std::size_t size = 1100) {
    std::string b;
    for (const auto& s : sentences) b += s + "\r\n";
    return b + std::string(b.size() < size ? size - b.size() : 0, ' ');
}

// Parses a batch, its traces kept off the test's output; returns the parser's result.
inline int feed(const std::string& b) {
    int r = 0;
    printed([&] { r = BSP_GPS_READ(b.data(), static_cast<int>(b.size())); });
    return r;
}

// The fix record written as a host may write it, while no library thread reads it.
template <typename F>
void host_writes(F&& f) {
    f(STR_GPS_INFO);
}

}  // namespace unit
