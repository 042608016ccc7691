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
    std::uint64_t memory = machinePhysicalMemory();
    const QString root = QStringLiteral("/sys/fs/cgroup");
    std::optional<QString> path
        = cgroupMemoryMaxPath(readSmallTextFile(QStringLiteral("/proc/self/cgroup")), root);
    // Inside a container the process's own group is often the root of its namespace; its file is
    // then at the top of the mount.
    for (const QString& candidate : { path.value_or(QString()), root + QLatin1String("/memory.max") }) {
        if (candidate.isEmpty())
            continue;
        if (std::optional<std::uint64_t> limit = parseCgroupMemoryMax(readSmallTextFile(candidate))) {
            if (*limit > 0)
                memory = memory == 0 ? *limit : std::min(memory, *limit);
            break;
        }
    }
    return memory;
}

} // namespace platform
