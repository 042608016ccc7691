#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace platform {
class Image;
struct UrlRequest;
struct UrlResponse;
} // namespace platform

namespace iris {

class CacheSerializer;
class ImageDataProvider;
class ImageProcessor;
class SessionDataTask;
struct ImageProcessItem;
struct RetrieveImageResult;
class Source;
struct PropagationError;

// An object an error refers to, held by reference, with its description taken when the error was
// made (errors are immutable; the description is what their messages show).
template<typename T> struct ErrorObject {
    std::shared_ptr<const T> object;
    QString text;

    // `T` must be complete where this is called and offer `QString description() const`.
    static ErrorObject of(std::shared_ptr<const T> object)
    {
        QString text = object ? object->description() : QStringLiteral("nil");
        return ErrorObject { std::move(object), std::move(text) };
    }
};

// A value of any type an error refers to, with its description.
struct ErrorAnyValue {
    std::any value;
    QString text;
};

// The domain and reason of a URL-loading error that failed because the network was unavailable:
// the URL session layer reports it as an error of `urlErrorDomain` whose underlying error has
// `networkUnavailableReasonDomain` and the reason as its code.
inline const QString urlErrorDomain = QStringLiteral("url");
inline const QString networkUnavailableReasonDomain = QStringLiteral("url.networkUnavailableReason");
enum class NetworkUnavailableReason { cellular = 0, expensive = 1, constrained = 2 };

// Every failure the image library reports: the stage that failed and why.
class IrisError {
public:
    struct RequestErrorReason {
        enum class Kind { emptyRequest, invalidURL, taskCancelled };
        Kind kind = Kind::emptyRequest;
        ErrorObject<platform::UrlRequest> request;
        ErrorObject<SessionDataTask> task;
        std::int64_t token = 0;

        static RequestErrorReason emptyRequest() { return { Kind::emptyRequest, {}, {}, 0 }; }
        static RequestErrorReason invalidURL(ErrorObject<platform::UrlRequest> request)
        {
            return { Kind::invalidURL, std::move(request), {}, 0 };
        }
        static RequestErrorReason taskCancelled(ErrorObject<SessionDataTask> task, std::int64_t token)
        {
            return { Kind::taskCancelled, {}, std::move(task), token };
        }
    };

    struct ResponseErrorReason {
        enum class Kind {
            invalidURLResponse,
            invalidHTTPStatusCode,
            URLSessionError,
            dataModifyingFailed,
            noURLResponse,
            cancelledByDelegate,
        };
        Kind kind = Kind::invalidURLResponse;
        // The response; for `invalidHTTPStatusCode` an HTTP response, whose status is `statusCode`.
        ErrorObject<platform::UrlResponse> response;
        int statusCode = 0;
        platform::PlatformError error;
        ErrorObject<SessionDataTask> task;

        static ResponseErrorReason invalidURLResponse(ErrorObject<platform::UrlResponse> response);
        static ResponseErrorReason invalidHTTPStatusCode(
            ErrorObject<platform::UrlResponse> response, int statusCode);
        static ResponseErrorReason URLSessionError(platform::PlatformError error);
        static ResponseErrorReason dataModifyingFailed(ErrorObject<SessionDataTask> task);
        static ResponseErrorReason noURLResponse(ErrorObject<SessionDataTask> task);
        static ResponseErrorReason cancelledByDelegate(ErrorObject<platform::UrlResponse> response);
    };

    struct CacheErrorReason {
        enum class Kind {
            fileEnumeratorCreationFailed,
            invalidFileEnumeratorContent,
            invalidURLResource,
            cannotLoadDataFromDisk,
            cannotCreateDirectory,
            imageNotExisting,
            cannotConvertToData,
            cannotSerializeImage,
            cannotCreateCacheFile,
            cannotSetCacheFileAttribute,
            diskStorageIsNotReady,
        };
        Kind kind = Kind::fileEnumeratorCreationFailed;
        QUrl url; // also `fileURL` and `cacheURL`
        QString key;
        QString path; // also `filePath`
        platform::PlatformError error;
        ErrorAnyValue object;
        std::optional<ErrorObject<platform::Image>> image;
        std::optional<QByteArray> original;
        ErrorObject<CacheSerializer> serializer;
        QByteArray data;
        std::map<QString, QVariant> attributes;

        static CacheErrorReason fileEnumeratorCreationFailed(QUrl url);
        static CacheErrorReason invalidFileEnumeratorContent(QUrl url);
        static CacheErrorReason invalidURLResource(platform::PlatformError error, QString key, QUrl url);
        static CacheErrorReason cannotLoadDataFromDisk(QUrl url, platform::PlatformError error);
        static CacheErrorReason cannotCreateDirectory(QString path, platform::PlatformError error);
        static CacheErrorReason imageNotExisting(QString key);
        static CacheErrorReason cannotConvertToData(ErrorAnyValue object, platform::PlatformError error);
        static CacheErrorReason cannotSerializeImage(std::optional<ErrorObject<platform::Image>> image,
            std::optional<QByteArray> original, ErrorObject<CacheSerializer> serializer);
        static CacheErrorReason cannotCreateCacheFile(
            QUrl fileURL, QString key, QByteArray data, platform::PlatformError error);
        static CacheErrorReason cannotSetCacheFileAttribute(
            QString filePath, std::map<QString, QVariant> attributes, platform::PlatformError error);
        static CacheErrorReason diskStorageIsNotReady(QUrl cacheURL);
    };

    struct ProcessorErrorReason {
        enum class Kind { processingFailed };
        Kind kind = Kind::processingFailed;
        ErrorObject<ImageProcessor> processor;
        ErrorObject<ImageProcessItem> item;

        static ProcessorErrorReason processingFailed(
            ErrorObject<ImageProcessor> processor, ErrorObject<ImageProcessItem> item)
        {
            return { Kind::processingFailed, std::move(processor), std::move(item) };
        }
    };

    struct ImageSettingErrorReason {
        enum class Kind { emptySource, notCurrentSourceTask, dataProviderError, alternativeSourcesExhausted };
        Kind kind = Kind::emptySource;
        std::optional<ErrorObject<RetrieveImageResult>> result;
        std::optional<platform::PlatformError> error;
        ErrorObject<Source> source;
        ErrorObject<ImageDataProvider> provider;
        std::shared_ptr<const std::vector<PropagationError>> errors;

        static ImageSettingErrorReason emptySource();
        static ImageSettingErrorReason notCurrentSourceTask(
            std::optional<ErrorObject<RetrieveImageResult>> result,
            std::optional<platform::PlatformError> error, ErrorObject<Source> source);
        static ImageSettingErrorReason dataProviderError(
            ErrorObject<ImageDataProvider> provider, platform::PlatformError error);
        static ImageSettingErrorReason alternativeSourcesExhausted(std::vector<PropagationError> errors);
    };

    enum class Case { requestError, responseError, cacheError, processorError, imageSettingError };

    static IrisError requestError(RequestErrorReason reason) { return IrisError(std::move(reason)); }
    static IrisError responseError(ResponseErrorReason reason) { return IrisError(std::move(reason)); }
    static IrisError cacheError(CacheErrorReason reason) { return IrisError(std::move(reason)); }
    static IrisError processorError(ProcessorErrorReason reason) { return IrisError(std::move(reason)); }
    static IrisError imageSettingError(ImageSettingErrorReason reason)
    {
        return IrisError(std::move(reason));
    }

    // The library's own name for errors of this type: reverse-domain prefix + ".Iris.Error".
    static QString domain();
    // The domain the error carries when it is handed on as a platform error.
    static QString platformErrorDomain() { return QStringLiteral("Iris.IrisError"); }

    Case errorCase() const { return static_cast<Case>(m_reason.index()); }
    const RequestErrorReason* requestReason() const { return std::get_if<RequestErrorReason>(&m_reason); }
    const ResponseErrorReason* responseReason() const { return std::get_if<ResponseErrorReason>(&m_reason); }
    const CacheErrorReason* cacheReason() const { return std::get_if<CacheErrorReason>(&m_reason); }
    const ProcessorErrorReason* processorReason() const
    {
        return std::get_if<ProcessorErrorReason>(&m_reason);
    }
    const ImageSettingErrorReason* imageSettingReason() const
    {
        return std::get_if<ImageSettingErrorReason>(&m_reason);
    }

    int errorCode() const;
    // Absent only for `notCurrentSourceTask` with neither a result nor an error.
    std::optional<QString> errorDescription() const;
    // The description, or the generic text a platform error shows when there is none.
    QString localizedDescription() const;

    bool isCancelledTask() const;
    bool isInvalidResponseStatus() const;
    bool isInvalidResponseStatusCode(int code) const;
    bool isNotCurrentTask() const;
    bool isLowDataConstrained() const;

    platform::PlatformError toPlatformError() const;

private:
    using Reason = std::variant<RequestErrorReason, ResponseErrorReason, CacheErrorReason,
        ProcessorErrorReason, ImageSettingErrorReason>;
    explicit IrisError(Reason reason)
        : m_reason(std::move(reason))
    {
    }

    Reason m_reason;
};

// One alternative source that failed, with its error.
struct PropagationError {
    ErrorObject<Source> source;
    IrisError error;
};

// How errors and their payloads read inside messages.
QString describeError(const platform::PlatformError& error);

} // namespace iris
