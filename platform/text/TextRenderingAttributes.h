#pragma once

#include "platform/text/TextAttributes.h"
#include "platform/text/TextRange.h"

#include <functional>
#include <vector>

namespace platform {

// Attributes that only change how text is drawn (spelling marks, find highlights), kept apart from
// the text as runs over ranges that never overlap. Runs live in blocks of a few dozen, each with an
// offset of its own: adding or removing a run costs a binary search plus work inside one block, and
// an edit shifts the runs after it by moving block offsets, so a document with tens of thousands
// of marks stays cheap to mark and to type in.
class TextRenderingAttributes {
public:
    // Replaces whatever covers `range` with `attributes` (nothing when they are empty).
    void set(const TextAttributes& attributes, TextRange range);
    // Adds `key` over `range`, keeping the other attributes of the runs there.
    void add(const QString& key, const QVariant& value, TextRange range);
    void remove(const QString& key, TextRange range);
    void clear();

    // Runs that end after `from`, in order; with `reverse`, runs that start at or before it,
    // backwards. `body` answers false to stop.
    void enumerate(TextLocation from, bool reverse,
        const std::function<bool(const TextAttributes&, TextRange)>& body) const;
    qsizetype runCount() const;

    // Follows an edit that replaced `replaced` with `inserted` units: runs after it move, what it
    // replaced goes, and text typed inside a run joins it while text typed right after one does not.
    void textDidChange(TextRange replaced, qint64 inserted);

private:
    struct Run {
        qint64 start = 0; // relative to the block's base
        qint64 end = 0;
        TextAttributes attributes;
    };
    struct Block {
        qint64 base = 0;
        std::vector<Run> runs;
        qint64 start() const { return base + runs.front().start; }
        qint64 end() const { return base + runs.back().end; }
    };
    struct AbsoluteRun {
        TextRange range;
        TextAttributes attributes;
    };

    // Takes out the runs that meet `range` (whole), in order.
    std::vector<AbsoluteRun> extract(TextRange range);
    void insert(std::vector<AbsoluteRun> runs);
    void share(TextAttributes& attributes);
    size_t firstBlockEndingAfter(qint64 location) const;
    template<typename Change> void change(TextRange range, Change change);

    std::vector<Block> m_blocks;
    // The attributes of the runs inserted last. A run whose attributes equal one of them takes a
    // copy that shares its data: the hundreds of thousands of spelling marks of a long note then
    // hold one map between them, not one each.
    std::vector<TextAttributes> m_recentAttributes;
};

} // namespace platform
