#include "platform/graphics/ColorManagement.h"

#include <QColorSpace>
#include <QRgba64>

#include <lcms2.h>

#include <cstring>
#include <memory>
#include <vector>

namespace platform {

namespace {

// Qt converts grey pixels through a coarser table than colour ones, which crushes the shadows of a
// file with a strong gamma to black. Grey goes the colour way, at the precision of its samples, and
// comes back: a neutral colour stays neutral, so any one channel is the grey.
void convertGreyToSrgb(QImage& image, const QColorSpace& srgb)
{
    const bool deep = image.format() == QImage::Format_Grayscale16;
    QImage colour = image.convertToFormat(deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    colour.convertToColorSpace(srgb);
    // Without memory for the colour copy (or for a copy of the grey one to write to) the picture
    // cannot be shown right: it fails like any other image that does not fit.
    if (colour.isNull() || !image.bits()) {
        image = QImage();
        return;
    }
    for (int y = 0; y < image.height(); ++y) {
        if (deep) {
            const auto* from = reinterpret_cast<const QRgba64*>(colour.constScanLine(y));
            auto* to = reinterpret_cast<quint16*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                to[x] = from[x].green();
        } else {
            const auto* from = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
            uchar* to = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x)
                to[x] = uchar(qGreen(from[x]));
        }
    }
    image.setColorSpace(srgb);
}

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformDeleter>;

// The ICC header: the data colour space is 4 bytes at offset 16.
constexpr qsizetype iccHeaderBytes = 128;
constexpr qsizetype iccColorSpaceOffset = 16;

} // namespace

bool isCmykProfile(const QByteArrayView iccProfile)
{
    return iccProfile.size() >= iccHeaderBytes && iccProfile.sliced(iccColorSpaceOffset, 4) == "CMYK";
}

bool convertCmykToSrgb(QImage& image, const QByteArray& iccProfile, CmykStorage storage)
{
    if (!isCmykProfile(iccProfile) || image.depth() != 32)
        return false;
    const Profile cmyk(cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    const Profile srgb(cmsCreate_sRGBProfile());
    if (!cmyk || !srgb || cmsGetColorSpace(cmyk.get()) != cmsSigCmykData)
        return false;
    const bool littleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    const Transform transform(cmsCreateTransform(cmyk.get(),
        storage == CmykStorage::inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb.get(),
        littleEndian ? TYPE_BGRA_8 : TYPE_ARGB_8, cmsGetHeaderRenderingIntent(cmyk.get()), 0));
    if (!transform)
        return false;
    if (image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    // Each row goes through a copy: lcms does not promise in-place conversion.
    std::vector<uchar> samples(std::size_t(image.width()) * 4);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::memcpy(samples.data(), row, samples.size());
        cmsDoTransform(transform.get(), samples.data(), row, cmsUInt32Number(image.width()));
        // The alpha byte is left as lcms found it, which was K.
        for (int x = 0; x < image.width(); ++x)
            row[x] |= 0xff000000;
    }
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return true;
}

void convertCmykToRgbWithoutProfile(QImage& image, CmykStorage storage)
{
    if (image.depth() != 32)
        return;
    if (image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    const bool inverted = storage == CmykStorage::inverted;
    for (int y = 0; y < image.height(); ++y) {
        // The four samples in file order, whatever the byte order of a QRgb.
        uchar* samples = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x, samples += 4) {
            int left[4];
            for (int i = 0; i < 4; ++i)
                left[i] = inverted ? samples[i] : 255 - samples[i];
            const auto channel = [&](int ink) { return (left[ink] * left[3] + 127) / 255; };
            reinterpret_cast<QRgb*>(samples)[0] = qRgb(channel(0), channel(1), channel(2));
        }
    }
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
}

void convertToSrgb(QImage& image)
{
    if (image.format() == QImage::Format_Alpha8)
        return;
    const QColorSpace space = image.colorSpace();
    if (!space.isValid())
        return;
    static const QColorSpace srgb(QColorSpace::SRgb);
    if (space == srgb)
        return;
    if (image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16) {
        convertGreyToSrgb(image, srgb);
        return;
    }
    // A palette image converts its colour table, so this costs nothing per pixel there.
    image.convertToColorSpace(srgb);
}

} // namespace platform
