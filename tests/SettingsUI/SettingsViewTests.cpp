// The settings window: each control edits its one field, once; captions follow
// their conditions; sliders stay in range; lists and stale documents.
#include "SettingsUITestSupport.h"

#include "SettingsUI/SettingsRender.h"
#include "VantrelCore/SettingsJSON.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace vantrel {
namespace {

using SettingsTexts::TabID;

struct SettingsViewTest : test::SettingsFixture {
    QString label(const char* name) { return find<QLabel>(name)->text(); }
    bool shown(const char* name) { return !find<QLabel>(name)->isHidden(); }
    QStringList ruleTexts(const char* section)
    {
        QStringList texts;
        for (auto* row : find<QGroupBox>(section)->findChildren<QWidget*>("ruleRow"))
            if (!row->isHidden())
                texts << row->findChild<QLabel*>("ruleText")->text();
        return texts;
    }
    void addApp(const char* button, const QString& app)
    {
        QMenu* menu = find<QPushButton>(button)->menu();
        emit menu->aboutToShow();
        for (QAction* action : menu->actions())
            if (action->text() == app)
                return action->trigger();
        ADD_FAILURE() << "no menu entry " << app.toStdString();
    }
};

TEST_F(SettingsViewTest, EachControlEditsExactlyItsFieldAndSavesOncePerEdit)
{
    open();
    struct Edit {
        const char* control;
        std::function<void()> act;
        std::function<void(Settings&)> expect;
    };
    auto pick = [this](const char* name, int index) { return [=, this] { find<QComboBox>(name)->setCurrentIndex(index); }; };
    auto step = [this](const char* name) {
        return [=, this] { find<QSlider>(name)->triggerAction(QAbstractSlider::SliderSingleStepAdd); };
    };
    auto click = [this](const char* name, QWidget* in = nullptr) {
        return [=, this] { QTest::mouseClick(find<QCheckBox>(name, in), Qt::LeftButton, {}, QPoint(4, 4)); };
    };
    const std::vector<Edit> edits{
        {"spacesFilter", pick("spacesFilter", 2), [](Settings& s) { s.spacesFilter = SpacesFilter::visibleSpaces; }},
        {"panelDisplayMode", pick("panelDisplayMode", 1),
         [](Settings& s) { s.panelDisplayMode = PanelDisplayMode::allDisplays; }},
        {"minimizedWindows", pick("minimizedWindows", 2), [](Settings& s) { s.minimizedWindows = WindowFilter::hide; }},
        {"hiddenApps", pick("hiddenApps", 0), [](Settings& s) { s.hiddenApps = WindowFilter::show; }},
        {"showDelay", step("showDelay"), [](Settings& s) { s.showDelayMilliseconds = 160; }},
        {"allowOneMismatch", click("allowOneMismatch"), [](Settings& s) { s.allowOneMismatch = true; }},
        {"learnedLength", step("learnedLength"), [](Settings& s) { s.learnedShortcutMaxLength = 4; }},
        {"fastSearchModifier", pick("fastSearchModifier", 6),
         [](Settings& s) { s.fastSearchModifier = FastSearchModifier::rightOption; }},
        {"appearance", pick("appearance", 2), [](Settings& s) { s.appearance = AppearanceMode::dark; }},
        {"textScale", step("textScale"), [](Settings& s) { s.textScale = 1.05; }},
        {"switcher-1 isEnabled", [&] { click("isEnabled", find<QWidget>("switcher-1"))(); },
         [](Settings& s) { s.switchers[1].isEnabled = false; }},
    };
    Settings expected = store->settings();
    for (const Edit& edit : edits) {
        const int before = changes;
        edit.act();
        edit.expect(expected);
        EXPECT_EQ(store->settings(), expected) << edit.control;
        EXPECT_EQ(changes, before + 1) << edit.control;
    }

    // Recorders: move-up may be emptied, activate keeps its chord.
    auto* group = find<QWidget>("switcher-2");
    QTest::mouseClick(find<RecorderControl>("moveUp", group), Qt::LeftButton);
    input->keyDown(RecorderControl::deleteKey);
    expected.switchers[2].moveUp.reset();
    EXPECT_EQ(store->settings(), expected);
    auto* activate = find<RecorderControl>("activate", group);
    QTest::mouseClick(activate, Qt::LeftButton);
    input->keyDown(RecorderControl::deleteKey);
    EXPECT_EQ(store->settings(), expected);
    EXPECT_EQ(activate->text(), "Ctrl+Alt+Tab");
    QTest::mouseClick(activate, Qt::LeftButton);
    input->keyDown(KeyChord::tab, KeyChord::command | KeyChord::option);
    expected.switchers[2].activate = {KeyChord::tab, KeyChord::command | KeyChord::option};
    EXPECT_EQ(store->settings(), expected);
}

TEST_F(SettingsViewTest, CaptionsFollowTheirConditions)
{
    open();
    EXPECT_NE(label("switchersCaption").indexOf("Super+Tab"), -1);
    for (auto [modifiers, caption] : std::initializer_list<std::pair<std::uint64_t, bool>>{
             {KeyChord::control, true}, {KeyChord::control | KeyChord::option, true}, {KeyChord::control | KeyChord::shift, false}}) {
        model->edit([&](Settings& s) { s.searchChord = KeyChord{Settings::space, modifiers}; });
        EXPECT_EQ(shown("inputSourceCaption"), caption) << modifiers;
    }
    model->edit([&](Settings& s) { s.searchChord.reset(); });
    EXPECT_FALSE(shown("inputSourceCaption"));

    for (auto watch : {true, false}) {
        input->inputMonitoring = watch;
        for (FastSearchModifier modifier : EnumCases<FastSearchModifier>::values) {
            model->edit([&](Settings& s) { s.fastSearchModifier = modifier; });
            const std::string context = std::string(rawValue(modifier)) + (watch ? "" : " unwatched");
            EXPECT_TRUE(shown("fastSearchCaption")) << context;
            EXPECT_EQ(shown("cannotWatchCaption"), modifier != FastSearchModifier::off && !watch) << context;
            EXPECT_EQ(shown("capsLockCaption"), modifier == FastSearchModifier::capsLock) << context;
            // The simulated keyboard lacks Fn, as X11 does.
            EXPECT_EQ(shown("unavailableKeyCaption"), modifier == FastSearchModifier::fn) << context;
        }
    }
    model->edit([&](Settings& s) {
        for (auto& switcher : s.switchers)
            switcher.isEnabled = switcher.id == "ctrl-opt-tab";
    });
    EXPECT_EQ(label("switchersCaption").indexOf("Super+Tab"), -1);
}

TEST_F(SettingsViewTest, SlidersShowStoredValuesClampedWithoutWritingAndLabelTheirBounds)
{
    open(R"({"learnedShortcutMaxLength": 9, "textScale": 2.5, "showDelayMilliseconds": -40})");
    const auto writes = defaults->writeCount();
    EXPECT_EQ(label("learnedLengthValue"), "5 chars");
    EXPECT_EQ(label("textScaleValue"), "130%");
    EXPECT_EQ(label("showDelayValue"), "0 ms");

    // Moving past the end writes nothing; moving back writes an in-range value.
    auto* learned = find<QSlider>("learnedLength");
    learned->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(defaults->writeCount(), writes);
    learned->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(store->settings().learnedShortcutMaxLength, 0);
    EXPECT_EQ(label("learnedLengthValue"), "Off");
    auto* scale = find<QSlider>("textScale");
    scale->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(store->settings().textScale, 0.85);
    // Every step is a value the store keeps exactly, and labelled as such.
    for (int i = 0; i <= SettingsTexts::textScale.steps; ++i) {
        scale->setValue(i);
        EXPECT_EQ(label("textScaleValue"), QString::number(85 + 5 * i) + "%");
    }
    EXPECT_EQ(store->settings().textScale, 1.3);
    find<QSlider>("showDelay")->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(store->settings().showDelayMilliseconds, 500);
}

TEST_F(SettingsViewTest, SwitcherNamesAreElidedAndAnEmptyListShowsOnlyTheCaption)
{
    const std::string longName(500, 'w');
    open(R"({"switchers": [
        {"id": "a", "name": ")" + longName + R"(", "activate": {"keyCode": 48, "modifiers": 1048576}, "scope": "allApps", "isEnabled": true},
        {"id": "b", "name": "", "activate": {"keyCode": 48, "modifiers": 524288}, "scope": "allApps", "isEnabled": false},
        {"id": "c", "name": "Tabs & more", "activate": {"keyCode": 50, "modifiers": 1048576}, "scope": "activeApp", "isEnabled": true}]})");
    auto toggle = [this](int i) { return find<QCheckBox>("isEnabled", find<QWidget>(("switcher-" + std::to_string(i)).c_str())); };
    EXPECT_TRUE(toggle(0)->text().endsWith("…"));
    EXPECT_LE(toggle(0)->fontMetrics().horizontalAdvance(toggle(0)->text()), SettingsView::switcherNameWidth);
    EXPECT_EQ(toggle(1)->text(), "Unnamed switcher");
    EXPECT_EQ(toggle(2)->text(), "Tabs && more");

    model->edit([](Settings& s) { s.switchers.clear(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the old groups go
    EXPECT_TRUE(find<QWidget>("pane-switchers")->findChildren<QGroupBox*>().isEmpty());
    EXPECT_TRUE(shown("switchersCaption"));
}

TEST_F(SettingsViewTest, AddAppOffersAppsWithWindowsSortedAndAppendsDuplicatesRemoveTakesTheRow)
{
    auto window = [](ProcessID pid, std::optional<std::string> bundleID, std::string appName) {
        return WindowInfo{.pid = pid, .bundleID = std::move(bundleID), .appName = std::move(appName), .title = {}, .spaceIDs = {}};
    };
    windows = {window(10, "org.mozilla.firefox", "Firefox"), window(10, "org.mozilla.firefox", "Firefox"),
               window(11, std::nullopt, "xterm"), window(12, std::nullopt, "Emacs"),
               window(13, "org.mozilla.firefox", "Firefox"), window(14, std::nullopt, "")};
    EXPECT_EQ(appChoices(windows),
              (std::vector<std::string>{"Emacs", "org.mozilla.firefox", "org.mozilla.firefox", "xterm"}));

    open(R"({"rules": {"ignored": [{"id": "0B5E1F2A-3C4D-4E5F-8A6B-7C8D9E0F1A2B", "app": "com.example.Unknown", "titlePattern": "^draft"}], "pauseApps": []}})");
    addApp("addIgnoredApp", "xterm");
    addApp("addIgnoredApp", "xterm");
    addApp("addPauseApp", "Emacs");
    addApp("addPauseApp", "Emacs");
    const Rules& rules = store->settings().rules;
    ASSERT_EQ(rules.ignored.size(), 3u);
    EXPECT_NE(rules.ignored[1].id, rules.ignored[2].id);
    EXPECT_EQ(rules.pauseApps, (std::vector<std::string>{"Emacs", "Emacs"}));
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(ruleTexts("ignoredSection"),
              (QStringList{"com.example.Unknown · title contains “^draft”", "xterm", "xterm"}));

    QTest::mouseClick(find<QGroupBox>("ignoredSection")->findChildren<QPushButton*>("remove").front(), Qt::LeftButton);
    EXPECT_EQ(ruleTexts("ignoredSection"), (QStringList{"xterm", "xterm"}));
    QTest::mouseClick(find<QGroupBox>("pauseSection")->findChildren<QPushButton*>("remove").back(), Qt::LeftButton);
    EXPECT_EQ(store->settings().rules.pauseApps, (std::vector<std::string>{"Emacs"}));
}

TEST_F(SettingsViewTest, AnEditKeepsWhatAnotherProcessWroteMeanwhile)
{
    const auto file = folder.path / "defaults.json";
    open(std::nullopt, std::make_shared<FileUserDefaults>(file));

    Settings theirs;
    theirs.showDelayMilliseconds = 300;
    FileUserDefaults(file).setData("settings", *encodeSettingsText(theirs));
    QTest::mouseClick(find<QCheckBox>("allowOneMismatch"), Qt::LeftButton, {}, QPoint(4, 4));
    theirs.allowOneMismatch = true;
    EXPECT_EQ(decodeSettingsText(*FileUserDefaults(file).data("settings")).value(), theirs);
    EXPECT_EQ(label("showDelayValue"), "300 ms");

    // Brought to the front again, the window shows their next change.
    theirs.showDelayMilliseconds = 40;
    FileUserDefaults(file).setData("settings", *encodeSettingsText(theirs));
    view->present();
    EXPECT_EQ(label("showDelayValue"), "40 ms");
}

TEST_F(SettingsViewTest, TabAndMnemonicsReachTheVisiblePanesControlsInOrder)
{
    auto& window = open();
    window.selectTab(TabID::panel);
    find<QListWidget>("sidebar")->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order, (QStringList{"spacesFilter", "panelDisplayMode", "minimizedWindows", "hiddenApps", "showDelay"}));
    // Mnemonics reach the visible pane's controls, sliders through their rows.
    QTest::keyClick(&window, Qt::Key_M, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "minimizedWindows");
    QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "showDelay");
}

TEST_F(SettingsViewTest, ClosingHidesTheWindowAndPresentingShowsTheTabItWasOn)
{
    auto& window = open();
    window.selectTab(TabID::rules);
    EXPECT_EQ(label("paneTitle"), "Rules");
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.present();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.selectedTab(), TabID::rules);
}

TEST_F(SettingsViewTest, EveryPaneIsRenderedLightAndDark)
{
    auto renders = renderSettingsPanes(folder.path, input);
    ASSERT_EQ(renders.written.size(), 14u);
    EXPECT_EQ(renders.written.front().filename(), "settings-switchers-light.png");
    EXPECT_EQ(renders.written.back().filename(), "settings-general-dark.png");
    QImage light(QString::fromStdString(renders.written[3].string()));
    QImage dark(QString::fromStdString(renders.written[10].string()));
    EXPECT_GT(qGray(light.pixel(400, 300)), qGray(dark.pixel(400, 300)));
    EXPECT_FALSE(std::filesystem::exists(folder.path / ".no-autostart"));
}

} // namespace
} // namespace vantrel
