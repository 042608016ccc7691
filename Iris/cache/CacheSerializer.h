#pragma once

#include "Iris/image/ImageFormat.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace platform {
class Image;
}

namespace iris {

struct IrisParsedOptionsInfo;

// How an image becomes the bytes of its disk-cache file and back. Serializers are immutable once
// made and shared by pointer; any thread may use them.
class CacheSerializer {
public:
    virtual ~CacheSerializer() = default;

    // The bytes to write for `image`, decoded from `original` when that is known; nothing when the
    // image cannot be encoded.
    virtual std::optional<QByteArray> dataForImage(
        const std::shared_ptr<platform::Image>& image, const std::optional<QByteArray>& original) const = 0;

    // The image held by bytes read from the cache: GIF as an animation (or its first frame with the
    // options' `onlyLoadFirstFrame`), anything else as a still image. Null when they do not decode.
    virtual std::shared_ptr<platform::Image> imageFromCacheData(
        const QByteArray& data, const IrisParsedOptionsInfo& options) const;

    // Whether the original bytes are written unchanged.
    virtual bool usesOriginalData() const = 0;

    virtual QString description() const = 0;
};

using CacheSerializerPtr = std::shared_ptr<const CacheSerializer>;

// Keeps the format of the data the image came from: PNG when that is unknown, JPEG at
// `compressionQuality` (PNG for an image with transparent pixels, which JPEG cannot keep), GIF as
// the animation's own bytes.
class DefaultCacheSerializer final : public CacheSerializer {
public:
    DefaultCacheSerializer() = default;

    // Quality 1.0, not preferring the original data.
    static const std::shared_ptr<const DefaultCacheSerializer>& shared();

    std::optional<QByteArray> dataForImage(const std::shared_ptr<platform::Image>& image,
        const std::optional<QByteArray>& original) const override;
    bool usesOriginalData() const override { return preferCacheOriginalData; }
    QString description() const override;

    double compressionQuality = 1.0; // 0...1
    bool preferCacheOriginalData = false;
};

// Always aims at one format, falling back to PNG or to the original data's format.
class FormatIndicatedCacheSerializer final : public CacheSerializer {
public:
    explicit FormatIndicatedCacheSerializer(
        ImageFormat imageFormat, std::optional<double> jpegCompressionQuality = std::nullopt)
        : imageFormat(imageFormat)
        , jpegCompressionQuality(jpegCompressionQuality)
    {
    }

    static std::shared_ptr<const FormatIndicatedCacheSerializer> png();
    static std::shared_ptr<const FormatIndicatedCacheSerializer> jpeg(double compressionQuality = 1.0);
    static std::shared_ptr<const FormatIndicatedCacheSerializer> gif();

    std::optional<QByteArray> dataForImage(const std::shared_ptr<platform::Image>& image,
        const std::optional<QByteArray>& original) const override;
    bool usesOriginalData() const override { return false; }
    QString description() const override;

    ImageFormat imageFormat;
    std::optional<double> jpegCompressionQuality; // absent: 1.0
};

} // namespace iris
