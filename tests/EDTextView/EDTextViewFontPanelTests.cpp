#include "TextViewTestSupport.h"

using namespace textviewtest;

namespace AttributeKey = platform::AttributeKey;

// Ctrl+U at a caret underlines what is typed next, and again stops it, as the font and colour
// dialogs do for the font and the colour; the text already there keeps its look.
TEST(EDTextViewFontPanel, UnderlineAtACaretIsForWhatIsTypedNext)
{
    ShownView view("plain");
    view.setCaret(5);
    auto underlined = [&](qint64 at) {
        return view->textContentStorage().attributes(at).contains(AttributeKey::underlineStyle);
    };
    QTest::keyClick(view.view.get(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_FALSE(underlined(4));
    QTest::keyClicks(view.view.get(), "ab");
    EXPECT_TRUE(underlined(6));
    EXPECT_EQ(view->textContentStorage().attributes(5).value(AttributeKey::underlineStyle).toInt(), 1);
    QTest::keyClick(view.view.get(), Qt::Key_U, Qt::ControlModifier);
    QTest::keyClicks(view.view.get(), "c");
    EXPECT_FALSE(underlined(7));
    EXPECT_EQ(view->string(), "plainabc");
}
