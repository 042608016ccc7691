#pragma once

#include "platform/text/TextLayoutFragment.h"

#include <QColor>
#include <QRectF>

#include <functional>
#include <optional>
#include <vector>

// The layout of one paragraph as the text view draws it: the text, and, when the view shows
// invisible characters, a small dot on every white-space character.
//
// A line-height multiple makes a row taller; the layer puts the extra height above the glyphs,
// and this fragment draws them half of it higher, so that the text sits in the middle of its row.
// Carets and selections cover the whole row and so still frame it. Empty lines take the layout
// manager's default paragraph style, which the view keeps equal to the style of its typing
// attributes.
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
    // The mark of the paragraph's end, drawn with the others: after its last character, as for a
    // space. None for the last paragraph when no line end follows it.
    std::optional<QRectF> paragraphEndMark() const;
    // How far the glyphs of a row are drawn above where the layer placed them (zero without a
    // line-height multiple).
    double glyphLift(qsizetype row) const;

private:
    void enumerateInvisibleMarks(
        const QRectF& clip, const std::function<void(const QRectF&, bool isParagraphEnd)>& body) const;

    bool m_showsInvisibleCharacters = false;
    QColor m_invisibleColor;
};
