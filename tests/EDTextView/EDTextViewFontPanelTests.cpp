#include "EDTextView/EDFontManager.h"
#include "TextViewTestSupport.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>

using namespace textviewtest;
using platform::TextRange;

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

// The dialog names a face by its style ("Book", "Bold"). A change of family keeps each run's own
// weight and slant, and a change of face gives every run that face's weight, whatever face the
// run was drawn in before.
TEST(EDTextViewFontPanel, AChangeOfFamilyOrFaceKeepsWhatTheUserDidNotChange)
{
    ShownView view("bold plain");
    QFont bold = testFont();
    bold.setBold(true);
    view->addAttributes({ { AttributeKey::font, bold } }, TextRange(0, 4), true);
    view->setSelectedTextRange(TextRange(0, 10));
    const auto drawnLike = [&](qint64 at, QFont::Weight weight) {
        QFont expected("DejaVu Serif");
        expected.setPixelSize(testFont().pixelSize());
        expected.setWeight(weight);
        const QFont font = view->textContentStorage().attributes(at).value(AttributeKey::font).value<QFont>();
        const QString sample = QStringLiteral("Wide MMMM sample");
        return QFontInfo(font).family() == QFontInfo(expected).family()
            && QFontMetricsF(font).horizontalAdvance(sample)
            == QFontMetricsF(expected).horizontalAdvance(sample);
    };
    const QFont sansBook = QFontDatabase::font("DejaVu Sans Mono", "Book", 10);
    const QFont serifBook = QFontDatabase::font("DejaVu Serif", "Book", 10);
    ASSERT_EQ(serifBook.styleName(), "Book") << "the dialog's fonts name their face";
    view->changeFont(EDFontManager(sansBook, serifBook));
    EXPECT_TRUE(drawnLike(1, QFont::Bold));
    EXPECT_TRUE(drawnLike(6, QFont::Normal));

    view->changeFont(EDFontManager(serifBook, QFontDatabase::font("DejaVu Serif", "Bold", 10)));
    EXPECT_TRUE(drawnLike(1, QFont::Bold));
    EXPECT_TRUE(drawnLike(6, QFont::Bold));
}
