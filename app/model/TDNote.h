#pragma once

#include "app/model/TDCompactUrl.h"
#include "app/model/TDUnknownKeys.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

// One note of a project. Equal (and hashed) by `id` alone; a note window is keyed by it.
class TDNote {
public:
    // Told of every change of a note's date once the new date is stored, with the date it
    // replaced, for as long as it lives. A list kept in date order follows the one note that moved
    // through this, rather than observing the date of each of its thousands of notes. Main thread
    // only; a watch's callback neither makes nor destroys watches.
    class DateWatch {
    public:
        using OnChange = std::function<void(const TDNote& note, platform::Date previous)>;
        explicit DateWatch(OnChange onChange);
        ~DateWatch();
        DateWatch(const DateWatch&) = delete;
        DateWatch& operator=(const DateWatch&) = delete;

    private:
        friend class TDNote;
        OnChange m_onChange;
    };

    TDNote(platform::Uuid id, platform::Uuid tdProjectId, QString title, TDCompactUrl contentURL,
        platform::Date date, TDUnknownKeys unknownKeys = {});
    static std::shared_ptr<TDNote> make(platform::Uuid id, platform::Uuid tdProjectId, QString title,
        TDCompactUrl contentURL, platform::Date date, TDUnknownKeys unknownKeys = {});

    platform::Uuid id() const { return m_id; }
    platform::Uuid tdProjectId() const { return m_tdProjectId; }

    QString title() const;
    void setTitle(QString title);
    platform::Url contentURL() const;
    void setContentURL(platform::Url url);
    platform::Date date() const;
    void setDate(platform::Date date);
    // The date, not recorded by the observation scope in progress: for a reader that follows the
    // date's changes through a DateWatch.
    platform::Date unobservedDate() const { return m_date; }

    void writeJson(platform::JsonWriter& writer) const;
    static platform::Result<std::shared_ptr<TDNote>, platform::PlatformError> fromJson(
        const QJsonObject& object);

    friend bool operator==(const TDNote& a, const TDNote& b) { return a.m_id == b.m_id; }

private:
    const platform::Uuid m_id;
    const platform::Uuid m_tdProjectId;
    QString m_title;
    TDCompactUrl m_contentURL;
    platform::Date m_date;
    const TDUnknownKeys m_unknownKeys;
    platform::ObservationRegistrar m_registrar;
};

template<> struct std::hash<TDNote> {
    std::size_t operator()(const TDNote& note) const noexcept
    {
        return std::hash<platform::Uuid>()(note.id());
    }
};
