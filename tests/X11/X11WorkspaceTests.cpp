// The X11 workspace's parts that need no server: desktop entries and icons.
// The workspace on openbox is among the BridgeOnX11 cases.
#include "Platform/X11/DesktopEntries.h"
#include "Platform/X11/X11Workspace.h"
#include "Support/EnvironmentVariable.h"
#include "Support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vantrel {
namespace {

TEST(DesktopEntries, OnlyVisibleApplicationEntriesOfTheDataDirectoriesMatchByWindowClassThenById)
{
    EXPECT_FALSE(DesktopEntries::parse("link", "[Desktop Entry]\nType=Link\nName=Site\n"));
    EXPECT_FALSE(DesktopEntries::parse("gone", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n"));
    auto entry = DesktopEntries::parse("org.gnome.Nautilus",
                                       "# c\n[Desktop Entry]\nType=Application\nName=Files\n[Desktop Action x]\nName=Other\n");
    EXPECT_EQ(entry.value_or(DesktopEntry{}).name, "Files");

    const test::ScratchFolder scratch;
    const auto& data = scratch.path;
    std::filesystem::create_directories(data / "applications" / "sub");
    std::ofstream(data / "applications" / "org.gnome.Nautilus.desktop") << "[Desktop Entry]\nType=Application\nName=Files\n";
    std::ofstream(data / "applications" / "sub" / "term.desktop")
        << "[Desktop Entry]\nType=Application\nName=Terminal\nStartupWMClass=XTerm\n";
    const test::EnvironmentVariable home("XDG_DATA_HOME", data.c_str()), dirs("XDG_DATA_DIRS", (data / "none").c_str());
    DesktopEntries entries(DesktopEntries::defaultDataDirs());
    EXPECT_EQ(entries.match("xterm", "XTerm")->id, "sub-term");
    EXPECT_EQ(entries.match("nautilus", "Nautilus")->name, "Files");
    EXPECT_EQ(entries.match("org.gnome.nautilus", "")->name, "Files");
    EXPECT_FALSE(entries.match("unknown", "Unknown"));
}

TEST(DesktopEntries, NamesAndFileNamesThatAreNotUtf8AreRepaired)
{
    const test::ScratchFolder scratch;
    std::filesystem::create_directories(scratch.path / "applications");
    std::ofstream(scratch.path / "applications" / "news\xFF.desktop")
        << "[Desktop Entry]\nType=Application\nName=News\xFE\xFF\nStartupWMClass=HostileNews\n";
    const auto news = DesktopEntries({scratch.path}).match("news", "HostileNews").value_or(DesktopEntry{});
    EXPECT_EQ(std::pair(news.id, news.name),
              std::pair(std::string("news\xEF\xBF\xBD"), std::string("News\xEF\xBF\xBD\xEF\xBF\xBD")));
}

TEST(X11WorkspaceIcons, TheBestImageIsTheSmallestLargeEnoughElseTheLargest)
{
    std::vector<std::uint32_t> data = {16, 16};
    data.resize(2 + 256, 1);
    data.insert(data.end(), {48, 48});
    data.resize(data.size() + 48 * 48, 2);
    data.insert(data.end(), {32, 32});
    data.resize(data.size() + 32 * 32, 3);
    for (auto [wanted, width] : {std::pair {32, 32}, {20, 32}, {64, 48}, {8, 16}})
        EXPECT_EQ(X11Workspace::bestIcon(data, wanted)->width, width) << wanted;

    // Truncated and oversized images are skipped; what precedes them counts.
    EXPECT_FALSE(X11Workspace::bestIcon(std::vector<std::uint32_t> {16, 16, 1, 2, 3}, 32));
    std::vector<std::uint32_t> oversized = {300, 1};
    oversized.resize(2 + 300, 7);
    oversized.insert(oversized.end(), {2, 2, 1, 1, 1, 1});
    EXPECT_EQ(X11Workspace::bestIcon(oversized, 32)->width, 2);
    EXPECT_FALSE(X11Workspace::bestIcon({}, 32));
}

} // namespace
} // namespace vantrel
