// A scripted keyboard for tests.
#include "Platform/Sim/SimulatedInput.h"

#include "VantrelCore/KeyCodes.h"

namespace vantrel {

namespace {

bool hasControlCharacter(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 32 || c == 127)
            return true;
    }
    return false;
}
} // namespace

// ---- layouts

SimulatedLayout SimulatedLayout::us()
{
    SimulatedLayout layout;
    const std::pair<std::uint16_t, const char*> letters[] = {
        {0, "a"},  {11, "b"}, {8, "c"},  {2, "d"},  {14, "e"}, {3, "f"},  {5, "g"},  {4, "h"},  {34, "i"},
        {38, "j"}, {40, "k"}, {37, "l"}, {46, "m"}, {45, "n"}, {31, "o"}, {35, "p"}, {12, "q"}, {15, "r"},
        {1, "s"},  {17, "t"}, {32, "u"}, {9, "v"},  {13, "w"}, {7, "x"},  {16, "y"}, {6, "z"},
    };
    for (auto [code, letter] : letters) {
        std::string upper(letter);
        upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
        layout.keys[code] = {letter, upper, ""};
    }
    layout.keys[18] = {"1", "!", "¡"};
    layout.keys[19] = {"2", "@", "²"};
    layout.keys[29] = {"0", ")", ""};
    layout.keys[39] = {"'", "\"", ""};
    layout.keys[50] = {"`", "~", ""};
    layout.keys[49] = {" ", " ", " "};
    layout.keys[36] = {"\r", "\r", "\r"};
    layout.keys[48] = {"\t", "\t", "\t"};
    layout.keys[47] = {".", ">", ""};
    return layout;
}

SimulatedLayout SimulatedLayout::usInternational()
{
    SimulatedLayout layout = us();
    layout.name = "U.S. International";
    // Built from lists: element-wise assignment of short literals trips a
    // false -Wrestrict in GCC 12's optimiser.
    layout.deadKeys = {{39, "´"}, {50, "`"}};
    layout.compose = {
        {{"´", "e"}, "é"}, {{"´", "E"}, "É"}, {{"´", "a"}, "á"}, {{"´", "´"}, "´"},
        {{"´", " "}, "'"}, {{"`", "a"}, "à"}, {{"`", "`"}, "`"},
    };
    return layout;
}

SimulatedLayoutTranslator::SimulatedLayoutTranslator(std::function<SimulatedLayout()> currentLayout)
    : currentLayout_(std::move(currentLayout))
{
    reloadLayout();
}

void SimulatedLayoutTranslator::reloadLayout()
{
    deadKey_.clear();
    layout_ = currentLayout_();
    name_ = layout_->name;
    if (!layout_->hasLayoutData)
        layout_.reset();
}

std::optional<std::string> SimulatedLayoutTranslator::character(std::uint16_t keyCode, std::uint64_t flags)
{
    if (!layout_)
        return std::nullopt;
    const bool plainLevel = !(flags & (ModifierFlags::shift | ModifierFlags::option));
    std::string pending = std::exchange(deadKey_, {});
    if (auto dead = layout_->deadKeys.find(keyCode); dead != layout_->deadKeys.end() && plainLevel) {
        if (pending.empty()) {
            deadKey_ = dead->second;
            return std::nullopt;
        }
        auto composed = layout_->compose.find({pending, dead->second});
        return composed != layout_->compose.end() ? composed->second : pending + dead->second;
    }
    auto key = layout_->keys.find(keyCode);
    if (key == layout_->keys.end())
        return std::nullopt;
    std::string text = (flags & ModifierFlags::option) ? key->second.option
                       : (flags & ModifierFlags::shift) ? key->second.shifted
                                             : key->second.plain;
    if ((flags & ModifierFlags::capsLock) && text.size() == 1 && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    if ((flags & ModifierFlags::control) && text.size() == 1 && text[0] >= 'a' && text[0] <= 'z')
        text = std::string(1, static_cast<char>(text[0] - 'a' + 1));
    if (!pending.empty()) {
        auto composed = layout_->compose.find({pending, text});
        text = composed != layout_->compose.end() ? composed->second : pending + text;
    }
    if (text.empty() || hasControlCharacter(text))
        return std::nullopt;
    return text;
}

// ---- the backend

SimulatedInput::SimulatedInput() : listeners_(InputListeners::make()), layout_(SimulatedLayout::us()) {}

SimulatedInput::~SimulatedInput() = default;

void SimulatedInput::refuseChord(std::uint32_t keyCode, std::uint64_t modifiers)
{
    refused_.insert({keyCode, modifiers & KeyChord::modifierMask});
}

void SimulatedInput::setLayout(SimulatedLayout layout)
{
    layout_ = std::move(layout);
    listeners_->notifyLayoutChange();
}

bool SimulatedInput::tapInstalled() const
{
    return listeners_->tap() != nullptr;
}

FastSearchModifier SimulatedInput::tapModifier() const
{
    auto tap = listeners_->tap();
    return tap ? tap->modifier : FastSearchModifier::off;
}

void SimulatedInput::keyDown(std::uint16_t keyCode, std::uint64_t flags)
{
    send({KeyEvent::Kind::keyDown, keyCode, flags});
}

void SimulatedInput::keyUp(std::uint16_t keyCode, std::uint64_t flags)
{
    send({KeyEvent::Kind::keyUp, keyCode, flags});
}

void SimulatedInput::flagsChanged(std::uint16_t keyCode, std::uint64_t flags)
{
    send({KeyEvent::Kind::flagsChanged, keyCode, flags});
}

std::optional<std::uint32_t> SimulatedInput::matchingHotKey(const KeyEvent& event) const
{
    for (const auto& [id, chord] : grabs) {
        if (chord.first == event.keyCode && chord.second == (event.modifierFlags & KeyChord::modifierMask))
            return id;
    }
    return std::nullopt;
}

bool SimulatedInput::routeToHotKeys(const KeyEvent& event)
{
    if (event.kind == KeyEvent::Kind::keyDown) {
        auto id = matchingHotKey(event);
        if (!id)
            return false;
        if (pressedHotKeys_.press(event.keyCode, *id) && sink_)
            sink_(*id, HotKeyPhase::press);
        return true;
    }
    if (event.kind == KeyEvent::Kind::keyUp) {
        auto id = pressedHotKeys_.release(event.keyCode);
        if (!id)
            return false;
        if (sink_)
            sink_(*id, HotKeyPhase::release);
        return true;
    }
    return false;
}

void SimulatedInput::send(const KeyEvent& event)
{
    // The modifier feed is passive: it sees every modifier change, swallowed or not.
    if (event.kind == KeyEvent::Kind::flagsChanged)
        listeners_->feedModifiers(event.modifierFlags);
    if (auto grab = listeners_->grab()) {
        if (listeners_->grabMode() == GrabMode::everyKey || !routeToHotKeys(event))
            (*grab)(event);
        return;
    }
    if (auto tap = listeners_->tap()) {
        if (tap->handler(event))
            return;
    }
    if (routeToHotKeys(event))
        return;
    delivered.push_back(event);
}

void SimulatedInput::setHotKeySink(std::function<void(std::uint32_t, HotKeyPhase)> sink)
{
    sink_ = std::move(sink);
}

bool SimulatedInput::registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint64_t modifiers)
{
    const std::pair chord{keyCode, modifiers & KeyChord::modifierMask};
    if (refused_.contains(chord))
        return false;
    for (const auto& [otherId, other] : grabs) {
        if (other == chord)
            return false;
    }
    grabs[id] = chord;
    return true;
}

void SimulatedInput::unregisterHotKey(std::uint32_t id)
{
    grabs.erase(id);
    pressedHotKeys_.forget(id);
}

std::unique_ptr<InputSubscription> SimulatedInput::watchModifiers(std::function<void(std::uint64_t)> onChange)
{
    if (!modifierFeedAvailable)
        return nullptr;
    return listeners_->addModifierFeed(std::move(onChange));
}

std::unique_ptr<KeyTap> SimulatedInput::installKeyTap(FastSearchModifier modifier, KeyTapHandler handler)
{
    if (!tapAvailable || !inputMonitoring || missingHoldKeys.contains(modifier) || listeners_->tap())
        return nullptr;
    ++tapInstalls;
    return listeners_->installTap(modifier, std::move(handler),
                                  [missing = missingHoldKeys](FastSearchModifier next) { return !missing.contains(next); });
}

std::unique_ptr<InputSubscription> SimulatedInput::grabKeyboard(std::function<void(const KeyEvent&)> onKey,
                                                                GrabMode mode)
{
    if (onGrab)
        onGrab();
    return listeners_->takeGrab(std::move(onKey), {}, mode);
}

std::unique_ptr<KeyboardLayoutTranslator> SimulatedInput::makeLayoutTranslator()
{
    std::weak_ptr<InputListeners> alive = listeners_;
    return std::make_unique<SimulatedLayoutTranslator>([this, alive] {
        // A translator that outlives its backend sees no layout.
        if (alive.expired()) {
            SimulatedLayout none;
            none.hasLayoutData = false;
            return none;
        }
        return layout_;
    });
}

std::unique_ptr<InputSubscription> SimulatedInput::observeLayoutChanges(std::function<void()> onChange)
{
    return listeners_->addLayoutObserver(std::move(onChange));
}

} // namespace vantrel
