#pragma once

#include "platform/text/TextContainer.h"
#include "platform/text/TextLayoutFragment.h"
#include "platform/text/TextSelection.h"

#include <QFont>
#include <QObject>
#include <QPointF>
#include <QRectF>

#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform {

class TextContentStorage;
class TextSelectionNavigation;
class TextViewportLayoutController;

// Lays out the paragraphs of a content storage into fragments and keeps the selections. Heights
// of paragraphs not laid out yet are estimated; laid-out fragments are kept in a cache of bounded
// size (a fragment that falls out keeps its measured height in the storage).
class TextLayoutManager : public QObject {
    Q_OBJECT
public:
    enum EnumerationOption : unsigned {
        reverse = 0x1,
        ensuresLayout = 0x2,
        estimatesSize = 0x4,
        ensuresExtraLineFragment = 0x8,
    };
    enum class SegmentType { standard = 0, selection = 1, highlight = 2 };
    enum SegmentOption : unsigned {
        rangeNotRequired = 0x1,
        middleFragmentsExcluded = 0x2,
        headSegmentExtended = 0x4,
        tailSegmentExtended = 0x8,
        upstreamAffinity = 0x10,
    };
    using FragmentFactory = std::function<std::shared_ptr<TextLayoutFragment>(
        const AttributedString& paragraphText, int terminatorLength, TextRange range)>;
    using FragmentBody = std::function<bool(const std::shared_ptr<TextLayoutFragment>&)>;
    using SegmentBody = std::function<bool(std::optional<TextRange> range, QRectF frame, double baseline)>;

    explicit TextLayoutManager(QObject* parent = nullptr);
    ~TextLayoutManager() override;

    // Becomes a layout manager of `storage` (the storage's first manager is its primary one and
    // owns the stored heights). The storage must outlive this manager or be replaced first.
    void setTextContentStorage(TextContentStorage* storage);
    TextContentStorage* textContentStorage() const { return m_storage; }
    TextRange documentRange() const;

    const TextContainer& textContainer() const { return m_container; }
    void setTextContainer(const TextContainer& container);
    // The font of text that carries none, and of empty lines.
    QFont defaultFont() const { return m_defaultFont; }
    void setDefaultFont(const QFont& font);
    double defaultLineHeightMultiple() const { return m_defaultLineHeightMultiple; }
    void setDefaultLineHeightMultiple(double multiple);

    const std::vector<TextSelection>& textSelections() const { return m_selections; }
    virtual void setTextSelections(std::vector<TextSelection> selections);
    TextSelectionNavigation& textSelectionNavigation();
    TextViewportLayoutController& textViewportLayoutController();

    void setFragmentFactory(FragmentFactory factory);
    void ensureLayout(TextRange range);
    void ensureLayout(QRectF bounds);
    void invalidateLayout(TextRange range);
    // The fragment of the paragraph holding `location` (the document end belongs to the last),
    // laid out; none outside the document.
    std::shared_ptr<TextLayoutFragment> textLayoutFragment(TextLocation location);
    std::shared_ptr<TextLayoutFragment> textLayoutFragment(QPointF position);
    std::shared_ptr<TextLayoutFragment> layoutFragment(qint64 layoutParagraphIndex, bool ensureLayout);
    // Enumerates fragments from the one holding `from`; answers the location where it stopped.
    std::optional<TextLocation> enumerateTextLayoutFragments(
        TextLocation from, unsigned options, const FragmentBody& body);

    // Frames of the text in `range`, one per line piece; an empty range gives one caret frame
    // (zero width). Terminators have zero width, so an empty line inside a range gives a
    // zero-width segment.
    void enumerateTextSegments(TextRange range, SegmentType type, unsigned options, const SegmentBody& body);
    // The range of the visual line at a point (in container coordinates).
    std::optional<TextRange> lineFragmentRange(QPointF point, TextLocation containerLocation);
    // The carets of the visual line holding `location`, in logical order, with their x.
    void enumerateCaretOffsets(
        TextLocation location, const std::function<bool(double x, TextLocation, bool leadingEdge)>& body);
    // The caret location nearest to a point: the line at the point's y, then the nearest caret x.
    std::optional<TextLocation> caretLocation(QPointF point);
    // The line holding `location`: for an upstream location at a soft wrap, the earlier line.
    struct LineLookup {
        std::shared_ptr<TextLayoutFragment> fragment;
        const TextLineFragment* line = nullptr;
    };
    LineLookup lineFragment(
        TextLocation location, TextSelection::Affinity affinity = TextSelection::Affinity::downstream);
    Qt::LayoutDirection baseWritingDirection(TextLocation location);

    // The laid-out extent of the text, estimates included.
    virtual QRectF usageBoundsForTextContainer() const;

    // Attributes for drawing only (spelling marks, find highlights). They move with edits: an
    // insertion shifts them, a replacement drops what it covers.
    void setRenderingAttributes(const TextAttributes& attributes, TextRange range);
    void addRenderingAttribute(const QString& key, const QVariant& value, TextRange range);
    void removeRenderingAttribute(const QString& key, TextRange range);
    void enumerateRenderingAttributes(TextLocation from, bool reverse,
        const std::function<bool(const TextAttributes&, TextRange)>& body) const;

    void setLayoutCacheLimit(int fragments);
    int layoutCacheLimit() const { return m_cacheLimit; }
    int cachedFragmentCount() const { return int(m_cache.size()); }
    // Changes with every edit and with every change that drops all measured heights, so that
    // positions remembered across layout passes can tell whether they still hold.
    quint64 layoutGeneration() const { return m_layoutGeneration; }
    // The estimate for a paragraph of `length` units that is not laid out yet.
    float estimatedHeight(qint64 length) const;

signals:
    void selectionDidChange();
    void usageBoundsDidChange();
    void layoutDidInvalidate(platform::TextRange range);

private:
    void storageTextDidChange(TextRange replaced, qint64 newLength);
    void storageAttributesDidChange(TextRange range);
    void storageTransactionDidEnd();
    void dropCache();
    TextLayoutFragment::LayoutParameters layoutParameters() const;
    void touch(quint32 identifier);
    void emitUsageBoundsIfChanged();

    struct CacheEntry {
        std::shared_ptr<TextLayoutFragment> fragment;
        std::list<quint32>::iterator position;
    };
    struct RenderingRun {
        TextRange range;
        TextAttributes attributes;
    };

    TextContentStorage* m_storage = nullptr;
    TextContainer m_container;
    QFont m_defaultFont;
    double m_defaultLineHeightMultiple = 0;
    double m_lineHeight = 0;
    double m_averageCharacterWidth = 0;
    double m_widestLine = 0;
    QRectF m_lastUsageBounds;
    std::vector<TextSelection> m_selections;
    FragmentFactory m_factory;
    std::unordered_map<quint32, CacheEntry> m_cache;
    std::list<quint32> m_recency;
    int m_cacheLimit = 2000;
    quint64 m_layoutGeneration = 0;
    std::vector<RenderingRun> m_renderingRuns;
    std::unique_ptr<TextSelectionNavigation> m_navigation;
    std::unique_ptr<TextViewportLayoutController> m_viewport;
};

} // namespace platform
