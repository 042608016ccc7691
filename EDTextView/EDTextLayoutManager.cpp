#include "EDTextView/EDTextLayoutManager.h"

#include "EDTextView/EDTextView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/text/TextContentStorage.h"

#include <algorithm>
#include <numeric>

using platform::TextRange;
using platform::TextSelection;

namespace {

TextRange spanOf(const TextSelection& selection)
{
    TextRange span = selection.textRanges.front();
    for (const TextRange& range : selection.textRanges)
        span = span.united(range);
    return span;
}

// Whether typing into both would touch the same text: equal ranges, overlapping ranges, or a caret
// strictly inside a range. A caret at a range's edge stays apart.
bool meet(const TextRange& a, const TextRange& b)
{
    if (a == b)
        return true;
    if (a.isEmpty() || b.isEmpty()) {
        const TextRange& caret = a.isEmpty() ? a : b;
        const TextRange& range = a.isEmpty() ? b : a;
        return caret.location > range.location && caret.location < range.endLocation;
    }
    return a.location < b.endLocation && b.location < a.endLocation;
}

} // namespace

std::vector<TextSelection> mergedTextSelections(std::vector<TextSelection> selections)
{
    std::erase_if(selections, [](const TextSelection& selection) { return selection.textRanges.empty(); });
    if (selections.size() < 2)
        return selections;
    // A sweep in order of position, so many carets cost n log n.
    std::vector<size_t> order(selections.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const TextRange x = spanOf(selections[a]), y = spanOf(selections[b]);
        return x.location != y.location ? x.location < y.location : x.endLocation < y.endLocation;
    });
    std::vector<bool> dropped(selections.size(), false);
    size_t keeper = order.front();
    TextRange keeperSpan = spanOf(selections[keeper]);
    for (size_t i = 1; i < order.size(); ++i) {
        const size_t index = order[i];
        const TextRange span = spanOf(selections[index]);
        if (!meet(keeperSpan, span)) {
            keeper = index;
            keeperSpan = span;
            continue;
        }
        // The earlier selection in the list takes the other in.
        const size_t survivor = std::min(keeper, index);
        const size_t other = std::max(keeper, index);
        keeperSpan = keeperSpan.united(span);
        TextSelection& kept = selections[survivor];
        if (kept.textRanges.size() == 1 && selections[other].textRanges.size() == 1) {
            kept.textRanges = { keeperSpan };
            if (kept.anchorLocation && !keeperSpan.contains(*kept.anchorLocation))
                kept.anchorLocation.reset();
        }
        dropped[other] = true;
        keeper = survivor;
    }
    std::vector<TextSelection> result;
    result.reserve(selections.size());
    for (size_t i = 0; i < selections.size(); ++i) {
        if (!dropped[i])
            result.push_back(std::move(selections[i]));
    }
    return result;
}

std::vector<TextRange> mergedTextRanges(std::vector<TextRange> ranges)
{
    std::stable_sort(ranges.begin(), ranges.end(), [](const TextRange& a, const TextRange& b) {
        return a.location != b.location ? a.location < b.location : a.endLocation < b.endLocation;
    });
    std::vector<TextRange> result;
    for (const TextRange& range : ranges) {
        if (!result.empty() && meet(result.back(), range))
            result.back() = result.back().united(range);
        else
            result.push_back(range);
    }
    return result;
}

EDTextLayoutManager::EDTextLayoutManager(QObject* parent)
    : platform::TextLayoutManager(parent)
{
}

void EDTextLayoutManager::setTextSelections(std::vector<TextSelection> selections)
{
    platform::TextLayoutManager::setTextSelections(mergedTextSelections(std::move(selections)));
    platform::NotificationCenter::defaultCenter().post(EDTextView::didChangeSelectionNotification, this);
    emit didChangeSelection();
}

QRectF EDTextLayoutManager::usageBoundsForTextContainer() const
{
    QRectF bounds = platform::TextLayoutManager::usageBoundsForTextContainer();
    if (usageBoundsLeaveOutPadding())
        bounds.setWidth(bounds.width() + textContainer().lineFragmentPadding);
    return bounds;
}

bool EDTextLayoutManager::usageBoundsLeaveOutPadding()
{
    static const bool leavesOut = [] {
        platform::TextContentStorage storage;
        platform::TextLayoutManager manager;
        manager.setTextContentStorage(&storage);
        storage.setString(QStringLiteral("01234567890123456789"));
        auto widthWithPadding = [&](double padding) {
            platform::TextContainer container = manager.textContainer();
            container.lineFragmentPadding = padding;
            manager.setTextContainer(container);
            manager.ensureLayout(storage.documentRange());
            return manager.usageBoundsForTextContainer().width();
        };
        const double padded = widthWithPadding(5.0);
        const double bare = widthWithPadding(0.0);
        return padded == bare;
    }();
    return leavesOut;
}
