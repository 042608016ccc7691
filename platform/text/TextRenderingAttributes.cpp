#include "platform/text/TextRenderingAttributes.h"

#include <algorithm>

namespace platform {

namespace {

// Blocks split in two past this many runs.
constexpr size_t blockLimit = 128;
// Distinct attribute sets remembered for sharing (spelling, grammar, find, and a spare).
constexpr size_t recentAttributesLimit = 4;

} // namespace

size_t TextRenderingAttributes::firstBlockEndingAfter(qint64 location) const
{
    return size_t(std::partition_point(m_blocks.begin(), m_blocks.end(), [&](const Block& block) {
        return block.end() <= location;
    }) - m_blocks.begin());
}

std::vector<TextRenderingAttributes::AbsoluteRun> TextRenderingAttributes::extract(TextRange range)
{
    std::vector<AbsoluteRun> result;
    const size_t firstBlock = firstBlockEndingAfter(range.location);
    size_t b = firstBlock;
    while (b < m_blocks.size() && m_blocks[b].start() < range.endLocation) {
        Block& block = m_blocks[b];
        auto first = std::partition_point(block.runs.begin(), block.runs.end(),
            [&](const Run& run) { return block.base + run.end <= range.location; });
        auto last = first;
        while (last != block.runs.end() && block.base + last->start < range.endLocation) {
            result.push_back(
                { TextRange(block.base + last->start, block.base + last->end), std::move(last->attributes) });
            ++last;
        }
        block.runs.erase(first, last);
        ++b;
    }
    // The blocks emptied go together: one by one, a range over thousands of blocks would move the
    // blocks after it once for each.
    const auto begin = m_blocks.begin() + qsizetype(firstBlock);
    const auto end = m_blocks.begin() + qsizetype(b);
    m_blocks.erase(std::remove_if(begin, end, [](const Block& block) { return block.runs.empty(); }), end);
    return result;
}

void TextRenderingAttributes::share(TextAttributes& attributes)
{
    for (const TextAttributes& recent : m_recentAttributes) {
        if (recent == attributes) {
            attributes = recent;
            return;
        }
    }
    if (m_recentAttributes.size() == recentAttributesLimit)
        m_recentAttributes.erase(m_recentAttributes.begin());
    m_recentAttributes.push_back(attributes);
}

void TextRenderingAttributes::insert(std::vector<AbsoluteRun> runs)
{
    for (AbsoluteRun& run : runs) {
        if (run.range.isEmpty() || run.attributes.isEmpty())
            continue;
        share(run.attributes);
        auto after = std::partition_point(m_blocks.begin(), m_blocks.end(),
            [&](const Block& block) { return block.start() <= run.range.location; });
        if (m_blocks.empty()) {
            m_blocks.push_back({ run.range.location, {} });
            after = m_blocks.end();
        }
        const size_t index = after == m_blocks.begin() ? 0 : size_t(after - m_blocks.begin()) - 1;
        Block& block = m_blocks[index];
        const Run relative { run.range.location - block.base, run.range.endLocation - block.base,
            std::move(run.attributes) };
        auto at = std::partition_point(block.runs.begin(), block.runs.end(),
            [&](const Run& each) { return each.start < relative.start; });
        block.runs.insert(at, relative);
        if (block.runs.size() > blockLimit) {
            const size_t half = block.runs.size() / 2;
            Block tail { block.base + block.runs[half].start, {} };
            tail.runs.reserve(block.runs.size() - half);
            for (size_t i = half; i < block.runs.size(); ++i) {
                Run& moved = block.runs[i];
                tail.runs.push_back({ block.base + moved.start - tail.base,
                    block.base + moved.end - tail.base, std::move(moved.attributes) });
            }
            // Marks come in text order, so a block split behind them seldom grows again: it keeps
            // no room for the half it gave away.
            block.runs.resize(half);
            block.runs.shrink_to_fit();
            m_blocks.insert(m_blocks.begin() + qsizetype(index) + 1, std::move(tail));
        }
    }
}

template<typename Change> void TextRenderingAttributes::change(TextRange range, Change change)
{
    if (range.isEmpty())
        return;
    std::vector<AbsoluteRun> old = extract(range);
    std::vector<AbsoluteRun> result;
    auto append = [&](TextRange piece, TextAttributes attributes) {
        if (piece.isEmpty() || attributes.isEmpty())
            return;
        if (!result.empty() && result.back().range.endLocation == piece.location
            && result.back().attributes == attributes) {
            result.back().range.endLocation = piece.endLocation;
            return;
        }
        result.push_back({ piece, std::move(attributes) });
    };
    TextLocation at = range.location;
    for (AbsoluteRun& run : old) {
        if (run.range.location < range.location)
            append(TextRange(run.range.location, range.location), run.attributes);
        const TextRange overlap(
            std::max(run.range.location, range.location), std::min(run.range.endLocation, range.endLocation));
        if (overlap.location > at)
            append(TextRange(at, overlap.location), change(TextAttributes()));
        append(overlap, change(run.attributes));
        at = overlap.endLocation;
    }
    if (at < range.endLocation)
        append(TextRange(at, range.endLocation), change(TextAttributes()));
    if (!old.empty() && old.back().range.endLocation > range.endLocation)
        append(TextRange(range.endLocation, old.back().range.endLocation), old.back().attributes);
    insert(std::move(result));
}

void TextRenderingAttributes::set(const TextAttributes& attributes, TextRange range)
{
    change(range, [&](const TextAttributes&) { return attributes; });
}

void TextRenderingAttributes::add(const QString& key, const QVariant& value, TextRange range)
{
    change(range, [&](TextAttributes attributes) {
        attributes.insert(key, value);
        return attributes;
    });
}

void TextRenderingAttributes::remove(const QString& key, TextRange range)
{
    change(range, [&](TextAttributes attributes) {
        attributes.remove(key);
        return attributes;
    });
}

void TextRenderingAttributes::clear()
{
    m_blocks.clear();
    m_recentAttributes.clear();
}

qsizetype TextRenderingAttributes::runCount() const
{
    qsizetype count = 0;
    for (const Block& block : m_blocks)
        count += qsizetype(block.runs.size());
    return count;
}

void TextRenderingAttributes::enumerate(
    TextLocation from, bool reverse, const std::function<bool(const TextAttributes&, TextRange)>& body) const
{
    if (!reverse) {
        for (size_t b = firstBlockEndingAfter(from); b < m_blocks.size(); ++b) {
            const Block& block = m_blocks[b];
            auto run = std::partition_point(block.runs.begin(), block.runs.end(),
                [&](const Run& each) { return block.base + each.end <= from; });
            for (; run != block.runs.end(); ++run) {
                if (!body(run->attributes, TextRange(block.base + run->start, block.base + run->end)))
                    return;
            }
        }
        return;
    }
    auto after = std::partition_point(
        m_blocks.begin(), m_blocks.end(), [&](const Block& block) { return block.start() <= from; });
    for (auto block = std::make_reverse_iterator(after); block != m_blocks.rend(); ++block) {
        auto end = std::partition_point(block->runs.begin(), block->runs.end(),
            [&](const Run& each) { return block->base + each.start <= from; });
        for (auto run = std::make_reverse_iterator(end); run != block->runs.rend(); ++run) {
            if (!body(run->attributes, TextRange(block->base + run->start, block->base + run->end)))
                return;
        }
    }
}

void TextRenderingAttributes::textDidChange(TextRange replaced, qint64 inserted)
{
    const qint64 delta = inserted - replaced.length();
    std::vector<AbsoluteRun> kept;
    if (!replaced.isEmpty()) {
        // A replacement drops whatever the runs had over the replaced characters.
        for (AbsoluteRun& run : extract(replaced)) {
            if (run.range.location < replaced.location)
                kept.push_back({ TextRange(run.range.location, replaced.location), run.attributes });
            if (run.range.endLocation > replaced.endLocation)
                kept.push_back({ TextRange(replaced.endLocation + delta, run.range.endLocation + delta),
                    std::move(run.attributes) });
        }
    }
    if (delta != 0) {
        const TextLocation at = replaced.isEmpty() ? replaced.location : replaced.endLocation;
        for (size_t b = firstBlockEndingAfter(replaced.location); b < m_blocks.size(); ++b) {
            Block& block = m_blocks[b];
            if (block.start() >= at) {
                block.base += delta;
                continue;
            }
            for (Run& run : block.runs) {
                if (block.base + run.start >= at)
                    run.start += delta;
                if (block.base + run.end > replaced.location)
                    run.end += delta;
            }
        }
    }
    insert(std::move(kept));
}

} // namespace platform
