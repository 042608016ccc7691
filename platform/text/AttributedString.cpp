#include "platform/text/AttributedString.h"

#include <cassert>

namespace platform {

AttributedString::AttributedString(const QString& text, const TextAttributes& attributes)
    : m_text(text)
{
    if (!text.isEmpty())
        m_runs.push_back({ text.size(), attributes });
}

AttributedString AttributedString::mid(qsizetype start, qsizetype length) const
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    AttributedString result;
    if (length == 0)
        return result;
    result.m_text = m_text.mid(start, length);
    qsizetype runStart = 0;
    const qsizetype end = start + length;
    for (const Run& run : m_runs) {
        const qsizetype runEnd = runStart + run.length;
        const qsizetype from = std::max(runStart, start);
        const qsizetype to = std::min(runEnd, end);
        if (from < to)
            result.m_runs.push_back({ to - from, run.attributes });
        if (runEnd >= end)
            break;
        runStart = runEnd;
    }
    return result;
}

void AttributedString::append(const AttributedString& other)
{
    if (other.isEmpty())
        return;
    // Only the junction can merge, so appending piece by piece stays linear.
    m_text += other.m_text;
    auto first = other.m_runs.begin();
    if (!m_runs.empty() && m_runs.back().attributes == first->attributes) {
        m_runs.back().length += first->length;
        ++first;
    }
    m_runs.insert(m_runs.end(), first, other.m_runs.end());
}

size_t AttributedString::splitAt(qsizetype index)
{
    qsizetype runStart = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        if (runStart == index)
            return i;
        const qsizetype runEnd = runStart + m_runs[i].length;
        if (index < runEnd) {
            Run tail { runEnd - index, m_runs[i].attributes };
            m_runs[i].length = index - runStart;
            m_runs.insert(m_runs.begin() + i + 1, std::move(tail));
            return i + 1;
        }
        runStart = runEnd;
    }
    return m_runs.size();
}

void AttributedString::mergeRuns()
{
    std::vector<Run> merged;
    merged.reserve(m_runs.size());
    for (Run& run : m_runs) {
        if (run.length == 0)
            continue;
        if (!merged.empty() && merged.back().attributes == run.attributes)
            merged.back().length += run.length;
        else
            merged.push_back(std::move(run));
    }
    m_runs = std::move(merged);
}

void AttributedString::replace(qsizetype start, qsizetype length, const AttributedString& replacement)
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    if (length == 0 && replacement.isEmpty())
        return;
    const size_t first = splitAt(start);
    const size_t last = splitAt(start + length);
    m_runs.erase(m_runs.begin() + first, m_runs.begin() + last);
    m_runs.insert(m_runs.begin() + first, replacement.m_runs.begin(), replacement.m_runs.end());
    m_text.replace(start, length, replacement.m_text);
    mergeRuns();
}

template<typename Change>
void AttributedString::changeAttributes(qsizetype start, qsizetype length, Change change)
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    if (length == 0)
        return;
    const size_t first = splitAt(start);
    const size_t last = splitAt(start + length);
    for (size_t i = first; i < last; ++i)
        change(m_runs[i].attributes);
    mergeRuns();
}

void AttributedString::setAttributes(const TextAttributes& attributes, qsizetype start, qsizetype length)
{
    changeAttributes(start, length, [&](TextAttributes& target) { target = attributes; });
}

void AttributedString::addAttributes(const TextAttributes& attributes, qsizetype start, qsizetype length)
{
    changeAttributes(start, length, [&](TextAttributes& target) {
        for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
            target.insert(it.key(), it.value());
    });
}

void AttributedString::removeAttribute(const QString& key, qsizetype start, qsizetype length)
{
    changeAttributes(start, length, [&](TextAttributes& target) { target.remove(key); });
}

TextAttributes AttributedString::attributes(qsizetype index, Span* effective) const
{
    qsizetype runStart = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        const qsizetype runEnd = runStart + m_runs[i].length;
        if (index < runEnd || i + 1 == m_runs.size()) {
            if (effective)
                *effective = { runStart, m_runs[i].length };
            return m_runs[i].attributes;
        }
        runStart = runEnd;
    }
    if (effective)
        *effective = { 0, 0 };
    return {};
}

void AttributedString::enumerateAttributes(
    Span span, const std::function<bool(const TextAttributes&, Span)>& body) const
{
    const qsizetype end = std::min(span.start + span.length, m_text.size());
    qsizetype runStart = 0;
    for (const Run& run : m_runs) {
        const qsizetype runEnd = runStart + run.length;
        const qsizetype from = std::max(runStart, span.start);
        const qsizetype to = std::min(runEnd, end);
        if (from < to && !body(run.attributes, { from, to - from }))
            return;
        if (runEnd >= end)
            return;
        runStart = runEnd;
    }
}

void AttributedString::enumerateAttribute(
    const QString& key, Span span, const std::function<bool(const QVariant&, Span)>& body) const
{
    QVariant current;
    Span pending { span.start, 0 };
    bool stopped = false;
    enumerateAttributes(span, [&](const TextAttributes& attributes, Span piece) {
        const QVariant value = attributes.value(key);
        if (pending.length > 0 && value == current) {
            pending.length += piece.length;
            return true;
        }
        if (pending.length > 0 && !body(current, pending)) {
            stopped = true;
            return false;
        }
        current = value;
        pending = piece;
        return true;
    });
    if (!stopped && pending.length > 0)
        body(current, pending);
}

} // namespace platform
