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
