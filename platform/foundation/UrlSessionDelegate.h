#pragma once

#include "platform/foundation/UrlAuthenticationChallenge.h"
#include "platform/foundation/UrlError.h"
#include "platform/foundation/UrlRequest.h"
#include "platform/foundation/UrlResponse.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

class UrlSession;
class UrlSessionDataTask;

// Fixed numbers: callers compare them.
enum class UrlSessionResponseDisposition { cancel = 0, allow = 1, becomeDownload = 2, becomeStream = 3 };

using UrlResponseDispositionHandler = std::function<void(UrlSessionResponseDisposition)>;
using UrlRedirectHandler = std::function<void(std::optional<UrlRequest>)>;
using UrlChallengeHandler
    = std::function<void(UrlSessionAuthChallengeDisposition, std::optional<UrlCredential>)>;

// What a session tells its owner. Every message arrives on the session's network thread, one at a
// time, in order. Each default is the answer a delegate gives that does not care about the message.
//
// The handlers passed with a message may be called once, on any thread; later calls are ignored.
// Response and redirect handlers may be called later; the task waits for them (its idle time-out
// still runs). Challenge handlers must be called before the message returns or from another thread
// while it waits: the TLS handshake and the authentication step cannot be resumed later. A challenge
// left unanswered for the request's time-out is handled by default.
class UrlSessionDelegate {
public:
    virtual ~UrlSessionDelegate() = default;

    // The final response arrived (redirects are told through `willPerformHttpRedirection`). The body
    // is not read until the handler answers: allow reads on, anything else cancels the task.
    virtual void didReceiveResponse(UrlSession&, const std::shared_ptr<UrlSessionDataTask>&,
        const UrlResponse&, UrlResponseDispositionHandler completion)
    {
        completion(UrlSessionResponseDisposition::allow);
    }

    virtual void didReceiveData(UrlSession&, const std::shared_ptr<UrlSessionDataTask>&, const QByteArray&) {
    }

    // The last message of every task: `error` is absent on success (whatever the HTTP status).
    virtual void didComplete(
        UrlSession&, const std::shared_ptr<UrlSessionDataTask>&, const std::optional<UrlError>&)
    {
    }

    // The server redirects to http(s) `proposed` (already stripped of credentials when it leaves the
    // origin). Answer a request to follow, or none to take `response` as the final response.
    virtual void willPerformHttpRedirection(UrlSession&, const std::shared_ptr<UrlSessionDataTask>&,
        const UrlResponse& response, const UrlRequest& proposed, UrlRedirectHandler completion)
    {
        (void)response;
        completion(proposed);
    }

    // Session-level challenges: server trust. Use a credential made `forTrust` to accept a server
    // whose certificate the system refused.
    virtual void didReceiveChallenge(
        UrlSession&, const UrlAuthenticationChallenge&, UrlChallengeHandler completion)
    {
        completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
    }

    // Task-level challenges: HTTP authentication. Default handling sends no credentials, so the
    // server's 401 arrives as the response.
    virtual void didReceiveTaskChallenge(UrlSession&, const std::shared_ptr<UrlSessionDataTask>&,
        const UrlAuthenticationChallenge&, UrlChallengeHandler completion)
    {
        completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
    }

    // The session finished invalidating: no message follows. The session lets go of its delegate
    // right after.
    virtual void didBecomeInvalid(UrlSession&, const std::optional<UrlError>&) { }
};

} // namespace platform
