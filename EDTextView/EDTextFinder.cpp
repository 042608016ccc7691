#include "EDTextView/EDTextFinder.h"

#include "EDTextView/EDFindBar.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"

#include <QAction>
#include <QApplication>
#include <QScopedValueRollback>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>

using platform::CharacterRange;
using platform::TextRange;

namespace {

// Longer selections, or selections over several paragraphs, are not taken as the search string
// when the bar opens.
constexpr qint64 longestSelectionToSearch = 1000;
// How much of what was typed is kept: strings, and match places over all of them (8 bytes each).
constexpr size_t rememberedSearchesLimit = 64;
constexpr size_t rememberedPlacesLimit = 8'000'000;
// The highlights reach this far beyond the visible text (at least), so that scrolling a little
// marks nothing new.
constexpr qint64 highlightMarginUnits = 4096;

// One search string for the whole program: a bar opening with nothing selected starts from the
// last string searched in any view.
QString& lastSearchString()
{
    static QString string;
    return string;
}

bool holdsParagraphBreak(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
        [](QChar c) { return c == u'\n' || c == u'\r' || c == QChar(0x2029) || c == QChar(0x2028); });
}

} // namespace

std::optional<int> EDTextFinder::actionTag(const QObject* sender)
{
    const auto* action = qobject_cast<const QAction*>(sender);
    if (!action)
        return std::nullopt;
    const QVariant tag = action->property(tagProperty);
    bool ok = false;
    const int value = tag.toInt(&ok);
    if (!tag.isValid() || !ok)
        return std::nullopt;
    return value;
}

EDTextFinder::EDTextFinder(QObject* parent)
    : QObject(parent)
{
}

EDTextFinder::~EDTextFinder()
{
    // The bar is a child of the view, which outlives this finder by a little.
    delete m_bar;
}

void EDTextFinder::setClient(EDTextFinderClient* client)
{
    if (client == m_client && (!client || client->textView == m_clientView))
        return;
    clearHighlights();
    m_client = client;
    connectToClient();
    findAll();
}

EDTextView* EDTextFinder::findBarContainer() const
{
    return m_container;
}

void EDTextFinder::setFindBarContainer(EDTextView* container)
{
    if (container == m_container)
        return;
    if (m_bar) {
        clearHighlights();
        delete m_bar;
    }
    m_container = container;
}

void EDTextFinder::connectToClient()
{
    m_search.reset();
    m_remembered.clear();
    disconnect(m_textConnection);
    disconnect(m_selectionConnection);
    m_clientView = m_client ? m_client->textView.data() : nullptr;
    EDTextView* view = m_client ? m_client->textView.data() : nullptr;
    if (!view)
        return;
    m_textConnection = connect(&view->textContentStorage(), &platform::TextContentStorage::textDidChange,
        this, [this](TextRange replaced, qint64 inserted) { textDidChange(replaced, inserted); });
    // The bar counts from the match that is selected; typing on in the bar after a click in the
    // text searches on from there.
    m_selectionConnection
        = connect(&view->textLayoutManager(), &platform::TextLayoutManager::selectionDidChange, this, [this] {
              if (!m_searchingIncrementally)
                  m_incrementalStart.reset();
              if (isFindBarVisible())
                  emit matchesDidChange();
          });
}

EDFindBar* EDTextFinder::findBar() const
{
    return m_bar;
}

bool EDTextFinder::isFindBarVisible() const
{
    return m_bar && !m_bar->isHidden();
}

bool EDTextFinder::validateAction(int action) const
{
    if (!m_client || !m_client->textView)
        return false;
    const bool searching = !m_searchString.isEmpty();
    switch (action) {
    case showFindInterface:
    case hideFindInterface:
    case hideReplaceInterface:
        return bool(m_container);
    case showReplaceInterface:
        return m_container && m_client->isEditable();
    case nextMatch:
    case previousMatch:
        return searching;
    case replace:
    case replaceAndFind:
    case replaceAll:
        return searching && m_client->isEditable();
    case replaceAllInSelection: {
        if (!searching || !m_client->isEditable())
            return false;
        const auto ranges = m_client->selectedRanges();
        return std::any_of(ranges.begin(), ranges.end(), [](CharacterRange r) { return r.length > 0; });
    }
    case useSelectionForFind: {
        // A longer selection would be cut short in the find field, which then searches for less.
        const qint64 length = m_client->firstSelectedRange().length;
        return m_client->isSelectable() && length > 0 && length <= longestSearchString;
    }
    case selectAll:
    case selectAllInSelection:
        // Selecting every match needs several selections at once, which the client does not allow.
        return m_client->allowsMultipleSelection();
    default:
        return false;
    }
}

void EDTextFinder::performAction(int action)
{
    if (!validateAction(action))
        return;
    switch (action) {
    case showFindInterface:
        showBar(false);
        break;
    case showReplaceInterface:
        showBar(true);
        break;
    case hideFindInterface:
        hideBar();
        break;
    case hideReplaceInterface:
        if (m_bar) {
            m_bar->setReplaceVisible(false);
            m_container->tileFindBar();
        }
        break;
    case nextMatch:
        findNext(true);
        break;
    case previousMatch:
        findNext(false);
        break;
    case replace:
        replaceCurrent(false);
        break;
    case replaceAndFind:
        replaceCurrent(true);
        break;
    case replaceAll:
        replaceMatches(m_matches);
        break;
    case replaceAllInSelection: {
        std::vector<qint64> inside;
        for (const CharacterRange& range : m_client->selectedRanges()) {
            auto it = std::lower_bound(m_matches.begin(), m_matches.end(), range.location);
            for (; it != m_matches.end() && *it < range.location + range.length; ++it) {
                if (*it + matchLengthAt(*it) <= range.location + range.length)
                    inside.push_back(*it);
            }
        }
        std::sort(inside.begin(), inside.end());
        inside.erase(std::unique(inside.begin(), inside.end()), inside.end());
        replaceMatches(inside);
        break;
    }
    case useSelectionForFind: {
        const CharacterRange range = m_client->firstSelectedRange();
        EDTextView* view = m_client->textView;
        setSearchString(
            view->textContentStorage().substring(TextRange(range.location, range.location + range.length)));
        if (m_bar)
            m_bar->setSearchText(m_searchString);
        break;
    }
    default:
        break;
    }
}

void EDTextFinder::noteClientStringWillChange()
{
    m_incrementalStart.reset();
}

void EDTextFinder::setSearchString(const QString& string)
{
    const QString previous = std::exchange(m_searchString, string);
    m_search.reset();
    if (!string.isEmpty())
        lastSearchString() = string;
    if (recall())
        return;
    if (!findAmongOccurrences(previous))
        findAll();
    if (m_searchingIncrementally)
        remember();
}

void EDTextFinder::setOptions(EDTextSearchOptions options)
{
    if (options == m_options)
        return;
    m_options = options;
    m_search.reset();
    findAll();
}

const EDTextSearch* EDTextFinder::search() const
{
    EDTextView* view = m_client ? m_client->textView.data() : nullptr;
    if (!view || m_searchString.isEmpty())
        return nullptr;
    if (!m_search)
        m_search.emplace(view->textContentStorage(), m_searchString, m_options);
    return &*m_search;
}

qint64 EDTextFinder::matchLengthAt(qint64 start) const
{
    const EDTextSearch* current = search();
    return current ? current->lengthAt(start) : 0;
}

TextRange EDTextFinder::matchRange(size_t index) const
{
    const qint64 start = m_matches.at(index);
    return TextRange(start, start + matchLengthAt(start));
}

void EDTextFinder::remember()
{
    if (!m_everyOccurrenceKnown || m_searchString.isEmpty())
        return;
    m_remembered.push_back({ m_searchString, m_options, m_matches, m_occurrences, m_occurrencesApart,
        m_matchesOverlap });
    size_t places = 0;
    for (const RememberedSearch& kept : m_remembered)
        places += kept.matches.size() + kept.occurrences.size();
    while (!m_remembered.empty()
        && (m_remembered.size() > rememberedSearchesLimit || places > rememberedPlacesLimit)) {
        places -= m_remembered.front().matches.size() + m_remembered.front().occurrences.size();
        m_remembered.pop_front();
    }
}

bool EDTextFinder::recall()
{
    const auto it = std::find_if(m_remembered.rbegin(), m_remembered.rend(),
        [&](const RememberedSearch& kept) { return kept.string == m_searchString && kept.options == m_options; });
    if (it == m_remembered.rend() || !search())
        return false;
    m_matches = it->matches;
    m_occurrences = it->occurrences;
    m_occurrencesApart = it->occurrencesApart;
    m_matchesOverlap = it->matchesOverlap;
    m_everyOccurrenceKnown = true;
    matchesChanged();
    return true;
}

void EDTextFinder::searchIncrementally(const QString& string)
{
    if (!m_client || !m_client->textView)
        return;
    if (!m_incrementalStart)
        m_incrementalStart = m_client->firstSelectedRange().location;
    {
        const QScopedValueRollback searching(m_searchingIncrementally, true);
        // The bar hears once, when the match is selected: a count of the new matches against the
        // old selection ("3 matches" before "1 of 3") would be shown and read out for nothing.
        const QSignalBlocker holdingChanges(this);
        setSearchString(string);
        if (m_matches.empty()) {
            // Back to where the search began while there is nothing to find: a match of what was
            // typed before would stay selected under "No matches", and the bar, opened again, would
            // take it for the search string in place of what was typed.
            const CharacterRange start { *m_incrementalStart, 0 };
            m_client->setSelectedRanges({ start });
            m_client->scrollRangeToVisible(start);
        } else {
            auto it = std::lower_bound(m_matches.begin(), m_matches.end(), *m_incrementalStart);
            selectMatch(it == m_matches.end() ? m_matches.front() : *it);
        }
    }
    emit matchesDidChange();
}

std::optional<size_t> EDTextFinder::currentMatch() const
{
    if (!m_client || m_matches.empty())
        return std::nullopt;
    const CharacterRange selected = m_client->firstSelectedRange();
    const auto it = std::lower_bound(m_matches.begin(), m_matches.end(), selected.location);
    if (it == m_matches.end() || *it != selected.location || matchLengthAt(*it) != selected.length)
        return std::nullopt;
    return size_t(it - m_matches.begin());
}

void EDTextFinder::findAll()
{
    forgetOccurrences();
    if (const EDTextSearch* current = search()) {
        m_matchesOverlap = current->canOverlapItself();
        m_matches = current->all(&m_occurrences);
        m_occurrencesApart = !m_occurrences.empty();
        m_everyOccurrenceKnown = true;
    } else {
        m_matches.clear();
        m_matchesOverlap = false;
    }
    matchesChanged();
}

bool EDTextFinder::findAmongOccurrences(const QString& previous)
{
    // Wherever the longer string occurs, so does the one it extends (but for characters that fold to
    // several, which the search looks at besides).
    const EDTextSearch* current = search();
    if (!current || !m_everyOccurrenceKnown || previous.isEmpty() || m_searchString.size() <= previous.size()
        || !m_searchString.startsWith(previous))
        return false;
    std::vector<qint64> occurrences;
    std::vector<qint64> matches
        = current->amongCandidates(m_occurrencesApart ? m_occurrences : m_matches, &occurrences);
    const bool apart = occurrences.size() != matches.size();
    if (!apart)
        occurrences.clear();
    m_matches = std::move(matches);
    m_occurrences = std::move(occurrences);
    m_matchesOverlap = current->canOverlapItself();
    m_occurrencesApart = apart;
    matchesChanged();
    return true;
}

void EDTextFinder::forgetOccurrences()
{
    m_everyOccurrenceKnown = false;
    m_occurrencesApart = false;
    m_occurrences.clear();
    m_occurrences.shrink_to_fit();
}

void EDTextFinder::textDidChange(TextRange replaced, qint64 inserted)
{
    // The matches follow the edit; where the string occurs besides is found again when needed, and
    // what the strings typed matched no longer holds.
    forgetOccurrences();
    m_remembered.clear();
    const qint64 delta = inserted - replaced.length();
    // The highlighted stretch moves with the text, as the highlights themselves do.
    if (m_highlighted) {
        auto map = [&](qint64 x, qint64 inside) {
            return x <= replaced.location ? x : x >= replaced.endLocation ? x + delta : inside;
        };
        TextRange moved(map(m_highlighted->location, replaced.location),
            map(m_highlighted->endLocation, replaced.location + inserted));
        if (moved.endLocation >= replaced.location && moved.location <= replaced.location + inserted)
            moved = moved.united(TextRange(replaced.location, replaced.location + inserted));
        m_highlighted = moved;
    }
    EDTextView* view = m_client ? m_client->textView.data() : nullptr;
    const EDTextSearch* current = search();
    if (!view || !current || m_replacingMatches)
        return;
    const EDTextSearch& search = *current;
    // Halves of flags pair up from the start of their run: an edit in it moves the pairs up to its
    // end, however far that is.
    if (search.hasFlagAtEdge()) {
        findAll();
        return;
    }

    // A match keeps its place when the edit is more than two units away from it: a whole word, and
    // the end of a cluster, are decided by the code point next to it, which may be a surrogate pair.
    constexpr qint64 spare = 2;
    // The longest a match can be; most are this long.
    const qint64 n = search.length();
    std::vector<qint64>& matches = m_matches;
    const size_t keep
        = size_t(std::lower_bound(matches.begin(), matches.end(), replaced.location - n - spare + 1)
            - matches.begin());
    size_t next = size_t(
        std::lower_bound(matches.begin(), matches.end(), replaced.endLocation + spare) - matches.begin());
    // How far a scan must go once no old match is left ahead of it: to where the old scan stopped
    // finding anything, past the old matches it drops (here those at the edit, below those it
    // pushes aside).
    qint64 reach = replaced.location + inserted + spare;
    for (size_t i = keep; i < next; ++i)
        reach = std::max(reach, matches[i] + n + (matches[i] + n > replaced.endLocation ? delta : 0));
    for (size_t i = next; i < matches.size(); ++i)
        matches[i] += delta;

    // New matches start near the new text, after the last match kept (which ends before the edit).
    const qint64 window = replaced.location + inserted + spare;
    qint64 position = std::max<qint64>(
        keep > 0 ? matches[keep - 1] + search.lengthAt(matches[keep - 1]) : 0, replaced.location - n - spare + 1);
    std::vector<qint64> fresh;
    if (!m_matchesOverlap) {
        // Matches past the edit stay where they are: the text up to `reach` is read in one pass,
        // not one search per match (a paste of a long text), and gives again the old matches in it.
        if (position < reach)
            fresh = search.inWindows({ TextRange(position, reach) });
        while (next < matches.size() && matches[next] < reach)
            ++next;
    } else {
        // One scan, which decides which matches count; an old match it goes past without meeting
        // is no longer one, and meeting one, the scan is where the old one was: everything after
        // stays.
        bool metOldMatch = false;
        search.each(position, view->textContentStorage().length(), [&](qint64 found) {
            while (found >= (next < matches.size() ? std::max(window, matches[next] + 1) : reach)) {
                if (next == matches.size())
                    return false;
                reach = std::max(reach, matches[next] + n);
                ++next;
            }
            if (next < matches.size() && found == matches[next]) {
                metOldMatch = true;
                return false;
            }
            fresh.push_back(found);
            const qint64 foundEnd = found + search.lengthAt(found);
            while (next < matches.size() && matches[next] < foundEnd) {
                reach = std::max(reach, matches[next] + n);
                ++next;
            }
            return true;
        });
        // Nothing more to find: none of the old matches ahead is one any more.
        if (!metOldMatch)
            next = matches.size();
    }
    matches.erase(matches.begin() + qsizetype(keep), matches.begin() + qsizetype(next));
    matches.insert(matches.begin() + qsizetype(keep), fresh.begin(), fresh.end());
    matchesChanged();
}

void EDTextFinder::matchesChanged()
{
    ++m_generation;
    if (m_container)
        m_container->viewport()->update();
    emit matchesDidChange();
}

void EDTextFinder::showBar(bool withReplace)
{
    EDTextView* view = m_client->textView;
    if (!m_bar) {
        m_bar = new EDFindBar(*this, m_container);
        // A new widget goes last in its window's Tab order, after whatever sits beside the text.
        m_bar->placeBeforeInTabOrder(m_container);
    }
    m_incrementalStart.reset();
    // A short selection within one paragraph is what the user wants to find.
    const CharacterRange selected = m_client->firstSelectedRange();
    const QString selectedText = selected.length > 0 && selected.length <= longestSelectionToSearch
        ? view->textContentStorage().substring(
            TextRange(selected.location, selected.location + selected.length))
        : QString();
    if (!selectedText.isEmpty() && !holdsParagraphBreak(selectedText))
        setSearchString(selectedText);
    else if (m_searchString.isEmpty() && !lastSearchString().isEmpty())
        setSearchString(lastSearchString());
    else
        matchesChanged();
    m_bar->setSearchText(m_searchString);
    m_bar->setReplaceText(m_replaceString);
    m_bar->setOptions(m_options);
    m_bar->setReplaceVisible(withReplace && m_client->isEditable());
    m_bar->show();
    m_container->tileFindBar();
    if (m_bar->isReplaceVisible() && !m_searchString.isEmpty())
        m_bar->focusReplaceField();
    else
        m_bar->focusFindField();
}

void EDTextFinder::hideBar()
{
    if (!m_bar || m_bar->isHidden())
        return;
    m_remembered.clear();
    const bool hadFocus = m_bar->isAncestorOf(QApplication::focusWidget());
    m_bar->hide();
    m_container->tileFindBar();
    clearHighlights();
    if (hadFocus)
        m_container->setFocus(Qt::OtherFocusReason);
}

void EDTextFinder::selectMatch(qint64 start)
{
    const CharacterRange range { start, matchLengthAt(start) };
    m_client->setSelectedRanges({ range });
    m_client->scrollRangeToVisible(range);
    emit matchesDidChange();
}

void EDTextFinder::findNext(bool forwards)
{
    m_incrementalStart.reset();
    if (m_matches.empty()) {
        QApplication::beep();
        emit matchesDidChange();
        return;
    }
    const CharacterRange selected = m_client->firstSelectedRange();
    if (forwards) {
        auto it = std::lower_bound(m_matches.begin(), m_matches.end(), selected.location + selected.length);
        selectMatch(it == m_matches.end() ? m_matches.front() : *it);
    } else {
        auto it = std::lower_bound(m_matches.begin(), m_matches.end(), selected.location);
        selectMatch(it == m_matches.begin() ? m_matches.back() : *std::prev(it));
    }
}

void EDTextFinder::replaceCurrent(bool thenFindNext)
{
    const auto current = currentMatch();
    // Replace acts on a match the user has seen selected; otherwise it shows the next one first.
    if (!current) {
        findNext(true);
        return;
    }
    const CharacterRange range { m_matches[*current], matchLengthAt(m_matches[*current]) };
    if (!m_client->shouldReplaceCharacters({ range }, { m_replaceString }))
        return;
    m_client->replaceCharacters(range, m_replaceString);
    // The new text stays selected; replace-and-find goes on from its end.
    const CharacterRange replacement { range.location, m_replaceString.size() };
    if (!thenFindNext) {
        m_client->setSelectedRanges({ replacement });
        return;
    }
    m_client->setSelectedRanges({ CharacterRange { replacement.location + replacement.length, 0 } });
    findNext(true);
}

void EDTextFinder::replaceMatches(const std::vector<qint64>& starts)
{
    if (starts.empty() || !m_client->isEditable())
        return;
    std::vector<CharacterRange> ranges;
    std::vector<qint64> lengths;
    ranges.reserve(starts.size());
    lengths.reserve(starts.size());
    qint64 change = 0;
    for (qint64 start : starts) {
        lengths.push_back(matchLengthAt(start));
        ranges.push_back({ start, lengths.back() });
        change += m_replaceString.size() - lengths.back();
    }
    QStringList strings;
    strings.reserve(qsizetype(starts.size()));
    for (size_t i = 0; i < starts.size(); ++i)
        strings.append(m_replaceString);
    if (!m_client->shouldReplaceCharacters(ranges, strings))
        return;
    const qint64 lengthBefore = m_client->stringLength();
    // The matches follow from where the copies stand, rather than from reading every edit's text.
    m_replacingMatches = true;
    const std::vector<TextRange> placed = m_client->replaceCharacters(ranges, m_replaceString);
    m_replacingMatches = false;
    // Where matches may overlap, or when the text changed otherwise too (a delegate edited it as
    // well), every match is found anew.
    if (m_matchesOverlap || search()->hasFlagAtEdge() || placed.size() != starts.size()
        || m_client->stringLength() != lengthBefore + change) {
        findAll();
        return;
    }
    matchesAfterReplacing(starts, lengths, placed);
}

void EDTextFinder::matchesAfterReplacing(
    const std::vector<qint64>& replaced, const std::vector<qint64>& lengths, const std::vector<TextRange>& placed)
{
    const EDTextSearch& search = *this->search();
    const qint64 n = search.length();
    // A match can start where it meets a copy, or next to one (a whole word looks at its
    // neighbours, a surrogate pair at most).
    constexpr qint64 spare = 2;
    std::vector<TextRange> windows;
    windows.reserve(placed.size());
    for (const TextRange& copy : placed)
        windows.emplace_back(std::max<qint64>(0, copy.location - n - spare), copy.endLocation + spare + 1);
    // Unless a match could take characters from a copy, a whole word could end next to one, or a
    // copy could join what is next to it into one cluster (a combining mark, nothing at all),
    // the text around the copies holds no new match and loses none: what the copies did not touch
    // was there before, and any match in it was found then.
    // A mark after a match that ends in a line break or another control starts a cluster, and one
    // after a copy may not.
    const QString& copy = m_replaceString;
    const bool mayJoin = copy.isEmpty() || copy.front().unicode() >= 0x0300 || copy.front() == u'\n'
        || copy.back().unicode() >= 0x0300 || copy.back() == u'\r'
        || EDTextSearch::isControl(m_searchString.back().unicode());
    if (!m_options.wholeWords && !mayJoin && !search.couldOverlap(m_replaceString))
        windows.clear();
    // The matches that were not replaced move with the copies before them; those in a window are
    // looked at again with the rest of it.
    std::vector<qint64> kept;
    size_t r = 0;
    size_t w = 0;
    qint64 shift = 0;
    for (const qint64 match : m_matches) {
        while (r < replaced.size() && replaced[r] < match)
            shift += m_replaceString.size() - lengths[r++];
        if (r < replaced.size() && replaced[r] == match)
            continue;
        const qint64 moved = match + shift;
        while (w < windows.size() && windows[w].endLocation <= moved)
            ++w;
        if (w < windows.size() && windows[w].location <= moved)
            continue;
        kept.push_back(moved);
    }
    const std::vector<qint64> found = search.inWindows(std::move(windows));
    m_matches.clear();
    m_matches.reserve(kept.size() + found.size());
    std::merge(kept.begin(), kept.end(), found.begin(), found.end(), std::back_inserter(m_matches));
    m_matches.erase(std::unique(m_matches.begin(), m_matches.end()), m_matches.end());
    matchesChanged();
}

void EDTextFinder::prepareHighlights(std::optional<TextRange> visible)
{
    EDTextView* view = m_client ? m_client->textView.data() : nullptr;
    if (!view || !visible || !isFindBarVisible() || m_matches.empty()) {
        if (m_highlighted)
            clearHighlights();
        return;
    }
    if (m_highlighted && m_highlightedGeneration == m_generation && m_highlighted->contains(*visible))
        return;
    platform::TextLayoutManager& manager = view->textLayoutManager();
    if (m_highlighted)
        manager.removeRenderingAttribute(highlightAttribute, *m_highlighted);
    const qint64 n = search()->length();
    const qint64 margin = std::max(visible->length(), highlightMarginUnits);
    TextRange marked(std::max<qint64>(0, visible->location - margin),
        std::min(view->textContentStorage().length(), visible->endLocation + margin));
    auto it = std::lower_bound(m_matches.begin(), m_matches.end(), marked.location - n + 1);
    const qint64 end = marked.endLocation;
    for (; it != m_matches.end() && *it < end; ++it) {
        const TextRange match(*it, *it + matchLengthAt(*it));
        manager.addRenderingAttribute(highlightAttribute, int((it - m_matches.begin()) % 2) + 1, match);
        marked = marked.united(match);
    }
    m_highlighted = marked;
    m_highlightedGeneration = m_generation;
}

void EDTextFinder::clearHighlights()
{
    if (!m_highlighted)
        return;
    EDTextView* view = m_client ? m_client->textView.data() : nullptr;
    if (view) {
        view->textLayoutManager().removeRenderingAttribute(highlightAttribute, *m_highlighted);
        view->viewport()->update();
    }
    m_highlighted.reset();
}
