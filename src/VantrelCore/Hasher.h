// Order-sensitive hashing of value records, fed field by field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace vantrel {

/// Accumulates a hash from values fed in a fixed order; records feed their
/// fields through a `hash(Hasher&)` member so that std::hash and composite
/// records agree.
class Hasher {
public:
    /// Feeds an integer, enumeration or bool by its value (width-independent).
    template <class T>
        requires(std::is_integral_v<T> || std::is_enum_v<T>)
    void combine(T value)
    {
        if constexpr (std::is_enum_v<T>)
            mix(static_cast<std::uint64_t>(static_cast<std::underlying_type_t<T>>(value)));
        else
            mix(static_cast<std::uint64_t>(value));
    }

    /// Feeds the bytes of a string followed by a terminator, so that "ab","c"
    /// and "a","bc" hash differently.
    void combine(std::string_view text);

    /// Feeds a double by its bit pattern (0.0 and -0.0 are fed alike).
    void combine(double value);

    /// The hash of everything fed so far.
    std::size_t finalize() const;

private:
    void mix(std::uint64_t word);

    std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

/// Hashes one record through its `hash(Hasher&)` member.
template <class T>
std::size_t hashValue(const T& value)
{
    Hasher hasher;
    value.hash(hasher);
    return hasher.finalize();
}

} // namespace vantrel
