#pragma once

#include "EDTextView/EDTextSearch.h"
#include "platform/text/TextRange.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <optional>
#include <vector>

class EDFindBar;
class EDTextFinderClient;
class EDTextView;

// Find and replace in a text view: the search string and its options, every match of it in the
// client's text, the find bar (EDFindBar) docked at the top of the view's scroll area, and the
// actions menu items and keys ask for by number. It reads the text from the client's view and
// marks matches in its layout manager, and selects, scrolls and replaces only through the client
// (EDTextFinderClient), in character ranges.
//
// Rules:
// - The matches are found again whenever the search string or its options change (a string that
//   extends the last one, as typing makes, only among the places the last one occurs), and follow
//   every edit of the text: an edit re-reads only the text around it, up to the next match that
//   is still where it was, so a keystroke in a long document costs little.
// - Next and previous go from the first selected range (wrapping around the document), select the
//   match and scroll it into view.
// - Replace, replace all and replace all in the selection refuse a client that is not editable,
//   and ask the client (`shouldReplaceCharacters`) about every match before changing anything.
//   Replace all is one undo step.
// - While the bar shows, the matches near the view's visible text carry the rendering attribute
//   `highlightAttribute`, which the view draws as a highlight; hiding the bar takes them away.
// - With incremental searching on (the default), the matches are found as the search string is
//   typed, and the first one after where the search began is selected. What the strings typed
//   matched is kept (a bounded number of them, until the text changes or the bar closes), so that
//   Backspace, going back to one of them, searches nothing.
//
// Main thread only.
class EDTextFinder : public QObject {
    Q_OBJECT
public:
    // What a menu item's tag or a key asks the finder to do.
    enum Action {
        showFindInterface = 1,
        nextMatch = 2,
        previousMatch = 3,
        replaceAll = 4,
        replace = 5,
        replaceAndFind = 6,
        useSelectionForFind = 7,
        replaceAllInSelection = 8,
        selectAll = 9,
        selectAllInSelection = 10,
        hideFindInterface = 11,
        showReplaceInterface = 12,
        hideReplaceInterface = 13,
    };
    // The longest search string, in UTF-16 units: what the find bar's field holds.
    static constexpr qsizetype longestSearchString = 32767;
    // The dynamic property of a QAction that holds its finder action (an int).
    static constexpr const char* tagProperty = "textFinderAction";
    // The rendering attribute of highlighted matches; its value alternates between 1 and 2 from one
    // match to the next, so that matches that touch stay apart.
    static inline const QString highlightAttribute = QStringLiteral("textFinderMatch");

    // The finder action a sender carries: a QAction with `tagProperty` set; none for anything else.
    static std::optional<int> actionTag(const QObject* sender);

    explicit EDTextFinder(QObject* parent = nullptr);
    ~EDTextFinder() override;

    EDTextFinderClient* client() const { return m_client; }
    void setClient(EDTextFinderClient* client);
    // The view whose scroll area the find bar docks in.
    EDTextView* findBarContainer() const;
    void setFindBarContainer(EDTextView* container);

    bool isIncrementalSearchingEnabled() const { return m_incrementalSearching; }
    void setIncrementalSearchingEnabled(bool enabled) { m_incrementalSearching = enabled; }

    // Whether `performAction` would do something now.
    bool validateAction(int action) const;
    void performAction(int action);
    // The client's text is about to change: where an incremental search began no longer holds.
    void noteClientStringWillChange();
    // Whether the client's text may be edited changed: the bar's replace controls follow.
    void noteClientEditabilityChanged() { emit matchesDidChange(); }

    QString searchString() const { return m_searchString; }
    // Finds every match anew.
    void setSearchString(const QString& string);
    QString replaceString() const { return m_replaceString; }
    void setReplaceString(const QString& string) { m_replaceString = string; }
    EDTextSearchOptions options() const { return m_options; }
    void setOptions(EDTextSearchOptions options);

    // Takes a string being typed into the bar: with incremental searching on, finds its matches
    // and selects the first one after where the typing began.
    void searchIncrementally(const QString& string);

    // Where every match starts, in order. Ignoring case, a match need not be as long as the search
    // string ("STRASSE" for "straße"): `matchRange` tells.
    const std::vector<qint64>& matches() const { return m_matches; }
    platform::TextRange matchRange(size_t index) const;
    // The match the first selected range is; none when it is not one.
    std::optional<size_t> currentMatch() const;

    // None until first shown.
    EDFindBar* findBar() const;
    bool isFindBarVisible() const;

    // Called by the view before it paints, with the characters it shows: marks the matches near
    // them with the highlight attribute.
    void prepareHighlights(std::optional<platform::TextRange> visible);

signals:
    // The matches, the current match, or whether the client may be edited changed.
    void matchesDidChange();

private:
    void connectToClient();
    void findAll();
    // The search of the search string with the options, in the client's text; none without either.
    const EDTextSearch* search() const;
    qint64 matchLengthAt(qint64 start) const;
    // Keeps, or takes back, the matches of the search string typed in this run of typing.
    void remember();
    bool recall();
    // Finds the matches of a search string that extends `previous` among the places `previous`
    // occurs; false when those are not known.
    bool findAmongOccurrences(const QString& previous);
    void forgetOccurrences();
    void textDidChange(platform::TextRange replaced, qint64 inserted);
    void showBar(bool withReplace);
    void hideBar();
    void selectMatch(qint64 start);
    void findNext(bool forwards);
    void replaceCurrent(bool thenFindNext);
    void replaceMatches(const std::vector<qint64>& starts);
    void matchesAfterReplacing(const std::vector<qint64>& replaced, const std::vector<qint64>& lengths,
        const std::vector<platform::TextRange>& placed);
    void clearHighlights();
    void matchesChanged();

    QPointer<QObject> m_clientView;
    EDTextFinderClient* m_client = nullptr;
    QPointer<EDTextView> m_container;
    QPointer<EDFindBar> m_bar;
    bool m_incrementalSearching = true;
    QString m_searchString;
    QString m_replaceString;
    EDTextSearchOptions m_options;
    std::vector<qint64> m_matches;
    bool m_matchesOverlap = false;
    // Whether every place the search string occurs in the text as it is is known (until the text
    // changes): in `m_occurrences` when some are no match (whole words only, or a string that can
    // overlap itself), in the matches otherwise.
    bool m_everyOccurrenceKnown = false;
    bool m_occurrencesApart = false;
    std::vector<qint64> m_occurrences;
    // Made when first needed for the search string, options and client as they are.
    mutable std::optional<EDTextSearch> m_search;
    // The matches of strings typed in this run of typing, the latest last.
    struct RememberedSearch {
        QString string;
        EDTextSearchOptions options;
        std::vector<qint64> matches;
        std::vector<qint64> occurrences;
        bool occurrencesApart = false;
        bool matchesOverlap = false;
    };
    std::deque<RememberedSearch> m_remembered;
    // While replacing many matches, whose new matches are found from where the copies stand.
    bool m_replacingMatches = false;
    // Where the incremental search of the string being typed began.
    std::optional<qint64> m_incrementalStart;
    // While a search as you type selects what it found, which moves no starting point.
    bool m_searchingIncrementally = false;
    // Bumped whenever the matches change, so that the highlights know to follow.
    quint64 m_generation = 0;
    // The text the highlights were put on, and the matches they show.
    std::optional<platform::TextRange> m_highlighted;
    quint64 m_highlightedGeneration = 0;
    QMetaObject::Connection m_textConnection;
    QMetaObject::Connection m_selectionConnection;
};
