#pragma once

// What a benchmark reads of its own memory: the kernel's resident-set counters and the allocator's
// live bytes.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <malloc.h>

namespace bench {

// A field of /proc/self/status in kilobytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
inline long statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Resets the peak resident size, so the peak read afterwards is that of the work alone.
inline void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Bytes the allocator has handed out and not had back, over all its arenas: what live objects hold,
// unlike the resident set, which also keeps what was freed but not returned to the system.
inline qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks) + qint64(info.hblkhd);
}

} // namespace bench
