#pragma once

#include "app/model/TDLink.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDSaveCompletion.h"
#include "platform/foundation/ObservationRegistrar.h"

#include <memory>
#include <vector>

// The links saved from every note. Main thread only.
class TDLinkStore {
public:
    using LinkList = std::vector<TDLink>;

    TDLinkStore();
    explicit TDLinkStore(std::shared_ptr<TDLibraryFile> file);

    // Valid until the next `setTdLinks`: a caller that keeps the list or changes the store copies it.
    const LinkList& tdLinks() const;
    void setTdLinks(LinkList links);

    // Copies `links` now, encodes the copy on the file's queue and writes it over the links file, in
    // order; `completion` on the main queue.
    void save(const LinkList& links, TDSaveCompletion completion = {});

    const std::shared_ptr<TDLibraryFile>& libraryFile() const { return m_file; }

private:
    LinkList m_tdLinks;
    std::shared_ptr<TDLibraryFile> m_file;
    platform::ObservationRegistrar m_registrar;
};
