#include "platform/ui/Pasteboard.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace platform {

namespace {

std::unique_ptr<QMimeData> copyOf(const QMimeData& data)
{
    auto copy = std::make_unique<QMimeData>();
    for (const QString& format : data.formats())
        copy->setData(format, data.data(format));
    return copy;
}

const QString utf8PlainText = QStringLiteral("text/plain;charset=utf-8");

// The charset a "text/plain;charset=..." type names, or none for another type.
std::optional<QByteArray> plainTextCharset(const QString& format)
{
    const QList<QStringView> parts = QStringView(format).split(u';');
    if (parts.size() < 2 || parts.front().trimmed().compare(u"text/plain", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    for (const QStringView part : parts.sliced(1)) {
        const QStringView parameter = part.trimmed();
        if (!parameter.startsWith(u"charset=", Qt::CaseInsensitive))
            continue;
        QStringView charset = parameter.sliced(8);
        if (charset.size() >= 2 && charset.startsWith(u'"') && charset.endsWith(u'"'))
            charset = charset.sliced(1, charset.size() - 2);
        return charset.toLatin1();
    }
    return std::nullopt;
}

// Where plain text is: "text/plain" (or the URLs Qt gives as text), its UTF-8 form, and else
// "text/plain" in any other charset that can be decoded, as a program that does not speak UTF-8
// may offer only that.
std::optional<QString> plainTextFormat(const QMimeData& data)
{
    if (data.hasFormat(utf8PlainText) || data.hasText())
        return QString();
    for (const QString& format : data.formats()) {
        if (const auto charset = plainTextCharset(format);
            charset && QStringDecoder(charset->constData()).isValid())
            return format;
    }
    return std::nullopt;
}

// The text of an offer of addresses alone (files copied or dragged from a file manager): each
// address on a line of its own. Qt's own reading of the list as text would take in its comment
// lines, and a line that is no address as an empty line. None when the offer has text of its own.
std::optional<QString> addressesAsText(const QMimeData& data)
{
    const QStringList formats = data.formats();
    if (std::any_of(formats.begin(), formats.end(),
            [](const QString& format) { return format.startsWith(u"text/plain", Qt::CaseInsensitive); }))
        return std::nullopt;
    const QByteArray list = data.data(QStringLiteral("text/uri-list"));
    if (list.isEmpty())
        return std::nullopt;
    QString addresses;
    for (const QByteArray& line : list.split('\n')) {
        const QByteArray entry = line.trimmed();
        if (entry.isEmpty() || entry.startsWith('#'))
            continue;
        if (const QUrl url = QUrl::fromEncoded(entry); url.isValid())
            addresses += url.toDisplayString() + u'\n';
    }
    return addresses;
}

std::optional<QString> plainText(const QMimeData& data)
{
    if (auto addresses = addressesAsText(data))
        return addresses;
    const auto format = plainTextFormat(data);
    if (!format)
        return std::nullopt;
    if (format->isEmpty())
        return data.text();
    QStringDecoder decoder(plainTextCharset(*format)->constData());
    return decoder.decode(data.data(*format));
}

} // namespace

std::optional<Pasteboard::Kind> Pasteboard::kind(const QString& type)
{
    if (type == stringType || type == legacyStringType || type == QLatin1String("text/plain;charset=utf-8"))
        return Kind::string;
    if (type == rtfType || type == legacyRtfType || type == QLatin1String("application/rtf")
        || type == QLatin1String("text/richtext"))
        return Kind::rtf;
    return std::nullopt;
}

QStringList Pasteboard::mimeTypes(Kind kind)
{
    switch (kind) {
    case Kind::string:
        return { stringType, QStringLiteral("text/plain;charset=utf-8") };
    case Kind::rtf:
        return { rtfType, QStringLiteral("application/rtf"), QStringLiteral("text/richtext") };
    }
    return {};
}

Pasteboard& Pasteboard::general()
{
    static Pasteboard pasteboard(QClipboard::Clipboard);
    return pasteboard;
}

Pasteboard& Pasteboard::selection()
{
    static Pasteboard pasteboard(QClipboard::Selection);
    return pasteboard;
}

std::unique_ptr<Pasteboard> Pasteboard::reading(const QMimeData& data)
{
    return std::unique_ptr<Pasteboard>(new Pasteboard(&data, nullptr));
}

std::unique_ptr<Pasteboard> Pasteboard::writing(QMimeData& data)
{
    return std::unique_ptr<Pasteboard>(new Pasteboard(&data, &data));
}

Pasteboard::Pasteboard(QClipboard::Mode mode)
    : m_mode(mode)
{
}

Pasteboard::Pasteboard(const QMimeData* reading, QMimeData* writing)
    : m_reading(reading)
    , m_writing(writing)
{
}

Pasteboard::~Pasteboard() = default;

bool Pasteboard::isAvailable() const
{
    if (!m_mode)
        return true;
    if (*m_mode == QClipboard::Selection)
        return QGuiApplication::clipboard()->supportsSelection();
    return true;
}

bool Pasteboard::isWritable() const
{
    return m_writing || (m_mode && isAvailable());
}

const QMimeData* Pasteboard::source() const
{
    if (m_mode)
        return isAvailable() ? QGuiApplication::clipboard()->mimeData(*m_mode) : nullptr;
    return m_reading;
}

void Pasteboard::clearContents()
{
    if (m_writing) {
        m_writing->clear();
        return;
    }
    if (!m_mode || !isAvailable())
        return;
    m_pending = std::make_unique<QMimeData>();
    QGuiApplication::clipboard()->clear(*m_mode);
}

bool Pasteboard::setString(const QString& string, const QString& type)
{
    if (kind(type) != Kind::string)
        return false;
    return setData(string.toUtf8(), type);
}

bool Pasteboard::setData(const QByteArray& data, const QString& type)
{
    const auto dataKind = kind(type);
    if (!dataKind || !isWritable())
        return false;
    QMimeData* target = m_writing;
    if (!target) {
        if (!m_pending)
            m_pending = std::make_unique<QMimeData>();
        target = m_pending.get();
    }
    // Stored under the MIME type other programs look for first.
    if (*dataKind == Kind::string)
        target->setData(mimeTypes(Kind::string).front(), data);
    else
        target->setData(mimeTypes(Kind::rtf).front(), data);
    if (!m_writing)
        QGuiApplication::clipboard()->setMimeData(copyOf(*m_pending).release(), *m_mode);
    return true;
}

bool Pasteboard::canReadItemWithDataConformingToTypes(const QStringList& types) const
{
    const QMimeData* data = source();
    if (!data)
        return false;
    for (const QString& type : types) {
        const auto typeKind = kind(type);
        if (!typeKind)
            continue;
        if (*typeKind == Kind::string && plainTextFormat(*data))
            return true;
        for (const QString& mime : mimeTypes(*typeKind)) {
            if (data->hasFormat(mime))
                return true;
        }
    }
    return false;
}

std::optional<QString> Pasteboard::string(const QString& type) const
{
    const QMimeData* data = source();
    if (!data || kind(type) != Kind::string)
        return std::nullopt;
    return plainText(*data);
}

std::optional<QByteArray> Pasteboard::data(const QString& type) const
{
    const QMimeData* source = this->source();
    const auto typeKind = kind(type);
    if (!source || !typeKind)
        return std::nullopt;
    if (*typeKind == Kind::string) {
        const auto text = plainText(*source);
        if (!text)
            return std::nullopt;
        return text->toUtf8();
    }
    for (const QString& mime : mimeTypes(*typeKind)) {
        if (source->hasFormat(mime))
            return source->data(mime);
    }
    return std::nullopt;
}

QStringList Pasteboard::types() const
{
    const QMimeData* data = source();
    return data ? data->formats() : QStringList();
}

} // namespace platform
