#include "EDTextView/EDTextSearch.h"

#include "platform/text/TextContentStorage.h"

#include <algorithm>

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

} // namespace

EDTextSearch::EDTextSearch(
    const platform::TextContentStorage& storage, const QString& string, EDTextSearchOptions options)
    : m_storage(storage)
    , m_string(string)
    , m_options(options)
    , m_step(string.size())
    , m_case(options.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive)
{
    const QString compared = options.caseSensitive ? m_string : m_string.toCaseFolded();
    for (qsizetype k = 1; k < compared.size() && !m_overlaps; ++k)
        m_overlaps = QStringView(compared).first(k) == QStringView(compared).last(k);
    if (const auto first = codePointAt(m_string, 0))
        m_wordAtStart = isWordCharacter(*first);
    if (const auto last = codePointBefore(m_string, m_string.size()))
        m_wordAtEnd = isWordCharacter(*last);
}

bool EDTextSearch::couldOverlap(const QString& text) const
{
    const QString needle = m_options.caseSensitive ? m_string : m_string.toCaseFolded();
    const QString copy = m_options.caseSensitive ? text : text.toCaseFolded();
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

bool EDTextSearch::isWordCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c) || c == U'_';
}

bool EDTextSearch::isWholeWord(QStringView text, qsizetype at) const
{
    if (m_wordAtStart) {
        if (const auto before = codePointBefore(text, at); before && isWordCharacter(*before))
            return false;
    }
    if (m_wordAtEnd) {
        if (const auto after = codePointAt(text, at + m_string.size()); after && isWordCharacter(*after))
            return false;
    }
    return true;
}

template<typename Found, typename Rejected>
bool EDTextSearch::scan(
    QStringView text, qint64 base, qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const
{
    const qsizetype n = m_string.size();
    qsizetype position = qsizetype(std::max<qint64>(0, from - base));
    // Only matches that start before `limit`: the text past `limit + n - 1` is not read.
    const qsizetype end = qsizetype(std::clamp<qint64>(limit - base + n - 1, 0, text.size()));
    const QStringView region = text.first(end);
    while (position + n <= end) {
        const qsizetype at = region.indexOf(m_string, position, m_case);
        if (at < 0)
            return true;
        if (m_options.wholeWords && !isWholeWord(text, at)) {
            rejected(base + at);
            position = at + 1;
            continue;
        }
        if (!found(base + at))
            return false;
        position = at + m_step;
    }
    return true;
}

template<typename Found, typename Rejected>
void EDTextSearch::scanDocument(qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const
{
    const qint64 n = m_string.size();
    const qint64 documentLength = m_storage.length();
    // No match starts later than this.
    limit = std::min(limit, documentLength - n + 1);
    if (n == 0 || from >= limit)
        return;
    ++s_passCount;
    // Room for a surrogate pair on each side of a match, which a whole-word check reads.
    constexpr qint64 spare = 2;
    qint64 next = from;
    bool stopped = false;
    auto take = [&](qint64 at) {
        next = at + m_step;
        return found(at);
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
        const qint64 interiorEnd = std::min(limit, end == documentLength ? end - n + 1 : end - n - spare + 1);
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
        every.m_options.wholeWords = false;
        every.m_step = 1;
        *occurrences = every.all();
        return amongCandidates(*occurrences);
    }
    // Without overlaps, a scan meets every occurrence: each is either a match or no whole word.
    std::vector<qint64> result;
    if (occurrences)
        occurrences->clear();
    scanDocument(
        0, m_storage.length(),
        [&](qint64 at) {
            result.push_back(at);
            if (occurrences)
                occurrences->push_back(at);
            return true;
        },
        [&](qint64 at) {
            if (occurrences)
                occurrences->push_back(at);
        });
    return result;
}

bool EDTextSearch::occursAt(QStringView text, qint64 base, qint64 at) const
{
    const qsizetype local = qsizetype(at - base);
    const qsizetype n = m_string.size();
    return local >= 0 && local + n <= text.size() && text.sliced(local, n).compare(m_string, m_case) == 0;
}

std::vector<qint64> EDTextSearch::amongCandidates(
    const std::vector<qint64>& candidates, std::vector<qint64>* occurrences) const
{
    std::vector<qint64> result;
    if (occurrences)
        occurrences->clear();
    const qint64 n = m_string.size();
    const qint64 documentLength = m_storage.length();
    if (n == 0 || candidates.empty())
        return result;
    // As a scan goes: an occurrence inside the last match is passed over, and one that is no whole
    // word moves the scan on by one unit only, which no later candidate is behind.
    qint64 scanned = 0;
    auto consider = [&](QStringView text, qint64 base, qint64 at) {
        if (!occursAt(text, base, at))
            return;
        if (occurrences)
            occurrences->push_back(at);
        if (at < scanned || (m_options.wholeWords && !isWholeWord(text, qsizetype(at - base))))
            return;
        result.push_back(at);
        scanned = at + n;
    };
    // Room for a surrogate pair on each side, which a whole-word check reads.
    constexpr qint64 spare = 2;
    size_t i = 0;
    m_storage.enumerateTextPieces(candidates.front(), [&](QStringView piece, qint64 start) {
        const qint64 end = start + piece.size();
        for (; i < candidates.size() && candidates[i] < end; ++i) {
            const qint64 at = candidates[i];
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
        return i < candidates.size();
    });
    return result;
}

std::optional<qint64> EDTextSearch::next(qint64 from, qint64 limit) const
{
    std::optional<qint64> result;
    scanDocument(std::max<qint64>(from, 0), limit, [&](qint64 at) {
        result = at;
        return false;
    });
    return result;
}

void EDTextSearch::each(qint64 from, qint64 limit, const std::function<bool(qint64)>& found) const
{
    scanDocument(std::max<qint64>(from, 0), limit, found);
}

std::vector<qint64> EDTextSearch::inWindows(std::vector<platform::TextRange> windows) const
{
    std::vector<qint64> result;
    if (m_string.isEmpty() || windows.empty())
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
        scanDocument(window.location, window.endLocation, [&](qint64 at) {
            result.push_back(at);
            return true;
        });
    }
    return result;
}
