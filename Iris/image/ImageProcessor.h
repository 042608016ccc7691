#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <variant>

namespace platform {
class Image;
}

namespace iris {

struct IrisParsedOptionsInfo;

// What a processor works on: an image already decoded, or the bytes of an image file.
struct ImageProcessItem {
    static ImageProcessItem image(std::shared_ptr<platform::Image> image) { return { std::move(image) }; }
    static ImageProcessItem data(QByteArray data) { return { std::move(data) }; }

    bool isImage() const { return std::holds_alternative<std::shared_ptr<platform::Image>>(value); }
    // Null for a data item.
    std::shared_ptr<platform::Image> imageValue() const;
    // Empty for an image item.
    QByteArray dataValue() const;

    QString description() const;

    std::variant<std::shared_ptr<platform::Image>, QByteArray> value;
};

class ImageProcessor;
using ImageProcessorPtr = std::shared_ptr<const ImageProcessor>;

// Turns an item into an image, or fails by giving none. Processors are immutable once made and are
// shared by pointer, so sharing one is as good as copying it; `process` may run on any thread.
class ImageProcessor : public std::enable_shared_from_this<ImageProcessor> {
public:
    virtual ~ImageProcessor() = default;

    // Names exactly what the processor does with its parameters; images it makes are cached under
    // the source's key followed by "@" and this text, unless it is empty.
    virtual QString identifier() const = 0;

    // Null when processing failed.
    virtual std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const = 0;

    // This processor, then `another` on its result. The processor must be held by a shared_ptr.
    ImageProcessorPtr appendProcessor(ImageProcessorPtr another) const;

    QString description() const;
};

// A processor made from a callback.
class GeneralProcessor final : public ImageProcessor {
public:
    using Callback = std::function<std::shared_ptr<platform::Image>(
        const ImageProcessItem&, const IrisParsedOptionsInfo&)>;

    GeneralProcessor(QString identifier, Callback p)
        : m_identifier(std::move(identifier))
        , p(std::move(p))
    {
    }

    QString identifier() const override { return m_identifier; }
    std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override
    {
        return p ? p(item, options) : nullptr;
    }

private:
    QString m_identifier;
    Callback p;
};

// `first`, then `second` on its image; no image as soon as one stage gives none. The identifier is
// first's, "|>", second's. A null stage is the shared default processor.
ImageProcessorPtr appendProcessor(ImageProcessorPtr first, ImageProcessorPtr second);

// The composition operator, left to right: `a | b | c` runs a, then b, then c. (The library's texts
// write it "|>".)
inline ImageProcessorPtr operator|(ImageProcessorPtr left, ImageProcessorPtr right)
{
    return appendProcessor(std::move(left), std::move(right));
}

// Only decodes: data becomes an image by its format (GIF as an animation, or its first frame with
// `onlyLoadFirstFrame`); an image goes through the scale-factor step. Its identifier is empty, so
// what it makes is cached under the plain key.
class DefaultImageProcessor final : public ImageProcessor {
public:
    DefaultImageProcessor() = default;

    // The shared instance, made once.
    static const std::shared_ptr<const DefaultImageProcessor>& shared();

    QString identifier() const override { return {}; }
    std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;
};

// The scale-factor step: the image itself when `scaleFactor` is exactly 1 or the image has no
// bitmap; otherwise a new image of the bitmap whose point size is its pixel size.
std::shared_ptr<platform::Image> scaledImageForProcessing(
    const std::shared_ptr<platform::Image>& image, double scaleFactor);

// How the concrete processors treat a data item: decoded by the shared default processor first,
// then handed to `processor` as an image item. No image when decoding fails.
std::shared_ptr<platform::Image> processDataThroughDefault(
    const ImageProcessor& processor, const ImageProcessItem& item, const IrisParsedOptionsInfo& options);

} // namespace iris
