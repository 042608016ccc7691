// Benchmark of the line-number ruler, offscreen: a 200,000-paragraph note (10 MB) in an 800 x 600
// text view, DejaVu Sans Mono 13 px, lines wrapping. At the top, the middle and the end of the
// note it times the ruler's rebuild of its visible numbers (what the text view asks for after each
// viewport layout and on each selection change) against the text view's own viewport layout pass
// over a viewport of the same size (its fragments already laid out, as on a caret move); and the
// ruler's whole redraw (rebuild, then paint) against the text view's (layout pass, then paint).
// Targets: the rebuild at most 25% of the pass, and the same cost at all three places (no walk
// over the paragraphs above). Painting grows with the number of digits, fewer at the top.
//
// With --screenshot DIR it instead writes DIR/text-view-ruler.png and DIR/text-view-ruler-dark.png:
// a note with line numbers, wrapped lines, markers, the caret's line and a selection, in the light
// palette and in a dark one.

#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDRulerMarker.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "bench/support/Compare.h"
#include "bench/support/Document.h"
#include "platform/foundation/Print.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QScrollBar>

#include <memory>
#include <vector>

using platform::print;

namespace {

constexpr int paragraphCount = 200000;
constexpr int viewWidth = 800;
constexpr int viewHeight = 600;
// Calls per timed sample: a single pass takes tens of microseconds.
constexpr int callsPerSample = 200;
constexpr int samples = 15;

void settle(EDTextView& view)
{
    QCoreApplication::processEvents();
    view.layoutIfNeeded();
    QCoreApplication::processEvents();
}

// The median time of one call of each work, in microseconds. Each of `samples` rounds times
// `callsPerSample` calls of every work in turn, so that a slow spell of a shared machine falls on
// all of them alike.
std::vector<double> microsecondsPerCall(const std::vector<std::function<void()>>& works)
{
    std::vector<std::vector<double>> times(works.size());
    for (int sample = 0; sample < samples; ++sample) {
        for (size_t i = 0; i < works.size(); ++i) {
            const double ms = bench::milliseconds([&] {
                for (int call = 0; call < callsPerSample; ++call)
                    works[i]();
            });
            times[i].push_back(ms * 1000 / callsPerSample);
        }
    }
    std::vector<double> medians;
    for (const auto& series : times)
        medians.push_back(bench::median(series));
    return medians;
}

int runBenchmark()
{
    const QString document = bench::makeDocument(paragraphCount);
    // The ruler's view, and a view without a ruler whose viewport has the same size, for the
    // baseline (a view's layout pass with a ruler includes the ruler's rebuild).
    EDTextView withRuler;
    withRuler.setFont(bench::documentFont());
    withRuler.resize(viewWidth, viewHeight);
    withRuler.setString(document);
    withRuler.setIsRulerVisible(true);
    auto* ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(withRuler));
    ruler->setHighlightSelectedLine(true);
    withRuler.show();
    settle(withRuler);
    // Let the ruler reach the width of the widest number first, so every place has the same viewport.
    withRuler.scrollToEndOfDocument();
    settle(withRuler);
    withRuler.scrollToBeginningOfDocument();
    settle(withRuler);

    EDTextView bare;
    bare.setFont(bench::documentFont());
    bare.resize(viewWidth - withRuler.viewport()->x(), viewHeight);
    bare.setString(document);
    bare.show();
    settle(bare);

    print(QStringLiteral("document: %1 paragraphs, %2 MB as UTF-8; view %3 x %4, %5 %6 px, wrapping; "
                         "ruler %7 px, viewports %8 x %9")
              .arg(paragraphCount)
              .arg(document.toUtf8().size() / 1e6, 0, 'f', 1)
              .arg(viewWidth)
              .arg(viewHeight)
              .arg(bench::documentFont().family())
              .arg(bench::documentFont().pixelSize())
              .arg(ruler->requiredThickness())
              .arg(withRuler.viewport()->width())
              .arg(withRuler.viewport()->height()));

    struct Place {
        const char* name;
        platform::TextLocation caret;
    };
    const qint64 middle = [&] {
        qint64 at = 0;
        for (int line = 0; line < paragraphCount / 2; ++line)
            at = document.indexOf(QLatin1Char('\n'), at) + 1;
        return at;
    }();
    const Place places[] = { { "top", 0 }, { "middle", middle }, { "end", document.size() } };
    double firstRebuild = 0;
    double firstRedraw = 0;
    for (const Place& place : places) {
        for (EDTextView* view : { &withRuler, &bare }) {
            view->setSelectedTextRange(platform::TextRange(place.caret));
            view->scrollTextRangeToVisible(platform::TextRange(place.caret));
            settle(*view);
        }
        platform::TextViewportLayoutController& controller
            = bare.textLayoutManager().textViewportLayoutController();
        const std::vector<double> times = microsecondsPerCall({
            [&] { controller.layoutViewport(); },
            [&] {
                controller.layoutViewport();
                bare.viewport()->repaint();
            },
            [&] { ruler->invalidateHashMarks(); },
            [&] {
                ruler->invalidateHashMarks();
                ruler->repaint();
            },
        });
        const double pass = times[0], viewRedraw = times[1], rebuild = times[2], redraw = times[3];
        if (firstRebuild == 0) {
            firstRebuild = rebuild;
            firstRedraw = redraw;
        }
        print(
            QStringLiteral("at the %1 (lines %2-%3): ruler rebuild %4 us, with its paint %5 us; the text "
                           "view's layout pass %6 us, with its paint %7 us. Rebuild / pass %8 (target <= "
                           "0.25); redraw / the view's redraw %9; rebuild %10x and redraw %11x those at the "
                           "top (target about 1)")
                .arg(QString::fromLatin1(place.name))
                .arg(ruler->lines().empty() ? 0 : ruler->lines().front().number)
                .arg(ruler->lines().empty() ? 0 : ruler->lines().back().number)
                .arg(rebuild, 0, 'f', 1)
                .arg(redraw, 0, 'f', 1)
                .arg(pass, 0, 'f', 1)
                .arg(viewRedraw, 0, 'f', 1)
                .arg(rebuild / pass, 0, 'f', 2)
                .arg(redraw / viewRedraw, 0, 'f', 3)
                .arg(rebuild / firstRebuild, 0, 'f', 2)
                .arg(redraw / firstRedraw, 0, 'f', 2));
    }
    return 0;
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x32, 0x32, 0x32);
    const QColor base(0x22, 0x20, 0x20);
    const QColor text(0xe0, 0xe0, 0xe0);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3d, 0x3d, 0x3d));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x00, 0x58, 0xd0));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x8a));
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4a));
    palette.setColor(QPalette::Mid, QColor(0x2a, 0x2a, 0x2a));
    palette.setColor(QPalette::Dark, QColor(0x1a, 0x1a, 0x1a));
    return palette;
}

// Two views of one note side by side: on the left the caret with its line's band and two markers,
// on the right a selection over a wrapped paragraph, scrolled to where the numbers have three
// digits.
std::unique_ptr<QWidget> makeScreenshotWindow()
{
    const char* const paragraphs[] = {
        "Poster series: print run",
        "",
        "Quotes came back from three print shops. The riso studio is cheapest for two colours but "
        "cannot do the fluorescent pink; the offset printer can, at almost twice the price per sheet.",
        "- riso, two colours, 250 sheets",
        "- offset, four colours plus pink, 500 sheets",
        "- digital proofs first, on the heavier paper",
        "",
        "Paper: uncoated 170 g for the posters, 300 g for the postcards. Ask whether the mill can send "
        "samples of the warm white before the order goes out.",
        "Deadline for artwork is the 14th; the shop needs the files as PDF/X-4 with bleed.",
    };
    QString text;
    for (int copy = 0; copy < 14; ++copy) {
        for (const char* paragraph : paragraphs)
            text += QString::fromUtf8(paragraph) + QLatin1Char('\n');
    }
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Print run quotes"));
    auto* layout = new QHBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    QFont font("DejaVu Sans");
    font.setPixelSize(14);
    EDTextView* views[2];
    for (EDTextView*& view : views) {
        view = new EDTextView(window.get());
        view->setFont(font);
        view->setString(text);
        view->setIsRulerVisible(true);
        auto* ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*view));
        ruler->setHighlightSelectedLine(true);
        ruler->setAllowsMarkers(true);
        layout->addWidget(view);
    }
    window->resize(1040, 460);
    window->show();
    for (EDTextView* view : views)
        settle(*view);
    const qint64 quotes = text.indexOf(QStringLiteral("Quotes came back"));
    views[0]->setSelectedTextRange(platform::TextRange(quotes + 40));
    // The sixth copy of the paragraphs, shown from the middle of the fifth.
    const qint64 copyLength = text.size() / 14;
    const qint64 paper = text.indexOf(QStringLiteral("Paper:"), 5 * copyLength);
    views[1]->scrollTextRangeToVisible(platform::TextRange(4 * copyLength + copyLength / 2));
    settle(*views[1]);
    views[1]->scrollTextRangeToVisible(platform::TextRange(paper + 150));
    views[1]->setSelectedTextRange(platform::TextRange(paper + 7, paper + 150));
    for (EDTextView* view : views)
        settle(*view);
    // Two markers on the left, put there by clicks in the ruler as a user would.
    auto* ruler = platform::RulerView::verticalRuler(*views[0]);
    for (const char* at : { "- offset", "Deadline" }) {
        QRectF line;
        views[0]->textLayoutManager().enumerateTextSegments(
            platform::TextRange(text.indexOf(QString::fromUtf8(at))),
            platform::TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<platform::TextRange>, QRectF frame, double) {
                line = frame;
                return false;
            });
        const QPointF point(
            ruler->width() / 2.0, ruler->convertFromClient(QPointF(0, line.center().y())).y());
        QMouseEvent press(QEvent::MouseButtonPress, point, ruler->mapToGlobal(point), Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(ruler, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point, ruler->mapToGlobal(point), Qt::LeftButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(ruler, &release);
    }
    for (EDTextView* view : views)
        settle(*view);
    return window;
}

int writeScreenshots(const QString& folder)
{
    QDir().mkpath(folder);
    for (const bool dark : { false, true }) {
        if (dark)
            QApplication::setPalette(darkPalette());
        auto window = makeScreenshotWindow();
        QCoreApplication::processEvents();
        const QString name
            = dark ? QStringLiteral("text-view-ruler-dark.png") : QStringLiteral("text-view-ruler.png");
        if (!window->grab().save(QDir(folder).filePath(name))) {
            print(QStringLiteral("could not write %1").arg(QDir(folder).filePath(name)));
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--screenshot")
        return writeScreenshots(QString::fromLocal8Bit(argv[2]));
    return runBenchmark();
}
