// Benchmarks of what a user does with a long note besides opening, typing, scrolling and finding
// (bench/textview, bench/find), on a 10 MB note of 200,000 lines in an 800 x 600 view, against
// the strongest bare alternative run in the same process:
// - Select All, and Shift+Up and Shift+Down with most of the note selected, each step with its
//   layout, paint and the turn of the event loop that offers the selection as the desktop's primary
//   selection, against QPlainTextEdit doing the same; and the memory Select All leaves behind. The
//   primary selection needs an X display: offscreen, this part runs again in a child process under
//   xvfb-run when there is one.
// - Copy with the whole note selected, against QPlainTextEdit's Copy; and the memory the clipboard
//   keeps, against the least it must (the text in UTF-8 and in RTF).
// - Capitalize with the whole note selected, with its edit, undo step and paint, against a plain
//   loop making the same text: the text's word boundaries walked once, each word's first character
//   in title case, the text lowered in one call.
// - Spelling turned on: the memory the marks of the whole note take once it is checked, against the
//   least that can hold them (a vector of their ranges, 16 bytes a mark); and Select All then
//   Delete with the marks in place, against the same in a view with spelling off.
//
// --selection-only, --copy-only, --capitalize-only and --spelling-only run only that part, on the
// display given.

#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/TextCheckingController.h"
#include "bench/support/Compare.h"
#include "bench/support/Document.h"
#include "bench/support/Memory.h"
#include "platform/text/TextRange.h"
#include "platform/text/UndoManager.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/SpellChecker.h"

#include <QApplication>
#include <QClipboard>
#include <QLocale>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextBoundaryFinder>

#include <malloc.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int lineCount = 200000;
constexpr int viewWidth = 800;
constexpr int viewHeight = 600;
constexpr int selectionSteps = 20;

void show(QAbstractScrollArea& area)
{
    area.setFont(bench::documentFont());
    area.resize(viewWidth, viewHeight);
    area.show();
    QCoreApplication::processEvents();
}

// Paints what shows now and lets what the step posted run (the primary selection's offer).
void paint(QAbstractScrollArea& area)
{
    area.viewport()->repaint();
    QCoreApplication::processEvents();
}

long residentMegabytes()
{
    malloc_trim(0);
    return bench::statusKilobytes("VmRSS") / 1024;
}

void selectionSteps10Mb(const QString& document)
{
    EDTextView ours;
    show(ours);
    ours.setString(document);
    paint(ours);
    QPlainTextEdit baseline;
    baseline.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    show(baseline);
    baseline.setPlainText(document);
    paint(baseline);

    // Everything but the last line selected, the caret at its start: each step moves the end of a
    // selection of nearly 10 MB.
    const qint64 lastLine = document.lastIndexOf(u'\n', document.size() - 2) + 1;
    const auto selectMost = [&] {
        ours.setSelectedTextRange(platform::TextRange(0, lastLine));
        paint(ours);
        QTextCursor cursor(baseline.document());
        cursor.setPosition(int(lastLine), QTextCursor::KeepAnchor);
        baseline.setTextCursor(cursor);
        paint(baseline);
    };
    const auto steps = [](QAbstractScrollArea& area, const std::function<void()>& step) {
        return [&area, step] {
            for (int i = 0; i < selectionSteps; ++i) {
                step();
                paint(area);
            }
        };
    };
    selectMost();
    bench::compare("Shift+Up, most of the note selected (per 20 steps)",
        steps(ours, [&] { ours.moveUpAndModifySelection(); }),
        steps(baseline, [&] { baseline.moveCursor(QTextCursor::Up, QTextCursor::KeepAnchor); }));
    selectMost();
    bench::compare("Shift+Down, most of the note selected (per 20 steps)",
        steps(ours, [&] { ours.moveDownAndModifySelection(); }),
        steps(baseline, [&] { baseline.moveCursor(QTextCursor::Down, QTextCursor::KeepAnchor); }));
    bench::compare(
        "Select All",
        [&] {
            ours.moveToBeginningOfDocument();
            ours.selectAll();
            paint(ours);
        },
        [&] {
            baseline.moveCursor(QTextCursor::Start);
            baseline.selectAll();
            paint(baseline);
        });

    ours.moveToBeginningOfDocument();
    paint(ours);
    QGuiApplication::clipboard()->clear(QClipboard::Selection);
    const long before = residentMegabytes();
    ours.selectAll();
    paint(ours);
    std::printf("  memory Select All leaves in our view: %ld MB\n", residentMegabytes() - before);
    std::printf("  primary selection: %zu characters\n",
        size_t(QGuiApplication::clipboard()->text(QClipboard::Selection).size()));
    std::fflush(stdout);
}

// The selection part on a display with a primary selection: this one, or a virtual one.
void selectionPart(const QString& document)
{
    if (QGuiApplication::clipboard()->supportsSelection()) {
        selectionSteps10Mb(document);
        return;
    }
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfbRun.isEmpty()) {
        std::printf("selection steps: skipped, no primary selection here and no xvfb-run\n");
        return;
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(environment);
    child.start(xvfbRun,
        { QStringLiteral("-a"), QCoreApplication::applicationFilePath(),
            QStringLiteral("--selection-only") });
    child.waitForFinished(-1);
}

void copyAll(const QString& document)
{
    EDTextView ours;
    show(ours);
    ours.setString(document);
    paint(ours);
    QPlainTextEdit baseline;
    show(baseline);
    baseline.setPlainText(document);
    paint(baseline);
    ours.selectAll();
    baseline.selectAll();
    QClipboard* clipboard = QGuiApplication::clipboard();
    bench::compare(
        "Copy, all selected", [&] { ours.copy(); }, [&] { baseline.copy(); }, 5);

    // Empties the clipboard and what our side of it held.
    platform::Pasteboard::general().clearContents();
    const long before = residentMegabytes();
    ours.copy();
    const long kept = residentMegabytes() - before;
    const QMimeData* data = clipboard->mimeData();
    const double least
        = double(document.toUtf8().size() + data->data(QStringLiteral("text/rtf")).size()) / (1024 * 1024);
    std::printf("  memory the clipboard keeps: ours %ld MB, least %.1f MB, ratio %.2f\n", kept, least,
        double(kept) / least);
    std::fflush(stdout);
}

// The capitalized text, by the shortest route: what a caller with the text in a QString would write.
QString capitalizedPlainly(const QString& text)
{
    QString result = QLocale().toLower(text);
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    for (qsizetype at = words.position(); at != -1; at = words.toNextBoundary()) {
        if (at < text.size() && (words.boundaryReasons() & QTextBoundaryFinder::StartOfItem)
            && text[at].isLetterOrNumber())
            result[at] = QChar(QChar::toTitleCase(text[at].unicode()));
    }
    return result;
}

void capitalizeAll(const QString& document)
{
    EDTextView ours;
    show(ours);
    ours.setString(document);
    paint(ours);
    std::vector<double> oursTimes, baselineTimes, ratios;
    QString expected;
    for (int run = 0; run < 6; ++run) {
        const double oursMs = bench::milliseconds([&] {
            ours.selectAll();
            ours.capitalizeWord();
            paint(ours);
        });
        const double baselineMs = bench::milliseconds([&] { expected = capitalizedPlainly(document); });
        if (run == 0) {
            if (ours.string() != expected)
                std::printf("  the view and the plain loop disagree\n");
            continue; // the warm-up
        }
        ours.undoManager()->undo();
        paint(ours);
        oursTimes.push_back(oursMs);
        baselineTimes.push_back(baselineMs);
        ratios.push_back(oursMs / baselineMs);
    }
    const double ratio = bench::median(ratios);
    std::printf("Capitalize, all selected: ours %.1f ms, baseline %.1f ms, ratio %.3f (speed-up %.2fx)\n",
        bench::median(oursTimes), bench::median(baselineTimes), ratio, 1 / ratio);
    std::fflush(stdout);
}

void spellingMarks(const QString& document)
{
    EDTextView ours;
    show(ours);
    ours.setString(document);
    paint(ours);
    EDTextView plain;
    show(plain);
    plain.setString(document);
    paint(plain);

    // The dictionary is loaded first: its memory is not the marks'.
    platform::SpellChecker::shared().isCorrect(QStringLiteral("word"));
    const long before = residentMegabytes();
    ours.setIsContinuousSpellCheckingEnabled(true);
    const double checkMs = bench::milliseconds([&] {
        while (!ours.textCheckingController().isIdle())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    });
    const long marksMegabytes = residentMegabytes() - before;
    std::vector<std::pair<qint64, qint64>> ranges;
    ours.textLayoutManager().enumerateRenderingAttributes(
        0, false, [&](const platform::TextAttributes&, platform::TextRange range) {
            ranges.emplace_back(range.location, range.endLocation);
            return true;
        });
    const double bareMegabytes = double(ranges.size() * sizeof(ranges.front())) / (1024 * 1024);
    std::printf(
        "Spelling marks of the whole note: %zu marks, checked in %.0f ms; ours %ld MB, baseline %.1f MB, "
        "ratio %.1f\n",
        ranges.size(), checkMs, marksMegabytes, bareMegabytes, double(marksMegabytes) / bareMegabytes);
    std::fflush(stdout);

    std::vector<double> oursTimes, baselineTimes, ratios;
    for (int run = 0; run < 5; ++run) {
        const auto deleteAll = [](EDTextView& view) {
            return bench::milliseconds([&] {
                view.selectAll();
                view.delete_();
                paint(view);
            });
        };
        oursTimes.push_back(deleteAll(ours));
        baselineTimes.push_back(deleteAll(plain));
        ratios.push_back(oursTimes.back() / baselineTimes.back());
        ours.undoManager()->undo();
        plain.undoManager()->undo();
        paint(ours);
        paint(plain);
        // The marks come back as the restored text is checked again.
        while (!ours.textCheckingController().isIdle())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double ratio = bench::median(ratios);
    std::printf(
        "Select All, Delete with the marks: ours %.1f ms, baseline %.1f ms, ratio %.3f (speed-up %.2fx)\n",
        bench::median(oursTimes), bench::median(baselineTimes), ratio, 1 / ratio);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString document = bench::makeDocument(lineCount);
    if (argc >= 2 && QByteArray(argv[1]) == "--copy-only") {
        copyAll(document);
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--spelling-only") {
        spellingMarks(document);
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--capitalize-only") {
        capitalizeAll(document);
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--selection-only") {
        selectionSteps10Mb(document);
        return 0;
    }
    std::printf("document: %d lines, %.1f MB as UTF-8; views %d x %d, %s %d px, wrapping\n", lineCount,
        document.toUtf8().size() / 1e6, viewWidth, viewHeight, qPrintable(bench::documentFont().family()),
        bench::documentFont().pixelSize());
    std::fflush(stdout);
    selectionPart(document);
    copyAll(document);
    capitalizeAll(document);
    spellingMarks(document);
    return 0;
}
