#include "EDTextView/TextLayoutUtilities.h"

#include "EDTextView/EDTextLayoutFragment.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextSelectionNavigation.h"

#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace edtextview {

TextRange clamped(TextRange range, TextRange bounds)
{
    auto clamp = [&](TextLocation at) {
        if (at <= bounds.location)
            return bounds.location;
        if (at >= bounds.endLocation)
            return bounds.endLocation;
        return at;
    };
    return TextRange(clamp(range.location), clamp(range.endLocation));
}

TextRange wholeCharacters(TextRange range, const TextContentStorage& storage)
{
    auto splits = [&](TextLocation at) {
        if (at <= 0 || at >= storage.length())
            return false;
        const QString pair = storage.substring(TextRange(at - 1, at + 1));
        return pair.size() == 2
            && ((pair[0].isHighSurrogate() && pair[1].isLowSurrogate())
                || (pair[0] == QLatin1Char('\r') && pair[1] == QLatin1Char('\n')));
    };
    const TextLocation start = splits(range.location) ? range.location - 1 : range.location;
    if (range.isEmpty())
        return TextRange(start);
    return TextRange(start, splits(range.endLocation) ? range.endLocation + 1 : range.endLocation);
}

CharacterRange characterRange(TextRange range, const TextContentStorage&)
{
    return { range.location, range.length() };
}

std::optional<TextRange> textRange(CharacterRange range, const TextContentStorage& storage)
{
    if (range.location < 0 || range.location > storage.length())
        return std::nullopt;
    const auto end = range.end();
    if (!end || *end > storage.length())
        return TextRange(range.location);
    return TextRange(range.location, *end);
}

qint64 length(TextRange range, const TextContentStorage&)
{
    return range.length();
}

qint64 offset(TextLocation location, const TextContentStorage&)
{
    return location;
}

std::optional<TextLocation> location(qint64 offset, const TextContentStorage& storage)
{
    if (offset < 0 || offset > storage.length())
        return std::nullopt;
    return offset;
}

qint64 length(const TextContentStorage& storage)
{
    return storage.length();
}

std::optional<TextLocation> location(
    qint64 line, std::optional<qint64> column, const TextContentStorage& storage)
{
    if (line < 0 || line >= storage.paragraphCount())
        return std::nullopt;
    const auto paragraph = storage.paragraph(line);
    if (!paragraph)
        return std::nullopt;
    const qint64 moved = column.value_or(0);
    if (moved < 0 || moved > storage.length() - paragraph->elementRange.location)
        return std::nullopt;
    return paragraph->elementRange.location + moved;
}

std::optional<LineColumn> position(TextLocation location, const TextContentStorage& storage)
{
    const qint64 count = storage.paragraphCount();
    if (count == 0 || location < 0 || location > storage.length())
        return std::nullopt;
    if (location == storage.length()) {
        const qint64 last = std::max<qint64>(count - 1, 0);
        return LineColumn { last, location - storage.paragraph(last)->elementRange.location };
    }
    const auto paragraph = storage.paragraphAt(location);
    if (!paragraph)
        return std::nullopt;
    return LineColumn { paragraph->index, location - paragraph->elementRange.location };
}

std::vector<TextRange> textRangesOfSelections(const std::vector<TextSelection>& selections)
{
    std::vector<TextRange> result;
    for (const TextSelection& selection : selections)
        result.insert(result.end(), selection.textRanges.begin(), selection.textRanges.end());
    return result;
}

std::optional<AttributedString> attributedString(
    const TextContentStorage& storage, std::optional<TextRange> range)
{
    if (range && range->isEmpty())
        return std::nullopt;
    AttributedString result = storage.attributedString(range.value_or(storage.documentRange()));
    if (result.isEmpty())
        return std::nullopt;
    return result;
}

TextAttributes attributes(TextLocation location, const TextContentStorage& storage)
{
    if (storage.length() == 0)
        return {};
    if (location == storage.length() && location > 0)
        location -= 1;
    const auto text = attributedString(storage, TextRange(location, location + 1));
    return text ? text->attributes(0) : TextAttributes();
}

QString substringByComposedSequences(TextLayoutManager& manager, TextRange range)
{
    QString result;
    result.reserve(range.length());
    manager.textSelectionNavigation().enumerateComposedCharacterSequences(
        range.location, [&](const QString& piece, TextRange pieceRange) {
            if (pieceRange.location >= range.endLocation)
                return false;
            result += piece;
            return true;
        });
    return result;
}

QSet<QString> attributeKeys(const AttributedString& text, CharacterRange range)
{
    QSet<QString> keys;
    text.enumerateAttributes(
        { range.location, range.length }, [&](const TextAttributes& attributes, AttributedString::Span) {
            for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
                keys.insert(it.key());
            return true;
        });
    return keys;
}

std::vector<std::pair<QVariant, CharacterRange>> attributeValues(
    const AttributedString& text, const QString& key, CharacterRange range)
{
    std::vector<std::pair<QVariant, CharacterRange>> values;
    text.enumerateAttribute(
        key, { range.location, range.length }, [&](const QVariant& value, AttributedString::Span span) {
            if (value.isValid())
                values.push_back({ value, CharacterRange { span.start, span.length } });
            return true;
        });
    return values;
}

bool isEmpty(const TextLineFragment& line)
{
    return line.characterRange().isEmpty();
}

std::optional<TextRange> textRange(const TextLayoutFragment& fragment, const TextLineFragment& line)
{
    if (!fragment.textLayoutManager() || !fragment.textLayoutManager()->textContentStorage())
        return std::nullopt;
    const TextLocation start = fragment.rangeInElement().location;
    return TextRange(start + line.characterRange().location, start + line.characterRange().endLocation);
}

std::optional<TextLineFragment> textLineFragment(const TextLayoutFragment& fragment, TextLocation location)
{
    const TextLocation start = fragment.rangeInElement().location;
    const auto index = fragment.lineFragmentIndex(location - start);
    if (!index)
        return std::nullopt;
    TextLineFragment line = fragment.lineFragment(*index);
    if (location < start + line.characterRange().location
        || location >= start + line.characterRange().endLocation)
        return std::nullopt;
    return line;
}

TextLineFragmentHandle textLineFragment(TextLayoutManager& manager, TextLocation location)
{
    TextLineFragmentHandle handle;
    auto fragment = manager.textLayoutFragment(location);
    if (!fragment)
        return handle;
    const auto line = textLineFragment(*fragment, location);
    if (!line)
        return handle;
    handle.index = *fragment->lineFragmentIndex(location - fragment->rangeInElement().location);
    handle.line = *line;
    handle.fragment = std::move(fragment);
    return handle;
}

std::optional<TextLineFragment> textLineFragment(const TextLayoutFragment& fragment, QPointF point)
{
    const QPointF origin = fragment.layoutFragmentFrame().topLeft();
    const auto index = fragment.lineFragmentIndex(point - origin);
    if (!index)
        return std::nullopt;
    TextLineFragment line = fragment.lineFragment(*index);
    if (!line.typographicBounds().translated(origin).contains(point))
        return std::nullopt;
    return line;
}

TextLineFragmentHandle textLineFragment(TextLayoutManager& manager, QPointF point)
{
    TextLineFragmentHandle handle;
    auto fragment = manager.textLayoutFragment(point);
    if (!fragment)
        return handle;
    const auto line = textLineFragment(*fragment, point);
    if (!line)
        return handle;
    handle.index = *fragment->lineFragmentIndex(point - fragment->layoutFragmentFrame().topLeft());
    handle.line = *line;
    handle.fragment = std::move(fragment);
    return handle;
}

std::optional<TextLocation> location(TextLayoutManager& manager, QPointF closestTo, TextLocation inLineAt)
{
    if (!manager.lineFragmentRange(closestTo, inLineAt))
        return std::nullopt;
    // The layer looks at every caret of the line under the point (caret x is not monotonic in
    // mixed-direction text), and only at that line of a long row.
    return manager.caretLocation(closestTo);
}

std::optional<QRectF> textSegmentFrame(
    TextLayoutManager& manager, TextRange range, TextLayoutManager::SegmentType type, unsigned options)
{
    std::optional<QRectF> result;
    manager.enumerateTextSegments(range, type, options, [&](std::optional<TextRange>, QRectF frame, double) {
        result = rectUnion(result, frame);
        return true;
    });
    return result;
}

std::optional<QRectF> textSegmentFrame(
    TextLayoutManager& manager, TextLocation location, TextLayoutManager::SegmentType type, unsigned options)
{
    return textSegmentFrame(manager, TextRange(location), type, options);
}

void enumerateGlyphSegments(
    TextLayoutManager& manager, TextRange range, unsigned options, const TextLayoutManager::SegmentBody& body)
{
    struct Segment {
        std::optional<TextRange> characters;
        QRectF frame;
        double baseline = 0;
    };
    // Gathered first: finding a segment's fragment may lay text out, which the enumeration must not
    // see happen under it.
    std::vector<Segment> segments;
    manager.enumerateTextSegments(range, TextLayoutManager::SegmentType::standard, options,
        [&](std::optional<TextRange> characters, QRectF frame, double baseline) {
            segments.push_back({ characters, frame, baseline });
            return true;
        });
    for (Segment& segment : segments) {
        // The baseline lies inside its row at every multiple; under 1, the box's top lies in the row
        // above.
        const auto fragment
            = manager.textLayoutFragment(QPointF(segment.frame.center().x(), segment.baseline));
        if (const auto* ours = dynamic_cast<const EDTextLayoutFragment*>(fragment.get())) {
            const double lift = ours->glyphLift(
                ours->visualLineIndex(segment.baseline - ours->layoutFragmentFrame().top()));
            segment.frame.translate(0, -lift);
            segment.baseline -= lift;
        }
        if (!body(segment.characters, segment.frame, segment.baseline))
            return;
    }
}

std::optional<QRectF> glyphSegmentFrame(TextLayoutManager& manager, TextRange range, unsigned options)
{
    std::optional<QRectF> result;
    enumerateGlyphSegments(manager, range, options, [&](std::optional<TextRange>, QRectF frame, double) {
        result = rectUnion(result, frame);
        return true;
    });
    return result;
}

std::optional<TextLocation> enumerateTextLayoutFragments(TextLayoutManager& manager, TextRange range,
    unsigned options, const TextLayoutManager::FragmentBody& body)
{
    return manager.enumerateTextLayoutFragments(
        range.location, options, [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
            if (fragment->rangeInElement().location > range.endLocation)
                return false;
            return body(fragment);
        });
}

void enumerateRenderingAttributes(const TextLayoutManager& manager, TextRange range, bool reverse,
    const std::function<bool(const TextAttributes&, TextRange)>& body)
{
    manager.enumerateRenderingAttributes(
        range.location, reverse, [&](const TextAttributes& attributes, TextRange run) {
            if (run.location > range.endLocation)
                return false;
            return body(attributes, run);
        });
}

std::vector<TextRange> sortedSelectionTextRanges(const TextLayoutManager& manager, bool excludingEmpty)
{
    std::vector<TextRange> ranges = textRangesOfSelections(manager.textSelections());
    if (excludingEmpty)
        std::erase_if(ranges, [](const TextRange& range) { return range.isEmpty(); });
    std::stable_sort(ranges.begin(), ranges.end(),
        [](const TextRange& a, const TextRange& b) { return a.location < b.location; });
    return ranges;
}

std::vector<TextSelection> textSelectionRanges(const TextLayoutManager& manager)
{
    std::vector<TextSelection> result;
    for (const TextSelection& selection : manager.textSelections()) {
        if (selection.isLogical || selection.isTransient)
            continue;
        if (std::any_of(selection.textRanges.begin(), selection.textRanges.end(),
                [](const TextRange& range) { return range.isEmpty(); }))
            result.push_back(selection);
    }
    return result;
}

std::vector<TextLocation> insertionPointLocations(const TextLayoutManager& manager)
{
    std::vector<TextLocation> locations;
    for (const TextSelection& selection : textSelectionRanges(manager)) {
        for (const TextRange& range : selection.textRanges)
            locations.push_back(range.location);
    }
    std::stable_sort(locations.begin(), locations.end());
    return locations;
}

bool rangesContainNearestLocation(
    TextLayoutManager& manager, const std::vector<TextRange>& ranges, QPointF point, bool initial)
{
    bool result = initial;
    for (const TextRange& range : ranges) {
        const auto nearest = location(manager, point, range.location);
        if (!nearest)
            continue;
        result = result && range.location <= *nearest && *nearest < range.endLocation;
    }
    return result;
}

namespace {

template<typename Float> bool almostEqual(Float a, Float b, Float tolerance)
{
    if (std::isnan(a) || std::isnan(b))
        return false;
    if (std::isinf(a) && std::isinf(b))
        return a == b;
    if (std::isinf(a) || std::isinf(b)) {
        // Halve both and stand the largest power of two of its sign in for the infinite side.
        const Float largest = std::ldexp(Float(1), std::numeric_limits<Float>::max_exponent - 1);
        const Float halfA = std::isinf(a) ? std::copysign(largest, a) : a / 2;
        const Float halfB = std::isinf(b) ? std::copysign(largest, b) : b / 2;
        return almostEqual(halfA, halfB, tolerance);
    }
    const Float scale = std::max({ std::abs(a), std::abs(b), std::numeric_limits<Float>::min() });
    return std::abs(a - b) < scale * tolerance;
}

} // namespace

bool isAlmostEqual(double a, double b, double tolerance)
{
    return almostEqual(a, b, tolerance);
}

bool isAlmostEqual(float a, float b, float tolerance)
{
    return almostEqual(a, b, tolerance);
}

bool isAlmostZero(double value, double tolerance)
{
    return std::abs(value) < tolerance;
}

bool isAlmostEqual(QPointF a, QPointF b)
{
    return isAlmostEqual(a.x(), b.x()) && isAlmostEqual(a.y(), b.y());
}

bool isAlmostEqual(QSizeF a, QSizeF b)
{
    return isAlmostEqual(a.width(), b.width()) && isAlmostEqual(a.height(), b.height());
}

QRectF rectUnion(const std::optional<QRectF>& a, const QRectF& b)
{
    if (!a)
        return b;
    const double left = std::min(a->left(), b.left());
    const double top = std::min(a->top(), b.top());
    const double right = std::max(a->right(), b.right());
    const double bottom = std::max(a->bottom(), b.bottom());
    return QRectF(left, top, right - left, bottom - top);
}

QRectF pixelAligned(const QRectF& rect, double devicePixelRatio)
{
    const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    auto nearest = [ratio](double value) { return std::floor(value * ratio + 0.5) / ratio; };
    const double left = nearest(rect.left());
    const double top = nearest(rect.top());
    return QRectF(left, top, nearest(rect.right()) - left, nearest(rect.bottom()) - top);
}

double defaultLineHeight(const FontLineMetrics& metrics)
{
    static const QStringList families { "times", "helvetica", "courier", ".helvetica neueui" };
    double extra = 0;
    if (families.contains(metrics.familyName.toLower()))
        extra = std::round((metrics.ascent + metrics.descent) * 0.15);
    return std::round(metrics.ascent + extra) + std::round(metrics.descent) + std::round(metrics.leading);
}

double defaultLineHeight(const QFont& font)
{
    const QFontMetricsF metrics(font);
    // Font files may give a negative leading; the line never gets shorter than ascent plus descent.
    return defaultLineHeight(
        { metrics.ascent(), metrics.descent(), std::max(0.0, metrics.leading()), QFontInfo(font).family() });
}

} // namespace edtextview
