#include "app/store/TDLibraryLoader.h"

#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryJournal.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Print.h"

#include <QFileInfo>

#include <cerrno>

using platform::DispatchQueue;
using platform::PlatformError;
using platform::Result;

namespace {

template<typename List> struct FileLoad {
    std::optional<List> list;
    TDLibraryFile::LoadOutcome outcome = TDLibraryFile::LoadOutcome::missing;
    QString reason;
    int posixError = 0;
};

// Why the library folder holding `file` cannot be reached: it, or a folder above it (the documents
// folder), is a link to a place that is not there (a disk not connected). Empty when it can, or when
// nothing is there at all (a first start).
QString unreachableFolder(const platform::Url& file)
{
    for (QFileInfo folder(file.deletingLastPathComponent().path()); !folder.exists();
         folder = QFileInfo(folder.absolutePath())) {
        if (folder.isSymLink())
            return QStringLiteral("%1 leads to %2, which is not there; is its disk connected?")
                .arg(folder.filePath(), folder.symLinkTarget());
    }
    return {};
}

template<typename List, typename Decode>
FileLoad<List> readAndDecode(const TDLibraryFile& file, Decode decode)
{
    FileLoad<List> load;
    auto bytes = file.read();
    if (!bytes) {
        const PlatformError& error = bytes.error();
        bool missing = error.domain == PlatformError::posixDomain && error.code == ENOENT;
        // Not a library without this file, but one that cannot be reached: its files, once back,
        // are kept before a save replaces them.
        if (missing) {
            if (QString why = unreachableFolder(file.location()); !why.isEmpty()) {
                load.outcome = TDLibraryFile::LoadOutcome::notLoaded;
                load.reason = why;
                return load;
            }
        }
        load.outcome = missing ? TDLibraryFile::LoadOutcome::missing : TDLibraryFile::LoadOutcome::notLoaded;
        if (!missing) {
            load.reason = error.description;
            load.posixError = error.domain == PlatformError::posixDomain ? error.code : 0;
        }
        return load;
    }
    auto decoded = decode(bytes.value());
    if (!decoded) {
        load.outcome = TDLibraryFile::LoadOutcome::notLoaded;
        load.reason = decoded.error().description;
        return load;
    }
    load.list = std::move(decoded).value();
    load.outcome = TDLibraryFile::LoadOutcome::loaded;
    return load;
}

// Points the records of a library read from a file at their files beside that file, where they name
// another place: a library copied to another home or machine, or restored from a backup elsewhere,
// would otherwise show no note, cover or image, as the program opens nothing outside its library.
// Only the records change; the file is rewritten by the next save, as after any change. Runs on the
// loading thread, before any screen sees the records.
void relocateIntoLibrary(const tdlibrary::ProjectList& projects, const platform::Url& library)
{
    for (const auto& project : projects) {
        for (const auto& note : project->tdNote()) {
            if (auto moved = TDDirectoryPath::relocatedInto(note->contentURL(), library))
                note->setContentURL(*moved);
        }
        if (auto cover = project->coverImageURL()) {
            if (auto moved = TDDirectoryPath::relocatedInto(*cover, library))
                project->setCoverImageURL(*moved);
        }
        // Entries the user chose inside the library follow it; those elsewhere stay as chosen.
        auto entries = project->quickAccessURL();
        bool entriesMoved = false;
        for (auto& entry : entries) {
            if (auto moved = TDDirectoryPath::relocatedInto(entry, library)) {
                entry = *moved;
                entriesMoved = true;
            }
        }
        if (entriesMoved)
            project->setQuickAccessURL(std::move(entries));
    }
}

void relocateIntoLibrary(const tdlibrary::MediaList& media, const platform::Url& library)
{
    for (const auto& item : media) {
        if (auto moved = TDDirectoryPath::relocatedInto(item->url(), library))
            item->setUrl(*moved);
        if (auto moved = TDDirectoryPath::relocatedInto(item->thumbnailURL(), library))
            item->setThumbnailURL(*moved);
    }
}

struct LoadContext {
    std::shared_ptr<TDProjectStore> projectStore;
    std::shared_ptr<TDMediaStore> mediaStore;
    std::shared_ptr<TDLinkStore> linkStore;
    std::function<void(std::vector<TDLibraryLoadProblem>)> finished;
    std::vector<TDLibraryLoadProblem> problems;

    // Main thread.
    template<typename List> void note(const TDLibraryFile& file, const FileLoad<List>& load)
    {
        if (load.outcome != TDLibraryFile::LoadOutcome::notLoaded)
            return;
        platform::printError(QStringLiteral("The library file %1 could not be loaded: %2")
                                 .arg(file.location().path(), load.reason));
        problems.push_back({ file.location().lastPathComponent(), true, load.reason, load.posixError });
    }
    void noteSkipped(const TDLibraryFile& file)
    {
        problems.push_back({ file.location().lastPathComponent(), false, {} });
    }
    void finish()
    {
        if (finished)
            finished(std::move(problems));
    }
};

void loadLinks(std::shared_ptr<LoadContext> context)
{
    DispatchQueue::global()->async([context] {
        auto load
            = readAndDecode<tdlibrary::LinkList>(*context->linkStore->libraryFile(), tdlibrary::decodeLinks);
        DispatchQueue::main()->async([context, load = std::move(load)]() mutable {
            context->note(*context->linkStore->libraryFile(), load);
            context->linkStore->setTdLinks(load.list ? std::move(*load.list) : tdlibrary::LinkList {});
            context->linkStore->libraryFile()->finishLoad(load.outcome);
            // Changes a crash interrupted are finished only over a library that loaded whole: over
            // a part, they would save what they could not see.
            if (context->problems.empty())
                TDLibrary({ context->projectStore, context->mediaStore, context->linkStore, nullptr })
                    .finishInterruptedChanges();
            context->finish();
        });
    });
}

void loadMedia(std::shared_ptr<LoadContext> context)
{
    DispatchQueue::global()->async([context] {
        auto load = readAndDecode<tdlibrary::MediaList>(
            *context->mediaStore->libraryFile(), tdlibrary::decodeMedia);
        if (!load.list)
            platform::print(std::string_view("there is no media"));
        else
            relocateIntoLibrary(
                *load.list, context->mediaStore->libraryFile()->location().deletingLastPathComponent());
        DispatchQueue::main()->async([context, load = std::move(load)]() mutable {
            context->note(*context->mediaStore->libraryFile(), load);
            context->mediaStore->setTdMedia(load.list ? std::move(*load.list) : tdlibrary::MediaList {});
            context->mediaStore->libraryFile()->finishLoad(load.outcome);
            loadLinks(context);
        });
    });
}

} // namespace

void loadLibraryFiles(std::shared_ptr<TDProjectStore> projectStore, std::shared_ptr<TDMediaStore> mediaStore,
    std::shared_ptr<TDLinkStore> linkStore, std::function<void()> finished)
{
    loadLibraryFiles(std::move(projectStore), std::move(mediaStore), std::move(linkStore),
        [finished = std::move(finished)](std::vector<TDLibraryLoadProblem>) {
            if (finished)
                finished();
        });
}

void loadLibraryFiles(std::shared_ptr<TDProjectStore> projectStore, std::shared_ptr<TDMediaStore> mediaStore,
    std::shared_ptr<TDLinkStore> linkStore, std::function<void(std::vector<TDLibraryLoadProblem>)> finished)
{
    auto context = std::make_shared<LoadContext>(LoadContext {
        std::move(projectStore), std::move(mediaStore), std::move(linkStore), std::move(finished), {} });
    // Saves of any of the three files wait from here until that file's load is over, so none can
    // write over a file before it was read.
    context->projectStore->libraryFile()->beginLoad();
    context->mediaStore->libraryFile()->beginLoad();
    context->linkStore->libraryFile()->beginLoad();
    // Read before any change of this run writes the list over, even when this load fails.
    TDLibraryJournal::carryLeftOver(
        context->projectStore->libraryFile()->location().deletingLastPathComponent());

    DispatchQueue::global()->async([context] {
        auto load = readAndDecode<tdlibrary::ProjectList>(
            *context->projectStore->libraryFile(), tdlibrary::decodeProjects);
        if (load.list)
            relocateIntoLibrary(
                *load.list, context->projectStore->libraryFile()->location().deletingLastPathComponent());
        DispatchQueue::main()->async([context, load = std::move(load)]() mutable {
            context->projectStore->libraryFile()->finishLoad(load.outcome);
            std::vector<const TDLibraryFile*> skipped;
            if (!load.list) {
                for (const auto* store :
                    { context->mediaStore->libraryFile().get(), context->linkStore->libraryFile().get() }) {
                    if (platform::FileManager::fileExists(store->location()))
                        skipped.push_back(store);
                }
                // Without its projects file, a library copied or restored in part looks like a new,
                // empty one, while its images and links wait unread beside it: that is reported.
                if (load.outcome == TDLibraryFile::LoadOutcome::missing && !skipped.empty()) {
                    load.outcome = TDLibraryFile::LoadOutcome::notLoaded;
                    load.reason = QStringLiteral("it is not in the library folder");
                }
            }
            context->note(*context->projectStore->libraryFile(), load);
            if (!load.list) {
                // The media and links are not read this time; whatever their files hold is kept.
                context->mediaStore->libraryFile()->finishLoad(TDLibraryFile::LoadOutcome::notLoaded);
                context->linkStore->libraryFile()->finishLoad(TDLibraryFile::LoadOutcome::notLoaded);
                if (load.outcome == TDLibraryFile::LoadOutcome::notLoaded) {
                    for (const auto* store : skipped)
                        context->noteSkipped(*store);
                }
                context->finish();
                return;
            }
            context->projectStore->setTdProjects(std::move(*load.list));
            loadMedia(context);
        });
    });
}
