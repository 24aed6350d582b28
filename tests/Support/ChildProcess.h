// Child processes for tests (on QProcess): ended by pid, never outliving us; a
// shell command run to its end; and a pid no process has.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

class QProcess;

namespace vantrel::test {

/// A started program. It receives SIGTERM when the test process dies (even by
/// a crash), and the destructor ends it by its pid.
class ChildProcess {
public:
    struct Options {
        std::vector<std::string> argv;
        /// Added to (or replacing in) the inherited environment.
        std::vector<std::pair<std::string, std::string>> environment;
        bool pipeStdin = false;
        bool pipeStdout = false;
        /// Standard error goes to /dev/null unless this is set.
        bool keepStderr = false;
        /// Standard error goes into the standard output pipe (with `pipeStdout`).
        bool stderrToStdout = false;
    };

    /// Starts the program; null with `error` set when it cannot be run
    /// (`notFound` tells a missing program from other failures).
    static std::unique_ptr<ChildProcess> spawn(const Options& options, std::string* error = nullptr,
                                               bool* notFound = nullptr);

    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    /// Writes `line` and a newline to the child's standard input.
    bool writeLine(std::string_view line);
    /// The next line of standard output (without the newline), waiting at most
    /// `timeout`; absent on timeout or end of file.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    /// True while the child has not exited.
    bool isRunning();
    /// Waits for the child to exit by itself; its wait status, or absent on timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    /// SIGTERM, then SIGKILL after `grace`; returns the wait status.
    int terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

private:
    explicit ChildProcess(std::unique_ptr<QProcess> process);
    int waitStatus() const;

    std::unique_ptr<QProcess> process_;
    pid_t pid_ = -1;
};

/// What a shell command printed on standard output, and its exit status
/// (-1 when it did not exit).
struct CommandOutput {
    std::string text;
    int status = -1;
};
/// Runs `command` with /bin/sh to its end.
CommandOutput runCommand(const std::string& command);

/// A pid no process has: that of a child already reaped.
pid_t deadPid();

} // namespace vantrel::test
