// A program killed at any moment of a burst of changes comes back, at its next start, with every
// change it had answered as done, every file its records name readable, no project twice, and no
// leftover files piling up. A child makes the changes and writes (and flushes to disk) what it was
// told was done to a side file; the next child reports what its start found in the same way.
#include "LibraryTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/model/TDNote.h"
#include "app/notes/TDLinkCapture.h"
#include "app/notes/TDNoteTextFile.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/notes/TDPageFetcher.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLibraryJournal.h"
#include "app/store/TDLibraryLoader.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "platform/foundation/DispatchQueue.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>

#include <fcntl.h>
#include <numeric>
#include <random>
#include <set>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
// One fact a line, "KIND|PROJECT ID|...", so the facts one change touches can be told apart.
using Facts = std::set<QString>;

constexpr const char* rootVariable = "TINDREL_BURST_ROOT";
constexpr const char* runVariable = "TINDREL_BURST_RUN";
constexpr const char* changesVariable = "TINDREL_BURST_CHANGES";
// How many killed runs the sweep makes; a few unless asked for more.
constexpr const char* runsVariable = "TINDREL_BURST_RUNS";
// Set, the sweep now and then puts back a library file from a few runs before.
constexpr const char* olderVariable = "TINDREL_BURST_OLDER_FILES";

QString noteFact(const QString& project, const QString& note, const QString& title, const QString& text)
{
    return "N|" + project + "|" + note + "|" + title + "|" + QString::fromLatin1(text.toUtf8().toBase64());
}

// What the user sees of the library, note texts as their files hold them.
Facts factsOf(const TDStores& stores)
{
    Facts facts;
    std::map<platform::Uuid, QString> projectOfNote;
    for (const auto& project : stores.projectStore->tdProjects()) {
        const QString id = project->id().uuidString();
        facts.insert("P|" + id + "|" + project->name());
        if (project->coverImageURL())
            facts.insert("C|" + id);
        for (const auto& note : project->tdNote()) {
            const auto text = TDNoteTextFile::read(note->contentURL());
            facts.insert(
                noteFact(id, note->id().uuidString(), note->title(), text ? text.value() : "<unreadable>"));
            projectOfNote[note->id()] = id;
        }
    }
    for (const auto& link : stores.linkStore->tdLinks()) {
        const auto project = projectOfNote.find(link.tdNoteId);
        facts.insert("L|" + (project == projectOfNote.end() ? QString("none") : project->second) + "|"
            + link.tdNoteId.uuidString() + "|" + link.id.uuidString());
    }
    for (const auto& item : stores.mediaStore->tdMedia())
        facts.insert("M|" + (item->tdProjectId() ? item->tdProjectId()->uuidString() : "none") + "|"
            + item->id().uuidString());
    return facts;
}

// What a start found wrong on disk: files records name that are missing or unreadable, a project
// twice, leftovers of a killed save beside one another, copies kept aside from a file that was fine.
QStringList faultsOnDisk(const TDStores& stores, const std::vector<TDLibraryLoadProblem>& problems)
{
    QStringList faults;
    for (const auto& problem : problems)
        faults << "the library file " + problem.fileName + " did not load: " + problem.reason;
    std::set<QString> names, ids;
    for (const auto& project : stores.projectStore->tdProjects()) {
        if (!names.insert(project->name()).second || !ids.insert(project->id().uuidString()).second)
            faults << "the project " + project->name() + " is listed twice";
        for (const auto& note : project->tdNote()) {
            if (const auto text = TDNoteTextFile::read(note->contentURL()); !text)
                faults << text.error().description;
        }
        if (const auto cover = project->coverImageURL(); cover && !QFileInfo(cover->path()).isFile())
            faults << "no cover file " + cover->path();
    }
    for (const auto& item : stores.mediaStore->tdMedia()) {
        for (const auto& url : { item->url(), item->thumbnailURL() }) {
            if (!QFileInfo(url.path()).isFile())
                faults << "no image file " + url.path();
        }
    }
    static const QRegularExpression temporary(R"(^\.(.*)\.saving-[0-9a-z]+$)");
    std::map<QString, int> leftovers;
    QDirIterator it(
        TDDirectoryPath::libraryFolderURL().path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        if (const auto match = temporary.match(file.fileName()); match.hasMatch()) {
            if (++leftovers[file.path() + "/" + match.captured(1)] == 2)
                faults << "leftovers of more than one save of " + file.path() + "/" + match.captured(1);
        } else if (file.fileName().contains(".damaged-") || file.fileName().contains(".changed-elsewhere-")) {
            faults << "a copy was kept aside: " + file.filePath();
        }
    }
    return faults;
}

// Files and folders in the library that no record names, once the start's work is done: what a
// change made before its record was saved, or left when its record went.
QStringList unnamedOnDisk(const TDStores& stores)
{
    QStringList named;
    for (const auto& item : stores.mediaStore->tdMedia())
        named << item->url().deletingLastPathComponent().path();
    for (const auto& project : stores.projectStore->tdProjects()) {
        const platform::Url folder = TDDirectoryPath::projectDirectoryURL(project->name());
        named << folder.path();
        if (auto cover = project->coverImageURL())
            named << cover->path();
        for (const auto& note : project->tdNote()) {
            named << TDDirectoryPath::noteDirectoryURL(folder, note->title()).path();
            for (const auto& link : stores.linkStore->tdLinks()) {
                if (link.tdNoteId == note->id())
                    named << TDDirectoryPath::noteLinksDirectoryURL(folder, note->title()).path() + "/"
                            + link.id.lowercaseString().left(8);
            }
        }
    }
    QStringList found;
    const QString library = TDDirectoryPath::libraryFolderURL().path();
    for (const QString& project : QDir(library).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = library + "/" + project;
        found << folder;
        for (const QString& cover : QDir(folder).entryList({ "*-cover-image.jpeg" }, QDir::Files))
            found << folder + "/" + cover;
        for (const QString& image : QDir(folder + "/images").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            found << folder + "/images/" + image;
        for (const QString& note : QDir(folder + "/notes").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            found << folder + "/notes/" + note;
            const QString links = folder + "/notes/" + note + "/links";
            for (const QString& file : QDir(links).entryList({ "*.webloc" }, QDir::Files))
                found << links + "/" + file.chopped(7).right(8);
        }
    }
    QStringList faults;
    for (const QString& path : found) {
        if (!named.contains(path))
            faults << "no record names " + path;
    }
    return faults;
}

// Appends blocks to the run's side file, each on disk before the next change begins.
class SideFile {
public:
    explicit SideFile(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600))
    {
    }
    ~SideFile() { ::close(m_fd); }
    void append(const QByteArray& heading, const Facts& facts, const QStringList& faults = {})
    {
        QByteArray block = heading + "\n";
        for (const QString& fault : faults)
            block += "fault " + fault.toUtf8().replace('\n', ' ') + "\n";
        for (const QString& fact : facts)
            block += "F " + fact.toUtf8() + "\n";
        block += "end\n";
        ASSERT_EQ(::write(m_fd, block.constData(), std::size_t(block.size())), block.size());
        ASSERT_EQ(::fsync(m_fd), 0);
    }

private:
    int m_fd;
};

// Drops the facts of one note (and, with `andLinks`, its links); gives the note's own fact.
QString takeNote(Facts& facts, const QString& noteId, bool andLinks)
{
    QString taken;
    std::erase_if(facts, [&](const QString& fact) {
        const QStringList fields = fact.split('|');
        if (fields[0] == "N" && fields[2] == noteId)
            return taken = fact, true;
        return andLinks && fields[0] == "L" && fields[2] == noteId;
    });
    return taken;
}

template<typename Start> bool answered(Start start, QString* failure)
{
    std::optional<bool> outcome;
    start([&](const auto& result) {
        outcome = bool(result);
        if (!result)
            *failure = result.error().message;
    });
    if (!platform::runMainLoopUntil([&] { return outcome.has_value(); }, 60s))
        *failure = "no answer";
    return outcome.value_or(false);
}

} // namespace

// Run only by the sweep below: starts over the library, reports what it found, then makes random
// changes one after the other, each written down before it begins and once it has answered.
TEST(KilledMidBurstChild, DISABLED_ChangesTheLibraryUntilKilled)
{
    const QString root = qEnvironmentVariable(rootVariable);
    ASSERT_FALSE(root.isEmpty());
    const int run = qEnvironmentVariableIntValue(runVariable);
    platform::Environment::setRoots({ root + "/Documents", root + "/Caches", root + "/settings.ini", {} });
    SideFile side(root + "/run-" + QString::number(run));
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    std::optional<std::vector<TDLibraryLoadProblem>> problems;
    loadLibraryFiles(stores.projectStore, stores.mediaStore, stores.linkStore,
        [&](std::vector<TDLibraryLoadProblem> found) { problems = std::move(found); });
    ASSERT_TRUE(platform::runMainLoopUntil([&] { return problems.has_value(); }, 60s));
    side.append("loaded", factsOf(stores), faultsOnDisk(stores, *problems));
    std::puts("ready");
    std::fflush(stdout);
    const int changes = qEnvironmentVariableIntValue(changesVariable);
    if (changes == 0) {
        ASSERT_TRUE(TDLibrary::finishPendingWork(60s));
        Facts leftovers;
        QDirIterator it(TDDirectoryPath::libraryFolderURL().path(), { "*.saving-*" },
            QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            leftovers.insert("T|" + it.next());
        side.append("settled", leftovers, faultsOnDisk(stores, {}) + unnamedOnDisk(stores));
        return;
    }

    TDLibrary library(stores);
    std::mt19937 random(run);
    const auto pick = [&](int count) { return int(random() % unsigned(count)); };
    for (int change = 0; change < changes; ++change) {
        const auto projects = stores.projectStore->tdProjects();
        const auto project = projects.empty() ? nullptr : projects[pick(int(projects.size()))];
        const QString pid = project ? project->id().uuidString() : QString();
        const auto notes = project ? project->tdNote() : std::vector<std::shared_ptr<TDNote>> {};
        const auto note = notes.empty() ? nullptr : notes[pick(int(notes.size()))];
        std::vector<std::shared_ptr<TDMedia>> images;
        for (const auto& item : stores.mediaStore->tdMedia())
            if (project && item->tdProjectId() == project->id())
                images.push_back(item);
        std::vector<TDLink> links;
        for (const auto& link : stores.linkStore->tdLinks())
            if (note && link.tdNoteId == note->id())
                links.push_back(link);
        const QString name = QStringLiteral("Run %1 · %2").arg(run).arg(change);
        // What may be found should the kill come before the change answers, written down before it
        // begins; "*" stands for an id the change makes.
        Facts after = factsOf(stores);
        QString failure;
        std::function<bool()> act;
        switch (pick(12)) {
        case 0: {
            if (projects.size() >= 6)
                continue;
            TDProject::Fields fields;
            fields.name = name;
            fields.id = platform::Uuid::random();
            after.insert("P|" + fields.id.uuidString() + "|" + name);
            act = [&, fields] {
                // As the sheet that asks for a new project does.
                TDProjectStore::prepareLibraryFolder();
                return answered([&](auto done) { library.createProject(fields, done); }, &failure);
            };
            break;
        }
        case 1:
            if (!project)
                continue;
            after.erase("P|" + pid + "|" + project->name());
            after.insert("P|" + pid + "|" + name);
            act = [&] {
                return answered(
                    [&](auto done) {
                        library.editProject(
                            project, { name, project->startDate(), project->category() }, done);
                    },
                    &failure);
            };
            break;
        case 2:
            if (projects.size() < 3)
                continue;
            std::erase_if(after, [&](const QString& fact) { return fact.split('|')[1] == pid; });
            act = [&] {
                return answered([&](auto done) { library.deleteProject(project, done); }, &failure);
            };
            break;
        case 3:
            if (!project || notes.size() >= 4)
                continue;
            after.insert(noteFact(pid, "*", name, {}));
            act = [&] {
                return answered([&](auto done) { library.createNote(project, name, done); }, &failure);
            };
            break;
        case 4:
        case 5:
        case 6: {
            if (!note)
                continue;
            const QString text = QStringLiteral("Typed in run %1, change %2.\n")
                                     .arg(run)
                                     .arg(change)
                                     .repeated(1 + pick(400));
            takeNote(after, note->id().uuidString(), false);
            after.insert(noteFact(pid, note->id().uuidString(), note->title(), text));
            act = [&, text] {
                auto window = TDNoteWindowModel::make(stores.projectStore, note);
                auto problem = window->loadText();
                if (!problem) {
                    window->setText(text);
                    problem = window->saveText();
                }
                if (problem)
                    failure = problem->text;
                return !problem;
            };
            break;
        }
        case 7: {
            if (!note)
                continue;
            QStringList fields = takeNote(after, note->id().uuidString(), false).split('|');
            fields[3] = name;
            after.insert(fields.join('|'));
            act = [&] {
                return answered(
                    [&](auto done) { library.renameNote(project, note, name, platform::Date::now(), done); },
                    &failure);
            };
            break;
        }
        case 8:
            if (!note)
                continue;
            takeNote(after, note->id().uuidString(), true);
            act = [&] {
                return answered([&](auto done) { library.deleteNote(project, note, done); }, &failure);
            };
            break;
        case 9:
            if (!project)
                continue;
            if (images.size() < 4) {
                // Now and then a drop of many, listed in the unfinished changes at once.
                const int count = pick(8) ? 1 + pick(3) : 40;
                std::vector<QUrl> files;
                for (int i = 0; i < count; ++i) {
                    after.insert("M|" + pid + "|*" + QString::number(i));
                    files.push_back(QUrl::fromLocalFile(root + "/picture.png"));
                }
                act = [&, files, count] {
                    return answered(
                               [&](auto done) {
                                   library.importImages(project, files, [&, done, count](auto result) {
                                       if (result && result.value().imported != count)
                                           failure = "not every image was imported";
                                       done(result);
                                   });
                               },
                               &failure)
                        && failure.isEmpty();
                };
            } else {
                const auto id = images[pick(int(images.size()))]->id();
                after.erase("M|" + pid + "|" + id.uuidString());
                act = [&, id] {
                    return answered([&](auto done) { library.removeMedia(id, done); }, &failure);
                };
            }
            break;
        case 10:
            if (!note)
                continue;
            // As the links pane does: a page that cannot be fetched still gives a link, and its file.
            if (links.size() < 2) {
                after.insert("L|" + pid + "|" + note->id().uuidString() + "|*");
                act = [&] {
                    return answered(
                        [&](auto done) {
                            TDLinkCapture(stores.linkStore, TDPageFetcher::make(), stores.projectStore)
                                .addLink(
                                    project, note, "http://127.0.0.1:1/" + QString::number(change), done);
                        },
                        &failure);
                };
            } else {
                const auto link = links[pick(int(links.size()))];
                after.erase("L|" + pid + "|" + note->id().uuidString() + "|" + link.id.uuidString());
                act = [&, link] {
                    return answered(
                        [&](auto done) {
                            TDLinkCapture(stores.linkStore, stores.projectStore)
                                .deleteLink(project, note, link, done);
                        },
                        &failure);
                };
            }
            break;
        default:
            if (!project)
                continue;
            if (const auto cover = project->coverImageURL()) {
                after.erase("C|" + pid);
                act = [&, cover] {
                    return answered(
                        [&](auto done) { library.removeCoverImage(project, *cover, done); }, &failure);
                };
            } else {
                after.insert("C|" + pid);
                act = [&] {
                    return answered(
                        [&](auto done) { library.setCoverImage(project, root + "/picture.png", done); },
                        &failure);
                };
            }
            break;
        }
        side.append("begin", after);
        QStringList faults;
        if (!act())
            faults << QStringLiteral("change %1 failed: %2").arg(change).arg(failure);
        side.append("state", factsOf(stores), faults);
    }
    std::puts("finished");
    std::fflush(stdout);
    ASSERT_TRUE(TDLibrary::finishPendingWork(60s));
}

namespace {

struct Block {
    QByteArray heading;
    QStringList faults;
    Facts facts;
};

// The whole blocks of a run's side file, in order; a block the kill cut short is dropped.
std::vector<Block> blocksOf(const QString& path)
{
    QFile file(path);
    std::vector<Block> blocks;
    if (!file.open(QIODevice::ReadOnly))
        return blocks;
    std::optional<Block> open;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!open)
            open = Block { line, {}, {} };
        else if (line == "end")
            blocks.push_back(std::move(*open)), open.reset();
        else if (line.startsWith("fault "))
            open->faults << QString::fromUtf8(line.mid(6));
        else
            open->facts.insert(QString::fromUtf8(line.mid(2)));
    }
    return blocks;
}

// Whether `found` is `predicted`, where a "*" field stands for any id the change made.
bool matches(const Facts& found, const Facts& predicted)
{
    if (found.size() != predicted.size())
        return false;
    Facts rest = found;
    for (const QString& fact : predicted) {
        if (!fact.contains("|*"))
            rest.erase(fact);
    }
    for (const QString& fact : predicted) {
        if (!fact.contains("|*"))
            continue;
        const QStringList wanted = fact.split('|');
        const auto hit = std::find_if(rest.begin(), rest.end(), [&](const QString& each) {
            const QStringList fields = each.split('|');
            for (qsizetype i = 0; i < fields.size(); ++i) {
                if (fields.size() != wanted.size() || (!wanted[i].startsWith('*') && wanted[i] != fields[i]))
                    return false;
            }
            return true;
        });
        if (hit == rest.end())
            return false;
        rest.erase(hit);
    }
    return rest.empty();
}

QString differences(const Facts& found, const Facts& expected)
{
    QString text;
    for (const QString& fact : expected)
        if (!found.contains(fact))
            text += "\n  missing " + fact.left(200);
    for (const QString& fact : found)
        if (!expected.contains(fact))
            text += "\n  extra   " + fact.left(200);
    return text;
}

struct SweepOutcome {
    int runs = 0;
    int killedBeforeReady = 0;
    int finishedBeforeKill = 0;
    int changesConfirmed = 0;
    int staleAfterRestore = 0;
    // Files of saves cut short that are still there at the end.
    int leftovers = 0;
    QStringList faults;
};

// Runs `runs` children over one library, each killed at a random moment (or, now and then, before
// its start is over), and checks each start against what the runs before it confirmed.
SweepOutcome sweep(const QString& root, int runs, int changesPerRun, unsigned seed)
{
    SweepOutcome outcome;
    std::mt19937 random(seed);
    std::optional<Facts> expected;
    std::optional<Facts> predicted;
    const bool olderFiles = qEnvironmentVariableIsSet(olderVariable);
    const QString library = root + "/Documents/Tindrel.folder/";
    const QStringList libraryFiles { "projects.library", "media.library", "links.library" };
    for (int run = 0; run <= runs; ++run) {
        const bool last = run == runs;
        // A file restored from a backup beside newer ones: the start must cope, and the runs after
        // it are checked against what it found.
        bool restored = false;
        if (olderFiles && run % 10 == 9) {
            const QString name = libraryFiles[int(random() % 3)];
            restored = QFile::exists(root + "/older-" + name) && QFile::remove(library + name)
                && QFile::copy(root + "/older-" + name, library + name);
        } else if (olderFiles && run % 10 == 4) {
            for (const QString& name : libraryFiles) {
                QFile::remove(root + "/older-" + name);
                QFile::copy(library + name, root + "/older-" + name);
            }
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(rootVariable, root);
        environment.insert(runVariable, QString::number(seed * 10000 + unsigned(run)));
        environment.insert(changesVariable, QString::number(last ? 0 : changesPerRun));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
            { "--gtest_also_run_disabled_tests",
                "--gtest_filter=KilledMidBurstChild.DISABLED_ChangesTheLibraryUntilKilled" });
        if (!child.waitForStarted())
            return outcome.faults << "the child did not start", outcome;
        const bool early = !last && random() % 8 == 0;
        // Often soon after the start, while it finishes what an earlier kill cut short.
        const auto delay = std::chrono::milliseconds(random() % (early ? 250 : random() % 4 ? 800 : 40));
        QByteArray output;
        bool ready = early;
        platform::runMainLoopUntil(
            [&] {
                output += child.readAllStandardOutput();
                ready = ready || output.contains("ready\n");
                return ready || child.state() == QProcess::NotRunning;
            },
            60s);
        QDeadlineTimer deadline(delay);
        platform::runMainLoopUntil(
            [&] { return last || deadline.hasExpired() || child.state() == QProcess::NotRunning; }, 60s);
        const bool endedByItself = child.state() == QProcess::NotRunning;
        if (!last)
            child.kill();
        child.waitForFinished(60000);
        output += child.readAllStandardOutput();
        ++outcome.runs;
        outcome.finishedBeforeKill += output.contains("finished\n");
        const QString label = QStringLiteral("run %1: ").arg(run);
        if ((last || endedByItself) && (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0))
            outcome.faults << label + "the child failed: " + child.readAllStandardError().right(2000);

        const auto blocks = blocksOf(root + "/run-" + QString::number(seed * 10000 + unsigned(run)));
        if (blocks.empty() || blocks.front().heading != "loaded") {
            ++outcome.killedBeforeReady;
            continue;
        }
        for (const Block& block : blocks) {
            for (const QString& fault : block.faults) {
                // Records of a restored file may name what the newer ones removed.
                if (olderFiles && fault.startsWith("no "))
                    ++outcome.staleAfterRestore;
                else
                    outcome.faults << label + block.heading + ": " + fault;
            }
        }
        const Facts& found = blocks.front().facts;
        if (restored)
            expected.reset();
        if (expected && found != *expected && !(predicted && matches(found, *predicted)))
            outcome.faults << label
                    + "the start did not find what was confirmed:" + differences(found, *expected)
                    + (predicted ? "\n or, with the change in flight:" + differences(found, *predicted) : "");
        expected = found;
        predicted.reset();
        for (const Block& block : blocks) {
            if (block.heading == "settled")
                outcome.leftovers = int(block.facts.size());
            if (block.heading == "begin") {
                predicted = block.facts;
            } else if (block.heading == "state") {
                ++outcome.changesConfirmed;
                expected = block.facts;
                predicted.reset();
            }
        }
    }
    return outcome;
}

} // namespace

TEST(KilledMidBurst, EveryConfirmedChangeSurvivesAKillAtAnyMoment)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    QTemporaryDir root;
    QDir(root.path()).mkpath("Documents");
    QImage picture(QSize(40, 30), QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(root.path() + "/picture.png"));
    const int runs = qEnvironmentVariableIsSet(runsVariable) ? qEnvironmentVariableIntValue(runsVariable) : 6;
    // The kills come at moments no seed repeats; the seed repeats which changes are made.
    const unsigned seed = unsigned(std::random_device()()) % 1000;
    const auto outcome = sweep(root.path(), runs, 1000, seed);
    std::printf(
        "seed %u: %d runs, %d killed before their start was over, %d finished first, %d changes confirmed, "
        "%d stale records after a file was restored, %d leftovers of killed saves at the end\n",
        seed, outcome.runs, outcome.killedBeforeReady, outcome.finishedBeforeKill, outcome.changesConfirmed,
        outcome.staleAfterRestore, outcome.leftovers);
    for (const QString& fault : outcome.faults)
        ADD_FAILURE() << fault.toStdString();
}

namespace {

// Whether `decode` takes any prefix of `whole` shorter than itself other than for white space it
// may drop; gives the first such length.
template<typename Decode, typename Encode>
std::optional<qsizetype> shorterListRead(
    const QByteArray& whole, const std::vector<qsizetype>& lengths, Decode decode, Encode encode)
{
    const QByteArray expected = encode(decode(whole).value()).value();
    for (qsizetype length : lengths) {
        if (length >= whole.size() || whole.mid(length).trimmed().isEmpty())
            continue;
        if (auto read = decode(whole.left(length)); read && encode(read.value()).value() != expected)
            return length;
    }
    return std::nullopt;
}

std::vector<qsizetype> everyLength(const QByteArray& bytes)
{
    std::vector<qsizetype> lengths(std::size_t(bytes.size()));
    std::iota(lengths.begin(), lengths.end(), 0);
    return lengths;
}

// Around a few elements' starts and near the end: a large file is read in stretches cut there.
std::vector<qsizetype> lengthsAroundElements(const QByteArray& bytes)
{
    std::vector<qsizetype> lengths;
    for (qsizetype at : { bytes.indexOf("},{", bytes.size() / 3), bytes.indexOf("},{", bytes.size() * 2 / 3),
             bytes.lastIndexOf("},{") }) {
        for (qsizetype by = -1; by <= 3; ++by)
            lengths.push_back(at + by);
    }
    for (qsizetype at = bytes.size() - 3; at < bytes.size(); ++at)
        lengths.push_back(at);
    return lengths;
}

} // namespace

TEST(KilledMidBurst, ALibraryFileCutAtAnyLengthNeverReadsAsAShorterList)
{
    for (int count : { 3, 800 }) {
        SCOPED_TRACE(count);
        tdlibrary::ProjectList projects;
        tdlibrary::MediaList media;
        tdlibrary::LinkList links;
        for (int i = 0; i < count; ++i) {
            projects.push_back(apptest::makeProject(QStringLiteral("Project %1").arg(i), 2, true));
            media.push_back(TDMedia::make(platform::Uuid::random(), apptest::fileUrl("/m.png"),
                apptest::fileUrl("/t.jpg"), projects.back()->id()));
            links.push_back(TDLink { "t", "d", "https://example.com", platform::Uuid::random(),
                projects.back()->tdNote().front()->id() });
        }
        const QByteArray projectBytes = tdlibrary::encodeProjects(projects).value();
        const QByteArray mediaBytes = tdlibrary::encodeMedia(media).value();
        const QByteArray linkBytes = tdlibrary::encodeLinks(links).value();
        const auto lengths = [&](const QByteArray& bytes) {
            return count < 10 ? everyLength(bytes) : lengthsAroundElements(bytes);
        };
        EXPECT_EQ(shorterListRead(projectBytes, lengths(projectBytes), tdlibrary::decodeProjects,
                      tdlibrary::encodeProjects),
            std::nullopt);
        EXPECT_EQ(
            shorterListRead(mediaBytes, lengths(mediaBytes), tdlibrary::decodeMedia, tdlibrary::encodeMedia),
            std::nullopt);
        EXPECT_EQ(
            shorterListRead(linkBytes, lengths(linkBytes), tdlibrary::decodeLinks, tdlibrary::encodeLinks),
            std::nullopt);
    }
}

// A list of unfinished changes cut short gives the changes of its whole lines, in order, and says
// it was not read whole.
TEST(KilledMidBurst, AListOfChangesCutAtAnyLengthGivesItsWholeLinesOnly)
{
    using Change = TDLibraryJournal::Change;
    const platform::Uuid project = platform::Uuid::random();
    const std::vector<Change> changes {
        { Change::Kind::createProject, project, {}, "Alpha", {}, {}, {} },
        { Change::Kind::renameProject, project, {}, "Alpha", "Omega ✓", {}, {} },
        { Change::Kind::createNote, project, platform::Uuid::random(), "Draft", {}, platform::Date(8e8),
            apptest::fileUrl("/l/Omega ✓/notes/Draft/Draft.txt") },
        { Change::Kind::deleteMedia, project, platform::Uuid::random(), {}, {}, {}, {} },
    };
    QByteArray bytes = TDLibraryJournal::encode(changes);
    // The second change struck off, as a run does in place.
    bytes.replace("\"renameProject\"", "\"-------------\"");
    const std::vector<std::size_t> kept { 0, 2, 3 };
    for (qsizetype length = 0; length <= bytes.size(); ++length) {
        SCOPED_TRACE(length);
        const auto read = TDLibraryJournal::read(bytes.left(length));
        if (!read)
            continue;
        const bool whole = length >= bytes.size() - 1;
        EXPECT_EQ(read.value().whole, whole);
        ASSERT_LE(read.value().changes.size(), kept.size());
        for (std::size_t i = 0; i < read.value().changes.size(); ++i) {
            const Change& found = read.value().changes[i];
            const Change& listed = changes[kept[i]];
            EXPECT_TRUE(found.kind == listed.kind && found.from == listed.from && found.to == listed.to
                && found.item == listed.item && found.file == listed.file);
        }
        if (whole) {
            EXPECT_EQ(read.value().changes.size(), kept.size());
        }
    }
}

// A cover or link file whose save was killed before its rename is never saved again under its name,
// so the start that finishes the change clears what that save left beside it.
TEST(KilledMidBurst, TheStartAfterAKilledCoverOrLinkSaveClearsWhatTheSaveLeft)
{
    using Change = TDLibraryJournal::Change;
    apptest::LibraryRoot root;
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
