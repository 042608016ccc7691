#include "platform/text/RtfReader.h"

#include "platform/text/RtfCodePage.h"

#include <QColor>
#include <QFont>
#include <QHash>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

constexpr int maxControlWordLetters = 32;
constexpr int maxParameterDigits = 10;
constexpr qsizetype maxFontNameLength = 256;
constexpr int defaultHalfPoints = 24;
// Word's own limits for a font size, in half points.
constexpr int minHalfPoints = 2;
constexpr int maxHalfPoints = 3276;
constexpr size_t maxCachedAttributes = 256;

enum class Keyword {
    // Document and tables.
    ansi,
    mac,
    pc,
    pca,
    ansicpg,
    deff,
    fonttbl,
    colortbl,
    skipDestination,
    upr,
    ud,
    bin,
    // Character formatting.
    f,
    fs,
    b,
    i,
    v,
    ul,
    ulnone,
    uldb,
    ulth,
    ulother,
    cf,
    cb,
    ulc,
    strike,
    plain,
    fcharset,
    cpg,
    familyNil,
    familyRoman,
    familySwiss,
    familyModern,
    familyScript,
    familyDecor,
    familyTech,
    red,
    green,
    blue,
    // Paragraph formatting.
    pard,
    ql,
    qr,
    qc,
    qj,
    // Unicode.
    uc,
    u,
    // Characters.
    par,
    line,
    tab,
    cell,
    row,
    emdash,
    endash,
    emspace,
    enspace,
    qmspace,
    bullet,
    lquote,
    rquote,
    ldblquote,
    rdblquote,
    zwj,
    zwnj,
    ltrmark,
    rtlmark,
};

const std::unordered_map<std::string_view, Keyword>& keywords()
{
    static const std::unordered_map<std::string_view, Keyword> table = [] {
        std::unordered_map<std::string_view, Keyword> map {
            { "ansi", Keyword::ansi },
            { "mac", Keyword::mac },
            { "pc", Keyword::pc },
            { "pca", Keyword::pca },
            { "ansicpg", Keyword::ansicpg },
            { "deff", Keyword::deff },
            { "fonttbl", Keyword::fonttbl },
            { "colortbl", Keyword::colortbl },
            { "upr", Keyword::upr },
            { "ud", Keyword::ud },
            { "bin", Keyword::bin },
            { "f", Keyword::f },
            { "fs", Keyword::fs },
            { "b", Keyword::b },
            { "i", Keyword::i },
            { "v", Keyword::v },
            { "ul", Keyword::ul },
            { "ulnone", Keyword::ulnone },
            { "uldb", Keyword::uldb },
            { "ulth", Keyword::ulth },
            { "cf", Keyword::cf },
            { "cb", Keyword::cb },
            { "chcbpat", Keyword::cb },
            { "highlight", Keyword::cb },
            { "ulc", Keyword::ulc },
            { "strike", Keyword::strike },
            { "striked", Keyword::strike },
            { "plain", Keyword::plain },
            { "fcharset", Keyword::fcharset },
            { "cpg", Keyword::cpg },
            { "fnil", Keyword::familyNil },
            { "froman", Keyword::familyRoman },
            { "fswiss", Keyword::familySwiss },
            { "fmodern", Keyword::familyModern },
            { "fscript", Keyword::familyScript },
            { "fdecor", Keyword::familyDecor },
            { "ftech", Keyword::familyTech },
            { "fbidi", Keyword::familyNil },
            { "red", Keyword::red },
            { "green", Keyword::green },
            { "blue", Keyword::blue },
            { "pard", Keyword::pard },
            { "ql", Keyword::ql },
            { "qr", Keyword::qr },
            { "qc", Keyword::qc },
            { "qj", Keyword::qj },
            { "qd", Keyword::qj },
            { "uc", Keyword::uc },
            { "u", Keyword::u },
            { "par", Keyword::par },
            { "sect", Keyword::par },
            { "page", Keyword::par },
            { "line", Keyword::line },
            { "tab", Keyword::tab },
            { "cell", Keyword::cell },
            { "nestcell", Keyword::cell },
            { "row", Keyword::row },
            { "nestrow", Keyword::row },
            { "emdash", Keyword::emdash },
            { "endash", Keyword::endash },
            { "emspace", Keyword::emspace },
            { "enspace", Keyword::enspace },
            { "qmspace", Keyword::qmspace },
            { "bullet", Keyword::bullet },
            { "lquote", Keyword::lquote },
            { "rquote", Keyword::rquote },
            { "ldblquote", Keyword::ldblquote },
            { "rdblquote", Keyword::rdblquote },
            { "zwj", Keyword::zwj },
            { "zwnj", Keyword::zwnj },
            { "ltrmark", Keyword::ltrmark },
            { "rtlmark", Keyword::rtlmark },
        };
        for (const char* name : { "uld", "uldash", "uldashd", "uldashdd", "ulhwave", "ulldash", "ulth",
                 "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw", "ulwave" })
            map.emplace(name, Keyword::ulother);
        map["ulth"] = Keyword::ulth;
        // Destinations whose content is not text of the document, or is text we cannot place:
        // pictures, objects, shapes, headers, footers, notes, index entries, field instructions,
        // style and list definitions, document information.
        for (const char* name : { "stylesheet", "info", "pict", "object", "objdata", "shp", "shpinst",
                 "shppict", "nonshppict", "shprslt", "sp", "sn", "sv", "header", "headerl", "headerr",
                 "headerf", "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "atnid",
                 "atnauthor", "fldinst", "datafield", "xe", "tc", "txe", "rxe", "pn", "pnseclvl", "listtable",
                 "listoverridetable", "revtbl", "rsidtbl", "filetbl", "themedata", "colorschememapping",
                 "datastore", "latentstyles", "mmathPr", "generator", "pgdsctbl", "bkmkstart", "bkmkend",
                 "nonesttables", "template", "userprops", "docvar", "private", "fchars", "lchars", "pgptbl",
                 "protusertbl", "xmlnstbl", "wgrffmtfilter", "do", "background", "formfield", "ffname",
                 "ffdeftext", "ffformat", "ffhelptext", "ffstattext", "ffentrymcr", "ffexitmcr", "falt",
                 "panose", "fname", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn" })
            map.emplace(name, Keyword::skipDestination);
        return map;
    }();
    return table;
}

enum class Destination : std::uint8_t { text, fontTable, colorTable };

struct CharacterFormat {
    int font = -1; // -1: the document's default font
    int halfPoints = defaultHalfPoints;
    int underline = 0;
    int foreground = 0; // colour table indexes; 0 is "automatic"
    int background = 0;
    int underlineColor = 0;
    bool bold = false;
    bool italic = false;
    bool hidden = false;
    bool strike = false;
    bool operator==(const CharacterFormat&) const = default;
};

struct GroupState {
    CharacterFormat format;
    TextAlignment alignment = TextAlignment::natural;
    Destination destination = Destination::text;
    int unicodeSkip = 1;
    bool discardText = false;
    // "\*" was seen: the next control word names a destination that may be skipped if unknown.
    bool ignorable = false;
};

struct FontEntry {
    QString name;
    int charset = 1;
    int codePage = 0; // 0: from the character set
    QFont::StyleHint hint = QFont::AnyStyle;
};

struct Segment {
    CharacterFormat format;
    QString text;
};

struct AttributeCacheKey {
    CharacterFormat format;
    TextAlignment alignment;
    bool operator==(const AttributeCacheKey&) const = default;
};

struct AttributeCacheHash {
    size_t operator()(const AttributeCacheKey& key) const
    {
        const CharacterFormat& f = key.format;
        return qHashMulti(0, f.font, f.halfPoints, f.underline, f.foreground, f.background, f.underlineColor,
            f.bold, f.italic, f.strike, int(key.alignment));
    }
};

bool isLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(QByteArrayView data)
        : m_data(reinterpret_cast<const unsigned char*>(data.data()))
        , m_size(data.size())
    {
        m_stack.reserve(64);
        m_stack.push_back({});
    }

    AttributedString run(qsizetype start)
    {
        m_position = start;
        while (m_position < m_size && !m_finished) {
            const unsigned char c = m_data[m_position++];
            switch (c) {
            case '{':
                openGroup();
                break;
            case '}':
                closeGroup();
                break;
            case '\\':
                readControl();
                break;
            case '\r':
            case '\n':
                break;
            default:
                if (isPlainText(c) && m_unicodeSkipLeft == 0 && m_pendingBytes.isEmpty())
                    appendPlainText();
                else
                    textByte(c);
                break;
            }
        }
        flushBytes();
        endParagraph();
        return std::move(m_result);
    }

private:
    GroupState& state() { return m_stack.back(); }

    void openGroup()
    {
        flushBytes();
        m_unicodeSkipLeft = 0;
        if (m_overflowDepth > 0 || int(m_stack.size()) > RtfReader::maxGroupDepth) {
            ++m_overflowDepth;
            return;
        }
        GroupState inner = m_stack.back();
        inner.ignorable = false;
        m_stack.push_back(inner);
    }

    void closeGroup()
    {
        flushBytes();
        m_unicodeSkipLeft = 0;
        if (m_overflowDepth > 0) {
            --m_overflowDepth;
            return;
        }
        // A font entry written as its own group ends with it; a skipped group inside an entry
        // (an alternative name) has added no name yet and leaves the entry open.
        if (state().destination == Destination::fontTable && !m_fontInProgress.name.isEmpty())
            commitFont();
        // A last paragraph without a paragraph mark keeps the alignment the document gave it.
        if (m_stack.size() <= 2)
            endParagraph();
        m_stack.pop_back();
        if (m_stack.size() <= 1) {
            // The document ends with its outermost group; anything after it is not part of it.
            m_finished = true;
            if (m_stack.empty())
                m_stack.push_back({});
        }
    }

    // Skips the rest of the current group, nested groups and binary data included, and closes it.
    void skipGroup()
    {
        flushBytes();
        int depth = 1;
        while (m_position < m_size) {
            const unsigned char c = m_data[m_position++];
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth == 0) {
                    closeGroup();
                    return;
                }
            } else if (c == '\\' && m_position < m_size) {
                if (isLetter(m_data[m_position])) {
                    bool hasParameter = false;
                    int parameter = 0;
                    const std::string_view name = readControlWord(hasParameter, parameter);
                    if (name == "bin")
                        skipBinary(hasParameter, parameter);
                } else {
                    ++m_position;
                }
            }
        }
    }

    void skipBinary(bool hasParameter, int parameter)
    {
        if (hasParameter && parameter > 0)
            m_position += std::min<qsizetype>(parameter, m_size - m_position);
    }

    std::string_view readControlWord(bool& hasParameter, int& parameter)
    {
        const qsizetype start = m_position;
        while (m_position < m_size && isLetter(m_data[m_position]))
            ++m_position;
        const std::string_view name(reinterpret_cast<const char*>(m_data + start),
            size_t(std::min<qsizetype>(m_position - start, maxControlWordLetters)));
        bool negative = false;
        if (m_position + 1 < m_size && m_data[m_position] == '-' && isDigit(m_data[m_position + 1])) {
            negative = true;
            ++m_position;
        }
        long long value = 0;
        int digits = 0;
        while (m_position < m_size && isDigit(m_data[m_position])) {
            if (digits < maxParameterDigits)
                value = value * 10 + (m_data[m_position] - '0');
            ++digits;
            ++m_position;
        }
        hasParameter = digits > 0;
        value = std::clamp<long long>(negative ? -value : value, INT32_MIN, INT32_MAX);
        parameter = int(value);
        if (m_position < m_size && m_data[m_position] == ' ')
            ++m_position;
        return name;
    }

    void readControl()
    {
        if (m_position >= m_size)
            return;
        const unsigned char c = m_data[m_position];
        if (isLetter(c)) {
            bool hasParameter = false;
            int parameter = 0;
            const std::string_view name = readControlWord(hasParameter, parameter);
            controlWord(name, hasParameter, parameter);
            return;
        }
        ++m_position;
        if (c == '\'') {
            const int high = m_position < m_size ? hexValue(m_data[m_position]) : -1;
            const int low = m_position + 1 < m_size ? hexValue(m_data[m_position + 1]) : -1;
            if (high < 0 || low < 0) {
                // An escape cut short drops its one hex digit; the character after it stays text.
                if (high >= 0)
                    ++m_position;
                return;
            }
            m_position += 2;
            if (consumeSkippedUnit())
                return;
            m_pendingBytes.append(char(high * 16 + low));
            return;
        }
        if (c == '*') {
            state().ignorable = true;
            return;
        }
        if (consumeSkippedUnit())
            return;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            emitUnit(c);
            break;
        case '~':
            emitUnit(0x00A0);
            break;
        case '_':
            emitUnit(0x2011);
            break;
        case '\r':
        case '\n':
            paragraphBreak();
            break;
        case '\t':
            emitUnit('\t');
            break;
        default:
            break; // optional hyphens, index and formula marks
        }
    }

    // The characters after \uN that stand in for it in readers without Unicode are counted off here.
    bool consumeSkippedUnit()
    {
        if (m_unicodeSkipLeft <= 0)
            return false;
        --m_unicodeSkipLeft;
        return true;
    }

    static bool isPlainText(unsigned char c)
    {
        return c >= 0x20 && c < 0x80 && c != '{' && c != '}' && c != '\\';
    }

    // Most of a document is runs of ASCII text, which are appended in one piece.
    void appendPlainText()
    {
        const qsizetype start = m_position - 1;
        while (m_position < m_size && isPlainText(m_data[m_position]))
            ++m_position;
        const GroupState& current = state();
        if (current.destination != Destination::text) {
            for (qsizetype i = start; i < m_position; ++i)
                routeUnit(m_data[i]);
            return;
        }
        if (current.discardText || current.format.hidden)
            return;
        if (m_segments.empty() || m_segments.back().format != current.format)
            m_segments.push_back({ current.format, {} });
        m_segments.back().text.append(
            QLatin1StringView(reinterpret_cast<const char*>(m_data + start), m_position - start));
    }

    void textByte(unsigned char c)
    {
        if (consumeSkippedUnit())
            return;
        if (c < 0x20 && c != '\t')
            return;
        // Bytes of a multi-byte code page may include ASCII trail bytes, so once a sequence has
        // begun every byte joins it until something else comes.
        if (c < 0x80 && m_pendingBytes.isEmpty())
            routeUnit(c);
        else
            m_pendingBytes.append(char(c));
    }

    int currentCodePage()
    {
        const GroupState& current = state();
        if (current.destination == Destination::fontTable) {
            return m_fontInProgress.codePage
                ? m_fontInProgress.codePage
                : rtf::codePageForCharset(m_fontInProgress.charset, m_ansiCodePage);
        }
        const auto it = m_fonts.constFind(current.format.font < 0 ? m_defaultFont : current.format.font);
        if (it == m_fonts.cend())
            return m_ansiCodePage;
        return it->codePage ? it->codePage : rtf::codePageForCharset(it->charset, m_ansiCodePage);
    }

    void flushBytes()
    {
        if (m_pendingBytes.isEmpty())
            return;
        m_decoded.clear();
        m_decoder.decode(currentCodePage(), m_pendingBytes, m_decoded);
        m_pendingBytes.clear();
        for (const QChar unit : std::as_const(m_decoded))
            routeUnit(unit.unicode());
    }

    void emitUnit(char16_t unit)
    {
        flushBytes();
        routeUnit(unit);
    }

    void routeUnit(char16_t unit)
    {
        GroupState& current = state();
        switch (current.destination) {
        case Destination::text:
            if (current.discardText || current.format.hidden)
                return;
            if (m_segments.empty() || m_segments.back().format != current.format)
                m_segments.push_back({ current.format, {} });
            m_segments.back().text.append(QChar(unit));
            return;
        case Destination::fontTable:
            if (unit == ';')
                commitFont();
            else if (m_fontInProgress.name.size() < maxFontNameLength)
                m_fontInProgress.name.append(QChar(unit));
            return;
        case Destination::colorTable:
            if (unit == ';')
                commitColor();
            return;
        }
    }

    void commitFont()
    {
        if (m_fontNumber >= 0) {
            FontEntry entry = std::move(m_fontInProgress);
            entry.name = entry.name.trimmed();
            m_fonts.insert(m_fontNumber, std::move(entry));
            m_attributeCache.clear();
        }
        m_fontNumber = -1;
        m_fontInProgress = {};
    }

    void commitColor()
    {
        m_colors.push_back(m_colorHasComponents ? QColor(m_red, m_green, m_blue) : QColor());
        m_red = m_green = m_blue = 0;
        m_colorHasComponents = false;
        m_attributeCache.clear();
    }

    void paragraphBreak()
    {
        emitUnit('\n');
        // A mark that leaves no line end (hidden, or outside the text) joins its text to the next
        // paragraph, which then gives the whole its one alignment.
        const GroupState& current = state();
        if (current.destination == Destination::text && !current.discardText && !current.format.hidden)
            endParagraph();
    }

    void endRow()
    {
        flushBytes();
        // The last cell of a row ends the line rather than leaving a tab behind.
        if (!m_segments.empty() && m_segments.back().text.endsWith(QLatin1Char('\t')))
            m_segments.back().text.chop(1);
        paragraphBreak();
    }

    void endParagraph()
    {
        const TextAlignment alignment = state().alignment;
        for (Segment& segment : m_segments) {
            if (!segment.text.isEmpty())
                m_result.append(AttributedString(segment.text, attributesFor(segment.format, alignment)));
        }
        m_segments.clear();
    }

    const TextAttributes& attributesFor(const CharacterFormat& format, TextAlignment alignment)
    {
        const AttributeCacheKey key { format, alignment };
        if (auto it = m_attributeCache.find(key); it != m_attributeCache.end())
            return it->second;
        if (m_attributeCache.size() >= maxCachedAttributes)
            m_attributeCache.clear();

        TextAttributes attributes;
        QFont font;
        auto entry = m_fonts.constFind(format.font < 0 ? m_defaultFont : format.font);
        if (entry == m_fonts.cend())
            entry = m_fonts.constFind(m_defaultFont);
        if (entry != m_fonts.cend() && !entry->name.isEmpty()) {
            font.setFamily(entry->name);
            font.setStyleHint(entry->hint);
        }
        font.setPointSizeF(format.halfPoints / 2.0);
        font.setBold(format.bold);
        font.setItalic(format.italic);
        font.setStrikeOut(format.strike);
        attributes.insert(AttributeKey::font, font);
        if (const QColor color = colorAt(format.foreground); color.isValid())
            attributes.insert(AttributeKey::foregroundColor, color);
        if (const QColor color = colorAt(format.background); color.isValid())
            attributes.insert(AttributeKey::backgroundColor, color);
        if (format.underline != 0) {
            attributes.insert(AttributeKey::underlineStyle, format.underline);
            if (const QColor color = colorAt(format.underlineColor); color.isValid())
                attributes.insert(AttributeKey::underlineColor, color);
        }
        if (alignment != TextAlignment::natural) {
            ParagraphStyle style;
            style.alignment = alignment;
            attributes.insert(AttributeKey::paragraphStyle, QVariant::fromValue(style));
        }
        return m_attributeCache.emplace(key, std::move(attributes)).first->second;
    }

    QColor colorAt(int index) const
    {
        if (index <= 0 || size_t(index) >= m_colors.size())
            return {};
        return m_colors[size_t(index)];
    }

    void controlWord(std::string_view name, bool hasParameter, int parameter)
    {
        const bool ignorable = std::exchange(state().ignorable, false);
        const auto found = keywords().find(name);
        if (found == keywords().end()) {
            // An unknown destination marked with \* is skipped whole; an unknown word alone is
            // ignored and the text around it kept.
            if (ignorable)
                skipGroup();
            else
                consumeSkippedUnit();
            return;
        }
        const Keyword keyword = found->second;
        if (keyword == Keyword::bin) {
            flushBytes();
            skipBinary(hasParameter, parameter);
            consumeSkippedUnit();
            return;
        }
        if (consumeSkippedUnit())
            return;
        if (ignorable && keyword != Keyword::ud) {
            skipGroup();
            return;
        }
        flushBytes();
        GroupState& current = state();
        CharacterFormat& format = current.format;
        const bool on = !hasParameter || parameter != 0;
        switch (keyword) {
        case Keyword::ansi:
            m_ansiCodePage = 1252;
            break;
        case Keyword::mac:
            m_ansiCodePage = 10000;
            break;
        case Keyword::pc:
            m_ansiCodePage = 437;
            break;
        case Keyword::pca:
            m_ansiCodePage = 850;
            break;
        case Keyword::ansicpg:
            if (hasParameter && parameter > 0)
                m_ansiCodePage = parameter;
            break;
        case Keyword::deff:
            if (hasParameter)
                m_defaultFont = parameter;
            break;
        case Keyword::fonttbl:
            current.destination = Destination::fontTable;
            m_fontNumber = -1;
            m_fontInProgress = {};
            break;
        case Keyword::colortbl:
            current.destination = Destination::colorTable;
            m_red = m_green = m_blue = 0;
            m_colorHasComponents = false;
            break;
        case Keyword::skipDestination:
            skipGroup();
            break;
        case Keyword::upr:
            current.discardText = true;
            break;
        case Keyword::ud:
            current.discardText = false;
            break;
        case Keyword::bin:
            break;
        case Keyword::f:
            if (current.destination == Destination::fontTable) {
                if (m_fontNumber >= 0 && !m_fontInProgress.name.isEmpty())
                    commitFont();
                m_fontNumber = hasParameter ? std::max(parameter, 0) : 0;
                m_fontInProgress = {};
            } else if (hasParameter) {
                format.font = parameter;
            }
            break;
        case Keyword::fcharset:
            if (current.destination == Destination::fontTable && hasParameter)
                m_fontInProgress.charset = parameter;
            break;
        case Keyword::cpg:
            if (current.destination == Destination::fontTable && hasParameter && parameter > 0)
                m_fontInProgress.codePage = parameter;
            break;
        case Keyword::familyNil:
            m_fontInProgress.hint = QFont::AnyStyle;
            break;
        case Keyword::familyRoman:
            m_fontInProgress.hint = QFont::Serif;
            break;
        case Keyword::familySwiss:
            m_fontInProgress.hint = QFont::SansSerif;
            break;
        case Keyword::familyModern:
            m_fontInProgress.hint = QFont::Monospace;
            break;
        case Keyword::familyScript:
            m_fontInProgress.hint = QFont::Cursive;
            break;
        case Keyword::familyDecor:
            m_fontInProgress.hint = QFont::Decorative;
            break;
        case Keyword::familyTech:
            m_fontInProgress.hint = QFont::AnyStyle;
            break;
        case Keyword::fs:
            format.halfPoints
                = hasParameter ? std::clamp(parameter, minHalfPoints, maxHalfPoints) : defaultHalfPoints;
            break;
        case Keyword::b:
            format.bold = on;
            break;
        case Keyword::i:
            format.italic = on;
            break;
        case Keyword::v:
            format.hidden = on;
            break;
        case Keyword::strike:
            format.strike = on;
            break;
        case Keyword::ul:
        case Keyword::ulother:
            format.underline = on ? 1 : 0;
            break;
        case Keyword::ulnone:
            format.underline = 0;
            break;
        case Keyword::uldb:
            format.underline = on ? 9 : 0;
            break;
        case Keyword::ulth:
            format.underline = on ? 2 : 0;
            break;
        case Keyword::cf:
            format.foreground = hasParameter ? parameter : 0;
            break;
        case Keyword::cb:
            format.background = hasParameter ? parameter : 0;
            break;
        case Keyword::ulc:
            format.underlineColor = hasParameter ? parameter : 0;
            break;
        case Keyword::plain:
            format = {};
            break;
        case Keyword::red:
            m_red = std::clamp(parameter, 0, 255);
            m_colorHasComponents = true;
            break;
        case Keyword::green:
            m_green = std::clamp(parameter, 0, 255);
            m_colorHasComponents = true;
            break;
        case Keyword::blue:
            m_blue = std::clamp(parameter, 0, 255);
            m_colorHasComponents = true;
            break;
        case Keyword::pard:
            current.alignment = TextAlignment::natural;
            break;
        case Keyword::ql:
            current.alignment = TextAlignment::left;
            break;
        case Keyword::qr:
            current.alignment = TextAlignment::right;
            break;
        case Keyword::qc:
            current.alignment = TextAlignment::center;
            break;
        case Keyword::qj:
            current.alignment = TextAlignment::justified;
            break;
        case Keyword::uc:
            if (hasParameter)
                current.unicodeSkip = std::max(parameter, 0);
            break;
        case Keyword::u:
            if (hasParameter) {
                // Values above 32767 are written as negative 16-bit numbers.
                const bool valid = parameter >= -32768 && parameter <= 65535;
                routeUnit(valid ? char16_t(parameter < 0 ? parameter + 65536 : parameter)
                                : char16_t(QChar::ReplacementCharacter));
                m_unicodeSkipLeft = current.unicodeSkip;
            }
            break;
        case Keyword::par:
        case Keyword::line:
            paragraphBreak();
            break;
        case Keyword::tab:
        case Keyword::cell:
            routeUnit('\t');
            break;
        case Keyword::row:
            endRow();
            break;
        case Keyword::emdash:
            routeUnit(0x2014);
            break;
        case Keyword::endash:
            routeUnit(0x2013);
            break;
        case Keyword::emspace:
            routeUnit(0x2003);
            break;
        case Keyword::enspace:
            routeUnit(0x2002);
            break;
        case Keyword::qmspace:
            routeUnit(0x2005);
            break;
        case Keyword::bullet:
            routeUnit(0x2022);
            break;
        case Keyword::lquote:
            routeUnit(0x2018);
            break;
        case Keyword::rquote:
            routeUnit(0x2019);
            break;
        case Keyword::ldblquote:
            routeUnit(0x201C);
            break;
        case Keyword::rdblquote:
            routeUnit(0x201D);
            break;
        case Keyword::zwj:
            routeUnit(0x200D);
            break;
        case Keyword::zwnj:
            routeUnit(0x200C);
            break;
        case Keyword::ltrmark:
            routeUnit(0x200E);
            break;
        case Keyword::rtlmark:
            routeUnit(0x200F);
            break;
        }
    }

    const unsigned char* m_data;
    qsizetype m_size;
    qsizetype m_position = 0;
    bool m_finished = false;

    std::vector<GroupState> m_stack;
    int m_overflowDepth = 0;
    int m_unicodeSkipLeft = 0;
    QByteArray m_pendingBytes;
    QString m_decoded;
    rtf::CodePageDecoder m_decoder;
    int m_ansiCodePage = 1252;

    int m_defaultFont = 0;
    QHash<int, FontEntry> m_fonts;
    int m_fontNumber = -1;
    FontEntry m_fontInProgress;

    std::vector<QColor> m_colors;
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colorHasComponents = false;

    std::vector<Segment> m_segments;
    std::unordered_map<AttributeCacheKey, TextAttributes, AttributeCacheHash> m_attributeCache;
    AttributedString m_result;
};

} // namespace

Result<AttributedString, PlatformError> RtfReader::read(QByteArrayView data)
{
    qsizetype start = 0;
    if (data.startsWith("\xEF\xBB\xBF"))
        start = 3;
    while (start < data.size() && QChar::isSpace(uchar(data[start])))
        ++start;
    if (!data.sliced(start).startsWith("{\\rtf"))
        return Result<AttributedString, PlatformError>::failure(
            { QStringLiteral("rtf"), 1, QStringLiteral("The data is not an RTF document."), {} });
    return Result<AttributedString, PlatformError>::success(Parser(data).run(start));
}

} // namespace platform
