#include "platform/graphics/ProgressiveJpegDecoder.h"

#include "platform/graphics/ColorManagement.h"

#include <QColorSpace>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
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

void ignoreMessageLevel(j_common_ptr, int)
{
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
        errors.base.emit_message = ignoreMessageLevel;
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
    const QSize stored(int(m_state->info.output_width), int(m_state->info.output_height));
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
        // The coefficients of a progressive image are kept whole; beyond the limit there is no
        // backing store, so libjpeg fails instead of allocating.
        if (m_maxOutputPixels > 0) {
            unsigned denominator = 1;
            while (denominator < 8 && (pixels / (qint64(denominator) * denominator)) > m_maxOutputPixels)
                denominator *= 2;
            info.scale_num = 1;
            info.scale_denom = denominator;
        }
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
    state.output
        = QImage(int(info.output_width), int(info.output_height), QImage::Format_ARGB32_Premultiplied);
    if (state.output.isNull()) {
        fail(JpegFailure::tooLarge);
        return std::nullopt;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = state.output.scanLine(int(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
    }
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
