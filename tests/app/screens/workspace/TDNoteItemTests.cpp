#include "../ScreenTestSupport.h"
#include "app/model/TDNote.h"
#include "app/screens/workspace/TDNoteItem.h"

#include <QWidgetItem>

namespace {

constexpr double someDay = 8e8;
// Too far off to show a day.
constexpr double farOff = -1e300;

// The height a column's layout gives the row.
int laidOutHeight(TDNoteItem& row)
{
    row.ensurePolished();
    QWidgetItem item(&row);
    return item.hasHeightForWidth() ? item.heightForWidth(300) : item.sizeHint().height();
}

} // namespace

// The notes column gives every row with a day one height and every row without one another: a row
// whose note's date changes is as high as a row built for the new date, whichever way it goes.
TEST(TDNoteItem, ARowWhoseDateChangesIsAsHighAsOneBuiltForTheNewDate)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
    auto note = [&](double date) {
        return TDNote::make(platform::Uuid::random(), project->id(), "Note",
            apptest::fileUrl(root.library() + "/x.txt"), platform::Date(date));
    };
    const std::vector<std::vector<double>> journeys = { { someDay, farOff }, { farOff, someDay },
        { someDay, farOff, someDay }, { farOff, someDay, farOff } };
    for (const auto& dates : journeys) {
        QWidget ground;
        auto changing = note(dates.front());
        TDNoteItem row(changing, project, stores, &ground);
        ground.show();
        for (std::size_t i = 1; i < dates.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "step " << i << " of a journey from " << dates.front());
            changing->setDate(platform::Date(dates[i]));
            const bool showsDay = TDNoteItem::showsDay(platform::Date(dates[i]));
            ASSERT_TRUE(testsupport::waitUntil([&] { return row.dayText().isEmpty() != showsDay; }));
            TDNoteItem fresh(note(dates[i]), project, stores, &ground);
            fresh.show();
            EXPECT_EQ(laidOutHeight(row), laidOutHeight(fresh));
        }
    }
}
