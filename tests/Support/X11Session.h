// A private X server (Xvfb) with a window manager (openbox) for the X11 tests.
#pragma once

#include "Support/ChildProcess.h"
#include "Support/ScratchFiles.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::test {

/// Polls `done` (which may read the X server) until it holds or `timeout` passes.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

/// Starts `Xvfb` on a display number it picks itself (-displayfd), then
/// `openbox` with its default configuration on it, and waits until the window
/// manager answers. Both are ended by pid when the session is destroyed, and
/// die with the test process if it crashes.
class X11Session {
public:
    /// Why a session could not start; `missing` when Xvfb or openbox is not
    /// installed (tests skip), otherwise a failure.
    struct Failure {
        std::string reason;
        bool missing = false;
    };

    /// Starts a session, Xvfb given `serverArguments` as well (such as
    /// {"-extension", "X-Resource"} for a server without that extension);
    /// null with `failure` filled in when it cannot.
    static std::unique_ptr<X11Session> start(Failure* failure, const std::vector<std::string>& serverArguments = {});
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    /// The display name, ":N".
    const std::string& display() const { return display_; }
    /// Ends the X server abruptly (for connection-loss tests).
    void killServer();
    /// Brings the first desktop into view and waits until it is: the tests of
    /// one process share the session, and some leave another desktop current.
    bool showFirstDesktop();

private:
    X11Session() = default;
    std::string display_;
    /// A scratch home keeps the user's own openbox configuration (and caches)
    /// out of the tests: openbox then reads the system default rc.xml.
    ScratchFolder home_;
    // Ended in reverse order: the window manager first, so it does not see
    // its server vanish.
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> windowManager_;
};

/// The session of this test process, started on first use and stopped at
/// exit. Null (with `failure`) when it cannot start.
X11Session* sharedX11Session(X11Session::Failure* failure = nullptr);

} // namespace vantrel::test

/// Opens a test that needs the X server: skips it when Xvfb or openbox is not
/// installed, fails it when they do not start; starts it on the first desktop.
/// Declares `x11` (X11Session*).
#define VANTREL_REQUIRE_X11_SESSION(x11)                                                                    \
    ::vantrel::test::X11Session::Failure x11##Failure;                                                     \
    auto* x11 = ::vantrel::test::sharedX11Session(&x11##Failure);                                           \
    if (!x11 && x11##Failure.missing)                                                                       \
        GTEST_SKIP() << x11##Failure.reason;                                                                \
    ASSERT_NE(x11, nullptr) << x11##Failure.reason;                                                        \
    ASSERT_TRUE(x11->showFirstDesktop()) << "the first desktop did not come into view"
