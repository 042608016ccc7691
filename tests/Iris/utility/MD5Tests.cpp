#include "Iris/utility/MD5.h"
#include "Iris/utility/StringHelpers.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

using iris::MD5;

TEST(MD5, RFC1321TestSuite)
{
    const std::pair<const char*, const char*> vectors[] = {
        { "", "d41d8cd98f00b204e9800998ecf8427e" },
        { "a", "0cc175b9c0f1b6a831c399e269772661" },
        { "abc", "900150983cd24fb0d6963f7d28e17f72" },
        { "message digest", "f96b697d7cb7938d525a2f31aaf161d0" },
        { "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b" },
        { "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
            "d174ab98d277d9f5a5611c2c9f419d9f" },
        { "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a" },
    };
    for (const auto& [message, digest] : vectors) {
        EXPECT_EQ(MD5::hexDigest(QByteArray(message)), QByteArray(digest)) << message;
        EXPECT_EQ(iris::md5HexString(QString::fromLatin1(message)), QString::fromLatin1(digest)) << message;
    }
}

TEST(MD5, MatchesQtForEveryLengthUpTo200)
{
    // Covers the padding boundaries at 55/56 and 63/64 bytes and their multiples.
    QByteArray message;
    for (int length = 0; length <= 200; ++length) {
        EXPECT_EQ(MD5::hexDigest(message), QCryptographicHash::hash(message, QCryptographicHash::Md5).toHex())
            << length;
        message.append(char(length * 7 + 3));
    }
}

TEST(MD5, HexStringOfKeys)
{
    EXPECT_NE(iris::md5HexString("Photo.png"), iris::md5HexString("photo.png"));
    QString nonAscii = QString::fromUtf8("bild-\xc3\xbc\xe2\x82\xac.png");
    EXPECT_EQ(iris::md5HexString(nonAscii),
        QString::fromLatin1(QCryptographicHash::hash(nonAscii.toUtf8(), QCryptographicHash::Md5).toHex()));
    EXPECT_EQ(iris::ir(QString("abc")).md5HexString(), QString("900150983cd24fb0d6963f7d28e17f72"));
}
