#pragma once

#include "platform/text/AttributeRuns.h"
#include "platform/text/AttributedString.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

// Attributed text kept in blocks of bounded size, so that an edit moves no more than about one
// block's characters however long the text is. A block whose characters are all Latin-1 keeps one
// byte per character: it is widened to UTF-16 when a wider character comes into it, and read as
// UTF-16 through a copy of what is read.
class TextBlocks {
public:
    static constexpr qsizetype defaultBlockUnits = 32 * 1024;

    TextBlocks() = default;
    explicit TextBlocks(const AttributedString& text, qsizetype blockUnits = defaultBlockUnits);

    // Strict UTF-8: none for malformed or cut-short sequences. A leading byte-order mark is
    // dropped. The text has no runs; `setRuns` gives it its attributes.
    static std::optional<TextBlocks> fromUtf8(QByteArrayView bytes, qsizetype blockUnits = defaultBlockUnits);

    qsizetype length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    QChar at(qsizetype index) const;
    // Appends the characters of [start, start + length) to `out`.
    void appendCharacters(qsizetype start, qsizetype length, QString& out) const;
    QString string() const;
    // The whole text when it is one UTF-16 block, shared; a null string otherwise.
    QString sharedString() const;
    AttributedString mid(qsizetype start, qsizetype length) const;
    // Appends [start, start + length) with its runs to `out`.
    void appendTo(qsizetype start, qsizetype length, AttributedString& out) const;
    const AttributeRuns& runs() const { return m_runs; }

    // Calls `body` with the characters of each block from the one holding `from` on, and the
    // offset where that block starts, until it answers false. A view holds during its call only.
    void enumerateCharacters(qsizetype from, const std::function<bool(QStringView, qsizetype)>& body) const;
    // The same without widening: each block as either UTF-16 or Latin-1 (the other view empty).
    void enumerateBlocks(qsizetype from,
        const std::function<bool(QStringView wide, QByteArrayView latin1, qsizetype start)>& body) const;
    // Hands each block over in order, as `enumerateBlocks` shows it, dropping it once handed; the
    // text is left empty.
    void drain(const std::function<void(QStringView wide, QByteArrayView latin1)>& body);

    // Offsets and lengths below must lie inside the text.
    void replace(qsizetype start, qsizetype length, const AttributedString& replacement);
    void append(TextBlocks&& other);
    // Cuts the text at `at`: this keeps what is before, the answer holds the rest.
    TextBlocks takeTail(qsizetype at);

    template<typename Change> void changeAttributes(qsizetype start, qsizetype length, Change change)
    {
        m_runs.change(start, length, change);
    }
    TextAttributes attributes(qsizetype index) const { return m_runs.attributes(index); }

    // Building: characters first, their runs once they are all there.
    void appendCharacters(QStringView text);
    void appendLatin1(QByteArrayView text);
    void setRuns(AttributeRuns runs) { m_runs = std::move(runs); }
    // Gives blocks back the room they were given to grow in.
    void squeeze();

    qsizetype blockLimit() const { return m_blockLimit; }
    // Blocks longer than the new limit are cut at once.
    void setBlockLimit(qsizetype units);
    size_t blockCount() const { return m_blocks.size(); }
    // The bytes the characters take: one per Latin-1 character, two per UTF-16 unit elsewhere.
    qsizetype characterBytes() const;

private:
    struct Block {
        QByteArray narrow; // Latin-1
        QString wide; // UTF-16, once a wider character came in
        bool isWide() const { return !wide.isEmpty(); }
        qsizetype length() const { return isWide() ? wide.size() : narrow.size(); }
    };

    static Block makeBlock(QStringView text);
    static void widen(Block& block);
    static void appendBlockCharacters(const Block& block, qsizetype start, qsizetype length, QString& out);
    // `text` cut into blocks of about `units` each, never inside a surrogate pair.
    void appendCut(std::vector<Block>& into, QStringView text, qsizetype units) const;
    void ensureStarts() const;
    void invalidateStarts(size_t fromBlock);
    size_t blockContaining(qsizetype index) const;
    void replaceCharacters(qsizetype start, qsizetype length, QStringView replacement);
    // Joins a block that an edit left small with a neighbour.
    void mergeIfSmall(size_t index);

    std::vector<Block> m_blocks;
    mutable std::vector<qsizetype> m_starts;
    mutable size_t m_startsValidUpTo = 0;
    qsizetype m_length = 0;
    qsizetype m_blockLimit = defaultBlockUnits;
    AttributeRuns m_runs;
};

} // namespace platform
