#include "EDTextView/EDKeyBindings.h"
#include "EDTextView/YankingManager.h"
#include "TextViewTestSupport.h"

#include <QKeyEvent>
#include <QMenu>
#include <QSet>

#include <functional>

using namespace textviewtest;
using platform::TextRange;

// The keys, the menu and the command table are made from one list: every key and every menu item
// reaches a command the view has, and nothing typed twice can drift apart.
TEST(EDTextViewCommands, EveryBoundKeyAndMenuItemNamesACommandThatExists)
{
    QSet<QString> names;
    for (int i = 0; i < EDTextViewCommands::count(); ++i) {
        const auto command = EDTextViewCommand(i);
        const QString name = EDTextViewCommands::name(command);
        EXPECT_TRUE(name.endsWith(u':')) << name.toStdString();
        EXPECT_EQ(EDTextViewCommands::command(name), command) << name.toStdString();
        EXPECT_TRUE(EDTextView::commandTable().contains(name)) << name.toStdString();
        names.insert(name);
    }
    EXPECT_EQ(names.size(), EDTextViewCommands::count());
    EXPECT_EQ(EDTextView::commandTable().size(), EDTextViewCommands::count());
    EXPECT_EQ(EDTextViewCommands::command(u"delete:"), EDTextViewCommand::delete_);
    EXPECT_FALSE(EDTextViewCommands::command(u"noSuchCommand:"));

    for (const auto& [key, binding] : EDKeyBindings::allBindings())
        EXPECT_TRUE(EDTextView::commandTable().contains(EDTextViewCommands::name(binding.command)))
            << QKeySequence(key).toString().toStdString();
    const auto menu = EDTextView::defaultMenu();
    QList<QAction*> items = menu->actions();
    while (!items.isEmpty()) {
        QAction* action = items.takeFirst();
        if (action->menu()) {
            items.append(action->menu()->actions());
        } else if (!action->isSeparator()) {
            EXPECT_TRUE(EDTextView::commandTable().contains(action->data().toString()))
                << action->text().toStdString();
        }
    }

    // The keys of the Edit menu are the view's, and go no further.
    ShownView view("text");
    for (const QKeyCombination key : { QKeyCombination(Qt::ControlModifier, Qt::Key_C),
             QKeyCombination(Qt::ControlModifier, Qt::Key_X), QKeyCombination(Qt::ControlModifier, Qt::Key_V),
             QKeyCombination(Qt::ControlModifier, Qt::Key_Y) }) {
        QKeyEvent override(QEvent::ShortcutOverride, key.key(), key.keyboardModifiers());
        QCoreApplication::sendEvent(view.view.get(), &override);
        EXPECT_TRUE(override.isAccepted()) << QKeySequence(key).toString().toStdString();
    }
    // Escape with no completion to show is the window's (it closes a dialog).
    QKeyEvent escape(QEvent::ShortcutOverride, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(view.view.get(), &escape);
    EXPECT_FALSE(escape.isAccepted());
}

// Every delete command at the edges of a paragraph, of an empty paragraph and of the document, in
// text of either direction. A kill at a paragraph's edge takes only the line end there.
TEST(EDTextViewCommands, DeleteCommandsAtParagraphAndDocumentEdges)
{
    struct Case {
        const char* command;
        const char* text; // "|" stands for a line end, "/" for a line separator
        int caret;
        const char* expected;
    };
    const Case cases[] = {
        { "deleteForward:", "ab|cd", 2, "abcd" },
        { "deleteForward:", "ab|cd", 5, "ab|cd" },
        { "deleteForward:", "ab||cd", 3, "ab|cd" },
        { "deleteBackward:", "ab|cd", 3, "abcd" },
        { "deleteBackward:", "ab|cd", 0, "ab|cd" },
        { "deleteBackward:", "ab||cd", 3, "ab|cd" },
        { "deleteBackwardByDecomposingPreviousCharacter:", "ab|cd", 3, "abcd" },
        { "deleteWordForward:", "ab|cd", 3, "ab|" },
        { "deleteWordForward:", "ab|cd", 5, "ab|cd" },
        { "deleteWordBackward:", "ab|cd", 2, "|cd" },
        { "deleteWordBackward:", "ab|cd", 0, "ab|cd" },
        { "deleteToEndOfLine:", "ab|cd", 2, "abcd" },
        { "deleteToEndOfLine:", "ab|cd", 0, "|cd" },
        { "deleteToEndOfLine:", "ab|cd", 5, "ab|cd" },
        { "deleteToEndOfLine:", "ab||cd", 3, "ab|cd" },
        { "deleteToBeginningOfLine:", "ab|cd", 3, "abcd" },
        { "deleteToBeginningOfLine:", "ab|cd", 5, "ab|" },
        { "deleteToBeginningOfLine:", "ab|cd", 0, "ab|cd" },
        { "deleteToBeginningOfLine:", "ab|", 3, "ab" },
        { "deleteToEndOfParagraph:", "ab|cd", 2, "abcd" },
        { "deleteToEndOfParagraph:", "ab|cd", 0, "|cd" },
        { "deleteToEndOfParagraph:", "ab|cd", 5, "ab|cd" },
        { "deleteToEndOfParagraph:", "ab||cd", 3, "ab|cd" },
        { "deleteToEndOfParagraph:", "ab|", 3, "ab|" },
        { "deleteToBeginningOfParagraph:", "ab|cd", 3, "abcd" },
        { "deleteToBeginningOfParagraph:", "ab|cd", 5, "ab|" },
        { "deleteToBeginningOfParagraph:", "ab|cd", 0, "ab|cd" },
        { "deleteToBeginningOfParagraph:", "ab||cd", 3, "ab|cd" },
        { "deleteToBeginningOfParagraph:", "ab|", 3, "ab" },
        // A line kill at the edge of a row that a line separator ends joins the rows, as at a
        // paragraph's edge, and leaves the separator from inside the row.
        { "deleteToBeginningOfLine:", "ab/cd", 3, "abcd" },
        { "deleteToBeginningOfLine:", "ab//cd", 4, "ab/cd" },
        { "deleteToEndOfLine:", "ab/cd", 0, "/cd" },
        { "deleteToEndOfLine:", "ab//cd", 3, "ab/cd" },
    };
    // The same letters in Arabic: logical directions do not depend on the writing direction.
    auto inDirection = [](QString text, bool rightToLeft) {
        text.replace('|', '\n').replace('/', QChar(0x2028));
        if (rightToLeft) {
            text.replace('a', QChar(0x0627)).replace('b', QChar(0x0628));
            text.replace('c', QChar(0x062C)).replace('d', QChar(0x062F));
        }
        return text;
    };
    ShownView view;
    for (const bool rightToLeft : { false, true }) {
        for (const Case& test : cases) {
            view->setString(inDirection(test.text, rightToLeft));
            view.setCaret(test.caret);
            view.settle();
            ASSERT_TRUE(view->doCommandBySelector(test.command));
            EXPECT_EQ(view->string(), inDirection(test.expected, rightToLeft))
                << test.command << " at " << test.caret << " in " << test.text
                << (rightToLeft ? " (Arabic)" : "");
        }
    }
}

// A line kill and a paragraph kill are kills of two kinds: two entries, not one.
TEST(EDTextViewCommands, KillsOfDifferentKindsMakeSeparateEntries)
{
    ShownView view("one two\nthree four");
    view.setCaret(18);
    view->deleteWordBackward();
    view->deleteWordBackward();
    EXPECT_EQ(YankingManager::shared().currentEntry(), "three four") << "backward kills prepend";
    view->setString("one two\nthree four");
    view.setCaret(12);
    view->deleteToBeginningOfLine();
    view->deleteToBeginningOfParagraph();
    EXPECT_EQ(view->string(), "one twoe four");
    // Joined into one entry they would read "\nthre".
    EXPECT_EQ(YankingManager::shared().currentEntry(), "\n");
}

// Ctrl+Shift+Backspace at the start of a row joins it to the row before, whether Return or
// Shift+Return (a line separator) began the row; the kill ring gets the line end.
TEST(EDTextViewCommands, KillingToALineStartAtARowStartJoinsTheRows)
{
    for (const Qt::KeyboardModifiers modifiers : { Qt::NoModifier, Qt::ShiftModifier }) {
        ShownView view;
        QTest::keyClicks(view.view.get(), "ab");
        QTest::keyClick(view.view.get(), Qt::Key_Return, modifiers);
        const QString lineEnd = view->string().mid(2);
        ASSERT_EQ(lineEnd.size(), 1);
        QTest::keyClicks(view.view.get(), "cd");
        QTest::keyClick(view.view.get(), Qt::Key_Home);
        QTest::keyClick(view.view.get(), Qt::Key_Backspace, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(view->string(), "abcd") << int(lineEnd.front().unicode());
        EXPECT_EQ(view.ranges(), std::vector<TextRange> { TextRange(2) });
        EXPECT_EQ(YankingManager::shared().currentEntry(), lineEnd);
    }
}
