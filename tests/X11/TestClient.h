// Drives one x11_test_client process: opens windows and changes them by command.
#pragma once

#include "Support/ChildProcess.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

/// One scripted X client process on a test display. Every command waits for
/// the client's answer, which it gives after a round trip with the server.
class TestClient {
public:
    /// Starts the client on `display`; null when it does not come up.
    static std::unique_ptr<TestClient> start(const std::string& display);

    /// Opens a window (see x11_test_client.cpp for `options`) and returns its id
    /// once the window manager manages it; absent on failure.
    std::optional<std::uint32_t> open(const std::string& tag, const std::string& options = {});
    /// Sends one command line; true when the client answered "ok".
    bool command(const std::string& line);
    /// Waits for an unsolicited line such as "closed TAG".
    bool waitFor(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    pid_t pid() const { return process_->pid(); }
    ChildProcess& process() { return *process_; }

private:
    std::optional<std::string> reply();
    std::unique_ptr<ChildProcess> process_;
    std::vector<std::string> notices_;
};

} // namespace vantrel::test
