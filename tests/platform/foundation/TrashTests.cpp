#include "platform/foundation/Trash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/mount.h>
#include <unistd.h>

using platform::Trash;
using platform::Url;

namespace {

QString homeTrash()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
}

QString madeFile(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("kept");
    return path;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A tmpfs of its own for the test's lifetime, where the system lets the test mount one.
struct OtherDisk {
    QTemporaryDir folder;
    bool mounted
        = ::mount("tindrel-test", QFile::encodeName(folder.path()).constData(), "tmpfs", 0, nullptr) == 0;
    ~OtherDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(folder.path()).constData(), MNT_DETACH);
    }
};

} // namespace

// Each item gets a name of its own in "files" and a record under the same name in "info": a name
// taken gets "-0001" and on, a name too long for its record is cut, and the record says where the
// item was, escaped as in URLs.
TEST(Trash, EachItemGetsANameOfItsOwnAndARecordOfWhereItWas)
{
    QDir(homeTrash()).removeRecursively();
    QTemporaryDir home(QDir::homePath() + "/trashed-XXXXXX");
    const QString longName = QString(125, QChar(0xe9)) + ".txt"; // 254 bytes
    QStringList given;
    for (const QString& name : { QString("a 50%"), QString("a 50%"), QString("a 50%"), longName }) {
        auto moved = Trash::moveToTrash(Url::fileUrl(madeFile(home.path() + "/" + name)));
        ASSERT_TRUE(moved) << moved.error().description.toStdString();
        EXPECT_FALSE(QFile::exists(home.path() + "/" + name));
        EXPECT_EQ(contents(moved.value().path()), "kept");
        given << moved.value().lastPathComponent();
    }
    const QString cut = given.back();
    EXPECT_EQ(given, (QStringList { "a 50%", "a 50%-0001", "a 50%-0002", cut }));
    EXPECT_TRUE(longName.startsWith(cut));
    EXPECT_EQ(QFile::encodeName(cut + ".trashinfo").size(), 254); // 255 would split an "é"
    EXPECT_EQ(entries(homeTrash() + "/files"), given);

    const QByteArray record = contents(homeTrash() + "/info/a 50%-0001.trashinfo");
    const QByteArray path = QFile::encodeName(home.path()) + "/a%2050%25";
    EXPECT_TRUE(record.startsWith("[Trash Info]\nPath=" + path + "\nDeletionDate=")) << record.constData();
    const QDateTime date
        = QDateTime::fromString(QString::fromUtf8(record.split('\n')[2].mid(13)), "yyyy-MM-ddThh:mm:ss");
    EXPECT_LE(std::abs(date.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_TRUE(contents(homeTrash() + "/info/" + cut + ".trashinfo").contains("%C3%A9%C3%A9.txt\n"));
    EXPECT_FALSE(QFile(homeTrash()).permissions() & (QFile::ReadOther | QFile::ReadGroup));

    auto missing = Trash::moveToTrash(Url::fileUrl(home.path() + "/never there"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_EQ(entries(homeTrash() + "/info").size(), 4);
}

// An item on another disk goes to that disk's trash, renamed, never copied: the administrator's
// shared ".Trash" (sticky) holds a folder per user, else the disk has a ".Trash-UID" of the user's.
// Where neither can be made, the move fails and the item stays, with no record anywhere.
TEST(Trash, AnItemOnAnotherDiskGoesToThatDisksTrashOrStays)
{
    OtherDisk disk;
    if (!disk.mounted)
        GTEST_SKIP() << "this test needs to mount a tmpfs";
    const QString top = disk.folder.path();
    const QString user = QString::number(::getuid());
    QDir(homeTrash()).removeRecursively();
    QDir().mkpath(top + "/folder");

    auto moved = Trash::moveToTrash(Url::fileUrl(madeFile(top + "/folder/one")));
    ASSERT_TRUE(moved) << moved.error().description.toStdString();
    EXPECT_EQ(moved.value().path(), top + "/.Trash-" + user + "/files/one");
    EXPECT_TRUE(contents(top + "/.Trash-" + user + "/info/one.trashinfo")
                    .contains("Path=" + QFile::encodeName(top) + "/folder/one\n"));

    ASSERT_TRUE(QDir().mkdir(top + "/.Trash"));
    ASSERT_EQ(::chmod(QFile::encodeName(top + "/.Trash").constData(), 01777), 0);
    moved = Trash::moveToTrash(Url::fileUrl(madeFile(top + "/folder/two")));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved.value().path(), top + "/.Trash/" + user + "/files/two");

    QDir(top + "/.Trash").removeRecursively();
    QDir(top + "/.Trash-" + user).removeRecursively();
    madeFile(top + "/.Trash-" + user);
    auto refused = Trash::moveToTrash(Url::fileUrl(madeFile(top + "/folder/three")));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, EXDEV);
    EXPECT_TRUE(QFile::exists(top + "/folder/three"));
    EXPECT_TRUE(entries(homeTrash() + "/info").isEmpty());
}
