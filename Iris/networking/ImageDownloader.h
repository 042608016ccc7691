#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/networking/DownloadTask.h"
#include "Iris/networking/ImageLoadingResult.h"

#include "platform/foundation/Result.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace iris {

struct IrisParsedOptionsInfo;

using ImageLoadingResultOrError = platform::Result<ImageLoadingResult, IrisError>;
using DownloadCompletion = std::function<void(ImageLoadingResultOrError)>;

// The network downloader, as the retrieval manager sees it.
class ImageDownloader : public std::enable_shared_from_this<ImageDownloader> {
public:
    explicit ImageDownloader(QString name);
    virtual ~ImageDownloader() = default;

    // The downloader named "default", made once on first use.
    static std::shared_ptr<ImageDownloader> sharedDownloader();

    const QString& name() const { return m_name; }

    // Starts (or joins) the download of `url` and calls `completion` exactly once, on the options'
    // callback queue, with the image the options' processor made from the bytes, or the failure.
    // Returns the task when a download was started.
    virtual std::optional<DownloadTask> downloadImage(
        const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion);

private:
    QString m_name;
};

} // namespace iris
