#include "Iris/general/IrisError.h"

#include <gtest/gtest.h>

using namespace iris;
using platform::PlatformError;
using Cache = IrisError::CacheErrorReason;
using Request = IrisError::RequestErrorReason;
using Response = IrisError::ResponseErrorReason;
using Setting = IrisError::ImageSettingErrorReason;

namespace {

// Objects of later parts of the library are referred to by their description only here.
template<typename T> ErrorObject<T> described(const char* text)
{
    return ErrorObject<T> { nullptr, QString::fromLatin1(text) };
}

const PlatformError missing { PlatformError::posixDomain, 2, "No such file or directory", nullptr };
const QString missingText = "Error Domain=posix Code=2 \"No such file or directory\"";
const QUrl fileURL = QUrl::fromLocalFile("/cache/ab12");

} // namespace

TEST(IrisError, CodesAndMessages)
{
    struct Case {
        IrisError error;
        int code;
        QString message;
    };
    const Case cases[] = {
        { IrisError::requestError(Request::emptyRequest()), 1001, "The request is empty or `nil`." },
        { IrisError::requestError(Request::invalidURL(described<platform::UrlRequest>("GET x"))), 1002,
            "The request contains an invalid or empty URL. Request: GET x." },
        { IrisError::requestError(Request::taskCancelled(described<SessionDataTask>("task"), 7)), 1003,
            "The session task was cancelled. Task: task, cancel token: 7." },
        { IrisError::responseError(Response::invalidURLResponse(described<platform::UrlResponse>("resp"))),
            2001, "The URL response is invalid: resp" },
        { IrisError::responseError(
              Response::invalidHTTPStatusCode(described<platform::UrlResponse>("resp"), 404)),
            2002, "The HTTP status code in response is invalid. Code: 404, response: resp." },
        { IrisError::responseError(Response::URLSessionError(missing)), 2003,
            "A URL session error happened. The underlying error: " + missingText },
        { IrisError::responseError(Response::dataModifyingFailed(described<SessionDataTask>("task"))), 2004,
            "The data modifying delegate returned `nil` for the downloaded data. Task: task." },
        { IrisError::responseError(Response::noURLResponse(described<SessionDataTask>("task"))), 2005,
            "No URL response received. Task: task." },
        { IrisError::responseError(Response::cancelledByDelegate(described<platform::UrlResponse>("resp"))),
            2006, "The downloading task is cancelled by the downloader delegate. Response: resp." },
        { IrisError::cacheError(Cache::fileEnumeratorCreationFailed(fileURL)), 3001,
            "Cannot create file enumerator for URL: file:///cache/ab12." },
        { IrisError::cacheError(Cache::invalidFileEnumeratorContent(fileURL)), 3002,
            "Cannot get contents from the file enumerator at URL: file:///cache/ab12." },
        { IrisError::cacheError(Cache::invalidURLResource(missing, "k", fileURL)), 3003,
            "Cannot get URL resource values or data for the given URL: file:///cache/ab12. Cache key: k. "
            "Underlying "
            "error: "
                + missingText },
        { IrisError::cacheError(Cache::cannotLoadDataFromDisk(fileURL, missing)), 3004,
            "Cannot load data from disk at URL: file:///cache/ab12. Underlying error: " + missingText },
        { IrisError::cacheError(Cache::cannotCreateDirectory("/cache", missing)), 3005,
            "Cannot create directory at given path: Path: /cache. Underlying error: " + missingText },
        { IrisError::cacheError(Cache::imageNotExisting("photo")), 3006,
            "The image is not in cache, but you requires it should only be from cache by enabling the "
            "`.onlyFromCache` option. Key: photo." },
        { IrisError::cacheError(Cache::cannotConvertToData(ErrorAnyValue { 1, "obj" }, missing)), 3007,
            "Cannot convert the input object to a `Data` object when storing it to disk cache. Object: obj. "
            "Underlying "
            "error: "
                + missingText },
        { IrisError::cacheError(Cache::cannotSerializeImage(
              std::nullopt, QByteArray(3, 'x'), described<CacheSerializer>("ser"))),
            3008,
            "Cannot serialize an image due to the cache serializer returning `nil`. Image: nil, original "
            "data: "
            "Optional(3 bytes), serializer: ser." },
        { IrisError::cacheError(Cache::cannotCreateCacheFile(fileURL, "k", QByteArray(5, 'x'), missing)),
            3009,
            "Cannot create cache file at url: file:///cache/ab12, key: k, data length: 5. Underlying "
            "foundation error: "
                + missingText + "." },
        { IrisError::cacheError(
              Cache::cannotSetCacheFileAttribute("/cache/ab12", { { "modificationDate", "2027" } }, missing)),
            3010,
            "Cannot set file attribute for the cache file at path: /cache/ab12, attributes: "
            "[modificationDate: "
            "2027].Underlying foundation error: "
                + missingText + "." },
        { IrisError::cacheError(Cache::diskStorageIsNotReady(QUrl::fromLocalFile("/cache"))), 3011,
            "The disk storage is not ready to use yet at URL: 'file:///cache'. This is usually caused by "
            "extremely lack "
            "of disk space. Ask users to free up some space and restart the app." },
        { IrisError::processorError(IrisError::ProcessorErrorReason::processingFailed(
              described<ImageProcessor>("proc"), described<ImageProcessItem>("item"))),
            4001, "Processing image failed. Processor: proc. Processing item: item." },
        { IrisError::imageSettingError(Setting::emptySource()), 5001, "The input resource is empty." },
        { IrisError::imageSettingError(Setting::notCurrentSourceTask(
              described<RetrieveImageResult>("res"), missing, described<Source>("src"))),
            5002,
            "Retrieving resource succeeded, but this source is not the one currently expected. Result: res. "
            "Resource: "
            "src." },
        { IrisError::imageSettingError(
              Setting::notCurrentSourceTask(std::nullopt, missing, described<Source>("src"))),
            5002,
            "Retrieving resource failed, and this resource is not the one currently expected. Error: "
                + missingText + ". Resource: src." },
        { IrisError::imageSettingError(
              Setting::dataProviderError(described<ImageDataProvider>("prov"), missing)),
            5003, "Image data provider fails to provide data. Provider: prov, error: " + missingText },
        { IrisError::imageSettingError(Setting::alternativeSourcesExhausted({ PropagationError {
              described<Source>("a"), IrisError::imageSettingError(Setting::emptySource()) } })),
            5004,
            "Image setting from alternaive sources failed: [PropagationError(source: a, error: The input "
            "resource is "
            "empty.)]" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.errorCode(), c.code);
        EXPECT_EQ(c.error.errorDescription(), c.message) << c.code;
        EXPECT_EQ(c.error.toPlatformError().code, c.code);
        EXPECT_EQ(c.error.toPlatformError().description, c.message);
    }
}

TEST(IrisError, NotCurrentTaskWithNeitherResultNorErrorHasNoMessage)
{
    auto error = IrisError::imageSettingError(
        Setting::notCurrentSourceTask(std::nullopt, std::nullopt, described<Source>("s")));
    EXPECT_EQ(error.errorDescription(), std::nullopt);
    EXPECT_TRUE(error.isNotCurrentTask());
    EXPECT_EQ(error.toPlatformError().description,
        "The operation could not be completed. (Iris.IrisError error 5002.)");
}

TEST(IrisError, DomainsAndPredicates)
{
    EXPECT_EQ(IrisError::domain(), "org.tindrel.Iris.Error");
    auto status500 = IrisError::responseError(
        Response::invalidHTTPStatusCode(described<platform::UrlResponse>("r"), 500));
    EXPECT_EQ(status500.toPlatformError().domain, "Iris.IrisError");
    EXPECT_TRUE(status500.isInvalidResponseStatus());
    EXPECT_TRUE(status500.isInvalidResponseStatusCode(500));
    EXPECT_FALSE(status500.isInvalidResponseStatusCode(404));
    EXPECT_FALSE(status500.isCancelledTask());

    auto cancelled = IrisError::requestError(Request::taskCancelled(described<SessionDataTask>("t"), 1));
    EXPECT_TRUE(cancelled.isCancelledTask());
    EXPECT_FALSE(cancelled.isInvalidResponseStatusCode(404));
    EXPECT_FALSE(cancelled.isNotCurrentTask());

    PlatformError constrained { urlErrorDomain, -1009, "offline",
        std::make_shared<const PlatformError>(PlatformError {
            networkUnavailableReasonDomain, int(NetworkUnavailableReason::constrained), "", nullptr }) };
    EXPECT_TRUE(IrisError::responseError(Response::URLSessionError(constrained)).isLowDataConstrained());
    PlatformError expensive = constrained;
    expensive.underlying = std::make_shared<const PlatformError>(PlatformError {
        networkUnavailableReasonDomain, int(NetworkUnavailableReason::expensive), "", nullptr });
    EXPECT_FALSE(IrisError::responseError(Response::URLSessionError(expensive)).isLowDataConstrained());
    EXPECT_FALSE(IrisError::responseError(Response::URLSessionError(missing)).isLowDataConstrained());
    EXPECT_FALSE(IrisError::cacheError(Cache::imageNotExisting("k")).isLowDataConstrained());
}
