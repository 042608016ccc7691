#include "platform/text/UndoManager.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// Returns control to the event loop once, which ends the current "event".
void endEvent()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

TEST(UndoManager, ActionsOfOneEventUndoAsOneStep)
{
    UndoManager manager;
    QString log;
    manager.registerUndo(nullptr, [&] { log += "a"; });
    manager.registerUndo(nullptr, [&] { log += "b"; });
    endEvent();
    manager.registerUndo(nullptr, [&] { log += "c"; });
    endEvent();

    manager.undo();
    EXPECT_EQ(log, "c");
    manager.undo();
    EXPECT_EQ(log, "cba"); // latest first within a group
    EXPECT_FALSE(manager.canUndo());
}

TEST(UndoManager, UndoClosesTheOpenEventGroupFirst)
{
    UndoManager manager;
    int undone = 0;
    manager.registerUndo(nullptr, [&] { ++undone; });
    manager.registerUndo(nullptr, [&] { ++undone; });
    EXPECT_TRUE(manager.canUndo());
    manager.undo();
    EXPECT_EQ(undone, 2);
    endEvent(); // the queued close finds nothing left to close
    EXPECT_FALSE(manager.canUndo());
}

TEST(UndoManager, WithoutEventGroupingEachActionIsAStep)
{
    UndoManager manager;
    manager.setGroupsByEvent(false);
    int undone = 0;
    manager.registerUndo(nullptr, [&] { ++undone; });
    manager.registerUndo(nullptr, [&] { ++undone; });
    manager.undo();
    EXPECT_EQ(undone, 1);
    manager.beginUndoGrouping();
    manager.registerUndo(nullptr, [&] { undone += 10; });
    manager.registerUndo(nullptr, [&] { undone += 10; });
    manager.endUndoGrouping();
    manager.undo();
    EXPECT_EQ(undone, 21);
}

TEST(UndoManager, ActionsRegisteredWhileUndoingBecomeRedo)
{
    UndoManager manager;
    QString text = "x";
    std::function<void(QString)> setText = [&](QString value) {
        const QString old = text;
        text = value;
        manager.registerUndo(nullptr, [&, old] { setText(old); });
    };
    setText("y");
    endEvent();
    EXPECT_FALSE(manager.canRedo());
    manager.undo();
    EXPECT_EQ(text, "x");
    EXPECT_TRUE(manager.canRedo());
    manager.redo();
    EXPECT_EQ(text, "y");
    EXPECT_TRUE(manager.canUndo());
    setText("z"); // a new action clears what could be redone
    endEvent();
    manager.undo();
    EXPECT_EQ(text, "y");
    manager.undo();
    EXPECT_EQ(text, "x");
}

TEST(UndoManager, DisabledRegistrationCountsAndTargetsCanBeRemoved)
{
    UndoManager manager;
    manager.setGroupsByEvent(false);
    int one = 0;
    int two = 0;
    manager.disableUndoRegistration();
    manager.disableUndoRegistration();
    manager.registerUndo(&one, [&] { ++one; });
    manager.enableUndoRegistration();
    EXPECT_FALSE(manager.isUndoRegistrationEnabled());
    manager.enableUndoRegistration();
    EXPECT_FALSE(manager.canUndo());

    manager.registerUndo(&one, [&] { ++one; });
    manager.registerUndo(&two, [&] { ++two; });
    manager.removeAllActions(&two);
    manager.undo();
    EXPECT_EQ(one, 1);
    EXPECT_EQ(two, 0);
    EXPECT_FALSE(manager.canUndo());
}

TEST(UndoManager, MenuTitlesCarryTheActionName)
{
    UndoManager manager;
    manager.setGroupsByEvent(false);
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo");
    manager.beginUndoGrouping();
    manager.registerUndo(nullptr, [] {});
    manager.setActionName("Typing");
    manager.endUndoGrouping();
    EXPECT_EQ(manager.undoMenuItemTitle(), "Undo Typing");
    manager.undo();
    EXPECT_EQ(manager.redoMenuItemTitle(), "Redo");
}

// Past the most bytes the steps may keep, the oldest undo steps go, then the furthest redo steps;
// the step undo or redo would take next always stays, and what stays still applies in order.
TEST(UndoManager, TheStepsFurthestBackGoPastTheMostBytes)
{
    UndoManager manager;
    manager.setGroupsByEvent(false);
    QString text;
    std::function<void(QString)> setText = [&](QString value) {
        const QString old = text;
        text = value;
        manager.registerUndo(
            nullptr, [&, old] { setText(old); }, 1000);
    };
    for (const char* value : { "a", "b", "c", "d", "e" })
        setText(value);
    const qint64 oneStep = manager.undoBytes() / 5;
    EXPECT_GE(oneStep, 1000);

    manager.setMaximumUndoBytes(2 * oneStep + oneStep / 2);
    EXPECT_EQ(manager.undoBytes(), 2 * oneStep);
    manager.undo();
    manager.undo();
    EXPECT_EQ(text, "c");
    EXPECT_FALSE(manager.canUndo());
    manager.redo();
    EXPECT_EQ(text, "d");

    // A new step clears the redo stack and its bytes; one step over the bound on its own stays.
    setText("f");
    EXPECT_FALSE(manager.canRedo());
    manager.setMaximumUndoBytes(oneStep / 2);
    EXPECT_EQ(manager.undoBytes(), oneStep);
    manager.undo();
    EXPECT_EQ(text, "d");
    EXPECT_FALSE(manager.canUndo());
    EXPECT_TRUE(manager.canRedo());

    // Redo steps far from the text go too, and removing actions gives their bytes back.
    manager.setMaximumUndoBytes(0);
    for (const char* value : { "g", "h", "i" })
        setText(value);
    manager.undo();
    manager.undo();
    manager.undo();
    EXPECT_EQ(text, "d");
    manager.setMaximumUndoBytes(2 * oneStep + oneStep / 2);
    manager.redo();
    manager.redo();
    EXPECT_EQ(text, "h");
    EXPECT_FALSE(manager.canRedo());
    manager.removeAllActions(nullptr);
    EXPECT_EQ(manager.undoBytes(), 0);
}
