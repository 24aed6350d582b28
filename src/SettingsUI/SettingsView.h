// The settings window: a sidebar of seven tabs and the chosen tab's form.
#pragma once

#include "SettingsUI/RecorderControl.h"
#include "SettingsUI/SettingsTexts.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QStackedWidget;
class QVBoxLayout;

namespace vantrel {

class SettingsModel;

/// The one settings window. Every control edits one field through the model,
/// which saves it at once; there is no Apply button. Closing hides the window.
/// Controls carry object names ("showDelay", "switchersCaption", ...) by which
/// tests and tools find them.
class SettingsView : public QWidget {
public:
    static constexpr QSize minimumWindowSize{660, 430};
    static constexpr QSize defaultWindowSize{760, 540};
    /// Switcher names longer than this many pixels are elided.
    static constexpr int switcherNameWidth = 380;

    /// The window over `model`, which must outlive it; starts at the first tab.
    explicit SettingsView(SettingsModel& model, QWidget* parent = nullptr);
    ~SettingsView() override;

    void selectTab(SettingsTexts::TabID tab);
    SettingsTexts::TabID selectedTab() const;
    /// Shows the window, or raises it, with the stored settings (re-read
    /// then, and whenever the window becomes active again).
    void present();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* addPane(SettingsTexts::TabID tab, const std::function<void(QVBoxLayout&)>& build);
    void buildSwitchers(QVBoxLayout& layout);
    void buildPanel(QVBoxLayout& layout);
    void buildSearch(QVBoxLayout& layout);
    void buildFastSearch(QVBoxLayout& layout);
    void buildAppearance(QVBoxLayout& layout);
    void buildRules(QVBoxLayout& layout);
    void buildGeneral(QVBoxLayout& layout);

    void refresh();
    void rebuildSwitcherGroups();
    void rebuildRuleRows();
    /// Appends `app` to the ignored apps (as a rule of its own) or the pause list.
    void addApp(const std::string& app, bool ignore);
    void updateTabOrder();

    SettingsModel& model_;
    QListWidget* sidebar_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QLabel* title_ = nullptr;

    // Switchers.
    QWidget* switcherGroups_ = nullptr;
    std::vector<std::pair<std::string, std::string>> switcherShape_;
    std::vector<QCheckBox*> switcherToggles_;
    std::vector<std::unique_ptr<ChordRecorder>> recorders_;
    QLabel* switchersCaption_ = nullptr;
    // Panel.
    QComboBox* spacesFilter_ = nullptr;
    QComboBox* panelDisplayMode_ = nullptr;
    QComboBox* minimizedWindows_ = nullptr;
    QComboBox* hiddenApps_ = nullptr;
    QSlider* showDelay_ = nullptr;
    QLabel* showDelayValue_ = nullptr;
    // Search.
    std::unique_ptr<ChordRecorder> searchChord_;
    QLabel* inputSourceCaption_ = nullptr;
    QCheckBox* allowOneMismatch_ = nullptr;
    QSlider* learnedLength_ = nullptr;
    QLabel* learnedLengthValue_ = nullptr;
    // Fast Search.
    QComboBox* fastSearchModifier_ = nullptr;
    QLabel* cannotWatchCaption_ = nullptr;
    QLabel* capsLockCaption_ = nullptr;
    QLabel* unavailableKeyCaption_ = nullptr;
    // Appearance.
    QComboBox* appearance_ = nullptr;
    QSlider* textScale_ = nullptr;
    QLabel* textScaleValue_ = nullptr;
    // Rules.
    QWidget* ignoredRows_ = nullptr;
    QWidget* pauseRows_ = nullptr;
    Rules rulesShape_;
    bool rulesBuilt_ = false;
    QPushButton* addIgnored_ = nullptr;
    QPushButton* addPause_ = nullptr;
    // General.
    QCheckBox* launchAtLogin_ = nullptr;
    class ElidedLabel* launchAtLoginError_ = nullptr;

    bool refreshing_ = false;
};

} // namespace vantrel
