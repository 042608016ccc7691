// Find and replace in a 5 MB note shown in a text view (800 x 600, offscreen), against bare Qt on a
// QString holding the same text, in the same process:
// - every match of a common word, with the rendering attributes of the matches near the visible
//   text and the rectangles of the visible matches, against a QString::indexOf loop collecting
//   every match (case-sensitive and ignoring case, each against indexOf with the same case);
// - replace all of 50,000 matches through the finder (every match asked about, one undo step),
//   against QString::replace of the same word on a copy of the text.
// - typing a word into the find bar's field of a 10 MB note, key by key, against a full search for
//   each string the field holds on the way (with whole words off and on); then taking it back
//   with Backspace, key by key, against a full search for each string on the way back.
// Prints medians and ratios, and checks that the replacement is one undo step.
//
// With --screenshot FOLDER it instead writes find-bar.png and find-bar-dark.png there: a note
// window whose find bar was opened with Ctrl+F (Ctrl+H in the dark one, which shows the replace row)
// and given a word, every match highlighted.

#include "EDTextView/EDFindBar.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextSearch.h"
#include "EDTextView/EDTextView.h"
#include "app/model/TDNote.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "bench/support/Compare.h"
#include "bench/support/NoteWindow.h"
#include "platform/text/UndoManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr qsizetype noteUnits = 5'000'000;
constexpr int replacements = 50'000;
constexpr int runs = 9;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_find: %s\n", what);
    std::exit(1);
}

// Lines of 2 to 90 characters of common words, some capitalised, some accented; with `marker`,
// exactly `markers` of its words are `marker`, spread evenly.
QString makeNote(const QString& marker = QString(), int markers = 0, qsizetype units = noteUnits)
{
    static const char* const words[] = { "the", "quick", "brown", "fox", "jumps", "over", "a", "dog",
        "Tindrel", "reference", "note", "caf\u00e9", "na\u00efve", "project", "layout", "1234", "lorem",
        "ipsum", "dolor", "The", "sketch", "poster" };
    std::mt19937 random(42);
    QString text;
    text.reserve(units + 200);
    // About one word in six is a marker.
    const qsizetype markerEvery = markers > 0 ? units / markers : 0;
    qsizetype nextMarker = markerEvery / 2;
    int placed = 0;
    while (text.size() < units) {
        const int length = int(random() % 88) + 2;
        const qsizetype start = text.size();
        while (text.size() - start < length) {
            if (placed < markers && text.size() >= nextMarker) {
                text += marker;
                ++placed;
                nextMarker += markerEvery;
            } else {
                text += QString::fromUtf8(words[random() % std::size(words)]);
            }
            text += QLatin1Char(' ');
        }
        text += QLatin1Char('\n');
    }
    if (placed != markers)
        fail("the note did not get all its markers");
    return text;
}

void paint(EDTextView& view)
{
    view.viewport()->repaint();
    QCoreApplication::processEvents();
}

struct Timings {
    std::vector<double> ours;
    std::vector<double> baseline;
    void print(const char* name) const
    {
        const double oursMs = bench::median(ours), baselineMs = bench::median(baseline);
        std::printf("%s: ours %.2f ms, baseline %.2f ms, ratio %.3f\n", name, oursMs, baselineMs,
            oursMs / baselineMs);
        std::fflush(stdout);
    }
};

void findBenchmarks(EDTextView& view, const QString& text)
{
    EDTextFinder& finder = view.textFinder();
    EDTextFinderClient& client = view.textFinderClient();
    // In the middle of the note, with the bar shown: the highlights are put on.
    view.setSelectedRange({ text.size() / 2, 0 });
    view.scrollRangeToVisible({ text.size() / 2, 0 });
    finder.performAction(EDTextFinder::showFindInterface);
    paint(view);
    const QString word = QStringLiteral("the");
    for (const bool caseSensitive : { true, false }) {
        finder.setOptions({ caseSensitive, false });
        size_t found = 0;
        size_t rects = 0;
        std::vector<qsizetype> baselineMatches;
        bench::compare(
            caseSensitive
                ? "every match of \"the\" in a 5 MB note, case-sensitive, with the visible rectangles"
                : "every match of \"the\" in a 5 MB note, ignoring case, with the visible rectangles",
            [&] {
                finder.setSearchString(word);
                const auto visible = client.visibleCharacterRanges();
                if (visible.empty())
                    fail("nothing is visible");
                const platform::TextRange range(
                    visible.front().location, visible.front().location + visible.front().length);
                finder.prepareHighlights(range);
                rects = 0;
                const auto& matches = finder.matches();
                for (auto it = std::lower_bound(matches.begin(), matches.end(), range.location);
                     it != matches.end() && *it < range.endLocation; ++it) {
                    const platform::TextRange match = finder.matchRange(size_t(it - matches.begin()));
                    if (const auto frames = client.rectsForCharacterRange({ *it, match.length() }))
                        rects += frames->size();
                }
                found = matches.size();
            },
            [&] {
                baselineMatches.clear();
                const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
                for (qsizetype at = text.indexOf(word, 0, cs); at >= 0;
                     at = text.indexOf(word, at + word.size(), cs))
                    baselineMatches.push_back(at);
            },
            runs);
        if (found != baselineMatches.size() || rects == 0)
            fail("the finder and the baseline disagree");
        std::printf("  %zu matches, %zu visible rectangles\n", found, rects);
    }
    finder.performAction(EDTextFinder::hideFindInterface);
}

void replaceBenchmark(EDTextView& view, bool caseSensitive)
{
    const QString word = QStringLiteral("lazy");
    const QString replacement = QStringLiteral("sleepy");
    const QString text = makeNote(word, replacements);
    EDTextFinder& finder = view.textFinder();
    finder.setOptions({ caseSensitive, false });
    finder.setReplaceString(replacement);
    Timings timings;
    QString expected;
    for (int run = 0; run <= runs; ++run) {
        view.setString(text);
        paint(view);
        view.undoManager()->removeAllActions();
        const double ours = bench::milliseconds([&] {
            finder.setSearchString(word);
            finder.performAction(EDTextFinder::replaceAll);
        });
        if (run == 0) {
            if (finder.matches().size() != 0)
                fail("replace all left matches");
            // One undo step takes every replacement back.
            const QString replaced = view.string();
            view.undoManager()->undo();
            if (view.string() != text || view.undoManager()->canUndo())
                fail("replace all was not one undo step");
            view.undoManager()->redo();
            if (view.string() != replaced)
                fail("redo did not replace again");
            expected = replaced;
        }
        QString copy = text;
        copy.detach();
        const double baseline = bench::milliseconds([&] {
            copy.replace(word, replacement, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
        });
        if (run == 0) {
            if (copy != expected)
                fail("the finder and the baseline replaced differently");
            continue; // warm-up
        }
        timings.ours.push_back(ours);
        timings.baseline.push_back(baseline);
    }
    timings.print(caseSensitive
            ? "replace all of 50,000 matches in a 5 MB note, case-sensitive, one undo step"
            : "replace all of 50,000 matches in a 5 MB note, ignoring case, one undo step");
}

void typingBenchmark(EDTextView& view)
{
    const QString text = makeNote(QString(), 0, 2 * noteUnits);
    view.setString(text);
    view.setSelectedRange({ 0, 0 });
    paint(view);
    EDTextFinder& finder = view.textFinder();
    finder.performAction(EDTextFinder::showFindInterface);
    EDFindBar* bar = finder.findBar();
    if (!bar || !bar->isVisible())
        fail("the find bar did not show");
    // "refer" and "refere" can overlap themselves.
    const QString word = QStringLiteral("reference");
    for (const bool wholeWords : { false, true }) {
        finder.setOptions({ false, wholeWords });
        std::vector<double> laterKeys;
        std::vector<qint64> baselineMatches;
        bench::compare(
            wholeWords ? "typing \"reference\" into the find field of a 10 MB note, whole words"
                       : "typing \"reference\" into the find field of a 10 MB note",
            [&] {
                // A new run of typing, which starts with nothing kept from the last one.
                finder.performAction(EDTextFinder::hideFindInterface);
                finder.performAction(EDTextFinder::showFindInterface);
                bar->findField()->clear();
                finder.setSearchString(QString());
                for (qsizetype k = 0; k < word.size(); ++k) {
                    const QChar c = word[k];
                    const double ms = bench::milliseconds([&] {
                        bench::typeKey(bar->findField(), Qt::Key(c.toUpper().unicode()), QString(c));
                    });
                    if (k > 0)
                        laterKeys.push_back(ms);
                }
            },
            [&] {
                for (qsizetype k = 1; k <= word.size(); ++k)
                    baselineMatches
                        = EDTextSearch(view.textContentStorage(), word.first(k), finder.options()).all();
            },
            runs);
        if (finder.searchString() != word || finder.matches() != baselineMatches || baselineMatches.empty())
            fail("typing and a full search found different matches");
        std::printf("  %zu matches; each key after the first: median %.2f ms, slowest %.2f ms\n",
            baselineMatches.size(), bench::median(laterKeys), bench::percentile(laterKeys, 1));

        // Backspace goes back to strings typed a moment before.
        Timings backspace;
        std::vector<double> keys;
        for (int run = 0; run <= runs; ++run) {
            bar->findField()->clear();
            finder.setSearchString(QString());
            for (const QChar c : word)
                bench::typeKey(bar->findField(), Qt::Key(c.toUpper().unicode()), QString(c));
            double ours = 0;
            for (qsizetype k = word.size() - 1; k >= 1; --k) {
                const double ms = bench::milliseconds([&] { bench::typeKey(bar->findField(), Qt::Key_Backspace); });
                ours += ms;
                if (run > 0)
                    keys.push_back(ms);
                if (finder.searchString() != word.first(k))
                    fail("Backspace did not take one character back");
            }
            const double baseline = bench::milliseconds([&] {
                for (qsizetype k = word.size() - 1; k >= 1; --k)
                    baselineMatches
                        = EDTextSearch(view.textContentStorage(), word.first(k), finder.options()).all();
            });
            if (finder.matches() != baselineMatches)
                fail("Backspace and a full search found different matches");
            if (run == 0)
                continue; // warm-up
            backspace.ours.push_back(ours);
            backspace.baseline.push_back(baseline);
        }
        backspace.print(wholeWords ? "Backspace from \"reference\" to \"r\" in a 10 MB note, whole words"
                                   : "Backspace from \"reference\" to \"r\" in a 10 MB note");
        std::printf("  each Backspace: median %.3f ms, slowest %.3f ms\n", bench::median(keys),
            bench::percentile(keys, 1));
    }
    finder.performAction(EDTextFinder::hideFindInterface);
}

// The note window of a library in `home` with one project holding one note of `text`.
std::unique_ptr<QMainWindow> openNoteWindow(const QString& home, const QString& text)
{
    bench::NoteLibrary library(
        home, QStringLiteral("Poster Series"), QStringLiteral("Layout grid"), text, fail);
    std::unique_ptr<QMainWindow> window(TDNoteWindow::makeWindow(library.note, library.stores(), nullptr));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(TDNoteWindow::defaultWidth, 460);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 300)
        QCoreApplication::processEvents();
    return window;
}

int screenshots(const QString& home, const QString& folder)
{
    const QString text = bench::posterNoteText();
    const struct {
        bool dark;
        const char* file;
    } shots[] = { { false, "find-bar.png" }, { true, "find-bar-dark.png" } };
    const QPalette light = QApplication::palette();
    for (const auto& shot : shots) {
        QApplication::setPalette(shot.dark ? bench::darkPalette() : light);
        QTemporaryDir shotHome(home + QStringLiteral("/shot-XXXXXX"));
        auto window = openNoteWindow(shotHome.path(), text);
        auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
        EDTextView* view = content->noteView()->editor()->textView();
        view->setFocus();
        view->setSelectedRange({ 0, 0 });
        content->saveText();
        // The dark one with the replace row open.
        bench::typeKey(view, shot.dark ? Qt::Key_H : Qt::Key_F, {}, Qt::ControlModifier);
        EDFindBar* bar = view->textFinder().findBar();
        if (!bar || !bar->isVisible())
            fail("Ctrl+F did not show the find bar");
        bar->findField()->selectAll();
        for (const QChar c : QStringLiteral("the"))
            bench::typeKey(bar->findField(), Qt::Key(QChar(c).toUpper().unicode()), QString(c));
        bench::typeKey(bar->findField(), Qt::Key_Return);
        if (shot.dark)
            bar->replaceField()->setText(QStringLiteral("a"));
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents();
        if (!window->grab().save(folder + QLatin1Char('/') + QLatin1String(shot.file)))
            fail("could not write the screenshot");
        window->close();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--screenshot") {
        QTemporaryDir home;
        if (!home.isValid())
            fail("no temporary folder");
        return screenshots(home.path(), QString::fromLocal8Bit(argv[2]));
    }
    EDTextView view;
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(13);
    view.setFont(font);
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    const QString text = makeNote();
    view.setString(text);
    paint(view);
    findBenchmarks(view, text);
    replaceBenchmark(view, true);
    replaceBenchmark(view, false);
    typingBenchmark(view);
    return 0;
}
