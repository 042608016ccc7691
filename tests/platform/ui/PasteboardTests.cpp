#include "platform/ui/Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

using platform::Pasteboard;

// What one writer puts on the clipboard is one item holding every type, found under the names
// other programs use for them too; an unknown type is refused and changes nothing.
TEST(Pasteboard, WritesOneItemOfSeveralTypesAndReadsThemUnderAnyOfTheirNames)
{
    Pasteboard& clipboard = Pasteboard::general();
    clipboard.clearContents();
    ASSERT_TRUE(clipboard.setString(QStringLiteral("caf\u00e9"), Pasteboard::legacyStringType));
    ASSERT_TRUE(clipboard.setData("{\\rtf1 x}", Pasteboard::rtfType));
    EXPECT_FALSE(clipboard.setData("<b>x</b>", QStringLiteral("text/html")));

    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->text(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(data->data("text/rtf"), "{\\rtf1 x}");
    EXPECT_FALSE(data->hasFormat("text/html"));
    EXPECT_EQ(clipboard.string(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(clipboard.data(Pasteboard::legacyRtfType), "{\\rtf1 x}");

    // RTF another program offers under its own name.
    auto* foreign = new QMimeData;
    foreign->setData("application/rtf", "{\\rtf1 y}");
    QGuiApplication::clipboard()->setMimeData(foreign);
    EXPECT_TRUE(clipboard.canReadItemWithDataConformingToTypes({ Pasteboard::legacyRtfType }));
    EXPECT_FALSE(clipboard.canReadItemWithDataConformingToTypes({ Pasteboard::stringType, "image/png" }));
    EXPECT_EQ(clipboard.data(Pasteboard::rtfType), "{\\rtf1 y}");
    EXPECT_FALSE(clipboard.string());

    // The data of a drag: written into the caller's data, read back from it.
    QMimeData drag;
    Pasteboard::writing(drag)->setString("dragged");
    EXPECT_EQ(Pasteboard::reading(drag)->string(), "dragged");
    EXPECT_FALSE(Pasteboard::reading(drag)->setString("no"));
    EXPECT_EQ(Pasteboard::kind("NSStringPboardType"), Pasteboard::Kind::string);
    EXPECT_FALSE(Pasteboard::kind("image/png"));
}

// Programs that offer plain text only in UTF-8 by its full name, or only in an older charset.
TEST(Pasteboard, ReadsPlainTextOfferedOnlyUnderACharset)
{
    Pasteboard& clipboard = Pasteboard::general();
    const auto offer = [](const QString& format, const QByteArray& bytes) {
        auto* foreign = new QMimeData;
        foreign->setData(format, bytes);
        QGuiApplication::clipboard()->setMimeData(foreign);
    };

    offer("text/plain;charset=utf-8", "caf\xc3\xa9 \xf0\x9f\x98\x80");
    EXPECT_TRUE(clipboard.canReadItemWithDataConformingToTypes({ Pasteboard::stringType }));
    EXPECT_EQ(clipboard.string(), QStringLiteral("caf\u00e9 \U0001F600"));

    offer("text/plain; charset=\"ISO-8859-1\"", "caf\xe9");
    EXPECT_EQ(clipboard.string(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(clipboard.data(Pasteboard::stringType), "caf\xc3\xa9");

    offer("text/plain;charset=no-such-charset", "x");
    EXPECT_FALSE(clipboard.canReadItemWithDataConformingToTypes({ Pasteboard::stringType }));
    EXPECT_FALSE(clipboard.string());
}
