#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace platform {

class ProcessInfo {
public:
    // The memory this process may use, in bytes: the machine's physical memory, lowered to the
    // cgroup v2 limit (memory.max) of the process's own cgroup when one is set. A container's limit
    // matters more than the host's size: exceeding it gets the process killed.
    static std::uint64_t physicalMemory();

    // What `physicalMemory` computes from the contents of /proc/self/cgroup (`cgroupFile`), the
    // cgroup v2 mount (`cgroupRoot`) and the machine's memory.
    static std::uint64_t memoryLimit(
        const QString& cgroupFile, const QString& cgroupRoot, std::uint64_t machineMemory);

    // The machine's physical memory in bytes, from sysconf.
    static std::uint64_t machinePhysicalMemory();

    // The numeric limit in a cgroup v2 memory.max text, or nothing for "max", an empty or a malformed
    // text.
    static std::optional<std::uint64_t> parseCgroupMemoryMax(const QString& text);

    // The path of memory.max for the process's cgroup, read from the contents of /proc/self/cgroup
    // (`cgroupFile`), below `cgroupRoot`. Nothing when the file names no cgroup v2 entry.
    static std::optional<QString> cgroupMemoryMaxPath(const QString& cgroupFile, const QString& cgroupRoot);
};

} // namespace platform
