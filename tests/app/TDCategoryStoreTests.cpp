#include "LibraryTestSupport.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLibraryCoding.h"
#include "platform/foundation/UserDefaults.h"

using apptest::CapturedStream;
using apptest::LibraryRoot;

namespace {

QStringList names(const TDCategoryStore::CategoryList& list)
{
    QStringList result;
    for (const auto& category : list)
        result.append(category->name());
    return result;
}

std::optional<QByteArray> stored(const QString& key = TDCategoryStore::defaultsKey)
{
    return platform::UserDefaults::standard().data(key);
}

void store(const QByteArray& bytes)
{
    ASSERT_TRUE(platform::UserDefaults::standard().setData(TDCategoryStore::defaultsKey, bytes));
}

TDCategoryStore::CategoryList makeList(const QStringList& names)
{
    TDCategoryStore::CategoryList list;
    for (const QString& name : names)
        list.push_back(TDCategory::make(platform::Uuid::random(), name));
    return list;
}

} // namespace

TEST(TDCategoryStore, WithNothingStoredItUsesTheSameFiveDefaultsAndWritesNothing)
{
    LibraryRoot root;
    TDCategoryStore first;
    TDCategoryStore second;
    EXPECT_EQ(names(first.tdCategories()),
        (QStringList { "Software", "Hardware", "Illustration", "Graphic design", "Music" }));
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(first.tdCategories()[i], second.tdCategories()[i]) << "the very same objects";
    EXPECT_FALSE(stored());
    EXPECT_FALSE(QFile::exists(root.root() + "/settings.ini"));
}

TEST(TDCategoryStore, AStoredEmptyListStaysEmpty)
{
    LibraryRoot root;
    store("[]");
    EXPECT_TRUE(TDCategoryStore().tdCategories().empty());
}

TEST(TDCategoryStore, AddAppendsAndSaves)
{
    LibraryRoot root;
    TDCategoryStore categories;
    int changes = 0;
    platform::withObservationTracking([&] { (void)categories.tdCategories(); }, [&] { ++changes; });
    categories.add("Music");
    categories.add("");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(names(categories.tdCategories()).mid(5), (QStringList { "Music", "" }));
    auto back = tdlibrary::decodeCategories(*stored());
    ASSERT_TRUE(back);
    EXPECT_EQ(names(back.value()), names(categories.tdCategories()));
    EXPECT_EQ(back.value()[6]->id(), categories.tdCategories()[6]->id());
}

TEST(TDCategoryStore, DeleteRemovesEveryCanonicallyEqualNameAndKeepsOrder)
{
    LibraryRoot root;
    TDCategoryStore categories;
    QString composed = QString::fromUtf8("Caf\u00e9");
    QString decomposed = QString::fromUtf8("Cafe\u0301");
    categories.setTdCategories(makeList({ "Music", "A", composed, "Music", "B", "music" }));
    categories.remove(*TDCategory::make(platform::Uuid::random(), "Music"));
    EXPECT_EQ(names(categories.tdCategories()), (QStringList { "A", composed, "B", "music" }));
    categories.remove(*TDCategory::make(platform::Uuid::random(), decomposed));
    EXPECT_EQ(names(categories.tdCategories()), (QStringList { "A", "B", "music" }));
    EXPECT_EQ(names(tdlibrary::decodeCategories(*stored()).value()), (QStringList { "A", "B", "music" }));
}

TEST(TDCategoryStore, DeletingAnAbsentNameStillAssignsAndSaves)
{
    LibraryRoot root;
    TDCategoryStore categories;
    int changes = 0;
    platform::withObservationTracking([&] { (void)categories.tdCategories(); }, [&] { ++changes; });
    categories.remove(*TDCategory::make(platform::Uuid::random(), "Nothing like it"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(names(tdlibrary::decodeCategories(*stored()).value()).size(), 5);
}

TEST(TDCategoryStore, AnUndecodableStoredListIsKeptBeforeItIsReplaced)
{
    LibraryRoot root;
    QByteArray bad = R"([{"_id":"not-a-uuid","_name":"Mine"}])";
    store(bad);
    TDCategoryStore categories;
    EXPECT_EQ(names(categories.tdCategories()).size(), 5) << "the defaults, as nothing decodes";
    EXPECT_EQ(stored(), bad) << "loading writes nothing";
    CapturedStream err(stderr);
    categories.add("New");
    EXPECT_TRUE(err.take().contains("TDCategories.damaged"));
    EXPECT_EQ(stored(TDCategoryStore::damagedDefaultsKey), bad);
    EXPECT_TRUE(tdlibrary::decodeCategories(*stored()));
    categories.add("Newer");
    EXPECT_EQ(stored(TDCategoryStore::damagedDefaultsKey), bad)
        << "the kept copy is not overwritten by a good list";
}
