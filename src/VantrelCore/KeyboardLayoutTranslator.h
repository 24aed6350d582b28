// Turns a key code plus modifier flags into the text the keyboard layout types.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/// The current keyboard layout. Key codes are the Carbon virtual key codes;
/// flags are `ModifierFlags` bits. A pending dead key lives in the
/// translator between calls, so a caller keeps one translator for a sequence
/// of keys. Main thread only.
class KeyboardLayoutTranslator {
public:
    virtual ~KeyboardLayoutTranslator() = default;

    /// The text of one key press, or none when the layout gives nothing (a
    /// dead key just stored, no layout, a control character: any scalar below
    /// 32 or equal to 127).
    virtual std::optional<std::string> character(std::uint16_t keyCode, std::uint64_t flags) = 0;

    /// Re-reads the current layout and drops a pending dead key.
    virtual void reloadLayout() = 0;

    /// The layout's name; "?" until a layout has been read.
    virtual std::string layoutName() const = 0;
};

/// The US ANSI layout as a fixed table: the fallback when the platform's
/// layout cannot be read. It has no dead keys; caps lock upper-cases letters,
/// control turns letters and brackets into control characters (no text).
class USKeyboardLayoutTranslator final : public KeyboardLayoutTranslator {
public:
    std::optional<std::string> character(std::uint16_t keyCode, std::uint64_t flags) override;
    void reloadLayout() override {}
    std::string layoutName() const override { return "U.S."; }
};

/// Makes a translator loaded with the current layout.
using KeyboardLayoutTranslatorFactory = std::function<std::unique_ptr<KeyboardLayoutTranslator>()>;

/// A fresh translator from the process-wide factory (the US table unless a
/// platform module installed its own).
std::unique_ptr<KeyboardLayoutTranslator> makeKeyboardLayoutTranslator();

/// Replaces the process-wide factory; an empty function restores the US table.
void setKeyboardLayoutTranslatorFactory(KeyboardLayoutTranslatorFactory factory);

} // namespace vantrel
