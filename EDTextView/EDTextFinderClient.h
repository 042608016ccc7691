#pragma once

#include "platform/text/TextRange.h"

#include <QPointer>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class EDTextView;
class QPainter;
class QWidget;

// What the text finder (EDTextFinder) asks of a text view and has it do, in character ranges:
// UTF-16 offsets from the document start. Ranges are converted against the view's content storage;
// a range that does not convert (it starts outside the text) is left out. Every operation answers
// the empty value (an empty string, no ranges, false) or does nothing when the view is gone.
// Main thread only.
class EDTextFinderClient {
public:
    QPointer<EDTextView> textView;

    QString string() const;
    qint64 stringLength() const;
    bool isSelectable() const;
    bool isEditable() const;
    bool allowsMultipleSelection() const { return false; }

    // Asks the view about each (range, string) pair in order, up to the shorter list, and stops at
    // the first refusal; pairs whose range does not convert are not asked about. True for no pairs.
    bool shouldReplaceCharacters(
        const std::vector<platform::CharacterRange>& ranges, const QStringList& strings);
    // Replaces the range as a user edit: the view's delegate and plug-ins may refuse it; the new
    // text takes the attributes typing at its start would take and is one undo step of its own.
    void replaceCharacters(platform::CharacterRange range, const QString& string);
    // Replaces every range (ranges overlapping an earlier one are left out) with `string`, each
    // copy with the attributes typing at its range's start would take, as one undo step. Ranges
    // that lie close together are replaced by one edit of the text between the first and the last,
    // so that thousands of matches make a few edits; a selection stays on the text it held, taking
    // in whole copies where it reached into a range. Answers where the copies stand now, in order.
    // Nothing in a view that is not editable; the caller asks `shouldReplaceCharacters` first.
    std::vector<platform::TextRange> replaceCharacters(
        const std::vector<platform::CharacterRange>& ranges, const QString& string);

    // The first range of the first selection; (0, 0) when there is none.
    platform::CharacterRange firstSelectedRange() const;
    // The ranges of every selection that is not transient, in order.
    std::vector<platform::CharacterRange> selectedRanges() const;
    // One selection holding every range that converts; nothing when none does.
    void setSelectedRanges(const std::vector<platform::CharacterRange>& ranges);
    // Scrolls the view so that the range's text is visible.
    void scrollRangeToVisible(platform::CharacterRange range);
    // The text the viewport has laid out, as one range.
    std::vector<platform::CharacterRange> visibleCharacterRanges() const;
    // The frames of the range's glyphs where they are drawn, one per line (view coordinates), in
    // text order; none when the range does not convert.
    std::optional<std::vector<QRectF>> rectsForCharacterRange(platform::CharacterRange range) const;
    // The view shows the whole text: it is the content view at every index, and the effective
    // range is the document's (left as it is without a view).
    EDTextView* contentView(qint64 index, platform::CharacterRange* effectiveRange) const;
    // Draws the laid-out paragraph that holds the range's start with `painter` (view coordinates),
    // at its frame's origin rounded to whole pixels; only for the client's own view.
    void drawCharacters(platform::CharacterRange range, const QWidget* contentView, QPainter* painter) const;

    // Told before every edit while incremental searching is on.
    void noteClientStringWillChange();
};
