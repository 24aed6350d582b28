// Order-sensitive hashing of value records.
#include "VantrelCore/Hasher.h"

#include <bit>
#include <cstring>

namespace vantrel {

namespace {
// The finalizer of SplitMix64: a cheap full-avalanche mix of one word.
std::uint64_t avalanche(std::uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}
} // namespace

void Hasher::mix(std::uint64_t word)
{
    state_ = avalanche(state_ ^ (word + 0x9E3779B97F4A7C15ULL + (state_ << 6) + (state_ >> 2)));
}

void Hasher::combine(std::string_view text)
{
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        mix(word);
    }
    std::uint64_t tail = 0;
    if (i < text.size())
        std::memcpy(&tail, text.data() + i, text.size() - i);
    // The terminator carries the length, so trailing zero bytes still count.
    mix(tail);
    mix(0xFF00000000000000ULL | text.size());
}

void Hasher::combine(double value)
{
    if (value == 0.0)
        value = 0.0;
    mix(std::bit_cast<std::uint64_t>(value));
}

std::size_t Hasher::finalize() const
{
    return static_cast<std::size_t>(avalanche(state_));
}

} // namespace vantrel
