#pragma once

#include "platform/text/TextContainer.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutFragment.h"
#include "platform/text/TextRenderingAttributes.h"
#include "platform/text/TextSelection.h"

#include <QColor>
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
struct ParagraphChange;

// Lays out the paragraphs of a content storage into fragments and keeps the selections.
//
// Heights of paragraphs not laid out yet are estimated, and so is the text of a very long
// paragraph that nothing has reached yet (see TextLayoutFragment): the manager lays out the part a
// caller needs before answering, whether it asks about a location (the pieces around it), a point
// (the rows around it) or a rectangle (a viewport). Laid-out fragments are cached by paragraph
// identifier within a memory budget: half of it for the fragments' own data (line geometry, the
// text of their pieces), half for the shaped glyphs their pieces keep (see TextLayoutMemory). A
// fragment that falls out keeps its measured height in the storage. An edit replaces the edited
// paragraph's fragment by one that lays out again only the pieces the edit touched.
//
// Everything here runs on the thread that owns the manager (the main thread in the program).
class TextLayoutManager : public QObject {
    Q_OBJECT
public:
    enum EnumerationOption : unsigned {
        reverse = 0x1,
        ensuresLayout = 0x2,
        estimatesSize = 0x4,
        ensuresExtraLineFragment = 0x8,
    };
    // What a segment's frame covers vertically: `standard` the glyphs' box (ascent and descent),
    // `selection` the whole row with its line spacing, so that the rows of a selection meet, and
    // `highlight` the row without its line spacing.
    enum class SegmentType { standard = 0, selection = 1, highlight = 2 };
    enum SegmentOption : unsigned {
        // The segment body may get no range (the frame is enough).
        rangeNotRequired = 0x1,
        // For a range over more than one row: no segments for the rows between the first and the last.
        middleFragmentsExcluded = 0x2,
        // For a range over more than one row: the first row's segment reaches to the row's
        // trailing edge, the last row's from its leading edge.
        headSegmentExtended = 0x4,
        tailSegmentExtended = 0x8,
        // An empty range where one row ends and the next begins is shown at the end of the first.
        upstreamAffinity = 0x10,
    };
    // Makes an empty fragment; the manager places it and lays it out.
    using FragmentFactory = std::function<std::shared_ptr<TextLayoutFragment>()>;
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
    // The colour of text that carries none (invalid: the painter's pen). Text in the default font
    // and colour lays out faster, without formats. A new colour keeps the layouts and heights
    // (the caller redraws); a new font or style lays everything out again.
    QColor defaultForegroundColor() const { return m_defaultForeground; }
    void setDefaultForegroundColor(const QColor& color);
    // The style of paragraphs whose first character carries none, and of empty lines.
    const ParagraphStyle& defaultParagraphStyle() const { return m_defaultStyle; }
    void setDefaultParagraphStyle(const ParagraphStyle& style);

    const std::vector<TextSelection>& textSelections() const { return m_selections; }
    virtual void setTextSelections(std::vector<TextSelection> selections);
    TextSelectionNavigation& textSelectionNavigation();
    TextViewportLayoutController& textViewportLayoutController();

    void setFragmentFactory(FragmentFactory factory);
    // Lays out the paragraphs of `range`, their text in it included.
    void ensureLayout(TextRange range);
    // Lays out the paragraphs that meet `bounds` (container coordinates) and their text there.
    void ensureLayout(QRectF bounds);
    void invalidateLayout(TextRange range);
    // The fragment of the paragraph holding `location` (the document end belongs to the last),
    // laid out; none outside the document.
    std::shared_ptr<TextLayoutFragment> textLayoutFragment(TextLocation location);
    // The fragment at a vertical position (container coordinates), laid out.
    std::shared_ptr<TextLayoutFragment> textLayoutFragment(QPointF position);
    // The fragment of a layout paragraph; with `ensureLayout`, laid out (a very long paragraph
    // mostly estimated).
    std::shared_ptr<TextLayoutFragment> layoutFragment(qint64 layoutParagraphIndex, bool ensureLayout);
    // The same laid out, with its text that meets `bounds` (container coordinates).
    std::shared_ptr<TextLayoutFragment> layoutFragment(qint64 layoutParagraphIndex, const QRectF& bounds);
    // Enumerates fragments from the one holding `from`; answers the location where it stopped.
    std::optional<TextLocation> enumerateTextLayoutFragments(
        TextLocation from, unsigned options, const FragmentBody& body);

    // The line holding `location`: at the boundary of two rows the later one, or the earlier one
    // with upstream affinity.
    TextLineFragmentHandle lineFragment(
        TextLocation location, TextSelection::Affinity affinity = TextSelection::Affinity::downstream);
    // The line at a point (container coordinates): the row at its y, the line at its x.
    TextLineFragmentHandle lineFragment(QPointF point);

    // Frames of the text in `range`, one per line fragment, merged where they touch on one row; an
    // empty range gives one caret frame (zero width). Terminators have zero width, so an empty line
    // inside a range gives a zero-width segment unless the head is extended.
    void enumerateTextSegments(TextRange range, SegmentType type, unsigned options, const SegmentBody& body);
    // The range of the row at a point (container coordinates).
    std::optional<TextRange> lineFragmentRange(QPointF point, TextLocation containerLocation);
    // The carets of the row holding `location`, in logical order, with their x; linear in the
    // row's length.
    void enumerateCaretOffsets(
        TextLocation location, const std::function<bool(double x, TextLocation, bool leadingEdge)>& body);
    // The caret location nearest to a point: the row at the point's y, then the nearest caret x.
    // `affinity`, when given, names the row the caret is drawn on: upstream where the point's row
    // ends at the caret and the next row begins there (a row cut inside a word, or in a script
    // written without spaces), so that a click past a row's end leaves the caret on that row.
    std::optional<TextLocation> caretLocation(QPointF point, TextSelection::Affinity* affinity = nullptr);
    // The writing direction of the paragraph holding `location`, from its first strong character.
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

    // The memory the layout cache may hold, in bytes.
    void setLayoutCacheLimit(qint64 bytes);
    qint64 layoutCacheLimit() const { return m_cacheLimit; }
    // What the cache holds now: the fragments' data and the shaped glyphs of their pieces.
    qint64 layoutCacheBytes() const;
    int cachedFragmentCount() const { return int(m_cache.size()); }
    // Long paragraphs are laid out in pieces of at most `limit` units, cut near `target`, and
    // those of more than `estimateBeyond` units only where they are reached; small values let
    // tests exercise pieces and estimates on short texts.
    void setPieceLengths(
        qsizetype limit, qsizetype target, qsizetype estimateBeyond = textLayoutEstimateThreshold);
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
    void storageParagraphsDidChange(const ParagraphChange& change);
    void storageTextDidChange(TextRange replaced, qint64 newLength);
    void storageAttributesDidChange(TextRange range);
    void storageTransactionDidEnd();
    void dropCache();
    void layoutParametersDidChange();
    std::shared_ptr<TextLayoutFragment> makeFragment() const;
    TextLayoutFragment::LayoutInput layoutInput(qint64 index) const;
    // With `readAhead`, a paragraph short enough to be laid out whole comes with its content.
    TextLayoutFragment::LayoutInput layoutInput(
        const TextContentStorage::LayoutParagraph& paragraph, bool readAhead) const;
    // After a fragment laid out more of its text: its height in the storage, the widest line
    // and its cost.
    void fragmentDidGrow(TextLayoutFragment& fragment, qint64 index);
    // Lays out the text of the paragraph at `index` within [from, to) (document locations).
    std::shared_ptr<TextLayoutFragment> layoutCharacters(qint64 index, TextLocation from, TextLocation to);
    void emitUsageBoundsIfChanged();
    void insertEntry(quint32 identifier, std::shared_ptr<TextLayoutFragment> fragment);
    void eraseEntry(quint32 identifier);
    void updateCost(quint32 identifier);
    void trimCache(quint32 keep);
    void enumerateRowSegments(const TextLayoutFragment& fragment, qsizetype row, TextRange range,
        SegmentType type, bool extendToTrailing, bool extendFromLeading, std::vector<QRectF>& frames) const;
    // The direction of the paragraph `identifier`, whose content is `content`.
    Qt::LayoutDirection paragraphDirection(quint32 identifier, TextRange content) const;

    struct CacheEntry {
        std::shared_ptr<TextLayoutFragment> fragment;
        std::list<quint32>::iterator position;
        qint64 cost = 0;
    };

    // Where a long paragraph's first strong character is, so that an edit does not read the
    // paragraph again up to it, which a line of digits and spaces would have read whole per
    // keystroke. Offsets from the paragraph's start; kept only for paragraphs without direction
    // isolates before that character.
    struct DirectionEvidence {
        qint64 strongStart = -1; // none found
        qint64 strongEnd = -1;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        // Text edits put before the strong character (or anywhere, when there is none), not read yet.
        std::optional<TextRange> unread;
    };

    TextContentStorage* m_storage = nullptr;
    TextContainer m_container;
    QFont m_defaultFont;
    QColor m_defaultForeground;
    ParagraphStyle m_defaultStyle;
    double m_lineHeight = 0;
    double m_fontAscent = -1; // of the default font, once it is set
    double m_fontDescent = -1;
    double m_averageCharacterWidth = 0;
    double m_widestLine = 0;
    QRectF m_lastUsageBounds;
    std::vector<TextSelection> m_selections;
    FragmentFactory m_factory;
    std::unordered_map<quint32, CacheEntry> m_cache;
    mutable std::unordered_map<quint32, DirectionEvidence> m_directions;
    std::list<quint32> m_recency; // most recently used first
    qint64 m_cacheBytes = 0;
    qint64 m_cacheLimit = 0;
    std::shared_ptr<TextLayoutMemory> m_layoutMemory;
    qsizetype m_pieceLimit = textLayoutPieceLimit;
    qsizetype m_pieceTarget = textLayoutPieceTarget;
    qsizetype m_estimateBeyond = textLayoutEstimateThreshold;
    quint64 m_layoutGeneration = 0;
    TextRenderingAttributes m_renderingAttributes;
    std::unique_ptr<TextSelectionNavigation> m_navigation;
    std::unique_ptr<TextViewportLayoutController> m_viewport;
};

} // namespace platform
