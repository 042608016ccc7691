#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

bool isTerminator(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar(0x2029);
}

// Paragraph count as text elements: one per terminator (CRLF counts once), plus the unterminated
// tail when there is one.
qint64 modelParagraphCount(const QString& text)
{
    qint64 count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isTerminator(text[i]))
            continue;
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        ++count;
    }
    if (!text.isEmpty() && !isTerminator(text.back()))
        ++count;
    return count;
}

TextLocation modelAdjust(TextLocation at, TextRange replaced, qint64 inserted)
{
    if (replaced.isEmpty())
        return at >= replaced.location ? at + inserted : at;
    if (at < replaced.location)
        return at;
    if (at >= replaced.endLocation)
        return at + inserted - replaced.length();
    return replaced.location + inserted;
}

QString randomPiece(std::mt19937& random)
{
    static const QString pieces[] = {
        QStringLiteral("a"),
        QStringLiteral("bc"),
        QStringLiteral(" "),
        QStringLiteral("\r"),
        QStringLiteral("\n"),
        QStringLiteral("\r\n"),
        QString(QChar(0x2029)),
        QString(QChar(0x2028)),
        QString::fromUcs4(U"\U0001F600"),
        QString::fromUcs4(U"e\u0301"),
        QStringLiteral("\t"),
        QStringLiteral("\u00e9"),
    };
    QString result;
    // Now and then a stretch with no terminator, so that paragraphs run over several blocks.
    if (random() % 40 == 0)
        return QString(qsizetype(40 + random() % 120), QLatin1Char('x'));
    const int count = int(random() % 5);
    for (int i = 0; i < count; ++i)
        result += pieces[random() % std::size(pieces)];
    return result;
}

// The pieces from `from` on cover the text after the one holding `from`, one after another.
void expectPiecesMatch(const TextContentStorage& storage, const QString& model, qint64 from)
{
    QString joined;
    qint64 first = -1;
    storage.enumerateTextPieces(from, [&](QStringView piece, TextLocation start) {
        if (first < 0)
            first = start;
        EXPECT_EQ(start, first + joined.size());
        joined += piece;
        return true;
    });
    // At the end there may be no piece (the last paragraph, empty, may be alone in its chunk).
    if (first < 0) {
        EXPECT_EQ(from, model.size());
        return;
    }
    EXPECT_LE(first, from);
    EXPECT_EQ(joined, model.mid(first));
}

void expectParagraphsMatch(const TextContentStorage& storage, const QString& model)
{
    QString joined;
    for (qint64 i = 0; i < storage.paragraphCount(); ++i) {
        const auto paragraph = storage.paragraph(i);
        ASSERT_TRUE(paragraph);
        const QString text = paragraph->attributedString.string();
        ASSERT_EQ(paragraph->elementRange.location, joined.size());
        // No terminator inside a paragraph; only its last one (or CRLF pair) ends it.
        const qsizetype content = paragraph->paragraphContentRange.length();
        for (qsizetype c = 0; c < content; ++c)
            ASSERT_FALSE(isTerminator(text[c])) << "paragraph " << i;
        joined += text;
    }
    EXPECT_EQ(joined, model);
}

} // namespace

// Blocks of 32 units, and chunks of 64, so that edits fall across joins of both; attributes are
// kept in a model too (an underline value per unit), as runs move with the blocks.
TEST(TextContentStorage, HundredThousandRandomEditsMatchAPlainStringModel)
{
    TextContentStorage storage;
    storage.setChunkLimits(8, 64);
    std::vector<int> underlines;
    TextLayoutManager manager;
    manager.setTextContentStorage(&storage);
    QString model;
    std::vector<TextRange> modelSelections { TextRange(0), TextRange(0), TextRange(0) };
    std::mt19937 random(20261206);

    for (int step = 0; step < 100000; ++step) {
        if (step % 5000 == 0) {
            // Fresh selections now and then, so they do not all collapse to one caret.
            std::vector<TextSelection> selections;
            for (TextRange& range : modelSelections) {
                const qint64 a = model.isEmpty() ? 0 : qint64(random() % (model.size() + 1));
                const qint64 b = model.isEmpty() ? 0 : qint64(random() % (model.size() + 1));
                range = TextRange(a, b);
                selections.push_back(TextSelection(range));
            }
            manager.setTextSelections(selections);
        }
        const qint64 length = model.size();
        qint64 start = length == 0 ? 0 : qint64(random() % (length + 1));
        qint64 span = length == 0 ? 0 : qint64(random() % std::min<qint64>(length - start + 1, 12));
        // Long documents shrink, so the model stays cheap to compare.
        if (length > 1500)
            span = std::min<qint64>(length - start, 40 + random() % 40);
        const QString replacement = length > 1500 ? QString() : randomPiece(random);
        const TextRange range(start, start + span);

        model.replace(start, span, replacement);
        storage.replaceCharacters(range, AttributedString(replacement));
        underlines.erase(underlines.begin() + start, underlines.begin() + start + span);
        underlines.insert(underlines.begin() + start, replacement.size(), 0);
        if (step % 50 == 0 && !model.isEmpty()) {
            const int value = 1 + step % 3;
            const qint64 from = qint64(random() % model.size());
            const qint64 to = std::min<qint64>(model.size(), from + 1 + random() % 200);
            storage.addAttributes({ { AttributeKey::underlineStyle, value } }, TextRange(from, to));
            std::fill(underlines.begin() + from, underlines.begin() + to, value);
        }
        for (TextRange& selection : modelSelections)
            selection = TextRange(modelAdjust(selection.location, range, replacement.size()),
                modelAdjust(selection.endLocation, range, replacement.size()));

        ASSERT_EQ(storage.length(), model.size()) << "step " << step;
        ASSERT_EQ(storage.paragraphCount(), modelParagraphCount(model)) << "step " << step;
        const auto& selections = manager.textSelections();
        ASSERT_EQ(selections.size(), modelSelections.size());
        for (size_t i = 0; i < selections.size(); ++i) {
            ASSERT_EQ(selections[i].textRanges.front(), modelSelections[i]) << "step " << step;
        }
        if (step % 97 == 0) {
            ASSERT_EQ(storage.string(), model) << "step " << step;
            const qint64 a = qint64(random() % (model.size() + 1));
            const qint64 b = qint64(random() % (model.size() + 1));
            ASSERT_EQ(storage.substring(TextRange(a, b)), model.mid(std::min(a, b), std::abs(b - a)))
                << "step " << step;
            const AttributedString part = storage.attributedString(TextRange(a, b));
            qsizetype runStart = std::min(a, b);
            for (const AttributedString::Run& run : part.runs()) {
                for (qsizetype i = runStart; i < runStart + run.length; ++i)
                    ASSERT_EQ(
                        run.attributes.value(AttributeKey::underlineStyle).toInt(), underlines[size_t(i)])
                        << "step " << step << " at " << i;
                runStart += run.length;
            }
            ASSERT_EQ(runStart, std::max(a, b));
            expectPiecesMatch(storage, model, a);
        }
        if (step % 4999 == 0)
            expectParagraphsMatch(storage, model);
    }
    EXPECT_EQ(storage.string(), model);
    expectParagraphsMatch(storage, model);
}

TEST(TextContentStorage, ParagraphsFollowTerminators)
{
    struct Case {
        QString text;
        qint64 paragraphs;
        qint64 layoutParagraphs;
    };
    const Case cases[] = {
        { "", 0, 1 },
        { "a", 1, 1 },
        { "a\n", 1, 2 },
        { "a\r\nb", 2, 2 },
        { "a\r\rb", 3, 3 },
        { "a\n\r", 2, 3 },
        { QString("a") + QChar(0x2028) + "b", 1, 1 },
        { QString("a") + QChar(0x2029) + "b", 2, 2 },
    };
    for (const Case& c : cases) {
        TextContentStorage storage;
        storage.setString(c.text);
        EXPECT_EQ(storage.paragraphCount(), c.paragraphs) << c.text.toStdString();
        EXPECT_EQ(storage.layoutParagraphCount(), c.layoutParagraphs) << c.text.toStdString();
    }
}

TEST(TextContentStorage, CarriageReturnAndLineFeedJoinAcrossAnEdit)
{
    TextContentStorage storage;
    storage.setString("a\rb\nc");
    ASSERT_EQ(storage.paragraphCount(), 3);
    storage.replaceCharacters(TextRange(2, 3), {}); // "a\r\nc"
    EXPECT_EQ(storage.paragraphCount(), 2);
    EXPECT_EQ(storage.paragraph(0)->elementRange, TextRange(0, 3));
    storage.replaceCharacters(TextRange(2), AttributedString("x")); // "a\rx\nc"
    EXPECT_EQ(storage.paragraphCount(), 3);
}

TEST(TextContentStorage, LargeDocumentSplitsIntoChunksAndEditsStayLocal)
{
    QString text;
    for (int i = 0; i < 20000; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    TextContentStorage storage;
    storage.setString(text);
    EXPECT_GT(storage.chunkCount(), 20);
    EXPECT_EQ(storage.paragraphCount(), 20000);
    const TextRange line = storage.paragraph(12345)->elementRange;
    storage.replaceCharacters(TextRange(line.location, line.location), AttributedString("new\n"));
    EXPECT_EQ(storage.paragraphCount(), 20001);
    EXPECT_EQ(storage.paragraph(12345)->attributedString.string(), "new\n");
    EXPECT_EQ(storage.paragraph(12346)->attributedString.string(), "line 12345\n");
    EXPECT_EQ(storage.layoutParagraphIndex(line.location + 4), 12346);
}

TEST(TextContentStorage, AttributeEditsChangeOnlyTheirRangeAndSignalOnce)
{
    TextContentStorage storage;
    storage.setString("one\ntwo\nthree");
    int attributeSignals = 0;
    int textSignals = 0;
    QObject::connect(&storage, &TextContentStorage::attributesDidChange, [&] { ++attributeSignals; });
    QObject::connect(&storage, &TextContentStorage::textDidChange, [&] { ++textSignals; });
    storage.addAttributes({ { AttributeKey::underlineStyle, 1 } }, TextRange(2, 6));
    EXPECT_EQ(attributeSignals, 1);
    EXPECT_EQ(textSignals, 0);
    EXPECT_FALSE(storage.attributes(1).contains(AttributeKey::underlineStyle));
    EXPECT_TRUE(storage.attributes(2).contains(AttributeKey::underlineStyle));
    EXPECT_TRUE(storage.attributes(5).contains(AttributeKey::underlineStyle));
    EXPECT_FALSE(storage.attributes(6).contains(AttributeKey::underlineStyle));
    const AttributedString all = storage.attributedString();
    EXPECT_EQ(all.runs().size(), 3u);
}

TEST(TextContentStorage, TransactionEndsOnceForNestedEdits)
{
    TextContentStorage storage;
    int ends = 0;
    QObject::connect(&storage, &TextContentStorage::transactionDidEnd, [&] { ++ends; });
    storage.performEditingTransaction([&] {
        storage.replaceCharacters(TextRange(0), AttributedString("ab"));
        storage.performEditingTransaction(
            [&] { storage.replaceCharacters(TextRange(1, 2), AttributedString("c")); });
        EXPECT_TRUE(storage.hasEditingTransaction());
    });
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(storage.string(), "ac");
}

TEST(TextContentStorage, ParagraphsEnumerateBothWaysFromALocation)
{
    TextContentStorage storage;
    storage.setString("one\ntwo\nthree\n");
    auto collect = [&](TextLocation from, bool reverse) {
        QStringList texts;
        storage.enumerateParagraphs(from, reverse, [&](const TextParagraph& paragraph) {
            texts << paragraph.attributedString.string();
            return texts.size() < 2;
        });
        return texts;
    };
    EXPECT_EQ(collect(5, false), (QStringList { "two\n", "three\n" }));
    EXPECT_EQ(collect(5, true), (QStringList { "two\n", "one\n" }));
    EXPECT_EQ(collect(storage.length(), true), (QStringList { "three\n", "two\n" }));
    EXPECT_EQ(storage.paragraphAt(storage.length())->index, 2);
    EXPECT_EQ(storage.paragraph(2)->paragraphContentRange, TextRange(8, 13));
}

TEST(TextContentStorage, OneWalkAnswersWhatEachLayoutParagraphAccessorDoes)
{
    TextContentStorage storage;
    storage.setChunkLimits(4, 64);
    QString text;
    for (int i = 0; i < 30; ++i)
        text += QStringLiteral("para %1").arg(i) + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\u2029");
    text += QStringLiteral("last, without a terminator");
    storage.setString(text);
    ASSERT_GT(storage.chunkCount(), 3);
    for (qint64 i = 0; i < storage.layoutParagraphCount(); i += 4)
        storage.setLayoutParagraphHeight(i, 10.5f + float(i), true);
    for (qint64 i = 0; i < storage.layoutParagraphCount(); ++i) {
        const TextContentStorage::LayoutParagraph paragraph = storage.layoutParagraph(i);
        EXPECT_EQ(paragraph.range, storage.layoutParagraphRange(i)) << i;
        EXPECT_EQ(paragraph.terminatorLength, storage.terminatorLength(i)) << i;
        EXPECT_EQ(paragraph.identifier, storage.layoutParagraphIdentifier(i)) << i;
        EXPECT_EQ(paragraph.y, storage.layoutParagraphY(i)) << i;
        EXPECT_EQ(paragraph.height, storage.layoutParagraphHeight(i)) << i;
        EXPECT_EQ(paragraph.measured, storage.isLayoutParagraphMeasured(i)) << i;
    }
}
