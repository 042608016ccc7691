// Opens a project's workspace with 100, 1,000 and 16,000 notes in an offscreen window, and prints at
// each size the time to its first painted frame against the 100-note figure of the same process,
// then the time for one note added while the workspace shows, against the 100-note add.

#include "app/TDStores.h"
#include "app/model/TDCategory.h"
#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Rounds.h"

#include <QApplication>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int rounds = 7;
constexpr double targetRatio = 1.5;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_noteslist: %s\n", what);
    std::exit(1);
}

std::shared_ptr<TDNote> makeNote(const platform::Uuid& project, int i)
{
    static const char* const titles[] = { "Sketches", "Plot outline", "Colour studies for the winter show",
        "Interview", "\u5C55\u89A7\u4F1A\u306E\u30E1\u30E2" };
    // A day apart, with every fifth note sharing its neighbour's day.
    const double date = 7.5e8 + 86400.0 * (i - i / 5);
    return TDNote::make(platform::Uuid::random(), project,
        QStringLiteral("%1 %2").arg(QString::fromUtf8(titles[i % 5])).arg(i),
        platform::Url::fileUrl(QStringLiteral("/tmp/bench-notes/%1.txt").arg(i)), platform::Date(date));
}

struct Run {
    double showMilliseconds = 0;
    double addMilliseconds = 0;
};

// One opening of the workspace: made and shown in a fresh window, timed until its first frame has
// been painted; then one note added to the project while it shows (the newest, so its row is out of
// view), timed until the window has painted again.
Run showAndAdd(TDStores& stores, const std::shared_ptr<TDProject>& project,
    const std::vector<std::shared_ptr<TDNote>>& notes, int serial)
{
    project->setTdNote(notes);
    QCoreApplication::processEvents();
    Run run;
    QWidget window;
    window.resize(1300, 760);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto start = std::chrono::steady_clock::now();
    auto* view = new TDProjectDetailView(project, stores, &window);
    layout->addWidget(view);
    window.show();
    QCoreApplication::processEvents();
    window.repaint();
    run.showMilliseconds
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (view->noteItems().empty())
        fail("no row was built");

    for (int turn = 0; turn < 20; ++turn)
        QCoreApplication::processEvents();
    auto withOneMore = notes;
    withOneMore.push_back(makeNote(project->id(), serial));
    start = std::chrono::steady_clock::now();
    project->setTdNote(std::move(withOneMore));
    QCoreApplication::processEvents();
    window.repaint();
    run.addMilliseconds
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (view->noteItems().empty())
        fail("the rows went away after the add");
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    TDProject::Fields fields;
    fields.name = QStringLiteral("Alpha");
    fields.category = stores.categoryStore->tdCategories().front();
    fields.id = platform::Uuid::random();
    auto project = TDProject::make(std::move(fields));
    stores.projectStore->setTdProjects({ project });

    struct Size {
        int count;
        std::vector<std::shared_ptr<TDNote>> notes;
        Run best;
    };
    std::vector<Size> sizes;
    for (int count : { 100, 1000, 16000 }) {
        Size size { count, {}, {} };
        for (int i = 0; i < count; ++i)
            size.notes.push_back(makeNote(project->id(), i));
        sizes.push_back(std::move(size));
    }

    int serial = 1000000;
    // Warm up fonts, styles and the locale's measurements once.
    showAndAdd(stores, project, sizes.front().notes, serial++);
    bench::rotatingRounds(
        sizes, rounds, [&](Size& size) { return showAndAdd(stores, project, size.notes, serial++); },
        [](Size& size, const Run& run, bool first) {
            bench::keepFastest(size.best.showMilliseconds, run.showMilliseconds, first);
            bench::keepFastest(size.best.addMilliseconds, run.addMilliseconds, first);
        });

    const double baseline = sizes.front().best.showMilliseconds;
    const double addBaseline = sizes.front().best.addMilliseconds;
    std::printf("noteslist: 1300 x 760 offscreen window; fastest of %d runs\n", rounds);
    for (const auto& size : sizes) {
        std::printf("%6d notes: show %.1f ms, %.2fx the 100-note figure (target <= %.1fx at 16,000); "
                    "one note added while showing %.2f ms, %.2fx the 100-note figure (target <= %.1fx)\n",
            size.count, size.best.showMilliseconds, size.best.showMilliseconds / baseline, targetRatio,
            size.best.addMilliseconds, size.best.addMilliseconds / addBaseline, targetRatio);
    }
    return 0;
}
