#pragma once

#include "platform/text/TextSelection.h"

#include <QPointF>
#include <QRectF>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

class TextLayoutManager;

// Moves and extends selections the way the keyboard and the mouse do. Character moves step over
// whole grapheme clusters (a CRLF pair, a surrogate pair, a base with its marks); visual moves
// follow the laid-out order of bidirectional text.
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
    // selection has no range.
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
    Target move(TextLocation from, TextSelection::Affinity affinity, double keptX, Direction direction,
        Destination destination);
    Target moveVertically(TextLocation from, TextSelection::Affinity affinity, double keptX, bool up);
    bool isRightToLeft(TextLocation at) const;
    bool isBackwardish(TextLocation at, Direction direction) const;

    TextLayoutManager& m_manager;
};

} // namespace platform
