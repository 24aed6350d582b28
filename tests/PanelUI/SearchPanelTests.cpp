// The search panel offscreen: normal mode typing through the grab, fast mode fed by its owner, rows, commit and cancel.
#include "PanelTestSupport.h"
#include "PanelUI/PanelFooterView.h"
#include "PanelUI/SearchPanel.h"

#include <QListView>
#include <QWidget>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using test::sampleWindows;

using SearchPanelTest = test::PanelFixture<SearchPanel>;

TEST_F(SearchPanelTest, NormalModeTypesIntoTheFieldThroughTheGrab)
{
    input->setLayout(SimulatedLayout::usInternational());
    bool shownBeforeTheGrab = true;
    input->onGrab = [&] { shownBeforeTheGrab = panel->window().isVisible(); };
    panel->show(sampleWindows(3), std::nullopt);
    EXPECT_FALSE(shownBeforeTheGrab) << "the keyboard is held before the panel shows";
    EXPECT_EQ(panel->placeholder(), "Type to search windows…");
    press(keyA);
    press(39); // dead acute
    press(14); // e
    press(keyDelete);
    press(keyX, command);
    EXPECT_EQ(events, (std::vector<std::string>{"query a", "query aé", "query a"}))
        << "a dead key composes; command letters are no text";

    panel->show(sampleWindows(3), std::nullopt);
    EXPECT_EQ(panel->query(), "") << "show clears the field";
}

TEST_F(SearchPanelTest, TabsAndArrowsWrapAndEveryUpdateSelectsTheBestMatch)
{
    panel->show(sampleWindows(3), std::nullopt);
    press(keyTab, shift);
    EXPECT_EQ(panel->selectedIndex(), 2);
    press(keyTab);
    EXPECT_EQ(panel->selectedIndex(), 0);
    press(keyUp);
    press(keyUp);
    EXPECT_EQ(panel->selectedIndex(), 1);
    panel->update(sampleWindows(4));
    EXPECT_EQ(panel->selectedIndex(), 0);
    EXPECT_TRUE(panel->list().selectionModel()->isRowSelected(0, {}));
}

TEST_F(SearchPanelTest, HeightEmptyLabelAndWindowCountFollowTheRows)
{
    for (auto [rows, height, empty, summary] : std::initializer_list<std::tuple<int, int, bool, const char*>>{
             {0, 32 + 98, true, "0 windows"}, {30, 482, false, "30 windows"}}) {
        panel->show(sampleWindows(rows), std::nullopt);
        EXPECT_EQ(panel->window().height(), height) << rows;
        EXPECT_EQ(panel->showsEmptyLabel(), empty) << rows;
        EXPECT_EQ(panel->footer().summary(), summary) << rows;
        EXPECT_EQ(panel->footer().hints(), "↑↓ move  ·  ⏎ switch  ·  esc close") << rows;
    }
}

TEST_F(SearchPanelTest, EachKeyCommitsActsOrCancels)
{
    const struct {
        const char* name;
        int rows;
        std::uint16_t keyCode;
        std::uint64_t flags;
        std::vector<std::string> events;
    } keys[] = {{"return commits the selected row with the query", 3, keyReturn, 0, {"commit 2 a"}},
                {"return without rows cancels", 0, keyReturn, 0, {"cancel"}},
                {"command alone quits", 3, keyQ, command, {"action 1 2"}},
                {"command-option is no action", 3, keyW, command | option, {}},
                {"command-shift is no action", 3, keyH, command | shift, {}},
                {"escape closes even with text", 3, keyEscape, 0, {"cancel"}}};
    for (const auto& key : keys) {
        SCOPED_TRACE(key.name);
        panel->show(sampleWindows(key.rows), std::nullopt);
        press(keyA);
        press(keyDown);
        events.clear();
        press(key.keyCode, key.flags);
        EXPECT_EQ(events, key.events);
    }
    press(keyA); // after escape
    EXPECT_EQ(input->delivered.size(), 1u) << "the grab ended with the panel";
}

TEST_F(SearchPanelTest, FastModeShowsTheOwnersQueryAndNeverTakesTheKeyboard)
{
    panel->showFast("", sampleWindows(3), std::nullopt);
    EXPECT_EQ(panel->placeholder(), "Type while holding the modifier…");
    press(keyA);
    EXPECT_EQ(input->delivered.size(), 1u);

    panel->updateFast("fi", sampleWindows(2));
    EXPECT_EQ(panel->items().size(), 2u);
    panel->moveSelection(1);
    panel->commit();
    EXPECT_EQ(events, (std::vector<std::string>{"commit 2 fi"}));
}

} // namespace
} // namespace vantrel
