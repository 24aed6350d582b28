// The switcher panel offscreen: showing and sizing, selection, updates, header and footer, and every key through the grab.
#include "PanelTestSupport.h"
#include "PanelUI/PanelFooterView.h"
#include "PanelUI/PanelHeaderView.h"
#include "PanelUI/SwitcherPanel.h"
#include "Support/EnvironmentVariable.h"

#include <QListView>
#include <QWidget>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using test::window;
using test::sampleWindows;

using SwitcherPanelTest = test::PanelFixture<SwitcherPanel>;

TEST_F(SwitcherPanelTest, ShowSelectsAndSizesToTheRows)
{
    panel->show(sampleWindows(3), -4, std::nullopt, false);
    EXPECT_EQ(panel->selectedIndex(), 2) << "wrapped";
    EXPECT_TRUE(panel->list().selectionModel()->isRowSelected(2, {}));

    panel->show(sampleWindows(2000), 0, std::nullopt, false);
    EXPECT_EQ(panel->window().height(), 554) << "2,000 rows scroll inside 14";

    panel->show({}, 1, std::nullopt, true);
    EXPECT_EQ(panel->window().height(), 32 + 106);
}

TEST_F(SwitcherPanelTest, TextScaleChangesRowsAndHeight)
{
    PanelStyle::setTextScale(1.25);
    panel->applyStyle();
    panel->show(sampleWindows(4), 0, std::nullopt, false);
    EXPECT_EQ(panel->window().height(), 40 * 4 + 106) << "rows of 37.5 round up to 38, 2 apart";
    EXPECT_EQ(panel->list().visualRect(panel->list().model()->index(1, 0)).height(), 40);
    EXPECT_EQ(PanelStyle::rowFont().pixelSize(), 18) << "text of 17.5 rounds up too";
}

TEST_F(SwitcherPanelTest, UpdateKeepsTheSelectedWindowElseClampsAndIgnoresAHiddenPanel)
{
    panel->show(sampleWindows(5), 3, std::nullopt, true);
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
    panel->show({window(1, 101, "A", "", {10}), window(2, 102, "B", "", {20, 10}), window(3, 103, "C", "", {99})}, 0,
                std::nullopt, true);
    EXPECT_EQ(panel->header().text(), "Search windows…");
    EXPECT_EQ(panel->header().textColor(), PanelStyle::colors(PanelTheme::light).secondaryLabel);
    EXPECT_EQ(panel->footer().summary(), "3 windows  ·  2 Spaces") << "desktops without a number are not counted";
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

/// A key pressed on the key switcher over `rows` rows, row `from` selected, `query` typed: what it
/// calls back and the row selected after it. The panel only proposes query text, keeping its own.
struct SwitcherKey {
    const char* name;
    std::string query;
    std::uint16_t keyCode;
    std::uint64_t flags;
    std::vector<std::string> events;
    std::ptrdiff_t selected = 1;
    int rows = 4;
    std::ptrdiff_t from = 1;
};

TEST_F(SwitcherPanelTest, EachKeyMovesEditsActsOrCancels)
{
    const SwitcherKey keys[] = {
        {"j moves down without a query", "", keyJ, 0, {}, 2},
        {"n moves down without a query", "", keyN, 0, {}, 2},
        {"k moves up without a query", "", keyK, 0, {}, 0},
        {"down on the last row wraps to the first", "", keyDown, 0, {}, 0, 4, 3},
        {"up on the first row wraps to the last", "", keyUp, 0, {}, 3, 4, 0},
        {"p moves up without a query", "", keyP, 0, {}, 0},
        {"a letter starts the query", "", keyA, 0, {"query a"}},
        {"j is text after a query", "a", keyJ, 0, {"query aj"}},
        {"control-j moves down after a query", "a", keyJ, control, {}, 2},
        {"control-p moves up after a query", "a", keyP, control, {}, 0},
        {"delete without a query does nothing", "", keyDelete, 0, {}},
        {"delete drops the last character", "ré", keyDelete, 0, {"query r"}},
        {"escape clears the query", "x", keyEscape, 0, {"query "}},
        {"escape without a query cancels", "", keyEscape, 0, {"cancel"}},
        {"return commits the selected window", "", keyReturn, 0, {"commit 2"}},
        {"command-w closes", "", keyW, command, {"action 0 2"}},
        {"option-q quits", "", keyQ, option, {"action 1 2"}},
        {"command-m minimizes", "", keyM, command, {"action 2 2"}},
        {"command-option-h hides", "", keyH, command | option, {"action 3 2"}},
        {"command with a capital is text", "", keyW, command | shift, {"query W"}},
        {"command with another letter is text", "", keyX, command, {"query x"}},
        {"without rows an action letter is text", "", keyW, command, {"query w"}, 0, 0},
        {"return without rows cancels", "", keyReturn, 0, {"cancel"}, 0, 0},
    };
    for (const SwitcherKey& key : keys) {
        SCOPED_TRACE(key.name);
        panel->show(sampleWindows(key.rows), key.from, std::nullopt, true);
        panel->setQuery(key.query);
        events.clear();
        press(key.keyCode, key.flags);
        EXPECT_EQ(events, key.events);
        EXPECT_EQ(panel->selectedIndex(), key.selected);
        EXPECT_EQ(panel->query(), key.query);
        EXPECT_EQ(panel->isVisible(), events.empty() || events[0].starts_with("query") || events[0].starts_with("action"));
    }
}

TEST_F(SwitcherPanelTest, KeysReachThePanelOnlyWhileItHoldsTheGrab)
{
    panel->show(sampleWindows(3), 0, std::nullopt, false);
    press(keyDown);
    EXPECT_EQ(input->delivered.size(), 1u) << "not key: keys go elsewhere";

    bool shownBeforeTheGrab = true;
    input->onGrab = [&] { shownBeforeTheGrab = panel->window().isVisible(); };
    panel->hide();
    panel->show(sampleWindows(3), 0, std::nullopt, true);
    EXPECT_FALSE(shownBeforeTheGrab) << "a key pressed once the panel shows must find the keyboard held";
    press(keyDown);

    panel->hide();
    press(keyDown);
    EXPECT_EQ(input->delivered.size(), 2u) << "hiding gives the grab back";
    EXPECT_TRUE(events.empty()) << "hide calls nothing back";
}

TEST_F(SwitcherPanelTest, TransientUnlessTheEnvironmentSaysOtherwise)
{
    EXPECT_TRUE(panel->isTransient());
    const test::EnvironmentVariable noTransient("VANTREL_NO_TRANSIENT", "1");
    EXPECT_FALSE(SwitcherPanel().isTransient());
}

} // namespace
} // namespace vantrel
