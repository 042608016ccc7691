#include "platform/text/AttributedString.h"

#include <algorithm>

namespace platform {

AttributedString::AttributedString(const QString& text, const TextAttributes& attributes)
    : m_text(text)
{
    if (!text.isEmpty())
        m_runs = AttributeRuns({ { text.size(), attributes } });
}

AttributedString::AttributedString(QString text, AttributeRuns runs)
    : m_text(std::move(text))
    , m_runs(std::move(runs))
{
}

AttributedString AttributedString::mid(qsizetype start, qsizetype length) const
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    if (length == 0)
        return {};
    return AttributedString(m_text.mid(start, length), AttributeRuns(m_runs.mid(start, length)));
}

void AttributedString::append(const AttributedString& other)
{
    if (other.isEmpty())
        return;
    m_text += other.m_text;
    m_runs.append(other.runs());
}

void AttributedString::replace(qsizetype start, qsizetype length, const AttributedString& replacement)
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    if (length == 0 && replacement.isEmpty())
        return;
    m_runs.replace(start, length, replacement.runs());
    m_text.replace(start, length, replacement.m_text);
}

template<typename Change>
void AttributedString::changeAttributes(qsizetype start, qsizetype length, Change change)
{
    start = std::clamp<qsizetype>(start, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - start);
    m_runs.change(start, length, change);
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
    qsizetype runLength = 0;
    TextAttributes result = m_runs.attributes(index, &runStart, &runLength);
    if (effective)
        *effective = { runStart, runLength };
    return result;
}

void AttributedString::enumerateAttributes(
    Span span, const std::function<bool(const TextAttributes&, Span)>& body) const
{
    const qsizetype end = std::min(span.start + span.length, m_text.size());
    qsizetype runStart = 0;
    for (const Run& run : m_runs.list()) {
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
