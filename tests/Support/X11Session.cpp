// A private X server (Xvfb) with a window manager (openbox) for the X11 tests.
#include "Support/X11Session.h"

#include "Platform/X11/X11Desktop.h"
#include "Platform/X11/X11Probe.h"
#include "Runtime/ManualRunLoop.h"

#include <thread>

namespace vantrel::test {

namespace {
constexpr auto serverStartTimeout = std::chrono::seconds(15);
constexpr auto windowManagerTimeout = std::chrono::seconds(15);
} // namespace

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::unique_ptr<X11Session> X11Session::start(Failure* failure, const std::vector<std::string>& serverArguments)
{
    auto fail = [&](std::string reason, bool missing = false) -> std::unique_ptr<X11Session> {
        if (failure)
            *failure = {std::move(reason), missing};
        return nullptr;
    };
    std::unique_ptr<X11Session> session(new X11Session());

    ChildProcess::Options server{.argv = {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0", "1280x1024x24"},
                                 .environment = {},
                                 .pipeStdout = true};
    server.argv.insert(server.argv.end(), serverArguments.begin(), serverArguments.end());
    std::string error;
    bool notFound = false;
    session->server_ = ChildProcess::spawn(server, &error, &notFound);
    if (!session->server_)
        return fail(error, notFound);
    auto number = session->server_->readLine(serverStartTimeout);
    if (!number || number->empty())
        return fail("Xvfb did not report a display number");
    session->display_ = ":" + *number;

    const auto& home = session->home_.path;
    session->windowManager_ = ChildProcess::spawn({.argv = {"openbox", "--sm-disable"},
                                                   .environment = {{"DISPLAY", session->display_},
                                                                   {"HOME", home.string()},
                                                                   {"XDG_CONFIG_HOME", (home / "config").string()},
                                                                   {"XDG_CACHE_HOME", (home / "cache").string()},
                                                                   {"XDG_DATA_HOME", (home / "data").string()}}},
                                                  &error, &notFound);
    if (!session->windowManager_)
        return fail(error, notFound);

    bool answered = false;
    eventually([&] {
        answered = probeWindowManager(session->display_).has_value();
        return answered || !session->windowManager_->isRunning() || !session->server_->isRunning();
    }, windowManagerTimeout);
    if (!session->windowManager_->isRunning())
        return fail("openbox exited during start-up");
    if (!session->server_->isRunning())
        return fail("Xvfb exited during start-up");
    return answered ? std::move(session) : fail("openbox did not answer on " + session->display_);
}

void X11Session::killServer()
{
    if (server_)
        server_->terminate(std::chrono::milliseconds(500));
}

bool X11Session::showFirstDesktop()
{
    ManualRunLoop loop;
    auto connection = X11Connection::open(loop, display_);
    if (!connection)
        return false;
    X11Desktop::create(connection, loop)->switchDesktop(0);
    return eventually([&] { return readRootState(*connection).value_or(X11RootState{}).currentDesktop == 0u; },
                      windowManagerTimeout);
}

X11Session* sharedX11Session(X11Session::Failure* failure)
{
    static X11Session::Failure startFailure;
    // Static destruction also covers a failed test: gtest returns from main.
    static std::unique_ptr<X11Session> session = X11Session::start(&startFailure);
    if (!session && failure)
        *failure = startFailure;
    return session.get();
}

} // namespace vantrel::test
