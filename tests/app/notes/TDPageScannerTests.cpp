#include "app/notes/TDPageScanner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

#include <optional>

namespace {

struct ScanCase {
    const char* what;
    QByteArray page;
    QByteArray contentType;
    std::optional<QString> title;
    std::optional<QString> desc;
};

QByteArray utf16LittleEndianWithMark(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

template<std::size_t N> void expectScans(const ScanCase (&cases)[N])
{
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.what);
        const TDPageInfo info = TDPageScanner::scan(c.page, c.contentType);
        EXPECT_EQ(info.title, c.title);
        EXPECT_EQ(info.desc, c.desc);
    }
}

} // namespace

TEST(TDPageScanner, TakesTitleAndDescriptionAsTheirCharsetAndMarkupSay)
{
    const std::optional<QString> none;
    const ScanCase cases[] = {
        { "UTF-8 page",
            "<html><head><title>Caf\xC3\xA9 \xE2\x80\x93 Menu</title>\n"
            "<meta name=\"description\" content=\"Fresh bread, daily.\"></head>",
            "text/html; charset=utf-8", u"Café – Menu"_qs, u"Fresh bread, daily."_qs },
        { "Latin-1 named by the header",
            "<title>Caf\xE9 cr\xE8me</title><meta name='description' content='\x93Ol\xE9\x94'>",
            "text/html; charset=ISO-8859-1", u"Café crème"_qs, u"“Olé”"_qs },
        { "Latin-1 named by a meta element",
            "<meta http-equiv=\"Content-Type\" content=\"text/html; "
            "charset=iso-8859-1\"><title>Na\xEFve</title>",
            "", u"Naïve"_qs, none },
        { "another charset named by meta charset",
            "<meta charset=\"windows-1251\"><title>\xCF\xF0\xE8\xE2\xE5\xF2</title>", "text/html",
            u"Привет"_qs, none },
        // Pages under these labels use their superset's characters, as browsers read them.
        { "GB2312 named, a GBK character used", "<title>\xC4\xE3\xBA\xC3\x81\x40</title>",
            "text/html; charset=gb2312", u"你好丂"_qs, none },
        { "EUC-KR named, a Windows-949 syllable used", "<meta charset=euc-kr><title>\xB0\xA1\x81\x41</title>",
            "", u"가갂"_qs, none },
        { "Latin-5 named, a Windows-1254 quote used", "<title>T\xFCrk\x92s</title>",
            "text/html; charset=iso-8859-9", u"Türk’s"_qs, none },
        { "UTF-16 with a byte-order mark",
            utf16LittleEndianWithMark(
                u"<title>Grüße</title><meta name=\"description\" content=\"Ünïcödé\">"_qs),
            "", u"Grüße"_qs, u"Ünïcödé"_qs },
        { "neither", "<html><body><h1>Nothing here</h1></body></html>", "text/html", none, none },
        { "character references",
            "<title>Tom &amp; Jerry &#8211; &#x1F600; &eacute;&#0; &bogus; &amp</title>", "",
            u"Tom & Jerry – 😀 é\uFFFD &bogus; &amp"_qs, none },
        { "numeric references in 128 to 159 stand for Windows-1252 characters",
            "<title>Tom &#150; Jerry&#146;s &#128;5&#x9F; &#x81;&#159</title>", "",
            u"Tom \u2013 Jerry\u2019s \u20AC5\u0178 \u0081\u0178"_qs, none },
        { "an apostrophe inside a double-quoted description",
            "<meta name=\"description\" content=\"Don't panic\">", "", none, u"Don't panic"_qs },
        { "quotes inside a single-quoted description", "<meta name='description' content='Say \"hi\"'>", "",
            none, u"Say \"hi\""_qs },
        { "attributes on lines of their own", "<meta\n  name=\"description\"\n  content=\"Lines\">", "", none,
            u"Lines"_qs },
        { "content before name", "<meta content=\"First\" name=\"description\">", "", none, none },
        { "a title broken over lines, then one on one line", "<title>One\nTwo</title><title>Three</title>",
            "", u"Three"_qs, none },
        { "an empty title and an empty description are skipped",
            "<title></title><title>Second</title><meta name=\"description\" content=\"\"><meta "
            "name=\"description\" "
            "content=\"Kept\">",
            "", u"Second"_qs, u"Kept"_qs },
        { "two titles: the first, as written", "<title>  First </title><title>Second</title>", "",
            u"  First "_qs, none },
        { "a line separator ends a line in UTF-8",
            "<title>a\xE2\x80\xA8"
            "b</title>",
            "", none, none },
        { "bytes that are not UTF-8 give no title; the description stands",
            "<title>bad \xFF\xFE</title><meta name=\"description\" content=\"fine\">", "", none, u"fine"_qs },
        { "a byte that begins a sequence and ends the field is invalid too",
            "<title>Caf\xE9</title><meta name=\"description\" content=\"Caf\xE9\">", "", none, none },
        { "a meta charset after a long script, before the title",
            QByteArray("<script>") + QByteArray(2000, ' ') + "</script><meta charset=\"windows-1252\">"
                + "<title>Caf\xE9 cr\xE8me</title><meta name='description' content='Ol\xE9'>",
            "text/html", u"Café crème"_qs, u"Olé"_qs },
        { "one after the title changes nothing",
            QByteArray("<title>Caf\xC3\xA9</title>") + QByteArray(2000, ' ')
                + "<meta charset=\"windows-1251\">",
            "", u"Café"_qs, none },
        { "so is half a character of a named multi-byte charset",
            "<meta charset=\"shift_jis\"><title>\x93\xfa\x96</title><meta name=\"description\" "
            "content=\"\x93\xfa\">",
            "", none, u"\u65e5"_qs },
    };
    expectScans(cases);
}

// A commented-out head, or markup a script writes, is not what the page says about itself; text
// inside a title names nothing, whatever it looks like.
TEST(TDPageScanner, CommentsScriptsAndStylesHoldNoTitleOrDescription)
{
    const std::optional<QString> none;
    const ScanCase cases[] = {
        { "a commented-out title and description",
            "<!-- <title>Old</title><meta name=\"description\" content=\"old\"> --><title>New</title>"
            "<meta name=\"description\" content=\"new\">",
            "", u"New"_qs, u"new"_qs },
        { "markup a script writes, its end tag in capitals",
            "<script>document.write('<title>Fake</title><meta name=\"description\" content=\"fake\">')"
            "</SCRIPT ><title>Real</title><meta name=\"description\" content=\"real\">",
            "", u"Real"_qs, u"real"_qs },
        { "a style", "<style>/* <title>x</title> */</style><title>Styled</title>", "", u"Styled"_qs, none },
        { "a comment left open hides the rest",
            "<title>Kept</title><!-- <meta name=\"description\" content=\"hidden\">", "", u"Kept"_qs, none },
        { "empty comments", "<!--><!---><title>Shown</title>", "", u"Shown"_qs, none },
        { "a comment ended by --!>, as browsers end it",
            "<!-- <title>Old</title> --!><title>New</title><!-- a --! b -- c --><meta name=\"description\" "
            "content=\"after\">",
            "", u"New"_qs, u"after"_qs },
        { "a title that mentions markup",
            "<title>Use <script> and <!-- well</title><meta name=\"description\" content=\"after\">", "",
            u"Use <script> and <!-- well"_qs, u"after"_qs },
        { "a charset after a comment ended by --!>",
            "<!-- x --!><meta charset=\"windows-1252\"><title>Caf\xE9</title>", "", u"Caf\u00e9"_qs, none },
        { "a commented-out charset", "<!-- <meta charset=\"windows-1252\"> --><title>Caf\xC3\xA9</title>", "",
            u"Caf\u00e9"_qs, none },
        { "names that only begin like a script",
            "<scripts><title>Plural</title><script>s = '</scripting><title>No</title>'</script>", "",
            u"Plural"_qs, none },
    };
    expectScans(cases);
}

// Inputs the fuzzer found troublesome are kept and scanned here.
TEST(TDPageScanner, ScansTheFuzzCorpus)
{
    QDirIterator it(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/link-page"), QDir::Files);
    int scanned = 0;
    while (it.hasNext()) {
        QFile file(it.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        TDPageScanner::scan(bytes, bytes.left(64));
        ++scanned;
    }
    EXPECT_GT(scanned, 0);
}
