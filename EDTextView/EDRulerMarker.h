#pragma once

#include "platform/ui/RulerMarker.h"

#include <QSizeF>

// The marker a click in the line-number ruler puts on a line: a tab in the accent colour that
// fills the ruler's width and ends in a rounded point towards the text. It draws itself (it has no
// bitmap), at `size`, which the ruler keeps as wide as its rule thickness. Main thread only.
class EDRulerMarker : public platform::RulerMarker {
public:
    // A marker for `ruler` whose bottom edge lies at `markerLocation` (in the ruler's client
    // coordinates), as wide as the ruler's rule thickness and `height` tall.
    EDRulerMarker(platform::RulerView& ruler, double markerLocation, double height);

    QSizeF size() const { return m_size; }
    // Resizes the drawing and, while a ruler holds the marker, redraws that ruler.
    void setSize(QSizeF size);

    // Draws the tab into `rect` (the marker's own coordinates: the top-left corner at the origin).
    virtual void drawMarker(QPainter& painter, const QRectF& rect) const;

protected:
    void drawImage(QPainter& painter, const QRectF& rect) const override;

private:
    QSizeF m_size;
};
