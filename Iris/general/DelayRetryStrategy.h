#pragma once

#include "Iris/general/RetryStrategy.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace iris {

// Retries failures of the server response, up to a number of times, after a waiting time.
// Cancelled requests and every other kind of failure are never retried.
class DelayRetryStrategy final : public RetryStrategy {
public:
    // How long to wait before a retry.
    class Interval {
    public:
        using Block = std::function<double(std::int64_t retriedCount)>;

        static Interval seconds(double seconds) { return Interval(Kind::seconds, seconds, nullptr); }
        // `seconds` × (retried count + 1).
        static Interval accumulated(double seconds) { return Interval(Kind::accumulated, seconds, nullptr); }
        static Interval custom(Block block)
        {
            return Interval(Kind::custom, 0, std::make_shared<const Block>(std::move(block)));
        }

        double timeInterval(std::int64_t retriedCount) const;

    private:
        enum class Kind { seconds, accumulated, custom };
        Interval(Kind kind, double seconds, std::shared_ptr<const Block> block)
            : m_kind(kind)
            , m_seconds(seconds)
            , m_block(std::move(block))
        {
        }

        Kind m_kind;
        double m_seconds;
        std::shared_ptr<const Block> m_block;
    };

    // Runs `work` once `seconds` have passed; by default on the main queue.
    using Scheduler = std::function<void(double seconds, std::function<void()> work)>;

    DelayRetryStrategy(int maxRetryCount, Interval retryInterval, Scheduler scheduler = {})
        : m_maxRetryCount(maxRetryCount)
        , m_retryInterval(std::move(retryInterval))
        , m_scheduler(std::move(scheduler))
    {
    }

    int maxRetryCount() const { return m_maxRetryCount; }
    const Interval& retryInterval() const { return m_retryInterval; }

    // What `retry` decides, without waiting: nothing for stop, else the waiting time in seconds.
    std::optional<double> waitBeforeRetry(const RetryContext& context) const;

    // A wait of exactly 0 retries at once on the calling thread; any other wait on the main queue
    // after that time (a negative one at once, but still posted).
    void retry(const std::shared_ptr<RetryContext>& context, RetryHandler handler) const override;

private:
    int m_maxRetryCount;
    Interval m_retryInterval;
    Scheduler m_scheduler;
};

} // namespace iris
