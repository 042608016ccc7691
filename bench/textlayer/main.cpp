// Benchmarks of the text layer, each against a baseline run in the same process, printed as
// ratios:
// - load a 10 MB, 200,000-line document and lay out one screen, against QTextDocument with
//   QPlainTextDocumentLayout (lines do not wrap on either side: the plain-text layout takes its
//   wrapping width only from its own editor widget), and type in it;
// - opening a document that starts with a single line of 1, 5, 20 and 100 MB and keystrokes in
//   the middle of that line, with the re-layout and the repaint of the visible lines, against
//   QTextDocument with QPlainTextDocumentLayout (up to 20 MB) and a keystroke in a 100-character
//   paragraph of the same document;
// - resident memory after 1,000 keystrokes in a 1 MB paragraph, against that after the first;
// - 20,000 rendering attributes (spelling marks) added, against 10,000;
// - a click and a drag of 200 mouse moves along a 4,000-character line of Latin, Arabic and emoji,
//   against a scan of every caret of the line with QTextLine::cursorToX for each point.
// - keystrokes at the end of a line of figures (no letter) of 1, 10 and 100 MB, against the same in
//   a line of words.
// With --longline MB it runs only ours on a line of that size, for a profiler; with --clicks only
// the clicks, with --figures only the lines of figures.

#include "bench/support/Compare.h"
#include "bench/support/Document.h"
#include "bench/support/Memory.h"
#include "platform/foundation/Print.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutFragment.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextViewportLayoutController.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

using namespace platform;

namespace {

constexpr int lineCount = 200000;
constexpr double screenWidth = 800;
constexpr double screenHeight = 600;

size_t residentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(file);
    }
    return size_t(resident) * size_t(sysconf(_SC_PAGESIZE));
}

QFont benchFont()
{
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    return font;
}

class ScreenDelegate : public TextViewportLayoutControllerDelegate {
public:
    QRectF bounds { 0, 0, screenWidth, screenHeight };
    int configured = 0;
    std::vector<std::shared_ptr<TextLayoutFragment>> visible;
    QRectF viewportBounds(TextViewportLayoutController&) override { return bounds; }
    void willLayout(TextViewportLayoutController&) override { visible.clear(); }
    void configureRenderingSurface(
        TextViewportLayoutController&, const std::shared_ptr<TextLayoutFragment>& fragment) override
    {
        ++configured;
        visible.push_back(fragment);
    }
};

struct Ours {
    TextContentStorage storage;
    TextLayoutManager manager;
    ScreenDelegate delegate;
};

std::unique_ptr<Ours> loadOurs(const QString& text)
{
    auto ours = std::make_unique<Ours>();
    ours->manager.setDefaultFont(benchFont());
    ours->manager.setTextContentStorage(&ours->storage);
    ours->storage.setString(text);
    ours->manager.textViewportLayoutController().setDelegate(&ours->delegate);
    ours->manager.textViewportLayoutController().layoutViewport();
    return ours;
}

std::unique_ptr<QTextDocument> loadQt(const QString& text)
{
    auto document = std::make_unique<QTextDocument>();
    auto* layout = new QPlainTextDocumentLayout(document.get());
    document->setDocumentLayout(layout);
    document->setDefaultFont(benchFont());
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    document->setDefaultTextOption(option);
    document->setPlainText(text);
    double y = 0;
    for (QTextBlock block = document->firstBlock(); block.isValid() && y < screenHeight; block = block.next())
        y += layout->blockBoundingRect(block).height();
    return document;
}

void paint(ScreenDelegate& delegate, QImage& canvas)
{
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.setClipRect(QRectF(0, 0, screenWidth, screenHeight));
    painter.translate(-delegate.bounds.topLeft());
    for (const auto& fragment : delegate.visible)
        fragment->draw(painter, fragment->layoutFragmentFrame().topLeft());
}

// One keystroke as a text view makes it: the edit, the caret's frame to scroll to, the layout of
// the viewport around it and the repaint of what it shows.
double keystroke(TextContentStorage& storage, TextLayoutManager& manager, ScreenDelegate& delegate,
    QImage& canvas, TextLocation at, double* storageMs = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    storage.replaceCharacters(TextRange(at), AttributedString("x"));
    if (storageMs)
        *storageMs = timer.nsecsElapsed() / 1e6;
    QRectF caret;
    manager.enumerateTextSegments(TextRange(at + 1), TextLayoutManager::SegmentType::standard, 0,
        [&](std::optional<TextRange>, QRectF frame, double) {
            caret = frame;
            return false;
        });
    delegate.bounds = QRectF(std::max(0.0, caret.left() - screenWidth / 2),
        std::max(0.0, caret.top() - screenHeight / 2), screenWidth, screenHeight);
    manager.textViewportLayoutController().layoutViewport();
    paint(delegate, canvas);
    return timer.nsecsElapsed() / 1e6;
}

struct Typist {
    TextContentStorage storage;
    TextLayoutManager manager;
    ScreenDelegate delegate;
    QImage canvas { int(screenWidth), int(screenHeight), QImage::Format_ARGB32_Premultiplied };

    double loadMs = 0; // of the text into the storage

    Typist(const QString& text, bool wrapping)
    {
        manager.setDefaultFont(benchFont());
        TextContainer container;
        if (wrapping)
            container.size = QSizeF(screenWidth, TextContainer::unboundedExtent);
        manager.setTextContainer(container);
        manager.setTextContentStorage(&storage);
        QElapsedTimer timer;
        timer.start();
        storage.setString(text);
        loadMs = timer.nsecsElapsed() / 1e6;
        manager.textViewportLayoutController().setDelegate(&delegate);
    }
    double type(TextLocation at, double* storageMs = nullptr)
    {
        return keystroke(storage, manager, delegate, canvas, at, storageMs);
    }
    // Lays out and paints what a view showing `bounds` shows.
    void show(QRectF bounds)
    {
        delegate.bounds = bounds;
        manager.textViewportLayoutController().layoutViewport();
        paint(delegate, canvas);
    }
};

// A single line of `megabytes` MB of words, then 100 lines of 100 characters.
QString longLineDocument(int megabytes, qint64& longLine, qint64& shortParagraph)
{
    QString text;
    text.reserve(qsizetype(megabytes) * 1'000'000 + 20'000);
    const QString word = QStringLiteral("word ");
    for (int i = 0; i < megabytes * 200'000; ++i)
        text += word;
    longLine = text.size();
    text += QLatin1Char('\n');
    for (int line = 0; line < 100; ++line) {
        if (line == 50)
            shortParagraph = text.size();
        for (int i = 0; i < 20; ++i)
            text += QStringLiteral("text ");
        text += QLatin1Char('\n');
    }
    return text;
}

// Opening a document that starts with a long line (load and lay out the first screen, then paint
// it) and keystrokes in the middle of that line, at 1, 5, 20 and 100 MB, against QTextDocument with
// QPlainTextDocumentLayout, which lays out a block whole (unwrapped: it wraps only inside its own
// editor widget). The baseline is not run at 100 MB: its layout of the line would take minutes and
// gigabytes.
void longLines(std::vector<int> sizes = { 1, 5, 20, 100 }, bool baseline = true)
{
    print(QStringLiteral(
        "long lines: a single line of words, then 100 lines of 100 characters; ours wrapped at "
        "800 px and unwrapped, QTextDocument+QPlainTextDocumentLayout unwrapped"));
    {
        // Fonts and glyph caches loaded before the first measurement.
        Typist warmUp(QStringLiteral("warm up ").repeated(1000), true);
        warmUp.show(QRectF(0, 0, screenWidth, screenHeight));
        warmUp.type(100);
    }
    std::vector<double> openTimes;
    std::vector<double> keyTimes;
    for (const int megabytes : sizes) {
        qint64 longLine = 0;
        qint64 shortParagraph = 0;
        const QString text = longLineDocument(megabytes, longLine, shortParagraph);
        double oursOpen[2] = {};
        double oursLoad[2] = {};
        double oursP50[2] = {};
        double oursP99[2] = {};
        double layoutP99[2] = {};
        double shortP99[2] = {};
        for (const bool wrapping : { true, false }) {
            QElapsedTimer timer;
            timer.start();
            auto typist = std::make_unique<Typist>(text, wrapping);
            typist->show(QRectF(0, 0, screenWidth, screenHeight));
            oursOpen[wrapping] = timer.nsecsElapsed() / 1e6;
            oursLoad[wrapping] = typist->loadMs;
            // The first keystroke cuts the block it falls in, which the load filled.
            typist->type(longLine / 2);
            std::vector<double> inLong;
            std::vector<double> layoutOnly;
            std::vector<double> inShort;
            for (int i = 0; i < 300; ++i) {
                double storageMs = 0;
                inLong.push_back(typist->type(longLine / 2 + 1 + i, &storageMs));
                layoutOnly.push_back(inLong.back() - storageMs);
                inShort.push_back(typist->type(shortParagraph + 200 + 50 + i));
            }
            oursP50[wrapping] = bench::percentile(inLong, 0.5);
            oursP99[wrapping] = bench::percentile(inLong, 0.99);
            layoutP99[wrapping] = bench::percentile(layoutOnly, 0.99);
            shortP99[wrapping] = bench::percentile(inShort, 0.99);
        }
        openTimes.push_back(oursOpen[1] - oursLoad[1]);
        keyTimes.push_back(layoutP99[1]);
        double qtOpen = 0;
        std::vector<double> qtKeys;
        if (megabytes <= 20 && baseline) {
            QElapsedTimer timer;
            timer.start();
            auto document = loadQt(text);
            qtOpen = timer.nsecsElapsed() / 1e6;
            QTextCursor cursor(document.get());
            cursor.setPosition(int(longLine / 2));
            QElapsedTimer budget;
            budget.start();
            while (qtKeys.size() < 20 && (qtKeys.size() < 2 || budget.elapsed() < 5000)) {
                timer.restart();
                cursor.insertText(QStringLiteral("x"));
                document->documentLayout()->blockBoundingRect(cursor.block());
                qtKeys.push_back(timer.nsecsElapsed() / 1e6);
            }
        }
        const QString baselineText = megabytes <= 20 && baseline
            ? QStringLiteral(
                "QTextDocument open %1 ms, keystroke median %2 ms over %3; ratio open %4 (wrapped) / %5 "
                "(unwrapped), keystroke p99 %6 / %7")
                  .arg(qtOpen, 0, 'f', 0)
                  .arg(bench::percentile(qtKeys, 0.5), 0, 'f', 0)
                  .arg(qtKeys.size())
                  .arg(oursOpen[1] / qtOpen, 0, 'f', 4)
                  .arg(oursOpen[0] / qtOpen, 0, 'f', 4)
                  .arg(oursP99[1] / bench::percentile(qtKeys, 0.5), 0, 'f', 4)
                  .arg(oursP99[0] / bench::percentile(qtKeys, 0.5), 0, 'f', 4)
            : QStringLiteral("QTextDocument not run");
        print(QStringLiteral(
            "%1 MB line: ours open %2 ms wrapped / %3 ms unwrapped (of which the storage's load "
            "%4 / %5 ms); keystroke + re-layout + repaint in its middle p50 %6 / %7 ms, p99 %8 / %9 "
            "ms, without the storage's edit p99 %10 / %11 ms (a 100-character paragraph's p99 %12 / "
            "%13 ms); %14")
                  .arg(megabytes)
                  .arg(oursOpen[1], 0, 'f', 1)
                  .arg(oursOpen[0], 0, 'f', 1)
                  .arg(oursLoad[1], 0, 'f', 1)
                  .arg(oursLoad[0], 0, 'f', 1)
                  .arg(oursP50[1], 0, 'f', 2)
                  .arg(oursP50[0], 0, 'f', 2)
                  .arg(oursP99[1], 0, 'f', 2)
                  .arg(oursP99[0], 0, 'f', 2)
                  .arg(layoutP99[1], 0, 'f', 2)
                  .arg(layoutP99[0], 0, 'f', 2)
                  .arg(shortP99[1], 0, 'f', 2)
                  .arg(shortP99[0], 0, 'f', 2)
                  .arg(baselineText));
    }
    print(QStringLiteral(
        "long lines, wrapped, without the storage's load and edit: open at %3 MB / at %4 MB %1, "
        "keystroke p99 %2 (target <= 1.5 each)")
              .arg(openTimes.back() / openTimes.front(), 0, 'f', 2)
              .arg(keyTimes.back() / keyTimes.front(), 0, 'f', 2)
              .arg(sizes.back())
              .arg(sizes.front()));
}

// Keystrokes at the end of a single line of figures, tabs and punctuation (no letter, so no strong
// character to take the line's direction from) of 1, 10 and 100 MB, against the same in a line of
// words of that size, whose direction its first character gives.
void figureLines()
{
    print(QStringLiteral("lines of figures: keystrokes at the end, unwrapped, against a line of words "
                         "of the same size"));
    std::vector<double> p99s;
    for (const int megabytes : { 1, 10, 100 }) {
        double p99[2] = {};
        for (const bool figures : { false, true }) {
            const QString unit = figures ? QStringLiteral("12,345.67\t") : QStringLiteral("word ");
            auto typist = std::make_unique<Typist>(unit.repeated(megabytes * 1'000'000 / unit.size()), false);
            const TextLocation end = typist->storage.length();
            typist->show(QRectF(0, 0, screenWidth, screenHeight));
            typist->type(end);
            std::vector<double> keys;
            for (int i = 1; i <= 300; ++i)
                keys.push_back(typist->type(end + i));
            p99[figures] = bench::percentile(keys, 0.99);
        }
        p99s.push_back(p99[1]);
        print(QStringLiteral("%1 MB: keystroke p99 %2 ms in figures, %3 ms in words, ratio %4")
                  .arg(megabytes)
                  .arg(p99[1], 0, 'f', 2)
                  .arg(p99[0], 0, 'f', 2)
                  .arg(p99[1] / p99[0], 0, 'f', 2));
    }
    print(QStringLiteral("lines of figures: keystroke p99 at 100 MB / at 1 MB %1 (target <= 1.5)")
              .arg(p99s.back() / p99s.front(), 0, 'f', 2));
}

void memoryAcrossKeystrokes()
{
    QString text;
    for (int i = 0; i < 200'000; ++i)
        text += QStringLiteral("word ");
    Typist typist(text, true);
    const TextLocation middle = text.size() / 2;
    typist.type(middle);
    malloc_trim(0);
    const size_t first = residentBytes();
    const qint64 cacheFirst = typist.manager.layoutCacheBytes();
    for (int i = 1; i < 1000; ++i)
        typist.type(middle + i);
    malloc_trim(0);
    const size_t last = residentBytes();
    print(
        QStringLiteral("resident memory, 1 MB paragraph: after the first keystroke %1 MB, after 1,000 %2 MB, "
                       "ratio %3 (target <= 1.2); layout cache %4 MB then %5 MB")
            .arg(first / 1e6, 0, 'f', 1)
            .arg(last / 1e6, 0, 'f', 1)
            .arg(double(last) / double(first), 0, 'f', 3)
            .arg(cacheFirst / 1e6, 0, 'f', 1)
            .arg(typist.manager.layoutCacheBytes() / 1e6, 0, 'f', 1));
}

void renderingAttributes()
{
    auto mark = [](int count, bool shuffled) {
        std::vector<TextLocation> starts;
        for (int i = 0; i < count; ++i)
            starts.push_back(TextLocation(i) * 12);
        if (shuffled)
            std::shuffle(starts.begin(), starts.end(), std::mt19937(5));
        std::vector<double> times;
        for (int round = 0; round < 5; ++round) {
            TextLayoutManager manager;
            QElapsedTimer timer;
            timer.start();
            for (const TextLocation start : starts)
                manager.addRenderingAttribute(
                    AttributeKey::spellingState, QStringLiteral("1"), TextRange(start, start + 7));
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        return bench::percentile(times, 0.5);
    };
    for (const bool shuffled : { false, true }) {
        const double ten = mark(10'000, shuffled);
        const double twenty = mark(20'000, shuffled);
        print(QStringLiteral("rendering attributes added %1: 10,000 in %2 ms, 20,000 in %3 ms, ratio %4 "
                             "(target <= 4, linear-log)")
                  .arg(shuffled ? QStringLiteral("in random order") : QStringLiteral("front to back"))
                  .arg(ten, 0, 'f', 2)
                  .arg(twenty, 0, 'f', 2)
                  .arg(twenty / ten, 0, 'f', 2));
    }
}

} // namespace

// Clicks in a long line of both directions and emoji, where QTextLayout's own hit test may be far
// off and every caret is looked at.
void clicksInAMixedLine()
{
    QString text;
    while (text.size() < 4000)
        text += QString::fromUtf8("Hello \u0645\u0631\u062d\u0628\u0627 world \U0001F600 ");
    constexpr int moves = 200;
    std::vector<double> xs;

    // The baseline: every caret's x from QTextLine::cursorToX, the nearest one wins.
    QTextLayout layout(text, benchFont());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    for (int i = 0; i < moves; ++i)
        xs.push_back(line.naturalTextWidth() * (i + 0.5) / moves);
    qint64 checksum = 0;
    QElapsedTimer timer;
    timer.start();
    for (double x : xs) {
        int best = 0;
        double bestDistance = 1e300;
        for (int position = 0; position <= text.size(); ++position) {
            if (position != text.size() && !layout.isValidCursorPosition(position))
                continue;
            const double distance = std::abs(line.cursorToX(position) - x);
            if (distance < bestDistance) {
                bestDistance = distance;
                best = position;
            }
        }
        checksum += best;
    }
    const double scan = timer.nsecsElapsed() / 1e6;

    TextContentStorage storage;
    TextLayoutManager manager;
    manager.setDefaultFont(benchFont());
    manager.setTextContentStorage(&storage);
    storage.setString(text);
    const double y = manager.lineFragment(0)->typographicBounds().center().y();
    timer.restart();
    checksum += manager.caretLocation(QPointF(xs.front(), y)).value_or(0);
    const double first = timer.nsecsElapsed() / 1e6;
    for (double x : xs)
        checksum += manager.caretLocation(QPointF(x, y)).value_or(0);
    const double ours = timer.nsecsElapsed() / 1e6;
    print(QStringLiteral("click + %1 moves in a %2-character mixed line: ours %3 ms (first click %4 ms), "
                         "every caret scanned per point %5 ms, time ratio %6 (target <= 0.1) [%7]")
              .arg(moves)
              .arg(text.size())
              .arg(ours, 0, 'f', 1)
              .arg(first, 0, 'f', 1)
              .arg(scan, 0, 'f', 1)
              .arg(ours / scan, 0, 'f', 3)
              .arg(checksum % 10));
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--longline") {
        // Only ours at one size, for a profiler.
        longLines({ QByteArray(argv[2]).toInt() }, false);
        return 0;
    }

    if (argc >= 2 && QByteArray(argv[1]) == "--figures") {
        figureLines();
        return 0;
    }

    if (argc >= 2 && QByteArray(argv[1]) == "--clicks") {
        clicksInAMixedLine();
        return 0;
    }

    const QString text = bench::makeDocument(lineCount);
    print(QStringLiteral("document: %1 lines, %2 MB as UTF-8")
              .arg(lineCount)
              .arg(text.toUtf8().size() / 1e6, 0, 'f', 1));

    double oursBest = 1e300;
    double qtBest = 1e300;
    qint64 oursMemory = 0;
    qint64 qtMemory = 0;
    for (int round = 0; round < 3; ++round) {
        {
            malloc_trim(0);
            const qint64 before = bench::heapInUse();
            QElapsedTimer timer;
            timer.start();
            auto document = loadQt(text);
            qtBest = std::min(qtBest, timer.nsecsElapsed() / 1e6);
            qtMemory = bench::heapInUse() - before;
        }
        {
            malloc_trim(0);
            const qint64 before = bench::heapInUse();
            QElapsedTimer timer;
            timer.start();
            auto ours = loadOurs(text);
            oursBest = std::min(oursBest, timer.nsecsElapsed() / 1e6);
            oursMemory = bench::heapInUse() - before;
            if (ours->delegate.configured == 0)
                return 1;
        }
    }
    print(QStringLiteral("load + lay out one screen: ours %1 ms, QTextDocument+QPlainTextDocumentLayout %2 "
                         "ms, time ratio %3 (target <= 1)")
              .arg(oursBest, 0, 'f', 1)
              .arg(qtBest, 0, 'f', 1)
              .arg(oursBest / qtBest, 0, 'f', 3));
    print(QStringLiteral("memory after load: ours %1 MB, QTextDocument %2 MB, memory ratio %3 (target <= 2)")
              .arg(oursMemory / 1e6, 0, 'f', 1)
              .arg(qtMemory / 1e6, 0, 'f', 1)
              .arg(double(oursMemory) / double(qtMemory), 0, 'f', 3));

    // Typing in the middle: 1,000 one-character inserts at line 100,000, each followed by laying
    // out the edited paragraph again.
    {
        auto ours = loadOurs(text);
        auto document = loadQt(text);
        const TextLocation at = ours->storage.paragraph(100000)->elementRange.location;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 1000; ++i) {
            ours->storage.replaceCharacters(TextRange(at + i), AttributedString("x"));
            ours->manager.ensureLayout(TextRange(at + i));
        }
        const double oursTyping = timer.nsecsElapsed() / 1e6;
        auto* layout = document->documentLayout();
        timer.restart();
        QTextCursor cursor(document.get());
        cursor.setPosition(int(at));
        for (int i = 0; i < 1000; ++i) {
            cursor.insertText("x");
            layout->blockBoundingRect(cursor.block());
        }
        const double qtTyping = timer.nsecsElapsed() / 1e6;
        print(QStringLiteral("1000 keystrokes at line 100000: ours %1 ms, QTextDocument %2 ms, time ratio %3")
                  .arg(oursTyping, 0, 'f', 2)
                  .arg(qtTyping, 0, 'f', 2)
                  .arg(oursTyping / qtTyping, 0, 'f', 3));
    }

    // One paragraph of 1 MB: laying it out is the cost of a keystroke in it, on both sides.
    {
        QString line;
        for (int i = 0; i < 200000; ++i)
            line += QStringLiteral("word ");
        QElapsedTimer timer;
        timer.start();
        auto ours = loadOurs(line);
        ours->storage.replaceCharacters(TextRange(500000), AttributedString("x"));
        ours->manager.ensureLayout(TextRange(500000));
        const double oursLine = timer.nsecsElapsed() / 1e6;
        timer.restart();
        auto document = loadQt(line);
        QTextCursor cursor(document.get());
        cursor.setPosition(500000);
        cursor.insertText("x");
        document->documentLayout()->blockBoundingRect(cursor.block());
        const double qtLine = timer.nsecsElapsed() / 1e6;
        print(QStringLiteral(
            "1 MB single line, load + one keystroke: ours %1 ms, QTextDocument %2 ms, time ratio %3")
                  .arg(oursLine, 0, 'f', 1)
                  .arg(qtLine, 0, 'f', 1)
                  .arg(oursLine / qtLine, 0, 'f', 3));
    }

    longLines();
    figureLines();
    memoryAcrossKeystrokes();
    renderingAttributes();
    clicksInAMixedLine();
    return 0;
}
