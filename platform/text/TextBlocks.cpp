#include "platform/text/TextBlocks.h"

#include <QLatin1StringView>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

bool isLatin1(QStringView text)
{
    // One pass without an early exit, which the compiler turns into vector code.
    char16_t any = 0;
    for (const QChar c : text)
        any |= c.unicode();
    return any < 0x100;
}

bool isContinuationByte(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

// Decodes UTF-8 that holds only Latin-1 characters into one byte each; false for anything else
// (a wider character or a malformed sequence), which the full decoder then reads.
bool decodeLatin1(QByteArrayView bytes, QByteArray& out)
{
    const auto* in = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype size = bytes.size();
    out = QByteArray(size, Qt::Uninitialized);
    char* to = out.data();
    qsizetype i = 0;
    while (i < size) {
        if (i + 8 <= size) {
            quint64 word;
            std::memcpy(&word, in + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                std::memcpy(to, in + i, 8);
                to += 8;
                i += 8;
                continue;
            }
        }
        const uchar byte = in[i];
        if (byte < 0x80) {
            *to++ = char(byte);
            ++i;
        } else if ((byte == 0xC2 || byte == 0xC3) && i + 1 < size && (in[i + 1] & 0xC0) == 0x80) {
            *to++ = char(((byte & 0x1F) << 6) | (in[i + 1] & 0x3F));
            i += 2;
        } else {
            return false;
        }
    }
    if (to - out.constData() < size) {
        out.truncate(to - out.constData());
        out.squeeze();
    }
    return true;
}

} // namespace

TextBlocks::TextBlocks(const AttributedString& text, qsizetype blockUnits)
    : m_blockLimit(std::max<qsizetype>(2, blockUnits))
{
    appendCharacters(text.string());
    squeeze();
    m_runs = AttributeRuns(text.runs());
}

std::optional<TextBlocks> TextBlocks::fromUtf8(QByteArrayView bytes, qsizetype blockUnits)
{
    TextBlocks result;
    result.m_blockLimit = std::max<qsizetype>(4, blockUnits);
    const char* data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype position = 0;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        position = 3;
    while (position < size) {
        // A slice decodes to no more units than it has bytes. It ends before a byte that starts a
        // sequence, so that slices decode alone exactly as the whole would (a valid sequence has
        // at most three continuation bytes; more make the text malformed wherever it is cut).
        qsizetype end = std::min(size, position + result.m_blockLimit);
        for (int k = 0; k < 3 && end < size && end > position + 1 && isContinuationByte(data[end]); ++k)
            --end;
        const QByteArrayView slice(data + position, end - position);
        Block block;
        if (!decodeLatin1(slice, block.narrow)) {
            block.narrow = QByteArray();
            // The leading mark is gone already: a U+FEFF starting a later slice is text.
            QStringDecoder decoder(QStringDecoder::Utf8,
                QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
            block.wide = decoder.decode(slice);
            if (decoder.hasError())
                return std::nullopt;
        }
        if (block.length() > 0) {
            result.m_length += block.length();
            result.m_blocks.push_back(std::move(block));
        }
        position = end;
    }
    return result;
}

TextBlocks::Block TextBlocks::makeBlock(QStringView text)
{
    Block block;
    if (isLatin1(text))
        block.narrow = text.toLatin1();
    else
        block.wide = text.toString();
    return block;
}

void TextBlocks::widen(Block& block)
{
    if (block.isWide())
        return;
    block.wide = QString::fromLatin1(block.narrow);
    block.narrow = QByteArray();
}

void TextBlocks::appendBlockCharacters(const Block& block, qsizetype start, qsizetype length, QString& out)
{
    if (block.isWide())
        out.append(QStringView(block.wide).sliced(start, length));
    else
        out.append(QLatin1StringView(block.narrow.constData() + start, length));
}

void TextBlocks::appendCut(std::vector<Block>& into, QStringView text, qsizetype units) const
{
    units = std::clamp<qsizetype>(units, 1, m_blockLimit);
    // Pieces one unit short of `units`, so that the one after a cut moved back off a surrogate
    // pair still fits.
    const qsizetype room = std::max<qsizetype>(1, units - 1);
    const qsizetype count = (text.size() + room - 1) / room;
    qsizetype from = 0;
    for (qsizetype piece = 1; piece <= count; ++piece) {
        qsizetype to = text.size() * piece / count;
        if (to < text.size() && to - from > 1 && text[to - 1].isHighSurrogate() && text[to].isLowSurrogate())
            --to;
        if (to > from)
            into.push_back(makeBlock(text.sliced(from, to - from)));
        from = to;
    }
}

void TextBlocks::ensureStarts() const
{
    const size_t count = m_blocks.size();
    if (m_starts.size() != count) {
        m_starts.resize(count);
        m_startsValidUpTo = std::min(m_startsValidUpTo, count);
    }
    for (size_t b = m_startsValidUpTo; b < count; ++b)
        m_starts[b] = b == 0 ? 0 : m_starts[b - 1] + m_blocks[b - 1].length();
    m_startsValidUpTo = count;
}

void TextBlocks::invalidateStarts(size_t fromBlock)
{
    m_startsValidUpTo = std::min(m_startsValidUpTo, fromBlock);
}

size_t TextBlocks::blockContaining(qsizetype index) const
{
    ensureStarts();
    auto it = std::upper_bound(m_starts.begin(), m_starts.end(), index);
    return it == m_starts.begin() ? 0 : size_t(it - m_starts.begin() - 1);
}

QChar TextBlocks::at(qsizetype index) const
{
    const size_t b = blockContaining(index);
    const Block& block = m_blocks[b];
    const qsizetype offset = index - m_starts[b];
    return block.isWide() ? block.wide.at(offset) : QChar(uchar(block.narrow.at(offset)));
}

void TextBlocks::appendCharacters(qsizetype start, qsizetype length, QString& out) const
{
    if (length <= 0)
        return;
    const qsizetype end = start + length;
    for (size_t b = blockContaining(start); b < m_blocks.size() && m_starts[b] < end; ++b) {
        const qsizetype blockStart = m_starts[b];
        const qsizetype from = std::max(start, blockStart);
        const qsizetype to = std::min(end, blockStart + m_blocks[b].length());
        appendBlockCharacters(m_blocks[b], from - blockStart, to - from, out);
    }
}

QString TextBlocks::string() const
{
    if (QString shared = sharedString(); !shared.isNull())
        return shared;
    QString result;
    result.reserve(m_length);
    appendCharacters(0, m_length, result);
    return result;
}

QString TextBlocks::sharedString() const
{
    return m_blocks.size() == 1 && m_blocks.front().isWide() ? m_blocks.front().wide : QString();
}

AttributedString TextBlocks::mid(qsizetype start, qsizetype length) const
{
    if (length <= 0)
        return {};
    QString text;
    if (start == 0 && length == m_length)
        text = sharedString();
    if (text.isNull()) {
        text.reserve(length);
        appendCharacters(start, length, text);
    }
    return AttributedString(std::move(text), AttributeRuns(m_runs.mid(start, length)));
}

void TextBlocks::appendTo(qsizetype start, qsizetype length, AttributedString& out) const
{
    if (length <= 0)
        return;
    appendCharacters(start, length, out.m_text);
    out.m_runs.append(m_runs.mid(start, length));
}

void TextBlocks::enumerateCharacters(
    qsizetype from, const std::function<bool(QStringView, qsizetype)>& body) const
{
    if (m_blocks.empty())
        return;
    QString scratch;
    for (size_t b = blockContaining(std::clamp<qsizetype>(from, 0, m_length)); b < m_blocks.size(); ++b) {
        const Block& block = m_blocks[b];
        QStringView view;
        if (block.isWide()) {
            view = block.wide;
        } else {
            scratch.resize(0);
            scratch.append(QLatin1StringView(block.narrow));
            view = scratch;
        }
        if (!body(view, m_starts[b]))
            return;
    }
}

void TextBlocks::enumerateBlocks(
    qsizetype from, const std::function<bool(QStringView, QByteArrayView, qsizetype)>& body) const
{
    if (m_blocks.empty())
        return;
    for (size_t b = blockContaining(std::clamp<qsizetype>(from, 0, m_length)); b < m_blocks.size(); ++b) {
        const Block& block = m_blocks[b];
        if (!body(block.wide, block.narrow, m_starts[b]))
            return;
    }
}

void TextBlocks::drain(const std::function<void(QStringView, QByteArrayView)>& body)
{
    for (Block& block : m_blocks) {
        body(block.wide, block.narrow);
        block = Block();
    }
    *this = TextBlocks();
}

void TextBlocks::replace(qsizetype start, qsizetype length, const AttributedString& replacement)
{
    m_runs.replace(start, length, replacement.runs());
    replaceCharacters(start, length, replacement.string());
}

void TextBlocks::replaceCharacters(qsizetype start, qsizetype length, QStringView replacement)
{
    if (length == 0 && replacement.isEmpty())
        return;
    if (m_blocks.empty()) {
        appendCharacters(replacement);
        return;
    }
    // Typing at a block's end goes into that block rather than the next one.
    size_t first = blockContaining(start);
    if (length == 0 && start > 0 && start == m_starts[first])
        --first;
    const size_t last = length == 0 ? first : blockContaining(start + length - 1);
    const qsizetype offset = start - m_starts[first];
    const qsizetype delta = replacement.size() - length;

    if (first == last) {
        Block& block = m_blocks[first];
        const qsizetype newLength = block.length() + delta;
        if (newLength == 0) {
            m_blocks.erase(m_blocks.begin() + first);
            m_length += delta;
            invalidateStarts(first);
            return;
        }
        if (newLength <= m_blockLimit) {
            if (!block.isWide() && isLatin1(replacement)) {
                block.narrow.replace(offset, length, replacement.toLatin1());
            } else {
                widen(block);
                block.wide.replace(offset, length, replacement.data(), replacement.size());
            }
            m_length += delta;
            invalidateStarts(first + 1);
            if (newLength < m_blockLimit / 4)
                mergeIfSmall(first);
            return;
        }
    }

    // The edit spans blocks or overfills one: those blocks are cut again, half full, so that the
    // next edits there fit in place.
    const Block& head = m_blocks[first];
    const Block& tail = m_blocks[last];
    const qsizetype tailFrom = start + length - m_starts[last];
    QString joined;
    joined.reserve(offset + replacement.size() + tail.length() - tailFrom);
    appendBlockCharacters(head, 0, offset, joined);
    joined.append(replacement);
    appendBlockCharacters(tail, tailFrom, tail.length() - tailFrom, joined);
    std::vector<Block> fresh;
    appendCut(fresh, joined, m_blockLimit / 2);
    m_blocks.erase(m_blocks.begin() + first, m_blocks.begin() + last + 1);
    m_blocks.insert(m_blocks.begin() + first, std::make_move_iterator(fresh.begin()),
        std::make_move_iterator(fresh.end()));
    m_length += delta;
    invalidateStarts(first);
    if (fresh.size() == 1)
        mergeIfSmall(first);
}

void TextBlocks::mergeIfSmall(size_t index)
{
    if (index >= m_blocks.size() || m_blocks[index].length() >= m_blockLimit / 4)
        return;
    const qsizetype most = m_blockLimit * 3 / 4;
    size_t into = index;
    if (index > 0 && m_blocks[index - 1].length() + m_blocks[index].length() <= most)
        into = index - 1;
    else if (index + 1 < m_blocks.size() && m_blocks[index + 1].length() + m_blocks[index].length() <= most)
        into = index;
    else
        return;
    Block& target = m_blocks[into];
    Block& source = m_blocks[into + 1];
    if (!target.isWide() && !source.isWide()) {
        target.narrow.append(source.narrow);
    } else {
        widen(target);
        appendBlockCharacters(source, 0, source.length(), target.wide);
    }
    m_blocks.erase(m_blocks.begin() + into + 1);
    invalidateStarts(into);
}

void TextBlocks::append(TextBlocks&& other)
{
    if (other.m_length == 0)
        return;
    if (m_length == 0) {
        const qsizetype limit = m_blockLimit;
        *this = std::move(other);
        other = TextBlocks();
        setBlockLimit(limit);
        return;
    }
    m_runs.append(other.m_runs.list());
    const size_t junction = m_blocks.size();
    m_blocks.insert(m_blocks.end(), std::make_move_iterator(other.m_blocks.begin()),
        std::make_move_iterator(other.m_blocks.end()));
    m_length += other.m_length;
    invalidateStarts(junction);
    other = TextBlocks();
    mergeIfSmall(junction);
    mergeIfSmall(junction - 1);
}

TextBlocks TextBlocks::takeTail(qsizetype at)
{
    TextBlocks tail;
    tail.m_blockLimit = m_blockLimit;
    if (at >= m_length)
        return tail;
    if (!m_runs.isEmpty())
        tail.m_runs = m_runs.takeTail(at);
    const size_t b = blockContaining(at);
    size_t firstMoved = b;
    const qsizetype offset = at - m_starts[b];
    if (offset > 0) {
        Block& block = m_blocks[b];
        Block cut;
        if (block.isWide()) {
            cut.wide = block.wide.sliced(offset);
            block.wide.truncate(offset);
            block.wide.squeeze();
        } else {
            cut.narrow = block.narrow.sliced(offset);
            block.narrow.truncate(offset);
            block.narrow.squeeze();
        }
        tail.m_blocks.push_back(std::move(cut));
        firstMoved = b + 1;
    }
    tail.m_blocks.insert(tail.m_blocks.end(), std::make_move_iterator(m_blocks.begin() + firstMoved),
        std::make_move_iterator(m_blocks.end()));
    m_blocks.erase(m_blocks.begin() + firstMoved, m_blocks.end());
    tail.m_length = m_length - at;
    m_length = at;
    invalidateStarts(b);
    return tail;
}

void TextBlocks::appendCharacters(QStringView text)
{
    invalidateStarts(m_blocks.empty() ? 0 : m_blocks.size() - 1);
    qsizetype i = 0;
    while (i < text.size()) {
        if (m_blocks.empty() || m_blocks.back().length() >= m_blockLimit)
            m_blocks.emplace_back();
        Block& last = m_blocks.back();
        QStringView part = text.sliced(i, std::min(m_blockLimit - last.length(), text.size() - i));
        if (i + part.size() < text.size() && part.size() > 1 && part.back().isHighSurrogate())
            part.chop(1);
        if (!last.isWide() && isLatin1(part)) {
            if (last.narrow.isEmpty())
                last.narrow = part.toLatin1();
            else
                last.narrow.append(part.toLatin1());
        } else {
            widen(last);
            last.wide.append(part);
        }
        i += part.size();
        m_length += part.size();
    }
}

void TextBlocks::appendLatin1(QByteArrayView text)
{
    invalidateStarts(m_blocks.empty() ? 0 : m_blocks.size() - 1);
    qsizetype i = 0;
    while (i < text.size()) {
        if (m_blocks.empty() || m_blocks.back().length() >= m_blockLimit)
            m_blocks.emplace_back();
        Block& last = m_blocks.back();
        const QByteArrayView part = text.sliced(i, std::min(m_blockLimit - last.length(), text.size() - i));
        if (last.isWide())
            last.wide.append(QLatin1StringView(part));
        else
            last.narrow.append(part);
        i += part.size();
        m_length += part.size();
    }
}

void TextBlocks::squeeze()
{
    for (Block& block : m_blocks) {
        block.narrow.squeeze();
        block.wide.squeeze();
    }
}

void TextBlocks::setBlockLimit(qsizetype units)
{
    m_blockLimit = std::max<qsizetype>(2, units);
    if (std::none_of(m_blocks.begin(), m_blocks.end(),
            [&](const Block& block) { return block.length() > m_blockLimit; }))
        return;
    std::vector<Block> blocks;
    for (Block& block : m_blocks) {
        if (block.length() <= m_blockLimit) {
            blocks.push_back(std::move(block));
        } else {
            QString text;
            appendBlockCharacters(block, 0, block.length(), text);
            appendCut(blocks, text, m_blockLimit);
        }
    }
    m_blocks = std::move(blocks);
    invalidateStarts(0);
}

qsizetype TextBlocks::characterBytes() const
{
    qsizetype bytes = 0;
    for (const Block& block : m_blocks)
        bytes += block.isWide() ? 2 * block.wide.size() : block.narrow.size();
    return bytes;
}

} // namespace platform
