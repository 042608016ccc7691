#pragma once

#include "app/model/TDCategory.h"
#include "app/model/TDLink.h"
#include "app/model/TDMedia.h"
#include "app/model/TDProject.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <vector>

// The JSON arrays of the library files and of the category list. Decoding is all or nothing: one
// bad record fails the whole array. The library files are read straight from their text into
// records; what that reading does not take is decoded through a QJsonDocument, the reference for
// which files decode, to what, and with which error.
namespace tdlibrary {

using ProjectList = std::vector<std::shared_ptr<TDProject>>;
using MediaList = std::vector<std::shared_ptr<TDMedia>>;
using LinkList = std::vector<TDLink>;
using CategoryList = std::vector<std::shared_ptr<TDCategory>>;

platform::Result<QByteArray, platform::PlatformError> encodeProjects(const ProjectList& projects);
platform::Result<QByteArray, platform::PlatformError> encodeMedia(const MediaList& media);
platform::Result<QByteArray, platform::PlatformError> encodeLinks(const LinkList& links);
platform::Result<QByteArray, platform::PlatformError> encodeCategories(const CategoryList& categories);

platform::Result<ProjectList, platform::PlatformError> decodeProjects(const QByteArray& bytes);
platform::Result<MediaList, platform::PlatformError> decodeMedia(const QByteArray& bytes);
platform::Result<LinkList, platform::PlatformError> decodeLinks(const QByteArray& bytes);
platform::Result<CategoryList, platform::PlatformError> decodeCategories(const QByteArray& bytes);

// The two halves of the decoding above, apart for tests and the fuzz target: the direct reading alone
// (none for a file it leaves to the document), and the decoding through a QJsonDocument alone.
std::optional<ProjectList> readProjectsDirectly(const QByteArray& bytes);
std::optional<MediaList> readMediaDirectly(const QByteArray& bytes);
std::optional<LinkList> readLinksDirectly(const QByteArray& bytes);
platform::Result<ProjectList, platform::PlatformError> decodeProjectsThroughDocument(const QByteArray& bytes);
platform::Result<MediaList, platform::PlatformError> decodeMediaThroughDocument(const QByteArray& bytes);
platform::Result<LinkList, platform::PlatformError> decodeLinksThroughDocument(const QByteArray& bytes);

} // namespace tdlibrary
