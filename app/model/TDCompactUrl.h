#pragma once

#include "platform/foundation/Url.h"

#include <QByteArray>
#include <QString>

// A record's URL, kept as its fully escaped text and parsed again on each read. A QUrl keeps each of
// its parts in a string of its own, six or seven times the text's size, and a library holds a dozen
// URLs per project. A URL that the text does not give back exactly (an invalid one) is kept whole.
class TDCompactUrl {
public:
    TDCompactUrl() = default;
    // Implicit, so that records take a Url wherever they did.
    TDCompactUrl(const platform::Url& url);

    // `url` as `platform::Url::fromString(text)` gave it, kept without parsing it again when `text`
    // is already its fully escaped form (as every URL a library file holds is).
    static TDCompactUrl fromParsed(const platform::Url& url, const QString& text);

    platform::Url url() const;
    // The same as `url().absoluteString()`, without parsing.
    QString absoluteString() const;

private:
    QByteArray m_text;
    // Only when `m_text` is empty.
    platform::Url m_whole;
};
