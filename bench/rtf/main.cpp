// Reading and writing a 1 MB RTF document with our reader and writer, against the round trip a
// Qt program would otherwise use for rich text on the clipboard: QTextDocument::toHtml and setHtml of
// the same text and attributes. Then the reader on hostile input of 4 and 8 MB, to show it stays
// linear.

#include "bench/support/Compare.h"

#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>
#include <random>

using namespace platform;

namespace {

struct Style {
    QString family;
    double points;
    bool bold;
    bool italic;
    int underline;
    QColor foreground;
    QColor background;
};

const Style styles[] = {
    { "DejaVu Serif", 12, false, false, 0, {}, {} },
    { "DejaVu Serif", 12, true, false, 0, {}, {} },
    { "DejaVu Serif", 12, false, true, 0, QColor(200, 0, 0), {} },
    { "DejaVu Sans", 14, true, false, 1, QColor(0, 0, 200), {} },
    { "DejaVu Sans Mono", 10, false, false, 0, {}, QColor(255, 255, 0) },
};

const TextAlignment alignments[]
    = { TextAlignment::natural, TextAlignment::center, TextAlignment::justified };

struct Piece {
    QString text;
    int style;
    int alignment;
};

// About 1 MB of RTF: paragraphs of 40 to 120 words with a style change every few words.
std::vector<Piece> makePieces()
{
    static const char* const words[] = { "the", "project", "notes", "reference", "caf\u00e9", "na\u00efve",
        "layout", "{brace}", "back\\slash", "\u4f60\u597d", "image", "drawing", "colour", "sketch", "plan" };
    std::mt19937 random(7);
    std::vector<Piece> pieces;
    qsizetype characters = 0;
    while (characters < 540'000) {
        const int alignment = int(random() % std::size(alignments));
        const int wordCount = 40 + int(random() % 80);
        for (int w = 0; w < wordCount;) {
            Piece piece { {}, int(random() % std::size(styles)), alignment };
            const int run = 1 + int(random() % 6);
            for (int i = 0; i < run && w < wordCount; ++i, ++w) {
                piece.text += QString::fromUtf8(words[random() % std::size(words)]);
                piece.text += w + 1 == wordCount ? QStringLiteral("\n") : QStringLiteral(" ");
            }
            characters += piece.text.size();
            pieces.push_back(std::move(piece));
        }
    }
    return pieces;
}

AttributedString makeAttributed(const std::vector<Piece>& pieces)
{
    AttributedString text;
    for (const Piece& piece : pieces) {
        const Style& style = styles[piece.style];
        QFont font(style.family);
        font.setPointSizeF(style.points);
        font.setBold(style.bold);
        font.setItalic(style.italic);
        TextAttributes attributes { { AttributeKey::font, font } };
        if (style.underline)
            attributes.insert(AttributeKey::underlineStyle, style.underline);
        if (style.foreground.isValid())
            attributes.insert(AttributeKey::foregroundColor, style.foreground);
        if (style.background.isValid())
            attributes.insert(AttributeKey::backgroundColor, style.background);
        if (alignments[piece.alignment] != TextAlignment::natural) {
            ParagraphStyle paragraph;
            paragraph.alignment = alignments[piece.alignment];
            attributes.insert(AttributeKey::paragraphStyle, QVariant::fromValue(paragraph));
        }
        text.append(AttributedString(piece.text, attributes));
    }
    return text;
}

void fillDocument(QTextDocument& document, const std::vector<Piece>& pieces)
{
    QTextCursor cursor(&document);
    int currentAlignment = -1;
    for (const Piece& piece : pieces) {
        if (piece.alignment != currentAlignment) {
            QTextBlockFormat block;
            const TextAlignment alignment = alignments[piece.alignment];
            block.setAlignment(alignment == TextAlignment::center ? Qt::AlignHCenter
                    : alignment == TextAlignment::justified       ? Qt::AlignJustify
                                                                  : Qt::AlignLeft);
            cursor.setBlockFormat(block);
            currentAlignment = piece.alignment;
        }
        const Style& style = styles[piece.style];
        QTextCharFormat format;
        format.setFontFamilies({ style.family });
        format.setFontPointSize(style.points);
        format.setFontWeight(style.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(style.italic);
        format.setFontUnderline(style.underline != 0);
        if (style.foreground.isValid())
            format.setForeground(style.foreground);
        if (style.background.isValid())
            format.setBackground(style.background);
        QString text = piece.text;
        if (text.endsWith(QLatin1Char('\n'))) {
            text.chop(1);
            cursor.insertText(text, format);
            cursor.insertBlock();
            currentAlignment = -1;
        } else {
            cursor.insertText(text, format);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const std::vector<Piece> pieces = makePieces();
    const AttributedString text = makeAttributed(pieces);
    const QByteArray rtf = RtfWriter::write(text);
    QTextDocument source;
    fillDocument(source, pieces);
    const QString html = source.toHtml();
    std::printf("document: %lld characters in %zu runs; RTF %.2f MB, HTML %.2f MB\n",
        (long long)text.length(), text.runs().size(), rtf.size() / 1e6, html.toUtf8().size() / 1e6);
    if (const QString back = RtfReader::read(rtf).value().string(); back != text.string()) {
        qsizetype at = 0;
        while (at < back.size() && at < text.length() && back[at] == text.string()[at])
            ++at;
        std::printf("the RTF round trip lost text at %lld: \"%s\"\n", (long long)at,
            qPrintable(back.mid(std::max<qsizetype>(0, at - 20), 40)));
        return 1;
    }

    bench::compare(
        "write + read, RTF (ours) vs toHtml + setHtml (QTextDocument)",
        [&] {
            const AttributedString back = RtfReader::read(RtfWriter::write(text)).value();
            if (back.length() != text.length())
                std::abort();
        },
        [&] {
            QTextDocument copy;
            copy.setHtml(source.toHtml());
            if (copy.characterCount() < 2)
                std::abort();
        },
        5);
    bench::compare(
        "write only: RtfWriter vs QTextDocument::toHtml", [&] { RtfWriter::write(text); },
        [&] { source.toHtml(); }, 5);
    bench::compare(
        "read only: RtfReader vs QTextDocument::setHtml", [&] { RtfReader::read(rtf); },
        [&] {
            QTextDocument copy;
            copy.setHtml(html);
        },
        5);

    // Hostile input: nested groups, groups never closed, dense control words. Reading twice the input
    // takes twice the time when the reader is linear (a ratio near 2), four times when quadratic.
    const auto hostile = [](qsizetype size) {
        std::vector<QByteArray> inputs;
        inputs.push_back("{\\rtf1 " + QByteArray(size / 2, '{') + QByteArray(size / 2, '}'));
        inputs.push_back("{\\rtf1 " + QByteArray(size, '{') + "\\b\\i0\\fs30\\cf1 x");
        QByteArray words = "{\\rtf1 ";
        while (words.size() < size)
            words += "\\b\\u233?\\b0 a\\'e9{\\*\\skip {x}}\\uc9\\u8364 ";
        inputs.push_back(words);
        return inputs;
    };
    const std::vector<QByteArray> single = hostile(4 * rtf.size()), twice = hostile(8 * rtf.size());
    const char* const names[] = { "nested groups", "unclosed groups", "control words" };
    for (size_t i = 0; i < single.size(); ++i) {
        bench::compare(
            std::string("read 8 MB vs 4 MB of ") + names[i], [&] { RtfReader::read(twice[i]); },
            [&] { RtfReader::read(single[i]); }, 9);
    }
    return 0;
}
