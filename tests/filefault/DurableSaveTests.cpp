// Saves watched call by call: what a save wrote, and the name it wrote it under, are on the disk
// before the save is reported done.
#include "FileFaults.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"

#include <QDir>
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
