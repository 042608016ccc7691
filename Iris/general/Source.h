#pragma once

#include <QString>
#include <QUrl>

#include <cstddef>
#include <memory>
#include <optional>

namespace iris {

class ImageDataProvider;

// Something the downloader can fetch: where from, and the key its image is cached under.
class Resource {
public:
    virtual ~Resource() = default;
    virtual QString cacheKey() const = 0;
    virtual QUrl downloadURL() const = 0;
};

// A resource as a plain record.
class ImageResource final : public Resource {
public:
    // Without a key: the local-file key for a file URL, the URL's absolute string otherwise.
    explicit ImageResource(QUrl downloadURL, std::optional<QString> cacheKey = std::nullopt);

    QString cacheKey() const override { return m_cacheKey; }
    QUrl downloadURL() const override { return m_downloadURL; }

private:
    QString m_cacheKey;
    QUrl m_downloadURL;
};

// The key of a local file: "iris.local.cacheKey/" and the path from the innermost enclosing
// ".app" or ".appex" bundle on (the whole path, root included, when there is none), then "?" and
// the query when the URL has one.
QString localFileCacheKey(const QUrl& url);

// A URL's own cache key as a resource: the local-file key for a file URL, else the absolute string.
QString urlCacheKey(const QUrl& url);

// The URL's text as the platform writes it, percent-encoded.
QString absoluteString(const QUrl& url);

// Where an image comes from: a network resource, or a provider that produces the bytes itself.
class Source {
public:
    enum class Kind { network, provider };

    // A null resource or provider is a programming error: throws std::invalid_argument here rather
    // than failing on some worker thread when the source is first used.
    static Source network(std::shared_ptr<const Resource> resource);
    static Source provider(std::shared_ptr<const ImageDataProvider> provider);
    // A provider source over a copy of `provider`.
    template<typename Provider> static Source makeProvider(Provider provider)
    {
        return Source::provider(std::make_shared<const Provider>(std::move(provider)));
    }

    Kind kind() const { return m_kind; }
    const std::shared_ptr<const Resource>& resource() const { return m_resource; }
    const std::shared_ptr<const ImageDataProvider>& dataProvider() const { return m_provider; }

    QString cacheKey() const;
    // The download URL of a resource, or the content URL of a provider when it has one.
    std::optional<QUrl> url() const;

    bool operator==(const Source& other) const;
    std::size_t hash() const;
    QString description() const;

private:
    Source(Kind kind, std::shared_ptr<const Resource> resource,
        std::shared_ptr<const ImageDataProvider> provider);

    Kind m_kind;
    std::shared_ptr<const Resource> m_resource;
    std::shared_ptr<const ImageDataProvider> m_provider;
};

// A file URL always becomes a local-file provider source read on the user-initiated global queue;
// any other URL a network source. `overrideCacheKey` replaces every derived key.
Source convertToSource(const QUrl& url, std::optional<QString> overrideCacheKey = std::nullopt);
Source convertToSource(const Resource& resource, std::optional<QString> overrideCacheKey = std::nullopt);

} // namespace iris

template<> struct std::hash<iris::Source> {
    std::size_t operator()(const iris::Source& source) const { return source.hash(); }
};
