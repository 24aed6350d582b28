// The header strip: a search glyph and the query, or the placeholder while the query is empty.
#pragma once

#include "PanelUI/PanelStyle.h"

#include <QString>
#include <QWidget>

namespace vantrel {

/// 52 high; draws the glyph 18 from the leading edge, the text 10 after it,
/// and a separator along the bottom edge.
class PanelHeaderView final : public QWidget {
public:
    static constexpr int height = 52;

    explicit PanelHeaderView(QWidget* parent);

    /// Shows `query`, or the placeholder in the secondary colour when empty.
    void update(const QString& query);
    void setColors(const PanelColors& colors);

    /// What the label shows and in which colour role.
    const QString& text() const { return text_; }
    const QColor& textColor() const { return textColor_; }
    QString placeholder;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelColors colors_;
    QString text_;
    QColor textColor_;
    bool showsPlaceholder_ = true;
};

/// Paints the search glyph (the theme's, else a drawn lens) in `rect`.
void paintSearchGlyph(class QPainter& painter, const QRect& rect, const QColor& color);

} // namespace vantrel
