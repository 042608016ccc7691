#pragma once

#include "Iris/general/AssetImageGenerator.h"
#include "Iris/general/ImageDataProvider.h"

#include <memory>

namespace iris {

// Gives the JPEG bytes of one frame of a video.
class AVAssetImageDataProvider final : public ImageDataProvider {
public:
    // Why no frame came.
    enum class AVAssetImageDataProviderError { invalidImage, userCancelled };

    AVAssetImageDataProvider(std::shared_ptr<AssetImageGenerator> generator, MediaTime time);
    // A new generator over the video at `url`, applying the preferred track transform.
    AVAssetImageDataProvider(const QUrl& url, MediaTime time);
    AVAssetImageDataProvider(const QUrl& url, double seconds);

    const std::shared_ptr<AssetImageGenerator>& assetImageGenerator() const { return m_generator; }
    const MediaTime& time() const { return m_time; }

    // The asset's key ("iris.local.cacheKey/..." for a file, the URL's text otherwise, a new random
    // UUID for an asset without a URL), "_" and the time in seconds.
    QString cacheKey() const override;
    // Calls back on the generator's thread.
    void data(ProviderDataHandler handler) const override;

    static QString errorDomain() { return QStringLiteral("Iris.AVAssetImageDataProviderError"); }
    static platform::PlatformError makeError(AVAssetImageDataProviderError error);

private:
    std::shared_ptr<AssetImageGenerator> m_generator;
    MediaTime m_time;
};

} // namespace iris
