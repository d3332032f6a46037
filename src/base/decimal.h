// Integers as printf's "%d" writes them, for the texts built often (log headers, the GPS traces and
// satellite-signal text), where the printf machinery would cost more than the rest of the work.
#pragma once

#include <algorithm>
#include <cstddef>

namespace bsp {

// The longest int as "%d" writes it: "-2147483648".
constexpr std::size_t kIntTextMax = 11;

// Writes v as "%0<width>d" does ("%d" with width 0): a '-' when negative, then zeros up to the
// width, then the digits; no terminator. out has room for kIntTextMax characters, or for the width
// when it is larger. Returns the number of characters written.
inline std::size_t format_int(char* out, int v, int width = 0) noexcept {
    const unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    std::size_t n = 1;  // the digits: 4294967295 has ten
    for (unsigned limit = 10; n < 10 && u >= limit; limit *= 10) ++n;
    std::size_t at = 0;
    if (v < 0) out[at++] = '-';
    for (std::size_t w = static_cast<std::size_t>(std::max(width, 0)); at + n < w;) out[at++] = '0';
    // Written from the last digit backwards, straight into place.
    char* end = out + at + n;
    for (unsigned rest = u; end != out + at; rest /= 10) *--end = static_cast<char>('0' + rest % 10);
    return at + n;
}

}  // namespace bsp
