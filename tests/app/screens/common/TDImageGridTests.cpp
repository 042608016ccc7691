#include "../ScreenTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/screens/common/TDImageGrid.h"
#include "platform/graphics/Image.h"

#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>

#include <cmath>
#include <limits>

using apptest::LibraryRoot;

namespace {

// A grid in a window whose viewport is 960 wide, over records whose thumbnails (80 x 40) and
// copies lie in the library.
struct Grid {
    LibraryRoot root;
    QWidget window;
    TDImageGrid* grid = new TDImageGrid(&window);
    std::vector<QUrl> opened;

    Grid()
    {
        root.makeLibraryFolder();
        grid->setOpener([this](const QUrl& url) { opened.push_back(url); });
        grid->setGeometry(0, 0, 960 + grid->verticalScrollBar()->sizeHint().width(), 600);
        window.resize(grid->size());
        window.show();
        QCoreApplication::processEvents();
    }

    std::shared_ptr<TDMedia> record(int index = 0, QSize thumbnailSize = QSize(80, 40))
    {
        const auto id = platform::Uuid::random();
        const QString folder = root.library() + "/P/images/" + id.lowercaseString();
        QDir().mkpath(folder);
        QImage thumbnail(thumbnailSize, QImage::Format_RGB32);
        thumbnail.fill(index % 2 ? Qt::darkGreen : Qt::darkRed);
        EXPECT_TRUE(thumbnail.save(folder + "/thumbnail.jpg"));
        EXPECT_TRUE(thumbnail.save(folder + "/a.png"));
        return TDMedia::make(id, apptest::fileUrl(folder + "/a.png"),
            apptest::fileUrl(folder + "/thumbnail.jpg"), platform::Uuid::random());
    }
    std::vector<std::shared_ptr<TDMedia>> records(int count)
    {
        std::vector<std::shared_ptr<TDMedia>> list;
        for (int i = 0; i < count; ++i)
            list.push_back(record(i));
        return list;
    }
    bool loaded(TDImageGridCell* cell) const
    {
        return cell && cell->imageView() && cell->imageView()->binder()->loadedImage;
    }
};

} // namespace

// The count comes from the library file: whatever it holds, the grid keeps 1 to 12 columns, and
// the cells are W / N - 7.5 wide and W / N high.
TEST(TDImageGrid, CellsAreSizedByTheWidthAndTheColumnCountStaysInRange)
{
    const std::pair<double, int> counts[] = { { 0, 1 }, { -3, 1 }, { 1e308, 12 }, { 13, 12 }, { 6.9, 6 },
        { std::numeric_limits<double>::quiet_NaN(), 12 }, { -std::numeric_limits<double>::infinity(), 1 } };
    for (const auto& [stored, columns] : counts)
        EXPECT_EQ(TDImageGrid::columnsFor(stored), columns) << stored;

    Grid f;
    ASSERT_EQ(f.grid->layoutWidth(), 960);
    f.grid->setMedia(f.records(14));
    EXPECT_EQ(f.grid->columnCount(), 12);
    EXPECT_EQ(f.grid->cellRect(0).size(), QSizeF(72.5, 80));
    EXPECT_EQ(f.grid->cellRect(12).top(), f.grid->cellRect(0).bottom() + TDImageGrid::rowSpacing);
    f.grid->setColumnCount(6);
    EXPECT_EQ(f.grid->cellRect(0).size(), QSizeF(152.5, 160));
    EXPECT_EQ(f.grid->cellRect(6).top(), f.grid->cellRect(0).bottom() + TDImageGrid::rowSpacing);
    for (double stored : { 0.0, -3.0, 1e308, 13.0 }) {
        f.grid->setColumnCount(stored);
        QCoreApplication::processEvents();
        const QRectF last = f.grid->cellRect(13);
        EXPECT_TRUE(std::isfinite(last.bottom()) && last.width() > 0) << stored;
        EXPECT_LE(last.right(), 960);
    }
}

// A grid that all fits shows no scroll bar; one that does not shows it. The cells keep their size
// either way, so the bar coming or going never moves them.
TEST(TDImageGrid, TheScrollBarShowsOnlyWhenThereIsMoreToSee)
{
    Grid f;
    f.grid->setMedia(f.records(14));
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.grid->verticalScrollBar()->isVisible()) << "two rows fit in 600 pixels";
    EXPECT_EQ(f.grid->cellRect(0).size(), QSizeF(72.5, 80));

    f.grid->setMedia(f.records(120));
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.grid->verticalScrollBar()->isVisible());
    EXPECT_EQ(f.grid->cellRect(0).size(), QSizeF(72.5, 80));
    EXPECT_LE(f.grid->cellRect(11).right(), f.grid->viewport()->width()) << "no cell under the bar";
}

// Only the rows in view have cells, and their thumbnails load; scrolling builds the others and
// drops the ones left behind.
TEST(TDImageGrid, OnlyTheRowsInViewHaveCellsAndLoadTheirThumbnails)
{
    Grid f;
    f.grid->setMedia(f.records(400));
    const auto shown = f.grid->cells();
    EXPECT_GT(shown.size(), 12u);
    EXPECT_LT(shown.size(), 100u);
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const auto cells = f.grid->cells();
        return std::all_of(cells.begin(), cells.end(), [&](auto* cell) { return f.loaded(cell); });
    }));
    const auto first = f.grid->media().front()->id();
    EXPECT_TRUE(f.grid->cellFor(first));
    f.grid->verticalScrollBar()->setValue(f.grid->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.grid->cellFor(first));
    TDImageGridCell* last = f.grid->cellFor(f.grid->media().back()->id());
    ASSERT_TRUE(last);
    EXPECT_LE(last->geometry().bottom(), f.grid->viewport()->height());
    EXPECT_LT(f.grid->cells().size(), 100u);
}

// Scrolled far down, a wider window or a new column count keeps the same images at the top of the
// view instead of whatever lies at the old offset; the cells spring from where they stood on screen.
TEST(TDImageGrid, TheImagesInViewStayThereWhenTheWidthOrTheColumnsChange)
{
    Grid f;
    std::vector<std::shared_ptr<TDMedia>> records;
    for (int i = 0; i < 2000; ++i) {
        const auto id = platform::Uuid::random();
        const QString folder = f.root.library() + "/P/images/" + id.lowercaseString();
        records.push_back(TDMedia::make(id, apptest::fileUrl(folder + "/a.png"),
            apptest::fileUrl(folder + "/thumbnail.jpg"), platform::Uuid::random()));
    }
    f.grid->setMedia(records);
    // The row of image 600 starts 20 pixels above the view.
    const std::size_t anchor = 600;
    f.grid->verticalScrollBar()->setValue(int(f.grid->cellRect(int(anchor)).top() + 20));
    auto anchorPlace = [&] {
        TDImageGridCell* cell = f.grid->cellFor(records[anchor]->id());
        // Far off when it has no cell: it is out of view.
        return cell ? cell->geometry() : QRect(0, 100000, 80, 80);
    };
    ASSERT_NEAR(anchorPlace().top(), -20, 1);
    // The same share of a row and its spacing, rows being as high as the cells are wide apart.
    auto sameShare = [&] {
        const double pitch = anchorPlace().height() + TDImageGrid::rowSpacing;
        return -20 * pitch / (80 + TDImageGrid::rowSpacing);
    };

    // As far into its row as before.
    f.grid->resize(1900, 900);
    QCoreApplication::processEvents();
    EXPECT_NEAR(anchorPlace().top(), sameShare(), 3);
    f.grid->resize(700, 600);
    QCoreApplication::processEvents();
    EXPECT_NEAR(anchorPlace().top(), sameShare(), 3);

    const QRect before = anchorPlace();
    f.grid->setColumnCount(6);
    EXPECT_EQ(anchorPlace(), before) << "springs from its place";
    EXPECT_TRUE(testsupport::waitUntil([&] { return anchorPlace().width() > 2 * before.width(); }));
    EXPECT_NEAR(anchorPlace().top(), sameShare(), 3);

    f.grid->verticalScrollBar()->setValue(0);
    f.grid->setColumnCount(12);
    f.grid->resize(1200, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.grid->verticalScrollBar()->value(), 0) << "the top stays the top";
}

// A tap selects and opens; a tap on the selected image clears the outline and opens nothing; a
// tap on another moves the outline and opens that one. An address that is no image of the
// library (edited into the library file) is never handed to the desktop.
TEST(TDImageGrid, ATapSelectsAndOpensAndASecondTapClearsTheSelection)
{
    Grid f;
    auto records = f.records(2);
    auto stray
        = TDMedia::make(platform::Uuid::random(), *platform::Url::fromString("https://example.com/x.desktop"),
            apptest::fileUrl("/etc/hostname"), std::nullopt);
    records.push_back(stray);
    f.grid->setMedia(records);
    auto click = [&](const std::shared_ptr<TDMedia>& media) {
        TDImageGridCell* cell = f.grid->cellFor(media->id());
        ASSERT_TRUE(cell);
        QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
    };
    click(records[0]);
    EXPECT_EQ(f.grid->selectedTDMedia(), records[0]);
    EXPECT_TRUE(f.grid->cellFor(records[0]->id())->isSelected());
    ASSERT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.opened[0], records[0]->url().qUrl());
    TDImageGridCell* cell = f.grid->cellFor(records[0]->id());
    const QImage selected = cell->grab().toImage();
    const QColor edge = selected.pixelColor(0, selected.height() / 2);
    EXPECT_TRUE(edge.blue() > 150 && edge.red() < 100) << "the blue outline";

    click(records[0]);
    EXPECT_FALSE(f.grid->selectedTDMedia());
    EXPECT_EQ(f.opened.size(), 1u);
    click(records[1]);
    click(records[0]);
    EXPECT_EQ(f.grid->selectedTDMedia(), records[0]);
    EXPECT_FALSE(f.grid->cellFor(records[1]->id())->isSelected());
    EXPECT_EQ(f.opened.size(), 3u);

    click(stray);
    EXPECT_EQ(f.grid->selectedTDMedia(), stray);
    EXPECT_EQ(f.opened.size(), 3u) << "never opened";
    EXPECT_FALSE(f.grid->cellFor(stray->id())->imageView())
        << "a thumbnail outside the library is never read";
    EXPECT_FALSE(screentest::alertOn(&f.window));

    // A copy another program deleted meanwhile: the tap says so instead of doing nothing.
    ASSERT_TRUE(QFile::remove(records[1]->url().path()));
    click(records[1]);
    EXPECT_EQ(f.opened.size(), 3u);
    QMessageBox* alert = screentest::alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->informativeText(),
        QString::fromUtf8("\u201Ca.png\u201D is no longer in the project's folder."));
    screentest::closeAlert(alert);
}

// A library copied from elsewhere may name any file inside it as an image: a tap hands the desktop
// only what it takes for an image, which it then opens in an image viewer, never a launcher.
TEST(TDImageGrid, ATapOpensOnlyWhatTheDesktopTakesForAnImage)
{
    Grid f;
    auto named = [&](const QString& name, const QByteArray& content) {
        auto media = f.record();
        const QString path = QFileInfo(media->url().path()).dir().filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        media->setUrl(apptest::fileUrl(path));
        return media;
    };
    QFile png(f.record()->url().path());
    EXPECT_TRUE(png.open(QIODevice::ReadOnly));
    const QByteArray pngBytes = png.readAll();
    auto launcher = named("photo.jpg.desktop", "[Desktop Entry]\nType=Application\nExec=sh -c id\n");
    auto script = named("photo", "#!/bin/sh\nid\n");
    auto plainPhoto = named("scan", pngBytes);
    f.grid->setMedia({ launcher, script, plainPhoto });
    for (const auto& media : { launcher, script }) {
        TDImageGridCell* cell = f.grid->cellFor(media->id());
        ASSERT_TRUE(cell);
        QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
        EXPECT_TRUE(f.opened.empty()) << media->url().path().toStdString();
        QMessageBox* alert = screentest::alertOn(&f.window);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->informativeText(),
            QString::fromUtf8("\u201C%1\u201D is not an image file.").arg(media->url().lastPathComponent()));
        screentest::closeAlert(alert);
    }
    TDImageGridCell* cell = f.grid->cellFor(plainPhoto->id());
    QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
    ASSERT_EQ(f.opened.size(), 1u) << "a picture without an extension is told by its content";
    EXPECT_EQ(f.opened[0], plainPhoto->url().qUrl());
}

// Without a pointer: Tab puts a ring on the first image, the arrows move it a cell or a row and stop
// at the ends, End scrolls the last image into view, Return opens it and the menu key offers its
// "Delete". A click leaves no ring.
TEST(TDImageGrid, TheKeyboardMovesOpensAndDeletesTheCurrentImage)
{
    Grid f;
    auto records = f.records(100);
    f.grid->setMedia(records);
    std::vector<std::shared_ptr<TDMedia>> deleted;
    f.grid->setOnDelete([&](const auto& media) { deleted.push_back(media); });
    f.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    f.grid->clearFocus();
    f.grid->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(f.grid->currentIndex(), 0);
    auto ringShown = [&](int index) {
        TDImageGridCell* cell = f.grid->cellFor(records[std::size_t(index)]->id());
        if (!cell)
            return false;
        const QImage picture = cell->grab().toImage();
        const QColor ring = picture.pixelColor(4, picture.height() / 2);
        return ring.blue() > 150 && ring.red() < 100;
    };
    EXPECT_TRUE(ringShown(0));

    const std::pair<Qt::Key, int> moves[] = { { Qt::Key_Right, 1 }, { Qt::Key_Down, 13 }, { Qt::Key_Up, 1 },
        { Qt::Key_Left, 0 }, { Qt::Key_Left, 0 }, { Qt::Key_Up, 0 }, { Qt::Key_End, 99 },
        { Qt::Key_Down, 99 }, { Qt::Key_Home, 0 }, { Qt::Key_End, 99 } };
    for (const auto& [key, index] : moves) {
        QTest::keyClick(f.grid, key);
        EXPECT_EQ(f.grid->currentIndex(), index) << key;
    }
    EXPECT_TRUE(ringShown(99));
    // A menu or another window taking the focus for a while gives it back with the ring it had.
    for (const Qt::FocusReason reason : { Qt::PopupFocusReason, Qt::ActiveWindowFocusReason }) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QFocusEvent in(QEvent::FocusIn, reason);
        QCoreApplication::sendEvent(f.grid, &out);
        QCoreApplication::sendEvent(f.grid, &in);
        EXPECT_TRUE(ringShown(99)) << reason;
    }
    EXPECT_LE(f.grid->cellFor(records[99]->id())->geometry().bottom(), f.grid->viewport()->height())
        << "scrolled into view";

    QTest::keyClick(f.grid, Qt::Key_Return);
    EXPECT_EQ(f.grid->selectedTDMedia(), records[99]);
    ASSERT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.opened[0], records[99]->url().qUrl());

    QTimer::singleShot(0, [] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            ASSERT_EQ(menu->actions().size(), 1);
            menu->actions().front()->trigger();
            menu->close();
        }
    });
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint(), Qt::NoModifier);
    QCoreApplication::sendEvent(f.grid, &menuKey);
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0], records[99]);

    records.pop_back();
    f.grid->setMedia(records);
    EXPECT_EQ(f.grid->currentIndex(), 98) << "the next image left is the current one";

    QTest::mouseClick(f.grid->cellFor(records[98]->id()), Qt::LeftButton);
    EXPECT_FALSE(ringShown(98)) << "no ring after a click";
}

// In a right-to-left layout the first image sits at the right and the columns run leftwards, so
// Left moves to the next image as it does on screen.
TEST(TDImageGrid, ARightToLeftLayoutMirrorsTheColumnsAsItDoesTheArrowKeys)
{
    Grid f;
    auto records = f.records(14);
    f.grid->setMedia(records);
    f.grid->setLayoutDirection(Qt::RightToLeft);
    QCoreApplication::processEvents();
    auto cell = [&](int index) { return f.grid->cellFor(records[std::size_t(index)]->id())->geometry(); };
    const int width = f.grid->viewport()->width();
    // The room a hidden scroll bar leaves is on the left, where the bar comes.
    const double barRoom = width - f.grid->layoutWidth();
    EXPECT_NEAR(width - cell(0).right(), cell(11).left() - barRoom, 2) << "the row fills the grid, mirrored";
    EXPECT_GT(cell(0).left(), cell(1).left());
    EXPECT_EQ(cell(12).right(), cell(0).right()) << "the next row starts at the right too";

    f.grid->clearFocus();
    f.grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.grid, Qt::Key_Left);
    EXPECT_EQ(f.grid->currentIndex(), 1);
    EXPECT_LT(cell(1).left(), cell(0).left()) << "Left went left";

    f.grid->setLayoutDirection(Qt::LeftToRight);
    QCoreApplication::processEvents();
    EXPECT_LT(cell(0).left(), cell(1).left()) << "a change of direction lays the grid out again";
}

// Fill covers the cell with the thumbnail (cropped by the cell); fit shows all of it inside.
TEST(TDImageGrid, FillCoversTheCellAndFitShowsTheWholeThumbnail)
{
    Grid f;
    f.grid->setMedia(f.records(1));
    TDImageGridCell* cell = f.grid->cells().front();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.loaded(cell); }));
    ASSERT_EQ(cell->size(), QSize(73, 80));
    EXPECT_EQ(f.grid->contentMode(), TDImageGrid::ContentMode::fill);
    EXPECT_EQ(cell->imageFrame().size(), QSizeF(160, 80));
    auto isThumbnail
        = [](const QColor& pixel) { return pixel.alpha() == 255 && pixel.red() > 100 && pixel.green() < 50; };
    EXPECT_TRUE(testsupport::waitUntil([&] { return isThumbnail(cell->grab().toImage().pixelColor(36, 2)); }))
        << "thumbnail pixels reach the top";

    f.grid->setContentMode(TDImageGrid::ContentMode::fit);
    ASSERT_TRUE(testsupport::waitUntil([&] { return std::abs(cell->imageFrame().width() - 73) < 0.01; }));
    EXPECT_NEAR(cell->imageFrame().height(), 36.5, 0.01);
    EXPECT_GE(cell->imageFrame().top(), 0);
    EXPECT_FALSE(isThumbnail(cell->grab().toImage().pixelColor(36, 2)))
        << "above the thumbnail is the ground";
    EXPECT_TRUE(isThumbnail(cell->grab().toImage().pixelColor(36, 40)));
}

// The thumbnail of a long banner is one pixel across; fitted to a cell it is thinner still, and is
// shown a pixel thick rather than rounded away, whichever way it lies.
TEST(TDImageGrid, FitShowsASliverOfAPictureAtLeastOnePixelThick)
{
    for (const QSize thumbnail : { QSize(80, 1), QSize(1, 80) }) {
        SCOPED_TRACE(testing::Message() << thumbnail.width() << " x " << thumbnail.height());
        Grid f;
        f.grid->setContentMode(TDImageGrid::ContentMode::fit);
        f.grid->setMedia({ f.record(0, thumbnail) });
        TDImageGridCell* cell = f.grid->cells().front();
        ASSERT_TRUE(testsupport::waitUntil([&] { return f.loaded(cell); }));
        // The view is placed for the image's size once it is known, which may come after the load
        // is seen: its place is read again until its pixels show there.
        QRect shown;
        EXPECT_TRUE(testsupport::waitUntil([&] {
            shown = cell->imageView()->geometry();
            const QColor pixel = cell->grab().toImage().pixelColor(shown.center());
            return pixel.red() > 100 && pixel.green() < 50;
        })) << "the thumbnail's pixels are drawn";
        EXPECT_GE(shown.width(), 1);
        EXPECT_GE(shown.height(), 1);
        EXPECT_TRUE(shown.contains(36, 40)) << "centred in the 73 x 80 cell";
    }
}

// Return held down, or a triple click, opens the image once and leaves it selected.
TEST(TDImageGrid, AnImpatientClickOrAHeldKeyOpensTheImageOnce)
{
    Grid f;
    auto records = f.records(2);
    f.grid->setMedia(records);
    screentest::holdKey(f.grid, Qt::Key_Return, "\r");
    EXPECT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.grid->selectedTDMedia(), records[0]);

    f.opened.clear();
    screentest::quickClicks(f.grid->cellFor(records[1]->id()), 3);
    EXPECT_EQ(f.opened.size(), 1u);
    EXPECT_EQ(f.grid->selectedTDMedia(), records[1]);
}
