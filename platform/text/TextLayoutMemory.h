#pragma once

#include <QtGlobal>

#include <list>

namespace platform {

class TextLayoutPiece;

// Keeps the memory that laid-out pieces of text hold (their shaped glyphs) within a budget. A piece
// whose layout is dropped keeps its line measurements and lays itself out again when it is next
// drawn or hit-tested, so the budget only costs time, never correctness.
//
// One ledger is shared by a layout manager and the pieces it made; all of it runs on the thread
// that owns the layout manager.
class TextLayoutMemory {
public:
    explicit TextLayoutMemory(qint64 budgetBytes)
        : m_budget(budgetBytes)
    {
    }
    TextLayoutMemory(const TextLayoutMemory&) = delete;
    TextLayoutMemory& operator=(const TextLayoutMemory&) = delete;

    qint64 budget() const { return m_budget; }
    void setBudget(qint64 bytes);
    qint64 bytesInUse() const { return m_bytes; }
    qsizetype layoutCount() const { return qsizetype(m_recency.size()); }

private:
    friend class TextLayoutPiece;
    using Position = std::list<const TextLayoutPiece*>::iterator;

    // Records a piece's new layout as the most recently used, then trims.
    Position add(const TextLayoutPiece* piece, qint64 bytes);
    void touch(Position position);
    void remove(Position position, qint64 bytes);
    void trim();

    std::list<const TextLayoutPiece*> m_recency; // most recently used first
    qint64 m_bytes = 0;
    qint64 m_budget = 0;
};

} // namespace platform
