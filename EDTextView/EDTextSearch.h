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
// found once in "aaa"). Case is compared through simple case folding, one UTF-16 unit for one, so
// every match is as long as the searched string. A whole-word match has no letter, digit, mark or
// underscore next to it on a side where the searched string itself begins or ends with one.
class EDTextSearch {
public:
    EDTextSearch(
        const platform::TextContentStorage& storage, const QString& string, EDTextSearchOptions options);

    qint64 length() const { return m_string.size(); }
    // Whether two matches of the string could overlap ("aa", "abab"): a scan then depends on where
    // the previous match ended, not only on the text around a match.
    bool canOverlapItself() const { return m_overlaps; }

    // Whether a match could share characters with a copy of `text` put into the document: the two
    // agree, at some alignment, wherever they overlap.
    bool couldOverlap(const QString& text) const;

    // Every match in the document, in order. With `occurrences`, also every place the string
    // occurs, whole word or not, overlapping a match or not.
    std::vector<qint64> all(std::vector<qint64>* occurrences = nullptr) const;
    // What `all` answers, looked for only at `candidates`: sorted places that hold every occurrence
    // of the string (those of a string it extends, say). Reads the text at each candidate, not the
    // rest. With `occurrences`, also the candidates where the string occurs, whole word or not.
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
    bool isWholeWord(QStringView text, qsizetype at) const;
    // Calls `found` with each match a scan from `from` finds starting before `limit`, over the
    // whole document, until `found` answers false.
    template<typename Found> void scanDocument(qint64 from, qint64 limit, Found&& found) const
    {
        scanDocument(from, limit, std::forward<Found>(found), [](qint64) {});
    }
    template<typename Found, typename Rejected>
    void scanDocument(qint64 from, qint64 limit, Found&& found, Rejected&& rejected) const;
    // Whether the string occurs at `at` of `text` (the document from `base`), and counts there.
    bool occursAt(QStringView text, qint64 base, qint64 at) const;

    static inline quint64 s_passCount = 0;

    const platform::TextContentStorage& m_storage;
    QString m_string;
    EDTextSearchOptions m_options;
    // How far a scan moves on from where it found a match: past it, or one unit to meet every
    // occurrence.
    qsizetype m_step = 0;
    Qt::CaseSensitivity m_case;
    bool m_overlaps = false;
    bool m_wordAtStart = false;
    bool m_wordAtEnd = false;
};
