#include "../ScreenTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/screens/browser/TDMediaMasterView.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/common/TDImageGrid.h"

#include <QAction>
#include <QScrollBar>

using apptest::LibraryRoot;

namespace {

// The Media page over a library whose images' files lie in two projects' folders.
struct Media {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    TDMediaMasterView* view = nullptr;
    std::vector<QUrl> opened;

    Media() { root.makeLibraryFolder(); }
    ~Media()
    {
        if (view) {
            EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
        }
        delete view;
    }
    void show()
    {
        view = new TDMediaMasterView(stores);
        view->grid()->setOpener([this](const QUrl& url) { opened.push_back(url); });
        view->resize(960 + view->grid()->verticalScrollBar()->sizeHint().width(), 600);
        view->show();
        QCoreApplication::processEvents();
    }
    std::shared_ptr<TDMedia> record(const QString& project)
    {
        const auto id = platform::Uuid::random();
        const QString folder = root.library() + "/" + project + "/images/" + id.lowercaseString();
        QDir().mkpath(folder);
        QImage picture(80, 60, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        EXPECT_TRUE(picture.save(folder + "/thumbnail.jpg"));
        EXPECT_TRUE(picture.save(folder + "/p.png"));
        return TDMedia::make(id, apptest::fileUrl(folder + "/p.png"),
            apptest::fileUrl(folder + "/thumbnail.jpg"), platform::Uuid::random());
    }
};

} // namespace

// Every project's images, in the order they were added, twelve to a row, filling their cells; the
// page follows the store as images come and go. Deleting the selected image saves the media and
// leaves the selection on the removed record, which no cell outlines; with no image left, only the
// panel shows.
TEST(TDMediaMasterView, FollowsTheStoreInItsOrderTwelveColumnsFilling)
{
    Media f;
    auto a = f.record("Alpha"), b = f.record("Beta"), c = f.record("Alpha");
    f.stores.mediaStore->setTdMedia({ a, b });
    f.show();
    EXPECT_FALSE(f.view->showsEmptyState());
    EXPECT_EQ(f.view->grid()->columnCount(), 12);
    EXPECT_EQ(f.view->grid()->contentMode(), TDImageGrid::ContentMode::fill);
    EXPECT_EQ(f.view->grid()->cellRect(0).size(), QSizeF(72.5, 80));
    f.stores.mediaStore->setTdMedia({ a, b, c });
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->grid()->cells().size() == 3; }));
    EXPECT_EQ(f.view->grid()->media(), (std::vector<std::shared_ptr<TDMedia>> { a, b, c }));

    TDImageGridCell* cell = f.view->grid()->cellFor(a->id());
    QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
    EXPECT_EQ(f.opened.size(), 1u);
    cell->actions().front()->trigger();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return f.view->savesInFlight() == 0 && f.view->grid()->cells().size() == 2; }));
    EXPECT_EQ(f.view->selectedTDMedia(), a);
    EXPECT_FALSE(f.view->grid()->cells().front()->isSelected());
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("media.library")).array().size(), 2);

    f.stores.mediaStore->setTdMedia({});
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.view->showsEmptyState(); }));
    EXPECT_FALSE(f.view->grid()->isVisible());
    EXPECT_EQ(f.view->emptyState()->title(), "No media found");
    EXPECT_EQ(f.view->emptyState()->description(),
        "Oops! looks like there is no project. Try to make one for your creative journey.");
}

// The keys stay on their image while others go: one deleted with the mouse before it, or a whole
// project's images at once. Only when their own image goes do they move on to the one after it.
TEST(TDMediaMasterView, TheKeysStayOnTheirImageWhenOthersGo)
{
    Media f;
    std::vector<std::shared_ptr<TDMedia>> records;
    for (int i = 0; i < 30; ++i)
        records.push_back(f.record(i % 3 == 0 ? "Alpha" : "Beta"));
    f.stores.mediaStore->setTdMedia(records);
    f.show();
    f.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.view));
    TDImageGrid* grid = f.view->grid();
    grid->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 14; ++i)
        QTest::keyClick(grid, Qt::Key_Right);
    ASSERT_EQ(grid->currentIndex(), 14);
    auto current = [&] { return grid->media()[std::size_t(grid->currentIndex())]; };
    const auto kept = records[14];

    TDImageGridCell* other = grid->cellFor(records[4]->id());
    ASSERT_TRUE(other);
    other->actions().front()->trigger();
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return f.view->savesInFlight() == 0 && grid->media().size() == 29; }));
    EXPECT_EQ(current(), kept) << "a deleted image before it";

    // Alpha goes with its images.
    std::vector<std::shared_ptr<TDMedia>> beta;
    for (const auto& media : grid->media()) {
        if (media->url().path().contains("/Beta/"))
            beta.push_back(media);
    }
    f.stores.mediaStore->setTdMedia(beta);
    ASSERT_TRUE(testsupport::waitUntil([&] { return grid->media().size() == beta.size(); }));
    EXPECT_EQ(current(), kept) << "a project's images gone";

    const int place = grid->currentIndex();
    auto rest = beta;
    rest.erase(rest.begin() + place);
    f.stores.mediaStore->setTdMedia(rest);
    ASSERT_TRUE(testsupport::waitUntil([&] { return grid->media().size() == rest.size(); }));
    EXPECT_EQ(grid->currentIndex(), place) << "its own image gone, the next one takes its place";
}
