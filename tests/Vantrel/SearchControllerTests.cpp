// The search controller on virtual time: ranking with learned shortcuts, learning, the shortcuts file, Fast Search.
#include "Vantrel/SearchController.h"

#include "Platform/Sim/SimulatedInput.h"
#include "Support/FakePanels.h"
#include "Support/FakeWindowTracking.h"
#include "Support/InstalledInput.h"
#include "Support/ScratchFiles.h"
#include "Support/SimBridge.h"
#include "Runtime/FileRead.h"
#include "VantrelCore/KeyCodes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using Calls = std::vector<std::string>;
using Ids = std::vector<WindowID>;
using test::idList;
using test::window;

constexpr std::uint16_t leftOptionKey = KeyCodes::leftOption, tabKey = KeyCodes::tab, spaceKey = KeyCodes::space,
                        escapeKey = KeyCodes::escape;
const std::map<char, std::uint16_t> letterKeys{{'i', 34}, {'n', 45}, {'q', 12}};

class SearchControllerTest : public test::SimBridgeTest {
protected:
    void SetUp() override
    {
        store.start();
        // Most recent first. "in" matches 2, 3 and 4; Mail's Inbox ranks first.
        windows = {window(1, 10, "Safari", "Apple"), window(2, 20, "Terminal", "build"), window(3, 30, "Mail", "Inbox"),
                   window(4, 20, "Terminal", "tests")};
        tracking->publish({windows, {}, {}, {}});
        settingsStore.update([](Settings& s) { s.fastSearchModifier = FastSearchModifier::leftOption; });
        startController();
    }
    /// A controller (again) on the shortcuts file, started.
    void startController()
    {
        controller.reset();
        controller = std::make_unique<SearchController>(loop, store, panel, settingsStore, file);
        controller->focus = [this](const WindowInfo& w) { focused.push_back(w.id); };
        controller->start();
    }
    std::string ranked(std::string_view query) { return idList(controller->rank(controller->candidates(), query)); }
    /// Opens the panel, types `query` and commits the row at `row`.
    void search(std::string_view query, std::size_t row)
    {
        controller->toggle();
        panel.type(query);
        panel.selectedIndex = static_cast<std::ptrdiff_t>(row);
        panel.pressReturn();
    }
    /// Holds left Option over `keys` (letters; '>' is Tab, '!' Escape), then lets go.
    void hold(std::string_view keys)
    {
        input->flagsChanged(leftOptionKey, KeyChord::option);
        for (char c : keys)
            input->keyDown(c == '>' ? tabKey : c == '!' ? escapeKey : letterKeys.at(c), KeyChord::option);
        input->flagsChanged(leftOptionKey, 0);
        loop.runPending();
    }

    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    test::InstalledInputBackend installedInput{input};
    std::shared_ptr<test::FakeTrackingLog> tracking = std::make_shared<test::FakeTrackingLog>();
    WindowStore store{std::make_unique<test::FakeWindowTracking>(tracking)};
    SettingsStore settingsStore{std::make_shared<MemoryUserDefaults>()};
    test::FakeSearchPanel panel;
    std::vector<WindowInfo> windows;
    const test::ScratchFolder scratch;
    const fs::path file = scratch.path / "Vantrel" / "learned-shortcuts.json";
    Ids focused;
    std::unique_ptr<SearchController> controller;
};

TEST_F(SearchControllerTest, BlanksAreNoQuery)
{
    EXPECT_EQ(ranked(" \t"), "1,2,3,4");
}

TEST_F(SearchControllerTest, ALowerResultLeadsWithItsApplicationNextTimeAlsoAfterARestart)
{
    search("in", 2);
    // The chosen window, then its application's other one, each once.
    EXPECT_EQ(ranked("in"), "4,2,3");
    startController();
    EXPECT_EQ(ranked(" In "), "4,2,3");
}

TEST_F(SearchControllerTest, ALearnedWindowIsListedWhereTheScorerFindsNoMatch)
{
    controller->commit(windows[0], "zq");
    EXPECT_EQ(ranked("zq"), "1");
}

// A flag and an accented letter are one character each.
TEST(SearchControllerKeys, AreTheApplicationAndTwentyFourCharactersOfTheTitle)
{
    WindowInfo notes = window(9, 90, "Notes", std::string(23, 'a') + "🇫🇷e\u0301");
    EXPECT_EQ(SearchController::key(notes), "w:Notes|" + std::string(23, 'a') + "🇫🇷");
    notes.bundleID = "org.gnome.Notes";
    EXPECT_EQ(SearchController::appKey(notes), "a:org.gnome.Notes");
}

TEST_F(SearchControllerTest, AnUnreadableFileStaysUntilSomethingIsLearned)
{
    const std::string broken = "{\"in\": [{\"target\": \"a:Mail\", \"lastUs";
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << broken;
    startController();
    search("in", 0); // the top result: nothing to learn
    search("termin", 1); // too long to learn
    EXPECT_EQ(readRegularFile(file).bytes, broken);
    search("in", 1);
    EXPECT_EQ(LearnedShortcuts::load(file).targets("in").size(), 2u);
}

TEST_F(SearchControllerTest, AnUnwritableFileOnlyCostsALogLine)
{
    std::ofstream(file.parent_path()) << "a file where the folder should be";
    LogCapture capture;
    search("in", 1);
    EXPECT_EQ(focused, Ids{2});
    EXPECT_TRUE(std::ranges::any_of(capture.messages("search"),
                                    [](const std::string& m) { return m.starts_with("could not save learned shortcuts: "); }));
    EXPECT_EQ(ranked("in").front(), '2') << "learned in memory all the same";
}

TEST_F(SearchControllerTest, AWindowClosedSinceItWasListedIsNotFocused)
{
    controller->toggle();
    panel.type("in");
    tracking->publish({{windows[0], windows[1], windows[2]}, {}, {}, {}});
    panel.selectedIndex = 2;
    panel.pressReturn();
    EXPECT_EQ(idList(panel.items), "3,2,4");
    EXPECT_TRUE(focused.empty());
}

TEST_F(SearchControllerTest, TheChordTogglesThePanelFromAMainLoopJob)
{
    input->keyDown(spaceKey, KeyChord::control);
    EXPECT_TRUE(panel.calls.empty()) << "never inline";
    loop.runPending();
    EXPECT_EQ(panel.calls, Calls{"show 1,2,3,4"});
    input->keyUp(spaceKey, KeyChord::control);
    input->keyDown(spaceKey, KeyChord::control);
    loop.runPending();
    EXPECT_EQ(panel.calls.back(), "cancel");
}

TEST_F(SearchControllerTest, OnlyControlSpaceTakesTheInputSourceShortcut)
{
    EXPECT_FALSE(desktop->hotKeyEnabled(SymbolicHotKey::nextInputSource));
    settingsStore.update([](Settings& s) { s.searchChord = KeyChord{spaceKey, KeyChord::command}; });
    controller->applySettings();
    EXPECT_TRUE(desktop->hotKeyEnabled(SymbolicHotKey::nextInputSource));
}

TEST_F(SearchControllerTest, ARefusedChordCostsOnlyThatChord)
{
    settingsStore.update([](Settings& s) { s.searchChord = KeyChord{spaceKey, KeyChord::command}; });
    input->refuseChord(spaceKey, KeyChord::command);
    LogCapture capture;
    controller->applySettings();
    EXPECT_EQ(capture.messages("search"), Calls{"could not register search chord"});
    EXPECT_TRUE(controller->fastTap().isInstalled());
}

TEST_F(SearchControllerTest, RecordingAChordLeavesTheKeysAloneUntilItEnds)
{
    // Wired as the application wires it.
    settingsStore.onRecordingChange = [this](bool on) { on ? controller->pause() : controller->applySettings(); };
    settingsStore.setRecordingChord(true);
    controller->applySettings();
    EXPECT_TRUE(input->grabs.empty());
    EXPECT_FALSE(controller->fastTap().isInstalled());
    settingsStore.setRecordingChord(false);
    EXPECT_EQ(input->grabs.size(), 1u);
    EXPECT_TRUE(controller->fastTap().isInstalled());
}

TEST_F(SearchControllerTest, AFastSearchHoldDrivesTheFastPanelAndCommitsItsSelection)
{
    const std::string rankedI = ranked("i");
    input->flagsChanged(leftOptionKey, KeyChord::option);
    loop.runPending();
    hold("in>");
    EXPECT_EQ(panel.calls, (Calls{"showFast 1,2,3,4", "updateFast i " + rankedI, "updateFast in 3,2,4", "select 1", "hide"}));
    EXPECT_EQ(focused, Ids{2});
}

TEST_F(SearchControllerTest, AHoldReleasedBeforeItsPanelShowsSwitchesOnlyToARealChoice)
{
    const std::pair<std::string, Ids> cases[] = {{"", {}}, {">", {2}}, {"q", {}}, {"in!", {}}};
    for (const auto& [keys, switched] : cases) {
        SCOPED_TRACE(keys);
        focused.clear();
        panel.calls.clear();
        hold(keys);
        EXPECT_EQ(focused, switched);
        EXPECT_EQ(panel.count("showFast"), 0u);
    }
    EXPECT_TRUE(controller->shortcuts().entries.empty()) << "an empty query teaches nothing";
}

TEST_F(SearchControllerTest, AHoldWhileTheSearchPanelIsOpenIsIgnoredWithItsCharacters)
{
    controller->toggle();
    panel.calls.clear();
    hold("in");
    EXPECT_TRUE(panel.calls.empty());
}

TEST_F(SearchControllerTest, AHoldKeyTheKeyboardLacksIsSaidOnce)
{
    input->missingHoldKeys = {FastSearchModifier::fn};
    settingsStore.update([](Settings& s) { s.fastSearchModifier = FastSearchModifier::fn; });
    LogCapture capture;
    controller->applySettings();
    controller->applySettings();
    controller->retryFastSearchIfNeeded();
    EXPECT_FALSE(controller->fastTap().isInstalled());
    EXPECT_EQ(capture.messages("fastsearch"), Calls{"Fast Search modifier fn is not available on this keyboard"});
    EXPECT_TRUE(controller->hasHotKey());
}

TEST_F(SearchControllerTest, AHoldKeyWaitingForPermissionComesWithIt)
{
    input->inputMonitoring = false;
    startController();
    controller->retryFastSearchIfNeeded();
    EXPECT_FALSE(controller->fastTap().isInstalled());
    input->inputMonitoring = true;
    controller->retryFastSearchIfNeeded();
    EXPECT_TRUE(controller->fastTap().isInstalled());
}

} // namespace
} // namespace vantrel
