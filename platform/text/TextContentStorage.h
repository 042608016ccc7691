#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/TextBlocks.h"
#include "platform/text/TextRange.h"

#include <QObject>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

class TextLayoutManager;

// One paragraph of the document: its text up to and including its terminator (LF, CR, CRLF or
// U+2029; U+2028 stays inside a paragraph).
struct TextParagraph {
    qint64 index = 0;
    TextRange elementRange;
    TextRange paragraphContentRange;
    AttributedString attributedString;
};

// How an edit changed the identifiers of layout paragraphs, for layout managers that keep layouts by
// identifier: paragraphs gone, and paragraphs that are still one paragraph under a new identifier.
struct ParagraphChange {
    // An edit inside one paragraph's content (its terminator untouched), in offsets relative to the
    // paragraph's start; an attribute change has as many units removed as inserted.
    struct Edit {
        quint32 from = 0;
        quint32 to = 0;
        qint64 start = 0;
        qint64 removed = 0;
        qint64 inserted = 0;
    };
    std::vector<quint32> retired;
    std::vector<Edit> edited;
    bool replacedAll = false;
};

// The document's characters and attributes. Paragraphs live in chunks of a few hundred, with
// per-paragraph lengths and running sums per chunk, so an edit touches one chunk and a lookup is a
// binary search plus a short scan, whatever the document's size. A chunk keeps its text in bounded
// blocks (Latin-1 ones at one byte a character), so an edit inside a very long paragraph moves one
// block's characters, not the paragraph's.
//
// Besides the paragraphs that are text elements, the storage keeps one "layout paragraph" more
// when the document is empty or ends with a terminator: the empty line after it. Layout paragraphs
// carry the heights the primary layout manager measured or estimated, and an identifier that
// changes whenever the paragraph's text or attributes change.
class TextContentStorage : public QObject {
    Q_OBJECT
public:
    explicit TextContentStorage(QObject* parent = nullptr);
    ~TextContentStorage() override;

    qint64 length() const;
    TextRange documentRange() const { return TextRange(0, length()); }
    QString string() const;
    QString substring(TextRange range) const;
    AttributedString attributedString() const { return attributedString(documentRange()); }
    AttributedString attributedString(TextRange range) const;
    // The text in the blocks it is kept in, from the block holding `from` on, each with the offset
    // where it starts, until `body` answers false. Blocks are bounded in length and may end
    // anywhere, inside a paragraph, a CRLF pair or a surrogate pair. A view holds during its call
    // only; a search reads a long document through them without copying it whole.
    void enumerateTextPieces(
        TextLocation from, const std::function<bool(QStringView piece, TextLocation start)>& body) const;

    // Whole-document loads: the chunks are built straight from the text, keeping no copy of it.
    void setAttributedString(const AttributedString& text);
    void setString(const QString& text, const TextAttributes& attributes = {});
    // The text handed over, in one run of `attributes`; each of its blocks is dropped once read.
    void setString(TextBlocks&& text, const TextAttributes& attributes = {});

    // Replaces the characters of `range` (clamped to the document). Outside a transaction the
    // edit is a transaction of its own.
    virtual void replaceCharacters(TextRange range, const AttributedString& replacement);
    void setAttributes(const TextAttributes& attributes, TextRange range);
    void addAttributes(const TextAttributes& attributes, TextRange range);
    void removeAttribute(const QString& key, TextRange range);
    TextAttributes attributes(TextLocation at) const;

    // Runs `body`; layout managers hear of the changes as they happen, and `transactionDidEnd` is
    // emitted once when the outermost transaction ends.
    void performEditingTransaction(const std::function<void()>& body);
    bool hasEditingTransaction() const { return m_transactionDepth > 0; }

    // Text elements.
    qint64 paragraphCount() const;
    std::optional<TextParagraph> paragraph(qint64 index) const;
    // The paragraph whose element range holds `at`; the document end maps to the last paragraph.
    std::optional<TextParagraph> paragraphAt(TextLocation at) const;
    // Paragraphs from the one holding `from`, forwards or backwards, until `body` answers false.
    void enumerateParagraphs(
        TextLocation from, bool reverse, const std::function<bool(const TextParagraph&)>& body) const;

    // Layout paragraphs (see above).
    qint64 layoutParagraphCount() const { return m_layoutParagraphCount; }
    qint64 layoutParagraphIndex(TextLocation at) const;
    // What the accessors below answer of one paragraph, found in one walk of its chunk.
    struct LayoutParagraph {
        TextRange range;
        qint32 terminatorLength = 0;
        quint32 identifier = 0;
        double y = 0;
        float height = 0;
        bool measured = false;
    };
    LayoutParagraph layoutParagraph(qint64 index) const;
    TextRange layoutParagraphRange(qint64 index) const;
    qint32 terminatorLength(qint64 index) const;
    AttributedString layoutParagraphText(qint64 index) const;
    quint32 layoutParagraphIdentifier(qint64 index) const;
    double layoutParagraphY(qint64 index) const;
    float layoutParagraphHeight(qint64 index) const;
    bool isLayoutParagraphMeasured(qint64 index) const;
    void setLayoutParagraphHeight(qint64 index, float height, bool measured);
    // The layout paragraph at a vertical position (clamped to the first and last).
    qint64 layoutParagraphIndexAtY(double y) const;
    double totalHeight() const;
    // Estimates heights of paragraphs not yet measured from their length; set by the primary
    // layout manager. `reestimateAll` drops every measurement (after a width or font change).
    void setHeightEstimator(std::function<float(qint64 length)> estimator);
    void reestimateAll();
    void invalidateMeasurement(TextRange range);

    const std::vector<TextLayoutManager*>& textLayoutManagers() const { return m_layoutManagers; }
    void addTextLayoutManager(TextLayoutManager* manager);
    void removeTextLayoutManager(TextLayoutManager* manager);
    TextLayoutManager* primaryTextLayoutManager() const
    {
        return m_layoutManagers.empty() ? nullptr : m_layoutManagers.front();
    }

    // Largest chunk and block sizes (blocks: half a chunk unless given); exposed for tests that
    // want many chunks and blocks on small texts.
    void setChunkLimits(int paragraphs, qsizetype units, std::optional<qsizetype> blockUnits = std::nullopt);
    qsizetype chunkCount() const { return qsizetype(m_chunks.size()); }
    // The bytes the characters take (one per Latin-1 character, two per UTF-16 unit elsewhere).
    qsizetype characterBytes() const;

signals:
    // Before `textDidChange` and `attributesDidChange`, with the paragraphs they renewed.
    void paragraphsDidChange(const platform::ParagraphChange& change);
    // After each replacement: `replaced` is the old range, `newLength` the replacement's length.
    void textDidChange(platform::TextRange replaced, qint64 newLength);
    void attributesDidChange(platform::TextRange range);
    void transactionDidEnd();
    // A paragraph's height changed: the paragraphs after it moved by the difference.
    void layoutParagraphHeightDidChange(qint64 index);

private:
    struct ParagraphInfo {
        qint32 length = 0;
        quint8 terminatorLength = 0;
        bool measured = false;
        float height = 0;
        quint32 identifier = 0;
    };
    struct Chunk {
        TextBlocks text;
        std::vector<ParagraphInfo> paragraphs;
        double height = 0;
    };
    struct Place {
        size_t chunk = 0;
        size_t local = 0;
        qint64 start = 0; // document offset of the paragraph
    };

    void ensureIndex() const;
    void invalidateIndex(size_t fromChunk);
    size_t chunkForLocation(TextLocation at) const;
    size_t chunkForParagraph(qint64 index) const;
    Place placeOfLocation(TextLocation at) const;
    Place placeOfParagraph(qint64 index) const;
    class Loader;

    std::vector<ParagraphInfo> splitParagraphs(
        const TextBlocks& text, qsizetype from, qsizetype to, bool atDocumentEnd);
    void adoptChunks(std::vector<Chunk> chunks, qint64 length, qint64 paragraphCount);
    ParagraphInfo makeInfo(qint32 length, quint8 terminator);
    void mergeChunks(size_t first, size_t last);
    void splitChunkIfLarge(size_t index);
    void recountChunk(Chunk& chunk);
    qint64 globalIndex(const Place& place) const;
    void notifyEdit(TextRange replaced, qint64 newLength);
    quint32 nextIdentifier();
    bool replaceInsideParagraph(TextRange range, const AttributedString& replacement);
    template<typename Change> void changeAttributes(TextRange range, Change change);
    template<typename Body> void forEachChunkIn(TextRange range, Body body) const;

    std::vector<Chunk> m_chunks;
    mutable std::vector<qint64> m_chunkOffset;
    mutable std::vector<qint64> m_chunkParagraph;
    mutable std::vector<double> m_chunkY;
    mutable size_t m_indexValidUpTo = 0;
    qint64 m_length = 0;
    qint64 m_layoutParagraphCount = 0;
    quint32 m_nextIdentifier = 1;
    int m_transactionDepth = 0;
    int m_chunkParagraphLimit = 512;
    qsizetype m_chunkUnitLimit = 64 * 1024;
    qsizetype m_blockUnitLimit = TextBlocks::defaultBlockUnits;
    std::function<float(qint64)> m_estimator;
    std::vector<TextLayoutManager*> m_layoutManagers;
};

} // namespace platform
