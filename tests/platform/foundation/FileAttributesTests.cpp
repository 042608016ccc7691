#include "platform/foundation/FileAttributes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using platform::Date;

namespace {

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& bytes)
{
    QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

} // namespace

TEST(FileAttributes, DateToTimespecClampsOutOfRangeAndNotANumber)
{
    struct Case {
        double seconds;
        double expectedUnixSeconds;
    };
    const double past = Date::distantPastSeconds + Date::unixEpochOffsetSeconds;
    const double future = Date::distantFutureSeconds + Date::unixEpochOffsetSeconds;
    const Case cases[] = {
        { 0, Date::unixEpochOffsetSeconds },
        { std::numeric_limits<double>::quiet_NaN(), past },
        { std::numeric_limits<double>::infinity(), future },
        { -std::numeric_limits<double>::infinity(), past },
        { 7.9e23, future },
        { -7.9e23, past },
    };
    for (const Case& c : cases) {
        timespec time = platform::timespecFromDate(Date(c.seconds));
        EXPECT_EQ(double(time.tv_sec), c.expectedUnixSeconds) << c.seconds;
        EXPECT_EQ(time.tv_nsec, 0) << c.seconds;
    }
}

TEST(FileAttributes, FractionsBeforeTheEpochKeepNonNegativeNanoseconds)
{
    timespec time = platform::timespecFromDate(Date::fromUnixSeconds(-1.25));
    EXPECT_EQ(time.tv_sec, -2);
    EXPECT_EQ(time.tv_nsec, 750'000'000);
    EXPECT_DOUBLE_EQ(platform::dateFromTimespec(time).timeIntervalSince1970(), -1.25);
}

TEST(FileAttributes, SetDatesReadBackExactly)
{
    QTemporaryDir dir;
    QString path = writeFile(dir, "file", "abc");
    Date access = Date::fromUnixSeconds(1'700'000'000);
    Date modification = Date::fromUnixSeconds(1'800'000'000.5);
    ASSERT_TRUE(platform::setFileDates(path, access, modification).isSuccess());
    auto status = platform::fileStatus(path);
    ASSERT_TRUE(status.isSuccess());
    EXPECT_EQ(status.value().type, platform::FileStatus::Type::regular);
    EXPECT_EQ(status.value().size, 3);
    EXPECT_EQ(status.value().accessDate, access);
    EXPECT_EQ(status.value().modificationDate, modification);
}

TEST(FileAttributes, ReadingKeepsTheAccessTime)
{
    QTemporaryDir dir;
    QString path = writeFile(dir, "file", QByteArray(100'000, 'x'));
    // An access time before the modification time is what makes a relatime mount update it on read.
    Date access = Date::fromUnixSeconds(1'000'000'000);
    ASSERT_TRUE(platform::setFileDates(path, access, Date::fromUnixSeconds(2'000'000'000)).isSuccess());
    auto data = platform::readFileKeepingAccessTime(path);
    ASSERT_TRUE(data.isSuccess());
    EXPECT_EQ(data.value(), QByteArray(100'000, 'x'));
    EXPECT_EQ(platform::fileStatus(path).value().accessDate, access);
}

TEST(FileAttributes, ReadRefusesWhatIsNotARegularFile)
{
    QTemporaryDir dir;
    QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_TRUE(platform::readFileKeepingAccessTime(fifo).isFailure());
    EXPECT_TRUE(platform::readFileKeepingAccessTime(dir.path()).isFailure());
    auto missing = platform::readFileKeepingAccessTime(dir.filePath("missing"));
    ASSERT_TRUE(missing.isFailure());
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_EQ(writeFile(dir, "empty", {}), dir.filePath("empty"));
    EXPECT_EQ(platform::readFileKeepingAccessTime(dir.filePath("empty")).value(), QByteArray());
}

// An attribute asked for comes with the read, from the open file: its value, or why there is none,
// also when the bytes are not read; nothing is read when none is asked for.
TEST(FileAttributes, AReadBringsTheAttributeAskedFor)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "file", "bytes");
    const QByteArray native = QFile::encodeName(path);
    if (::setxattr(native.constData(), "user.test.mark", "42", 2, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    const auto read = [&](const char* name, bool accept) {
        auto contents = platform::readFileIfAccepted(
            path, [&](const platform::FileStatus&) { return accept; }, platform::FinalSymbolicLink::refuse,
            name);
        EXPECT_TRUE(contents.isSuccess());
        return contents.value();
    };
    const auto marked = read("user.test.mark", true);
    ASSERT_TRUE(marked.attribute && marked.attribute->value);
    EXPECT_EQ(*marked.attribute->value, "42");
    EXPECT_EQ(marked.data, QByteArray("bytes"));
    const auto unread = read("user.test.other", false);
    ASSERT_TRUE(unread.attribute);
    EXPECT_FALSE(unread.attribute->value);
    EXPECT_EQ(unread.attribute->error, ENODATA);
    EXPECT_FALSE(unread.data);
    EXPECT_FALSE(read(nullptr, true).attribute);
}
