#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/general/Source.h"

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace iris {

// What a retry strategy is shown: the retrieval's first failure and how often it has been retried.
// One per retrieval, kept across all of its attempts; the attempts follow one another, so it is
// never used by two threads at once.
class RetryContext {
public:
    RetryContext(Source source, IrisError error)
        : m_source(std::move(source))
        , m_error(std::move(error))
    {
    }
    virtual ~RetryContext() = default;

    const Source& source() const { return m_source; }
    const IrisError& error() const { return m_error; }

    virtual std::int64_t retriedCount() const { return m_retriedCount; }
    virtual void setRetriedCount(std::int64_t count) { m_retriedCount = count; }
    virtual const std::optional<std::any>& userInfo() const { return m_userInfo; }
    virtual void setUserInfo(std::optional<std::any> info) { m_userInfo = std::move(info); }

private:
    Source m_source;
    IrisError m_error;
    std::int64_t m_retriedCount = 0;
    std::optional<std::any> m_userInfo;
};

// A strategy's answer: try again (passing `userInfo` to its next decision), or give up on the source.
struct RetryDecision {
    enum class Kind { retry, stop };
    Kind kind = Kind::stop;
    std::optional<std::any> userInfo;

    static RetryDecision retry(std::optional<std::any> userInfo = std::nullopt)
    {
        return { Kind::retry, std::move(userInfo) };
    }
    static RetryDecision stop() { return { Kind::stop, std::nullopt }; }
};

using RetryHandler = std::function<void(RetryDecision)>;

// Decides whether a failed retrieval is tried again. Calls `handler` exactly once, at once or later,
// on any thread.
class RetryStrategy {
public:
    virtual ~RetryStrategy() = default;
    virtual void retry(const std::shared_ptr<RetryContext>& context, RetryHandler handler) const = 0;
};

} // namespace iris
