// vantrelctl panel-shot: renders the panels off screen, over sample windows, to PNG files.
#include "Command.h"

#if VANTRELCTL_HAS_PANELUI

#include "PanelShot.h"
#include "PanelUI/PanelIcons.h"
#include "PanelUI/PanelStyle.h"
#include "PanelUI/SearchPanel.h"
#include "PanelUI/SwitcherPanel.h"
#include "Platform/Sim/SimulatedInput.h"
#if VANTRELCTL_HAS_SETTINGSUI
#include "SettingsUI/SettingsRender.h"
#endif

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <filesystem>
#include <iostream>
#include <sstream>

namespace vantrelctl {

std::vector<PanelShot>& shotTable()
{
    static std::vector<PanelShot> shots;
    return shots;
}

void registerPanelShot(PanelShot shot) { shotTable().push_back(std::move(shot)); }

const std::vector<PanelShot>& panelShots() { return shotTable(); }

QImage renderWidget(QWidget& window)
{
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    window.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

namespace {

using namespace vantrel;

WindowInfo sampleRow(WindowID id, ProcessID pid, std::string app, std::string title, SpaceID space, bool minimized = false)
{
    WindowInfo window;
    window.id = id;
    window.pid = pid;
    window.appName = std::move(app);
    window.title = std::move(title);
    window.spaceIDs = {space};
    window.isMinimized = minimized;
    return window;
}

// Ten windows on desktops 1 (on screen), 2 and 3, most recently used first;
// one long title and one minimized window.
std::vector<WindowInfo> sampleWindows()
{
    return {
        sampleRow(1, 101, "Firefox", "Release notes — Vantrel 0.1", 11),
        sampleRow(2, 102, "Terminal", "ssh build-host", 11),
        sampleRow(3, 103, "Thunderbird", "Inbox (3 unread)", 12),
        sampleRow(4, 102, "Terminal", "vim src/PanelUI/SwitcherPanel.cpp", 12),
        sampleRow(5, 104, "Files", "Downloads", 11),
        sampleRow(6, 105, "LibreOffice Writer",
               "Quarterly report draft with a title long enough to be cut short at the end of the row.odt", 13),
        sampleRow(7, 101, "Firefox", "Qt 6 documentation: QAbstractItemView", 13),
        sampleRow(8, 106, "GIMP", "screenshot.png-1.0 (RGB color 8-bit gamma integer)", 12, true),
        sampleRow(9, 107, "Calculator", "", 11),
        sampleRow(10, 108, "Text Editor", "notes.txt", 13),
    };
}

// Titles that must not break a row: right-to-left text, emoji, control
// characters, invalid UTF-8, a 10,000-character title; then 2,000 more rows.
std::vector<WindowInfo> hostileWindows()
{
    std::vector<WindowInfo> rows{
        sampleRow(1, 101, "Firefox", "\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd — right-to-left title", 11),
        sampleRow(2, 102, "Terminal", "emoji \U0001F600\U0001F680 and a ZWJ family \U0001F468\u200D\U0001F469\u200D\U0001F467", 12),
        sampleRow(3, 103, "Thunderbird", "tab\tnew line\nbell\x07 and DEL\x7f inside", 12),
        sampleRow(4, 104, "Files", "invalid \xff\xfe UTF-8 \xc3", 13),
        sampleRow(5, 105, std::string(300, 'A'), std::string(10000, 'x'), 13),
        sampleRow(6, 999, "No Icon", "a process without an icon", 11),
    };
    for (WindowID id = 7; id < 2007; ++id)
        rows.push_back(sampleRow(id, 108, "Text Editor", "file " + std::to_string(id) + ".txt", 11 + id % 3));
    return rows;
}

const std::map<SpaceID, int> sampleSpaceNumbers{{11, 1}, {12, 2}, {13, 3}};
const std::set<SpaceID> sampleVisibleSpaces{11};

// Coloured tiles with the application's initial stand in for real icons.
std::optional<QImage> sampleIcon(ProcessID pid)
{
    static const std::map<ProcessID, std::pair<QColor, QChar>> tiles{
        {101, {QColor(230, 96, 0), u'F'}},   {102, {QColor(48, 48, 48), u'>'}}, {103, {QColor(0, 110, 200), u'T'}},
        {104, {QColor(80, 140, 220), u'D'}}, {105, {QColor(30, 120, 200), u'W'}}, {106, {QColor(120, 110, 90), u'G'}},
        {107, {QColor(90, 90, 100), u'='}},  {108, {QColor(60, 160, 90), u'E'}},
    };
    auto tile = tiles.find(pid);
    if (tile == tiles.end())
        return std::nullopt;
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(4, 4, 56, 56), 14, 14);
    painter.fillPath(shape, tile->second.first);
    QFont font;
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(4, 4, 56, 56), Qt::AlignCenter, QString(tile->second.second));
    return image;
}

// The panels live while the command's application does.
struct ShotPanels {
    std::unique_ptr<SwitcherPanel> switcher;
    std::unique_ptr<SearchPanel> search;
};

ShotPanels& shotPanels()
{
    static ShotPanels panels;
    return panels;
}

SwitcherPanel& switcherPanel()
{
    auto& panel = shotPanels().switcher;
    if (!panel)
        panel = std::make_unique<SwitcherPanel>();
    return *panel;
}

SearchPanel& searchPanel()
{
    auto& panel = shotPanels().search;
    if (!panel)
        panel = std::make_unique<SearchPanel>();
    return *panel;
}

QImage renderSearch(bool fast, const std::string& query, const std::vector<WindowInfo>& rows)
{
    SearchPanel& panel = searchPanel();
    panel.applyStyle();
    if (fast) {
        panel.showFast(query, rows, std::nullopt);
    } else {
        panel.show(sampleWindows(), std::nullopt);
        if (!query.empty())
            panel.updateFast(query, rows);
    }
    QImage image = renderWidget(panel.window());
    panel.hide();
    return image;
}

QImage renderSwitcher(const std::vector<WindowInfo>& shown, const std::string& query,
                      const std::vector<WindowInfo>& afterQuery, std::ptrdiff_t selecting)
{
    SwitcherPanel& panel = switcherPanel();
    panel.applyStyle();
    panel.setSpaceNumbers(sampleSpaceNumbers);
    panel.setVisibleSpaceIDs(sampleVisibleSpaces);
    panel.show(shown, selecting, std::nullopt, false);
    if (!query.empty()) {
        panel.setQuery(query);
        panel.update(afterQuery);
        panel.select(0);
    }
    QImage image = renderWidget(panel.window());
    panel.hide();
    return image;
}

std::vector<WindowInfo> matching(const std::string& text)
{
    std::vector<WindowInfo> result;
    for (const auto& window : sampleWindows())
        if (QString::fromStdString(window.searchText()).contains(QString::fromStdString(text), Qt::CaseInsensitive))
            result.push_back(window);
    return result;
}

const PanelShotRegistration switcher{{"switcher", "the switcher panel, second window selected",
                                      [] { return renderSwitcher(sampleWindows(), "", {}, 1); }}};
const PanelShotRegistration switcherQuery{{"switcher-query", "the switcher panel after typing \"term\"",
                                           [] { return renderSwitcher(sampleWindows(), "term", matching("term"), 0); }}};
const PanelShotRegistration switcherEmpty{{"switcher-empty", "the switcher panel with a query nothing matches",
                                           [] { return renderSwitcher(sampleWindows(), "zzz", {}, 0); }}};

const PanelShotRegistration switcherHostile{{"switcher-hostile", "the switcher panel over hostile titles and 2,006 windows",
                                             [] { return renderSwitcher(hostileWindows(), "", {}, 0); }}};
const PanelShotRegistration search{{"search", "the search panel as the search chord opens it",
                                    [] { return renderSearch(false, "", {}); }}};
const PanelShotRegistration searchQuery{{"search-query", "the search panel after typing \"fire\"",
                                         [] { return renderSearch(false, "fire", matching("fire")); }}};
const PanelShotRegistration searchFast{{"search-fast", "the search panel in fast mode after \"te\"",
                                        [] { return renderSearch(true, "te", matching("te")); }}};
const PanelShotRegistration searchEmpty{{"search-empty", "the search panel when nothing matches",
                                         [] { return renderSearch(false, "zzz", {}); }}};

std::string scaleName(double scale)
{
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << scale;
    return text.str();
}

constexpr double shotScales[] = {1.0, 1.5};
constexpr AppearanceMode shotAppearances[] = {AppearanceMode::light, AppearanceMode::dark};

std::string fileName(const PanelShot& shot, AppearanceMode appearance, double scale)
{
    return shot.stem + "-" + std::string(rawValue(appearance)) + "-" + scaleName(scale) + ".png";
}

std::string usage();

int runPanelShot(Args arguments)
{
    std::vector<std::string> args(arguments.begin(), arguments.end());
    if (takeFlag(args, "--help")) {
        std::cout << usage();
        return 0;
    }
    std::optional<std::string> out;
    try {
        out = takeOption(args, "--out");
    } catch (const std::invalid_argument&) {
        std::cerr << "vantrelctl panel-shot: --out needs a directory\n";
        return 2;
    }
    if (!out || !args.empty()) {
        std::cerr << "vantrelctl panel-shot: usage: vantrelctl panel-shot --out DIR\n";
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(*out, error);
    if (error) {
        std::cerr << "vantrelctl panel-shot: cannot create " << *out << ": " << error.message() << "\n";
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vantrelctl";
    static char* argv[] = {name, nullptr};
    // The offscreen platform cannot raise or mask windows and says so each time.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        if (!message.startsWith(QLatin1String("This plugin does not support")) &&
            !message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
            std::cerr << message.toStdString() << "\n";
    });
    QApplication app(argc, argv);
    PanelIcons::setSource(sampleIcon);
    // A keyboard nobody types on, so that panels shown "key" hold a grab and
    // draw as they do while the user types (the search field's caret).
    setCurrentInputBackend(std::make_shared<SimulatedInput>());

    int failures = 0;
    for (AppearanceMode appearance : shotAppearances) {
        for (double scale : shotScales) {
            PanelStyle::setAppearance(appearance);
            PanelStyle::setTextScale(scale);
            for (const PanelShot& shot : panelShots()) {
                auto path = std::filesystem::path(*out) / fileName(shot, appearance, scale);
                if (!shot.render().save(QString::fromStdString(path.string()), "PNG")) {
                    std::cerr << "vantrelctl panel-shot: cannot write " << path.string() << "\n";
                    ++failures;
                    continue;
                }
                std::cout << path.string() << "\n";
            }
        }
    }
    shotPanels() = {};
    setCurrentInputBackend(nullptr);
#if VANTRELCTL_HAS_SETTINGSUI
    // X11's keyboard: every hold key but Fn.
    auto keyboard = std::make_shared<SimulatedInput>();
    keyboard->missingHoldKeys = {FastSearchModifier::fn};
    auto settings = renderSettingsPanes(*out, keyboard);
    for (const auto& path : settings.written)
        std::cout << path.string() << "\n";
    for (const auto& failure : settings.failures)
        std::cerr << "vantrelctl panel-shot: " << failure << "\n";
    failures += static_cast<int>(settings.failures.size());
#endif
    return failures == 0 ? 0 : 1;
}

std::string usage()
{
    std::string text = "usage: vantrelctl panel-shot --out DIR\n"
                       "Renders the panels off screen (Qt's offscreen platform; no display needed) over ten\n"
                       "sample windows on three desktops, in light and dark and at text scales 1.0 and 1.5,\n"
                       "and writes one PNG per render into DIR (created if missing):\n";
    for (const PanelShot& shot : panelShots())
        text += "  " + shot.stem + "-{light,dark}-{1.0,1.5}.png  " + shot.description + "\n";
#if VANTRELCTL_HAS_SETTINGSUI
    text += "  settings-<pane>-{light,dark}.png  each pane of the settings window\n";
#endif
    return text;
}

const Registration registration{{"panel-shot", "render the panels to PNG files without a display", usage(), runPanelShot}};

} // namespace
} // namespace vantrelctl

#endif
