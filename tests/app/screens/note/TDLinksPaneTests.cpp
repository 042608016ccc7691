#include "../../notes/LinkTestPages.h"
#include "../../notes/PropertyListReader.h"
#include "../FocusTestSupport.h"
#include "../MenuTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/model/TDNote.h"
#include "app/notes/TDPageFetcher.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDLinkCard.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/common/TDSpringGhost.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/screens/note/TDLinksPane.h"
#include "app/screens/note/TDNoteView.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/store/TDNoteFiles.h"
#include "platform/ui/ProgressIndicator.h"
#include "support/HttpTestServer.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>

using apptest::LibraryRoot;
using testsupport::HttpTestServer;
using testsupport::waitUntil;

namespace {

// Every add must end well within this, whatever the page does.
constexpr int addBoundMs = 10'000;

TDLink linkOf(const std::shared_ptr<TDNote>& note, const QString& url, std::optional<QString> title = {},
    std::optional<QString> desc = {})
{
    return TDLink { std::move(title), std::move(desc), url, platform::Uuid::random(), note->id() };
}

class TDLinksPaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.makeLibraryFolder();
        project = apptest::makeProject("Trip");
        stores.projectStore->setTdProjects({ project });
        note = addNote("Plan");
        other = addNote("Other");
        linksFolder = root.library() + "/Trip/notes/Plan/links";

        notetest::addLinkTestPages(server, root.root() + "/secret.html");
        server.addBody("/traversal", "<title>../../x</title>", 200, "text/html");
        server.start();
    }

    void TearDown() override
    {
        for (auto& window : windows)
            delete window.data();
        fetcher.reset();
        server.stop();
    }

    std::shared_ptr<TDNote> addNote(const QString& title)
    {
        auto url = tdnotefiles::createNoteFiles(TDDirectoryPath::projectDirectoryURL(project->name()), title);
        EXPECT_TRUE(url);
        auto made
            = TDNote::make(platform::Uuid::random(), project->id(), title, url.value(), platform::Date(8e8));
        auto notes = project->tdNote();
        notes.push_back(made);
        project->setTdNote(notes);
        auto map = stores.projectStore->noteMap();
        map[made->id()] = { 0, static_cast<int>(notes.size()) - 1 };
        stores.projectStore->setNoteMap(map);
        return made;
    }

    // The note's window, shown, with its pane fetching from the test server with short limits and
    // opening links into `opened`.
    TDLinksPane* openPane()
    {
        QMainWindow* window = TDNoteWindow::makeWindow(note, stores, nullptr);
        windows.push_back(window);
        window->show();
        auto* content = static_cast<TDNoteWindow*>(window->centralWidget());
        EXPECT_TRUE(
            waitUntil([&] { return content->noteView() && !content->noteView()->isRenderPending(); }));
        view = content->noteView();
        TDLinksPane* pane = view->linksPane();
        pane->setPageFetcher(fetcher);
        pane->setUrlOpener([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
        QCoreApplication::processEvents();
        return pane;
    }

    static TDAddLinkPopover* openPopover(TDLinksPane* pane)
    {
        QTest::mouseClick(pane->header()->button(), Qt::LeftButton);
        EXPECT_TRUE(pane->isPopoverOpen());
        EXPECT_TRUE(pane->header()->popover()->isVisible());
        return pane->addLinkPopover();
    }

    // Types `text` into the popover's field, replacing what it held, and presses "Add".
    static void typeAndAdd(TDAddLinkPopover* popover, const QString& text)
    {
        popover->field()->selectAll();
        QTest::keyClicks(popover->field(), text);
        QTest::mouseClick(popover->addButton(), Qt::LeftButton);
    }

    QString address(const std::string& path) const
    {
        return server.url(QString::fromStdString(path)).toString();
    }

    QStringList titles(TDLinksPane* pane) const
    {
        QStringList shown;
        for (TDLinkCard* card : pane->cards())
            shown.append(card->titleText());
        return shown;
    }

    qint64 count() const { return std::get<bottombar::Note>(view->bottomBar()->barType()).links; }

    static QAction* deleteAction(TDLinkCard* card) { return card->findChild<QAction*>("deleteLinkAction"); }

    QStringList weblocFiles() const { return QDir(linksFolder).entryList({ "*.webloc" }, QDir::Files); }

    std::vector<TDLink> savedLinks() const
    {
        auto decoded = tdlibrary::decodeLinks(root.read("links.library"));
        return decoded ? decoded.value() : std::vector<TDLink> {};
    }

    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    std::shared_ptr<TDNote> note, other;
    QString linksFolder;
    HttpTestServer server;
    std::shared_ptr<TDPageFetcher> fetcher
        = TDPageFetcher::make({ TDPageFetchLimits::defaultMaximumBytes, 1.5, 10 });
    std::vector<QPointer<QMainWindow>> windows;
    TDNoteView* view = nullptr;
    QList<QUrl> opened;
};

} // namespace

TEST_F(TDLinksPaneTest, AddingALinkShowsItsCardWritesItsFileAndSavesIt)
{
    stores.linkStore->setTdLinks({ linkOf(other, "https://example.com/elsewhere", "Elsewhere") });
    TDLinksPane* pane = openPane();
    EXPECT_TRUE(pane->cards().empty()) << "another note's links are not shown";
    EXPECT_EQ(count(), 0);

    TDAddLinkPopover* popover = openPopover(pane);
    typeAndAdd(popover, "  " + address("/utf8") + " ");
    EXPECT_TRUE(popover->progress()->isAnimating());
    EXPECT_EQ(popover->statusLabel()->text(), u"Fetching the page…"_qs);
    ASSERT_TRUE(
        waitUntil([&] { return pane->cards().size() == 1 && pane->addsInFlight() == 0; }, addBoundMs));
    const TDLinkCard* card = pane->cards()[0];
    EXPECT_EQ(card->titleText(), u"Café – Menu"_qs);
    EXPECT_EQ(card->descriptionText(), "Don't miss the bread.");
    EXPECT_EQ(card->addressText(), address("/utf8"));
    EXPECT_FALSE(popover->progress()->isAnimating());
    ASSERT_TRUE(waitUntil([&] { return count() == 1; }));
    EXPECT_FALSE(pane->isPopoverOpen()) << "a saved add closes the popover";
    EXPECT_FALSE(pane->header()->popover()->isVisible());

    ASSERT_EQ(weblocFiles().size(), 1);
    QFile webloc(linksFolder + "/" + weblocFiles()[0]);
    ASSERT_TRUE(webloc.open(QIODevice::ReadOnly));
    EXPECT_EQ(notetest::urlFromPropertyList(webloc.readAll()), address("/utf8"));
    ASSERT_EQ(savedLinks().size(), 2u);
    EXPECT_EQ(savedLinks().back().url, address("/utf8"));
    EXPECT_EQ(savedLinks().back().tdNoteId, note->id());

    popover = openPopover(pane);
    EXPECT_TRUE(popover->field()->text().isEmpty()) << "closing emptied the field";
    typeAndAdd(popover, address("/plain"));
    ASSERT_TRUE(
        waitUntil([&] { return pane->cards().size() == 2 && pane->addsInFlight() == 0; }, addBoundMs));
    EXPECT_EQ(titles(pane), (QStringList { u"Café – Menu"_qs, "No Title" })) << "in the order added";
    EXPECT_EQ(pane->cards()[1]->descriptionText(), "No Description");
    ASSERT_TRUE(waitUntil([&] { return count() == 2; }));

    // Text that is not a web address is explained, and nothing is fetched or written.
    const auto before = root.snapshot();
    const int requests = server.totalRequests();
    popover = openPopover(pane);
    typeAndAdd(popover, "example.com");
    ASSERT_TRUE(waitUntil([&] { return !popover->message().isEmpty(); }));
    EXPECT_TRUE(popover->statusLabel()->isVisibleTo(popover));
    EXPECT_TRUE(popover->statusLabel()->text().contains("http://"))
        << popover->statusLabel()->text().toStdString();
    EXPECT_TRUE(pane->isPopoverOpen());
    EXPECT_EQ(server.totalRequests(), requests);
    EXPECT_EQ(root.snapshot(), before);

    // Escape closes the popover, not the window; the field starts empty next time.
    QTest::keyClick(popover->field(), Qt::Key_Escape);
    EXPECT_FALSE(pane->isPopoverOpen());
    EXPECT_FALSE(windows.back().isNull());
    EXPECT_TRUE(windows.back()->isVisible());
    EXPECT_TRUE(openPopover(pane)->field()->text().isEmpty());
}

// The card shows, as the link is in the list, but an alert says its file is missing rather than
// the popover closing as if all went well.
TEST_F(TDLinksPaneTest, ALinkFileThatCannotBeWrittenIsToldInAnAlert)
{
    // A file where the links folder goes: the folder cannot be made.
    QFile blocker(linksFolder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TDLinksPane* pane = openPane();
    typeAndAdd(openPopover(pane), address("/utf8"));
    ASSERT_TRUE(
        waitUntil([&] { return pane->cards().size() == 1 && pane->addsInFlight() == 0; }, addBoundMs));
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (alert = screentest::alertOn(pane->window())) != nullptr; }));
    EXPECT_EQ(alert->text(), "The link's file could not be written");
    EXPECT_TRUE(alert->informativeText().contains("Not a directory"))
        << alert->informativeText().toStdString();
    EXPECT_FALSE(pane->isPopoverOpen()) << "the link was added, so its address is done with";
    screentest::closeAlert(alert);
    EXPECT_EQ(savedLinks().size(), 1u);
}

TEST_F(TDLinksPaneTest, AnAddKeepsTheAddressTypedAtThePressAndThePaneStaysUsable)
{
    stores.linkStore->setTdLinks({ linkOf(note, "https://example.com/kept", "Kept") });
    TDLinksPane* pane = openPane();
    ASSERT_EQ(pane->cards().size(), 1u);
    TDAddLinkPopover* popover = openPopover(pane);
    typeAndAdd(popover, address("/gated"));
    QTest::mouseClick(popover->addButton(), Qt::LeftButton);
    EXPECT_EQ(pane->addsInFlight(), 1) << "a second press on the same address adds nothing";
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/gated") == 1; }));

    popover->field()->selectAll();
    QTest::keyClicks(popover->field(), "https://example.org/next");
    // While the page is on its way, the cards still answer.
    QTest::mouseClick(pane->cards()[0], Qt::LeftButton);
    EXPECT_EQ(opened, (QList<QUrl> { QUrl("https://example.com/kept") }));

    server.openGate();
    ASSERT_TRUE(
        waitUntil([&] { return pane->cards().size() == 2 && pane->addsInFlight() == 0; }, addBoundMs));
    EXPECT_EQ(pane->cards()[1]->link().url, address("/gated"));
    EXPECT_EQ(pane->cards()[1]->titleText(), "Late");
    EXPECT_EQ(server.requestCount("/gated"), 1);
    EXPECT_TRUE(pane->isPopoverOpen()) << "the address being typed is kept";
    EXPECT_EQ(popover->field()->text(), "https://example.org/next");
}

TEST_F(TDLinksPaneTest, HostilePagesEndInTimeAndWriteOnlyInTheLinksFolder)
{
    QFile secret(root.root() + "/secret.html");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("<title>Secret</title>");
    secret.close();
    TDLinksPane* pane = openPane();
    const auto before = root.snapshot();
    QElapsedTimer timer;
    timer.start();
    TDAddLinkPopover* popover = openPopover(pane);
    for (const char* path : { "/drip", "/loop", "/to-file", "/traversal" })
        typeAndAdd(popover, address(path));
    EXPECT_EQ(popover->statusLabel()->text(), u"Fetching 4 pages…"_qs);
    ASSERT_TRUE(
        waitUntil([&] { return pane->cards().size() == 4 && pane->addsInFlight() == 0; }, addBoundMs));
    EXPECT_LT(timer.elapsed(), addBoundMs);
    QStringList shown = titles(pane);
    shown.sort();
    EXPECT_EQ(shown, (QStringList { "../../x", "No Title", "No Title", "No Title" }));

    EXPECT_EQ(weblocFiles().size(), 4);
    const auto after = root.snapshot();
    for (const auto& [path, content] : after) {
        const bool changed = !before.contains(path) || before.at(path) != content;
        const bool allowed
            = path == linksFolder || path.startsWith(linksFolder + "/") || path == root.file("links.library");
        EXPECT_TRUE(!changed || allowed) << path.toStdString();
    }
}

TEST_F(TDLinksPaneTest, DeletingACardRemovesOnlyItsOwnFileAndSaves)
{
    TDLinksPane* pane = openPane();
    TDAddLinkPopover* popover = openPopover(pane);
    typeAndAdd(popover, address("/same-a"));
    typeAndAdd(popover, address("/same-b"));
    ASSERT_TRUE(
        waitUntil([&] { return pane->cards().size() == 2 && pane->addsInFlight() == 0; }, addBoundMs));
    ASSERT_EQ(weblocFiles().size(), 2) << "one title, two files";
    const TDLink kept = pane->cards()[1]->link();

    deleteAction(pane->cards()[0])->trigger();
    ASSERT_TRUE(waitUntil([&] { return pane->cards().size() == 1; }));
    EXPECT_EQ(pane->cards()[0]->link().id, kept.id);
    ASSERT_TRUE(waitUntil([&] { return savedLinks().size() == 1; }));
    EXPECT_EQ(savedLinks()[0].id, kept.id);
    ASSERT_TRUE(waitUntil([&] { return weblocFiles().size() == 1; }));
    EXPECT_TRUE(weblocFiles()[0].endsWith(kept.id.lowercaseString().left(8) + ".webloc"));
    EXPECT_EQ(count(), 1);

    // A folder where the links library goes makes its save fail: the user is told, and the file
    // stays while the library on disk still lists the link.
    ASSERT_TRUE(QFile::remove(root.file("links.library")));
    ASSERT_TRUE(QDir().mkdir(root.file("links.library")));
    deleteAction(pane->cards()[0])->trigger();
    ASSERT_TRUE(waitUntil([&] { return screentest::alertOn(view->window()); }));
    EXPECT_EQ(screentest::alertOn(view->window())->text(), "The deletion could not be saved");
    screentest::closeAlert(screentest::alertOn(view->window()));
    EXPECT_TRUE(pane->cards().empty());
    EXPECT_EQ(weblocFiles().size(), 1);
}

TEST_F(TDLinksPaneTest, ThePaneFollowsTheStoreAndOpensOnlyWebAddresses)
{
    TDLinksPane* pane = openPane();
    const TDLink web = linkOf(note, "https://example.com/a?b=c", "Web", "A page");
    const TDLink local = linkOf(note, "file:///etc/passwd", "Local\nfile");
    const TDLink theirs = linkOf(other, "https://example.com/theirs", "Theirs");
    stores.linkStore->setTdLinks({ web, theirs, local });
    ASSERT_TRUE(waitUntil([&] { return pane->cards().size() == 2; }));
    EXPECT_EQ(titles(pane), (QStringList { "Web", "Local file" }));
    EXPECT_EQ(count(), 2);

    stores.linkStore->setTdLinks({ local, theirs, web });
    ASSERT_TRUE(waitUntil([&] { return titles(pane) == QStringList { "Local file", "Web" }; }));
    stores.linkStore->setTdLinks({ theirs, web });
    ASSERT_TRUE(waitUntil([&] { return titles(pane) == QStringList { "Web" }; }));
    EXPECT_EQ(count(), 1);

    stores.linkStore->setTdLinks({ web, local });
    ASSERT_TRUE(waitUntil([&] { return pane->cards().size() == 2; }));
    QTest::mouseClick(pane->cards()[0], Qt::LeftButton);
    QTest::keyClick(pane->cards()[0], Qt::Key_Space);
    EXPECT_EQ(opened, (QList<QUrl> { QUrl("https://example.com/a?b=c"), QUrl("https://example.com/a?b=c") }));
    QTest::mouseClick(pane->cards()[1], Qt::LeftButton);
    EXPECT_EQ(opened.size(), 2) << "a file address is not handed to the browser";
    QMessageBox* alert = screentest::alertOn(view->window());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The link cannot be opened.");
    screentest::closeAlert(alert);
}

// From the keyboard: "+" and each card are stops that ring and are named, light and dark; Return
// opens a card and both menu keys open its menu; the popover's field and "Add" ring and are named,
// and Escape gives the keys back to "+".
TEST_F(TDLinksPaneTest, TheStopsRingAreNamedAndThePopoverGivesTheKeysBack)
{
    stores.linkStore->setTdLinks(
        { linkOf(note, "https://example.com/a", "Atlas"), linkOf(note, "https://example.com/b") });
    for (bool dark : { false, true }) {
        SCOPED_TRACE(dark ? "dark" : "light");
        screentest::ScopedPalette palette(dark);
        TDLinksPane* pane = openPane();
        QWidget* window = pane->window();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QStringList names;
        // The text keeps Tab for itself (Shift+Tab leaves it for the pane): start in the pane.
        for (QWidget* stop : focustest::tabThrough(pane->header()))
            names.append(focustest::accessibleName(stop));
        const qsizetype plus = names.indexOf("Add a link");
        ASSERT_GE(plus, 0) << names.join(", ").toStdString();
        EXPECT_EQ(names.mid(plus, 3),
            QStringList({ "Add a link", "Atlas, https://example.com/a", "No Title, https://example.com/b" }));

        TDLinkCard* card = pane->cards()[0];
        card->setFocus(Qt::TabFocusReason);
        opened.clear();
        QTest::keyClick(card, Qt::Key_Return);
        EXPECT_EQ(opened, (QList<QUrl> { QUrl("https://example.com/a") }));
        for (auto [key, modifiers] :
            { std::pair { Qt::Key_F10, Qt::ShiftModifier }, { Qt::Key_Menu, Qt::NoModifier } }) {
            EXPECT_EQ(menutest::menuFrom(
                          [&, key = key, modifiers = modifiers] { QTest::keyClick(card, key, modifiers); }),
                QStringList({ "Delete" }))
                << key;
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window));
            EXPECT_TRUE(tdfocusring::isShown(card)) << "the ring stays once the menu closes";
        }

        QToolButton* add = pane->header()->button();
        add->setFocus(Qt::TabFocusReason);
        QTest::keyClick(add, Qt::Key_Space);
        ASSERT_TRUE(pane->isPopoverOpen());
        TDAddLinkPopover* popover = pane->addLinkPopover();
        EXPECT_TRUE(popover->field()->hasFocus());
        names.clear();
        for (QWidget* stop : focustest::tabThrough(popover->window()))
            names.append(focustest::accessibleName(stop));
        EXPECT_EQ(names, QStringList({ "URL", "Add" }));
        popover->field()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(popover->field(), Qt::Key_Escape);
        EXPECT_FALSE(pane->isPopoverOpen());
        ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == add; }));
        EXPECT_TRUE(tdfocusring::isShown(add)) << "the keys came back where they were";
    }
}

// From the keys: Return in the address field adds nothing, but Return or Enter on the focused "Add"
// presses it, as on every other button the keys reach.
TEST_F(TDLinksPaneTest, ReturnOnTheFocusedAddButtonAddsTheLink)
{
    TDLinksPane* pane = openPane();
    pane->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(pane->window()));
    TDAddLinkPopover* popover = openPopover(pane);
    QTest::keyClicks(popover->field(), address("/utf8"));
    QTest::keyClick(popover->field(), Qt::Key_Return);
    EXPECT_EQ(pane->addsInFlight(), 0) << "not from the field";

    for (Qt::Key key : { Qt::Key_Return, Qt::Key_Enter }) {
        SCOPED_TRACE(key);
        const std::size_t before = stores.linkStore->tdLinks().size();
        if (!pane->isPopoverOpen()) {
            popover = openPopover(pane);
            QTest::keyClicks(popover->field(), address("/utf8"));
        }
        popover->addButton()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(popover->addButton(), key);
        EXPECT_EQ(pane->addsInFlight(), 1);
        ASSERT_TRUE(waitUntil([&] { return stores.linkStore->tdLinks().size() == before + 1; }, addBoundMs));
        EXPECT_EQ(stores.linkStore->tdLinks().back().url, address("/utf8"));
        ASSERT_TRUE(waitUntil([&] { return !pane->isPopoverOpen(); }));
    }
}

namespace {

// Links of `note` whose descriptions are missing, of one line or of two, in no regular pattern.
std::vector<TDLink> manyLinksOf(const std::shared_ptr<TDNote>& note, int count)
{
    std::vector<TDLink> links;
    for (int i = 0; i < count; ++i) {
        std::optional<QString> desc;
        if ((i * 7) % 3 == 1) {
            desc = QString("Short %1.").arg(i);
        } else if ((i * 7) % 3 == 2) {
            desc = QString("A long description ").repeated(30);
        }
        links.push_back(
            linkOf(note, QString("https://example.com/%1").arg(i), QString("Link %1").arg(i), desc));
    }
    return links;
}

// The cards built are a short run of the note's links, in order, each right below the one before.
void expectARunOfCards(TDLinksPane* pane, const std::vector<TDLink>& links, int maximum)
{
    const auto cards = pane->cards();
    ASSERT_FALSE(cards.empty());
    ASSERT_LE(static_cast<int>(cards.size()), maximum);
    const auto first = std::find_if(
        links.begin(), links.end(), [&](const TDLink& link) { return link.id == cards[0]->link().id; });
    ASSERT_NE(first, links.end());
    for (std::size_t k = 0; k < cards.size(); ++k) {
        EXPECT_EQ(cards[k]->link().id, (first + k)->id) << k;
        EXPECT_EQ(cards[k]->height(), cards[k]->heightForWidth(cards[k]->width())) << k;
        if (k > 0) {
            EXPECT_EQ(cards[k]->y(), cards[k - 1]->geometry().bottom() + 1 + TDLinksPane::cardSpacing) << k;
        }
    }
    // What a screen reader lists: the header, then the cards in the note's order.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(pane->scrollArea()->viewport());
    ASSERT_TRUE(list);
    QStringList told;
    for (int i = 0; i < list->childCount(); ++i) {
        if (auto* card = dynamic_cast<TDLinkCard*>(list->child(i)->object()))
            told.append(card->titleText());
    }
    QStringList expected;
    for (TDLinkCard* card : cards)
        expected.append(card->titleText());
    EXPECT_EQ(told, expected);
}

} // namespace

// A note of thousands of links: only the cards in view are built, under the header; scrolling
// builds the next ones; an add while scrolled leaves the view where it was and is counted, and an
// edit of a link in view shows at once.
TEST_F(TDLinksPaneTest, ANoteOfManyLinksBuildsOnlyTheCardsInViewAndFollowsTheStore)
{
    std::vector<TDLink> links = manyLinksOf(note, 3000);
    std::vector<TDLink> all = links;
    all.insert(all.begin() + 10, linkOf(other, "https://example.com/theirs", "Theirs"));
    stores.linkStore->setTdLinks(all);
    TDLinksPane* pane = openPane();
    expectARunOfCards(pane, links, 40);
    EXPECT_EQ(pane->cards()[0]->link().id, links[0].id);
    EXPECT_EQ(pane->cards()[0]->y(), pane->header()->geometry().bottom() + 1 + TDLinksPane::listPadding);
    EXPECT_EQ(count(), 3000);
    auto* caption = pane->header()->findChild<QWidget*>("sectionCaption");
    ASSERT_TRUE(caption);
    EXPECT_EQ(caption->palette().color(caption->foregroundRole()),
        tdappearance::color(tdappearance::SystemColor::secondaryLabel, false))
        << "the header's caption keeps its colour inside the list";

    QScrollBar* bar = pane->scrollArea()->verticalScrollBar();
    QWidget* viewport = pane->scrollArea()->viewport();
    QWheelEvent wheel(QPointF(20, 100), viewport->mapToGlobal(QPointF(20, 100)), {}, QPoint(0, -120),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(viewport, &wheel);
    EXPECT_GT(bar->value(), 0) << "the wheel scrolls the pane, which shows no bars";
    bar->setValue(bar->maximum());
    // The range settles once every link is measured, between events.
    ASSERT_TRUE(waitUntil([&] {
        bar->setValue(bar->maximum());
        return !pane->cards().empty() && pane->cards().back()->link().id == links.back().id;
    }));
    expectARunOfCards(pane, links, 40);
    EXPECT_FALSE(pane->header()->geometry().intersects(pane->scrollArea()->viewport()->rect()));

    // Scrolled up a little way: the cards above are built after those below.
    bar->setValue(bar->maximum() / 2 + 600);
    QCoreApplication::processEvents();
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    expectARunOfCards(pane, links, 40);
    TDLinkCard* top = pane->cards()[1];
    const platform::Uuid topId = top->link().id;
    const QRect topPlace = top->geometry();
    all.push_back(linkOf(note, "https://example.com/new", "New"));
    links.push_back(all.back());
    stores.linkStore->setTdLinks(all);
    ASSERT_TRUE(waitUntil([&] { return count() == 3001; }));
    EXPECT_EQ(top->link().id, topId);
    EXPECT_EQ(top->geometry(), topPlace) << "the view stays where it was";
    expectARunOfCards(pane, links, 40);

    const auto index = static_cast<std::size_t>(std::find_if(all.begin(), all.end(), [&](const TDLink& link) {
        return link.id == topId;
    }) - all.begin());
    all[index].title = "Renamed";
    stores.linkStore->setTdLinks(all);
    ASSERT_TRUE(waitUntil([&] { return top->titleText() == "Renamed"; }));
    EXPECT_EQ(top->geometry(), topPlace);
}

// A card deleted in view leaves a picture that fades where it was while the card after it slides up
// into its place; Shift+Tab from the first card, scrolled away, brings "+" back into view.
TEST_F(TDLinksPaneTest, ADeletedCardFoldsAwayAndTheHeaderComesBackIntoViewOnTheKeys)
{
    std::vector<TDLink> links = manyLinksOf(note, 200);
    stores.linkStore->setTdLinks(links);
    TDLinksPane* pane = openPane();
    const QRect firstPlace = pane->cards()[0]->geometry();
    const platform::Uuid second = pane->cards()[1]->link().id;
    deleteAction(pane->cards()[0])->trigger();
    ASSERT_TRUE(waitUntil([&] { return count() == 199; }));
    // The picture has no meta-object of its own: it is told from the other widgets by its type.
    auto fading = [&]() -> TDSpringGhost* {
        for (QObject* child : pane->scrollArea()->viewport()->children()) {
            if (auto* ghost = dynamic_cast<TDSpringGhost*>(child); ghost && ghost->isVisible())
                return ghost;
        }
        return nullptr;
    };
    TDSpringGhost* ghost = fading();
    ASSERT_TRUE(ghost);
    EXPECT_EQ(ghost->y(), firstPlace.y());
    EXPECT_EQ(pane->cards()[0]->link().id, second);
    EXPECT_GT(pane->cards()[0]->y(), firstPlace.y()) << "the next card starts below the picture";
    EXPECT_TRUE(waitUntil([&] { return !fading() && pane->cards()[0]->y() == firstPlace.y(); }));

    // The last card, at the end of the list: the list closes up onto the one before it.
    QScrollBar* bar = pane->scrollArea()->verticalScrollBar();
    ASSERT_TRUE(waitUntil([&] {
        bar->setValue(bar->maximum());
        return pane->cards().back()->link().id == links.back().id;
    }));
    deleteAction(pane->cards().back())->trigger();
    ASSERT_TRUE(waitUntil([&] { return count() == 198; }));
    EXPECT_TRUE(fading());
    const int viewHeight = pane->scrollArea()->viewport()->height();
    EXPECT_TRUE(waitUntil([&] {
        return !fading() && bar->value() == bar->maximum()
            && pane->cards().back()->geometry().bottom() + 1 + TDLinksPane::listPadding == viewHeight;
    }));
    EXPECT_EQ(pane->cards().back()->link().id, links[links.size() - 2].id);

    QWidget* window = pane->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    bar->setValue(0);
    QCoreApplication::processEvents();
    TDLinkCard* card = pane->cards()[0];
    card->setFocus(Qt::TabFocusReason);
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    ASSERT_TRUE(card->hasFocus()) << "the focused card stays, out of view";
    QTest::keyClick(card, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), pane->header()->button());
    EXPECT_EQ(bar->value(), 0);
}
