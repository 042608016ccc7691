#include "platform/graphics/Image.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

double saneScale(double scale)
{
    return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

} // namespace

Image::Image(Token, std::vector<Bitmap> representations, std::optional<Size> pointSize, double scale,
    std::vector<ImageFrame> frames, int loopCount)
    : m_representations(std::move(representations))
    , m_frames(std::move(frames))
    , m_loopCount(std::max(0, loopCount))
{
    qint64 mostPixels = -1;
    for (std::size_t i = 0; i < m_representations.size(); ++i) {
        const Bitmap& b = m_representations[i];
        m_pixelSize.width = std::max(m_pixelSize.width, double(b.width()));
        m_pixelSize.height = std::max(m_pixelSize.height, double(b.height()));
        const qint64 pixels = qint64(b.width()) * b.height();
        if (pixels > mostPixels) {
            mostPixels = pixels;
            m_primary = i;
        }
    }
    if (pointSize) {
        m_pointSize = *pointSize;
        m_scale
            = m_pointSize.width > 0 && m_pixelSize.width > 0 ? m_pixelSize.width / m_pointSize.width : 1.0;
    } else {
        m_scale = saneScale(scale);
        m_pointSize = { m_pixelSize.width / m_scale, m_pixelSize.height / m_scale };
    }
}

std::shared_ptr<Image> Image::create(Bitmap bitmap, double scale)
{
    return create(std::vector<Bitmap> { std::move(bitmap) }, scale);
}

std::shared_ptr<Image> Image::create(std::vector<Bitmap> representations, double scale)
{
    if (representations.empty())
        return nullptr;
    return std::make_shared<Image>(
        Token {}, std::move(representations), std::nullopt, scale, std::vector<ImageFrame> {}, 0);
}

std::shared_ptr<Image> Image::createWithPointSize(std::vector<Bitmap> representations, Size pointSize)
{
    if (representations.empty())
        return nullptr;
    return std::make_shared<Image>(
        Token {}, std::move(representations), pointSize, 1.0, std::vector<ImageFrame> {}, 0);
}

std::shared_ptr<Image> Image::createEmpty(Size pointSize)
{
    return std::make_shared<Image>(
        Token {}, std::vector<Bitmap> {}, pointSize, 1.0, std::vector<ImageFrame> {}, 0);
}

std::shared_ptr<Image> Image::createAnimated(std::vector<ImageFrame> frames, int loopCount, double scale)
{
    if (frames.empty())
        return nullptr;
    std::vector<Bitmap> representations { frames.front().bitmap };
    return std::make_shared<Image>(
        Token {}, std::move(representations), std::nullopt, scale, std::move(frames), loopCount);
}

double Image::totalDuration() const
{
    double total = 0;
    for (const ImageFrame& frame : m_frames)
        total += frame.duration;
    return total;
}

} // namespace platform
