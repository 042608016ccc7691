#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>

#include <functional>
#include <utility>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;

namespace {

void preedit(EDTextView& view, const QString& text)
{
    QInputMethodEvent event(text, { { QInputMethodEvent::Cursor, int(text.size()), 1, QVariant() } });
    QCoreApplication::sendEvent(&view, &event);
}

void commit(EDTextView& view, const QString& text, int replacementStart = 0, int replacementLength = 0)
{
    QInputMethodEvent event;
    event.setCommitString(text, replacementStart, replacementLength);
    QCoreApplication::sendEvent(&view, &event);
}

} // namespace

TEST(EDTextViewInput, CompositionReplacesTheSelectionOnlyWhenCommitted)
{
    ShownView view("one two three");
    view->setSelectedTextRange(TextRange(4, 7)); // "two"
    preedit(*view, "n");
    // The provisional text stands before the selection, which stays.
    EXPECT_EQ(view->string(), "one ntwo three");
    EXPECT_EQ(view->markedRange(), (CharacterRange { 4, 1 }));
    preedit(*view, "ni");
    EXPECT_EQ(view->string(), "one nitwo three");
    EXPECT_EQ(view->markedRange(), (CharacterRange { 4, 2 }));
    // Input methods are told about the text without the provisional characters.
    EXPECT_EQ(view->inputMethodQuery(Qt::ImSurroundingText).toString(), "one two three");
    commit(*view, "\u306B");
    EXPECT_EQ(view->string(), "one \u306B three");
    EXPECT_FALSE(view->hasMarkedText());
    // Only the commit is an undo step: one undo gives the text as it was before composing.
    QCoreApplication::processEvents();
    view->undo();
    EXPECT_EQ(view->string(), "one two three");
    EXPECT_FALSE(view->undoManager()->canUndo());
}

// A delegate that sets a whole new text when it hears of a change (or of the caret moving) while a
// composition goes on: the new text wins, the provisional text is not put into it, and the commit
// is typed at the caret the new text has.
TEST(EDTextViewInput, ANewTextSetByTheDelegateDuringACompositionDropsTheProvisionalText)
{
    for (const bool onSelection : { false, true }) {
        SCOPED_TRACE(onSelection ? "on a selection change" : "on a text change");
        ShownView view("one two three");
        view.setCaret(13);
        preedit(*view, "ni");
        const auto delegate = std::make_shared<NewTextSettingDelegate>();
        delegate->view = view.view.get();
        delegate->onSelection = onSelection;
        view->setDelegate(delegate);
        preedit(*view, "nih");
        EXPECT_EQ(view->string(), "new text");
        EXPECT_FALSE(view->hasMarkedText());
        commit(*view, "\u306B");
        EXPECT_EQ(view->string(), "new text\u306B");
        view->undo();
        EXPECT_EQ(view->string(), "new text");
    }
}

// A click or a move of the focus ends a composition: what the input method does not commit then
// leaves no trace, and the next composition starts where the caret is.
TEST(EDTextViewInput, ACompositionLeftByAClickOrTheFocusIsDropped)
{
    ShownView view("one two three");
    view.setCaret(3);
    preedit(*view, "ni");
    ASSERT_EQ(view->string(), "oneni two three");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view.pointOf(12));
    EXPECT_EQ(view->string(), "one two three");
    EXPECT_FALSE(view->hasMarkedText());
    EXPECT_EQ(view->selectedRange(), (CharacterRange { 12, 0 }));
    preedit(*view, "ka");
    EXPECT_EQ(view->string(), "one two threkae") << "at the caret";

    QLineEdit other(view->window());
    other.show();
    other.setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->string(), "one two three");
    EXPECT_FALSE(view->hasMarkedText());
    EXPECT_FALSE(view->undoManager()->canUndo());
}

// Input methods place their candidate window where they were last told the caret is: every move
// of the caret on the screen tells them, whether by a key, by typing or by scrolling.
TEST(EDTextViewInput, InputMethodsAreToldWhereTheCaretMoved)
{
    ShownView view(QStringLiteral("line\n").repeated(200));
    QSignalSpy told(QGuiApplication::inputMethod(), &QInputMethod::cursorRectangleChanged);
    const std::function<void()> moves[] = {
        [&] { QTest::keyClick(view.view.get(), Qt::Key_Down); },
        [&] { QTest::keyClicks(view.view.get(), "ab"); },
        [&] { preedit(*view, "ka"); },
        [&] { view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + 40); },
    };
    for (const auto& move : moves) {
        const QRect before = view->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        told.clear();
        move();
        view.settle();
        ASSERT_NE(view->inputMethodQuery(Qt::ImCursorRectangle).toRect(), before);
        EXPECT_GT(told.count(), 0) << "move " << (&move - moves);
    }
}

// Qt's queries tell the moving end of a selection (the cursor) from the end that stays (the
// anchor); a selection extended backwards has its cursor at its start, where the candidate window
// belongs.
TEST(EDTextViewInput, TheCursorIsTheEndThatMovesAndTheAnchorTheEndThatStays)
{
    ShownView view(QStringLiteral("one two three"));
    struct Case {
        qint64 from;
        Qt::Key key;
        qint64 cursor;
        qint64 anchor;
    };
    for (const Case& c : { Case { 4, Qt::Key_Right, 7, 4 }, Case { 7, Qt::Key_Left, 4, 7 } }) {
        view.setCaret(c.from);
        for (int press = 0; press < 3; ++press)
            QTest::keyClick(view.view.get(), c.key, Qt::ShiftModifier);
        view.settle();
        ASSERT_EQ(view.ranges(), std::vector<TextRange> { TextRange(4, 7) });
        SCOPED_TRACE(c.key == Qt::Key_Right ? "extended forwards" : "extended backwards");
        EXPECT_EQ(view->inputMethodQuery(Qt::ImCursorPosition).toInt(), c.cursor);
        EXPECT_EQ(view->inputMethodQuery(Qt::ImAnchorPosition).toInt(), c.anchor);
        EXPECT_EQ(view->inputMethodQuery(Qt::ImAbsolutePosition).toInt(), c.cursor);
        EXPECT_EQ(view->inputMethodQuery(Qt::ImTextBeforeCursor).toString(),
            QStringLiteral("one two three").left(c.cursor));
        EXPECT_EQ(view->inputMethodQuery(Qt::ImCurrentSelection).toString(), "two");
        const QRect cursor = view->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const QRect anchor = view->inputMethodQuery(Qt::ImAnchorRectangle).toRect();
        EXPECT_NEAR(cursor.center().x(), view.pointOf(c.cursor).x() + view->viewport()->x(), 1);
        EXPECT_NEAR(anchor.center().x(), view.pointOf(c.anchor).x() + view->viewport()->x(), 1);
    }
}

// The candidate window stands on the row of the composed text: a composition begun at the start
// of a wrapped row, with the input method's cursor at its start (as while converting), is shown
// there, not at the end of the row above.
TEST(EDTextViewInput, TheCandidateWindowStaysOnTheRowACompositionOpens)
{
    ShownView view(QStringLiteral("word ").repeated(40), QSize(200, 300));
    qint64 rowStart = 1;
    while (view.pointOf(rowStart).y() == view.pointOf(0).y())
        ++rowStart;
    view.setCaret(rowStart);
    const QRect caret = view->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    for (const int cursor : { 0, 1, 2 }) {
        QInputMethodEvent event("ka", { { QInputMethodEvent::Cursor, cursor, 1, QVariant() } });
        QCoreApplication::sendEvent(view.view.get(), &event);
        const QRect candidates = view->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        EXPECT_NEAR(candidates.center().y(), caret.center().y(), 1) << "cursor " << cursor;
        EXPECT_NEAR(candidates.x(), view.pointOf(rowStart + cursor).x() + view->viewport()->x(), 1)
            << "cursor " << cursor;
    }
}

TEST(EDTextViewInput, CommitWithReplacementReplacesThatRange)
{
    ShownView view("ab cd");
    view.setCaret(5);
    preedit(*view, "x");
    // Replace the two characters before the caret (Qt counts from the caret, without preedit).
    commit(*view, "XY", -2, 2);
    EXPECT_EQ(view->string(), "ab XY");
    // The same through the input client, with a range counted in the text that still holds the
    // marked characters: what follows them is kept.
    view->setString("ab cd ef");
    view.setCaret(3);
    view->setMarkedText("zz", { 2, 0 }, CharacterRange::notFound());
    EXPECT_EQ(view->string(), "ab zzcd ef");
    view->insertText(QStringLiteral("CD"), CharacterRange { 5, 2 }); // "cd", after the marked text
    EXPECT_EQ(view->string(), "ab CD ef");
    // Qt counts from the cursor it was told of: the start of a selection extended backwards.
    view->setString("one two three");
    view.setCaret(7);
    for (int press = 0; press < 3; ++press)
        QTest::keyClick(view.view.get(), Qt::Key_Left, Qt::ShiftModifier);
    ASSERT_EQ(view.ranges(), std::vector<TextRange> { TextRange(4, 7) });
    commit(*view, "ONE ", -4, 4);
    EXPECT_EQ(view->string(), "ONE two three");
}

TEST(EDTextViewInput, QueriesStayInsideTheText)
{
    ShownView view("short");
    EXPECT_FALSE(view->attributedSubstring(CharacterRange { 50, 3 }));
    EXPECT_FALSE(view->attributedSubstring(CharacterRange::notFound()));
    CharacterRange actual;
    const auto text = view->attributedSubstring(CharacterRange { 2, 100 }, &actual);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->string(), "ort");
    EXPECT_EQ(actual, (CharacterRange { 2, 3 }));
    EXPECT_TRUE(view->inputMethodQuery(Qt::ImCursorRectangle).toRect().isValid());
}

// What input methods are told of a long paragraph is cut short, but never inside a character.
TEST(EDTextViewInput, SurroundingTextOfALongParagraphHoldsWholeCharacters)
{
    const QString text = "ab" + QString::fromUcs4(U"\U0001F600").repeated(400) + "cd\nnext";
    ShownView view(text);
    auto whole = [](const QString& part) {
        return !part.isEmpty() && !part.front().isLowSurrogate() && !part.back().isHighSurrogate();
    };
    // The caret near the start (the cut is at the end), then near the end with the whole
    // paragraph selected (the cut is at the start, and in the selection).
    for (const TextRange selection : { TextRange(1), TextRange(1, 805) }) {
        view->setSelectedTextRange(selection);
        const QString surrounding = view->inputMethodQuery(Qt::ImSurroundingText).toString();
        EXPECT_TRUE(whole(surrounding));
        EXPECT_LT(surrounding.size(), 805);
        const int at = view->inputMethodQuery(Qt::ImCursorPosition).toInt();
        EXPECT_EQ(surrounding.mid(at), view->inputMethodQuery(Qt::ImTextAfterCursor).toString());
        EXPECT_EQ(text.mid(selection.endLocation - at, surrounding.size()), surrounding);
    }
    EXPECT_TRUE(whole(view->inputMethodQuery(Qt::ImCurrentSelection).toString()));
}

// A command key that reaches the view while a composition is open (a paste, a deletion) ends the
// composition first, so that every undo step counts offsets in the text it is undone in: undoing
// everything gives the text back as it was.
TEST(EDTextViewInput, ACommandKeyDuringACompositionLeavesUndoThatFits)
{
    const QString original = "hello world";
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        { Qt::Key_V, Qt::ControlModifier },
        { Qt::Key_Backspace, Qt::NoModifier },
        { Qt::Key_Delete, Qt::ControlModifier },
        { Qt::Key_K, Qt::ControlModifier },
    };
    for (const auto& [key, modifiers] : keys) {
        ShownView view(original);
        QGuiApplication::clipboard()->setText("P");
        view.setCaret(11);
        QTest::keyClicks(view.view.get(), "X");
        QCoreApplication::processEvents();
        view.setCaret(0);
        preedit(*view, "ka");
        QTest::keyClick(view.view.get(), key, modifiers);
        EXPECT_FALSE(view->hasMarkedText()) << QKeySequence(key | modifiers).toString().toStdString();
        QCoreApplication::processEvents();
        commit(*view, "Q");
        QCoreApplication::processEvents();
        for (int step = 0; view->undoManager()->canUndo() && step < 10; ++step) {
            view->undo();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(view->string(), original) << QKeySequence(key | modifiers).toString().toStdString();
    }
}

// What a host, a menu or the find bar does to the text while an input method composes: the
// provisional text becomes typed text, so that undo and redo count in the text they find.
TEST(EDTextViewInput, AnEditThatIsNoKeyDuringACompositionLeavesUndoThatFits)
{
    const QString original = "hello world";
    const auto command = [](const char* name) {
        return [name](EDTextView& view) { view.doCommandBySelector(QString::fromLatin1(name)); };
    };
    struct Edit {
        const char* name;
        std::function<void(EDTextView&)> edit;
        QString edited;
    };
    const Edit edits[] = {
        { "deleteToEndOfParagraph:", command("deleteToEndOfParagraph:"), "helka" },
        { "deleteBackward:", command("deleteBackward:"), "helklo worldX" },
        { "uppercaseWord:", command("uppercaseWord:"), "HELKALO worldX" },
        { "paste:", command("paste:"), "helkaPlo worldX" },
        { "cut: of two ranges after it",
            [](EDTextView& view) {
                view.textLayoutManager().setTextSelections(
                    { platform::TextSelection(TextRange(7, 8)), platform::TextSelection(TextRange(10, 12)) });
                view.doCommandBySelector("cut:");
            },
            "helkalowodX" },
        { "a replacement after it",
            [](EDTextView& view) {
                view.replaceCharacters(CharacterRange { 7, 4 }, "there");
            },
            "helkalothereldX" },
        { "a replacement into it",
            [](EDTextView& view) {
                view.replaceCharacters(CharacterRange { 2, 2 }, "J");
            },
            "heJalo worldX" },
    };
    for (const auto& [name, edit, expected] : edits) {
        SCOPED_TRACE(name);
        ShownView view(original);
        QGuiApplication::clipboard()->setText("P");
        view.setCaret(11);
        QTest::keyClicks(view.view.get(), "X");
        QCoreApplication::processEvents();
        view.setCaret(3);
        preedit(*view, "ka");
        edit(*view);
        QCoreApplication::processEvents();
        EXPECT_FALSE(view->hasMarkedText());
        const QString edited = view->string();
        EXPECT_EQ(edited, expected);
        // Typed text now: it is drawn without the provisional underline.
        EXPECT_FALSE(
            view->textContentStorage().attributes(3).contains(platform::AttributeKey::underlineStyle));
        for (int step = 0; view->undoManager()->canUndo() && step < 10; ++step) {
            view->undo();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(view->string(), original);
        for (int step = 0; view->undoManager()->canRedo() && step < 10; ++step) {
            view->redo();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(view->string(), edited);
    }

    // An edit before the provisional text (a correction of the word before) lets the composition
    // go on where its text moved.
    ShownView view(original);
    view.setCaret(6);
    preedit(*view, "ka");
    view->replaceCharacters(CharacterRange { 0, 5 }, "hi");
    EXPECT_TRUE(view->hasMarkedText());
    EXPECT_EQ(view->markedRange(), (CharacterRange { 3, 2 }));
    commit(*view, "Q");
    EXPECT_EQ(view->string(), "hi Qworld");
    for (int step = 0; view->undoManager()->canUndo() && step < 10; ++step)
        view->undo();
    EXPECT_EQ(view->string(), original);
}

// A view made read-only in the middle of a composition hears nothing more from the input method:
// its provisional text must not stay in the note.
TEST(EDTextViewInput, ACompositionEndsWhenTheViewStopsBeingEditable)
{
    ShownView view("one two");
    view.setCaret(3);
    preedit(*view, "ni");
    ASSERT_EQ(view->string(), "oneni two");
    view->setIsEditable(false);
    EXPECT_EQ(view->string(), "one two");
    EXPECT_FALSE(view->hasMarkedText());
    view->setIsEditable(true);
    preedit(*view, "ka");
    EXPECT_EQ(view->string(), "oneka two");
}
