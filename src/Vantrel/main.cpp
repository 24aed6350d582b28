// vantrel: the window switcher's process — one per user and display, living in the tray until it is told to quit.
#include "Platform/X11/X11Platform.h"
#include "Platform/X11/X11Probe.h"
#include "Runtime/Log.h"
#include "Runtime/Paths.h"
#include "Runtime/QtRunLoop.h"
#include "Runtime/UserDefaults.h"
#include "SystemBridge/Backends.h"
#include "SystemBridge/SymbolicHotKeys.h"
#include "Vantrel/AppDelegate.h"
#include "Vantrel/DesktopParts.h"
#include "Vantrel/SingleInstance.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using namespace vantrel;

constexpr std::string_view usage =
    "Usage: vantrel [--settings | --quit | --help | --version]\n"
    "\n"
    "A keyboard-driven window switcher for X11 desktops. One Vantrel runs per user\n"
    "and display; starting it again hands the request to the running one and exits.\n"
    "\n"
    "  (no option)   start Vantrel, or open the running one's settings window\n"
    "  --settings    open the settings window, starting Vantrel if needed\n"
    "  --quit        quit the running Vantrel\n"
    "  --help        show this help\n"
    "  --version     show the version\n"
    "\n"
    "VANTREL_OPEN_SETTINGS=1 opens the settings window at start; VANTREL_LOG=error|info|debug\n"
    "sets what reaches standard error.\n";

enum class Mode { start, settings, quit, help, version };

// Written by the signal handler, read by the main loop.
int signalPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

/// SIGINT and SIGTERM end the event loop, so the quit steps run in order.
bool watchQuitSignals(QObject* context)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        char drained[16];
        while (::read(signalPipe[0], drained, sizeof drained) > 0) {
        }
        QCoreApplication::exit(0);
    });
    return true;
}

/// Points SIGINT and SIGTERM at the pipe. The hot-key guard installed at
/// launch leaves these two to us.
void handleQuitSignals()
{
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        action.sa_handler = onQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

/// Ends the process at once: the server is gone, and with it every grab, so
/// nothing is left to give back, and exit handlers would race our threads.
[[noreturn]] void lostServer()
{
    Logger("app").error("lost the connection to the X server; quitting");
    std::fflush(stderr);
    std::_Exit(1);
}

QtMessageHandler qtHandler = nullptr;

/// Qt's own connection notices the loss too, and would call exit(); both
/// paths end the same way.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("The X11 connection broke")))
        lostServer();
    if (qtHandler)
        qtHandler(type, context, message);
}

/// The README the package installs, else the one beside the sources.
std::string helpURL()
{
    for (std::filesystem::path candidate : {VANTREL_INSTALLED_HELP, VANTREL_SOURCE_HELP})
        if (std::filesystem::exists(candidate))
            return "file://" + candidate.string();
    return "file://" VANTREL_INSTALLED_HELP;
}

} // namespace

int main(int argc, char** argv)
{
    Mode mode = Mode::start;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            mode = Mode::help;
        } else if (arg == "--version") {
            mode = Mode::version;
        } else if ((arg == "--settings" || arg == "--quit") && mode == Mode::start && argc == 2) {
            mode = arg == "--quit" ? Mode::quit : Mode::settings;
        } else {
            std::fprintf(stderr, "vantrel: unexpected argument '%s'\n\n%.*s", argv[i], static_cast<int>(usage.size()),
                         usage.data());
            return 2;
        }
    }
    if (mode == Mode::help) {
        std::fwrite(usage.data(), 1, usage.size(), stdout);
        return 0;
    }
    if (mode == Mode::version) {
        std::printf("vantrel %s\n", VANTREL_VERSION);
        return 0;
    }

    const char* displayVariable = std::getenv("DISPLAY");
    const std::string display = displayVariable ? displayVariable : "";
    auto heldDisplay = display.empty() ? nullptr : holdDisplay(display);
    if (!heldDisplay) {
        std::fprintf(stderr, "vantrel: cannot open the X display '%s'; Vantrel needs a running X11 desktop\n",
                     display.c_str());
        return 1;
    }

    const auto socket = instanceSocketPath(display, std::getenv("XDG_RUNTIME_DIR"));
    const auto request = mode == Mode::quit ? InstanceRequest::quit : InstanceRequest::settings;
    if (sendToRunningInstance(socket, request))
        return 0;
    if (mode == Mode::quit) {
        std::fprintf(stderr, "vantrel: no Vantrel is running on %s\n", display.c_str());
        return 1;
    }

    QApplication::setApplicationName("Vantrel");
    QApplication::setApplicationVersion(VANTREL_VERSION);
    QApplication::setDesktopFileName("vantrel");
    QApplication application(argc, argv);
    heldDisplay.reset();
    QApplication::setQuitOnLastWindowClosed(false);
    QtRunLoop runLoop;
    const Logger log("app");
    if (watchQuitSignals(&application))
        handleQuitSignals();
    else
        log.error("cannot watch SIGINT and SIGTERM");

    qtHandler = qInstallMessageHandler(onQtMessage);
    auto opened = openX11Platform(runLoop, display, lostServer);
    if (auto* error = std::get_if<std::string>(&opened)) {
        std::fprintf(stderr, "vantrel: %s\n", error->c_str());
        return 1;
    }
    auto platform = std::get<X11Platform>(std::move(opened));
    SystemBridge::install(platform.backends);
    setCurrentInputBackend(platform.input);

    InstanceServer server;
    if (std::string error; !server.listen(socket, &error)) {
        // Another start won the race: hand it the request instead.
        if (sendToRunningInstance(socket, request))
            return 0;
        std::fprintf(stderr, "vantrel: cannot listen on %s: %s\n", socket.c_str(), error.c_str());
        return 1;
    }

    int status = 0;
    {
        auto defaults = std::make_shared<FileUserDefaults>(Paths::defaultsFile());
        SymbolicHotKeys::setUserDefaults(defaults);
        auto settingsStore = std::make_shared<SettingsStore>(defaults);

        DesktopAppEnvironment environment;
        DesktopFactory factory(runLoop, VANTREL_VERSION, [] {
            auto workspace = SystemBridge::installed().workspace;
            if (!workspace || !workspace->openURL(helpURL()))
                Logger("app").error("cannot open the help page %{public}s", helpURL());
        });
        AppDelegate delegate(runLoop, factory, environment, settingsStore, VANTREL_VERSION);
        server.onRequest = [&](InstanceRequest received) {
            if (received == InstanceRequest::quit)
                environment.requestQuit();
            else
                delegate.showSettings();
        };

        runLoop.post([&] {
            delegate.applicationDidFinishLaunching();
            if (mode == Mode::settings)
                delegate.showSettings();
        });
        status = QApplication::exec();
        delegate.applicationWillTerminate();
        server.onRequest = nullptr;
    }
    // The backends hold the connection, whose events go to the run loop: they
    // go before it does.
    setCurrentInputBackend(nullptr);
    SystemBridge::reset();
    platform = {};
    return status;
}

// libdbus keeps a buffer for the life of the process once Qt asked the
// session bus for a tray; the leak checker should not count it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
