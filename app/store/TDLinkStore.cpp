#include "app/store/TDLinkStore.h"

#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibraryCoding.h"

TDLinkStore::TDLinkStore()
    : TDLinkStore(TDLibraryFile::forLocation(TDDirectoryPath::linksLibraryURL()))
{
}

TDLinkStore::TDLinkStore(std::shared_ptr<TDLibraryFile> file)
    : m_file(std::move(file))
{
}

const TDLinkStore::LinkList& TDLinkStore::tdLinks() const
{
    m_registrar.access("tdLinks");
    return m_tdLinks;
}

void TDLinkStore::setTdLinks(LinkList links)
{
    m_registrar.withMutation("tdLinks", [&] { m_tdLinks = std::move(links); });
}

void TDLinkStore::save(const LinkList& links, TDSaveCompletion completion)
{
    // Encoded on the file's queue, from a copy taken now.
    m_file->write(
        TDLibraryFile::Encoder([links] { return tdlibrary::encodeLinks(links); }), std::move(completion));
}
