// Helpers of the X11 tests: waiting on the run loop for a condition, running X tools.
#pragma once

#include "Platform/X11/X11Connection.h"
#include "Runtime/ManualRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/X11Session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace vantrel::test {

/// A test on the shared X session with one connection to it, served by
/// `loop`. Fixtures that add to it call SetUp() first and stop when it
/// skipped or failed; their own members go before the connection.
class X11ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VANTREL_REQUIRE_X11_SESSION(x11);
        session = x11;
        connection = X11Connection::open(loop, x11->display());
        ASSERT_NE(connection, nullptr);
    }

    bool ready() const { return !IsSkipped() && !HasFatalFailure(); }

    X11Session* session = nullptr;
    ManualRunLoop loop;
    std::shared_ptr<X11Connection> connection;
};

/// Runs the loop's posted jobs until `done` holds or `timeout` passes; the
/// event thread posts from another thread, so this polls briefly.
inline bool pumpUntil(ManualRunLoop& loop, const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        loop.runPending();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

/// Polls `done` (which may read the X server) until it holds or `timeout` passes.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

/// Runs a program (xdotool, setxkbmap) on `display`; true when it exited with 0.
inline bool runOn(const std::string& display, std::vector<std::string> argv)
{
    ChildProcess::Options options;
    options.argv = std::move(argv);
    options.environment = {{"DISPLAY", display}};
    auto child = ChildProcess::spawn(options);
    auto status = child ? child->waitForExit(std::chrono::seconds(10)) : std::nullopt;
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

} // namespace vantrel::test
