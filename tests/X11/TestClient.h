// Drives one x11_test_client process: opens windows and changes them by command.
#pragma once

#include "Support/ChildProcess.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
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
    static std::unique_ptr<TestClient> start(const std::string& display)
    {
        auto process = ChildProcess::spawn({.argv = {VANTREL_X11_TEST_CLIENT},
                                            .environment = {{"DISPLAY", display}},
                                            .pipeStdin = true,
                                            .pipeStdout = true,
                                            .keepStderr = true});
        if (!process || process->readLine(replyTimeout) != "ready")
            return nullptr;
        std::unique_ptr<TestClient> client(new TestClient());
        client->process_ = std::move(process);
        return client;
    }

    /// Opens a window (see x11_test_client.cpp for `options`) and returns its id
    /// once the window manager manages it; absent on failure.
    std::optional<std::uint32_t> open(const std::string& tag, const std::string& options = {})
    {
        auto line = process_->writeLine("open " + tag + " " + options) ? reply() : std::nullopt;
        const std::string prefix = "opened " + tag + " ";
        if (!line || line->rfind(prefix, 0) != 0) {
            const std::string why = line                   ? *line
                : process_->isRunning() ? "no answer within " + std::to_string(replyTimeout.count()) + " s"
                                        : std::string("the client has exited");
            std::fprintf(stderr, "x11_test_client: open %s: %s\n", tag.c_str(), why.c_str());
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(std::stoul(line->substr(prefix.size())));
    }

    /// Sends one command line; true when the client answered "ok".
    bool command(const std::string& line) { return process_->writeLine(line) && reply() == "ok"; }

    /// Waits for an unsolicited line such as "closed TAG".
    bool waitFor(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        if (auto seen = std::ranges::find(notices_, line); seen != notices_.end()) {
            notices_.erase(seen);
            return true;
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        auto left = [&] { return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()); };
        while (auto next = process_->readLine(left())) {
            if (*next == line)
                return true;
            notices_.push_back(*next);
        }
        return false;
    }

    pid_t pid() const { return process_->pid(); }
    ChildProcess& process() { return *process_; }

private:
    static constexpr auto replyTimeout = std::chrono::seconds(25);

    /// The next answer; "closed TAG" and "ignored TAG" lines met on the way are kept for waitFor().
    std::optional<std::string> reply()
    {
        while (auto line = process_->readLine(replyTimeout)) {
            if (!line->starts_with("closed ") && !line->starts_with("ignored "))
                return line;
            notices_.push_back(*line);
        }
        return std::nullopt;
    }

    std::unique_ptr<ChildProcess> process_;
    std::vector<std::string> notices_;
};

} // namespace vantrel::test
