#include "platform/foundation/FileManager.h"
#include "platform/foundation/Url.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::Url;

TEST(Url, FileUrlsRoundTripThroughTheirEscapedText)
{
    const QString paths[] = {
        QStringLiteral("/tmp/My Project"),
        QStringLiteral("/tmp/100% done"),
        QStringLiteral("/tmp/#1 idea"),
        QStringLiteral("/tmp/why?/really"),
        QStringLiteral("/tmp/Café crème/Ünïcödé 日本"),
        QStringLiteral("/tmp/line\nbreak"),
        QStringLiteral("/tmp/a%20b"),
    };
    for (const QString& path : paths) {
        Url url = Url::fileUrl(path);
        ASSERT_TRUE(url.isFileUrl()) << path.toStdString();
        QString text = url.absoluteString();
        EXPECT_TRUE(text.startsWith(QStringLiteral("file:///"))) << text.toStdString();
        for (QChar c : text)
            EXPECT_TRUE(c.unicode() > 0x20 && c.unicode() < 0x7F) << text.toStdString();
        auto back = Url::fromString(text);
        ASSERT_TRUE(back) << text.toStdString();
        EXPECT_EQ(back->path(), path);
        EXPECT_EQ(*back, url);
    }
}

TEST(Url, StrictParsingRefusesMalformedText)
{
    EXPECT_FALSE(Url::fromString(QString()));
    EXPECT_FALSE(Url::fromString(QStringLiteral("http://exa mple.com/")));
    EXPECT_FALSE(Url::fromString(QStringLiteral("file:///a%zzb")));
    EXPECT_TRUE(Url::fromString(QStringLiteral("https://example.com/a?b=c#d")));
}

TEST(Url, PathComponentsAndAppending)
{
    Url base = Url::fileUrl(QStringLiteral("/home/user/Documents"));
    EXPECT_EQ(base.pathComponents(), (QStringList { "/", "home", "user", "Documents" }));
    Url child = base.appendingPathComponent(QStringLiteral("a #?b"));
    EXPECT_EQ(child.lastPathComponent(), QStringLiteral("a #?b"));
    EXPECT_EQ(child.deletingLastPathComponent(), base);
    EXPECT_TRUE(child.isStrictlyInside(base));
    EXPECT_FALSE(base.isStrictlyInside(base));
    EXPECT_FALSE(Url::fileUrl(QStringLiteral("/home/user/Documents2")).isStrictlyInside(base));
    EXPECT_FALSE(Url::fileUrl(QStringLiteral("/home/user/Documents/../x")).isStrictlyInside(base));
    EXPECT_EQ(Url::fileUrl(QStringLiteral("/home/user/Documents//")), base);
    EXPECT_EQ(Url::fileUrl(QStringLiteral("/home/user/Documents/"))
                  .appendingPathComponent("a")
                  .deletingLastPathComponent(),
        base);
}

TEST(Url, AppendingAnythingButOneComponentGivesAnInvalidUrl)
{
    Url base = Url::fileUrl(QStringLiteral("/tmp/base"));
    for (const QString& name : { QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a/b"),
             QStringLiteral("/"), QString(QChar(0)) + QStringLiteral("x") })
        EXPECT_FALSE(base.appendingPathComponent(name).isValid()) << name.toStdString();
    EXPECT_FALSE(Url().appendingPathComponent(QStringLiteral("a")).isValid());
    EXPECT_FALSE(Url::fileUrl(QStringLiteral("relative/path")).isValid());
}

TEST(Url, PlainFileUrlsParseAsTheStrictParserDoes)
{
    const char* texts[] = {
        "file:///a/b%20c/d.txt",
        "file:///a/%zz",
        "file:///a/%2",
        "file:///a b",
        "file:///a/[x]",
        "file:///a/b?q=1#f",
        "file:///caf%C3%A9/x",
        "file:///a/%E6%97%A5",
        "file:////double",
        "file:///a/!$&'()*+,;=:@-._~",
    };
    for (const char* text : texts) {
        QUrl strict(QString::fromLatin1(text), QUrl::StrictMode);
        auto ours = Url::fromString(QString::fromLatin1(text));
        EXPECT_EQ(ours.has_value(), strict.isValid()) << text;
        if (ours) {
            EXPECT_EQ(ours->qUrl(), strict) << text;
        }
    }
}

// Text read back from a file may name another machine's file, a path relative to wherever the
// program runs, or hide a NUL or a "/" in an escape; none of these is taken for a file here, so no
// file operation acts on the path it would be mistaken for.
TEST(Url, OnlyTextNamingOneLocalFileIsAFileUrl)
{
    const struct {
        const char* text;
        const char* path; // nullptr: not a file of this machine
    } cases[] = {
        { "file:///tmp/a%20b", "/tmp/a b" },
        { "file:/tmp/x", "/tmp/x" },
        { "file://localhost/tmp/x", "/tmp/x" },
        { "file://LocalHost/tmp/x", "/tmp/x" },
        { "file:///tmp/../etc/x", "/tmp/../etc/x" },
        { "file://server/tmp/x", nullptr },
        { "file:notes/x.txt", nullptr },
        { "file:", nullptr },
        { "file:///tmp/kept%00/gone", nullptr },
        { "file:///tmp/a%2Fb", nullptr },
        { "file:///tmp/a%2fb", nullptr },
        { "file:///tmp/caf%E9.jpg", nullptr },
        { "file:///tmp/caf%C3%A9%EF%BF%BD", "/tmp/caf\u00e9\ufffd" },
        { "https://example.com/a", nullptr },
    };
    for (const auto& each : cases) {
        auto url = Url::fromString(QString::fromLatin1(each.text));
        ASSERT_TRUE(url) << each.text;
        EXPECT_EQ(url->isFileUrl(), each.path != nullptr) << each.text;
        EXPECT_EQ(url->path(), QString::fromUtf8(each.path)) << each.text;
    }
    EXPECT_EQ(Url::fileUrl(QStringLiteral("//tmp//x/")).path(), QStringLiteral("/tmp//x"));
    EXPECT_EQ(Url::fileUrl(QStringLiteral("//tmp/x")), Url::fileUrl(QStringLiteral("/tmp/x")));

    QTemporaryDir root;
    const QString kept = root.path() + "/kept";
    ASSERT_TRUE(QDir(root.path()).mkdir("kept"));
    auto hidden = Url::fromString(Url::fileUrl(kept).absoluteString() + "%00/gone");
    ASSERT_TRUE(hidden);
    EXPECT_FALSE(platform::FileManager::removeItem(*hidden));
    EXPECT_TRUE(QFileInfo(kept).isDir());
}
