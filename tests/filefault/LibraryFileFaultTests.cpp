// Each operation a user makes on the library, run once per file call it makes with that call
// failing, and once per call with everything from that call on failing (as at a crash), each time
// on a fresh library that is then loaded again as at the next start.
#include "FileFaults.h"
#include "app/LibraryTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/notes/TDLinkCapture.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/notes/TDWeblocFile.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDLibraryLoader.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"

#include <QDirIterator>
#include <QImage>
#include <QStandardPaths>

#include <cerrno>
#include <map>

using apptest::LibraryRoot;
using platform::Url;

namespace {

using namespace std::chrono_literals;

TDStores newStores()
{
    return { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
}

// Loads the library's files into `stores`, as at a start; the files that did not load.
std::vector<TDLibraryLoadProblem> load(const TDStores& stores)
{
    std::optional<std::vector<TDLibraryLoadProblem>> problems;
    loadLibraryFiles(stores.projectStore, stores.mediaStore, stores.linkStore,
        [&](std::vector<TDLibraryLoadProblem> found) { problems = std::move(found); });
    EXPECT_TRUE(platform::runMainLoopUntil([&] { return problems.has_value(); }, 10s));
    return problems.value_or(std::vector<TDLibraryLoadProblem> {});
}

// Waits for the completion an operation gives `answered`, then for every save it started.
void settle(const bool& answered)
{
    EXPECT_TRUE(platform::runMainLoopUntil([&] { return answered; }, 10s));
    EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
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

// The library every run starts from: "Alpha" with the notes "Draft" and "Second", a link with its
// file, an image and a cover, everything saved.
struct Library {
    LibraryRoot root;
    TDStores stores = newStores();
    std::unique_ptr<TDLibrary> library;
    std::map<platform::Uuid, QString> texts;
    std::optional<TDLink> link;
    std::optional<Url> cover;

    Library()
    {
        // Each run's deletions would make the next look further for a free name there.
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash")
            .removeRecursively();
        root.makeLibraryFolder();
        EXPECT_TRUE(load(stores).empty());
        library = std::make_unique<TDLibrary>(stores);
        TDProject::Fields fields;
        fields.name = "Alpha";
        fields.id = platform::Uuid::random();
        run([&](auto done) { library->createProject(fields, done); });
        for (const auto& [title, text] :
            { std::pair { "Draft", "words" }, std::pair { "Second", "more\n" } }) {
            bool answered = false;
            library->createNote(alpha(), title, [&](auto made) {
                EXPECT_TRUE(made);
                EXPECT_TRUE(TDNoteTextFile::write(made.value()->contentURL(), text));
                texts[made.value()->id()] = text;
                answered = true;
            });
            settle(answered);
        }
        TDLink added { QString("Example"), {}, "https://example.com/", platform::Uuid::random(),
            noteTitled(alpha(), "Draft")->id() };
        EXPECT_TRUE(TDWeblocFile::write("Alpha", "Draft", added));
        run([&](auto done) { library->addLink(added, done); });
        link = added;
        bool answered = false;
        library->importImages(
            alpha(), { QUrl::fromLocalFile(image("base.png", Qt::darkCyan)) }, [&](auto report) {
                EXPECT_TRUE(report && report.value().imported == 1);
                answered = true;
            });
        settle(answered);
        run([&](auto done) { library->setCoverImage(alpha(), image("cover.png", Qt::darkRed), done); });
        cover = alpha()->coverImageURL();
    }

    template<typename Start> void run(Start start)
    {
        bool answered = false;
        start([&](auto outcome) {
            EXPECT_TRUE(outcome);
            answered = true;
        });
        settle(answered);
    }

    std::shared_ptr<TDProject> alpha() const { return projectNamed(stores, "Alpha"); }

    QString image(const QString& name, Qt::GlobalColor color) const
    {
        QImage picture(QSize(12, 9), QImage::Format_RGB32);
        picture.fill(color);
        const QString path = root.root() + "/" + name;
        EXPECT_TRUE(picture.save(path));
        return path;
    }

    // Every file or folder inside the library folder.
    QStringList items() const
    {
        QStringList found;
        QDirIterator it(root.library(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next().mid(root.library().size() + 1);
        return found;
    }
};

// One user's operation: how to start it, and what the library holds once it fully happened.
struct Operation {
    const char* name;
    // Starts the operation; `done` gets whether it reported success.
    std::function<void(Library&, std::function<void(bool)> done)> start;
    std::function<bool(const Library& before, const TDStores& loaded)> happened;
    // A note text it writes, by note title: the old or the new text may be on disk after a failure.
    std::optional<std::pair<QString, QString>> newText = {};
    // Made before the calls are counted: the picture a user picks.
    std::optional<QString> picture = {};
};

void PrintTo(const Operation& operation, std::ostream* out)
{
    *out << operation.name;
}

template<typename T> std::function<void(T)> reporting(std::function<void(bool)> done)
{
    return [done = std::move(done)](T outcome) { done(bool(outcome)); };
}

using LibraryDone = platform::Result<platform::Success, TDLibraryFailure>;

const Operation operations[] = {
    { "CreateProject",
        [](Library& l, auto done) {
            TDProject::Fields fields;
            fields.name = "Beta";
            fields.id = platform::Uuid::random();
            l.library->createProject(fields, reporting<LibraryDone>(done));
        },
        [](const Library& l, const TDStores& s) {
            return projectNamed(s, "Beta") && QFileInfo(l.root.file("Beta")).isDir();
        } },
    { "RenameProject",
        [](Library& l, auto done) {
            l.library->editProject(l.alpha(), { "Gamma", l.alpha()->startDate(), l.alpha()->category() },
                reporting<LibraryDone>(done));
        },
        [](const Library&, const TDStores& s) {
            return !projectNamed(s, "Alpha") && projectNamed(s, "Gamma")
                && s.mediaStore->tdMedia().front()->url().path().contains("/Gamma/");
        } },
    { "DeleteProject",
        [](Library& l, auto done) { l.library->deleteProject(l.alpha(), reporting<LibraryDone>(done)); },
        [](const Library& l, const TDStores& s) {
            return !projectNamed(s, "Alpha") && !QFileInfo::exists(l.root.file("Alpha"))
                && s.mediaStore->tdMedia().empty() && s.linkStore->tdLinks().empty();
        } },
    { "CreateNote",
        [](Library& l, auto done) {
            l.library->createNote(l.alpha(), "Third",
                reporting<platform::Result<std::shared_ptr<TDNote>, TDLibraryFailure>>(done));
        },
        [](const Library&, const TDStores& s) {
            auto note = noteTitled(projectNamed(s, "Alpha"), "Third");
            return note && isFile(note->contentURL());
        } },
    { "RenameNote",
        [](Library& l, auto done) {
            l.library->renameNote(l.alpha(), noteTitled(l.alpha(), "Draft"), "Final",
                platform::Date(900000000), reporting<LibraryDone>(done));
        },
        [](const Library&, const TDStores& s) {
            auto note = noteTitled(projectNamed(s, "Alpha"), "Final");
            return note && !noteTitled(projectNamed(s, "Alpha"), "Draft")
                && note->contentURL().path().endsWith("/notes/Final/Final.txt");
        } },
    { "DeleteNote",
        [](Library& l, auto done) {
            l.library->deleteNote(l.alpha(), noteTitled(l.alpha(), "Second"), reporting<LibraryDone>(done));
        },
        [](const Library& l, const TDStores& s) {
            return !noteTitled(projectNamed(s, "Alpha"), "Second")
                && !QFileInfo::exists(l.root.file("Alpha/notes/Second"));
        } },
    { "SaveNoteText",
        [](Library& l, auto done) {
            auto model = TDNoteWindowModel::make(l.stores.projectStore, noteTitled(l.alpha(), "Draft"));
            if (model->loadText())
                return done(false);
            model->setText("new words");
            const bool saved = !model->saveText();
            EXPECT_EQ(saved, !model->hasUnsavedText());
            done(saved);
        },
        [](const Library&, const TDStores& s) {
            auto text = TDNoteTextFile::read(noteTitled(projectNamed(s, "Alpha"), "Draft")->contentURL());
            return text && text.value() == "new words";
        },
        std::pair<QString, QString> { "Draft", "new words" } },
    { "SetCover",
        [](Library& l, auto done) {
            l.library->setCoverImage(l.alpha(), l.root.root() + "/picked.png", reporting<LibraryDone>(done));
        },
        [](const Library& l, const TDStores& s) {
            auto cover = projectNamed(s, "Alpha")->coverImageURL();
            // The replaced file is only reported when it cannot be removed.
            return cover && *cover != *l.cover && isFile(*cover);
        },
        {}, "picked.png" },
    { "RemoveCover",
        [](Library& l, auto done) {
            l.library->removeCoverImage(l.alpha(), *l.cover, reporting<LibraryDone>(done));
        },
        [](const Library& l, const TDStores& s) {
            return !projectNamed(s, "Alpha")->coverImageURL() && !isFile(*l.cover);
        } },
    { "ImportImage",
        [](Library& l, auto done) {
            l.library->importImages(l.alpha(), { QUrl::fromLocalFile(l.root.root() + "/picked.png") },
                [done](auto report) { done(report && report.value().imported == 1); });
        },
        [](const Library&, const TDStores& s) { return s.mediaStore->tdMedia().size() == 2; }, {},
        "picked.png" },
    { "RemoveImage",
        [](Library& l, auto done) {
            const auto media = l.stores.mediaStore->tdMedia();
            if (media.empty())
                return done(false);
            l.library->removeMedia(media.front()->id(), reporting<LibraryDone>(done));
        },
        [](const Library& l, const TDStores& s) {
            return s.mediaStore->tdMedia().empty()
                && (!QFileInfo::exists(l.root.file("Alpha/images"))
                    || QDir(l.root.file("Alpha/images")).isEmpty());
        } },
    { "AddLink",
        [](Library& l, auto done) {
            auto capture = std::make_shared<TDLinkCapture>(l.stores.linkStore, l.stores.projectStore);
            capture->addLink(l.alpha(), noteTitled(l.alpha(), "Draft"), "http://127.0.0.1:9/page",
                [capture, done](auto added) { done(bool(added)); });
        },
        [](const Library&, const TDStores& s) { return s.linkStore->tdLinks().size() == 2; } },
    { "DeleteLink",
        [](Library& l, auto done) {
            auto capture = std::make_shared<TDLinkCapture>(l.stores.linkStore, l.stores.projectStore);
            capture->deleteLink(l.alpha(), noteTitled(l.alpha(), "Draft"), *l.link,
                [capture, done](auto deleted) { done(bool(deleted)); });
        },
        [](const Library& l, const TDStores& s) {
            return s.linkStore->tdLinks().empty()
                && !isFile(TDWeblocFile::location("Alpha", "Draft", *l.link));
        } },
    { "ChangeStatus",
        [](Library& l, auto done) {
            l.alpha()->setStatus(TDStatus::finished);
            l.library->saveProjectChange(reporting<LibraryDone>(done));
        },
        [](const Library&, const TDStores& s) {
            return projectNamed(s, "Alpha")->status() == TDStatus::finished;
        } },
    { "ToggleFavorite",
        [](Library& l, auto done) { l.library->toggleFavorite(l.alpha(), reporting<LibraryDone>(done)); },
        [](const Library&, const TDStores& s) { return projectNamed(s, "Alpha")->isFavorite(); } },
};

// What must hold in a library loaded after the operation, whatever failed. `crashed`: nothing was
// retried, so what a crash is known to leave is let be (a folder a new or renamed item moved or
// made without its record, the temporary file of the write that was cut).
void expectSound(const Library& before, const Operation& operation, const TDStores& loaded,
    const std::vector<TDLibraryLoadProblem>& problems, bool crashed)
{
    for (const auto& problem : problems)
        ADD_FAILURE() << problem.fileName.toStdString() << " did not load: " << problem.reason.toStdString();
    const QString op = operation.name;
    // A crash between moving a renamed item's folder and saving leaves records naming the old place
    // (known: it needs a rename journal).
    if (crashed && (op == "RenameProject" || op == "RenameNote"))
        return;
    // Every note text saved before is there, byte for byte, where its record points.
    std::set<QString> named;
    for (const auto& project : loaded.projectStore->tdProjects()) {
        named.insert(project->name());
        if (!QFileInfo(before.root.file(project->name())).isDir())
            ADD_FAILURE() << "the project " << project->name().toStdString() << " has no folder";
        for (const auto& note : project->tdNote()) {
            named.insert(project->name() + "/notes/"
                + note->contentURL().deletingLastPathComponent().lastPathComponent());
            auto text = TDNoteTextFile::read(note->contentURL());
            if (!text) {
                ADD_FAILURE() << "the note " << note->title().toStdString()
                              << " cannot be read: " << text.error().description.toStdString();
                continue;
            }
            auto old = before.texts.find(note->id());
            const bool fresh = old == before.texts.end() && text.value().isEmpty();
            const bool kept = old != before.texts.end() && text.value() == old->second;
            const bool rewritten = operation.newText && text.value() == operation.newText->second;
            if (!fresh && !kept && !rewritten)
                ADD_FAILURE() << "the note " << note->title().toStdString() << " holds \""
                              << text.value().toStdString() << "\"";
        }
        if (auto cover = project->coverImageURL();
            cover && !isFile(*cover) && !(crashed && op == "RemoveCover"))
            ADD_FAILURE() << "the cover of " << project->name().toStdString() << " is missing";
    }
    for (const auto& media : loaded.mediaStore->tdMedia()) {
        if (!isFile(media->url()) || !isFile(media->thumbnailURL()))
            ADD_FAILURE() << "the image " << media->url().path().toStdString() << " is missing";
        named.insert(media->url().deletingLastPathComponent().path().mid(before.root.library().size() + 1));
    }
    // Whatever the user had is still listed: a project, its notes and images, the link.
    const bool deletes = op == "DeleteProject" || op == "RenameProject";
    if (!deletes) {
        auto alpha = projectNamed(loaded, "Alpha");
        EXPECT_TRUE(alpha) << "Alpha is gone";
        const auto notes = alpha ? alpha->tdNote() : std::vector<std::shared_ptr<TDNote>> {};
        for (const auto& [id, text] : before.texts) {
            const bool listed
                = std::any_of(notes.begin(), notes.end(), [&](const auto& note) { return note->id() == id; });
            if (!listed && op != "DeleteNote")
                ADD_FAILURE() << "a note is gone";
        }
        if (op != "RemoveImage" && loaded.mediaStore->tdMedia().empty())
            ADD_FAILURE() << "the image is gone";
        if (op != "DeleteLink" && loaded.linkStore->tdLinks().empty())
            ADD_FAILURE() << "the link is gone";
    }
    // Nothing left that no record names, nor a temporary file.
    for (const QString& item : before.items()) {
        const QStringList parts = item.split('/');
        const bool saving = parts.back().contains(".saving-");
        if (saving && !crashed)
            ADD_FAILURE() << "left behind: " << item.toStdString();
        QString owner;
        if (parts.size() == 1 && QFileInfo(before.root.file(item)).isDir())
            owner = item;
        else if (parts.size() == 3 && parts[1] == "notes")
            owner = item;
        else if (parts.size() == 3 && parts[1] == "images")
            owner = item;
        // A crash between a save and the folder work after it (or before it) leaves a folder without
        // its record; known, as it needs a journal.
        const bool folderWork = op.startsWith("Create") || op.startsWith("Rename") || op.startsWith("Delete")
            || op.endsWith("Image");
        if (!owner.isEmpty() && !named.count(owner) && !(crashed && folderWork))
            ADD_FAILURE() << "a folder no record names: " << owner.toStdString();
    }
}

struct Outcome {
    bool answered = false;
    bool succeeded = false;
};

void prepare(Library& library, const Operation& operation)
{
    if (operation.picture)
        library.image(*operation.picture, Qt::darkGreen);
}

Outcome runOperation(Library& library, const Operation& operation)
{
    Outcome outcome;
    if (!library.alpha() || !noteTitled(library.alpha(), "Draft") || !noteTitled(library.alpha(), "Second")) {
        ADD_FAILURE() << "Alpha or its notes are no longer in memory";
        return { true, false };
    }
    operation.start(library, [&](bool succeeded) {
        EXPECT_FALSE(outcome.answered) << "answered twice";
        outcome = { true, succeeded };
    });
    settle(outcome.answered);
    return outcome;
}

// The library's records in short, for comparing what is in memory with what was saved.
std::string summary(const TDStores& stores)
{
    QString text;
    for (const auto& project : stores.projectStore->tdProjects()) {
        text += project->name() + " " + QString::number(int(project->status()))
            + (project->isFavorite() ? "*" : "")
            + (project->coverImageURL() ? " cover " + project->coverImageURL()->lastPathComponent() : "");
        for (const auto& note : project->tdNote())
            text += " [" + note->title() + " " + note->contentURL().path() + "]";
        text += "\n";
    }
    for (const auto& media : stores.mediaStore->tdMedia())
        text += media->url().path() + "\n";
    for (const auto& link : stores.linkStore->tdLinks())
        text += link.url + "\n";
    return text.toStdString();
}

// Saves what the running program knows is not on disk yet, as it does before it quits.
void saveAsAtQuit(const TDStores& stores)
{
    if (stores.projectStore->libraryFile()->isBehind())
        stores.projectStore->save(stores.projectStore->tdProjects());
    if (stores.mediaStore->libraryFile()->isBehind())
        stores.mediaStore->save(stores.mediaStore->tdMedia());
    if (stores.linkStore->libraryFile()->isBehind())
        stores.linkStore->save(stores.linkStore->tdLinks());
    EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
}

class EveryFileCall : public ::testing::TestWithParam<Operation> { };

TEST_P(EveryFileCall, FailsHonestlyAndLosesNothing)
{
    const Operation& operation = GetParam();
    // A single failure reaches the desktop's trash too. Everything failing from a call on stops at
    // the library's folder: Qt's move to the trash tries new names for as long as its files cannot
    // be made, which only a probe just before it (made here too) keeps from spinning.
    const auto folderFor = [](const Library& library, filefault::Mode mode) {
        return mode == filefault::Mode::failOne ? qgetenv("HOME") : library.root.root().toUtf8();
    };
    const int errors[] = { ENOSPC, EIO, EACCES };
    for (const auto mode : { filefault::Mode::failOne, filefault::Mode::failFrom }) {
        const bool crashed = mode == filefault::Mode::failFrom;
        int calls = 0;
        {
            Library library;
            prepare(library, operation);
            filefault::arm(folderFor(library, mode), filefault::Mode::count);
            const Outcome outcome = runOperation(library, operation);
            calls = filefault::disarm();
            ASSERT_TRUE(outcome.succeeded);
            TDStores loaded = newStores();
            load(loaded);
            ASSERT_TRUE(operation.happened(library, loaded));
        }
        ASSERT_GT(calls, 0);
        for (int k = 1; k <= calls; ++k) {
            Library library;
            const int error = errors[k % 3];
            prepare(library, operation);
            filefault::arm(folderFor(library, mode), mode, k, error);
            const Outcome outcome = runOperation(library, operation);
            filefault::disarm();
            std::string trace;
            for (const auto& line : filefault::calls())
                trace += line + "\n";
            SCOPED_TRACE((crashed ? "everything from call " : "call ") + std::to_string(k) + " failing with "
                + strerror(error) + "\n" + trace);
            ASSERT_TRUE(outcome.answered);
            // What reached the disk, as the next start finds it.
            TDStores loaded = newStores();
            const auto problems = load(loaded);
            if (outcome.succeeded && !operation.happened(library, loaded))
                ADD_FAILURE() << "success reported, but it did not happen";
            if (crashed) {
                expectSound(library, operation, loaded, problems, true);
                // The next save of each library file clears what the cut one left.
                loaded.projectStore->save(loaded.projectStore->tdProjects());
                loaded.mediaStore->save(loaded.mediaStore->tdMedia());
                loaded.linkStore->save(loaded.linkStore->tdLinks());
                EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
                for (const QString& item : library.items())
                    if (item.contains(".library.saving-"))
                        ADD_FAILURE() << "left behind after the next save: " << item.toStdString();
                continue;
            }
            // The running program goes on: what it holds goes out with the next saves, and the
            // operation, asked again where it did not happen, now does.
            saveAsAtQuit(library.stores);
            TDStores after = newStores();
            const auto reloaded = load(after);
            EXPECT_EQ(summary(after), summary(library.stores)) << "the files and the memory differ";
            if (!operation.happened(library, after)) {
                const Outcome retried = runOperation(library, operation);
                EXPECT_TRUE(retried.succeeded) << "a retry failed";
                after = newStores();
                load(after);
                EXPECT_TRUE(operation.happened(library, after)) << "a retry did not happen";
            }
            expectSound(library, operation, after, reloaded, false);
            if (::testing::Test::HasFailure())
                return;
        }
        if (::testing::Test::HasFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(LibraryOperations, EveryFileCall, ::testing::ValuesIn(operations),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// The record goes first and is saved; a link file that then cannot be removed is told, not passed
// over as a success.
TEST(LinkFiles, ALinkFileThatCannotBeRemovedFailsTheDeletion)
{
    Library library;
    const Url file = TDWeblocFile::location("Alpha", "Draft", *library.link);
    ASSERT_TRUE(isFile(file));
    auto capture = std::make_shared<TDLinkCapture>(library.stores.linkStore, library.stores.projectStore);
    filefault::arm(file.path().toUtf8(), filefault::Mode::failFrom, 1, EIO);
    std::optional<platform::Result<platform::Success, TDLinkCaptureFailure>> deleted;
    capture->deleteLink(library.alpha(), noteTitled(library.alpha(), "Draft"), *library.link,
        [&](auto outcome) { deleted = outcome; });
    ASSERT_TRUE(platform::runMainLoopUntil([&] { return deleted.has_value(); }, 10s));
    filefault::disarm();
    ASSERT_FALSE(*deleted);
    EXPECT_EQ(deleted->error().reason, TDLinkCaptureFailure::Reason::fileNotRemoved);
    EXPECT_TRUE(deleted->error().message.contains("could not be removed"));
    EXPECT_TRUE(library.stores.linkStore->tdLinks().empty()) << "the record is gone all the same";
    EXPECT_TRUE(isFile(file));
}

} // namespace

namespace {

// Deleting ends, whatever the trash's folders refuse: a trash that takes no new file (full, or
// left unwritable) must not hold the program in a loop.
TEST(Trash, ADeletionEndsWhenTheTrashTakesNoFile)
{
    Library library;
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    QDir().mkpath(trash + "/files");
    QDir().mkpath(trash + "/info");
    // The folders are there; every file call in them from then on fails.
    filefault::arm(trash.toUtf8(), filefault::Mode::failFrom, 3, ENOSPC);
    std::optional<bool> deleted;
    library.library->deleteNote(library.alpha(), noteTitled(library.alpha(), "Second"),
        [&](auto outcome) { deleted = bool(outcome); });
    const bool ended = platform::runMainLoopUntil([&] { return deleted.has_value(); }, 10s);
    filefault::disarm();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(TDLibrary::finishPendingWork(10s));
}

} // namespace
