// Whole-file writes that never leave a truncated file behind.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

/// Writes `bytes` to `path` through a temporary file in the same folder:
/// write, flush to disk, rename over `path`. Missing folders are created
/// (mode 0700); the file gets mode 0600. Returns an error text on failure, in
/// which case `path` is unchanged and the temporary file is removed. A
/// successful write also removes the temporary files of `path` that killed
/// writers left behind.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

namespace AtomicFileTesting {
/// Called after the temporary file is complete and before the rename; returning
/// false stops the write there, as a crash at that moment would (the temporary
/// file is left behind). Per thread; pass nullptr to clear.
void setBeforeRename(std::function<bool(const std::filesystem::path& temporary)> hook);
} // namespace AtomicFileTesting

} // namespace vantrel
