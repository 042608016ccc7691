#pragma once

#include "platform/foundation/Date.h"
#include "platform/foundation/Uuid.h"

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class TDNote;
class TDNoteList;

// Keeps the notes column in the order it shows a project's notes: by date, oldest first, notes of
// one date in their stored order, and a note that repeats the id of one listed before it left out.
//
// A change is followed as the rows it moves: a note added after the others, a note removed and a
// date changed each put in, take out or move one row of the list, at a place found by a binary
// search, so that a change to a project of thousands of notes costs what the rows in view cost.
// The dates are read unobserved; their changes come through `dateChanged` and are applied at the
// next `follow`, together with the change of the stored list. What has no single place to go is
// ordered anew from the stored list: notes put in before others, many changes at once, and any
// list that repeats an id (only a hand-edited library holds one).
//
// Main thread only.
class TDNoteOrder {
public:
    explicit TDNoteOrder(TDNoteList* list);

    // Brings the list to the stored notes as they are now. The rows of notes in `leaving` that are
    // gone close up on a spring.
    void follow(std::span<const std::shared_ptr<TDNote>> stored,
        const std::unordered_set<platform::Uuid>& leaving = {});

    // Hears that the date of `note` changed from `previous`. Returns whether the note is one of the
    // list's, whose row the next `follow` moves.
    bool dateChanged(const TDNote& note, platform::Date previous);

private:
    struct Placed {
        double date;
        // The note's place in the stored order: ties of date go by it. Notes added after the
        // others take the next number, so a removal leaves the others in order.
        std::int64_t sequence;
        std::shared_ptr<TDNote> note;
    };

    static bool before(const Placed& a, const Placed& b);
    // The index in `m_sorted` of `note` placed at `date`, or -1.
    int find(const TDNote* note, double date) const;
    // Where a note of `date` and `sequence` goes among the sorted notes.
    int placeFor(double date, std::int64_t sequence) const;
    void rebuild(
        std::span<const std::shared_ptr<TDNote>> stored, const std::unordered_set<platform::Uuid>& leaving);
    // Counts a listing of `id` in or out, keeping `m_repeatedIds`.
    void countIn(const platform::Uuid& id);
    void countOut(const platform::Uuid& id);

    TDNoteList* const m_list;
    bool m_followed = false;
    // The stored notes as last followed.
    std::vector<std::shared_ptr<TDNote>> m_stored;
    // Every stored note, in the order shown; while no id repeats, exactly the list's notes.
    std::vector<Placed> m_sorted;
    std::int64_t m_nextSequence = 0;
    std::unordered_map<platform::Uuid, int> m_idCounts;
    // How many ids are listed more than once.
    int m_repeatedIds = 0;
    // Notes whose dates changed since the last `follow`, with the date they are sorted by.
    std::vector<std::pair<const TDNote*, double>> m_moved;
};
