#include "platform/text/AttributeRuns.h"

#include <algorithm>

namespace platform {

AttributeRuns::AttributeRuns(std::vector<AttributeRun> runs)
    : m_runs(std::move(runs))
{
}

std::vector<AttributeRun> AttributeRuns::mid(qsizetype start, qsizetype length) const
{
    std::vector<AttributeRun> result;
    if (length <= 0)
        return result;
    qsizetype runStart = 0;
    const qsizetype end = start + length;
    for (const AttributeRun& run : m_runs) {
        const qsizetype runEnd = runStart + run.length;
        const qsizetype from = std::max(runStart, start);
        const qsizetype to = std::min(runEnd, end);
        if (from < to)
            result.push_back({ to - from, run.attributes });
        if (runEnd >= end)
            break;
        runStart = runEnd;
    }
    return result;
}

void AttributeRuns::append(const std::vector<AttributeRun>& runs)
{
    auto first = runs.begin();
    if (first == runs.end())
        return;
    if (!m_runs.empty() && m_runs.back().attributes == first->attributes) {
        m_runs.back().length += first->length;
        ++first;
    }
    m_runs.insert(m_runs.end(), first, runs.end());
}

size_t AttributeRuns::splitAt(qsizetype index)
{
    qsizetype runStart = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        if (runStart == index)
            return i;
        const qsizetype runEnd = runStart + m_runs[i].length;
        if (index < runEnd) {
            AttributeRun tail { runEnd - index, m_runs[i].attributes };
            m_runs[i].length = index - runStart;
            m_runs.insert(m_runs.begin() + i + 1, std::move(tail));
            return i + 1;
        }
        runStart = runEnd;
    }
    return m_runs.size();
}

void AttributeRuns::mergeAround(size_t first, size_t last)
{
    if (m_runs.empty())
        return;
    const size_t low = first > 0 ? first - 1 : 0;
    const size_t high = std::min(last, m_runs.size() - 1);
    if (low > high)
        return;
    std::vector<AttributeRun> merged;
    merged.reserve(high - low + 1);
    for (size_t i = low; i <= high; ++i) {
        AttributeRun& run = m_runs[i];
        if (run.length == 0)
            continue;
        if (!merged.empty() && merged.back().attributes == run.attributes)
            merged.back().length += run.length;
        else
            merged.push_back(std::move(run));
    }
    m_runs.erase(m_runs.begin() + low, m_runs.begin() + high + 1);
    m_runs.insert(
        m_runs.begin() + low, std::make_move_iterator(merged.begin()), std::make_move_iterator(merged.end()));
}

void AttributeRuns::replace(qsizetype start, qsizetype length, const std::vector<AttributeRun>& replacement)
{
    const size_t first = splitAt(start);
    const size_t last = splitAt(start + length);
    m_runs.erase(m_runs.begin() + first, m_runs.begin() + last);
    m_runs.insert(m_runs.begin() + first, replacement.begin(), replacement.end());
    mergeAround(first, first + replacement.size());
}

AttributeRuns AttributeRuns::takeTail(qsizetype at)
{
    const size_t first = splitAt(at);
    AttributeRuns tail;
    tail.m_runs.assign(
        std::make_move_iterator(m_runs.begin() + first), std::make_move_iterator(m_runs.end()));
    m_runs.erase(m_runs.begin() + first, m_runs.end());
    return tail;
}

TextAttributes AttributeRuns::attributes(qsizetype index, qsizetype* runStart, qsizetype* runLength) const
{
    qsizetype start = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        const qsizetype end = start + m_runs[i].length;
        if (index < end || i + 1 == m_runs.size()) {
            if (runStart)
                *runStart = start;
            if (runLength)
                *runLength = m_runs[i].length;
            return m_runs[i].attributes;
        }
        start = end;
    }
    if (runStart)
        *runStart = 0;
    if (runLength)
        *runLength = 0;
    return {};
}

} // namespace platform
