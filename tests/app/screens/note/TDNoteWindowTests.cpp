#include "../../FileSizeLimit.h"
#include "../ScreenTestSupport.h"
#include "EDTextView/EDFindBar.h"
#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/EDTextViewCommandList.h"
#include "app/TindrelApp.h"
#include "app/model/TDNote.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDLocalDay.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/screens/note/TDLinksPane.h"
#include "app/screens/note/TDNoteEditSheet.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/store/TDNoteFiles.h"
#include "platform/text/UndoManager.h"
#include "platform/ui/RulerView.h"

#include <QAction>
#include <QDateEdit>
#include <QFontDatabase>
#include <QFontInfo>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWindow>

using apptest::LibraryRoot;
using screentest::typeText;
using testsupport::waitUntil;

namespace {

QByteArray fileOf(const std::shared_ptr<TDNote>& note)
{
    QFile file(note->contentURL().path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

EDTextView* textOf(TDNoteWindow* content)
{
    return content->noteView()->editor()->textView();
}

// The bottom bar's marker: its word and whether its dot is red or green.
QString marker(TDNoteWindow* content)
{
    const auto& bar = std::get<bottombar::Note>(content->noteView()->bottomBar()->barType());
    return bar.text + (bar.color.green() > bar.color.red() ? " green" : " red");
}

class TDNoteWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.makeLibraryFolder();
        project = apptest::makeProject("Trip");
        stores.projectStore->setTdProjects({ project });
    }
    void TearDown() override
    {
        for (auto& window : windows)
            delete window.data();
    }

    std::shared_ptr<TDNote> addNote(const QString& title, const QByteArray& content)
    {
        auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL(project->name()), title);
        EXPECT_TRUE(url);
        writeFile(url.value().path(), content);
        auto note
            = TDNote::make(platform::Uuid::random(), project->id(), title, url.value(), platform::Date(8e8));
        auto notes = project->tdNote();
        notes.push_back(note);
        project->setTdNote(notes);
        auto map = stores.projectStore->noteMap();
        map[note->id()] = { 0, static_cast<int>(notes.size()) - 1 };
        stores.projectStore->setNoteMap(map);
        return note;
    }

    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    // The note's window, shown and active, once its text has been read.
    TDNoteWindow* openWindow(const std::shared_ptr<TDNote>& note)
    {
        QMainWindow* window = TDNoteWindow::makeWindow(note, stores, nullptr);
        windows.push_back(window);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
        EXPECT_TRUE(
            waitUntil([&] { return content->noteView() && !content->noteView()->isRenderPending(); }));
        QCoreApplication::processEvents();
        return content;
    }
    static void press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(widget, Qt::Key(key), modifiers);
        QCoreApplication::processEvents();
    }

    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    std::vector<QPointer<QMainWindow>> windows;
};

} // namespace

// The frame would take "[*]" for the place of its unsaved-changes mark and leave it out.
TEST_F(TDNoteWindowTest, ATitleWithABracketedStarShowsItInTheWindowTitle)
{
    TDNoteWindow* content = openWindow(addNote("Draft [*] v2", "text"));
    ASSERT_TRUE(content->window()->windowHandle());
    EXPECT_EQ(content->window()->windowHandle()->title(), u"Draft [*] v2 — Trip"_qs);
}

TEST_F(TDNoteWindowTest, OpenEditSaveCloseAndReopen)
{
    auto note = addNote("Plan", "Caf\xC3\xA9\n");
    TDNoteWindow* content = openWindow(note);
    EXPECT_EQ(content->window()->windowTitle(), u"Plan — Trip"_qs);
    EXPECT_EQ(content->toolbar()->title(), "Plan");
    EXPECT_EQ(content->toolbar()->subtitle(), "Trip");
    EXPECT_EQ(textOf(content)->string(), u"Café\n"_qs);
    EXPECT_TRUE(textOf(content)->isEditable());
    EXPECT_FALSE(textOf(content)->widthTracksTextView()) << "the note editor does not wrap";
    EXPECT_FALSE(textOf(content)->highlightSelectedLine());
    EXPECT_EQ(textOf(content)->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(textOf(content)->isRulerVisible()) << "the note is edited with line numbers";
    EXPECT_TRUE(qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*textOf(content))));
    EXPECT_EQ(marker(content), "Not Saved red") << "the load changed the text";

    press(content, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(marker(content), "Saved green");
    textOf(content)->setSelectedRange({ 5, 0 });
    typeText(textOf(content), "more");
    // Ctrl+S before the editor's write-back has had its turn still saves the last keystroke.
    QTest::keyClick(textOf(content), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(fileOf(note), "Caf\xC3\xA9\nmore");
    QCoreApplication::processEvents();
    EXPECT_EQ(marker(content), "Saved green");
    EXPECT_FALSE(textOf(content)->undoManager()->canUndo() && textOf(content)->string() != u"Café\nmore"_qs);

    typeText(textOf(content), "!");
    QPointer<QWidget> window = content->window();
    press(textOf(content), Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); })) << "Ctrl+W closes";
    EXPECT_EQ(fileOf(note), "Caf\xC3\xA9\nmore!") << "closing saved the text";

    content = openWindow(note);
    EXPECT_EQ(textOf(content)->string(), u"Café\nmore!"_qs);
    window = content->window();
    press(textOf(content), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); })) << "Escape closes, also from the text";
}

// What an input method shows while composing is not yet the user's text: it is neither marked
// unsaved nor written by Ctrl+S or a close, and a cancelled composition leaves the note as it was.
TEST_F(TDNoteWindowTest, ACompositionIsNotSavedUntilCommitted)
{
    auto note = addNote("Plan", "text");
    TDNoteWindow* content = openWindow(note);
    EDTextView* text = textOf(content);
    press(content, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(marker(content), "Saved green");
    auto compose = [&](const QString& preedit, const QString& commit = {}) {
        QInputMethodEvent event(preedit, { { QInputMethodEvent::Cursor, int(preedit.size()), 1, {} } });
        event.setCommitString(commit);
        QCoreApplication::sendEvent(text, &event);
        QCoreApplication::processEvents();
    };
    text->setSelectedRange({ 4, 0 });
    compose(u"\u306B"_qs);
    compose(u"\u306B\u307B"_qs);
    EXPECT_EQ(text->string(), u"text\u306B\u307B"_qs) << "shown at the caret";
    EXPECT_EQ(marker(content), "Saved green");
    compose({});
    EXPECT_EQ(text->string(), "text") << "cancelled";
    EXPECT_EQ(marker(content), "Saved green");
    // No input method answers here to commit it: the save leaves it out.
    compose(u"\u306B"_qs);
    press(text, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(fileOf(note), "text");

    compose(u"\u306B"_qs);
    compose({}, u"\u65E5"_qs);
    EXPECT_TRUE(waitUntil([&] { return marker(content) == "Not Saved red"; }));
    press(text, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(fileOf(note), "text\xE6\x97\xA5");

    compose(u"ni"_qs);
    QPointer<QWidget> window = content->window();
    window->close();
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_EQ(fileOf(note), "text\xE6\x97\xA5");
}

TEST_F(TDNoteWindowTest, AFailedLoadIsShownAndNothingSavesOverTheFile)
{
    auto note = addNote("Old", "caf\xE9");
    TDNoteWindow* content = openWindow(note);
    EXPECT_TRUE(content->loadProblemLabel()->isVisibleTo(content));
    EXPECT_TRUE(content->loadProblemLabel()->text().contains("UTF-8"))
        << content->loadProblemLabel()->text().toStdString();
    EXPECT_FALSE(textOf(content)->isEditable());
    const auto before = root.snapshot();

    press(textOf(content), Qt::Key_S, Qt::ControlModifier);
    QMessageBox* alert = screentest::alertOn(content);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The note could not be saved");
    screentest::closeAlert(alert);
    QPointer<QWidget> window = content->window();
    window->close();
    EXPECT_TRUE(waitUntil([&] { return window.isNull(); })) << "nothing was typed, so it closes";
    EXPECT_EQ(root.snapshot(), before);
}

TEST_F(TDNoteWindowTest, AFullDiskKeepsTheOldFileAndTheWindowUntilTheUserLetsTheTextGo)
{
    auto note = addNote("Plan", "old text");
    TDNoteWindow* content = openWindow(note);
    press(content, Qt::Key_S, Qt::ControlModifier);
    const QString big(256 * 1024, QLatin1Char('n'));
    textOf(content)->insertText(big, platform::CharacterRange::notFound());
    QPointer<QWidget> window = content->window();
    {
        apptest::FileSizeLimit full(64 * 1024);
        press(content, Qt::Key_S, Qt::ControlModifier);
        QMessageBox* failed = screentest::alertOn(content);
        ASSERT_TRUE(failed);
        screentest::closeAlert(failed);
        EXPECT_EQ(marker(content), "Not Saved red");

        window->close();
        QCoreApplication::processEvents();
        ASSERT_FALSE(window.isNull()) << "unsaved text keeps the window open";
        QMessageBox* alert = content->closeAlert();
        ASSERT_TRUE(alert);
        EXPECT_TRUE(alert->informativeText().contains("stays open"));
        auto* discard = alert->findChild<QPushButton*>("closeWithoutSavingButton");
        ASSERT_TRUE(discard);
        discard->click();
        EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
    }
    EXPECT_EQ(fileOf(note), "old text");
    EXPECT_EQ(QDir(root.library() + "/Trip/notes/Plan").entryList(QDir::Files | QDir::Hidden),
        QStringList { "Plan.txt" })
        << "no temporary file is left";
}

// Another Tindrel saved the note meanwhile: Ctrl+S keeps that version and says where, and so does
// the save a close makes, before the window goes.
TEST_F(TDNoteWindowTest, CtrlSTellsWhereAVersionSavedElsewhereWasKept)
{
    auto note = addNote("Plan", "first");
    for (bool closing : { false, true }) {
        TDNoteWindow* content = openWindow(note);
        QFile::remove(note->contentURL().path());
        writeFile(note->contentURL().path(), "saved by the other window");
        typeText(textOf(content), "typed ");
        QPointer<QWidget> window = content->window();
        if (closing)
            window->close();
        else
            press(textOf(content), Qt::Key_S, Qt::ControlModifier);
        EXPECT_TRUE(fileOf(note).startsWith("typed ")) << fileOf(note).toStdString();
        QMessageBox* alert = screentest::alertOn(content);
        ASSERT_TRUE(alert) << "closing " << closing;
        EXPECT_TRUE(alert->informativeText().contains("Plan.changed-elsewhere-"))
            << alert->informativeText().toStdString();
        screentest::closeAlert(alert);
        EXPECT_EQ(marker(content), "Saved green");
        if (!closing)
            window->close();
        EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
    }
}

TEST_F(TDNoteWindowTest, RenameFromTheSheetMovesTheFilesAndRetitlesTheWindow)
{
    auto note = addNote("Plan", "text");
    addNote("Idea", "");
    TDNoteWindow* content = openWindow(note);
    content->inspectorAction()->trigger();
    QCoreApplication::processEvents();
    TDNoteEditSheet* sheet = content->editSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->titleField()->text(), "Plan");
    EXPECT_EQ(sheet->width(), TDNoteEditSheet::sheetWidth);
    EXPECT_GT(sheet->titleField()->width(), TDNoteEditSheet::sheetWidth / 2) << "room for a long title";

    sheet->titleField()->setText("Idea");
    emit sheet->titleField()->textEdited("Idea");
    sheet->saveButton()->click();
    ASSERT_TRUE(waitUntil([&] { return screentest::alertOn(sheet); }));
    EXPECT_EQ(screentest::alertOn(sheet)->text(), "The note already exists");
    screentest::closeAlert(screentest::alertOn(sheet));
    EXPECT_TRUE(sheet->isVisible()) << "the sheet stays open";
    QTest::keyClick(sheet->titleField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return screentest::alertOn(sheet); }));
    screentest::closeAlert(screentest::alertOn(sheet));
    EXPECT_FALSE(screentest::alertOn(sheet)) << "Return saves once: one alert";

    sheet->titleField()->setText("Plan B");
    emit sheet->titleField()->textEdited("Plan B");
    QTest::keyClick(sheet->titleField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !content->editSheet(); }));
    EXPECT_EQ(note->title(), "Plan B");
    EXPECT_EQ(fileOf(note), "text");
    EXPECT_EQ(note->contentURL().path(), root.library() + "/Trip/notes/Plan B/Plan B.txt");
    EXPECT_FALSE(QFile::exists(root.library() + "/Trip/notes/Plan"));
    ASSERT_TRUE(waitUntil([&] { return content->window()->windowTitle() == u"Plan B — Trip"_qs; }));
    content->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(content->window()));
    typeText(textOf(content), "!");
    press(content, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(fileOf(note), "!text") << "saves go to the moved file";
}

// An emptied title field still names what it holds; saving it empty is refused and keeps the sheet.
TEST_F(TDNoteWindowTest, AnEmptiedTitleFieldSaysTitleAndCannotBeSaved)
{
    auto note = addNote("Plan", "text");
    TDNoteWindow* content = openWindow(note);
    content->inspectorAction()->trigger();
    QCoreApplication::processEvents();
    TDNoteEditSheet* sheet = content->editSheet();
    ASSERT_TRUE(sheet);
    sheet->titleField()->clear();
    emit sheet->titleField()->textEdited(QString());
    EXPECT_EQ(sheet->titleField()->placeholderText(), "Title");

    sheet->saveButton()->click();
    ASSERT_TRUE(waitUntil([&] { return screentest::alertOn(sheet); }));
    EXPECT_EQ(screentest::alertOn(sheet)->text(), "The name is blank");
    screentest::closeAlert(screentest::alertOn(sheet));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(note->title(), "Plan");
}

// What was typed into a cancelled sheet is dropped: the sheet opens again on the note as it is now,
// so changing only the date then does not rename the note to the cancelled title. A rename made
// elsewhere meanwhile shows too, and is not undone by the next save of the sheet.
TEST_F(TDNoteWindowTest, ACancelledSheetOpensAgainOnTheNoteAsItIs)
{
    auto note = addNote("Plan", "text");
    TDNoteWindow* content = openWindow(note);
    const auto openSheet = [&] {
        content->inspectorAction()->trigger();
        QCoreApplication::processEvents();
        return content->editSheet();
    };
    TDNoteEditSheet* sheet = openSheet();
    ASSERT_TRUE(sheet);
    sheet->titleField()->setText("Draft");
    emit sheet->titleField()->textEdited("Draft");
    sheet->dateField()->setDate(QDate(2001, 2, 3));
    sheet->cancelButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !content->editSheet(); }));

    sheet = openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->titleField()->text(), "Plan");
    EXPECT_EQ(sheet->dateField()->date(), tdLocalDay(note->date()));
    QTest::keyClick(sheet, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !content->editSheet(); }));

    note->setTitle("Renamed elsewhere");
    sheet = openSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->titleField()->text(), "Renamed elsewhere");
    sheet->reject();
    ASSERT_TRUE(waitUntil([&] { return !content->editSheet(); }));
    EXPECT_EQ(note->title(), "Renamed elsewhere");
}

// The date field shows the year whole, whatever the desktop's short format says: typed into "yy",
// "99" would be 2099.
TEST_F(TDNoteWindowTest, AHeldCtrlSSavesOnce)
{
    auto note = addNote("Plan", "text");
    TDNoteWindow* content = openWindow(note);
    QTest::simulateEvent(textOf(content), true, Qt::Key_S, Qt::ControlModifier, {}, false);
    QCoreApplication::processEvents();
    ASSERT_EQ(marker(content), "Saved green");
    // What the repeats would write over shows whether they saved again.
    writeFile(note->contentURL().path(), "changed outside");
    for (int i = 0; i < 3; ++i)
        QTest::simulateEvent(textOf(content), true, Qt::Key_S, Qt::ControlModifier, {}, true);
    QTest::simulateEvent(textOf(content), false, Qt::Key_S, Qt::ControlModifier, {}, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(fileOf(note), "changed outside");
}

TEST(TDNoteEditSheet, TheDateFieldShowsFourDigitYears)
{
    EXPECT_EQ(TDNoteEditSheet::dateFormat(QLocale(QLocale::English, QLocale::UnitedStates)), "M/d/yyyy");
    EXPECT_EQ(TDNoteEditSheet::dateFormat(QLocale(QLocale::German, QLocale::Germany)), "dd.MM.yyyy");
    EXPECT_EQ(TDNoteEditSheet::dateFormat(QLocale(QLocale::French, QLocale::France)), "dd/MM/yyyy");
}

TEST_F(TDNoteWindowTest, RapidTypingWhileTheScreenReRendersLosesNothing)
{
    auto note = addNote("Plan", "");
    TDNoteWindow* content = openWindow(note);
    EDTextView* text = textOf(content);
    QString typed;
    for (int i = 0; i < 300; ++i) {
        const QString key = QString(QChar(u'a' + i % 26));
        typeText(text, key);
        typed += key;
        // Whatever the windows read changes now and then, between a keystroke and its write-back.
        if (i % 7 == 0)
            note->setDate(platform::Date(8e8 + i));
        if (i % 11 == 0)
            project->setName(i % 22 ? "Trip" : "Trip ");
        if (i % 5 == 0)
            content->renderNow();
        if (i % 3 == 0)
            content->noteView()->renderNow();
        if (i % 13 == 0)
            QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitUntil([&] { return content->model()->text() == typed; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(text->string(), typed);
    EXPECT_EQ(text->selectedRange(), (platform::CharacterRange { typed.size(), 0 }));
}

TEST_F(TDNoteWindowTest, EditorPushesOnlyAnotherTextAndAPushCannotBeUndone)
{
    QString bound = "one\ntwo";
    std::optional<platform::CharacterRange> selection;
    EDTextEditView editor({ [&] { return bound; }, [&](QString text) { bound = std::move(text); } },
        { [&] { return selection; }, [&](auto range) { selection = range; } });
    EDTextView* text = editor.textView();
    EXPECT_EQ(text->string(), "one\ntwo");
    text->setSelectedRange({ 5, 0 });
    editor.updateView();
    EXPECT_EQ(text->selectedRange(), (platform::CharacterRange { 5, 0 })) << "the same text is not pushed";

    bound = "loaded from the file";
    editor.updateView();
    EXPECT_EQ(text->string(), "loaded from the file");
    EXPECT_FALSE(text->undoManager()->canUndo()) << "undo cannot bring back the text before a load";

    editor.setEnabled(false);
    EXPECT_FALSE(text->isEditable());
    EXPECT_FALSE(text->isSelectable());
    editor.setEnabled(true);
    EXPECT_TRUE(text->isEditable());
    EXPECT_TRUE(text->isSelectable());
}

namespace {

// An editor whose text goes back as edits into `bound`, with a replacement count the test moves.
struct EditedText {
    QString bound;
    std::uint64_t replacements = 0;
    int wholeTexts = 0;
    int editWriteBacks = 0;
    EDTextEditView editor { { [this] { return bound; },
                                [this](QString text) {
                                    bound = std::move(text);
                                    ++wholeTexts;
                                } },
        { [] { return std::nullopt; }, {} } };

    explicit EditedText(QString text)
        : bound(std::move(text))
    {
        editor.setEditBinding({ [this](std::vector<EDTextViewUI::TextEdit> edits) {
                                   ++editWriteBacks;
                                   for (const auto& edit : edits)
                                       bound.replace(
                                           edit.replaced.location, edit.replaced.length(), edit.replacement);
                               },
            [this] { return replacements; } });
    }
    EDTextView& text() { return *editor.textView(); }
};

} // namespace

// Every way of editing goes back as edits that rebuild the view's text exactly, one write-back at a
// time or many coalesced into one, and never as a copy of the whole text.
TEST_F(TDNoteWindowTest, EditorWritesBackEditsThatRebuildTheViewsText)
{
    using Step = std::function<void(EDTextView&)>;
    auto at = [](qint64 location, qint64 length = 0) -> Step {
        return [=](EDTextView& text) { text.setSelectedRange({ location, length }); };
    };
    auto type = [](QString string) -> Step {
        return [=](EDTextView& text) { text.insertText(string, platform::CharacterRange::notFound()); };
    };
    auto run = [](EDTextViewCommand name) -> Step { return [=](EDTextView& text) { text.doCommand(name); }; };
    const Step undo = [](EDTextView& text) { text.undoManager()->undo(); };
    const Step redo = [](EDTextView& text) { text.undoManager()->redo(); };
    const Step compose = [](EDTextView& text) {
        text.setMarkedText("k", { 1, 0 }, platform::CharacterRange::notFound());
        text.setMarkedText("ka", { 2, 0 }, platform::CharacterRange::notFound());
        text.unmarkText();
    };
    const std::vector<Step> cases[] = {
        { at(13), type("A"), type("B"), at(4), type("x"), at(0), type("\u00E9") },
        { at(7), run(EDTextViewCommand::deleteBackward), run(EDTextViewCommand::deleteWordBackward), at(0),
            run(EDTextViewCommand::deleteForward), at(5), run(EDTextViewCommand::uppercaseWord) },
        { at(2, 7), type("1\n2\r\n3"), at(0, 1), type(""), at(3), compose },
        { at(13), type("!"), at(0), type("?"), undo, undo, redo },
    };
    for (bool coalesced : { false, true }) {
        for (const auto& steps : cases) {
            SCOPED_TRACE(
                testing::Message() << "case " << (&steps - cases) << (coalesced ? ", coalesced" : ""));
            EditedText edited("one\ntwo\nthree");
            for (const Step& step : steps) {
                step(edited.text());
                if (!coalesced)
                    edited.editor.commitPendingText();
            }
            edited.editor.commitPendingText();
            EXPECT_EQ(edited.bound, edited.text().string());
            EXPECT_EQ(edited.wholeTexts, 0) << "no whole text was needed";
            EXPECT_TRUE(coalesced ? edited.editWriteBacks == 1 : edited.editWriteBacks > 1);
        }
    }
}

TEST_F(TDNoteWindowTest, WithEditsTheEditorPushesOnlyAReplacedTextAndKeepsTheUsersOverOne)
{
    EditedText edited("one");
    edited.bound = "changed without a replacement";
    edited.editor.updateView();
    EXPECT_EQ(edited.text().string(), "one") << "the text is neither compared nor pushed";

    edited.bound = "loaded";
    ++edited.replacements;
    edited.editor.updateView();
    EXPECT_EQ(edited.text().string(), "loaded");
    EXPECT_FALSE(edited.text().undoManager()->canUndo());

    // A load lands between a keystroke and its write-back: the keystroke is not lost.
    edited.text().setSelectedRange({ 6, 0 });
    edited.text().insertText("!", platform::CharacterRange::notFound());
    edited.bound = "LOADED";
    ++edited.replacements;
    edited.editor.updateView();
    EXPECT_EQ(edited.text().string(), "loaded!");
    edited.editor.commitPendingText();
    EXPECT_EQ(edited.bound, "loaded!");
    edited.editor.updateView();
    EXPECT_EQ(edited.text().string(), "loaded!");
}

TEST(TDNoteWindows, TwoNotesOpenAtOnceEachWholeOnTheMainWindowsScreen)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    TindrelApp app;
    auto project = apptest::makeProject("Trip");
    std::vector<std::shared_ptr<TDNote>> notes;
    for (const QString title : { "A", "B" }) {
        auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL("Trip"), title);
        ASSERT_TRUE(url);
        notes.push_back(
            TDNote::make(platform::Uuid::random(), project->id(), title, url.value(), platform::Date(8e8)));
    }
    project->setTdNote(notes);
    app.stores().projectStore->setTdProjects({ project });
    QMainWindow* main = app.showMainWindow();
    const QRect area = main->screen()->availableGeometry();
    main->setGeometry(area.right() - 300, area.bottom() - 200, 280, 180);

    QMainWindow* windows[2];
    for (int i : { 0, 1 }) {
        windows[i] = app.openNoteWindow(notes[std::size_t(i)]);
        ASSERT_TRUE(windows[i]);
        EXPECT_TRUE(area.contains(windows[i]->geometry())) << "whole on the screen";
    }
    EXPECT_NE(windows[0]->pos(), windows[1]->pos()) << "the second does not hide the first";
    ASSERT_TRUE(waitUntil([&] {
        for (QMainWindow* window : windows) {
            auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
            if (!content->noteView() || !textOf(content)->isEditable())
                return false;
        }
        return true;
    }));
    for (int i : { 0, 1 }) {
        auto* content = static_cast<TDNoteWindow*>(windows[i]->centralWidget());
        typeText(textOf(content), i ? "bee" : "ant");
        content->saveText();
    }
    EXPECT_EQ(fileOf(notes[0]), "ant");
    EXPECT_EQ(fileOf(notes[1]), "bee");
    EXPECT_EQ(app.openNoteWindow(notes[0]), windows[0]) << "one window per note";
}

// Ctrl+F opens the find bar over the note; Escape closes the bar, from its field or from the text,
// and only then the window.
TEST_F(TDNoteWindowTest, CtrlFFindsInTheNoteAndEscapeClosesTheBarFirst)
{
    auto note = addNote("Plan", "a cat\nanother cat\n");
    TDNoteWindow* content = openWindow(note);
    EDTextView* text = textOf(content);
    text->setFocus();
    press(text, Qt::Key_F, Qt::ControlModifier);
    EDFindBar* bar = text->textFinder().findBar();
    ASSERT_TRUE(bar && bar->isVisible());
    EXPECT_TRUE(waitUntil([&] { return bar->findField()->hasFocus(); }));
    QTest::keyClicks(bar->findField(), "cat");
    EXPECT_EQ(bar->matchCountLabel()->text(), "1 of 2");

    QPointer<QWidget> window = content->window();
    // To the focus widget, the find field, as the desktop delivers it.
    ASSERT_EQ(QApplication::focusWidget(), bar->findField());
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Escape);
    QCoreApplication::processEvents();
    ASSERT_FALSE(window.isNull()) << "Escape in the find field closes the bar, not the window";
    EXPECT_FALSE(bar->isVisible());
    press(text, Qt::Key_F, Qt::ControlModifier);
    text->setFocus();
    press(text, Qt::Key_Escape);
    ASSERT_FALSE(window.isNull()) << "nor from the text while the bar is open";
    EXPECT_FALSE(bar->isVisible());
    press(text, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return window.isNull(); })) << "then Escape closes the window";
}

// The find bar sits above the text, so Tab reaches it between the toolbar and the text, not after
// the links pane.
TEST_F(TDNoteWindowTest, TabGoesFromTheToolbarThroughTheFindBarToTheText)
{
    TDNoteWindow* content = openWindow(addNote("Plan", "a cat\n"));
    EDTextView* text = textOf(content);
    text->setFocus();
    press(text, Qt::Key_F, Qt::ControlModifier);
    EDFindBar* bar = text->textFinder().findBar();
    ASSERT_TRUE(bar && bar->findField()->hasFocus());
    auto tab = [](bool forward) {
        QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab,
            forward ? Qt::NoModifier : Qt::ShiftModifier);
        QCoreApplication::processEvents();
        return QApplication::focusWidget();
    };
    QWidget* before = tab(false);
    EXPECT_TRUE(content->toolbar()->isAncestorOf(before)) << before->metaObject()->className();
    EXPECT_EQ(tab(true), bar->findField());
    QWidget* focused = bar->findField();
    while (focused && bar->isAncestorOf(focused))
        focused = tab(true);
    EXPECT_EQ(focused, text) << "after the bar's last control";
    text->setFocus();
    focused = tab(false);
    EXPECT_TRUE(bar->isAncestorOf(focused)) << focused->metaObject()->className();
}

// A click on the links pane's add button leaves the focus in the text, so that Escape in the
// popover gives the typing back to the note.
TEST_F(TDNoteWindowTest, EscapeInTheAddLinkPopoverGivesTheFocusBackToTheText)
{
    TDNoteWindow* content = openWindow(addNote("Plan", ""));
    EDTextView* text = textOf(content);
    text->setFocus();
    QTest::mouseClick(
        content->noteView()->linksPane()->findChild<QToolButton*>("sectionTitleButton"), Qt::LeftButton);
    QLineEdit* field = content->noteView()->linksPane()->addLinkPopover()->field();
    ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return text->hasFocus(); }))
        << QApplication::focusWidget()->metaObject()->className();
}

// The add-link popover is a window of its own: Ctrl+S and Ctrl+W typed there save the note and close
// the window as they do from the text, and Escape there still closes only the popover.
TEST_F(TDNoteWindowTest, CtrlSAndCtrlWWorkFromTheAddLinkPopover)
{
    auto note = addNote("Plan", "text");
    TDNoteWindow* content = openWindow(note);
    EDTextView* text = textOf(content);
    auto openPopover = [&] {
        QTest::mouseClick(
            content->noteView()->linksPane()->findChild<QToolButton*>("sectionTitleButton"), Qt::LeftButton);
        QLineEdit* field = content->noteView()->linksPane()->addLinkPopover()->field();
        EXPECT_TRUE(waitUntil([&] { return field->hasFocus(); }));
        return field;
    };

    typeText(text, "saved ");
    QLineEdit* field = openPopover();
    QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(fileOf(note), "saved text");
    EXPECT_EQ(marker(content), "Saved green");
    EXPECT_TRUE(field->isVisible()) << "saving leaves the popover open";

    QPointer<QWidget> window = content->window();
    QTest::keyClick(field, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return text->hasFocus(); }));
    EXPECT_FALSE(window.isNull()) << "Escape closed the window, not the popover";

    typeText(text, "closed ");
    field = openPopover();
    QTest::keyClick(field, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_EQ(fileOf(note), "saved closed text") << "closing saved the typing first";
}

// A narrow window takes the width from the links pane first, so that the find bar keeps every
// control whole down to the window's least width.
TEST_F(TDNoteWindowTest, ANarrowWindowKeepsTheFindBarWhole)
{
    TDNoteWindow* content = openWindow(addNote("Plan", "a cat\n"));
    EDTextView* text = textOf(content);
    text->doCommandBySelector("showReplaceInterface:");
    EDFindBar* bar = text->textFinder().findBar();
    ASSERT_TRUE(bar);
    content->window()->resize(TDNoteWindow::minimumWidth, TDNoteWindow::defaultHeight);
    QCoreApplication::processEvents();
    EXPECT_GE(content->noteView()->linksPane()->width(), TDLinksPane::minimumWidth);
    EXPECT_GE(bar->width(), bar->layout()->minimumSize().width()) << "a control is squeezed";
}

// The desktop switched between light and dark while a note is open: its text and the selected
// line's number take the new text colour, and nothing about the note changes.
TEST_F(TDNoteWindowTest, TheTextFollowsASwitchOfAppearanceWhileOpen)
{
    for (bool dark : { true, false }) {
        screentest::ScopedPalette before(!dark);
        auto note = addNote(dark ? "Night" : "Day", "words");
        TDNoteWindow* content = openWindow(note);
        press(content, Qt::Key_S, Qt::ControlModifier);
        screentest::ScopedPalette after(dark);
        QCoreApplication::processEvents();
        EDTextView* text = textOf(content);
        const QColor ground = text->palette().color(QPalette::Base);
        const QImage image = text->viewport()->grab().toImage();
        EXPECT_FALSE(screentest::inkBounds(image, ground, QRect(0, 0, image.width(), 30)).isEmpty())
            << "the words stand out from the " << (dark ? "dark" : "light") << " ground";
        auto* ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*text));
        ASSERT_TRUE(ruler);
        // The first line is selected: its number is drawn in the text's colour on its highlight.
        const QImage numbers = ruler->grab().toImage();
        int lightest = 0, darkest = 255;
        for (int y = 0; y < std::min(numbers.height(), 16); ++y) {
            for (int x = 0; x < numbers.width() - 2; ++x) {
                lightest = std::max(lightest, numbers.pixelColor(x, y).lightness());
                darkest = std::min(darkest, numbers.pixelColor(x, y).lightness());
            }
        }
        EXPECT_TRUE(dark ? lightest > 170 : darkest < 90) << lightest << " " << darkest;
        EXPECT_EQ(marker(content), "Saved green");
        EXPECT_FALSE(text->undoManager()->canUndo());
        EXPECT_EQ(text->string(), "words");
    }
}

// The application's font changed while a note is open (the desktop's font setting): its text and
// what is typed next take the new font, as other widgets' text does, and nothing about the note
// changes.
TEST_F(TDNoteWindowTest, TheTextFollowsALiveChangeOfTheApplicationFont)
{
    auto note = addNote("Plan", "words");
    TDNoteWindow* content = openWindow(note);
    press(content, Qt::Key_S, Qt::ControlModifier);
    EDTextView* text = textOf(content);
    const QFont saved = QApplication::font();
    for (int points : { 20, saved.pointSize() }) {
        SCOPED_TRACE(points);
        QFont font = saved;
        font.setPointSize(points);
        QApplication::setFont(font);
        QCoreApplication::processEvents();
        ASSERT_TRUE(text->font());
        EXPECT_EQ(text->font()->pointSize(), points);
        EXPECT_EQ(
            text->typingAttributes().value(platform::AttributeKey::font).value<QFont>().pointSize(), points);
        EXPECT_EQ(marker(content), "Saved green");
        EXPECT_FALSE(text->undoManager()->canUndo());
        EXPECT_EQ(text->string(), "words");
    }
    QApplication::setFont(saved);
}

// Every label of the window in the system font (the title, the saved marker, the counts) takes a
// new family of the application's font at its own size and weight, as a desktop's change of its font
// would give it.
TEST_F(TDNoteWindowTest, ItsLabelsFollowALiveChangeOfTheApplicationFontFamily)
{
    auto note = addNote("Plan", "words");
    TDNoteWindow* content = openWindow(note);
    const QFont saved = QApplication::font();
    QFont serif = saved;
    serif.setFamily(QStringLiteral("DejaVu Serif"));
    QApplication::setFont(serif);
    QCoreApplication::processEvents();
    // Counts keep the fixed-width face they ask for by name (whose pitch fontconfig does not always
    // report).
    const QString fixedFamily = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    int checked = 0;
    for (QLabel* label : content->window()->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || QFontInfo(label->font()).fixedPitch()
            || label->font().family() == fixedFamily)
            continue;
        ++checked;
        EXPECT_EQ(QFontInfo(label->font()).family(), "DejaVu Serif") << label->text().toStdString();
    }
    EXPECT_GE(checked, 3);
    QApplication::setFont(saved);
}

// A note deleted while its window holds typing that cannot be written (its folder went first): the
// window stays, with the typing in view to be copied, until the user lets it go.
TEST_F(TDNoteWindowTest, TypingOfADeletedNoteThatCannotBeKeptStaysInView)
{
    auto note = addNote("Plan", "text");
    TDNoteWindow* content = openWindow(note);
    typeText(textOf(content), "typed ");
    QCoreApplication::processEvents();
    QDir(root.library() + "/Trip/notes/Plan").removeRecursively();
    project->setTdNote({});
    QPointer<QWidget> window = content->window();
    window->close();
    ASSERT_TRUE(waitUntil([&] { return !content->isRenderPending(); }));
    QCoreApplication::processEvents();
    ASSERT_FALSE(window.isNull());
    ASSERT_TRUE(content->closeAlert());
    EXPECT_EQ(content->shownTitle(), "Plan") << "not \"No progress\"";
    EXPECT_TRUE(textOf(content)->isVisibleTo(content));
    EXPECT_EQ(textOf(content)->string(), "typed text");
    EXPECT_FALSE(content->saveAction()->isEnabled());
    EXPECT_FALSE(content->noteView()->linksPane()->header()->button()->isEnabled())
        << "no link can be added to the deleted note";
    content->closeAlert()->findChild<QPushButton*>("closeWithoutSavingButton")->click();
    EXPECT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_FALSE(QFileInfo::exists(root.library() + "/Trip/notes/Plan")) << "no folder made again";
}

// A save is a point undo stops at: typing on after Ctrl+S is a step of its own, so Undo gives back
// exactly the saved text, and closing then leaves the file as it was saved.
TEST_F(TDNoteWindowTest, UndoAfterASaveStopsAtTheSavedText)
{
    auto note = addNote("Draft", "start");
    TDNoteWindow* content = openWindow(note);
    EDTextView* text = textOf(content);
    text->setSelectedRange({ 5, 0 });
    typeText(text, " saved");
    press(text, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(fileOf(note), "start saved");
    typeText(text, " more");
    QCoreApplication::processEvents();

    press(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text->string(), "start saved");
    press(text, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text->string(), "start");
    press(text, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text->string(), "start saved");

    QPointer<QWidget> window = content->window();
    press(text, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_EQ(fileOf(note), "start saved");
}

// A word given a colour through the colour panel keeps it when the desktop switches between light
// and dark, while the rest of the note takes the new text colour; the switch edits nothing.
TEST_F(TDNoteWindowTest, AColourChosenForAWordSurvivesASwitchOfAppearance)
{
    const QColor pink(0xE0, 0x1B, 0x84);
    screentest::ScopedPalette before(false);
    auto note = addNote("Poster", "pink words\n");
    TDNoteWindow* content = openWindow(note);
    EDTextView* text = textOf(content);
    text->setFocus();
    text->setSelectedRange({ 0, 4 });
    text->changeColor(pink);
    text->setSelectedRange({ 11, 0 });
    press(content, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(marker(content), "Saved green");

    screentest::ScopedPalette after(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(text->textContentStorage().attributes(1).value(platform::AttributeKey::foregroundColor), pink);
    const QImage image = text->viewport()->grab().toImage();
    int pinkPixels = 0, lightPixels = 0;
    for (int y = 0; y < std::min(image.height(), 20); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            pinkPixels += pixel.red() > 150 && pixel.green() < 80;
            lightPixels += pixel.lightness() > 200;
        }
    }
    EXPECT_GT(pinkPixels, 0) << "the pink word";
    EXPECT_GT(lightPixels, 0) << "the other word, light on dark";
    EXPECT_EQ(marker(content), "Saved green");
    EXPECT_FALSE(text->undoManager()->canUndo());
    EXPECT_EQ(fileOf(note), "pink words\n");
}
