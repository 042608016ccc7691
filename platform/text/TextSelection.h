#pragma once

#include "platform/text/TextAttributes.h"
#include "platform/text/TextRange.h"

#include <cmath>
#include <optional>
#include <vector>

namespace platform {

// One selection of a layout manager: one or more ranges (several for a block selection), with the
// hints that movement needs.
struct TextSelection {
    enum class Affinity { upstream = 0, downstream = 1 };
    enum class Granularity { character = 0, word = 1, paragraph = 2, line = 3 };

    std::vector<TextRange> textRanges;
    Affinity affinity = Affinity::downstream;
    Granularity granularity = Granularity::character;
    // The x position kept while moving up and down, NaN when none is kept.
    double anchorPositionOffset = std::nan("");
    bool isLogical = false;
    bool isTransient = false;
    TextAttributes typingAttributes;
    // The end that stays put while the selection is extended; none for a fresh selection.
    std::optional<TextLocation> anchorLocation;

    TextSelection() = default;
    explicit TextSelection(TextRange range, Affinity affinity = Affinity::downstream,
        Granularity granularity = Granularity::character)
        : textRanges { range }
        , affinity(affinity)
        , granularity(granularity)
    {
    }
    explicit TextSelection(TextLocation location, Affinity affinity = Affinity::downstream)
        : TextSelection(TextRange(location), affinity)
    {
    }

    bool isEmptySelection() const
    {
        for (const TextRange& range : textRanges) {
            if (!range.isEmpty())
                return false;
        }
        return true;
    }
    bool operator==(const TextSelection& other) const
    {
        const bool offsetsEqual = (std::isnan(anchorPositionOffset) && std::isnan(other.anchorPositionOffset))
            || anchorPositionOffset == other.anchorPositionOffset;
        return textRanges == other.textRanges && affinity == other.affinity
            && granularity == other.granularity && offsetsEqual && isLogical == other.isLogical
            && isTransient == other.isTransient && typingAttributes == other.typingAttributes
            && anchorLocation == other.anchorLocation;
    }
};

} // namespace platform
