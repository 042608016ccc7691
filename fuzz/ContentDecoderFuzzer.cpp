// A response body under a Content-Encoding, as any server may send it: decoded in pieces, it fails
// cleanly or decodes to the same bytes however it is cut, and never past the decoder's limit.
#include "platform/foundation/ContentDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr qint64 limitBytes = 4 * 1024 * 1024;

struct Outcome {
    platform::ContentDecoder::Status status = platform::ContentDecoder::Status::ok;
    QByteArray bytes;
    bool complete = false;
};

Outcome decode(const char* encoding, QByteArrayView body, qsizetype step)
{
    Outcome outcome;
    auto decoder = platform::ContentDecoder::forEncoding(encoding);
    for (qsizetype at = 0; at < body.size() && outcome.status == platform::ContentDecoder::Status::ok;
         at += step)
        outcome.status
            = decoder->decode(body.sliced(at, std::min(step, body.size() - at)), outcome.bytes, limitBytes);
    outcome.complete = decoder->isComplete();
    if (outcome.bytes.size() > limitBytes)
        std::abort();
    return outcome;
}

} // namespace

// The first byte picks the encoding (its low bit) and the piece size (1 + the rest).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const char* encoding = data[0] & 1 ? "deflate" : "gzip";
    const qsizetype step = 1 + (data[0] >> 1);
    const QByteArrayView body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const Outcome pieces = decode(encoding, body, step);
    const Outcome whole = decode(encoding, body, std::max<qsizetype>(1, body.size()));
    const bool decoded = pieces.status == platform::ContentDecoder::Status::ok;
    if (decoded != (whole.status == platform::ContentDecoder::Status::ok)
        || pieces.complete != whole.complete)
        std::abort();
    if (decoded && pieces.bytes != whole.bytes)
        std::abort();
    return 0;
}
