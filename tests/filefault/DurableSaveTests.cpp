// Saves watched call by call: what a save wrote, and the name it wrote it under, are on the disk
// before the save is reported done.
#include "FileFaults.h"
#include "app/LibraryTestSupport.h"
#include "app/store/TDDirectoryPath.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Trash.h"
#include "platform/foundation/UserDefaults.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

using platform::FileManager;
using platform::Url;

namespace {

// The calls of `work` on the folder, one a line, as the file-fault log writes them.
std::vector<std::string> callsOf(const QString& folder, const std::function<bool()>& work, bool* succeeded)
{
    filefault::arm(QFile::encodeName(folder), filefault::Mode::count);
    *succeeded = work();
    filefault::disarm();
    return filefault::calls();
}

// The index of the first call at or after `from` that contains `text` (or ends with it); -1 if none.
int findCall(const std::vector<std::string>& calls, int from, const std::string& text, bool atEnd = false)
{
    for (int i = std::max(0, from); i < int(calls.size()); ++i) {
        const std::string& call = calls[std::size_t(i)];
        const auto at = call.rfind(text);
        if (at != std::string::npos && (!atEnd || at + text.size() == call.size()))
            return i;
    }
    return -1;
}

// The index of the sync of `folder` (its opening, then an fsync) after the rename, if there is one.
int folderSyncAfterRename(const std::vector<std::string>& calls, const QString& folder)
{
    const int renamed = findCall(calls, 0, " rename ");
    const int opened = findCall(calls, renamed + 1, " open " + QFile::encodeName(folder).toStdString(), true);
    return opened < 0 ? -1 : findCall(calls, opened + 1, " fsync fd ");
}

std::string listed(const std::vector<std::string>& calls)
{
    std::string text;
    for (const std::string& call : calls)
        text += call + "\n";
    return text;
}

} // namespace

// The new content is synced before it is renamed into place, and the folder after, so that a power
// cut leaves the old file or the new one and a save reported done stays done. New folders and moves
// sync the folder that lists them.
TEST(DurableSaves, EverySaveSyncsItsFileAndThenItsFolderBeforeItReportsDone)
{
    QTemporaryDir root;
    const QString folder = root.path();
    auto at = [&](const char* name) { return Url::fileUrl(folder + "/" + name); };
    const std::vector<std::pair<const char*, std::function<bool()>>> saves {
        { "file", [&] { return bool(FileManager::writeAtomically(at("f.json"), "new")); } },
        { "user defaults",
            [&] { return bool(platform::UserDefaults(folder + "/s.ini").setInteger("k", 3)); } },
        { "new folder",
            [&] {
                return bool(
                    FileManager::createDirectory(at("made"), platform::IntermediateDirectories::doNotCreate));
            } },
        { "move", [&] { return bool(FileManager::moveItem(at("f.json"), at("g.json"))); } },
    };
    for (const auto& [name, save] : saves) {
        bool saved = false;
        const std::vector<std::string> calls = callsOf(folder, save, &saved);
        ASSERT_TRUE(saved) << name;
        const int renamed = findCall(calls, 0, " rename ");
        if (renamed >= 0) {
            const int fileSynced = findCall(calls, 0, " fsync fd ");
            EXPECT_TRUE(fileSynced >= 0 && fileSynced < renamed) << name << "\n" << listed(calls);
        }
        EXPECT_GE(folderSyncAfterRename(calls, folder), 0) << name << "\n" << listed(calls);
    }
}

// A folder that cannot be synced (a disk gone bad) fails the save instead of reporting it done.
TEST(DurableSaves, AFolderThatCannotBeSyncedFailsTheSave)
{
    QTemporaryDir root;
    const Url file = Url::fileUrl(root.path() + "/f.json");
    bool saved = false;
    const auto calls = callsOf(
        root.path(), [&] { return bool(FileManager::writeAtomically(file, "first")); }, &saved);
    const int synced = folderSyncAfterRename(calls, root.path());
    ASSERT_GE(synced, 0) << listed(calls);

    filefault::arm(QFile::encodeName(root.path()), filefault::Mode::failOne, synced + 1, EIO);
    EXPECT_FALSE(FileManager::writeAtomically(file, "second"));
    filefault::disarm();
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "f.json" });
}

// A power cut during a move to the trash must not leave the item in the trash with no record of
// where it came from, or with half a record: the record is synced with its folder before the item
// moves, and the folders the move changed (the trash too when it was made for this move) before the
// move is reported done.
TEST(DurableSaves, AMoveToTheTrashSyncsItsRecordAndTheFoldersItChanged)
{
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    // The index of the fsync right after an opening of `path` at or after `from`; -1 if none.
    auto syncOf = [](const std::vector<std::string>& calls, int from, const QString& path) {
        const int opened = findCall(calls, from, " open " + QFile::encodeName(path).toStdString(), true);
        const bool synced = opened >= 0 && opened + 1 < int(calls.size())
            && calls[std::size_t(opened + 1)].find(" fsync fd ") != std::string::npos;
        return synced ? opened + 1 : -1;
    };
    for (const bool trashExisted : { true, false }) {
        SCOPED_TRACE(trashExisted);
        QDir(trash).removeRecursively();
        for (const char* folder : { "/files", "/info" }) {
            if (trashExisted)
                QDir().mkpath(trash + folder);
        }
        apptest::LibraryRoot root;
        QDir().mkpath(root.library() + "/Draft/notes");
        bool trashed = false;
        const auto calls = callsOf(
            QDir::homePath(),
            [&] {
                return bool(TDDirectoryPath::trashItemInsideLibrary(Url::fileUrl(root.library() + "/Draft")));
            },
            &trashed);
        ASSERT_TRUE(trashed);
        ASSERT_TRUE(QFileInfo(trash + "/files/Draft/notes").isDir());
        const int moved = findCall(calls, 0, "rename");
        ASSERT_GE(moved, 0) << listed(calls);
        // The record, whole and under its name, before the item moves; the names the move changed after.
        const int recorded = findCall(
            calls, 0, " open " + QFile::encodeName(trash).toStdString() + "/info/Draft.trashinfo", true);
        const int recordSynced = findCall(calls, recorded, " fsync fd ");
        EXPECT_TRUE(
            recorded >= 0 && recordSynced >= 0 && recordSynced < findCall(calls, recorded, " close fd "))
            << listed(calls);
        const int infoSynced = syncOf(calls, recordSynced, trash + "/info");
        EXPECT_TRUE(infoSynced >= 0 && infoSynced < moved) << listed(calls);
        for (const QString& path : { trash + "/files", root.library() })
            EXPECT_GE(syncOf(calls, moved, path), 0) << path.toStdString() << "\n" << listed(calls);
        if (!trashExisted) {
            const int made
                = findCall(calls, 0, " mkdir " + QFile::encodeName(trash).toStdString() + "/files", true);
            EXPECT_GE(syncOf(calls, made, trash), 0) << listed(calls);
            EXPECT_GE(syncOf(calls, made, QFileInfo(trash).path()), 0) << listed(calls);
        }
    }
}

// A move to the trash stopped at any of its steps, as by a kill, leaves the item where it was or in
// the trash with its whole record. A rename that fails takes its record back.
TEST(DurableSaves, AMoveToTheTrashStoppedAtAnyStepLeavesTheItemWithItsRecord)
{
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    apptest::LibraryRoot root;
    const QString item = root.library() + "/Draft";
    // The same folders before every run, so that the calls counted once are the calls of each.
    auto reset = [&] {
        return QDir(trash).removeRecursively() && QDir().mkpath(QFileInfo(trash).path())
            && QDir().mkpath(item + "/notes");
    };
    auto trashItem = [&] { return bool(platform::Trash::moveToTrash(Url::fileUrl(item))); };
    bool trashed = false;
    ASSERT_TRUE(reset());
    const auto calls = callsOf(QDir::homePath(), trashItem, &trashed);
    for (int stop = 1; stop <= int(calls.size()) + 1; ++stop) {
        const bool renameFails = stop > int(calls.size());
        const int at = renameFails ? findCall(calls, 0, " renameat2 ") + 1 : stop;
        ASSERT_TRUE(reset());
        filefault::arm(QFile::encodeName(QDir::homePath()),
            renameFails ? filefault::Mode::failOne : filefault::Mode::failFrom, at, EIO);
        trashed = trashItem();
        filefault::disarm();
        QFile info(trash + "/info/Draft.trashinfo");
        const QByteArray record = info.open(QIODevice::ReadOnly) ? info.readAll() : QByteArray();
        const bool inTrash = QFileInfo(trash + "/files/Draft/notes").isDir();
        const std::string step = calls[std::size_t(at - 1)];
        EXPECT_NE(QFileInfo(item + "/notes").isDir(), inTrash) << step;
        if (inTrash) {
            EXPECT_TRUE(record.startsWith("[Trash Info]\nPath=") && record.count('\n') == 3
                && record.contains("/Draft\nDeletionDate="))
                << step << ": " << record.constData();
        }
        if (renameFails) {
            EXPECT_FALSE(trashed || info.exists()) << step;
        }
    }
}
