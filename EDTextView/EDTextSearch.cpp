#include "EDTextView/EDTextSearch.h"

#include "platform/text/TextContentStorage.h"

#include <algorithm>
#include <limits>
#include <array>
#include <unordered_map>

namespace {

// The code point that ends just before `at`, or the one that starts at `at`; none outside `text`.
std::optional<char32_t> codePointBefore(QStringView text, qsizetype at)
{
    if (at <= 0)
        return std::nullopt;
    const QChar low = text[at - 1];
    if (low.isLowSurrogate() && at >= 2 && text[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[at - 2], low);
    return low.unicode();
}

std::optional<char32_t> codePointAt(QStringView text, qsizetype at)
{
    if (at >= text.size())
        return std::nullopt;
    const QChar high = text[at];
    if (high.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(high, text[at + 1]);
    return high.unicode();
}

constexpr qsizetype unitsOf(char32_t c)
{
    return c > 0xFFFF ? 2 : 1;
}

// Half of a flag: two of these in a row make one.
constexpr bool isRegionalIndicator(char32_t c)
{
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

bool isRegionalIndicator(std::optional<char32_t> c)
{
    return c && isRegionalIndicator(*c);
}

// The characters a search compares as several, with those it compares them as: their canonical
// decomposition (an accented letter as the letter and its marks), and ignoring case, the simple
// folding of their full upper case too. A few thousand, all in the BMP.
struct FoldingTable {
    std::array<quint64, 0x10000 / 64> special {};
    std::unordered_map<char16_t, QString> expansion;
    bool isSpecial(char32_t c) const { return c < 0x10000 && (special[c >> 6] >> (c & 63)) & 1; }
};

FoldingTable makeFoldingTable(Qt::CaseSensitivity cs)
{
    FoldingTable t;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        // The dotless i has no folding of its own: its capital is the plain I. Hangul syllables are
        // written whole almost everywhere, and would make every Korean string look for thousands.
        if ((c >= 0xD800 && c < 0xE000) || (cs == Qt::CaseInsensitive && c == 0x0131)
            || (c >= 0xAC00 && c <= 0xD7A3))
            continue;
        const QString simple = cs == Qt::CaseSensitive ? QString(QChar(char16_t(c)))
                                                       : QString(QChar(char16_t(c))).toCaseFolded();
        QString full = (cs == Qt::CaseSensitive ? simple : simple.toUpper().toCaseFolded())
                           .normalized(QString::NormalizationForm_D);
        // The dotted capital I folds to a plain i, not to an i and a combining dot: "istanbul"
        // then finds "İstanbul", which the combining dot between i and s would prevent.
        if (c == 0x0130 && cs == Qt::CaseInsensitive)
            full = QStringLiteral("i");
        if (full == simple)
            continue;
        t.special[c >> 6] |= quint64(1) << (c & 63);
        t.expansion.emplace(char16_t(c), full);
    }
    return t;
}

const FoldingTable& foldingTable(Qt::CaseSensitivity cs)
{
    static const FoldingTable sensitive = makeFoldingTable(Qt::CaseSensitive);
    static const FoldingTable insensitive = makeFoldingTable(Qt::CaseInsensitive);
    return cs == Qt::CaseSensitive ? sensitive : insensitive;
}

// `text` as a search compares it: each character in its place in the table, or as itself, folded
// when case is ignored.
QString compared(QStringView text, Qt::CaseSensitivity cs)
{
    const FoldingTable& table = foldingTable(cs);
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const char32_t c = *codePointAt(text, i);
        if (table.isSpecial(c)) {
            result += table.expansion.at(char16_t(c));
        } else {
            const char32_t f = cs == Qt::CaseSensitive ? c : QChar::toCaseFolded(c);
            result += QStringView(QChar::fromUcs4(f));
        }
        i += unitsOf(c);
    }
    return result;
}

bool isHangulLeading(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0xA960 && c <= 0xA97C);
}

bool isHangulVowel(char32_t c)
{
    return (c >= 0x1160 && c <= 0x11A7) || (c >= 0xD7B0 && c <= 0xD7C6);
}

bool isHangulTrailing(char32_t c)
{
    return (c >= 0x11A8 && c <= 0x11FF) || (c >= 0xD7CB && c <= 0xD7FB);
}

bool isHangulSyllable(char32_t c)
{
    return c >= 0xAC00 && c <= 0xD7A3;
}

// Whether `before` and `after` belong to one grapheme cluster, as far as one code point on each
// side tells: a letter and its marks, CR LF, a joined emoji, a Hangul syllable in jamo.
bool joins(char32_t before, char32_t after)
{
    // Nothing combines with a line break or another control: a mark that follows one starts a
    // cluster of its own, and the break stays findable.
    if (EDTextSearch::isControl(before))
        return before == U'\r' && after == U'\n';
    if (after < 0x0300)
        return false;
    if (QChar::isMark(after) || after == 0x200C || after == 0x200D || (after >= 0x1F3FB && after <= 0x1F3FF)
        || (after >= 0xE0020 && after <= 0xE007F))
        return true;
    if (before == 0x200D)
        return (after >= 0x1F000 && after <= 0x1FAFF) || (after >= 0x2600 && after <= 0x27BF);
    if (isHangulLeading(before))
        return isHangulLeading(after) || isHangulVowel(after) || isHangulSyllable(after);
    const bool syllableWithoutFinal = isHangulSyllable(before) && (before - 0xAC00) % 28 == 0;
    if (isHangulVowel(before) || syllableWithoutFinal)
        return isHangulVowel(after) || isHangulTrailing(after);
    if (isHangulTrailing(before) || isHangulSyllable(before))
        return isHangulTrailing(after);
    return false;
}

// Whether a match may start or end at `at` of `text`: not inside a surrogate pair, nor inside a
// grapheme cluster.
bool isClusterBoundary(QStringView text, qsizetype at)
{
    if (at <= 0 || at >= text.size())
        return true;
    // Most text: nothing that combines follows, and no CR LF pair is split.
    if (text[at].unicode() < 0x0300 && text[at - 1] != u'\r')
        return true;
    if (text[at].isLowSurrogate() && text[at - 1].isHighSurrogate())
        return false;
    return !joins(*codePointBefore(text, at), *codePointAt(text, at));
}

} // namespace

EDTextSearch::EDTextSearch(
    const platform::TextContentStorage& storage, const QString& string, EDTextSearchOptions options)
    : m_storage(storage)
    , m_string(string)
    , m_needle(compared(string, options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive))
    , m_options(options)
    , m_case(options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)
{
    for (qsizetype k = 1; k < m_needle.size() && !m_overlaps; ++k)
        m_overlaps = QStringView(m_needle).first(k) == QStringView(m_needle).last(k);
    if (const auto first = codePointAt(m_string, 0))
        m_wordAtStart = isWordCharacter(*first);
    if (const auto last = codePointBefore(m_string, m_string.size()))
        m_wordAtEnd = isWordCharacter(*last);
    m_flagAtEdge = isRegionalIndicator(codePointAt(m_string, 0))
        || isRegionalIndicator(codePointBefore(m_string, m_string.size()));
    if (!m_needle.isEmpty()) {
        for (const auto& [c, expansion] : foldingTable(m_case).expansion) {
            if (m_needle.contains(expansion))
                m_expanding.push_back(c);
        }
        std::sort(m_expanding.begin(), m_expanding.end());
    }
}

QString EDTextSearch::folded(QStringView text)
{
    return compared(text, Qt::CaseInsensitive);
}

bool EDTextSearch::couldOverlap(const QString& text) const
{
    const QString& needle = m_needle;
    const QString copy = compared(text, m_case);
    const qsizetype n = needle.size();
    // The needle starting `offset` units after the copy's start (negative: before it).
    for (qsizetype offset = 1 - n; offset < copy.size(); ++offset) {
        const qsizetype from = std::max<qsizetype>(0, offset);
        const qsizetype to = std::min<qsizetype>(copy.size(), offset + n);
        if (from < to
            && QStringView(copy).sliced(from, to - from)
                == QStringView(needle).sliced(from - offset, to - from))
            return true;
    }
    return false;
}

bool EDTextSearch::isControl(char32_t c)
{
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

bool EDTextSearch::isWordCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == U'_';
}

bool EDTextSearch::isWholeWord(QStringView text, qsizetype at, qsizetype length) const
{
    if (m_wordAtStart) {
        if (const auto before = codePointBefore(text, at); before && isWordCharacter(*before))
            return false;
    }
    if (m_wordAtEnd) {
        if (const auto after = codePointAt(text, at + length); after && isWordCharacter(*after))
            return false;
    }
    return true;
}

bool EDTextSearch::accepts(QStringView text, qint64 base, qsizetype at, qsizetype length) const
{
    if (m_everyOccurrence)
        return true;
    if (m_options.wholeWords && !isWholeWord(text, at, length))
        return false;
    return isBoundary(text, base, at) && isBoundary(text, base, at + length);
}

bool EDTextSearch::isBoundary(QStringView text, qint64 base, qsizetype at) const
{
    if (!isClusterBoundary(text, at))
        return false;
    // Between two halves of flags, a flag ends only after an even number of halves in their run.
    if (m_flagAtEdge && isRegionalIndicator(codePointBefore(text, at))
        && isRegionalIndicator(codePointAt(text, at)))
        return regionalIndicatorsBefore(text, base, at) % 2 == 0;
    return true;
}

qint64 EDTextSearch::regionalIndicatorsBefore(QStringView text, qint64 base, qsizetype at) const
{
    // Read from `text` while it holds them, then from the document. A count made before in this
    // pass, in the same run, ends the walk: a scan through one long run of flags reads it once.
    const qint64 end = base + at;
    qint64 position = end;
    qint64 count = 0;
    QString block;
    QStringView view = text;
    qint64 viewStart = base;
    constexpr qint64 blockUnits = 256;
    for (;;) {
        if (m_flagRun && m_flagRun->position == position) {
            count += m_flagRun->count;
            break;
        }
        const qsizetype i = qsizetype(position - viewStart);
        if (i < 2) {
            if (position < 2)
                break;
            viewStart = std::max<qint64>(0, position - blockUnits);
            block = m_storage.substring(platform::TextRange(viewStart, position));
            view = block;
            continue;
        }
        if (!isRegionalIndicator(codePointBefore(view, i)))
            break;
        ++count;
        position -= 2;
    }
    m_flagRun = FlagRun { end, count };
    return count;
}

std::optional<qsizetype> EDTextSearch::foldedMatchAt(QStringView text, qsizetype at) const
{
    const FoldingTable& table = foldingTable(m_case);
    const QStringView needle(m_needle);
    qsizetype k = 0;
    qsizetype i = at;
    while (k < needle.size()) {
        if (i >= text.size())
            return std::nullopt;
        const char32_t c = *codePointAt(text, i);
        if (table.isSpecial(c)) {
            const QString& expansion = table.expansion.at(char16_t(c));
            if (!needle.sliced(k).startsWith(expansion))
                return std::nullopt;
            k += expansion.size();
        } else {
            const char32_t f = m_case == Qt::CaseSensitive ? c : QChar::toCaseFolded(c);
            if (f > 0xFFFF) {
                if (needle[k] != QChar::highSurrogate(f))
                    return std::nullopt;
                // A string that ends in half a pair (typed so far) occurs where the text has the
                // whole pair; no match ends there.
                if (k + 1 == needle.size())
                    return i + 1 - at;
                if (needle[k + 1] != QChar::lowSurrogate(f))
                    return std::nullopt;
                k += 2;
            } else {
                if (needle[k] != QChar(char16_t(f)))
                    return std::nullopt;
                ++k;
            }
        }
        i += unitsOf(c);
    }
    return i - at;
}

std::optional<qsizetype> EDTextSearch::occurrenceAt(QStringView text, qsizetype at) const
{
    const qsizetype n = m_needle.size();
    if (at < 0 || n == 0)
        return std::nullopt;
    if (!m_expanding.empty())
        return foldedMatchAt(text, at);
    if (at + n <= text.size() && text.sliced(at, n).compare(m_needle, m_case) == 0)
        return n;
    return std::nullopt;
}

qint64 EDTextSearch::lengthAt(qint64 start) const
{
    const qint64 n = m_needle.size();
    if (m_expanding.empty())
        return n;
    const platform::TextRange window(start, std::min(m_storage.length(), start + n));
    return foldedMatchAt(m_storage.substring(window), 0).value_or(n);
}

template<typename Found, typename Rejected>
bool EDTextSearch::scan(
    QStringView text, qint64 base, qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const
{
    const qsizetype n = m_needle.size();
    qsizetype position = qsizetype(std::max<qint64>(0, from - base));
    // Only matches that start before `limit`: the text past `limit + n - 1` is not read.
    const qsizetype end = qsizetype(std::clamp<qint64>(limit - base + n - 1, 0, text.size()));
    const QStringView region = text.first(end);
    // Hands on an occurrence as a match or as turned down, and moves past it; false to stop.
    const auto offer = [&](qsizetype at, qsizetype length) {
        if (!accepts(text, base, at, length)) {
            rejected(base + at);
            position = at + 1;
            return true;
        }
        if (!found(base + at, length))
            return false;
        position = at + (m_stepByOne ? 1 : length);
        return true;
    };
    if (m_expanding.empty()) {
        while (position + n <= end) {
            const qsizetype at = region.indexOf(m_needle, position, m_case);
            if (at < 0)
                return true;
            if (!offer(at, n))
                return false;
        }
        return true;
    }

    // Some characters of the text fold to several: a match holding one is found by comparing the
    // foldings from each place it could start, a few units before such a character; any other
    // match is an occurrence of the folded string as it is.
    constexpr qsizetype none = std::numeric_limits<qsizetype>::max();
    const qsizetype startLimit = qsizetype(std::clamp<qint64>(limit - base, 0, text.size()));
    std::vector<qsizetype> nextOf(m_expanding.size(), -1);
    auto nextExpanding = [&](qsizetype from) {
        qsizetype best = none;
        for (size_t j = 0; j < m_expanding.size(); ++j) {
            if (nextOf[j] != none && nextOf[j] < from) {
                nextOf[j] = region.indexOf(QChar(m_expanding[j]), from);
                if (nextOf[j] < 0)
                    nextOf[j] = none;
            }
            best = std::min(best, nextOf[j]);
        }
        return best;
    };
    qsizetype simple = -1;
    qsizetype tried = 0;
    while (position < startLimit) {
        if (simple != none && simple < position) {
            simple = region.indexOf(m_needle, position, m_case);
            if (simple < 0)
                simple = none;
        }
        qsizetype at = simple;
        qsizetype length = n;
        for (qsizetype q = nextExpanding(position); q != none && q - n + 1 < at; q = nextExpanding(q + 1)) {
            bool matched = false;
            for (qsizetype p = std::max({ position, q - n + 1, tried }); p <= q && p < at; ++p) {
                tried = p + 1;
                if (const auto l = foldedMatchAt(text, p)) {
                    at = p;
                    length = *l;
                    matched = true;
                    break;
                }
            }
            if (matched)
                break;
        }
        if (at == none || at >= startLimit)
            return true;
        if (!offer(at, length))
            return false;
    }
    return true;
}

template<typename Found, typename Rejected>
void EDTextSearch::scanDocument(qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const
{
    const qint64 n = m_needle.size();
    const qint64 documentLength = m_storage.length();
    if (n == 0)
        return;
    m_flagRun.reset();
    // No match starts later than this (a match holding a character that folds to several is
    // shorter than the folded string, but still starts before the end).
    limit = std::min(limit, m_expanding.empty() ? documentLength - n + 1 : documentLength);
    if (from >= limit)
        return;
    ++s_passCount;
    // Room for a surrogate pair on each side of a match, which a whole-word or cluster check reads.
    constexpr qint64 spare = 2;
    qint64 next = from;
    bool stopped = false;
    auto take = [&](qint64 at, qsizetype length) {
        next = at + (m_stepByOne ? 1 : length);
        return found(at, length);
    };
    // Matches starting in [next, end), found in a copy of the text around them: where pieces join.
    auto scanCopy = [&](qint64 end) {
        end = std::min(end, limit);
        if (next >= end)
            return;
        const platform::TextRange window(
            std::max<qint64>(0, next - spare), std::min(documentLength, end - 1 + n + spare));
        stopped = !scan(m_storage.substring(window), window.location, next, end, take, rejected);
        next = std::max(next, end);
    };
    // Matches wholly inside a piece, with the characters next to them, are found in the piece
    // itself; a piece too short for any is read through the copy at the next join.
    m_storage.enumerateTextPieces(from, [&](QStringView piece, qint64 start) {
        if (start >= limit)
            return false;
        const qint64 end = start + piece.size();
        const qint64 interiorBegin = start == 0 ? 0 : start + spare;
        const qint64 interiorEnd
            = std::min(limit, end == documentLength ? end - n + 1 : end - n - spare + 1);
        if (interiorBegin >= interiorEnd)
            return true;
        scanCopy(interiorBegin);
        if (stopped)
            return false;
        if (next < interiorEnd) {
            stopped = !scan(piece, start, next, interiorEnd, take, rejected);
            if (stopped)
                return false;
            next = std::max(next, interiorEnd);
        }
        return next < limit;
    });
    if (!stopped)
        scanCopy(limit);
}

std::vector<qint64> EDTextSearch::all(std::vector<qint64>* occurrences) const
{
    if (occurrences && m_overlaps) {
        // A scan that moves on by one unit meets the occurrences inside a match too; which of them
        // are matches is then decided as a scan past each match would.
        EDTextSearch every(*this);
        every.m_everyOccurrence = true;
        every.m_stepByOne = true;
        *occurrences = every.all();
        return amongCandidates(*occurrences);
    }
    // Without overlaps, a scan meets every occurrence: each is either a match or was turned down
    // (no whole word, or inside a cluster). The occurrences are copied only once one is turned down.
    std::vector<qint64> result;
    bool apart = false;
    if (occurrences)
        occurrences->clear();
    scanDocument(
        0, m_storage.length(),
        [&](qint64 at, qsizetype) {
            result.push_back(at);
            if (apart)
                occurrences->push_back(at);
            return true;
        },
        [&](qint64 at) {
            if (!occurrences)
                return;
            if (!apart) {
                *occurrences = result;
                apart = true;
            }
            occurrences->push_back(at);
        });
    return result;
}

std::vector<qint64> EDTextSearch::expandingCharacters() const
{
    std::vector<qint64> result;
    if (m_expanding.empty())
        return result;
    ++s_passCount;
    m_storage.enumerateTextPieces(0, [&](QStringView piece, qint64 start) {
        for (const char16_t c : m_expanding) {
            for (qsizetype at = piece.indexOf(QChar(c)); at >= 0; at = piece.indexOf(QChar(c), at + 1))
                result.push_back(start + at);
        }
        return true;
    });
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<qint64> EDTextSearch::amongCandidates(
    const std::vector<qint64>& given, std::vector<qint64>* occurrences) const
{
    std::vector<qint64> result;
    if (occurrences)
        occurrences->clear();
    const qint64 n = m_needle.size();
    const qint64 documentLength = m_storage.length();
    if (n == 0)
        return result;
    // A match holding a character that folds to several need not extend an occurrence of a shorter
    // string ("ss" in "ß" extends no "s"): the places it could start are candidates too.
    std::vector<qint64> merged;
    const std::vector<qint64>* candidates = &given;
    if (!m_expanding.empty()) {
        std::vector<qint64> near;
        for (const qint64 q : expandingCharacters()) {
            for (qint64 p = std::max<qint64>({ 0, q - n + 1, near.empty() ? 0 : near.back() + 1 }); p <= q; ++p)
                near.push_back(p);
        }
        merged.reserve(given.size() + near.size());
        std::merge(given.begin(), given.end(), near.begin(), near.end(), std::back_inserter(merged));
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        candidates = &merged;
    }
    if (candidates->empty())
        return result;
    m_flagRun.reset();
    // As a scan goes: an occurrence inside the last match is passed over, and one that is turned
    // down moves the scan on by one unit only, which no later candidate is behind.
    qint64 scanned = 0;
    auto consider = [&](QStringView text, qint64 base, qint64 at) {
        const auto length = occurrenceAt(text, qsizetype(at - base));
        if (!length)
            return;
        if (occurrences)
            occurrences->push_back(at);
        if (at < scanned || !accepts(text, base, qsizetype(at - base), *length))
            return;
        result.push_back(at);
        scanned = at + *length;
    };
    // Room for a surrogate pair on each side, which a whole-word or cluster check reads.
    constexpr qint64 spare = 2;
    size_t i = 0;
    m_storage.enumerateTextPieces(candidates->front(), [&](QStringView piece, qint64 start) {
        const qint64 end = start + piece.size();
        for (; i < candidates->size() && (*candidates)[i] < end; ++i) {
            const qint64 at = (*candidates)[i];
            const bool inside
                = (start == 0 || at - spare >= start) && (end == documentLength || at + n + spare <= end);
            if (inside && at >= start) {
                consider(piece, start, at);
            } else {
                // Where pieces join, a copy of the few characters around the candidate.
                const platform::TextRange window(
                    std::max<qint64>(0, at - spare), std::min(documentLength, at + n + spare));
                consider(m_storage.substring(window), window.location, at);
            }
        }
        return i < candidates->size();
    });
    return result;
}

std::optional<qint64> EDTextSearch::next(qint64 from, qint64 limit) const
{
    std::optional<qint64> result;
    scanDocument(std::max<qint64>(from, 0), limit, [&](qint64 at, qsizetype) {
        result = at;
        return false;
    });
    return result;
}

void EDTextSearch::each(qint64 from, qint64 limit, const std::function<bool(qint64)>& found) const
{
    scanDocument(std::max<qint64>(from, 0), limit, [&](qint64 at, qsizetype) { return found(at); });
}

std::vector<qint64> EDTextSearch::inWindows(std::vector<platform::TextRange> windows) const
{
    std::vector<qint64> result;
    if (m_needle.isEmpty() || windows.empty())
        return result;
    std::sort(windows.begin(), windows.end(),
        [](const platform::TextRange& a, const platform::TextRange& b) { return a.location < b.location; });
    // Windows that meet are scanned as one, so that no match is found twice.
    std::vector<platform::TextRange> merged;
    for (const platform::TextRange& window : windows) {
        if (!merged.empty() && window.location <= merged.back().endLocation)
            merged.back().endLocation = std::max(merged.back().endLocation, window.endLocation);
        else
            merged.push_back(window);
    }
    for (const platform::TextRange& window : merged) {
        scanDocument(window.location, window.endLocation, [&](qint64 at, qsizetype) {
            result.push_back(at);
            return true;
        });
    }
    return result;
}
