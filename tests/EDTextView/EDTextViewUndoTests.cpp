#include "EDTextView/CoalescingUndoManager.h"
#include "EDTextView/EDTextFinder.h"
#include "TextViewTestSupport.h"
#include "platform/text/TextBlocks.h"
#include "platform/text/UndoManager.h"

#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>

#include <utility>

using namespace textviewtest;
using platform::TextRange;

namespace {

// Undoes (or redoes) everything, one step at a time, with the event loop running in between as
// it would between a user's commands.
int undoAll(ShownView& view, bool redo = false)
{
    int steps = 0;
    platform::UndoManager* manager = view->undoManager();
    while (redo ? manager->canRedo() : manager->canUndo()) {
        QTest::keyClick(
            view.view.get(), Qt::Key_Z, redo ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        QCoreApplication::processEvents();
        if (++steps > 100)
            break;
    }
    return steps;
}

// Keeps the replacement text the last change announced.
struct Told : EDTextViewDelegate {
    QString told;
    void textViewDidChangeText(EDTextView&, TextRange, const QString& replacement) override
    {
        told = replacement;
    }
};

} // namespace

TEST(EDTextViewUndo, UndoAndRedoTakeBackTypingRunsReplacementsAndDeletions)
{
    const QString original = "The quick brown fox";
    ShownView view(original);
    view.setCaret(3);
    QTest::keyClicks(view.view.get(), " very"); // a typing run
    QCoreApplication::processEvents();
    view->setSelectedTextRange(TextRange(9, 14)); // "quick"
    QTest::keyClicks(view.view.get(), "slow"); // replaces the selection
    QCoreApplication::processEvents();
    QTest::keyClick(view.view.get(), Qt::Key_Backspace); // deletes "w"
    QTest::keyClick(view.view.get(), Qt::Key_Delete); // deletes " "
    QCoreApplication::processEvents();
    view->replaceCharacters(TextRange(0, 3), QStringLiteral("A")); // not typing
    QCoreApplication::processEvents();
    const QString edited = view->string();
    EXPECT_EQ(edited, "A very slobrown fox");

    EXPECT_EQ(undoAll(view), 5);
    EXPECT_EQ(view->string(), original);
    EXPECT_EQ(undoAll(view, true), 5);
    EXPECT_EQ(view->string(), edited);
    // A new edit after undo leaves nothing to redo.
    QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
    view.setCaret(0);
    QTest::keyClicks(view.view.get(), "x");
    EXPECT_FALSE(view->undoManager()->canRedo());
}

TEST(EDTextViewUndo, TypingRunKeepsTextItReplacedOrDeleted)
{
    // Selecting ahead of a run and typing, or deleting forward at its end, removes text the run
    // did not type: undo brings it back.
    ShownView view("abcdef");
    view.setCaret(3);
    QTest::keyClicks(view.view.get(), "XY");
    QTest::keyClick(view.view.get(), Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(view.view.get(), Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClicks(view.view.get(), "Z");
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    EXPECT_EQ(view->string(), "abcXYZ");
    undoAll(view);
    EXPECT_EQ(view->string(), "abcdef");
}

TEST(EDTextViewUndo, TypingRunIsOneStepAndPendingUntilBroken)
{
    ShownView view("");
    QTest::keyClicks(view.view.get(), "hello");
    EXPECT_TRUE(view->isCoalescing());
    EXPECT_TRUE(view->undoManager()->canUndo());
    EXPECT_EQ(undoAll(view), 1);
    EXPECT_EQ(view->string(), "");
}

TEST(EDTextViewUndo, LoadingNewTextClearsUndo)
{
    ShownView view("first note");
    view.setCaret(5);
    QTest::keyClicks(view.view.get(), "abc");
    QCoreApplication::processEvents();
    view->replaceCharacters(TextRange(0, 1), QStringLiteral("F"));
    QCoreApplication::processEvents();
    view->setString("second");
    EXPECT_FALSE(view->undoManager()->canUndo());
    QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "second");

    // Every whole-text load, of many blocks here: attributes as given (a text in blocks takes the
    // typing attributes), nothing to undo, and typing after it undoes back to the loaded text.
    view->textContentStorage().setChunkLimits(4, 16);
    platform::AttributedString styled(QStringLiteral("bold start\nplain ").repeated(20));
    styled.addAttributes({ { platform::AttributeKey::underlineStyle, 1 } }, 0, 4);
    styled.addAttributes({ { platform::AttributeKey::underlineStyle, 2 } }, 200, 50);
    const QString fromFile = u"caf\u00e9 \u20AC\n"_qs.repeated(30);
    auto delegate = std::make_shared<Told>();
    view->setDelegate(delegate);
    for (int load = 0; load < 2; ++load) {
        QTest::keyClicks(view.view.get(), "typed");
        QCoreApplication::processEvents();
        platform::AttributedString expected = styled;
        if (load == 0) {
            view->setText(styled);
        } else {
            view->setText(*platform::TextBlocks::fromUtf8(fromFile.toUtf8(), 7));
            expected = platform::AttributedString(fromFile, view->typingAttributes());
        }
        EXPECT_TRUE(view->attributedString() == expected) << "load " << load;
        EXPECT_EQ(delegate->told, expected.string()) << "the delegate hears the new text";
        EXPECT_FALSE(view->undoManager()->canUndo());
        view.setCaret(5);
        QTest::keyClicks(view.view.get(), "xy");
        QCoreApplication::processEvents();
        EXPECT_EQ(undoAll(view), 1);
        EXPECT_TRUE(view->attributedString() == expected) << "load " << load;
    }
}

// An edit at several carets is undone at all of them at once: no undo step gives a text the user
// never saw, with the edit made at some carets only.
TEST(EDTextViewUndo, AnEditAtSeveralCaretsIsOneStep)
{
    ShownView view("alpha\nbeta\ngamma");
    view.setCaret(2);
    std::vector<QString> seen { view->string() };
    // A run typed at one caret stays a step of its own.
    QTest::keyClicks(view.view.get(), "ab");
    QCoreApplication::processEvents();
    seen.push_back(view->string());
    for (const qint64 at : { 10, 15 }) {
        QTest::mouseClick(
            view->viewport(), Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, view.pointOf(at));
    }
    ASSERT_EQ(view.ranges().size(), 3u);
    auto run = [&](const std::function<void()>& command) {
        command();
        QCoreApplication::processEvents();
        seen.push_back(view->string());
    };
    run([&] { QTest::keyClick(view.view.get(), Qt::Key_X, Qt::ShiftModifier); });
    run([&] { QTest::keyClick(view.view.get(), Qt::Key_Y, Qt::ShiftModifier); });
    run([&] { QTest::keyClick(view.view.get(), Qt::Key_Backspace); });
    run([&] { QTest::keyClick(view.view.get(), Qt::Key_Backspace, Qt::ControlModifier); });
    run([&] { QTest::keyClick(view.view.get(), Qt::Key_K, Qt::ControlModifier); });
    run([&] { QTest::keyClick(view.view.get(), Qt::Key_Y, Qt::ControlModifier); });
    run([&] { view->insertText(QStringLiteral("\u00e9"), platform::CharacterRange::notFound()); });
    run([&] { view->insertText(platform::AttributedString("<>"), platform::CharacterRange::notFound()); });
    // The kill joins the three lines' ends; the yank puts that back at each caret.
    EXPECT_EQ(seen.back(), "phatamma\u00e9<>\nphatamma\u00e9<>\nphatamma\u00e9<>");

    // Each undo takes back one command, the last first.
    platform::UndoManager* manager = view->undoManager();
    int steps = 0;
    while (manager->canUndo() && steps + 1 < int(seen.size())) {
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::processEvents();
        ++steps;
        EXPECT_EQ(view->string(), seen[seen.size() - 1 - size_t(steps)]) << "undo step " << steps;
    }
    EXPECT_FALSE(manager->canUndo());
    EXPECT_EQ(view->string(), seen.front());
    EXPECT_EQ(undoAll(view, true), steps);
    EXPECT_EQ(view->string(), seen.back());
}

// A delegate that sets a whole new text when it hears of the first change an undo makes: the rest
// of that step (the other carets' changes) leaves the new text alone.
TEST(EDTextViewUndo, ANewTextSetByTheDelegateInTheMiddleOfAnUndoStands)
{
    // As long as the old text, so that the old offsets lie inside it.
    static const QString newText = QStringLiteral("a new text, as long as the old one");
    ShownView view("hello world and more");
    view->textLayoutManager().setTextSelections({ platform::TextSelection(TextRange(2)),
        platform::TextSelection(TextRange(8)), platform::TextSelection(TextRange(14)) });
    QTest::keyClicks(view.view.get(), "ab");
    QCoreApplication::processEvents();
    const auto delegate = std::make_shared<NewTextSettingDelegate>();
    delegate->view = view.view.get();
    delegate->text = newText;
    view->setDelegate(delegate);
    view->undo();
    EXPECT_EQ(view->string(), newText);
    EXPECT_FALSE(view->undoManager()->canUndo());
}

TEST(EDTextViewUndo, AnEditTheDelegateMakesDuringAnUndoMovesTheCaretsItLeaves)
{
    ShownView view("hello world and more");
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(11)), platform::TextSelection(TextRange(20)) });
    QTest::keyClicks(view.view.get(), "X");
    QCoreApplication::processEvents();
    // The first word goes as the step's last change moves the selection.
    const auto delegate = std::make_shared<MeddlingDelegate>();
    delegate->hook = MeddlingDelegate::Hook::selection;
    delegate->call = 2;
    delegate->act = [&] { view->replaceCharacters(TextRange(0, 6), QString()); };
    view->setDelegate(delegate);
    view->undo();
    EXPECT_EQ(view->string(), "world and more");
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(0), TextRange(5), TextRange(14) }));
}

TEST(EDTextViewUndo, ANewTextSetWhileAnUndoChangesTheSelectionKeepsItsCaretsInside)
{
    // Set while the undone edit moves the selection, before the step counts where its change went.
    ShownView view("hello world and more");
    view.setCaret(20);
    QTest::keyClicks(view.view.get(), " typed");
    QCoreApplication::processEvents();
    const auto delegate = std::make_shared<NewTextSettingDelegate>();
    delegate->view = view.view.get();
    delegate->text = QStringLiteral("short");
    delegate->onSelection = true;
    view->setDelegate(delegate);
    view->undo();
    EXPECT_EQ(view->string(), "short");
    for (const TextRange& range : view.ranges())
        EXPECT_LE(range.endLocation, 5);
}

// Typing just before an edit made of many changes (replace all) stays an undo step of its own.
TEST(EDTextViewUndo, ATypingRunIsNotPartOfTheReplaceAllAfterIt)
{
    ShownView view("cat and cat");
    view.setCaret(11);
    QTest::keyClicks(view.view.get(), " typed");
    QCoreApplication::processEvents();
    EDTextFinder& finder = view->textFinder();
    finder.setSearchString("cat");
    finder.setReplaceString("dog");
    finder.performAction(EDTextFinder::replaceAll);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->string(), "dog and dog typed");
    EXPECT_EQ(undoAll(view), 2);
    EXPECT_EQ(view->string(), "cat and cat");
}

// Undo and redo leave the caret where the text came back or went, wherever it was before, so that
// the view shows the change; redo after undo puts it back where the edit left it.
TEST(EDTextViewUndo, UndoAndRedoPutTheCaretAtTheChange)
{
    QString text;
    for (int line = 0; line < 200; ++line)
        text += QStringLiteral("line %1\n").arg(line);
    ShownView view(text);
    view.setCaret(text.size());
    QTest::keyClicks(view.view.get(), "typed");
    QTest::keyClick(view.view.get(), Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    view.settle();
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(0) }));
    auto undo = [&](bool redo) {
        QTest::keyClick(
            view.view.get(), Qt::Key_Z, redo ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        view.settle();
    };
    undo(false); // the deleted "l" comes back before the caret
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(1) }));
    view.setCaret(0);
    undo(false); // the typing at the end goes
    EXPECT_EQ(view->string(), text);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(text.size()) }));
    const QRectF visible = view->documentVisibleRect();
    EXPECT_GT(visible.bottom(), view->textContentStorage().layoutParagraphY(199)) << "the change shows";
    view.setCaret(0);
    undo(true);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(text.size() + 5) }));
    undo(true);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(0) }));

    // An edit at several carets comes back with a caret at each.
    view->setString("alpha beta");
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(5)), platform::TextSelection(TextRange(10)) });
    QTest::keyClicks(view.view.get(), "!");
    view.setCaret(0);
    undo(false);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(5), TextRange(10) }));
    undo(true);
    EXPECT_EQ(view->string(), "alpha! beta!");
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(6), TextRange(12) }));

    // A replace-all of a hundred matches undone leaves one caret, not a hundred that the next key
    // would type at.
    view->setString(QStringLiteral("cat ").repeated(100));
    view->textFinder().setSearchString("cat");
    view->textFinder().setReplaceString("dog");
    view->textFinder().performAction(EDTextFinder::replaceAll);
    view.settle();
    undo(false);
    EXPECT_EQ(view->string(), QStringLiteral("cat ").repeated(100));
    EXPECT_EQ(view.ranges().size(), 1u);
}

namespace {

// The desktop's drag loop, played by hand: the drag drops where `dropPoint` says.
struct DraggingView : EDTextView {
    QPoint dropPoint;
    Qt::DropAction executeDrag(QDrag& drag) override
    {
        QDragEnterEvent enter(
            dropPoint, Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport(), &enter);
        QDropEvent drop(dropPoint, Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport(), &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }
};

} // namespace

// A step of several changes that the user made at one caret (a replace-all over a long note, text
// dragged to another place) comes back with one caret: a caret per change would make the next key
// type in all those places.
TEST(EDTextViewUndo, AStepNotTypedAtSeveralCaretsComesBackWithOneCaret)
{
    ShownView view(QStringLiteral("cat and dog\n").repeated(20000));
    view->textFinder().setSearchString("cat");
    view->textFinder().setReplaceString("cow");
    view->textFinder().performAction(EDTextFinder::replaceAll);
    QCoreApplication::processEvents();
    for (const Qt::KeyboardModifiers modifiers :
        { Qt::KeyboardModifiers(Qt::ControlModifier), Qt::ControlModifier | Qt::ShiftModifier }) {
        QTest::keyClick(view.view.get(), Qt::Key_Z, modifiers);
        QCoreApplication::processEvents();
        EXPECT_EQ(view.ranges().size(), 1u) << (modifiers & Qt::ShiftModifier ? "redo" : "undo");
    }
    QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClicks(view.view.get(), "X");
    EXPECT_EQ(view->string().count(QLatin1Char('X')), 1);

    auto* dragging = new DraggingView;
    ShownView moved;
    moved.view.reset(dragging);
    dragging->setFont(testFont());
    dragging->resize(480, 200);
    dragging->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dragging));
    dragging->setString("drag me here");
    dragging->setSelectedTextRange(TextRange(0, 5));
    moved.settle();
    dragging->dropPoint = moved.pointOf(12);
    const QPoint press = moved.pointOf(2);
    QTest::mousePress(dragging->viewport(), Qt::LeftButton, Qt::NoModifier, press);
    QTest::mouseMove(dragging->viewport(), press + QPoint(30, 0));
    QTest::mouseRelease(dragging->viewport(), Qt::LeftButton, Qt::NoModifier, press + QPoint(30, 0));
    moved.settle();
    ASSERT_EQ(dragging->string(), "me heredrag ");
    QTest::keyClick(dragging, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClicks(dragging, "X");
    EXPECT_EQ(dragging->string(), "drag Xme here");

    // A change of case made at two selections comes back at both.
    ShownView words("alpha beta gamma");
    words->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(1)), platform::TextSelection(TextRange(12)) });
    words->uppercaseWord();
    ASSERT_EQ(words->string(), "ALPHA beta GAMMA");
    words->undo();
    EXPECT_EQ(words->string(), "alpha beta gamma");
    EXPECT_EQ(words.ranges().size(), 2u);
}

// An edit that puts nothing in place of nothing (pasting an empty clipboard, an input method
// committing nothing) is no undo step: the next Undo takes back what the user did before it.
TEST(EDTextViewUndo, AnEditThatChangesNothingIsNoUndoStep)
{
    ShownView view("text");
    view.setCaret(4);
    QGuiApplication::clipboard()->setText(QString());
    auto nothing = [&] {
        QTest::keyClick(view.view.get(), Qt::Key_V, Qt::ControlModifier);
        view->insertText(QString(), platform::CharacterRange::notFound());
        QCoreApplication::processEvents();
    };
    nothing();
    EXPECT_FALSE(view->undoManager()->canUndo());
    QTest::keyClicks(view.view.get(), "ab");
    QCoreApplication::processEvents();
    view.setCaret(0);
    nothing();
    QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "text");

    // Text deleted and typed again as it was, or killed and yanked back, leaves no step either.
    const std::function<void()> putBack[] = {
        [&] {
            QTest::keyClick(view.view.get(), Qt::Key_Backspace);
            QCoreApplication::processEvents();
            QTest::keyClicks(view.view.get(), "b");
        },
        [&] {
            view.setCaret(0);
            QTest::keyClick(view.view.get(), Qt::Key_K, Qt::ControlModifier);
            QCoreApplication::processEvents();
            QTest::keyClick(view.view.get(), Qt::Key_Y, Qt::ControlModifier);
        },
    };
    for (const auto& edit : putBack) {
        view->setString("text");
        view.setCaret(4);
        QTest::keyClicks(view.view.get(), "ab");
        QCoreApplication::processEvents();
        edit();
        QCoreApplication::processEvents();
        ASSERT_EQ(view->string(), "textab");
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(view->string(), "text");
    }
}

// Backspace or Delete held down, or pressed again and again, is one undo step that gives back
// all it removed; the other way, or typing before it, is a step of its own.
TEST(EDTextViewUndo, ARunOfDeletionsOneWayIsOneStep)
{
    const QString original = "The quick brown fox";
    ShownView view(original);
    auto keys = [&](Qt::Key key, int times, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(view.view.get(), key, modifiers);
            QCoreApplication::processEvents();
        }
    };
    struct Case {
        const char* name;
        qint64 caret;
        Qt::Key key;
        int times;
        Qt::KeyboardModifiers modifiers;
        QString deleted;
    };
    const Case cases[] = {
        { "Backspace", 9, Qt::Key_Backspace, 5, Qt::NoModifier, "The  brown fox" },
        { "Delete", 4, Qt::Key_Delete, 6, Qt::NoModifier, "The brown fox" },
        { "word back", 15, Qt::Key_Backspace, 2, Qt::ControlModifier, "The  fox" },
        { "word forward", 0, Qt::Key_Delete, 3, Qt::ControlModifier, " fox" },
    };
    for (const Case& test : cases) {
        view.setCaret(test.caret);
        keys(test.key, test.times, test.modifiers);
        EXPECT_EQ(view->string(), test.deleted) << test.name;
        keys(Qt::Key_Z, 1, Qt::ControlModifier);
        EXPECT_EQ(view->string(), original) << test.name;
        EXPECT_FALSE(view->undoManager()->canUndo()) << test.name;
        keys(Qt::Key_Z, 1, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(view->string(), test.deleted) << test.name;
        view->setString(original);
    }

    // Typed text, then Backspace, then Delete: three steps, each back to what the user saw.
    view.setCaret(9);
    QTest::keyClicks(view.view.get(), "est");
    QCoreApplication::processEvents();
    keys(Qt::Key_Backspace, 2);
    keys(Qt::Key_Delete, 2);
    EXPECT_EQ(view->string(), "The quickerown fox");
    for (const char* before :
        { "The quicke brown fox", "The quickest brown fox", "The quick brown fox" }) {
        keys(Qt::Key_Z, 1, Qt::ControlModifier);
        EXPECT_EQ(view->string(), before);
    }
    EXPECT_FALSE(view->undoManager()->canUndo());
}

// Keys typed or deleted after the caret went somewhere and came back, by keys or a click, are a
// step of their own; a run undoes back to what the user saw before the move.
TEST(EDTextViewUndo, AMoveOfTheCaretEndsTheTypingRun)
{
    const QString original = "0123456789";
    ShownView view(original);
    struct Case {
        const char* name;
        Qt::Key key;
        std::function<void()> move;
        QString beforeMove;
        QString after;
    };
    const Case cases[] = {
        { "typing, Left and Right", Qt::Key_A,
            [&] {
                QTest::keyClick(view.view.get(), Qt::Key_Left);
                QTest::keyClick(view.view.get(), Qt::Key_Right);
            },
            "0123456789aa", "0123456789aaa" },
        { "Backspace, Home and End", Qt::Key_Backspace,
            [&] {
                QTest::keyClick(view.view.get(), Qt::Key_Home);
                QTest::keyClick(view.view.get(), Qt::Key_End);
            },
            "01234567", "0123456" },
        { "typing, a click at its end", Qt::Key_A,
            [&] { QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view.pointOf(12)); },
            "0123456789aa", "0123456789aaa" },
    };
    for (const Case& test : cases) {
        view->setString(original);
        view.setCaret(10);
        QTest::keyClick(view.view.get(), test.key);
        QTest::keyClick(view.view.get(), test.key);
        test.move();
        QTest::keyClick(view.view.get(), test.key);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->string(), test.after) << test.name;
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->string(), test.beforeMove) << test.name;
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->string(), original) << test.name;
    }
}

// A yank is a step of its own, as a paste is: typing just before or just after it undoes apart.
TEST(EDTextViewUndo, AYankIsAStepOfItsOwn)
{
    ShownView view("one two");
    view.setCaret(7);
    view->deleteWordBackward();
    QCoreApplication::processEvents();
    QTest::keyClicks(view.view.get(), "ab");
    QTest::keyClick(view.view.get(), Qt::Key_Y, Qt::ControlModifier);
    QTest::keyClicks(view.view.get(), "cd");
    QTest::keyClick(view.view.get(), Qt::Key_Y, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->string(), "one abtwocdtwo");
    for (const char* before : { "one abtwocd", "one abtwo", "one ab", "one ", "one two" }) {
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->string(), before);
    }
    EXPECT_FALSE(view->undoManager()->canUndo());
}

// The text the undo steps keep is bounded, whatever the session: past the bound the oldest steps
// go, and the newest still give back the texts the user saw, each in turn.
TEST(EDTextViewUndo, TheUndoStepsOfALongSessionKeepBoundedText)
{
    ShownView view("start");
    platform::UndoManager* manager = view->undoManager();
    EXPECT_EQ(manager->maximumUndoBytes(), CoalescingUndoManager::defaultMaximumUndoBytes);

    const QString page = QStringLiteral("a line of a long note\n").repeated(5000);
    const qint64 pageBytes = page.size() * qint64(sizeof(QChar));
    manager->setMaximumUndoBytes(3 * pageBytes + pageBytes / 2);
    std::vector<QString> texts;
    for (int i = 0; i < 8; ++i) {
        texts.push_back(QString::number(i) + page);
        // Every text in turn replaces the whole note: each step keeps the text before it.
        view->setSelectedTextRange(view->textContentStorage().documentRange());
        QGuiApplication::clipboard()->setText(texts.back());
        QTest::keyClick(view.view.get(), Qt::Key_V, Qt::ControlModifier);
        QCoreApplication::processEvents();
        // Typed over a selection of the whole note, a run keeps that text too.
        if (i == 7) {
            view->setSelectedTextRange(view->textContentStorage().documentRange());
            QTest::keyClicks(view.view.get(), "typed");
            view->breakUndoCoalescing();
        }
        EXPECT_LE(manager->undoBytes(), manager->maximumUndoBytes());
    }
    EXPECT_EQ(view->string(), "typed");
    for (const int i : { 7, 6, 5 }) {
        ASSERT_TRUE(manager->canUndo());
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::processEvents();
        EXPECT_EQ(view->string(), texts[size_t(i)]);
    }
    EXPECT_FALSE(manager->canUndo());
    EXPECT_EQ(undoAll(view, true), 3);
    EXPECT_EQ(view->string(), "typed");
}

// Edits made while undo is not allowed, or a new text set then, leave nothing to undo once it is
// allowed again: the steps from before would take back text at places that moved.
TEST(EDTextViewUndo, StepsFromBeforeUndoWasTurnedOffAreNotUndoneInTheChangedText)
{
    const std::function<void(ShownView&)> changes[] = {
        [](ShownView& view) {
            view->setSelectedTextRange(TextRange(0, 5));
            QTest::keyClick(view.view.get(), Qt::Key_Backspace);
        },
        [](ShownView& view) { QTest::keyClicks(view.view.get(), "!"); },
        [](ShownView& view) { view->setString(" world"); },
    };
    for (const auto& change : changes) {
        ShownView view("hello");
        view.setCaret(5);
        QTest::keyClicks(view.view.get(), " wor");
        QCoreApplication::processEvents();
        view.setCaret(0);
        view->replaceCharacters(TextRange(0), QStringLiteral(">"));
        QTest::keyClicks(view.view.get(), "ld");
        view->setAllowsUndo(false);
        change(view);
        QCoreApplication::processEvents();
        const QString changed = view->string();
        view->setAllowsUndo(true);
        EXPECT_FALSE(view->undoManager()->canUndo());
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(view->string(), changed);
        // Steps made since undo came back undo as usual.
        view.setCaret(0);
        QTest::keyClicks(view.view.get(), "new");
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(view->string(), changed);
    }
}

// The Undo and Redo menu items name the step they would take: keys typed after a named step (a
// replace-all) are what Undo takes next, and they leave nothing to redo.
TEST(EDTextViewUndo, TheMenuTitlesNameTheStepUndoAndRedoWouldTake)
{
    ShownView view("cat and cat");
    platform::UndoManager* manager = view->undoManager();
    view->textFinder().setSearchString("cat");
    view->textFinder().setReplaceString("dog");
    view->textFinder().performAction(EDTextFinder::replaceAll);
    QCoreApplication::processEvents();
    const QString undoReplaceAll = manager->undoMenuItemTitle();
    ASSERT_NE(undoReplaceAll, "Undo");
    view.setCaret(11);
    QTest::keyClicks(view.view.get(), "s");
    EXPECT_EQ(manager->undoMenuItemTitle(), "Undo");
    view->undo();
    EXPECT_EQ(view->string(), "dog and dog");
    EXPECT_EQ(manager->undoMenuItemTitle(), undoReplaceAll);

    view->undo();
    const QString redoReplaceAll = manager->redoMenuItemTitle();
    ASSERT_NE(redoReplaceAll, "Redo");
    view.setCaret(0);
    QTest::keyClicks(view.view.get(), "a ");
    EXPECT_FALSE(manager->canRedo());
    EXPECT_EQ(manager->redoMenuItemTitle(), "Redo");
}

namespace {

// One undo manager for several views, as a host with a document of several fields gives.
struct SharedUndoDelegate : EDTextViewDelegate {
    CoalescingUndoManager manager;
    platform::UndoManager* undoManager(EDTextView&) override { return &manager; }
};

} // namespace

// A new text loaded into one view drops that view's steps only: keys typed in another view that
// shares its undo manager still undo.
TEST(EDTextViewUndo, ANewTextInOneViewKeepsTheTypingOfAnotherSharingItsUndo)
{
    const auto delegate = std::make_shared<SharedUndoDelegate>();
    ShownView first("first");
    ShownView second("second");
    first->setDelegate(delegate);
    second->setDelegate(delegate);
    first.setCaret(5);
    QTest::keyClicks(first.view.get(), " typed");
    second->setString("loaded");
    EXPECT_TRUE(delegate->manager.canUndo());
    first->undo();
    EXPECT_EQ(first->string(), "first");
    EXPECT_EQ(second->string(), "loaded");
}
