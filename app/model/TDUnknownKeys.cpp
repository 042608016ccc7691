#include "app/model/TDUnknownKeys.h"

#include "app/model/TDJsonKeys.h"

#include <algorithm>

TDUnknownKeys TDUnknownKeys::of(const QJsonObject& object, std::initializer_list<QLatin1String> known)
{
    TDUnknownKeys unknown;
    const QString registrar = tdjson::registrarKey();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        if (key == registrar || std::find(known.begin(), known.end(), key) != known.end())
            continue;
        unknown.m_members.insert(key, it.value());
    }
    return unknown;
}

void TDUnknownKeys::writeJson(platform::JsonWriter& writer) const
{
    for (auto it = m_members.begin(); it != m_members.end(); ++it) {
        writer.key(it.key());
        writer.json(it.value());
    }
}
