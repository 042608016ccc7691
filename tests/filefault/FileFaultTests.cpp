// Library operations whose file calls fail on purpose: what the user is told, and what is left.
#include "FileFaults.h"
#include "app/LibraryTestSupport.h"
#include "app/TindrelApp.h"
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
#include <QMessageBox>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
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
            library->createNote(alpha(), title, [&, text = text](auto made) {
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

namespace {

// A library file the user may not read is told in plain words, with what to do, not as the
// system's error text.
TEST(StartUp, ALibraryFileTheUserMayNotReadIsExplainedWithWhatToDo)
{
    LibraryRoot root;
    root.write("projects.library", "[]");
    TindrelApp app;
    filefault::arm(QFile::encodeName(root.file("projects.library")), filefault::Mode::failFrom, 1, EACCES);
    app.showMainWindow();
    QMessageBox* alert = nullptr;
    const bool shown = platform::runMainLoopUntil(
        [&] {
            alert = app.mainWindow()->findChild<QMessageBox*>("tdAlert");
            return alert && alert->isVisible();
        },
        10s);
    filefault::disarm();
    ASSERT_TRUE(shown);
    // Paths in alerts carry zero-width spaces where they may wrap.
    const QString message = alert->informativeText().remove(QChar(0x200B));
    EXPECT_TRUE(message.contains("“projects.library” could not be read: Tindrel is not allowed to open it."))
        << message.toStdString();
    EXPECT_TRUE(message.contains("Check in the file manager’s Properties that you may read and change "
        + QDir::toNativeSeparators(root.library())))
        << message.toStdString();
    EXPECT_FALSE(message.contains("Permission denied")) << message.toStdString();
}

} // namespace

namespace {

// A save refused by a full disk says so in plain words with what to do, and the change stays.
TEST(LibrarySaves, AFullDiskIsToldWithWhatToDo)
{
    Library library;
    filefault::arm(QFile::encodeName(library.root.library()), filefault::Mode::failFrom, 1, ENOSPC);
    std::optional<platform::Result<platform::Success, TDLibraryFailure>> toggled;
    library.library->toggleFavorite(library.alpha(), [&](auto outcome) { toggled = outcome; });
    const bool answered = platform::runMainLoopUntil([&] { return toggled.has_value(); }, 10s);
    filefault::disarm();
    ASSERT_TRUE(answered);
    ASSERT_FALSE(*toggled);
    EXPECT_EQ(toggled->error().kind, TDLibraryFailure::Kind::saveFailed);
    const QString message = toggled->error().message;
    EXPECT_TRUE(message.startsWith("There is no space left on the disk for " + library.root.library()))
        << message.toStdString();
    EXPECT_TRUE(message.contains("Free some space on it, then try again.")) << message.toStdString();
    EXPECT_FALSE(message.contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << message.toStdString();
    EXPECT_TRUE(library.alpha()->isFavorite()) << "the change stays in memory";
}

} // namespace
