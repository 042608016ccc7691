#include "EDTextView/EDTextLayoutFragment.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

void EDTextLayoutFragment::setShowsInvisibleCharacters(bool shows, const QColor& color)
{
    m_showsInvisibleCharacters = shows;
    if (color.isValid())
        m_invisibleColor = color;
}

double EDTextLayoutFragment::glyphLift(qsizetype row) const
{
    return visualLine(row).glyphTop / 2;
}

std::vector<QRectF> EDTextLayoutFragment::invisibleCharacterMarks(const QRectF& clip) const
{
    std::vector<QRectF> marks;
    enumerateInvisibleMarks(clip, [&](const QRectF& mark, bool isParagraphEnd) {
        if (!isParagraphEnd)
            marks.push_back(mark);
    });
    return marks;
}

std::optional<QRectF> EDTextLayoutFragment::paragraphEndMark() const
{
    std::optional<QRectF> end;
    enumerateInvisibleMarks(
        QRectF(-1e300, -1e300, 2e300, 2e300), [&](const QRectF& mark, bool isParagraphEnd) {
            if (isParagraphEnd)
                end = mark;
        });
    return end;
}

void EDTextLayoutFragment::enumerateInvisibleMarks(
    const QRectF& clip, const std::function<void(const QRectF&, bool isParagraphEnd)>& body) const
{
    if (state() != State::layoutAvailable)
        return;
    const qsizetype lineCount = lineFragmentCount();
    const auto [firstRow, endRow] = visualLinesMeeting(clip.top(), clip.bottom());
    for (qsizetype row = firstRow; row < endRow; ++row) {
        const VisualLine visual = visualLine(row);
        const double top = visual.y + visual.glyphTop - visual.glyphTop / 2;
        const double height = visual.ascent + visual.descent;
        auto mark = [&](double x1, double x2, bool isParagraphEnd) {
            const double width = std::abs(x2 - x1);
            const QRectF frame(std::min(x1, x2), top, width, height);
            body(QRectF(frame.center(), QSizeF(width / 4, width / 4)), isParagraphEnd);
        };
        for (qsizetype i = visual.firstLineFragment; i < visual.firstLineFragment + visual.lineFragmentCount;
             ++i) {
            const platform::TextLineFragment line = lineFragment(i);
            const bool holdsTerminator = i + 1 == lineCount && terminatorLength() > 0;
            if (line.isEmpty() && !holdsTerminator)
                continue;
            const QRectF bounds = line.typographicBounds();
            if (bounds.right() + visual.height < clip.left() || bounds.left() - visual.height > clip.right())
                continue;
            const platform::AttributedString attributed = line.attributedString();
            const QString text = attributed.string();
            const qint64 start = line.characterRange().location;
            const qsizetype contentLength
                = holdsTerminator ? std::max<qsizetype>(0, text.size() - terminatorLength()) : text.size();
            for (qsizetype k = 0; k < contentLength; ++k) {
                const QChar c = text[k];
                if (c.isSurrogate() || !c.isSpace())
                    continue;
                // The character's own extent in either writing direction, so right-to-left text
                // gets its marks too.
                const double x1 = line.locationForCharacter(start + k).x();
                const double x2 = line.locationForCharacter(start + k + 1).x();
                if (x1 != x2)
                    mark(x1, x2, false);
            }
            if (holdsTerminator) {
                // The line end has no width of its own: it is marked as a space after the text,
                // on the side the paragraph's text runs to.
                const QVariant fontValue = attributed.attribute(platform::AttributeKey::font, contentLength);
                const QFont font = fontValue.canConvert<QFont>() ? fontValue.value<QFont>() : QFont();
                const double width = QFontMetricsF(font).horizontalAdvance(QLatin1Char(' '));
                const double x = line.locationForCharacter(start + contentLength).x();
                mark(x, baseWritingDirection() == Qt::RightToLeft ? x - width : x + width, true);
            }
        }
    }
}

void EDTextLayoutFragment::draw(QPainter& painter, QPointF at) const
{
    if (state() != State::layoutAvailable)
        return;
    QRectF clip(-1e300, -1e300, 2e300, 2e300);
    if (painter.hasClipping())
        clip = painter.clipBoundingRect().translated(-at);
    const auto [firstRow, endRow] = visualLinesMeeting(clip.top(), clip.bottom());
    for (qsizetype row = firstRow; row < endRow; ++row) {
        const VisualLine visual = visualLine(row);
        const QPointF lift(0, -visual.glyphTop / 2);
        // Glyphs may reach a little beyond their advance (italics, overhanging accents).
        const double reach = visual.height;
        for (qsizetype i = visual.firstLineFragment; i < visual.firstLineFragment + visual.lineFragmentCount;
             ++i) {
            const platform::TextLineFragment line = lineFragment(i);
            const QRectF bounds = line.typographicBounds();
            if (bounds.right() + reach < clip.left() || bounds.left() - reach > clip.right())
                continue;
            line.draw(painter, at + bounds.topLeft() + lift);
        }
    }
    if (!m_showsInvisibleCharacters)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_invisibleColor.isValid() ? m_invisibleColor : QColor(Qt::gray));
    enumerateInvisibleMarks(
        clip, [&](const QRectF& mark, bool) { painter.drawEllipse(mark.translated(at)); });
    painter.restore();
}
