#pragma once

#include <QString>

#include <memory>

namespace platform {

// A failure reported by a platform service: a domain ("posix", "file", "json", "url", ...), a code
// within it, a readable description, and the failure underneath, if any.
struct PlatformError {
    static inline const QString posixDomain = QStringLiteral("posix");

    QString domain;
    int code = 0;
    QString description;
    std::shared_ptr<const PlatformError> underlying;

    // A POSIX failure: `error` is an errno value; `context` (a path, an operation) leads the text.
    static PlatformError fromErrno(int error, const QString& context = {});

    // A failure in `domain` whose cause was `cause`.
    static PlatformError wrapping(QString domain, int code, QString description, PlatformError cause);

    // For a file failure a user can mend (a full disk, a refused permission, a read-only or
    // unreachable disk), what happened to the file and what to do, in plain words; `description`
    // otherwise. The POSIX failure may be this one or one underneath.
    QString plainDescription() const;

    // This failure or the nearest one underneath from the POSIX domain; null when there is none.
    const PlatformError* posixFailure() const;
    // The path a POSIX failure's text leads with ("PATH: reason"; for a move "FROM -> TO"), or empty
    // when its text is not that.
    QString posixContext() const;
};

} // namespace platform
