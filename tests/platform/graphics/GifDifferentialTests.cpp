// Our GIF frames against giflib's own reading of the same generated files, composited by a plain
// loop written here.
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/RandomSeeds.h"

#include <gtest/gtest.h>

#include <QImage>

#include <gif_lib.h>

#include <random>
#include <sstream>

using namespace platform;

namespace {

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

ColorMapObject* randomMap(std::mt19937& random)
{
    const int size = 1 << (1 + random() % 8);
    std::vector<GifColorType> colors(static_cast<std::size_t>(size));
    for (GifColorType& color : colors)
        color = { GifByteType(random()), GifByteType(random()), GifByteType(random()) };
    return GifMakeMapObject(size, colors.data());
}

// A GIF drawn from `seed`: canvas and frames of small and odd sizes, frames reaching past the
// canvas, local palettes, interlacing, transparency, every disposal, frames with and without a
// control block. `text` tells what was made.
QByteArray randomGif(unsigned seed, std::string& text)
{
    std::mt19937 random(seed);
    std::ostringstream out;
    QByteArray bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &bytes,
        [](GifFileType* file, const GifByteType* data, int length) {
            static_cast<QByteArray*>(file->UserData)->append(reinterpret_cast<const char*>(data), length);
            return length;
        },
        &error);
    const int width = testimages::smallLength(random, 90), height = testimages::smallLength(random, 90);
    ColorMapObject* global = random() % 6 ? randomMap(random) : nullptr;
    out << width << "x" << height << (global ? "" : " no global palette");
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 8, 0, global);
    if (random() % 2) {
        const int loops = int(random() % 4);
        GifByteType loop[3] = { 1, GifByteType(loops), 0 };
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
        out << " loops " << loops;
    }
    const int frames = 1 + int(random() % 6);
    for (int f = 0; f < frames; ++f) {
        ColorMapObject* local = !global || random() % 3 == 0 ? randomMap(random) : nullptr;
        const ColorMapObject* map = local ? local : global;
        const int frameWidth = testimages::smallLength(random, width + 8);
        const int frameHeight = testimages::smallLength(random, height + 8);
        const int left = int(random() % unsigned(width + 4)), top = int(random() % unsigned(height + 4));
        const bool interlaced = random() % 3 == 0;
        out << " | " << frameWidth << "x" << frameHeight << "+" << left << "+" << top
            << (local ? " local" : "") << (interlaced ? " interlaced" : "");
        if (random() % 5) {
            GraphicsControlBlock control {};
            control.DisposalMode = int(random() % 4);
            control.DelayTime = int(random() % 300);
            control.TransparentColor
                = random() % 2 ? int(random() % unsigned(map->ColorCount)) : NO_TRANSPARENT_COLOR;
            GifByteType extension[4];
            EGifGCBToExtension(&control, extension);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
            out << " disposal " << control.DisposalMode << " delay " << control.DelayTime << " transparent "
                << control.TransparentColor;
        }
        EGifPutImageDesc(gif, left, top, frameWidth, frameHeight, interlaced, local);
        // Few colours per frame, in runs, so that transparency and disposal have areas to show.
        std::vector<std::vector<GifPixelType>> rows(static_cast<std::size_t>(frameHeight));
        const int colors = 1 + int(random() % 4);
        std::vector<GifPixelType> used(static_cast<std::size_t>(colors));
        for (GifPixelType& index : used)
            index = GifPixelType(random() % unsigned(map->ColorCount));
        for (auto& row : rows) {
            row.resize(std::size_t(frameWidth));
            for (auto& pixel : row)
                pixel = random() % 4 == 0 ? used[random() % used.size()] : used[0];
        }
        if (interlaced) {
            constexpr int starts[] = { 0, 4, 2, 1 }, steps[] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4; ++pass)
                for (int y = starts[pass]; y < frameHeight; y += steps[pass])
                    EGifPutLine(gif, rows[std::size_t(y)].data(), frameWidth);
        } else {
            for (auto& row : rows)
                EGifPutLine(gif, row.data(), frameWidth);
        }
        GifFreeMapObject(local);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(global);
    text = out.str();
    return bytes;
}

struct ReferenceFrames {
    std::vector<QImage> canvases;
    std::vector<std::optional<int>> delays;
    int loopCount = -1;
};

// giflib reads the whole file; each frame is drawn over the canvas left by the one before, after
// that one's disposal: kept, cleared to transparent, or put back as it was before it was drawn.
// Pixels outside the canvas are dropped.
ReferenceFrames referenceFrames(const QByteArray& data)
{
    struct Reader {
        const QByteArray* data;
        qsizetype at = 0;
    } reader { &data };
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(
        &reader,
        [](GifFileType* file, GifByteType* buffer, int length) {
            auto* r = static_cast<Reader*>(file->UserData);
            const qsizetype count = std::min<qsizetype>(length, r->data->size() - r->at);
            std::memcpy(buffer, r->data->constData() + r->at, std::size_t(count));
            r->at += count;
            return int(count);
        },
        &error));
    ReferenceFrames result;
    if (!gif || DGifSlurp(gif.get()) != GIF_OK)
        return result;
    QImage canvas(gif->SWidth, gif->SHeight, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(0);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        for (int e = 0; e < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = image.ExtensionBlocks[e];
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11
                && e + 1 < image.ExtensionBlockCount)
                result.loopCount
                    = image.ExtensionBlocks[e + 1].Bytes[1] | image.ExtensionBlocks[e + 1].Bytes[2] << 8;
        }
        GraphicsControlBlock control { DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR };
        const bool hasControl = DGifSavedExtensionToGCB(gif.get(), i, &control) == GIF_OK;
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        const QImage before = canvas.copy();
        const GifImageDesc& desc = image.ImageDesc;
        for (int y = 0; y < desc.Height; ++y)
            for (int x = 0; x < desc.Width; ++x) {
                const int index = image.RasterBits[y * desc.Width + x];
                const int cx = desc.Left + x, cy = desc.Top + y;
                if (index == control.TransparentColor || cx >= canvas.width() || cy >= canvas.height())
                    continue;
                const GifColorType color = map->Colors[index];
                canvas.setPixel(cx, cy, qRgb(color.Red, color.Green, color.Blue));
            }
        result.canvases.push_back(canvas);
        result.delays.push_back(hasControl ? std::optional<int>(control.DelayTime) : std::nullopt);
        if (control.DisposalMode == DISPOSE_BACKGROUND) {
            for (int y = desc.Top; y < std::min(desc.Top + desc.Height, canvas.height()); ++y)
                for (int x = desc.Left; x < std::min(desc.Left + desc.Width, canvas.width()); ++x)
                    canvas.setPixel(x, y, 0);
        } else if (control.DisposalMode == DISPOSE_PREVIOUS) {
            canvas = before;
        }
    }
    return result;
}

QString firstDifference(const QImage& ours, const QImage& expected)
{
    if (ours.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(ours.width())
            .arg(ours.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage converted = ours.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (converted.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(converted.pixel(x, y), 8, 16)
                    .arg(expected.pixel(x, y), 8, 16);
    return {};
}

} // namespace

// Frame count, canvases, delays and loop count agree with giflib and the plain compositing loop,
// frames asked for in order and at random; a file cut anywhere gives no frame that differs from
// the whole file's.
TEST(GifDifferential, FramesMatchGiflibCompositedPlainly)
{
    int frames = 0;
    for (const unsigned seed : testimages::comparisonSeeds(150)) {
        std::string text;
        const QByteArray data = randomGif(seed, text);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + text);
        const ReferenceFrames expected = referenceFrames(data);
        ASSERT_FALSE(expected.canvases.empty());

        auto source = ImageSource::create(data);
        ASSERT_TRUE(source);
        const ImageSource& ours = *source.value();
        ASSERT_EQ(ours.frameCount(), int(expected.canvases.size()));
        EXPECT_EQ(ours.pixelSize(), expected.canvases[0].size());
        EXPECT_EQ(ours.loopCount().value_or(-1), expected.loopCount);
        std::mt19937 random(seed);
        for (int step = 0; step < 2 * ours.frameCount(); ++step) {
            const int i = step < ours.frameCount() ? step : int(random() % unsigned(ours.frameCount()));
            const std::optional<Bitmap> frame = ours.frame(i);
            ASSERT_TRUE(frame) << "frame " << i;
            EXPECT_EQ(firstDifference(frame->image(), expected.canvases[std::size_t(i)]), QString())
                << "frame " << i;
            const std::optional<double> delay = ours.frameProperties(i)->gifDelaySeconds;
            EXPECT_EQ(delay.has_value(), expected.delays[std::size_t(i)].has_value()) << "frame " << i;
            if (delay && expected.delays[std::size_t(i)]) {
                EXPECT_DOUBLE_EQ(*delay, *expected.delays[std::size_t(i)] / 100.0);
            }
            ++frames;
        }

        const qsizetype cut = 1 + qsizetype(random() % unsigned(data.size()));
        auto shortened = ImageSource::create(data.left(cut));
        if (!shortened)
            continue;
        for (int i = 0; i < std::min(shortened.value()->frameCount(), ours.frameCount()); ++i) {
            if (const std::optional<Bitmap> frame = shortened.value()->frame(i)) {
                EXPECT_EQ(firstDifference(frame->image(), expected.canvases[std::size_t(i)]), QString())
                    << "frame " << i << " of the first " << cut << " bytes";
            }
        }
        EXPECT_LE(shortened.value()->frameCount(), ours.frameCount());
    }
    EXPECT_GT(frames, 0);
}
