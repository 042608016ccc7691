#include "Iris/general/IrisError.h"

#include "Iris/general/IrisNames.h"

#include <QStringList>

namespace iris {

namespace {

QString urlText(const QUrl& url)
{
    return QString::fromUtf8(url.toEncoded());
}

QString optionalText(const std::optional<QString>& text)
{
    return text ? QStringLiteral("Optional(") + *text + QLatin1Char(')') : QStringLiteral("nil");
}

QString dataText(const QByteArray& data)
{
    return QString::number(data.size()) + QStringLiteral(" bytes");
}

QString attributesText(const std::map<QString, QVariant>& attributes)
{
    QStringList pieces;
    for (const auto& [key, value] : attributes)
        pieces << key + QStringLiteral(": ") + value.toString();
    return QLatin1Char('[') + pieces.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString propagationText(const PropagationError& error)
{
    return QStringLiteral("PropagationError(source: ") + error.source.text + QStringLiteral(", error: ")
        + error.error.localizedDescription() + QLatin1Char(')');
}

template<typename Kind> int position(Kind kind)
{
    return static_cast<int>(kind);
}

} // namespace

QString describeError(const platform::PlatformError& error)
{
    QString text = QStringLiteral("Error Domain=") + error.domain + QStringLiteral(" Code=")
        + QString::number(error.code) + QStringLiteral(" \"") + error.description + QLatin1Char('"');
    if (error.underlying)
        text += QStringLiteral(" UnderlyingError={") + describeError(*error.underlying) + QLatin1Char('}');
    return text;
}

using ResponseErrorReason = IrisError::ResponseErrorReason;
using CacheErrorReason = IrisError::CacheErrorReason;
using ImageSettingErrorReason = IrisError::ImageSettingErrorReason;

ResponseErrorReason ResponseErrorReason::invalidURLResponse(ErrorObject<platform::UrlResponse> response)
{
    ResponseErrorReason reason;
    reason.kind = Kind::invalidURLResponse;
    reason.response = std::move(response);
    return reason;
}

ResponseErrorReason ResponseErrorReason::invalidHTTPStatusCode(
    ErrorObject<platform::UrlResponse> response, int statusCode)
{
    ResponseErrorReason reason;
    reason.kind = Kind::invalidHTTPStatusCode;
    reason.response = std::move(response);
    reason.statusCode = statusCode;
    return reason;
}

ResponseErrorReason ResponseErrorReason::URLSessionError(platform::PlatformError error)
{
    ResponseErrorReason reason;
    reason.kind = Kind::URLSessionError;
    reason.error = std::move(error);
    return reason;
}

ResponseErrorReason ResponseErrorReason::dataModifyingFailed(ErrorObject<SessionDataTask> task)
{
    ResponseErrorReason reason;
    reason.kind = Kind::dataModifyingFailed;
    reason.task = std::move(task);
    return reason;
}

ResponseErrorReason ResponseErrorReason::noURLResponse(ErrorObject<SessionDataTask> task)
{
    ResponseErrorReason reason;
    reason.kind = Kind::noURLResponse;
    reason.task = std::move(task);
    return reason;
}

ResponseErrorReason ResponseErrorReason::cancelledByDelegate(ErrorObject<platform::UrlResponse> response)
{
    ResponseErrorReason reason;
    reason.kind = Kind::cancelledByDelegate;
    reason.response = std::move(response);
    return reason;
}

CacheErrorReason CacheErrorReason::fileEnumeratorCreationFailed(QUrl url)
{
    CacheErrorReason reason;
    reason.kind = Kind::fileEnumeratorCreationFailed;
    reason.url = std::move(url);
    return reason;
}

CacheErrorReason CacheErrorReason::invalidFileEnumeratorContent(QUrl url)
{
    CacheErrorReason reason;
    reason.kind = Kind::invalidFileEnumeratorContent;
    reason.url = std::move(url);
    return reason;
}

CacheErrorReason CacheErrorReason::invalidURLResource(platform::PlatformError error, QString key, QUrl url)
{
    CacheErrorReason reason;
    reason.kind = Kind::invalidURLResource;
    reason.error = std::move(error);
    reason.key = std::move(key);
    reason.url = std::move(url);
    return reason;
}

CacheErrorReason CacheErrorReason::cannotLoadDataFromDisk(QUrl url, platform::PlatformError error)
{
    CacheErrorReason reason;
    reason.kind = Kind::cannotLoadDataFromDisk;
    reason.url = std::move(url);
    reason.error = std::move(error);
    return reason;
}

CacheErrorReason CacheErrorReason::cannotCreateDirectory(QString path, platform::PlatformError error)
{
    CacheErrorReason reason;
    reason.kind = Kind::cannotCreateDirectory;
    reason.path = std::move(path);
    reason.error = std::move(error);
    return reason;
}

CacheErrorReason CacheErrorReason::imageNotExisting(QString key)
{
    CacheErrorReason reason;
    reason.kind = Kind::imageNotExisting;
    reason.key = std::move(key);
    return reason;
}

CacheErrorReason CacheErrorReason::cannotConvertToData(ErrorAnyValue object, platform::PlatformError error)
{
    CacheErrorReason reason;
    reason.kind = Kind::cannotConvertToData;
    reason.object = std::move(object);
    reason.error = std::move(error);
    return reason;
}

CacheErrorReason CacheErrorReason::cannotSerializeImage(std::optional<ErrorObject<platform::Image>> image,
    std::optional<QByteArray> original, ErrorObject<CacheSerializer> serializer)
{
    CacheErrorReason reason;
    reason.kind = Kind::cannotSerializeImage;
    reason.image = std::move(image);
    reason.original = std::move(original);
    reason.serializer = std::move(serializer);
    return reason;
}

CacheErrorReason CacheErrorReason::cannotCreateCacheFile(
    QUrl fileURL, QString key, QByteArray data, platform::PlatformError error)
{
    CacheErrorReason reason;
    reason.kind = Kind::cannotCreateCacheFile;
    reason.url = std::move(fileURL);
    reason.key = std::move(key);
    reason.data = std::move(data);
    reason.error = std::move(error);
    return reason;
}

CacheErrorReason CacheErrorReason::cannotSetCacheFileAttribute(
    QString filePath, std::map<QString, QVariant> attributes, platform::PlatformError error)
{
    CacheErrorReason reason;
    reason.kind = Kind::cannotSetCacheFileAttribute;
    reason.path = std::move(filePath);
    reason.attributes = std::move(attributes);
    reason.error = std::move(error);
    return reason;
}

CacheErrorReason CacheErrorReason::diskStorageIsNotReady(QUrl cacheURL)
{
    CacheErrorReason reason;
    reason.kind = Kind::diskStorageIsNotReady;
    reason.url = std::move(cacheURL);
    return reason;
}

ImageSettingErrorReason ImageSettingErrorReason::emptySource()
{
    return ImageSettingErrorReason();
}

ImageSettingErrorReason ImageSettingErrorReason::notCurrentSourceTask(
    std::optional<ErrorObject<RetrieveImageResult>> result, std::optional<platform::PlatformError> error,
    ErrorObject<Source> source)
{
    ImageSettingErrorReason reason;
    reason.kind = Kind::notCurrentSourceTask;
    reason.result = std::move(result);
    reason.error = std::move(error);
    reason.source = std::move(source);
    return reason;
}

ImageSettingErrorReason ImageSettingErrorReason::dataProviderError(
    ErrorObject<ImageDataProvider> provider, platform::PlatformError error)
{
    ImageSettingErrorReason reason;
    reason.kind = Kind::dataProviderError;
    reason.provider = std::move(provider);
    reason.error = std::move(error);
    return reason;
}

ImageSettingErrorReason ImageSettingErrorReason::alternativeSourcesExhausted(
    std::vector<PropagationError> errors)
{
    ImageSettingErrorReason reason;
    reason.kind = Kind::alternativeSourcesExhausted;
    reason.errors = std::make_shared<const std::vector<PropagationError>>(std::move(errors));
    return reason;
}

QString IrisError::domain()
{
    return irisName(QStringLiteral("Error"));
}

int IrisError::errorCode() const
{
    return std::visit(
        [](const auto& reason) -> int {
            using Reason = std::decay_t<decltype(reason)>;
            if constexpr (std::is_same_v<Reason, RequestErrorReason>)
                return 1001 + position(reason.kind);
            else if constexpr (std::is_same_v<Reason, ResponseErrorReason>)
                return 2001 + position(reason.kind);
            else if constexpr (std::is_same_v<Reason, CacheErrorReason>)
                return 3001 + position(reason.kind);
            else if constexpr (std::is_same_v<Reason, ProcessorErrorReason>)
                return 4001 + position(reason.kind);
            else
                return 5001 + position(reason.kind);
        },
        m_reason);
}

namespace {

QString message(const IrisError::RequestErrorReason& reason)
{
    using Kind = IrisError::RequestErrorReason::Kind;
    switch (reason.kind) {
    case Kind::emptyRequest:
        return QStringLiteral("The request is empty or `nil`.");
    case Kind::invalidURL:
        return QStringLiteral("The request contains an invalid or empty URL. Request: ") + reason.request.text
            + QLatin1Char('.');
    case Kind::taskCancelled:
        return QStringLiteral("The session task was cancelled. Task: ") + reason.task.text
            + QStringLiteral(", cancel token: ") + QString::number(reason.token) + QLatin1Char('.');
    }
    return {};
}

QString message(const IrisError::ResponseErrorReason& reason)
{
    using Kind = IrisError::ResponseErrorReason::Kind;
    switch (reason.kind) {
    case Kind::invalidURLResponse:
        return QStringLiteral("The URL response is invalid: ") + reason.response.text;
    case Kind::invalidHTTPStatusCode:
        return QStringLiteral("The HTTP status code in response is invalid. Code: ")
            + QString::number(reason.statusCode) + QStringLiteral(", response: ") + reason.response.text
            + QLatin1Char('.');
    case Kind::URLSessionError:
        return QStringLiteral("A URL session error happened. The underlying error: ")
            + describeError(reason.error);
    case Kind::dataModifyingFailed:
        return QStringLiteral("The data modifying delegate returned `nil` for the downloaded data. Task: ")
            + reason.task.text + QLatin1Char('.');
    case Kind::noURLResponse:
        return QStringLiteral("No URL response received. Task: ") + reason.task.text + QLatin1Char('.');
    case Kind::cancelledByDelegate:
        return QStringLiteral("The downloading task is cancelled by the downloader delegate. Response: ")
            + reason.response.text + QLatin1Char('.');
    }
    return {};
}

QString message(const IrisError::CacheErrorReason& reason)
{
    using Kind = IrisError::CacheErrorReason::Kind;
    switch (reason.kind) {
    case Kind::fileEnumeratorCreationFailed:
        return QStringLiteral("Cannot create file enumerator for URL: ") + urlText(reason.url)
            + QLatin1Char('.');
    case Kind::invalidFileEnumeratorContent:
        return QStringLiteral("Cannot get contents from the file enumerator at URL: ") + urlText(reason.url)
            + QLatin1Char('.');
    case Kind::invalidURLResource:
        return QStringLiteral("Cannot get URL resource values or data for the given URL: ")
            + urlText(reason.url) + QStringLiteral(". Cache key: ") + reason.key
            + QStringLiteral(". Underlying error: ") + describeError(reason.error);
    case Kind::cannotLoadDataFromDisk:
        return QStringLiteral("Cannot load data from disk at URL: ") + urlText(reason.url)
            + QStringLiteral(". Underlying error: ") + describeError(reason.error);
    case Kind::cannotCreateDirectory:
        return QStringLiteral("Cannot create directory at given path: Path: ") + reason.path
            + QStringLiteral(". Underlying error: ") + describeError(reason.error);
    case Kind::imageNotExisting:
        return QStringLiteral(
                   "The image is not in cache, but you requires it should only be from cache by enabling "
                   "the `.onlyFromCache` option. Key: ")
            + reason.key + QLatin1Char('.');
    case Kind::cannotConvertToData:
        return QStringLiteral(
                   "Cannot convert the input object to a `Data` object when storing it to disk cache. "
                   "Object: ")
            + reason.object.text + QStringLiteral(". Underlying error: ") + describeError(reason.error);
    case Kind::cannotSerializeImage:
        return QStringLiteral(
                   "Cannot serialize an image due to the cache serializer returning `nil`. Image: ")
            + optionalText(reason.image ? std::optional<QString>(reason.image->text) : std::nullopt)
            + QStringLiteral(", original data: ")
            + optionalText(
                reason.original ? std::optional<QString>(dataText(*reason.original)) : std::nullopt)
            + QStringLiteral(", serializer: ") + reason.serializer.text + QLatin1Char('.');
    case Kind::cannotCreateCacheFile:
        return QStringLiteral("Cannot create cache file at url: ") + urlText(reason.url)
            + QStringLiteral(", key: ") + reason.key + QStringLiteral(", data length: ")
            + QString::number(reason.data.size()) + QStringLiteral(". Underlying foundation error: ")
            + describeError(reason.error) + QLatin1Char('.');
    case Kind::cannotSetCacheFileAttribute:
        return QStringLiteral("Cannot set file attribute for the cache file at path: ") + reason.path
            + QStringLiteral(", attributes: ") + attributesText(reason.attributes)
            + QStringLiteral(".Underlying foundation error: ") + describeError(reason.error)
            + QLatin1Char('.');
    case Kind::diskStorageIsNotReady:
        return QStringLiteral("The disk storage is not ready to use yet at URL: '") + urlText(reason.url)
            + QStringLiteral(
                "'. This is usually caused by extremely lack of disk space. Ask users to free up some "
                "space and restart the app.");
    }
    return {};
}

QString message(const IrisError::ProcessorErrorReason& reason)
{
    return QStringLiteral("Processing image failed. Processor: ") + reason.processor.text
        + QStringLiteral(". Processing item: ") + reason.item.text + QLatin1Char('.');
}

std::optional<QString> message(const IrisError::ImageSettingErrorReason& reason)
{
    using Kind = IrisError::ImageSettingErrorReason::Kind;
    switch (reason.kind) {
    case Kind::emptySource:
        return QStringLiteral("The input resource is empty.");
    case Kind::notCurrentSourceTask:
        if (reason.result)
            return QStringLiteral(
                       "Retrieving resource succeeded, but this source is not the one currently expected. "
                       "Result: ")
                + reason.result->text + QStringLiteral(". Resource: ") + reason.source.text
                + QLatin1Char('.');
        if (reason.error)
            return QStringLiteral(
                       "Retrieving resource failed, and this resource is not the one currently expected. "
                       "Error: ")
                + describeError(*reason.error) + QStringLiteral(". Resource: ") + reason.source.text
                + QLatin1Char('.');
        return std::nullopt;
    case Kind::dataProviderError:
        return QStringLiteral("Image data provider fails to provide data. Provider: ") + reason.provider.text
            + QStringLiteral(", error: ") + describeError(reason.error.value_or(platform::PlatformError {}));
    case Kind::alternativeSourcesExhausted: {
        QStringList pieces;
        if (reason.errors)
            for (const PropagationError& error : *reason.errors)
                pieces << propagationText(error);
        return QStringLiteral("Image setting from alternaive sources failed: [")
            + pieces.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> IrisError::errorDescription() const
{
    return std::visit([](const auto& reason) -> std::optional<QString> { return message(reason); }, m_reason);
}

QString IrisError::localizedDescription() const
{
    if (std::optional<QString> description = errorDescription())
        return *description;
    return QStringLiteral("The operation could not be completed. (") + platformErrorDomain()
        + QStringLiteral(" error ") + QString::number(errorCode()) + QStringLiteral(".)");
}

bool IrisError::isCancelledTask() const
{
    const RequestErrorReason* reason = requestReason();
    return reason && reason->kind == RequestErrorReason::Kind::taskCancelled;
}

bool IrisError::isInvalidResponseStatus() const
{
    const ResponseErrorReason* reason = responseReason();
    return reason && reason->kind == ResponseErrorReason::Kind::invalidHTTPStatusCode;
}

bool IrisError::isInvalidResponseStatusCode(int code) const
{
    return isInvalidResponseStatus() && responseReason()->statusCode == code;
}

bool IrisError::isNotCurrentTask() const
{
    const ImageSettingErrorReason* reason = imageSettingReason();
    return reason && reason->kind == ImageSettingErrorReason::Kind::notCurrentSourceTask;
}

bool IrisError::isLowDataConstrained() const
{
    const ResponseErrorReason* reason = responseReason();
    if (!reason || reason->kind != ResponseErrorReason::Kind::URLSessionError)
        return false;
    const platform::PlatformError& error = reason->error;
    return error.domain == urlErrorDomain && error.underlying
        && error.underlying->domain == networkUnavailableReasonDomain
        && error.underlying->code == static_cast<int>(NetworkUnavailableReason::constrained);
}

platform::PlatformError IrisError::toPlatformError() const
{
    return platform::PlatformError { platformErrorDomain(), errorCode(), localizedDescription(), nullptr };
}

} // namespace iris
