// The footer strip: window and desktop counts on the left, key hints on the right.
#pragma once

#include "PanelUI/PanelStyle.h"

#include <QString>
#include <QWidget>

namespace vantrel {

/// 38 high; monospaced 12-point labels 18 from either edge, a separator
/// along the top edge.
class PanelFooterView final : public QWidget {
public:
    static constexpr int height = 38;

    explicit PanelFooterView(QWidget* parent);

    /// "7 windows", with "  ·  3 Spaces" from two desktops on; the hints as given.
    void update(std::size_t windowCount, std::size_t spaceCount, const QString& hintText);
    void setColors(const PanelColors& colors);

    const QString& summary() const { return summary_; }
    const QString& hints() const { return hints_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelColors colors_;
    QString summary_;
    QString hints_;
};

} // namespace vantrel
