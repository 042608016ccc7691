#include "platform/text/TextLayoutMemory.h"

#include "platform/text/TextLayoutPiece.h"

namespace platform {

namespace {

// The most recent layouts are never dropped, so that code working through a few pieces in turn
// (a row of an unwrapped paragraph, a caret move across a piece boundary) does not shape them over
// and over on a small budget.
constexpr qsizetype layoutsAlwaysKept = 8;

} // namespace

void TextLayoutMemory::setBudget(qint64 bytes)
{
    m_budget = std::max<qint64>(0, bytes);
    trim();
}

TextLayoutMemory::Position TextLayoutMemory::add(const TextLayoutPiece* piece, qint64 bytes)
{
    m_recency.push_front(piece);
    m_bytes += bytes;
    const Position position = m_recency.begin();
    trim();
    return position;
}

void TextLayoutMemory::touch(Position position)
{
    m_recency.splice(m_recency.begin(), m_recency, position);
}

void TextLayoutMemory::remove(Position position, qint64 bytes)
{
    m_recency.erase(position);
    m_bytes -= bytes;
}

void TextLayoutMemory::trim()
{
    while (m_bytes > m_budget && qsizetype(m_recency.size()) > layoutsAlwaysKept)
        m_recency.back()->release(); // removes itself
}

} // namespace platform
