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
#include <unicode/ucnv.h>

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

std::vector<qsizetype> icuLevels(const QString& text, bool rightToLeft)
{
    std::vector<qsizetype> levels(size_t(text.size()), 0);
    UErrorCode status = U_ZERO_ERROR;
    UBiDi* bidi = ubidi_open();
    ubidi_setPara(bidi, reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()),
        rightToLeft ? UBIDI_RTL : UBIDI_LTR, nullptr, &status);
    if (U_SUCCESS(status)) {
        const UBiDiLevel* found = ubidi_getLevels(bidi, &status);
        for (qsizetype i = 0; U_SUCCESS(status) && i < text.size(); ++i)
            levels[size_t(i)] = found[i];
    }
    ubidi_close(bidi);
    return levels;
}

// Left and right along one line against QTextLayout's own visual moves and ICU's bidi levels; and
// what one move does, the opposite move undoes.
std::optional<std::string> visualDifference(const QString& text)
{
    // Tolerance: QTextLayout places a prepended mark (an Arabic number sign) apart from the cluster
    // ICU puts it in, and its own moves there visit places that are no carets; such text is left
    // out.
    for (const uint c : text.toUcs4()) {
        if (u_getIntPropertyValue(UChar32(c), UCHAR_GRAPHEME_CLUSTER_BREAK) == U_GCB_PREPEND)
            return std::nullopt;
    }
    Stack stack(text);
    const bool rightToLeft = stack.manager.baseWritingDirection(0) == Qt::RightToLeft;
    QTextLayout layout(text, stack.manager.defaultFont());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    option.setUseDesignMetrics(true);
    layout.setTextOption(option);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();

    std::vector<qsizetype> carets = icuBoundaries(UBRK_CHARACTER, text);
    if (carets.empty())
        carets.push_back(0);
    const std::set<qsizetype> caretSet(carets.begin(), carets.end());
    const std::vector<qsizetype> levels = icuLevels(text, rightToLeft);
    // Tolerance: next to right-to-left text QTextLayout's own moves may stop inside a surrogate pair,
    // a flag or an emoji sequence, and its caret x there is out of visual order. Such lines are
    // checked for moves that land on carets and cross the line without going round in circles.
    bool qtSplitsClusters = false;
    for (const qsizetype caret : carets) {
        qtSplitsClusters = qtSplitsClusters || !caretSet.count(layout.rightCursorPosition(int(caret)))
            || !caretSet.count(layout.leftCursorPosition(int(caret)));
    }
    // The level of the cluster that starts or ends at a caret.
    const auto levelAfter = [&](size_t index) { return levels[size_t(carets[index])]; };

    for (size_t k = 0; k < carets.size(); ++k) {
        const qsizetype from = carets[k];
        for (const bool right : { true, false }) {
            const TextLocation ours
                = stack.moved(from, right ? Direction::right : Direction::left, Destination::character);
            if (!caretSet.count(ours))
                return moveDifference(
                    right ? "right, inside a cluster," : "left, inside a cluster,", from, ours, -1);
            // Qt's own move, where it lands on a caret (after Thai or Indic text Qt may stop inside an
            // emoji; ours then steps over the whole of it).
            const int qt
                = right ? layout.rightCursorPosition(int(from)) : layout.leftCursorPosition(int(from));
            if (qtSplitsClusters)
                continue;
            if (caretSet.count(qt) && ours != qt)
                return moveDifference(
                    right ? "right, unlike QTextLayout," : "left, unlike QTextLayout,", from, ours, qt);
            // Inside a run of one level, a move crosses the cluster on that side: forward where the
            // level is even (left to right), back where it is odd.
            if (k > 0 && k + 2 < carets.size() && levels[size_t(carets[k - 1])] == levelAfter(k)
                && levelAfter(k) == levelAfter(k + 1)
                && (k < 2 || levels[size_t(carets[k - 2])] == levelAfter(k))) {
                const bool forward = right == (levelAfter(k) % 2 == 0);
                const qsizetype expected = forward ? carets[k + 1] : carets[k - 1];
                if (ours != expected)
                    return moveDifference(
                        right ? "right, against the bidi level," : "left, against the bidi level,", from,
                        ours, expected);
            }
            // The opposite move comes back, unless this one stayed at the line's edge.
            const TextLocation back
                = stack.moved(ours, right ? Direction::left : Direction::right, Destination::character);
            if (ours != from && back != from)
                return moveDifference(right ? "right then left" : "left then right", from, back, from);
        }
    }
    // Across the line from its left edge and back again, every caret is reached exactly once.
    TextLocation at = carets.front();
    for (TextLocation next; (next = stack.moved(at, Direction::left, Destination::character)) != at;)
        at = next;
    for (const bool right : { true, false }) {
        std::set<TextLocation> visited { at };
        for (TextLocation next;
             (next = stack.moved(at, right ? Direction::right : Direction::left, Destination::character))
             != at;
             at = next) {
            if (!visited.insert(next).second)
                return moveDifference(
                    right ? "right, across the line, twice" : "left, across the line, twice", at, next, -1);
        }
        if (!qtSplitsClusters && visited.size() != caretSet.size())
            return "crossing the line reaches " + std::to_string(visited.size()) + " of "
                + std::to_string(caretSet.size()) + " carets";
    }
    // Extending a selection and shrinking it back leaves the caret where it was.
    for (size_t k = 0; k < carets.size() && !qtSplitsClusters; k += 3) {
        for (const auto& [there, back] : { std::pair { Direction::forward, Direction::backward },
                 std::pair { Direction::right, Direction::left },
                 std::pair { Direction::left, Direction::right } }) {
            TextSelection selection(TextLocation(carets[k]));
            const int steps = 1 + int(k % 4);
            bool moved = true;
            for (int i = 0; i < steps && moved; ++i) {
                const TextSelection next = stack.moved(selection, there, Destination::character, true);
                moved = next.textRanges.front() != selection.textRanges.front();
                selection = next;
            }
            if (!moved)
                continue; // stopped at an edge: shrinking would not retrace the steps
            for (int i = 0; i < steps; ++i)
                selection = stack.moved(selection, back, Destination::character, true);
            if (selection.textRanges.front() != TextRange(carets[k]))
                return moveDifference("extending and shrinking back", carets[k],
                    selection.textRanges.front().location, carets[k]);
        }
    }
    return std::nullopt;
}

// An attributed string of generated pieces with random fonts, sizes, styles, underlines, colours
// and paragraph alignments; braces, backslashes and characters outside any code page included.
AttributedString attributedText(std::mt19937& random)
{
    const auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
    std::vector<QString> pieces = generatePieces(random, true);
    for (const char* extra : { "{", "}", "\\", "\\par", "\t" }) {
        if (pick(3) == 0)
            pieces.insert(pieces.begin() + pick(int(pieces.size()) + 1), QString::fromLatin1(extra));
    }
    pieces.push_back(QString(QChar(char16_t(pick(0x2000) + 1))));
    AttributedString text;
    const char* families[] = { "DejaVu Sans", "DejaVu Serif", "Nimbus Mono PS", "C059" };
    for (const QString& piece : pieces) {
        QFont font(QString::fromLatin1(families[pick(4)]));
        font.setPointSizeF(1 + pick(60) / 2.0);
        font.setBold(pick(2));
        font.setItalic(pick(2));
        TextAttributes attributes { { AttributeKey::font, font } };
        if (const int underline = std::array { 0, 0, 1, 2, 9 }[size_t(pick(5))]) {
            attributes.insert(AttributeKey::underlineStyle, underline);
            if (pick(2))
                attributes.insert(AttributeKey::underlineColor, QColor(pick(256), pick(256), pick(256)));
        }
        if (pick(2))
            attributes.insert(AttributeKey::foregroundColor, QColor(pick(256), pick(256), pick(256)));
        if (pick(3) == 0)
            attributes.insert(AttributeKey::backgroundColor, QColor(pick(256), pick(256), pick(256)));
        if (const int alignment = pick(5)) {
            ParagraphStyle style;
            style.alignment = TextAlignment(alignment);
            attributes.insert(AttributeKey::paragraphStyle, QVariant::fromValue(style));
        }
        text.append(AttributedString(piece, attributes));
    }
    return text;
}

// What the reader must give back for each character: the text with every line end as "\n", the
// character attributes the writer writes, and the alignment of the paragraph's first character.
std::optional<std::string> rtfDifference(const AttributedString& text)
{
    const auto read = RtfReader::read(RtfWriter::write(text));
    if (!read.isSuccess())
        return "the writer's RTF does not read";
    const AttributedString back = read.value();
    const QString& string = text.string();
    QString expected;
    std::vector<qsizetype> source; // the index in `text` each expected character comes from
    std::vector<TextAlignment> alignments;
    TextAlignment alignment = TextAlignment::natural;
    for (qsizetype i = 0; i < string.size(); ++i) {
        if (i == 0 || string[i - 1] == u'\n' || (string[i - 1] == u'\r' && string[i] != u'\n'))
            alignment = text.attribute(AttributeKey::paragraphStyle, i).value<ParagraphStyle>().alignment;
        if (string[i] == u'\r' && i + 1 < string.size() && string[i + 1] == u'\n')
            continue;
        expected += string[i] == u'\r' ? QChar(u'\n') : string[i];
        source.push_back(i);
        alignments.push_back(alignment);
    }
    if (back.string() != expected)
        return "text comes back as " + escaped(back.string()) + " for " + escaped(expected);
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const TextAttributes want = text.attributes(source[size_t(i)]);
        const TextAttributes got = back.attributes(i);
        const QFont wantFont = want.value(AttributeKey::font).value<QFont>();
        const QFont gotFont = got.value(AttributeKey::font).value<QFont>();
        const auto color = [](const TextAttributes& attributes, const QString& key) {
            return attributes.value(key).value<QColor>().rgb();
        };
        const int underline = want.value(AttributeKey::underlineStyle).toInt();
        const std::string where = " at " + std::to_string(i);
        if (gotFont.family() != wantFont.family() || gotFont.pointSizeF() != wantFont.pointSizeF()
            || gotFont.bold() != wantFont.bold() || gotFont.italic() != wantFont.italic())
            return "font " + gotFont.toString().toStdString() + " for " + wantFont.toString().toStdString()
                + where;
        if (got.value(AttributeKey::underlineStyle).toInt() != underline)
            return "underline style" + where;
        if (underline != 0
            && color(got, AttributeKey::underlineColor) != color(want, AttributeKey::underlineColor))
            return "underline colour" + where;
        for (const QString& key : { AttributeKey::foregroundColor, AttributeKey::backgroundColor }) {
            if (got.contains(key) != want.contains(key) || color(got, key) != color(want, key))
                return key.toStdString() + where;
        }
        if (got.value(AttributeKey::paragraphStyle).value<ParagraphStyle>().alignment
            != alignments[size_t(i)])
            return "alignment "
                + std::to_string(
                    int(got.value(AttributeKey::paragraphStyle).value<ParagraphStyle>().alignment))
                + " for " + std::to_string(int(alignments[size_t(i)])) + where;
    }
    return std::nullopt;
}

// RTF written by hand with the escapes other writers use, and the text a plain decoder gives for it:
// \uN with \ucN and its stand-ins, \'hh in Windows-1252, groups, ignorable destinations, escaped
// braces and backslashes.
std::pair<QByteArray, QString> handWrittenRtf(std::mt19937& random)
{
    const auto pick = [&](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Sans;}}";
    QString text;
    int skip = 1;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* windows1252 = ucnv_open("windows-1252", &status);
    const int count = pick(30);
    for (int i = 0; i < count; ++i) {
        switch (pick(9)) {
        case 0: {
            const char* words[] = { "plain", "two words", "x", "a.b", "tail " };
            const char* word = words[pick(5)];
            rtf += word;
            text += QString::fromLatin1(word);
            break;
        }
        case 1: {
            // A code point as \uN (two for one outside the BMP), each followed by `skip` stand-ins.
            const char32_t points[] = { 0xE9, 0x4F60, 0x1F600, 0x5D0, 0xFFFD, 0x2028, 0x10FFFF, 0x20AC };
            const QString unit = QString::fromUcs4(&points[pick(8)], 1);
            for (const QChar c : unit) {
                rtf += "\\u" + QByteArray::number(int(std::int16_t(c.unicode())));
                rtf += pick(2) ? " " : "";
                for (int k = 0; k < skip; ++k)
                    rtf += pick(2) ? QByteArray("?") : QByteArray("\\'3f");
            }
            text += unit;
            break;
        }
        case 2: {
            const int byte = 0x80 + pick(0x80);
            char in = char(byte);
            UChar out[2] = {};
            status = U_ZERO_ERROR;
            const int32_t length = ucnv_toUChars(windows1252, out, 2, &in, 1, &status);
            // Bytes Windows-1252 leaves undefined are skipped by both sides.
            if (U_FAILURE(status) || length != 1 || out[0] == 0xFFFD || out[0] == 0x1A)
                break;
            rtf += "\\'" + QByteArray::number(byte, 16);
            text += QChar(char16_t(out[0]));
            break;
        }
        case 3:
            skip = pick(3);
            rtf += "\\uc" + QByteArray::number(skip) + " ";
            break;
        case 4:
            rtf += "{\\*\\unknowndest text {nested} \\u1234?}";
            break;
        case 5: {
            const char* escapes[] = { "\\{", "\\}", "\\\\", "\\tab ", "\\par ", "\\line " };
            const QString meaning[] = { "{", "}", "\\", "\t", "\n", "\n" };
            const int e = pick(6);
            rtf += escapes[e];
            text += meaning[e];
            break;
        }
        case 6:
            rtf += "{\\b\\i\\fs30 bold}";
            text += "bold";
            break;
        case 7:
            rtf += "{\\*\\fldinst HYPERLINK \"x\"}";
            break;
        default:
            rtf += "\r\n";
            break;
        }
    }
    ucnv_close(windows1252);
    rtf += "}";
    return { rtf, text };
}

} // namespace

TEST(TextDifferential, RtfRoundTripsTextAndTheAttributesItWrites)
{
    for (const unsigned seed : seeds(200)) {
        std::mt19937 random(seed);
        const AttributedString text = attributedText(random);
        if (const auto difference = rtfDifference(text)) {
            // Shrunk by dropping runs while the difference stays.
            AttributedString shrunk = text;
            for (bool dropped = true; dropped;) {
                dropped = false;
                qsizetype start = 0;
                for (const AttributeRun& run : shrunk.runs()) {
                    AttributedString shorter = shrunk;
                    shorter.remove(start, run.length);
                    if (rtfDifference(shorter)) {
                        shrunk = shorter;
                        dropped = true;
                        break;
                    }
                    start += run.length;
                }
            }
            ADD_FAILURE() << "seed " << seed << ", shrunk text " << escaped(shrunk.string()) << " in "
                          << shrunk.runs().size() << " runs: " << rtfDifference(shrunk).value_or(*difference);
            return;
        }
        const auto [rtf, expected] = handWrittenRtf(random);
        const auto read = RtfReader::read(rtf);
        ASSERT_TRUE(read.isSuccess()) << rtf.toStdString();
        ASSERT_EQ(escaped(read.value().string()), escaped(expected))
            << "seed " << seed << ": " << rtf.toStdString();
    }
}

TEST(TextDifferential, VisualMovesAgreeWithQTextLayoutAndBidiLevels)
{
    const int cases = runSeeds(150, false, visualDifference);
    EXPECT_GT(cases, 0);
}

TEST(TextDifferential, BoundariesAgreeWithFindersOverWholeParagraphs)
{
    const int cases = runSeeds(300, true, boundaryDifference);
    EXPECT_GT(cases, 0);
}
