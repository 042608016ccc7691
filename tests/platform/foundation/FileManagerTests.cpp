#include "FullFolder.h"
#include "app/FatDisk.h"
#include "platform/foundation/Environment.h"
#include "platform/foundation/FileManager.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::FileManager;
using platform::IntermediateDirectories;
using platform::Url;
using testsupport::FullFolder;

namespace {

class FileManagerTest : public ::testing::Test {
protected:
    Url at(const QString& relative) const { return Url::fileUrl(m_root.path() + "/" + relative); }

    QTemporaryDir m_root;
};

// What some file systems cannot do: NFS, 9p and many FUSE ones reject the no-replace flag of a
// rename (EINVAL); NFS without its lock daemon has no locks (ENOLCK); mounts without permission
// bits may refuse to change them (EPERM).
enum class Missing { noReplace, locks, permissions };

// Runs `work` on a thread of its own whose system calls fail as on a file system without
// `missing`. False when the filter cannot be installed.
bool onAFileSystemWithout(Missing missing, const std::function<void()>& work)
{
    bool installed = false;
    std::thread thread([&] {
        const sock_filter nr = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
        const sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
        auto fail = [](int error) -> sock_filter {
            return BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | std::uint32_t(error));
        };
        auto jumpIf = [](std::uint32_t value, unsigned char yes, unsigned char no) -> sock_filter {
            return BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, yes, no);
        };
        const sock_filter flags = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4]));
        std::vector<sock_filter> program;
        switch (missing) {
        case Missing::noReplace:
            program = { nr, jumpIf(SYS_renameat2, 0, 3), flags, jumpIf(0, 1, 0), fail(EINVAL), allow };
            break;
        case Missing::locks:
            program = { nr, jumpIf(SYS_flock, 0, 1), fail(ENOLCK), allow };
            break;
        case Missing::permissions:
            program = { nr, jumpIf(SYS_fchmod, 0, 1), fail(EPERM), allow };
            break;
        }
        sock_fprog filter { static_cast<unsigned short>(program.size()), program.data() };
        // Both only for this thread, which ends with the work.
        installed = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
            && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
        if (installed)
            work();
    });
    thread.join();
    return installed;
}

} // namespace

TEST_F(FileManagerTest, CreatesFoldersWithAndWithoutIntermediates)
{
    EXPECT_FALSE(FileManager::createDirectory(at("a/b/c"), IntermediateDirectories::doNotCreate));
    EXPECT_FALSE(FileManager::fileExists(at("a")));
    EXPECT_TRUE(FileManager::createDirectory(at("a/b/c"), IntermediateDirectories::create));
    EXPECT_TRUE(FileManager::directoryExists(at("a/b/c")));
    EXPECT_TRUE(FileManager::createDirectory(at("a/b/c"), IntermediateDirectories::create));
    EXPECT_FALSE(FileManager::createDirectory(at("a/b/c"), IntermediateDirectories::doNotCreate));
    EXPECT_TRUE(FileManager::createDirectory(at("a/d"), IntermediateDirectories::doNotCreate));

    ASSERT_TRUE(FileManager::writeAtomically(at("file"), "x"));
    auto blocked = FileManager::createDirectory(at("file/sub"), IntermediateDirectories::create);
    EXPECT_FALSE(blocked);
}

TEST_F(FileManagerTest, AtomicWriteReplacesContentAndNeedsTheFolder)
{
    ASSERT_TRUE(FileManager::writeAtomically(at("f.json"), "old"));
    ASSERT_TRUE(FileManager::writeAtomically(at("f.json"), "new content"));
    EXPECT_EQ(FileManager::readRegularFile(at("f.json")).value(), QByteArray("new content"));
    auto listing = FileManager::contentsOfDirectory(Url::fileUrl(m_root.path()));
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing.value().size(), 1u) << "no temporary file is left behind";

    auto missingFolder = FileManager::writeAtomically(at("missing/f.json"), "x");
    EXPECT_FALSE(missingFolder);
    EXPECT_FALSE(FileManager::fileExists(at("missing")));
    EXPECT_FALSE(FileManager::writeAtomically(Url(), "x"));
}

// A name near the file system's 255-byte limit leaves no room for the temporary file's additions;
// such files are saved all the same, again and again, and leave nothing behind.
TEST_F(FileManagerTest, SavesAFileWhoseNameIsNearTheLimit)
{
    const QString longest = QString(251, QLatin1Char('a')) + ".txt";
    const QString wide = QString(79, QChar(0x6F22)) + ".txt";
    for (const QString& name : { longest, wide, QString(longest).replace(0, 1, "b") }) {
        ASSERT_TRUE(FileManager::writeAtomically(at(name), "first")) << name.size();
        ASSERT_TRUE(FileManager::writeAtomically(at(name), "second")) << name.size();
        EXPECT_EQ(FileManager::readRegularFile(at(name)).value(), QByteArray("second"));
    }
    EXPECT_EQ(QDir(m_root.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(FileManagerTest, SavesWhereTheFileSystemHasNoLocksOrPermissions)
{
    for (Missing missing : { Missing::locks, Missing::permissions }) {
        const QString name = QStringLiteral("f%1.json").arg(int(missing));
        ASSERT_TRUE(FileManager::writeAtomically(at(name), "old"));
        platform::Result<platform::Success, platform::PlatformError> saved
            = platform::Result<platform::Success, platform::PlatformError>::success({});
        if (!onAFileSystemWithout(missing, [&] { saved = FileManager::writeAtomically(at(name), "new"); }))
            GTEST_SKIP() << "no system-call filter here";
        EXPECT_TRUE(saved) << int(missing) << ": " << saved.error().description.toStdString();
        EXPECT_EQ(FileManager::readRegularFile(at(name)).value(), QByteArray(saved ? "new" : "old"));
    }
    auto listing = FileManager::contentsOfDirectory(Url::fileUrl(m_root.path()));
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing.value().size(), 2u) << "no temporary file is left behind";
}

TEST(FileManagerFullDisk, ASaveThatDoesNotFitFailsAndKeepsTheOldFile)
{
    // Two pages left: saves of up to 8 KiB fit, larger ones meet a full disk, whether Qt would have
    // buffered them (under 16 KiB) or not.
    const struct {
        qsizetype bytes;
        bool fits;
    } cases[] = { { 5000, true }, { 8192, true }, { 8193, false }, { 12000, false }, { 16385, false },
        { 200000, false } };
    for (const auto& save : cases) {
        SCOPED_TRACE(save.bytes);
        FullFolder folder(2 * FullFolder::pageBytes);
        const Url file = Url::fileUrl(folder.path() + "/media.library");
        const QByteArray old(3000, 'o');
        ASSERT_TRUE(FileManager::writeAtomically(file, old));

        const QByteArray replacement(save.bytes, 'n');
        auto saved = folder.limited([&] { return FileManager::writeAtomically(file, replacement); });
        const QByteArray kept = FileManager::readRegularFile(file).value();
        EXPECT_TRUE(kept == (save.fits ? replacement : old)) << "the file holds " << kept.size() << " bytes";
        auto listing = FileManager::contentsOfDirectory(Url::fileUrl(folder.path()));
        ASSERT_TRUE(listing);
        EXPECT_EQ(listing.value().size(), 2u) << "no temporary file is left behind";
        if (save.fits) {
            EXPECT_TRUE(saved);
            continue;
        }
        ASSERT_FALSE(saved);
        EXPECT_EQ(saved.error().code, folder.expectedError());
        EXPECT_TRUE(
            saved.error().description.contains(QString::fromLocal8Bit(std::strerror(folder.expectedError()))))
            << saved.error().description.toStdString();
        EXPECT_TRUE(saved.error().description.contains(file.path()));
    }
}

TEST_F(FileManagerTest, ReadsOnlyRegularFilesWithinTheLimit)
{
    ASSERT_TRUE(FileManager::writeAtomically(at("big"), QByteArray(5000, 'a')));
    EXPECT_EQ(FileManager::readRegularFile(at("big")).value().size(), 5000);
    EXPECT_FALSE(FileManager::readRegularFile(at("big"), 100));

    auto missing = FileManager::readRegularFile(at("nothing"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);

    ASSERT_TRUE(FileManager::createDirectory(at("dir"), IntermediateDirectories::create));
    EXPECT_FALSE(FileManager::readRegularFile(at("dir")));
    ASSERT_EQ(::mkfifo(at("fifo").path().toUtf8().constData(), 0600), 0);
    EXPECT_FALSE(FileManager::readRegularFile(at("fifo"))) << "a pipe is refused without blocking";
}

TEST_F(FileManagerTest, RemovesFoldersAndLinksWithoutFollowingThem)
{
    QTemporaryDir outside;
    ASSERT_TRUE(FileManager::writeAtomically(Url::fileUrl(outside.path() + "/keep"), "keep"));
    ASSERT_TRUE(FileManager::createDirectory(at("tree/sub"), IntermediateDirectories::create));
    ASSERT_TRUE(FileManager::writeAtomically(at("tree/sub/file"), "x"));
    ASSERT_EQ(::symlink(outside.path().toUtf8().constData(), at("tree/link").path().toUtf8().constData()), 0);

    EXPECT_TRUE(FileManager::removeItem(at("tree")));
    EXPECT_FALSE(FileManager::fileExists(at("tree")));
    EXPECT_TRUE(FileManager::fileExists(Url::fileUrl(outside.path() + "/keep")));
    EXPECT_FALSE(FileManager::removeItem(at("tree")));
}

// A removal that cannot reach the item says why, so that the message the user reads is not
// "No such file or directory" for an item that is there.
TEST_F(FileManagerTest, ARemovalThatCannotReachTheItemGivesTheSystemsReason)
{
    ASSERT_EQ(::symlink("loop", QFile::encodeName(at("loop").path()).constData()), 0);
    ASSERT_TRUE(FileManager::writeAtomically(at("file"), "x"));
    const struct {
        Url item;
        int error;
    } cases[] = { { at("missing"), ENOENT }, { at("loop/item"), ELOOP }, { at("file/item"), ENOTDIR },
        { at(QString(300, QLatin1Char('n'))), ENAMETOOLONG } };
    for (const auto& each : cases) {
        auto removed = FileManager::removeItem(each.item);
        ASSERT_FALSE(removed) << each.item.path().toStdString();
        EXPECT_EQ(removed.error().code, each.error) << each.item.path().toStdString();
    }
}

TEST_F(FileManagerTest, MoveRefusesToReplace)
{
    auto check = [this](const QString& prefix) {
        SCOPED_TRACE(prefix.toStdString());
        ASSERT_TRUE(FileManager::writeAtomically(at(prefix + "a"), "a"));
        ASSERT_TRUE(FileManager::writeAtomically(at(prefix + "b"), "b"));
        EXPECT_FALSE(FileManager::moveItem(at(prefix + "a"), at(prefix + "b")));
        EXPECT_EQ(FileManager::readRegularFile(at(prefix + "b")).value(), QByteArray("b"));
        ASSERT_TRUE(FileManager::moveItem(at(prefix + "a"), at(prefix + "c")));
        EXPECT_EQ(FileManager::readRegularFile(at(prefix + "c")).value(), QByteArray("a"));
        // Folders, as a renamed project or note moves its own.
        ASSERT_TRUE(FileManager::createDirectory(at(prefix + "old"), IntermediateDirectories::create));
        ASSERT_TRUE(FileManager::writeAtomically(at(prefix + "old/file"), "kept"));
        ASSERT_TRUE(FileManager::createDirectory(at(prefix + "taken/x"), IntermediateDirectories::create));
        EXPECT_FALSE(FileManager::moveItem(at(prefix + "old"), at(prefix + "taken")));
        ASSERT_TRUE(FileManager::moveItem(at(prefix + "old"), at(prefix + "new")));
        EXPECT_EQ(FileManager::readRegularFile(at(prefix + "new/file")).value(), QByteArray("kept"));
        // Two names of one file (a hard link) are not one name under another case: never moved onto.
        ASSERT_EQ(::link(QFile::encodeName(at(prefix + "c").path()).constData(),
                      QFile::encodeName(at(prefix + "linked").path()).constData()),
            0);
        EXPECT_FALSE(FileManager::moveItem(at(prefix + "c"), at(prefix + "linked")));
        EXPECT_EQ(FileManager::readRegularFile(at(prefix + "c")).value(), QByteArray("a"));
        EXPECT_EQ(FileManager::readRegularFile(at(prefix + "linked")).value(), QByteArray("a"));
    };
    check("local-");
    if (!onAFileSystemWithout(Missing::noReplace, [&] { check("nfs-"); }))
        GTEST_SKIP() << "no system-call filter here";
}

TEST(Environment, RedirectsEveryRootAndRefusesARelativeDocumentsFolder)
{
    QTemporaryDir root;
    platform::Environment::setRoots({ root.path() + "/Docs", root.path() + "/Caches", root.path() + "/s.ini",
        root.path() + "/Resources" });
    EXPECT_EQ(FileManager::documentsDirectory().path(), root.path() + "/Docs");
    EXPECT_EQ(FileManager::cachesDirectory().path(), root.path() + "/Caches");
    EXPECT_EQ(platform::Environment::settingsFile(), root.path() + "/s.ini");
    platform::Environment::setRoots({ QStringLiteral("relative/Docs"), QString(), {}, {} });
    EXPECT_FALSE(FileManager::documentsDirectory().isValid());
    EXPECT_FALSE(FileManager::cachesDirectory().isValid());
    platform::Environment::resetRoots();
    EXPECT_TRUE(FileManager::documentsDirectory().path().startsWith(qEnvironmentVariable("HOME")));
}

// A home named in bytes that are not UTF-8 text reads with U+FFFD in their place: that path names
// another folder, never taken. A folder whose name really holds U+FFFD is on disk as it reads.
TEST(Environment, ADocumentsFolderWhosePathLostItsBytesIsRefused)
{
    QTemporaryDir root;
    const QString lost = root.path() + "/J" + QFile::decodeName("\xf6") + "rg/Documents";
    ASSERT_TRUE(lost.contains(QChar::ReplacementCharacter));
    platform::Environment::setRoots({ lost, lost + "/../.cache", {}, {} });
    EXPECT_FALSE(FileManager::documentsDirectory().isValid());
    EXPECT_FALSE(FileManager::cachesDirectory().isValid());
    ASSERT_TRUE(QDir().mkpath(root.path() + "/J" + QChar(QChar::ReplacementCharacter) + "rg"));
    EXPECT_EQ(FileManager::documentsDirectory().path(), lost);
    platform::Environment::resetRoots();
}

// What killed saves of a file left beside it goes with the next save of that file; a save under
// way elsewhere (it holds its file locked) and every other file stay.
TEST_F(FileManagerTest, TheNextSaveOfAFileRemovesWhatKilledSavesOfItLeft)
{
    ASSERT_TRUE(FileManager::writeAtomically(at("f.json"), "old"));
    auto make = [&](const QString& name) {
        QFile file(m_root.path() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("torn");
    };
    const QStringList leftovers { ".f.json.saving-1x2y3z", ".f.json.saving-q" };
    const QStringList others { ".f.json.saving-held", ".g.json.saving-abc", ".f.json.saving-",
        ".f.json.saving-AB", "f.json.saving-abc", ".f.json.saving-abc.bak" };
    for (const QString& name : leftovers + others)
        make(name);
    QDir(m_root.path()).mkdir(".f.json.saving-dir");
    QFile::link(m_root.path() + "/f.json", m_root.path() + "/.f.json.saving-link");
    const int held = ::open(QFile::encodeName(m_root.path() + "/.f.json.saving-held").constData(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_TRUE(FileManager::writeAtomically(at("f.json"), "new"));
    ::close(held);
    EXPECT_EQ(FileManager::readRegularFile(at("f.json")).value(), QByteArray("new"));
    QStringList left = QDir(m_root.path())
                           .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : leftovers)
        EXPECT_FALSE(left.contains(name)) << name.toStdString();
    for (const QString& name : others + QStringList { ".f.json.saving-dir", ".f.json.saving-link" })
        EXPECT_TRUE(left.contains(name)) << name.toStdString();
    EXPECT_EQ(left.size(), others.size() + 3);
}

// A save replaces the file with a new one, which must keep what the old one shared it under: its
// permissions (a private 0600 note, a 0660 library shared in a group) and its group, or the group's
// other members can no longer read or save it. Through a link, the target keeps them.
TEST_F(FileManagerTest, ASaveKeepsTheFilesPermissionsAndGroup)
{
    gid_t other = 0;
    if (::geteuid() == 0) {
        other = ::getegid() + 4242;
    } else {
        std::vector<gid_t> groups(std::size_t(std::max(::getgroups(0, nullptr), 0)));
        groups.resize(std::size_t(std::max(::getgroups(int(groups.size()), groups.data()), 0)));
        auto found = std::find_if(groups.begin(), groups.end(), [](gid_t g) { return g != ::getegid(); });
        if (found == groups.end())
            GTEST_SKIP() << "no second group to share a file in";
        other = *found;
    }
    auto statOf = [](const Url& url) {
        struct stat info { };
        EXPECT_EQ(::stat(QFile::encodeName(url.path()).constData(), &info), 0);
        return info;
    };
    ASSERT_TRUE(FileManager::writeAtomically(at("shared.library"), "old"));
    ASSERT_EQ(::chown(QFile::encodeName(at("shared.library").path()).constData(), uid_t(-1), other), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(at("shared.library").path()).constData(), 0660), 0);
    ASSERT_TRUE(FileManager::writeAtomically(at("private.txt"), "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(at("private.txt").path()).constData(), 0600), 0);
    ASSERT_EQ(::symlink("private.txt", QFile::encodeName(at("link.txt").path()).constData()), 0);

    for (const char* name : { "shared.library", "private.txt", "link.txt" })
        ASSERT_TRUE(FileManager::writeAtomically(at(name), "new")) << name;

    const struct stat shared = statOf(at("shared.library"));
    EXPECT_EQ(shared.st_gid, other);
    EXPECT_EQ(shared.st_mode & 07777, 0660u);
    EXPECT_EQ(statOf(at("private.txt")).st_mode & 07777, 0600u);
    EXPECT_TRUE(QFileInfo(at("link.txt").path()).isSymLink());
    EXPECT_EQ(FileManager::readRegularFile(at("private.txt")).value(), QByteArray("new"));
}

// A file the saver may not write (made read-only by its owner, or another user's in a shared
// folder) is not replaced by a rename the folder allows: the save fails and the file stays as it was.
TEST(FileManagerPermissions, ASaveDoesNotReplaceAFileItMayNotWrite)
{
    constexpr uid_t nobody = 65534;
    const bool asNobody = ::geteuid() == 0;
    // Root may write anything: there the saver is another user, on a thread of its own, in a folder
    // that user can reach.
    QTemporaryDir root(asNobody ? QStringLiteral("/tmp/tindrel-saver-XXXXXX") : QString());
    ASSERT_TRUE(root.isValid());
    const auto at = [&](const char* name) { return Url::fileUrl(root.path() + "/" + name); };
    const auto native = [&](const char* name) { return QFile::encodeName(at(name).path()); };
    ASSERT_TRUE(FileManager::writeAtomically(at("kept.txt"), "kept"));
    ASSERT_TRUE(FileManager::writeAtomically(at("writable.txt"), "old"));
    ASSERT_EQ(::chmod(native("kept.txt").constData(), 0444), 0);
    ASSERT_EQ(::chmod(native("writable.txt").constData(), 0644), 0);
    if (asNobody) {
        for (const QByteArray& path :
            { QFile::encodeName(root.path()), native("kept.txt"), native("writable.txt") })
            ASSERT_EQ(::chown(path.constData(), nobody, nobody), 0);
    }
    using Outcome = platform::Result<platform::Success, platform::PlatformError>;
    Outcome refused = Outcome::success({}), saved = Outcome::success({});
    std::thread saver([&] {
        if (asNobody) {
            ::setfsgid(nobody);
            ::setfsuid(nobody);
        }
        refused = FileManager::writeAtomically(at("kept.txt"), "replaced");
        saved = FileManager::writeAtomically(at("writable.txt"), "new");
    });
    saver.join();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, EACCES);
    ASSERT_TRUE(saved) << saved.error().description.toStdString();
    EXPECT_EQ(FileManager::readRegularFile(at("kept.txt")).value(), QByteArray("kept"));
    EXPECT_EQ(FileManager::readRegularFile(at("writable.txt")).value(), QByteArray("new"));
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// A file kept elsewhere through a link (a note or library file on another disk) stays linked: the
// save goes to where the link points, also when nothing is there yet, and fails when that place is
// gone (its disk unplugged) rather than putting a plain file where the link was.
TEST_F(FileManagerTest, ASaveGoesThroughALinkAndNeverReplacesIt)
{
    ASSERT_TRUE(FileManager::createDirectory(at("disk"), IntermediateDirectories::create));
    auto link = [&](const char* target, const char* name) {
        ASSERT_EQ(::symlink(target, QFile::encodeName(at(name).path()).constData()), 0);
    };
    link("disk/note.txt", "note.txt");
    link("note.txt", "chained.txt");
    link("unplugged/projects.library", "projects.library");

    ASSERT_TRUE(FileManager::writeAtomically(at("note.txt"), "first"));
    EXPECT_EQ(FileManager::readRegularFile(at("disk/note.txt")).value(), QByteArray("first"));
    ASSERT_TRUE(FileManager::writeAtomically(at("chained.txt"), "second"));
    EXPECT_EQ(FileManager::readRegularFile(at("disk/note.txt")).value(), QByteArray("second"));

    auto unplugged = FileManager::writeAtomically(at("projects.library"), "[]");
    ASSERT_FALSE(unplugged);
    EXPECT_EQ(unplugged.error().code, ENOENT);
    for (const char* name : { "note.txt", "chained.txt", "projects.library" })
        EXPECT_TRUE(QFileInfo(at(name).path()).isSymLink()) << name;
}

// A disk that keeps times to 2 s (FAT on a memory card) shows another program's same-size write
// made within the tick of a save as the same version: there, versions are never taken as equal, so
// the content decides whether the file changed elsewhere.
TEST_F(FileManagerTest, VersionsWithCoarseTimesAreNeverTakenAsTheSame)
{
    ASSERT_TRUE(FileManager::writeAtomically(at("note.txt"), "mine"));
    const auto fine = FileManager::versionOf(at("note.txt"));
    ASSERT_TRUE(fine);
    EXPECT_EQ(*fine, *FileManager::versionOf(at("note.txt")));

    const timespec tick[2] = { { 1'800'000'000, 0 }, { 1'800'000'000, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(at("note.txt").path()).constData(), tick, 0), 0);
    const auto coarse = FileManager::versionOf(at("note.txt"));
    ASSERT_TRUE(coarse);
    EXPECT_FALSE(*coarse == *FileManager::versionOf(at("note.txt")));
}

// On a memory card (FAT, exFAT) "Idea" and "idea" are one name: changing only the case renames the
// item, where the disk says the new name is taken. (The FUSE driver used here loses a renamed
// folder's contents, so a file stands in for the folders a project or note rename moves.)
TEST(FileManagerOnAMemoryCard, ACaseOnlyRenameRenames)
{
    QTemporaryDir root;
    const QString mount = root.path() + "/card";
    ASSERT_TRUE(QDir().mkdir(mount));
    apptest::FatDisk card(mount);
    if (!card.mounted())
        GTEST_SKIP() << "no FAT disk could be mounted";
    const auto url = [&](const QString& name) { return platform::Url::fileUrl(mount + "/" + name); };
    ASSERT_TRUE(FileManager::writeAtomically(url("Idea.txt"), "words"));
    ASSERT_TRUE(FileManager::createDirectory(url("Notes"), IntermediateDirectories::doNotCreate));
    EXPECT_TRUE(FileManager::isSameItem(url("Idea.txt"), url("idea.txt")));
    EXPECT_TRUE(FileManager::isSameItem(url("Notes"), url("NOTES")));
    EXPECT_FALSE(FileManager::isSameItem(url("Notes"), url("Idea.txt")));
    auto renamed = FileManager::moveItem(url("Idea.txt"), url("idea.txt"));
    ASSERT_TRUE(renamed) << renamed.error().description.toStdString();
    const QStringList listed = QDir(mount).entryList(QDir::Files);
    EXPECT_TRUE(listed.contains("idea.txt") && !listed.contains("Idea.txt"))
        << listed.join(' ').toStdString();
    EXPECT_EQ(FileManager::readRegularFile(url("idea.txt")).value(), QByteArray("words"));
    // Another item of that name is still never moved onto.
    ASSERT_TRUE(FileManager::writeAtomically(url("Other.txt"), "other"));
    EXPECT_FALSE(FileManager::moveItem(url("Other.txt"), url("IDEA.TXT")));
    EXPECT_EQ(FileManager::readRegularFile(url("idea.txt")).value(), QByteArray("words"));
}
