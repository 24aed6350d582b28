// A child process for tests: spawned with pipes, ended by pid, never outliving us.
#include "Support/ChildProcess.h"

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantrel::test {

namespace {
void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
} // namespace

std::unique_ptr<ChildProcess> ChildProcess::spawn(const Options& options, std::string* error, bool* notFound)
{
    if (options.argv.empty())
        return nullptr;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, extra[2] = {-1, -1}, report[2] = {-1, -1};
    if ((options.pipeStdin && ::pipe2(in, O_CLOEXEC) != 0) || (options.pipeStdout && ::pipe2(out, O_CLOEXEC) != 0)
        || (options.extraPipeFd && ::pipe2(extra, O_CLOEXEC) != 0) || ::pipe2(report, O_CLOEXEC) != 0) {
        if (error)
            *error = std::string("pipe: ") + std::strerror(errno);
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &extra[0], &extra[1], &report[0], &report[1]})
            closeFd(*fd);
        return nullptr;
    }

    // Everything the child needs is prepared before fork: only async-signal-safe
    // calls happen between fork and exec.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string_view entry(*e);
        bool replaced = false;
        for (const auto& [key, value] : options.environment)
            replaced = replaced || (entry.substr(0, entry.find('=')) == key);
        if (!replaced)
            envStrings.emplace_back(entry);
    }
    for (const auto& [key, value] : options.environment)
        envStrings.push_back(key + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = options.argv;
    for (auto& s : argStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Die with the test process, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0);
        if (options.pipeStdin)
            ::dup2(in[0], 0);
        if (options.pipeStdout)
            ::dup2(out[1], 1);
        if (options.pipeStdout && options.stderrToStdout) {
            ::dup2(out[1], 2);
        } else if (!options.keepStderr) {
            int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0)
                ::dup2(null, 2);
        }
        if (options.extraPipeFd)
            ::dup2(extra[1], *options.extraPipeFd); // dup2 clears close-on-exec
        ::execvpe(argv[0], argv.data(), envp.data());
        int code = errno;
        ssize_t ignored = ::write(report[1], &code, sizeof code);
        (void)ignored;
        ::_exit(127);
    }

    closeFd(in[0]);
    closeFd(out[1]);
    closeFd(extra[1]);
    closeFd(report[1]);
    if (pid < 0) {
        if (error)
            *error = std::string("fork: ") + std::strerror(errno);
        for (int* fd : {&in[1], &out[0], &extra[0], &report[0]})
            closeFd(*fd);
        return nullptr;
    }
    int code = 0;
    const auto got = ::read(report[0], &code, sizeof code);
    closeFd(report[0]);
    std::unique_ptr<ChildProcess> child(new ChildProcess());
    child->pid_ = pid;
    child->stdinFd_ = in[1];
    child->stdoutFd_ = out[0];
    child->extraFd_ = extra[0];
    if (got == static_cast<ssize_t>(sizeof code)) {
        if (error)
            *error = options.argv[0] + ": " + std::strerror(code);
        if (notFound)
            *notFound = code == ENOENT;
        child->terminate();
        return nullptr;
    }
    if (child->stdinFd_ >= 0)
        ::signal(SIGPIPE, SIG_IGN);
    return child;
}

ChildProcess::~ChildProcess()
{
    terminate();
    closeFd(stdinFd_);
    closeFd(stdoutFd_);
    closeFd(extraFd_);
}

bool ChildProcess::writeLine(std::string_view line)
{
    if (stdinFd_ < 0)
        return false;
    std::string data(line);
    data.push_back('\n');
    std::string_view rest(data);
    while (!rest.empty()) {
        auto n = ::write(stdinFd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> ChildProcess::readLineFrom(int fd, std::string& buffer, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (auto newline = buffer.find('\n'); newline != std::string::npos) {
            std::string line = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            return line;
        }
        if (fd < 0)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char chunk[4096];
        auto n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    return readLineFrom(stdoutFd_, stdoutBuffer_, timeout);
}

std::optional<std::string> ChildProcess::readExtraLine(std::chrono::milliseconds timeout)
{
    return readLineFrom(extraFd_, extraBuffer_, timeout);
}

bool ChildProcess::isRunning()
{
    if (status_ || pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        return false;
    }
    return true;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

int ChildProcess::terminate(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return 0;
    if (isRunning()) {
        ::kill(pid_, SIGTERM);
        if (!waitForExit(grace)) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = status;
        }
    }
    return status_.value_or(0);
}

CommandOutput runCommand(const std::string& command)
{
    CommandOutput output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        output.text.append(buffer, got);
    const int status = ::pclose(pipe);
    output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

} // namespace vantrel::test
