#pragma once

#include "app/model/TDCategory.h"
#include "app/model/TDCompactUrl.h"
#include "app/model/TDNote.h"
#include "app/model/TDStatus.h"
#include "app/model/TDUnknownKeys.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/Url.h"
#include "platform/foundation/Uuid.h"

#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

// A creative project with its notes. Identified by `id`; it defines no equality of its own.
class TDProject {
public:
    static constexpr double defaultImageColumnCount = 12;

    struct Fields {
        QString name;
        std::shared_ptr<TDCategory> category;
        platform::Uuid id;
        std::vector<TDCompactUrl> quickAccessURL;
        TDStatus status = TDStatus::inProgress;
        std::vector<std::shared_ptr<TDNote>> tdNote;
        bool isFavorite = false;
        platform::Date startDate;
        double imageColumnCount = defaultImageColumnCount;
        std::optional<TDCompactUrl> coverImageURL;
        TDUnknownKeys unknownKeys;
    };

    explicit TDProject(Fields fields);
    static std::shared_ptr<TDProject> make(Fields fields);

    platform::Uuid id() const { return m_id; }

    QString name() const;
    void setName(QString name);
    std::shared_ptr<TDCategory> category() const;
    void setCategory(std::shared_ptr<TDCategory> category);
    std::vector<platform::Url> quickAccessURL() const;
    void setQuickAccessURL(std::vector<platform::Url> urls);
    TDStatus status() const;
    void setStatus(TDStatus status);
    std::vector<std::shared_ptr<TDNote>> tdNote() const;
    // The note at `index` of `tdNote`, or null out of range; read as `tdNote()` is, without a copy
    // of the list.
    std::shared_ptr<TDNote> tdNoteAt(int index) const;
    // `tdNote` read in place, without a copy of the list: valid until the list is next set.
    std::span<const std::shared_ptr<TDNote>> tdNoteInPlace() const;
    void setTdNote(std::vector<std::shared_ptr<TDNote>> notes);
    bool isFavorite() const;
    void setIsFavorite(bool isFavorite);
    platform::Date startDate() const;
    void setStartDate(platform::Date date);
    double imageColumnCount() const;
    // A count that is not finite is ignored (the old count stays): one NaN would otherwise make
    // every later save of the library fail.
    void setImageColumnCount(double count);
    std::optional<platform::Url> coverImageURL() const;
    void setCoverImageURL(std::optional<platform::Url> url);

    // A copy whose category and notes are copies too, shared with nothing: it may be encoded on
    // another thread while the main thread changes this one.
    std::shared_ptr<TDProject> detachedCopy() const;

    // Fails only for a column count that is not finite.
    platform::Result<platform::Success, platform::PlatformError> writeJson(
        platform::JsonWriter& writer) const;
    static platform::Result<std::shared_ptr<TDProject>, platform::PlatformError> fromJson(
        const QJsonObject& object);

private:
    QString m_name;
    std::shared_ptr<TDCategory> m_category;
    const platform::Uuid m_id;
    std::vector<TDCompactUrl> m_quickAccessURL;
    TDStatus m_status;
    std::vector<std::shared_ptr<TDNote>> m_tdNote;
    bool m_isFavorite;
    platform::Date m_startDate;
    double m_imageColumnCount;
    std::optional<TDCompactUrl> m_coverImageURL;
    const TDUnknownKeys m_unknownKeys;
    platform::ObservationRegistrar m_registrar;
};
