#pragma once

#include "app/model/TDCategory.h"
#include "platform/foundation/ObservationRegistrar.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QString>

#include <memory>
#include <vector>

// The category list, kept in the user defaults under "TDCategories". Main thread only.
class TDCategoryStore {
public:
    using CategoryList = std::vector<std::shared_ptr<TDCategory>>;

    static inline const QString defaultsKey = QStringLiteral("TDCategories");
    // Where an undecodable stored list is kept before a save replaces it.
    static inline const QString damagedDefaultsKey = QStringLiteral("TDCategories.damaged");

    // Starts with the result of `load()`.
    TDCategoryStore();

    // "Software", "Hardware", "Illustration", "Graphic design", "Music": made once per process, so
    // every call returns the same five objects, with ids that are the same at every launch.
    static const CategoryList& defaultCategories();

    // The stored list (possibly empty), or the defaults when none is stored or it does not decode.
    // Writes nothing.
    static CategoryList load();

    CategoryList tdCategories() const;
    void setTdCategories(CategoryList categories);

    // Writes the list to the user defaults now, with the one checked atomic write of every file the
    // program keeps: on failure (a full disk included) the old settings file stays as it was, the
    // list stays changed in memory, and the failure is printed to standard error and returned. A
    // stored value that does not decode is first kept under "TDCategories.damaged".
    platform::Result<platform::Success, platform::PlatformError> save();

    // Appends a category with a fresh id and `name`, then saves.
    platform::Result<platform::Success, platform::PlatformError> add(const QString& name);

    // Removes every category whose name equals `category`'s name (canonically equivalent Unicode
    // counts as equal), then saves; the list is assigned even when nothing matched.
    platform::Result<platform::Success, platform::PlatformError> remove(const TDCategory& category);

    // Appends, in their order, the default categories whose names are missing from the list (the
    // default records themselves), then saves, also when nothing was missing.
    platform::Result<platform::Success, platform::PlatformError> restoreDefaults();

private:
    CategoryList m_tdCategories;
    platform::ObservationRegistrar m_registrar;
};
