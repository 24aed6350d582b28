// Reading the last few bytes of a text without touching what lies past it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vantrel::scorer {

/// The `n` bytes from `at` (n < 16), followed by zeros, as two
/// little-endian words; read piece by piece so that nothing past them is.
inline std::array<std::uint64_t, 2> loadBelow16(const std::uint8_t* at, std::size_t n)
{
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if (n > 8) {
        std::memcpy(&low, at, 8);
        std::memcpy(&high, at + n - 8, 8);
        high >>= 8 * (16 - n);
    } else if (n >= 4) {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        std::memcpy(&first, at, 4);
        std::memcpy(&last, at + n - 4, 4);
        low = first | (std::uint64_t { last } >> (8 * (8 - n))) << 32;
    } else {
        for (std::size_t k = 0; k < n; ++k)
            low |= std::uint64_t { at[k] } << (8 * k);
    }
    return { low, high };
}

} // namespace vantrel::scorer
