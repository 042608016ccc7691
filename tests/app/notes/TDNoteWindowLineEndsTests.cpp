#include "../LibraryTestSupport.h"
#include "../screens/ScreenTestSupport.h"
#include "EDTextView/EDTextView.h"
#include "app/model/TDNote.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/store/TDNoteFiles.h"

#include <QMainWindow>
#include <QPointer>
#include <QTest>

using testsupport::waitUntil;

namespace {

// The window of the note "Plan" of the project "Trip", its file holding `bytes`, shown until its text
// is in the view.
struct PlanWindow {
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QPointer<QMainWindow> window;
    EDTextView* text = nullptr;

    explicit PlanWindow(const QByteArray& bytes)
    {
        root.makeLibraryFolder();
        auto project = apptest::makeProject("Trip");
        stores.projectStore->setTdProjects({ project });
        auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL("Trip"), "Plan");
        EXPECT_TRUE(url);
        root.write("Trip/notes/Plan/Plan.txt", bytes);
        auto note
            = TDNote::make(platform::Uuid::random(), project->id(), "Plan", url.value(), platform::Date(8e8));
        project->setTdNote({ note });
        stores.projectStore->setNoteMap({ { note->id(), { 0, 0 } } });
        window = TDNoteWindow::makeWindow(note, stores, nullptr);
        window->show();
        auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
        EXPECT_TRUE(
            waitUntil([&] { return content->noteView() && !content->noteView()->isRenderPending(); }));
        text = content->noteView()->editor()->textView();
    }
    ~PlanWindow() { delete window.data(); }

    // Ctrl+S, and the file's bytes after it.
    QByteArray save()
    {
        QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
        return root.read("Trip/notes/Plan/Plan.txt");
    }
};

} // namespace

// Return pressed in the window of a note from Windows, saved with Ctrl+S: the file has CR LF
// throughout, as the editor's text and the file's bytes agree character for character.
TEST(TDNoteWindowLineEnds, ReturnInANoteFromWindowsSavesACrLf)
{
    PlanWindow plan("one\r\ntwo\r\n");
    EDTextView* text = plan.text;
    ASSERT_EQ(text->string(), u"one\r\ntwo\r\n"_qs);
    text->setSelectedRange({ 3, 0 });
    QTest::keyClick(text, Qt::Key_Return);
    screentest::typeText(text, "new");
    EXPECT_EQ(plan.save(), QByteArray("one\r\nnew\r\ntwo\r\n"));
}

// Undo and redo put line ends back as the file spelled them: a deleted CR LF in a note of mostly LF
// comes back as CR LF, and a Return redone in a note from Windows is written as CR LF again.
TEST(TDNoteWindowLineEnds, UndoAndRedoGiveLineEndsBackTheirSpelling)
{
    const QByteArray mixed = "a\r\nb\nc\nd\r\n";
    PlanWindow plan(mixed);
    EDTextView* text = plan.text;

    text->setSelectedRange({ 3, 0 });
    QTest::keyClick(text, Qt::Key_Backspace);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(plan.save(), mixed) << "a deletion undone";

    text->setSelectedRange({ 0, text->string().size() });
    QTest::keyClick(text, Qt::Key_Delete);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(plan.save(), mixed) << "the whole text deleted and brought back";

    text->setSelectedRange({ 1, 0 });
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(plan.save(), "a\n\r\nb\nc\nd\r\n")
        << "a Return redone is typed, as the file's most line ends are";
    text->setSelectedRange({ 2, 0 });
    QTest::keyClick(text, Qt::Key_Backspace);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(plan.save(), "a\n\r\nb\nc\nd\r\n") << "and it keeps that spelling through a deletion undone";
}

// Return at the start of a line of a note whose lines end with CR makes a line that shows at once,
// and the file gets exactly the lines shown: an LF typed there would have joined the CR before it as
// one line end on screen while the save wrote two.
TEST(TDNoteWindowLineEnds, ReturnAfterACrShowsTheLineTheSaveWrites)
{
    PlanWindow plan("one\rtwo\r");
    for (qsizetype at : { 4, 9 }) {
        plan.text->setSelectedRange({ at, 0 });
        QTest::keyClick(plan.text, Qt::Key_Return);
    }
    EXPECT_EQ(plan.text->string(), u"one\r\rtwo\r\r"_qs);
    EXPECT_EQ(plan.save(), QByteArray("one\r\rtwo\r\r"));
    QTest::keyClick(plan.text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(plan.text->string(), u"one\rtwo\r"_qs) << "undone as typing is";
}
