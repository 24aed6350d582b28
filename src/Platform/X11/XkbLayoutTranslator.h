// Keyboard layout translation with xkbcommon: a keymap, a state set from the
// event's modifiers, and a compose state that carries dead keys between calls.
#pragma once

#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel {

/// A keymap and the layout (XKB group) in use.
struct XkbLayoutSnapshot {
    std::shared_ptr<xkb_keymap> keymap;
    xkb_layout_index_t layout = 0;
};

/// Translates Carbon key codes through the evdev table and the keymap: shift,
/// caps lock and control act as themselves, option selects the third shift
/// level (AltGr), as Option does on a Mac layout; command is ignored.
class XkbLayoutTranslator final : public KeyboardLayoutTranslator {
public:
    /// Reads the current keymap; absent when there is none.
    using Loader = std::function<std::optional<XkbLayoutSnapshot>(xkb_context*)>;

    /// Loads at once. The compose table comes from `composeLocale` (empty:
    /// LC_ALL, LC_CTYPE or LANG, else "C").
    explicit XkbLayoutTranslator(Loader loader, std::string composeLocale = {});
    ~XkbLayoutTranslator() override;

    std::optional<std::string> character(std::uint16_t keyCode, std::uint64_t flags) override;
    void reloadLayout() override;
    std::string layoutName() const override { return name_; }

    /// A loader compiling a keymap from rules, model, layout, variant and
    /// options (no server needed).
    static Loader namedKeymap(std::string layout, std::string variant = {}, std::string options = {});

private:
    struct Deleters {
        void operator()(xkb_context* p) const { xkb_context_unref(p); }
        void operator()(xkb_state* p) const { xkb_state_unref(p); }
        void operator()(xkb_compose_table* p) const { xkb_compose_table_unref(p); }
        void operator()(xkb_compose_state* p) const { xkb_compose_state_unref(p); }
    };

    Loader loader_;
    std::string composeLocale_;
    std::unique_ptr<xkb_context, Deleters> context_;
    std::shared_ptr<xkb_keymap> keymap_;
    std::unique_ptr<xkb_state, Deleters> state_;
    std::unique_ptr<xkb_compose_table, Deleters> composeTable_;
    /// The pending dead key: the caller-held state of a compose sequence.
    std::unique_ptr<xkb_compose_state, Deleters> compose_;
    xkb_layout_index_t layout_ = 0;
    xkb_mod_index_t shift_ = XKB_MOD_INVALID;
    xkb_mod_index_t lock_ = XKB_MOD_INVALID;
    xkb_mod_index_t control_ = XKB_MOD_INVALID;
    xkb_mod_index_t levelThree_ = XKB_MOD_INVALID;
    std::string name_ = "?";
};

} // namespace vantrel
