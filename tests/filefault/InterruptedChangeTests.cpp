// A program that dies between the steps of a change: the next start shows the change finished (or,
// for a rename that had not begun, not made), with every file the records name on disk.
#include "FileFaults.h"
#include "app/LibraryTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/notes/TDLinkCapture.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/notes/TDPageFetcher.h"
#include "app/notes/TDWeblocFile.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryCoding.h"
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
#include <sys/stat.h>

using apptest::LibraryRoot;
using platform::Url;
using Change = TDLibraryJournal::Change;

namespace {

using namespace std::chrono_literals;

constexpr const char* rootVariable = "TINDREL_INTERRUPTED_ROOT";
constexpr const char* changeVariable = "TINDREL_INTERRUPTED_CHANGE";
constexpr const char* blockedVariable = "TINDREL_INTERRUPTED_BLOCKED";

// Loads the library's files into new stores, as a start does, and waits for what the load began.
TDStores started(std::vector<TDLibraryLoadProblem>* problems = nullptr)
{
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
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

template<typename Start> void run(Start start)
{
    bool answered = false;
    start([&](const auto& outcome) {
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
        for (const char* title : { "Draft", "Second" }) {
            run([&](auto done) { library.createNote(alpha, title, done); });
            EXPECT_TRUE(TDNoteTextFile::write(alpha->tdNote().back()->contentURL(), "words"));
        }
        draftId = alpha->tdNote().front()->id();
        run([&](auto done) {
            library.addLink(
                { QString("Example"), {}, "https://example.com/", platform::Uuid::random(), draftId }, done);
        });
        const auto image = [&](const QString& name) {
            QImage picture(QSize(12, 9), QImage::Format_RGB32);
            picture.fill(Qt::darkCyan);
            EXPECT_TRUE(picture.save(root.root() + "/" + name));
            return root.root() + "/" + name;
        };
        run([&](auto done) {
            library.importImages(alpha, { QUrl::fromLocalFile(image("base.png")) }, done);
        });
        run([&](auto done) { library.setCoverImage(alpha, image("cover.png"), done); });
        EXPECT_FALSE(QFileInfo::exists(journal())) << "changes that ended are struck off";
    }

    QString journal() const { return root.file(TDLibraryJournal::fileName()); }
};

// Every path a record names is a file on disk.
void expectEveryFileThere(const TDStores& stores)
{
    std::vector<Url> named;
    for (const auto& project : stores.projectStore->tdProjects()) {
        for (const auto& note : project->tdNote())
            named.push_back(note->contentURL());
        if (auto cover = project->coverImageURL())
            named.push_back(*cover);
    }
    for (const auto& item : stores.mediaStore->tdMedia())
        named.insert(named.end(), { item->url(), item->thumbnailURL() });
    for (const Url& url : named)
        EXPECT_TRUE(QFileInfo(url.path()).isFile()) << url.path().toStdString();
}

// Every image folder, cover file and link file in the library is named by a record: nothing a
// change made is left behind its records.
void expectNothingUnnamed(const TDStores& stores)
{
    const QString library = TDDirectoryPath::libraryFolderURL().path();
    QStringList named, found;
    for (const auto& item : stores.mediaStore->tdMedia())
        named << item->url().deletingLastPathComponent().path();
    for (const auto& project : stores.projectStore->tdProjects()) {
        if (auto cover = project->coverImageURL())
            named << cover->path();
        for (const auto& note : project->tdNote()) {
            for (const auto& link : stores.linkStore->tdLinks()) {
                if (link.tdNoteId == note->id())
                    named << TDDirectoryPath::noteLinksDirectoryURL(
                                 TDDirectoryPath::projectDirectoryURL(project->name()), note->title())
                                 .path()
                            + "/" + link.id.lowercaseString().left(8);
            }
        }
    }
    for (const QString& project : QDir(library).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = library + "/" + project;
        for (const QString& cover : QDir(folder).entryList({ "*-cover-image.jpeg" }, QDir::Files))
            found << folder + "/" + cover;
        for (const QString& image : QDir(folder + "/images").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            found << folder + "/images/" + image;
        for (const QString& note : QDir(folder + "/notes").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString links = folder + "/notes/" + note + "/links";
            // A link's file as "<its links folder>/<the first digits of its id>".
            for (const QString& file : QDir(links).entryList({ "*.webloc" }, QDir::Files))
                found << links + "/" + file.chopped(7).right(8);
        }
    }
    for (const QString& path : found)
        EXPECT_TRUE(named.contains(path)) << "no record names " << path.toStdString();
}

// Runs the child below over `library`: it makes `change` while `blocked` fails, and dies.
void crashDuring(const Library& library, const char* change, const char* blocked)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(rootVariable, library.root.root());
    environment.insert(changeVariable, change);
    environment.insert(blockedVariable, blocked);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
        { "--gtest_also_run_disabled_tests",
            "--gtest_filter=InterruptedChangeChild.DISABLED_DiesBeforeOneStep" });
    ASSERT_TRUE(child.waitForStarted() && child.waitForFinished(60000));
    ASSERT_TRUE(child.readAllStandardOutput().contains("answered\n")) << child.readAllStandardError().data();
    if (QString(blocked).endsWith(".library")) {
        ASSERT_TRUE(QDir(library.root.library()).rmdir(blocked)
            && QDir(library.root.library()).rename(QString(blocked) + ".held", blocked));
    }
}

} // namespace

// Run only as the child of the test below: starts over the library, makes one change while one of
// its steps fails, and dies once the change answered, leaving what a crash before that step leaves.
// The step is a library file's save (a folder stands in the file's place) or a folder's removal.
TEST(InterruptedChangeChild, DISABLED_DiesBeforeOneStep)
{
    const QString root = qEnvironmentVariable(rootVariable);
    ASSERT_FALSE(root.isEmpty());
    platform::Environment::setRoots({ root + "/Documents", root + "/Caches", root + "/settings.ini", {} });
    const QString library = root + "/Documents/Tindrel.folder";
    TDStores stores = started();
    TDLibrary tdLibrary(stores);
    const auto alpha = projectNamed(stores, "Alpha");
    ASSERT_TRUE(alpha);
    const QString blocked = qEnvironmentVariable(blockedVariable);
    if (blocked.endsWith(".library")) {
        ASSERT_TRUE(QDir(library).rename(blocked, blocked + ".held") && QDir(library).mkdir(blocked));
    } else if (blocked == "cover") {
        filefault::arm(alpha->coverImageURL()->path().toUtf8(), filefault::Mode::failFrom, 1, EIO);
    } else if (blocked == "link") {
        const auto written = TDWeblocFile::write("Alpha", "Draft", stores.linkStore->tdLinks().front());
        ASSERT_TRUE(written);
        filefault::arm(written.value().path().toUtf8(), filefault::Mode::failFrom, 1, EIO);
    } else {
        const auto image = stores.mediaStore->tdMedia().front();
        const QString folder = blocked == "image"
            ? image->url().deletingLastPathComponent().path()
            : library + (blocked == "Alpha" ? "/Alpha" : "/Alpha/notes/" + blocked);
        filefault::arm(folder.toUtf8(), filefault::Mode::failFrom, 1, EIO);
    }
    bool answered = false;
    const auto done = [&](auto) { answered = true; };
    // "CHANGE+rename": the project is renamed once the change answered, before the crash.
    QString change = qEnvironmentVariable(changeVariable);
    const bool thenRename = change.endsWith("+rename");
    change.remove("+rename");
    TDProject::Fields beta;
    beta.name = "Beta";
    beta.id = platform::Uuid::random();
    if (change == "createProject")
        tdLibrary.createProject(beta, done);
    else if (change == "createNote")
        tdLibrary.createNote(alpha, "Third", done);
    else if (change == "renameProject")
        tdLibrary.editProject(alpha, { "Omega", alpha->startDate(), alpha->category() }, done);
    else if (change == "deleteProject")
        tdLibrary.deleteProject(alpha, done);
    else if (change == "renameNote")
        tdLibrary.renameNote(alpha, alpha->tdNote().front(), "Final", platform::Date(9e8), done);
    else if (change == "deleteNote")
        tdLibrary.deleteNote(alpha, alpha->tdNote().front(), done);
    else if (change == "deleteMedia")
        tdLibrary.removeMedia(stores.mediaStore->tdMedia().front()->id(), done);
    else if (change == "importImages")
        tdLibrary.importImages(alpha, { QUrl::fromLocalFile(root + "/base.png") }, done);
    else if (change == "setCover")
        tdLibrary.setCoverImage(alpha, root + "/cover.png", done);
    else if (change == "addLink")
        // Refused at once: the link is added without a title.
        TDLinkCapture(stores.linkStore, TDPageFetcher::make(), stores.projectStore)
            .addLink(alpha, alpha->tdNote().front(), "http://127.0.0.1:1/", done);
    else if (change == "deleteLink")
        TDLinkCapture(stores.linkStore, stores.projectStore)
            .deleteLink(alpha, alpha->tdNote().front(), stores.linkStore->tdLinks().front(), done);
    else
        tdLibrary.removeCoverImage(alpha, *alpha->coverImageURL(), done);
    // A note whose save failed takes its files back: that crash comes before the save answers.
    if (change != "renameNote") {
        ASSERT_TRUE(platform::runMainLoopUntil([&] { return answered; }, 10s));
    }
    if (thenRename) {
        answered = false;
        tdLibrary.editProject(alpha, { "Omega", alpha->startDate(), alpha->category() }, done);
        ASSERT_TRUE(platform::runMainLoopUntil([&] { return answered; }, 10s));
    }
    filefault::disarm();
    std::fputs("answered\n", stdout);
    std::fflush(stdout);
    std::_Exit(0);
}

// Each window of each change, the crash coming where the step is blocked, is closed at the next
// start: the library shows the change made, every file it names is there, and no folder that no
// record names is left to keep its name from being used.
TEST(InterruptedChange, TheNextStartFinishesAChangeACrashCutShort)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    struct Window {
        const char* change;
        const char* blocked;
        // What the library shows after the change.
        const char* project;
        QStringList notes;
        std::size_t links;
        std::size_t media;
        // Paths in the library; "NAME/*" is a folder left empty.
        QStringList gone;
    };
    const QStringList both { "Draft", "Second" };
    const Window windows[] = {
        { "createProject", "projects.library", "Alpha", both, 1, 1, { "Beta" } },
        { "createNote", "projects.library", "Alpha", { "Draft", "Second", "Third" }, 1, 1, {} },
        // The folder moved, then the projects saved, then the media.
        { "renameProject", "projects.library", "Omega", both, 1, 1, { "Alpha" } },
        { "renameProject", "media.library", "Omega", both, 1, 1, { "Alpha" } },
        // The links, the media and the projects saved, then the folder moved to the trash.
        { "deleteProject", "links.library", nullptr, {}, 0, 0, { "Alpha" } },
        { "deleteProject", "media.library", nullptr, {}, 0, 0, { "Alpha" } },
        { "deleteProject", "projects.library", nullptr, {}, 0, 0, { "Alpha" } },
        { "deleteProject", "Alpha", nullptr, {}, 0, 0, { "Alpha" } },
        { "deleteNote", "projects.library", "Alpha", { "Second" }, 0, 1, { "Alpha/notes/Draft" } },
        { "deleteNote", "Draft", "Alpha", { "Second" }, 0, 1, { "Alpha/notes/Draft" } },
        // The folder and the text file moved, then the projects saved.
        { "renameNote", "projects.library", "Alpha", { "Final", "Second" }, 1, 1, { "Alpha/notes/Draft" } },
        { "deleteMedia", "media.library", "Alpha", both, 1, 0, { "Alpha/images/*" } },
        { "deleteMedia", "image", "Alpha", both, 1, 0, { "Alpha/images/*" } },
        // The file removed, then the projects saved.
        { "removeCover", "projects.library", "Alpha", both, 1, 1, {} },
        // The copy and thumbnail made, then the media saved.
        { "importImages", "media.library", "Alpha", both, 1, 1, {} },
        // The link's file written, then the links saved.
        { "addLink", "links.library", "Alpha", both, 1, 1, {} },
        // The links saved, then the link's file removed.
        { "deleteLink", "link", "Alpha", both, 0, 1, {} },
        // The new file written, then the projects saved, then the old file removed.
        { "setCover", "projects.library", "Alpha", both, 1, 1, {} },
        { "setCover", "cover", "Alpha", both, 1, 1, {} },
        // A file made, its record not saved, then the project renamed: the file goes from the
        // renamed folder.
        { "addLink+rename", "links.library", "Omega", both, 1, 1, { "Alpha" } },
        { "setCover+rename", "projects.library", "Omega", both, 1, 1, { "Alpha" } },
        { "importImages+rename", "media.library", "Omega", both, 1, 1, { "Alpha" } },
    };
    for (const Window& window : windows) {
        SCOPED_TRACE(std::string(window.change) + " before " + window.blocked);
        Library library;
        crashDuring(library, window.change, window.blocked);
        EXPECT_TRUE(QFileInfo::exists(library.journal())) << "the crash left the change listed";

        // Twice: the first start finishes the change, the second shows that it is on disk.
        for (int start = 0; start < 2; ++start) {
            SCOPED_TRACE(start);
            std::vector<TDLibraryLoadProblem> problems;
            const TDStores stores = started(&problems);
            EXPECT_TRUE(problems.empty());
            EXPECT_FALSE(QFileInfo::exists(library.journal()));
            expectEveryFileThere(stores);
            expectNothingUnnamed(stores);
            const auto projects = stores.projectStore->tdProjects();
            EXPECT_EQ(projects.size(), window.project ? 1u : 0u);
            EXPECT_EQ(stores.mediaStore->tdMedia().size(), window.media);
            EXPECT_EQ(stores.linkStore->tdLinks().size(), window.links);
            QStringList titles;
            for (const auto& note :
                projects.empty() ? std::vector<std::shared_ptr<TDNote>> {} : projects[0]->tdNote()) {
                titles << note->title();
                const auto text = TDNoteTextFile::read(note->contentURL());
                EXPECT_TRUE(note->id() != library.draftId || (text && text.value() == "words"));
            }
            EXPECT_EQ(titles, window.notes);
            if (window.project) {
                EXPECT_TRUE(projectNamed(stores, window.project));
            }
            for (const QString& path : window.gone) {
                if (path.endsWith("/*")) {
                    EXPECT_TRUE(QDir(library.root.file(path.chopped(2))).isEmpty()) << path.toStdString();
                } else {
                    EXPECT_FALSE(QFileInfo::exists(library.root.file(path))) << path.toStdString();
                }
                if (!path.contains('/')) {
                    EXPECT_FALSE(TDProjectStore::newProjectNameProblem(path, std::nullopt));
                }
            }
        }
    }
}

// A listed change is finished only over a library that loaded whole; a rename whose folder never
// moved is dropped, the project staying as its files have it.
TEST(InterruptedChange, AListedChangeIsFinishedOnlyWhenItBeganOverALibraryThatLoaded)
{
    Library library;
    const QByteArray listed = TDLibraryJournal::encode(
        { { Change::Kind::renameProject, library.alphaId, {}, "Alpha", "Omega", {}, {} } });
    library.root.write(TDLibraryJournal::fileName(), listed);
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

// Changes made in a run whose library did not load whole keep what an earlier run left listed, so a
// later start still finishes it.
TEST(InterruptedChange, ChangesMadeBeforeTheListIsFinishedKeepIt)
{
    Library library;
    library.root.write(TDLibraryJournal::fileName(),
        TDLibraryJournal::encode(
            { { Change::Kind::renameProject, library.alphaId, {}, "Alpha", "Omega", {}, {} } }));
    const QByteArray media = library.root.read("media.library");
    library.root.write("media.library", "{ not a list");
    ASSERT_TRUE(QDir(library.root.library()).rename("Alpha", "Omega"));
    std::vector<TDLibraryLoadProblem> problems;
    TDStores damaged = started(&problems);
    ASSERT_EQ(problems.size(), 1u);
    TDProject::Fields fields;
    fields.name = "Beta";
    fields.id = platform::Uuid::random();
    run([&](auto done) { TDLibrary(damaged).createProject(fields, done); });
    EXPECT_TRUE(library.root.read(TDLibraryJournal::fileName()).contains("Omega"));

    library.root.write("media.library", media);
    const TDStores stores = started();
    EXPECT_TRUE(projectNamed(stores, "Omega"));
    EXPECT_TRUE(projectNamed(stores, "Beta"));
    EXPECT_FALSE(QFileInfo::exists(library.journal()));
    expectEveryFileThere(stores);
}

// A rename of a project or a note cut short before the projects were saved: finished at the next
// start, it takes along the quick-access entries, of every project, that name the moved folder or
// a place in it.
TEST(InterruptedChange, AFinishedRenameTakesTheQuickAccessEntriesInTheFolderAlong)
{
    for (bool note : { false, true }) {
        SCOPED_TRACE(note ? "note" : "project");
        Library library;
        const QString from = library.root.library() + "/Alpha/notes/Draft";
        const QString to = library.root.library() + (note ? "/Alpha/notes/Final" : "/Omega/notes/Draft");
        {
            TDStores stores = started();
            TDProject::Fields beta { .name = "Beta", .id = platform::Uuid::random() };
            beta.quickAccessURL = { apptest::fileUrl(from) };
            run([&](auto done) { TDLibrary(stores).createProject(beta, done); });
            projectNamed(stores, "Alpha")->setQuickAccessURL({ apptest::fileUrl(from + "/Draft.txt") });
            run([&](auto done) { TDLibrary(stores).saveProjectChange(done); });
        }
        const Change change = note
            ? Change { Change::Kind::renameNote, library.alphaId, library.draftId, "Draft", "Final",
                  platform::Date(9e8), {} }
            : Change { Change::Kind::renameProject, library.alphaId, {}, "Alpha", "Omega", {}, {} };
        library.root.write(TDLibraryJournal::fileName(), TDLibraryJournal::encode({ change }));
        ASSERT_TRUE(QDir().rename(
            note ? from : library.root.library() + "/Alpha", note ? to : library.root.library() + "/Omega"));
        if (note) {
            ASSERT_TRUE(QDir(to).rename("Draft.txt", "Final.txt"));
        }

        const TDStores stores = started();
        EXPECT_EQ(projectNamed(stores, note ? "Alpha" : "Omega")->quickAccessURL(),
            std::vector<Url> { apptest::fileUrl(to + (note ? "/Final.txt" : "/Draft.txt")) });
        EXPECT_EQ(projectNamed(stores, "Beta")->quickAccessURL(), std::vector<Url> { apptest::fileUrl(to) });
        const QByteArray saved = library.root.read("projects.library");
        EXPECT_FALSE(saved.contains(from.toUtf8() + "/") || saved.contains(from.toUtf8() + "\""))
            << "saved as well";
    }
}

// A file listed as made before its record is removed at the next start only when no record names
// it, and only where the program makes such files: never a file the list does not name, an
// original outside the library, or another kind of file.
TEST(InterruptedChange, AListedFileGoesOnlyWhenItIsTheProgramsOwnAndNoRecordNamesIt)
{
    Library library;
    TDStores before = started();
    const auto alpha = projectNamed(before, "Alpha");
    const auto draft = alpha->tdNote().front();
    const QString folder = library.root.file("Alpha");
    const auto makeFile = [](const QString& path) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("bytes") == 5);
        return Url::fileUrl(path);
    };
    const auto imageFolder = [&](const platform::Uuid& id) {
        makeFile(folder + "/images/" + id.lowercaseString() + "/thumbnail.jpg");
        return Url::fileUrl(folder + "/images/" + id.lowercaseString());
    };
    const auto linkFile = [&](const platform::Uuid& id) {
        return makeFile(folder + "/notes/Draft/links/Page " + id.lowercaseString().left(8) + ".webloc");
    };
    const auto media = before.mediaStore->tdMedia().front();
    const TDLink& link = before.linkStore->tdLinks().front();
    const platform::Uuid orphan = platform::Uuid::random(), unlisted = platform::Uuid::random(),
                         stranger = platform::Uuid::random();
    const Url original = Url::fileUrl(library.root.root() + "/base.png");
    const Url text = draft->contentURL();
    using K = Change::Kind;
    struct Listed {
        K kind;
        platform::Uuid item;
        Url file;
        bool goes;
    };
    const std::vector<Listed> listed {
        { K::importMedia, orphan, imageFolder(orphan), true },
        { K::importMedia, media->id(), media->url().deletingLastPathComponent(), false },
        // A folder of another id, an original, a note's text.
        { K::importMedia, stranger, imageFolder(platform::Uuid::random()), false },
        { K::importMedia, stranger, original, false },
        { K::importMedia, stranger, Url::fileUrl(folder + "/notes"), false },
        { K::setCover, {}, makeFile(folder + "/" + orphan.lowercaseString() + "-cover-image.jpeg"), true },
        { K::setCover, {}, *alpha->coverImageURL(), false },
        { K::setCover, {}, Url::fileUrl(library.root.root() + "/cover.png"), false },
        { K::setCover, {}, text, false },
        { K::addLink, orphan, linkFile(orphan), true },
        { K::addLink, link.id, linkFile(link.id), false },
        { K::addLink, stranger, text, false },
        { K::addLink, stranger, original, false },
    };
    const Url unlistedFolder = imageFolder(unlisted);
    std::vector<Change> changes;
    for (const Listed& each : listed)
        changes.push_back({ each.kind, library.alphaId, each.item, {}, {}, {}, each.file });
    library.root.write(TDLibraryJournal::fileName(), TDLibraryJournal::encode(changes));

    const TDStores stores = started();
    EXPECT_FALSE(QFileInfo::exists(library.journal()));
    for (const Listed& each : listed)
        EXPECT_EQ(QFileInfo::exists(each.file.path()), !each.goes) << each.file.path().toStdString();
    EXPECT_TRUE(QFileInfo::exists(unlistedFolder.path()));
    expectEveryFileThere(stores);
}

// A drop listed its folder, then a rename moved the project's folder, and neither was saved: the
// copy goes from the folder the finished rename gives the project.
TEST(InterruptedChange, ACopyListedBeforeARenameGoesFromTheRenamedFolder)
{
    Library library;
    const platform::Uuid id = platform::Uuid::random();
    const QString copy = "/images/" + id.lowercaseString() + "/thumbnail.jpg";
    library.root.write(TDLibraryJournal::fileName(),
        TDLibraryJournal::encode(
            { { Change::Kind::importMedia, library.alphaId, id, {}, {}, {},
                  Url::fileUrl(library.root.file("Alpha" + copy)).deletingLastPathComponent() },
                { Change::Kind::renameProject, library.alphaId, {}, "Alpha", "Omega", {}, {} } }));
    QDir().mkpath(QFileInfo(library.root.file("Alpha" + copy)).path());
    library.root.write("Alpha" + copy, "bytes");
    ASSERT_TRUE(QDir(library.root.library()).rename("Alpha", "Omega"));
    const TDStores stores = started();
    EXPECT_TRUE(projectNamed(stores, "Omega"));
    EXPECT_FALSE(QFileInfo::exists(library.root.file("Omega" + copy)));
    expectEveryFileThere(stores);
    expectNothingUnnamed(stores);
}

// A change of a kind this version does not know, or without a field its kind needs, is skipped.
TEST(InterruptedChange, TheListSkipsWhatItCannotUse)
{
    const auto project = platform::Uuid::random();
    QByteArray written = TDLibraryJournal::encode({
        { Change::Kind::deleteProject, project, {}, "A", {}, {}, {} },
        { Change::Kind::renameProject, project, {}, "A", "B", {}, {} },
        { Change::Kind::renameNote, project, platform::Uuid::random(), "x", "y", platform::Date(12.5), {} },
        { Change::Kind::importMedia, project, platform::Uuid::random(), {}, {}, {},
            Url::fileUrl("/a/images/b") },
        { Change::Kind::addLink, project, {}, {}, {}, {}, Url::fileUrl("/a/links/b.webloc") },
        { Change::Kind::setCover, project, {}, {}, {}, {}, {} },
        { Change::Kind::setCover, project, {}, {}, {}, {}, Url::fileUrl("/a/b-cover-image.jpeg") },
    });
    const auto kept
        = TDLibraryJournal::decode(written.replace("renameProject", "later").replace("date", "when"));
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept.value().size(), 3u);
    EXPECT_EQ(kept.value()[0].kind, Change::Kind::deleteProject);
    EXPECT_EQ(kept.value()[1].kind, Change::Kind::importMedia);
    EXPECT_EQ(kept.value()[2].kind, Change::Kind::setCover);
    for (const char* damaged : { "", "[]", "{\"changes\":3}", "{\"changes\":[" })
        EXPECT_FALSE(TDLibraryJournal::decode(damaged)) << damaged;
    EXPECT_TRUE(TDProjectStore::isLibraryFileName(TDLibraryJournal::fileName()));
}

// A deletion cut short before its first save, then a start whose library did not load whole showed
// the project again. Used there (a note added), the project is the user's again, and the next start
// that loads the library whole leaves it and its files as they are; left unused, the deletion is
// finished.
TEST(InterruptedChange, AChangeCarriedThroughARunThatUsedTheLibraryRemovesNothing)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    struct Row {
        const char* change;
        const char* blocked;
    };
    for (const Row row : { Row { "deleteProject", "links.library" }, Row { "deleteNote", "links.library" },
             Row { "deleteMedia", "media.library" } }) {
        for (const bool used : { true, false }) {
            SCOPED_TRACE(std::string(row.change) + (used ? ", used meanwhile" : ", not used"));
            Library library;
            crashDuring(library, row.change, row.blocked);
            const QByteArray links = library.root.read("links.library");
            library.root.write("links.library", "{ not a list");
            {
                std::vector<TDLibraryLoadProblem> problems;
                TDStores partial = started(&problems);
                ASSERT_EQ(problems.size(), 1u);
                const auto alpha = projectNamed(partial, "Alpha");
                ASSERT_TRUE(alpha);
                if (used) {
                    run([&](auto done) {
                        TDLibrary(partial).createNote(
                            alpha, "Third", [done](auto made) { done(bool(made)); });
                    });
                }
            }
            library.root.write("links.library", links);

            const TDStores stores = started();
            EXPECT_FALSE(QFileInfo::exists(library.journal()));
            expectEveryFileThere(stores);
            const auto alpha = projectNamed(stores, "Alpha");
            const std::string change = row.change;
            if (!used) {
                EXPECT_EQ(!alpha, change == "deleteProject");
                if (alpha) {
                    EXPECT_EQ(alpha->tdNote().size() + stores.mediaStore->tdMedia().size(), 2u);
                }
                continue;
            }
            if (!alpha) {
                ADD_FAILURE() << "the project was deleted";
                continue;
            }
            QStringList titles;
            for (const auto& note : alpha->tdNote())
                titles << note->title();
            EXPECT_EQ(titles, QStringList({ "Draft", "Second", "Third" }));
            EXPECT_EQ(stores.mediaStore->tdMedia().size(), 1u);
            EXPECT_EQ(stores.linkStore->tdLinks().size(), 1u);
            EXPECT_TRUE(QFileInfo(library.root.file("Alpha/notes/Draft")).isDir());
        }
    }
}

// A cover or link file whose save was killed before its rename is never saved again under its name,
// so the start that finishes the change clears what that save left beside it.
TEST(InterruptedChange, TheStartAfterAKilledCoverOrLinkSaveClearsWhatTheSaveLeft)
{
    LibraryRoot root;
    const platform::Uuid project = platform::Uuid::random();
    TDProject::Fields fields;
    fields.name = "Alpha";
    fields.id = project;
    fields.tdNote.push_back(TDNote::make(platform::Uuid::random(), project, "Draft",
        apptest::fileUrl(root.file("Alpha/notes/Draft/Draft.txt")), platform::Date(8e8)));
    root.write("projects.library", tdlibrary::encodeProjects({ TDProject::make(fields) }).value());
    ASSERT_TRUE(QDir().mkpath(root.file("Alpha/notes/Draft/links")));
    const platform::Uuid link = platform::Uuid::random();
    const QString cover = "Alpha/" + platform::Uuid::random().lowercaseString() + "-cover-image.jpeg";
    const QString linkFile = "Alpha/notes/Draft/links/Example " + link.lowercaseString().left(8) + ".webloc";
    const auto leftover = [](const QString& path) {
        return QFileInfo(path).path() + "/." + QFileInfo(path).fileName() + ".saving-1x2y";
    };
    root.write(leftover(cover), "half a picture");
    root.write(leftover(linkFile), "half a link");
    // Another file's leftover is that file's own save's to clear.
    root.write("Alpha/.other.jpeg.saving-1x2y", "kept");
    root.write(TDLibraryJournal::fileName(),
        TDLibraryJournal::encode({ { Change::Kind::setCover, project, {}, {}, {}, {},
                                       apptest::fileUrl(root.file(cover)) },
            { Change::Kind::addLink, project, link, {}, {}, {}, apptest::fileUrl(root.file(linkFile)) } }));

    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    bool loaded = false;
    loadLibraryFiles(stores.projectStore, stores.mediaStore, stores.linkStore, [&] { loaded = true; });
    ASSERT_TRUE(platform::runMainLoopUntil([&] { return loaded; }, 10s));
    ASSERT_TRUE(TDLibrary::finishPendingWork(10s));
    EXPECT_FALSE(QFileInfo::exists(root.file(leftover(cover))));
    EXPECT_FALSE(QFileInfo::exists(root.file(leftover(linkFile))));
    EXPECT_EQ(root.read("Alpha/.other.jpeg.saving-1x2y"), "kept");
    EXPECT_FALSE(QFileInfo::exists(root.file(TDLibraryJournal::fileName())));
}

// A list that cannot be read whole is kept beside itself, byte for byte, before the first write of
// the list; what could be read of one cut short by a crash is still finished.
TEST(InterruptedChange, AListThatCannotBeReadIsKeptAside)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    const auto keptLists = [](const Library& library) {
        return QDir(library.root.library())
            .entryList({ TDLibraryJournal::fileName() + ".damaged-*" }, QDir::Files | QDir::Hidden);
    };
    {
        // Damaged, then a change that a crash cuts short: the change is listed anew and finished.
        Library library;
        library.root.write(TDLibraryJournal::fileName(), "{\"changes\":[{\"change\":");
        crashDuring(library, "createProject", "projects.library");
        ASSERT_EQ(keptLists(library).size(), 1);
        EXPECT_EQ(library.root.read(keptLists(library).front()), "{\"changes\":[{\"change\":");
        const TDStores stores = started();
        EXPECT_FALSE(projectNamed(stores, "Beta"));
        EXPECT_FALSE(QFileInfo::exists(library.root.file("Beta")));
        EXPECT_FALSE(QFileInfo::exists(library.journal()));
        EXPECT_EQ(keptLists(library).size(), 1);
    }
    {
        // Cut short within a line: the lines before it are read and finished.
        Library library;
        const QByteArray listed = TDLibraryJournal::encode({
            { Change::Kind::renameProject, library.alphaId, {}, "Alpha", "Omega", {}, {} },
            { Change::Kind::createProject, platform::Uuid::random(), {}, "Gamma", {}, {}, {} },
        });
        const QByteArray cut = listed.left(listed.indexOf("Gamma"));
        library.root.write(TDLibraryJournal::fileName(), cut);
        ASSERT_TRUE(QDir(library.root.library()).rename("Alpha", "Omega"));
        const auto read = TDLibraryJournal::read(cut);
        ASSERT_TRUE(read);
        EXPECT_FALSE(read.value().whole);
        EXPECT_EQ(read.value().changes.size(), 1u);
        const TDStores stores = started();
        EXPECT_TRUE(projectNamed(stores, "Omega"));
        expectEveryFileThere(stores);
        ASSERT_EQ(keptLists(library).size(), 1);
        EXPECT_EQ(library.root.read(keptLists(library).front()), cut);
        EXPECT_FALSE(QFileInfo::exists(library.journal()));
    }
}

// While a large drop is listed, a change is appended and struck off in place: the file is not
// written anew, and at every step it is one document that lists exactly what is under way, struck
// lines compacted away once they outweigh the rest.
TEST(InterruptedChange, AChangeMadeDuringALargeDropCostsWhatItAdds)
{
    LibraryRoot root;
    root.makeLibraryFolder();
    const Url folder = Url::fileUrl(root.library());
    const auto changeAt = [&](int i) {
        return Change { Change::Kind::importMedia, platform::Uuid::random(), platform::Uuid::random(), {}, {},
            {}, Url::fileUrl(root.file(QString("Alpha/images/%1").arg(i))) };
    };
    std::vector<Change> dropped;
    for (int i = 0; i < 2000; ++i)
        dropped.push_back(changeAt(i));
    const auto drop = TDLibraryJournal::begin(folder, dropped);
    const auto listedNow = [&] {
        const auto decoded = TDLibraryJournal::decode(root.read(TDLibraryJournal::fileName()));
        EXPECT_TRUE(decoded);
        return decoded ? decoded.value().size() : 0u;
    };
    const auto inode = [&] {
        struct stat info { };
        ::stat(QFile::encodeName(root.file(TDLibraryJournal::fileName())).constData(), &info);
        return info.st_ino;
    };
    const auto before = inode();
    const auto bytes = QFileInfo(root.file(TDLibraryJournal::fileName())).size();
    const auto one = TDLibraryJournal::begin(folder,
        { Change::Kind::renameNote, platform::Uuid::random(), platform::Uuid::random(), "Draft", "Final",
            platform::Date(8e8), {} });
    EXPECT_EQ(listedNow(), 2001u);
    const auto more = TDLibraryJournal::begin(folder, { changeAt(-1), changeAt(-2) });
    TDLibraryJournal::end(one);
    EXPECT_EQ(listedNow(), 2002u);
    EXPECT_EQ(inode(), before) << "appended and struck off in place";
    EXPECT_LT(QFileInfo(root.file(TDLibraryJournal::fileName())).size(), bytes + 1000);

    TDLibraryJournal::end(drop);
    EXPECT_EQ(listedNow(), 2u);
    EXPECT_LT(QFileInfo(root.file(TDLibraryJournal::fileName())).size(), 1000) << "compacted";
    TDLibraryJournal::end(more);
    EXPECT_FALSE(QFileInfo::exists(root.file(TDLibraryJournal::fileName())));
}
