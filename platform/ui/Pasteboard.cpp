#include "platform/ui/Pasteboard.h"

#include <QGuiApplication>
#include <QMimeData>

namespace platform {

namespace {

std::unique_ptr<QMimeData> copyOf(const QMimeData& data)
{
    auto copy = std::make_unique<QMimeData>();
    for (const QString& format : data.formats())
        copy->setData(format, data.data(format));
    return copy;
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
        target->setText(QString::fromUtf8(data));
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
        if (*typeKind == Kind::string && data->hasText())
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
    if (!data || kind(type) != Kind::string || !data->hasText())
        return std::nullopt;
    return data->text();
}

std::optional<QByteArray> Pasteboard::data(const QString& type) const
{
    const QMimeData* source = this->source();
    const auto typeKind = kind(type);
    if (!source || !typeKind)
        return std::nullopt;
    if (*typeKind == Kind::string) {
        if (!source->hasText())
            return std::nullopt;
        return source->text().toUtf8();
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
