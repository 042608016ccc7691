#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Small values kept between runs, in an INI file that Qt's QSettings reads and writes alike (a byte
// array as "@ByteArray(...)", an integer as its digits). Every read reads the file as it is now.
// Every write replaces the whole file with the one checked atomic write of FileManager, so a full
// disk or a killed write leaves the old file whole and the failure is returned; entries this class
// does not understand, comment lines and blank lines are written back where they were. A file that
// exists but cannot be read is never written over. Each write reads, changes and replaces the file
// under the lock file beside it (the file's name + ".lock", as QSettings names it), so writers at
// the same moment, in this program or in others, each keep their change; a lock its program left
// behind when it died is taken over.
class UserDefaults {
public:
    // The defaults in `Environment::settingsFile()`.
    static UserDefaults standard();

    explicit UserDefaults(const QString& path);

    std::optional<QByteArray> data(const QString& key) const;
    // The value as the file spells it, whatever its kind (a byte array, a string, a list someone
    // wrote by hand); none when the file has no entry of `key`.
    std::optional<QByteArray> storedText(const QString& key) const;
    Result<Success, PlatformError> setData(const QString& key, const QByteArray& value);

    std::optional<long long> integer(const QString& key) const;
    Result<Success, PlatformError> setInteger(const QString& key, long long value);

    Result<Success, PlatformError> removeObject(const QString& key);

    const QString& path() const { return m_path; }

private:
    std::optional<QByteArray> rawValue(const QString& key) const;
    Result<Success, PlatformError> write(const QString& key, const std::optional<QByteArray>& rawValue);

    QString m_path;
};

} // namespace platform
