// Loading and saving a library of 1,000 projects with 10 notes each, against bare Qt doing the same
// work on the same bytes in this process: a QJsonDocument parse for loading, and a QJsonDocument
// serialisation plus a QSaveFile write for saving. Prints the time of each and the ratios.

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
#include <vector>

namespace {

constexpr int projectCount = 1000;
constexpr int notesPerProject = 10;
constexpr int rounds = 15;

tdlibrary::ProjectList makeLibrary(const QString& folder)
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
double fastestMs(const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        fail("no temporary folder");
    const QString path = folder.path() + "/projects.library";
    const platform::Url url = platform::Url::fileUrl(path);

    auto projects = makeLibrary(folder.path() + "/Tindrel.folder/");
    QByteArray bytes = tdlibrary::encodeProjects(projects).value();
    if (!platform::FileManager::writeAtomically(url, bytes))
        fail("could not write the library");
    const QJsonDocument document = QJsonDocument::fromJson(bytes);

    double loadOurs = fastestMs([&] {
        auto read = platform::FileManager::readRegularFile(url);
        auto decoded = tdlibrary::decodeProjects(read.value());
        if (!decoded || decoded.value().size() != projectCount)
            fail("decoding failed");
    });
    double loadBare = fastestMs([&] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            fail("could not open the library");
        QJsonDocument parsed = QJsonDocument::fromJson(file.readAll());
        if (parsed.array().size() != projectCount)
            fail("parsing failed");
    });
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

    std::printf("library: %d projects x %d notes, %.1f MB of JSON; fastest of %d runs\n", projectCount,
        notesPerProject, bytes.size() / 1e6, rounds);
    std::printf(
        "load: read + strict decode %.1f ms, bare QJsonDocument parse %.1f ms, ratio %.2fx (target <= 3x)\n",
        loadOurs, loadBare, loadOurs / loadBare);
    std::printf(
        "save: encode + atomic write %.1f ms, bare serialise + QSaveFile %.1f ms, ratio %.2fx (target <= "
        "1.5x)\n",
        saveOurs, saveBare, saveOurs / saveBare);
    return 0;
}
