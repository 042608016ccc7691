#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace platform {

// Why a URL session task failed. The codes are the conventional URL-loading error numbers, fixed so
// that callers may compare and keep them (retry rules, "was it cancelled?"). HTTP statuses are never
// errors at this layer: a 404 is a response.
struct UrlError {
    enum Code : int {
        unknown = -1,
        cancelled = -999,
        badUrl = -1000,
        timedOut = -1001,
        unsupportedUrl = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        httpTooManyRedirects = -1007,
        resourceUnavailable = -1008,
        notConnectedToInternet = -1009,
        badServerResponse = -1011,
        userCancelledAuthentication = -1012,
        cannotDecodeContentData = -1016,
        dataLengthExceedsMaximum = -1103,
        secureConnectionFailed = -1200,
        serverCertificateUntrusted = -1202,
    };

    // Why the network was refused, for `notConnectedToInternet`.
    enum class NetworkUnavailableReason { cellular = 0, expensive = 1, constrained = 2 };

    static inline const QString domain = QStringLiteral("url");

    int code = unknown;
    QUrl failingUrl;
    QString description;
    std::optional<NetworkUnavailableReason> networkUnavailableReason;

    bool isCancelled() const { return code == cancelled; }

    static UrlError make(int code, QUrl failingUrl, QString description = {})
    {
        return UrlError { code, std::move(failingUrl), std::move(description), std::nullopt };
    }
};

} // namespace platform
