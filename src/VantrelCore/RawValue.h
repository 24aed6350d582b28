// Enumerations stored as their case names: listing cases and parsing names.
#pragma once

#include <optional>
#include <string_view>

namespace vantrel {

/// Specialised beside each enumeration with `static constexpr std::array values`
/// holding its cases in declaration order; the enumeration also provides a
/// `rawValue(E)` function found by argument-dependent lookup.
template <class E>
struct EnumCases;

/// Every case of `E`, in declaration order.
template <class E>
constexpr const auto& allCases()
{
    return EnumCases<E>::values;
}

/// The case whose raw value is `raw`, or none.
template <class E>
std::optional<E> fromRawValue(std::string_view raw)
{
    for (E value : EnumCases<E>::values) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

} // namespace vantrel
