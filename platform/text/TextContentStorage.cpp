#include "platform/text/TextContentStorage.h"

#include "platform/text/TextLayoutManager.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <utility>

namespace platform {

namespace {

constexpr char16_t lineFeed = 0x0A;
constexpr char16_t carriageReturn = 0x0D;
constexpr char16_t paragraphSeparator = 0x2029;

bool isTerminator(char16_t c)
{
    return c == lineFeed || c == carriageReturn || c == paragraphSeparator;
}

// Finds where paragraphs end in text read piece by piece (UTF-16 or Latin-1 units); a carriage
// return that ends a piece waits for the next piece's first unit.
class TerminatorScanner {
public:
    // Calls `found(end, terminatorLength)` for each paragraph ending in the piece, `end` being the
    // offset in the piece just after its terminator (0 when a carriage return pending from the
    // piece before ends alone).
    template<typename Char, typename Found> void scan(const Char* data, qsizetype size, Found&& found)
    {
        if (size == 0)
            return;
        qsizetype i = 0;
        if (m_pendingCarriageReturn) {
            m_pendingCarriageReturn = false;
            if (data[0] == lineFeed) {
                found(qsizetype(1), quint8(2));
                i = 1;
            } else {
                found(qsizetype(0), quint8(1));
            }
        }
        for (; i < size; ++i) {
            const char16_t c = data[i];
            if (c > carriageReturn) {
                if constexpr (sizeof(Char) == 1)
                    continue;
                else if (c != paragraphSeparator)
                    continue;
            }
            if (c == lineFeed || c == paragraphSeparator) {
                found(i + 1, quint8(1));
            } else if (c == carriageReturn) {
                if (i + 1 == size) {
                    m_pendingCarriageReturn = true;
                } else if (data[i + 1] == lineFeed) {
                    found(i + 2, quint8(2));
                    ++i;
                } else {
                    found(i + 1, quint8(1));
                }
            }
        }
    }
    // Whether a carriage return ended the text; it ends a paragraph alone.
    bool takePendingCarriageReturn() { return std::exchange(m_pendingCarriageReturn, false); }

private:
    bool m_pendingCarriageReturn = false;
};

} // namespace

// Builds a document's chunks from its text read once, front to back, in pieces: paragraph ends are
// found as the text goes by, each stretch of text is copied once into the chunk it belongs to, and
// a chunk gets its attribute runs when it is complete. Chunks are cut as `setAttributedString`
// always cut them: at most the paragraph limit, and within the unit limit unless one paragraph is
// longer.
class TextContentStorage::Loader {
public:
    Loader(TextContentStorage& storage, const std::vector<AttributeRun>& runs)
        : m_storage(storage)
        , m_runs(&runs)
    {
        start();
    }
    Loader(TextContentStorage& storage, const TextAttributes& attributes)
        : m_storage(storage)
        , m_attributes(attributes)
    {
        start();
    }

    template<typename Char> void feed(const Char* data, qsizetype size)
    {
        m_flushed = 0;
        qsizetype paragraphStart = 0;
        m_scanner.scan(data, size, [&](qsizetype end, quint8 terminator) {
            endParagraph(data, m_open + end - paragraphStart, terminator, end);
            m_open = 0;
            paragraphStart = end;
        });
        flush(data, size);
        m_open += size - paragraphStart;
        m_length += size;
    }

    void finish()
    {
        if (m_scanner.takePendingCarriageReturn()) {
            endParagraph<char16_t>(nullptr, m_open, 1, 0);
            m_open = 0;
        }
        // The last paragraph, empty after a final terminator: the line a caret can go to.
        endParagraph<char16_t>(nullptr, m_open, 0, 0);
        if (!m_current.paragraphs.empty())
            closeChunk();
        m_storage.adoptChunks(std::move(m_chunks), m_length, m_paragraphs);
    }

private:
    void start()
    {
        // The old text goes first, so that a new one is never held beside it; nothing reads the
        // storage until the new chunks are in.
        std::vector<Chunk>().swap(m_storage.m_chunks);
        m_current.text.setBlockLimit(m_storage.m_blockUnitLimit);
    }

    template<typename Char> void flush(const Char* data, qsizetype to)
    {
        if (to <= m_flushed)
            return;
        if constexpr (sizeof(Char) == 1)
            m_current.text.appendLatin1(
                QByteArrayView(reinterpret_cast<const char*>(data) + m_flushed, to - m_flushed));
        else
            m_current.text.appendCharacters(QStringView(data + m_flushed, to - m_flushed));
        m_flushed = to;
    }

    // A paragraph of `length` units ended at `end` in the piece being read.
    template<typename Char>
    void endParagraph(const Char* data, qint64 length, quint8 terminator, qsizetype end)
    {
        if (!m_current.paragraphs.empty() && m_units + length > m_storage.m_chunkUnitLimit) {
            // The paragraph starts the next chunk; its text so far moves there.
            flush(data, end);
            Chunk next;
            next.text = m_current.text.takeTail(m_units);
            closeChunk();
            m_current = std::move(next);
        }
        m_current.paragraphs.push_back(m_storage.makeInfo(qint32(length), terminator));
        m_units += length;
        ++m_paragraphs;
        if (m_current.paragraphs.size() >= size_t(m_storage.m_chunkParagraphLimit)) {
            flush(data, end);
            closeChunk();
            m_current = Chunk();
            m_current.text.setBlockLimit(m_storage.m_blockUnitLimit);
        }
    }

    void closeChunk()
    {
        m_current.text.squeeze();
        m_current.text.setRuns(takeRuns(m_current.text.length()));
        m_storage.recountChunk(m_current);
        m_chunks.push_back(std::move(m_current));
        m_units = 0;
    }

    AttributeRuns takeRuns(qsizetype length)
    {
        std::vector<AttributeRun> runs;
        if (!m_runs) {
            if (length > 0)
                runs.push_back({ length, m_attributes });
            return AttributeRuns(std::move(runs));
        }
        while (length > 0 && m_runIndex < m_runs->size()) {
            const AttributeRun& run = (*m_runs)[m_runIndex];
            const qsizetype taken = std::min(length, run.length - m_runOffset);
            runs.push_back({ taken, run.attributes });
            length -= taken;
            m_runOffset += taken;
            if (m_runOffset == run.length) {
                ++m_runIndex;
                m_runOffset = 0;
            }
        }
        return AttributeRuns(std::move(runs));
    }

    TextContentStorage& m_storage;
    const std::vector<AttributeRun>* m_runs = nullptr;
    size_t m_runIndex = 0;
    qsizetype m_runOffset = 0;
    TextAttributes m_attributes;
    TerminatorScanner m_scanner;
    std::vector<Chunk> m_chunks;
    Chunk m_current;
    qsizetype m_units = 0; // of the current chunk's paragraphs that have ended
    qint64 m_open = 0; // of the paragraph being read, before this piece
    qsizetype m_flushed = 0; // of this piece, already in the current chunk
    qint64 m_length = 0;
    qint64 m_paragraphs = 0;
};

TextContentStorage::TextContentStorage(QObject* parent)
    : QObject(parent)
{
    m_chunks.push_back({});
    m_chunks.back().paragraphs.push_back(makeInfo(0, 0));
    recountChunk(m_chunks.back());
    m_layoutParagraphCount = 1;
}

TextContentStorage::~TextContentStorage() = default;

qint64 TextContentStorage::length() const
{
    return m_length;
}

quint32 TextContentStorage::nextIdentifier()
{
    const quint32 identifier = m_nextIdentifier++;
    if (m_nextIdentifier == 0)
        m_nextIdentifier = 1;
    return identifier;
}

TextContentStorage::ParagraphInfo TextContentStorage::makeInfo(qint32 length, quint8 terminator)
{
    ParagraphInfo info;
    info.length = length;
    info.terminatorLength = terminator;
    info.identifier = nextIdentifier();
    info.height = m_estimator ? m_estimator(length - terminator) : 0.f;
    return info;
}

void TextContentStorage::recountChunk(Chunk& chunk)
{
    double height = 0;
    for (const ParagraphInfo& info : chunk.paragraphs)
        height += info.height;
    chunk.height = height;
}

std::vector<TextContentStorage::ParagraphInfo> TextContentStorage::splitParagraphs(
    const TextBlocks& text, qsizetype from, qsizetype to, bool atDocumentEnd)
{
    std::vector<ParagraphInfo> result;
    qsizetype start = from;
    TerminatorScanner scanner;
    text.enumerateBlocks(from, [&](QStringView wide, QByteArrayView latin1, qsizetype blockStart) {
        const qsizetype begin = std::max(from, blockStart);
        const qsizetype blockEnd = blockStart + (wide.isEmpty() ? latin1.size() : wide.size());
        const qsizetype end = std::min(to, blockEnd);
        auto found = [&](qsizetype pieceEnd, quint8 terminator) {
            result.push_back(makeInfo(qint32(begin + pieceEnd - start), terminator));
            start = begin + pieceEnd;
        };
        if (wide.isEmpty())
            scanner.scan(
                reinterpret_cast<const uchar*>(latin1.data()) + (begin - blockStart), end - begin, found);
        else
            scanner.scan(
                reinterpret_cast<const char16_t*>(wide.data()) + (begin - blockStart), end - begin, found);
        return blockEnd < to;
    });
    if (scanner.takePendingCarriageReturn()) {
        result.push_back(makeInfo(qint32(to - start), 1));
        start = to;
    }
    if (start < to || atDocumentEnd)
        result.push_back(makeInfo(qint32(to - start), 0));
    return result;
}

void TextContentStorage::setChunkLimits(int paragraphs, qsizetype units, std::optional<qsizetype> blockUnits)
{
    m_chunkParagraphLimit = std::max(2, paragraphs);
    m_chunkUnitLimit = std::max<qsizetype>(2, units);
    m_blockUnitLimit = std::max<qsizetype>(2, blockUnits.value_or(m_chunkUnitLimit / 2));
    for (Chunk& chunk : m_chunks)
        chunk.text.setBlockLimit(m_blockUnitLimit);
}

void TextContentStorage::invalidateIndex(size_t fromChunk)
{
    m_indexValidUpTo = std::min(m_indexValidUpTo, fromChunk);
}

void TextContentStorage::ensureIndex() const
{
    const size_t count = m_chunks.size();
    if (m_chunkOffset.size() != count) {
        m_chunkOffset.resize(count);
        m_chunkParagraph.resize(count);
        m_chunkY.resize(count);
        m_indexValidUpTo = std::min(m_indexValidUpTo, count);
    }
    for (size_t c = m_indexValidUpTo; c < count; ++c) {
        if (c == 0) {
            m_chunkOffset[0] = 0;
            m_chunkParagraph[0] = 0;
            m_chunkY[0] = 0;
        } else {
            const Chunk& previous = m_chunks[c - 1];
            m_chunkOffset[c] = m_chunkOffset[c - 1] + previous.text.length();
            m_chunkParagraph[c] = m_chunkParagraph[c - 1] + qint64(previous.paragraphs.size());
            m_chunkY[c] = m_chunkY[c - 1] + previous.height;
        }
    }
    m_indexValidUpTo = count;
}

size_t TextContentStorage::chunkForLocation(TextLocation at) const
{
    ensureIndex();
    auto it = std::upper_bound(m_chunkOffset.begin(), m_chunkOffset.end(), at);
    return it == m_chunkOffset.begin() ? 0 : size_t(it - m_chunkOffset.begin() - 1);
}

size_t TextContentStorage::chunkForParagraph(qint64 index) const
{
    ensureIndex();
    auto it = std::upper_bound(m_chunkParagraph.begin(), m_chunkParagraph.end(), index);
    return it == m_chunkParagraph.begin() ? 0 : size_t(it - m_chunkParagraph.begin() - 1);
}

TextContentStorage::Place TextContentStorage::placeOfLocation(TextLocation at) const
{
    at = std::clamp<TextLocation>(at, 0, m_length);
    const size_t c = chunkForLocation(at);
    const Chunk& chunk = m_chunks[c];
    qint64 start = m_chunkOffset[c];
    for (size_t i = 0; i < chunk.paragraphs.size(); ++i) {
        const qint64 end = start + chunk.paragraphs[i].length;
        if (at < end || i + 1 == chunk.paragraphs.size())
            return { c, i, start };
        start = end;
    }
    return { c, 0, m_chunkOffset[c] };
}

TextContentStorage::Place TextContentStorage::placeOfParagraph(qint64 index) const
{
    index = std::clamp<qint64>(index, 0, m_layoutParagraphCount - 1);
    const size_t c = chunkForParagraph(index);
    const Chunk& chunk = m_chunks[c];
    const size_t local = size_t(index - m_chunkParagraph[c]);
    qint64 start = m_chunkOffset[c];
    for (size_t i = 0; i < local; ++i)
        start += chunk.paragraphs[i].length;
    return { c, local, start };
}

qint64 TextContentStorage::globalIndex(const Place& place) const
{
    ensureIndex();
    return m_chunkParagraph[place.chunk] + qint64(place.local);
}

template<typename Body> void TextContentStorage::forEachChunkIn(TextRange range, Body body) const
{
    if (range.isEmpty())
        return;
    for (size_t c = chunkForLocation(range.location); c < m_chunks.size(); ++c) {
        const qint64 chunkStart = m_chunkOffset[c];
        if (chunkStart >= range.endLocation)
            break;
        const qint64 from = std::max(range.location, chunkStart) - chunkStart;
        const qint64 to = std::min(range.endLocation, chunkStart + m_chunks[c].text.length()) - chunkStart;
        if (from < to)
            body(c, from, to - from);
    }
}

QString TextContentStorage::string() const
{
    // A document of one UTF-16 block shares that block's string.
    if (m_chunks.size() == 1)
        return m_chunks.front().text.string();
    // Otherwise one allocation of the final size and one copy per block, in a single pass.
    QString result;
    result.reserve(m_length);
    for (const Chunk& chunk : m_chunks)
        chunk.text.appendCharacters(0, chunk.text.length(), result);
    Q_ASSERT(result.size() == m_length);
    return result;
}

QString TextContentStorage::substring(TextRange range) const
{
    range = TextRange(
        std::clamp<qint64>(range.location, 0, m_length), std::clamp<qint64>(range.endLocation, 0, m_length));
    QString result;
    result.reserve(range.length());
    forEachChunkIn(range, [&](size_t c, qsizetype from, qsizetype length) {
        m_chunks[c].text.appendCharacters(from, length, result);
    });
    return result;
}

void TextContentStorage::enumerateTextPieces(
    TextLocation from, const std::function<bool(QStringView, TextLocation)>& body) const
{
    if (m_length == 0)
        return;
    from = std::clamp<TextLocation>(from, 0, m_length);
    bool going = true;
    for (size_t c = chunkForLocation(from); going && c < m_chunks.size(); ++c) {
        const qint64 chunkStart = m_chunkOffset[c];
        m_chunks[c].text.enumerateCharacters(
            std::max<qint64>(from - chunkStart, 0), [&](QStringView piece, qsizetype start) {
                going = body(piece, chunkStart + start);
                return going;
            });
    }
}

AttributedString TextContentStorage::attributedString(TextRange range) const
{
    range = TextRange(
        std::clamp<qint64>(range.location, 0, m_length), std::clamp<qint64>(range.endLocation, 0, m_length));
    AttributedString result;
    if (range.isEmpty())
        return result;
    const size_t first = chunkForLocation(range.location);
    if (m_chunkOffset[first] + m_chunks[first].text.length() >= range.endLocation)
        return m_chunks[first].text.mid(range.location - m_chunkOffset[first], range.length());
    result.reserve(range.length());
    forEachChunkIn(range,
        [&](size_t c, qsizetype from, qsizetype length) { m_chunks[c].text.appendTo(from, length, result); });
    return result;
}

void TextContentStorage::setString(const QString& text, const TextAttributes& attributes)
{
    Loader loader(*this, attributes);
    loader.feed(reinterpret_cast<const char16_t*>(text.constData()), text.size());
    loader.finish();
}

void TextContentStorage::setAttributedString(const AttributedString& text)
{
    Loader loader(*this, text.runs());
    loader.feed(reinterpret_cast<const char16_t*>(text.string().constData()), text.length());
    loader.finish();
}

void TextContentStorage::setString(TextBlocks&& text, const TextAttributes& attributes)
{
    Loader loader(*this, attributes);
    text.drain([&](QStringView wide, QByteArrayView latin1) {
        if (wide.isEmpty())
            loader.feed(reinterpret_cast<const uchar*>(latin1.data()), latin1.size());
        else
            loader.feed(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
    });
    loader.finish();
}

void TextContentStorage::adoptChunks(std::vector<Chunk> chunks, qint64 length, qint64 paragraphCount)
{
    const qint64 oldLength = m_length;
    m_chunks = std::move(chunks);
    m_length = length;
    m_layoutParagraphCount = paragraphCount;
    m_indexValidUpTo = 0;
    ++m_transactionDepth;
    ParagraphChange change;
    change.replacedAll = true;
    emit paragraphsDidChange(change);
    notifyEdit(TextRange(0, oldLength), m_length);
    --m_transactionDepth;
    if (m_transactionDepth == 0)
        emit transactionDidEnd();
}

qsizetype TextContentStorage::characterBytes() const
{
    qsizetype bytes = 0;
    for (const Chunk& chunk : m_chunks)
        bytes += chunk.text.characterBytes();
    return bytes;
}

void TextContentStorage::mergeChunks(size_t first, size_t last)
{
    if (first >= last)
        return;
    Chunk& target = m_chunks[first];
    for (size_t c = first + 1; c <= last; ++c) {
        target.text.append(std::move(m_chunks[c].text));
        target.paragraphs.insert(
            target.paragraphs.end(), m_chunks[c].paragraphs.begin(), m_chunks[c].paragraphs.end());
    }
    m_chunks.erase(m_chunks.begin() + first + 1, m_chunks.begin() + last + 1);
    recountChunk(target);
    invalidateIndex(first);
}

void TextContentStorage::splitChunkIfLarge(size_t index)
{
    Chunk& chunk = m_chunks[index];
    if (chunk.paragraphs.size() < 2)
        return;
    if (chunk.paragraphs.size() <= size_t(m_chunkParagraphLimit) && chunk.text.length() <= m_chunkUnitLimit)
        return;
    // Split into pieces that respect both limits, so one split suffices after any edit.
    std::vector<Chunk> pieces;
    std::vector<qsizetype> starts;
    qsizetype offset = 0;
    size_t i = 0;
    const size_t target = std::max<size_t>(1, size_t(m_chunkParagraphLimit) / 2);
    while (i < chunk.paragraphs.size()) {
        Chunk piece;
        qsizetype units = 0;
        while (i < chunk.paragraphs.size() && piece.paragraphs.size() < target
            && (piece.paragraphs.empty() || units + chunk.paragraphs[i].length <= m_chunkUnitLimit / 2)) {
            units += chunk.paragraphs[i].length;
            piece.paragraphs.push_back(chunk.paragraphs[i]);
            ++i;
        }
        starts.push_back(offset);
        offset += units;
        recountChunk(piece);
        pieces.push_back(std::move(piece));
    }
    // From the back, so that each cut moves only the blocks of the piece it takes.
    for (size_t p = pieces.size(); p-- > 1;)
        pieces[p].text = chunk.text.takeTail(starts[p]);
    pieces[0].text = std::move(chunk.text);
    m_chunks.erase(m_chunks.begin() + index);
    m_chunks.insert(m_chunks.begin() + index, std::make_move_iterator(pieces.begin()),
        std::make_move_iterator(pieces.end()));
    invalidateIndex(index);
}

void TextContentStorage::replaceCharacters(TextRange range, const AttributedString& replacement)
{
    range = TextRange(
        std::clamp<qint64>(range.location, 0, m_length), std::clamp<qint64>(range.endLocation, 0, m_length));
    if (range.isEmpty() && replacement.isEmpty())
        return;
    if (range == documentRange()) {
        // A new text: its chunks are built straight from it (as a load builds them) rather than
        // merged into one and cut again.
        setAttributedString(replacement);
        return;
    }
    ++m_transactionDepth;
    if (replaceInsideParagraph(range, replacement)) {
        --m_transactionDepth;
        if (m_transactionDepth == 0)
            emit transactionDidEnd();
        return;
    }

    const Place startPlace = placeOfLocation(range.location);
    const Place endPlace = placeOfLocation(range.endLocation);
    qint64 firstParagraph = globalIndex(startPlace);
    const qint64 lastParagraph = globalIndex(endPlace);
    // A carriage return ending the previous paragraph may join a line feed that the edit puts or
    // leaves right after it, so that paragraph is split again too.
    if (firstParagraph > 0 && startPlace.start == range.location) {
        const Place previous = placeOfParagraph(firstParagraph - 1);
        const Chunk& chunk = m_chunks[previous.chunk];
        const qsizetype lastChar
            = previous.start - m_chunkOffset[previous.chunk] + chunk.paragraphs[previous.local].length - 1;
        if (chunk.text.at(lastChar) == QChar(carriageReturn))
            firstParagraph -= 1;
    }
    const size_t firstChunk = chunkForParagraph(firstParagraph);
    const size_t lastChunk = chunkForParagraph(lastParagraph);
    mergeChunks(firstChunk, lastChunk);
    ensureIndex();

    Chunk& chunk = m_chunks[firstChunk];
    const qint64 chunkStart = m_chunkOffset[firstChunk];
    const size_t a = size_t(firstParagraph - m_chunkParagraph[firstChunk]);
    const size_t b = size_t(lastParagraph - m_chunkParagraph[firstChunk]);
    qsizetype regionStart = 0;
    for (size_t i = 0; i < a; ++i)
        regionStart += chunk.paragraphs[i].length;
    qsizetype regionEnd = regionStart;
    for (size_t i = a; i <= b; ++i)
        regionEnd += chunk.paragraphs[i].length;
    const bool atDocumentEnd = lastParagraph == m_layoutParagraphCount - 1;

    ParagraphChange change;
    for (size_t i = a; i <= b; ++i)
        change.retired.push_back(chunk.paragraphs[i].identifier);
    chunk.text.replace(range.location - chunkStart, range.length(), replacement);
    const qint64 delta = replacement.length() - range.length();
    regionEnd += delta;
    std::vector<ParagraphInfo> fresh = splitParagraphs(chunk.text, regionStart, regionEnd, atDocumentEnd);
    assert(!fresh.empty());
    m_layoutParagraphCount += qint64(fresh.size()) - qint64(b - a + 1);
    chunk.paragraphs.erase(chunk.paragraphs.begin() + a, chunk.paragraphs.begin() + b + 1);
    chunk.paragraphs.insert(chunk.paragraphs.begin() + a, fresh.begin(), fresh.end());
    recountChunk(chunk);
    m_length += delta;
    invalidateIndex(firstChunk);
    splitChunkIfLarge(firstChunk);

    emit paragraphsDidChange(change);
    notifyEdit(range, replacement.length());
    --m_transactionDepth;
    if (m_transactionDepth == 0)
        emit transactionDidEnd();
}

bool TextContentStorage::replaceInsideParagraph(TextRange range, const AttributedString& replacement)
{
    // Typing inside a paragraph keeps its structure: no paragraphs to find again, so a keystroke
    // costs the same in a paragraph of any length.
    for (const QChar c : replacement.string()) {
        if (isTerminator(c.unicode()))
            return false;
    }
    const Place place = placeOfLocation(range.location);
    Chunk& chunk = m_chunks[place.chunk];
    ParagraphInfo& info = chunk.paragraphs[place.local];
    const qint64 content = info.length - info.terminatorLength;
    const qint64 delta = replacement.length() - range.length();
    // An emptied paragraph may let its line feed join a carriage return before it.
    if (range.endLocation > place.start + content || content + delta <= 0
        || content + delta > std::numeric_limits<qint32>::max() - 2)
        return false;

    ParagraphChange change;
    ParagraphChange::Edit edit { info.identifier, 0, range.location - place.start, range.length(),
        replacement.length() };
    chunk.text.replace(range.location - m_chunkOffset[place.chunk], range.length(), replacement);
    info.length += qint32(delta);
    info.identifier = nextIdentifier();
    // The height stays until the paragraph is laid out again, so nothing below it jumps meanwhile.
    info.measured = false;
    edit.to = info.identifier;
    change.edited.push_back(edit);
    m_length += delta;
    invalidateIndex(place.chunk + 1);
    splitChunkIfLarge(place.chunk);

    emit paragraphsDidChange(change);
    notifyEdit(range, replacement.length());
    return true;
}

void TextContentStorage::notifyEdit(TextRange replaced, qint64 newLength)
{
    emit textDidChange(replaced, newLength);
}

template<typename Change> void TextContentStorage::changeAttributes(TextRange range, Change change)
{
    range = TextRange(
        std::clamp<qint64>(range.location, 0, m_length), std::clamp<qint64>(range.endLocation, 0, m_length));
    if (range.isEmpty())
        return;
    ++m_transactionDepth;
    forEachChunkIn(range, [&](size_t c, qsizetype from, qsizetype length) {
        m_chunks[c].text.changeAttributes(from, length, change);
    });
    invalidateMeasurement(range);
    emit attributesDidChange(range);
    --m_transactionDepth;
    if (m_transactionDepth == 0)
        emit transactionDidEnd();
}

void TextContentStorage::setAttributes(const TextAttributes& attributes, TextRange range)
{
    changeAttributes(range, [&](TextAttributes& target) { target = attributes; });
}

void TextContentStorage::addAttributes(const TextAttributes& attributes, TextRange range)
{
    changeAttributes(range, [&](TextAttributes& target) {
        for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
            target.insert(it.key(), it.value());
    });
}

void TextContentStorage::removeAttribute(const QString& key, TextRange range)
{
    changeAttributes(range, [&](TextAttributes& target) { target.remove(key); });
}

TextAttributes TextContentStorage::attributes(TextLocation at) const
{
    if (m_length == 0)
        return {};
    at = std::clamp<qint64>(at, 0, m_length - 1);
    const size_t c = chunkForLocation(at);
    return m_chunks[c].text.attributes(at - m_chunkOffset[c]);
}

void TextContentStorage::performEditingTransaction(const std::function<void()>& body)
{
    ++m_transactionDepth;
    body();
    --m_transactionDepth;
    if (m_transactionDepth == 0)
        emit transactionDidEnd();
}

qint64 TextContentStorage::paragraphCount() const
{
    if (m_length == 0)
        return 0;
    const Chunk& last = m_chunks.back();
    return last.paragraphs.back().length == 0 ? m_layoutParagraphCount - 1 : m_layoutParagraphCount;
}

std::optional<TextParagraph> TextContentStorage::paragraph(qint64 index) const
{
    if (index < 0 || index >= paragraphCount())
        return std::nullopt;
    const Place place = placeOfParagraph(index);
    const ParagraphInfo& info = m_chunks[place.chunk].paragraphs[place.local];
    TextParagraph result;
    result.index = index;
    result.elementRange = TextRange(place.start, place.start + info.length);
    result.paragraphContentRange = TextRange(place.start, place.start + info.length - info.terminatorLength);
    result.attributedString
        = m_chunks[place.chunk].text.mid(place.start - m_chunkOffset[place.chunk], info.length);
    return result;
}

std::optional<TextParagraph> TextContentStorage::paragraphAt(TextLocation at) const
{
    if (at < 0 || at > m_length)
        return std::nullopt;
    return paragraph(std::min(layoutParagraphIndex(at), paragraphCount() - 1));
}

void TextContentStorage::enumerateParagraphs(
    TextLocation from, bool reverse, const std::function<bool(const TextParagraph&)>& body) const
{
    const qint64 count = paragraphCount();
    if (count == 0 || from < 0 || from > m_length)
        return;
    qint64 index = std::min(layoutParagraphIndex(from), count - 1);
    for (; index >= 0 && index < count; index += reverse ? -1 : 1) {
        if (!body(*paragraph(index)))
            return;
    }
}

qint64 TextContentStorage::layoutParagraphIndex(TextLocation at) const
{
    return globalIndex(placeOfLocation(at));
}

TextContentStorage::LayoutParagraph TextContentStorage::layoutParagraph(qint64 index) const
{
    index = std::clamp<qint64>(index, 0, m_layoutParagraphCount - 1);
    const size_t c = chunkForParagraph(index);
    const Chunk& chunk = m_chunks[c];
    const size_t local = size_t(index - m_chunkParagraph[c]);
    qint64 start = m_chunkOffset[c];
    double y = m_chunkY[c];
    for (size_t i = 0; i < local; ++i) {
        start += chunk.paragraphs[i].length;
        y += chunk.paragraphs[i].height;
    }
    const ParagraphInfo& info = chunk.paragraphs[local];
    return { TextRange(start, start + info.length), info.terminatorLength, info.identifier, y, info.height,
        info.measured };
}

TextRange TextContentStorage::layoutParagraphRange(qint64 index) const
{
    const Place place = placeOfParagraph(index);
    return TextRange(place.start, place.start + m_chunks[place.chunk].paragraphs[place.local].length);
}

qint32 TextContentStorage::terminatorLength(qint64 index) const
{
    const Place place = placeOfParagraph(index);
    return m_chunks[place.chunk].paragraphs[place.local].terminatorLength;
}

AttributedString TextContentStorage::layoutParagraphText(qint64 index) const
{
    const Place place = placeOfParagraph(index);
    return m_chunks[place.chunk].text.mid(
        place.start - m_chunkOffset[place.chunk], m_chunks[place.chunk].paragraphs[place.local].length);
}

quint32 TextContentStorage::layoutParagraphIdentifier(qint64 index) const
{
    const Place place = placeOfParagraph(index);
    return m_chunks[place.chunk].paragraphs[place.local].identifier;
}

double TextContentStorage::layoutParagraphY(qint64 index) const
{
    index = std::clamp<qint64>(index, 0, m_layoutParagraphCount - 1);
    const size_t c = chunkForParagraph(index);
    double y = m_chunkY[c];
    const size_t local = size_t(index - m_chunkParagraph[c]);
    for (size_t i = 0; i < local; ++i)
        y += m_chunks[c].paragraphs[i].height;
    return y;
}

float TextContentStorage::layoutParagraphHeight(qint64 index) const
{
    const Place place = placeOfParagraph(index);
    return m_chunks[place.chunk].paragraphs[place.local].height;
}

bool TextContentStorage::isLayoutParagraphMeasured(qint64 index) const
{
    const Place place = placeOfParagraph(index);
    return m_chunks[place.chunk].paragraphs[place.local].measured;
}

void TextContentStorage::setLayoutParagraphHeight(qint64 index, float height, bool measured)
{
    if (index < 0 || index >= m_layoutParagraphCount)
        return;
    const size_t c = chunkForParagraph(index);
    ParagraphInfo& info = m_chunks[c].paragraphs[size_t(index - m_chunkParagraph[c])];
    info.measured = measured;
    if (info.height == height)
        return;
    m_chunks[c].height += double(height) - double(info.height);
    info.height = height;
    invalidateIndex(c + 1);
    emit layoutParagraphHeightDidChange(index);
}

qint64 TextContentStorage::layoutParagraphIndexAtY(double y) const
{
    ensureIndex();
    auto it = std::upper_bound(m_chunkY.begin(), m_chunkY.end(), y);
    size_t c = it == m_chunkY.begin() ? 0 : size_t(it - m_chunkY.begin() - 1);
    double top = m_chunkY[c];
    const Chunk& chunk = m_chunks[c];
    for (size_t i = 0; i < chunk.paragraphs.size(); ++i) {
        top += chunk.paragraphs[i].height;
        if (y < top || i + 1 == chunk.paragraphs.size())
            return m_chunkParagraph[c] + qint64(i);
    }
    return m_chunkParagraph[c];
}

double TextContentStorage::totalHeight() const
{
    ensureIndex();
    return m_chunkY.back() + m_chunks.back().height;
}

void TextContentStorage::setHeightEstimator(std::function<float(qint64)> estimator)
{
    m_estimator = std::move(estimator);
    reestimateAll();
}

void TextContentStorage::reestimateAll()
{
    for (Chunk& chunk : m_chunks) {
        for (ParagraphInfo& info : chunk.paragraphs) {
            info.measured = false;
            info.height = m_estimator ? m_estimator(info.length - info.terminatorLength) : 0.f;
        }
        recountChunk(chunk);
    }
    invalidateIndex(0);
}

void TextContentStorage::invalidateMeasurement(TextRange range)
{
    range = TextRange(
        std::clamp<qint64>(range.location, 0, m_length), std::clamp<qint64>(range.endLocation, 0, m_length));
    ParagraphChange change;
    const qint64 first = layoutParagraphIndex(range.location);
    const qint64 last = layoutParagraphIndex(range.endLocation);
    Place place = placeOfParagraph(first);
    for (qint64 index = first; index <= last; ++index) {
        const size_t c = chunkForParagraph(index);
        ParagraphInfo& info = m_chunks[c].paragraphs[size_t(index - m_chunkParagraph[c])];
        const qint64 contentEnd = place.start + info.length - info.terminatorLength;
        const qint64 from = std::clamp(range.location, place.start, contentEnd);
        const qint64 to = std::clamp(range.endLocation, from, contentEnd);
        ParagraphChange::Edit edit { info.identifier, 0, from - place.start, to - from, to - from };
        info.measured = false;
        info.identifier = nextIdentifier();
        edit.to = info.identifier;
        change.edited.push_back(edit);
        place.start += info.length;
    }
    emit paragraphsDidChange(change);
}

void TextContentStorage::addTextLayoutManager(TextLayoutManager* manager)
{
    if (!manager
        || std::find(m_layoutManagers.begin(), m_layoutManagers.end(), manager) != m_layoutManagers.end())
        return;
    m_layoutManagers.push_back(manager);
}

void TextContentStorage::removeTextLayoutManager(TextLayoutManager* manager)
{
    // The estimator belongs to the primary manager and must not outlive it.
    if (manager && manager == primaryTextLayoutManager())
        m_estimator = nullptr;
    std::erase(m_layoutManagers, manager);
}

} // namespace platform
