// The settings window's panes: built once, filled from the model on every change.
#include "SettingsUI/SettingsView.h"

#include "SettingsUI/SettingsModel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

/// One line of text cut to the label's width with an ellipsis (`text()` stays
/// whole, and is the tooltip): rows of rules, the launch-at-login reason.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(Qt::TextElideMode mode) : mode_(mode)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    void setLine(const QString& text)
    {
        setText(text);
        setToolTip(text);
    }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QRect area = contentsRect();
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(text(), mode_, area.width()));
    }

private:
    Qt::TextElideMode mode_;
};

namespace {
using namespace SettingsTexts;

constexpr int sidebarWidth = 180;
constexpr int addAppMenuWidth = 140;
constexpr int wideValueWidth = 60;
constexpr int narrowValueWidth = 50;

/// A form whose pickers and recorders keep their natural width; only the
/// slider rows stretch.
QFormLayout* formLayout(QWidget* parent = nullptr)
{
    auto* form = new QFormLayout(parent);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    return form;
}

/// Small text in the secondary colour, wrapped.
QLabel* caption(const char* name, QWidget* parent = nullptr)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    return label;
}

QLabel* secondary(const QString& text, QWidget* parent = nullptr)
{
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

/// A label holding a slider's value in fixed-width digits.
QLabel* valueLabel(const char* name, int width, Qt::Alignment alignment)
{
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setFixedWidth(width);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return label;
}

QSlider* slider(const char* name, const SliderScale& scale)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(name);
    slider->setRange(0, scale.steps);
    slider->setSingleStep(1);
    slider->setPageStep(std::max(1, scale.steps / 5));
    slider->setTickPosition(QSlider::NoTicks);
    return slider;
}

/// A form row of a slider and its value label; the row's mnemonic goes to the slider.
void addSliderRow(QFormLayout* form, const QString& text, QSlider* slider, QLabel* value)
{
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(slider, 1);
    layout->addWidget(value);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* label = new QLabel(text);
    label->setBuddy(slider);
    form->addRow(label, box);
}

template <typename Enum>
QComboBox* picker(const char* name, const std::function<QString(Enum)>& label)
{
    auto* combo = new QComboBox;
    combo->setObjectName(name);
    for (Enum value : EnumCases<Enum>::values)
        combo->addItem(label(value), static_cast<int>(value));
    return combo;
}

template <typename Enum>
void showIn(QComboBox* combo, Enum value)
{
    QSignalBlocker blocker(combo);
    combo->setCurrentIndex(combo->findData(static_cast<int>(value)));
}

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The X11 names of the hold keys; the others as the settings name them.
QString holdKeyLabel(FastSearchModifier modifier)
{
    switch (modifier) {
    case FastSearchModifier::leftCommand: return SettingsView::tr("Left Super");
    case FastSearchModifier::rightCommand: return SettingsView::tr("Right Super");
    case FastSearchModifier::leftOption: return SettingsView::tr("Left Alt");
    case FastSearchModifier::rightOption: return SettingsView::tr("Right Alt");
    default: return qs(displayName(modifier));
    }
}

/// Without a desktop's platform theme Qt has no icon theme and looks only in
/// its resources: take the XDG icon folders and the theme most desktops ship.
void useIconThemeOfTheSystem()
{
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != "hicolor")
        return;
    QStringList paths = QIcon::themeSearchPaths();
    const QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    for (const QString& dir : dataDirs.split(':', Qt::SkipEmptyParts))
        if (!paths.contains(dir + "/icons"))
            paths << dir + "/icons";
    QIcon::setThemeSearchPaths(paths);
    for (const QString& dir : paths) {
        if (QFileInfo::exists(dir + "/Adwaita/index.theme")) {
            QIcon::setThemeName("Adwaita");
            return;
        }
    }
}

void setCaption(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}
} // namespace

SettingsView::SettingsView(SettingsModel& model, QWidget* parent) : QWidget(parent, Qt::Window), model_(model)
{
    setWindowTitle(tr("Vantrel Settings"));
    setMinimumSize(minimumWindowSize);
    resize(defaultWindowSize);
    useIconThemeOfTheSystem();

    sidebar_ = new QListWidget;
    sidebar_->setObjectName("sidebar");
    sidebar_->setFixedWidth(sidebarWidth);
    sidebar_->setIconSize(QSize(20, 20));
    sidebar_->setSpacing(1);
    for (const Tab& tab : tabs)
        sidebar_->addItem(new QListWidgetItem(QIcon::fromTheme(qs(tab.icon)), tr(std::string(tab.title).c_str())));

    title_ = new QLabel;
    title_->setObjectName("paneTitle");
    QFont titleFont = title_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    titleFont.setBold(true);
    title_->setFont(titleFont);

    stack_ = new QStackedWidget;
    addPane(TabID::switchers, [this](QVBoxLayout& l) { buildSwitchers(l); });
    addPane(TabID::panel, [this](QVBoxLayout& l) { buildPanel(l); });
    addPane(TabID::search, [this](QVBoxLayout& l) { buildSearch(l); });
    addPane(TabID::fastSearch, [this](QVBoxLayout& l) { buildFastSearch(l); });
    addPane(TabID::appearance, [this](QVBoxLayout& l) { buildAppearance(l); });
    addPane(TabID::rules, [this](QVBoxLayout& l) { buildRules(l); });
    addPane(TabID::general, [this](QVBoxLayout& l) { buildGeneral(l); });

    auto* detail = new QVBoxLayout;
    detail->setContentsMargins(16, 12, 12, 12);
    detail->addWidget(title_);
    detail->addWidget(stack_, 1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sidebar_);
    layout->addLayout(detail, 1);

    connect(sidebar_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        stack_->setCurrentIndex(row);
        title_->setText(sidebar_->item(row)->text());
    });
    sidebar_->setCurrentRow(0);

    model_.onChange = [this] { refresh(); };
    refresh();
}

SettingsView::~SettingsView()
{
    model_.onChange = nullptr;
}

void SettingsView::selectTab(TabID tab)
{
    sidebar_->setCurrentRow(static_cast<int>(tab));
}

TabID SettingsView::selectedTab() const
{
    return static_cast<TabID>(sidebar_->currentRow());
}

void SettingsView::present()
{
    if (isVisible())
        model_.refresh();
    show();
    raise();
    activateWindow();
}

void SettingsView::showEvent(QShowEvent* event)
{
    model_.refresh();
    QWidget::showEvent(event);
}

void SettingsView::changeEvent(QEvent* event)
{
    // Coming back to the window shows what another process saved meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        model_.refresh();
    QWidget::changeEvent(event);
}

void SettingsView::closeEvent(QCloseEvent* event)
{
    // The owner keeps this window for the life of the process.
    event->ignore();
    hide();
}

QWidget* SettingsView::addPane(TabID tab, const std::function<void(QVBoxLayout&)>& build)
{
    auto* pane = new QWidget;
    pane->setObjectName(QString("pane-") + qs(tabs[static_cast<std::size_t>(tab)].title).toLower().remove(' '));
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 8, 8, 8);
    build(*layout);
    layout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidget(pane);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    stack_->addWidget(scroll);
    return pane;
}

// ---- panes

void SettingsView::buildSwitchers(QVBoxLayout& layout)
{
    switcherGroups_ = new QWidget;
    auto* groups = new QVBoxLayout(switcherGroups_);
    groups->setContentsMargins(0, 0, 0, 0);
    layout.addWidget(switcherGroups_);
    switchersCaption_ = caption("switchersCaption");
    layout.addWidget(switchersCaption_);
}

void SettingsView::rebuildSwitcherGroups()
{
    const auto& switchers = model_.settings().switchers;
    std::vector<std::pair<std::string, std::string>> shape;
    for (const auto& switcher : switchers)
        shape.emplace_back(switcher.id, switcher.name);
    if (shape == switcherShape_ && !switcherToggles_.empty() == !switchers.empty())
        return;
    switcherShape_ = std::move(shape);
    for (QWidget* old : switcherGroups_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        old->hide();
        old->deleteLater();
    }
    switcherToggles_.clear();
    recorders_.clear();
    auto* layout = static_cast<QVBoxLayout*>(switcherGroups_->layout());
    for (std::size_t i = 0; i < switchers.size(); ++i) {
        auto* group = new QGroupBox(switcherGroups_);
        group->setObjectName(QString("switcher-%1").arg(i));
        auto* form = formLayout(group);
        auto* toggle = new QCheckBox(switcherToggleText(switchers[i].name, fontMetrics(), switcherNameWidth));
        toggle->setObjectName("isEnabled");
        toggle->setToolTip(QString::fromStdString(switchers[i].name));
        // Edits find their switcher by position, then check it is the same one.
        const std::string id = switchers[i].id;
        auto at = [i, id](Settings& settings) -> SwitcherConfig* {
            if (i < settings.switchers.size() && settings.switchers[i].id == id)
                return &settings.switchers[i];
            auto it = std::find_if(settings.switchers.begin(), settings.switchers.end(),
                                   [&](const SwitcherConfig& s) { return s.id == id; });
            return it == settings.switchers.end() ? nullptr : &*it;
        };
        connect(toggle, &QCheckBox::toggled, this, [this, at](bool on) {
            if (!refreshing_)
                model_.edit([&](Settings& s) {
                    if (auto* switcher = at(s))
                        switcher->isEnabled = on;
                });
        });
        form->addRow(toggle);
        auto readAt = [i, id](const Settings& settings) -> const SwitcherConfig* {
            return i < settings.switchers.size() && settings.switchers[i].id == id ? &settings.switchers[i] : nullptr;
        };
        auto activate = std::make_unique<ChordRecorder>(
            model_,
            [readAt](const Settings& s) -> std::optional<KeyChord> {
                auto* switcher = readAt(s);
                return switcher ? std::optional(switcher->activate) : std::nullopt;
            },
            [at](Settings& s, std::optional<KeyChord> chord) {
                // A switcher always has an activate chord: emptying keeps it.
                if (auto* switcher = at(s); switcher && chord)
                    switcher->activate = *chord;
            },
            true, group);
        activate->control()->setObjectName("activate");
        auto* activateLabel = secondary(tr("Activate / move &down"));
        activateLabel->setBuddy(activate->control());
        form->addRow(activateLabel, activate->control());
        auto moveUp = std::make_unique<ChordRecorder>(
            model_,
            [readAt](const Settings& s) {
                auto* switcher = readAt(s);
                return switcher ? switcher->moveUp : std::nullopt;
            },
            [at](Settings& s, std::optional<KeyChord> chord) {
                if (auto* switcher = at(s))
                    switcher->moveUp = chord;
            },
            true, group);
        moveUp->control()->setObjectName("moveUp");
        auto* moveUpLabel = secondary(tr("Move &up"));
        moveUpLabel->setBuddy(moveUp->control());
        form->addRow(moveUpLabel, moveUp->control());
        layout->addWidget(group);
        switcherToggles_.push_back(toggle);
        recorders_.push_back(std::move(activate));
        recorders_.push_back(std::move(moveUp));
    }
    updateTabOrder();
}

void SettingsView::buildPanel(QVBoxLayout& layout)
{
    auto* form = formLayout();
    spacesFilter_ = picker<SpacesFilter>("spacesFilter", [](SpacesFilter v) { return qs(displayName(v)); });
    panelDisplayMode_ =
        picker<PanelDisplayMode>("panelDisplayMode", [](PanelDisplayMode v) { return qs(displayName(v)); });
    minimizedWindows_ = picker<WindowFilter>("minimizedWindows", windowFilterLabel);
    hiddenApps_ = picker<WindowFilter>("hiddenApps", windowFilterLabel);
    showDelay_ = slider("showDelay", showDelay);
    showDelayValue_ = valueLabel("showDelayValue", wideValueWidth, Qt::AlignRight);
    form->addRow(tr("Show &windows from"), spacesFilter_);
    form->addRow(tr("Show panel &on"), panelDisplayMode_);
    form->addRow(tr("&Minimized windows"), minimizedWindows_);
    form->addRow(tr("&Hidden apps"), hiddenApps_);
    addSliderRow(form, tr("Show &delay"), showDelay_, showDelayValue_);
    layout.addLayout(form);

    auto onPick = [this](QComboBox* combo, auto apply) {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, apply](int) {
            const int value = combo->currentData().toInt();
            model_.edit([&](Settings& s) { apply(s, value); });
        });
    };
    onPick(spacesFilter_, [](Settings& s, int v) { s.spacesFilter = static_cast<SpacesFilter>(v); });
    onPick(panelDisplayMode_, [](Settings& s, int v) { s.panelDisplayMode = static_cast<PanelDisplayMode>(v); });
    onPick(minimizedWindows_, [](Settings& s, int v) { s.minimizedWindows = static_cast<WindowFilter>(v); });
    onPick(hiddenApps_, [](Settings& s, int v) { s.hiddenApps = static_cast<WindowFilter>(v); });
    connect(showDelay_, &QSlider::valueChanged, this, [this](int index) {
        model_.edit([&](Settings& s) { s.showDelayMilliseconds = static_cast<std::int64_t>(showDelay.value(index)); });
    });
}

void SettingsView::buildSearch(QVBoxLayout& layout)
{
    auto* form = formLayout();
    searchChord_ = std::make_unique<ChordRecorder>(
        model_, [](const Settings& s) { return s.searchChord; },
        [](Settings& s, std::optional<KeyChord> chord) { s.searchChord = chord; }, true, nullptr);
    searchChord_->control()->setObjectName("searchChord");
    form->addRow(tr("&Search windows"), searchChord_->control());
    inputSourceCaption_ = caption("inputSourceCaption");
    form->addRow(inputSourceCaption_);
    allowOneMismatch_ = new QCheckBox(tr("Allow one &mismatched character"));
    allowOneMismatch_->setObjectName("allowOneMismatch");
    form->addRow(allowOneMismatch_);
    learnedLength_ = slider("learnedLength", learnedLength);
    learnedLengthValue_ = valueLabel("learnedLengthValue", wideValueWidth, Qt::AlignRight);
    addSliderRow(form, tr("&Learn shortcuts for queries up to"), learnedLength_, learnedLengthValue_);
    layout.addLayout(form);

    connect(allowOneMismatch_, &QCheckBox::toggled, this,
            [this](bool on) { model_.edit([&](Settings& s) { s.allowOneMismatch = on; }); });
    connect(learnedLength_, &QSlider::valueChanged, this, [this](int index) {
        model_.edit(
            [&](Settings& s) { s.learnedShortcutMaxLength = static_cast<std::int64_t>(learnedLength.value(index)); });
    });
}

void SettingsView::buildFastSearch(QVBoxLayout& layout)
{
    auto* form = formLayout();
    fastSearchModifier_ = picker<FastSearchModifier>("fastSearchModifier", holdKeyLabel);
    form->addRow(tr("&Hold to search"), fastSearchModifier_);
    layout.addLayout(form);
    auto* always = caption("fastSearchCaption");
    always->setText(fastSearchCaptions(FastSearchModifier::off, true, true).always);
    layout.addWidget(always);
    cannotWatchCaption_ = caption("cannotWatchCaption");
    capsLockCaption_ = caption("capsLockCaption");
    unavailableKeyCaption_ = caption("unavailableKeyCaption");
    layout.addWidget(cannotWatchCaption_);
    layout.addWidget(capsLockCaption_);
    layout.addWidget(unavailableKeyCaption_);

    connect(fastSearchModifier_, &QComboBox::currentIndexChanged, this, [this](int) {
        const auto modifier = static_cast<FastSearchModifier>(fastSearchModifier_->currentData().toInt());
        model_.edit([&](Settings& s) { s.fastSearchModifier = modifier; });
    });
}

void SettingsView::buildAppearance(QVBoxLayout& layout)
{
    auto* form = formLayout();
    appearance_ = picker<AppearanceMode>("appearance", [](AppearanceMode v) { return qs(displayName(v)); });
    textScale_ = slider("textScale", textScale);
    textScaleValue_ = valueLabel("textScaleValue", narrowValueWidth, Qt::AlignRight);
    form->addRow(tr("&Appearance"), appearance_);
    addSliderRow(form, tr("&Text size"), textScale_, textScaleValue_);
    layout.addLayout(form);

    connect(appearance_, &QComboBox::currentIndexChanged, this, [this](int) {
        const auto mode = static_cast<AppearanceMode>(appearance_->currentData().toInt());
        model_.edit([&](Settings& s) { s.appearance = mode; });
    });
    connect(textScale_, &QSlider::valueChanged, this,
            [this](int index) { model_.edit([&](Settings& s) { s.textScale = textScale.value(index); }); });
}

void SettingsView::buildRules(QVBoxLayout& layout)
{
    auto section = [&](const QString& title, const char* name, QWidget*& rows, QPushButton*& add, bool ignoring) {
        auto* group = new QGroupBox(title);
        group->setObjectName(name);
        auto* box = new QVBoxLayout(group);
        rows = new QWidget;
        auto* rowLayout = new QVBoxLayout(rows);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        box->addWidget(rows);
        add = new QPushButton;
        add->setFixedWidth(addAppMenuWidth);
        auto* menu = new QMenu(add);
        add->setMenu(menu);
        connect(menu, &QMenu::aboutToShow, this, [this, menu, ignoring] {
            menu->clear();
            const auto choices = model_.runningAppChoices();
            if (choices.empty())
                menu->addAction(tr("No applications with windows"))->setEnabled(false);
            for (const auto& choice : choices) {
                connect(menu->addAction(QString::fromStdString(choice)), &QAction::triggered, this,
                        [this, choice, ignoring] { addApp(choice, ignoring); });
            }
        });
        auto* addRow = new QHBoxLayout;
        addRow->addWidget(add);
        addRow->addStretch(1);
        box->addLayout(addRow);
        layout.addWidget(group);
        return group;
    };
    auto* ignored = section(tr("Apps to not show"), "ignoredSection", ignoredRows_, addIgnored_, true);
    addIgnored_->setText(tr("&Add App…"));
    addIgnored_->setObjectName("addIgnoredApp");
    static_cast<QVBoxLayout*>(ignored->layout())->addWidget(caption("patternsCaption"));
    ignored->findChild<QLabel*>("patternsCaption")->setText(tr("Patterns: substring; ^ and $ anchor start/end."));
    section(tr("Pause all shortcuts while these apps are frontmost (VMs, remote desktops)"), "pauseSection",
                pauseRows_, addPause_, false);
    addPause_->setText(tr("Add A&pp…"));
    addPause_->setObjectName("addPauseApp");

}

void SettingsView::addApp(const std::string& app, bool ignore)
{
    if (!ignore) {
        model_.edit([&](Settings& s) { s.rules.pauseApps.push_back(app); });
        return;
    }
    const std::string id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    model_.edit([&](Settings& s) { s.rules.ignored.push_back(IgnoreRule{id, app, std::nullopt}); });
}

void SettingsView::rebuildRuleRows()
{
    const Rules& rules = model_.settings().rules;
    if (rulesBuilt_ && rules == rulesShape_)
        return;
    rulesBuilt_ = true;
    rulesShape_ = rules;
    const bool hadFocus = isAncestorOf(focusWidget()) &&
                          (ignoredRows_->isAncestorOf(focusWidget()) || pauseRows_->isAncestorOf(focusWidget()));
    for (QWidget* rows : {ignoredRows_, pauseRows_}) {
        for (QWidget* old : rows->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            old->hide();
            old->deleteLater();
        }
    }
    auto addRow = [this](QWidget* rows, const QString& text, std::function<void()> remove) {
        auto* line = new QWidget(rows);
        line->setObjectName("ruleRow");
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* label = new ElidedLabel(Qt::ElideRight);
        label->setObjectName("ruleText");
        label->setLine(text);
        auto* button = new QPushButton(tr("Remove"));
        button->setObjectName("remove");
        button->setFlat(true);
        button->setCursor(Qt::PointingHandCursor);
        layout->addWidget(label, 1);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, std::move(remove));
        rows->layout()->addWidget(line);
    };
    for (const IgnoreRule& rule : rules.ignored) {
        const std::string id = rule.id;
        addRow(ignoredRows_, ruleText(rule), [this, id] {
            model_.edit([&](Settings& s) {
                std::erase_if(s.rules.ignored, [&](const IgnoreRule& r) { return r.id == id; });
            });
        });
    }
    for (std::size_t i = 0; i < rules.pauseApps.size(); ++i) {
        const std::string app = rules.pauseApps[i];
        addRow(pauseRows_, QString::fromStdString(app), [this, i, app] {
            model_.edit([&](Settings& s) {
                // The list may have changed on disk since it was shown: remove
                // this entry where it stands, else the first equal one.
                auto& apps = s.rules.pauseApps;
                auto it = i < apps.size() && apps[i] == app ? apps.begin() + static_cast<std::ptrdiff_t>(i)
                                                            : std::find(apps.begin(), apps.end(), app);
                if (it != apps.end())
                    apps.erase(it);
            });
        });
    }
    updateTabOrder();
    if (hadFocus)
        addIgnored_->setFocus(Qt::OtherFocusReason);
}

void SettingsView::buildGeneral(QVBoxLayout& layout)
{
    launchAtLogin_ = new QCheckBox(tr("&Launch at login"));
    launchAtLogin_->setObjectName("launchAtLogin");
    layout.addWidget(launchAtLogin_);
    // The reason ends the message: cut the path in its middle instead.
    launchAtLoginError_ = new ElidedLabel(Qt::ElideMiddle);
    launchAtLoginError_->setObjectName("launchAtLoginError");
    launchAtLoginError_->setForegroundRole(QPalette::PlaceholderText);
    layout.addWidget(launchAtLoginError_);
    connect(launchAtLogin_, &QCheckBox::toggled, this, [this](bool on) {
        if (!refreshing_)
            model_.setLaunchAtLogin(on);
    });
}

// ---- filling in

void SettingsView::refresh()
{
    const bool nested = refreshing_;
    refreshing_ = true;
    const Settings& s = model_.settings();
    rebuildSwitcherGroups();
    for (std::size_t i = 0; i < switcherToggles_.size() && i < s.switchers.size(); ++i) {
        QSignalBlocker blocker(switcherToggles_[i]);
        switcherToggles_[i]->setChecked(s.switchers[i].isEnabled);
    }
    for (auto& recorder : recorders_)
        recorder->update();
    switchersCaption_->setText(switchersCaption(s));

    showIn(spacesFilter_, s.spacesFilter);
    showIn(panelDisplayMode_, s.panelDisplayMode);
    showIn(minimizedWindows_, s.minimizedWindows);
    showIn(hiddenApps_, s.hiddenApps);
    // Out-of-range stored values show clamped; nothing is written until the
    // user moves the slider.
    {
        QSignalBlocker blocker(showDelay_);
        showDelay_->setValue(showDelay.index(static_cast<double>(s.showDelayMilliseconds)));
    }
    showDelayValue_->setText(showDelayLabel(s.showDelayMilliseconds));

    searchChord_->update();
    setCaption(inputSourceCaption_, inputSourceCaption(s));
    {
        QSignalBlocker blocker(allowOneMismatch_);
        allowOneMismatch_->setChecked(s.allowOneMismatch);
    }
    {
        QSignalBlocker blocker(learnedLength_);
        learnedLength_->setValue(learnedLength.index(static_cast<double>(s.learnedShortcutMaxLength)));
    }
    learnedLengthValue_->setText(learnedLengthLabel(s.learnedShortcutMaxLength));

    showIn(fastSearchModifier_, s.fastSearchModifier);
    const auto captions = fastSearchCaptions(s.fastSearchModifier, model_.canWatchKeyboard(),
                                             model_.canHold(s.fastSearchModifier));
    setCaption(cannotWatchCaption_, captions.cannotWatch);
    setCaption(capsLockCaption_, captions.capsLock);
    setCaption(unavailableKeyCaption_, captions.unavailableKey);

    showIn(appearance_, s.appearance);
    {
        QSignalBlocker blocker(textScale_);
        textScale_->setValue(textScale.index(s.textScale));
    }
    textScaleValue_->setText(textScaleLabel(s.textScale));

    rebuildRuleRows();

    {
        QSignalBlocker blocker(launchAtLogin_);
        launchAtLogin_->setChecked(model_.launchAtLogin());
    }
    const QString error = QString::fromStdString(model_.launchAtLoginError());
    launchAtLoginError_->setLine(error.isEmpty() ? QString() : tr("Could not change: %1").arg(error));
    launchAtLoginError_->setVisible(!error.isEmpty());
    refreshing_ = nested;
}

void SettingsView::updateTabOrder()
{
    // Rows built after the rest would otherwise come last in the Tab chain.
    std::vector<QWidget*> chain{sidebar_};
    for (std::size_t i = 0; i < switcherToggles_.size(); ++i) {
        chain.push_back(switcherToggles_[i]);
        chain.push_back(recorders_[2 * i]->control());
        chain.push_back(recorders_[2 * i + 1]->control());
    }
    chain.insert(chain.end(), {spacesFilter_, panelDisplayMode_, minimizedWindows_, hiddenApps_, showDelay_,
                               searchChord_ ? searchChord_->control() : nullptr, allowOneMismatch_, learnedLength_,
                               fastSearchModifier_, appearance_, textScale_});
    // Rows on their way out are hidden already.
    auto removeButtons = [&](QWidget* rows) {
        for (QPushButton* remove : rows->findChildren<QPushButton*>("remove"))
            if (!remove->parentWidget()->isHidden())
                chain.push_back(remove);
    };
    if (ignoredRows_) {
        removeButtons(ignoredRows_);
        chain.push_back(addIgnored_);
        removeButtons(pauseRows_);
        chain.push_back(addPause_);
    }
    chain.push_back(launchAtLogin_);
    std::erase(chain, nullptr);
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

} // namespace vantrel
