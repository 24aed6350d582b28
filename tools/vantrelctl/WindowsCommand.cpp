// vantrelctl windows: prints the window store's list, once or after every change, from a chosen desktop backend.
#include "BackendSelection.h"
#include "Command.h"

#if defined(VANTRELCTL_HAS_WINDOWTRACKER) && defined(VANTRELCTL_HAS_RUNTIMEQT)

#include "Runtime/QtRunLoop.h"
#include "SystemBridge/Backends.h"
#include "VantrelCore/WindowStore.h"
#include "WindowTracker/AXWindowTracker.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace vantrelctl {

namespace {

constexpr const char* usage =
    "usage: vantrelctl windows [--backend sim|x11] [--watch]\n"
    "\n"
    "Starts the window tracker on the chosen desktop (default: x11 when DISPLAY\n"
    "is set, else the simulated sample desktop) and prints the windows in\n"
    "most-recently-used order, with the spaces, as one JSON object:\n"
    "  {\"windows\": [{\"id\", \"pid\", \"bundleID\", \"appName\", \"title\",\n"
    "                \"isMinimized\", \"isAppHidden\", \"spaceIDs\"}, ...],\n"
    "   \"visibleSpaceIDs\": [...], \"fullscreenSpaceIDs\": [...],\n"
    "   \"spaceNumbers\": {\"<space id>\": <desktop number>, ...}}\n"
    "With --watch, prints one such line after every change until interrupted\n"
    "(SIGINT or SIGTERM end it cleanly, with status 0). Losing the X server\n"
    "ends it with a message and status 1.\n";

nlohmann::ordered_json encode(const vantrel::WindowStore& store)
{
    auto windows = nlohmann::ordered_json::array();
    for (const auto& window : store.ordered()) {
        windows.push_back({
            {"id", window.id},
            {"pid", window.pid},
            {"bundleID", window.bundleID ? nlohmann::ordered_json(*window.bundleID) : nlohmann::ordered_json(nullptr)},
            {"appName", window.appName},
            {"title", window.title},
            {"isMinimized", window.isMinimized},
            {"isAppHidden", window.isAppHidden},
            {"spaceIDs", window.spaceIDs},
        });
    }
    auto numbers = nlohmann::ordered_json::object();
    for (const auto& [space, number] : store.spaceNumbers())
        numbers[std::to_string(space)] = number;
    return {
        {"windows", std::move(windows)},
        {"visibleSpaceIDs", store.visibleSpaceIDs()},
        {"fullscreenSpaceIDs", store.fullscreenSpaceIDs()},
        {"spaceNumbers", std::move(numbers)},
    };
}

// The write end of the pipe the signal handler wakes the event loop through.
int signalPipeWrite = -1;

extern "C" void onTerminationSignal(int)
{
    char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipeWrite, &byte, 1);
}

int run(Args arguments)
{
    std::vector<std::string> args(arguments.begin(), arguments.end());
    bool watch = takeFlag(args, "--watch");

    int argc = 1;
    char name[] = "vantrelctl";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    vantrel::QtRunLoop loop;

    // Without its desktop the watch would wait forever for a change.
    auto lost = [](const std::string& message) {
        std::cerr << "windows: " << message << "\n";
        QCoreApplication::exit(1);
    };
    if (auto error = installBackend(args, loop, lost)) {
        std::cerr << "windows: " << *error << "\n";
        return 1;
    }
    if (!args.empty()) {
        std::cerr << "windows: unexpected argument '" << args.front() << "'\n" << usage;
        vantrel::SystemBridge::reset();
        return 2;
    }

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("windows: pipe");
        return 1;
    }
    signalPipeWrite = pipeEnds[1];
    QSocketNotifier signalNotifier(pipeEnds[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] { QCoreApplication::quit(); });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away ends the watch through a failed write instead.
    ::signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        vantrel::WindowStore store(std::make_unique<vantrel::AXWindowTracker>(loop));
        std::string lastLine;
        bool printed = false;
        bool pending = false;
        // One line per burst of changes: the tracker's first snapshot and the
        // focus report behind it arrive together and make one state.
        auto print = [&] {
            pending = false;
            std::string line = encode(store).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
            // A snapshot that changes nothing the list shows is not a change.
            if (printed && line == lastLine)
                return;
            std::cout << line << std::endl;
            if (!std::cout)
                QCoreApplication::exit(1); // the reader went away
            lastLine = std::move(line);
            printed = true;
            if (!watch)
                QCoreApplication::quit();
        };
        store.onChange = [&] {
            if (pending || (printed && !watch))
                return;
            pending = true;
            QTimer::singleShot(0, &application, print);
        };
        store.start();
        status = application.exec();
        store.stop();
    }

    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    signalPipeWrite = -1;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    vantrel::SystemBridge::reset();
    return status;
}

const Registration registration({
    .name = "windows",
    .summary = "print the tracked windows (once, or on every change with --watch)",
    .usage = usage,
    .run = run,
});

} // namespace

} // namespace vantrelctl

#endif
