// A note window whose note holds 100, 1,000 and 10,000 links, in an offscreen window:
// - open: the window made and shown, its links pane painted;
// - one link added: a record appended to the link store (as an add does once its page has come),
//   timed until the pane has followed and painted again.
// Each figure is printed against the 100-link figure of the same process. The links are shaped like
// saved web pages: most with a title and a description of one sentence to a paragraph, some with
// neither.
//
// With --screenshot FOLDER it instead writes links-pane.png and links-pane-dark.png there: the pane
// of a window whose note holds 60 links, in a light and a dark palette, scrolled to the top.

#include "app/model/TDLink.h"
#include "app/screens/note/TDLinksPane.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "bench/support/NoteWindow.h"
#include "bench/support/Links.h"
#include "bench/support/Rounds.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int rounds = 21;
constexpr double targetRatio = 1.5;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_linkspane: %s\n", what);
    std::exit(1);
}

TDLinksPane* paneOf(QMainWindow* window)
{
    auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
    return content->noteView() ? content->noteView()->linksPane() : nullptr;
}

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::unique_ptr<QMainWindow> openWindow(const bench::NoteLibrary& library)
{
    std::unique_ptr<QMainWindow> window(TDNoteWindow::makeWindow(library.note, library.stores(), nullptr));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(TDNoteWindow::defaultWidth, 600);
    window->show();
    QElapsedTimer waited;
    waited.start();
    while (!paneOf(window.get()) || paneOf(window.get())->isRenderPending()
        || paneOf(window.get())->cards().empty()) {
        QCoreApplication::processEvents();
        if (waited.elapsed() > 60'000)
            fail("the note window did not show its links");
    }
    window->repaint();
    return window;
}

struct Run {
    double openMilliseconds = 0;
    double addMilliseconds = 0;
    // The same append with no window open: what the store's change costs by itself.
    double storeMilliseconds = 0;
    int cardsBuilt = 0;
};

Run openAndAdd(bench::NoteLibrary& library, const std::vector<TDLink>& links, const TDLink& added)
{
    Run run;
    library.linkStore->setTdLinks(links);
    {
        std::vector<TDLink> withOneMore = links;
        withOneMore.push_back(added);
        const auto start = std::chrono::steady_clock::now();
        library.linkStore->setTdLinks(std::move(withOneMore));
        run.storeMilliseconds = since(start);
    }
    library.linkStore->setTdLinks(links);
    auto start = std::chrono::steady_clock::now();
    auto window = openWindow(library);
    run.openMilliseconds = since(start);
    TDLinksPane* pane = paneOf(window.get());
    run.cardsBuilt = static_cast<int>(pane->cards().size());
    for (int turn = 0; turn < 50; ++turn)
        QCoreApplication::processEvents();

    std::vector<TDLink> withOneMore = links;
    withOneMore.push_back(added);
    start = std::chrono::steady_clock::now();
    library.linkStore->setTdLinks(std::move(withOneMore));
    while (pane->isRenderPending())
        QCoreApplication::processEvents();
    window->repaint();
    run.addMilliseconds = since(start);
    if (pane->cards().empty())
        fail("the cards went away after the add");
    return run;
}

int screenshot(bench::NoteLibrary& library, const QString& folder)
{
    std::vector<TDLink> links;
    for (int i = 0; i < 60; ++i)
        links.push_back(bench::makeLink(i, library.note->id()));
    library.linkStore->setTdLinks(links);
    const QPalette light = QApplication::palette();
    for (bool dark : { false, true }) {
        QApplication::setPalette(dark ? bench::darkPalette() : light);
        auto window = openWindow(library);
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents();
        const QString file
            = dark ? QStringLiteral("/links-pane-dark.png") : QStringLiteral("/links-pane.png");
        if (!paneOf(window.get())->grab().save(folder + file))
            fail("could not write the screenshot");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir home(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-linkspane-XXXXXX"));
    if (!home.isValid())
        fail("no temporary folder");
    bench::NoteLibrary library(home.path(), QStringLiteral("Poster Series"), QStringLiteral("Layout grid"),
        bench::posterNoteText(), fail);
    if (argc >= 3 && QByteArray(argv[1]) == "--screenshot")
        return screenshot(library, QString::fromLocal8Bit(argv[2]));

    struct Size {
        int count;
        std::vector<TDLink> links;
        Run best;
    };
    std::vector<Size> sizes;
    for (int count : { 100, 1000, 10000 }) {
        std::vector<TDLink> links;
        for (int i = 0; i < count; ++i)
            links.push_back(bench::makeLink(i, library.note->id()));
        sizes.push_back({ count, std::move(links), {} });
    }
    const TDLink added = bench::makeLink(3, library.note->id());

    // Warm up fonts, styles and the text measurements once.
    openAndAdd(library, sizes.front().links, added);
    bench::rotatingRounds(
        sizes, rounds, [&](Size& size) { return openAndAdd(library, size.links, added); },
        [](Size& size, const Run& run, bool first) {
            bench::keepFastest(size.best.openMilliseconds, run.openMilliseconds, first);
            bench::keepFastest(size.best.addMilliseconds, run.addMilliseconds, first);
            bench::keepFastest(size.best.storeMilliseconds, run.storeMilliseconds, first);
            size.best.cardsBuilt = run.cardsBuilt;
        });

    const double openBaseline = sizes.front().best.openMilliseconds;
    const double addBaseline = sizes.front().best.addMilliseconds;
    std::printf("linkspane: note window %d x 600 offscreen; fastest of %d rounds\n",
        TDNoteWindow::defaultWidth, rounds);
    for (const auto& size : sizes) {
        std::printf("%6d links: open %.1f ms, %.2fx the 100-link open; one link added %.2f ms, %.2fx the "
                    "100-link add (target <= %.1fx at 10,000), of which the store's own change %.2f ms; "
                    "cards built %d\n",
            size.count, size.best.openMilliseconds, size.best.openMilliseconds / openBaseline,
            size.best.addMilliseconds, size.best.addMilliseconds / addBaseline, targetRatio,
            size.best.storeMilliseconds, size.best.cardsBuilt);
    }
    return 0;
}
