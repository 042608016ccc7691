#include "app/notes/TDPageScanner.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <limits>

namespace {

constexpr QByteArrayView titleOpen("<title>");
constexpr QByteArrayView titleClose("</title>");
constexpr QByteArrayView metaOpen("<meta");

struct Charset {
    enum class Kind { utf8, utf16le, utf16be, named };
    Kind kind = Kind::utf8;
    QByteArray name;
};

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool startsWithAt(QByteArrayView text, qsizetype at, QByteArrayView prefix)
{
    return at >= 0 && at + prefix.size() <= text.size()
        && std::memcmp(text.data() + at, prefix.data(), size_t(prefix.size())) == 0;
}

bool startsWithAtIgnoringCase(QByteArrayView text, qsizetype at, QByteArrayView lowerPrefix)
{
    if (at < 0 || at + lowerPrefix.size() > text.size())
        return false;
    for (qsizetype i = 0; i < lowerPrefix.size(); ++i) {
        if (asciiLower(text[at + i]) != lowerPrefix[i])
            return false;
    }
    return true;
}

// A fixed text to look for, prepared once per scan and then asked many times: one byte goes to
// memchr, a longer text to a Boyer-Moore-Horspool search, which skips ahead by up to the text's
// length at each miss (pages full of "<" would stop memchr at every byte of markup).
class Needle {
public:
    explicit Needle(QByteArrayView text)
        : m_text(text)
        , m_searcher(text.begin(), text.end())
    {
    }

    qsizetype in(QByteArrayView page, qsizetype from) const
    {
        if (from < 0 || from > page.size() - m_text.size())
            return -1;
        if (m_text.size() == 1) {
            const void* hit = std::memchr(page.data() + from, m_text[0], size_t(page.size() - from));
            return hit ? static_cast<const char*>(hit) - page.data() : -1;
        }
        const auto found = m_searcher(page.begin() + from, page.end()).first;
        return found == page.end() ? -1 : found - page.begin();
    }

private:
    QByteArrayView m_text;
    std::boyer_moore_horspool_searcher<const char*> m_searcher;
};

qsizetype indexOfIgnoringCase(QByteArrayView text, QByteArrayView lowerNeedle, qsizetype from)
{
    for (qsizetype i = from; i + lowerNeedle.size() <= text.size(); ++i) {
        if (startsWithAtIgnoringCase(text, i, lowerNeedle))
            return i;
    }
    return -1;
}

// The value after a "charset" keyword at `at`: optional spaces, "=", optional spaces, then a token
// that may be quoted.
QByteArray charsetValueAfter(QByteArrayView text, qsizetype at)
{
    qsizetype i = at + qsizetype(sizeof("charset") - 1);
    while (i < text.size() && isAsciiSpace(text[i]))
        ++i;
    if (i >= text.size() || text[i] != '=')
        return {};
    ++i;
    while (i < text.size() && isAsciiSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '"' || text[i] == '\''))
        ++i;
    QByteArray value;
    // Encoding labels are short; a longer run is not one.
    for (; i < text.size() && value.size() <= 40; ++i) {
        const char c = text[i];
        const bool label = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '-' || c == '_' || c == '.' || c == ':';
        if (!label)
            break;
        value.append(asciiLower(c));
    }
    return value.size() <= 40 ? value : QByteArray();
}

enum class LabelSource { transport, document };

std::optional<Charset> charsetForLabel(const QByteArray& label, LabelSource source)
{
    if (label.isEmpty())
        return std::nullopt;
    if (label == "utf-8" || label == "utf8" || label == "unicode-1-1-utf-8")
        return Charset { Charset::Kind::utf8, {} };
    // Pages labelled Latin-1 or ASCII are in practice written in its Windows superset.
    static constexpr std::array latin1Labels { "iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "l1",
        "us-ascii", "ascii", "cp819", "ibm819", "cp1252", "x-cp1252", "windows-1252" };
    for (const char* latin1 : latin1Labels) {
        if (label == latin1)
            return Charset { Charset::Kind::named, "windows-1252" };
    }
    // So are pages labelled with these, as browsers read them: decoded strictly, the superset's
    // characters would come out as control characters or other letters.
    static constexpr std::array<std::pair<const char*, const char*>, 13> supersets { {
        { "gb2312", "gb18030" },
        { "gb_2312-80", "gb18030" },
        { "chinese", "gb18030" },
        { "gbk", "gb18030" },
        { "x-gbk", "gb18030" },
        { "euc-kr", "windows-949" },
        { "ks_c_5601-1987", "windows-949" },
        { "korean", "windows-949" },
        { "iso-8859-9", "windows-1254" },
        { "iso8859-9", "windows-1254" },
        { "latin5", "windows-1254" },
        { "tis-620", "windows-874" },
        { "iso-8859-11", "windows-874" },
    } };
    for (const auto& [name, superset] : supersets) {
        if (label == name) {
            if (auto charset = charsetForLabel(superset, source))
                return charset;
            break;
        }
    }
    if (label.startsWith("utf-16") || label == "unicode" || label == "ucs-2") {
        // A page whose markup we could read in single bytes is not UTF-16, whatever it claims.
        if (source == LabelSource::document)
            return Charset { Charset::Kind::utf8, {} };
        return Charset { label == "utf-16be" ? Charset::Kind::utf16be : Charset::Kind::utf16le, {} };
    }
    // Encodings in which markup is not plain ASCII would make the scan find nothing or something
    // wrong; UTF-7 can hide markup inside its escapes.
    if (label.startsWith("utf-7") || label.startsWith("utf-32") || label == "replacement")
        return std::nullopt;
    QStringDecoder decoder(label.constData());
    if (!decoder.isValid())
        return std::nullopt;
    static constexpr QByteArrayView probe("<title></title><meta name=\"description\" content='x'>");
    const QString decoded = decoder.decode(probe);
    if (decoded != QLatin1StringView(probe.data(), probe.size()) || decoder.hasError())
        return std::nullopt;
    return Charset { Charset::Kind::named, label };
}

// After the "-->" or "--!>" that ends a comment whose "--" opener is at `from` ("<!-->" and "<!--->"
// are whole, empty comments); -1 when the comment is left open. Browsers end a comment at "--!>"
// too, so what follows one is the page's.
qsizetype commentEnd(QByteArrayView page, qsizetype from)
{
    for (qsizetype at = page.indexOf("--", from); at >= 0; at = page.indexOf("--", at + 1)) {
        if (startsWithAt(page, at + 2, ">"))
            return at + 3;
        if (startsWithAt(page, at + 2, "!>"))
            return at + 4;
    }
    return -1;
}

// The charset a meta element in the first `windowBytes` of the page names. Each tag is read to its
// ">" and the search goes on after it, so every byte is looked at a bounded number of times.
std::optional<Charset> charsetFromMeta(QByteArrayView page, qsizetype windowBytes)
{
    const QByteArrayView window = page.first(std::min(page.size(), windowBytes));
    for (qsizetype at = window.indexOf('<'); at >= 0; at = window.indexOf('<', at + 1)) {
        // A commented-out meta element names no charset.
        if (startsWithAt(window, at, "<!--")) {
            const qsizetype close = commentEnd(window, at + 2);
            if (close < 0)
                break;
            at = close - 1;
            continue;
        }
        if (!startsWithAtIgnoringCase(window, at, "<meta"))
            continue;
        qsizetype end = window.indexOf('>', at);
        if (end < 0)
            end = window.size();
        const QByteArrayView tag = window.sliced(at, end - at);
        at = end - 1;
        const qsizetype keyword = indexOfIgnoringCase(tag, "charset", 0);
        if (keyword < 0)
            continue;
        if (auto charset = charsetForLabel(charsetValueAfter(tag, keyword), LabelSource::document))
            return charset;
    }
    return std::nullopt;
}

Charset detectCharset(QByteArrayView page, QByteArrayView contentType, qsizetype* bomBytes)
{
    *bomBytes = 0;
    if (startsWithAt(page, 0, "\xEF\xBB\xBF")) {
        *bomBytes = 3;
        return Charset { Charset::Kind::utf8, {} };
    }
    if (startsWithAt(page, 0, "\xFF\xFE")) {
        *bomBytes = 2;
        return Charset { Charset::Kind::utf16le, {} };
    }
    if (startsWithAt(page, 0, "\xFE\xFF")) {
        *bomBytes = 2;
        return Charset { Charset::Kind::utf16be, {} };
    }
    const qsizetype keyword = indexOfIgnoringCase(contentType, "charset", 0);
    if (keyword >= 0) {
        if (auto charset = charsetForLabel(charsetValueAfter(contentType, keyword), LabelSource::transport))
            return *charset;
    }
    if (auto charset = charsetFromMeta(page, TDPageScanner::charsetPrescanBytes))
        return *charset;
    // Pages with long scripts or styles up front name their charset later, but before their
    // title; read as UTF-8, such a title in another charset would be lost.
    if (const qsizetype title = Needle(titleOpen).in(page, 0); title > TDPageScanner::charsetPrescanBytes) {
        if (auto charset = charsetFromMeta(page, title))
            return *charset;
    }
    return Charset {};
}

// Line terminators as a regular expression's "." sees them: LF, VT, FF and CR, and in UTF-8 also
// NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR. Answers the first at or after a position; positions
// asked for never decrease, so each byte is examined once over a whole scan.
class TerminatorFinder {
public:
    TerminatorFinder(QByteArrayView page, bool utf8)
        : m_page(page)
        , m_utf8(utf8)
    {
    }

    qsizetype next(qsizetype from)
    {
        if (from >= m_searchedFrom && (m_found < 0 || m_found >= from))
            return m_found;
        m_searchedFrom = from;
        m_found = search(from);
        return m_found;
    }

private:
    qsizetype search(qsizetype from) const
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(m_page.data());
        const qsizetype size = m_page.size();
        for (qsizetype i = from; i < size; ++i) {
            const unsigned char c = bytes[i];
            if (c >= 0x0A && c <= 0x0D)
                return i;
            if (!m_utf8 || c < 0xC2)
                continue;
            if (c == 0xC2 && i + 1 < size && bytes[i + 1] == 0x85)
                return i;
            if (c == 0xE2 && i + 2 < size && bytes[i + 1] == 0x80
                && (bytes[i + 2] == 0xA8 || bytes[i + 2] == 0xA9))
                return i;
        }
        return -1;
    }

    QByteArrayView m_page;
    bool m_utf8;
    qsizetype m_searchedFrom = std::numeric_limits<qsizetype>::max();
    qsizetype m_found = -1;
};

// The first occurrence of a fixed text at or after a position, remembered the same way.
class OccurrenceFinder {
public:
    OccurrenceFinder(QByteArrayView page, QByteArrayView text)
        : m_page(page)
        , m_needle(text)
    {
    }

    qsizetype next(qsizetype from)
    {
        if (from >= m_searchedFrom && (m_found < 0 || m_found >= from))
            return m_found;
        m_searchedFrom = from;
        m_found = m_needle.in(m_page, from);
        return m_found;
    }

private:
    QByteArrayView m_page;
    Needle m_needle;
    qsizetype m_searchedFrom = std::numeric_limits<qsizetype>::max();
    qsizetype m_found = -1;
};

// Stretches of a page that are no markup of the page itself: comments, and the text of scripts and
// styles. A title or description there (commented out, or written by a script) is not the page's.
// The text of title and textarea elements is skipped over unread, as a browser reads it: a "<!--"
// or "<script>" written in a title starts nothing. Positions asked for never decrease, so the page
// is walked once over a whole scan.
class HiddenStretches {
public:
    explicit HiddenStretches(QByteArrayView page)
        : m_page(page)
    {
    }

    // The end of the hidden stretch holding `at`, or -1 when `at` lies in the page's own markup.
    qsizetype endHolding(qsizetype at)
    {
        while (m_end <= at && m_walked < m_page.size())
            findNext();
        return at >= m_start && at < m_end ? m_end : -1;
    }

private:
    // Where an element's text that ends at "</name" ends (after that tag's name), or the page's end.
    qsizetype endOfText(qsizetype from, QByteArrayView lowerName) const
    {
        for (qsizetype at = m_page.indexOf('<', from); at >= 0; at = m_page.indexOf('<', at + 1)) {
            if (m_page.size() - at > 1 && m_page[at + 1] == '/'
                && startsWithAtIgnoringCase(m_page, at + 2, lowerName) && endsName(at + 2 + lowerName.size()))
                return at + 2 + lowerName.size();
        }
        return m_page.size();
    }

    bool endsName(qsizetype at) const
    {
        return at >= m_page.size() || isAsciiSpace(m_page[at]) || m_page[at] == '>' || m_page[at] == '/';
    }

    bool opensElement(qsizetype at, QByteArrayView lowerName) const
    {
        return startsWithAtIgnoringCase(m_page, at + 1, lowerName) && endsName(at + 1 + lowerName.size());
    }

    void findNext()
    {
        static constexpr std::array<QByteArrayView, 2> rawText { "script", "style" };
        static constexpr std::array<QByteArrayView, 2> readText { "title", "textarea" };
        for (qsizetype at = m_page.indexOf('<', m_walked); at >= 0; at = m_page.indexOf('<', at + 1)) {
            if (startsWithAt(m_page, at, "<!--")) {
                const qsizetype close = commentEnd(m_page, at + 2);
                return setHidden(at, close < 0 ? m_page.size() : close);
            }
            for (QByteArrayView name : rawText) {
                if (opensElement(at, name))
                    return setHidden(at, endOfText(at + 1 + name.size(), name));
            }
            for (QByteArrayView name : readText) {
                if (opensElement(at, name)) {
                    at = endOfText(at + 1 + name.size(), name) - 1;
                    break;
                }
            }
        }
        m_walked = m_page.size();
    }

    void setHidden(qsizetype start, qsizetype end)
    {
        m_start = start;
        m_end = end;
        m_walked = end;
    }

    QByteArrayView m_page;
    qsizetype m_walked = 0;
    qsizetype m_start = -1;
    qsizetype m_end = -1;
};

// The Latin-1 supplement's named references, in code-point order from U+00A0.
constexpr std::array<const char*, 96> latin1EntityNames { "nbsp", "iexcl", "cent", "pound", "curren", "yen",
    "brvbar", "sect", "uml", "copy", "ordf", "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2",
    "sup3", "acute", "micro", "para", "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12",
    "frac34", "iquest", "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave",
    "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve", "Oacute",
    "Ocirc", "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml", "Yacute", "THORN",
    "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig", "ccedil", "egrave", "eacute",
    "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth", "ntilde", "ograve", "oacute", "ocirc",
    "otilde", "ouml", "divide", "oslash", "ugrave", "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml" };

struct NamedEntity {
    const char* name;
    char32_t codePoint;
};

constexpr std::array otherEntities { NamedEntity { "amp", U'&' }, NamedEntity { "lt", U'<' },
    NamedEntity { "gt", U'>' }, NamedEntity { "quot", U'"' }, NamedEntity { "apos", U'\'' },
    NamedEntity { "OElig", 0x152 }, NamedEntity { "oelig", 0x153 }, NamedEntity { "Scaron", 0x160 },
    NamedEntity { "scaron", 0x161 }, NamedEntity { "Yuml", 0x178 }, NamedEntity { "fnof", 0x192 },
    NamedEntity { "circ", 0x2C6 }, NamedEntity { "tilde", 0x2DC }, NamedEntity { "ensp", 0x2002 },
    NamedEntity { "emsp", 0x2003 }, NamedEntity { "thinsp", 0x2009 }, NamedEntity { "zwnj", 0x200C },
    NamedEntity { "zwj", 0x200D }, NamedEntity { "lrm", 0x200E }, NamedEntity { "rlm", 0x200F },
    NamedEntity { "ndash", 0x2013 }, NamedEntity { "mdash", 0x2014 }, NamedEntity { "lsquo", 0x2018 },
    NamedEntity { "rsquo", 0x2019 }, NamedEntity { "sbquo", 0x201A }, NamedEntity { "ldquo", 0x201C },
    NamedEntity { "rdquo", 0x201D }, NamedEntity { "bdquo", 0x201E }, NamedEntity { "dagger", 0x2020 },
    NamedEntity { "Dagger", 0x2021 }, NamedEntity { "bull", 0x2022 }, NamedEntity { "hellip", 0x2026 },
    NamedEntity { "permil", 0x2030 }, NamedEntity { "prime", 0x2032 }, NamedEntity { "Prime", 0x2033 },
    NamedEntity { "lsaquo", 0x2039 }, NamedEntity { "rsaquo", 0x203A }, NamedEntity { "oline", 0x203E },
    NamedEntity { "frasl", 0x2044 }, NamedEntity { "euro", 0x20AC }, NamedEntity { "trade", 0x2122 } };

std::optional<char32_t> namedEntity(QStringView name)
{
    for (std::size_t i = 0; i < latin1EntityNames.size(); ++i) {
        if (name == QLatin1StringView(latin1EntityNames[i]))
            return char32_t(0xA0 + i);
    }
    for (const NamedEntity& entity : otherEntities) {
        if (name == QLatin1StringView(entity.name))
            return entity.codePoint;
    }
    return std::nullopt;
}

int digitValue(QChar c, bool hex)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (hex && u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (hex && u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// What a numeric reference in 0x80 to 0x9F stands for: pages that write "&#150;" mean the
// Windows-1252 character of that number (a dash, not a control character), and browsers show it so.
// Zero where the number stays as it is.
constexpr std::array<char16_t, 32> windows1252Controls { 0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020,
    0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178 };

char32_t numericReferenceValue(char32_t value)
{
    if (value >= 0x80 && value <= 0x9F && windows1252Controls[value - 0x80])
        return windows1252Controls[value - 0x80];
    return value;
}

void appendCodePoint(QString& out, char32_t codePoint)
{
    if (codePoint == 0 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        codePoint = 0xFFFD;
    out.append(QString::fromUcs4(&codePoint, 1));
}

// Resolves numeric references (the final ";" may be left out) and the common named ones (";"
// required); anything else stays as written.
QString decodeCharacterReferences(const QString& text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const QChar c = text[i];
        if (c != QLatin1Char('&')) {
            out.append(c);
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        if (j < size && text[j] == QLatin1Char('#')) {
            ++j;
            const bool hex = j < size && (text[j] == QLatin1Char('x') || text[j] == QLatin1Char('X'));
            if (hex)
                ++j;
            const qsizetype digitsStart = j;
            char32_t value = 0;
            for (; j < size; ++j) {
                const int digit = digitValue(text[j], hex);
                if (digit < 0)
                    break;
                // Saturate: anything past the last code point is replaced anyway.
                value = std::min<char32_t>(value * (hex ? 16 : 10) + char32_t(digit), 0x110000);
            }
            if (j == digitsStart) {
                out.append(c);
                ++i;
                continue;
            }
            if (j < size && text[j] == QLatin1Char(';'))
                ++j;
            appendCodePoint(out, numericReferenceValue(value));
            i = j;
            continue;
        }
        // Named references are short letters-and-digits runs.
        while (j < size && j - i <= 8 && text[j].unicode() < 0x80 && text[j].isLetterOrNumber())
            ++j;
        if (j < size && text[j] == QLatin1Char(';') && j > i + 1) {
            if (auto codePoint = namedEntity(QStringView(text).sliced(i + 1, j - i - 1))) {
                appendCodePoint(out, *codePoint);
                i = j + 1;
                continue;
            }
        }
        out.append(c);
        ++i;
    }
    return out;
}

std::optional<QString> decodeText(QByteArrayView bytes, const Charset& charset)
{
    // Stateless: a sequence cut short at the field's end is an error, not state kept for more input.
    constexpr auto flags = QStringDecoder::Flag::Stateless;
    QStringDecoder decoder = charset.kind == Charset::Kind::named
        ? QStringDecoder(charset.name.constData(), flags)
        : QStringDecoder(QStringDecoder::Utf8, flags);
    if (!decoder.isValid())
        return std::nullopt;
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decodeCharacterReferences(text);
}

std::optional<QString> scanTitle(QByteArrayView page, const Charset& charset)
{
    const Needle opens(titleOpen);
    HiddenStretches hidden(page);
    OccurrenceFinder closes(page, titleClose);
    TerminatorFinder terminators(page, charset.kind == Charset::Kind::utf8);
    qsizetype from = 0;
    while (true) {
        const qsizetype open = opens.in(page, from);
        if (open < 0)
            return std::nullopt;
        if (const qsizetype hiddenEnd = hidden.endHolding(open); hiddenEnd >= 0) {
            from = hiddenEnd;
            continue;
        }
        const qsizetype start = open + titleOpen.size();
        const qsizetype close = closes.next(start);
        if (close < 0)
            return std::nullopt;
        if (close == start) {
            from = start;
            continue;
        }
        const qsizetype terminator = terminators.next(start);
        if (terminator >= 0 && terminator < close) {
            // No opener before this line's end can close on its line either.
            from = terminator + 1;
            continue;
        }
        return decodeText(page.sliced(start, close - start), charset);
    }
}

qsizetype skipSpaces(QByteArrayView page, qsizetype at)
{
    while (at < page.size() && isAsciiSpace(page[at]))
        ++at;
    return at;
}

bool isQuote(QByteArrayView page, qsizetype at)
{
    return at < page.size() && (page[at] == '"' || page[at] == '\'');
}

// Where the content of `<meta name="description" content="` starts when the tag at `open` reads so,
// else -1 with `*stop` at the first byte that did not fit. The bytes matched hold no "<", so the
// next opener lies at or after `*stop`.
qsizetype descriptionContentStart(QByteArrayView page, qsizetype open, qsizetype* stop)
{
    qsizetype at = open + metaOpen.size();
    qsizetype next = skipSpaces(page, at);
    *stop = next;
    if (next == at || !startsWithAt(page, next, "name="))
        return -1;
    at = next + 5;
    *stop = at;
    if (!isQuote(page, at) || !startsWithAt(page, at + 1, "description"))
        return -1;
    at += 1 + 11;
    *stop = at;
    if (!isQuote(page, at))
        return -1;
    at += 1;
    next = skipSpaces(page, at);
    *stop = next;
    if (next == at || !startsWithAt(page, next, "content="))
        return -1;
    at = next + 8;
    *stop = at;
    if (!isQuote(page, at))
        return -1;
    return at + 1;
}

std::optional<QString> scanDescription(QByteArrayView page, const Charset& charset)
{
    const Needle opens(metaOpen);
    HiddenStretches hidden(page);
    OccurrenceFinder doubleQuotes(page, "\"");
    OccurrenceFinder singleQuotes(page, "'");
    TerminatorFinder terminators(page, charset.kind == Charset::Kind::utf8);
    qsizetype from = 0;
    while (true) {
        const qsizetype open = opens.in(page, from);
        if (open < 0)
            return std::nullopt;
        if (const qsizetype hiddenEnd = hidden.endHolding(open); hiddenEnd >= 0) {
            from = hiddenEnd;
            continue;
        }
        qsizetype stop = open + 1;
        const qsizetype start = descriptionContentStart(page, open, &stop);
        if (start < 0) {
            from = std::max(stop, open + 1);
            continue;
        }
        // Content start positions only grow from one opener to the next, as the finders need.
        const qsizetype close = (page[start - 1] == '"' ? doubleQuotes : singleQuotes).next(start);
        from = start;
        if (close <= start)
            continue;
        const qsizetype terminator = terminators.next(start);
        if (terminator >= 0 && terminator < close)
            continue;
        return decodeText(page.sliced(start, close - start), charset);
    }
}

} // namespace

TDPageInfo TDPageScanner::scan(QByteArrayView page, QByteArrayView contentType)
{
    qsizetype bomBytes = 0;
    Charset charset = detectCharset(page, contentType, &bomBytes);
    page = page.sliced(bomBytes);
    QByteArray converted;
    if (charset.kind == Charset::Kind::utf16le || charset.kind == Charset::Kind::utf16be) {
        // Markup is searched byte by byte, so a UTF-16 page is scanned in its UTF-8 form.
        QStringDecoder decoder(
            charset.kind == Charset::Kind::utf16le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        converted = QString(decoder.decode(page)).toUtf8();
        page = converted;
        charset = Charset {};
    }
    return TDPageInfo { scanTitle(page, charset), scanDescription(page, charset) };
}
