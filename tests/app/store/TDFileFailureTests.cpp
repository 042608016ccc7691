#include "app/store/TDFileFailure.h"

#include <gtest/gtest.h>

#include <cerrno>

using platform::PlatformError;

// Each failure a user can mend is told in plain words about the item it concerns; a failure of
// a move that does not say which end it concerns, one that already says more, and one there are no
// plain words for keep the system's text.
TEST(TDFileFailure, PlainWordsOnlyWhereTheyArePlainlyRight)
{
    struct Case {
        PlatformError error;
        const char* says; // empty: the system's text is kept
    };
    const Case cases[] = {
        { PlatformError::fromErrno(ENOSPC, "/lib/A"), "There is no space left on the disk for /lib/A" },
        { PlatformError::fromErrno(EEXIST, "/lib/A"), "Something named /lib/A is there already" },
        { PlatformError::fromErrno(EEXIST, "/lib/A -> /lib/B"), "Something named /lib/B is there already" },
        { PlatformError::fromErrno(EISDIR, "/lib/A/x.txt"), "/lib/A/x.txt is a folder where a file was" },
        { PlatformError::fromErrno(ENAMETOOLONG, "/lib/A"), "The name or the path of /lib/A is too long" },
        { PlatformError::fromErrno(ENOENT, "/lib/A"), "/lib/A, or a folder on the way to it, is not there" },
        { PlatformError::fromErrno(ENOENT, "/lib/A -> /lib/B"), "" },
        { PlatformError::fromErrno(ENOTDIR, "/lib/A -> /lib/B"), "" },
        { PlatformError::fromErrno(EINVAL, "/lib/A"), "" },
        { PlatformError::wrapping("tindrel", 1, "Copy failed", PlatformError::fromErrno(EEXIST, "/lib/A")),
            "Something named /lib/A is there already" },
        { PlatformError {
              PlatformError::posixDomain, EEXIST, "/lib/A: File exists. The disk says more.", {} },
            "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.description.toStdString());
        const QString text = tdPlainFileFailure(c.error);
        if (*c.says)
            EXPECT_TRUE(text.startsWith(QString::fromUtf8(c.says))) << text.toStdString();
        else
            EXPECT_EQ(text, c.error.description);
    }
}
