// Mirror panels offscreen on three displays: one per other display, reused, dropped with their display, never key.
#include "PanelTestSupport.h"
#include "PanelUI/MirrorPanels.h"
#include "PanelUI/PanelDesktop.h"
#include "PanelUI/SwitcherPanel.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using test::sampleWindows;

class MirrorPanelsTest : public test::PanelTest {
protected:
    QList<QScreen*> attached()
    {
        QList<QScreen*> screens = QGuiApplication::screens();
        screens.resize(std::min<qsizetype>(screens.size(), attachedCount));
        return screens;
    }

    qsizetype attachedCount = 3;
    SwitcherPanel main;
    MirrorPanels mirrors{&main, [this] { return attached(); }};
};

TEST_F(MirrorPanelsTest, OnePanelPerOtherDisplayMadeOnceAndNeverKey)
{
    main.setSpaceNumbers({{10, 4}});
    auto rows = sampleWindows(3);
    rows[0].spaceIDs = {10};
    mirrors.show(rows, 1, "middle");
    for (QScreen* screen : attached()) {
        SwitcherPanel* mirror = mirrors.panelOn(screen);
        if (screen->name() == "middle") {
            EXPECT_EQ(mirror, nullptr);
            continue;
        }
        ASSERT_NE(mirror, nullptr);
        EXPECT_TRUE(mirror->isVisible());
        EXPECT_FALSE(mirror->isKey());
        EXPECT_EQ(mirror->screen(), PanelScreens::identifier(*screen));
        EXPECT_TRUE(screen->availableGeometry().contains(mirror->window().geometry()));
        EXPECT_EQ(mirror->selectedIndex(), 1);
        EXPECT_EQ(mirror->spaceNumbers().at(10), 4) << "badges as on the main panel";
    }
    SwitcherPanel* left = mirrors.panelOn(attached()[0]);
    mirrors.show(rows, 0, std::nullopt);
    EXPECT_EQ(mirrors.count(), 3u) << "no exclusion: a mirror on every display";
    EXPECT_EQ(mirrors.panelOn(attached()[0]), left) << "reused";
}

TEST_F(MirrorPanelsTest, UpdateAndSelectSkipHiddenMirrors)
{
    mirrors.show(sampleWindows(4), 0, "left");
    SwitcherPanel* right = mirrors.panelOn(attached()[2]);
    right->hide();
    mirrors.update(sampleWindows(2));
    mirrors.select(1);
    SwitcherPanel* middle = mirrors.panelOn(attached()[1]);
    EXPECT_EQ(middle->items().size(), 2u);
    EXPECT_EQ(middle->selectedIndex(), 1);
    EXPECT_EQ(right->selectedIndex(), 0);
    mirrors.hide();
    EXPECT_FALSE(middle->isVisible());
}

TEST_F(MirrorPanelsTest, AnUnpluggedDisplayLosesItsMirrorUntilItReturns)
{
    mirrors.show(sampleWindows(2), 0, "left");
    attachedCount = 2;
    mirrors.rebuild();
    EXPECT_EQ(mirrors.count(), 1u);
    attachedCount = 3;
    mirrors.show(sampleWindows(2), 0, "left");
    EXPECT_EQ(mirrors.count(), 2u);
}

} // namespace
} // namespace vantrel
