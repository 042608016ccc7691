#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Environment.h"

#include <QSettings>

namespace platform {

UserDefaults UserDefaults::standard()
{
    return UserDefaults(Environment::settingsFile());
}

UserDefaults::UserDefaults(const QString& path)
    : m_path(path)
    , m_settings(std::make_unique<QSettings>(path, QSettings::IniFormat))
{
}

UserDefaults::~UserDefaults() = default;
UserDefaults::UserDefaults(UserDefaults&&) noexcept = default;
UserDefaults& UserDefaults::operator=(UserDefaults&&) noexcept = default;

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    QVariant value = m_settings->value(key);
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

Result<Success, PlatformError> UserDefaults::setData(const QString& key, const QByteArray& value)
{
    m_settings->setValue(key, value);
    return sync();
}

std::optional<long long> UserDefaults::integer(const QString& key) const
{
    QVariant value = m_settings->value(key);
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    long long number = value.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

Result<Success, PlatformError> UserDefaults::setInteger(const QString& key, long long value)
{
    m_settings->setValue(key, value);
    return sync();
}

Result<Success, PlatformError> UserDefaults::removeObject(const QString& key)
{
    m_settings->remove(key);
    return sync();
}

Result<Success, PlatformError> UserDefaults::sync()
{
    m_settings->sync();
    switch (m_settings->status()) {
    case QSettings::NoError:
        return Result<Success, PlatformError>::success({});
    case QSettings::AccessError:
        return Result<Success, PlatformError>::failure(
            PlatformError { QStringLiteral("settings"), QSettings::AccessError,
                QStringLiteral("could not write the settings file %1").arg(m_path), nullptr });
    case QSettings::FormatError:
        return Result<Success, PlatformError>::failure(
            PlatformError { QStringLiteral("settings"), QSettings::FormatError,
                QStringLiteral("the settings file %1 is malformed").arg(m_path), nullptr });
    }
    return Result<Success, PlatformError>::success({});
}

} // namespace platform
