#pragma once

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace testsupport {

// A folder with only `freeBytes` of room left in it: a small tmpfs filled up to that point where
// the test may mount one, otherwise a file-size limit on the process (then writes past it fail
// with EFBIG instead of ENOSPC).
class FullFolder {
public:
    static constexpr qsizetype pageBytes = 4096;

    explicit FullFolder(qsizetype freeBytes)
    {
        const QByteArray path = QFile::encodeName(m_dir.path());
        m_mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") == 0;
        QFile filler(m_dir.path() + "/filler");
        if (filler.open(QIODevice::WriteOnly) && m_mounted) {
            filler.write(QByteArray(64 * 1024, 'f'));
            filler.close();
            // Room for the old file plus `freeBytes`; whole pages, as tmpfs counts them.
            filler.resize(64 * 1024 - pageBytes - freeBytes);
        }
        m_error = m_mounted ? ENOSPC : EFBIG;
        m_limit = freeBytes;
    }

    ~FullFolder()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }

    QString path() const { return m_dir.path(); }
    int expectedError() const { return m_error; }

    // Runs `write` with the room limited (the file-size limit is only in force around it).
    template<typename Write> auto limited(Write write)
    {
        if (m_mounted)
            return write();
        rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = static_cast<rlim_t>(m_limit);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto result = write();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        return result;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    int m_error = 0;
    qsizetype m_limit = 0;
};

} // namespace testsupport
