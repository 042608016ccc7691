#include "platform/text/TextLayoutManager.h"

#include "platform/text/TextContentStorage.h"
#include "platform/text/TextSelectionNavigation.h"
#include "platform/text/TextViewportLayoutController.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// Where a location ends up when [start, end) is replaced by `inserted` units: before the edit it
// stays, after it moves by the change in length, inside it goes to the end of the new text.
TextLocation adjusted(TextLocation at, TextRange replaced, qint64 inserted)
{
    const qint64 delta = inserted - replaced.length();
    if (replaced.isEmpty())
        return at >= replaced.location ? at + inserted : at;
    if (at < replaced.location)
        return at;
    if (at >= replaced.endLocation)
        return at + delta;
    return replaced.location + inserted;
}

} // namespace

TextLayoutManager::TextLayoutManager(QObject* parent)
    : QObject(parent)
    , m_navigation(std::make_unique<TextSelectionNavigation>(*this))
    , m_viewport(std::make_unique<TextViewportLayoutController>(*this))
{
    setDefaultFont(QFont());
}

TextLayoutManager::~TextLayoutManager()
{
    if (m_storage)
        m_storage->removeTextLayoutManager(this);
}

void TextLayoutManager::setTextContentStorage(TextContentStorage* storage)
{
    if (m_storage == storage)
        return;
    if (m_storage) {
        disconnect(m_storage, nullptr, this, nullptr);
        m_storage->removeTextLayoutManager(this);
    }
    m_storage = storage;
    dropCache();
    m_selections.clear();
    m_renderingRuns.clear();
    if (!m_storage)
        return;
    m_storage->addTextLayoutManager(this);
    connect(m_storage, &TextContentStorage::textDidChange, this, &TextLayoutManager::storageTextDidChange);
    connect(m_storage, &TextContentStorage::attributesDidChange, this,
        &TextLayoutManager::storageAttributesDidChange);
    connect(m_storage, &TextContentStorage::transactionDidEnd, this,
        &TextLayoutManager::storageTransactionDidEnd);
    connect(m_storage, &QObject::destroyed, this, [this] {
        m_storage = nullptr;
        dropCache();
    });
    if (m_storage->primaryTextLayoutManager() == this)
        m_storage->setHeightEstimator([this](qint64 length) { return estimatedHeight(length); });
}

TextRange TextLayoutManager::documentRange() const
{
    return m_storage ? m_storage->documentRange() : TextRange();
}

TextSelectionNavigation& TextLayoutManager::textSelectionNavigation()
{
    return *m_navigation;
}

TextViewportLayoutController& TextLayoutManager::textViewportLayoutController()
{
    return *m_viewport;
}

void TextLayoutManager::setTextContainer(const TextContainer& container)
{
    const bool widthChanged = container.size.width() != m_container.size.width()
        || container.lineFragmentPadding != m_container.lineFragmentPadding;
    m_container = container;
    if (widthChanged) {
        dropCache();
        ++m_layoutGeneration;
        if (m_storage && m_storage->primaryTextLayoutManager() == this)
            m_storage->reestimateAll();
        emit layoutDidInvalidate(documentRange());
        emitUsageBoundsIfChanged();
    }
}

void TextLayoutManager::setDefaultFont(const QFont& font)
{
    m_defaultFont = font;
    const QFontMetricsF metrics(font);
    m_lineHeight = metrics.ascent() + metrics.descent();
    m_averageCharacterWidth = std::max(1.0, metrics.averageCharWidth());
    dropCache();
    ++m_layoutGeneration;
    if (m_storage && m_storage->primaryTextLayoutManager() == this)
        m_storage->reestimateAll();
}

void TextLayoutManager::setDefaultLineHeightMultiple(double multiple)
{
    m_defaultLineHeightMultiple = multiple;
    dropCache();
    ++m_layoutGeneration;
    if (m_storage && m_storage->primaryTextLayoutManager() == this)
        m_storage->reestimateAll();
}

float TextLayoutManager::estimatedHeight(qint64 length) const
{
    double lines = 1;
    const double available = m_container.size.width() - 2 * m_container.lineFragmentPadding;
    if (m_container.wrapsLines() && available > 0)
        lines = std::max(1.0, std::ceil(double(length) * m_averageCharacterWidth / available));
    const double multiple = m_defaultLineHeightMultiple > 0 ? m_defaultLineHeightMultiple : 1.0;
    return float(lines * m_lineHeight * multiple);
}

void TextLayoutManager::setTextSelections(std::vector<TextSelection> selections)
{
    m_selections = std::move(selections);
    emit selectionDidChange();
}

void TextLayoutManager::setFragmentFactory(FragmentFactory factory)
{
    m_factory = std::move(factory);
    dropCache();
}

void TextLayoutManager::setLayoutCacheLimit(int fragments)
{
    m_cacheLimit = std::max(1, fragments);
    while (int(m_cache.size()) > m_cacheLimit) {
        m_cache.erase(m_recency.back());
        m_recency.pop_back();
    }
}

void TextLayoutManager::dropCache()
{
    m_cache.clear();
    m_recency.clear();
    m_widestLine = 0;
}

TextLayoutFragment::LayoutParameters TextLayoutManager::layoutParameters() const
{
    TextLayoutFragment::LayoutParameters parameters;
    parameters.defaultFont = m_defaultFont;
    parameters.padding = m_container.lineFragmentPadding;
    parameters.containerWidth = m_container.size.width();
    parameters.availableWidth = m_container.wrapsLines()
        ? std::max(1.0, m_container.size.width() - 2 * m_container.lineFragmentPadding)
        : 0.0;
    parameters.defaultLineHeightMultiple = m_defaultLineHeightMultiple;
    return parameters;
}

void TextLayoutManager::touch(quint32 identifier)
{
    auto it = m_cache.find(identifier);
    if (it != m_cache.end())
        m_recency.splice(m_recency.begin(), m_recency, it->second.position);
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::layoutFragment(qint64 index, bool ensureLayout)
{
    if (!m_storage || index < 0 || index >= m_storage->layoutParagraphCount())
        return nullptr;
    const quint32 identifier = m_storage->layoutParagraphIdentifier(index);
    const TextRange range = m_storage->layoutParagraphRange(index);
    std::shared_ptr<TextLayoutFragment> fragment;
    if (auto it = m_cache.find(identifier); it != m_cache.end()) {
        fragment = it->second.fragment;
        touch(identifier);
    } else {
        const AttributedString text = m_storage->layoutParagraphText(index);
        const int terminator = m_storage->terminatorLength(index);
        fragment = m_factory ? m_factory(text, terminator, range)
                             : std::make_shared<TextLayoutFragment>(text, terminator, range);
        m_recency.push_front(identifier);
        m_cache.emplace(identifier, CacheEntry { fragment, m_recency.begin() });
        while (int(m_cache.size()) > m_cacheLimit) {
            m_cache.erase(m_recency.back());
            m_recency.pop_back();
        }
    }
    fragment->place(this, index, range, m_storage->layoutParagraphY(index));
    if (ensureLayout && fragment->state() != TextLayoutFragment::State::layoutAvailable) {
        fragment->layout(layoutParameters());
        m_storage->setLayoutParagraphHeight(index, float(fragment->layoutFragmentFrame().height()), true);
        m_widestLine = std::max(m_widestLine, fragment->renderingSurfaceBounds().width());
    } else if (ensureLayout && !m_storage->isLayoutParagraphMeasured(index)) {
        m_storage->setLayoutParagraphHeight(index, float(fragment->layoutFragmentFrame().height()), true);
    }
    return fragment;
}

void TextLayoutManager::ensureLayout(TextRange range)
{
    if (!m_storage)
        return;
    const qint64 first = m_storage->layoutParagraphIndex(range.location);
    const qint64 last = m_storage->layoutParagraphIndex(range.endLocation);
    for (qint64 index = first; index <= last; ++index)
        layoutFragment(index, true);
}

void TextLayoutManager::ensureLayout(QRectF bounds)
{
    if (!m_storage)
        return;
    for (qint64 index = m_storage->layoutParagraphIndexAtY(bounds.top());
         index < m_storage->layoutParagraphCount(); ++index) {
        auto fragment = layoutFragment(index, true);
        if (fragment->layoutFragmentFrame().bottom() >= bounds.bottom())
            break;
    }
}

void TextLayoutManager::invalidateLayout(TextRange range)
{
    if (!m_storage)
        return;
    m_storage->invalidateMeasurement(range);
    emit layoutDidInvalidate(range);
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::textLayoutFragment(TextLocation location)
{
    if (!m_storage || location < 0 || location > m_storage->length())
        return nullptr;
    return layoutFragment(m_storage->layoutParagraphIndex(location), true);
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::textLayoutFragment(QPointF position)
{
    if (!m_storage)
        return nullptr;
    const qint64 count = m_storage->layoutParagraphCount();
    qint64 index = m_storage->layoutParagraphIndexAtY(position.y());
    // Laying a fragment out may change its height from the estimate, so look on until the point
    // really falls inside one.
    for (;;) {
        auto fragment = layoutFragment(index, true);
        if (position.y() < fragment->layoutFragmentFrame().bottom() || index + 1 >= count)
            return fragment;
        ++index;
    }
}

std::optional<TextLocation> TextLayoutManager::enumerateTextLayoutFragments(
    TextLocation from, unsigned options, const FragmentBody& body)
{
    if (!m_storage)
        return std::nullopt;
    from = std::clamp<TextLocation>(from, 0, m_storage->length());
    const bool backwards = options & reverse;
    const bool layout = options & ensuresLayout;
    std::optional<TextLocation> stopped;
    const qint64 count = m_storage->layoutParagraphCount();
    for (qint64 index = m_storage->layoutParagraphIndex(from); index >= 0 && index < count;
         index += backwards ? -1 : 1) {
        auto fragment = layoutFragment(index, layout);
        stopped = fragment->rangeInElement().location;
        if (!body(fragment))
            break;
    }
    return stopped;
}

TextLayoutManager::LineLookup TextLayoutManager::lineFragment(
    TextLocation location, TextSelection::Affinity affinity)
{
    LineLookup result;
    result.fragment = textLayoutFragment(location);
    if (!result.fragment)
        return result;
    const qint64 relative = location - result.fragment->rangeInElement().location;
    const auto& lines = result.fragment->textLineFragments();
    result.line = result.fragment->lineFragment(relative);
    if (affinity == TextSelection::Affinity::upstream && result.line && result.line != &lines.front()
        && result.line->characterRange().location == relative)
        result.line = result.line - 1;
    return result;
}

void TextLayoutManager::enumerateTextSegments(
    TextRange range, SegmentType, unsigned options, const SegmentBody& body)
{
    if (!m_storage)
        return;
    range = TextRange(std::clamp<qint64>(range.location, 0, m_storage->length()),
        std::clamp<qint64>(range.endLocation, 0, m_storage->length()));
    if (range.isEmpty()) {
        const auto affinity = (options & upstreamAffinity) ? TextSelection::Affinity::upstream
                                                           : TextSelection::Affinity::downstream;
        LineLookup lookup = lineFragment(range.location, affinity);
        if (!lookup.line)
            return;
        const QRectF frame = lookup.fragment->layoutFragmentFrame();
        const QRectF bounds = lookup.line->typographicBounds();
        const double x
            = lookup.line->locationForCharacter(range.location - lookup.fragment->rangeInElement().location)
                  .x();
        body(range, QRectF(frame.left() + x, frame.top() + bounds.top(), 0, bounds.height()),
            frame.top() + bounds.top() + lookup.line->glyphOrigin().y());
        return;
    }
    const qint64 first = m_storage->layoutParagraphIndex(range.location);
    const qint64 last = m_storage->layoutParagraphIndex(range.endLocation);
    for (qint64 index = first; index <= last; ++index) {
        auto fragment = layoutFragment(index, true);
        const TextRange paragraph = fragment->rangeInElement();
        const QRectF frame = fragment->layoutFragmentFrame();
        const qint64 contentEnd = paragraph.endLocation - fragment->terminatorLength();
        for (const TextLineFragment& line : fragment->textLineFragments()) {
            const TextRange lineRange(paragraph.location + line.characterRange().location,
                paragraph.location + line.characterRange().endLocation);
            const auto piece = lineRange.intersection(range);
            if (!piece || piece->isEmpty())
                continue;
            const double x1 = line.locationForCharacter(piece->location - paragraph.location).x();
            const qint64 end = std::min(piece->endLocation, contentEnd);
            const double x2
                = end > piece->location ? line.locationForCharacter(end - paragraph.location).x() : x1;
            const QRectF bounds = line.typographicBounds();
            const QRectF segment(frame.left() + std::min(x1, x2), frame.top() + bounds.top(),
                std::abs(x2 - x1), bounds.height());
            if (!body(piece, segment, frame.top() + bounds.top() + line.glyphOrigin().y()))
                return;
        }
    }
}

std::optional<TextRange> TextLayoutManager::lineFragmentRange(QPointF point, TextLocation)
{
    auto fragment = textLayoutFragment(point);
    if (!fragment)
        return std::nullopt;
    const TextLineFragment* line = fragment->lineFragment(point - fragment->layoutFragmentFrame().topLeft());
    if (!line)
        return std::nullopt;
    const TextLocation start = fragment->rangeInElement().location;
    return TextRange(start + line->characterRange().location, start + line->characterRange().endLocation);
}

void TextLayoutManager::enumerateCaretOffsets(
    TextLocation location, const std::function<bool(double, TextLocation, bool)>& body)
{
    LineLookup lookup = lineFragment(location);
    if (!lookup.line)
        return;
    const TextLocation start = lookup.fragment->rangeInElement().location;
    const double left = lookup.fragment->layoutFragmentFrame().left();
    const QTextLayout& layout = lookup.fragment->textLayout();
    const qint64 contentLength
        = lookup.fragment->attributedString().length() - lookup.fragment->terminatorLength();
    const TextRange characters = lookup.line->characterRange();
    const bool lastLine = lookup.line == &lookup.fragment->textLineFragments().back();
    const qint64 end = std::min(characters.endLocation, contentLength);
    for (qint64 position = characters.location; position <= end; ++position) {
        if (position == end && !lastLine && end > characters.location)
            break;
        if (contentLength > 0 && !layout.isValidCursorPosition(int(position)))
            continue;
        if (!body(left + lookup.line->locationForCharacter(position).x(), start + position, true))
            return;
    }
}

std::optional<TextLocation> TextLayoutManager::caretLocation(QPointF point)
{
    auto fragment = textLayoutFragment(point);
    if (!fragment)
        return std::nullopt;
    const QPointF local = point - fragment->layoutFragmentFrame().topLeft();
    const TextLineFragment* line = fragment->lineFragment(local);
    if (!line)
        return std::nullopt;
    const qint64 contentLength = fragment->attributedString().length() - fragment->terminatorLength();
    qint64 index = line->characterIndex(local);
    index = std::clamp<qint64>(
        index, line->characterRange().location, std::min(line->characterRange().endLocation, contentLength));
    return fragment->rangeInElement().location + index;
}

Qt::LayoutDirection TextLayoutManager::baseWritingDirection(TextLocation location)
{
    auto fragment = textLayoutFragment(location);
    return fragment ? fragment->baseWritingDirection() : Qt::LeftToRight;
}

QRectF TextLayoutManager::usageBoundsForTextContainer() const
{
    if (!m_storage)
        return {};
    const double width = m_container.wrapsLines()
        ? m_container.size.width()
        : std::max(m_widestLine, 2 * m_container.lineFragmentPadding);
    return QRectF(0, 0, width, m_storage->totalHeight());
}

void TextLayoutManager::emitUsageBoundsIfChanged()
{
    const QRectF bounds = usageBoundsForTextContainer();
    if (bounds != m_lastUsageBounds) {
        m_lastUsageBounds = bounds;
        emit usageBoundsDidChange();
    }
}

void TextLayoutManager::storageTextDidChange(TextRange replaced, qint64 newLength)
{
    ++m_layoutGeneration;
    bool changed = false;
    for (TextSelection& selection : m_selections) {
        for (TextRange& range : selection.textRanges) {
            const TextRange moved(adjusted(range.location, replaced, newLength),
                adjusted(range.endLocation, replaced, newLength));
            if (moved != range) {
                range = moved;
                changed = true;
            }
        }
        if (selection.anchorLocation)
            selection.anchorLocation = adjusted(*selection.anchorLocation, replaced, newLength);
    }
    std::vector<RenderingRun> runs;
    runs.reserve(m_renderingRuns.size());
    const qint64 delta = newLength - replaced.length();
    for (RenderingRun& run : m_renderingRuns) {
        const TextRange& range = run.range;
        if (replaced.isEmpty()) {
            // Text typed right after a run does not join it; text typed inside one does.
            const TextLocation start
                = range.location >= replaced.location ? range.location + delta : range.location;
            const TextLocation end
                = range.endLocation > replaced.location ? range.endLocation + delta : range.endLocation;
            runs.push_back({ TextRange(start, end), std::move(run.attributes) });
            continue;
        }
        // A replacement drops whatever the run had over the replaced characters.
        if (range.location < replaced.location)
            runs.push_back({ TextRange(range.location, std::min(range.endLocation, replaced.location)),
                run.attributes });
        if (range.endLocation > replaced.endLocation)
            runs.push_back({ TextRange(std::max(range.location, replaced.endLocation) + delta,
                                 range.endLocation + delta),
                run.attributes });
    }
    std::erase_if(runs, [](const RenderingRun& run) { return run.range.isEmpty(); });
    m_renderingRuns = std::move(runs);
    emit layoutDidInvalidate(TextRange(replaced.location, replaced.location + newLength));
    if (changed)
        emit selectionDidChange();
}

void TextLayoutManager::storageAttributesDidChange(TextRange range)
{
    emit layoutDidInvalidate(range);
}

void TextLayoutManager::storageTransactionDidEnd()
{
    emitUsageBoundsIfChanged();
}

void TextLayoutManager::setRenderingAttributes(const TextAttributes& attributes, TextRange range)
{
    std::vector<RenderingRun> runs;
    for (RenderingRun& run : m_renderingRuns) {
        if (run.range.endLocation <= range.location || run.range.location >= range.endLocation) {
            runs.push_back(std::move(run));
            continue;
        }
        if (run.range.location < range.location)
            runs.push_back({ TextRange(run.range.location, range.location), run.attributes });
        if (run.range.endLocation > range.endLocation)
            runs.push_back({ TextRange(range.endLocation, run.range.endLocation), run.attributes });
    }
    if (!attributes.isEmpty() && !range.isEmpty())
        runs.push_back({ range, attributes });
    std::sort(runs.begin(), runs.end(),
        [](const RenderingRun& a, const RenderingRun& b) { return a.range.location < b.range.location; });
    m_renderingRuns = std::move(runs);
}

void TextLayoutManager::addRenderingAttribute(const QString& key, const QVariant& value, TextRange range)
{
    TextLocation at = range.location;
    std::vector<std::pair<TextRange, TextAttributes>> pieces;
    enumerateRenderingAttributes(range.location, false, [&](const TextAttributes& attributes, TextRange run) {
        if (run.location >= range.endLocation)
            return false;
        const auto overlap = run.intersection(range);
        if (!overlap || overlap->isEmpty())
            return true;
        if (overlap->location > at)
            pieces.push_back({ TextRange(at, overlap->location), {} });
        pieces.push_back({ *overlap, attributes });
        at = overlap->endLocation;
        return true;
    });
    if (at < range.endLocation)
        pieces.push_back({ TextRange(at, range.endLocation), {} });
    for (auto& [piece, attributes] : pieces) {
        attributes.insert(key, value);
        setRenderingAttributes(attributes, piece);
    }
}

void TextLayoutManager::removeRenderingAttribute(const QString& key, TextRange range)
{
    std::vector<std::pair<TextRange, TextAttributes>> pieces;
    enumerateRenderingAttributes(range.location, false, [&](const TextAttributes& attributes, TextRange run) {
        if (run.location >= range.endLocation)
            return false;
        const auto overlap = run.intersection(range);
        if (overlap && !overlap->isEmpty())
            pieces.push_back({ *overlap, attributes });
        return true;
    });
    for (auto& [piece, attributes] : pieces) {
        attributes.remove(key);
        setRenderingAttributes(attributes, piece);
    }
}

void TextLayoutManager::enumerateRenderingAttributes(TextLocation from, bool reverseOrder,
    const std::function<bool(const TextAttributes&, TextRange)>& body) const
{
    if (!reverseOrder) {
        for (const RenderingRun& run : m_renderingRuns) {
            if (run.range.endLocation <= from)
                continue;
            if (!body(run.attributes, run.range))
                return;
        }
        return;
    }
    for (auto it = m_renderingRuns.rbegin(); it != m_renderingRuns.rend(); ++it) {
        if (it->range.location > from)
            continue;
        if (!body(it->attributes, it->range))
            return;
    }
}

} // namespace platform
