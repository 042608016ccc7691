#pragma once

#include "platform/foundation/UrlResponse.h"

#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

enum class UrlAuthenticationMethod { serverTrust, httpBasic, httpDigest, ntlm, negotiate, other };

// A server's certificate chain and what was wrong with it. A trust whose `errors` is empty was
// accepted by the system's evaluation.
struct ServerTrust {
    QList<QSslCertificate> certificateChain;
    QList<QSslError> errors;
};

struct UrlProtectionSpace {
    QString host;
    int port = 0;
    QString protocol;
    QString realm;
    UrlAuthenticationMethod authenticationMethod = UrlAuthenticationMethod::other;
    // Present for `serverTrust` only.
    std::shared_ptr<const ServerTrust> serverTrust;
};

struct UrlAuthenticationChallenge {
    UrlProtectionSpace protectionSpace;
    // How many times credentials for this space were already refused during the task.
    int previousFailureCount = 0;
    std::optional<UrlResponse> failureResponse;
};

// An answer to a challenge: a user and password for HTTP authentication, or a server trust that the
// answerer accepts.
struct UrlCredential {
    QString user;
    QString password;
    std::shared_ptr<const ServerTrust> serverTrust;

    static UrlCredential forTrust(std::shared_ptr<const ServerTrust> trust)
    {
        UrlCredential credential;
        credential.serverTrust = std::move(trust);
        return credential;
    }

    static UrlCredential withUser(QString user, QString password)
    {
        return UrlCredential { std::move(user), std::move(password), nullptr };
    }
};

// Fixed numbers: callers compare them.
enum class UrlSessionAuthChallengeDisposition {
    useCredential = 0,
    performDefaultHandling = 1,
    cancelAuthenticationChallenge = 2,
    rejectProtectionSpace = 3,
};

} // namespace platform
