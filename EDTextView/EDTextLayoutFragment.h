#pragma once

#include "platform/text/TextLayoutFragment.h"

#include <QColor>
#include <QRectF>

#include <vector>

// The layout of one paragraph as the text view draws it: the text, and, when the view shows
// invisible characters, a small dot on every white-space character.
//
// Lines with a line-height multiple are drawn where the layer placed their glyphs (the extra
// height above them), so that carets and selections, which follow the same geometry, line up with
// the text. Empty lines take the layout manager's default paragraph style, which the view keeps
// equal to the style of its typing attributes.
class EDTextLayoutFragment : public platform::TextLayoutFragment {
public:
    EDTextLayoutFragment() = default;

    bool showsInvisibleCharacters() const { return m_showsInvisibleCharacters; }
    void setShowsInvisibleCharacters(bool shows, const QColor& color = QColor());

    void draw(QPainter& painter, QPointF at) const override;

    // The dots for the white space of the rows that meet `clip` (fragment coordinates), in
    // fragment coordinates. Surrogates are never marked; a character outside the Basic
    // Multilingual Plane counts as two units.
    std::vector<QRectF> invisibleCharacterMarks(const QRectF& clip) const;

private:
    bool m_showsInvisibleCharacters = false;
    QColor m_invisibleColor;
};
