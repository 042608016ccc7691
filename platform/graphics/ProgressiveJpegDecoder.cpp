#include "platform/graphics/ProgressiveJpegDecoder.h"

#include "platform/graphics/ColorManagement.h"

#include <QColorSpace>

#include <algorithm>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Warnings (damage libjpeg worked around) are counted, as the standard handler does, so that an
// image read past damage is never taken for a clean decode.
void countWarning(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
}

const JOCTET endOfImage[] = { 0xFF, 0xD9 };

} // namespace

// The source manager suspends where the bytes end: libjpeg then returns to us and resumes from its
// last consistent position once more bytes have been appended, so those bytes are kept.
struct ProgressiveJpegDecoder::State {
    jpeg_decompress_struct info {};
    ErrorManager errors {};
    jpeg_source_mgr source {};
    std::vector<JOCTET> unconsumed;
    std::size_t pendingSkip = 0;
    bool ended = false;
    bool headerRead = false;
    bool started = false;
    bool inputComplete = false;
    bool inOutput = false;
    // The bytes ran out for good before the end marker: libjpeg was handed one of our own.
    bool cutShort = false;
    // Warnings up to the first scan (a marker libjpeg does not like) are met by every decode alike.
    long headerWarnings = 0;
    // Rendered images are this many times smaller on each side than the decoder's output.
    int reduction = 1;
    // One output row, and the sums of a band of them, for a reduced rendering.
    std::vector<JOCTET> row;
    std::vector<quint32> sums;
    // What the markers before the first scan say of how the pixels are meant to be seen.
    int orientation = 1;
    QByteArray icc;
    // Lives here rather than on the stack, where a failure's jump would leave it undefined.
    QImage output;

    static State* of(j_decompress_ptr info) { return reinterpret_cast<State*>(info->client_data); }

    static void initSource(j_decompress_ptr) { }
    static boolean fillInputBuffer(j_decompress_ptr info)
    {
        State* state = of(info);
        if (!state->ended)
            return FALSE;
        state->cutShort = true;
        // Cut short for good: an end marker lets libjpeg finish with what it has.
        info->src->next_input_byte = endOfImage;
        info->src->bytes_in_buffer = sizeof endOfImage;
        return TRUE;
    }
    static void skipInputData(j_decompress_ptr info, long count)
    {
        if (count <= 0)
            return;
        jpeg_source_mgr* source = info->src;
        if (std::size_t(count) <= source->bytes_in_buffer) {
            source->next_input_byte += count;
            source->bytes_in_buffer -= std::size_t(count);
            return;
        }
        of(info)->pendingSkip += std::size_t(count) - source->bytes_in_buffer;
        source->next_input_byte += source->bytes_in_buffer;
        source->bytes_in_buffer = 0;
    }
    static void termSource(j_decompress_ptr) { }

    State()
    {
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = exitByJump;
        errors.base.output_message = ignoreMessage;
        errors.base.emit_message = countWarning;
        jpeg_create_decompress(&info);
        info.client_data = this;
        source.init_source = initSource;
        source.fill_input_buffer = fillInputBuffer;
        source.skip_input_data = skipInputData;
        source.resync_to_restart = jpeg_resync_to_restart;
        source.term_source = termSource;
        info.src = &source;
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    }
    ~State() { jpeg_destroy_decompress(&info); }

    void append(QByteArrayView bytes)
    {
        // Drop what libjpeg has consumed; keep from its resume point on.
        const std::size_t consumed = source.next_input_byte && !unconsumed.empty()
            ? std::size_t(source.next_input_byte - unconsumed.data())
            : 0;
        if (consumed <= unconsumed.size())
            unconsumed.erase(unconsumed.begin(), unconsumed.begin() + qsizetype(consumed));
        qsizetype offset = 0;
        if (pendingSkip > 0) {
            const std::size_t skipped = std::min<std::size_t>(pendingSkip, std::size_t(bytes.size()));
            pendingSkip -= skipped;
            offset = qsizetype(skipped);
        }
        const auto* data = reinterpret_cast<const JOCTET*>(bytes.data());
        unconsumed.insert(unconsumed.end(), data + offset, data + bytes.size());
        source.next_input_byte = unconsumed.data();
        source.bytes_in_buffer = unconsumed.size();
    }

    int completedScans() const
    {
        if (!started)
            return 0;
        if (inputComplete)
            return info.input_scan_number;
        // The current scan counts once all its rows are in and libjpeg is looking for the next
        // marker.
        return info.input_iMCU_row >= info.total_iMCU_rows ? info.input_scan_number
                                                           : info.input_scan_number - 1;
    }
};

namespace {

// APP1 holds XMP packets too, often before the EXIF data.
void readOrientationAndProfile(auto& state)
{
    for (jpeg_saved_marker_ptr marker = state.info.marker_list; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1)
            continue;
        if (std::optional<int> orientation = exifOrientationOfMarker(marker->data, marker->data_length)) {
            state.orientation = *orientation;
            break;
        }
    }
    JOCTET* icc = nullptr;
    unsigned iccLength = 0;
    if (jpeg_read_icc_profile(&state.info, &icc, &iccLength) && icc) {
        state.icc = QByteArray(reinterpret_cast<const char*>(icc), qsizetype(iccLength));
        std::free(icc);
    }
}

} // namespace

ProgressiveJpegDecoder::ProgressiveJpegDecoder(DecodingLimits limits, qint64 maxOutputPixels)
    : m_limits(limits)
    , m_maxOutputPixels(maxOutputPixels)
    , m_state(std::make_unique<State>())
{
}

ProgressiveJpegDecoder::~ProgressiveJpegDecoder() = default;

void ProgressiveJpegDecoder::fail(JpegFailure failure)
{
    if (!m_failure)
        m_failure = failure;
    // The decoder's memory goes at once; a failed decoder renders nothing again.
    m_state.reset();
}

void ProgressiveJpegDecoder::release()
{
    m_state.reset();
}

void ProgressiveJpegDecoder::append(QByteArrayView bytes)
{
    if (m_failure || !m_state || bytes.isEmpty())
        return;
    m_appended += bytes.size();
    m_state->append(bytes);
    consume();
}

void ProgressiveJpegDecoder::finish()
{
    if (m_failure || !m_state)
        return;
    m_state->ended = true;
    consume();
}

std::optional<QSize> ProgressiveJpegDecoder::size() const
{
    if (!m_state || !m_state->headerRead)
        return std::nullopt;
    const QSize stored(int(m_state->info.image_width), int(m_state->info.image_height));
    return m_state->orientation >= 5 ? stored.transposed() : stored;
}

std::optional<QSize> ProgressiveJpegDecoder::outputSize() const
{
    if (!m_state || !m_state->started)
        return std::nullopt;
    const int reduction = m_state->reduction;
    const QSize stored(int(m_state->info.output_width + reduction - 1) / reduction,
        int(m_state->info.output_height + reduction - 1) / reduction);
    return m_state->orientation >= 5 ? stored.transposed() : stored;
}

bool ProgressiveJpegDecoder::isProgressive() const
{
    return m_state && m_state->headerRead && m_state->info.progressive_mode;
}

int ProgressiveJpegDecoder::completedScans() const
{
    return m_state ? m_state->completedScans() : 0;
}

void ProgressiveJpegDecoder::consume()
{
    State& state = *m_state;
    jpeg_decompress_struct& info = state.info;
    // Nothing below may own an object with a destructor: a failure jumps back here.
    if (setjmp(state.errors.jump)) {
        fail(JpegFailure::corrupt);
        return;
    }
    if (!state.headerRead) {
        if (jpeg_read_header(&info, TRUE) == JPEG_SUSPENDED)
            return;
        state.headerRead = true;
        readOrientationAndProfile(state);
        state.headerWarnings = state.errors.base.num_warnings;
        const qint64 pixels = qint64(info.image_width) * qint64(info.image_height);
        if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
            fail(JpegFailure::unsupported);
            return;
        }
        if (pixels <= 0 || pixels > m_limits.maxPixelsPerFrame || pixels * 4 > m_limits.maxTotalBytes) {
            fail(JpegFailure::tooLarge);
            return;
        }
        info.buffered_image = TRUE;
        // Opaque premultiplied ARGB, the format drawing and blurring work in, so they need no copy.
        info.out_color_space = JCS_EXT_BGRA;
        // Smoothing would make the output of the scan being read wait for rows beyond it; early
        // scans are blurred by the caller anyway.
        info.do_block_smoothing = FALSE;
        // Decoded at full size whatever the cap, since libjpeg cannot change the scale between
        // output passes: the last pass can then be the finished image itself.
        if (m_maxOutputPixels > 0) {
            while (state.reduction < 8
                && (pixels / (qint64(state.reduction) * state.reduction)) > m_maxOutputPixels)
                state.reduction *= 2;
        }
        // The coefficients of a progressive image are kept whole; beyond the limit there is no
        // backing store, so libjpeg fails instead of allocating.
        info.mem->max_memory_to_use = long(std::min<qint64>(m_limits.maxTotalBytes, LONG_MAX));
    }
    if (!state.started) {
        if (!jpeg_start_decompress(&info))
            return;
        state.started = true;
    }
    while (!state.inputComplete) {
        const int result = jpeg_consume_input(&info);
        if (result == JPEG_SUSPENDED)
            break;
        if (result == JPEG_REACHED_EOI) {
            state.inputComplete = true;
        } else if (info.input_scan_number > maxJpegScans) {
            fail(JpegFailure::corrupt);
            return;
        }
    }
}

namespace {

// Reads the rows of the output pass under way into `state.output`; with a reduction, each band of
// that many rows becomes one row of averages. Stops early when libjpeg suspends for bytes.
void readOutputPass(auto& state)
{
    jpeg_decompress_struct& info = state.info;
    const int factor = state.reduction;
    if (factor == 1) {
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = state.output.scanLine(int(info.output_scanline));
            if (jpeg_read_scanlines(&info, &row, 1) != 1)
                return;
        }
        return;
    }
    // Sums are kept two channels to a 32-bit word (bytes 0 and 2 of each pixel in one, 1 and 3 in
    // the other), 16 bits a channel: a square of 8 by 8 pixels sums to at most 16320.
    const std::size_t width = std::size_t(info.output_width);
    state.row.resize(width * 4);
    state.sums.resize(width * 2);
    const int outputWidth = state.output.width();
    const int wholeColumns = int(width) / factor;
    for (int y = 0; info.output_scanline < info.output_height; ++y) {
        std::fill(state.sums.begin(), state.sums.end(), quint32(0));
        int rows = 0;
        for (; rows < factor && info.output_scanline < info.output_height; ++rows) {
            JSAMPROW row = state.row.data();
            if (jpeg_read_scanlines(&info, &row, 1) != 1)
                return;
            const JOCTET* in = state.row.data();
            quint32* sums = state.sums.data();
            for (std::size_t x = 0; x < width; ++x) {
                quint32 pixel;
                std::memcpy(&pixel, in + x * 4, 4);
                sums[2 * x] += pixel & 0x00FF00FFu;
                sums[2 * x + 1] += (pixel >> 8) & 0x00FF00FFu;
            }
        }
        auto* out = reinterpret_cast<quint32*>(state.output.scanLine(y));
        const quint32* sums = state.sums.data();
        // A whole square of a power of two pixels averages by a shift of both channels of a word at
        // once; only the squares cut by the right and bottom edges need a division.
        if (rows == factor) {
            const int shift = std::countr_zero(unsigned(factor * factor));
            const quint32 half = quint32(factor * factor / 2) * 0x00010001u;
            for (int x = 0; x < wholeColumns; ++x) {
                const quint32* square = sums + std::size_t(x) * std::size_t(factor) * 2;
                quint32 even = half, odd = half;
                for (int column = 0; column < factor; ++column) {
                    even += square[2 * column];
                    odd += square[2 * column + 1];
                }
                out[x] = ((even >> shift) & 0x00FF00FFu) | (((odd >> shift) & 0x00FF00FFu) << 8);
            }
        }
        for (int x = rows == factor ? wholeColumns : 0; x < outputWidth; ++x) {
            const std::size_t first = std::size_t(x) * std::size_t(factor);
            const std::size_t columns = std::min(std::size_t(factor), width - first);
            const quint32 count = quint32(columns) * quint32(rows);
            quint32 even = 0, odd = 0;
            for (std::size_t column = 0; column < columns; ++column) {
                even += sums[2 * (first + column)];
                odd += sums[2 * (first + column) + 1];
            }
            auto average = [count](quint32 sum) { return ((sum & 0xFFFFu) + count / 2) / count; };
            out[x] = average(even) | average(even >> 16) << 16 | average(odd) << 8 | average(odd >> 16) << 24;
        }
    }
}

} // namespace

std::optional<QImage> ProgressiveJpegDecoder::render()
{
    if (m_failure || !m_state || !m_state->started)
        return std::nullopt;
    State& state = *m_state;
    jpeg_decompress_struct& info = state.info;
    if (setjmp(state.errors.jump)) {
        fail(JpegFailure::corrupt);
        return std::nullopt;
    }
    // An earlier output pass of the scan still being read ends once that scan has ended.
    if (state.inOutput) {
        if (!jpeg_finish_output(&info))
            return std::nullopt;
        state.inOutput = false;
    }
    const int scan = state.completedScans();
    if (scan < 1)
        return std::nullopt;
    if (!jpeg_start_output(&info, scan))
        return std::nullopt;
    state.inOutput = true;
    const int reduction = state.reduction;
    state.output = QImage(int(info.output_width + reduction - 1) / reduction,
        int(info.output_height + reduction - 1) / reduction, QImage::Format_ARGB32_Premultiplied);
    if (state.output.isNull()) {
        fail(JpegFailure::tooLarge);
        return std::nullopt;
    }
    readOutputPass(state);
    if (jpeg_finish_output(&info))
        state.inOutput = false;
    if (info.output_scanline < info.output_height)
        return std::nullopt;
    // Shown as the finished image will be: upright and in sRGB, so nothing turns or shifts colour
    // when it replaces this one.
    QImage image = std::exchange(state.output, QImage());
    if (!state.icc.isEmpty()) {
        image.setColorSpace(QColorSpace::fromIccProfile(state.icc));
        convertToSrgb(image);
    }
    return orientedByExif(image, state.orientation);
}

bool ProgressiveJpegDecoder::renderFinishedPass()
{
    State& state = *m_state;
    jpeg_decompress_struct& info = state.info;
    if (setjmp(state.errors.jump)) {
        fail(JpegFailure::corrupt);
        return false;
    }
    if (state.inOutput) {
        if (!jpeg_finish_output(&info))
            return false;
        state.inOutput = false;
    }
    // The settings of the one-shot decode, which smooths the blocks of a file whose scans leave
    // coefficients unrefined.
    info.do_block_smoothing = TRUE;
    state.reduction = 1;
    if (!jpeg_start_output(&info, info.input_scan_number))
        return false;
    state.inOutput = true;
    // libjpeg sets the fourth byte of each pixel to 0xFF, as the one-shot decode's padded format.
    state.output = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB32);
    if (state.output.isNull()) {
        fail(JpegFailure::tooLarge);
        return false;
    }
    readOutputPass(state);
    return info.output_scanline == info.output_height;
}

std::optional<QImage> ProgressiveJpegDecoder::finishedImage()
{
    // Only a file read the way the one-shot decode reads it: to an end marker that was in the data,
    // with no damage worked around, in three colour components (other files come out of that
    // decode in another format).
    const bool clean = !m_failure && m_state && m_state->started && m_state->inputComplete
        && !m_state->cutShort && m_state->errors.base.num_warnings == m_state->headerWarnings
        && m_state->info.num_components == 3;
    if (!clean || !renderFinishedPass()) {
        release();
        return std::nullopt;
    }
    QImage image = std::exchange(m_state->output, QImage());
    const QByteArray icc = m_state->icc;
    const int orientation = m_state->orientation;
    release();
    // The same steps, in the same order, as the one-shot decode's.
    if (!icc.isEmpty()) {
        image.setColorSpace(QColorSpace::fromIccProfile(icc));
        convertToSrgb(image);
    }
    return orientedByExif(image, orientation);
}

Result<QImage, JpegFailure> ProgressiveJpegDecoder::decodePrefix(
    QByteArrayView data, const DecodingLimits& limits)
{
    ProgressiveJpegDecoder decoder(limits);
    decoder.append(data);
    decoder.finish();
    if (std::optional<QImage> image = decoder.render())
        return Result<QImage, JpegFailure>::success(std::move(*image));
    return Result<QImage, JpegFailure>::failure(decoder.failure().value_or(JpegFailure::corrupt));
}

} // namespace platform
