// The learned-shortcuts loader on arbitrary file contents: it never crashes,
// and what it loads saves to a file that loads back the same.
#include "SearchKit/LearnedShortcuts.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
std::filesystem::path scratch(const char* name)
{
    static const auto folder = [] {
        auto path = std::filesystem::temp_directory_path() / ("vantrel-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder / name;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto input = scratch("input.json"), output = scratch("output.json");
    std::ofstream(input, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                    static_cast<std::streamsize>(size));
    auto loaded = vantrel::LearnedShortcuts::load(input);
    if (auto error = loaded.save(output))
        std::abort(); // a loaded set that cannot be saved
    if (!(vantrel::LearnedShortcuts::load(output) == loaded))
        std::abort(); // the round trip changed it
    return 0;
}
