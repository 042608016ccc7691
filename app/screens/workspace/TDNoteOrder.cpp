#include "app/screens/workspace/TDNoteOrder.h"

#include "app/model/TDNote.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDNoteList.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// More changes than this at once are ordered anew: one layout of the list rather than many.
constexpr std::size_t maxStepwiseChanges = 64;

double secondsOf(const TDNote& note)
{
    return note.unobservedDate().timeIntervalSinceReferenceDate();
}

} // namespace

TDNoteOrder::TDNoteOrder(TDNoteList* list)
    : m_list(list)
{
}

bool TDNoteOrder::before(const Placed& a, const Placed& b)
{
    if (a.date < b.date)
        return true;
    if (b.date < a.date)
        return false;
    // A date that is not a number (no library writes one) goes last, so that the order stays one.
    const bool aIsNumber = !std::isnan(a.date);
    const bool bIsNumber = !std::isnan(b.date);
    if (aIsNumber != bIsNumber)
        return aIsNumber;
    return a.sequence < b.sequence;
}

int TDNoteOrder::find(const TDNote* note, double date) const
{
    const Placed first { date, std::numeric_limits<std::int64_t>::min(), nullptr };
    const Placed last { date, std::numeric_limits<std::int64_t>::max(), nullptr };
    for (auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), first, before);
         it != m_sorted.end() && !before(last, *it); ++it) {
        if (it->note.get() == note)
            return static_cast<int>(it - m_sorted.begin());
    }
    return -1;
}

int TDNoteOrder::placeFor(double date, std::int64_t sequence) const
{
    const Placed probe { date, sequence, nullptr };
    return static_cast<int>(
        std::lower_bound(m_sorted.begin(), m_sorted.end(), probe, before) - m_sorted.begin());
}

void TDNoteOrder::countIn(const platform::Uuid& id)
{
    if (++m_idCounts[id] == 2)
        ++m_repeatedIds;
}

void TDNoteOrder::countOut(const platform::Uuid& id)
{
    const auto found = m_idCounts.find(id);
    if (found == m_idCounts.end())
        return;
    if (--found->second == 1)
        --m_repeatedIds;
    else if (found->second == 0)
        m_idCounts.erase(found);
}

bool TDNoteOrder::dateChanged(const TDNote& note, platform::Date previous)
{
    if (std::any_of(m_moved.begin(), m_moved.end(), [&](const auto& moved) { return moved.first == &note; }))
        return true;
    const double sortedBy = previous.timeIntervalSinceReferenceDate();
    if (find(&note, sortedBy) < 0)
        return false;
    // Safe to keep by address: `m_sorted` holds the note until the next `follow` has used this.
    m_moved.emplace_back(&note, sortedBy);
    return true;
}

void TDNoteOrder::follow(
    std::span<const std::shared_ptr<TDNote>> stored, const std::unordered_set<platform::Uuid>& leaving)
{
    if (!m_followed)
        return rebuild(stored, leaving);
    // The lists differ only between the notes they begin with and those they end with.
    const std::size_t oldSize = m_stored.size();
    const std::size_t newSize = stored.size();
    std::size_t head = 0;
    while (head < oldSize && head < newSize && m_stored[head] == stored[head])
        ++head;
    std::size_t tail = 0;
    while (head + tail < oldSize && head + tail < newSize
        && m_stored[oldSize - 1 - tail] == stored[newSize - 1 - tail])
        ++tail;
    const std::size_t removed = oldSize - head - tail;
    const std::size_t added = newSize - head - tail;
    if (removed == 0 && added == 0 && m_moved.empty())
        return;
    // A note put in before others would need a place between stored places that are taken.
    if (m_repeatedIds > 0 || (added > 0 && tail > 0) || removed + added + m_moved.size() > maxStepwiseChanges)
        return rebuild(stored, leaving);

    for (const auto& [note, sortedBy] : std::exchange(m_moved, {})) {
        const int from = find(note, sortedBy);
        if (from < 0)
            continue;
        Placed placed = std::move(m_sorted[std::size_t(from)]);
        m_sorted.erase(m_sorted.begin() + from);
        placed.date = secondsOf(*note);
        const int to = placeFor(placed.date, placed.sequence);
        const bool showsDay = TDNoteItem::showsDay(platform::Date(placed.date));
        m_sorted.insert(m_sorted.begin() + to, std::move(placed));
        m_list->moveNote(from, to, showsDay);
    }
    for (std::size_t i = head; i < head + removed; ++i) {
        const std::shared_ptr<TDNote>& note = m_stored[i];
        const int index = find(note.get(), secondsOf(*note));
        if (index < 0)
            return rebuild(stored, leaving);
        countOut(note->id());
        const auto removal
            = leaving.contains(note->id()) ? TDNoteList::Removal::closingUp : TDNoteList::Removal::atOnce;
        m_sorted.erase(m_sorted.begin() + index);
        m_list->removeNote(index, removal);
    }
    m_stored.erase(
        m_stored.begin() + std::ptrdiff_t(head), m_stored.begin() + std::ptrdiff_t(head + removed));
    // Only after the last note kept: the new notes come last in the stored order.
    for (std::size_t i = head; i < head + added; ++i) {
        const std::shared_ptr<TDNote>& note = stored[i];
        countIn(note->id());
        if (m_repeatedIds > 0)
            return rebuild(stored, leaving);
        Placed placed { secondsOf(*note), m_nextSequence++, note };
        const int to = placeFor(placed.date, placed.sequence);
        const bool showsDay = TDNoteItem::showsDay(platform::Date(placed.date));
        m_sorted.insert(m_sorted.begin() + to, std::move(placed));
        m_stored.push_back(note);
        m_list->insertNote(to, { note, showsDay });
    }
}

void TDNoteOrder::rebuild(
    std::span<const std::shared_ptr<TDNote>> stored, const std::unordered_set<platform::Uuid>& leaving)
{
    m_followed = true;
    m_moved.clear();
    m_stored.assign(stored.begin(), stored.end());
    m_sorted.clear();
    m_sorted.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        m_sorted.push_back({ secondsOf(*stored[i]), std::int64_t(i), stored[i] });
    // Sequences are unique: sorting by them too keeps notes of one date in their stored order.
    std::sort(m_sorted.begin(), m_sorted.end(), before);
    m_nextSequence = std::int64_t(stored.size());
    m_idCounts.clear();
    m_idCounts.reserve(stored.size());
    m_repeatedIds = 0;
    for (const auto& note : stored)
        countIn(note->id());

    std::vector<TDNoteList::Entry> entries;
    entries.reserve(m_sorted.size());
    std::unordered_set<platform::Uuid> listed;
    for (const Placed& placed : m_sorted) {
        if (m_repeatedIds > 0 && m_idCounts[placed.note->id()] > 1
            && !listed.insert(placed.note->id()).second)
            continue;
        entries.push_back({ placed.note, TDNoteItem::showsDay(platform::Date(placed.date)) });
    }
    m_list->setNotes(std::move(entries), leaving);
}
