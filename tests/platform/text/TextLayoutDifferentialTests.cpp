#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"

#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>

using namespace platform;

// Our layout of one paragraph against one QTextLayout of the same text, font, tab stops and width:
// where rows break, how wide they are, where each caret stands and which caret a point finds.
namespace {

constexpr double padding = 5.0;
// QTextLayout measures in 26.6 fixed point; we sum in double.
constexpr double tolerance = 0.05;

struct Case {
    QString text;
    QFont font;
    double width = TextContainer::unboundedExtent; // of the container
    qsizetype pieceLimit = textLayoutPieceLimit;
    qsizetype pieceTarget = textLayoutPieceTarget;
    qsizetype estimateBeyond = 1 << 20;
};

std::string describe(const Case& c)
{
    std::ostringstream out;
    out << "font " << c.font.family().toStdString() << " " << c.font.pixelSize() << "px, width " << c.width
        << ", pieces " << c.pieceLimit << "/" << c.pieceTarget << ", text (" << c.text.size() << ") \"";
    for (const QChar ch : c.text) {
        if (ch.unicode() >= 0x20 && ch.unicode() < 0x7F)
            out << char(ch.unicode());
        else
            out << "\\u" << std::hex << unsigned(ch.unicode()) << std::dec;
    }
    out << "\"";
    return out.str();
}

QString randomParagraph(std::mt19937& random, qsizetype target, bool tabs, int longestWord)
{
    static const QString tokens[] = { "word", "a", "layout", "the", "Mmmm", "ii", "\u03b1\u03b2\u03b3",
        "\u0436\u0443\u043a", "\u05e9\u05dc\u05d5\u05dd", "\u0645\u0631\u062d\u0628\u0627", "e\u0301",
        QString::fromUcs4(U"\U0001F600"), QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200D\U0001F467"),
        "\u4e2d\u6587", "12.5", "(x)", "-", "," };
    QString text;
    while (text.size() < target) {
        const unsigned pick = random() % 20;
        if (pick < 14) {
            const QString& token = tokens[random() % std::size(tokens)];
            // Pieces are cut after spaces, which before punctuation is no place to break a row.
            if (tabs || token.front().isLetterOrNumber())
                text += token;
        } else if (pick < 16) {
            // A word longer than most rows: it must break inside.
            const int length = 1 + int(random() % longestWord);
            for (int i = 0; i < length; ++i)
                text += QChar(char16_t(u'a' + random() % 26));
        } else if (pick == 16 && tabs) {
            text += u'\t';
            continue;
        }
        text += random() % 5 == 0 ? QStringLiteral("  ") : QStringLiteral(" ");
    }
    return text;
}

Case randomCase(std::mt19937& random, bool inPieces)
{
    static const char* families[] = { "DejaVu Sans", "DejaVu Sans Mono", "DejaVu Serif" };
    Case c;
    c.font = QFont(families[random() % std::size(families)]);
    c.font.setPixelSize(8 + int(random() % 20));
    const unsigned size = random() % 10;
    const unsigned width = random() % 6;
    c.width = width == 0 ? 1 + random() % 12
        : width == 1     ? TextContainer::unboundedExtent
                         : 2 * padding + 10 + random() % (width == 2 ? 60 : 500);
    if (inPieces) {
        c.pieceLimit = 24 + qsizetype(random() % 200);
        c.pieceTarget = c.pieceLimit / 2;
    }
    // A tab stops at multiples of the interval from the start of its piece, so pieces get none;
    // nor punctuation after a space, see randomParagraph.
    // A word too long for a piece is cut where no space is, and the row holding the cut ends
    // there instead of filling up: pieces get words that fit in them.
    c.text = randomParagraph(random,
        size < 3       ? 1 + random() % 12
            : size < 9 ? 10 + random() % 300
                       : 600,
        !inPieces, inPieces ? int(c.pieceTarget / 4) : 100);
    return c;
}

struct Row {
    qint64 start = 0;
    qint64 end = 0;
    // The carets of the row, from its leftmost one.
    std::vector<std::pair<qint64, double>> carets;
    double y = 0; // the middle of the row, ours only
    bool operator==(const Row&) const = default;
};

std::vector<qint64> caretIndexes(const QString& text)
{
    std::vector<qint64> result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at >= 0 && at <= text.size(); at = finder.toNextBoundary())
        result.push_back(at);
    return result;
}

void relativise(std::vector<Row>& rows)
{
    for (Row& row : rows) {
        double left = 1e300;
        for (const auto& caret : row.carets)
            left = std::min(left, caret.second);
        for (auto& caret : row.carets)
            caret.second -= left;
    }
}

std::vector<Row> referenceRows(const Case& c, QTextLayout& layout)
{
    const bool wrapping = c.width < TextContainer::unboundedExtent;
    QTextOption option;
    option.setWrapMode(wrapping ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setTabStopDistance(28.0);
    option.setTextDirection(c.text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    option.setUseDesignMetrics(true);
    layout.setText(c.text);
    layout.setFont(c.font);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(wrapping ? std::max(1.0, c.width - 2 * padding) : 1.0e6);
    layout.endLayout();
    std::vector<Row> rows;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        rows.push_back({ line.textStart(), line.textStart() + line.textLength(), {}, 0 });
    }
    if (rows.empty())
        rows.push_back({});
    rows.back().end = c.text.size();
    for (const qint64 index : caretIndexes(c.text)) {
        size_t row = 0;
        while (row + 1 < rows.size() && rows[row + 1].start <= index)
            ++row;
        rows[row].carets.push_back({ index, layout.lineAt(int(row)).cursorToX(int(index)) });
        // The end of a row that wraps is a caret of it too, shown there with upstream affinity.
        if (row > 0 && rows[row].start == index)
            rows[row - 1].carets.push_back({ index, layout.lineAt(int(row - 1)).cursorToX(int(index)) });
    }
    relativise(rows);
    return rows;
}

std::vector<Row> ourRows(const Case& c, TextLayoutManager& manager)
{
    std::vector<Row> rows;
    // All of a paragraph long enough to start estimated.
    manager.ensureLayout(TextRange(0, c.text.size()));
    auto fragment = manager.textLayoutFragment(0);
    if (!fragment)
        return rows;
    for (qsizetype i = 0; i < fragment->visualLineCount(); ++i) {
        const auto line = fragment->visualLine(i);
        rows.push_back({ line.characterRange.location, line.characterRange.endLocation, {},
            fragment->layoutFragmentFrame().top() + line.y + line.height / 2 });
    }
    auto caretX = [&](qint64 index, unsigned options) {
        QRectF caret;
        manager.enumerateTextSegments(TextRange(index), TextLayoutManager::SegmentType::standard, options,
            [&](std::optional<TextRange>, QRectF frame, double) {
                caret = frame;
                return false;
            });
        return caret.x();
    };
    for (const qint64 index : caretIndexes(c.text)) {
        size_t row = 0;
        while (row + 1 < rows.size() && rows[row + 1].start <= index)
            ++row;
        if (rows.empty())
            continue;
        rows[row].carets.push_back({ index, caretX(index, 0) });
        // The end of a row that wraps is a caret of it too, shown there with upstream affinity.
        if (row > 0 && rows[row].start == index)
            rows[row - 1].carets.push_back({ index, caretX(index, TextLayoutManager::upstreamAffinity) });
    }
    return rows;
}

// Answers what differs, empty when nothing does.
std::string compare(const Case& c)
{
    TextContentStorage storage;
    TextLayoutManager manager;
    manager.setDefaultFont(c.font);
    TextContainer container;
    container.size = QSizeF(c.width, TextContainer::unboundedExtent);
    container.lineFragmentPadding = padding;
    manager.setTextContainer(container);
    manager.setPieceLengths(c.pieceLimit, c.pieceTarget, c.estimateBeyond);
    manager.setTextContentStorage(&storage);
    storage.setString(c.text);

    // Each piece is a bidirectional paragraph of its own, so text of both directions in pieces is
    // laid out otherwise than in one paragraph, measuring its runs apart: rows there may take a
    // word more or less where pieces meet, and only rows of one direction are compared.
    if (c.text.size() > c.pieceLimit) {
        for (const QChar ch : c.text) {
            if (ch.direction() == QChar::DirR || ch.direction() == QChar::DirAL)
                return {};
        }
    }
    QTextLayout layout;
    const std::vector<Row> expected = referenceRows(c, layout);
    std::vector<Row> ours = ourRows(c, manager);
    if (ours.size() != expected.size())
        return "rows: " + std::to_string(ours.size()) + " against " + std::to_string(expected.size());
    // Plain text: left to right, one code unit per character, nothing that joins characters.
    auto plainRow = [&](size_t r) {
        bool plain = !c.text.isRightToLeft();
        for (qint64 i = expected[r].start; i < expected[r].end && plain; ++i) {
            const QChar ch = c.text.at(i);
            plain = ch.direction() == QChar::DirL || ch.direction() == QChar::DirWS
                || ch.direction() == QChar::DirEN || ch.direction() == QChar::DirON || ch == u'\t';
        }
        return plain;
    };
    // Where a caret is in the document, for hit-testing below.
    std::vector<Row> absolute = ours;
    relativise(ours);
    for (size_t r = 0; r < ours.size(); ++r) {
        const Row& a = ours[r];
        const Row& b = expected[r];
        if (a.start != b.start || a.end != b.end)
            return "row " + std::to_string(r) + " holds [" + std::to_string(a.start) + ", "
                + std::to_string(a.end) + ") against [" + std::to_string(b.start) + ", "
                + std::to_string(b.end) + ")";
        if (a.carets.size() != b.carets.size())
            return "row " + std::to_string(r) + " caret count";
        for (size_t k = 0; k < a.carets.size(); ++k) {
            // In a row of mixed directions, the carets next to where the row wraps depend on
            // how the layout aligns the row (QTextLayout answers differently for the same line
            // aligned otherwise): only rows of plain text are held to it caret by caret.
            if (!plainRow(r))
                continue;
            // White space hanging past a wrapped row: QTextLayout puts its carets at the row's
            // end, a piece that ends there draws them where the spaces go on. Either is outside
            // the text; the caret is in view either way.
            const bool wrapping = c.width < TextContainer::unboundedExtent;
            const double limit = wrapping ? std::max(1.0, c.width - 2 * padding) : 1e300;
            if (std::abs(std::min(a.carets[k].second, limit) - std::min(b.carets[k].second, limit))
                > tolerance)
                return "caret " + std::to_string(a.carets[k].first) + " at "
                    + std::to_string(a.carets[k].second) + " against " + std::to_string(b.carets[k].second);
        }
    }
    // QTextLayout places some carets inside a sequence of joined emoji in a paragraph of mixed
    // directions away from its glyphs: such rows are not hit-tested.
    auto joinedInMixed = [&](size_t r) {
        return !plainRow(r)
            && c.text.mid(expected[r].start, expected[r].end - expected[r].start).contains(QChar(0x200D));
    };
    // A point finds the caret nearest to it. Where the row reads left to right throughout, that is
    // QTextLayout's answer too; across a change of direction, or by a joiner or a character of two
    // code units, QTextLayout may answer the far edge of the glyph under the point, and over the
    // white space that ends a row the row's end wherever the point is, so there only the nearest
    // caret is checked. A point too close to halfway between two
    // carets may go either way.
    for (size_t r = 0; r < absolute.size(); ++r) {
        const Row& row = absolute[r];
        // A row of mixed directions made of two pieces orders each piece's runs apart, and a
        // caret where they meet may be drawn over the other piece: such rows are not hit-tested.
        const bool inPieces = c.text.size() > c.pieceLimit;
        if (row.carets.empty() || joinedInMixed(r) || (inPieces && !plainRow(r)))
            continue;
        double left = 1e300;
        for (const auto& caret : row.carets)
            left = std::min(left, caret.second);
        std::vector<double> xs;
        for (const auto& caret : ours[r].carets)
            xs.push_back(caret.second);
        std::sort(xs.begin(), xs.end());
        const QTextLine line = layout.lineAt(int(r));
        double refLeft = 1e300;
        for (int k = line.textStart(); k <= line.textStart() + line.textLength(); ++k)
            refLeft = std::min(refLeft, line.cursorToX(k));
        qint64 contentEnd = expected[r].end;
        while (contentEnd > expected[r].start && c.text.at(contentEnd - 1).isSpace())
            --contentEnd;
        const bool plain = plainRow(r);
        for (size_t k = 0; k + 1 < xs.size(); ++k) {
            if (xs[k + 1] - xs[k] < 4 * tolerance)
                continue;
            for (const double at : { 0.25, 0.75 }) {
                const double x = xs[k] + at * (xs[k + 1] - xs[k]);
                const auto found = manager.caretLocation(QPointF(left + x, row.y));
                auto foundCaret = std::find_if(ours[r].carets.begin(), ours[r].carets.end(),
                    [&](const auto& caret) { return caret.first == found.value_or(-1); });
                const double nearest = std::min(x - xs[k], xs[k + 1] - x);
                // Past the first of the spaces that end a wrapped row, a click stays on the row:
                // it finds the caret before them.
                const auto nearestCaret = std::min_element(
                    ours[r].carets.begin(), ours[r].carets.end(), [&](const auto& a, const auto& b) {
                        return std::abs(a.second - x) < std::abs(b.second - x);
                    });
                if (nearestCaret->first > contentEnd && r + 1 < ours.size())
                    continue;
                std::string failure = "a click at " + std::to_string(x) + " in row " + std::to_string(r)
                    + " finds " + std::to_string(found.value_or(-1));
                if (foundCaret == ours[r].carets.end()
                    || std::abs(foundCaret->second - x) > nearest + tolerance)
                    return failure + ", not the nearest caret";
                const int wanted = line.xToCursor(refLeft + x);
                // Carets past a row narrower than a glyph are drawn at its end, while QTextLayout
                // still finds them by the glyph.
                if (plain && wanted < contentEnd && xs[k + 1] < line.width() && *found != wanted
                    && std::abs(line.cursorToX(int(*found)) - line.cursorToX(wanted)) > tolerance)
                    return failure + " against " + std::to_string(wanted);
            }
        }
    }
    return {};
}

// Cuts the text down while the difference stays.
Case shrink(Case c)
{
    for (bool progress = true; progress;) {
        progress = false;
        for (qsizetype chunk = std::max<qsizetype>(1, c.text.size() / 2); chunk >= 1; chunk /= 2) {
            for (qsizetype at = 0; at + chunk <= c.text.size();) {
                Case smaller = c;
                smaller.text.remove(at, chunk);
                // Never half a character of two code units.
                const auto splits
                    = [&](qsizetype i) { return i < c.text.size() && c.text.at(i).isLowSurrogate(); };
                if (splits(at) || splits(at + chunk)) {
                    ++at;
                    continue;
                }
                if (!compare(smaller).empty()) {
                    c = smaller;
                    progress = true;
                } else {
                    at += chunk;
                }
            }
        }
    }
    return c;
}

int extraSeeds()
{
    const char* value = std::getenv("TINDREL_RANDOM_SEEDS");
    return value ? std::max(0, std::atoi(value)) : 0;
}

void runSeeds(bool inPieces, int fixedSeeds)
{
    const int seeds = fixedSeeds + extraSeeds();
    for (int seed = 1; seed <= seeds; ++seed) {
        std::mt19937 random(std::uint32_t(seed * 7919 + (inPieces ? 1 : 0)));
        const Case c = randomCase(random, inPieces);
        const std::string difference = compare(c);
        if (!difference.empty()) {
            const Case small = shrink(c);
            ADD_FAILURE() << "seed " << seed << ": " << compare(small) << "\n" << describe(small);
            return;
        }
    }
}

} // namespace

TEST(TextLayoutDifferential, AParagraphInOnePieceLaysOutAsQTextLayoutDoes)
{
    runSeeds(false, 200);
}

TEST(TextLayoutDifferential, AParagraphInPiecesLaysOutAsOneQTextLayoutDoes)
{
    runSeeds(true, 300);
    // Pieces of the usual length, in a paragraph that starts estimated (past a lower threshold than
    // the usual, to keep this quick) and is then laid out.
    std::mt19937 random(4096);
    for (const double width : { 700.0, TextContainer::unboundedExtent }) {
        Case c;
        c.font = QFont("DejaVu Serif");
        c.font.setPixelSize(15);
        c.width = width;
        c.estimateBeyond = 8192;
        c.text = randomParagraph(random, 20000, false, 200);
        // One direction, to be compared row by row.
        for (QChar& ch : c.text) {
            if (ch.direction() == QChar::DirR || ch.direction() == QChar::DirAL)
                ch = u'q';
        }
        EXPECT_EQ(compare(c), "") << "width " << width;
    }
}
