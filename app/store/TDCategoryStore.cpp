#include "app/store/TDCategoryStore.h"

#include "app/store/TDLibraryCoding.h"
#include "platform/foundation/Print.h"
#include "platform/foundation/UserDefaults.h"

#include <QCryptographicHash>

#include <algorithm>

using platform::PlatformError;
using platform::Result;
using platform::Success;

namespace {

// A default category's id is derived from its name (a name-based, version 5 identifier), so it is
// the same at every launch: a project that took a default category still finds it, and the in-use
// test still sees it, after a restart.
platform::Uuid defaultCategoryId(const char* name)
{
    QByteArray digest = QCryptographicHash::hash(
        QByteArrayLiteral("org.tindrel.default-category:") + name, QCryptographicHash::Sha1);
    platform::Uuid::Bytes bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(digest[qsizetype(i)]);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x50);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    return platform::Uuid(bytes);
}

// The stored list: the byte array this program writes, else the entry as the file spells it (a
// list written into the file by hand loads as well; anything else of that key does not decode, and
// so is kept aside before a save replaces it).
std::optional<QByteArray> storedList(const platform::UserDefaults& defaults)
{
    if (auto data = defaults.data(TDCategoryStore::defaultsKey))
        return data;
    return defaults.storedText(TDCategoryStore::defaultsKey);
}

} // namespace

TDCategoryStore::TDCategoryStore()
    : m_tdCategories(load())
{
}

const TDCategoryStore::CategoryList& TDCategoryStore::defaultCategories()
{
    static const CategoryList* categories = [] {
        auto* list = new CategoryList;
        for (const char* name : { "Software", "Hardware", "Illustration", "Graphic design", "Music" })
            list->push_back(TDCategory::make(defaultCategoryId(name), QString::fromUtf8(name)));
        return list;
    }();
    return *categories;
}

TDCategoryStore::CategoryList TDCategoryStore::load()
{
    auto stored = storedList(platform::UserDefaults::standard());
    if (!stored)
        return defaultCategories();
    auto decoded = tdlibrary::decodeCategories(*stored);
    if (!decoded)
        return defaultCategories();
    return std::move(decoded).value();
}

TDCategoryStore::CategoryList TDCategoryStore::tdCategories() const
{
    m_registrar.access("tdCategories");
    return m_tdCategories;
}

void TDCategoryStore::setTdCategories(CategoryList categories)
{
    m_registrar.withMutation("tdCategories", [&] { m_tdCategories = std::move(categories); });
}

Result<Success, PlatformError> TDCategoryStore::save()
{
    auto encoded = tdlibrary::encodeCategories(tdCategories());
    if (!encoded) {
        platform::printError(
            QStringLiteral("Could not save the category list: %1").arg(encoded.error().description));
        return Result<Success, PlatformError>::failure(encoded.error());
    }
    auto defaults = platform::UserDefaults::standard();
    auto stored = storedList(defaults);
    if (stored && !tdlibrary::decodeCategories(*stored)) {
        auto kept = defaults.setData(damagedDefaultsKey, *stored);
        if (!kept) {
            platform::printError(
                QStringLiteral("Could not keep the unreadable category list aside, so it was not "
                               "replaced: %1")
                    .arg(kept.error().description));
            return kept;
        }
        platform::printError(
            QStringLiteral("The stored category list could not be read; it was kept as \"%1\".")
                .arg(damagedDefaultsKey));
    }
    auto written = defaults.setData(defaultsKey, encoded.value());
    if (!written)
        platform::printError(
            QStringLiteral("Could not save the category list: %1").arg(written.error().description));
    return written;
}

Result<Success, PlatformError> TDCategoryStore::add(const QString& name)
{
    auto categories = tdCategories();
    categories.push_back(TDCategory::make(platform::Uuid::random(), name));
    setTdCategories(std::move(categories));
    return save();
}

Result<Success, PlatformError> TDCategoryStore::remove(const TDCategory& category)
{
    QString name = category.name().normalized(QString::NormalizationForm_C);
    auto categories = tdCategories();
    std::erase_if(categories, [&](const std::shared_ptr<TDCategory>& element) {
        return element->name().normalized(QString::NormalizationForm_C) == name;
    });
    setTdCategories(std::move(categories));
    return save();
}

Result<Success, PlatformError> TDCategoryStore::restoreDefaults()
{
    for (const auto& preset : defaultCategories()) {
        auto categories = tdCategories();
        const QString name = preset->name().normalized(QString::NormalizationForm_C);
        bool present = std::any_of(categories.begin(), categories.end(), [&](const auto& category) {
            return category->name().normalized(QString::NormalizationForm_C) == name;
        });
        if (present)
            continue;
        categories.push_back(preset);
        setTdCategories(std::move(categories));
    }
    return save();
}
