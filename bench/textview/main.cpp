// Benchmarks of the text view against QPlainTextEdit, run in the same process (memory in one child
// process per widget), offscreen, both 800 x 600 with the same font and lines wrapping at the
// view's width:
// - open a 10 MB, 200,000-line document to the first painted frame;
// - 2,000 page-downs, each laid out and painted;
// - 1,000 keystrokes at the end and at line 100,000, each with its layout and paint, as
//   percentiles;
// - opening a single line of 1, 5, 20 and 100 MB, and keystrokes in its middle;
// - a switch between light and dark with the document paged to its middle, to the next painted
//   frame, against the view's own repaint with nothing changed; and how far the text in view moved;
// - resident memory after scrolling through the whole document, against the file's size;
// - the peak and resident memory of opening a 50 MB note file, each editor in a fresh process, ours
//   given the text as a QString and decoded straight into its storage's blocks.
//
// With --screenshot it instead shows two views of a long note, one with the caret and its line's
// band and one with a selection, with invisible characters (docs/screenshots/ grabs it); with
// --pagedown [baseline] it runs only the page-downs of one editor, for a profiler; --longlines-only,
// --pagedowns-only, --palette-only and --open-memory-only run only those parts.

#include "EDTextView/EDTextView.h"
#include "bench/support/Compare.h"
#include "bench/support/Document.h"
#include "bench/support/Memory.h"
#include "platform/foundation/Print.h"
#include "platform/text/TextBlocks.h"
#include "platform/text/TextLayoutFragment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTextBlock>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <vector>

using platform::print;

namespace {

constexpr int lineCount = 200000;
constexpr int viewWidth = 800;
constexpr int viewHeight = 600;

QString makeDocument(int lines = lineCount)
{
    return bench::makeDocument(lines);
}

QString makeLongLine(int megabytes)
{
    QString text;
    text.reserve(qsizetype(megabytes) * 1'000'000);
    const QString word = QStringLiteral("word ");
    for (int i = 0; i < megabytes * 200'000; ++i)
        text += word;
    return text;
}

// A value of /proc/self/status, in bytes.
size_t statusBytes(const char* key)
{
    return size_t(bench::statusKilobytes(key)) * 1024;
}

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

void typeKey(QWidget* widget)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QCoreApplication::sendEvent(widget, &release);
}

// One of the two editors, behind the operations the benchmarks use.
class Editor {
public:
    virtual ~Editor() = default;
    virtual QAbstractScrollArea& widget() = 0;
    virtual void load(const QString& text) = 0;
    // The same, the editor's caller keeping nothing of the text.
    virtual void load(QString&& text) = 0;
    virtual void pageDown() = 0;
    virtual void placeCaret(qint64 location) = 0;
    virtual bool atEnd() = 0;

    void show()
    {
        widget().resize(viewWidth, viewHeight);
        widget().show();
        widget().activateWindow();
        widget().setFocus();
        QCoreApplication::processEvents();
    }
    // Paints what shows now (laying it out as needed), then lets deferred work run; the repaint
    // leaves nothing for a pending update to paint again.
    void paint()
    {
        widget().viewport()->repaint();
        QCoreApplication::processEvents();
    }
    double keystroke()
    {
        QElapsedTimer timer;
        timer.start();
        typeKey(&widget());
        paint();
        return timer.nsecsElapsed() / 1e6;
    }
};

class Ours : public Editor {
public:
    Ours()
    {
        m_view.setFont(bench::documentFont());
        show();
    }
    QAbstractScrollArea& widget() override { return m_view; }
    void load(const QString& text) override
    {
        m_view.setString(text);
        paint();
    }
    void load(QString&& text) override
    {
        m_view.setString(text);
        text = QString();
        paint();
    }
    void pageDown() override
    {
        m_view.pageDown();
        paint();
    }
    void placeCaret(qint64 location) override
    {
        m_view.setSelectedTextRange(platform::TextRange(location));
        m_view.scrollTextRangeToVisible(platform::TextRange(location));
        paint();
    }
    bool atEnd() override
    {
        return m_view.verticalScrollBar()->value() >= m_view.verticalScrollBar()->maximum();
    }

private:
    EDTextView m_view;
};

class Baseline : public Editor {
public:
    Baseline()
    {
        m_edit.setFont(bench::documentFont());
        m_edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
        show();
    }
    QAbstractScrollArea& widget() override { return m_edit; }
    void load(const QString& text) override
    {
        m_edit.setPlainText(text);
        paint();
    }
    void load(QString&& text) override
    {
        m_edit.setPlainText(text);
        text = QString();
        paint();
    }
    void pageDown() override
    {
        m_edit.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        paint();
    }
    void placeCaret(qint64 location) override
    {
        QTextCursor cursor(m_edit.document());
        cursor.setPosition(int(location));
        m_edit.setTextCursor(cursor);
        m_edit.ensureCursorVisible();
        paint();
    }
    bool atEnd() override
    {
        return m_edit.verticalScrollBar()->value() >= m_edit.verticalScrollBar()->maximum();
    }

private:
    QPlainTextEdit m_edit;
};

std::unique_ptr<Editor> makeEditor(bool ours)
{
    if (ours)
        return std::make_unique<Ours>();
    return std::make_unique<Baseline>();
}

void openToFirstFrame(const QString& document)
{
    bench::compare(
        "open 10 MB / 200,000 lines to the first painted frame (target ratio <= 0.5)",
        [&] { makeEditor(true)->load(document); }, [&] { makeEditor(false)->load(document); }, 3);
}

void pageDowns(const QString& document)
{
    auto run = [&](bool ours) {
        auto editor = makeEditor(ours);
        editor->load(document);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 2000; ++i)
            editor->pageDown();
        return timer.nsecsElapsed() / 1e6;
    };
    std::vector<double> oursTimes, baselineTimes;
    for (int round = 0; round < 3; ++round) {
        oursTimes.push_back(run(true));
        baselineTimes.push_back(run(false));
    }
    const double ours = bench::median(oursTimes), baseline = bench::median(baselineTimes);
    print(QStringLiteral("2,000 page-downs with layout and paint: ours %1 ms, QPlainTextEdit %2 ms, ratio %3 "
                         "(target <= 0.6)")
              .arg(ours, 0, 'f', 0)
              .arg(baseline, 0, 'f', 0)
              .arg(ours / baseline, 0, 'f', 3));
}

QPalette benchPalette(bool dark)
{
    QPalette palette;
    palette.setColor(QPalette::Window, dark ? QColor(0x32, 0x32, 0x32) : QColor(0xEC, 0xEC, 0xEC));
    palette.setColor(QPalette::Base, dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(Qt::white));
    palette.setColor(QPalette::Text, dark ? QColor(Qt::white) : QColor(Qt::black));
    palette.setColor(QPalette::WindowText, dark ? QColor(Qt::white) : QColor(Qt::black));
    return palette;
}

// A switch between light and dark with the document open at its middle, paged to from a little
// above so that the paragraphs around are measured, to the next painted frame; the baseline is the
// view's own repaint with nothing changed. Then whether the text in view moved: where the paragraph
// at the top of the view stands, right after the switch and once the layout has settled (further
// passes, as scrolling or the caret's blink bring).
void paletteSwitch(const QString& document)
{
    const QPalette saved = QApplication::palette();
    QApplication::setPalette(benchPalette(false));
    auto editor = makeEditor(true);
    editor->load(document);
    auto& view = static_cast<EDTextView&>(editor->widget());
    editor->placeCaret(document.size() / 2 - 20000);
    for (int i = 0; i < 200; ++i)
        editor->pageDown();
    // Where the paragraph at the top of the view stands in the viewport (none when it is no
    // longer in view), and the scroll position.
    struct Place {
        std::optional<double> y;
        int scroll = 0;
    };
    qint64 top = -1;
    auto place = [&] {
        Place result;
        result.scroll = view.verticalScrollBar()->value();
        const QRectF visible = view.documentVisibleRect();
        for (const auto& shown : view.fragmentViews()) {
            if (top < 0 && shown.frame.bottom() > visible.top())
                top = shown.fragment->rangeInElement().location;
            if (shown.fragment->rangeInElement().location == top) {
                result.y = shown.frame.top() - visible.top();
                break;
            }
        }
        return result;
    };
    const Place before = place();
    QApplication::setPalette(benchPalette(true));
    editor->paint();
    const Place switched = place();
    // Further layout passes, as scrolling or the caret's blink bring.
    for (int i = 0; i < 20; ++i) {
        view.setNeedsLayout();
        editor->paint();
    }
    const Place settled = place();
    auto moved = [&](const Place& after) {
        return QStringLiteral("%1 (scroll position %2 -> %3)")
            .arg(after.y ? QStringLiteral("%1 px").arg(*after.y - *before.y, 0, 'f', 1)
                         : QStringLiteral("more than the view's height"))
            .arg(before.scroll)
            .arg(after.scroll);
    };
    print(QStringLiteral(
        "a switch between light and dark, 200,000 paragraphs open at the middle: the text at the top "
        "of the view moved by %1 at the next frame, by %2 once settled (target: 0 px)")
              .arg(moved(switched), moved(settled)));
    bool dark = true;
    bench::compare(
        "a switch between light and dark, 200,000 paragraphs open at the middle, to the next painted frame, "
        "against a repaint with nothing changed",
        [&] {
            dark = !dark;
            QApplication::setPalette(benchPalette(dark));
            editor->paint();
        },
        [&] { editor->paint(); }, 21);
    editor.reset();
    QApplication::setPalette(saved);
}

// Keystrokes at `location`, up to `count` or until `budgetMs` is spent (the baseline can take
// seconds per key in a very long line).
std::vector<double> keystrokes(Editor& editor, qint64 location, int count, double budgetMs)
{
    editor.placeCaret(location);
    editor.keystroke();
    std::vector<double> times;
    QElapsedTimer budget;
    budget.start();
    while (int(times.size()) < count && budget.elapsed() < budgetMs)
        times.push_back(editor.keystroke());
    return times;
}

void keystrokeLatency(const QString& document)
{
    struct Place {
        QString name;
        QString text;
        std::function<qint64(const QString&)> location;
    };
    const qint64 line100000 = [&] {
        qint64 at = 0;
        for (int line = 0; line < 100000; ++line)
            at = document.indexOf(QLatin1Char('\n'), at) + 1;
        return at;
    }();
    const Place places[] = {
        { QStringLiteral("at the end"), document, [](const QString& text) { return text.size(); } },
        { QStringLiteral("at line 100,000"), document, [&](const QString&) { return line100000; } },
    };
    for (const Place& place : places) {
        std::vector<double> results[2];
        for (const bool ours : { true, false }) {
            auto editor = makeEditor(ours);
            editor->load(place.text);
            results[ours ? 0 : 1] = keystrokes(*editor, place.location(place.text), 1000, 60'000);
        }
        print(QStringLiteral("1,000 keystrokes %1: ours p50 %2 ms, p99 %3 ms (target p99 < 16 ms); "
                             "QPlainTextEdit p50 %4 ms, p99 %5 ms over %6 keystrokes")
                  .arg(place.name)
                  .arg(bench::percentile(results[0], 0.5), 0, 'f', 2)
                  .arg(bench::percentile(results[0], 0.99), 0, 'f', 2)
                  .arg(bench::percentile(results[1], 0.5), 0, 'f', 2)
                  .arg(bench::percentile(results[1], 0.99), 0, 'f', 2)
                  .arg(results[1].size()));
    }
}

// Opening a single line of 1, 5, 20 and 100 MB to the first painted frame, and 1,000 keystrokes in
// its middle, against QPlainTextEdit, which lays out the whole line for both (its keystrokes are
// timed for 10 s at most, and it is not run at 100 MB: minutes and gigabytes).
void longLines()
{
    std::vector<double> oursOpen;
    std::vector<double> oursP99;
    for (const int megabytes : { 1, 5, 20, 100 }) {
        const QString line = makeLongLine(megabytes);
        double open[2] = {};
        std::vector<double> keys[2];
        for (const bool ours : { true, false }) {
            if (!ours && megabytes > 20)
                continue;
            auto editor = makeEditor(ours);
            QElapsedTimer timer;
            timer.start();
            editor->load(line);
            open[ours ? 0 : 1] = timer.nsecsElapsed() / 1e6;
            keys[ours ? 0 : 1]
                = keystrokes(*editor, line.size() / 2, ours ? 1000 : 20, ours ? 60'000 : 10'000);
        }
        oursOpen.push_back(open[0]);
        oursP99.push_back(bench::percentile(keys[0], 0.99));
        const QString baseline = megabytes <= 20
            ? QStringLiteral(
                "QPlainTextEdit open %1 ms, keystroke p50 %2 ms over %3; ratio open %4, keystroke "
                "p99 %5")
                  .arg(open[1], 0, 'f', 0)
                  .arg(bench::percentile(keys[1], 0.5), 0, 'f', 0)
                  .arg(keys[1].size())
                  .arg(open[0] / open[1], 0, 'f', 4)
                  .arg(bench::percentile(keys[0], 0.99) / bench::percentile(keys[1], 0.99), 0, 'f', 4)
            : QStringLiteral("QPlainTextEdit not run");
        print(QStringLiteral(
            "%1 MB single line: ours open to the first frame %2 ms, 1,000 keystrokes in its middle "
            "p50 %3 ms, p99 %4 ms; %5")
                  .arg(megabytes)
                  .arg(open[0], 0, 'f', 1)
                  .arg(bench::percentile(keys[0], 0.5), 0, 'f', 2)
                  .arg(bench::percentile(keys[0], 0.99), 0, 'f', 2)
                  .arg(baseline));
    }
    print(QStringLiteral(
        "single lines, ours at 100 MB / at 1 MB: open %1, keystroke p99 %2 (target <= 1.5 each; "
        "p99 < 4 ms at 100 MB)")
              .arg(oursOpen.back() / oursOpen.front(), 0, 'f', 2)
              .arg(oursP99.back() / oursP99.front(), 0, 'f', 2));
}

// How an opening hands the file's text to the editor.
enum class Opening {
    // Decoded into a QString, which the caller drops once the editor has it (what the note
    // window does, and the baseline's only way).
    string,
    // Decoded straight into the text storage's blocks, never a QString (ours only).
    blocks,
};

// In a child process: the peak and the resident memory that opening a note file adds (read,
// strict UTF-8 decode, the editor given the text and painted, the caller keeping nothing).
int measureOpening(bool ours, Opening opening, const QString& path)
{
    {
        auto warmUp = makeEditor(ours);
        warmUp->load(QStringLiteral("warm up\n"));
    }
    auto editor = makeEditor(ours);
    malloc_trim(0);
    const size_t before = statusBytes("VmRSS");
    bench::resetPeak();
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        QByteArray bytes = file.readAll();
        if (opening == Opening::blocks) {
            std::optional<platform::TextBlocks> text = platform::TextBlocks::fromUtf8(bytes);
            bytes = QByteArray();
            if (!text)
                return 1;
            static_cast<EDTextView&>(editor->widget()).setText(std::move(*text));
            editor->paint();
        } else {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QString text = decoder.decode(bytes);
            bytes = QByteArray();
            editor->load(std::move(text));
        }
    }
    const size_t peak = statusBytes("VmHWM");
    malloc_trim(0);
    const size_t after = statusBytes("VmRSS");
    std::printf("%zu %zu\n", peak - before, after - before);
    return 0;
}

void openingMemory(const QString& program)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("note.txt"));
    qint64 fileSize = 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        fileSize = file.write(makeDocument(1'000'000).toUtf8());
    }
    auto run = [&](const QString& which) -> std::pair<double, double> {
        QProcess child;
        child.start(program, { QStringLiteral("--open-memory"), which, path });
        child.waitForFinished(-1);
        const QStringList fields = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char(' '));
        if (fields.size() < 2)
            return { 0, 0 };
        return { fields[0].toDouble(), fields[1].toDouble() };
    };
    const auto [blocksPeak, blocksResident] = run(QStringLiteral("ours-blocks"));
    const auto [oursPeak, oursResident] = run(QStringLiteral("ours"));
    const auto [baselinePeak, baselineResident] = run(QStringLiteral("baseline"));
    auto figures = [&](double peak, double resident) {
        return QStringLiteral("peak %1 MB (%2x), resident after %3 MB (%4x)")
            .arg(peak / 1e6, 0, 'f', 1)
            .arg(peak / double(fileSize), 0, 'f', 2)
            .arg(resident / 1e6, 0, 'f', 1)
            .arg(resident / double(fileSize), 0, 'f', 2);
    };
    print(QStringLiteral(
        "opening a %1 MB note (read, decode, show), each in a fresh process, against the file's size: "
        "ours decoding into the storage's blocks %2; ours given a QString %3 (targets: peak <= 3x, "
        "resident <= 1.5x); QPlainTextEdit %4; ratio to QPlainTextEdit peak %5 / %6, resident %7 / %8")
              .arg(fileSize / 1e6, 0, 'f', 1)
              .arg(figures(blocksPeak, blocksResident))
              .arg(figures(oursPeak, oursResident))
              .arg(figures(baselinePeak, baselineResident))
              .arg(blocksPeak / baselinePeak, 0, 'f', 3)
              .arg(oursPeak / baselinePeak, 0, 'f', 3)
              .arg(blocksResident / baselineResident, 0, 'f', 3)
              .arg(oursResident / baselineResident, 0, 'f', 3));
}

// In a child process: the resident memory a widget adds by loading the document and scrolling
// through all of it.
int measureMemory(bool ours)
{
    {
        // Fonts, styles and the widget's own code loaded before the first measurement.
        auto warmUp = makeEditor(ours);
        warmUp->load(QStringLiteral("warm up\n"));
    }
    const QString document = makeDocument();
    malloc_trim(0);
    const size_t before = residentBytes();
    auto editor = makeEditor(ours);
    editor->load(document);
    while (!editor->atEnd())
        editor->pageDown();
    malloc_trim(0);
    const size_t after = residentBytes();
    std::printf("%zu %lld\n", after - before, static_cast<long long>(document.toUtf8().size()));
    return 0;
}

void memoryAfterFullScroll(const QString& program)
{
    auto run = [&](const QString& which) -> std::pair<double, double> {
        QProcess child;
        child.start(program, { QStringLiteral("--memory"), which });
        child.waitForFinished(-1);
        const QStringList fields = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char(' '));
        if (fields.size() < 2)
            return { 0, 0 };
        return { fields[0].toDouble(), fields[1].toDouble() };
    };
    const auto [ours, fileSize] = run(QStringLiteral("ours"));
    const auto [baseline, unused] = run(QStringLiteral("baseline"));
    Q_UNUSED(unused);
    print(QStringLiteral("resident memory after a full scroll: ours %1 MB, QPlainTextEdit %2 MB, ratio %3 "
                         "(target <= 1); ours %4x the file's %5 MB (target < 3x)")
              .arg(ours / 1e6, 0, 'f', 1)
              .arg(baseline / 1e6, 0, 'f', 1)
              .arg(ours / baseline, 0, 'f', 3)
              .arg(ours / fileSize, 0, 'f', 2)
              .arg(fileSize / 1e6, 0, 'f', 1));
}

// A window of two views of one long note: the left one with the caret and its line's band, the
// right one with a selection (which turns the band off), both showing invisible characters. It
// stays open until closed, for docs/screenshots/make-textview-screenshot.sh to grab.
int showScreenshotWindow()
{
    // A caret that stays shown, so the grab never catches it between blinks.
    struct SteadyCaret : EDTextViewDelegate {
        std::unique_ptr<EDInsertionPointIndicator> insertionPointIndicator(EDTextView&, QRectF) override
        {
            auto indicator = std::make_unique<EDTextInsertionIndicator>();
            indicator->blinkStop();
            return std::make_unique<Steady>(std::move(indicator));
        }
        struct Steady : EDInsertionPointIndicator {
            std::unique_ptr<EDTextInsertionIndicator> base;
            explicit Steady(std::unique_ptr<EDTextInsertionIndicator> base)
                : base(std::move(base))
            {
            }
            QColor insertionPointColor() const override { return base->insertionPointColor(); }
            void setInsertionPointColor(const QColor& color) override { base->setInsertionPointColor(color); }
            void blinkStart() override { }
            void blinkStop() override { }
            void paint(QPainter& painter, const QRectF& rect) const override { base->paint(painter, rect); }
        };
    };
    const auto steadyCaret = std::make_shared<SteadyCaret>();
    QString text;
    const char* const paragraphs[] = {
        "Tindrel keeps a personal library of creative projects: notes, reference images and links.",
        "\tNotes are plain text, edited in a view that lays out only what shows, so a long note opens as "
        "fast as a short one and typing stays smooth anywhere in it.",
        "Invisible characters:\tspaces, tabs and line ends\tare marked with small dots when asked for.",
        "",
        "The band behind the caret's line follows the caret; a selection turns it off.",
    };
    for (int copy = 0; copy < 400; ++copy) {
        for (const char* paragraph : paragraphs)
            text += QString::fromUtf8(paragraph) + QLatin1Char('\n');
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Notes \u2014 text view"));
    auto* layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    EDTextView* views[2];
    for (EDTextView*& view : views) {
        view = new EDTextView(&window);
        view->setFont(bench::documentFont());
        view->setHighlightSelectedLine(true);
        view->setShowsInvisibleCharacters(true);
        view->setDelegate(steadyCaret);
        view->setString(text);
        layout->addWidget(view);
    }
    const qint64 second = text.indexOf(QLatin1Char('\n')) + 1;
    const qint64 third = text.indexOf(QLatin1Char('\n'), second) + 1;
    views[0]->setSelectedTextRange(platform::TextRange(text.indexOf(QStringLiteral("view that")) + 5));
    views[1]->setSelectedTextRange(platform::TextRange(second + 12, third + 34));
    window.resize(1040, 440);
    window.show();
    window.activateWindow();
    views[0]->setFocus();
    views[0]->insertText(QStringLiteral("long "), platform::CharacterRange::notFound());
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    const bool screenshotMode = argc >= 2 && QByteArray(argv[1]) == "--screenshot";
    if (!screenshotMode && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (screenshotMode)
        return showScreenshotWindow();
    if (argc >= 2 && QByteArray(argv[1]) == "--pagedown") {
        const QString document = makeDocument();
        auto editor = makeEditor(argc < 3);
        editor->load(document);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 2000; ++i)
            editor->pageDown();
        std::printf("%lld ms\n", timer.elapsed());
        return 0;
    }
    if (argc >= 3 && QByteArray(argv[1]) == "--memory")
        return measureMemory(QByteArray(argv[2]) == "ours");
    if (argc >= 4 && QByteArray(argv[1]) == "--open-memory") {
        const QByteArray which(argv[2]);
        return measureOpening(which.startsWith("ours"),
            which == "ours-blocks" ? Opening::blocks : Opening::string, QString::fromLocal8Bit(argv[3]));
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--longlines-only") {
        longLines();
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--pagedowns-only") {
        pageDowns(makeDocument());
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--palette-only") {
        paletteSwitch(makeDocument());
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--open-memory-only") {
        openingMemory(QCoreApplication::applicationFilePath());
        return 0;
    }

    const QString document = makeDocument();
    print(QStringLiteral("document: %1 lines, %2 MB as UTF-8; views %3 x %4, %5 %6 px, wrapping")
              .arg(lineCount)
              .arg(document.toUtf8().size() / 1e6, 0, 'f', 1)
              .arg(viewWidth)
              .arg(viewHeight)
              .arg(bench::documentFont().family())
              .arg(bench::documentFont().pixelSize()));
    openToFirstFrame(document);
    pageDowns(document);
    keystrokeLatency(document);
    paletteSwitch(document);
    longLines();
    memoryAfterFullScroll(QCoreApplication::applicationFilePath());
    openingMemory(QCoreApplication::applicationFilePath());
    return 0;
}
