#include "platform/graphics/ImageSource.h"
#include "platform/graphics/TestImages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include <jpeglib.h>
#include <lcms2.h>

using namespace platform;

namespace {

QByteArray app1Segment(const QByteArray& payload)
{
    QByteArray segment("\xff\xe1", 2);
    const int length = 2 + int(payload.size());
    segment.append(char(length >> 8)).append(char(length));
    return segment + payload;
}

// An XMP packet, as photo editors write it.
QByteArray xmpSegment()
{
    return app1Segment(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)
        + "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>");
}

// EXIF data whose only tag is the orientation.
QByteArray exifSegment(int orientation)
{
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    tiff.append("\0\x01", 2); // one entry
    tiff.append("\x01\x12\0\x03\0\0\0\x01\0", 9).append(char(orientation)).append("\0\0", 2);
    tiff.append("\0\0\0\0", 4); // no next directory
    return app1Segment(QByteArray("Exif\0\0", 6) + tiff);
}

// A CMYK profile of the tests' own: every colour is a grey of lightness 100 - 20 C - 60 K, whatever
// its M and Y, so a conversion through it is told at once from one that ignores it.
QByteArray greyingCmykProfile()
{
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsSetHeaderRenderingIntent(profile, INTENT_RELATIVE_COLORIMETRIC);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        grid,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            const cmsCIELab lab { 100 - 20 * in[0] / 65535.0 - 60 * in[3] / 65535.0, 0, 0 };
            cmsFloat2LabEncoded(out, &lab);
            return 1;
        },
        nullptr, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsPipelineFree(lut);
    cmsCloseProfile(profile);
    return bytes;
}

// The sRGB level of a neutral grey of CIE lightness `lightness`.
int srgbLevelOfLightness(double lightness)
{
    const double luminance = std::pow((lightness + 16) / 116, 3);
    const double encoded
        = luminance <= 0.0031308 ? 12.92 * luminance : 1.055 * std::pow(luminance, 1 / 2.4) - 0.055;
    return int(std::lround(encoded * 255));
}

struct Cmyk {
    int c, m, y, k;
};

// A CMYK JPEG of vertical bands, one per colour, 16 pixels wide, stored inverted as photo editors
// store it beside the Adobe marker libjpeg writes.
QByteArray cmykJpeg(const std::vector<Cmyk>& bands, int height, const QByteArray& profile)
{
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(16 * bands.size());
    info.image_height = JDIMENSION(height);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (!profile.isEmpty())
        jpeg_write_icc_profile(
            &info, reinterpret_cast<const JOCTET*>(profile.constData()), unsigned(profile.size()));
    std::vector<JSAMPLE> row;
    for (const Cmyk& band : bands)
        for (int x = 0; x < 16; ++x)
            for (int sample : { band.c, band.m, band.y, band.k })
                row.push_back(JSAMPLE(255 - sample));
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[] = { row.data() };
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

} // namespace

TEST(JpegDecoder, CmykJpegsGoThroughTheirCmykProfile)
{
    // Cyan, half black, no ink, cyan and black.
    const std::vector<Cmyk> bands
        = { { 255, 0, 0, 0 }, { 0, 0, 0, 128 }, { 0, 0, 0, 0 }, { 255, 0, 0, 255 } };
    const double lightness[] = { 80, 100 - 60 * 128 / 255.0, 100, 20 };
    const QByteArray profiled = cmykJpeg(bands, 32, greyingCmykProfile());

    auto created = ImageSource::create(profiled);
    ASSERT_TRUE(created);
    const auto& source = created.value();
    EXPECT_EQ(source->pixelSize(), QSize(64, 32));
    const auto whole = source->frame(0);
    // A thumbnail is decoded at a quarter by the DCT and goes through the profile the same way.
    const auto thumbnail = source->thumbnail(16);
    ASSERT_TRUE(whole && thumbnail);
    ASSERT_EQ(thumbnail->image().size(), QSize(16, 8));
    for (std::size_t band = 0; band < bands.size(); ++band) {
        SCOPED_TRACE(band);
        const int expected = srgbLevelOfLightness(lightness[band]);
        for (const auto& [image, x, y] : { std::tuple(whole->image(), int(16 * band + 8), 16),
                 std::tuple(thumbnail->image(), int(4 * band + 2), 4) }) {
            const QRgb pixel = image.pixel(x, y);
            EXPECT_EQ(qAlpha(pixel), 255);
            EXPECT_NEAR(qRed(pixel), expected, 3);
            EXPECT_NEAR(qGreen(pixel), expected, 3);
            EXPECT_NEAR(qBlue(pixel), expected, 3);
        }
    }

    // Without a profile, the plain conversion: cyan stays cyan.
    const auto plain = imageFromData(cmykJpeg(bands, 32, {}));
    ASSERT_TRUE(plain);
    const QRgb cyan = plain->bitmap()->image().pixel(8, 16);
    EXPECT_LT(qRed(cyan), 10);
    EXPECT_GT(qGreen(cyan), 245);
    EXPECT_GT(qBlue(cyan), 245);
}

TEST(JpegDecoder, FindsTheExifOrientationAfterAnXmpBlock)
{
    // Stored 400 × 200, marked as turned a quarter clockwise (orientation 6) in EXIF data alone or
    // after an XMP block.
    const QByteArray plain = testimages::encoded(testimages::pattern(400, 200), "jpeg", 90);
    const std::pair<const char*, QByteArray> cases[] = {
        { "EXIF", plain.left(2) + exifSegment(6) + plain.mid(2) },
        { "XMP then EXIF", plain.left(2) + xmpSegment() + exifSegment(6) + plain.mid(2) },
    };
    for (const auto& [name, jpeg] : cases) {
        SCOPED_TRACE(name);
        auto created = ImageSource::create(jpeg);
        ASSERT_TRUE(created);
        const auto& source = created.value();
        EXPECT_EQ(source->pixelSize(), QSize(200, 400));
        const auto whole = source->frame(0);
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->image().size(), QSize(200, 400));
        const auto thumbnail = source->thumbnail(100);
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(thumbnail->image().size(), QSize(50, 100));
        // The stored top-right corner (red, no green) is shown at the bottom-right.
        const QRgb shown = thumbnail->image().pixel(49, 99);
        EXPECT_GT(qRed(shown), 220);
        EXPECT_LT(qGreen(shown), 40);
    }
}
