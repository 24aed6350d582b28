// What a key does in each panel, decided apart from the widgets so that every key path can be tested.
#pragma once

#include "Vantrel/SwitcherPanels.h"
#include "VantrelCore/KeyChord.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace vantrel {

class KeyboardLayoutTranslator;

/// One key press as the panels see it.
struct PanelKey {
    std::uint16_t keyCode = 0;
    /// Modifier flags in the chord bit layout.
    std::uint64_t flags = 0;
    /// The text the key types with its modifiers; empty for none.
    std::string characters;
    /// The text with no modifier but shift.
    std::string charactersIgnoringModifiers;
    bool operator==(const PanelKey&) const = default;
};

/// Turns grabbed key events into `PanelKey`s through the keyboard layout,
/// dead keys and compose included. One per panel, kept across keys.
class PanelKeyReader {
public:
    explicit PanelKeyReader(std::unique_ptr<KeyboardLayoutTranslator> translator);
    ~PanelKeyReader();
    PanelKey read(const KeyEvent& event);

private:
    std::unique_ptr<KeyboardLayoutTranslator> translator_;
};

namespace PanelKeyActions {
struct Move {
    int delta = 0;
    bool operator==(const Move&) const = default;
};
struct Commit {
    bool operator==(const Commit&) const = default;
};
/// Escape with an empty query in the switcher; Escape in the search panel.
struct Cancel {
    bool operator==(const Cancel&) const = default;
};
struct Action {
    ItemAction action = ItemAction::close;
    bool operator==(const Action&) const = default;
};
/// The switcher's proposed query (the panel keeps its own until told).
struct ProposeQuery {
    std::string text;
    bool operator==(const ProposeQuery&) const = default;
};
/// The search field edits itself with this key.
struct EditField {
    bool operator==(const EditField&) const = default;
};
/// Nothing to do; the key is dropped.
struct Ignore {
    bool operator==(const Ignore&) const = default;
};
} // namespace PanelKeyActions

using PanelKeyAction = std::variant<PanelKeyActions::Move, PanelKeyActions::Commit, PanelKeyActions::Cancel,
                                    PanelKeyActions::Action, PanelKeyActions::ProposeQuery,
                                    PanelKeyActions::EditField, PanelKeyActions::Ignore>;

/// The switcher's keys: item actions with option or command, up and down
/// (also control-k/p and control-j/n, and plain j/n/k/p while no query is
/// typed), Return, Delete, Escape, and text appended to the query.
PanelKeyAction switcherKeyAction(const PanelKey& key, const std::string& query, bool hasSelection);

/// The search panel's keys: item actions with command alone, Tab and the
/// arrows move, Return commits, Escape cancels; everything else edits the field.
PanelKeyAction searchKeyAction(const PanelKey& key, bool hasSelection);

/// The item action of "w", "q", "m" or "h".
std::optional<ItemAction> itemActionFor(const std::string& characters);

/// `text` without its last character (a whole UTF-8 scalar).
std::string droppingLastCharacter(const std::string& text);

} // namespace vantrel
