// Loading libraries of 100, 1,000 and 10,000 projects with 10 notes each, and saving the one of
// 1,000, against bare Qt doing the same work on the same bytes in this process: a QJsonDocument
// parse for loading, and a QJsonDocument serialisation plus a QSaveFile write for saving. Prints the
// time of each, the ratios, and the memory each loaded project holds. Then the time a save of 10,000
// projects holds the main thread, against the encoding it hands to the file's queue.
//
// Then the program's own start-up, each in a fresh child process so that no earlier run leaves
// memory behind: the main window shown offscreen, the library loaded into the stores and the grid
// built. Prints the resident memory it holds against the start-up with an empty library.

#include "app/TindrelApp.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Memory.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Url.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMainWindow>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

constexpr int notesPerProject = 10;
constexpr int savedProjectCount = 1000;

tdlibrary::ProjectList makeLibrary(const QString& folder, int projectCount)
{
    tdlibrary::ProjectList projects;
    for (int p = 0; p < projectCount; ++p) {
        TDProject::Fields fields;
        fields.name = QStringLiteral("Project %1").arg(p);
        fields.category = TDCategory::make(platform::Uuid::random(), QStringLiteral("Graphic design"));
        fields.id = platform::Uuid::random();
        fields.quickAccessURL
            = { *platform::Url::fromString(QStringLiteral("https://example.com/p/%1").arg(p)) };
        fields.startDate = platform::Date(786840000.0 + p * 3600.5);
        fields.coverImageURL
            = platform::Url::fileUrl(folder + fields.name + QStringLiteral("/c-cover-image.jpeg"));
        for (int n = 0; n < notesPerProject; ++n) {
            QString title = QStringLiteral("Note %1").arg(n);
            fields.tdNote.push_back(TDNote::make(platform::Uuid::random(), fields.id, title,
                platform::Url::fileUrl(folder + fields.name + "/notes/" + title + "/" + title + ".txt"),
                platform::Date(786840000.0 + p * 3600.5 + n * 0.125)));
        }
        projects.push_back(TDProject::make(std::move(fields)));
    }
    return projects;
}

// The fastest of `rounds` runs, in milliseconds: the least disturbed by other work on the machine.
// `untimed` runs before each run, outside the clock (to drop what the previous run kept).
double fastestMs(
    const std::function<void()>& work, int rounds = 15, const std::function<void()>& untimed = {})
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        if (untimed)
            untimed();
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return *std::min_element(times.begin(), times.end());
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_library: %s\n", what);
    std::exit(1);
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
qint64 statusBytes(const char* field)
{
    return qint64(bench::statusKilobytes(field)) * 1024;
}

// The child: starts the program on the library under `root` as `main` does, offscreen, and prints
// the time from showing the window to the end of the load, then the resident, peak resident and
// heap bytes once the grid has been built.
int startUp(int argc, char** argv, const QString& root)
{
    TindrelApp::configureAllocator();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    platform::Environment::setRoots(
        { root + "/Documents", root + "/Caches", root + "/settings.ini", std::nullopt });
    TindrelApp tindrel;
    const auto start = std::chrono::steady_clock::now();
    tindrel.showMainWindow();
    bool loaded = false;
    tindrel.loadLibraries([&] { loaded = true; });
    while (!loaded)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double loadMs
        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    tindrel.mainWindow()->repaint();
    QCoreApplication::processEvents();
    std::printf(
        "%.1f %lld %lld %lld\n", loadMs, statusBytes("VmRSS"), statusBytes("VmHWM"), bench::heapInUse());
    return 0;
}

struct StartUp {
    double loadMs = 0;
    double resident = 0;
    double peak = 0;
    double heap = 0;
};

StartUp runStartUp(const QString& program, const QString& root)
{
    QProcess child;
    child.start(program, { QStringLiteral("--start-up"), root });
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "%s", child.readAllStandardError().constData());
        fail("the start-up child failed");
    }
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 4)
        fail("the start-up child printed something else");
    return { fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble(), fields[3].toDouble() };
}

// Start-up with an empty library and with libraries of each size, one fresh process each.
void measureStartUp(const QString& program)
{
    std::printf("start-up: the main window shown offscreen, the library loaded and the grid built, in a "
                "fresh process each; added = resident memory over the empty library's (for a small library "
                "mostly the grid's cards, about half a megabyte)\n");
    StartUp empty;
    for (int projectCount : { 0, 100, 1000, 10000 }) {
        QTemporaryDir root;
        if (!root.isValid())
            fail("no temporary folder");
        const QString library = root.path() + "/Documents/Tindrel.folder/";
        QDir().mkpath(library);
        qint64 filesBytes = 0;
        auto write = [&](const QString& name, const QByteArray& bytes) {
            if (!platform::FileManager::writeAtomically(platform::Url::fileUrl(library + name), bytes))
                fail("could not write the library");
            filesBytes += bytes.size();
        };
        write(QStringLiteral("projects.library"),
            tdlibrary::encodeProjects(makeLibrary(library, projectCount)).value());
        write(QStringLiteral("media.library"), "[]");
        write(QStringLiteral("links.library"), "[]");
        const StartUp run = runStartUp(program, root.path());
        if (projectCount == 0) {
            empty = run;
            std::printf(
                "start-up, empty library: %.0f ms; resident %.1f MB, peak %.1f MB, heap in use %.1f MB\n",
                run.loadMs, run.resident / 1e6, run.peak / 1e6, run.heap / 1e6);
            continue;
        }
        const double added = run.resident - empty.resident;
        std::printf(
            "start-up %6d projects (%5.1f MB of files): load %4.0f ms; resident %6.1f MB, added %5.1f MB "
            "= %.2fx the files%s; peak %6.1f MB; heap %.2f KB per project\n",
            projectCount, filesBytes / 1e6, run.loadMs, run.resident / 1e6, added / 1e6, added / filesBytes,
            projectCount == 10000 ? " (target <= 2x)" : "", run.peak / 1e6,
            (run.heap - empty.heap) / projectCount / 1024);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--start-up") == 0)
        return startUp(argc, argv, QString::fromLocal8Bit(argv[2]));
    QCoreApplication application(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--start-up-only") == 0) {
        measureStartUp(QCoreApplication::applicationFilePath());
        return 0;
    }
    QTemporaryDir folder;
    if (!folder.isValid())
        fail("no temporary folder");
    const QString path = folder.path() + "/projects.library";
    const platform::Url url = platform::Url::fileUrl(path);

    std::printf(
        "library: projects x %d notes each; load = read + strict decode, against a bare QJsonDocument "
        "parse of the same file; fastest of several runs\n",
        notesPerProject);
    for (int projectCount : { 100, 1000, 10000 }) {
        QByteArray bytes;
        {
            auto made = makeLibrary(folder.path() + "/Tindrel.folder/", projectCount);
            bytes = tdlibrary::encodeProjects(made).value();
        }
        if (!platform::FileManager::writeAtomically(url, bytes))
            fail("could not write the library");
        const int rounds = projectCount >= 10000 ? 7 : 15;
        // A load keeps what it made: the decoded projects, or the parsed document. Both are
        // dropped outside the clock; what a load makes and throws away on the way is inside it.
        tdlibrary::ProjectList loaded;
        QJsonDocument parsed;
        const double loadOurs = fastestMs(
            [&] {
                auto read = platform::FileManager::readRegularFile(url);
                auto decoded = tdlibrary::decodeProjects(read.value());
                if (!decoded || int(decoded.value().size()) != projectCount)
                    fail("decoding failed");
                loaded = std::move(decoded).value();
            },
            rounds, [&] { loaded.clear(); });
        const double loadBare = fastestMs(
            [&] {
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly))
                    fail("could not open the library");
                parsed = QJsonDocument::fromJson(file.readAll());
                if (parsed.array().size() != projectCount)
                    fail("parsing failed");
            },
            rounds, [&] { parsed = QJsonDocument(); });
        loaded.clear();
        parsed = QJsonDocument();
        // What the loaded projects keep, once the file's bytes and the parse are gone: over at least
        // 10,000 projects, so that what the allocator and the pool's threads set up once weighs little.
        const int loads = std::max(1, 10000 / projectCount);
        std::vector<tdlibrary::ProjectList> kept;
        const qint64 before = bench::heapInUse();
        for (int i = 0; i < loads; ++i)
            kept.push_back(
                tdlibrary::decodeProjects(platform::FileManager::readRegularFile(url).value()).value());
        const double perProject = double(bench::heapInUse() - before) / (double(projectCount) * loads);
        std::printf(
            "load %6d projects (%5.1f MB): %7.1f ms, bare parse %7.1f ms, ratio %.2fx (target <= 2x); "
            "memory held %.1f KB per project\n",
            projectCount, bytes.size() / 1e6, loadOurs, loadBare, loadOurs / loadBare, perProject / 1024);
    }

    auto projects = makeLibrary(folder.path() + "/Tindrel.folder/", savedProjectCount);
    const QJsonDocument document = QJsonDocument::fromJson(tdlibrary::encodeProjects(projects).value());
    double saveOurs = fastestMs([&] {
        auto encoded = tdlibrary::encodeProjects(projects);
        if (!encoded || !platform::FileManager::writeAtomically(url, encoded.value()))
            fail("saving failed");
    });
    double saveBare = fastestMs([&] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            fail("could not open the library for writing");
        file.write(document.toJson(QJsonDocument::Compact));
        if (!file.commit())
            fail("could not commit the library");
    });
    std::printf("save %d projects: encode + atomic write %.1f ms, bare serialise + QSaveFile %.1f ms, ratio "
                "%.2fx (target "
                "<= 1.5x)\n",
        savedProjectCount, saveOurs, saveBare, saveOurs / saveBare);
    std::fflush(stdout);

    // What a change holds the main thread for in a library of 10,000 projects: the store's save
    // returns once it has copied the records, the file's queue encoding and writing them.
    {
        auto large = makeLibrary(folder.path() + "/Tindrel.folder/", 10000);
        const double encoding = fastestMs([&] { tdlibrary::encodeProjects(large).value(); }, 7);
        TDProjectStore store(TDLibraryFile::forLocation(url));
        const double call = fastestMs([&] { store.save(large); }, 7,
            [] {
                platform::runMainLoopUntil(
                    [] { return TDLibraryFile::writesInFlight() == 0; }, std::chrono::seconds(60));
            });
        platform::runMainLoopUntil(
            [] { return TDLibraryFile::writesInFlight() == 0; }, std::chrono::seconds(60));
        std::printf(
            "save of 10000 projects, main thread: %.1f ms, the encoding it used to run there %.1f ms, "
            "ratio %.3fx\n",
            call, encoding, call / encoding);
        std::fflush(stdout);

        // Five clicks in quick succession, each a save of the whole list: the time until the last
        // list is on disk, against one bare encoding and write of that list. Saves that queue behind
        // a write under way fold into one.
        auto file = TDLibraryFile::forLocation(url);
        const int madeBefore = file->writesMade();
        const int burst = 5;
        const double burstMs = fastestMs(
            [&] {
                for (int i = 0; i < burst; ++i) {
                    large[std::size_t(i)]->setIsFavorite(!large[std::size_t(i)]->isFavorite());
                    store.save(large);
                    QCoreApplication::processEvents();
                }
                platform::runMainLoopUntil(
                    [] { return TDLibraryFile::writesInFlight() == 0; }, std::chrono::seconds(60));
            },
            5);
        const double made = double(file->writesMade() - madeBefore) / 5;
        const double once = fastestMs(
            [&] {
                if (!platform::FileManager::writeAtomically(url, tdlibrary::encodeProjects(large).value()))
                    fail("saving failed");
            },
            5);
        std::printf(
            "%d saves of 10000 projects asked for in a burst: all on disk after %.0f ms in %.1f writes, "
            "one bare encoding and write %.0f ms, ratio %.2fx (each save written in turn: %d writes)\n",
            burst, burstMs, made, once, burstMs / once, burst);
        std::fflush(stdout);
    }

    measureStartUp(QCoreApplication::applicationFilePath());
    return 0;
}
