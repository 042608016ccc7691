// The list of unfinished changes while a drop of 50,000 images is under way: what one more change
// (a note renamed, a link added) costs to list and strike off, and what 200 files of the drop
// listed again one by one (a rename moved the project meanwhile) cost. The baseline, in the same
// process, is the same work over a list that holds nothing else: a change should cost what it adds,
// whatever is listed beside it.

#include "app/store/TDLibraryJournal.h"
#include "bench/support/Compare.h"
#include "platform/foundation/FileManager.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using Change = TDLibraryJournal::Change;

namespace {

constexpr int droppedCount = 50000;
constexpr int relistedCount = 200;

std::vector<Change> drop(const platform::Url& library, int count)
{
    std::vector<Change> changes;
    const platform::Uuid project = platform::Uuid::random();
    for (int i = 0; i < count; ++i) {
        const platform::Uuid id = platform::Uuid::random();
        changes.push_back({ Change::Kind::importMedia, project, id, {}, {}, {},
            library.appendingPathComponent(QStringLiteral("Project/images/") + id.lowercaseString()) });
    }
    return changes;
}

Change rename()
{
    return { Change::Kind::renameNote, platform::Uuid::random(), platform::Uuid::random(),
        QStringLiteral("Draft"), QStringLiteral("Final"), platform::Date(8e8), {} };
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir busyFolder, quietFolder;
    if (!busyFolder.isValid() || !quietFolder.isValid())
        return EXIT_FAILURE;
    const auto busy = platform::Url::fileUrl(busyFolder.path());
    const auto quiet = platform::Url::fileUrl(quietFolder.path());
    const auto dropped = TDLibraryJournal::begin(busy, drop(busy, droppedCount));
    const auto size = platform::FileManager::readRegularFile(TDLibraryJournal::location(busy)).value().size();
    std::printf("journal: %d images of a drop listed, %.1f MB\n", droppedCount, double(size) / 1e6);

    const auto oneChange = [](const platform::Url& library) {
        return [library] { TDLibraryJournal::end(TDLibraryJournal::begin(library, rename())); };
    };
    bench::compare("one change listed and struck off during the drop, against none", oneChange(busy),
        oneChange(quiet), 9);

    const auto relisted = [](const platform::Url& library) {
        return [library] {
            std::vector<TDLibraryJournal::Entry> entries;
            for (const auto& change : drop(library, relistedCount))
                entries.push_back(TDLibraryJournal::begin(library, change));
            TDLibraryJournal::end(entries);
        };
    };
    bench::compare("200 files listed one by one and struck off together during the drop, against none",
        relisted(busy), relisted(quiet), 3);
    TDLibraryJournal::end(dropped);
    return EXIT_SUCCESS;
}
