#pragma once

#include "Iris/image/Filter.h"
#include "Iris/image/ImageDrawing.h"
#include "Iris/image/ImageProcessor.h"

#include "platform/graphics/Color.h"
#include "platform/graphics/CompositingOperation.h"
#include "platform/graphics/Geometry.h"

#include <optional>

namespace iris {

// The concrete processors. Each decodes a data item through the shared default processor first
// (all but downsampling) and otherwise works on the image; the ones built on drawing take the
// options' scale-factor step before their own work. Identifiers begin with the library's prefix and
// name the processor and its parameters; numbers and colours in them never depend on the locale.

class RoundCornerImageProcessor final : public ImageProcessor {
public:
    RoundCornerImageProcessor(Radius radius, std::optional<platform::Size> targetSize = std::nullopt,
        RectCorner roundingCorners = RectCorner::all,
        std::optional<platform::Color> backgroundColor = std::nullopt);
    // The radius in points.
    RoundCornerImageProcessor(double cornerRadius, std::optional<platform::Size> targetSize = std::nullopt,
        RectCorner roundingCorners = RectCorner::all,
        std::optional<platform::Color> backgroundColor = std::nullopt);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const Radius radius;
    const RectCorner roundingCorners;
    // Without one, the input image's pixel size.
    const std::optional<platform::Size> targetSize;
    const std::optional<platform::Color> backgroundColor;

private:
    QString m_identifier;
};

// Draws `border` over the image at its pixel size, whatever the scale factor.
class BorderImageProcessor final : public ImageProcessor {
public:
    explicit BorderImageProcessor(Border border);

    QString identifier() const override;
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const Border border;
};

class ResizingImageProcessor final : public ImageProcessor {
public:
    explicit ResizingImageProcessor(platform::Size referenceSize, ContentMode mode = ContentMode::none);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const platform::Size referenceSize;
    const ContentMode targetContentMode;

private:
    QString m_identifier;
};

// Box-blurs with `blurRadius` × the options' scale factor.
class BlurImageProcessor final : public ImageProcessor {
public:
    explicit BlurImageProcessor(double blurRadius);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const double blurRadius;

private:
    QString m_identifier;
};

class OverlayImageProcessor final : public ImageProcessor {
public:
    explicit OverlayImageProcessor(platform::Color overlay, double fraction = 0.5);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const platform::Color overlay;
    const double fraction;

private:
    QString m_identifier;
};

// Its filter comes from the tint factory at the time of processing.
class TintImageProcessor final : public CIImageProcessor {
public:
    explicit TintImageProcessor(platform::Color tint);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;
    Filter coreImageFilter() const override;

    const platform::Color tint;

private:
    QString m_identifier;
};

// Its filter comes from the colour-controls factory at the time of processing.
class ColorControlsProcessor final : public CIImageProcessor {
public:
    ColorControlsProcessor(double brightness, double contrast, double saturation, double inputEV);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;
    Filter coreImageFilter() const override;

    const double brightness;
    const double contrast;
    const double saturation;
    const double inputEV;

private:
    QString m_identifier;
};

// Processes as colour controls (0, 1, 0, 0.7), under its own identifier.
class BlackWhiteProcessor final : public CIImageProcessor {
public:
    BlackWhiteProcessor();

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;
    Filter coreImageFilter() const override;

private:
    QString m_identifier;
    ColorControlsProcessor m_controls;
};

class CroppingImageProcessor final : public ImageProcessor {
public:
    explicit CroppingImageProcessor(platform::Size size, platform::Point anchor = { 0.5, 0.5 });

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const platform::Size size;
    const platform::Point anchor;

private:
    QString m_identifier;
};

// Decodes straight to a thumbnail of at most max(width, height) × the scale factor pixels on its
// longer side; an image item is encoded as PNG first.
class DownsamplingImageProcessor final : public ImageProcessor {
public:
    explicit DownsamplingImageProcessor(platform::Size size);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const platform::Size size;

private:
    QString m_identifier;
};

class CompositingImageProcessor final : public ImageProcessor {
public:
    explicit CompositingImageProcessor(platform::CompositingOperation compositingOperation,
        double alpha = 1.0, std::optional<platform::Color> backgroundColor = std::nullopt);

    QString identifier() const override { return m_identifier; }
    ImagePtr process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override;

    const platform::CompositingOperation compositingOperation;
    const double alpha;
    const std::optional<platform::Color> backgroundColor;

private:
    QString m_identifier;
};

} // namespace iris
