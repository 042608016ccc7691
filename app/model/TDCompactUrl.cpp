#include "app/model/TDCompactUrl.h"

namespace {

bool isAscii(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return false;
    }
    return true;
}

} // namespace

TDCompactUrl::TDCompactUrl(const platform::Url& url)
{
    QString text = url.absoluteString();
    if (!text.isEmpty() && isAscii(text)) {
        auto back = platform::Url::fromString(text);
        if (back && back->qUrl() == url.qUrl()) {
            m_text = text.toLatin1();
            return;
        }
    }
    m_whole = url;
}

TDCompactUrl TDCompactUrl::fromParsed(const platform::Url& url, const QString& text)
{
    if (text.isEmpty() || !isAscii(text) || url.absoluteString() != text)
        return TDCompactUrl(url);
    TDCompactUrl compact;
    compact.m_text = text.toLatin1();
    return compact;
}

platform::Url TDCompactUrl::url() const
{
    if (m_text.isEmpty())
        return m_whole;
    // Parses as it did when the text was kept, so the same URL comes back.
    return platform::Url::fromString(QString::fromLatin1(m_text)).value_or(platform::Url());
}

QString TDCompactUrl::absoluteString() const
{
    return m_text.isEmpty() ? m_whole.absoluteString() : QString::fromLatin1(m_text);
}
