#include "Iris/networking/ImageDownloader.h"

#include "Iris/general/IrisOptionsInfo.h"

namespace iris {

ImageDownloader::ImageDownloader(QString name)
    : m_name(std::move(name))
{
}

std::shared_ptr<ImageDownloader> ImageDownloader::sharedDownloader()
{
    static const std::shared_ptr<ImageDownloader> shared
        = std::make_shared<ImageDownloader>(QStringLiteral("default"));
    return shared;
}

std::optional<DownloadTask> ImageDownloader::downloadImage(
    const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion)
{
    // This downloader has no transfer of its own: it answers every request with the failure a
    // session gives for a URL it cannot load, so a caller always gets its one completion.
    platform::PlatformError error { urlErrorDomain, -1002,
        QStringLiteral("unsupported URL: ") + QString::fromUtf8(url.toEncoded()), nullptr };
    runCallback(options.callbackQueue, [completion = std::move(completion), error = std::move(error)] {
        if (completion)
            completion(ImageLoadingResultOrError::failure(
                IrisError::responseError(IrisError::ResponseErrorReason::URLSessionError(error))));
    });
    return std::nullopt;
}

} // namespace iris
