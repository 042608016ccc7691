// Loading libraries of 100, 1,000 and 10,000 projects with 10 notes each, and saving the one of
// 1,000, against bare Qt doing the same work on the same bytes in this process: a QJsonDocument
// parse for loading, and a QJsonDocument serialisation plus a QSaveFile write for saving. Prints the
// time of each, the ratios, and the memory each loaded project holds.

#include "app/store/TDLibraryCoding.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Url.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <malloc.h>
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

// Bytes the allocator has handed out and not had back, over all its arenas: what live objects hold,
// unlike the resident set, which also keeps what was freed but not returned to the system.
qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
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
        // What the loaded projects keep, once the file's bytes and the parse are gone.
        const qint64 before = heapInUse();
        auto kept = tdlibrary::decodeProjects(platform::FileManager::readRegularFile(url).value());
        const double perProject = double(heapInUse() - before) / projectCount;
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
    return 0;
}
