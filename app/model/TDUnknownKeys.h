#pragma once

#include "platform/foundation/JsonWriter.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1String>
#include <QString>

#include <initializer_list>

// The keys of a record's JSON object that this program does not know, with their values as read.
// A save writes them back, so a library file that a later version wrote keeps what only that
// version reads. Never changed once read: copies share it, also across threads.
class TDUnknownKeys {
public:
    // The keys of `object` that are not `known`; the registrar's key is never kept, as every
    // record writes its own.
    static TDUnknownKeys of(const QJsonObject& object, std::initializer_list<QLatin1String> known);

    // A later value of the same key replaces the earlier, as a JSON document reads it.
    void insert(const QString& key, const QJsonValue& value) { m_members.insert(key, value); }

    // Each key and its value, into the object being written.
    void writeJson(platform::JsonWriter& writer) const;

private:
    QJsonObject m_members;
};
