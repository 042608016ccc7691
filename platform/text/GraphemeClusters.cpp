#include "platform/text/GraphemeClusters.h"

#include <unicode/ubrk.h>

#include <algorithm>

namespace platform {

namespace {

// Opening a break iterator loads and compiles its rules; cloning one is cheap.
struct Prototype {
    Prototype()
    {
        UErrorCode status = U_ZERO_ERROR;
        iterator = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status))
            iterator = nullptr;
    }
    ~Prototype()
    {
        if (iterator)
            ubrk_close(iterator);
    }
    Prototype(const Prototype&) = delete;
    Prototype& operator=(const Prototype&) = delete;
    UBreakIterator* iterator = nullptr;
};

} // namespace

GraphemeFinder::GraphemeFinder(const QString& text)
    : m_text(text)
{
    static thread_local Prototype prototype;
    UErrorCode status = U_ZERO_ERROR;
    if (prototype.iterator)
        m_iterator = ubrk_clone(prototype.iterator, &status);
    if (m_iterator)
        ubrk_setText(
            m_iterator, reinterpret_cast<const UChar*>(m_text.utf16()), int32_t(m_text.size()), &status);
    if (U_FAILURE(status) && m_iterator) {
        ubrk_close(m_iterator);
        m_iterator = nullptr;
    }
}

GraphemeFinder::~GraphemeFinder()
{
    if (m_iterator)
        ubrk_close(m_iterator);
}

void GraphemeFinder::setPosition(qsizetype at)
{
    m_position = std::clamp<qsizetype>(at, 0, m_text.size());
}

bool GraphemeFinder::isAtBoundary() const
{
    if (m_position <= 0 || m_position >= m_text.size())
        return true;
    if (!m_iterator)
        return !splitsPair(m_position);
    return ubrk_isBoundary(m_iterator, int32_t(m_position));
}

qsizetype GraphemeFinder::toNextBoundary()
{
    if (m_position >= m_text.size())
        return -1;
    qsizetype next = m_position + 1;
    if (m_iterator)
        next = ubrk_following(m_iterator, int32_t(m_position));
    else if (splitsPair(next))
        ++next;
    return m_position = next == UBRK_DONE ? m_text.size() : next;
}

qsizetype GraphemeFinder::toPreviousBoundary()
{
    if (m_position <= 0)
        return -1;
    qsizetype previous = m_position - 1;
    if (m_iterator) {
        previous = ubrk_preceding(m_iterator, int32_t(m_position));
        // Going back through a run of flags the iterator can stop a flag early (which halves pair
        // up is counted from the run's start); the boundaries after that are taken going forward.
        for (int32_t next = previous == UBRK_DONE ? UBRK_DONE : ubrk_following(m_iterator, int32_t(previous));
             next != UBRK_DONE && next < m_position; next = ubrk_following(m_iterator, next))
            previous = next;
    } else if (splitsPair(previous))
        --previous;
    return m_position = previous == UBRK_DONE ? 0 : previous;
}

bool GraphemeFinder::splitsPair(qsizetype at) const
{
    return at > 0 && at < m_text.size() && m_text[at - 1].isHighSurrogate() && m_text[at].isLowSurrogate();
}

bool isGraphemeBoundary(const QString& text, qsizetype at)
{
    GraphemeFinder finder(text);
    finder.setPosition(at);
    return finder.isAtBoundary();
}

qsizetype graphemeBoundaryAtOrBefore(const QString& text, qsizetype at)
{
    GraphemeFinder finder(text);
    finder.setPosition(at);
    if (finder.isAtBoundary())
        return finder.position();
    return std::max<qsizetype>(finder.toPreviousBoundary(), 0);
}

} // namespace platform
