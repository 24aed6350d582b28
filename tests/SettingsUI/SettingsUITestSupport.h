// The offscreen Qt application and a settings window over an in-memory store.
#pragma once

#include "Platform/Sim/SimulatedInput.h"
#include "SettingsUI/SettingsModel.h"
#include "SettingsUI/SettingsView.h"
#include "Support/InstalledInput.h"
#include "Support/QtTestApplication.h"
#include "Support/ScratchFiles.h"
#include "VantrelCore/SettingsStore.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace vantrel::test {

/// A store over memory defaults, a simulated keyboard without an Fn key (as
/// on X11), and a model and window over them.
struct SettingsFixture : ::testing::Test {
    ScratchFolder folder;
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    std::shared_ptr<SimulatedInput> input = std::make_shared<SimulatedInput>();
    InstalledInputBackend installedInput{input};
    std::unique_ptr<SettingsStore> store;
    std::vector<WindowInfo> windows;
    std::unique_ptr<SettingsModel> model;
    std::unique_ptr<SettingsView> view;
    int changes = 0;

    void SetUp() override
    {
        ensureQtApplication();
        input->missingHoldKeys = {FastSearchModifier::fn};
    }
    /// Opens the window over `stored` (a settings document), or the defaults;
    /// over `other` defaults instead of the in-memory ones when given.
    SettingsView& open(std::optional<std::string> stored = std::nullopt, std::shared_ptr<UserDefaults> other = nullptr)
    {
        if (stored)
            defaults->setData("settings", *stored);
        store = std::make_unique<SettingsStore>(other ? other : defaults);
        store->onChange = [this](const Settings&) { ++changes; };
        SettingsModel::Options options;
        options.windows = [this] { return windows; };
        options.launchAtLogin = LaunchAtLogin(folder.path / "autostart" / "vantrel.desktop", "/opt/vantrel/bin/vantrel");
        options.input = input;
        model = std::make_unique<SettingsModel>(*store, std::move(options));
        view = std::make_unique<SettingsView>(*model);
        view->show();
        view->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        return *view;
    }
    template <typename T>
    T* find(const char* name, QWidget* in = nullptr) const
    {
        auto* found = (in ? in : static_cast<QWidget*>(view.get()))->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
};

} // namespace vantrel::test
