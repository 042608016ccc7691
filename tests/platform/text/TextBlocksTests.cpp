#include "platform/text/TextBlocks.h"
#include "platform/text/TextContentStorage.h"

#include "support/TestSupport.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

// What a note file's whole-file strict decode gives, or none.
std::optional<QString> wholeDecode(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Paragraphs as text elements: one per terminator (CRLF once), and the unterminated tail.
qint64 paragraphsIn(const QString& text)
{
    qint64 count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        if (c == u'\r' || c == u'\n' || c == QChar(0x2029))
            ++count;
    }
    const QChar last = text.isEmpty() ? QChar() : text.back();
    return count + (!text.isEmpty() && last != u'\r' && last != u'\n' && last != QChar(0x2029) ? 1 : 0);
}

} // namespace

// Slices decode alone exactly as the whole would: valid text gives the same characters and any
// malformed or cut-short sequence fails the whole, wherever the slices are cut.
TEST(TextBlocks, Utf8DecodesAsTheWholeFileWouldAtEverySliceBoundary)
{
    std::vector<QByteArray> inputs = {
        "plain ASCII text\n",
        "caf\xC3\xA9 na\xC3\xAFve \xE2\x82\xAC \xF0\x9F\x8E\xB5 end",
        "\xEF\xBB\xBF"
        "after a mark",
        "\xEF\xBB\xBF\xEF\xBB\xBF"
        "two marks",
        "inside \xEF\xBB\xBF mark",
        "cut \xE2\x82",
        "cut \xC3",
        "overlong \xC0\x80",
        "surrogate \xED\xA0\x80",
        "stray \x80 byte",
        "long run \xC3\xA9\x80\x80\x80\x80",
        "beyond \xF5\x80\x80\x80",
    };
    // Random mixes of the bytes that make and break sequences.
    const char alphabet[] = { 'a', '\n', '\xC3', '\xA9', '\xC2', '\xE2', '\x82', '\xAC', '\xF0', '\x9F',
        '\x8E', '\xB5', '\xED', '\xA0', '\xC0', '\xEF', '\xBB', '\xBF', '\x80' };
    std::mt19937 random(5150);
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes;
        for (int n = int(random() % 24); n > 0; --n)
            bytes += alphabet[random() % sizeof alphabet];
        inputs.push_back(bytes);
    }
    for (const QByteArray& bytes : inputs) {
        const std::optional<QString> expected = wholeDecode(bytes);
        for (const qsizetype limit : { 4, 5, 7, 64 }) {
            const std::optional<TextBlocks> blocks = TextBlocks::fromUtf8(bytes, limit);
            ASSERT_EQ(blocks.has_value(), expected.has_value())
                << bytes.toHex().constData() << " in " << limit;
            if (expected) {
                ASSERT_EQ(blocks->string(), *expected) << bytes.toHex().constData() << " in " << limit;
            }
        }
    }
}

// A note's text read into blocks and loaded into the storage gives back the same characters, and
// so the same bytes when written again; Latin-1 text takes a byte a character, and a wider one
// widens only the block it goes into.
TEST(TextBlocks, NoteTextComesBackByteForByteAndLatin1StaysCompact)
{
    QString longMixed;
    for (int i = 0; i < 3000; ++i)
        longMixed += QStringLiteral("line %1 caf\u00e9\r\n").arg(i)
            + (i % 500 == 0 ? u"\u20AC\U0001F3B5"_qs : QString());
    for (const QString& text :
        { u""_qs, u"\uFEFF"_qs, u"\uFEFF\nafter"_qs, u"inside \uFEFF"_qs, u"Caf\u00e9 \U0001F3B5"_qs,
            u"\r\r\n\n\u2029\u2028"_qs, QString(70000, QLatin1Char('w')), longMixed }) {
        const QByteArray bytes = text.toUtf8();
        // Written as a note is: a text that begins with U+FEFF after a mark.
        const QByteArray stored = text.startsWith(QChar(0xFEFF)) ? "\xEF\xBB\xBF" + bytes : bytes;
        std::optional<TextBlocks> blocks = TextBlocks::fromUtf8(stored, 1000);
        ASSERT_TRUE(blocks);
        TextContentStorage storage;
        storage.setChunkLimits(16, 2000, 700);
        storage.setString(std::move(*blocks));
        EXPECT_TRUE(storage.string() == text);
        EXPECT_TRUE(storage.string().toUtf8() == bytes);
        // A CRLF cut between two slices still ends one paragraph.
        EXPECT_EQ(storage.paragraphCount(), paragraphsIn(text));
    }

    TextContentStorage storage;
    const QString latin = QStringLiteral("na\u00efve caf\u00e9 ").repeated(20000);
    storage.setString(latin);
    EXPECT_EQ(storage.characterBytes(), latin.size());
    storage.replaceCharacters(TextRange(100000), AttributedString(u"\u20AC"_qs));
    EXPECT_GT(storage.characterBytes(), latin.size());
    EXPECT_LE(storage.characterBytes(), latin.size() + 1 + 2 * TextBlocks::defaultBlockUnits);
    EXPECT_EQ(storage.substring(TextRange(99999, 100002)),
        latin.mid(99999, 1) + u"\u20AC"_qs + latin.mid(100000, 1));
}

// Lowering the limit cuts long blocks again; a cut that would fall inside a surrogate pair moves
// before it, and the block after it must still fit the limit.
TEST(TextBlocks, ALoweredLimitHoldsWhereACutMovesOffASurrogatePair)
{
    const QString pair = QString::fromUcs4(U"\U0001F600");
    for (qsizetype limit = 2; limit <= 6; ++limit) {
        for (int before = 0; before <= 6; ++before) {
            const QString text = QString(before, QLatin1Char('a')) + pair + pair + QStringLiteral("bc");
            TextBlocks blocks(AttributedString(text), 64);
            blocks.setBlockLimit(limit);
            EXPECT_EQ(blocks.string(), text);
            blocks.enumerateBlocks(0, [&](QStringView wide, QByteArrayView latin1, qsizetype start) {
                EXPECT_LE(std::max(wide.size(), latin1.size()), limit)
                    << "limit " << limit << " at " << start;
                return true;
            });
        }
    }
}
