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

std::string listed(const std::vector<std::string>& calls)
{
    std::string text;
    for (const std::string& call : calls)
        text += call + "\n";
    return text;
}

bool endsWith(const std::string& text, const std::string& ending)
{
    return text.size() >= ending.size()
        && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// The index of the first call at or after `from` that `matches`; -1 when there is none.
int findCall(
    const std::vector<std::string>& calls, int from, const std::function<bool(const std::string&)>& matches)
{
    for (int i = std::max(0, from); i < int(calls.size()); ++i) {
        if (matches(calls[std::size_t(i)]))
            return i;
    }
    return -1;
}

bool isFsync(const std::string& call)
{
    return call.find(" fsync fd ") != std::string::npos;
}

// The index of the sync of `folder` (its opening, then an fsync) at or after `from`; -1 when none.
int folderSync(const std::vector<std::string>& calls, int from, const std::string& folder)
{
    const int opened
        = findCall(calls, from, [&](const std::string& call) { return endsWith(call, " open " + folder); });
    return opened < 0 ? -1 : findCall(calls, opened + 1, isFsync);
}

struct Save {
    const char* name;
    // Saves into `folder`; whether it reported success.
    std::function<bool(const QString& folder)> run;
    // Whether the save renames a new file into place (else it makes or moves a name in the folder).
    bool writesFile;
};

const std::vector<Save>& saves()
{
    static const std::vector<Save> all {
        { "new file",
            [](const QString& folder) {
                return bool(FileManager::writeAtomically(Url::fileUrl(folder + "/new.json"), "new"));
            },
            true },
        { "replaced file",
            [](const QString& folder) {
                return FileManager::writeAtomically(Url::fileUrl(folder + "/old.json"), "old")
                    && (filefault::arm(QFile::encodeName(folder), filefault::Mode::count), true)
                    && FileManager::writeAtomically(Url::fileUrl(folder + "/old.json"), "new");
            },
            true },
        { "user defaults",
            [](const QString& folder) {
                return bool(platform::UserDefaults(folder + "/settings.ini").setInteger("k", 3));
            },
            true },
        { "new folder",
            [](const QString& folder) {
                return bool(FileManager::createDirectory(
                    Url::fileUrl(folder + "/made"), platform::IntermediateDirectories::doNotCreate));
            },
            false },
        { "moved file",
            [](const QString& folder) {
                QFile(folder + "/from").open(QIODevice::WriteOnly);
                filefault::arm(QFile::encodeName(folder), filefault::Mode::count);
                return bool(
                    FileManager::moveItem(Url::fileUrl(folder + "/from"), Url::fileUrl(folder + "/to")));
            },
            false },
    };
    return all;
}

} // namespace

// The new content is synced before it is renamed into place, and the folder after, so that a power
// cut leaves the old file or the new one and a save reported done stays done.
TEST(DurableSaves, EverySaveSyncsItsFileAndThenItsFolderBeforeItReportsDone)
{
    for (const Save& save : saves()) {
        QTemporaryDir root;
        const std::string folder = QFile::encodeName(root.path()).toStdString();
        filefault::arm(QFile::encodeName(root.path()), filefault::Mode::count);
        const bool saved = save.run(root.path());
        filefault::disarm();
        const std::vector<std::string> calls = filefault::calls();
        ASSERT_TRUE(saved) << save.name;
        int from = 0;
        if (save.writesFile) {
            const int renamed = findCall(
                calls, 0, [](const std::string& call) { return call.find(" rename ") != std::string::npos; });
            ASSERT_GE(renamed, 0) << save.name << "\n" << listed(calls);
            EXPECT_GE(findCall(calls, 0, isFsync), 0) << save.name << "\n" << listed(calls);
            EXPECT_LT(findCall(calls, 0, isFsync), renamed) << save.name << "\n" << listed(calls);
            from = renamed + 1;
        }
        EXPECT_GE(folderSync(calls, from, folder), 0) << save.name << ": the folder is synced last\n"
                                                      << listed(calls);
    }
}

// A folder that cannot be synced (a disk gone bad) fails the save instead of reporting it done.
TEST(DurableSaves, AFolderThatCannotBeSyncedFailsTheSave)
{
    QTemporaryDir root;
    const QByteArray folder = QFile::encodeName(root.path());
    const Url file = Url::fileUrl(root.path() + "/f.json");
    filefault::arm(folder, filefault::Mode::count);
    ASSERT_TRUE(FileManager::writeAtomically(file, "first"));
    filefault::disarm();
    const std::vector<std::string> calls = filefault::calls();
    const int renamed = findCall(
        calls, 0, [](const std::string& call) { return call.find(" rename ") != std::string::npos; });
    const int synced = folderSync(calls, renamed + 1, folder.toStdString());
    ASSERT_GE(synced, 0) << listed(calls);

    filefault::arm(folder, filefault::Mode::failOne, synced + 1, EIO);
    auto saved = FileManager::writeAtomically(file, "second");
    filefault::disarm();
    EXPECT_FALSE(saved) << listed(filefault::calls());
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "f.json" });
}
