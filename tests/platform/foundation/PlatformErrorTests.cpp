#include "platform/foundation/PlatformError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using platform::PlatformError;

// The failures a user can mend are told with the file and what to do, never as the system's
// error text; the rest keep their own description.
TEST(PlatformError, PlainDescriptionTellsWhatHappenedAndWhatToDo)
{
    const QString file = QStringLiteral("/home/u/Documents/Tindrel.folder/projects.library");
    const struct {
        int code;
        const char* words;
    } cases[] = {
        { ENOSPC, "There is no space left on the disk for " },
        { EDQUOT, "There is no space left on the disk for " },
        { EACCES, "Permission to change " },
        { EPERM, "Permission to change " },
        { EROFS, " is on a disk that can only be read. Make the disk writable" },
        { EIO, "The disk holding " },
        { ESTALE, "cannot be reached. Check that it is connected" },
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(std::strerror(each.code));
        const QString plain = PlatformError::fromErrno(each.code, file).plainDescription();
        EXPECT_TRUE(plain.contains(QString::fromUtf8(each.words))) << plain.toStdString();
        EXPECT_TRUE(plain.contains(file)) << plain.toStdString();
        EXPECT_TRUE(plain.endsWith("then try again.")) << plain.toStdString();
        EXPECT_FALSE(plain.contains(QString::fromLocal8Bit(std::strerror(each.code)))) << plain.toStdString();
    }

    // Found underneath a wrapping failure; a move names where the file was going.
    const PlatformError wrapped = PlatformError::wrapping(QStringLiteral("file"), 1,
        QStringLiteral("Save failed"), PlatformError::fromErrno(ENOSPC, QStringLiteral("/a/.tmp -> /a/b")));
    EXPECT_EQ(wrapped.plainDescription(),
        "There is no space left on the disk for /a/b. Free some space on it, then try again.");

    // Nothing a user can do about these: the description stays.
    const PlatformError other = PlatformError::fromErrno(EINVAL, file);
    EXPECT_EQ(other.plainDescription(), other.description);
    const PlatformError json { QStringLiteral("json"), 3, QStringLiteral("JSON is malformed"), nullptr };
    EXPECT_EQ(json.plainDescription(), "JSON is malformed");
}
