#include "EDTextView/TextLayoutRangeView.h"

#include "platform/text/TextLayoutFragment.h"
#include "platform/text/TextLayoutManager.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

using platform::TextLayoutFragment;
using platform::TextLayoutManager;
using platform::TextRange;

TextLayoutRangeView::TextLayoutRangeView(TextLayoutManager& manager, TextRange range)
    : m_manager(manager)
    , m_range(range)
{
    if (range.isEmpty())
        return;
    // The rows are laid out as they are reached, so a drag of a whole long note lays out only the
    // start that its picture shows.
    std::optional<double> top;
    manager.enumerateTextSegments(range, TextLayoutManager::SegmentType::selection,
        TextLayoutManager::rangeNotRequired, [&](std::optional<TextRange>, QRectF area, double) {
            if (!top)
                top = area.top();
            if (area.top() - *top >= maximumHeight)
                return false;
            // An empty line inside the range has no width; its row still belongs to the picture.
            if (area.width() <= 0)
                area.setWidth(1);
            m_areas.push_back(area);
            m_frame = m_frame ? m_frame->united(area) : area;
            return true;
        });
}

QImage TextLayoutRangeView::image(double devicePixelRatio, const QColor& textColor) const
{
    if (!m_frame)
        return {};
    const QRectF frame = *m_frame;
    QImage image((frame.size() * devicePixelRatio).toSize().expandedTo(QSize(1, 1)),
        QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(-frame.topLeft());
    // Only the range's own areas show: the rest of its first and last rows stays clear.
    QPainterPath clip;
    for (const QRectF& area : m_areas)
        clip.addRect(area);
    painter.setClipPath(clip);
    painter.setPen(textColor);
    m_manager.enumerateTextLayoutFragments(m_range.location, TextLayoutManager::ensuresLayout,
        [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
            const QRectF fragmentFrame = fragment->layoutFragmentFrame();
            if (fragment->rangeInElement().location >= m_range.endLocation
                || fragmentFrame.top() > frame.bottom())
                return false;
            fragment->draw(painter, fragmentFrame.topLeft());
            return true;
        });
    return image;
}
