#pragma once

#include "app/model/TDMedia.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDSaveCompletion.h"
#include "platform/foundation/ObservationRegistrar.h"

#include <memory>
#include <vector>

// The reference images of every project. Main thread only.
class TDMediaStore {
public:
    using MediaList = std::vector<std::shared_ptr<TDMedia>>;

    TDMediaStore();
    explicit TDMediaStore(std::shared_ptr<TDLibraryFile> file);

    MediaList tdMedia() const;
    void setTdMedia(MediaList media);

    // Copies `media` now, encodes the copy on the file's queue and writes it over the media file, in
    // order; `completion` on the main queue.
    void save(const MediaList& media, TDSaveCompletion completion = {});

    const std::shared_ptr<TDLibraryFile>& libraryFile() const { return m_file; }

private:
    MediaList m_tdMedia;
    std::shared_ptr<TDLibraryFile> m_file;
    platform::ObservationRegistrar m_registrar;
};
