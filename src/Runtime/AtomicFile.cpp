// Atomic whole-file replacement with write + fsync + rename.
#include "Runtime/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <cstdlib>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

thread_local std::function<bool(const std::filesystem::path&)> beforeRenameHook;

std::string errnoText(const char* what, const std::filesystem::path& path)
{
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

std::optional<std::string> createFolders(const std::filesystem::path& folder)
{
    if (folder.empty())
        return std::nullopt;
    std::error_code error;
    if (std::filesystem::is_directory(folder, error))
        return std::nullopt;
    if (auto failure = createFolders(folder.parent_path()))
        return failure;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errnoText("cannot create folder", folder);
    return std::nullopt;
}

/// Removes the temporary files of `path` that writers killed mid-write left
/// behind: ".NAME.tmp-PID-..." whose PID no longer runs.
void removeLeftovers(const std::filesystem::path& path)
{
    const std::string prefix = "." + path.filename().string() + ".tmp-";
    std::error_code error;
    std::filesystem::directory_iterator entry(path.parent_path().empty() ? "." : path.parent_path(), error), end;
    for (; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix))
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

} // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    if (auto failure = createFolders(path.parent_path()))
        return failure;

    static thread_local std::mt19937_64 random{std::random_device{}()};
    std::ostringstream name;
    name << "." << path.filename().string() << ".tmp-" << getpid() << "-" << std::hex << random();
    std::filesystem::path temporary = path.parent_path() / name.str();

    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errnoText("cannot create", temporary);
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            auto failure = errnoText("cannot write", temporary);
            ::close(fd);
            ::unlink(temporary.c_str());
            return failure;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        auto failure = errnoText("cannot flush", temporary);
        ::close(fd);
        ::unlink(temporary.c_str());
        return failure;
    }
    ::close(fd);

    if (beforeRenameHook && !beforeRenameHook(temporary))
        return "interrupted before replacing " + path.string();

    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        auto failure = errnoText("cannot replace", path);
        ::unlink(temporary.c_str());
        return failure;
    }
    // Make the rename itself durable.
    int dir = ::open(path.parent_path().empty() ? "." : path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    removeLeftovers(path);
    return std::nullopt;
}

namespace AtomicFileTesting {
void setBeforeRename(std::function<bool(const std::filesystem::path&)> hook)
{
    beforeRenameHook = std::move(hook);
}
} // namespace AtomicFileTesting

} // namespace vantrel
