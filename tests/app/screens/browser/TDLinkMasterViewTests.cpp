#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDLinkMasterView.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDLinkCard.h"
#include "app/store/TDLibrary.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <QMainWindow>
#include <QScrollBar>

using apptest::LibraryRoot;
using screentest::alertOn;
using screentest::closeAlert;

namespace {

TDLink link(const char* url, std::optional<QString> title = {}, std::optional<QString> desc = {},
    platform::Uuid note = platform::Uuid::random())
{
    return TDLink { std::move(title), std::move(desc), url, platform::Uuid::random(), note };
}

// The main window on its Links destination.
struct Links {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QMainWindow window;
    NavigationView* navigation;

    explicit Links(std::vector<TDLink> links = {})
    {
        root.makeLibraryFolder();
        stores.linkStore->setTdLinks(std::move(links));
        navigation = new NavigationView(stores);
        window.setCentralWidget(navigation);
        window.resize(1200, 700);
        window.show();
        navigation->select(NavigationType::links);
        QCoreApplication::processEvents();
    }

    TDLinkMasterView* view() const { return dynamic_cast<TDLinkMasterView*>(navigation->destinationView()); }
    QStringList titles() const
    {
        QCoreApplication::processEvents();
        QStringList shown;
        for (auto* card : view()->cards())
            shown.append(card->titleText());
        return shown;
    }
};

// Links whose descriptions are missing, short, of a length that wraps only in a narrow window, or
// long, in no regular pattern.
std::vector<TDLink> manyLinks(int count)
{
    std::vector<TDLink> links;
    for (int i = 0; i < count; ++i) {
        const int kind = (i * 7) % 5;
        std::optional<QString> desc;
        if (kind == 1)
            desc = QString("Short %1.").arg(i);
        else if (kind == 2 || kind == 3)
            desc = "A description of middling length " + QString("that goes on ").repeated(5 + i % 8);
        else if (kind == 4)
            desc = QString("A long description ").repeated(30);
        links.push_back(
            link(qPrintable(QString("https://example.com/%1").arg(i)), QString("Link %1").arg(i), desc));
    }
    return links;
}

// Exactly the links in view, and one either side, have cards, each where the list places it, as
// high as the card itself asks, one after another with the list's spacing.
void expectOnlyTheCardsInView(TDLinkMasterView* view, const std::vector<TDLink>& links)
{
    QCoreApplication::processEvents();
    QAbstractScrollArea* area = view->scrollArea();
    const QPoint scrolled(area->horizontalScrollBar()->value(), area->verticalScrollBar()->value());
    const QRect visible(scrolled, area->viewport()->size());
    const int count = static_cast<int>(links.size());
    int first = -1;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        const QRect rect = view->cardRect(i);
        const int expectedTop = i == 0 ? TDLinkMasterView::listPadding
                                       : view->cardRect(i - 1).bottom() + 1 + TDLinkMasterView::listSpacing;
        ASSERT_EQ(rect.top(), expectedTop) << i;
        if (rect.intersects(visible)) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    // The scroll bar settles once the links past the view are measured, between events.
    const int end = view->cardRect(count - 1).bottom() + 1 + TDLinkMasterView::listPadding;
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return area->verticalScrollBar()->maximum() == std::max(0, end - visible.height()); }));
    ASSERT_GE(first, 0);
    first = std::max(0, first - 1);
    last = std::min(count - 1, last + 1);
    const auto cards = view->cards();
    ASSERT_EQ(static_cast<int>(cards.size()), last - first + 1);
    for (int k = 0; k < static_cast<int>(cards.size()); ++k) {
        EXPECT_EQ(cards[k]->link().id, links[first + k].id) << first + k;
        EXPECT_EQ(cards[k]->geometry(), view->cardRect(first + k).translated(-scrolled)) << first + k;
        EXPECT_EQ(cards[k]->height(), cards[k]->heightForWidth(cards[k]->width())) << first + k;
    }
}

TDLinkCard* cardOf(TDLinkMasterView* view, const platform::Uuid& id)
{
    for (TDLinkCard* card : view->cards()) {
        if (card->link().id == id)
            return card;
    }
    return nullptr;
}

int indexOf(const std::vector<TDLink>& links, const QWidget* widget)
{
    auto* card = dynamic_cast<const TDLinkCard*>(widget);
    auto found = std::find_if(
        links.begin(), links.end(), [&](const TDLink& l) { return card && l.id == card->link().id; });
    return found == links.end() ? -1 : static_cast<int>(found - links.begin());
}

} // namespace

TEST(TDLinkMasterView, FollowsTheLinkStoreFromEmptyThroughAddsRemovalsAndADeletedProject)
{
    Links f;
    ASSERT_TRUE(f.view());
    EXPECT_TRUE(f.view()->showsEmptyState());
    EXPECT_EQ(f.view()->emptyState()->findChild<QLabel*>("emptyStateTitle")->text(), "No links found");
    EXPECT_EQ(f.view()->emptyState()->findChild<QLabel*>("emptyStateDescription")->text(),
        "Oops! looks like there is no project. Try to make one for your creative journey.");

    // Two projects, each with a note; links of both notes interleave in the order they were added.
    auto category = f.stores.categoryStore->tdCategories().front();
    auto alpha = screentest::project("Alpha", category);
    auto beta = screentest::project("Beta", category);
    for (const auto& project : { alpha, beta })
        project->setTdNote({ TDNote::make(platform::Uuid::random(), project->id(), "Note",
            apptest::fileUrl(f.root.library() + "/" + project->name() + "/notes/Note/Note.txt"),
            platform::Date(800000000)) });
    f.stores.projectStore->setTdProjects({ alpha, beta });
    TDLibrary library(f.stores);
    const auto alphaNote = alpha->tdNote().front()->id();
    const auto betaNote = beta->tdNote().front()->id();
    library.addLink(link("https://a.example/1", QString("A1"), {}, alphaNote));
    library.addLink(link("https://b.example/1", QString("B1"), {}, betaNote));
    library.addLink(link("https://a.example/2", QString("A2"), {}, alphaNote));
    EXPECT_EQ(f.titles(), (QStringList { "A1", "B1", "A2" }));
    EXPECT_FALSE(f.view()->showsEmptyState());
    EXPECT_GE(f.view()->width(), TDLinkMasterView::minimumContentWidth);

    library.removeLink(f.stores.linkStore->tdLinks()[1].id);
    EXPECT_EQ(f.titles(), (QStringList { "A1", "A2" }));

    library.addLink(link("https://b.example/2", QString("B2"), {}, betaNote));
    library.deleteProject(alpha);
    EXPECT_EQ(f.titles(), (QStringList { "B2" })) << "a deleted project's links leave with it";
    library.deleteProject(beta);
    EXPECT_TRUE(f.titles().isEmpty());
    EXPECT_TRUE(f.view()->showsEmptyState());
    EXPECT_TRUE(testsupport::waitUntil([&] { return library.operationsInFlight() == 0; }));
}

// What a page gave is shown as plain text within the card's lines: no markup is run, a long
// description takes two lines at most and a long title one.
TEST(TDLinkMasterView, CardsShowFallbacksAndBoundTheirTextsToTheirLines)
{
    const QString longText = QString("word ").repeated(400);
    Links f({ link("https://a.example"), link("https://b.example", QString("<b>x</b>"), longText),
        link("https://c.example", QString(100000, 'T'), QString("Short.")) });
    auto cards = f.view()->cards();
    ASSERT_EQ(cards.size(), 3u);
    EXPECT_EQ(cards[0]->titleText(), "No Title");
    EXPECT_EQ(cards[0]->descriptionText(), "No Description");
    EXPECT_EQ(cards[0]->addressText(), "https://a.example");

    EXPECT_EQ(cards[1]->titleText(), "<b>x</b>");
    const QStringList lines = cards[1]->descriptionLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QChar(0x2026)));
    EXPECT_EQ(cards[2]->descriptionLines(), (QStringList { "Short." }));
    EXPECT_LT(cards[2]->height(), cards[1]->height()) << "one line of description, a shorter card";
    EXPECT_LE(cards[2]->titleText().size(), tdDisplayTextLimit + 1);
}

// A card opens only a web address, and only when clicked; a stored address of any other kind is
// reported, never handed to the desktop.
TEST(TDLinkMasterView, AClickOpensOnlyWebAddresses)
{
    screentest::UrlRecorder desktop({ "http", "https", "file", "javascript", "mailto" });
    Links f({ link("https://example.com/page?q=1", QString("Web")), link("http://plain.example/"),
        link("file:///etc/passwd"), link("javascript:alert(1)"), link("not a url"),
        link("https:///nohost") });
    EXPECT_TRUE(desktop.opened.isEmpty());
    auto cards = f.view()->cards();
    ASSERT_EQ(cards.size(), 6u);
    QTest::mouseClick(cards[0], Qt::LeftButton);
    cards[1]->click();
    EXPECT_EQ(desktop.opened,
        (QList<QUrl> { QUrl("https://example.com/page?q=1"), QUrl("http://plain.example/") }));
    EXPECT_FALSE(alertOn(&f.window));

    apptest::CapturedStream out(stdout);
    for (std::size_t i = 2; i < cards.size(); ++i) {
        SCOPED_TRACE(cards[i]->addressText().toStdString());
        cards[i]->click();
        QMessageBox* alert = alertOn(&f.window);
        ASSERT_TRUE(alert);
        EXPECT_TRUE(alert->informativeText().contains(cards[i]->addressText()));
        closeAlert(alert);
    }
    EXPECT_EQ(desktop.opened.size(), 2);
    EXPECT_EQ(out.take().count("not a web address"), 4);
}

// Thousands of links make a dozen cards: those in view as the list scrolls to any place, even to
// the end before the links past the first screens are measured, and again when a narrower window
// or a wider face wraps descriptions onto a second line, with the card at the top kept in place.
TEST(TDLinkMasterView, BuildsOnlyTheCardsInViewAsItScrollsAndResizes)
{
    const auto links = manyLinks(8000);
    Links f(links);
    TDLinkMasterView* view = f.view();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    EXPECT_LT(view->cards().size(), 20u);
    bar->setValue(bar->maximum());
    expectOnlyTheCardsInView(view, links);
    EXPECT_EQ(view->cards().back()->link().id, links.back().id);
    EXPECT_EQ(bar->value(), bar->maximum()) << "a view carried to the end stays there";
    for (int value : { bar->maximum() / 2, bar->maximum() / 2 - 1234, 77 }) {
        bar->setValue(value);
        expectOnlyTheCardsInView(view, links);
    }

    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    const auto topId = view->cards()[1]->link().id;
    const int topY = view->cards()[1]->y();
    const int wideHeight = bar->maximum();
    f.window.resize(f.window.width() - 380, f.window.height());
    expectOnlyTheCardsInView(view, links);
    EXPECT_GT(bar->maximum(), wideHeight) << "descriptions that fitted take two lines";
    ASSERT_TRUE(cardOf(view, topId));
    EXPECT_EQ(cardOf(view, topId)->y(), topY);

    const QFont font = QApplication::font();
    QFont wider = font;
    wider.setFamily("DejaVu Sans Mono");
    const int narrowHeight = bar->maximum();
    QApplication::setFont(wider);
    expectOnlyTheCardsInView(view, links);
    EXPECT_GT(bar->maximum(), narrowHeight);
    QApplication::setFont(font);
}

// Links added and removed while the page shows: the cards that stay keep their place on screen,
// the list closes up, and a list at its top shows a link added before the first.
TEST(TDLinkMasterView, FollowsAddsAndRemovalsWhileShowingAndKeepsItsPlace)
{
    auto links = manyLinks(1000);
    Links f(links);
    TDLinkMasterView* view = f.view();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    const auto topId = view->cards()[1]->link().id;
    const int topY = view->cards()[1]->y();

    auto more = manyLinks(5);
    links.insert(links.begin(), more.begin(), more.end());
    links.erase(links.end() - 3, links.end());
    f.stores.linkStore->setTdLinks(links);
    expectOnlyTheCardsInView(view, links);
    ASSERT_TRUE(cardOf(view, topId));
    EXPECT_EQ(cardOf(view, topId)->y(), topY);

    // A description edited in place is measured again, by the list and by its card.
    const int at = indexOf(links, cardOf(view, topId));
    links[at + 1].desc = links[at + 1].desc ? std::nullopt : std::optional(QString("Long ").repeated(400));
    f.stores.linkStore->setTdLinks(links);
    expectOnlyTheCardsInView(view, links);

    // The card at the top itself, and one in view below it.
    const int value = bar->value();
    links.erase(links.begin() + at + 2);
    links.erase(links.begin() + at);
    f.stores.linkStore->setTdLinks(links);
    QCoreApplication::processEvents();
    EXPECT_FALSE(cardOf(view, topId));
    EXPECT_EQ(bar->value(), value);
    expectOnlyTheCardsInView(view, links);

    bar->setValue(0);
    links.insert(links.begin(), link("https://example.com/first", QString("First")));
    f.stores.linkStore->setTdLinks(links);
    expectOnlyTheCardsInView(view, links);
    EXPECT_EQ(view->cards().front()->titleText(), "First");

    f.stores.linkStore->setTdLinks({});
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->showsEmptyState());
    EXPECT_TRUE(view->cards().empty());
}

// Tab and Shift+Tab walk the cards in the store's order, whichever were built first, bringing each
// into view; the focused card outlives a scroll away and Space still opens its own address.
TEST(TDLinkMasterView, TabWalksTheCardsInOrderAndBringsEachIntoView)
{
    screentest::UrlRecorder desktop({ "https" });
    const auto links = manyLinks(400);
    Links f(links);
    TDLinkMasterView* view = f.view();
    QAbstractScrollArea* area = view->scrollArea();
    QScrollBar* bar = area->verticalScrollBar();
    // Scrolled up from the middle, the cards above were built after those below.
    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    bar->setValue(bar->maximum() / 2 - 600);
    QCoreApplication::processEvents();

    const int start = indexOf(links, view->cards()[1]);
    view->cards()[1]->setFocus(Qt::TabFocusReason);
    for (int step = 1; step <= 25; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(indexOf(links, QApplication::focusWidget()), start + step);
        EXPECT_TRUE(area->viewport()->rect().contains(QApplication::focusWidget()->geometry())) << step;
    }
    for (int step = 1; step <= 30; ++step)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QWidget* focused = QApplication::focusWidget();
    ASSERT_EQ(indexOf(links, focused), start - 5);
    EXPECT_TRUE(area->viewport()->rect().contains(focused->geometry()));

    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), focused) << "the focused card is kept out of view";
    QTest::keyClick(focused, Qt::Key_Space);
    EXPECT_EQ(desktop.opened, (QList<QUrl> { QUrl(links[start - 5].url) }));
}

// A focused card whose link is deleted (from its note) hands the keys to the card in its place, with
// the ring it had (the one before it for the last card).
TEST(TDLinkMasterView, AFocusedCardWhoseLinkGoesHandsTheKeysToTheCardInItsPlace)
{
    Links f({ link("https://a.example", QString("A")), link("https://b.example", QString("B")),
        link("https://c.example", QString("C")) });
    f.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    auto focusedTitle = [] {
        auto* card = dynamic_cast<TDLinkCard*>(QApplication::focusWidget());
        return card ? card->titleText() : QString();
    };
    auto remove = [&](const QString& title) {
        auto links = f.stores.linkStore->tdLinks();
        std::erase_if(links, [&](const TDLink& each) { return each.title == title; });
        f.stores.linkStore->setTdLinks(links);
        QCoreApplication::processEvents();
    };
    f.view()->cards()[1]->setFocus(Qt::TabFocusReason);
    remove("B");
    EXPECT_EQ(focusedTitle(), "C");
    EXPECT_TRUE(tdfocusring::isShown(QApplication::focusWidget()));
    remove("C");
    EXPECT_EQ(focusedTitle(), "A");
}

// In a window too narrow for the cards, right to left, the list starts at the cards' right edge,
// where their texts begin, and scrolls towards their left; a change of direction follows at once.
TEST(TDLinkMasterView, ARightToLeftListNarrowerThanItsCardsStartsAtTheirRightEdge)
{
    Links f({ link("https://example.org/a", QString::fromUtf8("כותרת"), QString::fromUtf8("תיאור")) });
    f.window.setLayoutDirection(Qt::RightToLeft);
    f.window.resize(900, 400);
    QCoreApplication::processEvents();
    QAbstractScrollArea* area = f.view()->scrollArea();
    QScrollBar* bar = area->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "narrower than the cards";
    ASSERT_EQ(f.view()->cards().size(), 1u);
    TDLinkCard* card = f.view()->cards().front();
    const int right = area->viewport()->width() - 1 - TDLinkMasterView::listPadding;
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(card->geometry().right(), right);
    bar->setValue(bar->maximum());
    EXPECT_EQ(card->geometry().left(), TDLinkMasterView::listPadding) << "scrolled to the far end";

    bar->setValue(0);
    f.window.setLayoutDirection(Qt::LeftToRight);
    QCoreApplication::processEvents();
    EXPECT_EQ(card->geometry().left(), TDLinkMasterView::listPadding);
}
