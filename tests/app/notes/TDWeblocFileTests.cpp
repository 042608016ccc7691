#include "../LibraryTestSupport.h"
#include "PropertyListReader.h"
#include "app/notes/TDWeblocFile.h"

using apptest::LibraryRoot;

namespace {

TDLink linkTitled(std::optional<QString> title)
{
    return TDLink { std::move(title), std::nullopt, "https://example.com/", platform::Uuid::random(),
        platform::Uuid::random() };
}

} // namespace

TEST(TDWeblocFile, IsAPropertyListWhateverTheAddressHolds)
{
    const QString addresses[] = {
        "https://example.com/search?q=a&b=c",
        "https://example.com/<script>alert(\"x\")</script>?'",
        "https://example.com/]]>&amp;",
        u"https://例え.jp/ページ"_qs,
        QString("https://example.com/a") + QChar(0x1) + QChar(0xD) + QChar(0xFFFE) + "b",
    };
    for (const QString& address : addresses) {
        SCOPED_TRACE(address.toStdString());
        const QByteArray bytes = TDWeblocFile::contents(address);
        EXPECT_TRUE(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC"));
        EXPECT_TRUE(bytes.endsWith("</string>\n</dict>\n</plist>"));
        const QString read = notetest::urlFromPropertyList(bytes);
        if (address.contains(QChar(0x1)))
            EXPECT_EQ(read, "https://example.com/a%01%0D%EF%BF%BEb");
        else
            EXPECT_EQ(read, address);
    }
    EXPECT_EQ(TDWeblocFile::contents("x").size(), 202 + 1 + 26);
}

TEST(TDWeblocFile, WritesNothingThroughSymbolicLinksOutOfTheLibrary)
{
    LibraryRoot root;
    const QString outside = root.root() + "/outside";
    QDir().mkpath(outside);
    QDir().mkpath(root.library() + "/Trip/notes/Ideas");
    QDir().mkpath(root.library() + "/Trip/notes/Other/links");
    ASSERT_TRUE(QFile::link(outside, root.library() + "/Trip/notes/Ideas/links"));
    const TDLink link = linkTitled("Page");
    const QString inOther = TDWeblocFile::location("Trip", "Other", link).path();
    ASSERT_TRUE(QFile::link(outside + "/target", inOther));
    const auto before = root.snapshot();

    EXPECT_FALSE(TDWeblocFile::write("Trip", "Ideas", link));
    EXPECT_FALSE(TDWeblocFile::write("Trip", "Other", link));
    EXPECT_FALSE(TDWeblocFile::write("Gone", "Ideas", link)) << "a missing project folder is not made again";
    EXPECT_EQ(root.snapshot(), before);

    ASSERT_TRUE(TDWeblocFile::remove("Trip", "Other", link));
    EXPECT_FALSE(QFileInfo(inOther).isSymLink());
}
