#include "app/store/TDLibraryLock.h"

#include "platform/foundation/Print.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The same library reached through a symbolic link is the same library, the library folder itself
// being one (moved to another disk and linked back). It may not exist yet on a first start; then
// its parent is resolved.
QString resolvedLibraryPath(const platform::Url& libraryFolder)
{
    const QFileInfo library(libraryFolder.path());
    if (const QString resolved = library.canonicalFilePath(); !resolved.isEmpty())
        return resolved;
    const QString parent = QFileInfo(library.absolutePath()).canonicalFilePath();
    if (parent.isEmpty())
        return QDir::cleanPath(library.absoluteFilePath());
    return parent + QLatin1Char('/') + library.fileName();
}

} // namespace

TDLibraryLock::~TDLibraryLock()
{
    ::close(m_descriptor);
}

std::unique_ptr<TDLibraryLock> TDLibraryLock::acquire(const platform::Url& libraryFolder, Outcome* outcome)
{
    *outcome = Outcome::unavailable;
    if (!libraryFolder.isValid())
        return nullptr;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty() || !QDir().mkpath(runtime))
        return nullptr;
    const QByteArray key
        = QCryptographicHash::hash(resolvedLibraryPath(libraryFolder).toUtf8(), QCryptographicHash::Sha256)
              .toHex()
              .left(32);
    const QString path
        = runtime + QStringLiteral("/tindrel-library-") + QString::fromLatin1(key) + QStringLiteral(".lock");
    // Not inherited: a browser opened from the program must not keep the library locked after it quits.
    const int descriptor = ::open(path.toUtf8().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        platform::printError(path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    int locked;
    do
        locked = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        ::close(descriptor);
        if (error == EWOULDBLOCK) {
            *outcome = Outcome::heldElsewhere;
        } else {
            platform::printError(path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
        }
        return nullptr;
    }
    *outcome = Outcome::acquired;
    return std::unique_ptr<TDLibraryLock>(new TDLibraryLock(descriptor));
}
