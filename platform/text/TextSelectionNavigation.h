#pragma once

#include "platform/text/TextSelection.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

class TextLayoutManager;

// Moves and extends selections the way the keyboard and the mouse do. Character moves step over
// whole grapheme clusters (a CRLF pair, a surrogate pair, a base with its marks); visual moves
// follow the laid-out order of bidirectional text. Every move looks only at text near the caret,
// so it costs the same in a paragraph of any length: boundaries are searched in windows of a few
// thousand units, and a word or sentence longer than that is crossed in steps of that size.
//
// Left and Right travel along a row; past its end they go on to the next row in the document's
// reading order (that of its first paragraph): Right goes down a left-to-right document and up a
// right-to-left one, whatever the direction of the paragraph in between, so pressing one arrow
// key again and again always reaches an end of the document.
class TextSelectionNavigation {
public:
    enum class Direction { forward = 0, backward = 1, right = 2, left = 3, up = 4, down = 5 };
    enum class Destination {
        character = 0,
        word = 1,
        line = 2,
        sentence = 3,
        paragraph = 4,
        container = 5,
        document = 6
    };
    enum Modifier : unsigned { extend = 0x1, visual = 0x2, multiple = 0x4 };

    explicit TextSelectionNavigation(TextLayoutManager& manager);

    // The selection after moving (or, when extending, after moving its free end); none when the
    // selection has no range. Paragraph and sentence moves from a boundary go on to the next one.
    std::optional<TextSelection> destinationSelection(const TextSelection& selection, Direction direction,
        Destination destination, bool extending, bool confined);
    // What a delete in `direction` removes: a selected range itself, else the span from the caret
    // to the destination. Empty spans are left out.
    std::vector<TextRange> deletionRanges(const TextSelection& selection, Direction direction,
        Destination destination, bool allowsDecomposition);
    TextSelection textSelection(TextSelection::Granularity granularity, const TextSelection& enclosing);
    // The selections a click or drag at `point` makes (container coordinates).
    std::vector<TextSelection> textSelections(QPointF point, TextLocation containerLocation,
        const std::vector<TextSelection>& anchors, unsigned modifiers, bool selecting, QRectF bounds);

    // Building blocks, also used by the text view.
    TextLocation nextCharacter(TextLocation from) const;
    TextLocation previousCharacter(TextLocation from) const;
    TextLocation nextWordEnd(TextLocation from) const;
    TextLocation previousWordStart(TextLocation from) const;
    // The end of the sentence at or after `from` (before the spaces that follow it), and the start
    // of the sentence before `from`.
    TextLocation nextSentenceEnd(TextLocation from) const;
    TextLocation previousSentenceStart(TextLocation from) const;
    TextRange wordRange(TextLocation at) const;
    TextRange paragraphRange(TextLocation at) const;
    // Calls `body` with each grapheme cluster from `from` on, until it answers false.
    void enumerateComposedCharacterSequences(
        TextLocation from, const std::function<bool(const QString&, TextRange)>& body) const;

private:
    struct Target {
        TextLocation location = 0;
        TextSelection::Affinity affinity = TextSelection::Affinity::downstream;
        double x = 0;
        bool keepsX = false;
    };
    // A paragraph as the storage holds it: its range, and where its content ends (before the
    // terminator).
    struct Paragraph {
        qint64 index = -1;
        TextRange range;
        TextLocation contentEnd = 0;
    };
    Paragraph paragraphAt(TextLocation at) const;
    Paragraph paragraph(qint64 index) const;
    // The text of [start, end), widened at the end so as not to split a surrogate pair.
    QString window(TextLocation start, TextLocation& end) const;
    // A location at or before `at` (not before `floor`) where a grapheme cluster surely begins.
    TextLocation clusterStartBefore(TextLocation at, TextLocation floor) const;
    std::optional<TextLocation> nextWordEndWithin(const Paragraph& paragraph, TextLocation from) const;
    std::optional<TextLocation> previousWordStartWithin(const Paragraph& paragraph, TextLocation from) const;
    bool isGraphemeBoundary(TextLocation at) const;
    // `at` itself when a cluster begins there, else the next (or previous) place one does: word and
    // sentence boundaries may fall inside a cluster, a caret may not.
    TextLocation clusterBoundary(TextLocation at, bool forward) const;

    Target move(TextLocation from, TextSelection::Affinity affinity, double keptX, Direction direction,
        Destination destination);
    // A move that lands on estimated text of a long paragraph lays it out and moves again
    // (`laidOut`), since laying out moves the rows around it.
    Target moveVertically(
        TextLocation from, TextSelection::Affinity affinity, double keptX, bool up, bool laidOut = false);
    Target moveVisually(
        TextLocation from, TextSelection::Affinity affinity, bool right, bool laidOut = false);
    TextLocation moveByWordVisually(TextLocation from, bool right);
    bool isRightToLeft(TextLocation at) const;
    bool isDocumentRightToLeft() const;
    bool isBackwardish(TextLocation at, Direction direction) const;

    TextLayoutManager& m_manager;
};

} // namespace platform
