// A program that dies between the steps of a change: the next start shows the change finished (or,
// for a rename that had not begun, not made), with every file the records name on disk.
#include "FileFaults.h"
#include "app/LibraryTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryJournal.h"
#include "app/store/TDLibraryLoader.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

using apptest::LibraryRoot;
using platform::Url;
using Change = TDLibraryJournal::Change;

namespace {

using namespace std::chrono_literals;

constexpr const char* rootVariable = "TINDREL_INTERRUPTED_ROOT";
constexpr const char* changeVariable = "TINDREL_INTERRUPTED_CHANGE";
constexpr const char* blockedVariable = "TINDREL_INTERRUPTED_BLOCKED";

TDStores newStores()
{
    return { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
}

// Loads the library's files into new stores, as a start does, and waits for what the load began.
TDStores started(std::vector<TDLibraryLoadProblem>* problems = nullptr)
{
    TDStores stores = newStores();
    std::optional<std::vector<TDLibraryLoadProblem>> found;
    loadLibraryFiles(stores.projectStore, stores.mediaStore, stores.linkStore,
        [&](std::vector<TDLibraryLoadProblem> each) { found = std::move(each); });
    EXPECT_TRUE(platform::runMainLoopUntil([&] { return found.has_value(); }, 10s));
    EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
    if (problems)
        *problems = found.value_or(std::vector<TDLibraryLoadProblem> {});
    return stores;
}

std::shared_ptr<TDProject> projectNamed(const TDStores& stores, const QString& name)
{
    for (const auto& project : stores.projectStore->tdProjects())
        if (project->name() == name)
            return project;
    return nullptr;
}

std::shared_ptr<TDNote> noteTitled(const std::shared_ptr<TDProject>& project, const QString& title)
{
    for (const auto& note : project ? project->tdNote() : std::vector<std::shared_ptr<TDNote>> {})
        if (note->title() == title)
            return note;
    return nullptr;
}

bool isFile(const Url& url)
{
    return QFileInfo(url.path()).isFile();
}

template<typename Start> void run(Start start)
{
    bool answered = false;
    start([&](auto outcome) {
        EXPECT_TRUE(outcome);
        answered = true;
    });
    EXPECT_TRUE(platform::runMainLoopUntil([&] { return answered; }, 10s));
    EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
}

// "Alpha" with the notes "Draft" (with a link) and "Second", an image and a cover, all saved.
struct Library {
    LibraryRoot root;
    platform::Uuid alphaId = platform::Uuid::random();
    platform::Uuid draftId;
    platform::Uuid secondId;

    Library()
    {
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash")
            .removeRecursively();
        root.makeLibraryFolder();
        TDStores stores = started();
        TDLibrary library(stores);
        TDProject::Fields fields;
        fields.name = "Alpha";
        fields.id = alphaId;
        run([&](auto done) { library.createProject(fields, done); });
        const auto alpha = projectNamed(stores, "Alpha");
        for (const auto& [title, text] : { std::pair { "Draft", "words" }, std::pair { "Second", "more" } }) {
            bool answered = false;
            library.createNote(alpha, title, [&, text = text](auto made) {
                EXPECT_TRUE(made && TDNoteTextFile::write(made.value()->contentURL(), text));
                answered = true;
            });
            EXPECT_TRUE(platform::runMainLoopUntil([&] { return answered; }, 10s));
        }
        draftId = noteTitled(alpha, "Draft")->id();
        secondId = noteTitled(alpha, "Second")->id();
        run([&](auto done) {
            library.addLink(
                { QString("Example"), {}, "https://example.com/", platform::Uuid::random(), draftId }, done);
        });
        bool imported = false;
        library.importImages(alpha, { QUrl::fromLocalFile(image("base.png")) }, [&](auto report) {
            EXPECT_TRUE(report && report.value().imported == 1);
            imported = true;
        });
        EXPECT_TRUE(platform::runMainLoopUntil([&] { return imported; }, 10s));
        run([&](auto done) { library.setCoverImage(alpha, image("cover.png"), done); });
        EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
    }

    QString image(const QString& name) const
    {
        QImage picture(QSize(12, 9), QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QString path = root.root() + "/" + name;
        EXPECT_TRUE(picture.save(path));
        return path;
    }

    QString journal() const { return root.file(TDLibraryJournal::fileName()); }
};

// Every path a record names is a file on disk.
void expectEveryFileThere(const TDStores& stores)
{
    for (const auto& project : stores.projectStore->tdProjects()) {
        for (const auto& note : project->tdNote())
            EXPECT_TRUE(isFile(note->contentURL())) << note->contentURL().path().toStdString();
        if (auto cover = project->coverImageURL())
            EXPECT_TRUE(isFile(*cover)) << cover->path().toStdString();
    }
    for (const auto& item : stores.mediaStore->tdMedia()) {
        EXPECT_TRUE(isFile(item->url())) << item->url().path().toStdString();
        EXPECT_TRUE(isFile(item->thumbnailURL())) << item->thumbnailURL().path().toStdString();
    }
}

void expectNoRecordsOf(const TDStores& stores, const platform::Uuid& project, const platform::Uuid& note)
{
    for (const auto& each : stores.projectStore->tdProjects())
        EXPECT_NE(each->id(), project);
    for (const auto& item : stores.mediaStore->tdMedia())
        EXPECT_NE(item->tdProjectId(), std::optional(project));
    for (const auto& link : stores.linkStore->tdLinks())
        EXPECT_NE(link.tdNoteId, note);
}

// Makes the step that writes `blocked` fail, as if the program had died just before it: a library
// file has a folder in its place (the file itself is kept aside, to be put back), "Alpha" or a note's
// folder refuses every file call.
void block(const QString& library, const QString& blocked)
{
    if (blocked.endsWith(".library")) {
        ASSERT_TRUE(QDir(library).rename(blocked, blocked + ".held"));
        ASSERT_TRUE(QDir(library).mkdir(blocked));
    } else {
        const QString folder = blocked == "Alpha" ? library + "/Alpha" : library + "/Alpha/notes/" + blocked;
        filefault::arm(folder.toUtf8(), filefault::Mode::failFrom, 1, EIO);
    }
}

void unblock(const QString& library, const QString& blocked)
{
    if (!blocked.endsWith(".library"))
        return;
    ASSERT_TRUE(QDir(library).rmdir(blocked));
    ASSERT_TRUE(QDir(library).rename(blocked + ".held", blocked));
}

} // namespace

// Run only as the child of the test below: starts over the library, makes one change with one of
// its steps failing, and dies as soon as the change answers, leaving what a crash at that step
// leaves.
TEST(InterruptedChangeChild, DISABLED_DiesBeforeOneStep)
{
    const QString rootFolder = qEnvironmentVariable(rootVariable);
    ASSERT_FALSE(rootFolder.isEmpty());
    platform::Environment::setRoots(
        { rootFolder + "/Documents", rootFolder + "/Caches", rootFolder + "/settings.ini", {} });
    const QString library = rootFolder + "/Documents/Tindrel.folder";
    TDStores stores = started();
    TDLibrary tdLibrary(stores);
    const auto alpha = projectNamed(stores, "Alpha");
    ASSERT_TRUE(alpha);
    block(library, qEnvironmentVariable(blockedVariable));
    bool answered = false;
    const auto done = [&](auto) { answered = true; };
    const QString change = qEnvironmentVariable(changeVariable);
    if (change == "createProject") {
        TDProject::Fields fields;
        fields.name = "Beta";
        fields.id = platform::Uuid::random();
        tdLibrary.createProject(fields, done);
    } else if (change == "createNote")
        tdLibrary.createNote(alpha, "Third", done);
    else if (change == "renameProject")
        tdLibrary.editProject(alpha, { "Omega", alpha->startDate(), alpha->category() }, done);
    else if (change == "deleteProject")
        tdLibrary.deleteProject(alpha, done);
    else if (change == "renameNote")
        tdLibrary.renameNote(alpha, noteTitled(alpha, "Draft"), "Final", platform::Date(900000000), done);
    else if (change == "deleteNote")
        tdLibrary.deleteNote(alpha, noteTitled(alpha, "Draft"), done);
    // A note whose save failed takes its files back, so that crash comes before the save answers.
    if (change != "renameNote")
        ASSERT_TRUE(platform::runMainLoopUntil([&] { return answered; }, 10s));
    filefault::disarm();
    std::fputs("answered\n", stdout);
    std::fflush(stdout);
    std::_Exit(0);
}

// The blocked step is where the crash comes: the steps before it are on disk, it and those after
// it are not. Each window of each change is finished at the next start.
TEST(InterruptedChange, TheNextStartFinishesAChangeACrashCutShort)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    const std::pair<const char*, const char*> windows[] = {
        // The folder made; the projects file not saved.
        { "createProject", "projects.library" },
        { "createNote", "projects.library" },
        // The folder moved; neither library file saved.
        { "renameProject", "projects.library" },
        // The projects saved with the new name; the images still point into the old folder.
        { "renameProject", "media.library" },
        { "deleteProject", "links.library" },
        // The links saved; the project and its images still listed.
        { "deleteProject", "media.library" },
        // The images' records gone while the project is still listed.
        { "deleteProject", "projects.library" },
        // Every file saved; the folder not yet in the trash.
        { "deleteProject", "Alpha" },
        // The links saved while the note is still listed.
        { "deleteNote", "projects.library" },
        { "deleteNote", "Draft" },
        // The folder and text file moved; the projects file still names the old ones.
        { "renameNote", "projects.library" },
    };
    for (const auto& [change, blocked] : windows) {
        SCOPED_TRACE(std::string(change) + " before " + blocked);
        Library library;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(rootVariable, library.root.root());
        environment.insert(changeVariable, change);
        environment.insert(blockedVariable, blocked);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
            { "--gtest_also_run_disabled_tests",
                "--gtest_filter=InterruptedChangeChild.DISABLED_DiesBeforeOneStep" });
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAllStandardOutput();
        ASSERT_TRUE(output.contains("answered\n"))
            << output.constData() << child.readAllStandardError().constData();
        unblock(library.root.library(), blocked);
        ASSERT_TRUE(QFileInfo::exists(library.journal())) << "the crash left the change listed";

        // Twice: the first start finishes the change, the second shows that it is on disk.
        for (int start = 0; start < 2; ++start) {
            SCOPED_TRACE(start);
            std::vector<TDLibraryLoadProblem> problems;
            const TDStores stores = started(&problems);
            EXPECT_TRUE(problems.empty());
            EXPECT_FALSE(QFileInfo::exists(library.journal()));
            expectEveryFileThere(stores);
            const QString name = change == std::string("renameProject") ? "Omega" : "Alpha";
            const auto project = projectNamed(stores, name);
            if (change == std::string("deleteProject")) {
                expectNoRecordsOf(stores, library.alphaId, library.draftId);
                EXPECT_FALSE(QFileInfo::exists(library.root.file("Alpha")));
                EXPECT_FALSE(TDProjectStore::newProjectNameProblem("Alpha", std::nullopt).has_value());
                continue;
            }
            if (!project) {
                ADD_FAILURE() << "no project " << name.toStdString();
                continue;
            }
            EXPECT_EQ(stores.projectStore->tdProjects().size(), 1u);
            EXPECT_EQ(stores.mediaStore->tdMedia().size(), 1u);
            EXPECT_TRUE(noteTitled(project, "Second"));
            if (change == std::string("createProject")) {
                EXPECT_FALSE(QFileInfo::exists(library.root.file("Beta")));
                EXPECT_FALSE(TDProjectStore::newProjectNameProblem("Beta", std::nullopt).has_value());
            } else if (change == std::string("createNote")) {
                const auto note = noteTitled(project, "Third");
                EXPECT_TRUE(
                    note && note->contentURL().path() == library.root.file("Alpha/notes/Third/Third.txt"));
            } else if (change == std::string("renameProject")) {
                EXPECT_FALSE(QFileInfo::exists(library.root.file("Alpha")));
                EXPECT_TRUE(noteTitled(project, "Draft"));
                EXPECT_EQ(stores.linkStore->tdLinks().size(), 1u);
            } else if (change == std::string("deleteNote")) {
                EXPECT_FALSE(noteTitled(project, "Draft"));
                EXPECT_TRUE(stores.linkStore->tdLinks().empty());
                EXPECT_FALSE(QFileInfo::exists(library.root.file("Alpha/notes/Draft")));
            } else {
                const auto note = noteTitled(project, "Final");
                const auto text
                    = note ? TDNoteTextFile::read(note->contentURL()) : TDNoteTextFile::read(Url());
                EXPECT_TRUE(
                    note && note->id() == library.draftId && note->date() == platform::Date(900000000));
                EXPECT_TRUE(text && text.value() == "words");
            }
        }
    }
}

// A listed change is finished only over a library that loaded whole, and a rename whose folder
// never moved is dropped, leaving the project as its files have it.
TEST(InterruptedChange, AListedChangeIsFinishedOnlyWhenItBeganOverALibraryThatLoaded)
{
    Library library;
    const QByteArray listed = TDLibraryJournal::encode(
        { { Change::Kind::renameProject, library.alphaId, {}, "Alpha", "Omega", {}, {} } });
    QFile out(library.journal());
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(listed);
    out.close();

    const QByteArray media = library.root.read("media.library");
    library.root.write("media.library", "{ not a list");
    ASSERT_TRUE(QDir(library.root.library()).rename("Alpha", "Omega"));
    std::vector<TDLibraryLoadProblem> problems;
    started(&problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(library.root.read(TDLibraryJournal::fileName()), listed) << "kept for a start that can read it";
    EXPECT_TRUE(library.root.read("projects.library").contains("\"Alpha\""));

    library.root.write("media.library", media);
    ASSERT_TRUE(QDir(library.root.library()).rename("Omega", "Alpha"));
    const TDStores stores = started();
    EXPECT_TRUE(projectNamed(stores, "Alpha"));
    EXPECT_FALSE(QFileInfo::exists(library.root.file("Omega")));
    EXPECT_FALSE(QFileInfo::exists(library.journal()));
    expectEveryFileThere(stores);
}

TEST(InterruptedChange, TheListReadsBackWhatItWroteAndSkipsWhatItCannotUse)
{
    const auto project = platform::Uuid::random();
    const auto note = platform::Uuid::random();
    const std::vector<Change> changes = {
        { Change::Kind::renameProject, project, {}, "A", "B", {}, {} },
        { Change::Kind::deleteProject, project, {}, "A", {}, {}, {} },
        { Change::Kind::renameNote, project, note, "x", "y", platform::Date(12.5), {} },
        { Change::Kind::deleteNote, project, note, "x", {}, {}, Url::fileUrl("/a/x/x.txt") },
    };
    const auto decoded = TDLibraryJournal::decode(TDLibraryJournal::encode(changes));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(TDLibraryJournal::encode(decoded.value()), TDLibraryJournal::encode(changes));

    const QByteArray id = project.uuidString().toUtf8();
    const auto kept = TDLibraryJournal::decode("{\"changes\":[{\"change\":\"renameProject\",\"project\":\""
        + id + "\",\"from\":\"A\",\"to\":\"B\"},{\"change\":\"later\",\"project\":\"" + id
        + "\",\"from\":\"A\"},{\"change\":\"renameProject\",\"project\":\"" + id
        + "\",\"from\":\"A\"},{\"change\":\"renameNote\",\"project\":\"" + id
        + "\",\"from\":\"A\",\"to\":\"B\"},7]}");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept.value().size(), 1u);
    for (const char* damaged : { "", "[]", "{\"changes\":3}", "{\"changes\":[" })
        EXPECT_FALSE(TDLibraryJournal::decode(damaged)) << damaged;
    EXPECT_TRUE(TDProjectStore::isLibraryFileName(TDLibraryJournal::fileName()));
}
