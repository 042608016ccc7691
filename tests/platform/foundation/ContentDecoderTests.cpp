#include "platform/foundation/ContentDecoder.h"

#include "support/HttpTestServer.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <random>

using platform::ContentDecoder;

namespace {

std::string sample()
{
    std::string text(300 * 1024, '\0');
    std::mt19937 random(3);
    for (char& byte : text)
        byte = static_cast<char>('a' + random() % 7);
    return text;
}

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

struct Decoded {
    ContentDecoder::Status status = ContentDecoder::Status::ok;
    QByteArray bytes;
    bool complete = false;
};

// Feeds `encoded` in pieces of `step` bytes, as a transfer hands it over.
Decoded decodeInSteps(
    const char* encoding, const std::string& encoded, std::size_t step, qint64 limit = 1024 * 1024 * 1024)
{
    Decoded result;
    auto decoder = ContentDecoder::forEncoding(encoding);
    EXPECT_TRUE(decoder) << encoding;
    if (!decoder)
        return result;
    for (std::size_t at = 0; at < encoded.size() && result.status == ContentDecoder::Status::ok; at += step)
        result.status = decoder->decode(
            QByteArrayView(encoded).sliced(qsizetype(at), qsizetype(std::min(step, encoded.size() - at))),
            result.bytes, limit);
    result.complete = decoder->isComplete();
    return result;
}

} // namespace

TEST(ContentDecoder, WholeBodiesDecodeInAnyPiecesAndBodiesCutShortAreIncomplete)
{
    const std::string text = sample();
    const std::string gzip = testsupport::gzipped(text);
    struct Case {
        const char* name;
        const char* encoding;
        std::string encoded;
        std::string expected;
        bool complete;
    };
    const Case cases[] = {
        { "gzip", "gzip", gzip, text, true },
        { "x-gzip in capitals", " X-GZIP ", gzip, text, true },
        { "two gzip members", "gzip", gzip + testsupport::gzipped("tail"), text + "tail", true },
        { "bytes after the end", "gzip", gzip + "\r\n", text, true },
        { "zlib-wrapped deflate", "deflate", deflated(text, 15), text, true },
        { "raw deflate", "deflate", deflated(text, -15), text, true },
        { "nothing at all", "gzip", "", "", true },
        { "gzip cut in half", "gzip", gzip.substr(0, gzip.size() / 2), "", false },
        { "gzip without its trailer", "gzip", gzip.substr(0, gzip.size() - 4), text, false },
        { "deflate cut short", "deflate", deflated(text, 15).substr(0, 100), "", false },
        { "one byte of deflate", "deflate", deflated(text, 15).substr(0, 1), "", false },
    };
    for (const Case& c : cases) {
        for (std::size_t step :
            { std::size_t(1), std::size_t(7), std::size_t(64 * 1024), c.encoded.size() + 1 }) {
            if (step == 1 && c.encoded.size() > 4096)
                continue;
            const Decoded decoded = decodeInSteps(c.encoding, c.encoded, step);
            EXPECT_EQ(decoded.status, ContentDecoder::Status::ok) << c.name << " in " << step;
            EXPECT_EQ(decoded.complete, c.complete) << c.name << " in " << step;
            if (c.complete)
                EXPECT_EQ(decoded.bytes.toStdString(), c.expected) << c.name << " in " << step;
            else
                EXPECT_EQ(QByteArray::fromStdString(text).startsWith(decoded.bytes), true) << c.name;
        }
    }
    EXPECT_FALSE(ContentDecoder::forEncoding("identity"));
    EXPECT_FALSE(ContentDecoder::forEncoding("br"));
    EXPECT_FALSE(ContentDecoder::forEncoding(""));
}

TEST(ContentDecoder, CorruptBombsAndOversizedBodiesFailAndStayFailed)
{
    const std::string text = sample();
    const Decoded corrupt = decodeInSteps("gzip", testsupport::corruptGzipped(text), 4096);
    EXPECT_EQ(corrupt.status, ContentDecoder::Status::corrupt);
    EXPECT_FALSE(corrupt.complete);
    EXPECT_EQ(decodeInSteps("deflate", "not deflate at all", 4).status, ContentDecoder::Status::corrupt);

    // 300 MB of zeros in well under 1 MB: refused soon after the check starts, without filling memory.
    const Decoded bomb
        = decodeInSteps("gzip", testsupport::gzipped(std::string(1024 * 1024, '\0'), 300), 4096);
    EXPECT_EQ(bomb.status, ContentDecoder::Status::corrupt);
    EXPECT_LT(bomb.bytes.size(), 16 * 1024 * 1024);

    const Decoded capped = decodeInSteps("gzip", testsupport::gzipped(text), 4096, 100 * 1024);
    EXPECT_EQ(capped.status, ContentDecoder::Status::tooLarge);
    EXPECT_LE(capped.bytes.size(), 100 * 1024);

    // Empty stored blocks decode to nothing, for ever: the encoded bytes count against the limit too.
    std::string nothing("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
    while (nothing.size() < 200 * 1024)
        nothing += std::string("\0\0\0\xff\xff", 5);
    const Decoded endless = decodeInSteps("gzip", nothing, 4096, 100 * 1024);
    EXPECT_EQ(endless.status, ContentDecoder::Status::tooLarge);
    EXPECT_TRUE(endless.bytes.isEmpty());

    auto decoder = ContentDecoder::forEncoding("gzip");
    QByteArray out;
    EXPECT_EQ(decoder->decode("garbage!", out, 1024), ContentDecoder::Status::corrupt);
    EXPECT_EQ(decoder->decode(QByteArrayView(testsupport::gzipped("x")), out, 1024),
        ContentDecoder::Status::corrupt);
    EXPECT_TRUE(out.isEmpty());
}
