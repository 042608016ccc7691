#include "platform/foundation/Url.h"

#include <QDir>

namespace platform {

bool isSinglePathComponent(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

Url Url::fileUrl(const QString& absolutePath)
{
    if (absolutePath.isEmpty() || !absolutePath.startsWith(QLatin1Char('/')) || absolutePath.contains(QChar(0)))
        return Url();
    return Url(QUrl::fromLocalFile(absolutePath));
}

std::optional<Url> Url::fromString(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return Url(std::move(url));
}

QString Url::absoluteString() const
{
    if (!isValid())
        return QString();
    return m_url.toString(QUrl::FullyEncoded);
}

QString Url::path() const
{
    return isFileUrl() ? m_url.toLocalFile() : QString();
}

QStringList Url::pathComponents() const
{
    QString full = isFileUrl() ? path() : m_url.path(QUrl::FullyDecoded);
    QStringList components;
    if (full.startsWith(QLatin1Char('/')))
        components.append(QStringLiteral("/"));
    for (const QString& part : full.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components.append(part);
    return components;
}

QString Url::lastPathComponent() const
{
    QStringList components = pathComponents();
    return components.isEmpty() ? QString() : components.last();
}

Url Url::appendingPathComponent(const QString& component) const
{
    if (!isFileUrl() || !isSinglePathComponent(component))
        return Url();
    QString base = path();
    if (!base.endsWith(QLatin1Char('/')))
        base.append(QLatin1Char('/'));
    return fileUrl(base + component);
}

Url Url::deletingLastPathComponent() const
{
    if (!isFileUrl())
        return Url();
    QString base = path();
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    qsizetype slash = base.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return fileUrl(QStringLiteral("/"));
    return fileUrl(base.left(slash));
}

bool Url::isStrictlyInside(const Url& folder) const
{
    if (!isFileUrl() || !folder.isFileUrl())
        return false;
    QString inner = QDir::cleanPath(path());
    QString outer = QDir::cleanPath(folder.path());
    if (!outer.endsWith(QLatin1Char('/')))
        outer.append(QLatin1Char('/'));
    return inner.startsWith(outer) && inner.size() > outer.size();
}

} // namespace platform
