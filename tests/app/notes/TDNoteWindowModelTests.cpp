#include "../FatDisk.h"
#include "../FileSizeLimit.h"
#include "../LibraryTestSupport.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDNoteFiles.h"
#include "app/store/TDProjectStore.h"

#include <QRegularExpression>

using apptest::CapturedStream;
using apptest::FileSizeLimit;
using apptest::LibraryRoot;
using testsupport::waitUntil;
using Model = TDNoteWindowModel;
using Reason = TDNoteWindowModel::EditFailure::Reason;

namespace {

class TDNoteWindowModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.makeLibraryFolder();
        project = apptest::makeProject("Trip");
        other = apptest::makeProject("Home");
        store->setTdProjects({ project, other });
    }

    std::shared_ptr<TDNote> addNote(
        const QString& title, const QByteArray& content, const std::shared_ptr<TDProject>& to = nullptr)
    {
        const auto& owner = to ? to : project;
        auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL(owner->name()), title);
        EXPECT_TRUE(url);
        writeFile(url.value().path(), content);
        auto note
            = TDNote::make(platform::Uuid::random(), owner->id(), title, url.value(), platform::Date(8e8));
        auto notes = owner->tdNote();
        notes.push_back(note);
        owner->setTdNote(notes);
        auto map = store->noteMap();
        map[note->id()] = { owner == project ? 0 : 1, static_cast<int>(notes.size()) - 1 };
        store->setNoteMap(map);
        return note;
    }

    static void writeFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    static QByteArray fileOf(const std::shared_ptr<TDNote>& note)
    {
        QFile file(note->contentURL().path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QString noteFile(const QString& title) const
    {
        return root.library() + "/Trip/notes/" + title + "/" + title + ".txt";
    }

    std::shared_ptr<Model> open(const std::shared_ptr<TDNote>& note) { return Model::make(store, note); }

    Model::EditResult rename(Model& model, const QString& title)
    {
        model.setOpenEditSheet(true);
        model.setNewTitle(title);
        auto result = std::make_shared<std::optional<Model::EditResult>>();
        model.saveEdit([result](Model::EditResult r) { *result = r; });
        EXPECT_FALSE(result->has_value()) << "answers after the call";
        EXPECT_TRUE(waitUntil([&] { return result->has_value(); }));
        return result->value_or(Model::EditResult::success({}));
    }

    std::vector<QString> savedTitles() const
    {
        std::vector<QString> titles;
        if (auto projects = tdlibrary::decodeProjects(root.read("projects.library")))
            for (const auto& note : projects.value().front()->tdNote())
                titles.push_back(note->title());
        return titles;
    }

    LibraryRoot root;
    std::shared_ptr<TDProjectStore> store = std::make_shared<TDProjectStore>();
    std::shared_ptr<TDProject> project;
    std::shared_ptr<TDProject> other;
};

} // namespace

TEST_F(TDNoteWindowModelTest, OpenEditSaveCloseAndReopen)
{
    auto note = addNote("Plan", "Caf\xC3\xA9 \xF0\x9F\x8E\xB5\n");
    auto model = open(note);
    EXPECT_EQ(model->label(), "Saved");
    EXPECT_EQ(model->dotColor(), Model::DotColor::red) << "the first marker has a red dot";

    EXPECT_FALSE(model->loadText());
    EXPECT_EQ(model->text(), u"Café 🎵\n"_qs);
    EXPECT_TRUE(model->canEdit());
    EXPECT_EQ(model->textReplacementCount(), 1u);
    EXPECT_EQ(model->label(), "Not Saved") << "the load changed the text";

    model->setText(model->text() + "x");
    model->setText(model->text().chopped(1) + "y");
    EXPECT_EQ(model->textReplacementCount(), 1u) << "an edit never asks the view to take the model's text";
    EXPECT_FALSE(model->loadText()) << "showing the window again keeps the typing";
    EXPECT_EQ(model->text(), u"Café 🎵\ny"_qs);

    EXPECT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(note), "Caf\xC3\xA9 \xF0\x9F\x8E\xB5\ny");
    EXPECT_EQ(model->label(), "Saved");
    EXPECT_EQ(model->dotColor(), Model::DotColor::green);
    EXPECT_FALSE(model->saveText()) << "a second save without typing";
    EXPECT_EQ(model->label(), "Saved");

    model->setText(model->text() + "z");
    model->setText(model->text().chopped(1));
    EXPECT_EQ(model->label(), "Not Saved") << "typing and deleting compares each change, not the file";
    model->setText(model->text() + " closing");
    EXPECT_TRUE(model->prepareToClose().mayClose);
    EXPECT_EQ(fileOf(note), "Caf\xC3\xA9 \xF0\x9F\x8E\xB5\ny closing") << "closing saved the text";

    auto reopened = open(note);
    EXPECT_FALSE(reopened->loadText());
    EXPECT_EQ(reopened->text(), u"Café 🎵\ny closing"_qs);
    EXPECT_TRUE(reopened->prepareToClose().mayClose);
    EXPECT_EQ(reopened->label(), "Not Saved") << "closing unchanged text writes nothing";

    auto empty = open(addNote("Empty", ""));
    EXPECT_FALSE(empty->loadText());
    EXPECT_EQ(empty->label(), "Saved");
    EXPECT_EQ(empty->dotColor(), Model::DotColor::red) << "an empty note keeps the first marker";
}

TEST_F(TDNoteWindowModelTest, EditsChangeTheTextInPlaceAndUnsavedMeansOtherThanTheFile)
{
    auto note = addNote("Plan", "alpha beta gamma");
    auto model = open(note);
    model->loadText();
    ASSERT_FALSE(model->saveText());
    const QChar* buffer = model->text().constData();

    model->editText({ { 6, 4, "BETA" } });
    EXPECT_EQ(model->text(), "alpha BETA gamma");
    EXPECT_EQ(model->text().constData(), buffer) << "the note's text is not copied for an edit";
    EXPECT_EQ(model->label(), "Not Saved");
    EXPECT_TRUE(model->hasUnsavedText());

    ASSERT_FALSE(model->saveText());
    model->editText({ { 16, 0, "!" }, { 16, 1, "" } });
    EXPECT_EQ(model->label(), "Saved") << "typing taken back in one write-back changes nothing";
    EXPECT_FALSE(model->hasUnsavedText());

    // Edits at both ends, taken back one by one: the text is the file's again.
    model->editText({ { 0, 0, "> " } });
    model->editText({ { 18, 0, " <" }, { 8, 4, "b" } });
    EXPECT_EQ(model->text(), "> alpha b gamma <");
    EXPECT_TRUE(model->hasUnsavedText());
    model->editText({ { 15, 2, "" } });
    model->editText({ { 8, 1, "BETA" }, { 0, 2, "" } });
    EXPECT_EQ(model->text(), "alpha BETA gamma");
    EXPECT_FALSE(model->hasUnsavedText());
    EXPECT_EQ(model->label(), "Not Saved") << "the marker follows each change, not the file";
    writeFile(note->contentURL().path(), "changed behind the window");
    EXPECT_TRUE(model->prepareToClose().mayClose);
    EXPECT_EQ(fileOf(note), "changed behind the window") << "closing the file's own text writes nothing";

    model->setText("whole");
    model->editText({ { 5, 0, "!" }, { -3, 99, "" } });
    EXPECT_EQ(model->text(), "") << "edits are clamped to the text";
}

// Return in a note from Windows writes CR LF as the rest of the file has, also on later saves; a
// note with LF line ends keeps LF only, and a mixed file changes only where the user typed.
TEST_F(TDNoteWindowModelTest, TypedLineEndsFollowTheFileAndTheRestKeepsItsBytes)
{
    auto windows = addNote("Windows", "\xEF\xBB\xBFone\r\ntwo\r\n");
    auto model = open(windows);
    model->loadText();
    ASSERT_EQ(model->text(), u"one\r\ntwo\r\n"_qs);
    model->editText({ { 3, 0, u"\nnew"_qs }, { 14, 0, u"three\n"_qs } });
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(windows), "\xEF\xBB\xBFone\r\nnew\r\ntwo\r\nthree\r\n");
    model->editText({ { 0, 0, u"zero\n"_qs } });
    model->editText({ { 2, 2, u""_qs } });
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(windows), "\xEF\xBB\xBFze\r\none\r\nnew\r\ntwo\r\nthree\r\n")
        << "what a later edit moved keeps the line ends the earlier save gave it";
    model->editText({ { 0, 0, u"a"_qs } });
    QFile::remove(windows->contentURL().path());
    writeFile(windows->contentURL().path(), "\xEF\xBB\xBFze\r\none\r\nnew\r\ntwo\r\nthree\r\n");
    ASSERT_FALSE(model->saveText());
    EXPECT_FALSE(model->takeKeptNotice()) << "the file written again as saved is nothing to keep";

    auto unix = addNote("Unix", "one\ntwo\n");
    model = open(unix);
    model->loadText();
    model->editText({ { 8, 0, u"pasted\r\nfrom windows\r\n"_qs } });
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(unix), "one\ntwo\npasted\nfrom windows\n");

    const QByteArray mixed = "1\r\n2\n3\r\n4\r\n5\n6\r\n";
    auto both = addNote("Mixed", mixed);
    model = open(both);
    model->loadText();
    model->setText(model->text() + "7\n");
    model->setText(u"0\n"_qs + model->text());
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(both), "0\r\n" + mixed + "7\r\n");

    const QByteArray utf16 = QByteArray::fromHex("fffe 6100 0d00 0a00 6200");
    auto same = addNote("Same", utf16);
    model = open(same);
    model->loadText();
    model->editText({ { 1, 0, u"\n"_qs } });
    model->editText({ { 1, 1, u""_qs } });
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(same), "a\r\nb") << "a UTF-16 note is saved in UTF-8, its line ends kept";
}

TEST_F(TDNoteWindowModelTest, AFileThatFailedToLoadIsNeverSavedOver)
{
    const QString outside = root.root() + "/outside.txt";
    writeFile(outside, "the user's own file");
    struct Case {
        const char* name;
        std::function<void(const std::shared_ptr<TDNote>&)> damage;
        const char* says;
    };
    const Case cases[] = {
        { "folder missing",
            [](const auto& note) { QDir(QFileInfo(note->contentURL().path()).path()).removeRecursively(); },
            "There is no file" },
        { "folder",
            [](const auto& note) {
                QFile::remove(note->contentURL().path());
                QDir().mkpath(note->contentURL().path());
            },
            "not a regular file" },
        { "Latin-1", [](const auto& note) { writeFile(note->contentURL().path(), "caf\xE9"); }, "UTF-8" },
        { "cut short", [](const auto& note) { writeFile(note->contentURL().path(), "ab\xE2\x82"); },
            "UTF-8" },
        { "too large",
            [](const auto& note) {
                QFile(note->contentURL().path()).resize(TDNoteTextFile::maximumTextBytes + 1);
            },
            "larger than 64 MiB" },
        { "link out of the library",
            [&](const auto& note) {
                QFile::remove(note->contentURL().path());
                QFile::link(outside, note->contentURL().path());
            },
            "not inside the library" },
        { "URL out of the library", [&](const auto& note) { note->setContentURL(apptest::fileUrl(outside)); },
            "not inside the library" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto note = addNote(test.name, "kept");
        test.damage(note);
        const auto before = root.snapshot();
        auto model = open(note);
        CapturedStream out(stdout);
        auto problem = model->loadText();
        ASSERT_TRUE(problem);
        EXPECT_TRUE(problem->text.contains(test.says)) << problem->text.toStdString();
        EXPECT_EQ(model->loadProblem()->text, problem->text);
        EXPECT_FALSE(model->canEdit());
        EXPECT_EQ(model->text(), "");

        model->setText("typed anyway");
        auto refused = model->saveText();
        ASSERT_TRUE(refused);
        EXPECT_TRUE(refused->text.contains(test.says)) << refused->text.toStdString();
        EXPECT_TRUE(out.take().startsWith("Error: "));
        EXPECT_EQ(model->label(), "Not Saved");
        auto close = model->prepareToClose();
        EXPECT_FALSE(close.mayClose) << "the typed text would be lost";
        ASSERT_TRUE(close.reason);
        EXPECT_EQ(root.snapshot(), before) << "nothing on disk changed";
    }
}

// A text file removed by another program leaves nothing to save over: the note opens empty, and its
// first save writes the file again. A first try made while its folder was gone too is forgotten.
TEST_F(TDNoteWindowModelTest, ANoteWhoseFileIsGoneOpensEmptyAndSavesItAgain)
{
    auto note = addNote("Plan", "gone");
    const QString folder = QFileInfo(note->contentURL().path()).path();
    QDir(folder).removeRecursively();
    auto model = open(note);
    CapturedStream out(stdout);
    ASSERT_TRUE(model->loadText());
    QDir().mkpath(folder);
    out.take();
    EXPECT_FALSE(model->loadText());
    EXPECT_TRUE(out.take().startsWith("Error: There is no file"));
    EXPECT_FALSE(model->loadProblem());
    EXPECT_TRUE(model->canEdit());
    EXPECT_EQ(model->text(), "");
    EXPECT_TRUE(model->prepareToClose().mayClose);
    EXPECT_FALSE(QFile::exists(note->contentURL().path())) << "closing untouched writes nothing";

    model->setText("new");
    EXPECT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(note), "new");
    EXPECT_EQ(model->label(), "Saved");
}

TEST_F(TDNoteWindowModelTest, AFullDiskKeepsTheOldFileTheMarkerAndTheWindow)
{
    auto note = addNote("Plan", "old text");
    auto model = open(note);
    model->loadText();
    ASSERT_TRUE(model->saveText() == std::nullopt);
    const QString big(512 * 1024, QLatin1Char('n'));
    model->setText(big);
    const QStringList before
        = QDir(root.library() + "/Trip/notes/Plan").entryList(QDir::Files | QDir::Hidden);
    {
        FileSizeLimit full(64 * 1024);
        auto failed = model->saveText();
        ASSERT_TRUE(failed);
        EXPECT_EQ(model->label(), "Not Saved");
        EXPECT_EQ(model->dotColor(), Model::DotColor::red);
        auto close = model->prepareToClose();
        EXPECT_FALSE(close.mayClose);
        ASSERT_TRUE(close.reason);
        EXPECT_TRUE(close.reason->text.contains("stays open"));
    }
    EXPECT_EQ(fileOf(note), "old text");
    EXPECT_EQ(QDir(root.library() + "/Trip/notes/Plan").entryList(QDir::Files | QDir::Hidden), before)
        << "no temporary file is left";
    EXPECT_EQ(model->text(), big);
    EXPECT_TRUE(model->prepareToClose().mayClose) << "with room again, closing saves";
    EXPECT_EQ(fileOf(note), big.toUtf8());
}

// A replacement renamed over the file would pass by its permissions: a file the user made
// read-only is refused, even one changed elsewhere meanwhile, and the window stays open on the text.
TEST_F(TDNoteWindowModelTest, AReadOnlyNoteFileIsNotReplaced)
{
    auto note = addNote("Plan", "kept");
    const QByteArray path = QFile::encodeName(note->contentURL().path());
    auto model = open(note);
    model->loadText();
    model->setText("typed");
    for (const QByteArray& onDisk : { QByteArray("kept"), QByteArray("changed elsewhere") }) {
        writeFile(note->contentURL().path(), onDisk);
        ASSERT_EQ(::chmod(path.constData(), 0444), 0);
        auto failed = model->saveText();
        ASSERT_TRUE(failed) << onDisk.constData();
        EXPECT_TRUE(failed->text.contains("read-only")) << failed->text.toStdString();
        EXPECT_EQ(model->label(), "Not Saved");
        EXPECT_FALSE(model->prepareToClose().mayClose);
        EXPECT_EQ(fileOf(note), onDisk);
        EXPECT_EQ(QDir(root.library() + "/Trip/notes/Plan").entryList(QDir::Files).size(), 1);
        ASSERT_EQ(::chmod(path.constData(), 0644), 0);
    }
}

TEST_F(TDNoteWindowModelTest, RenameMovesTheFilesAndSavesTheLibrary)
{
    auto note = addNote("Plan", "text");
    QDir().mkpath(root.library() + "/Trip/notes/Plan/links");
    writeFile(root.library() + "/Trip/notes/Plan/links/Site.webloc", "link");
    auto model = open(note);
    model->loadText();
    model->setNewDate(platform::Date(9e8));

    auto renamed = rename(*model, "Plan%20B");
    ASSERT_TRUE(renamed) << renamed.error().message.text.toStdString();
    EXPECT_EQ(note->title(), "Plan B") << "the stored title is the folder's name";
    EXPECT_EQ(note->date(), platform::Date(9e8));
    EXPECT_EQ(note->contentURL().path(), noteFile("Plan B"));
    EXPECT_EQ(fileOf(note), "text");
    EXPECT_TRUE(QFile::exists(root.library() + "/Trip/notes/Plan B/links/Site.webloc"));
    EXPECT_FALSE(QFile::exists(root.library() + "/Trip/notes/Plan"));
    EXPECT_EQ(savedTitles(), std::vector<QString> { "Plan B" });
    EXPECT_FALSE(model->openEditSheet());
    EXPECT_EQ(model->newTitle(), "Plan B");
    ASSERT_TRUE(model->note());
    EXPECT_EQ(model->note()->note, note);

    model->setText("after the rename");
    EXPECT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(note), "after the rename");

    model->setNewDate(platform::Date(9.5e8));
    ASSERT_TRUE(rename(*model, "Plan B")) << "keeping the title changes the date only";
    EXPECT_EQ(note->date(), platform::Date(9.5e8));
    EXPECT_EQ(fileOf(note), "after the rename");
}

TEST_F(TDNoteWindowModelTest, RenameIsCheckedLikeANewTitle)
{
    auto note = addNote("Plan", "text");
    addNote("Idea", "");
    addNote("Elsewhere", "", other);
    QDir().mkpath(root.library() + "/Trip/notes/Stray");
    struct Case {
        QString title;
        Reason reason;
        const char* alert;
    };
    const Case cases[] = {
        { "Idea", Reason::sameName, "The note already exists" },
        { "Id%65a", Reason::sameName, "The note already exists" },
        { "Stray", Reason::sameName, "The note already exists" },
        { "   ", Reason::blankName, "The name is blank" },
        { "..%2F..%2Fx", Reason::unusableName, "The name cannot be used" },
    };
    auto model = open(note);
    const auto before = root.snapshot();
    for (const auto& test : cases) {
        SCOPED_TRACE(test.title.toStdString());
        auto refused = rename(*model, test.title);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().reason, test.reason);
        EXPECT_EQ(refused.error().message.title, test.alert);
        EXPECT_TRUE(model->openEditSheet()) << "the sheet stays open";
    }
    EXPECT_EQ(rename(*model, "").error().message.text,
        "A name is required to change the note title. Please enter a name.");
    EXPECT_EQ(note->title(), "Plan");
    EXPECT_EQ(root.snapshot(), before);

    EXPECT_TRUE(rename(*model, "Elsewhere")) << "another project's title is free";
}

TEST_F(TDNoteWindowModelTest, AFailedRenameIsRolledBack)
{
    auto note = addNote("Plan", "text");
    const platform::Url url = note->contentURL();
    auto model = open(note);
    model->setNewDate(platform::Date(9e8));
    auto expectUntouched = [&] {
        EXPECT_EQ(note->title(), "Plan");
        EXPECT_EQ(note->date(), platform::Date(8e8));
        EXPECT_EQ(note->contentURL(), url);
        EXPECT_EQ(fileOf(note), "text");
        EXPECT_FALSE(QFile::exists(root.library() + "/Trip/notes/New"));
        EXPECT_TRUE(model->openEditSheet());
        EXPECT_FALSE(model->isRenaming());
    };

    // The text file cannot take its new name: the folder moves back.
    writeFile(root.library() + "/Trip/notes/Plan/New.txt", "in the way");
    auto blocked = rename(*model, "New");
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().reason, Reason::renameFailed);
    expectUntouched();
    QFile::remove(root.library() + "/Trip/notes/Plan/New.txt");

    // The library cannot be saved: the files move back and the note keeps its fields.
    QDir().mkpath(root.file("projects.library"));
    auto unsaved = rename(*model, "New");
    ASSERT_FALSE(unsaved);
    EXPECT_EQ(unsaved.error().reason, Reason::renameFailed);
    EXPECT_TRUE(unsaved.error().message.text.contains("could not be saved"));
    expectUntouched();
}

TEST_F(TDNoteWindowModelTest, AStalePositionNeverEditsAnotherNote)
{
    auto first = addNote("First", "1");
    auto second = addNote("Second", "2");
    auto third = addNote("Third", "3");
    auto model = open(second);
    model->loadText();
    // The first note goes and the map is not told: position 1 now holds the third note.
    project->setTdNote({ second, third });
    ASSERT_TRUE(model->note());
    EXPECT_EQ(model->note()->note, second);
    model->setText("two");
    EXPECT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(second), "two");
    EXPECT_EQ(fileOf(third), "3");

    project->setTdNote({ third });
    EXPECT_FALSE(model->note()) << "the window shows \"No progress\"";
    model->setText("gone");
    EXPECT_TRUE(model->saveText());
    EXPECT_FALSE(rename(*model, "Moved"));
    EXPECT_EQ(fileOf(third), "3");
    EXPECT_FALSE(Model::make(store, nullptr)->note());
}

TEST_F(TDNoteWindowModelTest, TwoNotesAtOnce)
{
    auto a = addNote("A", "a");
    auto b = addNote("B", "b");
    auto modelA = open(a);
    auto modelB = open(b);
    modelA->loadText();
    modelB->loadText();
    modelA->setText("a edited");
    modelB->setText("b edited");
    EXPECT_FALSE(modelB->saveText());
    EXPECT_EQ(modelA->label(), "Not Saved");
    EXPECT_EQ(modelB->label(), "Saved");
    EXPECT_EQ(rename(*modelA, "B").error().reason, Reason::sameName);
    ASSERT_TRUE(rename(*modelA, "C"));
    EXPECT_TRUE(modelA->prepareToClose().mayClose);
    EXPECT_EQ(fileOf(a), "a edited");
    EXPECT_EQ(fileOf(b), "b edited");
    EXPECT_EQ(a->contentURL().path(), noteFile("C"));
}

// Two windows on one note stand for another Tindrel or another editor: a save never replaces a
// version of the file that this window has not seen; that version is kept beside the note.
TEST_F(TDNoteWindowModelTest, AFileChangedElsewhereIsKeptBeforeASaveReplacesIt)
{
    auto keptFiles = [&](const QString& title) {
        QStringList kept;
        const QDir folder(root.library() + "/Trip/notes/" + title);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
            if (name != title + ".txt")
                kept.push_back(name);
        return kept;
    };
    auto note = addNote("Plan", "first");
    auto here = open(note);
    auto there = open(note);
    here->loadText();
    there->loadText();
    here->setText("from here");
    ASSERT_FALSE(here->saveText());
    EXPECT_FALSE(here->takeKeptNotice()) << "its own version is nothing to keep";

    there->setText("from there");
    CapturedStream out(stdout);
    ASSERT_FALSE(there->saveText());
    EXPECT_EQ(fileOf(note), "from there");
    QStringList kept = keptFiles("Plan");
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(R"(^Plan\.changed-elsewhere-\d{8}T\d{6}Z\.txt$)").match(kept[0]).hasMatch())
        << kept[0].toStdString();
    QFile keptFile(root.library() + "/Trip/notes/Plan/" + kept[0]);
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptFile.readAll(), "from here");
    EXPECT_TRUE(out.take().contains(kept[0].toUtf8()));
    auto notice = there->takeKeptNotice();
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->text.contains(kept[0]));
    EXPECT_FALSE(there->takeKeptNotice());

    there->setText("from there again");
    ASSERT_FALSE(there->saveText());
    EXPECT_EQ(keptFiles("Plan").size(), 1) << "its own last save is nothing to keep";

    // Written again with the same text, as a sync client may: nothing to keep.
    QFile::remove(note->contentURL().path());
    writeFile(note->contentURL().path(), "from there again");
    there->setText("third");
    ASSERT_FALSE(there->saveText());
    EXPECT_EQ(keptFiles("Plan").size(), 1);
    // Or with the very text this window is about to save.
    QFile::remove(note->contentURL().path());
    writeFile(note->contentURL().path(), "fourth");
    there->setText("fourth");
    ASSERT_FALSE(there->saveText());
    EXPECT_EQ(keptFiles("Plan").size(), 1);

    // A note file that is a link to another file of the library stays a link.
    auto linked = addNote("Linked", "");
    const QString target = root.library() + "/Trip/notes/Linked/elsewhere.txt";
    writeFile(target, "one");
    QFile::remove(linked->contentURL().path());
    ASSERT_TRUE(QFile::link(target, linked->contentURL().path()));
    auto viaLink = open(linked);
    viaLink->loadText();
    QFile::remove(target);
    writeFile(target, "two");
    viaLink->setText("three");
    ASSERT_FALSE(viaLink->saveText());
    EXPECT_TRUE(QFileInfo(linked->contentURL().path()).isSymLink());
    EXPECT_EQ(fileOf(linked), "three");
    kept = keptFiles("Linked");
    kept.removeAll("elsewhere.txt");
    ASSERT_EQ(kept.size(), 1);
    QFile keptCopy(root.library() + "/Trip/notes/Linked/" + kept[0]);
    ASSERT_TRUE(keptCopy.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptCopy.readAll(), "two");

    // Created while the window had found no file; and a title long enough that the kept name
    // must give up part of it.
    const QString longTitle = QString(110, QChar(0x00E9));
    auto gone = addNote(longTitle, "");
    QFile::remove(gone->contentURL().path());
    auto empty = open(gone);
    empty->loadText();
    writeFile(gone->contentURL().path(), "made elsewhere");
    empty->setText("typed");
    ASSERT_FALSE(empty->saveText());
    EXPECT_EQ(fileOf(gone), "typed");
    kept = keptFiles(longTitle);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_LE(kept[0].toUtf8().size(), 255);
    EXPECT_TRUE(kept[0].endsWith(".txt"));
}

// A note's file made a link to another note's file while its window is open: the save leaves that
// note's text alone, keeps the link beside the note and writes a file of the note's own.
TEST_F(TDNoteWindowModelTest, AFileMadeALinkWhileOpenIsNotWrittenThrough)
{
    auto note = addNote("Plan", "old");
    auto other = addNote("Other", "the other note's text");
    auto model = open(note);
    model->loadText();
    model->setText("typed");
    QFile::remove(note->contentURL().path());
    ASSERT_TRUE(QFile::link(other->contentURL().path(), note->contentURL().path()));
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(other), "the other note's text");
    EXPECT_FALSE(QFileInfo(note->contentURL().path()).isSymLink());
    EXPECT_EQ(fileOf(note), "typed");
    const auto kept = QDir(root.library() + "/Trip/notes/Plan").entryInfoList({ "Plan.changed-elsewhere-*" });
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].symLinkTarget(), other->contentURL().path());
    auto notice = model->takeKeptNotice();
    ASSERT_TRUE(notice);
    EXPECT_TRUE(notice->text.contains(kept[0].fileName()));

    // The next save writes the same file again, with nothing more kept.
    model->setText("typed again");
    ASSERT_FALSE(model->saveText());
    EXPECT_EQ(fileOf(note), "typed again");
    EXPECT_EQ(fileOf(other), "the other note's text");
    EXPECT_FALSE(model->takeKeptNotice());
}

// A note deleted while its window holds typing: the window closes with it, and the typing goes into
// the file that goes to the trash, never into a folder or file that is not the note's any more.
TEST_F(TDNoteWindowModelTest, ClosingADeletedNoteKeepsItsTypingInItsOwnFileOnly)
{
    auto kept = addNote("Kept", "old");
    auto gone = addNote("Gone", "old");
    auto replaced = addNote("Replaced", "old");
    std::vector<std::shared_ptr<Model>> models;
    for (const auto& note : { kept, gone, replaced }) {
        models.push_back(open(note));
        models.back()->loadText();
        models.back()->setText("typed");
    }
    project->setTdNote({});
    QDir(root.library() + "/Trip/notes/Gone").removeRecursively();
    QFile::remove(noteFile("Replaced"));
    writeFile(noteFile("Replaced"), "another note's");

    EXPECT_TRUE(models[0]->prepareToClose().mayClose);
    EXPECT_EQ(fileOf(kept), "typed");
    for (const auto& model : { models[1], models[2] }) {
        auto decision = model->prepareToClose();
        EXPECT_FALSE(decision.mayClose) << "the window stays, saying why";
        ASSERT_TRUE(decision.reason);
        EXPECT_TRUE(decision.reason->text.contains("deleted")) << decision.reason->text.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(root.library() + "/Trip/notes/Gone"));
    EXPECT_EQ(fileOf(replaced), "another note's");
}

// Another program's version kept aside before a save stays the note's file until the new one is
// whole: a save that fails on a full disk (or a crash before it ends) must not leave the note
// without its file, which the next opening would take for an empty note. On a memory card, which
// makes no second names of a file, the version is kept as a copy.
TEST_F(TDNoteWindowModelTest, AVersionKeptAsideStaysInPlaceWhenTheSaveThatReplacesItFails)
{
    auto saveOverAChangedVersion = [&](const std::shared_ptr<TDNote>& note) {
        auto model = open(note);
        model->loadText();
        writeFile(note->contentURL().path(), "changed elsewhere");
        const QString big(256 * 1024, QLatin1Char('n'));
        model->setText(big);
        std::optional<Model::Message> failed;
        {
            CapturedStream out(stdout);
            FileSizeLimit full(64 * 1024);
            failed = model->saveText();
        }
        EXPECT_TRUE(failed);
        EXPECT_EQ(fileOf(note), "changed elsewhere") << "the other program's version is still the note";
        // With room again the save goes on: that version is kept once, beside the new file.
        {
            CapturedStream out(stdout);
            failed = model->saveText();
        }
        ASSERT_FALSE(failed) << failed->text.toStdString();
        EXPECT_EQ(fileOf(note), big.toUtf8());
        const QDir folder(QFileInfo(note->contentURL().path()).path());
        const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden);
        ASSERT_EQ(entries.size(), 2) << "one kept file and nothing else: "
                                     << entries.join(", ").toStdString();
        QFile kept(folder.filePath(entries.filter(".changed-elsewhere-").value(0)));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), "changed elsewhere");
        ASSERT_TRUE(model->takeKeptNotice());
    };
    saveOverAChangedVersion(addNote("Plan", "first"));
    saveOverAChangedVersion(addNote(QString(125, QChar(0x00E9)) + u"x"_qs, "first"));

    // The new file takes the mode of the one it replaces: one its owner could not read is moved
    // aside instead, so that the note still opens afterwards.
    auto locked = addNote("Locked", "first");
    auto model = open(locked);
    model->loadText();
    writeFile(locked->contentURL().path(), "changed elsewhere");
    ASSERT_TRUE(QFile::setPermissions(locked->contentURL().path(), QFileDevice::WriteOwner));
    model->setText("typed");
    {
        CapturedStream out(stdout);
        ASSERT_FALSE(model->saveText());
    }
    EXPECT_TRUE(QFileInfo(locked->contentURL().path()).permission(QFileDevice::ReadOwner));

    QDir(root.library()).removeRecursively();
    apptest::FatDisk card(root.documents());
    if (!card.mounted())
        GTEST_SKIP() << "no FAT disk could be mounted";
    root.makeLibraryFolder();
    saveOverAChangedVersion(addNote("On a card", "first"));
}
