#include "Iris/general/Source.h"

#include "Iris/general/ImageDataProvider.h"

#include <QHashFunctions>
#include <QStringList>

#include <stdexcept>

namespace iris {

namespace {

// The path's components as the platform lists them: "/" first for an absolute path, then every
// non-empty piece.
QStringList pathComponents(const QUrl& url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    QStringList components;
    if (path.startsWith(QLatin1Char('/')))
        components << QStringLiteral("/");
    for (const QString& piece : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components << piece;
    return components;
}

std::size_t combine(std::size_t seed, std::size_t value)
{
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

QString absoluteString(const QUrl& url)
{
    return QString::fromUtf8(url.toEncoded());
}

QString localFileCacheKey(const QUrl& url)
{
    const QStringList components = pathComponents(url);
    QStringList collected;
    for (qsizetype index = components.size() - 1; index >= 0; --index) {
        const QString& component = components[index];
        collected.prepend(component);
        if (component.endsWith(QLatin1String(".app")) || component.endsWith(QLatin1String(".appex")))
            break;
    }
    QString key = QStringLiteral("iris.local.cacheKey/") + collected.join(QLatin1Char('/'));
    if (url.hasQuery())
        key += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    return key;
}

QString urlCacheKey(const QUrl& url)
{
    return url.isLocalFile() ? localFileCacheKey(url) : absoluteString(url);
}

ImageResource::ImageResource(QUrl downloadURL, std::optional<QString> cacheKey)
    : m_cacheKey(cacheKey ? std::move(*cacheKey) : urlCacheKey(downloadURL))
    , m_downloadURL(std::move(downloadURL))
{
}

Source::Source(
    Kind kind, std::shared_ptr<const Resource> resource, std::shared_ptr<const ImageDataProvider> provider)
    : m_kind(kind)
    , m_resource(std::move(resource))
    , m_provider(std::move(provider))
{
}

Source Source::network(std::shared_ptr<const Resource> resource)
{
    if (!resource)
        throw std::invalid_argument("[Iris] A network source needs a resource; a null one is not permitted.");
    return Source(Kind::network, std::move(resource), nullptr);
}

Source Source::provider(std::shared_ptr<const ImageDataProvider> provider)
{
    if (!provider)
        throw std::invalid_argument("[Iris] A provider source needs a provider; a null one is not permitted.");
    return Source(Kind::provider, nullptr, std::move(provider));
}

QString Source::cacheKey() const
{
    return m_kind == Kind::network ? m_resource->cacheKey() : m_provider->cacheKey();
}

std::optional<QUrl> Source::url() const
{
    if (m_kind == Kind::network)
        return m_resource->downloadURL();
    return m_provider->contentURL();
}

bool Source::operator==(const Source& other) const
{
    if (m_kind != other.m_kind || cacheKey() != other.cacheKey())
        return false;
    return url() == other.url();
}

std::size_t Source::hash() const
{
    std::size_t seed = qHash(cacheKey());
    const std::optional<QUrl> address = url();
    if (m_kind == Kind::network)
        return combine(seed, qHash(address->toEncoded()));
    if (!address)
        return combine(seed, 0);
    return combine(combine(seed, 1), qHash(address->toEncoded()));
}

QString Source::description() const
{
    if (m_kind == Kind::network) {
        return QStringLiteral("network(cacheKey: ") + m_resource->cacheKey()
            + QStringLiteral(", downloadURL: ") + absoluteString(m_resource->downloadURL())
            + QLatin1Char(')');
    }
    return QStringLiteral("provider(") + m_provider->description() + QLatin1Char(')');
}

Source convertToSource(const QUrl& url, std::optional<QString> overrideCacheKey)
{
    QString key = overrideCacheKey ? std::move(*overrideCacheKey) : urlCacheKey(url);
    if (url.isLocalFile())
        return Source::makeProvider(LocalFileImageDataProvider(url, std::move(key)));
    return Source::network(std::make_shared<const ImageResource>(url, std::move(key)));
}

Source convertToSource(const Resource& resource, std::optional<QString> overrideCacheKey)
{
    QString key = overrideCacheKey ? std::move(*overrideCacheKey) : resource.cacheKey();
    const QUrl url = resource.downloadURL();
    if (url.isLocalFile())
        return Source::makeProvider(LocalFileImageDataProvider(url, std::move(key)));
    return Source::network(std::make_shared<const ImageResource>(url, std::move(key)));
}

} // namespace iris
