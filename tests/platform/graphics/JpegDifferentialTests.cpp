// Our JPEG paths (whole decodes, DCT-scaled thumbnails, the decoder fed as bytes arrive) against
// libjpeg-turbo called directly on the same generated files.
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/JpegDecoder.h"
#include "platform/graphics/ProgressiveJpegDecoder.h"
#include "platform/graphics/RandomSeeds.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <random>
#include <sstream>

#include <jpeglib.h>

using namespace platform;

namespace {

struct ThrowingErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

struct JpegCase {
    int width = 1, height = 1;
    bool grey = false;
    bool progressive = false;
    int hSampling = 1, vSampling = 1; // of the luma component
    int restartRows = 0;
    int quality = 90;
    int orientation = 1;
    unsigned contentSeed = 0;

    std::string text() const
    {
        std::ostringstream out;
        out << width << "x" << height << (grey ? " grey" : " colour") << (progressive ? " progressive" : "")
            << " sampling " << hSampling << "x" << vSampling << " restart " << restartRows << " quality "
            << quality << " orientation " << orientation;
        return out.str();
    }
};

QByteArray exifOrientationPayload(int orientation)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    tiff.append("\x01\0", 2);
    tiff.append("\x12\x01\x03\0\x01\0\0\0", 8).append(char(orientation)).append("\0\0\0", 3);
    tiff.append("\0\0\0\0", 4);
    return QByteArray("Exif\0\0", 6) + tiff;
}

// Smooth areas, hard edges and noise, so that scaling, orientation and chroma all show.
std::vector<JSAMPLE> content(const JpegCase& c)
{
    std::mt19937 random(c.contentSeed);
    const int channels = c.grey ? 1 : 3;
    std::vector<JSAMPLE> samples(std::size_t(c.width) * c.height * channels);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                int value
                    = (x * 255 / std::max(1, c.width - 1) * (ch + 1) + y * 255 / std::max(1, c.height - 1))
                    / (ch + 2);
                if (x < c.width / 3 && y < c.height / 4)
                    value = ch == 0 ? 230 : 20;
                value += int(random() % 9) - 4;
                samples[(std::size_t(y) * c.width + x) * channels + ch] = JSAMPLE(std::clamp(value, 0, 255));
            }
    return samples;
}

bool encodeInto(
    const JpegCase& c, const std::vector<JSAMPLE>& samples, unsigned char** out, unsigned long* size)
{
    jpeg_compress_struct info {};
    ThrowingErrors errors {};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit
        = [](j_common_ptr common) { std::longjmp(reinterpret_cast<ThrowingErrors*>(common->err)->jump, 1); };
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, size);
    info.image_width = JDIMENSION(c.width);
    info.image_height = JDIMENSION(c.height);
    info.input_components = c.grey ? 1 : 3;
    info.in_color_space = c.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, c.quality, TRUE);
    if (!c.grey) {
        info.comp_info[0].h_samp_factor = c.hSampling;
        info.comp_info[0].v_samp_factor = c.vSampling;
    }
    info.restart_in_rows = c.restartRows;
    if (c.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (c.orientation != 1) {
        const QByteArray exif = exifOrientationPayload(c.orientation);
        jpeg_write_marker(
            &info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.constData()), unsigned(exif.size()));
    }
    const int stride = c.width * info.input_components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(samples.data()) + std::size_t(info.next_scanline) * stride;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

QByteArray encode(const JpegCase& c)
{
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool written = encodeInto(c, content(c), &out, &size);
    QByteArray bytes
        = written ? QByteArray(reinterpret_cast<const char*>(out), qsizetype(size)) : QByteArray();
    std::free(out);
    return bytes;
}

// A plain libjpeg decode, stored orientation, at scale 1 / `denominator`, as 0xAARRGGBB values.
bool referenceInto(const QByteArray& data, unsigned denominator, bool fast, QImage& image)
{
    jpeg_decompress_struct info {};
    ThrowingErrors errors {};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit
        = [](j_common_ptr common) { std::longjmp(reinterpret_cast<ThrowingErrors*>(common->err)->jump, 1); };
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(
        &info, reinterpret_cast<const unsigned char*>(data.constData()), (unsigned long)(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    info.scale_num = 1;
    info.scale_denom = denominator;
    if (fast) {
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_ARGB32);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

QImage reference(const QByteArray& data, unsigned denominator = 1, bool fast = false)
{
    QImage image;
    return referenceInto(data, denominator, fast, image) ? image : QImage();
}

// The picture as seen: display pixel (x, y) comes from the stored pixel the EXIF tag names.
QImage orientedPlainly(const QImage& stored, int orientation)
{
    const int w = stored.width(), h = stored.height();
    const bool turned = orientation >= 5;
    QImage shown(turned ? h : w, turned ? w : h, QImage::Format_ARGB32);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            QPoint from;
            switch (orientation) {
            case 2:
                from = { w - 1 - x, y };
                break;
            case 3:
                from = { w - 1 - x, h - 1 - y };
                break;
            case 4:
                from = { x, h - 1 - y };
                break;
            case 5:
                from = { y, x };
                break;
            case 6:
                from = { y, h - 1 - x };
                break;
            case 7:
                from = { w - 1 - y, h - 1 - x };
                break;
            case 8:
                from = { w - 1 - y, x };
                break;
            default:
                from = { x, y };
                break;
            }
            shown.setPixel(x, y, stored.pixel(from));
        }
    return shown;
}

// The largest channel difference, and where, between two images of one size.
struct Difference {
    int most = 0;
    QPoint at;
};

Difference difference(const QImage& a, const QImage& b)
{
    Difference result;
    const QImage first = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage second = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y), q = second.pixel(x, y);
            const int d = std::max({ std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q)) });
            if (d > result.most)
                result = { d, { x, y } };
        }
    return result;
}

double meanDifference(const QImage& a, const QImage& b)
{
    const QImage first = a.convertToFormat(QImage::Format_RGB32);
    const QImage second = b.convertToFormat(QImage::Format_RGB32);
    double total = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y), q = second.pixel(x, y);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    return total / (3.0 * first.width() * first.height());
}

JpegCase randomCase(std::mt19937& random)
{
    JpegCase c;
    c.width = testimages::smallLength(random, 300);
    c.height = testimages::smallLength(random, 300);
    c.grey = random() % 5 == 0;
    c.progressive = random() % 2 == 0;
    constexpr int samplings[][2] = { { 1, 1 }, { 2, 1 }, { 2, 2 }, { 1, 2 } };
    const auto& sampling = samplings[random() % 4];
    c.hSampling = sampling[0];
    c.vSampling = sampling[1];
    c.restartRows = random() % 3 == 0 ? 1 + int(random() % 4) : 0;
    c.quality = 40 + int(random() % 61);
    c.orientation = 1 + int(random() % 8);
    c.contentSeed = unsigned(random());
    return c;
}

// The reduction the decoder fed as bytes arrive picks: halves until the pixels fit, at most 8.
unsigned denominatorFor(const JpegCase& c, qint64 maxPixels)
{
    unsigned denominator = 1;
    while (denominator < 8 && qint64(c.width) * c.height / (qint64(denominator) * denominator) > maxPixels)
        denominator *= 2;
    return denominator;
}

} // namespace

// Every whole decode equals libjpeg's own output turned by a plain loop; thumbnails have the fitted
// size and, against a smooth scaling of that output, differ by little on average (DCT scaling and
// the fast transform round otherwise).
TEST(JpegDifferential, DecodesMatchLibjpegTurnedByExif)
{
    int cases = 0;
    for (const unsigned seed : testimages::comparisonSeeds(60)) {
        std::mt19937 random(seed);
        const JpegCase c = randomCase(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + c.text());
        const QByteArray data = encode(c);
        ASSERT_FALSE(data.isEmpty());
        const QImage expected = orientedPlainly(reference(data), c.orientation);
        ASSERT_FALSE(expected.isNull());

        auto source = ImageSource::create(data);
        ASSERT_TRUE(source);
        EXPECT_EQ(source.value()->pixelSize(), expected.size());
        const std::optional<Bitmap> whole = source.value()->frame(0);
        ASSERT_TRUE(whole);
        ASSERT_EQ(whole->image().size(), expected.size());
        const Difference wholeDifference = difference(whole->image(), expected);
        EXPECT_EQ(wholeDifference.most, 0)
            << "at " << wholeDifference.at.x() << "," << wholeDifference.at.y();

        const int longSide = std::max(c.width, c.height);
        const int maxPixelSize = 1 + int(random() % unsigned(longSide + 8));
        const std::optional<Bitmap> thumbnail = source.value()->thumbnail(maxPixelSize);
        ASSERT_TRUE(thumbnail);
        const QSize shown = expected.size();
        QSize fitted = shown;
        if (longSide > maxPixelSize) {
            const double factor = double(maxPixelSize) / longSide;
            fitted = QSize(std::max(1, int(std::lround(shown.width() * factor))),
                std::max(1, int(std::lround(shown.height() * factor))));
        }
        SCOPED_TRACE("thumbnail at most " + std::to_string(maxPixelSize));
        ASSERT_EQ(thumbnail->image().size(), fitted);
        // DCT scaling averages whole 8 × 8 blocks, and the encoder fills the last block of a row or
        // column by repeating the edge: in a thumbnail a few blocks across, the edge pixels lean
        // towards the edge's colour, and the partial block's pixel, stretched like the others, shifts
        // the picture by under a pixel. Only thumbnails of pictures many blocks across are compared.
        if (std::min(c.width, c.height) >= 64 && std::min(fitted.width(), fitted.height()) >= 8) {
            EXPECT_LT(meanDifference(thumbnail->image(),
                          expected.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
                12.0);
        }
        ++cases;
    }
    EXPECT_GT(cases, 0);
}

// Bytes fed in random pieces, down to one byte, give libjpeg's whole-file output once all are in,
// at full size and reduced; a file cut anywhere gives a failure or an image of the right size.
TEST(JpegDifferential, DecoderFedInPiecesMatchesWholeFileDecode)
{
    int cases = 0;
    for (const unsigned seed : testimages::comparisonSeeds(40)) {
        std::mt19937 random(seed + 1000);
        JpegCase c = randomCase(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + c.text());
        const QByteArray data = encode(c);
        ASSERT_FALSE(data.isEmpty());

        const qint64 maxPixels = random() % 2 ? 0 : 1 + qint64(random() % unsigned(c.width * c.height));
        const unsigned denominator = maxPixels > 0 ? denominatorFor(c, maxPixels) : 1;
        ProgressiveJpegDecoder decoder({}, maxPixels);
        const int largest = random() % 3 == 0 ? 1 : 1 + int(random() % 700);
        for (qsizetype at = 0; at < data.size();) {
            const qsizetype piece = std::min<qsizetype>(1 + random() % unsigned(largest), data.size() - at);
            decoder.append(QByteArrayView(data.constData() + at, piece));
            at += piece;
            if (random() % 16 == 0)
                (void)decoder.render();
        }
        decoder.finish();
        ASSERT_FALSE(decoder.failure());
        EXPECT_EQ(decoder.isProgressive(), c.progressive);
        const std::optional<QImage> rendered = decoder.render();
        ASSERT_TRUE(rendered);
        const QImage expected = orientedPlainly(reference(data, denominator), c.orientation);
        ASSERT_EQ(rendered->size(), expected.size()) << "reduced by " << denominator;
        const Difference pieces = difference(*rendered, expected);
        EXPECT_EQ(pieces.most, 0) << "at " << pieces.at.x() << "," << pieces.at.y();

        const qsizetype cut = qsizetype(random() % unsigned(data.size()));
        auto prefix = ProgressiveJpegDecoder::decodePrefix(QByteArrayView(data.constData(), cut));
        if (prefix) {
            EXPECT_EQ(prefix.value().size(), orientedPlainly(reference(data), c.orientation).size())
                << "cut at " << cut;
        }
        ++cases;
    }
    EXPECT_GT(cases, 0);
}

// A picture under 8 pixels a side comes out the same at a scale of 7/8 or less as at full size;
// it is decoded at full size all the same, with libjpeg's exact pixels, not a reduced transform's.
TEST(JpegDifferential, ImagesUnderEightPixelsDecodeAtFullPrecision)
{
    for (const QSize size : { QSize(1, 1), QSize(3, 5), QSize(7, 7), QSize(2, 6) }) {
        JpegCase c;
        c.width = size.width();
        c.height = size.height();
        c.hSampling = c.vSampling = 2;
        c.contentSeed = 3;
        const QByteArray data = encode(c);
        auto decoded = decodeScaledJpeg(data, 0, {});
        ASSERT_TRUE(decoded);
        EXPECT_EQ(difference(decoded.value(), reference(data)).most, 0) << c.text();
    }
}
