#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace platform {

// Undoes a response body's Content-Encoding (gzip or deflate) as its bytes arrive, and tells
// whether the encoded stream ended. A body whose encoding stops part-way was cut short, even when
// the transfer itself ended cleanly, and must not pass for the whole of it.
class ContentDecoder {
public:
    enum class Status { ok, corrupt, tooLarge };

    // A decoder for the encoding a response names; none for identity or an encoding we do not ask for.
    static std::unique_ptr<ContentDecoder> forEncoding(const QByteArray& contentEncoding);

    ~ContentDecoder();
    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Appends what `input` decodes to onto `output`. `corrupt` for bytes that are no such encoding or
    // that expand far beyond any real content (a decompression bomb); `tooLarge` once the decoded
    // total, or the encoded one, would pass `limitBytes`; `output` then holds what decoded before the
    // fault. After a failure the decoder only fails.
    Status decode(QByteArrayView input, QByteArray& output, qint64 limitBytes);

    // True once the encoded stream has ended, or when no byte of it came (a body-less answer).
    bool isComplete() const;

private:
    enum class Format { gzip, deflate };
    explicit ContentDecoder(Format format);
    bool start(bool zlibWrapped);

    struct Stream;
    const Format m_format;
    std::unique_ptr<Stream> m_stream;
    QByteArray m_header; // the first bytes of a deflate body, until its wrapping is known
    qint64 m_encodedBytes = 0;
    qint64 m_decodedBytes = 0;
    bool m_started = false;
    bool m_ended = false;
    bool m_trailing = false;
    bool m_failed = false;
};

} // namespace platform
