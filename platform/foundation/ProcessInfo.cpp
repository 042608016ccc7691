#include "platform/foundation/ProcessInfo.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <unistd.h>

namespace platform {

namespace {

QString readSmallTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(64 * 1024));
}

} // namespace

std::uint64_t ProcessInfo::machinePhysicalMemory()
{
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::optional<std::uint64_t> ProcessInfo::parseCgroupMemoryMax(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("max"))
        return std::nullopt;
    bool ok = false;
    qulonglong value = trimmed.toULongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<QString> ProcessInfo::cgroupMemoryMaxPath(const QString& cgroupFile, const QString& cgroupRoot)
{
    // A cgroup v2 entry reads "0::/path/of/the/group".
    const QStringList lines = cgroupFile.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1String("0::")))
            continue;
        QString group = line.mid(3).trimmed();
        if (group.isEmpty() || !group.startsWith(QLatin1Char('/')) || group.contains(QLatin1String("..")))
            return std::nullopt;
        if (group == QLatin1String("/"))
            group.clear();
        return cgroupRoot + group + QLatin1String("/memory.max");
    }
    return std::nullopt;
}

std::uint64_t ProcessInfo::physicalMemory()
{
    return memoryLimit(readSmallTextFile(QStringLiteral("/proc/self/cgroup")), QStringLiteral("/sys/fs/cgroup"),
        machinePhysicalMemory());
}

std::uint64_t ProcessInfo::memoryLimit(
    const QString& cgroupFile, const QString& cgroupRoot, std::uint64_t machineMemory)
{
    const QLatin1String limitFile("/memory.max");
    std::uint64_t memory = machineMemory;
    const auto lower = [&](const QString& group) {
        const std::optional<std::uint64_t> limit = parseCgroupMemoryMax(readSmallTextFile(group + limitFile));
        if (limit && *limit > 0)
            memory = memory == 0 ? *limit : std::min(memory, *limit);
    };
    // The kernel holds a group to the limits of every group above it too: a user slice or a
    // container's group may set the one that binds while the program's own group says "max".
    if (std::optional<QString> path = cgroupMemoryMaxPath(cgroupFile, cgroupRoot)) {
        QString group = path->chopped(limitFile.size());
        while (group.size() > cgroupRoot.size()) {
            lower(group);
            group.truncate(group.lastIndexOf(QLatin1Char('/')));
        }
    }
    // Inside a container the process's own group is often the root of its namespace; its file is
    // then at the top of the mount.
    lower(cgroupRoot);
    return memory;
}

} // namespace platform
