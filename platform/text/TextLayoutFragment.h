#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextRange.h"

#include <QFont>
#include <QRectF>
#include <QTextLayout>

#include <memory>
#include <vector>

class QPainter;

namespace platform {

class TextLayoutFragment;
class TextLayoutManager;

// One visual line of a layout fragment. Offsets are relative to the start of the fragment's
// paragraph; the last line's character range includes the paragraph terminator.
class TextLineFragment {
public:
    TextRange characterRange() const { return m_characterRange; }
    // In the fragment's coordinates (the fragment frame's origin is (0, 0)).
    QRectF typographicBounds() const { return m_bounds; }
    // The baseline origin of the glyphs, relative to the typographic bounds.
    QPointF glyphOrigin() const { return m_glyphOrigin; }
    bool isEmpty() const { return m_characterRange.isEmpty(); }
    AttributedString attributedString() const;
    // The caret position before the character at `index` (paragraph-relative), in fragment
    // coordinates; indexes outside the line are clamped to it.
    QPointF locationForCharacter(qint64 index) const;
    // The paragraph-relative caret index nearest to a point in fragment coordinates.
    qint64 characterIndex(QPointF point) const;
    void draw(QPainter& painter, QPointF at) const;

private:
    friend class TextLayoutFragment;
    const TextLayoutFragment* m_fragment = nullptr;
    int m_lineNumber = -1; // -1 for a line with no glyphs (an empty paragraph)
    TextRange m_characterRange;
    QRectF m_bounds;
    QPointF m_glyphOrigin;
};

// The layout of one paragraph over a QTextLayout. A fragment is made by the layout manager (through
// its factory, so that a text view can use a subclass) and laid out when first needed; the manager
// keeps a bounded cache of laid-out fragments.
class TextLayoutFragment {
public:
    enum class State { estimated, layoutAvailable };

    TextLayoutFragment(AttributedString paragraphText, int terminatorLength, TextRange range);
    virtual ~TextLayoutFragment();
    TextLayoutFragment(const TextLayoutFragment&) = delete;
    TextLayoutFragment& operator=(const TextLayoutFragment&) = delete;

    TextLayoutManager* textLayoutManager() const { return m_manager; }
    // The paragraph's range in the document, current as of the last time the manager handed the
    // fragment out.
    TextRange rangeInElement() const { return m_range; }
    qint64 layoutParagraphIndex() const { return m_paragraphIndex; }
    QRectF layoutFragmentFrame() const { return m_frame; }
    // Where drawing may reach, relative to the frame's origin (wider than the frame when glyphs
    // overhang).
    QRectF renderingSurfaceBounds() const { return m_surface; }
    State state() const { return m_state; }
    const std::vector<TextLineFragment>& textLineFragments() const { return m_lines; }
    const AttributedString& attributedString() const { return m_text; }
    int terminatorLength() const { return m_terminatorLength; }
    bool isExtraLineFragment() const { return m_text.isEmpty() && m_range.location > 0; }
    const QTextLayout& textLayout() const { return m_layout; }
    // The line holding a paragraph-relative index; the end of the paragraph maps to its last line.
    const TextLineFragment* lineFragment(qint64 index) const;
    const TextLineFragment* lineFragment(QPointF fragmentPoint) const;
    Qt::LayoutDirection baseWritingDirection() const;

    virtual void draw(QPainter& painter, QPointF at) const;

    struct LayoutParameters {
        QFont defaultFont;
        double availableWidth = 0; // <= 0: no wrapping
        double padding = 0;
        double containerWidth = 0;
        double defaultLineHeightMultiple = 0;
    };

private:
    friend class TextLayoutManager;
    void layout(const LayoutParameters& parameters);
    void place(TextLayoutManager* manager, qint64 paragraphIndex, TextRange range, double y);

    AttributedString m_text;
    int m_terminatorLength = 0;
    TextRange m_range;
    qint64 m_paragraphIndex = 0;
    TextLayoutManager* m_manager = nullptr;
    QTextLayout m_layout;
    std::vector<TextLineFragment> m_lines;
    QRectF m_frame;
    QRectF m_surface;
    State m_state = State::estimated;
};

} // namespace platform
