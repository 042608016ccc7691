#pragma once

#include "platform/text/TextRange.h"

#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace platform {
class TextContentStorage;
}

// What a search matches: letter case exactly or not, and whole words only or anywhere.
struct EDTextSearchOptions {
    bool caseSensitive = false;
    bool wholeWords = false;
    bool operator==(const EDTextSearchOptions&) const = default;
};

// Finds a string in a content storage, reading the text in the pieces the storage keeps it in, so
// that searching a long document copies only the few characters around each join of two pieces.
//
// Matches are what a left-to-right scan finds: each starts after the previous one ends ("aa" is
// found once in "aaa"). An accented letter is found written as one character or as the letter and
// its marks ("café" finds "cafe\u0301", and the other way round), and ignoring case compares full
// case foldings, so one character may stand for several ("straße" finds "STRASSE", "ss" finds "ß")
// and a match need not be as long as the searched string. A match always covers whole characters
// of the text, and never starts or ends inside a character and its combining marks (a mark after a
// line break or a tab stands alone), nor inside a flag (two regional indicators, paired from the
// start of their run). A whole-word match has no letter, digit, mark or underscore next to it on a
// side where the searched string itself begins or ends with one.
class EDTextSearch {
public:
    EDTextSearch(
        const platform::TextContentStorage& storage, const QString& string, EDTextSearchOptions options);

    // The longest a match can be, in UTF-16 units (the folded string's length); every match is
    // this long unless `hasUniformLength` is false.
    qint64 length() const { return m_needle.size(); }
    bool hasUniformLength() const { return m_expanding.empty(); }
    // How long the match that starts at `start` is: what `length` says, or read from the text
    // where a character folds to more than one.
    qint64 lengthAt(qint64 start) const;
    // Whether two matches of the string could overlap ("aa", "abab"): a scan then depends on where
    // the previous match ended, not only on the text around a match.
    bool canOverlapItself() const { return m_overlaps; }
    // Whether the string begins or ends with half of a flag (a regional indicator): whether it
    // matches then depends on how many halves stand before it in their run, which an edit anywhere
    // in the run changes.
    bool hasFlagAtEdge() const { return m_flagAtEdge; }

    // Whether a match could share characters with a copy of `text` put into the document: the two
    // agree, at some alignment, wherever they overlap.
    bool couldOverlap(const QString& text) const;

    // Every match in the document, in order. With `occurrences`, also every place the string
    // occurs, whole word or not, inside a cluster or not, overlapping a match or not; left empty
    // when those are just the matches.
    std::vector<qint64> all(std::vector<qint64>* occurrences = nullptr) const;
    // What `all` answers, looked for only at `candidates`: sorted places that hold every occurrence
    // of the string (those of a string it extends, say). Reads the text at each candidate, not the
    // rest, and the places near characters that fold to several. With `occurrences`, also the
    // candidates where the string occurs, whole word or not.
    std::vector<qint64> amongCandidates(
        const std::vector<qint64>& candidates, std::vector<qint64>* occurrences = nullptr) const;
    // The first match that starts at or after `from` and before `limit`.
    std::optional<qint64> next(qint64 from, qint64 limit) const;
    // Calls `found` with each match a scan from `from` finds starting before `limit`, in order,
    // until it answers false.
    void each(qint64 from, qint64 limit, const std::function<bool(qint64)>& found) const;
    // The matches that start in any of the windows (a scan from each window's start), in order.
    std::vector<qint64> inWindows(std::vector<platform::TextRange> windows) const;

    // A letter, digit, mark or underscore: what a whole word may not continue into.
    static bool isWordCharacter(char32_t c);
    // A line break or another control character, which nothing combines with.
    static bool isControl(char32_t c);
    // The full case folding of `text`, accented letters decomposed, as a search that ignores case
    // compares it.
    static QString folded(QStringView text);

    // How many passes over the text searches have begun (main thread), so that a test can count
    // what following an edit costs.
    static quint64 passCount() { return s_passCount; }

private:
    // Calls `found` with each match starting in [from, limit) of `text`, which holds the document
    // from `base`; characters outside `text` count as not part of a word. `found` answers false to
    // stop; answers false when stopped. `rejected` hears of each occurrence that is no whole word.
    template<typename Found, typename Rejected>
    bool scan(
        QStringView text, qint64 base, qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const;
    bool isWholeWord(QStringView text, qsizetype at, qsizetype length) const;
    // Whether a match may start or end at `at` of `text`, which holds the document from `base`.
    bool isBoundary(QStringView text, qint64 base, qsizetype at) const;
    // How many regional indicators stand in a row just before `at` of `text`, which holds the
    // document from `base`.
    qint64 regionalIndicatorsBefore(QStringView text, qint64 base, qsizetype at) const;
    // How long the match at `at` of `text` is, compared character by character through the full
    // case folding; none when the string does not occur there.
    std::optional<qsizetype> foldedMatchAt(QStringView text, qsizetype at) const;
    // Whether the string occurs at `at` of `text`, and counts there: the length of the occurrence.
    std::optional<qsizetype> occurrenceAt(QStringView text, qsizetype at) const;
    // Whether an occurrence at `at` of `text` (the document from `base`), `length` units long, is a
    // match.
    bool accepts(QStringView text, qint64 base, qsizetype at, qsizetype length) const;
    // Calls `found` with each match a scan from `from` finds starting before `limit`, over the
    // whole document, until `found` answers false.
    // `found` hears each match's start and length.
    template<typename Found> void scanDocument(qint64 from, qint64 limit, Found&& found) const
    {
        scanDocument(from, limit, std::forward<Found>(found), [](qint64) {});
    }
    template<typename Found, typename Rejected>
    void scanDocument(qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const;
    // Where a character that folds to several (and into the string) sits in the document, from
    // the first to the last; one pass over the text.
    std::vector<qint64> expandingCharacters() const;

    static inline quint64 s_passCount = 0;

    const platform::TextContentStorage& m_storage;
    QString m_string;
    // The string as compared: folded when case is ignored.
    QString m_needle;
    EDTextSearchOptions m_options;
    // Whether a scan moves on by one unit from a match, to meet every occurrence, rather than past it.
    bool m_stepByOne = false;
    // Whether every occurrence counts, whole word or not, inside a cluster or not.
    bool m_everyOccurrence = false;
    Qt::CaseSensitivity m_case;
    // The characters of the text that fold to several and may take part in a match (those whose
    // folding occurs in the folded string), sorted; empty when matches are all `length` long.
    std::vector<char16_t> m_expanding;
    bool m_overlaps = false;
    bool m_wordAtStart = false;
    bool m_wordAtEnd = false;
    bool m_flagAtEdge = false;
    // The last count of `regionalIndicatorsBefore` in the pass under way: where, and how many.
    struct FlagRun {
        qint64 position = 0;
        qint64 count = 0;
    };
    mutable std::optional<FlagRun> m_flagRun;
};
