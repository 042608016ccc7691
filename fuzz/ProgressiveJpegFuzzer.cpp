// A JPEG arriving in pieces: the first byte of the input picks the piece size (and, by its lowest
// bit, whether partial images are rendered reduced). The decoder reads the pieces, and the
// download's marker scans read the growing bytes as progressive display does, in both of its modes;
// the scans must find each start-of-scan marker once, in order. The finished image the decoder gives
// must be the one-shot decode's, to the pixel.
#include "FuzzSupport.h"

#include "Iris/image/ImageFormat.h"
#include "Iris/networking/ImageProgressive.h"

#include "platform/graphics/JpegDecoder.h"
#include "platform/graphics/ProgressiveJpegDecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void scanAsItArrives(QByteArrayView whole, std::size_t piece)
{
    std::vector<qsizetype> markers;
    for (qsizetype i = 0; i + 1 < whole.size(); ++i) {
        if (uchar(whole[i]) == 0xFF && uchar(whole[i + 1]) == 0xDA)
            markers.push_back(i);
    }
    const bool progressive = iris::containsJPEGMarker(whole, iris::JPEGMarker::SOF2());
    for (bool fastest : { true, false }) {
        iris::ImageProgressiveDecoder scanner(
            iris::ImageProgressive(false, fastest, 0), iris::CallbackQueue::untouch(), {});
        std::vector<qsizetype> found;
        qsizetype length = 0;
        while (length < whole.size()) {
            length = std::min<qsizetype>(whole.size(), length + qsizetype(piece));
            const QByteArrayView data = whole.first(length);
            if (fastest) {
                if (std::optional<qsizetype> prefix = scanner.scanLatestLength(data))
                    found.push_back(*prefix);
            } else {
                for (qsizetype prefix : scanner.scanEveryLengths(data))
                    found.push_back(prefix);
            }
        }
        const std::int64_t expectedCount = progressive ? std::int64_t(markers.size()) : 0;
        if (scanner.scannedCount() != expectedCount)
            __builtin_trap();
        // Every prefix ends just before a marker that is not the first, in order; in every-scan mode
        // each such marker gives one.
        if (!fastest && progressive && markers.size() > 1
            && found != std::vector<qsizetype>(markers.begin() + 1, markers.end()))
            __builtin_trap();
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i] < 1 || uchar(whole[found[i]]) != 0xFF || uchar(whole[found[i] + 1]) != 0xDA
                || (i > 0 && found[i] <= found[i - 1]))
                __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] * 64;
    platform::DecodingLimits limits;
    limits.maxPixelsPerFrame = 4'000'000;
    limits.maxTotalBytes = 64 * 1024 * 1024;
    platform::ProgressiveJpegDecoder decoder(limits, data[0] & 1 ? 64 * 64 : 0);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    std::size_t remaining = size - 1;
    int rendered = -1;
    while (remaining > 0) {
        const std::size_t count = std::min(piece, remaining);
        decoder.append(QByteArrayView(bytes, qsizetype(count)));
        // As the downloader does: a new picture only once another scan is in.
        if (decoder.completedScans() != rendered) {
            rendered = decoder.completedScans();
            decoder.render();
        }
        bytes += count;
        remaining -= count;
    }
    decoder.finish();
    if (data[0] & 2)
        decoder.render();
    if (std::optional<QImage> finished = decoder.finishedImage()) {
        const QByteArray whole(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
        platform::Result<QImage, platform::JpegFailure> oneShot
            = platform::decodeScaledJpeg(whole, 0, limits);
        if (!oneShot.isSuccess() || oneShot.value().format() != finished->format()
            || oneShot.value() != *finished)
            __builtin_trap();
    }
    scanAsItArrives(QByteArrayView(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)), piece);
    return 0;
}
