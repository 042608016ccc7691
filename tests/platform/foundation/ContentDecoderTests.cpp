#include "platform/foundation/ContentDecoder.h"

#include "support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <zlib.h>

using platform::ContentDecoder;

namespace {

// zlib-wrapped (`windowBits` 15) or raw (-15) deflate.
std::string deflated(const std::string& data, int windowBits)
{
    z_stream stream {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, uLong(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace

// Fed in pieces as a transfer hands them over, whole bodies decode to their text and bodies cut
// short are never complete; the other cases (corrupt, bombs, the size limit) are the session's tests.
TEST(ContentDecoder, WholeBodiesDecodeInAnyPiecesAndBodiesCutShortAreIncomplete)
{
    std::string text;
    for (int line = 0; text.size() < 200 * 1024; ++line)
        text += "line " + std::to_string(line * 7919 % 10007) + "\n";
    const std::string gzip = testsupport::gzipped(text);
    struct Case {
        const char* encoding;
        std::string encoded;
        std::string expected;
        bool complete;
    };
    const Case cases[] = {
        { "gzip", gzip, text, true },
        { " X-GZIP ", gzip + testsupport::gzipped("tail"), text + "tail", true },
        { "gzip", gzip + "\r\n", text, true },
        { "deflate", deflated(text, 15), text, true },
        { "deflate", deflated(text, -15), text, true },
        { "gzip", "", "", true },
        { "gzip", gzip.substr(0, gzip.size() / 2), "", false },
        { "gzip", gzip.substr(0, gzip.size() - 4), text, false },
        { "deflate", deflated(text, 15).substr(0, 1), "", false },
    };
    for (const Case& c : cases) {
        for (std::size_t step : { std::size_t(7), std::size_t(64 * 1024), c.encoded.size() + 1 }) {
            auto decoder = ContentDecoder::forEncoding(c.encoding);
            ASSERT_TRUE(decoder);
            QByteArray decoded;
            for (std::size_t at = 0; at < c.encoded.size(); at += step) {
                const std::string piece = c.encoded.substr(at, step);
                ASSERT_EQ(
                    decoder->decode(QByteArrayView(piece), decoded, 1 << 30), ContentDecoder::Status::ok);
            }
            EXPECT_EQ(decoder->isComplete(), c.complete) << c.encoding << " " << c.encoded.size();
            if (c.complete) {
                EXPECT_EQ(decoded.toStdString(), c.expected);
            } else {
                EXPECT_TRUE(text.starts_with(decoded.toStdString()));
            }
        }
    }
    EXPECT_FALSE(ContentDecoder::forEncoding("identity"));
    EXPECT_FALSE(ContentDecoder::forEncoding("br"));
}
