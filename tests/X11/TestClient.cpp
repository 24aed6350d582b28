// Drives one x11_test_client process: opens windows and changes them by command.
#include "X11/TestClient.h"

#include <algorithm>

namespace vantrel::test {

namespace {
constexpr auto replyTimeout = std::chrono::seconds(25);

bool isNotice(const std::string& line)
{
    return line.rfind("closed ", 0) == 0 || line.rfind("ignored ", 0) == 0;
}
} // namespace

std::unique_ptr<TestClient> TestClient::start(const std::string& display)
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

std::optional<std::string> TestClient::reply()
{
    while (auto line = process_->readLine(replyTimeout)) {
        if (!isNotice(*line))
            return line;
        notices_.push_back(*line);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> TestClient::open(const std::string& tag, const std::string& options)
{
    if (!process_->writeLine("open " + tag + " " + options))
        return std::nullopt;
    auto line = reply();
    const std::string prefix = "opened " + tag + " ";
    if (!line || line->rfind(prefix, 0) != 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(line->substr(prefix.size())));
}

bool TestClient::command(const std::string& line)
{
    return process_->writeLine(line) && reply() == "ok";
}

bool TestClient::waitFor(const std::string& line, std::chrono::milliseconds timeout)
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

} // namespace vantrel::test
