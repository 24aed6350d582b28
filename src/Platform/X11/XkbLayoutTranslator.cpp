// Keyboard layout translation with xkbcommon and its compose tables.
#include "Platform/X11/XkbLayoutTranslator.h"

#include "Platform/X11/X11KeyCodes.h"
#include "VantrelCore/KeyCodes.h"

#include <cstdlib>

namespace vantrel {

namespace {

std::string localeFromEnvironment()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "C";
}

bool hasControlCharacter(const std::string& text)
{
    // UTF-8 continuation and lead bytes are all >= 0x80, so a byte test finds
    // exactly the scalars below 32 and 127.
    for (unsigned char c : text) {
        if (c < 32 || c == 127)
            return true;
    }
    return false;
}

std::uint32_t bit(xkb_mod_index_t index)
{
    return index == XKB_MOD_INVALID || index >= 32 ? 0 : (1u << index);
}
} // namespace

XkbLayoutTranslator::XkbLayoutTranslator(Loader loader, std::string composeLocale)
    : loader_(std::move(loader)),
      composeLocale_(composeLocale.empty() ? localeFromEnvironment() : std::move(composeLocale)),
      context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS))
{
    if (context_) {
        composeTable_.reset(
            xkb_compose_table_new_from_locale(context_.get(), composeLocale_.c_str(), XKB_COMPOSE_COMPILE_NO_FLAGS));
        // Locales without a table of their own ("C" on some systems) still
        // deserve the common dead keys.
        if (!composeTable_)
            composeTable_.reset(
                xkb_compose_table_new_from_locale(context_.get(), "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS));
    }
    reloadLayout();
}

XkbLayoutTranslator::~XkbLayoutTranslator() = default;

void XkbLayoutTranslator::reloadLayout()
{
    compose_.reset(composeTable_ ? xkb_compose_state_new(composeTable_.get(), XKB_COMPOSE_STATE_NO_FLAGS) : nullptr);
    if (!context_ || !loader_)
        return;
    auto snapshot = loader_(context_.get());
    if (!snapshot || !snapshot->keymap) {
        // The name of the last layout read stays, as the platform keeps it.
        keymap_.reset();
        state_.reset();
        return;
    }
    keymap_ = snapshot->keymap;
    layout_ = snapshot->layout < xkb_keymap_num_layouts(keymap_.get()) ? snapshot->layout : 0;
    state_.reset(xkb_state_new(keymap_.get()));
    shift_ = xkb_keymap_mod_get_index(keymap_.get(), XKB_MOD_NAME_SHIFT);
    lock_ = xkb_keymap_mod_get_index(keymap_.get(), XKB_MOD_NAME_CAPS);
    control_ = xkb_keymap_mod_get_index(keymap_.get(), XKB_MOD_NAME_CTRL);
    // AltGr is the real modifier Mod5 in every X keymap that has a third level.
    levelThree_ = xkb_keymap_mod_get_index(keymap_.get(), "Mod5");
    if (const char* name = xkb_keymap_layout_get_name(keymap_.get(), layout_))
        name_ = name;
}

std::optional<std::string> XkbLayoutTranslator::character(std::uint16_t keyCode, std::uint64_t flags)
{
    if (!state_)
        return std::nullopt;
    auto xKeyCode = X11KeyCodes::xKeyCodeFromCarbon(keyCode);
    if (!xKeyCode)
        return std::nullopt;
    std::uint32_t depressed = 0;
    if (flags & ModifierFlags::shift)
        depressed |= bit(shift_);
    if (flags & ModifierFlags::control)
        depressed |= bit(control_);
    if (flags & ModifierFlags::option)
        depressed |= bit(levelThree_);
    const std::uint32_t locked = (flags & ModifierFlags::capsLock) ? bit(lock_) : 0;
    xkb_state_update_mask(state_.get(), depressed, 0, locked, 0, 0, layout_);

    const xkb_keycode_t key = *xKeyCode;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(state_.get(), key);
    std::string text;
    bool composed = false;
    if (compose_ && sym != XKB_KEY_NoSymbol &&
        xkb_compose_state_feed(compose_.get(), sym) == XKB_COMPOSE_FEED_ACCEPTED) {
        switch (xkb_compose_state_get_status(compose_.get())) {
        case XKB_COMPOSE_COMPOSING:
            return std::nullopt;
        case XKB_COMPOSE_CANCELLED:
            xkb_compose_state_reset(compose_.get());
            return std::nullopt;
        case XKB_COMPOSE_COMPOSED: {
            char buffer[64];
            const int size = xkb_compose_state_get_utf8(compose_.get(), buffer, sizeof buffer);
            xkb_compose_state_reset(compose_.get());
            if (size > 0 && static_cast<std::size_t>(size) < sizeof buffer)
                text.assign(buffer, static_cast<std::size_t>(size));
            composed = true;
            break;
        }
        case XKB_COMPOSE_NOTHING:
            break;
        }
    }
    if (!composed) {
        char buffer[64];
        const int size = xkb_state_key_get_utf8(state_.get(), key, buffer, sizeof buffer);
        if (size > 0 && static_cast<std::size_t>(size) < sizeof buffer)
            text.assign(buffer, static_cast<std::size_t>(size));
    }
    if (text.empty() || hasControlCharacter(text))
        return std::nullopt;
    return text;
}

XkbLayoutTranslator::Loader XkbLayoutTranslator::namedKeymap(std::string layout, std::string variant,
                                                              std::string options)
{
    return [layout = std::move(layout), variant = std::move(variant),
            options = std::move(options)](xkb_context* context) -> std::optional<XkbLayoutSnapshot> {
        xkb_rule_names names{};
        names.rules = "evdev";
        names.model = "pc105";
        names.layout = layout.c_str();
        names.variant = variant.c_str();
        names.options = options.empty() ? nullptr : options.c_str();
        xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap)
            return std::nullopt;
        return XkbLayoutSnapshot{std::shared_ptr<xkb_keymap>(keymap, xkb_keymap_unref), 0};
    };
}

} // namespace vantrel
