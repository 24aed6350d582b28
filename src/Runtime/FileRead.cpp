// Whole-file reads that never block on a FIFO nor grow past a limit.
#include "Runtime/FileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

/// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

FileContents failure(std::string error, bool missing = false)
{
    return {std::nullopt, std::move(error), missing};
}

std::string tooLarge(std::size_t limit)
{
    constexpr std::size_t mebibyte = std::size_t{1} << 20;
    if (limit >= mebibyte && limit % mebibyte == 0)
        return "larger than " + std::to_string(limit / mebibyte) + " MiB";
    return "larger than " + std::to_string(limit) + " bytes";
}

} // namespace

FileContents readRegularFile(const std::filesystem::path& path, std::size_t limit)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer, possibly forever.
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0)
        return errno == ENOENT ? failure("no such file", true) : failure(std::strerror(errno));
    struct stat status {};
    if (::fstat(file.fd, &status) != 0)
        return failure(std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        return failure("not a regular file");
    if (static_cast<std::uintmax_t>(status.st_size) > limit)
        return failure(tooLarge(limit));

    // The size is a hint only (the file may change, some report 0): read up
    // to one byte past the limit, which tells a file of exactly `limit`
    // bytes from a larger one.
    std::string bytes(std::min(static_cast<std::size_t>(status.st_size), limit) + 1, '\0');
    std::size_t size = 0;
    for (;;) {
        if (size == bytes.size()) {
            if (size > limit)
                return failure(tooLarge(limit));
            bytes.resize(std::min(2 * size, limit + 1));
        }
        const ssize_t got = ::read(file.fd, bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failure(std::strerror(errno));
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    if (size > limit)
        return failure(tooLarge(limit));
    bytes.resize(size);
    return {std::move(bytes), {}, false};
}

} // namespace vantrel
