// Navigation and RTF checked against independent references on text generated from seeds: ICU and
// Qt's boundary finder over whole paragraphs, QTextLayout's own caret moves, and a plain RTF
// decoder written here. A fixed set of seeds runs always; TINDREL_RANDOM_SEEDS=N runs N more. A
// failure prints its seed and the smallest input that still shows it.

#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutFragment.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextSelectionNavigation.h"

#include <QColor>
#include <QFont>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <gtest/gtest.h>
#include <unicode/ubidi.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>

using namespace platform;
using Direction = TextSelectionNavigation::Direction;
using Destination = TextSelectionNavigation::Destination;

namespace {

std::vector<unsigned> seeds(unsigned fixed)
{
    std::vector<unsigned> result;
    for (unsigned seed = 1; seed <= fixed; ++seed)
        result.push_back(seed);
    const unsigned extra = qEnvironmentVariableIntValue("TINDREL_RANDOM_SEEDS");
    for (unsigned i = 0; i < extra; ++i)
        result.push_back(1000 + fixed + i * 7919u);
    return result;
}

// Pieces text is made of: scripts, marks, emoji, line ends and spaces of every kind.
const std::vector<QString>& lettersAndMarks()
{
    static const std::vector<QString> pieces = [] {
        std::vector<QString> list;
        for (const char32_t* piece : { U"word", U"Hi", U"x", U"42", U"3.5", U"can't", U"e\u0301",
                 U"a\u0308\u0323", U"\u00C5ngstr\u00F6m", U"\u6F22\u5B57", U"\u65E5\u672C\u8A9E",
                 U"\U00020BB7", U"\uD55C\uAD6D\uC5B4", U"\u1100\u1161\u11A8",
                 U"\u0928\u092E\u0938\u094D\u0924\u0947", U"\u0E20\u0E32\u0E29\u0E32\u0E44\u0E17\u0E22",
                 U"\u05E9\u05DC\u05D5\u05DD", U"\u05E2\u05D5\u05DC\u05DD", U"\u0645\u0631\u062D\u0628\u0627",
                 U"\u0661\u0662\u0663", U"\u0600\u0661", U"\u06DD", U"\U0001F44D\U0001F3FD",
                 U"\U0001F468\u200D\U0001F469\u200D\U0001F467", U"\U0001F1EB\U0001F1F7",
                 U"\U0001F1E9\U0001F1EA", U"\U0001D400", U"\U0001F600", U"\u2764\uFE0F" })
            list.push_back(QString::fromUcs4(piece));
        return list;
    }();
    return pieces;
}

const std::vector<QString>& separators()
{
    static const std::vector<QString> pieces = [] {
        std::vector<QString> list;
        for (const char32_t* piece : { U" ", U" ", U" ", U"  ", U"\t", U"\u00A0", U"\u2003", U"\u3000",
                 U"\u202F", U", ", U". ", U"_", U"! ", U"? ", U"-", U"(", U")", U"\"", U"\u3002" })
            list.push_back(QString::fromUcs4(piece));
        return list;
    }();
    return pieces;
}

const std::vector<QString>& lineEnds()
{
    static const std::vector<QString> pieces { QStringLiteral("\n"), QStringLiteral("\r"),
        QStringLiteral("\r\n"), QString(QChar(0x2029)), QString(QChar(0x2028)) };
    return pieces;
}

// A text as a list of pieces, so that a failing one can be shrunk piece by piece.
std::vector<QString> generatePieces(std::mt19937& random, bool withLineEnds)
{
    const int count = std::uniform_int_distribution<int>(0, 14)(random);
    std::vector<QString> result;
    for (int i = 0; i < count; ++i) {
        const int kind = std::uniform_int_distribution<int>(0, 9)(random);
        const auto& from = kind < 5       ? lettersAndMarks()
            : (kind < 9 || !withLineEnds) ? separators()
                                          : lineEnds();
        result.push_back(from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(random)]);
    }
    return result;
}

QString joined(const std::vector<QString>& pieces)
{
    QString text;
    for (const QString& piece : pieces)
        text += piece;
    return text;
}

std::string escaped(const QString& text)
{
    std::string out = "\"";
    for (const char32_t c : text.toUcs4()) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            out += char(c);
        else
            out += QStringLiteral("\\u{%1}").arg(uint(c), 0, 16).toStdString();
    }
    return out + "\"";
}

// Drops pieces while `fails` still answers a difference; returns the shortest text found and its
// difference.
std::pair<QString, std::string> shrink(
    std::vector<QString> pieces, const std::function<std::optional<std::string>(const QString&)>& fails)
{
    std::string difference = fails(joined(pieces)).value_or("");
    for (bool dropped = true; dropped;) {
        dropped = false;
        for (size_t i = 0; i < pieces.size(); ++i) {
            std::vector<QString> shorter = pieces;
            shorter.erase(shorter.begin() + qsizetype(i));
            if (const auto found = fails(joined(shorter))) {
                pieces = std::move(shorter);
                difference = *found;
                dropped = true;
                break;
            }
        }
    }
    return { joined(pieces), difference };
}

// Runs `check` on generated texts; reports the first failing seed, shrunk.
int runSeeds(
    unsigned fixed, bool withLineEnds, const std::function<std::optional<std::string>(const QString&)>& check)
{
    int cases = 0;
    for (const unsigned seed : seeds(fixed)) {
        std::mt19937 random(seed);
        const std::vector<QString> pieces = generatePieces(random, withLineEnds);
        ++cases;
        if (check(joined(pieces))) {
            const auto [text, difference] = shrink(pieces, check);
            ADD_FAILURE() << "seed " << seed << ", shrunk input " << escaped(text) << ": " << difference;
            return cases;
        }
    }
    return cases;
}

struct Stack {
    TextContentStorage storage;
    TextLayoutManager manager;

    explicit Stack(const QString& text)
    {
        QFont font("DejaVu Sans");
        font.setPixelSize(14);
        manager.setDefaultFont(font);
        TextContainer container;
        container.size = QSizeF(TextContainer::unboundedExtent, TextContainer::unboundedExtent);
        manager.setTextContainer(container);
        manager.setTextContentStorage(&storage);
        storage.setString(text);
    }
    TextSelectionNavigation& navigation() { return manager.textSelectionNavigation(); }
    TextSelection moved(
        const TextSelection& from, Direction direction, Destination destination, bool extending)
    {
        return navigation()
            .destinationSelection(from, direction, destination, extending, false)
            .value_or(from);
    }
    TextLocation moved(TextLocation from, Direction direction, Destination destination)
    {
        return moved(TextSelection(from), direction, destination, false).textRanges.front().location;
    }
};

// Paragraphs as a plain split on the line ends the storage knows ("\r\n", "\r", "\n", U+2029).
struct PlainParagraph {
    qsizetype start = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
};

std::vector<PlainParagraph> plainParagraphs(const QString& text)
{
    std::vector<PlainParagraph> result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\n' && c != u'\r' && c != QChar(0x2029))
            continue;
        const qsizetype end = (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? i + 2 : i + 1;
        result.push_back({ start, i, end });
        start = end;
        i = end - 1;
    }
    result.push_back({ start, text.size(), text.size() });
    return result;
}

std::vector<qsizetype> icuBoundaries(UBreakIteratorType type, const QString& text)
{
    std::vector<qsizetype> result;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator* iterator
        = ubrk_open(type, "en", reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return result;
    for (int32_t at = ubrk_first(iterator); at != UBRK_DONE; at = ubrk_next(iterator))
        result.push_back(at);
    ubrk_close(iterator);
    return result;
}

struct QtBoundary {
    qsizetype at;
    QTextBoundaryFinder::BoundaryReasons reasons;
};

std::vector<QtBoundary> qtBoundaries(QTextBoundaryFinder::BoundaryType type, const QString& text)
{
    std::vector<QtBoundary> result;
    QTextBoundaryFinder finder(type, text);
    finder.toStart();
    result.push_back({ 0, finder.boundaryReasons() });
    for (qsizetype at = finder.toNextBoundary(); at >= 0; at = finder.toNextBoundary())
        result.push_back({ at, finder.boundaryReasons() });
    return result;
}

// A letter, number or joiner of words ("_") before `at` (marks and format characters skipped) or
// at it.
bool isLetterOrNumberAround(const QString& text, qsizetype at, bool before, bool joiners = false)
{
    QList<uint> points = (before ? QStringView(text).left(at) : QStringView(text).mid(at)).toUcs4();
    if (before) {
        while (!points.isEmpty()
            && (QChar::isMark(points.back()) || QChar::category(points.back()) == QChar::Other_Format))
            points.removeLast();
    }
    if (points.isEmpty())
        return false;
    const uint c = before ? points.back() : points.front();
    return QChar::isLetterOrNumber(c)
        || (joiners && u_getIntPropertyValue(UChar32(c), UCHAR_WORD_BREAK) == U_WB_EXTENDNUMLET);
}

// Stretches of Thai and of other text, as (start, end) pairs.
std::vector<std::pair<qsizetype, qsizetype>> thaiStretches(const QString& text)
{
    std::vector<std::pair<qsizetype, qsizetype>> result;
    for (qsizetype start = 0; start < text.size();) {
        const bool thai = text[start].script() == QChar::Script_Thai;
        qsizetype end = start + 1;
        while (end < text.size() && (text[end].script() == QChar::Script_Thai) == thai)
            ++end;
        result.emplace_back(start, end);
        start = end;
    }
    return result;
}

std::string listed(const std::vector<qsizetype>& values)
{
    std::string out;
    for (const qsizetype value : values)
        out += (out.empty() ? "" : " ") + std::to_string(value);
    return out;
}

std::string moveDifference(const char* what, qsizetype from, qsizetype got, qsizetype expected)
{
    return std::string(what) + " from " + std::to_string(from) + " gave " + std::to_string(got)
        + ", expected " + std::to_string(expected);
}

// Character, word, sentence and paragraph moves against boundaries found over whole paragraphs.
std::optional<std::string> boundaryDifference(const QString& text)
{
    Stack stack(text);
    TextSelectionNavigation& navigation = stack.navigation();
    const auto paragraphs = plainParagraphs(text);
    if (qint64(paragraphs.size()) != stack.storage.layoutParagraphCount())
        return "paragraph count " + std::to_string(stack.storage.layoutParagraphCount());

    // References for the whole text, position by position.
    const qsizetype length = text.size();
    std::vector<qsizetype> nextCharacter(size_t(length + 1)), previousCharacter(size_t(length + 1));
    std::vector<qsizetype> nextWordEnd(size_t(length + 1), length), previousWordStart(size_t(length + 1), 0);
    std::vector<qsizetype> nextSentenceEnd(size_t(length + 1)), previousSentenceStart(size_t(length + 1));
    std::vector<bool> caretPosition(size_t(length + 1), false);

    // Word and sentence stops that fall inside a cluster move out to its edge: to its end going
    // forward, to its start going back.
    const auto snapped = [&](qsizetype at, bool forward) {
        while (!caretPosition[size_t(at)])
            at += forward ? 1 : -1;
        return at;
    };
    // Word ends and starts, document-wide, in order.
    std::vector<qsizetype> wordEnds, wordStarts;
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        const PlainParagraph& paragraph = paragraphs[p];
        const QString content = text.mid(paragraph.start, paragraph.contentEnd - paragraph.start);
        // ICU's grapheme clusters: Qt's finder breaks emoji, flags and surrogate pairs after Thai
        // or Indic text, so it is no reference for them.
        std::vector<qsizetype> clusters = icuBoundaries(UBRK_CHARACTER, content);
        if (clusters.empty())
            clusters.push_back(0);
        for (const qsizetype boundary : clusters)
            caretPosition[size_t(paragraph.start + boundary)] = true;
        for (qsizetype i = 0; i < content.size(); ++i) {
            const auto after = std::upper_bound(clusters.begin(), clusters.end(), i);
            nextCharacter[size_t(paragraph.start + i)] = paragraph.start + *after;
        }
        nextCharacter[size_t(paragraph.contentEnd)] = paragraph.end;
        for (qsizetype i = 1; i <= content.size(); ++i) {
            const auto before = std::lower_bound(clusters.begin(), clusters.end(), i) - 1;
            previousCharacter[size_t(paragraph.start + i)] = paragraph.start + *before;
        }
        previousCharacter[size_t(paragraph.start)] = p > 0 ? paragraphs[p - 1].contentEnd : 0;

        // A word ends where Qt ends a word, or after any letter or number (ideographs, which Qt
        // does not gather into words, so each is one); it starts likewise.
        // Qt's word boundaries in each stretch of Thai or other text: Qt's dictionary breaking of
        // Thai takes the text after a Thai word along with it.
        std::map<qsizetype, QTextBoundaryFinder::BoundaryReasons> wordBoundaries;
        for (const auto& [start, end] : thaiStretches(content)) {
            for (const QtBoundary& boundary :
                qtBoundaries(QTextBoundaryFinder::Word, content.mid(start, end - start)))
                wordBoundaries[start + boundary.at] |= boundary.reasons;
        }
        for (const auto& [position, reasons] : wordBoundaries) {
            const QtBoundary boundary { position, reasons };
            if (boundary.at > 0
                && ((boundary.reasons & QTextBoundaryFinder::EndOfItem)
                    || isLetterOrNumberAround(content, boundary.at, true, true)))
                wordEnds.push_back(paragraph.start + boundary.at);
            // A word may begin or end with "_" or another joiner of words, as "__name__" does.
            if (boundary.at < content.size()
                && ((boundary.reasons & QTextBoundaryFinder::StartOfItem)
                    || isLetterOrNumberAround(content, boundary.at, false, true)))
                wordStarts.push_back(paragraph.start + boundary.at);
        }

        // A sentence ends before the spaces after it.
        std::vector<qsizetype> sentenceEnds, sentenceStarts;
        for (const QtBoundary& boundary : qtBoundaries(QTextBoundaryFinder::Sentence, content)) {
            qsizetype end = boundary.at;
            while (end > 0 && content[end - 1].isSpace())
                --end;
            sentenceEnds.push_back(paragraph.start + end);
            sentenceStarts.push_back(paragraph.start + boundary.at);
        }
        for (qsizetype i = paragraph.start; i < paragraph.contentEnd; ++i) {
            const auto after = std::upper_bound(sentenceEnds.begin(), sentenceEnds.end(), i);
            nextSentenceEnd[size_t(i)]
                = after == sentenceEnds.end() ? paragraph.contentEnd : snapped(*after, true);
        }
        for (qsizetype i = paragraph.start + 1; i <= paragraph.contentEnd; ++i) {
            const auto before = std::lower_bound(sentenceStarts.begin(), sentenceStarts.end(), i) - 1;
            previousSentenceStart[size_t(i)] = snapped(*before, false);
        }
    }
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        // From a paragraph's end, to the end of the next one's first sentence; from its start, to
        // the start of the previous one's last sentence.
        const PlainParagraph& paragraph = paragraphs[p];
        if (p + 1 < paragraphs.size()) {
            const PlainParagraph& next = paragraphs[p + 1];
            nextSentenceEnd[size_t(paragraph.contentEnd)] = next.contentEnd > next.start
                ? std::max(next.start, nextSentenceEnd[size_t(next.start)])
                : next.contentEnd;
        } else {
            nextSentenceEnd[size_t(paragraph.contentEnd)] = paragraph.contentEnd;
        }
        if (p > 0) {
            const PlainParagraph& previous = paragraphs[p - 1];
            previousSentenceStart[size_t(paragraph.start)] = previous.contentEnd > previous.start
                ? previousSentenceStart[size_t(previous.contentEnd)]
                : previous.start;
        } else {
            previousSentenceStart[0] = 0;
        }
    }
    for (qsizetype i = 0; i <= length; ++i) {
        const auto end = std::upper_bound(wordEnds.begin(), wordEnds.end(), i);
        nextWordEnd[size_t(i)] = end == wordEnds.end() ? length : snapped(*end, true);
        const auto start = std::lower_bound(wordStarts.begin(), wordStarts.end(), i);
        previousWordStart[size_t(i)] = start == wordStarts.begin() ? 0 : snapped(*(start - 1), false);
    }

    for (qsizetype i = 0; i <= length; ++i) {
        if (!caretPosition[size_t(i)])
            continue;
        if (i < length && navigation.nextCharacter(i) != nextCharacter[size_t(i)])
            return moveDifference("next character", i, navigation.nextCharacter(i), nextCharacter[size_t(i)]);
        if (i > 0 && navigation.previousCharacter(i) != previousCharacter[size_t(i)])
            return moveDifference(
                "previous character", i, navigation.previousCharacter(i), previousCharacter[size_t(i)]);
        for (const TextLocation to : { navigation.nextWordEnd(i), navigation.previousWordStart(i),
                 navigation.nextSentenceEnd(i), navigation.previousSentenceStart(i) }) {
            if (!caretPosition[size_t(to)])
                return moveDifference("a word or sentence move, inside a cluster,", i, to, -1);
        }
        if (navigation.nextWordEnd(i) != nextWordEnd[size_t(i)])
            return moveDifference("next word end", i, navigation.nextWordEnd(i), nextWordEnd[size_t(i)]);
        if (navigation.previousWordStart(i) != previousWordStart[size_t(i)])
            return moveDifference(
                "previous word start", i, navigation.previousWordStart(i), previousWordStart[size_t(i)]);
        if (navigation.nextSentenceEnd(i) != nextSentenceEnd[size_t(i)])
            return moveDifference(
                "next sentence end", i, navigation.nextSentenceEnd(i), nextSentenceEnd[size_t(i)]);
        if (navigation.previousSentenceStart(i) != previousSentenceStart[size_t(i)])
            return moveDifference("previous sentence start", i, navigation.previousSentenceStart(i),
                previousSentenceStart[size_t(i)]);
        // Paragraph moves and the paragraph a click selects.
        size_t index = 0;
        while (index + 1 < paragraphs.size() && i >= paragraphs[index].end)
            ++index;
        const PlainParagraph& p = paragraphs[index];
        if (navigation.paragraphRange(i) != TextRange(p.start, p.end))
            return moveDifference("paragraph start", i, navigation.paragraphRange(i).location, p.start);
        const TextLocation down = stack.moved(i, Direction::forward, Destination::paragraph);
        const qsizetype expectedDown = i < p.contentEnd ? p.contentEnd
            : index + 1 < paragraphs.size()             ? paragraphs[index + 1].contentEnd
                                                        : p.contentEnd;
        if (down != expectedDown)
            return moveDifference("paragraph end", i, down, expectedDown);
        // A double click selects a word whose ends word moves do not pass. (They may stop inside
        // it, after each ideograph, or where a letter follows what Qt keeps in one word; and where
        // Qt ends a word inside a cluster, the two take different sides of it.)
        const TextRange word = navigation.wordRange(i);
        const QString content = text.mid(p.start, p.contentEnd - p.start);
        const auto isWordBoundary = [&](qsizetype position) {
            for (const auto& [start, end] : thaiStretches(content)) {
                if (position - p.start >= start && position - p.start <= end) {
                    QTextBoundaryFinder words(QTextBoundaryFinder::Word, content.mid(start, end - start));
                    words.setPosition(int(position - p.start - start));
                    if (words.isAtBoundary())
                        return true;
                }
            }
            return false;
        };
        if (i < p.contentEnd && isLetterOrNumberAround(text, i, false) && word.length() > 0
            && isWordBoundary(word.location) && isWordBoundary(word.endLocation)) {
            if (navigation.nextWordEnd(word.location) > word.endLocation)
                return moveDifference("word a click selects ends at", i, word.endLocation,
                    navigation.nextWordEnd(word.location));
            if (navigation.previousWordStart(word.endLocation) < word.location)
                return moveDifference("word a click selects starts at", i, word.location,
                    navigation.previousWordStart(word.endLocation));
        }
    }
    return std::nullopt;
}

} // namespace

TEST(TextDifferential, BoundariesAgreeWithFindersOverWholeParagraphs)
{
    const int cases = runSeeds(300, true, boundaryDifference);
    EXPECT_GT(cases, 0);
}
