#include "Iris/networking/SessionDataTask.h"

#include "platform/foundation/UrlSessionTask.h"

#include <algorithm>
#include <cassert>

namespace iris {

namespace {

std::optional<QUrl> urlOf(const platform::UrlSessionDataTask& task)
{
    const QUrl& url = task.originalRequest().url;
    if (url.isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

SessionDataTask::SessionDataTask(std::shared_ptr<platform::UrlSessionDataTask> task)
    : m_task(std::move(task))
    , m_originalURL(m_task ? urlOf(*m_task) : std::nullopt)
{
}

QByteArray SessionDataTask::mutableData() const
{
    std::lock_guard lock(m_dataMutex);
    return m_data;
}

std::int64_t SessionDataTask::receivedLength() const
{
    std::lock_guard lock(m_dataMutex);
    return m_data.size();
}

void SessionDataTask::readReceivedData(const std::function<void(QByteArrayView)>& read) const
{
    std::lock_guard lock(m_dataMutex);
    read(QByteArrayView(m_data));
}

std::int64_t SessionDataTask::relocatedBytes() const
{
    std::lock_guard lock(m_dataMutex);
    return m_relocatedBytes;
}

std::optional<std::int64_t> SessionDataTask::addCallback(TaskCallback callback)
{
    std::lock_guard lock(m_mutex);
    if (m_closed)
        return std::nullopt;
    // 2^63 requests on one transfer cannot happen; the counter never wraps.
    assert(m_currentToken < INT64_MAX);
    const std::int64_t token = m_currentToken++;
    callback.token = token;
    m_callbacksStore.emplace(token, std::move(callback));
    return token;
}

std::optional<TaskCallback> SessionDataTask::removeCallback(std::int64_t token)
{
    std::lock_guard lock(m_mutex);
    auto found = m_callbacksStore.find(token);
    if (found == m_callbacksStore.end())
        return std::nullopt;
    TaskCallback callback = std::move(found->second);
    m_callbacksStore.erase(found);
    return callback;
}

SessionDataTask::Callbacks SessionDataTask::callbacks() const
{
    std::lock_guard lock(m_mutex);
    Callbacks result;
    result.reserve(m_callbacksStore.size());
    for (const auto& entry : m_callbacksStore)
        result.push_back(entry.second);
    return result;
}

bool SessionDataTask::containsCallbacks() const
{
    std::lock_guard lock(m_mutex);
    return !m_callbacksStore.empty();
}

void SessionDataTask::removeAllCallbacks()
{
    std::lock_guard lock(m_mutex);
    m_callbacksStore.clear();
}

SessionDataTask::Callbacks SessionDataTask::closeAndTakeCallbacks()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    Callbacks result;
    result.reserve(m_callbacksStore.size());
    for (auto& entry : m_callbacksStore)
        result.push_back(std::move(entry.second));
    m_callbacksStore.clear();
    return result;
}

bool SessionDataTask::closeIfEmpty()
{
    std::lock_guard lock(m_mutex);
    if (!m_callbacksStore.empty())
        return false;
    m_closed = true;
    return true;
}

bool SessionDataTask::isClosed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void SessionDataTask::resume()
{
    m_started = true;
    if (!m_resumed.exchange(true) && m_task)
        m_task->resume();
}

void SessionDataTask::didReceiveData(const QByteArray& chunk, std::int64_t expectedLength)
{
    std::lock_guard lock(m_dataMutex);
    // A declared length is bounded by the session's body limit, but a server may declare more than
    // it sends: beyond this the buffer grows as the bytes come. Untouched room costs no memory.
    constexpr std::int64_t maxReservedBytes = 64 * 1024 * 1024;
    if (m_data.isEmpty() && expectedLength > chunk.size())
        m_data.reserve(qsizetype(std::min(expectedLength, maxReservedBytes)));
    const char* before = m_data.constData();
    const qsizetype kept = m_data.size();
    m_data.append(chunk);
    if (kept > 0 && m_data.constData() != before)
        m_relocatedBytes += kept;
}

void SessionDataTask::cancelAllCallbacks()
{
    std::vector<std::int64_t> tokens;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& entry : m_callbacksStore)
            tokens.push_back(entry.first);
    }
    for (std::int64_t token : tokens) {
        // Another thread may have answered or cancelled it meanwhile; then it is skipped.
        if (std::optional<TaskCallback> callback = removeCallback(token))
            onCallbackCancelled(std::move(*callback));
    }
}

QString SessionDataTask::description() const
{
    return QStringLiteral("SessionDataTask(%1)")
        .arg(m_originalURL ? QString::fromUtf8(m_originalURL->toEncoded()) : QStringLiteral("no URL"));
}

} // namespace iris
