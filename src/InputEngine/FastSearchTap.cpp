// Fast Search input: the hold state machine and the key-down mapping.
#include "InputEngine/FastSearchTap.h"

#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

namespace vantrel {

namespace {

// Event type numbers as the debug traces print them (the platform-neutral
// numbering of key down, key up and modifier change).
constexpr unsigned keyDownType = 10;
constexpr unsigned keyUpType = 11;
constexpr unsigned flagsChangedType = 12;

// The key code of the modifier's own key in modifier-change events and the
// flag bit that says it is down (either side's key sets it).
struct HoldKey {
    std::uint16_t keyCode = 0;
    std::uint64_t downFlag = 0;
    bool isFlagsChanged = false;
};

HoldKey holdKey(FastSearchModifier modifier)
{
    switch (modifier) {
    case FastSearchModifier::off: return {};
    case FastSearchModifier::fn: return {KeyCodes::fn, ModifierFlags::function, true};
    case FastSearchModifier::capsLock: return {KeyCodes::escape, 0, false};
    case FastSearchModifier::leftCommand: return {KeyCodes::leftCommand, ModifierFlags::command, true};
    case FastSearchModifier::rightCommand: return {KeyCodes::rightCommand, ModifierFlags::command, true};
    case FastSearchModifier::leftOption: return {KeyCodes::leftOption, ModifierFlags::option, true};
    case FastSearchModifier::rightOption: return {KeyCodes::rightOption, ModifierFlags::option, true};
    }
    return {};
}

unsigned typeNumber(KeyEvent::Kind kind)
{
    switch (kind) {
    case KeyEvent::Kind::keyDown: return keyDownType;
    case KeyEvent::Kind::keyUp: return keyUpType;
    case KeyEvent::Kind::flagsChanged: return flagsChangedType;
    }
    return 0;
}

} // namespace

FastSearchTap::FastSearchTap() : FastSearchTap(currentInputBackend()) {}

FastSearchTap::FastSearchTap(std::shared_ptr<InputBackend> backend)
    : backend_(std::move(backend)), self_(std::make_shared<FastSearchTap*>(this))
{
    if (backend_)
        translator_ = backend_->makeLayoutTranslator();
    if (!translator_)
        translator_ = makeKeyboardLayoutTranslator();
}

FastSearchTap::~FastSearchTap()
{
    *self_ = nullptr;
    tap_.reset();
    layoutObserver_.reset();
}

bool FastSearchTap::hasInputMonitoring() const
{
    return backend_ && backend_->hasInputMonitoring();
}

bool FastSearchTap::canHold(FastSearchModifier modifier) const
{
    return !backend_ || backend_->canHold(modifier);
}

void FastSearchTap::requestInputMonitoring()
{
    if (backend_)
        backend_->requestInputMonitoring();
}

void FastSearchTap::setModifier(FastSearchModifier modifier)
{
    modifier_ = modifier;
    if (modifier == FastSearchModifier::off) {
        uninstall();
        return;
    }
    if (!canHold(modifier)) {
        // An installed tap must not keep watching the old key.
        uninstall();
        if (reportedMissing_ != modifier)
            log_.notice("Fast Search modifier %{public}s is not available on this keyboard", rawValue(modifier));
        reportedMissing_ = modifier;
        return;
    }
    reportedMissing_.reset();
    if (tap_ && !tap_->setModifier(modifier)) {
        uninstall();
        log_.error("could not create active event tap (Accessibility?)");
        return;
    }
    install();
}

void FastSearchTap::install()
{
    if (tap_ || !backend_)
        return;
    if (!backend_->hasInputMonitoring()) {
        log_.notice("Fast Search waiting for Input Monitoring; tap not installed");
        return;
    }
    std::weak_ptr<FastSearchTap*> weakSelf = self_;
    tap_ = backend_->installKeyTap(modifier_, [weakSelf](const KeyEvent& event) {
        auto self = weakSelf.lock();
        return self && *self ? (*self)->handle(event) : false;
    });
    if (!tap_) {
        log_.error("could not create active event tap (Accessibility?)");
        return;
    }
    log_.info("fast-search tap installed for modifier %{public}s", rawValue(modifier_));
    layoutObserver_ = backend_->observeLayoutChanges([weakSelf] {
        if (auto self = weakSelf.lock(); self && *self)
            (*self)->translator_->reloadLayout();
    });
}

void FastSearchTap::uninstall()
{
    if (held_) {
        held_ = false;
        send(Ended{false});
    }
    tap_.reset();
    layoutObserver_.reset();
}

void FastSearchTap::send(const Event& event)
{
    if (onEvent)
        onEvent(event);
}

void FastSearchTap::beginHold()
{
    held_ = true;
    translator_->reloadLayout();
    send(Began{});
}

bool FastSearchTap::handle(const KeyEvent& event)
{
    log_.debug("tap event type=%u keyCode=%hu", typeNumber(event.kind), event.keyCode);
    const HoldKey hold = holdKey(modifier_);
    switch (event.kind) {
    case KeyEvent::Kind::keyDown:
    case KeyEvent::Kind::keyUp: {
        const bool down = event.kind == KeyEvent::Kind::keyDown;
        if (modifier_ == FastSearchModifier::capsLock && event.keyCode == hold.keyCode) {
            // The hold key itself never reaches anyone; a key down while held
            // is its auto-repeat.
            if (down && !held_) {
                beginHold();
            } else if (!down && held_) {
                held_ = false;
                send(Ended{true});
            }
            return true;
        }
        if (!held_)
            return false;
        if (down)
            keyDownWhileHeld(event);
        return true;
    }
    case KeyEvent::Kind::flagsChanged: {
        log_.debug("flagsChanged keycode=%hu modKeyCode=%hu fnmask=%{bool}d", event.keyCode, hold.keyCode,
                   (event.modifierFlags & ModifierFlags::function) != 0);
        if (!hold.isFlagsChanged || event.keyCode != hold.keyCode)
            return false;
        if (event.modifierFlags & hold.downFlag) {
            if (!held_)
                beginHold();
        } else if (held_) {
            held_ = false;
            send(Ended{true});
        }
        // Other programs still see the modifier.
        return false;
    }
    }
    return false;
}

void FastSearchTap::keyDownWhileHeld(const KeyEvent& event)
{
    switch (event.keyCode) {
    case KeyCodes::returnKey:
    case KeyCodes::keypadEnter:
        held_ = false;
        send(Ended{true});
        return;
    case KeyCodes::escape:
        held_ = false;
        send(Ended{false});
        return;
    case KeyCodes::tab:
    case KeyCodes::down:
        send(MoveSelection{+1});
        return;
    case KeyCodes::up:
        send(MoveSelection{-1});
        return;
    case KeyCodes::deleteKey:
        send(Backspace{});
        return;
    default:
        break;
    }
    // The held modifier must not change the typed character: holding option
    // types plain letters, shift still gives capitals.
    std::uint64_t flags = event.modifierFlags & ~ModifierFlags::function;
    if (modifier_ == FastSearchModifier::leftOption || modifier_ == FastSearchModifier::rightOption)
        flags &= ~ModifierFlags::option;
    if (modifier_ == FastSearchModifier::leftCommand || modifier_ == FastSearchModifier::rightCommand)
        flags &= ~ModifierFlags::command;
    if (auto text = translator_->character(event.keyCode, flags))
        send(Character{std::move(*text)});
}

} // namespace vantrel
