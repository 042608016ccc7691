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
