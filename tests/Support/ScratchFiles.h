// Files for tests: a private folder removed afterwards, and saves that stop
// before their rename as a crash at that moment would.
#pragma once

#include "Runtime/AtomicFile.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace vantrel::test {

/// A fresh folder under /tmp, removed with everything in it.
struct ScratchFolder {
    std::filesystem::path path = [] {
        char pattern[] = "/tmp/vantrel-test-XXXXXX";
        return ::mkdtemp(pattern) ? std::filesystem::path(pattern) : throw std::runtime_error("mkdtemp failed");
    }();
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

/// Every atomic save on this thread stops before its rename while it lives.
struct InterruptedSaves {
    InterruptedSaves() { AtomicFileTesting::setBeforeRename([](const std::filesystem::path&) { return false; }); }
    ~InterruptedSaves() { AtomicFileTesting::setBeforeRename(nullptr); }
};

} // namespace vantrel::test
