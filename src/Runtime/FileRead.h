// Bounded reads of whole regular files: the one way Vantrel reads a file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace vantrel {

/// Far above any settings, shortcuts or desktop entry file; a file larger
/// than this is refused rather than read in part.
inline constexpr std::size_t maxFileBytes = std::size_t{16} << 20;

/// A whole file's bytes, or why there are none.
struct FileContents {
    /// None when the file could not be read whole.
    std::optional<std::string> bytes;
    /// Why `bytes` is none: "no such file", "not a regular file", "larger
    /// than 16 MiB", or the system's error text.
    std::string error;
    /// The file does not exist (for callers to whom that is no failure).
    bool missing = false;
};

/// Reads `path` whole when it is a regular file (a link is followed) of at
/// most `limit` bytes. Anything else (a FIFO, a device, a folder) is refused
/// without blocking, and a file that turns out larger than `limit` while it
/// is read is refused as well.
FileContents readRegularFile(const std::filesystem::path& path, std::size_t limit = maxFileBytes);

} // namespace vantrel
