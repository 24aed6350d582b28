// Helpers of the X11 tests: waiting on the run loop for a condition, running X tools.
#pragma once

#include "InputEngine/InputBackend.h"
#include "Platform/X11/X11Connection.h"
#include "Platform/X11/X11Input.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/Installed.h"
#include "Support/InstalledInput.h"
#include "Support/X11Session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <vector>

namespace vantrel::test {

/// Runs the loop's posted jobs until `done` holds or `timeout` passes; the
/// event thread posts from another thread, so this polls briefly.
inline bool pumpUntil(ManualRunLoop& loop, const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    return eventually([&] {
        loop.runPending();
        return done();
    }, timeout);
}

/// What a test reads of a program it starts.
enum class Reading { nothing, output, outputAndErrors };

/// Starts a program on `display` with `environment` added.
inline std::unique_ptr<ChildProcess> startOn(const std::string& display, std::vector<std::string> argv,
                                             Reading reading = Reading::outputAndErrors,
                                             std::vector<std::pair<std::string, std::string>> environment = {})
{
    environment.emplace_back("DISPLAY", display);
    return ChildProcess::spawn({.argv = std::move(argv), .environment = std::move(environment),
                                .pipeStdout = reading != Reading::nothing, .stderrToStdout = reading == Reading::outputAndErrors});
}

/// Reads a started program's output to its end and waits for its exit; the
/// status is -1 when it did not exit by itself in time or was killed by a signal.
inline CommandOutput finish(ChildProcess& child, std::chrono::milliseconds timeout = std::chrono::seconds(20))
{
    CommandOutput run;
    while (auto line = child.readLine(timeout))
        run.text += *line + "\n";
    const auto status = child.waitForExit(timeout);
    if (status && WIFEXITED(*status))
        run.status = WEXITSTATUS(*status);
    return run;
}

/// Whether `child` writes a line containing `text` within `timeout`.
inline bool says(ChildProcess& child, std::string_view text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (auto line = child.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
               std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero()))))
        if (line->find(text) != std::string::npos)
            return true;
    return false;
}

/// Runs a program (xdotool, setxkbmap) on `display`; true when it exited with 0.
inline bool runOn(const std::string& display, std::vector<std::string> argv)
{
    auto child = startOn(display, std::move(argv), Reading::nothing);
    auto status = child ? child->waitForExit(std::chrono::seconds(10)) : std::nullopt;
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

/// Whether `event` changes the property `atom` of `window`, or of any window when it is 0.
inline bool isPropertyChange(const xcb_generic_event_t& event, xcb_atom_t atom, xcb_window_t window = 0)
{
    const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
    return (event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY && notify.atom == atom && (window == 0 || notify.window == window);
}

/// A private session (its server is lost, or started without an extension):
/// null when Xvfb or openbox is missing, and a failure when it does not start.
inline std::unique_ptr<X11Session> privateSession(const std::vector<std::string>& serverArguments = {})
{
    X11Session::Failure failure;
    auto session = X11Session::start(&failure, serverArguments);
    if (!session && !failure.missing)
        ADD_FAILURE() << failure.reason;
    return session;
}

/// The backend a contract case runs on: the simulated one or the X server.
enum class Backend { simulated, x11 };
inline const auto everyBackend = ::testing::Values(Backend::simulated, Backend::x11);
inline std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::simulated ? "Simulated" : "X11";
}

/// A test on the shared X session with one connection to it, served by
/// `loop`. Fixtures add their own set-up in prepare(), which runs once the
/// connection is open; their own members go before the connection.
class X11ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        session = x11;
        connection = X11Connection::open(loop, x11->display());
        ASSERT_NE(connection, nullptr);
        prepare();
    }

    virtual void prepare() {}

    /// Returns once the loop has seen every event the server sent `connection`
    /// before the call. A client table on the connection drops what an event
    /// changed before the loop sees the event, so backends over it then read
    /// every change made until now. They learn of changes only from their
    /// events: a test that saw a change some other way (a client's answer, a
    /// read of the root) calls this before reading the change through them.
    /// It touches a property of the connection's own window; the server sends
    /// that notification after every earlier one.
    bool caughtUp()
    {
        const xcb_atom_t marker = connection->atom("_VANTREL_TEST_CAUGHT_UP");
        const xcb_window_t own = connection->ownWindow();
        bool seen = false;
        auto watch = connection->subscribe(
            [&](const xcb_generic_event_t& event) { seen = seen || isPropertyChange(event, marker, own); });
        xcb_change_property(connection->raw(), XCB_PROP_MODE_APPEND, own, marker, XCB_ATOM_STRING, 8, 0, "");
        return connection->flush() && pumpUntil(loop, [&] { return seen; });
    }

    /// Runs xdotool (typing keys, switching desktops) with `args` on the
    /// display; true when it succeeded.
    bool type(std::vector<std::string> args)
    {
        args.insert(args.begin(), "xdotool");
        return runOn(session->display(), std::move(args));
    }

    X11Session* session = nullptr;
    ManualRunLoop loop;
    std::shared_ptr<X11Connection> connection;
};

/// An X11ConnectionTest whose keyboard, on the same connection, is the
/// process's input backend; keys are typed with xdotool (XTEST).
class X11KeyboardTest : public X11ConnectionTest {
protected:
    void prepare() override
    {
        input = X11InputBackend::make(connection);
        ASSERT_TRUE(input);
        installedInput.emplace(input);
    }

#ifdef VANTREL_X11_KEY_CLIENT
    /// A focused window that reports the key presses it receives.
    std::unique_ptr<ChildProcess> startKeyClient()
    {
        auto client = startOn(session->display(), {VANTREL_X11_KEY_CLIENT}, Reading::output);
        if (!client || client->readLine(std::chrono::seconds(10)) != "ready")
            return nullptr;
        return client;
    }
#endif

    std::shared_ptr<X11InputBackend> input;
    std::optional<InstalledInputBackend> installedInput;
    HotKeysUnregistered hotKeysUnregistered;
};

} // namespace vantrel::test
