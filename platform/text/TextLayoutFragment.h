#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextLayoutMemory.h"
#include "platform/text/TextLayoutPiece.h"
#include "platform/text/TextRange.h"
#include "platform/text/TextSelection.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QRectF>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace platform {

class TextLayoutFragment;
class TextLayoutManager;

// One piece of a visual line: the part of a row that one laid-out piece of the paragraph holds. A
// paragraph of moderate length gives one line fragment per row; a long one is laid out in pieces
// (see TextLayoutPiece), and a row may then be made of the end of one piece and the start of the
// next, or, without wrapping, of every piece of the paragraph side by side.
//
// Offsets are relative to the start of the fragment's paragraph; the last line's character range
// includes the paragraph terminator. Geometry is in the layout fragment's coordinates (its frame's
// origin is (0, 0)) and in double throughout, so positions along a very long line stay exact.
// A line fragment is a value made by its layout fragment and refers to that fragment's pieces: it
// is usable while the layout fragment is alive (a TextLineFragmentHandle holds both).
//
// In a very long paragraph only the text that was asked for is laid out; a line of the rest is
// estimated: it has a character range and bounds but no glyphs, draws nothing, and maps between
// characters and x by proportion. The layout manager lays out what a caller reaches before
// answering, so estimated lines are only met off screen.
class TextLineFragment {
public:
    TextRange characterRange() const { return m_characterRange; }
    QRectF typographicBounds() const { return m_bounds; }
    // The baseline origin of the glyphs, relative to the typographic bounds.
    QPointF glyphOrigin() const { return m_glyphOrigin; }
    bool isEmpty() const { return m_characterRange.isEmpty(); }
    bool isEstimated() const { return m_estimated; }
    // The row (visual line) of the layout fragment this line belongs to.
    qsizetype visualLineIndex() const { return m_row; }
    // The characters of the line, terminator included on the paragraph's last line.
    AttributedString attributedString() const;
    // The caret position before the character at `index` (paragraph-relative), in fragment
    // coordinates; indexes outside the line are clamped to it.
    QPointF locationForCharacter(qint64 index) const;
    // Where the characters [from, to) (paragraph-relative) stand, as x spans in fragment
    // coordinates: one per run of glyphs, since a range across both directions is not one span.
    // None for an estimated line or no characters of this line.
    std::vector<std::pair<double, double>> characterSpans(qint64 from, qint64 to) const;
    // The paragraph-relative caret index nearest to a point's x (fragment coordinates), among the
    // carets of this line.
    qint64 characterIndex(QPointF point) const;
    // The caret one step to the right or left of `index` (paragraph-relative) within this line, in
    // the laid-out order of its text; none at the line's edge.
    std::optional<qint64> visualStep(qint64 index, bool right) const;
    // The caret at the line's right or left edge.
    qint64 edgeIndex(bool right) const;
    // Whether a caret may stand before the character at `index` (paragraph-relative): not inside a
    // grapheme cluster.
    bool isValidCaretIndex(qint64 index) const;
    // Draws the line with its typographic bounds' top-left corner at `at`.
    void draw(QPainter& painter, QPointF at) const;

private:
    friend class TextLayoutFragment;
    qint64 contentEnd() const;
    // Whether the character before `index` (paragraph-relative, inside the line) is white space.
    bool isSpaceBefore(qint64 index) const;
    // Where the QTextLine's own x = 0 lies, in fragment coordinates.
    double lineOriginX() const;

    const TextLayoutPiece* m_piece = nullptr; // none for an empty paragraph's line
    const AttributedString* m_terminator = nullptr; // the paragraph's last line only
    // The fragment's default colour, which text without a colour of its own is drawn in; read
    // when drawing, so that a line made before a change of it draws in the new one.
    const QColor* m_foreground = nullptr;
    qint32 m_lineInPiece = 0;
    qint64 m_pieceStart = 0; // paragraph-relative start of the piece
    qsizetype m_row = 0;
    bool m_estimated = false;
    bool m_rightToLeft = false;
    TextRange m_characterRange;
    QRectF m_bounds;
    QPointF m_glyphOrigin;
};

// A line fragment together with the layout fragment it belongs to. Holding one keeps both usable
// whatever the layout manager's cache drops in the meantime.
struct TextLineFragmentHandle {
    std::shared_ptr<TextLayoutFragment> fragment;
    qsizetype index = 0; // of the line in its fragment
    TextLineFragment line;

    explicit operator bool() const { return fragment != nullptr; }
    const TextLineFragment* operator->() const { return &line; }
};

// The layout of one paragraph. A fragment is made by the layout manager (through its factory, so
// that a text view can use a subclass) and laid out when first needed, once; a change of the
// paragraph or of the layout parameters gives a new fragment, which reuses the pieces of the old
// one the change did not touch.
//
// A fragment keeps its geometry per piece, not per row, so that laying out a changed paragraph
// again costs the pieces that changed plus a pass over the pieces, however many rows it has; rows
// and line fragments are made when asked for.
//
// A paragraph longer than the manager's estimate threshold is not laid out whole: its text starts
// as one estimated run (rows of the default font, filled at the font's average width), and the
// manager lays out the pieces a caller reaches (the viewport, a caret, a click), cut after a space
// as usual. Each time, the estimate on the far side of the new pieces from the text laid out before
// takes up the difference, so that laid-out text never moves and the paragraph keeps its height
// while its estimate holds; an estimate too small to take it up keeps a quarter of its own size
// and the text after it moves. Pieces once laid out stay with the fragment.
class TextLayoutFragment {
public:
    enum class State { estimated, layoutAvailable };

    // A row of the paragraph as drawn: its line fragments sit side by side on one baseline.
    struct VisualLine {
        TextRange characterRange; // paragraph-relative, like the line fragments'
        double y = 0;
        double height = 0; // line spacing included
        double glyphTop = 0; // where the glyphs' box starts below y (the line-height multiple's extra)
        double ascent = 0;
        double descent = 0;
        qsizetype firstLineFragment = 0;
        qsizetype lineFragmentCount = 0;
        // The row's text is not laid out yet, or not all of it: a wrapped row that ends where
        // estimated text begins may take some of that in once it is laid out.
        bool estimated = false;
    };

    TextLayoutFragment();
    virtual ~TextLayoutFragment();
    TextLayoutFragment(const TextLayoutFragment&) = delete;
    TextLayoutFragment& operator=(const TextLayoutFragment&) = delete;

    // The manager that laid the fragment out; none once that manager is gone.
    TextLayoutManager* textLayoutManager() const;
    // The paragraph's range in the document, current as of the last time the manager handed the
    // fragment out.
    TextRange rangeInElement() const { return m_range; }
    qint64 layoutParagraphIndex() const { return m_paragraphIndex; }
    QRectF layoutFragmentFrame() const { return m_frame; }
    // Where drawing may reach, relative to the frame's origin (wider than the frame when glyphs
    // overhang).
    QRectF renderingSurfaceBounds() const { return m_surface; }
    State state() const { return m_state; }
    qint64 contentLength() const { return m_contentLength; }
    int terminatorLength() const { return int(m_terminator.length()); }
    // The paragraph's text, assembled from its pieces: linear in the paragraph's length.
    AttributedString attributedString() const;
    // The empty line after a document's final terminator (or of an empty document).
    bool isExtraLineFragment() const
    {
        return m_contentLength == 0 && m_terminator.isEmpty() && m_range.location > 0;
    }
    Qt::LayoutDirection baseWritingDirection() const { return m_direction; }
    // The style the paragraph was laid out with.
    const ParagraphStyle& paragraphStyle() const { return m_style; }

    // Line fragments in logical order, and rows from the top; none before layout.
    qsizetype lineFragmentCount() const { return m_lineCount; }
    TextLineFragment lineFragment(qsizetype index) const;
    qsizetype visualLineCount() const { return m_rowCount; }
    VisualLine visualLine(qsizetype row) const;
    // Every line fragment at once, made on first use: linear in the paragraph's rows, so meant for
    // paragraphs of moderate length.
    const std::vector<TextLineFragment>& textLineFragments() const;

    // The line holding a paragraph-relative index. An index where one row ends and the next
    // begins belongs to the later row unless the affinity is upstream; the end of the paragraph
    // belongs to its last line.
    std::optional<qsizetype> lineFragmentIndex(
        qint64 index, TextSelection::Affinity affinity = TextSelection::Affinity::downstream) const;
    // The line at a point in fragment coordinates: the row at its y (clamped to the first and
    // last), then the line at its x (clamped to the row's ends).
    std::optional<qsizetype> lineFragmentIndex(QPointF fragmentPoint) const;
    // The row at a y in fragment coordinates, clamped to the first and last.
    qsizetype visualLineIndex(double y) const;
    // The paragraph-relative caret index nearest to a point in fragment coordinates.
    std::optional<qint64> characterIndex(QPointF fragmentPoint) const;
    // The carets at the two ends of a row: the one furthest left and the one furthest right.
    std::pair<qint64, qint64> visualLineEdges(qsizetype row) const;

    // Draws the lines that meet the painter's clip (all of them without a clip), with the frame's
    // origin at `at`.
    virtual void draw(QPainter& painter, QPointF at) const;
    // The rows [first, last) whose glyphs may be drawn between two heights (fragment coordinates):
    // under a line-height multiple below 1 the glyphs are taller than their row and reach into the
    // rows beside it, and a row repainted alone would cut them off.
    std::pair<qsizetype, qsizetype> visualLinesMeeting(double top, double bottom) const;

    // The colour text without one of its own is drawn in.
    QColor foregroundColor() const { return m_pieceParameters.foreground; }

    // Bytes this fragment holds besides the layouts its pieces keep in the manager's ledger.
    qint64 memoryCost() const { return m_cost; }
    // Whether part of the paragraph is estimated rather than laid out.
    bool hasEstimatedText() const { return m_estimatedCount > 0; }

private:
    friend class TextLayoutManager;

    struct RowMetrics {
        double ascent = 0;
        double descent = 0;
        double width = 0; // from the row's leading edge to the end of its last line
        double inkWidth = 0; // the same without hanging white space
        double height = -1; // an estimated row's own height, line spacing included
    };
    struct Placement {
        qint64 start = 0; // paragraph-relative
        std::shared_ptr<const TextLayoutPiece> piece;
        TextLayoutPiece::Summary summary;
        // Whether its first line goes on in the row the previous piece ended in.
        bool continuesRow = false;
        // Set by the arrangement.
        qsizetype firstLine = 0;
        qsizetype firstRow = 0; // the row of its first line
        double y = 0; // the top of that row
        double x = 0; // where its first line starts, from the row's leading edge
        RowMetrics sharedRow; // of that row, when the piece is the last with a line in it
        // An estimated placement has no piece: `summary.length` units over `summary.lineCount`
        // rows that take `extent` in all, their height when wrapping (rows of their own), their
        // width when not.
        double extent = 0;
        bool isEstimated() const { return !piece; }
    };
    // A change of the paragraph since the layout this fragment inherits, in the offsets of the
    // text as it was just before the change.
    struct Edit {
        qint64 start = 0;
        qint64 removed = 0;
        qint64 inserted = 0;
    };
    struct Inheritance {
        std::vector<Placement> pieces;
        TextLayoutPiece::Parameters parameters; // of the pieces, but for where their rows start
        qint64 contentLength = 0;
        std::vector<Edit> edits;
    };
    struct LayoutInput {
        QFont font;
        QColor foreground;
        double availableWidth = 0; // 0: no wrapping
        double padding = 0;
        double containerWidth = 0;
        ParagraphStyle style;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        qint64 contentLength = 0;
        AttributedString terminator;
        // The paragraph's content from a paragraph-relative start, `length` units.
        std::function<AttributedString(qint64 start, qint64 length)> text;
        // The whole content when the manager read it ahead, else empty.
        AttributedString content;
        AttributedString read(qint64 start, qint64 length) const
        {
            if (contentLength > 0 && content.length() == contentLength)
                return start == 0 && length == contentLength ? content : content.mid(start, length);
            return text(start, length);
        }
        // The font's ascent and descent when the manager knows them (negative otherwise).
        double fontAscent = -1;
        double fontDescent = -1;
        std::shared_ptr<TextLayoutMemory> memory;
        qsizetype pieceLimit = 0;
        qsizetype pieceTarget = 0;
        // Content longer than this starts estimated; the font's average character width fills the
        // estimate's rows.
        qsizetype estimateBeyond = 0;
        double averageCharacterWidth = 0;
    };

    void place(TextLayoutManager* manager, qint64 paragraphIndex, TextRange range, double y);
    void layout(const LayoutInput& input);
    // Takes a new default colour without a new layout: a colour moves nothing. False, and nothing
    // changed, when some text carries a colour of its own equal to the old default and so was laid
    // out without a format; only a new layout draws that text apart from the rest.
    bool recolour(const QColor& foreground);
    // Takes over what `previous` laid out (or inherited), to be reused after `edit`.
    void inherit(const TextLayoutFragment& previous, const Edit& edit);
    std::vector<Placement> placePieces(const LayoutInput& input);
    void arrange(const LayoutInput& input);
    // Where the row the last placement ended in has got to: a wrapped piece's first line goes on
    // from there when that placement is a laid-out piece.
    struct RowCursor {
        double rowEnd = 0;
        bool any = false; // a placement comes before
        bool afterPiece = false;
        void advance(const Placement& placement);
    };
    // Lays out `text`, starting at paragraph-relative `start`, in pieces appended to `out`.
    void appendPieces(const LayoutInput& input, qint64 start, const AttributedString& text,
        std::vector<Placement>& out, RowCursor& cursor) const;
    // An estimated placement of `length` units from `start`, at this fragment's density.
    Placement estimatedPlacement(qint64 start, qint64 length, std::optional<double> extent = {}) const;
    void setExtent(Placement& placement, double extent) const;
    void measureDensity(const std::vector<Placement>& pieces);
    void recount();
    // Replaces the estimate at `index` by pieces holding [from, to), widened to where pieces may
    // be cut, between what is left of the estimate.
    void splitEstimate(const LayoutInput& input, size_t index, qint64 from, qint64 to);
    // Lays out the estimated text of [from, to) (paragraph-relative); answers whether anything
    // was laid out.
    bool layoutCharacters(const LayoutInput& input, qint64 from, qint64 to);
    // Lays out the estimated text between `low` and `high`: heights in the fragment's coordinates
    // when it wraps, offsets from the row's leading edge when it does not.
    bool layoutExtent(const LayoutInput& input, double low, double high);
    // Lays out the estimated text that meets `bounds` (fragment coordinates).
    bool layoutRect(const LayoutInput& input, const QRectF& bounds);
    double position(const Placement& placement) const { return m_wrapping ? placement.y : placement.x; }
    RowMetrics estimatedRow(const Placement& placement) const;
    double lineAdvance(const Placement& placement, qint32 line) const;
    qint64 estimatedLineStart(const Placement& placement, qint64 line) const;

    // The piece whose first row is the last at or before `row`, and the row's index in it.
    size_t pieceOfRow(qsizetype row) const;
    size_t pieceOfLine(qsizetype line) const;
    RowMetrics rowMetrics(qsizetype row) const;
    double rowHeight(const RowMetrics& metrics) const;
    // How far the glyphs of the first and last rows may reach beyond the fragment's frame.
    double glyphOverhang() const;
    double rowTop(qsizetype row) const;
    double rowShift(const RowMetrics& metrics) const;
    std::pair<qsizetype, qsizetype> rowLines(qsizetype row) const;
    double lineX(const Placement& placement, qint32 line, const RowMetrics& row) const;

    QPointer<TextLayoutManager> m_manager;
    TextRange m_range;
    qint64 m_paragraphIndex = 0;
    QRectF m_frame;
    QRectF m_surface;
    State m_state = State::estimated;
    qint64 m_contentLength = 0;
    AttributedString m_terminator;
    ParagraphStyle m_style;
    Qt::LayoutDirection m_direction = Qt::LeftToRight;
    std::vector<Placement> m_pieces;
    TextLayoutPiece::Parameters m_pieceParameters;
    qsizetype m_lineCount = 0;
    qsizetype m_rowCount = 0;
    double m_multiple = 1; // applied to natural line heights
    double m_spacing = 0;
    double m_padding = 0;
    double m_available = 0; // the width rows are aligned in
    bool m_wrapping = false;
    RowMetrics m_emptyRow; // the one row of an empty paragraph
    // For estimates: the default font's line, and how many units fill a row (wrapping) or how wide
    // a unit is (not), from the pieces laid out once there are enough of them.
    double m_estimateAscent = 0;
    double m_estimateDescent = 0;
    double m_wrapWidth = 0;
    double m_fontUnitWidth = 1;
    double m_unitWidth = 1; // with wrapping, the row width a unit takes up, white space included
    qsizetype m_estimatedCount = 0;
    qint64 m_cost = 0;
    std::unique_ptr<Inheritance> m_inheritance;
    mutable std::unique_ptr<std::vector<TextLineFragment>> m_allLines;
};

// Pieces a long paragraph is cut into: at most `pieceLimit` units, cut near `pieceTarget` units.
inline constexpr qsizetype textLayoutPieceLimit = 4096;
inline constexpr qsizetype textLayoutPieceTarget = 2048;
// A paragraph longer than this is laid out only where it is reached; the rest is estimated.
inline constexpr qsizetype textLayoutEstimateThreshold = 65536;

} // namespace platform
