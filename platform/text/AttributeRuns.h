#pragma once

#include "platform/text/TextAttributes.h"

#include <QtGlobal>

#include <vector>

namespace platform {

struct AttributeRun {
    qsizetype length = 0;
    TextAttributes attributes;
    bool operator==(const AttributeRun&) const = default;
};

// The attribute runs of a text, apart from its characters. The runs cover the text exactly and
// adjacent runs never carry equal attributes, so text typed in one style stays one run however it
// was edited. Offsets and lengths are in UTF-16 units and must lie inside the text.
class AttributeRuns {
public:
    AttributeRuns() = default;
    explicit AttributeRuns(std::vector<AttributeRun> runs);

    const std::vector<AttributeRun>& list() const { return m_runs; }
    bool isEmpty() const { return m_runs.empty(); }

    std::vector<AttributeRun> mid(qsizetype start, qsizetype length) const;
    // Appends, merging the junction only, so that appending piece by piece stays linear.
    void append(const std::vector<AttributeRun>& runs);
    void replace(qsizetype start, qsizetype length, const std::vector<AttributeRun>& replacement);
    // Cuts the runs at `at`: these keep what is before, the answer holds the rest.
    AttributeRuns takeTail(qsizetype at);

    // Calls `change(TextAttributes&)` for every run inside the span, then merges equal neighbours.
    template<typename Change> void change(qsizetype start, qsizetype length, Change change)
    {
        if (length <= 0)
            return;
        const size_t first = splitAt(start);
        const size_t last = splitAt(start + length);
        for (size_t i = first; i < last; ++i)
            change(m_runs[i].attributes);
        mergeAround(first, last);
    }

    // The attributes at an index (the last run's at the end); `runStart` and `runLength` receive
    // the run's span.
    TextAttributes attributes(
        qsizetype index, qsizetype* runStart = nullptr, qsizetype* runLength = nullptr) const;

    bool operator==(const AttributeRuns&) const = default;

private:
    // Splits the run containing `index` so that a run starts there; returns that run's position.
    size_t splitAt(qsizetype index);
    // Drops empty runs and merges equal neighbours among runs [first - 1, last].
    void mergeAround(size_t first, size_t last);

    std::vector<AttributeRun> m_runs;
};

} // namespace platform
