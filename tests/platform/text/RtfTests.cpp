#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"

#include "support/TestSupport.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <gtest/gtest.h>

using namespace platform;

namespace {

AttributedString readRtf(QByteArrayView data)
{
    auto result = RtfReader::read(data);
    EXPECT_TRUE(result.isSuccess());
    return result.isSuccess() ? std::move(result).value() : AttributedString();
}

QByteArray corpusFile(const QString& name)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/rtf/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

QFont fontAt(const AttributedString& text, qsizetype index)
{
    return text.attribute(AttributeKey::font, index).value<QFont>();
}

TextAlignment alignmentAt(const AttributedString& text, qsizetype index)
{
    return text.attribute(AttributeKey::paragraphStyle, index).value<ParagraphStyle>().alignment;
}

TextAttributes styled(const QFont& font, std::initializer_list<std::pair<QString, QVariant>> extra = {})
{
    TextAttributes attributes { { AttributeKey::font, font } };
    for (const auto& [key, value] : extra)
        attributes.insert(key, value);
    return attributes;
}

QVariant aligned(TextAlignment alignment)
{
    ParagraphStyle style;
    style.alignment = alignment;
    return QVariant::fromValue(style);
}

} // namespace

TEST(Rtf, WrittenTextReadsBackWithItsAttributes)
{
    QFont serif("DejaVu Serif");
    serif.setPointSizeF(13.5);
    QFont bold("DejaVu Sans");
    bold.setPointSizeF(12);
    bold.setBold(true);
    QFont italic = bold;
    italic.setBold(false);
    italic.setItalic(true);

    AttributedString text;
    text.append(AttributedString("Title {with} \\braces\\\n",
        styled(bold, { { AttributeKey::paragraphStyle, aligned(TextAlignment::center) } })));
    text.append(AttributedString("Caf\u00e9 \u20ac \u4f60\u597d \U0001F600\ttab ", styled(serif)));
    text.append(AttributedString("red on yellow",
        styled(italic,
            { { AttributeKey::foregroundColor, QColor(255, 0, 0) },
                { AttributeKey::backgroundColor, QColor(255, 255, 0) } })));
    text.append(AttributedString("{brace} after a change", styled(bold)));
    text.append(AttributedString(" thick",
        styled(serif,
            { { AttributeKey::underlineStyle, 2 }, { AttributeKey::underlineColor, QColor(0, 0, 255) } })));
    text.append(AttributedString(" double", styled(serif, { { AttributeKey::underlineStyle, 9 } })));
    text.append(AttributedString(" single\n", styled(serif, { { AttributeKey::underlineStyle, 1 } })));
    text.append(AttributedString(
        "right\n", styled(serif, { { AttributeKey::paragraphStyle, aligned(TextAlignment::right) } })));
    text.append(AttributedString("justified\n",
        styled(serif, { { AttributeKey::paragraphStyle, aligned(TextAlignment::justified) } })));
    text.append(AttributedString(QString::fromLatin1("\0 nul", 5), styled(serif)));
    text.append(AttributedString(QString(QChar(0xD800)) + "lone surrogate", styled(serif)));

    const QByteArray rtf = RtfWriter::write(text);
    EXPECT_TRUE(rtf.contains("Caf\\u233\\'e9")) << "older readers get the Windows-1252 byte";
    const AttributedString back = readRtf(rtf);
    EXPECT_EQ(back.string(), text.string());
    ASSERT_EQ(back.runs().size(), text.runs().size());
    for (size_t i = 0; i < text.runs().size(); ++i) {
        EXPECT_EQ(back.runs()[i].length, text.runs()[i].length) << i;
        EXPECT_EQ(back.runs()[i].attributes, text.runs()[i].attributes) << i;
    }
}

TEST(Rtf, LineEndsBecomeOneParagraphMarkEach)
{
    const AttributedString text("a\r\nb\rc\nd");
    EXPECT_EQ(readRtf(RtfWriter::write(text)).string(), "a\nb\nc\nd");
}

// A document as a word processor writes it: style sheet, lists, information, a header, a field, a
// picture with binary data holding braces, an embedded object, bookmarks, unknown destinations, a
// table, two code pages, \upr, a footnote and text after the end.
TEST(Rtf, WordProcessorDocumentKeepsItsTextOnly)
{
    const AttributedString text = readRtf(corpusFile("word-processor.rtf"));
    EXPECT_EQ(text.string(),
        "Project notes\n"
        "Plain, bold, italic, underlined, red and marked text.\n"
        "Caf\u00e9 \u20ac 5 \U0001F600 and \u201cquoted\u201d.\n"
        "Visit our site.\n"
        "Cell one\tCell two\n"
        "Cell three\tCell four\n"
        "\u041f\u0440\u0438\u0432\u0435\u0442 \u3042unicode \u4f60\n"
        "Last line\nsecond half");

    const QString& string = text.string();
    EXPECT_EQ(fontAt(text, 0).family(), "Arial");
    EXPECT_EQ(fontAt(text, 0).pointSizeF(), 16.0);
    EXPECT_TRUE(fontAt(text, 0).bold());
    EXPECT_EQ(alignmentAt(text, 0), TextAlignment::center);
    EXPECT_EQ(fontAt(text, string.indexOf("Plain")).family(), "Times New Roman");
    EXPECT_EQ(fontAt(text, string.indexOf("Plain")).pointSizeF(), 11.0);
    EXPECT_TRUE(fontAt(text, string.indexOf("bold")).bold());
    EXPECT_TRUE(fontAt(text, string.indexOf("italic")).italic());
    EXPECT_EQ(text.attribute(AttributeKey::underlineStyle, string.indexOf("underlined")).toInt(), 1);
    EXPECT_EQ(text.attribute(AttributeKey::foregroundColor, string.indexOf("red")).value<QColor>(),
        QColor(Qt::red));
    EXPECT_EQ(text.attribute(AttributeKey::backgroundColor, string.indexOf("marked")).value<QColor>(),
        QColor(Qt::yellow));
    EXPECT_EQ(text.attribute(AttributeKey::foregroundColor, string.indexOf("our site")).value<QColor>(),
        QColor(Qt::blue));
    EXPECT_TRUE(fontAt(text, string.indexOf("Cell two")).bold());
    EXPECT_EQ(alignmentAt(text, string.indexOf(QChar(0x041f))), TextAlignment::right);
    EXPECT_EQ(fontAt(text, string.indexOf(QChar(0x041f))).family(), "Courier New Cyr");
    EXPECT_EQ(alignmentAt(text, string.indexOf("Last")), TextAlignment::justified);
}

TEST(Rtf, ForeignConstructsReadAsTheirText)
{
    const struct {
        const char* rtf;
        const char16_t* text;
    } cases[] = {
        { R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8)", u"\u041f\u0440\u0438" },
        { R"({\rtf1\mac \'8e)", u"\u00e9" },
        { R"({\rtf1{\fonttbl{\f0\fcharset134 SimSun;}}\f0 \'c4\'e3)", u"\u4f60" },
        { R"({\rtf1\ansi\ansicpg65001 \'e2\'82\'ac)", u"\u20ac" },
        // Code pages whose letters may take a following mark: the last letter of a run is kept.
        { R"({\rtf1\ansi\ansicpg1255 \'f9\'ec\'e5\'ed\par \'e1\'c8})",
            u"\u05e9\u05dc\u05d5\u05dd\n\u05d1\u05b8" },
        { R"({\rtf1\ansi\ansicpg1258 Vi\'eat})", u"Vi\u00eat" },
        { R"({\rtf1\ansi\ansicpg1255 \'f9\'fc\'ec})", u"\u05e9\ufffd\u05dc" },
        { R"({\rtf1\ansi\ansicpg1258 a\'ec})", u"a\u0301" },
        { R"({\rtf1\uc0\u233 e\uc3\u233\'e9\'e9\'e9x})", u"\u00e9e\u00e9x" },
        { R"({\rtf1 {\uc5\u233 ab}c})", u"\u00e9c" }, // a group end stops the skipping
        { R"({\rtf1 \u99999 a\u-40000 b})", u"\ufffd\ufffd" },
        { R"({\rtf1 a\'zzb\'4})", u"azzb" },
        { R"({\rtf1 x\bin5 {{{{{y})", u"xy" },
        { R"({\rtf1 x\bin999999 abc})", u"x" },
        { R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote\~\_})",
            u"\u2014\u2013\u2022\u2018\u2019\u201c\u201d\u00a0\u2011" },
        { "{\\rtf1 one\\\ntwo\\\r\nthree}", u"one\ntwo\nthree" },
        { R"({\rtf1 a\unknownword b{\*\unknowndest c}d})", u"abd" },
        { R"({\rtf1 {\*\ud x}{\nestcell}\nestrow})", u"x\n" },
        { "\xEF\xBB\xBF \n{\\rtf1 bom}", u"bom" },
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(readRtf(testCase.rtf).string(), QString::fromUtf16(testCase.text)) << testCase.rtf;
}

// Inputs that end early, close too much or nest without end keep what they held and stop; a reader
// that went quadratic on any of them would hold the suite far past its time-out.
TEST(Rtf, MalformedInputKeepsWhatItHolds)
{
    EXPECT_TRUE(RtfReader::read("plain text").isFailure());
    EXPECT_TRUE(RtfReader::read("").isFailure());
    EXPECT_EQ(readRtf(corpusFile("unbalanced.rtf")).string(), "bold");
    EXPECT_EQ(readRtf(corpusFile("truncated-unicode.rtf")).string(), "text \ufffc");
    EXPECT_EQ(readRtf(corpusFile("deep.rtf")).string(), "deep tail");
    EXPECT_EQ(readRtf(corpusFile("editor-preamble.rtf")).string(), "Hello \nworld\tdone");

    const QByteArray document = corpusFile("word-processor.rtf");
    for (qsizetype length = 0; length <= document.size(); ++length)
        RtfReader::read(QByteArrayView(document).first(length));

    const int depth = 2'000'000;
    QByteArray nested = "{\\rtf1 " + QByteArray(depth, '{') + "x" + QByteArray(depth, '}');
    EXPECT_EQ(readRtf(nested).string(), "x");
    QByteArray skipped = "{\\rtf1 a{\\*\\x " + QByteArray(depth, '{') + "b";
    EXPECT_EQ(readRtf(skipped).string(), "a");
    QByteArray manyUnicode = "{\\rtf1\\uc1000000 ";
    for (int i = 0; i < 200'000; ++i)
        manyUnicode += "\\u97 ";
    EXPECT_EQ(readRtf(manyUnicode).string(), "a");
}

// Inputs the fuzzer found: each read, written and read again keeps its text.
TEST(Rtf, FuzzerFindingsRoundTrip)
{
    const QDir folder(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/rtf"));
    for (const QString& name : folder.entryList({ "crash-*", "timeout-*" }, QDir::Files)) {
        const auto first = RtfReader::read(corpusFile(name));
        if (first.isFailure())
            continue;
        QString expected = first.value().string();
        expected.replace("\r\n", "\n").replace('\r', '\n');
        EXPECT_EQ(readRtf(RtfWriter::write(first.value())).string(), expected) << name.toStdString();
    }
}

TEST(Rtf, ALastParagraphWithoutAMarkKeepsItsAlignment)
{
    QFont font("DejaVu Sans");
    font.setPointSizeF(12);
    const AttributedString text(
        "centred", styled(font, { { AttributeKey::paragraphStyle, aligned(TextAlignment::center) } }));
    const AttributedString back = readRtf(RtfWriter::write(text));
    ASSERT_EQ(back.string(), text.string());
    EXPECT_EQ(alignmentAt(back, 0), TextAlignment::center);
    EXPECT_EQ(alignmentAt(readRtf("{\\rtf1\\ansi\\pard\\qr right{\\b bold}}"), 0), TextAlignment::right);
}

// Struck-through text copied out of a note comes back struck through, and so does the strike-through
// other programs write, in a group or switched off again.
TEST(Rtf, StrikeThroughSurvivesCopyAndPaste)
{
    QFont font("DejaVu Sans");
    font.setPointSizeF(12);
    QFont struck = font;
    struck.setStrikeOut(true);
    AttributedString text("plain ", styled(font));
    text.append(AttributedString("struck\ncentred", styled(struck)));
    text.append(AttributedString(" plain", styled(font)));
    text.addAttributes({ { AttributeKey::paragraphStyle, aligned(TextAlignment::center) } }, 13, 14);
    EXPECT_EQ(readRtf(RtfWriter::write(text)), text);

    const AttributedString pasted
        = readRtf("{\\rtf1 a{\\strike b}c\\strike d\\strike0 e\\striked1 f\\plain g\\strike\\b h}");
    ASSERT_EQ(pasted.string(), "abcdefgh");
    const char* expected = "01010101";
    for (qsizetype i = 0; i < pasted.length(); ++i)
        EXPECT_EQ(fontAt(pasted, i).strikeOut(), expected[i] == '1') << i;
    EXPECT_TRUE(fontAt(pasted, 7).bold());
}

// A transparent colour paints nothing; written as its red, green and blue it would come back
// opaque black, hiding black text under a black background.
TEST(Rtf, ATransparentColourIsNotWrittenAsBlack)
{
    QFont font("DejaVu Sans");
    font.setPointSizeF(12);
    AttributedString text(
        "clear", styled(font, { { AttributeKey::backgroundColor, QColor(Qt::transparent) } }));
    text.append(
        AttributedString(" red", styled(font, { { AttributeKey::backgroundColor, QColor(255, 0, 0) } })));
    const AttributedString back = readRtf(RtfWriter::write(text));
    ASSERT_EQ(back.string(), text.string());
    EXPECT_FALSE(back.attribute(AttributeKey::backgroundColor, 0).isValid());
    EXPECT_EQ(back.attribute(AttributeKey::backgroundColor, 6).value<QColor>(), QColor(255, 0, 0));
}

// A paragraph mark that leaves no line end in the text (hidden, or lost in a font table) does not
// split the paragraph's alignment: its text joins the next paragraph, which copies and pastes back
// as it was read.
TEST(Rtf, AParagraphMarkThatLeavesNoLineEndKeepsOneAlignment)
{
    for (const char* rtf :
        { "{\\rtf1\\qc a{\\v x\\par}\\pard b\\par\\qr c}", "{\\rtf1\\qc a{\\fonttbl\\par}\\pard b}" }) {
        const AttributedString text = readRtf(rtf);
        ASSERT_TRUE(text.string().startsWith("ab")) << rtf;
        EXPECT_EQ(alignmentAt(text, 0), TextAlignment::natural) << rtf;
        EXPECT_EQ(alignmentAt(text, 1), TextAlignment::natural) << rtf;
        EXPECT_EQ(readRtf(RtfWriter::write(text)), text) << rtf;
    }
}

// Two fonts of one family that fall back differently (a sans-serif and an unspecified kind) keep
// a font table entry each.
TEST(Rtf, FontsOfOneFamilyKeepTheirKind)
{
    QFont any("DejaVu Sans");
    any.setPointSizeF(12);
    QFont sans = any;
    sans.setStyleHint(QFont::SansSerif);
    AttributedString text("any ", styled(any));
    text.append(AttributedString("sans", styled(sans)));
    EXPECT_EQ(readRtf(RtfWriter::write(text)), text);
}

// A document may declare a new code page before every character, and numbers no code page has;
// reading it stays linear in its length however many it declares.
TEST(Rtf, ManyUnknownCodePagesReadInLinearTime)
{
    constexpr int declarations = 400'000;
    QByteArray text = "{\\rtf1 ";
    QByteArray fonts = "{\\rtf1{\\fonttbl{\\f0 ";
    for (int i = 0; i < declarations; ++i) {
        const QByteArray number = QByteArray::number(100'000 + i);
        text += "\\ansicpg" + number + "\\'e9";
        fonts += "\\cpg" + number + "\\'e9";
    }
    fonts += ";}}\\f0 x}";
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(readRtf(text).string(), QString(declarations, QChar(0xe9)));
    EXPECT_EQ(readRtf(fonts).string(), "x");
    // Linear, this takes well under a second; remembering each unknown number took minutes.
    EXPECT_LT(timer.elapsed(), 15'000);
}
