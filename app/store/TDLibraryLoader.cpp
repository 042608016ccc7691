#include "app/store/TDLibraryLoader.h"

#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Print.h"

#include <cerrno>

using platform::DispatchQueue;
using platform::PlatformError;
using platform::Result;

namespace {

template<typename List> struct FileLoad {
    std::optional<List> list;
    TDLibraryFile::LoadOutcome outcome = TDLibraryFile::LoadOutcome::missing;
};

template<typename List, typename Decode>
FileLoad<List> readAndDecode(const TDLibraryFile& file, Decode decode)
{
    FileLoad<List> load;
    auto bytes = file.read();
    if (!bytes) {
        const PlatformError& error = bytes.error();
        bool missing = error.domain == PlatformError::posixDomain && error.code == ENOENT;
        load.outcome = missing ? TDLibraryFile::LoadOutcome::missing : TDLibraryFile::LoadOutcome::notLoaded;
        return load;
    }
    auto decoded = decode(bytes.value());
    if (!decoded) {
        load.outcome = TDLibraryFile::LoadOutcome::notLoaded;
        return load;
    }
    load.list = std::move(decoded).value();
    load.outcome = TDLibraryFile::LoadOutcome::loaded;
    return load;
}

struct LoadContext {
    std::shared_ptr<TDProjectStore> projectStore;
    std::shared_ptr<TDMediaStore> mediaStore;
    std::shared_ptr<TDLinkStore> linkStore;
    std::function<void()> finished;

    void finish()
    {
        if (finished)
            finished();
    }
};

void loadLinks(std::shared_ptr<LoadContext> context)
{
    DispatchQueue::global()->async([context] {
        auto load
            = readAndDecode<tdlibrary::LinkList>(*context->linkStore->libraryFile(), tdlibrary::decodeLinks);
        DispatchQueue::main()->async([context, load = std::move(load)]() mutable {
            context->linkStore->setTdLinks(load.list ? std::move(*load.list) : tdlibrary::LinkList {});
            context->linkStore->libraryFile()->finishLoad(load.outcome);
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
        DispatchQueue::main()->async([context, load = std::move(load)]() mutable {
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
    auto context = std::make_shared<LoadContext>(LoadContext {
        std::move(projectStore), std::move(mediaStore), std::move(linkStore), std::move(finished) });
    // Saves of any of the three files wait from here until that file's load is over, so none can
    // write over a file before it was read.
    context->projectStore->libraryFile()->beginLoad();
    context->mediaStore->libraryFile()->beginLoad();
    context->linkStore->libraryFile()->beginLoad();

    DispatchQueue::global()->async([context] {
        auto load = readAndDecode<tdlibrary::ProjectList>(
            *context->projectStore->libraryFile(), tdlibrary::decodeProjects);
        DispatchQueue::main()->async([context, load = std::move(load)]() mutable {
            context->projectStore->libraryFile()->finishLoad(load.outcome);
            if (!load.list) {
                // The media and links are not read this time; whatever their files hold is kept.
                context->mediaStore->libraryFile()->finishLoad(TDLibraryFile::LoadOutcome::notLoaded);
                context->linkStore->libraryFile()->finishLoad(TDLibraryFile::LoadOutcome::notLoaded);
                context->finish();
                return;
            }
            context->projectStore->setTdProjects(std::move(*load.list));
            loadMedia(context);
        });
    });
}
