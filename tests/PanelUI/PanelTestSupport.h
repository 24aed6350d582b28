// Offscreen panel tests: one QApplication on Qt's offscreen platform, a simulated keyboard, sample windows.
#pragma once

#include "Platform/Sim/SimulatedInput.h"
#include "PanelUI/PanelStyle.h"
#include "Support/FakePanels.h"
#include "Support/InstalledInput.h"
#include "Support/QtTestApplication.h"
#include "VantrelCore/KeyCodes.h"
#include "VantrelCore/WindowInfo.h"

#include <QDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace vantrel::test {

/// Windows 1 ... n named "App1" ... "Appn", of processes 101 ... 100 + n.
inline std::vector<WindowInfo> sampleWindows(int count)
{
    std::vector<WindowInfo> windows;
    for (int i = 1; i <= count; ++i)
        windows.push_back(window(static_cast<WindowID>(i), 100 + i, "App" + std::to_string(i), "Title " + std::to_string(i)));
    return windows;
}

/// A test with the application every panel test shares, offscreen on three
/// displays side by side (so that mirrors have somewhere to go), and a simulated
/// keyboard installed as the process's input backend; the text scale and
/// appearance are reset.
class PanelTest : public ::testing::Test {
protected:
    PanelTest()
    {
        static QTemporaryFile config(QDir::temp().filePath(QStringLiteral("vantrel-panel-screens-XXXXXX.json")));
        if (!config.isOpen() && config.open()) {
            config.write(R"({"screens": [
            {"name": "left", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
            {"name": "middle", "x": 1280, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
            {"name": "right", "x": 3200, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
            config.flush();
        }
        ensureQtApplication("offscreen:configfile=" + config.fileName().toUtf8());
        PanelStyle::setTextScale(1.0);
        PanelStyle::setAppearance(AppearanceMode::light);
    }

    /// Carbon key codes of the US layout used below.
    static constexpr std::uint16_t keyW = 13, keyQ = 12, keyM = 46, keyH = 4, keyJ = 38, keyK = 40, keyN = 45, keyP = 35,
                                   keyA = 0, keyX = 7, keyReturn = KeyCodes::returnKey,
                                   keyEscape = KeyCodes::escape, keyDelete = KeyCodes::deleteKey,
                                   keyDown = KeyCodes::down, keyUp = KeyCodes::up, keyTab = KeyCodes::tab;
    static constexpr std::uint64_t shift = ModifierFlags::shift, control = ModifierFlags::control,
                                   option = ModifierFlags::option, command = ModifierFlags::command;

    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    test::InstalledInputBackend installedInput{input};
};

/// A `Panel` over the simulated keyboard whose callbacks are written to
/// `events`: "commit 3" (with the query after it for the search panel),
/// "cancel", "query ab", "action 0 2" (action, window). A commit or cancel
/// must find the panel already hidden.
template <class Panel>
class PanelFixture : public PanelTest {
protected:
    PanelFixture()
    {
        panel->onCommit = [this](const WindowInfo& window, const auto&... query) {
            EXPECT_FALSE(panel->isVisible()) << "commit called back before hiding";
            events.push_back(((std::string("commit ") + std::to_string(window.id)) + ... + (" " + query)));
        };
        panel->onCancel = [this] {
            EXPECT_FALSE(panel->isVisible()) << "cancel called back before hiding";
            events.push_back("cancel");
        };
        panel->onQueryChanged = [this](const std::string& text) { events.push_back("query " + text); };
        panel->onAction = [this](const WindowInfo& window, auto action) {
            events.push_back("action " + std::to_string(static_cast<int>(action)) + " " + std::to_string(window.id));
        };
    }
    void press(std::uint16_t keyCode, std::uint64_t flags = 0) { input->keyDown(keyCode, flags); }

    std::unique_ptr<Panel> panel = std::make_unique<Panel>();
    std::vector<std::string> events;
};

} // namespace vantrel::test
