#include "platform/text/AttributedString.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const TextAttributes red { { AttributeKey::foregroundColor, QColor(Qt::red) } };
const TextAttributes blue { { AttributeKey::foregroundColor, QColor(Qt::blue) } };

} // namespace

TEST(AttributedString, AdjacentEqualRunsMerge)
{
    AttributedString text("abc", red);
    text.append(AttributedString("def", red));
    text.insert(3, AttributedString("X", red));
    EXPECT_EQ(text.string(), "abcXdef");
    ASSERT_EQ(text.runs().size(), 1u);
    EXPECT_EQ(text.runs()[0].length, 7);

    text.setAttributes(blue, 2, 3);
    ASSERT_EQ(text.runs().size(), 3u);
    text.setAttributes(red, 2, 3);
    EXPECT_EQ(text.runs().size(), 1u);
}

TEST(AttributedString, ReplaceKeepsRunsAroundTheEdit)
{
    AttributedString text("aaa", red);
    text.append(AttributedString("bbb", blue));
    text.replace(2, 2, AttributedString("Z"));
    EXPECT_EQ(text.string(), "aaZbb");
    ASSERT_EQ(text.runs().size(), 3u);
    EXPECT_EQ(text.attributes(1), red);
    EXPECT_TRUE(text.attributes(2).isEmpty());
    EXPECT_EQ(text.attributes(3), blue);
    text.remove(0, 5);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_TRUE(text.runs().empty());
}

TEST(AttributedString, MidAndEnumerationClipToTheRange)
{
    AttributedString text("aaa", red);
    text.append(AttributedString("bbb", blue));
    const AttributedString middle = text.mid(2, 2);
    EXPECT_EQ(middle.string(), "ab");
    ASSERT_EQ(middle.runs().size(), 2u);

    std::vector<AttributedString::Span> spans;
    text.enumerateAttributes({ 1, 4 }, [&](const TextAttributes&, AttributedString::Span span) {
        spans.push_back(span);
        return true;
    });
    const std::vector<AttributedString::Span> expected { { 1, 2 }, { 3, 2 } };
    EXPECT_EQ(spans, expected);

    AttributedString::Span effective;
    text.attributes(4, &effective);
    EXPECT_EQ(effective, (AttributedString::Span { 3, 3 }));
}

TEST(AttributedString, EnumerateOneAttributeJoinsRunsWithTheSameValue)
{
    AttributedString text("aaa", red);
    text.append(AttributedString(
        "bbb", { { AttributeKey::foregroundColor, QColor(Qt::red) }, { AttributeKey::underlineStyle, 1 } }));
    text.append(AttributedString("ccc"));
    std::vector<std::pair<QVariant, AttributedString::Span>> found;
    text.enumerateAttribute(AttributeKey::foregroundColor, { 0, text.length() },
        [&](const QVariant& value, AttributedString::Span span) {
            found.push_back({ value, span });
            return true;
        });
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].second, (AttributedString::Span { 0, 6 }));
    EXPECT_FALSE(found[1].first.isValid());
}

TEST(AttributedString, AddAndRemoveAttributeWorkPerRun)
{
    AttributedString text("abcdef", red);
    text.addAttributes({ { AttributeKey::underlineStyle, 1 } }, 1, 2);
    EXPECT_EQ(text.runs().size(), 3u);
    EXPECT_EQ(text.attributes(1).value(AttributeKey::foregroundColor), QColor(Qt::red));
    text.removeAttribute(AttributeKey::underlineStyle, 0, 6);
    EXPECT_EQ(text.runs().size(), 1u);
}

TEST(AttributedString, EqualityComparesTextAndRuns)
{
    const AttributedString text("abc", red);
    EXPECT_EQ(text, AttributedString("abc", red));
    EXPECT_NE(text, AttributedString("abc", blue));
    AttributedString pieced("ab", red);
    pieced.append(AttributedString("c", red));
    EXPECT_EQ(text, pieced);
}
