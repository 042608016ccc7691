#include "platform/text/TextRenderingAttributes.h"

#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

// The plain model: one attribute set per character position.
using Model = std::vector<TextAttributes>;

// Inserted text carries nothing; the test inserts only where no run could take it in.
void modelEdit(Model& model, TextRange replaced, qint64 inserted)
{
    model.erase(model.begin() + replaced.location, model.begin() + replaced.endLocation);
    model.insert(model.begin() + replaced.location, size_t(inserted), TextAttributes());
}

Model flatten(const TextRenderingAttributes& attributes, qint64 length)
{
    Model model = Model(size_t(length));
    TextLocation last = -1;
    attributes.enumerate(0, false, [&](const TextAttributes& values, TextRange range) {
        EXPECT_GE(range.location, last) << "runs out of order";
        EXPECT_FALSE(range.isEmpty());
        last = range.endLocation;
        for (qint64 at = range.location; at < range.endLocation && at < length; ++at)
            model[size_t(at)] = values;
        return true;
    });
    return model;
}

} // namespace

TEST(TextRenderingAttributes, RandomMarksAndEditsMatchAPerCharacterModel)
{
    std::mt19937 random(17);
    TextRenderingAttributes attributes;
    qint64 length = 2000;
    Model model = Model(size_t(length));
    const QString keys[] = { QStringLiteral("spellingState"), QStringLiteral("highlight") };
    for (int step = 0; step < 6000; ++step) {
        const qint64 start = qint64(random() % (length + 1));
        const qint64 end = std::min(length, start + qint64(random() % 12));
        const TextRange range(start, end);
        const QString key = keys[random() % 2];
        const QVariant value = int(random() % 3);
        switch (random() % 5) {
        case 0:
        case 1:
            attributes.add(key, value, range);
            for (qint64 at = start; at < end; ++at)
                model[size_t(at)].insert(key, value);
            break;
        case 2:
            attributes.remove(key, range);
            for (qint64 at = start; at < end; ++at)
                model[size_t(at)].remove(key);
            break;
        case 3: {
            // Typing inside a run joins it, which a per-character model cannot tell from typing
            // between two runs of one value: insert only where neither can happen (the join
            // itself is the layout manager test's).
            if (start > 0 && start < length && model[size_t(start - 1)] == model[size_t(start)]
                && !model[size_t(start)].isEmpty())
                break;
            const qint64 inserted = qint64(random() % 4);
            attributes.textDidChange(TextRange(start), inserted);
            modelEdit(model, TextRange(start), inserted);
            length += inserted;
            break;
        }
        default: {
            if (range.isEmpty())
                break;
            const qint64 inserted = qint64(random() % 12);
            attributes.textDidChange(range, inserted);
            modelEdit(model, range, inserted);
            length += inserted - range.length();
            break;
        }
        }
        if (step % 50 == 0) {
            ASSERT_EQ(flatten(attributes, length), model) << "step " << step;
        }
    }
    EXPECT_EQ(flatten(attributes, length), model);
    EXPECT_GT(attributes.runCount(), 128); // more than one block was in play

    // Backwards from a location: the runs that start at or before it, last first.
    std::vector<TextLocation> starts;
    attributes.enumerate(length / 2, true, [&](const TextAttributes&, TextRange range) {
        starts.push_back(range.location);
        return starts.size() < 20;
    });
    ASSERT_FALSE(starts.empty());
    EXPECT_LE(starts.front(), length / 2);
    EXPECT_TRUE(std::is_sorted(starts.rbegin(), starts.rend()));
}

// Marks of one kind share one attribute map, however many there are and in whatever order they
// came with other kinds; a mark changed afterwards gets a map of its own and leaves the others be.
TEST(TextRenderingAttributes, IdenticalMarksShareTheirAttributes)
{
    TextRenderingAttributes attributes;
    for (qint64 word = 0; word < 1000; ++word) {
        attributes.add(
            QStringLiteral("spelling"), QStringLiteral("misspelled"), TextRange(word * 10, word * 10 + 4));
        if (word % 7 == 0)
            attributes.add(QStringLiteral("grammar"), 1, TextRange(word * 10 + 5, word * 10 + 8));
    }
    attributes.add(QStringLiteral("find"), true, TextRange(1, 2));

    std::vector<TextAttributes> spelling, grammar;
    attributes.enumerate(0, false, [&](const TextAttributes& values, TextRange) {
        (values.contains(QStringLiteral("grammar")) ? grammar : spelling).push_back(values);
        return true;
    });
    ASSERT_EQ(spelling.size(), 1000u + 2); // the mark at 0 is cut in three by the find mark
    ASSERT_EQ(grammar.size(), 143u);
    for (const auto* kind : { &spelling, &grammar }) {
        const TextAttributes& first = kind == &spelling ? kind->back() : kind->front();
        const size_t shared = size_t(std::count_if(kind->begin(), kind->end(),
            [&](const TextAttributes& each) { return each.isSharedWith(first); }));
        EXPECT_GE(shared, kind->size() - 1) << "only the mark under the find mark differs";
    }
}

// Text removed across thousands of marks (Select All, Delete over a checked note) keeps the marks
// before and after it, the ones it cut shortened, and the later ones moved along.
TEST(TextRenderingAttributes, ARemovalAcrossManyBlocksKeepsTheMarksAtItsEnds)
{
    TextRenderingAttributes attributes;
    for (qint64 word = 0; word < 5000; ++word)
        attributes.add(QStringLiteral("spelling"), 1, TextRange(word * 10, word * 10 + 4));
    attributes.textDidChange(TextRange(22, 49962), 1);
    std::vector<TextRange> runs;
    attributes.enumerate(0, false, [&](const TextAttributes&, TextRange range) {
        runs.push_back(range);
        return true;
    });
    EXPECT_EQ(runs,
        (std::vector<TextRange> { TextRange(0, 4), TextRange(10, 14), TextRange(20, 22), TextRange(23, 25),
            TextRange(31, 35), TextRange(41, 45), TextRange(51, 55) }));
    EXPECT_EQ(attributes.runCount(), 7);
}
