#pragma once

#include "Iris/general/ImageDataProvider.h"
#include "Iris/general/IrisManager.h"
#include "Iris/networking/ImageDownloader.h"

#include "support/TestSupport.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace retrievaltest {

using namespace iris;

inline QByteArray jpegData(int width = 64, int height = 48, QColor color = Qt::darkCyan)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.write(image);
    return bytes;
}

// Gives fixed bytes, or fails, and counts how often it was asked.
class CountingProvider final : public ImageDataProvider {
public:
    CountingProvider(QString key, std::optional<QByteArray> data)
        : m_key(std::move(key))
        , m_data(std::move(data))
    {
    }
    QString cacheKey() const override { return m_key; }
    void data(ProviderDataHandler handler) const override
    {
        ++*calls;
        if (m_data)
            handler(ProviderDataResult::success(*m_data));
        else
            handler(ProviderDataResult::failure({ "test", 7, "no data for " + m_key, nullptr }));
    }

    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);

private:
    QString m_key;
    std::optional<QByteArray> m_data;
};

inline std::pair<Source, std::shared_ptr<std::atomic<int>>> countingSource(
    const QString& key, std::optional<QByteArray> data)
{
    auto provider = std::make_shared<CountingProvider>(key, std::move(data));
    return { Source::provider(provider), provider->calls };
}

// A downloader the test drives: each request waits until the test completes or cancels it.
class FakeDownloader final : public ImageDownloader {
public:
    FakeDownloader()
        : ImageDownloader(QStringLiteral("fake"))
    {
    }

    std::optional<DownloadTask> downloadImage(
        const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion) override
    {
        std::lock_guard lock(m_mutex);
        const std::int64_t token = m_nextToken++;
        m_pending[token] = { url, options, std::move(completion) };
        return DownloadTask { nullptr, token };
    }

    int pendingCount() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_pending.size());
    }

    // Answers request `token` as a downloader does: on the request's callback queue.
    void finish(std::int64_t token, ImageLoadingResultOrError result)
    {
        Request request = take(token);
        runCallback(
            request.options.callbackQueue, [completion = request.completion, result] { completion(result); });
    }
    void succeed(std::int64_t token, const QByteArray& data)
    {
        Request request = take(token);
        std::shared_ptr<platform::Image> image
            = request.options.processor->process(ImageProcessItem::data(data), request.options);
        runCallback(
            request.options.callbackQueue, [completion = request.completion, image, data, url = request.url] {
                completion(ImageLoadingResultOrError::success(ImageLoadingResult { image, url, data }));
            });
    }
    void cancel(std::int64_t token)
    {
        finish(token,
            ImageLoadingResultOrError::failure(
                IrisError::requestError(IrisError::RequestErrorReason::taskCancelled(
                    ErrorObject<SessionDataTask> { nullptr, "task" }, token))));
    }

private:
    struct Request {
        QUrl url;
        IrisParsedOptionsInfo options;
        DownloadCompletion completion;
    };
    Request take(std::int64_t token)
    {
        std::lock_guard lock(m_mutex);
        Request request = std::move(m_pending.at(token));
        m_pending.erase(token);
        return request;
    }

    mutable std::mutex m_mutex;
    std::int64_t m_nextToken = 0;
    std::map<std::int64_t, Request> m_pending;
};

// Collects a retrieval's completions and where they ran.
struct Outcome {
    std::atomic<int> calls { 0 };
    std::optional<RetrieveImageResultOrError> result;
    std::atomic<bool> onMainThread { false };
    std::shared_ptr<platform::DispatchQueue> expectedQueue;
    std::atomic<bool> onExpectedQueue { false };

    RetrieveImageCompletion completion(const std::shared_ptr<Outcome>& self)
    {
        return [self](RetrieveImageResultOrError result) {
            self->onMainThread = testsupport::isMainThread();
            self->onExpectedQueue = self->expectedQueue && self->expectedQueue->isCurrent();
            self->result = std::move(result);
            ++self->calls;
        };
    }
    bool wait(int timeoutMs = 5000)
    {
        return testsupport::waitUntil([this] { return calls > 0; }, timeoutMs);
    }
    // Lets queued work of `manager` and the main queue run, so a second completion would show.
    static void settle(const std::shared_ptr<IrisManager>& manager)
    {
        for (int round = 0; round < 3; ++round) {
            manager->processingQueue()->sync([] {});
            manager->cache()->ioQueue()->sync([] {});
            QCoreApplication::processEvents();
        }
    }
    bool succeeded() const { return result && result->isSuccess(); }
    const RetrieveImageResult& value() const { return result->value(); }
    const IrisError& error() const { return result->error(); }
};

} // namespace retrievaltest
