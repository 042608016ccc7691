#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <utility>

namespace platform {

// What a server answered: the URL it came from, and for HTTP the status and header fields. One type
// serves both plain and HTTP responses; `isHttp` tells them apart.
struct UrlResponse {
    QUrl url;
    QString mimeType;
    // The body length the server declared, or -1 when it is unknown or the body is content-encoded
    // (the declared length then counts encoded bytes, not the bytes delivered).
    std::int64_t expectedContentLength = -1;
    bool isHttp = false;
    int statusCode = 0;
    QList<std::pair<QByteArray, QByteArray>> headerFields;

    // The value of header `name` (case-insensitive), or an empty array.
    QByteArray value(const QByteArray& name) const
    {
        for (const auto& [key, value] : headerFields) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }

    friend bool operator==(const UrlResponse&, const UrlResponse&) = default;
};

} // namespace platform
