#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

namespace notetest {

// The value of the "URL" key, read the way another program reads a property list; empty when the
// file is not one.
inline QString urlFromPropertyList(const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    QStringList path;
    QString key, url;
    while (reader.readNext() != QXmlStreamReader::Invalid && !reader.atEnd()) {
        if (reader.isDTD() && !reader.dtdName().isEmpty() && reader.dtdName() != u"plist")
            return {};
        if (reader.isStartElement())
            path.append(reader.name().toString());
        if (reader.isEndElement())
            path.removeLast();
        if (reader.isCharacters() && path == QStringList { "plist", "dict", "key" })
            key = reader.text().toString();
        if (reader.isCharacters() && path == QStringList { "plist", "dict", "string" } && key == u"URL")
            url += reader.text().toString();
    }
    return reader.hasError() ? QString() : url;
}

} // namespace notetest
