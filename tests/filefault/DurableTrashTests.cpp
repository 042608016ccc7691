// Moves to the trash watched call by call: the trash's record of the item, and the names the move
// changed, are on disk before the move is reported done.
#include "FileFaults.h"
#include "app/LibraryTestSupport.h"
#include "app/store/TDDirectoryPath.h"

#include <QStandardPaths>

#include <cerrno>
#include <string>

using apptest::LibraryRoot;
using platform::Url;

namespace {

QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
}

// "Draft" with a note in it, in a new library, and a trash that exists or not.
struct Library {
    LibraryRoot root;
    Url draft;

    explicit Library(bool trashExists)
    {
        QDir(trashFolder()).removeRecursively();
        if (trashExists) {
            QDir().mkpath(trashFolder() + "/files");
            QDir().mkpath(trashFolder() + "/info");
        }
        QDir().mkpath(root.library() + "/Draft");
        QFile note(root.library() + "/Draft/Draft.txt");
        EXPECT_TRUE(note.open(QIODevice::WriteOnly));
        note.write("words");
        draft = Url::fileUrl(root.library() + "/Draft");
    }
};

std::string listed(const std::vector<std::string>& calls)
{
    std::string text;
    for (const std::string& call : calls)
        text += call + "\n";
    return text;
}

// The index of the first call at or after `from` that holds `text` (or ends with it); -1 if none.
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

// The index of the fsync that follows an opening of `path` at or after `from`; -1 if none.
int syncOf(const std::vector<std::string>& calls, int from, const QString& path)
{
    const int opened = findCall(calls, from, " open " + QFile::encodeName(path).toStdString(), true);
    if (opened < 0 || opened + 1 >= int(calls.size()))
        return -1;
    return calls[std::size_t(opened + 1)].find(" fsync fd ") != std::string::npos ? opened + 1 : -1;
}

std::vector<std::string> callsOfTrashing(const Library& library, filefault::Mode mode, int at = 0)
{
    filefault::arm(QFile::encodeName(QDir::homePath()), mode, at, EIO);
    auto trashed = TDDirectoryPath::trashItemInsideLibrary(library.draft);
    filefault::disarm();
    EXPECT_TRUE(trashed) << trashed.error().description.toStdString();
    EXPECT_TRUE(QFile::exists(trashFolder() + "/files/Draft/Draft.txt"));
    EXPECT_FALSE(QFileInfo::exists(library.draft.path()));
    return filefault::calls();
}

} // namespace

// The trash writes the item's record and moves the item without syncing either; a power cut then
// could leave the item in the trash with no record of where it came from, or the record of nothing.
// Both, and the folders the move changed (a trash made for it too), are synced once it is done.
TEST(DurableTrash, AMoveToTheTrashSyncsItsRecordAndTheFoldersItChanged)
{
    for (const bool trashExists : { true, false }) {
        SCOPED_TRACE(trashExists ? "into the trash" : "into a trash made for it");
        const Library library(trashExists);
        const auto calls = callsOfTrashing(library, filefault::Mode::count);
        const int moved = findCall(calls, 0, "rename");
        ASSERT_GE(moved, 0) << listed(calls);
        for (const QString& path : { trashFolder() + "/info/Draft.trashinfo", trashFolder() + "/info",
                 trashFolder() + "/files", library.root.library() })
            EXPECT_GE(syncOf(calls, moved + 1, path), 0) << path.toStdString() << "\n" << listed(calls);
        if (!trashExists) {
            const int made
                = findCall(calls, 0, " mkdir " + QFile::encodeName(trashFolder()).toStdString() + "/files");
            ASSERT_GE(made, 0) << listed(calls);
            EXPECT_GE(syncOf(calls, made + 1, trashFolder()), 0) << listed(calls);
            EXPECT_GE(syncOf(calls, made + 1, QFileInfo(trashFolder()).path()), 0) << listed(calls);
        }
    }
}

// The item is in the trash by the time its record is synced: a disk that fails that sync does not
// make the move look undone to the library, which would keep a record of a folder no longer there.
TEST(DurableTrash, ASyncThatFailsAfterTheMoveStillReportsItDone)
{
    int recordSync = -1;
    {
        const Library library(true);
        const auto calls = callsOfTrashing(library, filefault::Mode::count);
        recordSync = syncOf(calls, 0, trashFolder() + "/info/Draft.trashinfo");
        ASSERT_GE(recordSync, 0) << listed(calls);
    }
    const Library library(true);
    const auto calls = callsOfTrashing(library, filefault::Mode::failOne, recordSync + 1);
    EXPECT_NE(calls[std::size_t(recordSync)].find("FAILS"), std::string::npos) << listed(calls);
}
