#include "platform/foundation/ContentDecoder.h"

#include <zlib.h>

namespace platform {

namespace {

// A real body (text, pictures) stays far below this ratio of decoded to encoded bytes; a stream
// made to fill memory exceeds it at once. Checked only past the threshold, so that small bodies
// of one repeated byte still decode.
constexpr qint64 expansionCheckThresholdBytes = 10 * 1024 * 1024;
constexpr qint64 maximumExpansionRatio = 40;
constexpr int outputStepBytes = 64 * 1024;

// RFC 1950's header check: compression method 8 and a multiple of 31.
bool isZlibHeader(uchar first, uchar second)
{
    return (first & 0x0f) == 8 && ((unsigned(first) << 8) | second) % 31 == 0;
}

} // namespace

struct ContentDecoder::Stream {
    z_stream z {};
    bool open = false;
    ~Stream()
    {
        if (open)
            inflateEnd(&z);
    }
};

std::unique_ptr<ContentDecoder> ContentDecoder::forEncoding(const QByteArray& contentEncoding)
{
    const QByteArray encoding = contentEncoding.trimmed().toLower();
    if (encoding == "gzip" || encoding == "x-gzip")
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(Format::gzip));
    if (encoding == "deflate")
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(Format::deflate));
    return nullptr;
}

ContentDecoder::ContentDecoder(Format format)
    : m_format(format)
    , m_stream(std::make_unique<Stream>())
{
}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::start(bool zlibWrapped)
{
    // Gzip takes 16 + window bits; deflate is zlib-wrapped by the standard, raw from some servers.
    const int windowBits = m_format == Format::gzip ? 15 + 16 : zlibWrapped ? 15 : -15;
    m_stream->open = inflateInit2(&m_stream->z, windowBits) == Z_OK;
    m_started = m_stream->open;
    return m_started;
}

ContentDecoder::Status ContentDecoder::decode(QByteArrayView input, QByteArray& output, qint64 limitBytes)
{
    if (m_failed)
        return Status::corrupt;
    if (m_trailing || input.isEmpty())
        return Status::ok;
    m_encodedBytes += input.size();
    // Empty blocks decode to nothing at all: without this a stream of them would never end.
    if (m_encodedBytes > limitBytes) {
        m_failed = true;
        return Status::tooLarge;
    }

    if (!m_started) {
        if (m_format == Format::deflate) {
            m_header.append(input.data(), input.size());
            if (m_header.size() < 2)
                return Status::ok;
            input = QByteArrayView(m_header);
        }
        const bool wrapped = m_format == Format::deflate && isZlibHeader(uchar(input[0]), uchar(input[1]));
        if (!start(wrapped)) {
            m_failed = true;
            return Status::corrupt;
        }
    }

    z_stream& z = m_stream->z;
    auto fail = [this](Status status) {
        m_failed = true;
        return status;
    };
    const auto* next = reinterpret_cast<const Bytef*>(input.data());
    qsizetype left = input.size();
    char buffer[outputStepBytes];
    for (;;) {
        if (m_ended) {
            // Another gzip member may follow; anything else after the end is not part of the body.
            if (left == 0)
                break;
            if (m_format != Format::gzip || *next != 0x1f) {
                m_trailing = true;
                break;
            }
            if (inflateReset(&z) != Z_OK)
                return fail(Status::corrupt);
            m_ended = false;
        }
        z.next_in = const_cast<Bytef*>(next);
        z.avail_in = uInt(left);
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        const int result = inflate(&z, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof buffer) - qsizetype(z.avail_out);
        const qsizetype consumed = left - qsizetype(z.avail_in);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            // What came out before the fault (a whole body, when only its checksum is wrong) is kept.
            if (m_decodedBytes + produced <= limitBytes)
                output.append(buffer, produced);
            return fail(Status::corrupt);
        }
        next += consumed;
        left -= consumed;
        m_decodedBytes += produced;
        if (m_decodedBytes > limitBytes)
            return fail(Status::tooLarge);
        if (m_decodedBytes > expansionCheckThresholdBytes
            && m_decodedBytes > maximumExpansionRatio * (m_encodedBytes - left))
            return fail(Status::corrupt);
        output.append(buffer, produced);
        if (result == Z_STREAM_END) {
            m_ended = true;
            continue;
        }
        // A full buffer may leave more output inside zlib; otherwise it waits for more input.
        if (z.avail_out != 0 && (left == 0 || (produced == 0 && consumed == 0)))
            break;
    }
    m_header.clear();
    return Status::ok;
}

bool ContentDecoder::isComplete() const
{
    return !m_failed && (m_ended || m_trailing || m_encodedBytes == 0);
}

} // namespace platform
