#include "../FocusTestSupport.h"
#include "../MenuTestSupport.h"
#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/model/TDMedia.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDMediaMasterView.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDImageGrid.h"
#include "app/screens/common/TDLinkCard.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>

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

// The arrows, Home, End and the page keys move the keys through the link cards, each brought into
// view and ringed, and never past either end into the sidebar, where the next arrow would change
// the page. Tab into a scrolled list lands on a card in view.
TEST(LinksAndMediaKeyboard, TheListKeysMoveThroughTheLinkCardsInViewAndStayInTheList)
{
    Page f;
    std::vector<TDLink> links;
    for (int i = 0; i < 40; ++i)
        links.push_back(TDLink { QString("L%1").arg(i), QString("About %1").arg(i),
            QString("https://example.com/%1").arg(i), platform::Uuid::random(), platform::Uuid::random() });
    f.stores.linkStore->setTdLinks(links);
    f.show(NavigationType::links);
    auto* list = f.window.findChild<QAbstractScrollArea*>("linkList");
    ASSERT_TRUE(list);
    auto focusedTitle = [&] {
        auto* card = dynamic_cast<TDLinkCard*>(QApplication::focusWidget());
        if (!card)
            return focustest::accessibleName(QApplication::focusWidget());
        EXPECT_TRUE(list->viewport()->rect().contains(card->geometry())) << card->titleText().toStdString();
        EXPECT_TRUE(tdfocusring::isShown(card)) << card->titleText().toStdString();
        return card->titleText();
    };

    f.view->sidebar()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.view->sidebar(), Qt::Key_Tab);
    ASSERT_EQ(focusedTitle(), "L0");
    const std::vector<std::pair<Qt::Key, QString>> steps { { Qt::Key_Up, "L0" }, { Qt::Key_Left, "L0" },
        { Qt::Key_Down, "L1" }, { Qt::Key_Right, "L2" }, { Qt::Key_Up, "L1" }, { Qt::Key_End, "L39" },
        { Qt::Key_Down, "L39" }, { Qt::Key_PageDown, "L39" }, { Qt::Key_Home, "L0" } };
    for (const auto& [key, title] : steps) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(focusedTitle(), title) << QKeySequence(key).toString().toStdString();
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
    const int page = focusedTitle().mid(1).toInt();
    EXPECT_GT(page, 3);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp);
    EXPECT_EQ(focusedTitle(), "L0");
    EXPECT_EQ(f.view->selectedNavigationItem(), NavigationType::links);

    for (Qt::KeyboardModifiers backwards : { Qt::NoModifier, Qt::ShiftModifier }) {
        f.view->sidebar()->setFocus(Qt::TabFocusReason);
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 2);
        QCoreApplication::processEvents();
        QTest::keyClick(f.view->sidebar(), Qt::Key_Tab, backwards);
        EXPECT_NE(focusedTitle(), "L0");
    }
}

// A screen reader hears the grid as a list of images named by their files: the one the keys act on
// is its focused item, a tapped one selected, and an item's press and menu actions do what Return
// and the menu key do.
TEST(LinksAndMediaKeyboard, AScreenReaderHearsTheMediaGridAsAListOfNamedImages)
{
    Page f;
    const std::vector<std::shared_ptr<TDMedia>> media { f.image("first.png"), f.image("second.png") };
    f.stores.mediaStore->setTdMedia(media);
    f.show(NavigationType::media);
    auto* grid = f.window.findChild<TDImageGrid*>("mediaGrid");
    ASSERT_TRUE(grid);
    std::vector<QUrl> opened;
    grid->setOpener([&](const QUrl& url) { opened.push_back(url); });
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(grid);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), "Media");

    grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grid, Qt::Key_Right);
    QAccessibleInterface* first = QAccessible::queryAccessibleInterface(grid->cellFor(media[0]->id()));
    QAccessibleInterface* second = QAccessible::queryAccessibleInterface(grid->cellFor(media[1]->id()));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->role(), QAccessible::ListItem);
    EXPECT_EQ(second->text(QAccessible::Name), "second.png");
    EXPECT_TRUE(second->state().focusable && second->state().focused);
    EXPECT_FALSE(first->state().focused);
    EXPECT_EQ(list->focusChild(), second);

    ASSERT_TRUE(first->actionInterface());
    first->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(opened, std::vector<QUrl> { media[0]->url().qUrl() });
    EXPECT_TRUE(first->state().selected && first->state().focused);
    EXPECT_FALSE(second->state().selected || second->state().focused);
    EXPECT_EQ(menutest::menuFrom(
                  [&] { second->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction()); }),
        QStringList({ "Delete" }));
    EXPECT_EQ(grid->currentIndex(), 1);
}

namespace {

// The objects a screen reader is told have the focus, in order, while one listens.
QStringList focusesTold;
void recordFocus(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::Focus && event->accessibleInterface())
        focusesTold << event->accessibleInterface()->text(QAccessible::Name);
}

} // namespace

// Tab into a grid tells the reader of the grid and then of the image the keys act on, not the other
// way round, which would leave it announcing the grid alone; when that image goes, the reader hears
// the one the keys go on to.
TEST(LinksAndMediaKeyboard, TheReaderHearsTheImageTheKeysActOnLast)
{
    Page f;
    const std::vector<std::shared_ptr<TDMedia>> media { f.image("first.png"), f.image("second.png") };
    f.stores.mediaStore->setTdMedia(media);
    f.show(NavigationType::media);
    if (QGuiApplication::platformName() != "xcb"
        || !QTest::qWaitFor([] { return QAccessible::isActive(); }, 5000))
        GTEST_SKIP() << "no accessibility bus listens here";
    auto* grid = f.window.findChild<TDImageGrid*>("mediaGrid");
    ASSERT_TRUE(grid);
    f.view->sidebar()->setFocus(Qt::TabFocusReason);
    focusesTold.clear();
    QAccessible::installUpdateHandler(recordFocus);
    QTest::keyClick(f.view->sidebar(), Qt::Key_Tab);
    QCoreApplication::processEvents();
    ASSERT_FALSE(focusesTold.isEmpty());
    EXPECT_EQ(focusesTold.back(), "first.png") << focusesTold.join(", ").toStdString();
    f.stores.mediaStore->setTdMedia({ media[1] });
    QCoreApplication::processEvents();
    QAccessible::installUpdateHandler(nullptr);
    EXPECT_EQ(focusesTold.back(), "second.png") << focusesTold.join(", ").toStdString();
}
