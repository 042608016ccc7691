#include "../FocusTestSupport.h"
#include "../MenuTestSupport.h"
#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/model/TDMedia.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDMediaMasterView.h"
#include "app/screens/common/TDImageGrid.h"

#include <QMainWindow>
#include <QTimer>

namespace {

struct Page {
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QMainWindow window;
    NavigationView* view = nullptr;

    Page() { root.makeLibraryFolder(); }

    void show(NavigationType destination)
    {
        view = new NavigationView(stores);
        window.setCentralWidget(view);
        window.resize(1200, 700);
        window.show();
        view->select(destination);
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // An image of a project, its file and thumbnail in the project's folder.
    std::shared_ptr<TDMedia> image(const QString& name)
    {
        const QString folder = root.library() + "/Alpha/images/" + name;
        QDir().mkpath(folder);
        QImage picture(80, 60, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        EXPECT_TRUE(picture.save(folder + "/thumbnail.jpg"));
        EXPECT_TRUE(picture.save(folder + "/" + name));
        return TDMedia::make(platform::Uuid::random(), apptest::fileUrl(folder + "/" + name),
            apptest::fileUrl(folder + "/thumbnail.jpg"), platform::Uuid::random());
    }

    QStringList tabNames()
    {
        QStringList names;
        for (QWidget* stop : focustest::tabThrough(&window))
            names.append(focustest::accessibleName(stop));
        return names;
    }
};

} // namespace

// Each card is a stop that rings and is read out by its title and address; Return and Space open
// it.
TEST(LinksAndMediaKeyboard, TheLinksPageCardsRingAreNamedAndOpen)
{
    screentest::UrlRecorder desktop({ "https" });
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        Page f;
        f.stores.linkStore->setTdLinks({
            TDLink { QString("Brushes"), QString("Soft ones"), "https://example.com/brushes",
                platform::Uuid::random(), platform::Uuid::random() },
            TDLink { {}, {}, "https://example.com/bare", platform::Uuid::random(), platform::Uuid::random() },
        });
        f.show(NavigationType::links);
        EXPECT_EQ(f.tabNames(),
            QStringList(
                { "Sidebar", "Brushes, https://example.com/brushes", "No Title, https://example.com/bare" }));

        desktop.opened.clear();
        auto cards = f.window.findChildren<QAbstractButton*>("linkCard");
        ASSERT_EQ(cards.size(), 2);
        cards[1]->setFocus(Qt::TabFocusReason);
        QTest::keyClick(cards[1], Qt::Key_Return);
        QTest::keyClick(cards[1], Qt::Key_Space);
        EXPECT_EQ(desktop.opened,
            (QList<QUrl> { QUrl("https://example.com/bare"), QUrl("https://example.com/bare") }));
    }
}

// The grid is one stop named "Media" that rings its current image, which is read out by its file's
// name; Return opens the image and both menu keys open its menu.
TEST(LinksAndMediaKeyboard, TheMediaGridRingsIsNamedOpensAndShowsTheImagesMenu)
{
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        Page f;
        const std::vector<std::shared_ptr<TDMedia>> media { f.image("first.png"), f.image("second.png") };
        f.stores.mediaStore->setTdMedia(media);
        f.show(NavigationType::media);
        EXPECT_EQ(f.tabNames(), QStringList({ "Sidebar", "Media" }));

        auto* grid = f.window.findChild<TDImageGrid*>("mediaGrid");
        ASSERT_TRUE(grid);
        std::vector<QUrl> opened;
        grid->setOpener([&](const QUrl& url) { opened.push_back(url); });
        grid->setFocus(Qt::TabFocusReason);
        QTest::keyClick(grid, Qt::Key_Right);
        EXPECT_EQ(focustest::accessibleName(grid->cellFor(media[1]->id())), "second.png");
        QTest::keyClick(grid, Qt::Key_Return);
        EXPECT_EQ(opened, std::vector<QUrl> { media[1]->url().qUrl() });
        EXPECT_EQ(menutest::menuFrom([&] { QTest::keyClick(grid, Qt::Key_F10, Qt::ShiftModifier); }),
            QStringList({ "Delete" }));
        EXPECT_EQ(
            menutest::menuFrom([&] { QTest::keyClick(grid, Qt::Key_Menu); }), QStringList({ "Delete" }));
    }
}

// Deleting the last image from the keys leaves an empty page with no stop on it: the keys go on to
// the sidebar, as they do when the last link goes.
TEST(LinksAndMediaKeyboard, TheKeysGoToTheSidebarWhenTheLastImageGoes)
{
    Page f;
    f.stores.mediaStore->setTdMedia({ f.image("only.png") });
    f.show(NavigationType::media);
    auto* grid = f.window.findChild<TDImageGrid*>("mediaGrid");
    ASSERT_TRUE(grid);
    grid->setFocus(Qt::TabFocusReason);
    QTimer::singleShot(0, [] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            menu->actions().front()->trigger();
            menu->close();
        }
    });
    QTest::keyClick(grid, Qt::Key_Menu);
    auto* page = f.window.findChild<TDMediaMasterView*>("mediaMasterView");
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return page->savesInFlight() == 0 && f.stores.mediaStore->tdMedia().empty(); }));
    QCoreApplication::processEvents();
    // The window's own: a menu just closed may leave it inactive offscreen.
    ASSERT_TRUE(f.window.focusWidget());
    EXPECT_EQ(focustest::accessibleName(f.window.focusWidget()), "Sidebar");
}
