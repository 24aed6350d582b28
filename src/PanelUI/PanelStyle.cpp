// The panels' shared look: text scale, row metrics, fonts and the light and dark colours.
#include "PanelUI/PanelStyle.h"

#include "Runtime/FileRead.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

#include <cmath>

namespace vantrel::PanelStyle {
namespace {

double scale_ = 1.0;
AppearanceMode appearance_ = AppearanceMode::system;

} // namespace

int roundPoints(double value) { return static_cast<int>(std::lround(value)); }

int rowHeight(double scale) { return roundPoints(scale * baseRowHeight); }

int rowFontSize(double scale) { return roundPoints(scale * baseRowFontSize); }

double textScale() { return scale_; }

void setTextScale(double scale)
{
    // A scale that would make rows vanish or overflow any screen is a broken
    // setting, not a wish.
    scale_ = std::isfinite(scale) ? std::clamp(scale, 0.5, 3.0) : 1.0;
}

AppearanceMode appearance() { return appearance_; }

void setAppearance(AppearanceMode mode) { appearance_ = mode; }

PanelTheme theme(AppearanceMode mode)
{
    switch (mode) {
    case AppearanceMode::light:
        return PanelTheme::light;
    case AppearanceMode::dark:
        return PanelTheme::dark;
    case AppearanceMode::system:
        break;
    }
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
    // Read as every file is, so that a FIFO in its place cannot hang the panel.
    const std::string settingsText =
        readRegularFile((configHome + QStringLiteral("/gtk-3.0/settings.ini")).toStdString(), 64 * 1024).bytes.value_or("");
    QByteArray gtkTheme = qgetenv("GTK_THEME");
    bool darkPalette = QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
    return desktopPrefersDark(std::string_view(gtkTheme.constData(), static_cast<std::size_t>(gtkTheme.size())),
                              settingsText,
                              darkPalette)
               ? PanelTheme::dark
               : PanelTheme::light;
}

bool desktopPrefersDark(std::string_view gtkTheme, std::string_view gtkSettings, bool darkPalette)
{
    auto namesDark = [](std::string_view name) {
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).contains(u"dark", Qt::CaseInsensitive);
    };
    if (!gtkTheme.empty())
        return namesDark(gtkTheme);
    for (const QByteArray& rawLine : QByteArray(gtkSettings.data(), static_cast<qsizetype>(gtkSettings.size())).split('\n')) {
        QByteArray line = rawLine.trimmed();
        auto equals = line.indexOf('=');
        if (equals < 0)
            continue;
        QByteArray key = line.left(equals).trimmed();
        QByteArray value = line.mid(equals + 1).trimmed().toLower();
        if (key == "gtk-application-prefer-dark-theme" && (value == "1" || value == "true"))
            return true;
        if (key == "gtk-theme-name" && namesDark(std::string_view(value.constData(), static_cast<std::size_t>(value.size()))))
            return true;
    }
    return darkPalette;
}

PanelColors colors(PanelTheme theme)
{
    if (theme == PanelTheme::dark)
        return {.label = QColor(255, 255, 255, 235),
                .secondaryLabel = QColor(235, 235, 245, 150),
                .separator = QColor(255, 255, 255, 38),
                .accent = QColor(10, 132, 255, 217),
                .translucentCard = QColor(36, 36, 38, 242),
                .window = QColor(40, 40, 42)};
    return {.label = QColor(0, 0, 0, 217),
            .secondaryLabel = QColor(60, 60, 67, 153),
            .separator = QColor(0, 0, 0, 26),
            .accent = QColor(0, 122, 255, 217),
            .translucentCard = QColor(246, 246, 246, 242),
            .window = QColor(236, 236, 236)};
}

QFont font(int pixels, QFont::Weight weight)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    result.setPixelSize(std::max(pixels, 1));
    result.setWeight(weight);
    return result;
}

QFont monospacedFont(int pixels)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPixelSize(std::max(pixels, 1));
    return result;
}

QFont rowFont() { return font(rowFontSize(scale_)); }

QFont rowFontSemibold() { return font(rowFontSize(scale_), QFont::DemiBold); }

} // namespace vantrel::PanelStyle
