#include "EDTextView/EDTextLayoutFragment.h"

#include <QPainter>

#include <cmath>

void EDTextLayoutFragment::setShowsInvisibleCharacters(bool shows, const QColor& color)
{
    m_showsInvisibleCharacters = shows;
    if (color.isValid())
        m_invisibleColor = color;
}

std::vector<QRectF> EDTextLayoutFragment::invisibleCharacterMarks(const QRectF& clip) const
{
    std::vector<QRectF> marks;
    if (state() != State::layoutAvailable)
        return marks;
    for (qsizetype row = visualLineIndex(clip.top()); row < visualLineCount(); ++row) {
        const VisualLine visual = visualLine(row);
        if (visual.y > clip.bottom())
            break;
        const double top = visual.y + visual.glyphTop;
        const double height = visual.ascent + visual.descent;
        for (qsizetype i = visual.firstLineFragment; i < visual.firstLineFragment + visual.lineFragmentCount;
             ++i) {
            const platform::TextLineFragment line = lineFragment(i);
            if (line.isEmpty())
                continue;
            const QRectF bounds = line.typographicBounds();
            if (bounds.right() < clip.left() || bounds.left() > clip.right())
                continue;
            const QString text = line.attributedString().string();
            const qint64 start = line.characterRange().location;
            for (qsizetype k = 0; k < text.size(); ++k) {
                const QChar c = text[k];
                if (c.isSurrogate() || !c.isSpace())
                    continue;
                // The character's own extent in either writing direction, so right-to-left text
                // gets its marks too.
                const double x1 = line.locationForCharacter(start + k).x();
                const double x2 = line.locationForCharacter(start + k + 1).x();
                const double width = std::abs(x2 - x1);
                if (width <= 0)
                    continue;
                const QRectF frame(std::min(x1, x2), top, width, height);
                marks.push_back(QRectF(frame.center(), QSizeF(width / 4, width / 4)));
            }
        }
    }
    return marks;
}

void EDTextLayoutFragment::draw(QPainter& painter, QPointF at) const
{
    platform::TextLayoutFragment::draw(painter, at);
    if (!m_showsInvisibleCharacters)
        return;
    QRectF clip(-1e300, -1e300, 2e300, 2e300);
    if (painter.hasClipping())
        clip = painter.clipBoundingRect().translated(-at);
    const std::vector<QRectF> marks = invisibleCharacterMarks(clip);
    if (marks.empty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_invisibleColor.isValid() ? m_invisibleColor : QColor(Qt::gray));
    for (const QRectF& mark : marks)
        painter.drawEllipse(mark.translated(at));
    painter.restore();
}
