#include "platform/text/RtfWriter.h"

#include "platform/text/RtfCodePage.h"

#include <QColor>
#include <QFont>
#include <QHash>

#include <cmath>
#include <vector>

namespace platform {

namespace {

constexpr int defaultHalfPoints = 24;
constexpr int minHalfPoints = 2;
constexpr int maxHalfPoints = 3276;
constexpr double pointsPerPixel = 0.75; // at 96 dots per inch

struct RunFormat {
    int font = 0;
    int halfPoints = defaultHalfPoints;
    int underline = 0;
    int foreground = 0;
    int background = 0;
    int underlineColor = 0;
    bool bold = false;
    bool italic = false;
    bool strike = false;
    bool operator==(const RunFormat&) const = default;
};

int halfPointsOf(const QFont& font)
{
    double points = font.pointSizeF();
    if (points <= 0 && font.pixelSize() > 0)
        points = font.pixelSize() * pointsPerPixel;
    if (points <= 0)
        return defaultHalfPoints;
    return std::clamp(int(std::lround(points * 2)), minHalfPoints, maxHalfPoints);
}

const char* familyWord(QFont::StyleHint hint)
{
    switch (hint) {
    case QFont::Serif:
        return "\\froman";
    case QFont::SansSerif:
        return "\\fswiss";
    case QFont::Monospace:
    case QFont::TypeWriter:
        return "\\fmodern";
    case QFont::Cursive:
        return "\\fscript";
    case QFont::Decorative:
    case QFont::Fantasy:
        return "\\fdecor";
    default:
        return "\\fnil";
    }
}

const char* alignmentWord(TextAlignment alignment)
{
    switch (alignment) {
    case TextAlignment::left:
        return "\\ql";
    case TextAlignment::right:
        return "\\qr";
    case TextAlignment::center:
        return "\\qc";
    case TextAlignment::justified:
        return "\\qj";
    case TextAlignment::natural:
        break;
    }
    return "";
}

TextAlignment alignmentOf(const TextAttributes& attributes)
{
    const auto it = attributes.constFind(AttributeKey::paragraphStyle);
    if (it == attributes.cend() || !it->canConvert<ParagraphStyle>())
        return TextAlignment::natural;
    return it->value<ParagraphStyle>().alignment;
}

class Writer {
public:
    QByteArray write(const AttributedString& text)
    {
        m_defaultFont = QFont();
        std::vector<RunFormat> formats;
        formats.reserve(text.runs().size());
        for (const AttributedString::Run& run : text.runs())
            formats.push_back(formatOf(run.attributes));

        m_out.reserve(text.length() + text.length() / 4 + 256);
        m_out += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
        for (size_t i = 0; i < m_fonts.size(); ++i) {
            m_out += "{\\f" + QByteArray::number(qsizetype(i)) + familyWord(m_fonts[i].styleHint())
                + "\\fcharset0 ";
            m_needsSpace = false;
            QString name = m_fonts[i].family();
            name.remove(QLatin1Char(';'));
            for (const QChar unit : std::as_const(name))
                writeUnit(unit.unicode(), 0);
            m_out += ";}";
        }
        m_out += "}\n{\\colortbl;";
        for (const QColor& color : m_colors) {
            m_out += "\\red" + QByteArray::number(color.red()) + "\\green" + QByteArray::number(color.green())
                + "\\blue" + QByteArray::number(color.blue()) + ';';
        }
        m_out += "}\n\\pard";
        m_needsSpace = true;

        const QString& string = text.string();
        qsizetype index = 0;
        for (size_t r = 0; r < text.runs().size(); ++r) {
            const AttributedString::Run& run = text.runs()[r];
            writeFormatChange(formats[r]);
            const TextAlignment alignment = alignmentOf(run.attributes);
            const qsizetype end = index + run.length;
            while (index < end) {
                if (isParagraphStart(string, index) && alignment != m_alignment) {
                    word("\\pard");
                    if (alignment != TextAlignment::natural)
                        word(alignmentWord(alignment));
                    m_alignment = alignment;
                }
                // Plain ASCII, most of any text, is copied a stretch at a time.
                qsizetype plainEnd = index;
                while (plainEnd < end && isPlain(string[plainEnd].unicode()))
                    ++plainEnd;
                if (plainEnd > index) {
                    if (m_needsSpace) {
                        m_out += ' ';
                        m_needsSpace = false;
                    }
                    m_out += QStringView(string).sliced(index, plainEnd - index).toLatin1();
                    index = plainEnd;
                    continue;
                }
                writeUnit(
                    string[index].unicode(), index + 1 < string.size() ? string[index + 1].unicode() : 0);
                ++index;
            }
        }
        m_out += "}\n";
        return std::move(m_out);
    }

private:
    static bool isParagraphStart(const QString& string, qsizetype index)
    {
        if (index == 0)
            return true;
        const QChar previous = string[index - 1];
        return previous == QLatin1Char('\n')
            || (previous == QLatin1Char('\r') && string[index] != QLatin1Char('\n'));
    }

    static bool isPlain(char16_t unit)
    {
        return unit >= 0x20 && unit < 0x7F && unit != '\\' && unit != '{' && unit != '}';
    }

    int fontIndex(const QFont& font)
    {
        // An entry per family and kind, as the kind chooses the fallback where the family is missing.
        const QString key = font.family() + QLatin1Char('\n') + QLatin1String(familyWord(font.styleHint()));
        if (const auto it = m_fontIndexes.constFind(key); it != m_fontIndexes.cend())
            return *it;
        const int index = int(m_fonts.size());
        m_fonts.push_back(font);
        m_fontIndexes.insert(key, index);
        return index;
    }

    int colorIndex(const QVariant& value)
    {
        const QColor color = value.value<QColor>();
        // RTF colours have no alpha: a transparent one would be read back opaque.
        if (!color.isValid() || color.alpha() == 0)
            return 0;
        const QRgb rgb = color.rgb() & 0xFFFFFF;
        if (const auto it = m_colorIndexes.constFind(rgb); it != m_colorIndexes.cend())
            return *it;
        m_colors.push_back(QColor(rgb));
        const int index = int(m_colors.size()); // entry 0 is "automatic"
        m_colorIndexes.insert(rgb, index);
        return index;
    }

    RunFormat formatOf(const TextAttributes& attributes)
    {
        RunFormat format;
        const auto fontValue = attributes.constFind(AttributeKey::font);
        const QFont font = fontValue != attributes.cend() && fontValue->canConvert<QFont>()
            ? fontValue->value<QFont>()
            : m_defaultFont;
        format.font = fontIndex(font);
        format.halfPoints = halfPointsOf(font);
        format.bold = font.bold();
        format.italic = font.italic();
        format.strike = font.strikeOut();
        if (const auto it = attributes.constFind(AttributeKey::underlineStyle); it != attributes.cend())
            format.underline = it->toInt();
        if (format.underline == 0 && font.underline())
            format.underline = 1;
        if (format.underline != 0)
            format.underlineColor = colorIndex(attributes.value(AttributeKey::underlineColor));
        format.foreground = colorIndex(attributes.value(AttributeKey::foregroundColor));
        format.background = colorIndex(attributes.value(AttributeKey::backgroundColor));
        return format;
    }

    void word(const char* controlWord)
    {
        m_out += controlWord;
        m_needsSpace = true;
    }

    void word(const char* controlWord, int parameter)
    {
        m_out += controlWord;
        m_out += QByteArray::number(parameter);
        m_needsSpace = true;
    }

    void writeFormatChange(const RunFormat& format)
    {
        if (format.font != m_format.font)
            word("\\f", format.font);
        if (format.halfPoints != m_format.halfPoints)
            word("\\fs", format.halfPoints);
        if (format.bold != m_format.bold)
            word(format.bold ? "\\b" : "\\b0");
        if (format.italic != m_format.italic)
            word(format.italic ? "\\i" : "\\i0");
        if (format.strike != m_format.strike)
            word(format.strike ? "\\strike" : "\\strike0");
        if (format.underline != m_format.underline) {
            switch (format.underline) {
            case 0:
                word("\\ulnone");
                break;
            case 2:
                word("\\ulth");
                break;
            case 9:
                word("\\uldb");
                break;
            default:
                word("\\ul");
                break;
            }
        }
        if (format.underlineColor != m_format.underlineColor)
            word("\\ulc", format.underlineColor);
        if (format.foreground != m_format.foreground)
            word("\\cf", format.foreground);
        if (format.background != m_format.background)
            word("\\cb", format.background);
        m_format = format;
    }

    void writeUnit(char16_t unit, char16_t next)
    {
        switch (unit) {
        case '\\':
        case '{':
        case '}':
            m_out += '\\';
            m_out += char(unit);
            m_needsSpace = false;
            return;
        case '\t':
            word("\\tab");
            return;
        case '\r':
            if (next == '\n')
                return;
            [[fallthrough]];
        case '\n':
            m_out += "\\par\n";
            m_needsSpace = false;
            return;
        default:
            break;
        }
        if (unit >= 0x20 && unit < 0x7F) {
            if (m_needsSpace) {
                m_out += ' ';
                m_needsSpace = false;
            }
            m_out += char(unit);
            return;
        }
        // Everything else goes as \uN, a signed 16-bit number, with its Windows-1252 byte (or a
        // question mark) for readers that skip \u.
        m_out += "\\u";
        m_out += QByteArray::number(int(std::int16_t(unit)));
        const int fallback = unit >= 0x80 ? rtf::windows1252Byte(unit) : -1;
        if (fallback >= 0) {
            static const char hex[] = "0123456789abcdef";
            m_out += "\\'";
            m_out += hex[fallback >> 4];
            m_out += hex[fallback & 15];
        } else {
            m_out += '?';
        }
        m_needsSpace = false;
    }

    QByteArray m_out;
    QFont m_defaultFont;
    std::vector<QFont> m_fonts;
    QHash<QString, int> m_fontIndexes;
    std::vector<QColor> m_colors;
    QHash<QRgb, int> m_colorIndexes;
    RunFormat m_format;
    TextAlignment m_alignment = TextAlignment::natural;
    bool m_needsSpace = false;
};

} // namespace

QByteArray RtfWriter::write(const AttributedString& text)
{
    return Writer().write(text);
}

} // namespace platform
