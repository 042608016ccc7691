#include "platform/graphics/JpegDecoder.h"

#include "platform/graphics/ColorManagement.h"
#include "platform/graphics/ImageSource.h"

#include "platform/foundation/DispatchQueue.h"

#include <QColorSpace>
#include <QTransform>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace platform {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void exitByJump(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void ignoreMessage(j_common_ptr)
{
}

// Called before each step of reading the scans.
void stopPastScanLimit(j_common_ptr info)
{
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > maxJpegScans)
        exitByJump(info);
}

std::uint16_t read16(const unsigned char* p, bool littleEndian)
{
    return littleEndian ? std::uint16_t(p[0] | p[1] << 8) : std::uint16_t(p[0] << 8 | p[1]);
}

std::uint32_t read32(const unsigned char* p, bool littleEndian)
{
    return littleEndian ? std::uint32_t(p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24)
                        : std::uint32_t(std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

bool isExif(const unsigned char* data, unsigned length)
{
    return length >= 14 && std::memcmp(data, "Exif\0\0", 6) == 0;
}

// The EXIF orientation (1 to 8) in an APP1 marker that holds EXIF data, or 1.
int exifOrientation(const unsigned char* data, unsigned length)
{
    const unsigned char* tiff = data + 6;
    const unsigned tiffLength = length - 6;
    const bool littleEndian = tiff[0] == 'I' && tiff[1] == 'I';
    if (!littleEndian && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    const std::uint32_t ifd = read32(tiff + 4, littleEndian);
    if (ifd > tiffLength - 2)
        return 1;
    const unsigned count = read16(tiff + ifd, littleEndian);
    for (unsigned i = 0; i < count; ++i) {
        const std::uint64_t entry = std::uint64_t(ifd) + 2 + 12 * std::uint64_t(i);
        if (entry + 12 > tiffLength)
            return 1;
        if (read16(tiff + entry, littleEndian) == 0x0112) {
            const int value = read16(tiff + entry + 8, littleEndian);
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

// The same steps QImageReader takes for an EXIF orientation: mirror and flip, then a quarter turn.
QImage oriented(const QImage& image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

// libjpeg-turbo's colour conversion writes a row that starts on a 32-byte boundary (16 without
// AVX2) with streaming stores, which go past the caches to memory, and any other row with plain
// ones. Streaming pays off for an image too large to stay in the caches; a smaller one is decoded
// faster through them, and is then still there for whatever draws or stores it next (measured on a
// 1 MP JPEG: 5% faster; from about 8 MB, streaming is 1-4% faster). malloc leaves the choice to
// chance, so the decoder places the rows itself.
constexpr qsizetype cachedOutputLimitBytes = 6 * 1024 * 1024;
constexpr std::uintptr_t streamingAlignment = 32;
// A multiple of 4 (QImage's own row alignment) that is not one of 16.
constexpr std::uintptr_t cachedRowOffset = 8;

// The memory of decoded images freed a moment ago, for the next decode of the same size. Fresh
// memory costs a page fault per 4 KB page as it is first written (for a 1 MP image about a third of
// the decode's own time, more in a virtual machine), and malloc hands large blocks back to the
// system as soon as they are freed. Where images come and go (a cache at its limit dropping the
// oldest as new ones arrive, a list scrolling by), the pages of the image just dropped serve the
// next one. At most `recycledLimitBytes` are kept, each block for at most `recycledLifetime`.
class RecycledBlocks {
public:
    static RecycledBlocks& shared()
    {
        // Never destroyed: images may be freed while static objects are torn down.
        static RecycledBlocks* blocks = new RecycledBlocks;
        return *blocks;
    }

    // A block of exactly `size` bytes freed recently, or null.
    void* take(std::size_t size)
    {
        std::lock_guard lock(m_mutex);
        for (auto block = m_blocks.begin(); block != m_blocks.end(); ++block) {
            if (block->size == size) {
                void* memory = block->memory;
                m_bytes -= size;
                m_blocks.erase(block);
                return memory;
            }
        }
        return nullptr;
    }

    void give(void* memory, std::size_t size)
    {
        bool scheduleTrim = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_bytes + size <= recycledLimitBytes) {
                m_blocks.push_back(Block { memory, size, Clock::now() });
                m_bytes += size;
                memory = nullptr;
                scheduleTrim = !std::exchange(m_trimScheduled, true);
            }
        }
        std::free(memory);
        if (scheduleTrim)
            scheduleTrimming();
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Block {
        void* memory;
        std::size_t size;
        Clock::time_point freedAt;
    };
    static constexpr std::size_t recycledLimitBytes = 16 * 1024 * 1024;
    static constexpr std::chrono::seconds recycledLifetime { 2 };

    void scheduleTrimming()
    {
        DispatchQueue::global()->asyncAfter(recycledLifetime, [this] { trim(); });
    }

    // Frees the blocks kept longer than their lifetime, and comes back while any are left.
    void trim()
    {
        std::vector<void*> expired;
        bool again = false;
        {
            std::lock_guard lock(m_mutex);
            const Clock::time_point oldest = Clock::now() - recycledLifetime;
            std::erase_if(m_blocks, [&](const Block& block) {
                if (block.freedAt > oldest)
                    return false;
                expired.push_back(block.memory);
                m_bytes -= block.size;
                return true;
            });
            again = !m_blocks.empty();
            m_trimScheduled = again;
        }
        for (void* memory : expired)
            std::free(memory);
        if (again)
            scheduleTrimming();
    }

    std::mutex m_mutex;
    std::vector<Block> m_blocks;
    std::size_t m_bytes = 0;
    bool m_trimScheduled = false;
};

struct OutputBlock {
    void* memory;
    std::size_t size;
};

void recycleBlock(void* info)
{
    auto* block = static_cast<OutputBlock*>(info);
    RecycledBlocks::shared().give(block->memory, block->size);
    delete block;
}

// An image whose first row starts where libjpeg-turbo writes it the faster way for its size, in a
// recycled block where there is one; a null image when the memory cannot be had.
QImage outputImage(int width, int height, QImage::Format format)
{
    const int bytesPerPixel = format == QImage::Format_Grayscale8 ? 1 : 4;
    const qsizetype bytesPerLine = (qsizetype(width) * bytesPerPixel + 3) & ~qsizetype(3);
    const qsizetype bytes = bytesPerLine * height;
    const std::uintptr_t offset = bytes <= cachedOutputLimitBytes ? cachedRowOffset : 0;
    const std::size_t size = std::size_t(bytes) + streamingAlignment + offset;
    void* memory = RecycledBlocks::shared().take(size);
    if (!memory)
        memory = std::malloc(size);
    if (!memory)
        return QImage();
    const std::uintptr_t aligned
        = (reinterpret_cast<std::uintptr_t>(memory) + streamingAlignment - 1) & ~(streamingAlignment - 1);
    auto* block = new OutputBlock { memory, size };
    QImage image(
        reinterpret_cast<uchar*>(aligned + offset), width, height, bytesPerLine, format, recycleBlock, block);
    if (image.isNull())
        recycleBlock(block);
    return image;
}

struct DecodeState {
    jpeg_decompress_struct info;
    ErrorManager errors;
    JpegFailure failure = JpegFailure::corrupt;
    int orientation = 1;
    QSize storedSize;
    JOCTET* icc = nullptr;
    unsigned iccLength = 0;
    jpeg_progress_mgr progress {};
    // CMYK samples decoded as they are, for a conversion through the file's CMYK profile or, without
    // one, the plain conversion.
    bool cmyk = false;
    bool cmykInverted = false;
};

// Sets up `info` over `data` and reads the markers up to the first scan, keeping the EXIF and ICC
// markers. A damaged header jumps back to the caller's setjmp.
void startReading(DecodeState& state, const QByteArray& data)
{
    jpeg_decompress_struct& info = state.info;
    jpeg_create_decompress(&info);
    jpeg_mem_src(
        &info, reinterpret_cast<const unsigned char*>(data.constData()), (unsigned long)(data.size()));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    state.storedSize = QSize(int(info.image_width), int(info.image_height));
    // APP1 holds XMP packets too, often before the EXIF data.
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && isExif(marker->data, marker->data_length)) {
            state.orientation = exifOrientation(marker->data, marker->data_length);
            break;
        }
    }
}

void installErrorManager(DecodeState& state)
{
    state.info.err = jpeg_std_error(&state.errors.base);
    state.errors.base.error_exit = exitByJump;
    state.errors.base.output_message = ignoreMessage;
}

// Kept free of objects with destructors between setjmp and the libjpeg calls that may jump back.
bool readHeaderInto(DecodeState& state, const QByteArray& data, int& components)
{
    installErrorManager(state);
    if (setjmp(state.errors.jump)) {
        jpeg_destroy_decompress(&state.info);
        return false;
    }
    startReading(state, data);
    components = state.info.num_components;
    jpeg_destroy_decompress(&state.info);
    return true;
}

// Kept free of objects with destructors between setjmp and the libjpeg calls that may jump back.
bool decodeInto(DecodeState& state, const QByteArray& data, int maxPixelSize, const DecodingLimits& limits,
    QImage& output)
{
    jpeg_decompress_struct& info = state.info;
    installErrorManager(state);
    if (setjmp(state.errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    startReading(state, data);
    state.progress.progress_monitor = stopPastScanLimit;
    info.progress = &state.progress;

    const qint64 pixels = qint64(info.image_width) * info.image_height;
    if (pixels > limits.maxPixelsPerFrame || pixels * 4 > limits.maxTotalBytes) {
        state.failure = JpegFailure::tooLarge;
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_read_icc_profile(&info, &state.icc, &state.iccLength);
    if (info.num_components == 3)
        info.out_color_space = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    else if (info.num_components == 1)
        info.out_color_space = JCS_GRAYSCALE;
    else if (info.num_components == 4) {
        // YCCK comes out as CMYK too. Files with an Adobe marker store the samples inverted; the
        // others store them as inks, 0 for none.
        info.out_color_space = JCS_CMYK;
        state.cmyk = true;
        state.cmykInverted = info.saw_Adobe_marker;
    } else {
        state.failure = JpegFailure::unsupported;
        jpeg_destroy_decompress(&info);
        return false;
    }

    // The smallest DCT scale (in eighths) whose output still reaches the wanted size; the rest of the
    // way is a smooth scale of a small image.
    const unsigned longSide = std::max(info.image_width, info.image_height);
    const unsigned target = maxPixelSize > 0 ? std::min(unsigned(maxPixelSize), longSide) : longSide;
    info.scale_denom = 8;
    for (unsigned eighths = 1; eighths <= 8; ++eighths) {
        info.scale_num = eighths;
        jpeg_calc_output_dimensions(&info);
        if (std::max(info.output_width, info.output_height) >= target)
            break;
    }
    // Under 8 pixels a side, a reduced scale can round back up to the whole size: that is no
    // reduction, and would only trade exact pixels for the fast transform's.
    if (info.output_width == info.image_width && info.output_height == info.image_height) {
        info.scale_num = 8;
        jpeg_calc_output_dimensions(&info);
    }
    // Quality settings that matter at full size do not at a reduced one, where each output pixel
    // already averages a block: the fast integer transform and plain upsampling are enough.
    if (info.scale_num < info.scale_denom) {
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&info);
    output = outputImage(int(info.output_width), int(info.output_height),
        info.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (output.isNull()) {
        state.failure = JpegFailure::tooLarge;
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = output.scanLine(int(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
    }
    const bool whole = info.output_scanline == info.output_height;
    if (whole)
        jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return whole;
}

} // namespace

int jpegScanCount(QByteArrayView data, int limit)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const qsizetype size = data.size();
    int count = 0;
    qsizetype at = 0;
    while (count <= limit) {
        // The next marker: an 0xFF followed by neither a stuffed zero nor another (fill) 0xFF. This
        // passes over entropy-coded data after a scan's header, and over anything a damaged file
        // has where a marker belongs. memchr keeps the walk far below a decode's cost.
        const void* found = at < size ? std::memchr(bytes + at, 0xFF, std::size_t(size - at)) : nullptr;
        if (!found)
            return count;
        at = static_cast<const unsigned char*>(found) - bytes;
        if (at + 1 >= size)
            return count;
        const unsigned char marker = bytes[at + 1];
        if (marker == 0x00 || marker == 0xFF) {
            at += marker == 0x00 ? 2 : 1;
            continue;
        }
        at += 2;
        if (marker == 0xD9)
            return count;
        // Start of image, restarts and TEM stand alone; every other marker has a length.
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (at + 2 > size)
            return count;
        if (marker == 0xDA)
            ++count;
        // A length under two skips only itself, as a decoder reads such a segment: the markers
        // after it are read too.
        at += std::max<qsizetype>(qsizetype(bytes[at]) << 8 | bytes[at + 1], 2);
    }
    return count;
}

QSize sizeFittingLongSide(QSize size, int maxPixelSize)
{
    const int longSide = std::max(size.width(), size.height());
    if (maxPixelSize <= 0 || longSide <= maxPixelSize)
        return size;
    const double factor = double(maxPixelSize) / longSide;
    return QSize(std::max(1, int(std::lround(size.width() * factor))),
        std::max(1, int(std::lround(size.height() * factor))));
}

std::optional<JpegHeader> readJpegHeader(const QByteArray& data)
{
    auto state = std::make_unique<DecodeState>();
    std::memset(&state->info, 0, sizeof state->info);
    int components = 0;
    if (!readHeaderInto(*state, data, components))
        return std::nullopt;
    return JpegHeader { state->storedSize, components, state->orientation };
}

Result<QImage, JpegFailure> decodeScaledJpeg(
    const QByteArray& data, int maxPixelSize, const DecodingLimits& limits)
{
    using JpegResult = Result<QImage, JpegFailure>;
    auto state = std::make_unique<DecodeState>();
    std::memset(&state->info, 0, sizeof state->info);
    QImage image;
    const bool decoded = decodeInto(*state, data, maxPixelSize, limits, image);
    const QByteArray icc = state->icc
        ? QByteArray(reinterpret_cast<const char*>(state->icc), int(state->iccLength))
        : QByteArray();
    std::free(state->icc);
    if (!decoded)
        return JpegResult::failure(state->failure);
    // Converted before any scaling, which would blend the K samples held where alpha goes. A profile
    // that cannot be used counts as none.
    if (state->cmyk) {
        const CmykStorage storage = state->cmykInverted ? CmykStorage::inverted : CmykStorage::plain;
        if (!convertCmykToSrgb(image, icc, storage))
            convertCmykToRgbWithoutProfile(image, storage);
    }

    // Fitted from the stored size, not from the DCT's rounded-up output, so that the aspect ratio is
    // the one every other format gets; the quarter turns of the orientation come after.
    const QSize fitted = sizeFittingLongSide(state->storedSize, maxPixelSize);
    if (fitted != image.size())
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (!icc.isEmpty() && !state->cmyk) {
        image.setColorSpace(QColorSpace::fromIccProfile(icc));
        convertToSrgb(image);
    }
    return JpegResult::success(oriented(image, state->orientation));
}

std::optional<int> exifOrientationOfMarker(const unsigned char* data, unsigned length)
{
    if (!isExif(data, length))
        return std::nullopt;
    return exifOrientation(data, length);
}

QImage orientedByExif(const QImage& image, int orientation)
{
    return oriented(image, orientation);
}

} // namespace platform
