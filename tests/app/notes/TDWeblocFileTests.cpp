#include "../FatDisk.h"
#include "../LibraryTestSupport.h"
#include "PropertyListReader.h"
#include "app/notes/TDWeblocFile.h"

#include <QProcess>

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

// A page names its link's file: the name must stay one plain file name that shows what it is.
TEST(TDWeblocFile, NamesAFileAfterItsTitleWithoutLettingThePageDisguiseIt)
{
    const struct {
        QString title;
        QString name;
    } cases[] = {
        { u"Caf\u00E9 \u05E9\u05DC\u05D5\u05DD"_qs, u"Caf\u00E9 \u05E9\u05DC\u05D5\u05DD"_qs },
        { "../../x", "-..-x" },
        { "a\nb\tc", "a-b-c" },
        { "   ", "Untitled" },
        // Direction overrides and isolates would show "invoice\u202Efdp.exe" as "invoiceexe.pdf".
        { u"invoice\u202Efdp.exe"_qs, "invoice-fdp.exe" },
        { u"\u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069x"_qs, "--------x" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        const TDLink link = linkTitled(c.title);
        EXPECT_EQ(TDWeblocFile::name(link), c.name + " " + link.id.lowercaseString().left(8));
    }

    // Files written under the earlier names, direction controls and all, still go with their links.
    LibraryRoot root;
    const TDLink link = linkTitled(u"invoice\u202Efdp.exe"_qs);
    const QString folder = root.library() + "/Trip/notes/Ideas/links";
    QDir().mkpath(folder);
    const QString earlier
        = folder + u"/invoice\u202Efdp.exe "_qs + link.id.lowercaseString().left(8) + ".webloc";
    QFile file(earlier);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(TDWeblocFile::write("Trip", "Ideas", link));
    ASSERT_TRUE(TDWeblocFile::remove("Trip", "Ideas", link));
    EXPECT_TRUE(QDir(folder).isEmpty());
}

// Page titles often hold ":" or "?", which a library on a memory card refuses in names: the file is
// still written there, under the name with those made dashes, and found again to be removed.
TEST(TDWeblocFile, ALibraryOnAMemoryCardGetsAFileForATitleItsDiskRefuses)
{
    LibraryRoot root;
    apptest::FatDisk card(root.documents());
    if (!card.mounted())
        GTEST_SKIP() << "no FAT disk could be mounted";
    const QString folder = root.library() + "/Trip/notes/Ideas/links";
    ASSERT_TRUE(QDir().mkpath(root.library() + "/Trip/notes/Ideas"));
    const TDLink link = linkTitled(u"Q&A: why? \"yes\" <b>|</b> a\\b*"_qs);
    const auto written = TDWeblocFile::write("Trip", "Ideas", link);
    ASSERT_TRUE(written) << written.error().description.toStdString();
    const QString suffix = " " + link.id.lowercaseString().left(8) + ".webloc";
    EXPECT_EQ(written.value().path(), folder + "/Q&A- why- -yes- -b----b- a-b-" + suffix);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList { "Q&A- why- -yes- -b----b- a-b-" + suffix });
    EXPECT_TRUE(TDWeblocFile::write("Trip", "Ideas", linkTitled("Plain")));
    ASSERT_TRUE(TDWeblocFile::remove("Trip", "Ideas", link));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
}
