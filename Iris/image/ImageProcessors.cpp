#include "Iris/image/ImageProcessors.h"

#include "Iris/general/IrisNames.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Image.h"
#include "Iris/image/ProcessorText.h"

namespace iris {

namespace {

QString radiusText(Radius radius)
{
    switch (radius.kind) {
    case Radius::Kind::widthFraction:
        return QStringLiteral("w_frac_") + numberText(radius.value);
    case Radius::Kind::heightFraction:
        return QStringLiteral("h_frac_") + numberText(radius.value);
    case Radius::Kind::point:
        break;
    }
    return numberText(radius.value);
}

QString cornersText(RectCorner corners)
{
    if (corners == RectCorner::all)
        return {};
    return QStringLiteral("_corner(") + QString::number(unsigned(corners)) + ')';
}

// Runs `work` on the image of an image item after the scale-factor step; a data item is decoded by
// the default processor first and comes back here as an image.
template<typename Work>
ImagePtr processScaled(const ImageProcessor& processor, const ImageProcessItem& item,
    const IrisParsedOptionsInfo& options, Work work)
{
    if (!item.isImage())
        return processDataThroughDefault(processor, item, options);
    return work(scaledImageForProcessing(item.imageValue(), options.scaleFactor));
}

} // namespace

RoundCornerImageProcessor::RoundCornerImageProcessor(Radius radius, std::optional<platform::Size> targetSize,
    RectCorner roundingCorners, std::optional<platform::Color> backgroundColor)
    : radius(radius)
    , roundingCorners(roundingCorners)
    , targetSize(targetSize)
    , backgroundColor(backgroundColor)
{
    m_identifier = irisName(QStringLiteral("RoundCornerImageProcessor(")) + radiusText(radius)
        + (targetSize ? '_' + sizeText(*targetSize) : QString()) + cornersText(roundingCorners) + ')';
    if (backgroundColor)
        m_identifier += '_' + backgroundColor->description();
}

RoundCornerImageProcessor::RoundCornerImageProcessor(double cornerRadius,
    std::optional<platform::Size> targetSize, RectCorner roundingCorners,
    std::optional<platform::Color> backgroundColor)
    : RoundCornerImageProcessor(Radius::point(cornerRadius), targetSize, roundingCorners, backgroundColor)
{
}

ImagePtr RoundCornerImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    if (!item.isImage())
        return processDataThroughDefault(*this, item, options);
    const ImagePtr image = item.imageValue();
    if (!image)
        return image;
    // The size comes from the input, before the scale-factor step.
    const platform::Size size = targetSize.value_or(image->pixelSize());
    return roundedCornerImage(
        scaledImageForProcessing(image, options.scaleFactor), radius, size, roundingCorners, backgroundColor);
}

BorderImageProcessor::BorderImageProcessor(Border border)
    : border(border)
{
}

QString BorderImageProcessor::identifier() const
{
    // Deliberately the round-corner name and no closing parenthesis; the printed border keeps the
    // identifiers of different borders apart.
    return irisName(QStringLiteral("RoundCornerImageProcessor(")) + border.description();
}

ImagePtr BorderImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    if (!item.isImage())
        return processDataThroughDefault(*this, item, options);
    return borderedImage(item.imageValue(), border);
}

ResizingImageProcessor::ResizingImageProcessor(platform::Size referenceSize, ContentMode mode)
    : referenceSize(referenceSize)
    , targetContentMode(mode)
{
    QString modeText;
    if (mode == ContentMode::aspectFit)
        modeText = QStringLiteral(", aspectFit");
    else if (mode == ContentMode::aspectFill)
        modeText = QStringLiteral(", aspectFill");
    m_identifier
        = irisName(QStringLiteral("ResizingImageProcessor(")) + sizeText(referenceSize) + modeText + ')';
}

ImagePtr ResizingImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(*this, item, options, [&](const ImagePtr& image) {
        return resizedImageForContentMode(image, referenceSize, targetContentMode);
    });
}

BlurImageProcessor::BlurImageProcessor(double blurRadius)
    : blurRadius(blurRadius)
    , m_identifier(irisName(QStringLiteral("BlurImageProcessor(")) + numberText(blurRadius) + ')')
{
}

ImagePtr BlurImageProcessor::process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(*this, item, options,
        [&](const ImagePtr& image) { return boxBlur(image, blurRadius * options.scaleFactor); });
}

OverlayImageProcessor::OverlayImageProcessor(platform::Color overlay, double fraction)
    : overlay(overlay)
    , fraction(fraction)
    , m_identifier(irisName(QStringLiteral("OverlayImageProcessor(")) + colorText(overlay) + '_'
          + numberText(fraction) + ')')
{
}

ImagePtr OverlayImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(
        *this, item, options, [&](const ImagePtr& image) { return overlaidImage(image, overlay, fraction); });
}

TintImageProcessor::TintImageProcessor(platform::Color tint)
    : tint(tint)
    , m_identifier(irisName(QStringLiteral("TintImageProcessor(")) + colorText(tint) + ')')
{
}

Filter TintImageProcessor::coreImageFilter() const
{
    return Filter::tintFactory()(tint);
}

ImagePtr TintImageProcessor::process(const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(
        *this, item, options, [&](const ImagePtr& image) { return applyFilter(image, coreImageFilter()); });
}

ColorControlsProcessor::ColorControlsProcessor(
    double brightness, double contrast, double saturation, double inputEV)
    : brightness(brightness)
    , contrast(contrast)
    , saturation(saturation)
    , inputEV(inputEV)
    , m_identifier(irisName(QStringLiteral("ColorControlsProcessor(")) + numberText(brightness) + '_'
          + numberText(contrast) + '_' + numberText(saturation) + '_' + numberText(inputEV) + ')')
{
}

Filter ColorControlsProcessor::coreImageFilter() const
{
    return Filter::colorControlsFactory()(brightness, contrast, saturation, inputEV);
}

ImagePtr ColorControlsProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(
        *this, item, options, [&](const ImagePtr& image) { return applyFilter(image, coreImageFilter()); });
}

BlackWhiteProcessor::BlackWhiteProcessor()
    : m_identifier(irisName(QStringLiteral("BlackWhiteProcessor")))
    , m_controls(0.0, 1.0, 0.0, 0.7)
{
}

Filter BlackWhiteProcessor::coreImageFilter() const
{
    return m_controls.coreImageFilter();
}

ImagePtr BlackWhiteProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return m_controls.process(item, options);
}

CroppingImageProcessor::CroppingImageProcessor(platform::Size size, platform::Point anchor)
    : size(size)
    , anchor(anchor)
    , m_identifier(irisName(QStringLiteral("CroppingImageProcessor(")) + sizeText(size) + '_'
          + pointText(anchor) + ')')
{
}

ImagePtr CroppingImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(
        *this, item, options, [&](const ImagePtr& image) { return croppedImage(image, size, anchor); });
}

DownsamplingImageProcessor::DownsamplingImageProcessor(platform::Size size)
    : size(size)
    , m_identifier(irisName(QStringLiteral("DownsamplingImageProcessor(")) + sizeText(size) + ')')
{
}

ImagePtr DownsamplingImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    if (!item.isImage())
        return ImageWrapper::downsampledImage(item.dataValue(), size, options.scaleFactor);
    const ImagePtr image = item.imageValue();
    if (!image)
        return nullptr;
    const std::optional<QByteArray> png = ir(image).pngRepresentation();
    if (!png)
        return nullptr;
    return ImageWrapper::downsampledImage(*png, size, options.scaleFactor);
}

CompositingImageProcessor::CompositingImageProcessor(platform::CompositingOperation compositingOperation,
    double alpha, std::optional<platform::Color> backgroundColor)
    : compositingOperation(compositingOperation)
    , alpha(alpha)
    , backgroundColor(backgroundColor)
{
    m_identifier = irisName(QStringLiteral("CompositingImageProcessor("))
        + QString::number(unsigned(compositingOperation)) + ',' + numberText(alpha) + ')';
    if (backgroundColor)
        m_identifier += '_' + colorText(*backgroundColor);
}

ImagePtr CompositingImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    return processScaled(*this, item, options, [&](const ImagePtr& image) {
        return compositedImage(image, compositingOperation, alpha, backgroundColor);
    });
}

} // namespace iris
