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

// Return pressed in the window of a note from Windows, saved with Ctrl+S: the file has CR LF
// throughout, as the editor's text and the file's bytes agree character for character.
TEST(TDNoteWindowLineEnds, ReturnInANoteFromWindowsSavesACrLf)
{
    apptest::LibraryRoot root;
    root.makeLibraryFolder();
    TDStores stores = screentest::makeStores();
    auto project = apptest::makeProject("Trip");
    stores.projectStore->setTdProjects({ project });
    auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL("Trip"), "Plan");
    ASSERT_TRUE(url);
    root.write("Trip/notes/Plan/Plan.txt", "one\r\ntwo\r\n");
    auto note
        = TDNote::make(platform::Uuid::random(), project->id(), "Plan", url.value(), platform::Date(8e8));
    project->setTdNote({ note });
    stores.projectStore->setNoteMap({ { note->id(), { 0, 0 } } });

    QPointer<QMainWindow> window = TDNoteWindow::makeWindow(note, stores, nullptr);
    window->show();
    auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
    ASSERT_TRUE(waitUntil([&] { return content->noteView() && !content->noteView()->isRenderPending(); }));
    EDTextView* text = content->noteView()->editor()->textView();
    ASSERT_EQ(text->string(), u"one\r\ntwo\r\n"_qs);
    text->setSelectedRange({ 3, 0 });
    QTest::keyClick(text, Qt::Key_Return);
    screentest::typeText(text, "new");
    QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(root.read("Trip/notes/Plan/Plan.txt"), QByteArray("one\r\nnew\r\ntwo\r\n"));
    delete window.data();
}

// Undo and redo put line ends back as the file spelled them: a deleted CR LF in a note of mostly LF
// comes back as CR LF, and a Return redone in a note from Windows is written as CR LF again.
TEST(TDNoteWindowLineEnds, UndoAndRedoGiveLineEndsBackTheirSpelling)
{
    apptest::LibraryRoot root;
    root.makeLibraryFolder();
    TDStores stores = screentest::makeStores();
    auto project = apptest::makeProject("Trip");
    stores.projectStore->setTdProjects({ project });
    auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL("Trip"), "Plan");
    ASSERT_TRUE(url);
    const QByteArray mixed = "a\r\nb\nc\nd\r\n";
    root.write("Trip/notes/Plan/Plan.txt", mixed);
    auto note
        = TDNote::make(platform::Uuid::random(), project->id(), "Plan", url.value(), platform::Date(8e8));
    project->setTdNote({ note });
    stores.projectStore->setNoteMap({ { note->id(), { 0, 0 } } });

    QPointer<QMainWindow> window = TDNoteWindow::makeWindow(note, stores, nullptr);
    window->show();
    auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
    ASSERT_TRUE(waitUntil([&] { return content->noteView() && !content->noteView()->isRenderPending(); }));
    EDTextView* text = content->noteView()->editor()->textView();
    const auto save = [&] {
        QTest::keyClick(text, Qt::Key_S, Qt::ControlModifier);
        return root.read("Trip/notes/Plan/Plan.txt");
    };

    text->setSelectedRange({ 3, 0 });
    QTest::keyClick(text, Qt::Key_Backspace);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(save(), mixed) << "a deletion undone";

    text->setSelectedRange({ 0, text->string().size() });
    QTest::keyClick(text, Qt::Key_Delete);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(save(), mixed) << "the whole text deleted and brought back";

    text->setSelectedRange({ 1, 0 });
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(save(), "a\n\r\nb\nc\nd\r\n") << "a Return redone is typed, as the file's most line ends are";
    text->setSelectedRange({ 2, 0 });
    QTest::keyClick(text, Qt::Key_Backspace);
    QTest::keyClick(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(save(), "a\n\r\nb\nc\nd\r\n") << "and it keeps that spelling through a deletion undone";
    delete window.data();
}
