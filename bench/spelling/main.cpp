// Spelling of a 20,000-word note, against a bare Hunspell::spell loop over the same words, already
// split and in UTF-8 (the least any checker must do):
// - the spell checker alone: a full check, the check of one paragraph, and how long the main
//   thread waits for a word while a worker checks the whole note;
// - as the text view uses it, through its checking controller: the whole note checked when
//   spelling is turned on (until every mark is in the view), the re-check of the one paragraph an
//   edit touched (from the end of the pause the controller waits for to the marks being in the
//   view), and the longest time the main thread is busy while the user types during full checks,
//   against the same typing with no check running;
// - "Learn Spelling" and "Unlearn Spelling" on one word of a 10 MB note with about 550,000 marks,
//   against a bare Hunspell::spell loop over the marked words (what checking every mark again costs
//   at the least).
//
// - a line of 10 MB with a misspelt word in every few, against the same words in paragraphs of
//   about 700 characters: the longest time the main thread is busy at a stretch while spelling is
//   turned on, and after a keystroke until the edit is re-checked, and the opening of the context
//   menu on a misspelt word.
//
// With --learning it measures only "Learn Spelling"; with --long-line only the long line. With --screenshot
// FOLDER it instead writes note-spelling.png there: a note window with spelling and grammar marks and the
// context menu open on a misspelt word. It needs a real display (see
// docs/screenshots/make-spelling-screenshot.sh).

#include "bench/support/Compare.h"
#include "bench/support/NoteWindow.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/EDTextViewDelegate.h"
#include "app/model/TDNote.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "platform/ui/SpellChecker.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <hunspell.hxx>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

using namespace platform;

namespace {

constexpr int wordCount = 20'000;
constexpr auto spellingOnly = unsigned(TextCheckingType::spelling);

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_spelling: %s\n", what);
    std::exit(1);
}

QString makeNote()
{
    static const char* const words[] = { "the", "project", "notes", "reference", "images", "were",
        "collected", "during", "our", "visit", "to", "the", "museum", "and", "later", "sorted", "into",
        "folders", "by", "colour", "theme", "and", "size", "a", "sketch", "of", "the", "building", "shows",
        "its", "windows", "which", "face", "north", "we", "should", "compare", "them", "with", "photographs",
        "taken", "yesterday", "afternoon", "when", "light", "was", "softer", "don't", "forget",
        "measurements", "for", "frame", "drawing", "paper", "ink", "brushes", "palette", "ideas", "later",
        "perhaps", "beautiful", "necessary", "occasionally", "architecture", "composition", "perspective",
        // Misspellings a typist makes, about one word in thirty.
        "teh", "recieve", "seperate", "definately", "occured" };
    std::mt19937 random(11);
    QString note;
    int inSentence = 0;
    for (int i = 0; i < wordCount; ++i) {
        QString word = QString::fromUtf8(words[random() % std::size(words)]);
        if (inSentence == 0)
            word[0] = word[0].toUpper();
        note += word;
        ++inSentence;
        if (inSentence > 6 && random() % 8 == 0) {
            note += random() % 20 == 0 ? QStringLiteral(".\n\n") : QStringLiteral(". ");
            inSentence = 0;
        } else {
            note += random() % 12 == 0 ? QStringLiteral(", ") : QStringLiteral(" ");
        }
    }
    return note + QLatin1Char('.');
}

size_t spellingMarks(const EDTextView& view)
{
    size_t count = 0;
    view.textLayoutManager().enumerateRenderingAttributes(
        0, false, [&](const TextAttributes& attributes, TextRange) {
            count += attributes.value(TextCheckingController::spellingStateKey).toString()
                == TextCheckingController::spellingValue;
            return true;
        });
    return count;
}

// Runs the event loop until the controller has nothing left to do; the worker's answers wake it.
void waitUntilIdle(TextCheckingController& controller)
{
    if (controller.isIdle())
        return;
    QEventLoop loop;
    QObject::connect(&controller, &TextCheckingController::becameIdle, &loop, &QEventLoop::quit);
    QTimer::singleShot(60'000, &loop, [] { fail("the check did not finish"); });
    loop.exec();
}

// Records when a timer fires, before anyone connected to it hears of it.
class TimerWatch : public QObject {
public:
    explicit TimerWatch(QObject& timer) { timer.installEventFilter(this); }
    std::chrono::steady_clock::time_point fired;
    bool hasFired = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer) {
            fired = std::chrono::steady_clock::now();
            hasFired = true;
        }
        return false;
    }
};

// The longest gaps between the ticks of a 1 ms timer while `work` runs for `milliseconds`, less the
// interval: how long the main thread was busy at a stretch. `work` is called on every tick.
std::pair<double, double> mainThreadGaps(int milliseconds, const std::function<void(int tick)>& work)
{
    std::vector<double> gaps;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    auto last = std::chrono::steady_clock::now();
    int tick = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        gaps.push_back(std::max(0.0, std::chrono::duration<double, std::milli>(now - last).count() - 1.0));
        work(tick++);
        last = std::chrono::steady_clock::now();
    });
    ticker.start();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    ticker.stop();
    return { bench::percentile(gaps, 0.99), bench::percentile(gaps, 1.0) };
}

void checkerAlone(const SpellChecker& checker, const QString& note, const std::vector<std::string>& words,
    Hunspell& bare, size_t& bareFound)
{
    size_t oursFound = 0;
    bench::compare(
        "full spelling check: SpellChecker::check vs a bare Hunspell::spell loop",
        [&] { oursFound = checker.check(note, spellingOnly).size(); },
        [&] {
            bareFound = 0;
            for (const std::string& word : words)
                bareFound += bare.spell(word) ? 0 : 1;
        },
        7);
    std::printf("misspellings found: ours %zu, bare loop %zu\n", oursFound, bareFound);
    if (oursFound != bareFound)
        fail("the checker and the bare loop disagree");

    const qsizetype paragraphStart = note.indexOf(QStringLiteral("\n\n"), note.size() / 2) + 2;
    const qsizetype paragraphEnd = note.indexOf(QStringLiteral("\n\n"), paragraphStart);
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        times.push_back(bench::milliseconds(
            [&] { checker.check(note, paragraphStart, paragraphEnd - paragraphStart, spellingOnly); }));
    }
    std::printf("check of one paragraph (%lld characters) by the checker alone: %.3f ms median\n",
        (long long)(paragraphEnd - paragraphStart), bench::median(times));

    // A worker checks the note again and again; the main thread asks about single words meanwhile.
    // The same questions with no worker running give the machine's own jitter.
    const auto longestWait = [&] {
        std::vector<double> waits;
        for (int i = 0; i < 2000; ++i) {
            waits.push_back(bench::milliseconds([&] { checker.isCorrect(QStringLiteral("seperate")); }));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return std::pair(bench::percentile(waits, 0.99), bench::percentile(waits, 1.0));
    };
    const auto [alone99, aloneLongest] = longestWait();
    std::atomic<bool> done { false };
    std::thread worker([&] {
        while (!done.load())
            checker.check(note, spellingOnly);
    });
    const auto [busy99, busyLongest] = longestWait();
    done = true;
    worker.join();
    std::printf("main-thread wait for one word while a worker checks the note: 99th percentile %.3f ms, "
                "longest %.3f ms (target < 16 ms); with no worker: %.3f ms, %.3f ms\n",
        busy99, busyLongest, alone99, aloneLongest);
}

// The view as a note window shows it: a window's size, shown, holding `note`.
void showNote(EDTextView& view, const QString& note)
{
    view.resize(800, 600);
    view.show();
    view.setString(note);
    QCoreApplication::processEvents();
}

void throughTheView(
    const QString& note, const std::vector<std::string>& words, Hunspell& bare, size_t bareFound)
{
    EDTextView view;
    showNote(view, note);
    TextCheckingController& controller = view.textCheckingController();

    // Turning checking off again between runs (it drops every mark) is not timed, nor is the
    // repaint that shows the marks gone.
    size_t marks = 0;
    const auto bareLoop = [&] {
        size_t found = 0;
        for (const std::string& word : words)
            found += bare.spell(word) ? 0 : 1;
        if (found != bareFound)
            fail("the bare loop changed its mind");
    };
    std::vector<double> oursTimes, bareTimes;
    for (int run = -1; run < 15; ++run) {
        view.setIsContinuousSpellCheckingEnabled(false);
        QCoreApplication::processEvents();
        const double ours = bench::milliseconds([&] {
            view.setIsContinuousSpellCheckingEnabled(true);
            waitUntilIdle(controller);
        });
        marks = spellingMarks(view);
        const double baseline = bench::milliseconds(bareLoop);
        // The first round warms both up.
        if (run >= 0) {
            oursTimes.push_back(ours);
            bareTimes.push_back(baseline);
        }
    }
    const double ours = bench::median(oursTimes), baseline = bench::median(bareTimes);
    std::printf("full spelling check through the text view's controller (turned on, until every mark is in "
                "the view) vs a bare Hunspell::spell loop: ours %.2f ms, baseline %.2f ms, ratio %.3f\n",
        ours, baseline, ours / baseline);
    std::printf("marks in the view: %zu, bare loop %zu\n", marks, bareFound);
    if (marks != bareFound)
        fail("the view's marks and the bare loop disagree");

    // An edit in the middle of a paragraph; the controller re-checks that paragraph once the user
    // pauses. Timed from the end of the pause to the marks being in the view.
    QTimer* quiet = controller.findChild<QTimer*>();
    if (!quiet)
        fail("no pause timer");
    TimerWatch watch(*quiet);
    std::chrono::steady_clock::time_point checked;
    qint64 checkedLength = 0;
    QObject::connect(&controller, &TextCheckingController::didCheck, [&](qint64, qint64 length) {
        checked = std::chrono::steady_clock::now();
        checkedLength = length;
    });
    const qsizetype paragraph = note.indexOf(QStringLiteral("\n\n"), note.size() / 2) + 2;
    const qsizetype inside = note.indexOf(QLatin1Char(' '), paragraph + 20);
    std::vector<double> recheck;
    for (int i = 0; i < 42; ++i) {
        watch.hasFired = false;
        view.replaceCharacters(i % 2 == 0 ? TextRange(inside) : TextRange(inside, inside + 1),
            i % 2 == 0 ? QStringLiteral("x") : QString());
        waitUntilIdle(controller);
        if (!watch.hasFired)
            fail("the re-check did not wait for a pause");
        recheck.push_back(std::chrono::duration<double, std::milli>(checked - watch.fired).count());
    }
    std::printf("re-check of the edited paragraph (%lld characters) through the controller: %.3f ms median, "
                "%.3f ms 90th percentile (target < 5 ms)\n",
        (long long)checkedLength, bench::median(recheck), bench::percentile(recheck, 0.9));

    // Typing about 60 characters a second into the note while its whole text is checked again
    // and again, against the same typing with checking off.
    view.setFocus();
    view.setSelectedRange({ inside, 0 });
    // A full check is over once the chunks checked add up to the note.
    qint64 checkedSinceStart = 0;
    int fullChecks = 0;
    QObject::connect(&controller, &TextCheckingController::didCheck,
        [&](qint64, qint64 length) { checkedSinceStart += length; });
    const auto typing = [&](bool checking) {
        return mainThreadGaps(3000, [&](int tick) {
            if (checking && (tick == 0 || checkedSinceStart >= note.size())) {
                fullChecks += tick > 0;
                checkedSinceStart = 0;
                view.setIsContinuousSpellCheckingEnabled(false);
                view.setIsContinuousSpellCheckingEnabled(true);
            }
            if (tick % 16 == 0)
                bench::typeKey(&view, tick % 32 == 0 ? Qt::Key_X : Qt::Key_Backspace,
                    tick % 32 == 0 ? QStringLiteral("x") : QString());
        });
    };
    view.setIsContinuousSpellCheckingEnabled(false);
    const auto [quiet99, quietLongest] = typing(false);
    const auto [busy99, busyLongest] = typing(true);
    std::printf("main thread busy at a stretch while typing during full checks (%d checks in 3 s): 99th "
                "percentile %.2f ms, longest %.2f ms (target < 16 ms); typing with checking off: %.2f ms, "
                "%.2f ms\n",
        fullChecks, busy99, busyLongest, quiet99, quietLongest);
    view.setIsContinuousSpellCheckingEnabled(false);
}

// A note of about 10 MB in which about two words in five are misspelt, each one of a few thousand
// misspellings, so that one of them stands in some hundred places.
QString makeLongNote(QString& learnt)
{
    static const char* const correct[] = { "the", "project", "notes", "reference", "images", "were",
        "collected", "during", "our", "visit", "museum", "and", "later", "sorted", "into", "folders" };
    std::mt19937 random(23);
    QStringList misspelt;
    for (int i = 0; i < 3000; ++i) {
        QString word;
        for (int letter = 0; letter < 5 + int(random() % 4); ++letter)
            word += QChar(u'a' + char16_t(random() % 26));
        misspelt << word;
    }
    learnt = misspelt[7];
    QString note;
    note.reserve(10'500'000);
    while (note.size() < 10'000'000) {
        for (int i = 0; i < 12; ++i) {
            note += random() % 100 < 39 ? misspelt[random() % misspelt.size()]
                                        : QString::fromUtf8(correct[random() % std::size(correct)]);
            note += QLatin1Char(' ');
        }
        note += random() % 10 == 0 ? QStringLiteral(".\n") : QStringLiteral(". ");
    }
    return note;
}

void learningOnALongNote(Hunspell& bare)
{
    QString learnt;
    const QString note = makeLongNote(learnt);
    EDTextView view;
    showNote(view, note);
    TextCheckingController& controller = view.textCheckingController();
    view.setIsContinuousSpellCheckingEnabled(true);
    waitUntilIdle(controller);
    std::vector<std::string> markedWords;
    view.textLayoutManager().enumerateRenderingAttributes(
        0, false, [&](const TextAttributes& attributes, TextRange run) {
            if (attributes.value(TextCheckingController::spellingStateKey).toString()
                == TextCheckingController::spellingValue)
                markedWords.push_back(note.mid(run.location, run.length()).toStdString());
            return true;
        });
    const size_t marks = markedWords.size();
    const auto occurrences = size_t(std::count(markedWords.begin(), markedWords.end(), learnt.toStdString()));
    std::printf("long note: %lld characters, %zu marks, %zu of \"%s\"\n", (long long)note.size(), marks,
        occurrences, learnt.toUtf8().constData());

    std::vector<double> learnTimes, unlearnTimes, bareTimes;
    for (int run = 0; run < 5; ++run) {
        learnTimes.push_back(bench::milliseconds([&] { controller.learnSpelling(learnt); }));
        if (spellingMarks(view) != marks - occurrences)
            fail("learning left marks of the learnt word, or took others");
        unlearnTimes.push_back(bench::milliseconds([&] {
            controller.unlearnSpelling(learnt);
            waitUntilIdle(controller);
        }));
        if (spellingMarks(view) != marks)
            fail("unlearning did not mark the word again");
        bareTimes.push_back(bench::milliseconds([&] {
            size_t found = 0;
            for (const std::string& word : markedWords)
                found += bare.spell(word) ? 0 : 1;
            if (found != marks)
                fail("the bare loop changed its mind");
        }));
    }
    const double learn = bench::median(learnTimes), unlearn = bench::median(unlearnTimes),
                 baseline = bench::median(bareTimes);
    std::printf("Learn Spelling on the long note (main thread, until the marks are gone) vs a bare "
                "Hunspell::spell loop over the marked words: ours %.2f ms, baseline %.2f ms, ratio %.3f\n",
        learn, baseline, learn / baseline);
    std::printf("Unlearn Spelling on the long note (until the word is marked again): %.2f ms, ratio %.3f\n",
        unlearn, unlearn / baseline);
}

// The longest stretch the main thread is busy, less a 1 ms timer's interval, from `start` until the
// controller has nothing left to do.
double longestStretchUntilIdle(TextCheckingController& controller, const std::function<void()>& start)
{
    double longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    auto last = std::chrono::steady_clock::now();
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count() - 1.0);
        last = now;
    });
    ticker.start();
    start();
    longest = std::max(
        longest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - last).count());
    last = std::chrono::steady_clock::now();
    waitUntilIdle(controller);
    return longest;
}

struct LongTextFigures {
    double firstCheck = 0;
    double recheck = 0;
    double menu = 0;
};

LongTextFigures checkLongText(const QString& text)
{
    EDTextView view;
    auto delegate = std::make_shared<EDTextViewDelegate>();
    view.setDelegate(delegate);
    showNote(view, text);
    TextCheckingController& controller = view.textCheckingController();
    LongTextFigures figures;
    std::vector<double> firstChecks, rechecks, menus;
    const qsizetype middle = text.indexOf(QStringLiteral("wrod"), text.size() / 2);
    for (int run = 0; run < 5; ++run) {
        view.setIsContinuousSpellCheckingEnabled(false);
        QCoreApplication::processEvents();
        firstChecks.push_back(
            longestStretchUntilIdle(controller, [&] { view.setIsContinuousSpellCheckingEnabled(true); }));
        // A letter typed into a correct word and taken out again; the caret then leaves it.
        for (const bool typing : { true, false }) {
            view.setSelectedRange({ middle + 6, 0 });
            rechecks.push_back(longestStretchUntilIdle(controller, [&] {
                bench::typeKey(
                    &view, typing ? Qt::Key_X : Qt::Key_Backspace, typing ? QStringLiteral("x") : QString());
                view.setSelectedRange({ 0, 0 });
            }));
        }
        view.setSelectedRange({ middle + 2, 0 });
        menus.push_back(bench::milliseconds([&] {
            if (!view.menuForEvent(nullptr))
                fail("no context menu");
        }));
    }
    figures.firstCheck = bench::median(firstChecks);
    figures.recheck = bench::median(rechecks);
    figures.menu = bench::median(menus);
    return figures;
}

void spellingALongLine()
{
    const QString sentence = QStringLiteral("The wrod we sketched on the paper was seperate from the rest. ");
    QString line;
    while (line.size() < 10'000'000)
        line += sentence;
    QString paragraphs = line;
    for (qsizetype at = 700; at < paragraphs.size(); at += 700) {
        at = paragraphs.indexOf(QLatin1Char(' '), at);
        if (at < 0)
            break;
        paragraphs[at] = QLatin1Char('\n');
    }
    const LongTextFigures ours = checkLongText(line);
    const LongTextFigures baseline = checkLongText(paragraphs);
    std::printf("a 10 MB line vs the same words in paragraphs of about 700 characters, longest time the main "
                "thread is busy at a stretch:\n");
    std::printf("  while spelling is turned on: %.2f ms vs %.2f ms, ratio %.2f\n", ours.firstCheck,
        baseline.firstCheck, ours.firstCheck / baseline.firstCheck);
    std::printf("  after a keystroke, until the edit is re-checked: %.2f ms vs %.2f ms, ratio %.2f\n",
        ours.recheck, baseline.recheck, ours.recheck / baseline.recheck);
    std::printf("  opening the context menu on a misspelt word: %.2f ms vs %.2f ms, ratio %.2f\n", ours.menu,
        baseline.menu, ours.menu / baseline.menu);
}

void settle(int milliseconds)
{
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

int screenshot(const QString& home, const QString& folder)
{
    const QString text = QStringLiteral("Ideas for the poster series\n"
                                        "\n"
                                        "The headline sits on three baselines, and the dates go "
                                        "undernaeth in a lighter wieght.\n"
                                        "Try a photo that bleeds off the top edge; check the margins "
                                        "on the proofs.\n"
                                        "Poster the for quickly printer went.\n"
                                        "\n"
                                        "Questions for the printer\n"
                                        "- Can they match the fluorescent pink?\n"
                                        "- How long does a run of two hundred take?\n"
                                        "- Is the paper recieved in time for Friday?\n");
    bench::NoteLibrary library(home, QStringLiteral("Poster Series"), QStringLiteral("Ideas"), text, fail);
    std::unique_ptr<QMainWindow> window(TDNoteWindow::makeWindow(library.note, library.stores(), nullptr));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(1000, 540);
    window->move(60, 60);
    window->show();
    auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
    QElapsedTimer waited;
    waited.start();
    while (!content->noteView() || content->noteView()->editor()->textView()->string() != text) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (waited.elapsed() > 10'000)
            fail("the note window did not show the note");
    }
    EDTextView* view = content->noteView()->editor()->textView();
    view->setFocus();
    view->toggleContinuousSpellChecking();
    view->toggleGrammarChecking();
    waitUntilIdle(view->textCheckingController());
    settle(300);

    content->saveText();
    // A right click on "recieved", as the view handles one: the word is selected and the menu pops
    // up at the pointer.
    const qsizetype word = text.indexOf(QStringLiteral("recieved"));
    view->setSelectedRange({ word, 8 });
    view->layoutIfNeeded();
    const QRect first = view->firstRect({ word + 4, 1 });
    const QPoint global = first.center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, view->viewport()->mapFromGlobal(global), global);
    QMenu* menu = view->menuForEvent(&event);
    if (!menu)
        fail("no context menu");
    menu->popup(global + QPoint(2, 2));
    settle(600);
    const QRect area = window->frameGeometry().united(menu->geometry()).adjusted(-2, -2, 2, 4);
    const QPixmap shot
        = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!shot.save(folder + QStringLiteral("/note-spelling.png")))
        fail("could not write the screenshot");
    menu->close();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool screenshotMode = argc >= 3 && QByteArray(argv[1]) == "--screenshot";
    if (!screenshotMode && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A home of its own: the personal word list and the user's settings are never read or written.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/bench-spelling-XXXXXX"));
    if (!home.isValid())
        fail("no temporary folder");
    qputenv("HOME", home.path().toUtf8());
    for (const char* name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME" })
        qunsetenv(name);
    QApplication app(argc, argv);
    if (screenshotMode)
        return screenshot(home.path(), QString::fromLocal8Bit(argv[2]));

    SpellChecker::Configuration configuration;
    configuration.language = QStringLiteral("en_US");
    configuration.personalWordListPath = home.filePath(QStringLiteral("learned-words.txt"));
    const SpellChecker checker(configuration);
    if (!SpellChecker::shared().setLanguage(QStringLiteral("en_US")))
        fail("no en_US dictionary");
    Hunspell bare("/usr/share/hunspell/en_US.aff", "/usr/share/hunspell/en_US.dic");

    // With --learning, only Learn and Unlearn Spelling on the long note; with --long-line, only the
    // long line.
    if (argc >= 2 && QByteArray(argv[1]) == "--learning") {
        learningOnALongNote(bare);
        return 0;
    }
    if (argc >= 2 && QByteArray(argv[1]) == "--long-line") {
        spellingALongLine();
        return 0;
    }
    const QString note = makeNote();
    std::vector<std::string> words;
    for (const QString& word : note.split(QRegularExpression(QStringLiteral("[\\s.,]+")), Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    std::printf("note: %zu words, %lld characters\n", words.size(), (long long)note.size());

    size_t bareFound = 0;
    checkerAlone(checker, note, words, bare, bareFound);
    throughTheView(note, words, bare, bareFound);
    learningOnALongNote(bare);
    spellingALongLine();
    return 0;
}
