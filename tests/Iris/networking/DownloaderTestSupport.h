#pragma once

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/networking/ImageDownloader.h"

#include "platform/foundation/PlatformError.h"
#include "platform/graphics/TestImages.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace iristest {

inline std::string pngBody(int width = 8, int height = 6)
{
    return testimages::encoded(testimages::pattern(width, height), "png").toStdString();
}

// Every answer a request got, in order; a request must get exactly one.
struct Answers {
    std::mutex mutex;
    std::vector<iris::ImageLoadingResultOrError> results;

    iris::DownloadCompletion completion()
    {
        return [this](iris::ImageLoadingResultOrError result) {
            std::lock_guard lock(mutex);
            results.push_back(std::move(result));
        };
    }
    int count()
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(results.size());
    }
    iris::ImageLoadingResultOrError first()
    {
        std::lock_guard lock(mutex);
        return results.front();
    }
};

// The URL session error code a failure carries; 0 for any other failure or a success.
inline int urlErrorCode(const iris::ImageLoadingResultOrError& result)
{
    if (result.isSuccess())
        return 0;
    const auto* reason = result.error().responseReason();
    if (!reason || reason->kind != iris::IrisError::ResponseErrorReason::Kind::URLSessionError)
        return 0;
    return reason->error.code;
}

inline int errorCode(const iris::ImageLoadingResultOrError& result)
{
    return result.isSuccess() ? 0 : result.error().errorCode();
}

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override { server.addBody("/image.png", pngBody(), 200, "image/png"); }

    std::shared_ptr<Answers> download(const QUrl& url, iris::IrisParsedOptionsInfo options = {},
        std::optional<iris::DownloadTask>* task = nullptr)
    {
        auto answers = std::make_shared<Answers>();
        std::optional<iris::DownloadTask> started
            = downloader->downloadImage(url, options, answers->completion());
        if (task)
            *task = started;
        return answers;
    }

    // Downloads `path` and waits for its one answer.
    iris::ImageLoadingResultOrError fetch(const QString& path, iris::IrisParsedOptionsInfo options = {})
    {
        auto answers = download(server.url(path), std::move(options));
        EXPECT_TRUE(testsupport::waitUntil([&] { return answers->count() > 0; }, 10000))
            << path.toStdString();
        EXPECT_EQ(answers->count(), 1);
        return answers->count() ? answers->first()
                                : iris::ImageLoadingResultOrError::failure(iris::IrisError::requestError(
                                    iris::IrisError::RequestErrorReason::emptyRequest()));
    }

    testsupport::HttpTestServer server;
    std::shared_ptr<iris::ImageDownloader> downloader
        = iris::ImageDownloader::create(QStringLiteral("tests"));
};

} // namespace iristest
