// What a key does in each panel, decided apart from the widgets so that every key path can be tested.
#include "PanelUI/PanelKeys.h"

#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <algorithm>

namespace vantrel {
namespace {

bool hasControlCharacter(const std::string& text)
{
    return std::ranges::any_of(text, [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; });
}

} // namespace

PanelKeyReader::PanelKeyReader(std::unique_ptr<KeyboardLayoutTranslator> translator)
    : translator_(std::move(translator))
{
}

PanelKeyReader::~PanelKeyReader() = default;

PanelKey PanelKeyReader::read(const KeyEvent& event)
{
    PanelKey key;
    key.keyCode = event.keyCode;
    key.flags = event.modifierFlags;
    if (!translator_)
        return key;
    // The translator keeps a pending dead key between calls, so a key is read
    // once where its modifiers change nothing about its text.
    const std::uint64_t shiftOnly = event.modifierFlags & (ModifierFlags::shift | ModifierFlags::capsLock);
    if (event.modifierFlags & (ModifierFlags::control | ModifierFlags::command)) {
        key.charactersIgnoringModifiers = translator_->character(event.keyCode, shiftOnly).value_or("");
        if (!(event.modifierFlags & ModifierFlags::control))
            key.characters = key.charactersIgnoringModifiers;
    } else {
        key.characters = translator_->character(event.keyCode, event.modifierFlags).value_or("");
        key.charactersIgnoringModifiers = (event.modifierFlags & ModifierFlags::option)
                                              ? translator_->character(event.keyCode, shiftOnly).value_or("")
                                              : key.characters;
    }
    return key;
}

std::optional<ItemAction> itemActionFor(const std::string& characters)
{
    if (characters == "w")
        return ItemAction::close;
    if (characters == "q")
        return ItemAction::quit;
    if (characters == "m")
        return ItemAction::minimize;
    if (characters == "h")
        return ItemAction::hide;
    return std::nullopt;
}

std::string droppingLastCharacter(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0) {
        --end;
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80)
            break;
    }
    return text.substr(0, end);
}

PanelKeyAction switcherKeyAction(const PanelKey& key, const std::string& query, bool hasSelection)
{
    using namespace PanelKeyActions;
    namespace codes = KeyCodes;
    const std::string& plain = key.charactersIgnoringModifiers;
    if ((key.flags & (ModifierFlags::option | ModifierFlags::command)) && hasSelection)
        if (auto action = itemActionFor(plain))
            return Action{*action};
    const bool withControl = key.flags & ModifierFlags::control;
    if (key.keyCode == codes::up || (withControl && (plain == "k" || plain == "p")))
        return Move{-1};
    if (key.keyCode == codes::down || (withControl && (plain == "j" || plain == "n")))
        return Move{1};
    if (key.keyCode == codes::returnKey || key.keyCode == codes::keypadEnter)
        return Commit{};
    if (key.keyCode == codes::deleteKey)
        return query.empty() ? PanelKeyAction{Ignore{}} : ProposeQuery{droppingLastCharacter(query)};
    if (key.keyCode == codes::escape)
        return query.empty() ? PanelKeyAction{Cancel{}} : ProposeQuery{""};
    if (query.empty() && (key.characters == "j" || key.characters == "n"))
        return Move{1};
    if (query.empty() && (key.characters == "k" || key.characters == "p"))
        return Move{-1};
    if (!key.characters.empty() && !hasControlCharacter(key.characters))
        return ProposeQuery{query + key.characters};
    return Ignore{};
}

PanelKeyAction searchKeyAction(const PanelKey& key, bool hasSelection)
{
    using namespace PanelKeyActions;
    namespace codes = KeyCodes;
    if ((key.flags & KeyChord::modifierMask) == ModifierFlags::command && hasSelection)
        if (auto action = itemActionFor(key.charactersIgnoringModifiers))
            return Action{*action};
    const bool shifted = key.flags & ModifierFlags::shift;
    if (key.keyCode == codes::down || (key.keyCode == codes::tab && !shifted))
        return Move{1};
    if (key.keyCode == codes::up || (key.keyCode == codes::tab && shifted))
        return Move{-1};
    if (key.keyCode == codes::returnKey || key.keyCode == codes::keypadEnter)
        return Commit{};
    if (key.keyCode == codes::escape)
        return Cancel{};
    return EditField{};
}

} // namespace vantrel
