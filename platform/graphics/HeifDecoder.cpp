#include "platform/graphics/HeifDecoder.h"

#include "platform/graphics/ColorManagement.h"
#include "platform/graphics/JpegDecoder.h"

#include <QColorSpace>
#include <QPointF>

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace platform {

namespace {

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(const heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<const heif_image_handle, HandleDeleter>;
using DecodedImage = std::unique_ptr<const heif_image, ImageDeleter>;

void initialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

quint64 readBigEndian(QByteArrayView data, qsizetype at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | quint8(data[at + i]);
    return value;
}

// One ISO media box: its type and where its contents lie.
struct Box {
    QByteArrayView type;
    qsizetype contents = 0;
    qsizetype end = 0;
};

// The box at `at`, which must end by `end`; nothing for a damaged or cut-short one.
std::optional<Box> boxAt(QByteArrayView data, qsizetype at, qsizetype end)
{
    if (end - at < 8)
        return std::nullopt;
    quint64 size = readBigEndian(data, at, 4);
    qsizetype header = 8;
    if (size == 1) {
        if (end - at < 16)
            return std::nullopt;
        size = readBigEndian(data, at + 8, 8);
        header = 16;
    } else if (size == 0) {
        size = quint64(end - at);
    }
    if (size < quint64(header) || size > quint64(end - at))
        return std::nullopt;
    return Box { data.sliced(at + 4, 4), at + header, at + qsizetype(size) };
}

// The first child of type `type` among the boxes from `at` to `end`.
std::optional<Box> findBox(QByteArrayView data, qsizetype at, qsizetype end, QByteArrayView type)
{
    while (const std::optional<Box> box = boxAt(data, at, end)) {
        if (box->type == type)
            return box;
        at = box->end;
    }
    return std::nullopt;
}

// Reads big-endian numbers from a box's contents; a read past its end fails this and every later one.
struct BoxReader {
    QByteArrayView data;
    qsizetype at = 0;
    qsizetype end = 0;
    bool ok = true;

    quint64 read(int bytes)
    {
        if (!ok || end - at < bytes) {
            ok = false;
            return 0;
        }
        const quint64 value = readBigEndian(data, at, bytes);
        at += bytes;
        return value;
    }
};

// The ids of the items of `type` that 'iinf' lists (versions 2 and 3 of 'infe' name a type).
std::vector<quint32> itemsOfType(QByteArrayView data, const Box& meta, QByteArrayView type)
{
    std::vector<quint32> ids;
    const std::optional<Box> info = findBox(data, meta.contents + 4, meta.end, "iinf");
    if (!info || info->end - info->contents < 6)
        return ids;
    const int version = quint8(data[info->contents]);
    for (qsizetype at = info->contents + 4 + (version == 0 ? 2 : 4);;) {
        const std::optional<Box> entry = boxAt(data, at, info->end);
        if (!entry)
            break;
        at = entry->end;
        BoxReader reader { data, entry->contents, entry->end };
        const quint64 entryVersion = reader.read(4) >> 24;
        if (entry->type != "infe" || (entryVersion != 2 && entryVersion != 3))
            continue;
        const auto id = quint32(reader.read(entryVersion == 2 ? 2 : 4));
        reader.read(2); // protection index
        if (reader.ok && reader.end - reader.at >= 4 && data.sliced(reader.at, 4) == type)
            ids.push_back(id);
    }
    return ids;
}

// The first `length` bytes (or fewer, when it is shorter) of item `id`'s data, gathered from its
// extents as 'iloc' places them, in the file or in 'idat'; nothing when they cannot be found or an
// extent runs past the end of its region (libheif reads such an 'idat' extent on into the boxes
// after it).
std::optional<QByteArray> itemData(QByteArrayView data, const Box& meta, quint32 id, qsizetype length)
{
    const std::optional<Box> locations = findBox(data, meta.contents + 4, meta.end, "iloc");
    if (!locations)
        return std::nullopt;
    const std::optional<Box> inline_ = findBox(data, meta.contents + 4, meta.end, "idat");
    BoxReader reader { data, locations->contents, locations->end };
    const int version = int(reader.read(4) >> 24);
    if (version > 2)
        return std::nullopt;
    const quint64 sizes = reader.read(2);
    const int offsetSize = int(sizes >> 12 & 15), lengthSize = int(sizes >> 8 & 15);
    const int baseOffsetSize = int(sizes >> 4 & 15), indexSize = version > 0 ? int(sizes & 15) : 0;
    const quint64 count = reader.read(version < 2 ? 2 : 4);
    for (quint64 item = 0; item < count && reader.ok; ++item) {
        const quint64 itemId = reader.read(version < 2 ? 2 : 4);
        const int method = version > 0 ? int(reader.read(2) & 15) : 0;
        reader.read(2); // data reference index
        const quint64 base = reader.read(baseOffsetSize);
        const quint64 extents = reader.read(2);
        QByteArray bytes;
        bool found = true;
        for (quint64 extent = 0; extent < extents && reader.ok; ++extent) {
            reader.read(indexSize);
            const quint64 offset = reader.read(offsetSize), size = reader.read(lengthSize);
            if (itemId != id || bytes.size() >= length)
                continue;
            // Method 0 places the data in the file, method 1 in 'idat'; libheif reads no other.
            const qsizetype regionStart = method == 0 ? 0 : inline_ ? inline_->contents : -1;
            const qsizetype regionEnd = method == 0 ? data.size() : inline_ ? inline_->end : -1;
            if ((method != 0 && method != 1) || regionStart < 0 || base > quint64(regionEnd - regionStart)
                || offset > quint64(regionEnd - regionStart) - base) {
                found = false;
                continue;
            }
            const qsizetype start = regionStart + qsizetype(base + offset);
            const qsizetype available = regionEnd - start;
            if (size > quint64(available)) {
                found = false;
                continue;
            }
            const qsizetype taken = size == 0 ? available : qsizetype(size);
            bytes += data.sliced(start, std::min(taken, length - bytes.size())).toByteArray();
        }
        if (itemId == id)
            return reader.ok && found ? std::optional(bytes) : std::nullopt;
    }
    return std::nullopt;
}

// Whether the pictures the file's grids and overlays are put together into fit the limits. Each
// one's size is written in its own data, not in an 'ispe', and libheif makes a picture of that
// size before it places a single tile in it. Data that cannot be read whole is refused as damaged:
// what libheif would read in its place is not known here.
std::optional<DecodeError> derivedSizesProblem(
    QByteArrayView data, const Box& meta, const DecodingLimits& limits)
{
    // The grid's data: version, flags, rows - 1, columns - 1, then width and height. The overlay's:
    // version, flags, four 16-bit fill values, then width and height. Flag 1 makes the sizes 32-bit.
    for (const auto& [type, sizesAt] : { std::pair { QByteArrayView("grid"), 4 }, { "iovl", 10 } }) {
        for (const quint32 id : itemsOfType(data, meta, type)) {
            const std::optional<QByteArray> bytes = itemData(data, meta, id, sizesAt + 8);
            if (!bytes || bytes->size() < 2)
                return DecodeError::corrupt;
            const int field = quint8(bytes->at(1)) & 1 ? 4 : 2;
            if (bytes->size() < sizesAt + 2 * field)
                return DecodeError::corrupt;
            const quint64 pixels
                = readBigEndian(*bytes, sizesAt, field) * readBigEndian(*bytes, sizesAt + field, field);
            if (pixels > quint64(std::max<qint64>(0, limits.maxPixelsPerFrame))
                || pixels > quint64(limits.maxTotalBytes / 4))
                return DecodeError::tooLarge;
        }
    }
    return std::nullopt;
}

// What keeps the file from being decoded within the limits, if anything: whether every image size
// the file declares (each 'ispe' property: the primary image, its grid
// tiles, thumbnails, alpha and depth planes; and the pictures its grids and overlays make) fits the
// limits. libheif would allocate each of them while decoding; they are checked here before it does.
// A file whose boxes cannot be walked is left to libheif to refuse.
std::optional<DecodeError> declaredSizesProblem(QByteArrayView data, const DecodingLimits& limits)
{
    // meta and ispe are full boxes: 4 bytes of version and flags come first.
    const std::optional<Box> meta = findBox(data, 0, data.size(), "meta");
    if (!meta)
        return std::nullopt;
    if (auto problem = derivedSizesProblem(data, *meta, limits))
        return problem;
    const std::optional<Box> properties = findBox(data, meta->contents + 4, meta->end, "iprp");
    if (!properties)
        return std::nullopt;
    const std::optional<Box> container = findBox(data, properties->contents, properties->end, "ipco");
    if (!container)
        return std::nullopt;
    qint64 totalPixels = 0;
    for (qsizetype at = container->contents; at < container->end;) {
        const std::optional<Box> box = boxAt(data, at, container->end);
        if (!box)
            break;
        at = box->end;
        if (box->type != "ispe" || box->end - box->contents < 12)
            continue;
        // Two sizes near 2^32 overflow a signed product: unsigned, it holds any two 32-bit sizes.
        const quint64 pixels = quint64(readBigEndian(data, box->contents + 4, 4))
            * quint64(readBigEndian(data, box->contents + 8, 4));
        if (pixels > quint64(std::max<qint64>(0, limits.maxPixelsPerFrame)))
            return DecodeError::tooLarge;
        totalPixels += qint64(pixels);
        if (totalPixels > limits.maxTotalBytes / 4)
            return DecodeError::tooLarge;
    }
    return std::nullopt;
}

bool succeeded(const heif_error& error)
{
    return error.code == heif_error_Ok;
}

struct OpenFile {
    Context context;
    Handle primary;
    HeifHeader header;
};

// The context must not outlive `data`: libheif reads from it without a copy.
Result<OpenFile, DecodeError> openFile(const QByteArray& data, const DecodingLimits& limits)
{
    using Opened = Result<OpenFile, DecodeError>;
    if (!looksLikeHeif(data))
        return Opened::failure(DecodeError::unrecognizedFormat);
    if (auto problem = declaredSizesProblem(data, limits))
        return Opened::failure(*problem);
    initialiseOnce();
    OpenFile file;
    file.context.reset(heif_context_alloc());
    if (!file.context)
        return Opened::failure(DecodeError::corrupt);
    if (!succeeded(heif_context_read_from_memory_without_copy(
            file.context.get(), data.constData(), std::size_t(data.size()), nullptr)))
        return Opened::failure(DecodeError::corrupt);
    heif_image_handle* primary = nullptr;
    if (!succeeded(heif_context_get_primary_image_handle(file.context.get(), &primary)))
        return Opened::failure(DecodeError::corrupt);
    file.primary.reset(primary);

    const QSize size(heif_image_handle_get_width(primary), heif_image_handle_get_height(primary));
    if (size.isEmpty())
        return Opened::failure(DecodeError::corrupt);
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels > limits.maxPixelsPerFrame || pixels * 4 > limits.maxTotalBytes)
        return Opened::failure(DecodeError::tooLarge);
    file.header.size = size;
    file.header.hasAlpha = heif_image_handle_has_alpha_channel(primary);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const int probed = int(std::min<qsizetype>(data.size(), 4096));
    const heif_brand2 brand = heif_read_main_brand(bytes, probed);
    if (brand == heif_fourcc('a', 'v', 'i', 'f') || brand == heif_fourcc('a', 'v', 'i', 's')
        || (brand == heif_fourcc('m', 'i', 'f', '1')
            && heif_has_compatible_brand(bytes, probed, "avif") == 1))
        file.header.format = "avif";
    else if (std::strcmp(heif_get_file_mime_type(bytes, probed), "image/heic") == 0)
        file.header.format = "heic";
    else
        file.header.format = "heif";
    return Opened::success(std::move(file));
}

// The smallest embedded thumbnail that still covers `wanted` and has the primary image's shape;
// nothing when there is none.
Handle thumbnailCovering(const heif_image_handle* primary, QSize primarySize, QSize wanted)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return nullptr;
    std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    Handle best;
    QSize bestSize;
    for (const heif_item_id id : ids) {
        heif_image_handle* thumbnail = nullptr;
        if (!succeeded(heif_image_handle_get_thumbnail(primary, id, &thumbnail)))
            continue;
        Handle candidate(thumbnail);
        const QSize size(heif_image_handle_get_width(thumbnail), heif_image_handle_get_height(thumbnail));
        // The same proportions to within a pixel of the thumbnail.
        const double expectedHeight = double(size.width()) * primarySize.height() / primarySize.width();
        if (size.width() < wanted.width() || size.height() < wanted.height()
            || std::abs(size.height() - expectedHeight) > 1)
            continue;
        if (!best || size.width() < bestSize.width()) {
            best = std::move(candidate);
            bestSize = size;
        }
    }
    return best;
}

std::optional<QColorSpace> colorSpaceOf(const heif_color_profile_nclx& nclx)
{
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    float gamma = 0;
    switch (nclx.transfer_characteristics) {
    // The video curves are close to sRGB's, and are what such files are meant to look like on a
    // computer display.
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_unspecified:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_IEC_61966_2_1:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
        break;
    case heif_transfer_characteristic_linear:
        transfer = QColorSpace::TransferFunction::Linear;
        break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.2f;
        break;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.8f;
        break;
    default:
        // High dynamic range curves: shown as stored rather than guessed at.
        return std::nullopt;
    }
    const bool srgbPrimaries = nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5
        || nclx.color_primaries == heif_color_primaries_unspecified;
    if (srgbPrimaries && transfer == QColorSpace::TransferFunction::SRgb)
        return std::nullopt;
    if (srgbPrimaries)
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer, gamma);
    const QColorSpace space(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
        QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
        QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
        QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), transfer, gamma);
    return space.isValid() ? std::optional(space) : std::nullopt;
}

// The colour space the handle's profile describes; nothing for sRGB or an unknown one.
std::optional<QColorSpace> colorSpaceOf(const heif_image_handle* handle)
{
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), '\0');
        if (icc.isEmpty() || !succeeded(heif_image_handle_get_raw_color_profile(handle, icc.data())))
            return std::nullopt;
        const QColorSpace space = QColorSpace::fromIccProfile(icc);
        return space.isValid() ? std::optional(space) : std::nullopt;
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
        // A profile with values libheif does not know is allocated and still reported as an error.
        const std::unique_ptr<heif_color_profile_nclx, NclxDeleter> owned(nclx);
        if (!succeeded(error) || !nclx)
            return std::nullopt;
        return colorSpaceOf(*nclx);
    }
    default:
        return std::nullopt;
    }
}

std::optional<QImage> decodeHandle(const heif_image_handle* handle, const heif_image_handle* primary)
{
    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options)
        return std::nullopt;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    if (!succeeded(heif_decode_image(
            handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get())))
        return std::nullopt;
    const DecodedImage owned(decoded);
    if (heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved) != 8)
        return std::nullopt;
    int stride = 0;
    const uint8_t* samples = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    if (!samples || width <= 0 || height <= 0 || stride < width * 4)
        return std::nullopt;

    const bool hasAlpha = heif_image_handle_has_alpha_channel(handle);
    const bool premultiplied = hasAlpha && heif_image_handle_is_premultiplied_alpha(handle);
    // Read in place: the conversion makes the image's own copy while libheif's is still alive.
    const QImage samplesView(samples, width, height, stride,
        !hasAlpha           ? QImage::Format_RGBX8888
            : premultiplied ? QImage::Format_RGBA8888_Premultiplied
                            : QImage::Format_RGBA8888);
    QImage image = samplesView.convertToFormat(!hasAlpha ? QImage::Format_RGB32
            : premultiplied                              ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_ARGB32);
    if (image.isNull())
        return std::nullopt;
    // A thumbnail without a profile of its own shows the primary image's colours.
    std::optional<QColorSpace> space = colorSpaceOf(handle);
    if (!space && handle != primary)
        space = colorSpaceOf(primary);
    if (space) {
        image.setColorSpace(*space);
        convertToSrgb(image);
    }
    return image;
}

} // namespace

bool looksLikeHeif(const QByteArray& data)
{
    if (data.size() < 12 || data.mid(4, 4) != "ftyp")
        return false;
    return heif_check_filetype(reinterpret_cast<const uint8_t*>(data.constData()),
               int(std::min<qsizetype>(data.size(), 4096)))
        == heif_filetype_yes_supported;
}

Result<HeifHeader, DecodeError> readHeifHeader(const QByteArray& data, const DecodingLimits& limits)
{
    using HeaderResult = Result<HeifHeader, DecodeError>;
    try {
        auto opened = openFile(data, limits);
        if (!opened)
            return HeaderResult::failure(opened.error());
        return HeaderResult::success(opened.value().header);
    } catch (const std::bad_alloc&) {
        // libheif allocates what the boxes declare, in C++ behind its C interface.
        return HeaderResult::failure(DecodeError::tooLarge);
    }
}

std::optional<QImage> decodeHeif(const QByteArray& data, int maxPixelSize, const DecodingLimits& limits)
{
    try {
        auto opened = openFile(data, limits);
        if (!opened)
            return std::nullopt;
        const OpenFile& file = opened.value();
        const QSize wanted = sizeFittingLongSide(file.header.size, maxPixelSize);
        Handle thumbnail;
        if (wanted != file.header.size)
            thumbnail = thumbnailCovering(file.primary.get(), file.header.size, wanted);
        std::optional<QImage> image
            = decodeHandle(thumbnail ? thumbnail.get() : file.primary.get(), file.primary.get());
        if (image && image->size() != wanted)
            *image = image->scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return image;
    } catch (const std::bad_alloc&) {
        // As above: a picture too large for memory is a failed decode, not a crash.
        return std::nullopt;
    }
}

} // namespace platform
