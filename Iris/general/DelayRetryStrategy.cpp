#include "Iris/general/DelayRetryStrategy.h"

#include "platform/foundation/DispatchQueue.h"

#include <algorithm>
#include <cmath>

namespace iris {

double DelayRetryStrategy::Interval::timeInterval(std::int64_t retriedCount) const
{
    switch (m_kind) {
    case Kind::seconds:
        return m_seconds;
    case Kind::accumulated:
        return m_seconds * static_cast<double>(retriedCount + 1);
    case Kind::custom:
        return *m_block ? (*m_block)(retriedCount) : 0;
    }
    return 0;
}

std::optional<double> DelayRetryStrategy::waitBeforeRetry(const RetryContext& context) const
{
    if (context.retriedCount() >= m_maxRetryCount)
        return std::nullopt;
    const IrisError& error = context.error();
    if (error.isCancelledTask() || error.errorCase() != IrisError::Case::responseError)
        return std::nullopt;
    double wait = 0;
    // The block is outside code, often run on a queue thread: whatever it throws means "stop", so
    // the retrieval still gets its one answer.
    try {
        wait = m_retryInterval.timeInterval(context.retriedCount());
    } catch (...) {
        return std::nullopt;
    }
    // A wait that is not a number or is endless would leave the retrieval waiting for ever.
    if (std::isnan(wait) || wait == INFINITY)
        return std::nullopt;
    return wait;
}

void DelayRetryStrategy::retry(const std::shared_ptr<RetryContext>& context, RetryHandler handler) const
{
    const std::optional<double> wait = context ? waitBeforeRetry(*context) : std::nullopt;
    if (!wait) {
        handler(RetryDecision::stop());
        return;
    }
    if (*wait == 0) {
        handler(RetryDecision::retry());
        return;
    }
    auto work = [handler = std::move(handler)] { handler(RetryDecision::retry()); };
    if (m_scheduler)
        m_scheduler(*wait, std::move(work));
    else
        platform::DispatchQueue::main()->asyncAfterSeconds(*wait, std::move(work));
}

} // namespace iris
