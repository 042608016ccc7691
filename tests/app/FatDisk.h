#pragma once

#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/vfs.h>

namespace apptest {

// A FAT disk (a memory card's) mounted over the empty folder `at` while it lives, through FUSE so
// that no privileges are needed; `mounted()` is false where this machine cannot.
class FatDisk {
public:
    explicit FatDisk(const QString& at)
        : m_at(at)
    {
        if (!testsupport::canStartChildProcesses || QStandardPaths::findExecutable("fusefat").isEmpty())
            return;
        const QString image = m_image.path() + "/card.img";
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(8 << 20))
            return;
        file.close();
        const QStringList sbin { "/usr/sbin", "/sbin" };
        const QString mkfs = QStandardPaths::findExecutable("mkfs.vfat", sbin);
        if (mkfs.isEmpty() || !run(mkfs, { "-n", "CARD", image })
            || !run("fusefat", { "-o", "rw+", image, at }))
            return;
        struct statfs disk;
        m_mounted = ::statfs(QFile::encodeName(at).constData(), &disk) == 0 && disk.f_type == 0x65735546;
    }
    ~FatDisk()
    {
        if (m_mounted)
            run("fusermount", { "-u", m_at });
    }
    FatDisk(const FatDisk&) = delete;
    FatDisk& operator=(const FatDisk&) = delete;
    bool mounted() const { return m_mounted; }

private:
    static bool run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }

    QTemporaryDir m_image;
    QString m_at;
    bool m_mounted = false;
};

} // namespace apptest
