#pragma once

#include "app/notes/TDPageScanner.h"

#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {
class UrlSession;
}

// How much of a link's page is fetched: at most `maximumBytes` of body are kept and scanned (the
// transfer stops there), and the whole transfer, redirects included, ends after `timeoutSeconds`
// however steadily bytes arrive.
struct TDPageFetchLimits {
    static constexpr std::int64_t defaultMaximumBytes = 5 * 1024 * 1024;
    static constexpr double defaultTimeoutSeconds = 15;
    static constexpr int defaultMaximumRedirects = 10;

    std::int64_t maximumBytes = defaultMaximumBytes;
    double timeoutSeconds = defaultTimeoutSeconds;
    int maximumRedirects = defaultMaximumRedirects;
};

// Fetches a link's page once with a plain GET (http and https only, redirects only to those) and
// scans it for its title and description. The scan runs on the session's network thread; the
// answer is posted to the main queue. Every fetch ends with exactly one completion. A page that
// could not be had (refused, redirected elsewhere than http or https, failed before any body)
// answers with neither field; a body cut short by the caps or a failure is scanned as far as it
// came.
class TDPageFetcher {
public:
    using Completion = std::function<void(TDPageInfo)>;

    // The fetcher links use, with the default limits, made on first use.
    static std::shared_ptr<TDPageFetcher> shared();
    static std::shared_ptr<TDPageFetcher> make(TDPageFetchLimits limits = {});

    // Cancels the fetches still running; their completions still come, with neither field.
    ~TDPageFetcher();
    TDPageFetcher(const TDPageFetcher&) = delete;
    TDPageFetcher& operator=(const TDPageFetcher&) = delete;

    const TDPageFetchLimits& limits() const { return m_limits; }

    // Any thread; `completion` runs on the main queue.
    void fetchPageInfo(const QUrl& url, Completion completion);
    // Cuts the running fetches short: each still ends with its one completion, with the page as far
    // as it came. Later fetches run as usual.
    void cancelAll();

private:
    class Delegate;
    explicit TDPageFetcher(TDPageFetchLimits limits);

    const TDPageFetchLimits m_limits;
    std::shared_ptr<Delegate> m_delegate;
    std::shared_ptr<platform::UrlSession> m_session;
};
