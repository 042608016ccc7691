#include "platform/text/TextLayoutManager.h"

#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutPiece.h"
#include "platform/text/TextSelectionNavigation.h"
#include "platform/text/TextViewportLayoutController.h"

#include <QFontMetricsF>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

constexpr qint64 defaultCacheLimitBytes = 64 * 1024 * 1024;
// What a cache entry costs besides its fragment: the hash node and the recency list node.
constexpr qint64 cacheEntryOverhead = 96;
constexpr qsizetype recentFragmentsKept = 64;
// The first strong character of a paragraph is looked for this many units at a time.
constexpr qint64 directionWindow = 4096;
// How far either side of a point a hit test in an unwrapped long paragraph lays out its row.
constexpr double unwrappedReach = 1024;

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

struct StrongCharacter {
    qsizetype start = 0;
    qsizetype end = 0;
    Qt::LayoutDirection direction = Qt::LeftToRight;
};

// The first strong character of `text` outside isolates, `isolates` being how many are open where
// it starts; none when it has none. `sawIsolates` is set when an isolate control was read.
std::optional<StrongCharacter> firstStrongCharacter(QStringView text, int& isolates, bool& sawIsolates)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype start = i;
        char32_t code = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        switch (QChar::direction(code)) {
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
            ++isolates;
            sawIsolates = true;
            break;
        case QChar::DirPDI:
            isolates = std::max(0, isolates - 1);
            sawIsolates = true;
            break;
        case QChar::DirL:
            if (isolates == 0)
                return StrongCharacter { start, i + 1, Qt::LeftToRight };
            break;
        case QChar::DirR:
        case QChar::DirAL:
            if (isolates == 0)
                return StrongCharacter { start, i + 1, Qt::RightToLeft };
            break;
        default:
            break;
        }
    }
    return std::nullopt;
}

// The direction of the first strong character of `text` outside isolates; none when it has none.
std::optional<Qt::LayoutDirection> strongDirection(QStringView text, int& isolates)
{
    bool sawIsolates = false;
    const auto strong = firstStrongCharacter(text, isolates, sawIsolates);
    return strong ? std::optional(strong->direction) : std::nullopt;
}

// The first strong character outside isolates in `range` of the storage, as a location range.
std::optional<StrongCharacter> firstStrongCharacter(
    const TextContentStorage& storage, TextRange range, bool& sawIsolates)
{
    int isolates = 0;
    for (TextLocation at = range.location; at < range.endLocation;) {
        TextLocation end = std::min(range.endLocation, at + directionWindow);
        QString window = storage.substring(TextRange(at, end));
        // A character outside the Basic Multilingual Plane is read whole, never split between
        // two windows.
        if (end < range.endLocation && window.back().isHighSurrogate()) {
            window += storage.substring(TextRange(end, end + 1));
            ++end;
        }
        if (auto strong = firstStrongCharacter(window, isolates, sawIsolates)) {
            strong->start += at;
            strong->end += at;
            return strong;
        }
        at = end;
    }
    return std::nullopt;
}

} // namespace

TextLayoutManager::TextLayoutManager(QObject* parent)
    : QObject(parent)
    , m_cacheLimit(defaultCacheLimitBytes)
    , m_layoutMemory(std::make_shared<TextLayoutMemory>(defaultCacheLimitBytes / 2))
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
    m_renderingAttributes.clear();
    if (!m_storage)
        return;
    m_storage->addTextLayoutManager(this);
    connect(m_storage, &TextContentStorage::paragraphsDidChange, this,
        &TextLayoutManager::storageParagraphsDidChange);
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

void TextLayoutManager::layoutParametersDidChange()
{
    dropCache();
    ++m_layoutGeneration;
    if (m_storage && m_storage->primaryTextLayoutManager() == this)
        m_storage->reestimateAll();
    emit layoutDidInvalidate(documentRange());
    emitUsageBoundsIfChanged();
}

void TextLayoutManager::setTextContainer(const TextContainer& container)
{
    const bool widthChanged = container.size.width() != m_container.size.width()
        || container.lineFragmentPadding != m_container.lineFragmentPadding;
    m_container = container;
    if (widthChanged)
        layoutParametersDidChange();
}

void TextLayoutManager::setDefaultFont(const QFont& font)
{
    m_defaultFont = font;
    const QFontMetricsF metrics(font);
    m_fontAscent = metrics.ascent();
    m_fontDescent = metrics.descent();
    m_lineHeight = m_fontAscent + m_fontDescent;
    m_averageCharacterWidth = std::max(1.0, metrics.averageCharWidth());
    layoutParametersDidChange();
}

void TextLayoutManager::setDefaultForegroundColor(const QColor& color)
{
    if (color == m_defaultForeground)
        return;
    m_defaultForeground = color;
    // A colour moves nothing: fragments keep their layout and every paragraph its measured
    // height, so a long document does not settle its estimates again. Only a paragraph with text
    // in its own colour equal to the old default is laid out afresh, at the same height.
    std::vector<quint32> stale;
    for (auto& [identifier, entry] : m_cache) {
        if (!entry.fragment->recolour(color))
            stale.push_back(identifier);
    }
    for (const quint32 identifier : stale)
        eraseEntry(identifier);
}

void TextLayoutManager::setDefaultParagraphStyle(const ParagraphStyle& style)
{
    m_defaultStyle = style;
    layoutParametersDidChange();
}

float TextLayoutManager::estimatedHeight(qint64 length) const
{
    double lines = 1;
    const double available = m_container.size.width() - 2 * m_container.lineFragmentPadding;
    if (m_container.wrapsLines() && available > 0)
        lines = std::max(1.0, std::ceil(double(length) * m_averageCharacterWidth / available));
    const double multiple = m_defaultStyle.lineHeightMultiple > 0 ? m_defaultStyle.lineHeightMultiple : 1.0;
    const double spacing = m_defaultStyle.lineSpacing > 0 ? m_defaultStyle.lineSpacing : 0.0;
    return float(lines * (m_lineHeight * multiple + spacing));
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

void TextLayoutManager::setLayoutCacheLimit(qint64 bytes)
{
    m_cacheLimit = std::max<qint64>(0, bytes);
    m_layoutMemory->setBudget(m_cacheLimit / 2);
    trimCache(0);
}

qint64 TextLayoutManager::layoutCacheBytes() const
{
    return m_cacheBytes + m_layoutMemory->bytesInUse();
}

void TextLayoutManager::setPieceLengths(qsizetype limit, qsizetype target, qsizetype estimateBeyond)
{
    m_pieceLimit = std::max<qsizetype>(8, limit);
    m_pieceTarget = std::clamp<qsizetype>(target, 4, m_pieceLimit);
    // At least a few pieces, so that what a caller reaches is laid out whole around it.
    m_estimateBeyond = std::max<qsizetype>(estimateBeyond, 4 * m_pieceLimit);
    layoutParametersDidChange();
}

void TextLayoutManager::dropCache()
{
    m_cache.clear();
    m_recency.clear();
    m_directions.clear();
    m_cacheBytes = 0;
    m_widestLine = 0;
}

void TextLayoutManager::insertEntry(quint32 identifier, std::shared_ptr<TextLayoutFragment> fragment)
{
    eraseEntry(identifier);
    m_recency.push_front(identifier);
    const qint64 cost = cacheEntryOverhead + fragment->memoryCost();
    m_cache.emplace(identifier, CacheEntry { std::move(fragment), m_recency.begin(), cost });
    m_cacheBytes += cost;
}

void TextLayoutManager::eraseEntry(quint32 identifier)
{
    auto it = m_cache.find(identifier);
    if (it == m_cache.end())
        return;
    m_cacheBytes -= it->second.cost;
    m_recency.erase(it->second.position);
    m_cache.erase(it);
}

void TextLayoutManager::updateCost(quint32 identifier)
{
    auto it = m_cache.find(identifier);
    if (it == m_cache.end())
        return;
    const qint64 cost = cacheEntryOverhead + it->second.fragment->memoryCost();
    m_cacheBytes += cost - it->second.cost;
    it->second.cost = cost;
}

void TextLayoutManager::trimCache(quint32 keep)
{
    if (m_cacheBytes <= m_cacheLimit / 2)
        return;
    // Least recently used first. The most recent few stay whatever their size (a viewport's worth,
    // so that a pass over the viewport never pushes out what it just laid out), and so do
    // fragments that a view or a handle still holds: dropping those would free nothing.
    std::vector<quint32> victims;
    qint64 freed = 0;
    qsizetype position = qsizetype(m_recency.size());
    for (auto it = m_recency.rbegin(); it != m_recency.rend() && m_cacheBytes - freed > m_cacheLimit / 2;
         ++it) {
        if (--position < recentFragmentsKept)
            break;
        const CacheEntry& entry = m_cache.at(*it);
        if (*it == keep || entry.fragment.use_count() > 1)
            continue;
        victims.push_back(*it);
        freed += entry.cost;
    }
    for (const quint32 victim : victims)
        eraseEntry(victim);
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::makeFragment() const
{
    return m_factory ? m_factory() : std::make_shared<TextLayoutFragment>();
}

TextLayoutFragment::LayoutInput TextLayoutManager::layoutInput(
    const TextContentStorage::LayoutParagraph& paragraph, bool readAhead) const
{
    const TextRange range = paragraph.range;
    const qint64 terminator = paragraph.terminatorLength;
    TextLayoutFragment::LayoutInput input;
    input.font = m_defaultFont;
    input.fontAscent = m_fontAscent;
    input.fontDescent = m_fontDescent;
    input.foreground = m_defaultForeground;
    input.padding = m_container.lineFragmentPadding;
    input.containerWidth = m_container.size.width();
    input.availableWidth = m_container.wrapsLines()
        ? std::max(1.0, m_container.size.width() - 2 * m_container.lineFragmentPadding)
        : 0.0;
    input.contentLength = range.length() - terminator;
    input.terminator
        = m_storage->attributedString(TextRange(range.endLocation - terminator, range.endLocation));
    input.style = m_defaultStyle;
    // An empty paragraph's style is on its line end, as its font is.
    if (input.contentLength > 0 || terminator > 0) {
        const QVariant style = m_storage->attributes(range.location).value(AttributeKey::paragraphStyle);
        if (style.canConvert<ParagraphStyle>())
            input.style = style.value<ParagraphStyle>();
    }
    if (input.contentLength > 0) {
        const TextRange content(range.location, range.location + input.contentLength);
        if (readAhead && input.contentLength <= m_estimateBeyond) {
            // A paragraph laid out whole is read once, for its direction and for its pieces.
            input.content = m_storage->attributedString(content);
            int isolates = 0;
            input.direction = strongDirection(input.content.string(), isolates).value_or(Qt::LeftToRight);
        } else {
            input.direction = paragraphDirection(paragraph.identifier, content);
        }
    }
    TextContentStorage* storage = m_storage;
    const TextLocation start = range.location;
    input.text = [storage, start](qint64 from, qint64 length) {
        return storage->attributedString(TextRange(start + from, start + from + length));
    };
    input.memory = m_layoutMemory;
    input.pieceLimit = m_pieceLimit;
    input.pieceTarget = m_pieceTarget;
    input.estimateBeyond = m_estimateBeyond;
    input.averageCharacterWidth = m_averageCharacterWidth;
    return input;
}

TextLayoutFragment::LayoutInput TextLayoutManager::layoutInput(qint64 index) const
{
    return layoutInput(m_storage->layoutParagraph(index), false);
}

void TextLayoutManager::fragmentDidGrow(TextLayoutFragment& fragment, qint64 index)
{
    const float height = float(fragment.layoutFragmentFrame().height());
    if (m_storage->layoutParagraphHeight(index) != height || !m_storage->isLayoutParagraphMeasured(index))
        m_storage->setLayoutParagraphHeight(index, height, true);
    m_widestLine = std::max(m_widestLine, fragment.renderingSurfaceBounds().width());
    updateCost(m_storage->layoutParagraphIdentifier(index));
    // A row that does not wrap grows sideways as its estimates are replaced, outside any layout
    // too (a caret rect far into it): the views' scroll ranges must reach its far end.
    emitUsageBoundsIfChanged();
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::layoutCharacters(
    qint64 index, TextLocation from, TextLocation to)
{
    auto fragment = layoutFragment(index, true);
    if (!fragment || !fragment->hasEstimatedText())
        return fragment;
    const TextLocation start = fragment->rangeInElement().location;
    if (fragment->layoutCharacters(layoutInput(index), from - start, to - start))
        fragmentDidGrow(*fragment, index);
    return fragment;
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::layoutFragment(qint64 index, const QRectF& bounds)
{
    auto fragment = layoutFragment(index, true);
    if (!fragment || !fragment->hasEstimatedText())
        return fragment;
    if (fragment->layoutRect(
            layoutInput(index), bounds.translated(-fragment->layoutFragmentFrame().topLeft())))
        fragmentDidGrow(*fragment, index);
    return fragment;
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::layoutFragment(qint64 index, bool ensureLayout)
{
    if (!m_storage || index < 0 || index >= m_storage->layoutParagraphCount())
        return nullptr;
    const TextContentStorage::LayoutParagraph paragraph = m_storage->layoutParagraph(index);
    const quint32 identifier = paragraph.identifier;
    std::shared_ptr<TextLayoutFragment> fragment;
    if (auto it = m_cache.find(identifier); it != m_cache.end()) {
        fragment = it->second.fragment;
        m_recency.splice(m_recency.begin(), m_recency, it->second.position);
    } else {
        fragment = makeFragment();
        insertEntry(identifier, fragment);
    }
    fragment->place(this, index, paragraph.range, paragraph.y);
    if (ensureLayout && fragment->state() != TextLayoutFragment::State::layoutAvailable) {
        fragment->layout(layoutInput(paragraph, true));
        m_storage->setLayoutParagraphHeight(index, float(fragment->layoutFragmentFrame().height()), true);
        m_widestLine = std::max(m_widestLine, fragment->renderingSurfaceBounds().width());
        updateCost(identifier);
        emitUsageBoundsIfChanged();
    } else if (ensureLayout && !paragraph.measured) {
        m_storage->setLayoutParagraphHeight(index, float(fragment->layoutFragmentFrame().height()), true);
    }
    trimCache(identifier);
    return fragment;
}

void TextLayoutManager::ensureLayout(TextRange range)
{
    if (!m_storage)
        return;
    const qint64 first = m_storage->layoutParagraphIndex(range.location);
    const qint64 last = m_storage->layoutParagraphIndex(range.endLocation);
    for (qint64 index = first; index <= last; ++index)
        layoutCharacters(index, range.location, range.endLocation);
}

void TextLayoutManager::ensureLayout(QRectF bounds)
{
    if (!m_storage)
        return;
    for (qint64 index = m_storage->layoutParagraphIndexAtY(bounds.top());
         index < m_storage->layoutParagraphCount(); ++index) {
        auto fragment = layoutFragment(index, bounds);
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
    // In a long paragraph, the pieces around the location: enough for its row and the rows next
    // to it.
    return layoutCharacters(
        m_storage->layoutParagraphIndex(location), location - m_pieceLimit, location + m_pieceLimit);
}

std::shared_ptr<TextLayoutFragment> TextLayoutManager::textLayoutFragment(QPointF position)
{
    if (!m_storage)
        return nullptr;
    const qint64 count = m_storage->layoutParagraphCount();
    qint64 index = m_storage->layoutParagraphIndexAtY(position.y());
    // Laying a fragment out may change its height from the estimate, so look on until the point
    // really falls inside one. In a long paragraph, the rows around the point are laid out (without
    // wrapping, the row around it).
    const QRectF around(
        position.x() - unwrappedReach, position.y() - 2 * m_lineHeight, 2 * unwrappedReach, 4 * m_lineHeight);
    for (;;) {
        auto fragment = layoutFragment(index, around);
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

TextLineFragmentHandle TextLayoutManager::lineFragment(
    TextLocation location, TextSelection::Affinity affinity)
{
    TextLineFragmentHandle handle;
    auto fragment = textLayoutFragment(location);
    if (!fragment)
        return handle;
    const auto index = fragment->lineFragmentIndex(location - fragment->rangeInElement().location, affinity);
    if (!index)
        return handle;
    handle.line = fragment->lineFragment(*index);
    handle.fragment = std::move(fragment);
    handle.index = *index;
    return handle;
}

TextLineFragmentHandle TextLayoutManager::lineFragment(QPointF point)
{
    TextLineFragmentHandle handle;
    auto fragment = textLayoutFragment(point);
    if (!fragment)
        return handle;
    const auto index = fragment->lineFragmentIndex(point - fragment->layoutFragmentFrame().topLeft());
    if (!index)
        return handle;
    handle.line = fragment->lineFragment(*index);
    handle.fragment = std::move(fragment);
    handle.index = *index;
    return handle;
}

void TextLayoutManager::enumerateRowSegments(const TextLayoutFragment& fragment, qsizetype row,
    TextRange range, SegmentType type, bool extendToTrailing, bool extendFromLeading,
    std::vector<QRectF>& frames) const
{
    const TextLayoutFragment::VisualLine visual = fragment.visualLine(row);
    const QRectF frame = fragment.layoutFragmentFrame();
    const TextLocation start = fragment.rangeInElement().location;
    const double spacing = std::max(0.0, fragment.paragraphStyle().lineSpacing);
    double top = visual.y;
    double height = visual.height;
    if (type == SegmentType::standard) {
        top = visual.y + visual.glyphTop;
        height = visual.ascent + visual.descent;
    } else if (type == SegmentType::highlight) {
        height = visual.height - spacing;
    }

    std::vector<std::pair<double, double>> spans;
    for (qsizetype i = visual.firstLineFragment; i < visual.firstLineFragment + visual.lineFragmentCount;
         ++i) {
        const TextLineFragment line = fragment.lineFragment(i);
        const TextRange characters(
            start + line.characterRange().location, start + line.characterRange().endLocation);
        const auto piece = characters.intersection(range);
        if (!piece || piece->isEmpty())
            continue;
        const QRectF bounds = line.typographicBounds();
        const qint64 contentEnd = start + fragment.contentLength();
        const qint64 end = std::min(piece->endLocation, contentEnd);
        double left;
        double right;
        // (Justified lines are wider than their advance: only their carets say where they end.)
        if (piece->location == characters.location && end >= std::min(characters.endLocation, contentEnd)
            && bounds.width() > 0 && fragment.paragraphStyle().alignment != TextAlignment::justified) {
            // A whole line: its bounds, without shaping it again.
            left = bounds.left();
            right = bounds.right();
        } else {
            // Part of a line: where its glyphs stand, which in mixed directions is not between the
            // carets at its two ends.
            const auto runs = line.characterSpans(piece->location - start, end - start);
            if (!runs.empty()) {
                spans.insert(spans.end(), runs.begin(), runs.end());
                continue;
            }
            const double x1 = line.locationForCharacter(piece->location - start).x();
            const double x2 = end > piece->location ? line.locationForCharacter(end - start).x() : x1;
            left = std::min(x1, x2);
            right = std::max(x1, x2);
        }
        spans.push_back({ left, right });
    }
    if (spans.empty())
        return;
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<double, double>> merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second + 0.01)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    }
    if (extendToTrailing || extendFromLeading) {
        // The edges of the text container's line area.
        const double leftEdge = m_container.lineFragmentPadding;
        const double rightEdge = std::max(leftEdge, frame.width() - m_container.lineFragmentPadding);
        const bool leftToRight = fragment.baseWritingDirection() != Qt::RightToLeft;
        const std::pair<double, double> whole { merged.front().first, merged.back().second };
        merged = { whole };
        if (extendToTrailing) {
            if (leftToRight)
                merged[0].second = std::max(merged[0].second, rightEdge);
            else
                merged[0].first = std::min(merged[0].first, leftEdge);
        }
        if (extendFromLeading) {
            if (leftToRight)
                merged[0].first = std::min(merged[0].first, leftEdge);
            else
                merged[0].second = std::max(merged[0].second, rightEdge);
        }
    }
    for (const auto& [left, right] : merged)
        frames.push_back(QRectF(frame.left() + left, frame.top() + top, right - left, height));
}

void TextLayoutManager::enumerateTextSegments(
    TextRange range, SegmentType type, unsigned options, const SegmentBody& body)
{
    if (!m_storage)
        return;
    range = TextRange(std::clamp<qint64>(range.location, 0, m_storage->length()),
        std::clamp<qint64>(range.endLocation, 0, m_storage->length()));
    if (range.isEmpty()) {
        const auto affinity = (options & upstreamAffinity) ? TextSelection::Affinity::upstream
                                                           : TextSelection::Affinity::downstream;
        const TextLineFragmentHandle handle = lineFragment(range.location, affinity);
        if (!handle)
            return;
        const TextLayoutFragment& fragment = *handle.fragment;
        const QRectF frame = fragment.layoutFragmentFrame();
        const TextLayoutFragment::VisualLine row = fragment.visualLine(handle->visualLineIndex());
        const double x
            = handle->locationForCharacter(range.location - fragment.rangeInElement().location).x();
        std::vector<QRectF> frames;
        double top = row.y;
        double height = row.height;
        if (type == SegmentType::standard) {
            top = row.y + row.glyphTop;
            height = row.ascent + row.descent;
        } else if (type == SegmentType::highlight) {
            height = row.height - std::max(0.0, fragment.paragraphStyle().lineSpacing);
        }
        body(range, QRectF(frame.left() + x, frame.top() + top, 0, height),
            frame.top() + row.y + row.glyphTop + row.ascent);
        return;
    }

    // The first row is the one the range starts in, the last the one holding its last character.
    const TextLineFragmentHandle head = lineFragment(range.location);
    const TextLineFragmentHandle tail = lineFragment(range.endLocation - 1);
    if (!head || !tail)
        return;
    const qint64 firstParagraph = head.fragment->layoutParagraphIndex();
    const qint64 lastParagraph = tail.fragment->layoutParagraphIndex();
    const qsizetype headRow = head->visualLineIndex();
    const qsizetype tailRow = tail->visualLineIndex();
    const bool severalRows = firstParagraph != lastParagraph || headRow != tailRow;
    const bool skipMiddle = options & middleFragmentsExcluded;

    auto emitRow = [&](const TextLayoutFragment& fragment, qsizetype row) {
        const bool isHead = fragment.layoutParagraphIndex() == firstParagraph && row == headRow;
        const bool isTail = fragment.layoutParagraphIndex() == lastParagraph && row == tailRow;
        std::vector<QRectF> frames;
        enumerateRowSegments(fragment, row, range, type,
            severalRows && isHead && (options & headSegmentExtended),
            severalRows && isTail && (options & tailSegmentExtended), frames);
        const TextLayoutFragment::VisualLine visual = fragment.visualLine(row);
        const TextLocation start = fragment.rangeInElement().location;
        const auto characters
            = TextRange(start + visual.characterRange.location, start + visual.characterRange.endLocation)
                  .intersection(range);
        const double baseline
            = fragment.layoutFragmentFrame().top() + visual.y + visual.glyphTop + visual.ascent;
        for (const QRectF& frame : frames) {
            if (!body(characters, frame, baseline))
                return false;
        }
        return true;
    };

    for (qint64 index = firstParagraph; index <= lastParagraph; ++index) {
        if (skipMiddle && index != firstParagraph && index != lastParagraph)
            continue;
        std::shared_ptr<TextLayoutFragment> fragment = index == firstParagraph ? head.fragment
            : index == lastParagraph                                           ? tail.fragment
                                                                               : layoutFragment(index, true);
        const qsizetype fromRow = index == firstParagraph ? headRow : 0;
        const qsizetype toRow = index == lastParagraph ? tailRow : fragment->visualLineCount() - 1;
        for (qsizetype row = fromRow; row <= toRow; ++row) {
            const bool isEnd
                = (index == firstParagraph && row == headRow) || (index == lastParagraph && row == tailRow);
            if (skipMiddle && !isEnd)
                continue;
            if (!emitRow(*fragment, row))
                return;
        }
    }
}

std::optional<TextRange> TextLayoutManager::lineFragmentRange(QPointF point, TextLocation)
{
    const TextLineFragmentHandle handle = lineFragment(point);
    if (!handle)
        return std::nullopt;
    const TextRange row = handle.fragment->visualLine(handle->visualLineIndex()).characterRange;
    const TextLocation start = handle.fragment->rangeInElement().location;
    return TextRange(start + row.location, start + row.endLocation);
}

void TextLayoutManager::enumerateCaretOffsets(
    TextLocation location, const std::function<bool(double, TextLocation, bool)>& body)
{
    const TextLineFragmentHandle handle = lineFragment(location);
    if (!handle)
        return;
    const TextLayoutFragment& fragment = *handle.fragment;
    const TextLocation start = fragment.rangeInElement().location;
    const double left = fragment.layoutFragmentFrame().left();
    const qsizetype rowIndex = handle->visualLineIndex();
    const TextLayoutFragment::VisualLine row = fragment.visualLine(rowIndex);
    const bool lastRow = rowIndex + 1 == fragment.visualLineCount();
    std::optional<qint64> previous;
    for (qsizetype i = row.firstLineFragment; i < row.firstLineFragment + row.lineFragmentCount; ++i) {
        const TextLineFragment line = fragment.lineFragment(i);
        const qint64 from = line.characterRange().location;
        const qint64 to = std::min(line.characterRange().endLocation, fragment.contentLength());
        const bool lastInRow = i + 1 == row.firstLineFragment + row.lineFragmentCount;
        if (line.isEstimated())
            continue;
        for (qint64 position = from; position <= to; ++position) {
            // The position where a row wraps belongs to the next row; where two pieces of a row
            // meet, it is reported once.
            if (position == to && to > from && !(lastInRow && lastRow))
                break;
            if (previous && position == *previous)
                continue;
            if (position != to && !line.isValidCaretIndex(position))
                continue;
            previous = position;
            if (!body(left + line.locationForCharacter(position).x(), start + position, true))
                return;
        }
    }
}

std::optional<TextLocation> TextLayoutManager::caretLocation(QPointF point, TextSelection::Affinity* affinity)
{
    auto fragment = textLayoutFragment(point);
    if (!fragment)
        return std::nullopt;
    const QPointF inFragment = point - fragment->layoutFragmentFrame().topLeft();
    const auto index = fragment->characterIndex(inFragment);
    if (!index)
        return std::nullopt;
    if (affinity) {
        const qint64 rowEnd
            = fragment->visualLine(fragment->visualLineIndex(inFragment.y())).characterRange.endLocation;
        *affinity = *index == rowEnd && *index < fragment->contentLength()
            ? TextSelection::Affinity::upstream
            : TextSelection::Affinity::downstream;
    }
    return fragment->rangeInElement().location + *index;
}

Qt::LayoutDirection TextLayoutManager::baseWritingDirection(TextLocation location)
{
    if (!m_storage || location < 0 || location > m_storage->length())
        return Qt::LeftToRight;
    const qint64 index = m_storage->layoutParagraphIndex(location);
    if (auto it = m_cache.find(m_storage->layoutParagraphIdentifier(index));
        it != m_cache.end() && it->second.fragment->state() == TextLayoutFragment::State::layoutAvailable)
        return it->second.fragment->baseWritingDirection();
    const TextRange range = m_storage->layoutParagraphRange(index);
    return paragraphDirection(m_storage->layoutParagraphIdentifier(index),
        TextRange(range.location, range.endLocation - m_storage->terminatorLength(index)));
}

Qt::LayoutDirection TextLayoutManager::paragraphDirection(quint32 identifier, TextRange content) const
{
    // Left to right when the paragraph has no strong character outside isolates.
    if (auto it = m_directions.find(identifier); it != m_directions.end()) {
        DirectionEvidence& evidence = it->second;
        if (!evidence.unread)
            return evidence.direction;
        // Only what the edits put in can hold a strong character before the one known.
        const TextRange unread(
            std::clamp(content.location + evidence.unread->location, content.location, content.endLocation),
            std::clamp(
                content.location + evidence.unread->endLocation, content.location, content.endLocation));
        bool sawIsolates = false;
        const auto strong = firstStrongCharacter(*m_storage, unread, sawIsolates);
        if (!sawIsolates) {
            evidence.unread.reset();
            if (strong)
                evidence = { strong->start - content.location, strong->end - content.location,
                    strong->direction, {} };
            return evidence.direction;
        }
        m_directions.erase(it);
    }
    bool sawIsolates = false;
    const auto strong = firstStrongCharacter(*m_storage, content, sawIsolates);
    const Qt::LayoutDirection direction = strong ? strong->direction : Qt::LeftToRight;
    if (content.length() > directionWindow && !sawIsolates) {
        m_directions[identifier] = strong ? DirectionEvidence { strong->start - content.location,
            strong->end - content.location, direction, {} }
                                          : DirectionEvidence {};
    }
    return direction;
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

void TextLayoutManager::storageParagraphsDidChange(const ParagraphChange& change)
{
    if (change.replacedAll) {
        dropCache();
        return;
    }
    // A paragraph that changed gets a new identifier, so its old fragment must go now or it would
    // stay in the cache, unreachable, until pushed out.
    for (const quint32 identifier : change.retired) {
        eraseEntry(identifier);
        m_directions.erase(identifier);
    }
    for (const ParagraphChange::Edit& edit : change.edited) {
        auto it = m_directions.find(edit.from);
        if (it == m_directions.end())
            continue;
        DirectionEvidence evidence = std::move(it->second);
        m_directions.erase(it);
        const TextRange replaced(edit.start, edit.start + edit.removed);
        const bool found = evidence.strongStart >= 0;
        // After the strong character an edit changes nothing of the direction; over it, the
        // paragraph is read again; before it (or anywhere, with none), only its new text is.
        if (found && replaced.endLocation > evidence.strongStart && replaced.location < evidence.strongEnd)
            continue;
        if (!found || replaced.endLocation <= evidence.strongStart) {
            if (found) {
                evidence.strongStart += edit.inserted - edit.removed;
                evidence.strongEnd += edit.inserted - edit.removed;
            }
            TextRange unread(edit.start, edit.start + edit.inserted);
            if (evidence.unread) {
                unread = unread.united(TextRange(adjusted(evidence.unread->location, replaced, edit.inserted),
                    adjusted(evidence.unread->endLocation, replaced, edit.inserted)));
            }
            if (!unread.isEmpty())
                evidence.unread = unread;
        }
        m_directions.insert_or_assign(edit.to, std::move(evidence));
    }
    for (const ParagraphChange::Edit& edit : change.edited) {
        auto it = m_cache.find(edit.from);
        if (it == m_cache.end())
            continue;
        const std::shared_ptr<TextLayoutFragment> previous = it->second.fragment;
        eraseEntry(edit.from);
        auto successor = makeFragment();
        successor->inherit(*previous, { edit.start, edit.removed, edit.inserted });
        if (successor->m_inheritance)
            insertEntry(edit.to, std::move(successor));
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
        // The column Up and Down keep is the one of the text they moved through: after an edit the
        // next vertical move starts from where the caret now stands, not where it stood before.
        selection.anchorPositionOffset = std::nan("");
    }
    m_renderingAttributes.textDidChange(replaced, newLength);
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
    m_renderingAttributes.set(attributes, range);
}

void TextLayoutManager::addRenderingAttribute(const QString& key, const QVariant& value, TextRange range)
{
    m_renderingAttributes.add(key, value, range);
}

void TextLayoutManager::removeRenderingAttribute(const QString& key, TextRange range)
{
    m_renderingAttributes.remove(key, range);
}

void TextLayoutManager::enumerateRenderingAttributes(TextLocation from, bool reverseOrder,
    const std::function<bool(const TextAttributes&, TextRange)>& body) const
{
    m_renderingAttributes.enumerate(from, reverseOrder, body);
}

} // namespace platform
