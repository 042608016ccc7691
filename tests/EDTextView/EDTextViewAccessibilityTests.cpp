#include "EDTextView/EDTextViewAccessible.h"
#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QAccessible>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;
using platform::TextSelection;
using Boundary = QAccessible::TextBoundaryType;

namespace {

QAccessibleInterface* accessible(ShownView& view)
{
    return QAccessible::queryAccessibleInterface(view.view.get());
}

// "text [start, end)", as a reader receives a piece of text.
enum class Where { at, before, after };
QString piece(QAccessibleTextInterface* text, int offset, Boundary type, Where where = Where::at)
{
    int start = 0;
    int end = 0;
    const QString found = where == Where::at ? text->textAtOffset(offset, type, &start, &end)
        : where == Where::before             ? text->textBeforeOffset(offset, type, &start, &end)
                                             : text->textAfterOffset(offset, type, &start, &end);
    return QStringLiteral("%1 [%2, %3)").arg(found).arg(start).arg(end);
}

struct Refusing : EDTextViewDelegate {
    bool textViewShouldChangeText(EDTextView&, TextRange, const QString&) override { return false; }
};

} // namespace

// A screen reader finds one text area: its role and states follow the view's editability, its
// text and caret are the view's, and the selection reads in document order.
TEST(EDTextViewAccessibility, ScreenReadersSeeOneTextAreaWithItsTextCaretAndSelection)
{
    ShownView view("Hello wonderful world\nSecond line");
    QAccessibleInterface* area = accessible(view);
    ASSERT_NE(dynamic_cast<EDTextViewAccessible*>(area), nullptr);
    EXPECT_EQ(area->role(), QAccessible::EditableText);
    EXPECT_EQ(area->text(QAccessible::Name), "Text Editor");
    EXPECT_EQ(area->text(QAccessible::Value), view->string());
    EXPECT_TRUE(area->state().editable && area->state().multiLine && area->state().focused);
    for (int index = 0; index < area->childCount(); ++index)
        EXPECT_NE(area->child(index)->object(), view->viewport()) << "the text area is the view itself";
    const QPoint inText = view->viewport()->mapToGlobal(view.pointOf(3));
    EXPECT_EQ(area->childAt(inText.x(), inText.y()), nullptr);

    QAccessibleTextInterface* text = area->textInterface();
    view.setCaret(15);
    EXPECT_EQ(text->cursorPosition(), 15);
    EXPECT_EQ(text->selectionCount(), 0);
    EXPECT_EQ(view->accessibilitySelectedText(), "");
    // Selected with Shift+Left, the caret is at the range's start, where it moves.
    for (int step = 0; step < 9; ++step)
        QTest::keyClick(view.view.get(), Qt::Key_Left, Qt::ShiftModifier);
    int start = 0;
    int end = 0;
    text->selection(0, &start, &end);
    EXPECT_EQ(text->text(start, end), "wonderful");
    EXPECT_EQ(text->cursorPosition(), 6);
    EXPECT_EQ(view->accessibilitySelectedTextRange(), (CharacterRange { 6, 9 }));
    // Two ranges selected last to first read first to last.
    view->textLayoutManager().setTextSelections(
        { TextSelection(TextRange(29, 33)), TextSelection(TextRange(0, 3)) });
    EXPECT_EQ(view->accessibilitySelectedText(), "Hel\nline");
    EXPECT_EQ(text->selectionCount(), 2);

    view->setIsEditable(false);
    EXPECT_EQ(area->role(), QAccessible::EditableText) << "still a text area, read by caret";
    EXPECT_TRUE(area->state().readOnly && !area->state().editable && !area->state().disabled);
    EXPECT_EQ(area->editableTextInterface(), nullptr);
    view->setIsSelectable(false);
    EXPECT_EQ(area->role(), QAccessible::StaticText);
    EXPECT_TRUE(area->state().disabled) << "neither editable nor selectable";
}

// The view's own answers count characters as a reader perceives them; every range, and what Qt
// is given, counts UTF-16 units.
TEST(EDTextViewAccessibility, CountsPerceivedCharactersWhileRangesStayInUtf16)
{
    ShownView view(QString::fromUtf8("cafe\u0301 \U0001F600!"));
    EXPECT_EQ(view->accessibilityNumberOfCharacters(), 7);
    EXPECT_EQ(accessible(view)->textInterface()->characterCount(), 9);
    EXPECT_EQ(view->accessibilityValue().size(), 9);
    // After Thai, a flag and a family of joined emoji are still one character each, to the count
    // and to a reader moving by character.
    const QString thai = QString::fromUtf8("\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35");
    view->setString(
        thai + QString::fromUtf8("\U0001F1F9\U0001F1ED\U0001F468\u200D\U0001F469\u200D\U0001F467"));
    view.settle();
    EXPECT_EQ(view->accessibilityNumberOfCharacters(), 6);
    QAccessibleTextInterface* reader = accessible(view)->textInterface();
    EXPECT_EQ(piece(reader, 8, Boundary::CharBoundary), QString::fromUtf8("\U0001F1F9\U0001F1ED [6, 10)"));
    EXPECT_EQ(piece(reader, 13, Boundary::CharBoundary).right(8), "[10, 18)");

    view->setString("abcdefghij");
    view.settle();
    EXPECT_EQ(view->accessibilityString({ 8, 100 }), "ij");
    EXPECT_EQ(view->accessibilityString({ 20, 5 }), std::nullopt) << "not the whole text";
    EXPECT_EQ(view->accessibilityVisibleCharacterRange(), (CharacterRange { 0, 10 }));
    view->setAccessibilitySelectedTextRange({ 2, 3 });
    view->setAccessibilitySelectedTextRange({ 40, 1 });
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(2, 5) }));
}

// A reader moves by character, word, sentence, row as drawn and paragraph, and at the text's end
// still finds the last piece.
TEST(EDTextViewAccessibility, TextAtBeforeAndAfterAnOffsetByEveryBoundary)
{
    ShownView view("One two. Three four!\nNext paragraph here");
    QAccessibleTextInterface* text = accessible(view)->textInterface();
    view.setCaret(9);
    const std::tuple<int, Boundary, Where, QString> cases[] = {
        { 0, Boundary::CharBoundary, Where::at, "O [0, 1)" },
        { 40, Boundary::CharBoundary, Where::at, " [40, 40)" },
        { 40, Boundary::CharBoundary, Where::before, "e [39, 40)" },
        { 5, Boundary::WordBoundary, Where::at, "two [4, 7)" },
        { 5, Boundary::WordBoundary, Where::before, "  [3, 4)" },
        { 5, Boundary::WordBoundary, Where::after, ". [7, 8)" },
        { 40, Boundary::WordBoundary, Where::at, "here [36, 40)" },
        { -2, Boundary::WordBoundary, Where::at, "Three [9, 14)" }, // the caret
        { 99, Boundary::WordBoundary, Where::at, " [-1, -1)" },
        { 10, Boundary::SentenceBoundary, Where::at, "Three four!\n [9, 21)" },
        { 3, Boundary::ParagraphBoundary, Where::after, "Next paragraph here [21, 40)" },
        { -1, Boundary::LineBoundary, Where::at, "Next paragraph here [21, 40)" },
        { 2, Boundary::LineBoundary, Where::before, " [0, 0)" },
        { 30, Boundary::LineBoundary, Where::after, " [40, 40)" },
    };
    for (const auto& [offset, type, where, expected] : cases)
        EXPECT_EQ(piece(text, offset, type, where), expected) << offset << " " << int(type);

    // Lines are the rows the view draws.
    view->setString(QString("word ").repeated(60));
    view->resize(200, 300);
    view.settle();
    int start = 0;
    int end = 0;
    text->textAtOffset(0, Boundary::LineBoundary, &start, &end);
    EXPECT_TRUE(start == 0 && end > 5 && end < 300) << end;
    EXPECT_EQ(
        piece(text, 0, Boundary::LineBoundary, Where::after).section(' ', -2, -2), QString("[%1,").arg(end));

    // A word deep inside a paragraph of megabytes is found without reading the paragraph.
    view->setString(QString("abc ").repeated(500'000) + "needle " + QString("xyz ").repeated(500'000));
    EXPECT_EQ(piece(text, 2'000'003, Boundary::WordBoundary), "needle [2000000, 2000006)");
}

// A reader edits as the user types: undoably, and refused by a read-only view and by the delegate;
// the value is set only by a string. Its selections and caret are the view's.
TEST(EDTextViewAccessibility, ReadersEditAndSelectUnderTheUsersRules)
{
    ShownView view("Hello world");
    QAccessibleInterface* area = accessible(view);
    QAccessibleEditableTextInterface* editable = area->editableTextInterface();
    ASSERT_NE(editable, nullptr);
    // Each request arrives as an event of its own, as it does from the accessibility bus.
    editable->insertText(5, ",");
    EXPECT_EQ(area->textInterface()->cursorPosition(), 6);
    view.settle();
    editable->replaceText(7, 12, "there");
    view.settle();
    editable->deleteText(0, 7);
    view.settle();
    EXPECT_EQ(view->string(), "there");
    view->undoManager()->undo();
    EXPECT_EQ(view->string(), "Hello, there");
    view->setAccessibilityValue(QVariant(42));
    area->setText(QAccessible::Value, "Replaced");
    EXPECT_EQ(view->string(), "Replaced");
    view.settle();
    view->undoManager()->undo();
    EXPECT_EQ(view->string(), "Hello, there") << "a reader's replacement is one undo away";

    const auto refusing = std::make_shared<Refusing>();
    view->setDelegate(refusing);
    editable->insertText(0, "x");
    area->setText(QAccessible::Value, "Replaced");
    view->setDelegate(nullptr);
    view->setIsEditable(false);
    view->setAccessibilityValue(QString("Replaced"));
    EXPECT_EQ(view->string(), "Hello, there");

    QAccessibleTextInterface* text = area->textInterface();
    text->setSelection(0, 7, 12);
    text->addSelection(0, 5);
    EXPECT_EQ(view->accessibilitySelectedText(), "Hello\nthere");
    text->removeSelection(1);
    text->removeSelection(0);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(5) })) << "the caret stays";
    text->setCursorPosition(500);
    EXPECT_EQ(text->cursorPosition(), 12);
    const QRect box = text->characterRect(0);
    EXPECT_EQ(text->offsetAtPoint(box.center() - QPoint(box.width() / 4, 0)), 0);
}

// A reader's offsets may fall inside a surrogate pair or a CR LF; the caret and the selection it
// sets then take whole characters, so what the user types next leaves the emoji whole.
TEST(EDTextViewAccessibility, AReadersCaretOrSelectionNeverCutsACharacterInTwo)
{
    ShownView view(QStringLiteral("a\U0001F600b\r\nc"));
    QAccessibleTextInterface* text = accessible(view)->textInterface();
    text->setCursorPosition(2);
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(1) });
    text->setSelection(0, 2, 5);
    EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(1, 6) });
    view->setAccessibilitySelectedTextRange({ 2, 0 });
    QTest::keyClicks(view.view.get(), "X");
    EXPECT_EQ(view->string(), QStringLiteral("aX\U0001F600b\r\nc"));
}

// Deep in a long run of flags a reader still hears each flag, not the halves of two neighbours
// paired the wrong way.
TEST(EDTextViewAccessibility, CharactersDeepInARunOfFlagsPairFromTheRunsStart)
{
    const QString flag = QStringLiteral("\U0001F1EB\U0001F1F7");
    ShownView view(flag.repeated(40) + "x");
    QAccessibleTextInterface* text = accessible(view)->textInterface();
    EXPECT_EQ(piece(text, 102, Boundary::CharBoundary), flag + " [100, 104)");
    EXPECT_EQ(piece(text, 102, Boundary::CharBoundary, Where::before), flag + " [96, 100)");
    EXPECT_EQ(piece(text, 102, Boundary::CharBoundary, Where::after), flag + " [104, 108)");
    EXPECT_EQ(piece(text, 158, Boundary::CharBoundary), flag + " [156, 160)");
}

namespace {

// What a screen reader is told of the caret, while one listens.
QStringList caretsTold;
void recordCaret(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::TextCaretMoved)
        caretsTold << QString::number(static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition());
}

} // namespace

// Text a reader inserts away from the caret moves the caret once, to after that text; the old
// caret pushed along by the edit is no move to speak.
TEST(EDTextViewAccessibility, AReadersEditTellsTheCaretOnceWhereItEnds)
{
    ShownView view("Hello world");
    view.setCaret(5);
    if (QGuiApplication::platformName() != "xcb"
        || !QTest::qWaitFor([] { return QAccessible::isActive(); }, 5000))
        GTEST_SKIP() << "no accessibility bus listens here";
    QAccessible::installUpdateHandler(recordCaret);
    QAccessibleEditableTextInterface* editable = accessible(view)->editableTextInterface();
    editable->insertText(0, "ab");
    view.settle();
    editable->replaceText(9, 10, "W");
    view.settle();
    editable->insertText(10, "!");
    view.settle();
    QAccessible::installUpdateHandler(nullptr);
    EXPECT_EQ(caretsTold, (QStringList { "2", "10", "11" }));
}
