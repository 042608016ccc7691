#include "EDTextView/EDTextViewAccessible.h"
#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QAccessible>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;
using platform::TextSelection;

namespace {

QAccessibleInterface* accessible(ShownView& view)
{
    return QAccessible::queryAccessibleInterface(view.view.get());
}

QAccessibleTextInterface* textOf(ShownView& view)
{
    return accessible(view)->textInterface();
}

struct Piece {
    QString text;
    int start;
    int end;
    bool operator==(const Piece&) const = default;
};

void PrintTo(const Piece& piece, std::ostream* out)
{
    *out << '"' << piece.text.toStdString() << "\" [" << piece.start << ", " << piece.end << ')';
}

Piece at(QAccessibleTextInterface* text, int offset, QAccessible::TextBoundaryType type)
{
    Piece piece { {}, 0, 0 };
    piece.text = text->textAtOffset(offset, type, &piece.start, &piece.end);
    return piece;
}

Piece before(QAccessibleTextInterface* text, int offset, QAccessible::TextBoundaryType type)
{
    Piece piece { {}, 0, 0 };
    piece.text = text->textBeforeOffset(offset, type, &piece.start, &piece.end);
    return piece;
}

Piece after(QAccessibleTextInterface* text, int offset, QAccessible::TextBoundaryType type)
{
    Piece piece { {}, 0, 0 };
    piece.text = text->textAfterOffset(offset, type, &piece.start, &piece.end);
    return piece;
}

struct Refusing : EDTextViewDelegate {
    bool textViewShouldChangeText(EDTextView&, TextRange, const QString&) override { return false; }
};

} // namespace

// A screen reader finds one text area: its name, role and states follow the view's editability,
// its text and caret are the view's, and the selection reads in document order.
TEST(EDTextViewAccessibility, ScreenReadersSeeOneTextAreaWithItsTextCaretAndSelection)
{
    ShownView view("Hello wonderful world\nSecond line");
    QAccessibleInterface* area = accessible(view);
    ASSERT_NE(dynamic_cast<EDTextViewAccessible*>(area), nullptr);
    EXPECT_EQ(area->role(), QAccessible::EditableText);
    EXPECT_EQ(area->text(QAccessible::Name), "Text Editor");
    EXPECT_EQ(area->text(QAccessible::Value), "Hello wonderful world\nSecond line");
    EXPECT_TRUE(area->state().editable);
    EXPECT_TRUE(area->state().multiLine);
    EXPECT_TRUE(area->state().focused);
    EXPECT_NE(area->editableTextInterface(), nullptr);
    for (int index = 0; index < area->childCount(); ++index)
        EXPECT_NE(area->child(index)->object(), view->viewport()) << "the text area is the view itself";
    const QPoint inText = view->viewport()->mapToGlobal(view.pointOf(3));
    EXPECT_EQ(area->childAt(inText.x(), inText.y()), nullptr);

    QAccessibleTextInterface* text = area->textInterface();
    EXPECT_EQ(text->characterCount(), 33);
    view.setCaret(5);
    EXPECT_EQ(text->cursorPosition(), 5);
    EXPECT_EQ(text->selectionCount(), 0);
    EXPECT_EQ(view->accessibilitySelectedText(), "");

    // Selected with Shift+Left, the caret is at the range's start, where it moves.
    view.setCaret(15);
    for (int step = 0; step < 9; ++step)
        QTest::keyClick(view.view.get(), Qt::Key_Left, Qt::ShiftModifier);
    int start = 0;
    int end = 0;
    ASSERT_EQ(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(6, 15));
    EXPECT_EQ(text->cursorPosition(), 6);
    EXPECT_EQ(text->text(start, end), "wonderful");
    EXPECT_EQ(view->accessibilitySelectedText(), "wonderful");
    EXPECT_EQ(view->accessibilitySelectedTextRange(), (CharacterRange { 6, 9 }));

    // Two ranges selected last to first read first to last.
    view->textLayoutManager().setTextSelections(
        { TextSelection(TextRange(29, 33)), TextSelection(TextRange(0, 3)) });
    EXPECT_EQ(view->accessibilitySelectedText(), "Hel\nline");
    ASSERT_EQ(text->selectionCount(), 2);
    text->selection(1, &start, &end);
    EXPECT_EQ(std::pair(start, end), std::pair(29, 33));

    view->setIsEditable(false);
    EXPECT_EQ(area->role(), QAccessible::StaticText);
    EXPECT_TRUE(area->state().readOnly);
    EXPECT_FALSE(area->state().disabled);
    EXPECT_EQ(area->editableTextInterface(), nullptr);
    view->setIsSelectable(false);
    EXPECT_TRUE(area->state().disabled) << "neither editable nor selectable";
    EXPECT_FALSE(view->isAccessibilityEnabled());

    view->setAccessibleName("Note");
    EXPECT_EQ(area->text(QAccessible::Name), "Note");
}

// The view's own answers count as it does: characters as a reader perceives them, ranges in
// UTF-16 units; Qt is given UTF-16 counts throughout.
TEST(EDTextViewAccessibility, CountsPerceivedCharactersWhileRangesStayInUtf16)
{
    ShownView view(QString::fromUtf8("cafe\u0301 \U0001F600!"));
    EXPECT_EQ(view->accessibilityValue().size(), 9);
    EXPECT_EQ(view->accessibilityNumberOfCharacters(), 7);
    EXPECT_EQ(textOf(view)->characterCount(), 9);
    view->setString(QString::fromUtf8("e\u0301"));
    EXPECT_EQ(view->accessibilityNumberOfCharacters(), 1);
    EXPECT_EQ(view->accessibilityValue().size(), 2);

    view->setString("abcdefghij");
    EXPECT_EQ(view->accessibilityString({ 0, 3 }), "abc");
    EXPECT_EQ(view->accessibilityString({ 8, 100 }), "ij");
    EXPECT_EQ(view->accessibilityString({ 20, 5 }), std::nullopt) << "not the whole text";
    EXPECT_EQ(view->accessibilityAttributedString({ 2, 2 })->string(), "cd");
    view.settle();
    EXPECT_EQ(view->accessibilityVisibleCharacterRange(), (CharacterRange { 0, 10 }));

    view->setAccessibilitySelectedTextRange({ 2, 3 });
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(2, 5) }));
    view->setAccessibilitySelectedTextRange({ 40, 1 });
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(2, 5) }));
    view->setString("");
    EXPECT_EQ(view->accessibilityValue(), "");
    EXPECT_EQ(view->accessibilityNumberOfCharacters(), 0);
}

// A reader moves by character, word, sentence, row as drawn and paragraph, and at the text's end
// still finds the last piece.
TEST(EDTextViewAccessibility, TextAtBeforeAndAfterAnOffsetByEveryBoundary)
{
    ShownView view("One two. Three four!\nNext paragraph here", QSize(480, 320));
    QAccessibleTextInterface* text = textOf(view);
    using B = QAccessible::TextBoundaryType;
    struct Case {
        int offset;
        B type;
        Piece at;
    };
    const Case cases[] = {
        { 0, B::CharBoundary, { "O", 0, 1 } },
        { 5, B::WordBoundary, { "two", 4, 7 } },
        { 7, B::WordBoundary, { ".", 7, 8 } },
        { 10, B::SentenceBoundary, { "Three four!\n", 9, 21 } },
        { 3, B::ParagraphBoundary, { "One two. Three four!\n", 0, 21 } },
        { 25, B::LineBoundary, { "Next paragraph here", 21, 40 } },
        { 40, B::WordBoundary, { "here", 36, 40 } },
        { 40, B::CharBoundary, { "", 40, 40 } },
        { -1, B::LineBoundary, { "Next paragraph here", 21, 40 } },
        { 99, B::WordBoundary, { "", -1, -1 } },
    };
    for (const Case& test : cases)
        EXPECT_EQ(at(text, test.offset, test.type), test.at) << test.offset << " " << int(test.type);

    EXPECT_EQ(before(text, 5, B::WordBoundary), (Piece { " ", 3, 4 }));
    EXPECT_EQ(after(text, 5, B::WordBoundary), (Piece { ".", 7, 8 }));
    EXPECT_EQ(after(text, 3, B::ParagraphBoundary), (Piece { "Next paragraph here", 21, 40 }));
    EXPECT_EQ(before(text, 2, B::LineBoundary), (Piece { "", 0, 0 }));
    EXPECT_EQ(after(text, 30, B::LineBoundary), (Piece { "", 40, 40 }));
    EXPECT_EQ(before(text, 40, B::CharBoundary), (Piece { "e", 39, 40 }));
    view.setCaret(9);
    EXPECT_EQ(at(text, -2, B::WordBoundary), (Piece { "Three", 9, 14 })) << "-2 is the caret";

    // Lines are the rows the view draws: a wrapped paragraph reads row by row.
    view->setString(QString("word ").repeated(60));
    view->resize(200, 300);
    view.settle();
    const Piece first = at(text, 0, B::LineBoundary);
    EXPECT_EQ(first.start, 0);
    EXPECT_GT(first.end, 5);
    EXPECT_LT(first.end, 300);
    EXPECT_EQ(after(text, 0, B::LineBoundary).start, first.end);
    EXPECT_EQ(before(text, first.end, B::LineBoundary), first);

    // A word deep inside a paragraph of megabytes is found without reading the paragraph.
    const QString huge = QString("abc ").repeated(500'000) + "needle " + QString("xyz ").repeated(500'000);
    view->setString(huge);
    EXPECT_EQ(at(text, 2'000'003, B::WordBoundary), (Piece { "needle", 2'000'000, 2'000'006 }));
    EXPECT_EQ(text->text(2'000'000, 2'000'006), "needle");
}

// Where a reader may edit, it edits as typing does: undoable, refused by a read-only view and by
// the delegate; the whole value may be set only as a string.
TEST(EDTextViewAccessibility, EditsGoThroughTheEditingRules)
{
    ShownView view("Hello world");
    QAccessibleInterface* area = accessible(view);
    QAccessibleEditableTextInterface* editable = area->editableTextInterface();
    ASSERT_NE(editable, nullptr);
    // Each request arrives as an event of its own, as it does from the accessibility bus.
    editable->insertText(5, ",");
    EXPECT_EQ(view->string(), "Hello, world");
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
    EXPECT_EQ(view->string(), "Hello, there");
    area->setText(QAccessible::Value, "Replaced");
    EXPECT_EQ(view->string(), "Replaced");
    view.settle();
    view->undoManager()->undo();
    EXPECT_EQ(view->string(), "Hello, there") << "a reader's replacement is one undo away";

    auto refusing = std::make_shared<Refusing>();
    view->setDelegate(refusing);
    editable->insertText(0, "x");
    area->setText(QAccessible::Value, "Replaced");
    EXPECT_EQ(view->string(), "Hello, there");
    view->setDelegate(nullptr);
    view->setIsEditable(false);
    view->setAccessibilityValue(QString("Replaced"));
    EXPECT_EQ(view->string(), "Hello, there");
}

// Selections set by a reader: several ranges, in document order, and a caret when the last goes.
TEST(EDTextViewAccessibility, ReadersSetTheCaretAndTheSelections)
{
    ShownView view("alpha beta gamma delta");
    QAccessibleTextInterface* text = textOf(view);
    text->setCursorPosition(6);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(6) }));
    text->setSelection(0, 11, 16);
    text->addSelection(0, 5);
    EXPECT_EQ(text->selectionCount(), 2);
    EXPECT_EQ(view->accessibilitySelectedText(), "alpha\ngamma");
    text->setSelection(1, 17, 22);
    EXPECT_EQ(view->accessibilitySelectedText(), "alpha\ndelta");
    text->removeSelection(0);
    EXPECT_EQ(view->accessibilitySelectedText(), "delta");
    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(22) }));
    text->setCursorPosition(500);
    EXPECT_EQ(text->cursorPosition(), 22);

    view->setIsSelectable(false);
    text->setCursorPosition(3);
    EXPECT_EQ(text->cursorPosition(), 22);

    const QRect box = text->characterRect(0);
    EXPECT_GT(box.width(), 0);
    EXPECT_EQ(text->offsetAtPoint(box.center()), 0);
    int start = 0;
    int end = 0;
    EXPECT_TRUE(text->attributes(2, &start, &end).contains("font-family:\"DejaVu Sans Mono\""));
    EXPECT_EQ(std::pair(start, end), std::pair(0, 22));
}
