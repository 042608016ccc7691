#include "app/notes/TDPageFetcher.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/UrlSession.h"

#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

using platform::UrlError;
using platform::UrlSession;
using platform::UrlSessionDataTask;

// Keeps the body of each running fetch, up to the byte cap, and scans it when the fetch ends. Every
// message arrives on the session's network thread; fetches are registered from the caller's thread.
class TDPageFetcher::Delegate : public platform::UrlSessionDelegate {
public:
    explicit Delegate(std::int64_t maximumBytes)
        : m_maximumBytes(maximumBytes)
    {
    }

    void expect(const std::shared_ptr<UrlSessionDataTask>& task, Completion completion)
    {
        std::lock_guard lock(m_mutex);
        Fetch& fetch = m_fetches[task->taskIdentifier()];
        fetch.completion = std::move(completion);
        fetch.task = task;
    }

    void cancelAll()
    {
        std::vector<std::shared_ptr<UrlSessionDataTask>> tasks;
        {
            std::lock_guard lock(m_mutex);
            for (const auto& [identifier, fetch] : m_fetches) {
                if (auto task = fetch.task.lock())
                    tasks.push_back(std::move(task));
            }
        }
        for (const auto& task : tasks)
            task->cancel();
    }

    void didReceiveData(
        UrlSession&, const std::shared_ptr<UrlSessionDataTask>& task, const QByteArray& data) override
    {
        {
            std::lock_guard lock(m_mutex);
            auto found = m_fetches.find(task->taskIdentifier());
            if (found == m_fetches.end() || found->second.full)
                return;
            Fetch& fetch = found->second;
            const qsizetype room = qsizetype(m_maximumBytes - fetch.body.size());
            fetch.body.append(data.constData(), std::min(room, data.size()));
            if (fetch.body.size() < m_maximumBytes)
                return;
            fetch.full = true;
        }
        // The page is scanned as far as the cap; the rest is not wanted.
        task->cancel();
    }

    void didComplete(
        UrlSession&, const std::shared_ptr<UrlSessionDataTask>& task, const std::optional<UrlError>&) override
    {
        Fetch fetch;
        {
            std::lock_guard lock(m_mutex);
            auto found = m_fetches.find(task->taskIdentifier());
            if (found == m_fetches.end())
                return;
            fetch = std::move(found->second);
            m_fetches.erase(found);
        }
        // A body cut short (by the byte cap, the time cap or a broken connection) is scanned as far
        // as it came: the title is near the top, and only complete elements are taken.
        const std::optional<platform::UrlResponse> response = task->response();
        TDPageInfo info
            = TDPageScanner::scan(fetch.body, response ? response->value("Content-Type") : QByteArray());
        platform::DispatchQueue::main()->async(
            [completion = std::move(fetch.completion), info = std::move(info)]() mutable {
                if (completion)
                    completion(std::move(info));
            });
    }

private:
    struct Fetch {
        QByteArray body;
        bool full = false;
        Completion completion;
        std::weak_ptr<UrlSessionDataTask> task;
    };

    const std::int64_t m_maximumBytes;
    std::mutex m_mutex;
    std::unordered_map<std::uint64_t, Fetch> m_fetches;
};

std::shared_ptr<TDPageFetcher> TDPageFetcher::shared()
{
    // Never destroyed: its session is stopped with the application object, and a fetch may still be
    // running when static objects go.
    static auto* fetcher = new std::shared_ptr<TDPageFetcher>(make());
    return *fetcher;
}

std::shared_ptr<TDPageFetcher> TDPageFetcher::make(TDPageFetchLimits limits)
{
    return std::shared_ptr<TDPageFetcher>(new TDPageFetcher(limits));
}

TDPageFetcher::TDPageFetcher(TDPageFetchLimits limits)
    : m_limits(limits)
    , m_delegate(std::make_shared<Delegate>(std::max<std::int64_t>(1, limits.maximumBytes)))
{
    platform::UrlSessionConfiguration configuration = platform::UrlSessionConfiguration::ephemeral();
    configuration.timeoutIntervalForRequest = limits.timeoutSeconds;
    configuration.timeoutIntervalForResource = limits.timeoutSeconds;
    configuration.maximumRedirects = limits.maximumRedirects;
    // The delegate keeps the first `maximumBytes` and stops the transfer there, so a page that
    // declares a larger body still gives its head.
    configuration.maximumResponseBodyBytes = std::numeric_limits<std::int64_t>::max();
    m_session = UrlSession::create(configuration, m_delegate);
}

TDPageFetcher::~TDPageFetcher()
{
    m_session->invalidateAndCancel();
}

void TDPageFetcher::fetchPageInfo(const QUrl& url, Completion completion)
{
    platform::UrlRequest request(
        url, platform::UrlRequestCachePolicy::useProtocolCachePolicy, m_limits.timeoutSeconds);
    std::shared_ptr<UrlSessionDataTask> task = m_session->dataTask(request);
    m_delegate->expect(task, std::move(completion));
    task->resume();
}

void TDPageFetcher::cancelAll()
{
    m_delegate->cancelAll();
}
