// The switcher panel offscreen: showing and sizing, selection, updates, header and footer, and every key through the grab.
#include "PanelTestSupport.h"
#include "PanelUI/PanelFooterView.h"
#include "PanelUI/PanelHeaderView.h"
#include "PanelUI/SwitcherPanel.h"

#include <QListView>
#include <QWidget>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using test::sampleWindow;
using test::sampleWindows;

class SwitcherPanelTest : public test::PanelTest {
protected:
    SwitcherPanelTest() { test::recordEvents(*panel, events); }
    void showKey(int rows, std::ptrdiff_t selecting = 0) { panel->show(sampleWindows(rows), selecting, std::nullopt, true); }
    void press(std::uint16_t keyCode, std::uint64_t flags = 0) { input->keyDown(keyCode, flags); }

    std::unique_ptr<SwitcherPanel> panel = std::make_unique<SwitcherPanel>();
    std::vector<std::string> events;
};

TEST_F(SwitcherPanelTest, ShowSizesPlacesAndSelects)
{
    panel->show(sampleWindows(3), 1, std::nullopt, false);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isKey());
    EXPECT_EQ(panel->selectedIndex(), 1);
    EXPECT_EQ(panel->window().size(), QSize(600, 32 * 3 + 106));
    EXPECT_TRUE(panel->list().selectionModel()->isRowSelected(1, {}));
    EXPECT_TRUE(panel->screen().has_value());

    panel->show(sampleWindows(2000), -1, std::nullopt, false);
    EXPECT_EQ(panel->window().height(), 554) << "2,000 rows scroll inside 14";
    EXPECT_EQ(panel->selectedIndex(), 1999);

    panel->show({}, 1, std::nullopt, true);
    EXPECT_EQ(panel->window().height(), 32 + 106);
    EXPECT_TRUE(panel->list().selectionModel()->selectedRows().isEmpty());
    press(keyReturn);
    EXPECT_EQ(events, (std::vector<std::string>{"cancel"}));
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(SwitcherPanelTest, TextScaleChangesRowsAndHeight)
{
    PanelStyle::setTextScale(1.5);
    panel->applyStyle();
    panel->show(sampleWindows(4), 0, std::nullopt, false);
    EXPECT_EQ(panel->window().height(), 47 * 4 + 106);
    EXPECT_EQ(panel->list().visualRect(panel->list().model()->index(1, 0)).height(), 47);
}

TEST_F(SwitcherPanelTest, SelectionWrapsBothWays)
{
    showKey(3, 2);
    press(keyDown);
    EXPECT_EQ(panel->selectedIndex(), 0);
    press(keyUp);
    EXPECT_EQ(panel->selectedIndex(), 2);
    panel->select(-4);
    EXPECT_EQ(panel->selectedIndex(), 2);
}

TEST_F(SwitcherPanelTest, UpdateKeepsTheSelectedWindowElseClampsAndIgnoresAHiddenPanel)
{
    showKey(5, 3);
    auto rows = sampleWindows(5);
    std::rotate(rows.begin(), rows.begin() + 4, rows.end()); // window 4 moves to the last row
    panel->update(rows);
    EXPECT_EQ(panel->items()[static_cast<std::size_t>(panel->selectedIndex())].id, 4u);

    panel->update(sampleWindows(2));
    EXPECT_EQ(panel->selectedIndex(), 1) << "window 4 is gone: index clamped to the last row";

    panel->hide();
    panel->update(sampleWindows(7));
    EXPECT_EQ(panel->items().size(), 2u);
}

TEST_F(SwitcherPanelTest, HeaderAndFooterFollowQueryRowsAndDesktops)
{
    panel->setSpaceNumbers({{10, 1}, {20, 2}, {30, 3}});
    panel->setVisibleSpaceIDs({10});
    panel->show({sampleWindow(1, "A", "", {10}), sampleWindow(2, "B", "", {30})}, 0, std::nullopt, true);
    EXPECT_EQ(panel->header().text(), "Search windows…");
    EXPECT_EQ(panel->header().textColor(), PanelStyle::colors(PanelTheme::light).secondaryLabel);
    EXPECT_EQ(panel->footer().summary(), "2 windows  ·  2 Spaces");
    EXPECT_EQ(panel->footer().hints(), "↑↓ move  ·  ⏎ switch  ·  type to search");

    panel->setQuery(" ");
    EXPECT_EQ(panel->header().text(), " ");
    EXPECT_EQ(panel->header().textColor(), PanelStyle::colors(PanelTheme::light).label);
    EXPECT_EQ(panel->footer().hints(), "↑↓ move  ·  ⏎ switch  ·  esc clear");

    PanelStyle::setAppearance(AppearanceMode::dark);
    panel->applyStyle();
    EXPECT_EQ(panel->header().textColor(), PanelStyle::colors(PanelTheme::dark).label);

    panel->show(sampleWindows(1), 0, std::nullopt, false);
    EXPECT_EQ(panel->query(), "") << "show clears the query";
    EXPECT_EQ(panel->footer().summary(), "1 window");
}

TEST_F(SwitcherPanelTest, LettersMoveUntilAQueryIsTypedThenAppend)
{
    showKey(4);
    press(keyJ);
    press(keyN);
    press(keyK);
    EXPECT_EQ(panel->selectedIndex(), 1);
    press(keyP);
    press(keyP);
    EXPECT_EQ(panel->selectedIndex(), 3);
    press(keyA);
    EXPECT_EQ(events, (std::vector<std::string>{"query a"})) << "the panel only proposes";
    EXPECT_EQ(panel->query(), "");

    panel->setQuery("a");
    press(keyJ);
    press(keyJ, control);
    EXPECT_EQ(events.back(), "query aj");
    EXPECT_EQ(panel->selectedIndex(), 0) << "control-j still moves down";
    press(keyP, control);
    EXPECT_EQ(panel->selectedIndex(), 3);
}

TEST_F(SwitcherPanelTest, DeleteAndEscapeEditTheQueryThenCancel)
{
    showKey(3);
    press(keyDelete);
    EXPECT_TRUE(events.empty()) << "delete with an empty query does nothing";
    panel->setQuery("ré");
    press(keyDelete);
    EXPECT_EQ(events.back(), "query r");
    press(keyEscape);
    EXPECT_EQ(events.back(), "query ");
    EXPECT_TRUE(panel->isVisible());
    panel->setQuery("");
    press(keyEscape);
    EXPECT_EQ(events.back(), "cancel");
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(SwitcherPanelTest, ReturnCommitsTheSelectedWindowAfterHiding)
{
    showKey(3, 2);
    bool visibleAtCommit = true;
    panel->onCommit = [&](const WindowInfo& window) {
        visibleAtCommit = panel->isVisible();
        events.push_back("commit " + std::to_string(window.id));
    };
    press(keyReturn);
    EXPECT_EQ(events, (std::vector<std::string>{"commit 3"}));
    EXPECT_FALSE(visibleAtCommit);
}

TEST_F(SwitcherPanelTest, ItemActionsNeedOptionOrCommandAndALowerCaseLetter)
{
    showKey(3, 1);
    press(keyW, command);
    press(keyQ, option);
    press(keyM, command);
    press(keyH, command | option);
    EXPECT_EQ(events, (std::vector<std::string>{"action 0 2", "action 1 2", "action 2 2", "action 3 2"}));
    events.clear();
    press(keyW, command | shift);
    press(keyX, command);
    EXPECT_EQ(events, (std::vector<std::string>{"query W", "query x"}));

    panel->show({}, 0, std::nullopt, true);
    events.clear();
    press(keyW, command);
    EXPECT_EQ(events, (std::vector<std::string>{"query w"})) << "no rows: the letter is query text";
}

TEST_F(SwitcherPanelTest, KeysReachThePanelOnlyWhileItHoldsTheGrab)
{
    panel->show(sampleWindows(3), 0, std::nullopt, false);
    press(keyDown);
    EXPECT_EQ(panel->selectedIndex(), 0) << "not key: keys go elsewhere";
    EXPECT_EQ(input->delivered.size(), 1u);

    panel->show(sampleWindows(3), 0, std::nullopt, true);
    EXPECT_TRUE(panel->isKey());
    press(keyDown);
    EXPECT_EQ(panel->selectedIndex(), 1);
    EXPECT_EQ(input->delivered.size(), 1u);

    panel->hide();
    EXPECT_FALSE(panel->isKey());
    press(keyDown);
    EXPECT_EQ(input->delivered.size(), 2u) << "hiding gives the grab back";
    EXPECT_TRUE(events.empty()) << "hide calls nothing back";
}

TEST_F(SwitcherPanelTest, TransientUnlessTheEnvironmentSaysOtherwise)
{
    EXPECT_TRUE(panel->isTransient());
    qputenv("VANTREL_NO_TRANSIENT", "1");
    SwitcherPanel plain;
    qunsetenv("VANTREL_NO_TRANSIENT");
    EXPECT_FALSE(plain.isTransient());
}

} // namespace
} // namespace vantrel
