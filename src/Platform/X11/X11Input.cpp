// The keyboard on X11: passive key grabs, XKB state events, the Fast Search
// hold and layouts from the server.
#include "Platform/X11/X11Input.h"

#include "Platform/X11/X11KeyCodes.h"
#include "Platform/X11/XkbLayoutTranslator.h"
#include "Runtime/Log.h"
#include "VantrelCore/KeyCodes.h"

// xcb/xkb.h names a member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>

#include <thread>
#include <vector>

namespace vantrel {

namespace {

// Keysyms whose keys carry the modifiers we map (X11/keysymdef.h).
constexpr std::uint32_t keysymNumLock = 0xff7f;
constexpr std::uint32_t keysymAltL = 0xffe9;
constexpr std::uint32_t keysymAltR = 0xffea;
constexpr std::uint32_t keysymSuperL = 0xffeb;
constexpr std::uint32_t keysymSuperR = 0xffec;

Logger inputLog{"input"};

// The physical key held for each Fast Search modifier, as a Carbon key code:
// Caps Lock mode holds the physical Caps Lock key, which the user has
// remapped (for example `setxkbmap -option caps:escape`).
std::optional<std::uint16_t> holdKeyOf(FastSearchModifier modifier)
{
    switch (modifier) {
    case FastSearchModifier::capsLock: return KeyCodes::capsLock;
    case FastSearchModifier::leftCommand: return KeyCodes::leftCommand;
    case FastSearchModifier::rightCommand: return KeyCodes::rightCommand;
    case FastSearchModifier::leftOption: return KeyCodes::leftOption;
    case FastSearchModifier::rightOption: return KeyCodes::rightOption;
    case FastSearchModifier::off:
    case FastSearchModifier::fn: return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::shared_ptr<X11InputBackend> X11InputBackend::make(std::shared_ptr<X11Connection> connection)
{
    if (!connection || !connection->isOpen())
        return nullptr;
    xcb_connection_t* raw = connection->raw();
    std::uint8_t eventBase = 0;
    if (!xkb_x11_setup_xkb_extension(raw, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &eventBase, nullptr)) {
        inputLog.error("X server has no usable XKB extension; keyboard input unavailable");
        return nullptr;
    }
    const std::int32_t deviceId = xkb_x11_get_core_keyboard_device_id(raw);
    if (deviceId < 0)
        return nullptr;

    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                     XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr std::uint16_t mapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
        XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    constexpr std::uint16_t stateParts = XCB_XKB_STATE_PART_MODIFIER_STATE | XCB_XKB_STATE_PART_GROUP_STATE;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.affectState = stateParts;
    details.stateDetails = stateParts;
    auto select = xcb_xkb_select_events_aux_checked(raw, static_cast<xcb_xkb_device_spec_t>(deviceId), events, 0,
                                                    0, mapParts, mapParts, &details);
    // Key repeat then sends presses only, so a held chord presses its hot key once.
    auto repeat = xcb_xkb_per_client_flags(raw, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                           XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0);
    XcbPtr<xcb_generic_error_t> selectError(xcb_request_check(raw, select));
    XcbPtr<xcb_xkb_per_client_flags_reply_t> repeatReply(xcb_xkb_per_client_flags_reply(raw, repeat, nullptr));
    connection->noteRoundTrip();
    if (selectError) {
        inputLog.error("could not select XKB events (error %d); keyboard input unavailable",
                       static_cast<int>(selectError->error_code));
        return nullptr;
    }

    auto backend = std::make_shared<X11InputBackend>(Private{}, std::move(connection), eventBase, deviceId);
    backend->readModifierMapping();
    std::weak_ptr<X11InputBackend> weak = backend;
    backend->subscription_ = backend->connection_->subscribe([weak](const xcb_generic_event_t& event) {
        if (auto self = weak.lock())
            self->handleEvent(event);
    });
    return backend;
}

X11InputBackend::X11InputBackend(Private, std::shared_ptr<X11Connection> connection, std::uint8_t xkbEventBase,
                                 std::int32_t deviceId)
    : connection_(std::move(connection)), xkbEventBase_(xkbEventBase), deviceId_(deviceId),
      listeners_(InputListeners::make())
{
}

X11InputBackend::~X11InputBackend()
{
    subscription_.reset();
    xcb_connection_t* raw = connection_->raw();
    for (const auto& [id, grab] : grabs_) {
        for (int combination = 0; combination < 4; ++combination)
            xcb_ungrab_key(raw, grab.keyCode, connection_->root(), grab.state | lockMasks(combination));
    }
    ungrabHoldKey();
    if (listeners_->grab())
        xcb_ungrab_keyboard(raw, XCB_CURRENT_TIME);
    connection_->flush();
}

// ---- modifiers

void X11InputBackend::readModifierMapping()
{
    xcb_connection_t* raw = connection_->raw();
    const xcb_setup_t* setup = xcb_get_setup(raw);
    const std::uint8_t minKeyCode = setup->min_keycode;
    const std::uint8_t maxKeyCode = setup->max_keycode;
    auto modifierCookie = xcb_get_modifier_mapping(raw);
    auto keyboardCookie = xcb_get_keyboard_mapping(raw, minKeyCode, static_cast<std::uint8_t>(maxKeyCode - minKeyCode + 1));
    XcbPtr<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(raw, modifierCookie, nullptr));
    XcbPtr<xcb_get_keyboard_mapping_reply_t> keyboard(xcb_get_keyboard_mapping_reply(raw, keyboardCookie, nullptr));
    connection_->noteRoundTrip();
    if (!modifiers || !keyboard)
        return;

    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    const int perKey = keyboard->keysyms_per_keycode;
    const int keysymCount = xcb_get_keyboard_mapping_keysyms_length(keyboard.get());
    auto keyHas = [&](xcb_keycode_t keyCode, std::uint32_t a, std::uint32_t b) {
        if (keyCode < minKeyCode)
            return false;
        const int first = (keyCode - minKeyCode) * perKey;
        for (int i = first; i < first + perKey && i < keysymCount; ++i) {
            if (keysyms[i] == a || keysyms[i] == b)
                return true;
        }
        return false;
    };
    // The first of the eight modifiers (Shift, Lock, Control, Mod1..Mod5)
    // that holds a key with one of the keysyms.
    const xcb_keycode_t* modifierKeys = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    auto maskOf = [&](std::uint32_t a, std::uint32_t b, std::uint16_t fallback) -> std::uint16_t {
        for (int modifier = 3; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                if (keyHas(modifierKeys[modifier * perModifier + i], a, b))
                    return static_cast<std::uint16_t>(1u << modifier);
            }
        }
        return fallback;
    };
    altMask_ = maskOf(keysymAltL, keysymAltR, XCB_MOD_MASK_1);
    superMask_ = maskOf(keysymSuperL, keysymSuperR, XCB_MOD_MASK_4);
    numLockMask_ = maskOf(keysymNumLock, keysymNumLock, XCB_MOD_MASK_2);
}

std::uint64_t X11InputBackend::flagsFromState(std::uint16_t state) const
{
    std::uint64_t flags = 0;
    if (state & XCB_MOD_MASK_SHIFT)
        flags |= ModifierFlags::shift;
    if (state & XCB_MOD_MASK_LOCK)
        flags |= ModifierFlags::capsLock;
    if (state & XCB_MOD_MASK_CONTROL)
        flags |= ModifierFlags::control;
    if (state & altMask_)
        flags |= ModifierFlags::option;
    if (state & superMask_)
        flags |= ModifierFlags::command;
    return flags;
}

std::uint16_t X11InputBackend::stateFromFlags(std::uint64_t flags) const
{
    std::uint16_t state = 0;
    if (flags & ModifierFlags::shift)
        state |= XCB_MOD_MASK_SHIFT;
    if (flags & ModifierFlags::control)
        state |= XCB_MOD_MASK_CONTROL;
    if (flags & ModifierFlags::option)
        state |= altMask_;
    if (flags & ModifierFlags::command)
        state |= superMask_;
    return state;
}

std::uint16_t X11InputBackend::lockMasks(int combination) const
{
    std::uint16_t mask = 0;
    if (combination & 1)
        mask |= XCB_MOD_MASK_LOCK;
    if (combination & 2)
        mask |= numLockMask_;
    return mask;
}

// ---- hot keys

void X11InputBackend::setHotKeySink(std::function<void(std::uint32_t, HotKeyPhase)> sink)
{
    sink_ = std::move(sink);
}

bool X11InputBackend::registerHotKey(std::uint32_t id, std::uint32_t keyCode, std::uint64_t modifiers)
{
    auto xKeyCode = X11KeyCodes::xKeyCodeFromCarbon(keyCode);
    if (!xKeyCode || grabs_.contains(id) || !connection_->isOpen())
        return false;
    const Grab grab{*xKeyCode, stateFromFlags(modifiers)};
    // X lets a client grab a key it holds already; a second hot key for one
    // chord is refused here as another program's would be.
    for (const auto& [otherId, other] : grabs_) {
        if (other.keyCode == grab.keyCode && other.state == grab.state)
            return false;
    }
    xcb_connection_t* raw = connection_->raw();
    // Caps Lock and Num Lock are modifiers to X: without a grab under each of
    // their combinations the chord would not fire while one of them is on.
    xcb_void_cookie_t cookies[4];
    for (int combination = 0; combination < 4; ++combination)
        cookies[combination] = xcb_grab_key_checked(raw, 0, connection_->root(), grab.state | lockMasks(combination),
                                                    grab.keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    bool refused = false;
    bool granted[4] = {};
    for (int combination = 0; combination < 4; ++combination) {
        XcbPtr<xcb_generic_error_t> error(xcb_request_check(raw, cookies[combination]));
        granted[combination] = !error;
        refused = refused || error;
    }
    connection_->noteRoundTrip();
    if (refused) {
        // Another program (usually the window manager) holds the chord.
        for (int combination = 0; combination < 4; ++combination) {
            if (granted[combination])
                xcb_ungrab_key(raw, grab.keyCode, connection_->root(), grab.state | lockMasks(combination));
        }
        connection_->flush();
        return false;
    }
    grabs_[id] = grab;
    return true;
}

void X11InputBackend::unregisterHotKey(std::uint32_t id)
{
    auto it = grabs_.find(id);
    if (it == grabs_.end())
        return;
    const Grab grab = it->second;
    grabs_.erase(it);
    pressedHotKeys_.forget(id);
    for (int combination = 0; combination < 4; ++combination)
        xcb_ungrab_key(connection_->raw(), grab.keyCode, connection_->root(), grab.state | lockMasks(combination));
    connection_->flush();
}

bool X11InputBackend::routeToHotKeys(bool press, std::uint8_t keyCode, std::uint16_t state)
{
    if (!press) {
        auto id = pressedHotKeys_.release(keyCode);
        if (!id)
            return false;
        if (sink_)
            sink_(*id, HotKeyPhase::release);
        return true;
    }
    const std::uint16_t relevant = state & (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | altMask_ | superMask_);
    for (const auto& [id, grab] : grabs_) {
        if (grab.keyCode != keyCode || grab.state != relevant)
            continue;
        // With detectable auto-repeat a held key sends presses only.
        if (pressedHotKeys_.press(keyCode, id) && sink_)
            sink_(id, HotKeyPhase::press);
        return true;
    }
    return false;
}

// ---- events

void X11InputBackend::handleEvent(const xcb_generic_event_t& event)
{
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        const auto& key = reinterpret_cast<const xcb_key_press_event_t&>(event);
        handleKey(type == XCB_KEY_PRESS, key.detail, key.state);
    } else if (type == xkbEventBase_) {
        handleXkb(event);
    } else if (type == XCB_MAPPING_NOTIFY) {
        readModifierMapping();
    }
}

void X11InputBackend::handleXkb(const xcb_generic_event_t& event)
{
    // Every XKB event shares one event code; the second byte tells which.
    const std::uint8_t xkbType = event.pad0;
    if (xkbType == XCB_XKB_STATE_NOTIFY) {
        const auto& state = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event);
        if (state.deviceID != deviceId_)
            return;
        if (lastModifiers_ != state.mods) {
            lastModifiers_ = state.mods;
            listeners_->feedModifiers(flagsFromState(state.mods));
        }
        if (lastGroup_ != state.group) {
            const bool changed = lastGroup_.has_value();
            lastGroup_ = state.group;
            if (changed)
                listeners_->notifyLayoutChange();
        }
    } else if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY) {
        readModifierMapping();
        listeners_->notifyLayoutChange();
    }
}

std::optional<KeyEvent> X11InputBackend::keyEvent(bool press, std::uint8_t keyCode, std::uint16_t state) const
{
    auto carbon = X11KeyCodes::carbonFromXKeyCode(keyCode);
    if (!carbon)
        return std::nullopt;
    // X reports the modifiers in force before the event; a modifier-change
    // record carries those after it.
    std::uint64_t flags = flagsFromState(state);
    const std::uint64_t own = X11KeyCodes::modifierFlagOfKey(*carbon);
    if (own == 0)
        return KeyEvent{press ? KeyEvent::Kind::keyDown : KeyEvent::Kind::keyUp, *carbon, flags};
    if (own == ModifierFlags::capsLock)
        flags = press ? (flags ^ ModifierFlags::capsLock) : flags;
    else
        flags = press ? (flags | own) : (flags & ~own);
    return KeyEvent{KeyEvent::Kind::flagsChanged, *carbon, flags};
}

void X11InputBackend::handleKey(bool press, std::uint8_t keyCode, std::uint16_t state)
{
    // 1. The Fast Search hold: the hold key's passive grab turned into a
    //    keyboard grab that lasts until its release.
    if (auto tap = listeners_->tap(); tap && (keyCode == holdKeyCode_ || holdDown_)) {
        const bool isHoldKey = keyCode == holdKeyCode_;
        if (isHoldKey)
            holdDown_ = press;
        auto event = keyEvent(press, keyCode, state);
        if (!event)
            return;
        if (isHoldKey && tap->modifier == FastSearchModifier::capsLock)
            *event = KeyEvent{press ? KeyEvent::Kind::keyDown : KeyEvent::Kind::keyUp, KeyCodes::escape,
                              flagsFromState(state)};
        const bool swallowed = tap->handler(*event);
        if (!swallowed && !isHoldKey && event->kind == KeyEvent::Kind::keyDown && holdDown_) {
            // The hold ended (Return, Escape) with the hold key still down:
            // give the keyboard back so that the next keys reach the focused
            // window again.
            holdDown_ = false;
            xcb_ungrab_keyboard(connection_->raw(), XCB_CURRENT_TIME);
            connection_->flush();
        }
        return;
    }
    // 2. Our own keyboard grab: passive grabs are silent now, so registered
    //    chords are matched here.
    if (auto grab = listeners_->grab()) {
        if (listeners_->grabMode() == GrabMode::hotKeysFire && routeToHotKeys(press, keyCode, state))
            return;
        if (auto event = keyEvent(press, keyCode, state))
            (*grab)(*event);
        return;
    }
    // 3. A hot key's passive grab.
    routeToHotKeys(press, keyCode, state);
}

// ---- modifier feed, tap, keyboard grab, layout

std::unique_ptr<InputSubscription> X11InputBackend::watchModifiers(std::function<void(std::uint64_t)> onChange)
{
    if (!connection_->isOpen())
        return nullptr;
    return listeners_->addModifierFeed(std::move(onChange));
}

bool X11InputBackend::hasInputMonitoring()
{
    return connection_->isOpen();
}

bool X11InputBackend::canHold(FastSearchModifier modifier)
{
    return holdKeyOf(modifier).has_value();
}

bool X11InputBackend::grabHoldKey(std::uint8_t keyCode)
{
    if (keyCode == 0)
        return false;
    xcb_connection_t* raw = connection_->raw();
    auto cookie = xcb_grab_key_checked(raw, 0, connection_->root(), XCB_MOD_MASK_ANY, keyCode, XCB_GRAB_MODE_ASYNC,
                                       XCB_GRAB_MODE_ASYNC);
    XcbPtr<xcb_generic_error_t> error(xcb_request_check(raw, cookie));
    connection_->noteRoundTrip();
    if (error)
        return false;
    holdKeyCode_ = keyCode;
    holdDown_ = false;
    return true;
}

bool X11InputBackend::moveHoldKey(FastSearchModifier modifier)
{
    auto carbon = holdKeyOf(modifier);
    auto keyCode = carbon ? X11KeyCodes::xKeyCodeFromCarbon(*carbon) : std::nullopt;
    if (!keyCode)
        return false;
    if (*keyCode == holdKeyCode_)
        return true;
    const std::uint8_t previous = holdKeyCode_;
    ungrabHoldKey();
    if (!grabHoldKey(*keyCode)) {
        grabHoldKey(previous);
        return false;
    }
    return true;
}

void X11InputBackend::ungrabHoldKey()
{
    if (holdKeyCode_ == 0)
        return;
    xcb_ungrab_key(connection_->raw(), holdKeyCode_, connection_->root(), XCB_MOD_MASK_ANY);
    if (holdDown_)
        xcb_ungrab_keyboard(connection_->raw(), XCB_CURRENT_TIME);
    connection_->flush();
    holdKeyCode_ = 0;
    holdDown_ = false;
}

std::unique_ptr<KeyTap> X11InputBackend::installKeyTap(FastSearchModifier modifier, KeyTapHandler handler)
{
    auto carbon = holdKeyOf(modifier);
    auto keyCode = carbon ? X11KeyCodes::xKeyCodeFromCarbon(*carbon) : std::nullopt;
    if (!keyCode || listeners_->tap() || !connection_->isOpen())
        return nullptr;
    if (!grabHoldKey(*keyCode)) {
        inputLog.error("Fast Search hold key %{public}s is held by another program", rawValue(modifier));
        return nullptr;
    }
    std::weak_ptr<X11InputBackend> weak = weak_from_this();
    return listeners_->installTap(
        modifier, std::move(handler),
        [weak](FastSearchModifier next) {
            auto backend = weak.lock();
            return backend && backend->moveHoldKey(next);
        },
        [weak] {
            if (auto backend = weak.lock())
                backend->ungrabHoldKey();
        });
}

std::unique_ptr<InputSubscription> X11InputBackend::grabKeyboard(std::function<void(const KeyEvent&)> onKey,
                                                                 GrabMode mode)
{
    if (listeners_->grab() || !connection_->isOpen())
        return nullptr;
    xcb_connection_t* raw = connection_->raw();
    // Another client's grab is mostly about to end: the window manager's
    // binding of a key that is still going up, say. It is asked again for a
    // moment, as X launchers do, before the keyboard counts as taken.
    constexpr int attempts = 50;
    for (int attempt = 1;; ++attempt) {
        auto cookie = xcb_grab_keyboard(raw, 0, connection_->root(), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                        XCB_GRAB_MODE_ASYNC);
        XcbPtr<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(raw, cookie, nullptr));
        connection_->noteRoundTrip();
        if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
            if (attempt > 1)
                inputLog.debug("keyboard grab taken at attempt %d", attempt);
            break;
        }
        const bool heldElsewhere = reply && (reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED
                                             || reply->status == XCB_GRAB_STATUS_FROZEN);
        if (!heldElsewhere || attempt == attempts)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::weak_ptr<X11InputBackend> weak = weak_from_this();
    return listeners_->takeGrab(
        std::move(onKey),
        [weak] {
            if (auto backend = weak.lock()) {
                xcb_ungrab_keyboard(backend->connection_->raw(), XCB_CURRENT_TIME);
                backend->connection_->flush();
            }
        },
        mode);
}

std::unique_ptr<KeyboardLayoutTranslator> X11InputBackend::makeLayoutTranslator()
{
    std::weak_ptr<X11Connection> weakConnection = connection_;
    const std::int32_t deviceId = deviceId_;
    return std::make_unique<XkbLayoutTranslator>(
        [weakConnection, deviceId](xkb_context* context) -> std::optional<XkbLayoutSnapshot> {
            auto connection = weakConnection.lock();
            if (!connection || !connection->isOpen())
                return std::nullopt;
            xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context, connection->raw(), deviceId,
                                                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
            if (!keymap)
                return std::nullopt;
            XkbLayoutSnapshot snapshot{std::shared_ptr<xkb_keymap>(keymap, xkb_keymap_unref), 0};
            if (xkb_state* state = xkb_x11_state_new_from_device(keymap, connection->raw(), deviceId)) {
                snapshot.layout = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
                xkb_state_unref(state);
            }
            connection->noteRoundTrip();
            return snapshot;
        });
}

std::unique_ptr<InputSubscription> X11InputBackend::observeLayoutChanges(std::function<void()> onChange)
{
    return listeners_->addLayoutObserver(std::move(onChange));
}

} // namespace vantrel
