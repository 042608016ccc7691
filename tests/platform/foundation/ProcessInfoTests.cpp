#include "platform/foundation/ProcessInfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::ProcessInfo;

TEST(ProcessInfo, ParsesCgroupMemoryMax)
{
    EXPECT_EQ(ProcessInfo::parseCgroupMemoryMax("536870912\n"), 536870912u);
    EXPECT_EQ(ProcessInfo::parseCgroupMemoryMax("max\n"), std::nullopt);
    EXPECT_EQ(ProcessInfo::parseCgroupMemoryMax(""), std::nullopt);
    EXPECT_EQ(ProcessInfo::parseCgroupMemoryMax("12abc"), std::nullopt);
}

TEST(ProcessInfo, FindsTheMemoryMaxOfTheProcessGroup)
{
    EXPECT_EQ(ProcessInfo::cgroupMemoryMaxPath("0::/user.slice/app.scope\n", "/sys/fs/cgroup"),
        QString("/sys/fs/cgroup/user.slice/app.scope/memory.max"));
    EXPECT_EQ(
        ProcessInfo::cgroupMemoryMaxPath("0::/\n", "/sys/fs/cgroup"), QString("/sys/fs/cgroup/memory.max"));
    // Version 1 hierarchies only, or a path that tries to leave the mount: no limit file.
    EXPECT_EQ(ProcessInfo::cgroupMemoryMaxPath("4:memory:/docker/abc\n", "/sys/fs/cgroup"), std::nullopt);
    EXPECT_EQ(ProcessInfo::cgroupMemoryMaxPath("0::/../etc\n", "/sys/fs/cgroup"), std::nullopt);
}

TEST(ProcessInfo, PhysicalMemoryIsNeverAboveTheMachine)
{
    std::uint64_t machine = ProcessInfo::machinePhysicalMemory();
    EXPECT_GT(machine, 0u);
    EXPECT_GT(ProcessInfo::physicalMemory(), 0u);
    EXPECT_LE(ProcessInfo::physicalMemory(), machine);
}

// A limit on an enclosing group (a user slice, a container's group) binds the program as much as
// one on its own group: the lowest limit on the way up counts.
TEST(ProcessInfo, TheLowestLimitOfTheGroupAndItsParentsCounts)
{
    QTemporaryDir root;
    const auto write = [&](const QString& group, const QByteArray& text) {
        QDir(root.path()).mkpath(group);
        QFile file(root.path() + "/" + group + "/memory.max");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    const std::uint64_t machine = 64ull << 30;
    const QString cgroup = "0::/user.slice/app.scope\n";
    write("user.slice", "2147483648\n");
    write("user.slice/app.scope", "max\n");
    EXPECT_EQ(ProcessInfo::memoryLimit(cgroup, root.path(), machine), 2147483648u);
    write("user.slice/app.scope", "1073741824\n");
    EXPECT_EQ(ProcessInfo::memoryLimit(cgroup, root.path(), machine), 1073741824u);
    write("user.slice", "max\n");
    write("user.slice/app.scope", "max\n");
    EXPECT_EQ(ProcessInfo::memoryLimit(cgroup, root.path(), machine), machine);
}
