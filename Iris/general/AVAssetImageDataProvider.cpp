#include "Iris/general/AVAssetImageDataProvider.h"

#include "Iris/general/Source.h"

#include <QBuffer>
#include <QImageWriter>
#include <QUuid>

#include <array>
#include <charconv>

namespace iris {

namespace {

constexpr std::int32_t preferredTimescale = 600;

// The shortest text that reads back as the same double, with ".0" on whole numbers; locale-free.
QString secondsText(double seconds)
{
    std::array<char, 64> buffer {};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), seconds);
    QString text = QString::fromLatin1(buffer.data(), error == std::errc() ? end - buffer.data() : 0);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))
        && !text.contains(QLatin1Char('n')) && !text.contains(QLatin1Char('i')))
        text += QStringLiteral(".0");
    return text;
}

std::optional<QByteArray> encodeJpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32)))
        return std::nullopt;
    return bytes;
}

} // namespace

AVAssetImageDataProvider::AVAssetImageDataProvider(
    std::shared_ptr<AssetImageGenerator> generator, MediaTime time)
    : m_generator(std::move(generator))
    , m_time(time)
{
}

AVAssetImageDataProvider::AVAssetImageDataProvider(const QUrl& url, MediaTime time)
    : m_generator(std::make_shared<AssetImageGenerator>(std::make_shared<const Asset>(Asset { url })))
    , m_time(time)
{
    m_generator->setAppliesPreferredTrackTransform(true);
}

AVAssetImageDataProvider::AVAssetImageDataProvider(const QUrl& url, double seconds)
    : AVAssetImageDataProvider(url, MediaTime::fromSeconds(seconds, preferredTimescale))
{
}

QString AVAssetImageDataProvider::cacheKey() const
{
    const std::shared_ptr<const Asset>& asset = m_generator->asset();
    QString assetKey;
    if (asset && asset->url)
        assetKey = urlCacheKey(*asset->url);
    else
        assetKey = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return assetKey + QLatin1Char('_') + secondsText(m_time.seconds());
}

platform::PlatformError AVAssetImageDataProvider::makeError(AVAssetImageDataProviderError error)
{
    const bool cancelled = error == AVAssetImageDataProviderError::userCancelled;
    return { errorDomain(), cancelled ? 1 : 0,
        cancelled ? QStringLiteral("userCancelled") : QStringLiteral("invalidImage"), nullptr };
}

void AVAssetImageDataProvider::data(ProviderDataHandler handler) const
{
    m_generator->generateImagesAsynchronously({ m_time },
        [handler = std::move(handler)](MediaTime, std::optional<QImage> image,
            AssetImageGenerator::Result result, std::optional<platform::PlatformError> error) {
            if (error) {
                handler(ProviderDataResult::failure(std::move(*error)));
                return;
            }
            if (result == AssetImageGenerator::Result::cancelled) {
                handler(ProviderDataResult::failure(makeError(AVAssetImageDataProviderError::userCancelled)));
                return;
            }
            if (image) {
                if (std::optional<QByteArray> bytes = encodeJpeg(*image)) {
                    handler(ProviderDataResult::success(std::move(*bytes)));
                    return;
                }
            }
            handler(ProviderDataResult::failure(makeError(AVAssetImageDataProviderError::invalidImage)));
        });
}

} // namespace iris
