#include "Iris/prefetch/ProgressiveJpegFixture.h"

#include "platform/graphics/ImageSource.h"
#include "platform/graphics/JpegDecoder.h"
#include "platform/graphics/ProgressiveJpegDecoder.h"

#include <QColorSpace>
#include <QtEndian>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

using namespace platform;
using namespace progressivejpeg;

namespace {

QImage oneShot(const QByteArray& data)
{
    return QImage::fromData(data, "jpeg").convertToFormat(QImage::Format_RGB32);
}

// `data` with an EXIF orientation and an ICC profile put in front of its other markers.
QByteArray withOrientationAndProfile(const QByteArray& data, int orientation, const QByteArray& icc)
{
    auto segment = [](char marker, const QByteArray& payload) {
        QByteArray bytes("\xFF");
        bytes += marker;
        const quint16 length = qToBigEndian(quint16(payload.size() + 2));
        bytes += QByteArray(reinterpret_cast<const char*>(&length), 2) + payload;
        return bytes;
    };
    // Little-endian TIFF, one IFD with the one entry: orientation, a SHORT.
    QByteArray exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
    exif += char(orientation);
    exif += QByteArray(7, '\0');
    return data.first(2) + segment('\xE1', exif)
        + segment('\xE2', QByteArray("ICC_PROFILE\0\x01\x01", 14) + icc) + data.sliced(2);
}

} // namespace

// Fed in small pieces, the decoder renders more scans as they complete, never one that is not,
// and the whole file renders as a one-shot decode does.
TEST(ProgressiveJpegDecoder, RendersEachCompletedScanAndTheWholeLikeAOneShotDecode)
{
    const QByteArray data = encode(picture(96, 64), true);
    const std::vector<qsizetype> scans = sosPositions(data);
    ASSERT_GE(scans.size(), 6u);

    ProgressiveJpegDecoder decoder;
    int lastCompleted = 0;
    int renders = 0;
    QImage previous;
    for (qsizetype offset = 0; offset < data.size(); offset += 97) {
        decoder.append(QByteArrayView(data.mid(offset, 97)));
        const qsizetype end = std::min<qsizetype>(offset + 97, data.size());
        // A scan is complete once the next one has started in the bytes seen.
        const int startedScans
            = int(std::count_if(scans.begin(), scans.end(), [&](qsizetype p) { return p + 1 < end; }));
        EXPECT_LE(decoder.completedScans(), std::max(0, startedScans)) << "at " << end;
        EXPECT_GE(decoder.completedScans(), lastCompleted);
        if (decoder.completedScans() > lastCompleted) {
            lastCompleted = decoder.completedScans();
            std::optional<QImage> image = decoder.render();
            ASSERT_TRUE(image) << "scan " << lastCompleted;
            EXPECT_EQ(image->size(), QSize(96, 64));
            if (!previous.isNull()) {
                EXPECT_NE(*image, previous) << "scan " << lastCompleted;
            }
            previous = *image;
            ++renders;
        }
    }
    EXPECT_TRUE(decoder.isProgressive());
    EXPECT_GE(renders, 5);
    EXPECT_EQ(decoder.completedScans(), int(scans.size()));
    std::optional<QImage> final = decoder.render();
    ASSERT_TRUE(final);
    EXPECT_LE(maxChannelDifference(*final, oneShot(data)), 1);

    Result<QImage, JpegFailure> whole = ProgressiveJpegDecoder::decodePrefix(data);
    ASSERT_TRUE(whole.isSuccess());
    EXPECT_LE(maxChannelDifference(whole.value(), oneShot(data)), 1);
}

// A baseline JPEG has one scan: nothing renders until its end.
TEST(ProgressiveJpegDecoder, BaselineRendersOnlyWhenComplete)
{
    const QByteArray data = encode(picture(80, 40), false);
    ProgressiveJpegDecoder decoder;
    decoder.append(QByteArrayView(data).first(data.size() - 10));
    EXPECT_FALSE(decoder.isProgressive());
    EXPECT_EQ(decoder.completedScans(), 0);
    EXPECT_FALSE(decoder.render());
    decoder.append(QByteArrayView(data).sliced(data.size() - 10));
    EXPECT_EQ(decoder.completedScans(), 1);
    std::optional<QImage> image = decoder.render();
    ASSERT_TRUE(image);
    EXPECT_LE(maxChannelDifference(*image, oneShot(data)), 1);
}

// Cut short, damaged, oversized or not a JPEG at all: a failure or a partial image, never a crash.
TEST(ProgressiveJpegDecoder, HostileInputFailsCleanly)
{
    const QByteArray data = encode(picture(64, 48), true);
    QByteArray corrupt = data;
    for (qsizetype i = data.size() / 3; i < corrupt.size(); i += 13)
        corrupt[i] = char(0xFF);
    QByteArray huge = encode(picture(16, 16), true);
    // The frame header's height and width (SOF2 at its first occurrence).
    const qsizetype sof = huge.indexOf(QByteArray("\xFF\xC2", 2));
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0x7F);
    huge[sof + 6] = char(0xF0);
    huge[sof + 7] = char(0x7F);
    huge[sof + 8] = char(0xF0);

    struct Case {
        const char* name;
        QByteArray bytes;
        bool imageExpected;
    };
    const Case cases[] = {
        { "truncated in the second half", data.first(data.size() * 2 / 3), true },
        { "truncated in the header", data.first(40), false },
        { "corrupt", corrupt, false },
        { "oversized", huge, false },
        { "random bytes", QByteArray(500, char(0x5A)), false },
        { "empty", QByteArray(), false },
    };
    for (const Case& c : cases) {
        Result<QImage, JpegFailure> result = ProgressiveJpegDecoder::decodePrefix(c.bytes);
        if (c.imageExpected) {
            EXPECT_TRUE(result.isSuccess() && result.value().size() == QSize(64, 48)) << c.name;
        }
        if (QString(c.name) == QLatin1String("oversized")) {
            ASSERT_TRUE(result.isFailure());
            EXPECT_EQ(result.error(), JpegFailure::tooLarge);
        }
        // Fed byte by byte the same input must not crash either.
        ProgressiveJpegDecoder stepwise;
        for (qsizetype i = 0; i < c.bytes.size(); i += 7) {
            stepwise.append(QByteArrayView(c.bytes.mid(i, 7)));
            (void)stepwise.render();
        }
    }
    // A tight limit refuses before allocating.
    DecodingLimits tight;
    tight.maxPixelsPerFrame = 100;
    EXPECT_TRUE(ProgressiveJpegDecoder::decodePrefix(data, tight).isFailure());
}

// Each scan costs a pass over the whole image however few bytes it takes: a file padded with
// thousands of empty scans is refused by both decoders, which stop reading at the limit, while a few
// extra scans still decode.
TEST(ProgressiveJpegDecoder, AFileOfEndlessEmptyScansIsRefusedAtTheScanLimit)
{
    const QByteArray data = encode(picture(64, 48), true);
    ASSERT_TRUE(data.endsWith(QByteArray("\xFF\xD9", 2)));
    const int usual = int(sosPositions(data).size());
    // An AC scan of the first component that holds no data at all.
    const QByteArray emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x01\x01\x00", 10);
    auto padded
        = [&](int extra) { return data.first(data.size() - 2) + emptyScan.repeated(extra) + data.last(2); };
    for (const int extra : { 10, maxJpegScans - usual, maxJpegScans - usual + 1 }) {
        const QByteArray bytes = padded(extra);
        const bool accepted = usual + extra <= maxJpegScans;
        auto source = ImageSource::create(bytes);
        ASSERT_TRUE(source.isSuccess());
        EXPECT_EQ(source.value()->frame(0).has_value(), accepted) << extra;
        EXPECT_EQ(ProgressiveJpegDecoder::decodePrefix(bytes).isSuccess(), accepted) << extra;
    }
    // A CMYK file without a profile goes to Qt's reader, which is held to the same limit
    // (cmyk-progressive.jpg: cmyk-with-profile.jpg without its profile, made progressive by
    // jpegtran). Its first component is named "C" (0x43).
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/tests/data/images/cmyk-progressive.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray cmyk = file.readAll();
    const QByteArray emptyCyanScan("\xFF\xDA\x00\x08\x01\x43\x00\x01\x01\x00", 10);
    for (const int extra : { 10, maxJpegScans }) {
        const QByteArray bytes = cmyk.first(cmyk.size() - 2) + emptyCyanScan.repeated(extra) + cmyk.last(2);
        auto source = ImageSource::create(bytes);
        ASSERT_TRUE(source.isSuccess());
        EXPECT_EQ(source.value()->frame(0).has_value(), extra == 10) << extra;
    }

    const QByteArray endless = padded(20 * maxJpegScans);
    ProgressiveJpegDecoder decoder;
    int mostScans = 0;
    for (qsizetype offset = 0; offset < endless.size() && !decoder.failure(); offset += 1000) {
        decoder.append(
            QByteArrayView(endless).sliced(offset, std::min<qsizetype>(1000, endless.size() - offset)));
        mostScans = std::max(mostScans, decoder.completedScans());
    }
    EXPECT_EQ(decoder.failure(), JpegFailure::corrupt);
    EXPECT_LE(mostScans, maxJpegScans);
}

// The files kept for fuzzing decode without crashing. As for the fuzzer, the first byte of each
// picks the size of the pieces the JPEG after it arrives in.
TEST(ProgressiveJpegDecoder, FuzzCorpusDecodesWithoutCrashing)
{
    const QDir corpus(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/progressive-jpeg"));
    ASSERT_TRUE(corpus.exists());
    const QStringList files = corpus.entryList(QDir::Files);
    EXPECT_GE(files.size(), 2);
    for (const QString& name : files) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        ASSERT_FALSE(input.isEmpty()) << name.toStdString();
        const qsizetype piece = 1 + quint8(input[0]) * 64;
        ProgressiveJpegDecoder decoder;
        for (qsizetype at = 1; at < input.size(); at += piece) {
            decoder.append(QByteArrayView(input).sliced(at, std::min(piece, input.size() - at)));
            (void)decoder.render();
        }
        decoder.finish();
        (void)decoder.render();
        // A finished image, when there is one, is the one-shot decode's.
        if (std::optional<QImage> finished = decoder.finishedImage()) {
            Result<QImage, JpegFailure> oneShot = decodeScaledJpeg(input.sliced(1), 0, DecodingLimits());
            ASSERT_TRUE(oneShot.isSuccess()) << name.toStdString();
            EXPECT_TRUE(*finished == oneShot.value()) << name.toStdString();
        }
        (void)ProgressiveJpegDecoder::decodePrefix(input.sliced(1));
    }
}

// A cap on output pixels renders reduced, never beyond one eighth.
TEST(ProgressiveJpegDecoder, RendersReducedUnderAPixelCap)
{
    const QByteArray data = encode(picture(160, 120), true);
    struct Case {
        qint64 cap;
        QSize expected;
    };
    for (const Case& c : { Case { 0, QSize(160, 120) }, Case { 160 * 120, QSize(160, 120) },
             Case { 80 * 60, QSize(80, 60) }, Case { 1000, QSize(20, 15) }, Case { 1, QSize(20, 15) } }) {
        ProgressiveJpegDecoder decoder(DecodingLimits(), c.cap);
        decoder.append(data);
        std::optional<QImage> image = decoder.render();
        ASSERT_TRUE(image) << c.cap;
        EXPECT_EQ(image->size(), c.expected) << c.cap;
        EXPECT_EQ(decoder.size(), QSize(160, 120));
    }
}

// A picture stored turned (as cameras store them) and in a wide-gamut profile is shown upright and in
// sRGB while it loads, as the finished image is, so nothing turns or shifts colour at the end.
TEST(ProgressiveJpegDecoder, PartialImagesAreUprightAndInSrgbLikeTheFinishedOne)
{
    const QByteArray icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    for (int orientation : { 1, 3, 6, 8 }) {
        const QByteArray data = withOrientationAndProfile(encode(picture(96, 64), true), orientation, icc);
        auto source = ImageSource::create(data);
        ASSERT_TRUE(source);
        std::optional<Bitmap> finished = source.value()->frame(0);
        ASSERT_TRUE(finished);

        ProgressiveJpegDecoder decoder;
        decoder.append(QByteArrayView(data));
        decoder.finish();
        EXPECT_EQ(decoder.size(), finished->image().size()) << orientation;
        std::optional<QImage> partial = decoder.render();
        ASSERT_TRUE(partial);
        EXPECT_LE(maxChannelDifference(*partial, finished->image()), 2) << orientation;
    }
}

namespace {

// What the decoder gives for `data` fed in pieces of `piece` bytes, rendering as scans complete the
// way a download shows them.
std::optional<QImage> finishedAfterPieces(const QByteArray& data, qsizetype piece, qint64 cap = 0)
{
    ProgressiveJpegDecoder decoder(DecodingLimits(), cap);
    int rendered = 0;
    for (qsizetype at = 0; at < data.size(); at += piece) {
        decoder.append(QByteArrayView(data).sliced(at, std::min(piece, data.size() - at)));
        if (decoder.completedScans() > rendered) {
            rendered = decoder.completedScans();
            (void)decoder.render();
        }
    }
    decoder.finish();
    return decoder.finishedImage();
}

} // namespace

// The decoder's last pass over the scans it has read is the one-shot decode to the pixel, in the
// same format: whatever the size, sampling, restart interval, orientation, profile or pixel cap,
// and for a file whose scans leave coefficients unrefined (which the one-shot decode smooths).
TEST(ProgressiveJpegDecoder, FinishedImageIsTheOneShotDecodeToThePixel)
{
    const QByteArray icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    const QByteArray plain = encode(picture(320, 240, true), true);
    const std::vector<qsizetype> scans = sosPositions(plain);
    ASSERT_GE(scans.size(), 4u);
    struct Case {
        const char* name;
        QByteArray data;
        qsizetype piece;
        qint64 cap;
    };
    const Case cases[] = {
        { "4:2:0, fed whole", plain, plain.size(), 0 },
        { "4:2:0, in small pieces, reduced partial images", plain, 333, 80 * 60 },
        { "4:4:4, odd size", encode(picture(97, 61, true), true, 85, 1, 1), 200, 0 },
        { "4:2:2, restart every row", encode(picture(130, 70, true), true, 85, 2, 1, 1), 150, 0 },
        { "4:2:0, restart every 3 rows, reduced", encode(picture(250, 190, true), true, 85, 2, 2, 3), 700,
            1000 },
        { "1 by 1", encode(picture(1, 1), true), 50, 0 },
        { "turned, wide gamut", withOrientationAndProfile(plain, 6, icc), 1000, 0 },
        { "mirrored", withOrientationAndProfile(plain, 2, QByteArray()), 1000, 0 },
        { "scans left unrefined", plain.first(scans[scans.size() - 2]) + QByteArray("\xFF\xD9", 2), 500, 0 },
        { "baseline", encode(picture(64, 48, true), false), 100, 0 },
    };
    for (const Case& c : cases) {
        Result<QImage, JpegFailure> oneShot = decodeScaledJpeg(c.data, 0, DecodingLimits());
        ASSERT_TRUE(oneShot.isSuccess()) << c.name;
        std::optional<QImage> finished = finishedAfterPieces(c.data, c.piece, c.cap);
        ASSERT_TRUE(finished) << c.name;
        EXPECT_EQ(finished->format(), oneShot.value().format()) << c.name;
        EXPECT_EQ(finished->size(), oneShot.value().size()) << c.name;
        EXPECT_TRUE(*finished == oneShot.value()) << c.name;
    }
}

// Whatever the one-shot decode would read another way gives no finished image, so that the caller
// decodes the file itself: a file cut short, damage worked around, grey pixels (another format),
// a failed decoder, or bytes still missing. The decoder lets its memory go in every case.
TEST(ProgressiveJpegDecoder, FinishedImageRefusesWhatTheOneShotDecodeReadsOtherwise)
{
    const QByteArray data = encode(picture(160, 120, true), true);
    QByteArray damaged = data;
    for (qsizetype at = data.size() * 6 / 10; at < data.size() * 6 / 10 + 40; ++at)
        damaged[at] = char(uchar(damaged[at]) ^ 0x55);
    const QImage grey = picture(64, 48, true).convertToFormat(QImage::Format_Grayscale8);
    QByteArray greyJpeg;
    {
        QBuffer buffer(&greyJpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(grey));
    }
    struct Case {
        const char* name;
        QByteArray data;
        bool finish;
    };
    const Case cases[] = {
        { "cut short", data.first(data.size() * 2 / 3), true },
        { "damaged scan data", damaged, true },
        { "grey", greyJpeg, true },
        { "not a JPEG", QByteArray(300, 'x'), true },
        { "not finished", data.first(data.size() - 1), false },
    };
    for (const Case& c : cases) {
        ProgressiveJpegDecoder decoder;
        decoder.append(c.data);
        if (c.finish)
            decoder.finish();
        EXPECT_FALSE(decoder.finishedImage()) << c.name;
        EXPECT_FALSE(decoder.render()) << c.name;
        EXPECT_FALSE(decoder.size()) << c.name;
    }
}
