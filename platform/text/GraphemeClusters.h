#pragma once

#include <QString>

struct UBreakIterator;

namespace platform {

// Grapheme clusters (user-perceived characters) as ICU finds them. Qt's finder, tailored for Thai
// and Indic scripts, also breaks the emoji, flags, joined sequences and even surrogate pairs that
// follow such text in a string, which would leave a caret inside them, cut a character in two or
// let a delete take half of one. Without ICU's rules, surrogate pairs are still kept whole.
class GraphemeFinder {
public:
    explicit GraphemeFinder(const QString& text);
    ~GraphemeFinder();
    GraphemeFinder(const GraphemeFinder&) = delete;
    GraphemeFinder& operator=(const GraphemeFinder&) = delete;

    void setPosition(qsizetype at);
    qsizetype position() const { return m_position; }
    // The start and end of the text count as boundaries.
    bool isAtBoundary() const;
    // The next or previous boundary, or -1 when there is none; the finder moves there.
    qsizetype toNextBoundary();
    qsizetype toPreviousBoundary();

private:
    bool splitsPair(qsizetype at) const;

    QString m_text;
    UBreakIterator* m_iterator = nullptr;
    qsizetype m_position = 0;
};

// Whether a caret may stand at `at` in `text`: at either end or between two clusters.
bool isGraphemeBoundary(const QString& text, qsizetype at);

// The nearest cluster boundary at or before `at` (towards the start of `text`).
qsizetype graphemeBoundaryAtOrBefore(const QString& text, qsizetype at);

} // namespace platform
