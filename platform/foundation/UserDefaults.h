#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace platform {

// Small values kept between runs, in an INI file (QSettings). Every write is synced to disk before
// it returns, and its outcome checked, so a "saved" value really is on disk.
class UserDefaults {
public:
    // The defaults in `Environment::settingsFile()`, opened now.
    static UserDefaults standard();

    explicit UserDefaults(const QString& path);
    ~UserDefaults();
    UserDefaults(UserDefaults&&) noexcept;
    UserDefaults& operator=(UserDefaults&&) noexcept;

    std::optional<QByteArray> data(const QString& key) const;
    Result<Success, PlatformError> setData(const QString& key, const QByteArray& value);

    std::optional<long long> integer(const QString& key) const;
    Result<Success, PlatformError> setInteger(const QString& key, long long value);

    Result<Success, PlatformError> removeObject(const QString& key);

    const QString& path() const { return m_path; }

private:
    Result<Success, PlatformError> sync();

    QString m_path;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace platform
