// Hexadecimal digits read, for every text the library decodes (power-protocol frames, modem
// answers, USB ids).
#pragma once

#include <array>
#include <cstdint>

namespace bsp::base {

namespace detail {
consteval std::array<std::int8_t, 256> make_hex_digits() {
    std::array<std::int8_t, 256> v{};
    v.fill(-1);
    for (int d = 0; d < 10; ++d) v['0' + d] = static_cast<std::int8_t>(d);
    for (int d = 0; d < 6; ++d) {
        v['A' + d] = static_cast<std::int8_t>(10 + d);
        v['a' + d] = static_cast<std::int8_t>(10 + d);
    }
    return v;
}
inline constexpr std::array<std::int8_t, 256> kHexDigits = make_hex_digits();
}  // namespace detail

// The value of a hexadecimal digit of either case, -1 for any other character.
constexpr int hex_digit(char c) noexcept { return detail::kHexDigits[static_cast<unsigned char>(c)]; }

}  // namespace bsp::base
