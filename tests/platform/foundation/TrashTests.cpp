#include "platform/foundation/Trash.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <sys/mount.h>
#include <unistd.h>

using platform::Trash;
using platform::Url;

namespace {

QString homeTrash()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
}

// The item made at `path`, then moved to the trash; where it went, or "" when it stayed.
QString trashed(const QString& path)
{
    QFile(path).open(QIODevice::WriteOnly);
    auto moved = Trash::moveToTrash(Url::fileUrl(path));
    EXPECT_NE(QFile::exists(path), bool(moved)) << path.toStdString();
    return moved ? moved.value().path() : QString();
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// A name taken gets "-0001" and on, a name too long for its record is cut at a character, and the
// record says where the item was, escaped as in URLs.
TEST(Trash, EachItemGetsANameOfItsOwnAndARecordOfWhereItWas)
{
    QDir(homeTrash()).removeRecursively();
    QTemporaryDir home(QDir::homePath() + "/trashed-XXXXXX");
    const QString files = homeTrash() + "/files/", longName = QString(125, QChar(0xe9)) + ".txt";
    EXPECT_EQ(trashed(home.path() + "/a 50%"), files + "a 50%");
    EXPECT_EQ(trashed(home.path() + "/a 50%"), files + "a 50%-0001");
    EXPECT_EQ(trashed(home.path() + "/" + longName), files + longName.left(122)); // + ".trashinfo": 254 bytes
    EXPECT_TRUE(read(homeTrash() + "/info/a 50%-0001.trashinfo")
                    .startsWith("[Trash Info]\nPath=" + QFile::encodeName(home.path())
                        + "/a%2050%25\nDeletionDate=2"));
    EXPECT_TRUE(read(homeTrash() + "/info/" + longName.left(122) + ".trashinfo").contains("%C3%A9.txt\n"));
    EXPECT_EQ(Trash::moveToTrash(Url::fileUrl(home.path() + "/gone")).error().code, ENOENT);
}

// An item on another disk goes to that disk's trash, renamed, never copied: the administrator's
// shared ".Trash" (sticky) holds a folder per user, else the disk has a ".Trash-UID" of the user's.
// Where neither can be made, the item stays, with no record anywhere.
TEST(Trash, AnItemOnAnotherDiskGoesToThatDisksTrashOrStays)
{
    QTemporaryDir disk;
    const QByteArray top = QFile::encodeName(disk.path());
    if (::mount("tindrel-test", top.constData(), "tmpfs", 0, nullptr) != 0)
        GTEST_SKIP() << "this test needs to mount a tmpfs";
    const QString user = QString::number(::getuid()), own = disk.path() + "/.Trash-" + user;
    EXPECT_EQ(trashed(disk.path() + "/one"), own + "/files/one");
    EXPECT_TRUE(read(own + "/info/one.trashinfo").contains("Path=" + top + "/one\n"));
    ::mkdir(top + "/.Trash", 0777);
    ::chmod(top + "/.Trash", 01777);
    EXPECT_EQ(trashed(disk.path() + "/two"), disk.path() + "/.Trash/" + user + "/files/two");
    QDir(disk.path() + "/.Trash").removeRecursively();
    QDir(own).removeRecursively();
    QFile(own).open(QIODevice::WriteOnly);
    EXPECT_EQ(trashed(disk.path() + "/three"), "");
    EXPECT_EQ(Trash::moveToTrash(Url::fileUrl(disk.path() + "/three")).error().code, EXDEV);
    EXPECT_FALSE(QFile::exists(homeTrash() + "/info/three.trashinfo"));
    ::umount2(top.constData(), MNT_DETACH);
}

// A second mount of the home's own disk (a bind-mounted Documents folder) shares its device, yet
// nothing is renamed across mounts: an item there goes to the trash at the top of that mount.
TEST(Trash, AnItemOnABindMountOfTheHomesDiskGoesToThatMountsTrash)
{
    QTemporaryDir source(QDir::homePath() + "/kept-XXXXXX");
    QTemporaryDir documents(QDir::homePath() + "/Documents-XXXXXX");
    const QByteArray top = QFile::encodeName(documents.path());
    if (::mount(QFile::encodeName(source.path()).constData(), top.constData(), nullptr, MS_BIND, nullptr)
        != 0)
        GTEST_SKIP() << "this test needs to make a bind mount";
    const std::unique_ptr<const char, void (*)(const char*)> unmounted(
        top.constData(), [](const char* path) { ::umount2(path, MNT_DETACH); });
    ASSERT_TRUE(QDir(documents.path()).mkdir("Tindrel.folder"));
    const QString own = documents.path() + "/.Trash-" + QString::number(::getuid());
    EXPECT_EQ(trashed(documents.path() + "/Tindrel.folder/Draft"), own + "/files/Draft");
    EXPECT_TRUE(read(own + "/info/Draft.trashinfo").contains("Path=" + top + "/Tindrel.folder/Draft\n"));
    EXPECT_FALSE(QFile::exists(homeTrash() + "/info/Draft.trashinfo"));
}

// A trash that cannot be made now, its disk out of room for a folder, is a trash all the same: the
// move fails with the disk's reason and the item stays, never told as a disk with no trash (which a
// caller may answer by deleting the item for good). Both the home trash and a disk's own one.
TEST(Trash, ATrashThatCannotBeMadeOnAFullDiskFailsWithoutBeingTakenForNone)
{
    for (const bool homeTrashOnThatDisk : { false, true }) {
        SCOPED_TRACE(homeTrashOnThatDisk ? "home trash" : "the disk's own trash");
        QTemporaryDir disk;
        const QByteArray top = QFile::encodeName(disk.path());
        if (::mount("tindrel-test", top.constData(), "tmpfs", 0, "nr_inodes=16") != 0)
            GTEST_SKIP() << "this test needs to mount a tmpfs";
        const std::unique_ptr<const char, void (*)(const char*)> unmounted(
            top.constData(), [](const char* path) { ::umount2(path, MNT_DETACH); });
        ASSERT_TRUE(QDir(disk.path()).mkdir("Draft"));
        for (int i = 0; QDir(disk.path()).mkdir("filler" + QString::number(i)); ++i) { }
        if (homeTrashOnThatDisk)
            qputenv("XDG_DATA_HOME", top + "/data");
        const auto moved = Trash::moveToTrash(Url::fileUrl(disk.path() + "/Draft"));
        qunsetenv("XDG_DATA_HOME");
        ASSERT_FALSE(moved);
        EXPECT_EQ(moved.error().code, ENOSPC);
        EXPECT_TRUE(QFileInfo(disk.path() + "/Draft").isDir());
    }
}
