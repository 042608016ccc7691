#include "platform/foundation/Url.h"

#include <QDir>
#include <QUtf8StringView>

#include <string>

namespace platform {

bool isSinglePathComponent(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

namespace {

bool namesLocalFile(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty() || !url.isLocalFile())
        return false;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return false;
    // Fully encoded, the path is ASCII: what its escapes hide is seen before it is decoded. A name
    // whose bytes are no UTF-8 would decode to other characters, and so to another file.
    const QString encoded = url.path(QUrl::FullyEncoded);
    if (!encoded.startsWith(QLatin1Char('/')))
        return false;
    if (!encoded.contains(QLatin1Char('%')))
        return true;
    if (encoded.contains(QLatin1String("%2F"), Qt::CaseInsensitive))
        return false;
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded.toLatin1());
    return !bytes.contains('\0') && QUtf8StringView(bytes).isValidUtf8();
}

} // namespace

Url::Url(QUrl url)
    : m_url(std::move(url))
    , m_localFile(namesLocalFile(m_url))
{
}

Url::Url(QUrl url, KnownLocal)
    : m_url(std::move(url))
    , m_localFile(m_url.isValid())
{
}

Url Url::fileUrl(const QString& absolutePath)
{
    if (absolutePath.isEmpty() || !absolutePath.startsWith(QLatin1Char('/'))
        || absolutePath.contains(QChar(0)))
        return Url();
    // One location, one text: "/a/b/" and "/a/b" name the same folder, and so do "//a/b" and "/a/b"
    // (QUrl would take "a" for a host).
    QString path = absolutePath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    while (path.startsWith(QLatin1String("//")))
        path.remove(0, 1);
    return Url(QUrl::fromLocalFile(path), KnownLocal::yes);
}

namespace {

// Whether `text` is a file URL made only of characters that need no correcting: unreserved and
// reserved ASCII other than brackets, and well-formed percent escapes. For such text QUrl's
// tolerant parser yields exactly what its strict one does, at half the cost; the library files
// hold thousands of these.
bool isPlainFileUrl(const QString& text)
{
    if (!text.startsWith(QLatin1String("file:///")))
        return false;
    auto isHex = [](char16_t c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    const char16_t* data = reinterpret_cast<const char16_t*>(text.constData());
    for (qsizetype i = 0, size = text.size(); i < size; ++i) {
        char16_t c = data[i];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            continue;
        if (c == '%') {
            if (i + 2 >= size || !isHex(data[i + 1]) || !isHex(data[i + 2]))
                return false;
            i += 2;
            continue;
        }
        if (c > 0x7F || !std::char_traits<char>::find("-._~!$&'()*+,;=:@/", 18, static_cast<char>(c)))
            return false;
    }
    return true;
}

} // namespace

std::optional<Url> Url::fromString(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    QUrl url(text, isPlainFileUrl(text) ? QUrl::TolerantMode : QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return Url(std::move(url));
}

QString Url::absoluteString() const
{
    if (!isValid())
        return QString();
    return m_url.toString(QUrl::FullyEncoded);
}

QString Url::path() const
{
    // Not toLocalFile(): that keeps a "localhost" host as "//localhost/...", another folder here.
    return isFileUrl() ? m_url.path(QUrl::FullyDecoded) : QString();
}

QStringList Url::pathComponents() const
{
    QString full = isFileUrl() ? path() : m_url.path(QUrl::FullyDecoded);
    QStringList components;
    if (full.startsWith(QLatin1Char('/')))
        components.append(QStringLiteral("/"));
    for (const QString& part : full.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components.append(part);
    return components;
}

QString Url::lastPathComponent() const
{
    QStringList components = pathComponents();
    return components.isEmpty() ? QString() : components.last();
}

Url Url::appendingPathComponent(const QString& component) const
{
    if (!isFileUrl() || !isSinglePathComponent(component))
        return Url();
    QString base = path();
    if (!base.endsWith(QLatin1Char('/')))
        base.append(QLatin1Char('/'));
    return fileUrl(base + component);
}

Url Url::deletingLastPathComponent() const
{
    if (!isFileUrl())
        return Url();
    QString base = path();
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    qsizetype slash = base.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return fileUrl(QStringLiteral("/"));
    return fileUrl(base.left(slash));
}

bool Url::isStrictlyInside(const Url& folder) const
{
    if (!isFileUrl() || !folder.isFileUrl())
        return false;
    QString inner = QDir::cleanPath(path());
    QString outer = QDir::cleanPath(folder.path());
    if (!outer.endsWith(QLatin1Char('/')))
        outer.append(QLatin1Char('/'));
    return inner.startsWith(outer) && inner.size() > outer.size();
}

} // namespace platform
