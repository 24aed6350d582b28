// The key the user holds for Fast Search.
#pragma once

#include "VantrelCore/RawValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel {

/// Which held key starts Fast Search; `off` disables it. Stored as its raw value.
enum class FastSearchModifier { off, fn, capsLock, leftCommand, rightCommand, leftOption, rightOption };

template <>
struct EnumCases<FastSearchModifier> {
    static constexpr std::array values{
        FastSearchModifier::off,         FastSearchModifier::fn,           FastSearchModifier::capsLock,
        FastSearchModifier::leftCommand, FastSearchModifier::rightCommand, FastSearchModifier::leftOption,
        FastSearchModifier::rightOption,
    };
};

/// The persisted name ("off", "fn", "capsLock", ...).
std::string_view rawValue(FastSearchModifier modifier);
/// The label offered in the settings window.
std::string_view displayName(FastSearchModifier modifier);
/// The virtual key code the held key produces; none for `off`.
std::optional<std::uint16_t> keyCode(FastSearchModifier modifier);
/// True when holding the key shows up as a modifier-flags change, false when
/// it arrives as ordinary key-down / key-up events (Caps Lock remapped to
/// Escape) or is off.
bool isFlagsChanged(FastSearchModifier modifier);

} // namespace vantrel
