#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/networking/DownloadTask.h"
#include "Iris/networking/ImageDataProcessor.h"
#include "Iris/networking/ImageLoadingResult.h"
#include "Iris/networking/SessionDataTask.h"

#include "platform/foundation/Result.h"
#include "platform/foundation/UrlAuthenticationChallenge.h"
#include "platform/foundation/UrlRequest.h"
#include "platform/foundation/UrlResponse.h"
#include "platform/foundation/UrlSessionConfiguration.h"
#include "platform/foundation/UrlSessionDelegate.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace platform {
class Image;
class UrlSession;
class UrlSessionDataTask;
} // namespace platform

namespace iris {

class ImageDownloader;
class SessionDelegate;

// Is told of each step of a download and makes the downloader's decisions. Every operation has the
// answer a delegate gives that does not care.
class ImageDownloaderDelegate {
public:
    virtual ~ImageDownloaderDelegate() = default;

    virtual void downloadWillStart(ImageDownloader&, const QUrl&, const std::optional<platform::UrlRequest>&)
    {
    }
    virtual void downloadDidFinish(ImageDownloader&, const QUrl&, const std::optional<platform::UrlResponse>&,
        const std::optional<IrisError>&)
    {
    }
    // The bytes to turn into images; nothing fails the download. By default, the answer for the
    // task's URL.
    virtual std::optional<QByteArray> modifiedDataForTask(
        ImageDownloader& downloader, const QByteArray& data, const SessionDataTask& task);
    virtual std::optional<QByteArray> modifiedDataForURL(
        ImageDownloader&, const QByteArray& data, const QUrl&)
    {
        return data;
    }
    virtual void imageDidDownload(ImageDownloader&, const std::shared_ptr<platform::Image>&, const QUrl&,
        const std::optional<platform::UrlResponse>&)
    {
    }
    // 200 to 399 by default.
    virtual bool isValidStatusCode(int code, ImageDownloader&) { return code >= 200 && code < 400; }
    virtual void decideResponseDisposition(
        ImageDownloader&, const platform::UrlResponse&, platform::UrlResponseDispositionHandler completion)
    {
        completion(platform::UrlSessionResponseDisposition::allow);
    }
};

// Answers the authentication challenges of a downloader's session.
class AuthenticationChallengeResponsible {
public:
    virtual ~AuthenticationChallengeResponsible() = default;

    // Server trust: accepted only for the downloader's trusted hosts; everything else by default.
    virtual void answerSessionChallenge(ImageDownloader& downloader,
        const platform::UrlAuthenticationChallenge&, platform::UrlChallengeHandler);
    // HTTP authentication: handled by default (no credentials, so a 401 arrives as the response).
    virtual void answerTaskChallenge(ImageDownloader&, const std::shared_ptr<platform::UrlSessionDataTask>&,
        const platform::UrlAuthenticationChallenge&, platform::UrlChallengeHandler completion)
    {
        completion(platform::UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
    }
};

// Downloads images by URL. Every request for one URL shares one transfer; when it ends, the bytes
// become an image once per processor, and each request is answered exactly once on its own
// callback queue (also when it is cancelled, when the session is replaced, and when the downloader
// itself goes away).
//
// Make it with `create` or std::make_shared: it hands itself out weakly to its session's hooks.
class ImageDownloader : public std::enable_shared_from_this<ImageDownloader>,
                        public ImageDownloaderDelegate,
                        public AuthenticationChallengeResponsible {
public:
    static constexpr double defaultDownloadTimeoutSeconds = 15.0;

    struct DownloadingContext {
        QUrl url;
        platform::UrlRequest request;
        IrisParsedOptionsInfo options;
    };
    using ContextOrError = platform::Result<DownloadingContext, IrisError>;

    // A name must be given: an empty one stops the program.
    explicit ImageDownloader(QString name);
    static std::shared_ptr<ImageDownloader> create(QString name);
    ~ImageDownloader() override;
    ImageDownloader(const ImageDownloader&) = delete;
    ImageDownloader& operator=(const ImageDownloader&) = delete;

    // The downloader named "default", made once on first use.
    static std::shared_ptr<ImageDownloader> sharedDownloader();

    const QString& name() const { return m_name; }

    virtual double downloadTimeout() const;
    virtual void setDownloadTimeout(double seconds);
    virtual std::optional<std::set<QString>> trustedHosts() const;
    virtual void setTrustedHosts(std::optional<std::set<QString>> hosts);
    virtual platform::UrlSessionConfiguration sessionConfiguration() const;
    // Replaces the session: transfers running in the old one are cancelled and their requests fail
    // with the session's cancellation error; new requests start new transfers at once.
    virtual void setSessionConfiguration(platform::UrlSessionConfiguration configuration);
    virtual std::shared_ptr<SessionDelegate> sessionDelegate() const;
    // Replaces the session and binds the new delegate's hooks.
    virtual void setSessionDelegate(std::shared_ptr<SessionDelegate> delegate);
    virtual bool requestsUsePipelining() const;
    virtual void setRequestsUsePipelining(bool use);
    virtual std::shared_ptr<ImageDownloaderDelegate> delegate() const;
    // Held weakly.
    virtual void setDelegate(const std::shared_ptr<ImageDownloaderDelegate>& delegate);
    // The downloader itself unless another responder was set; held weakly.
    virtual std::shared_ptr<AuthenticationChallengeResponsible> authenticationChallengeResponder() const;
    virtual void setAuthenticationChallengeResponder(
        const std::shared_ptr<AuthenticationChallengeResponsible>& responder);

    // Starts or joins the download of `url` and calls `completion` exactly once on the options'
    // callback queue. Returns the request's task when it was registered before returning (no
    // request modifier, or one that answered at once).
    virtual std::optional<DownloadTask> downloadImage(
        const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion);
    // The options are parsed alone (no manager defaults); a progress block is told the received and
    // expected byte counts on the main queue.
    std::optional<DownloadTask> downloadImage(const QUrl& url, const std::optional<IrisOptionsInfo>& options,
        std::function<void(std::int64_t, std::int64_t)> progressBlock, DownloadCompletion completion);
    std::optional<DownloadTask> downloadImage(
        const QUrl& url, const std::optional<IrisOptionsInfo>& options, DownloadCompletion completion);

    // Cancels every request waiting for `url`; each completes with `taskCancelled`.
    void cancelDownloads(const QUrl& url);
    void cancelAllDownloads();

protected:
    virtual void setupSessionHandler();
    virtual void makeDownloadingContext(
        const QUrl& url, const IrisParsedOptionsInfo& options, std::function<void(ContextOrError)> done);
    virtual DownloadTask addDownloadTask(const DownloadingContext& context, TaskCallback callback);
    virtual DownloadTask startDownloadTask(const DownloadingContext& context, TaskCallback callback);
    virtual void reportDownloadFinished(const DownloadResult& result, const QUrl& url);
    virtual void reportImageProcessed(
        const ImageOrError& result, const QUrl& url, const std::optional<platform::UrlResponse>& response);

private:
    // A session and the delegate that hears its messages: a transfer is only ever made from the
    // session of the delegate it is registered with.
    struct Sessions {
        std::shared_ptr<SessionDelegate> delegate;
        std::shared_ptr<platform::UrlSession> session;
    };

    void ensureSetUp();
    // What `setupSessionHandler` does, for a given session delegate.
    void bindHooks(const std::shared_ptr<SessionDelegate>& hooks);
    // Puts in a new session (with `delegate`, or the current delegate when null).
    void replaceSession(std::shared_ptr<SessionDelegate> delegate);
    Sessions currentSessions() const;
    void handleTaskDone(const DownloadingContext& context, const std::shared_ptr<SessionDataTask>& task,
        DownloadResult result, SessionDataTask::Callbacks callbacks);
    static void failCallbacks(const SessionDataTask::Callbacks& callbacks, const IrisError& error);

    const QString m_name;
    std::once_flag m_setUp;

    mutable std::mutex m_mutex;
    double m_downloadTimeout = defaultDownloadTimeoutSeconds;
    std::optional<std::set<QString>> m_trustedHosts;
    platform::UrlSessionConfiguration m_sessionConfiguration = platform::UrlSessionConfiguration::ephemeral();
    bool m_requestsUsePipelining = false;
    std::weak_ptr<ImageDownloaderDelegate> m_delegate;
    std::weak_ptr<AuthenticationChallengeResponsible> m_responder;
    bool m_responderIsSelf = true;

    // Taken alone, after `m_mutex` when both are, and around making a transfer from the session, so
    // that no transfer is made from a session once it has been replaced (and is about to end).
    mutable std::mutex m_sessionsMutex;
    Sessions m_sessions;
};

} // namespace iris
