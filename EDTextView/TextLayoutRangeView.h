#pragma once

#include "platform/text/TextRange.h"

#include <QImage>
#include <QRectF>

#include <optional>

namespace platform {
class TextLayoutManager;
}

// The text of one range as the view lays it out, for the picture a drag of that range shows: the
// rows the range crosses, drawn where they stand, with everything outside the range left clear
// (the start of the first row, the end of the last). Made, rendered and thrown away by a drag.
class TextLayoutRangeView {
public:
    // Rows past this height are left out: a drag of a whole document shows its beginning.
    static constexpr double maximumHeight = 480.0;

    TextLayoutRangeView(platform::TextLayoutManager& manager, platform::TextRange range);

    // Where the picture stands in the view (view coordinates); none when the range has no text.
    std::optional<QRectF> frame() const { return m_frame; }
    // The picture, transparent outside the range's text; a null image when there is no frame.
    QImage image(double devicePixelRatio = 1.0, const QColor& textColor = Qt::black) const;

private:
    platform::TextLayoutManager& m_manager;
    platform::TextRange m_range;
    // The range's selection areas, one per row piece (view coordinates).
    std::vector<QRectF> m_areas;
    std::optional<QRectF> m_frame;
};
