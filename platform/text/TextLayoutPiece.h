#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextLayoutMemory.h"

#include <QColor>
#include <QFont>

#include <memory>
#include <vector>

class QTextLayout;

namespace platform {
class GraphemeFinder;
}

namespace platform {

// A run of a paragraph's text shaped and broken into lines by one QTextLayout: a whole paragraph of
// moderate length, or one of the bounded pieces a long paragraph is cut into. A piece is immutable
// once made, so layout fragments of successive versions of a paragraph share the pieces an edit did
// not touch. Its QTextLayout may be dropped to keep memory within the ledger's budget; the piece
// then shapes its text again on the next use.
//
// Each piece is its own bidirectional paragraph: runs of opposite direction are reordered inside a
// piece but not across its ends, and directional embeddings or isolates that open in one piece and
// close in another are lost. Pieces are cut after spaces where possible, which is also where such
// runs usually end. Tab stops count from the piece's start. A wrapped piece's first line takes the
// rest of the row the previous piece ended in; when an edit later moves the end of that row, the
// line is kept as it was rather than laid out again (that would move this piece's own end, and so
// on to the end of the paragraph), so such a row may end earlier than one layout of the whole
// paragraph would have it until the paragraph is next laid out afresh.
class TextLayoutPiece {
public:
    // Everything the layout depends on besides the text.
    struct Parameters {
        QFont font;
        double lineWidth = 0; // 0: lines do not wrap
        // Where in a row that the previous piece began this piece's first line starts (wrapping
        // only); the first line gets the rest of the row.
        double startX = 0;
        double tabInterval = 28.0;
        // The colour of text that carries none. Text whose font and colour are these defaults
        // is laid out without formats, which costs QTextLayout noticeably less; it is drawn in
        // the colour its fragment gives, so a piece holding none of its own (bakesForeground)
        // draws right in any default colour.
        QColor foreground;
        bool justified = false;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        bool operator==(const Parameters&) const = default;
    };
    struct Line {
        qint32 start = 0; // piece-relative
        qint32 length = 0;
        double advance = 0; // from the line's start to where text after it would go (a justified
                            // line's whole width)
        double naturalWidth = 0; // the part that is not hanging white space
        // Where QTextLayout put the text inside the line: right of its start when it aligned a
        // right-to-left line that it did not justify.
        double textOffset = 0;
        double ascent = 0;
        double descent = 0;
        // White space ends the line and does not fit in it: QTextLayout leaves it out of the
        // advance, yet nothing more fits in the row.
        bool fullRow = false;
    };

    // What arranging a paragraph needs of a piece. Fragments keep a copy beside each piece, so
    // that arranging a paragraph of thousands of pieces reads one array instead of visiting each.
    struct Summary {
        qint64 length = 0;
        qint64 metadataCost = 0;
        qint32 lineCount = 0;
        bool continuesRow = false;
        Line first;
        Line last;
        // The natural heights of the lines between the first and the last.
        double middleHeight = 0;
        double widest = 0;
    };

    static std::shared_ptr<const TextLayoutPiece> make(
        AttributedString text, const Parameters& parameters, std::shared_ptr<TextLayoutMemory> memory);
    ~TextLayoutPiece();
    TextLayoutPiece(const TextLayoutPiece&) = delete;
    TextLayoutPiece& operator=(const TextLayoutPiece&) = delete;

    const AttributedString& text() const { return m_text; }
    qsizetype length() const { return m_text.length(); }
    const Parameters& parameters() const { return m_parameters; }
    // Whether some of the text carries a colour of its own equal to `parameters().foreground`,
    // and so was laid out without a format: it draws right only in that default colour.
    bool bakesForeground() const { return m_bakesForeground; }
    const std::vector<Line>& lines() const { return m_lines; }
    // The sum of the natural heights (ascent plus descent) of the lines before each line, and of
    // all of them last, so that where a line sits costs no walk over the lines before it.
    double naturalHeightBefore(size_t line) const;
    double widestLine() const { return m_widest; }
    // Whether the first line continues the row the previous piece ended in. With wrapping it does
    // not when the first word would not fit in the rest of that row.
    bool continuesRow() const { return m_continuesRow; }
    Summary summary() const;

    // The laid-out text; lines are positioned at (0, 0) so a caller places each one itself. The
    // returned layout stays valid for as long as the caller holds it.
    std::shared_ptr<const QTextLayout> layout() const;
    bool hasLayout() const { return m_layout != nullptr; }
    // The x of each caret of a line, from the line's start to its end (QTextLine::cursorToX),
    // NaN where no caret stands (inside a grapheme cluster). Worked out on first use, which costs a
    // pass over the line per caret, and kept with the layout, so that the clicks and drags that
    // follow on that line look the carets up.
    const std::vector<double>& caretPositions(qint32 line) const;
    // Whether a caret may stand at `position` inside the text of `layout`: where QTextLayout puts
    // one and a grapheme cluster begins (Qt's own positions split the emoji, flags and joined
    // sequences that follow Thai or Indic text). `clusters` runs over the same text.
    static bool isCaretPosition(const QTextLayout& layout, GraphemeFinder& clusters, qint32 position);
    bool hasCaretPositions(qint32 line) const
    {
        return m_layout && size_t(line) < m_caretPositions.size() && !m_caretPositions[size_t(line)].empty();
    }
    // Bytes held besides the layout, and the estimate the ledger counts for the layout.
    qint64 metadataCost() const;
    qint64 layoutCost() const { return m_layoutCost; }

private:
    TextLayoutPiece(
        AttributedString text, const Parameters& parameters, std::shared_ptr<TextLayoutMemory> memory);
    std::shared_ptr<QTextLayout> build(bool continuing, std::vector<Line>* lines) const;
    void keep(std::shared_ptr<QTextLayout> layout) const;
    void release() const;

    friend class TextLayoutMemory;

    AttributedString m_text;
    Parameters m_parameters;
    std::vector<Line> m_lines;
    std::vector<double> m_heightBefore;
    double m_widest = 0;
    bool m_continuesRow = false;
    bool m_bakesForeground = false;
    qint64 m_layoutCost = 0;
    std::shared_ptr<TextLayoutMemory> m_memory;
    mutable std::shared_ptr<QTextLayout> m_layout;
    mutable TextLayoutMemory::Position m_position;
    mutable std::vector<std::vector<double>> m_caretPositions; // per line, while the layout is kept
};

} // namespace platform
