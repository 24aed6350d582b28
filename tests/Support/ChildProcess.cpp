// Child processes for tests, on QProcess without an event loop: its waitFor*
// calls poll the pipes and the child's exit.
#include "Support/ChildProcess.h"

#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::test {

std::unique_ptr<ChildProcess> ChildProcess::spawn(const Options& options, std::string* error, bool* notFound)
{
    if (options.argv.empty())
        return nullptr;
    auto process = std::make_unique<QProcess>();
    process->setProgram(QString::fromStdString(options.argv[0]));
    QStringList arguments;
    for (auto argument = options.argv.begin() + 1; argument != options.argv.end(); ++argument)
        arguments << QString::fromStdString(*argument);
    process->setArguments(arguments);
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : options.environment)
        environment.insert(QString::fromStdString(key), QString::fromStdString(value));
    process->setProcessEnvironment(environment);
    if (!options.pipeStdin)
        process->setInputChannelMode(QProcess::ForwardedInputChannel);
    if (options.pipeStdout && options.stderrToStdout) {
        process->setProcessChannelMode(QProcess::MergedChannels);
    } else if (options.keepStderr) {
        process->setProcessChannelMode(options.pipeStdout ? QProcess::ForwardedErrorChannel : QProcess::ForwardedChannels);
    } else {
        process->setProcessChannelMode(options.pipeStdout ? QProcess::SeparateChannels : QProcess::ForwardedOutputChannel);
        process->setStandardErrorFile(QProcess::nullDevice());
    }
    // Die with the test process, however it ends.
    process->setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0);
    });
    process->start();
    if (!process->waitForStarted(-1)) {
        if (error)
            *error = options.argv[0] + ": " + process->errorString().toStdString();
        if (notFound)
            *notFound = QStandardPaths::findExecutable(QString::fromStdString(options.argv[0])).isEmpty();
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new ChildProcess(std::move(process)));
}

ChildProcess::ChildProcess(std::unique_ptr<QProcess> process)
    : process_(std::move(process)), pid_(static_cast<pid_t>(process_->processId()))
{
}

ChildProcess::~ChildProcess()
{
    terminate();
}

bool ChildProcess::writeLine(std::string_view line)
{
    const std::string data = std::string(line) + "\n";
    if (process_->write(data.data(), static_cast<qint64>(data.size())) != static_cast<qint64>(data.size()))
        return false;
    while (process_->bytesToWrite() > 0)
        if (!process_->waitForBytesWritten(-1))
            return false;
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!process_->canReadLine()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !process_->waitForReadyRead(static_cast<int>(left.count())))
            return std::nullopt;
    }
    std::string line = process_->readLine().toStdString();
    line.pop_back();
    return line;
}

bool ChildProcess::isRunning()
{
    return process_->state() != QProcess::NotRunning && !process_->waitForFinished(0);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (process_->state() != QProcess::NotRunning && !process_->waitForFinished(static_cast<int>(timeout.count())))
        return std::nullopt;
    return waitStatus();
}

int ChildProcess::terminate(std::chrono::milliseconds grace)
{
    if (isRunning()) {
        process_->terminate();
        if (!process_->waitForFinished(static_cast<int>(grace.count()))) {
            process_->kill();
            process_->waitForFinished(-1);
        }
    }
    return waitStatus();
}

int ChildProcess::waitStatus() const
{
    // QProcess gives the signal that ended a crashed child as its exit code.
    return process_->exitStatus() == QProcess::NormalExit ? W_EXITCODE(process_->exitCode(), 0)
                                                          : W_EXITCODE(0, process_->exitCode());
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

pid_t deadPid()
{
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    return gone;
}

} // namespace vantrel::test
