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

// A note saved is a note that opens again: one past the size `read` takes is refused, and the file
// keeps what it held.
TEST(TDNoteTextFile, ATextTooLargeToOpenAgainIsNotSaved)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const platform::Url url = platform::Url::fileUrl(root.file("note.txt"));
    ASSERT_TRUE(TDNoteTextFile::write(url, u"kept"_qs).isSuccess());
    // Under the limit in UTF-16 code units, over it in UTF-8 bytes.
    const QString large(qsizetype(TDNoteTextFile::maximumTextBytes / 2 + 1), QChar(0x00e9));
    const auto written = TDNoteTextFile::write(url, large);
    ASSERT_FALSE(written.isSuccess());
    EXPECT_EQ(written.error().reason, TDNoteTextFile::Failure::Reason::tooLarge);
    EXPECT_EQ(TDNoteTextFile::read(url).value(), u"kept"_qs);

    const QString fits(qsizetype(TDNoteTextFile::maximumTextBytes / 2), QChar(0x00e9));
    ASSERT_TRUE(TDNoteTextFile::write(url, fits).isSuccess());
    EXPECT_EQ(TDNoteTextFile::read(url).value().size(), fits.size());
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
    // Values no character has: past U+10FFFF (Qt's decoder takes 0x200A0000 for U+A0000), or half
    // of a UTF-16 pair.
    for (const char* hex :
        { "fffe0000 43000000 00000a20", "fffe0000 00001100", "0000feff 0000d800", "fffe 00d8 4100" }) {
        root.write("note.txt", QByteArray::fromHex(hex));
        EXPECT_FALSE(TDNoteTextFile::read(url).isSuccess()) << hex;
    }
}

// A note file may be a link (to a synced folder inside the library, say): a save goes through it,
// also when its file is missing, but never to a file outside the library, even one not there yet.
TEST(TDNoteTextFile, ASaveGoesThroughALinkOnlyToAFileInsideTheLibrary)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    QDir().mkpath(root.library() + "/synced");
    ASSERT_TRUE(QFile::link(root.library() + "/synced/note.txt", root.file("inside.txt")));
    ASSERT_TRUE(QFile::link(root.root() + "/outside.txt", root.file("outside.txt")));

    ASSERT_TRUE(TDNoteTextFile::write(platform::Url::fileUrl(root.file("inside.txt")), "text").isSuccess());
    EXPECT_EQ(root.read("synced/note.txt"), QByteArray("text"));
    EXPECT_TRUE(QFileInfo(root.file("inside.txt")).isSymLink());

    auto outside = TDNoteTextFile::write(platform::Url::fileUrl(root.file("outside.txt")), "text");
    ASSERT_FALSE(outside.isSuccess());
    EXPECT_EQ(outside.error().reason, TDNoteTextFile::Failure::Reason::outsideLibrary);
    EXPECT_FALSE(QFileInfo::exists(root.root() + "/outside.txt"));
}

// A library file copied from elsewhere or edited by hand may name a library file as a note's text,
// directly or through a link: what the user types there would replace the library.
TEST(TDNoteTextFile, ALibraryFileIsNeverANotesText)
{
    LibraryRoot root;
    root.write("projects.library", "[]");
    root.write("media.library", "[]");
    QDir().mkpath(root.library() + "/P/notes/N");
    ASSERT_TRUE(QFile::link(root.file("media.library"), root.file("P/notes/N/N.txt")));
    for (const QString& path : { root.file("projects.library"), root.file("P/notes/N/N.txt") }) {
        SCOPED_TRACE(path.toStdString());
        const platform::Url url = platform::Url::fileUrl(path);
        auto read = TDNoteTextFile::read(url);
        ASSERT_FALSE(read.isSuccess());
        EXPECT_EQ(read.error().reason, TDNoteTextFile::Failure::Reason::libraryFile);
        auto written = TDNoteTextFile::write(url, "typed over");
        ASSERT_FALSE(written.isSuccess());
        EXPECT_EQ(written.error().reason, TDNoteTextFile::Failure::Reason::libraryFile);
        EXPECT_FALSE(TDNoteTextFile::keepAside(url).isSuccess());
    }
    EXPECT_EQ(root.read("projects.library"), QByteArray("[]"));
    EXPECT_EQ(root.read("media.library"), QByteArray("[]"));
    EXPECT_EQ(root.libraryEntries(), QStringList({ "P", "media.library", "projects.library" }));

    // A note's own file beside them is still a note.
    const platform::Url note = platform::Url::fileUrl(root.file("note.txt"));
    ASSERT_TRUE(TDNoteTextFile::write(note, "text").isSuccess());
    EXPECT_EQ(TDNoteTextFile::read(note).value(), "text");
}

// A UTF-8 note read and saved with no edit is the same file to the byte: its byte-order mark and its
// line ends, however mixed, stay as they were. A UTF-16 or UTF-32 one keeps its text and line ends.
TEST(TDNoteTextFile, ALoadAndASaveWithoutAnEditKeepEveryByte)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const platform::Url url = platform::Url::fileUrl(root.file("note.txt"));
    QList<QByteArray> samples = { "", "\xEF\xBB\xBF", "\xEF\xBB\xBF\xEF\xBB\xBFtwo marks", "a\r\nb\nc\rd\r\n",
        QByteArray("\xFF\xFE\0\0", 4), QByteArray("\xFE\xFF\xFE\xFF\0a", 6) };
    const QDir corpus(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/note-text"));
    const QStringList seeds = corpus.entryList(QDir::Files);
    ASSERT_GE(seeds.size(), 8);
    for (const QString& name : seeds) {
        QFile seed(corpus.filePath(name));
        ASSERT_TRUE(seed.open(QIODevice::ReadOnly));
        samples.push_back(seed.readAll());
    }
    for (const QByteArray& bytes : samples) {
        SCOPED_TRACE(bytes.toHex(' ').toStdString());
        root.write("note.txt", bytes);
        const auto read = TDNoteTextFile::readContents(url);
        ASSERT_TRUE(read.isSuccess());
        ASSERT_TRUE(TDNoteTextFile::write(url, read.value().text, read.value().spelling).isSuccess());
        // A UTF-16 or UTF-32 file is written in UTF-8, its line ends kept.
        const bool utf8 = read.value().spelling.encoding == TDNoteTextFile::Spelling::Encoding::utf8;
        EXPECT_EQ(root.read("note.txt"), utf8 ? bytes : TDNoteTextFile::encodedText(read.value().text, {}));
    }
}

// A line end typed into a note is written as most of the file's are; a line end the user did not
// type stays as the file had it.
TEST(TDNoteTextFile, TypedLineEndsAreWrittenAsMostOfTheFilesAre)
{
    using LineEnd = TDNoteTextFile::Spelling::LineEnd;
    const struct {
        QByteArray file;
        LineEnd most;
    } files[] = {
        { "no line end", LineEnd::lf },
        { "a\r\nb\r\n", LineEnd::crLf },
        { "a\r\nb\r\nc\n", LineEnd::crLf },
        { "a\r\nb\n", LineEnd::lf },
        { "a\rb\rc\r\n", LineEnd::cr },
        { "a\rb\r\nc\n", LineEnd::lf },
    };
    for (const auto& [file, most] : files) {
        const auto contents = TDNoteTextFile::decodedContents(file);
        ASSERT_TRUE(contents);
        EXPECT_EQ(contents->spelling.lineEnd, most) << file.toStdString();
    }

    TDNoteTextFile::Spelling crLf;
    crLf.lineEnd = LineEnd::crLf;
    TDNoteTextFile::Spelling lf;
    TDNoteTextFile::Spelling cr;
    cr.lineEnd = LineEnd::cr;
    // The LF at 3 was typed, the one at 5 was in the file.
    EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(u"a\r\n\nb\nc"_qs, crLf, { { 3, 4 } }), u"a\r\n\r\nb\nc"_qs);
    const QString pasted = u"x\r\ny\nz"_qs;
    EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(pasted, crLf, { { 0, 6 } }), u"x\r\ny\r\nz"_qs);
    EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(pasted, lf, { { 0, 6 } }), u"x\ny\nz"_qs);
    EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(pasted, cr, { { 1, 3 }, { 4, 5 } }), u"x\ry\rz"_qs);
    // Half of a CR LF that was in the file stays; the typed half is a line end of its own.
    EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(u"a\r\nb"_qs, lf, { { 0, 2 } }), u"a\n\nb"_qs);
    EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(u"a\r\nb"_qs, crLf, { { 2, 3 } }), u"a\r\r\nb"_qs);
    const QString untouched = QString::fromLatin1("a\nb\r\n");
    EXPECT_TRUE(TDNoteTextFile::withTypedLineEnds(untouched, crLf, {}).isSharedWith(untouched));
}

// A typed line end spelled as the file's would read back joined to the CR before it or the LF after
// it, as one line end: it is written as it was typed instead.
TEST(TDNoteTextFile, ATypedLineEndIsNeverJoinedToOneKeptFromTheFile)
{
    using LineEnd = TDNoteTextFile::Spelling::LineEnd;
    TDNoteTextFile::Spelling lf;
    TDNoteTextFile::Spelling cr;
    cr.lineEnd = LineEnd::cr;
    const struct {
        QString text;
        TDNoteTextFile::Spelling spelling;
        TDNoteTextFile::Stretches typed;
        QString written;
    } cases[] = {
        { u"c\n\nd"_qs, cr, { { 1, 2 } }, u"c\n\nd"_qs },
        { u"c\r\n\nd"_qs, cr, { { 1, 3 } }, u"c\r\n\nd"_qs },
        { u"c\r\rd"_qs, lf, { { 2, 3 } }, u"c\r\rd"_qs },
        { u"c\r\r\nd"_qs, lf, { { 2, 4 } }, u"c\r\r\nd"_qs },
        { u"c\n\n\nd"_qs, cr, { { 1, 3 } }, u"c\n\n\nd"_qs },
        // Away from kept line ends they follow the file.
        { u"c\n\nd"_qs, cr, { { 1, 3 } }, u"c\r\rd"_qs },
        { u"c\r\r\rd"_qs, lf, { { 1, 3 } }, u"c\n\n\rd"_qs },
        { u"c\nd\ne"_qs, cr, { { 1, 2 } }, u"c\rd\ne"_qs },
    };
    for (const auto& [text, spelling, typed, written] : cases)
        EXPECT_EQ(TDNoteTextFile::withTypedLineEnds(text, spelling, typed), written) << text.toStdString();
}
