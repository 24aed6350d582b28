// The settings window's numbers and texts.
#include "SettingsUI/SettingsTexts.h"

#include <QCoreApplication>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace vantrel::SettingsTexts {

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("SettingsView", text);
}
} // namespace

int SliderScale::index(double value) const
{
    const double scaled = (value * divisor - offset) / step;
    if (!std::isfinite(scaled))
        return scaled > 0 ? steps : 0;
    return std::clamp(static_cast<int>(std::lround(std::clamp(scaled, 0.0, double(steps)))), 0, steps);
}

double SliderScale::value(int index) const
{
    return double(offset + step * std::clamp(index, 0, steps)) / divisor;
}

QString showDelayLabel(std::int64_t milliseconds)
{
    const auto clamped = std::clamp<std::int64_t>(milliseconds, 0, 500);
    return tr("%1 ms").arg(clamped);
}

QString learnedLengthLabel(std::int64_t length)
{
    const auto clamped = std::clamp<std::int64_t>(length, 0, 5);
    return clamped == 0 ? tr("Off") : tr("%1 chars").arg(clamped);
}

QString textScaleLabel(double scale)
{
    const double clamped = std::isfinite(scale) ? std::clamp(scale, textScale.minimum(), textScale.maximum())
                                                : textScale.minimum();
    // Truncated, but 1.15 × 100 is 114.999… in binary: allow for that.
    return QString::number(static_cast<int>(std::floor(clamped * 100.0 + 1e-6))) + "%";
}

QString switchersCaption(const Settings& settings)
{
    return settings.replacesCommandTab()
               ? tr("Vantrel takes Super+Tab while it runs and changes none of the desktop's shortcuts; "
                    "a chord the window manager holds is refused and reported.")
               : tr("The desktop's own shortcuts are untouched; a chord the window manager holds is refused "
                    "and reported.");
}

QString inputSourceCaption(const Settings& settings)
{
    const auto& chord = settings.searchChord;
    if (!chord || chord->keyCode != Settings::space || (chord->modifiers | KeyChord::option) != 0xC0000)
        return {};
    return tr("Input methods such as fcitx often switch input with this chord; while one holds it, the search "
              "chord is refused and reported.");
}

FastSearchCaptions fastSearchCaptions(FastSearchModifier modifier, bool canWatchKeyboard, bool canHoldModifier)
{
    FastSearchCaptions captions;
    captions.always = tr("Hold the modifier, type one or two characters, release to switch. Left and right "
                         "modifiers are recognized separately.");
    if (modifier != FastSearchModifier::off && !canWatchKeyboard)
        captions.cannotWatch = tr("Fast Search cannot watch the keyboard: the X server does not answer (the "
                                  "Ctrl+Space search does not need this).");
    if (modifier == FastSearchModifier::capsLock)
        captions.capsLock = tr("Remap Caps Lock to Escape first: in your desktop's keyboard settings, or with "
                               "setxkbmap -option caps:escape.");
    if (modifier != FastSearchModifier::off && modifier != FastSearchModifier::capsLock && !canHoldModifier)
        captions.unavailableKey = modifier == FastSearchModifier::fn
                                      ? tr("The Fn key never reaches X11 programs, so Fast Search needs another "
                                           "key: choose one above.")
                                      : tr("This keyboard has no such key, so Fast Search needs another key: "
                                           "choose one above.");
    return captions;
}

QString windowFilterLabel(WindowFilter filter)
{
    switch (filter) {
    case WindowFilter::show: return tr("Show");
    case WindowFilter::bottom: return tr("Show at bottom");
    case WindowFilter::hide: return tr("Do not show");
    }
    return {};
}

QString ruleText(const IgnoreRule& rule)
{
    QString text = QString::fromStdString(rule.app);
    if (rule.titlePattern && !rule.titlePattern->empty())
        text += QString::fromUtf8(" · title contains “") + QString::fromStdString(*rule.titlePattern) +
                QString::fromUtf8("”");
    return text;
}

QString switcherToggleText(const std::string& name, const QFontMetrics& metrics, int width)
{
    const QString full = name.empty() ? tr("Unnamed switcher") : QString::fromStdString(name);
    QString elided = metrics.elidedText(full, Qt::ElideRight, width);
    return elided.replace("&", "&&");
}

} // namespace vantrel::SettingsTexts
