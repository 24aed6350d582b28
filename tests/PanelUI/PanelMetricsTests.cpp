// The panels' numbers and texts: appearance, placement, badges, one-line text, row layout.
#include "PanelTestSupport.h"
#include "PanelUI/PanelMetrics.h"
#include "PanelUI/PanelStyle.h"
#include "PanelUI/SwitcherRows.h"
#include "Support/EnvironmentVariable.h"
#include "Support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace PanelMetrics;
using test::window;

TEST(PanelAppearance, SystemFollowsGtkThemeThenGtkSettingsThenThePalette)
{
    EXPECT_TRUE(PanelStyle::desktopPrefersDark("Adwaita:dark", "", false));
    EXPECT_FALSE(PanelStyle::desktopPrefersDark("Adwaita", "gtk-application-prefer-dark-theme=1", true))
        << "an explicit GTK_THEME wins";
    EXPECT_TRUE(PanelStyle::desktopPrefersDark("", "[Settings]\ngtk-application-prefer-dark-theme = true\n", false));
    EXPECT_TRUE(PanelStyle::desktopPrefersDark("", "[Settings]\ngtk-theme-name=Arc-Dark\n", false));
    EXPECT_FALSE(PanelStyle::desktopPrefersDark("", "[Settings]\ngtk-theme-name=Arc\ngtk-application-prefer-dark-theme=0\n", false));
    EXPECT_TRUE(PanelStyle::desktopPrefersDark("", "", true));
}

TEST(PanelAppearance, AGtkSettingsFileThatIsAFifoIsNotWaitedFor)
{
    const test::ScratchFolder folder;
    std::filesystem::create_directories(folder.path / "gtk-3.0");
    const auto fifo = folder.path / "gtk-3.0" / "settings.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const test::EnvironmentVariable config("XDG_CONFIG_HOME", folder.path.c_str());
    // A read still waiting after five seconds is let go by a writer.
    std::promise<void> read;
    auto waited = std::async(std::launch::async, [&, done = read.get_future()] {
        const bool late = done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout;
        if (late)
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        return late;
    });
    PanelStyle::theme(AppearanceMode::system);
    read.set_value();
    EXPECT_FALSE(waited.get());
}

TEST(PanelPlacement, SwitcherSitsAboveTheMiddleAndSearchAQuarterDownBothInsideSmallScreens)
{
    const QRect visible(100, 30, 1920, 1050);
    EXPECT_EQ(switcherFrame(visible, 200), QRect(100 + 960 - 300, 30 + 525 - 100 - 105, 600, 200));
    EXPECT_EQ(searchFrame(visible, 200), QRect(760, 30 + 263, 600, 200));

    const QRect small(0, 24, 800, 500);
    EXPECT_EQ(switcherFrame(small, 554).top(), 24) << "taller than the screen: the top stays visible";
    EXPECT_TRUE(small.contains(searchFrame(small, 300))) << "a search frame fits the screen";
}

TEST(PanelBadges, OnlyWindowsOffEveryVisibleDesktopShowTheSmallestNumber)
{
    std::map<SpaceID, int> numbers{{3, 3}, {5, 5}, {1, 1}};
    EXPECT_EQ(badgeNumber(window(1, 101, "A", "", {5, 3}), numbers, {1}), 3);
    EXPECT_EQ(badgeNumber(window(1, 101, "A", "", {1, 3}), numbers, {1}), std::nullopt);
    EXPECT_EQ(badgeNumber(window(1, 101, "A", "", {77}), numbers, {1}), std::nullopt);
}

TEST(PanelRowText, HostileTitlesBecomeOneShortLine)
{
    EXPECT_EQ(singleLine("a\nb\tc\x7f" "d\u2028e"), "a b c d e");
    EXPECT_EQ(singleLine("ok \xff\xfe end"), QString::fromUtf8("ok \uFFFD\uFFFD end"));
    EXPECT_EQ(singleLine(std::string(10000, 'x')).size(), 512);
    EXPECT_FALSE(singleLine(std::string(511, 'x') + "😀").back().isHighSurrogate()) << "no half emoji at the cut";

    WindowInfo minimized = window(1, 101, "Mail", "Inbox");
    minimized.isMinimized = true;
    EXPECT_EQ(rowTitle(minimized), "▽ Inbox");
    EXPECT_EQ(accessibleLabel(minimized), "Mail, Inbox");
    EXPECT_EQ(accessibleLabel(window(2, 102, "Mail")), "Mail");
}

TEST(PanelRowLayout, PartsNeverOverlapWhateverTheNameLength)
{
    const QRect row(0, 0, 584, 32);
    for (int nameWidth : {0, 60, 400, 5000}) {
        RowLayout layout = rowLayout(row, nameWidth, 0, 12);
        EXPECT_LT(layout.icon.right(), layout.appLabel.left()) << nameWidth;
        EXPECT_LE(layout.appLabel.right() + 8, layout.titleLabel.left()) << nameWidth;
        EXPECT_LE(layout.titleLabel.right() + 1 + 8, layout.badge.left()) << nameWidth;
        EXPECT_LE(layout.badge.right() + 1 + 8, layout.returnGlyph.left());
        EXPECT_LT(layout.returnGlyph.right(), row.right());
        EXPECT_GE(layout.badge.width(), 58);
    }
}

} // namespace
} // namespace vantrel
