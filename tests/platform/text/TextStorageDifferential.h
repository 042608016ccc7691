#pragma once

// Edits decoded from bytes, run against the text view's storage (the chunked TextContentStorage and
// TextBlocks on their own) and against a plain QString with one attribute set per UTF-16 unit. After
// every edit each read of the storage must agree with the plain model. The fuzz target feeds it
// arbitrary bytes, the tests bytes from fixed seeds; nothing here depends on a test framework.

#include "platform/text/AttributedString.h"
#include "platform/text/TextBlocks.h"
#include "platform/text/TextContentStorage.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace textcheck {

using platform::AttributedString;
using platform::AttributeRun;
using platform::TextAttributes;
using platform::TextBlocks;
using platform::TextContentStorage;
using platform::TextRange;

// Reads an operation's parameters; past the end every byte reads as 0.
class ByteSource {
public:
    ByteSource(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool atEnd() const { return m_position >= m_size; }
    std::uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }
    // A number in [0, bound]; the ends come up often, as edits at a text's ends are the common ones.
    qsizetype upTo(qsizetype bound)
    {
        if (bound <= 0)
            return 0;
        const std::uint8_t kind = byte();
        if (kind < 24)
            return 0;
        if (kind < 48)
            return bound;
        // One read per statement: the order of reads inside an expression is the compiler's.
        const unsigned low = byte();
        const unsigned value = low | unsigned(byte()) << 8;
        return qsizetype(value % unsigned(bound + 1));
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// Text with one attribute set per UTF-16 unit: what the storage must read back.
struct Model {
    QString text;
    std::vector<TextAttributes> attributes;

    void replace(qsizetype start, qsizetype length, const AttributedString& piece)
    {
        text.replace(start, length, piece.string());
        std::vector<TextAttributes> inserted;
        for (const AttributeRun& run : piece.runs())
            inserted.insert(inserted.end(), size_t(run.length), run.attributes);
        attributes.erase(attributes.begin() + start, attributes.begin() + start + length);
        attributes.insert(attributes.begin() + start, inserted.begin(), inserted.end());
    }
    AttributedString mid(qsizetype start, qsizetype length) const
    {
        AttributedString result;
        for (qsizetype i = start; i < start + length; ++i)
            result.append(AttributedString(QString(text[i]), attributes[size_t(i)]));
        return result;
    }
    std::vector<AttributeRun> runs() const
    {
        std::vector<AttributeRun> result;
        for (const TextAttributes& unit : attributes) {
            if (!result.empty() && result.back().attributes == unit)
                ++result.back().length;
            else
                result.push_back({ 1, unit });
        }
        return result;
    }
};

// Pieces of text from an alphabet that reaches every kind of block and every paragraph end.
inline QString piece(ByteSource& in, int most = 6)
{
    static const QString tokens[] = {
        QStringLiteral("a"),
        QStringLiteral("b"),
        QStringLiteral(" "),
        QString(QChar(0x00E9)), // é, Latin-1
        QString(QChar(0x00FF)), // ÿ, the last Latin-1 character
        QString(QChar(0x20AC)), // €
        QString(QChar(0x65E5)), // 日
        QString::fromUcs4(U"\U0001F600"),
        QString::fromUcs4(U"\U00010800"),
        QStringLiteral("\r"),
        QStringLiteral("\n"),
        QStringLiteral("\r\n"),
        QString(QChar(0x2028)), // a line separator: inside a paragraph
        QString(QChar(0x2029)), // a paragraph separator
        QString(QChar(0xD83D)), // lone halves of a surrogate pair
        QString(QChar(0xDE00)),
        QString(QChar(0x0085)), // next line, a Latin-1 character but no paragraph end
        QStringLiteral("\t"),
    };
    constexpr int tokenCount = int(sizeof(tokens) / sizeof(tokens[0]));
    QString result;
    const int count = in.byte() % (most + 1);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t pick = in.byte();
        if (pick >= 240) {
            // A long run, so that blocks and chunks overflow.
            const int repeat = 8 + in.byte() % 64;
            result += QString(repeat, pick % 2 ? QChar(u'x') : QChar(0x00E9));
        } else {
            result += tokens[pick % tokenCount];
        }
    }
    return result;
}

inline TextAttributes attributeSet(std::uint8_t pick)
{
    switch (pick % 4) {
    case 0:
        return {};
    case 1:
        return { { QStringLiteral("weight"), 1 } };
    case 2:
        return { { QStringLiteral("weight"), 2 } };
    default:
        return { { QStringLiteral("colour"), QStringLiteral("red") } };
    }
}

// A piece with one or two attribute runs.
inline AttributedString attributedPiece(ByteSource& in, int most = 6)
{
    const QString text = piece(in, most);
    AttributedString result(text, attributeSet(in.byte()));
    if (result.length() > 1 && in.byte() % 2) {
        const TextAttributes attributes = attributeSet(in.byte());
        result.setAttributes(attributes, in.upTo(result.length() - 1), result.length());
    }
    return result;
}

inline bool hasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

// Paragraphs as the storage documents them: LF, CR, CRLF and U+2029 end one; U+2028 does not.
// The last entry is the paragraph after the final terminator (empty then) or the unterminated tail.
struct ModelParagraph {
    qsizetype start = 0;
    qsizetype length = 0;
    int terminator = 0;
};

inline std::vector<ModelParagraph> paragraphsOf(const QString& text)
{
    std::vector<ModelParagraph> result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        int terminator = 0;
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            terminator = 2;
        else if (c == u'\r' || c == u'\n' || c == QChar(0x2029))
            terminator = 1;
        if (terminator == 0)
            continue;
        i += terminator - 1;
        result.push_back({ start, i + 1 - start, terminator });
        start = i + 1;
    }
    result.push_back({ start, text.size() - start, 0 });
    return result;
}

// Shared reporting: the first mismatch, with the operations that led to it.
class Check {
public:
    const QString& failure() const { return m_failure; }
    bool failed() const { return !m_failure.isEmpty(); }

protected:
    bool expect(bool holds, const QString& what)
    {
        if (!holds && m_failure.isEmpty())
            m_failure = what + QStringLiteral("\nafter: ") + m_trace.join(QStringLiteral("; "));
        return holds;
    }
    void note(const QString& operation)
    {
        m_trace.push_back(operation);
        if (m_trace.size() > 12)
            m_trace.pop_front();
    }
    static QString shown(const QString& text)
    {
        QString result;
        for (const QChar c : text) {
            if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
                result += c;
            else
                result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
        }
        return QStringLiteral("\"") + result + QStringLiteral("\"");
    }
    // Reads `text` from `from` on through `enumerate` (which hands each piece and where it starts to
    // its body until the body answers false), stopping after `stopAfter` pieces: the pieces must run
    // on without gaps from one that holds `from` and read as the model's text there.
    template<typename Enumerate>
    bool expectPiecesFrom(
        const QString& text, qsizetype from, int stopAfter, const QString& name, Enumerate enumerate)
    {
        QString read;
        qint64 firstStart = -1;
        int pieces = 0;
        bool contiguous = true;
        enumerate([&](QStringView piece, qint64 pieceStart) {
            if (firstStart < 0)
                firstStart = pieceStart;
            contiguous = contiguous && pieceStart == firstStart + read.size() && !piece.isEmpty();
            read += piece;
            return ++pieces < stopAfter;
        });
        if (text.isEmpty())
            return expect(pieces == 0, name + QStringLiteral(" on no text"));
        return expect(contiguous && firstStart <= from
                       && (from < firstStart + read.size() || from == text.size()),
                   QStringLiteral("%1(%2) starts at %3").arg(name).arg(from).arg(firstStart))
            && expect(read == text.mid(firstStart, read.size()),
                QStringLiteral("%1(%2) read %3").arg(name).arg(from).arg(shown(read)));
    }
    // The runs cover `length` exactly, with no empty run and no equal neighbours, and give each unit
    // the model's attributes.
    bool expectRuns(const std::vector<AttributeRun>& runs, const Model& model, qsizetype start,
        qsizetype length, const QString& where)
    {
        qsizetype at = start;
        for (size_t r = 0; r < runs.size(); ++r) {
            if (!expect(runs[r].length > 0, where + QStringLiteral(": an empty run")))
                return false;
            if (!expect(r == 0 || runs[r].attributes != runs[r - 1].attributes,
                    where + QStringLiteral(": equal neighbour runs")))
                return false;
            for (qsizetype i = 0; i < runs[r].length; ++i, ++at) {
                if (!expect(at < start + length, where + QStringLiteral(": runs longer than the text")))
                    return false;
                if (!expect(runs[r].attributes == model.attributes[size_t(at)],
                        where + QStringLiteral(": wrong attributes at %1").arg(at)))
                    return false;
            }
        }
        return expect(at == start + length,
            where + QStringLiteral(": runs cover %1 of %2 units").arg(at - start).arg(length));
    }
    bool expectText(const AttributedString& got, const Model& model, qsizetype start, qsizetype length,
        const QString& where)
    {
        const QString want = model.text.mid(start, length);
        if (!expect(got.string() == want,
                where + QStringLiteral(": read %1, want %2").arg(shown(got.string()), shown(want))))
            return false;
        return expectRuns(got.runs(), model, start, length, where);
    }

    // A place in the text: often one where the text's structure changes (a block's or paragraph's
    // edge, the middle of a CRLF), as random offsets seldom hit those.
    qsizetype place(ByteSource& in)
    {
        const qsizetype length = modelLength();
        const std::uint8_t kind = in.byte();
        if (kind < 112 || length == 0)
            return in.upTo(length);
        const std::vector<qsizetype> edges = structure();
        const qsizetype edge = edges[in.byte() % edges.size()] + qsizetype(kind % 3) - 1;
        return std::clamp<qsizetype>(edge, 0, length);
    }
    // A length from `start`, often up to such a place.
    qsizetype span(ByteSource& in, qsizetype start)
    {
        const qsizetype rest = modelLength() - start;
        if (in.byte() % 2)
            return in.upTo(rest);
        const qsizetype end = place(in);
        return end >= start ? end - start : in.upTo(std::min<qsizetype>(3, rest));
    }
    virtual qsizetype modelLength() const = 0;
    // Offsets where the text's structure changes; never empty.
    virtual std::vector<qsizetype> structure() const = 0;

    QStringList m_trace;
    QString m_failure;
};

// TextBlocks alone, with a block limit small enough that edits cut and merge blocks all the time.
class BlocksCheck : public Check {
public:
    explicit BlocksCheck(qsizetype limit)
        : m_blocks(AttributedString(), limit)
    {
    }

    bool step(ByteSource& in)
    {
        const qsizetype length = m_model.text.size();
        switch (in.byte() % 13) {
        case 0:
        case 1:
        case 2: {
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            const AttributedString replacement = attributedPiece(in);
            note(
                QStringLiteral("replace(%1, %2, %3)").arg(start).arg(count).arg(shown(replacement.string())));
            m_blocks.replace(start, count, replacement);
            m_model.replace(start, count, replacement);
            break;
        }
        case 3: {
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            note(QStringLiteral("remove(%1, %2)").arg(start).arg(count));
            m_blocks.replace(start, count, {});
            m_model.replace(start, count, {});
            break;
        }
        case 4: {
            // Cut and joined again: nothing may change.
            const qsizetype at = place(in);
            note(QStringLiteral("takeTail(%1) and append it back").arg(at));
            TextBlocks tail = m_blocks.takeTail(at);
            if (!checkPart(tail, at, length - at, QStringLiteral("tail")))
                return false;
            m_blocks.append(std::move(tail));
            break;
        }
        case 5: {
            const qsizetype at = place(in);
            const AttributedString added = attributedPiece(in, 12);
            note(QStringLiteral("takeTail(%1), append %2").arg(at).arg(shown(added.string())));
            TextBlocks tail = m_blocks.takeTail(at);
            if (!checkPart(tail, at, length - at, QStringLiteral("tail")))
                return false;
            m_model.replace(at, length - at, {});
            if (!checkPart(m_blocks, 0, at, QStringLiteral("head")))
                return false;
            m_blocks.append(TextBlocks(added, m_blocks.blockLimit()));
            m_model.replace(at, 0, added);
            break;
        }
        case 6: {
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            const TextAttributes attributes = attributeSet(in.byte());
            note(QStringLiteral("setAttributes(%1, %2)").arg(start).arg(count));
            m_blocks.changeAttributes(start, count, [&](TextAttributes& target) { target = attributes; });
            for (qsizetype i = start; i < start + count; ++i)
                m_model.attributes[size_t(i)] = attributes;
            break;
        }
        case 7: {
            const qsizetype limit = 2 + in.byte() % 40;
            note(QStringLiteral("setBlockLimit(%1)").arg(limit));
            m_blocks.setBlockLimit(limit);
            break;
        }
        case 8:
            load(in);
            break;
        case 9:
            note(QStringLiteral("squeeze"));
            m_blocks.squeeze();
            break;
        case 10: {
            // A part of the text pasted back into it, sharing characters with it.
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            const qsizetype at = place(in);
            const qsizetype replaced = span(in, at);
            const AttributedString copied = m_blocks.mid(start, count);
            note(QStringLiteral("paste (%1, %2) over (%3, %4)").arg(start).arg(count).arg(at).arg(replaced));
            m_blocks.replace(at, replaced, copied);
            m_model.replace(at, replaced, copied);
            break;
        }
        default: {
            // Typing at the end, one character at a time, as a user does.
            const AttributedString typed = attributedPiece(in, 3);
            note(QStringLiteral("type %1 at the end").arg(shown(typed.string())));
            for (qsizetype i = 0; i < typed.length(); ++i) {
                const AttributedString unit = typed.mid(i, 1);
                m_blocks.replace(m_model.text.size(), 0, unit);
                m_model.replace(m_model.text.size(), 0, unit);
            }
            break;
        }
        }
        return verify(in);
    }

private:
    // A new text by one of the ways text blocks are built.
    void load(ByteSource& in)
    {
        const qsizetype limit = 2 + in.byte() % 40;
        const AttributedString text = attributedPiece(in, 24);
        m_model = Model();
        m_model.replace(0, 0, text);
        switch (in.byte() % 3) {
        case 0:
            note(QStringLiteral("load %1 with limit %2").arg(shown(text.string())).arg(limit));
            m_blocks = TextBlocks(text, limit);
            return;
        case 1: {
            if (hasLoneSurrogate(text.string()))
                break;
            note(QStringLiteral("load UTF-8 %1 with limit %2").arg(shown(text.string())).arg(limit));
            std::optional<TextBlocks> decoded = TextBlocks::fromUtf8(text.string().toUtf8(), limit);
            if (!expect(decoded.has_value(), QStringLiteral("valid UTF-8 refused")))
                return;
            m_blocks = std::move(*decoded);
            m_blocks.setRuns(platform::AttributeRuns(m_model.runs()));
            return;
        }
        default:
            break;
        }
        // Built piece by piece, Latin-1 pieces as bytes.
        note(QStringLiteral("build %1 with limit %2").arg(shown(text.string())).arg(limit));
        m_blocks = TextBlocks(AttributedString(), limit);
        const QString& string = text.string();
        qsizetype i = 0;
        while (i < string.size()) {
            const qsizetype part = std::min<qsizetype>(string.size() - i, 1 + in.byte() % 8);
            const QStringView slice = QStringView(string).sliced(i, part);
            bool latin1 = true;
            for (const QChar c : slice)
                latin1 = latin1 && c.unicode() < 0x100;
            if (latin1 && in.byte() % 2)
                m_blocks.appendLatin1(slice.toLatin1());
            else
                m_blocks.appendCharacters(slice);
            i += part;
        }
        m_blocks.setRuns(platform::AttributeRuns(m_model.runs()));
    }

    // `part` holds the model's [start, start + length) with its block structure sound.
    bool checkPart(const TextBlocks& part, qsizetype start, qsizetype length, const QString& where)
    {
        if (!expect(part.length() == length,
                where + QStringLiteral(": length %1, want %2").arg(part.length()).arg(length)))
            return false;
        if (!expect(part.string() == m_model.text.mid(start, length),
                where
                    + QStringLiteral(": holds %1, want %2")
                          .arg(shown(part.string()), shown(m_model.text.mid(start, length)))))
            return false;
        qsizetype next = 0;
        qsizetype bytes = 0;
        size_t count = 0;
        bool sound = true;
        part.enumerateBlocks(0, [&](QStringView wide, QByteArrayView latin1, qsizetype blockStart) {
            ++count;
            const qsizetype size = wide.isEmpty() ? latin1.size() : wide.size();
            sound = expect(wide.isEmpty() != latin1.isEmpty(),
                        where + QStringLiteral(": block at %1 is empty or both kinds").arg(blockStart))
                && expect(blockStart == next,
                    where + QStringLiteral(": block starts at %1, want %2").arg(blockStart).arg(next))
                && expect(size <= part.blockLimit(),
                    where
                        + QStringLiteral(": block of %1 over the limit %2").arg(size).arg(part.blockLimit()));
            if (sound && !latin1.isEmpty())
                sound = expect(QString::fromLatin1(latin1) == m_model.text.mid(start + blockStart, size),
                    where + QStringLiteral(": Latin-1 block at %1 is wrong").arg(blockStart));
            bytes += wide.isEmpty() ? latin1.size() : 2 * wide.size();
            next += size;
            return sound;
        });
        if (!sound)
            return false;
        return expect(count == part.blockCount(), where + QStringLiteral(": block count"))
            && expect(next == length, where + QStringLiteral(": blocks hold %1 units").arg(next))
            && expect(bytes == part.characterBytes(), where + QStringLiteral(": character bytes"));
    }

    bool verify(ByteSource& in)
    {
        if (failed())
            return false;
        const qsizetype length = m_model.text.size();
        if (!checkPart(m_blocks, 0, length, QStringLiteral("blocks")))
            return false;
        for (qsizetype i = 0; i < length; ++i) {
            if (!expect(m_blocks.at(i) == m_model.text[i], QStringLiteral("at(%1)").arg(i)))
                return false;
        }
        const QString shared = m_blocks.sharedString();
        if (!expect(shared.isNull() || shared == m_model.text, QStringLiteral("sharedString")))
            return false;
        if (!expectRuns(m_blocks.runs().list(), m_model, 0, length, QStringLiteral("runs")))
            return false;
        for (qsizetype i = 0; i < length; ++i) {
            if (!expect(m_blocks.attributes(i) == m_model.attributes[size_t(i)],
                    QStringLiteral("attributes(%1)").arg(i)))
                return false;
        }

        const qsizetype start = in.upTo(length);
        const qsizetype count = in.upTo(length - start);
        if (!expectText(m_blocks.mid(start, count), m_model, start, count,
                QStringLiteral("mid(%1, %2)").arg(start).arg(count)))
            return false;
        QString characters = QStringLiteral("#");
        m_blocks.appendCharacters(start, count, characters);
        if (!expect(characters == QStringLiteral("#") + m_model.text.mid(start, count),
                QStringLiteral("appendCharacters(%1, %2)").arg(start).arg(count)))
            return false;
        AttributedString appended(QStringLiteral("#"), attributeSet(3));
        m_blocks.appendTo(start, count, appended);
        Model prefixed;
        prefixed.replace(0, 0, AttributedString(QStringLiteral("#"), attributeSet(3)));
        prefixed.replace(1, 0, m_model.mid(start, count));
        if (!expectText(
                appended, prefixed, 0, count + 1, QStringLiteral("appendTo(%1, %2)").arg(start).arg(count)))
            return false;

        // Read from a place on, sometimes stopping early.
        const qsizetype from = in.upTo(length);
        const int stopAfter = 1 + in.byte() % 4;
        return expectPiecesFrom(m_model.text, from, stopAfter, QStringLiteral("enumerateCharacters"),
            [&](const auto& body) { m_blocks.enumerateCharacters(from, body); });
    }

    qsizetype modelLength() const override { return m_model.text.size(); }
    std::vector<qsizetype> structure() const override
    {
        std::vector<qsizetype> edges { 0, m_model.text.size() };
        m_blocks.enumerateBlocks(0, [&](QStringView, QByteArrayView, qsizetype start) {
            edges.push_back(start);
            return true;
        });
        return edges;
    }

    TextBlocks m_blocks;
    Model m_model;
};

// The document storage: chunks of paragraphs over blocks, with small limits picked by the input.
class StorageCheck : public Check {
public:
    explicit StorageCheck(ByteSource& in)
    {
        setLimits(in);
        QObject::connect(
            &m_storage, &TextContentStorage::textDidChange, [this](TextRange replaced, qint64 newLength) {
                // What a layout manager knows of the text, from the notifications alone.
                m_notified.replace(replaced.location, replaced.length(),
                    m_storage.substring(TextRange(replaced.location, replaced.location + newLength)));
            });
        QObject::connect(&m_storage, &TextContentStorage::paragraphsDidChange,
            [this](const platform::ParagraphChange& change) { checkChange(change); });
        m_live.emplace(m_storage.layoutParagraphIdentifier(0), QString());
        // Whole numbers, so that heights add up exactly in any order.
        if (in.byte() % 2)
            m_storage.setHeightEstimator([](qint64 length) { return float(1 + length % 5); });
    }

    bool step(ByteSource& in)
    {
        const qsizetype length = m_model.text.size();
        switch (in.byte() % 19) {
        case 0:
        case 1:
        case 2: {
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            const AttributedString replacement = attributedPiece(in);
            note(
                QStringLiteral("replace(%1, %2, %3)").arg(start).arg(count).arg(shown(replacement.string())));
            m_storage.replaceCharacters(TextRange(start, start + count), replacement);
            m_model.replace(start, count, replacement);
            break;
        }
        case 3: {
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            note(QStringLiteral("remove(%1, %2)").arg(start).arg(count));
            m_storage.replaceCharacters(TextRange(start, start + count), {});
            m_model.replace(start, count, {});
            break;
        }
        case 4: {
            // Typing, one character at a time, as a user does.
            qsizetype at = place(in);
            const AttributedString typed = attributedPiece(in, 3);
            note(QStringLiteral("type %1 at %2").arg(shown(typed.string())).arg(at));
            for (qsizetype i = 0; i < typed.length(); ++i, ++at) {
                const AttributedString unit = typed.mid(i, 1);
                m_storage.replaceCharacters(TextRange(at), unit);
                m_model.replace(at, 0, unit);
            }
            break;
        }
        case 5: {
            // Backspacing from a place.
            qsizetype at = place(in);
            const int times = 1 + in.byte() % 4;
            note(QStringLiteral("backspace %1 times at %2").arg(times).arg(at));
            for (int i = 0; i < times && at > 0; ++i, --at) {
                m_storage.replaceCharacters(TextRange(at - 1, at), {});
                m_model.replace(at - 1, 1, {});
            }
            break;
        }
        case 6: {
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            const TextAttributes attributes = attributeSet(in.byte());
            const int kind = in.byte() % 3;
            note(QStringLiteral("attributes %1 on (%2, %3)").arg(kind).arg(start).arg(count));
            for (qsizetype i = start; i < start + count; ++i) {
                TextAttributes& unit = m_model.attributes[size_t(i)];
                if (kind == 0) {
                    unit = attributes;
                } else if (kind == 1) {
                    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
                        unit.insert(it.key(), it.value());
                } else {
                    unit.remove(QStringLiteral("weight"));
                }
            }
            const TextRange range(start, start + count);
            if (kind == 0)
                m_storage.setAttributes(attributes, range);
            else if (kind == 1)
                m_storage.addAttributes(attributes, range);
            else
                m_storage.removeAttribute(QStringLiteral("weight"), range);
            break;
        }
        case 7:
            load(in);
            break;
        case 8:
            setLimits(in);
            break;
        case 9: {
            // Several edits in one transaction.
            const int edits = 1 + in.byte() % 3;
            note(QStringLiteral("transaction of %1 edits").arg(edits));
            m_storage.performEditingTransaction([&] {
                for (int i = 0; i < edits; ++i) {
                    const qsizetype start = place(in);
                    const qsizetype count = span(in, start);
                    const AttributedString replacement = attributedPiece(in, 3);
                    note(QStringLiteral("  replace(%1, %2, %3)")
                             .arg(start)
                             .arg(count)
                             .arg(shown(replacement.string())));
                    m_storage.replaceCharacters(TextRange(start, start + count), replacement);
                    m_model.replace(start, count, replacement);
                }
            });
            break;
        }
        case 12: {
            // A part of the text pasted back into it, sharing characters with it.
            const qsizetype start = place(in);
            const qsizetype count = span(in, start);
            const qsizetype at = place(in);
            const qsizetype replaced = span(in, at);
            const AttributedString copied = m_storage.attributedString(TextRange(start, start + count));
            note(QStringLiteral("paste (%1, %2) over (%3, %4)").arg(start).arg(count).arg(at).arg(replaced));
            m_storage.replaceCharacters(TextRange(at, at + replaced), copied);
            m_model.replace(at, replaced, copied);
            break;
        }
        case 13: {
            // A longer text, so that paragraphs outgrow chunks and blocks many times over.
            const AttributedString unit = attributedPiece(in, 8);
            const int times = 1 + in.byte() % 40;
            AttributedString text;
            for (int i = 0; i < times; ++i)
                text.append(unit);
            const qsizetype at = place(in);
            note(QStringLiteral("insert %1 times %2 at %3").arg(times).arg(shown(unit.string())).arg(at));
            m_storage.replaceCharacters(TextRange(at), text);
            m_model.replace(at, 0, text);
            break;
        }
        case 14:
        case 15:
            paragraphEdit(in);
            break;
        case 16:
            note(QStringLiteral("reestimateAll"));
            m_storage.reestimateAll();
            break;
        case 10: {
            const qint64 index = in.upTo(m_storage.layoutParagraphCount() - 1);
            const float height = float(in.byte() % 50);
            note(QStringLiteral("height %1 for paragraph %2").arg(height).arg(index));
            m_storage.setLayoutParagraphHeight(index, height, true);
            break;
        }
        default: {
            const AttributedString added = attributedPiece(in);
            note(QStringLiteral("append %1").arg(shown(added.string())));
            m_storage.replaceCharacters(TextRange(length), added);
            m_model.replace(length, 0, added);
            break;
        }
        }
        return verify(in);
    }

private:
    // An edit at one paragraph's edges: where paragraphs join, split or keep their ends.
    void paragraphEdit(ByteSource& in)
    {
        const std::vector<ModelParagraph> paragraphs = paragraphsOf(m_model.text);
        const ModelParagraph& paragraph = paragraphs[in.byte() % paragraphs.size()];
        const qsizetype start = paragraph.start;
        const qsizetype contentEnd = start + paragraph.length - paragraph.terminator;
        const qsizetype end = start + paragraph.length;
        qsizetype from = start;
        qsizetype to = start;
        AttributedString replacement;
        switch (in.byte() % 7) {
        case 0: // its content
            to = contentEnd;
            break;
        case 1: // its terminator
            from = contentEnd;
            to = end;
            break;
        case 2: // the first unit of its terminator (the CR of a CRLF)
            from = contentEnd;
            to = std::min(end, contentEnd + 1);
            break;
        case 3: // the unit before it
            from = std::max<qsizetype>(0, start - 1);
            break;
        case 4:
            to = contentEnd;
            replacement = attributedPiece(in, 3);
            break;
        case 5:
            from = to = contentEnd;
            replacement = attributedPiece(in, 3);
            break;
        default:
            replacement = attributedPiece(in, 3);
            break;
        }
        note(QStringLiteral("replace(%1, %2, %3) at a paragraph's edge")
                 .arg(from)
                 .arg(to - from)
                 .arg(shown(replacement.string())));
        m_storage.replaceCharacters(TextRange(from, to), replacement);
        m_model.replace(from, to - from, replacement);
    }

    void setLimits(ByteSource& in)
    {
        const int paragraphs = 2 + in.byte() % 6;
        const qsizetype units = 4 + in.byte() % 60;
        const std::uint8_t blockPick = in.byte();
        const std::optional<qsizetype> blocks
            = blockPick % 4 == 0 ? std::nullopt : std::optional<qsizetype>(2 + blockPick % 24);
        note(QStringLiteral("limits %1 paragraphs, %2 units, blocks %3")
                 .arg(paragraphs)
                 .arg(units)
                 .arg(blocks ? *blocks : -1));
        m_storage.setChunkLimits(paragraphs, units, blocks);
    }

    void load(ByteSource& in)
    {
        const AttributedString text = attributedPiece(in, 40);
        const TextAttributes attributes = attributeSet(in.byte());
        const int kind = in.byte() % 4;
        m_model = Model();
        if (kind == 0) {
            note(QStringLiteral("setAttributedString(%1)").arg(shown(text.string())));
            m_storage.setAttributedString(text);
            m_model.replace(0, 0, text);
        } else if (kind == 1) {
            note(QStringLiteral("replace all with %1").arg(shown(text.string())));
            m_storage.replaceCharacters(TextRange(0, m_storage.length()), text);
            m_model.replace(0, 0, text);
        } else if (kind == 2 || hasLoneSurrogate(text.string())) {
            note(QStringLiteral("setString(%1)").arg(shown(text.string())));
            m_storage.setString(text.string(), attributes);
            m_model.replace(0, 0, AttributedString(text.string(), attributes));
        } else {
            const qsizetype limit = 4 + in.byte() % 30;
            note(QStringLiteral("setString(UTF-8 %1, blocks %2)").arg(shown(text.string())).arg(limit));
            std::optional<TextBlocks> blocks = TextBlocks::fromUtf8(text.string().toUtf8(), limit);
            if (!expect(blocks.has_value(), QStringLiteral("valid UTF-8 refused")))
                return;
            m_storage.setString(std::move(*blocks), attributes);
            m_model.replace(0, 0, AttributedString(text.string(), attributes));
        }
    }

    bool verify(ByteSource& in)
    {
        if (failed())
            return false;
        const QString& text = m_model.text;
        const qsizetype length = text.size();
        if (!expect(m_storage.length() == length,
                QStringLiteral("length %1, want %2").arg(m_storage.length()).arg(length)))
            return false;
        if (!expect(m_storage.string() == text,
                QStringLiteral("string %1, want %2").arg(shown(m_storage.string()), shown(text))))
            return false;
        if (!expect(m_notified == text,
                QStringLiteral("notified edits give %1, want %2").arg(shown(m_notified), shown(text))))
            return false;
        if (!expectText(m_storage.attributedString(), m_model, 0, length, QStringLiteral("attributedString")))
            return false;

        const qsizetype start = in.upTo(length);
        const qsizetype end = start + in.upTo(length - start);
        if (!expect(m_storage.substring(TextRange(start, end)) == text.mid(start, end - start),
                QStringLiteral("substring(%1, %2)").arg(start).arg(end)))
            return false;
        if (!expectText(m_storage.attributedString(TextRange(start, end)), m_model, start, end - start,
                QStringLiteral("attributedString(%1, %2)").arg(start).arg(end)))
            return false;
        // Ranges past the ends are clamped.
        if (!expect(
                m_storage.substring(TextRange(-3, length + 3)) == text, QStringLiteral("clamped substring")))
            return false;
        for (qsizetype i = 0; i < length; ++i) {
            if (!expect(m_storage.attributes(i) == m_model.attributes[size_t(i)],
                    QStringLiteral("attributes(%1)").arg(i)))
                return false;
        }
        if (!expect(m_storage.attributes(length) == (length ? m_model.attributes.back() : TextAttributes()),
                QStringLiteral("attributes at the end")))
            return false;

        const qsizetype from = in.upTo(length);
        if (!verifyPieces(from, 1 + in.byte() % 4))
            return false;
        return verifyParagraphs(in);
    }

    bool verifyPieces(qsizetype from, int stopAfter)
    {
        return expectPiecesFrom(m_model.text, from, stopAfter, QStringLiteral("enumerateTextPieces"),
            [&](const auto& body) { m_storage.enumerateTextPieces(from, body); });
    }

    bool verifyParagraphs(ByteSource& in)
    {
        const QString& text = m_model.text;
        const qsizetype length = text.size();
        const std::vector<ModelParagraph> layout = paragraphsOf(text);
        const qint64 count = qint64(layout.size()) - (layout.back().length == 0 ? 1 : 0);
        if (!expect(m_storage.layoutParagraphCount() == qint64(layout.size()),
                QStringLiteral("%1 layout paragraphs, want %2")
                    .arg(m_storage.layoutParagraphCount())
                    .arg(layout.size())))
            return false;
        if (!expect(m_storage.paragraphCount() == count,
                QStringLiteral("%1 paragraphs, want %2").arg(m_storage.paragraphCount()).arg(count)))
            return false;

        std::unordered_map<quint32, qint64> identifiers;
        double y = 0;
        for (size_t i = 0; i < layout.size(); ++i) {
            const ModelParagraph& want = layout[i];
            const TextRange range(want.start, want.start + want.length);
            const QString where = QStringLiteral("layout paragraph %1").arg(i);
            const auto whole = m_storage.layoutParagraph(qint64(i));
            if (!expect(m_storage.layoutParagraphRange(qint64(i)) == range && whole.range == range,
                    where
                        + QStringLiteral(" range (%1, %2), want (%3, %4)")
                              .arg(whole.range.location)
                              .arg(whole.range.endLocation)
                              .arg(range.location)
                              .arg(range.endLocation)))
                return false;
            if (!expect(m_storage.terminatorLength(qint64(i)) == want.terminator
                        && whole.terminatorLength == want.terminator,
                    where
                        + QStringLiteral(" terminator %1, want %2")
                              .arg(m_storage.terminatorLength(qint64(i)))
                              .arg(want.terminator)))
                return false;
            if (!expectText(
                    m_storage.layoutParagraphText(qint64(i)), m_model, want.start, want.length, where))
                return false;
            // An identifier names one paragraph's text and attributes: a layout kept under it is
            // drawn for that text, so it must change whenever they do.
            const quint32 identifier = m_storage.layoutParagraphIdentifier(qint64(i));
            if (!expect(identifier == whole.identifier && identifiers.emplace(identifier, qint64(i)).second,
                    where + QStringLiteral(" identifier %1 not unique").arg(identifier)))
                return false;
            const AttributedString content = m_model.mid(want.start, want.length);
            const auto [seen, added] = m_contents.emplace(identifier, content);
            if (!expect(added || seen->second == content,
                    where
                        + QStringLiteral(" kept identifier %1 with new text %2, was %3")
                              .arg(identifier)
                              .arg(shown(content.string()), shown(seen->second.string()))))
                return false;
            if (!expect(m_storage.layoutParagraphY(qint64(i)) == y && whole.y == y,
                    where
                        + QStringLiteral(" at y %1, want %2")
                              .arg(m_storage.layoutParagraphY(qint64(i)))
                              .arg(y)))
                return false;
            y += m_storage.layoutParagraphHeight(qint64(i));
        }
        if (!expect(m_storage.totalHeight() == y,
                QStringLiteral("total height %1, want %2").arg(m_storage.totalHeight()).arg(y)))
            return false;
        // The paragraph at a height: the first that ends below it, else the last.
        const double probeY = double(in.upTo(qsizetype(y) + 2)) - 1;
        qint64 atY = 0;
        for (double top = 0; atY + 1 < qint64(layout.size()); ++atY) {
            top += m_storage.layoutParagraphHeight(atY);
            if (probeY < top)
                break;
        }
        if (!expect(m_storage.layoutParagraphIndexAtY(probeY) == atY,
                QStringLiteral("paragraph at y %1 is %2, want %3")
                    .arg(probeY)
                    .arg(m_storage.layoutParagraphIndexAtY(probeY))
                    .arg(atY)))
            return false;

        for (qint64 i = 0; i < count; ++i) {
            const std::optional<platform::TextParagraph> paragraph = m_storage.paragraph(i);
            const ModelParagraph& want = layout[size_t(i)];
            const QString where = QStringLiteral("paragraph %1").arg(i);
            if (!expect(paragraph.has_value(), where + QStringLiteral(" missing")))
                return false;
            if (!expect(paragraph->index == i
                        && paragraph->elementRange == TextRange(want.start, want.start + want.length)
                        && paragraph->paragraphContentRange
                            == TextRange(want.start, want.start + want.length - want.terminator),
                    where + QStringLiteral(" ranges")))
                return false;
            if (!expectText(paragraph->attributedString, m_model, want.start, want.length, where))
                return false;
        }
        if (!expect(!m_storage.paragraph(count) && !m_storage.paragraph(-1),
                QStringLiteral("paragraph past the ends")))
            return false;

        // Lookups by offset, the document's end and one past each end included.
        for (int probe = 0; probe < 3; ++probe) {
            const qint64 at = in.upTo(length + 2) - 1;
            qint64 index = 0;
            while (index + 1 < qint64(layout.size())
                && at >= layout[size_t(index)].start + layout[size_t(index)].length)
                ++index;
            const QString where = QStringLiteral("paragraph at %1").arg(at);
            if (at >= 0 && at <= length
                && !expect(m_storage.layoutParagraphIndex(at) == index,
                    where
                        + QStringLiteral(": layout index %1, want %2")
                              .arg(m_storage.layoutParagraphIndex(at))
                              .arg(index)))
                return false;
            const std::optional<platform::TextParagraph> found = m_storage.paragraphAt(at);
            const bool exists = at >= 0 && at <= length && count > 0;
            if (!expect(found.has_value() == exists, where + QStringLiteral(": found or not")))
                return false;
            if (exists
                && !expect(found->index == std::min(index, count - 1),
                    where + QStringLiteral(": index %1").arg(found->index)))
                return false;
        }

        // Walks forwards and backwards from a place, stopping after a few.
        const qint64 from = in.upTo(length);
        const bool reverse = in.byte() % 2;
        const int most = 1 + in.byte() % 5;
        std::vector<qint64> walked;
        m_storage.enumerateParagraphs(from, reverse, [&](const platform::TextParagraph& paragraph) {
            walked.push_back(paragraph.index);
            return int(walked.size()) < most;
        });
        std::vector<qint64> want;
        if (count > 0) {
            qint64 index = 0;
            while (index + 1 < qint64(layout.size())
                && from >= layout[size_t(index)].start + layout[size_t(index)].length)
                ++index;
            for (index = std::min(index, count - 1); index >= 0 && index < count && int(want.size()) < most;
                 index += reverse ? -1 : 1)
                want.push_back(index);
        }
        return expect(walked == want, QStringLiteral("enumerateParagraphs(%1, %2)").arg(from).arg(reverse));
    }

    // A layout kept under an edited paragraph's old identifier is carried over by the edit given:
    // the old text with that edit made must be the new text.
    void checkChange(const platform::ParagraphChange& change)
    {
        if (!change.replacedAll) {
            for (const quint32 identifier : change.retired)
                expect(
                    m_live.count(identifier), QStringLiteral("retired %1, not a paragraph").arg(identifier));
            for (const platform::ParagraphChange::Edit& edit : change.edited) {
                const auto old = m_live.find(edit.from);
                if (!expect(old != m_live.end(), QStringLiteral("edited %1, not a paragraph").arg(edit.from)))
                    return;
                std::optional<QString> now;
                for (qint64 i = 0; i < m_storage.layoutParagraphCount() && !now; ++i) {
                    if (m_storage.layoutParagraphIdentifier(i) == edit.to)
                        now = m_storage.layoutParagraphText(i).string();
                }
                if (!expect(now.has_value(), QStringLiteral("edited into %1, not a paragraph").arg(edit.to)))
                    return;
                QString spliced = old->second;
                const bool inside = edit.start >= 0 && edit.removed >= 0 && edit.inserted >= 0
                    && edit.start + edit.removed <= spliced.size()
                    && edit.start + edit.inserted <= now->size();
                if (inside)
                    spliced.replace(edit.start, edit.removed, now->mid(edit.start, edit.inserted));
                if (!expect(inside && spliced == *now,
                        QStringLiteral("edit (%1, %2, %3) of %4 does not give %5")
                            .arg(edit.start)
                            .arg(edit.removed)
                            .arg(edit.inserted)
                            .arg(shown(old->second), shown(*now))))
                    return;
            }
        }
        m_live.clear();
        for (qint64 i = 0; i < m_storage.layoutParagraphCount(); ++i)
            m_live.emplace(m_storage.layoutParagraphIdentifier(i), m_storage.layoutParagraphText(i).string());
        for (const quint32 identifier : change.retired)
            expect(!m_live.count(identifier), QStringLiteral("retired %1 still there").arg(identifier));
    }

    qsizetype modelLength() const override { return m_model.text.size(); }
    std::vector<qsizetype> structure() const override
    {
        std::vector<qsizetype> edges { 0, m_model.text.size() };
        for (const ModelParagraph& paragraph : paragraphsOf(m_model.text)) {
            edges.push_back(paragraph.start);
            edges.push_back(paragraph.start + paragraph.length - paragraph.terminator);
        }
        m_storage.enumerateTextPieces(0, [&](QStringView, qint64 start) {
            edges.push_back(start);
            return true;
        });
        return edges;
    }

    TextContentStorage m_storage;
    Model m_model;
    QString m_notified;
    std::unordered_map<quint32, QString> m_live;
    std::unordered_map<quint32, AttributedString> m_contents;
};

// Runs the operations the bytes give: the first byte picks the block limit and whether TextBlocks or
// the storage is checked. Answers the first mismatch, or an empty string.
inline QString runOperations(const std::uint8_t* data, std::size_t size, int most = 1 << 30)
{
    ByteSource in(data, size);
    const std::uint8_t head = in.byte();
    if (head % 2 == 0) {
        BlocksCheck check(2 + (head / 2) % 40);
        for (int i = 0; i < most && !in.atEnd(); ++i) {
            if (!check.step(in))
                return check.failure();
        }
        return {};
    }
    StorageCheck check(in);
    for (int i = 0; i < most && !in.atEnd(); ++i) {
        if (!check.step(in))
            return check.failure();
    }
    return {};
}

} // namespace textcheck
