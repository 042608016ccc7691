#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <utility>

namespace platform {

// Cache policies, with fixed numbers. Our sessions keep no HTTP cache, so every policy loads from the
// network; the value is carried for callers that compare it.
enum class UrlRequestCachePolicy {
    useProtocolCachePolicy = 0,
    reloadIgnoringLocalCacheData = 1,
    returnCacheDataElseLoad = 2,
    returnCacheDataDontLoad = 3,
};

// One request a data task sends. A value: copy it, change the copy. The URL is kept exactly as given
// (the task reports it back unchanged as its original request), so it can serve as a table key.
struct UrlRequest {
    static constexpr double defaultTimeoutIntervalSeconds = 60.0;

    QUrl url;
    QByteArray httpMethod = "GET";
    // Header fields in the order they were set; names compare case-insensitively.
    QList<std::pair<QByteArray, QByteArray>> headerFields;
    QByteArray httpBody;
    UrlRequestCachePolicy cachePolicy = UrlRequestCachePolicy::useProtocolCachePolicy;
    // Longest quiet spell (no headers, no bytes) before the task fails with `timedOut`.
    double timeoutInterval = defaultTimeoutIntervalSeconds;
    bool httpShouldUsePipelining = false;
    bool allowsConstrainedNetworkAccess = true;

    UrlRequest() = default;
    explicit UrlRequest(QUrl url,
        UrlRequestCachePolicy policy = UrlRequestCachePolicy::useProtocolCachePolicy,
        double timeout = defaultTimeoutIntervalSeconds)
        : url(std::move(url))
        , cachePolicy(policy)
        , timeoutInterval(timeout)
    {
    }

    // The value of the field `name`, or an empty array.
    QByteArray value(const QByteArray& name) const
    {
        for (const auto& [key, value] : headerFields) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }

    bool hasHeader(const QByteArray& name) const
    {
        for (const auto& field : headerFields) {
            if (field.first.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }

    // Sets `name` to `value`, replacing any earlier value; an empty value removes the field.
    void setValue(const QByteArray& name, const QByteArray& value)
    {
        removeHeader(name);
        if (!value.isEmpty())
            headerFields.append({ name, value });
    }

    void removeHeader(const QByteArray& name)
    {
        headerFields.removeIf(
            [&](const auto& field) { return field.first.compare(name, Qt::CaseInsensitive) == 0; });
    }

    friend bool operator==(const UrlRequest&, const UrlRequest&) = default;
};

} // namespace platform
