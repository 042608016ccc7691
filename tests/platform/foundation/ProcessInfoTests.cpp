#include "platform/foundation/ProcessInfo.h"

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
