// vantrelctl keys: checks a user's keyboard and chords by registering hot keys
// and printing every key event as one JSON line.
#include "Command.h"

#if defined(VANTRELCTL_HAS_INPUTENGINE) && defined(VANTRELCTL_HAS_PLATFORMX11) && defined(VANTRELCTL_HAS_RUNTIMEQT)

#include "InputEngine/HotKey.h"
#include "InputEngine/ModifierWatcher.h"
#include "Platform/X11/X11Input.h"
#include "Platform/X11/X11KeyCodes.h"
#include "Runtime/QtRunLoop.h"
#include "VantrelCore/KeyChord.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

#include <QCoreApplication>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <iostream>
#include <stdexcept>

namespace vantrelctl {
namespace {

using vantrel::KeyChord;

void printLine(const nlohmann::ordered_json& line)
{
    std::cout << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
}

template <class T>
T parseNumber(std::string_view text, std::string_view what)
{
    T value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        throw std::invalid_argument("bad " + std::string(what) + " '" + std::string(text) + "'");
    return value;
}

KeyChord parseChord(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        throw std::invalid_argument("--chord needs KEYCODE:MODIFIERS, got '" + text + "'");
    return KeyChord{parseNumber<std::uint32_t>(std::string_view(text).substr(0, colon), "key code"),
                    parseNumber<std::uint64_t>(std::string_view(text).substr(colon + 1), "modifiers")};
}

int runKeys(Args arguments)
{
    std::vector<std::string> args(arguments.begin(), arguments.end());
    const std::string backendName = takeOption(args, "--backend").value_or("x11");
    std::vector<KeyChord> chords;
    while (auto chord = takeOption(args, "--chord"))
        chords.push_back(parseChord(*chord));
    const bool grab = takeFlag(args, "--grab");
    const int seconds = parseNumber<int>(takeOption(args, "--seconds").value_or("10"), "seconds");
    if (!args.empty())
        throw std::invalid_argument("unexpected argument '" + args.front() + "'");
    if (backendName != "x11")
        throw std::invalid_argument("unknown backend '" + backendName + "' (only x11)");
    if (seconds <= 0)
        throw std::invalid_argument("--seconds must be positive");

    int argc = 1;
    char name[] = "vantrelctl";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    vantrel::QtRunLoop loop;
    auto connection = vantrel::X11Connection::open(loop);
    if (!connection) {
        std::cerr << "vantrelctl keys: " << vantrel::X11Connection::openFailure() << "\n";
        return 1;
    }
    auto backend = vantrel::X11InputBackend::make(connection);
    if (!backend) {
        std::cerr << "vantrelctl keys: the X server's keyboard extension is unusable\n";
        return 1;
    }
    // A chord given twice, or one naming no key, is a mistake in the
    // arguments: only another program's grab is a refusal.
    std::vector<vantrel::HotKey::Chord> wanted;
    for (const KeyChord& chord : chords) {
        auto key = vantrel::HotKey::Chord::from(chord, backend->keyboardType());
        key.modifiers &= KeyChord::modifierMask;
        const std::string given = std::to_string(chord.keyCode) + ":" + std::to_string(chord.modifiers);
        if (!vantrel::X11KeyCodes::xKeyCodeFromCarbon(key.keyCode))
            throw std::invalid_argument("--chord " + given + ": no key has code " + std::to_string(chord.keyCode));
        if (std::ranges::find(wanted, key) != wanted.end())
            throw std::invalid_argument("--chord " + given + ": the chord is given twice");
        wanted.push_back(key);
    }
    vantrel::setCurrentInputBackend(backend);

    std::vector<std::shared_ptr<vantrel::HotKey>> hotKeys;
    for (const KeyChord& chord : chords) {
        const nlohmann::ordered_json fields = {{"keyCode", chord.keyCode}, {"modifiers", chord.modifiers}};
        auto hotKey = vantrel::HotKey::make(vantrel::HotKey::Chord::from(chord), [fields] {
            auto line = nlohmann::ordered_json{{"event", "hotkey"}};
            line.update(fields);
            line["phase"] = "press";
            printLine(line);
        });
        if (!hotKey) {
            auto line = nlohmann::ordered_json{{"event", "refused"}};
            line.update(fields);
            printLine(line);
            continue;
        }
        hotKey->onRelease = [fields] {
            auto line = nlohmann::ordered_json{{"event", "hotkey"}};
            line.update(fields);
            line["phase"] = "release";
            printLine(line);
        };
        hotKeys.push_back(std::move(hotKey));
    }

    auto watcher = vantrel::ModifierWatcher::make();
    if (watcher)
        watcher->onFlagsChanged = [](std::uint64_t flags) { printLine({{"event", "flags"}, {"flags", flags}}); };
    else
        std::cerr << "vantrelctl keys: no modifier feed\n";

    std::unique_ptr<vantrel::KeyboardLayoutTranslator> translator;
    std::unique_ptr<vantrel::InputSubscription> keyboardGrab;
    std::unique_ptr<vantrel::InputSubscription> layoutChanges;
    if (grab) {
        translator = backend->makeLayoutTranslator();
        layoutChanges = backend->observeLayoutChanges([&translator] { translator->reloadLayout(); });
        keyboardGrab = backend->grabKeyboard([&](const vantrel::KeyEvent& event) {
            if (event.kind != vantrel::KeyEvent::Kind::keyDown)
                return;
            auto text = translator->character(event.keyCode, event.modifierFlags);
            printLine({{"event", "key"},
                  {"keyCode", event.keyCode},
                  {"flags", event.modifierFlags},
                  {"text", text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr)}});
            if (event.keyCode == vantrel::KeyCodes::escape)
                QCoreApplication::quit();
        });
        if (!keyboardGrab) {
            std::cerr << "vantrelctl keys: another program holds the keyboard\n";
            for (auto& hotKey : hotKeys)
                hotKey->unregister();
            return 1;
        }
    }
    auto lost = connection->onLost([display = connection->display()] {
        std::cerr << "vantrelctl keys: lost the connection to the X server '" << display << "'\n";
        QCoreApplication::exit(1);
    });
    auto deadline = loop.schedule(std::chrono::seconds(seconds), [] { QCoreApplication::quit(); });
    printLine({{"event", "ready"}});
    const int status = QCoreApplication::exec();

    keyboardGrab.reset();
    for (auto& hotKey : hotKeys)
        hotKey->unregister();
    watcher.reset();
    vantrel::setCurrentInputBackend(nullptr);
    return status;
}

const Registration registration{Command{
    "keys",
    "check the keyboard: register chords and print key events as JSON lines",
    "usage: vantrelctl keys [--backend x11] [--chord KEYCODE:MODIFIERS]... [--grab] [--seconds N]\n"
    "\n"
    "Registers each chord (Carbon key code, modifier flags as stored in the settings:\n"
    "shift 131072, control 262144, option 524288, command 1048576) as a hot key and\n"
    "prints one JSON line per event until N seconds have passed (default 10):\n"
    "  {\"event\": \"hotkey\", \"keyCode\": K, \"modifiers\": M, \"phase\": \"press\"|\"release\"}\n"
    "  {\"event\": \"refused\", \"keyCode\": K, \"modifiers\": M}   (another program holds the chord)\n"
    "  {\"event\": \"flags\", \"flags\": F}                          (every modifier change)\n"
    "With --grab it holds the keyboard, stops at Escape, and prints every key down:\n"
    "  {\"event\": \"key\", \"keyCode\": K, \"flags\": F, \"text\": \"a\"}  (text null when none)\n"
    "A line {\"event\": \"ready\"} follows the registrations. A chord given twice (the\n"
    "modifiers other than these four do not count) or a key code that names no key\n"
    "is invalid input: an error, exit status 2, and nothing is registered. Losing the\n"
    "X server ends it with a message and exit status 1.\n",
    runKeys,
}};

} // namespace
} // namespace vantrelctl

#endif
