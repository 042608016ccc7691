#include "app/store/TDMediaStore.h"

#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibraryCoding.h"

TDMediaStore::TDMediaStore()
    : TDMediaStore(TDLibraryFile::forLocation(TDDirectoryPath::mediaLibraryURL()))
{
}

TDMediaStore::TDMediaStore(std::shared_ptr<TDLibraryFile> file)
    : m_file(std::move(file))
{
}

TDMediaStore::MediaList TDMediaStore::tdMedia() const
{
    m_registrar.access("tdMedia");
    return m_tdMedia;
}

void TDMediaStore::setTdMedia(MediaList media)
{
    m_registrar.withMutation("tdMedia", [&] { m_tdMedia = std::move(media); });
}

void TDMediaStore::save(const MediaList& media, TDSaveCompletion completion)
{
    // Encoded on the file's queue, from copies taken now (the records change on the main thread).
    auto copies = std::make_shared<MediaList>();
    copies->reserve(media.size());
    for (const auto& item : media)
        copies->push_back(std::make_shared<TDMedia>(*item));
    m_file->write(
        TDLibraryFile::Encoder([copies] { return tdlibrary::encodeMedia(*copies); }), std::move(completion));
}
