#pragma once

#include "platform/text/TextLayoutManager.h"

#include <vector>

// The text view's layout manager. Every assignment of the selections posts the view's
// selection-change notification (with this manager as its sender) and emits
// `didChangeSelection`, whether or not the selections changed.
//
// Selections never overlap: selections that meet (two carets at one place, a caret inside a
// selected range, overlapping ranges) become one, so that typing never inserts twice at one spot.
class EDTextLayoutManager : public platform::TextLayoutManager {
    Q_OBJECT
public:
    explicit EDTextLayoutManager(QObject* parent = nullptr);

    void setTextSelections(std::vector<platform::TextSelection> selections) override;
    // Widened by the line fragment padding when the layer's bounds leave it out.
    QRectF usageBoundsForTextContainer() const override;

    // Whether the layer's usage bounds leave out the line fragment padding, found once per
    // process by laying out a short text with and without padding.
    static bool usageBoundsLeaveOutPadding();

signals:
    void didChangeSelection();
};

// Selections with those that meet merged into the earliest of them; the others keep their order.
std::vector<platform::TextSelection> mergedTextSelections(std::vector<platform::TextSelection> selections);
// Ranges sorted by location with those that meet merged: equal ranges, overlapping ranges, and an
// empty range strictly inside another.
std::vector<platform::TextRange> mergedTextRanges(std::vector<platform::TextRange> ranges);
