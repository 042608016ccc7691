#include "../LibraryTestSupport.h"
#include "app/notes/TDNoteTextFile.h"

#include <QStringEncoder>

using apptest::LibraryRoot;

// Every text comes back as it was saved, one that begins with U+FEFF included; a file another
// editor wrote with a byte-order mark opens without it.
TEST(TDNoteTextFile, EveryTextComesBackByteForByte)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const platform::Url url = platform::Url::fileUrl(root.file("note.txt"));
    for (const QString& text : { u""_qs, u"\uFEFF"_qs, u"\uFEFF\uFEFFtwo marks"_qs, u"\uFEFF\nafter"_qs,
             u"inside \uFEFF"_qs, u"Caf\u00e9 \U0001F3B5"_qs }) {
        ASSERT_TRUE(TDNoteTextFile::write(url, text).isSuccess());
        const auto read = TDNoteTextFile::read(url);
        ASSERT_TRUE(read.isSuccess());
        EXPECT_EQ(read.value(), text);
    }
    root.write("note.txt", "\xEF\xBB\xBFwritten elsewhere");
    EXPECT_EQ(TDNoteTextFile::read(url).value(), u"written elsewhere"_qs);
}

// Files that name their encoding with a byte-order mark, as Windows editors write "Unicode" text,
// open; text cut short or without a mark must be UTF-8.
TEST(TDNoteTextFile, ATextWithAUnicodeMarkOpensInItsEncoding)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const platform::Url url = platform::Url::fileUrl(root.file("note.txt"));
    const QString text = u"Caf\u00e9 \U0001F3B5\r\n"_qs;
    for (auto encoding : { QStringConverter::Utf16LE, QStringConverter::Utf16BE, QStringConverter::Utf32LE,
             QStringConverter::Utf32BE }) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        const QByteArray bytes = encoder.encode(text);
        root.write("note.txt", bytes);
        const auto read = TDNoteTextFile::read(url);
        ASSERT_TRUE(read.isSuccess()) << QStringConverter::nameForEncoding(encoding);
        EXPECT_EQ(read.value(), text);
        root.write("note.txt", bytes.chopped(1));
        EXPECT_FALSE(TDNoteTextFile::read(url).isSuccess()) << "cut short";
    }
}
