#pragma once

#include "platform/foundation/UrlError.h"
#include "platform/foundation/UrlRequest.h"
#include "platform/foundation/UrlResponse.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class UrlSession;
struct UrlSessionCore;
struct UrlTransfer;

// Priorities a task may be given (any value from 0 to 1 is accepted).
inline constexpr float urlSessionTaskPriorityLow = 0.25f;
inline constexpr float urlSessionTaskPriorityDefault = 0.5f;
inline constexpr float urlSessionTaskPriorityHigh = 0.75f;

// One transfer made by a session. Created suspended; `resume` sends it; it ends exactly once, with
// the delegate's completion message, whatever happens (success, failure, cancel, invalidation).
// Every member may be called from any thread.
class UrlSessionDataTask : public std::enable_shared_from_this<UrlSessionDataTask> {
public:
    enum class State { running = 0, suspended = 1, canceling = 2, completed = 3 };

    ~UrlSessionDataTask();
    UrlSessionDataTask(const UrlSessionDataTask&) = delete;
    UrlSessionDataTask& operator=(const UrlSessionDataTask&) = delete;

    // Unique in the process (not just in the session), so a late message of an old task can never be
    // taken for a newer task of another session.
    std::uint64_t taskIdentifier() const { return m_identifier; }

    // The request the task was made from, exactly as given.
    const UrlRequest& originalRequest() const { return m_originalRequest; }
    // The request being sent now: differs from the original after a redirect.
    UrlRequest currentRequest() const;
    // The final response, once it has been received.
    std::optional<UrlResponse> response() const;
    // Why the task failed, once it has completed with an error.
    std::optional<UrlError> error() const;
    State state() const { return m_state.load(); }

    float priority() const { return m_priority.load(); }
    // Clamped to [0, 1]; NaN means the default. Applies to requests sent after the call.
    void setPriority(float priority);

    std::int64_t countOfBytesReceived() const { return m_bytesReceived.load(); }
    std::int64_t countOfBytesExpectedToReceive() const;

    // Sends the request. Only a suspended task starts; any other call does nothing.
    void resume();
    // Stops the task; it then completes with `cancelled` (unless it completed first). Never calls
    // the delegate before returning, so it may be called while holding a lock the delegate takes.
    void cancel();

private:
    friend class UrlSession;
    friend struct UrlSessionCore;
    UrlSessionDataTask(std::weak_ptr<UrlSessionCore> core, UrlRequest request);

    const std::uint64_t m_identifier;
    const UrlRequest m_originalRequest;
    std::weak_ptr<UrlSessionCore> m_core;

    std::atomic<State> m_state { State::suspended };
    std::atomic<float> m_priority { urlSessionTaskPriorityDefault };
    std::atomic<std::int64_t> m_bytesReceived { 0 };

    mutable std::mutex m_mutex;
    UrlRequest m_currentRequest;
    std::optional<UrlResponse> m_response;
    std::optional<UrlError> m_error;

    // The transfer's working state; touched only on the session's network thread.
    std::unique_ptr<UrlTransfer> m_transfer;
};

} // namespace platform
