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

// A list written into the settings file by hand, not as the byte array this program writes, loads
// as it reads; a value of that key that does not read as a list (a quoted string) is kept as it
// was written before a save replaces it.
TEST(TDCategoryStore, AListWrittenByHandLoadsAndAnotherValueIsKeptBeforeItIsReplaced)
{
    const QByteArray list = R"([{"_id": "5f0c1b7e-2a1d-4c3b-9e8f-0a1b2c3d4e5f", "_name": "Mine"}])";
    for (const QByteArray& written : { list, '"' + list + '"' }) {
        SCOPED_TRACE(written.constData());
        LibraryRoot root;
        QFile file(root.root() + "/settings.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nTDCategories=" + written + "\n");
        file.close();
        TDCategoryStore categories;
        const bool byHand = written == list;
        EXPECT_EQ(names(categories.tdCategories()),
            byHand ? QStringList { "Mine" } : names(TDCategoryStore::defaultCategories()));
        CapturedStream err(stderr);
        categories.add("New");
        EXPECT_EQ(err.take().contains("TDCategories.damaged"), !byHand);
        EXPECT_EQ(
            stored(TDCategoryStore::damagedDefaultsKey), byHand ? std::nullopt : std::optional(written));
        auto saved = tdlibrary::decodeCategories(*stored());
        ASSERT_TRUE(saved);
        EXPECT_EQ(names(saved.value()).back(), "New");
    }
}
