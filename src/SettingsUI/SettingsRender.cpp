// The settings window drawn off screen: each pane in a light and a dark palette.
#include "SettingsUI/SettingsRender.h"

#include "SettingsUI/SettingsModel.h"
#include "SettingsUI/SettingsView.h"
#include "VantrelCore/SettingsStore.h"

#include <QApplication>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>

namespace vantrel {

namespace {
QPalette darkPalette()
{
    QPalette palette;
    const QColor window(40, 40, 43), base(54, 54, 59), text(235, 235, 238), mid(80, 80, 86);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(55, 55, 60));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(64, 132, 214));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 158));
    palette.setColor(QPalette::Mid, mid);
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    palette.setColor(QPalette::Light, QColor(70, 70, 76));
    palette.setColor(QPalette::Midlight, QColor(62, 62, 68));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 126));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 126));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 126));
    return palette;
}

/// Defaults with a few rules, so the Rules pane shows its rows.
std::string sampleDocument()
{
    return R"({"rules": {"ignored": [
        {"id": "6F1C2D3E-4A5B-4C6D-8E7F-0A1B2C3D4E5F", "app": "org.mozilla.firefox", "titlePattern": "^Private"},
        {"id": "7A2B3C4D-5E6F-4A7B-9C8D-1E2F3A4B5C6D", "app": "com.example.UnknownTool"}],
        "pauseApps": ["VirtualBox Machine", "org.remmina.Remmina"]}})";
}
} // namespace

SettingsRenders renderSettingsPanes(const std::filesystem::path& folder, std::shared_ptr<InputBackend> input)
{
    SettingsRenders result;
    auto defaults = std::make_shared<MemoryUserDefaults>();
    defaults->setData(SettingsStore::key, sampleDocument());
    SettingsStore store(defaults);
    SettingsModel::Options options;
    options.input = std::move(input);
    options.launchAtLogin = LaunchAtLogin(folder / ".no-autostart" / "vantrel.desktop", "vantrel");
    SettingsModel model(store, std::move(options));

    const QString styleName = QApplication::style()->name();
    const QPalette palette = QApplication::palette();
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    for (bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        SettingsView view(model);
        view.resize(SettingsView::defaultWindowSize);
        view.show();
        for (std::size_t i = 0; i < SettingsTexts::tabs.size(); ++i) {
            view.selectTab(static_cast<SettingsTexts::TabID>(i));
            QApplication::processEvents();
            QString stem = QString::fromUtf8(SettingsTexts::tabs[i].title.data(),
                                             static_cast<qsizetype>(SettingsTexts::tabs[i].title.size()))
                               .toLower()
                               .replace(' ', '-');
            const auto path = folder / ("settings-" + stem.toStdString() + (dark ? "-dark.png" : "-light.png"));
            if (view.grab().save(QString::fromStdString(path.string()), "PNG"))
                result.written.push_back(path);
            else
                result.failures.push_back("cannot write " + path.string());
        }
        view.hide();
    }
    QApplication::setStyle(styleName);
    QApplication::setPalette(palette);
    return result;
}

} // namespace vantrel
