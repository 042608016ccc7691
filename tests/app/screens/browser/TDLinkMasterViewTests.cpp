#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDLinkMasterView.h"
#include "app/screens/common/TDDisplayText.h"
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
        std::optional<QString> desc;
        switch ((i * 7) % 5) {
        case 0:
            break;
        case 1:
            desc = QString("Short %1.").arg(i);
            break;
        case 2:
        case 3:
            desc
                = QString("A description of middling length ") + QString("that goes on ").repeated(5 + i % 8);
            break;
        default:
            desc = QString("A long description ").repeated(30);
        }
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
        if (i == 0)
            ASSERT_EQ(rect.top(), TDLinkMasterView::listPadding);
        else
            ASSERT_EQ(rect.top(), view->cardRect(i - 1).bottom() + 1 + TDLinkMasterView::listSpacing) << i;
        if (rect.intersects(visible)) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    // The scroll bar settles once the links past the view are measured, between events.
    const int end = view->cardRect(count - 1).bottom() + 1 + TDLinkMasterView::listPadding;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return area->verticalScrollBar()->maximum() == std::max(0, end - visible.height());
    })) << area->verticalScrollBar()->maximum()
        << " for content " << end << " high";
    ASSERT_GE(first, 0);
    first = std::max(0, first - 1);
    last = std::min(count - 1, last + 1);
    const auto cards = view->cards();
    ASSERT_EQ(static_cast<int>(cards.size()), last - first + 1);
    for (int k = 0; k < static_cast<int>(cards.size()); ++k) {
        SCOPED_TRACE(first + k);
        EXPECT_EQ(cards[k]->link().id, links[first + k].id);
        EXPECT_EQ(cards[k]->geometry(), view->cardRect(first + k).translated(-scrolled));
        EXPECT_EQ(cards[k]->height(), cards[k]->heightForWidth(cards[k]->width()));
        EXPECT_TRUE(cards[k]->isVisible());
    }
}

// The card whose link has `id`, if it exists.
TDLinkCard* cardOf(TDLinkMasterView* view, const platform::Uuid& id)
{
    for (TDLinkCard* card : view->cards()) {
        if (card->link().id == id)
            return card;
    }
    return nullptr;
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

// A thousand links make a dozen cards: those in view as the list scrolls to any place, and again
// when a narrower window wraps descriptions onto a second line, with the card at the top kept.
TEST(TDLinkMasterView, BuildsOnlyTheCardsInViewAsItScrollsAndResizes)
{
    const auto links = manyLinks(1000);
    Links f(links);
    TDLinkMasterView* view = f.view();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    expectOnlyTheCardsInView(view, links);
    EXPECT_LT(view->cards().size(), 20u);

    for (int value : { bar->maximum() / 2, bar->maximum() / 2 - 1234, bar->maximum(), 77 }) {
        SCOPED_TRACE(value);
        bar->setValue(value);
        expectOnlyTheCardsInView(view, links);
    }
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    EXPECT_EQ(view->cards().back()->link().id, links.back().id);

    bar->setValue(bar->maximum() / 2);
    QCoreApplication::processEvents();
    const TDLinkCard* top = view->cards()[1];
    const auto topId = top->link().id;
    const int topY = top->y();
    const int wideHeight = bar->maximum();
    f.window.resize(f.window.width() - 380, f.window.height());
    QCoreApplication::processEvents();
    EXPECT_GT(bar->maximum(), wideHeight) << "descriptions that fitted now take two lines";
    ASSERT_TRUE(cardOf(view, topId));
    EXPECT_EQ(cardOf(view, topId)->y(), topY) << "the list stays on the card at its top";
    expectOnlyTheCardsInView(view, links);

    // Texts in a wider face take more lines; every card is sized again.
    const QFont font = QApplication::font();
    QFont wider = font;
    wider.setFamily("DejaVu Sans Mono");
    const int narrowHeight = bar->maximum();
    QApplication::setFont(wider);
    QCoreApplication::processEvents();
    EXPECT_GT(bar->maximum(), narrowHeight);
    expectOnlyTheCardsInView(view, links);
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
    const TDLinkCard* top = view->cards()[1];
    const auto topId = top->link().id;
    const int topY = top->y();

    // Before the view and after it.
    auto more = manyLinks(5);
    links.insert(links.begin(), more.begin(), more.end());
    links.erase(links.end() - 3, links.end());
    f.stores.linkStore->setTdLinks(links);
    expectOnlyTheCardsInView(view, links);
    ASSERT_TRUE(cardOf(view, topId));
    EXPECT_EQ(cardOf(view, topId)->y(), topY);

    // The card at the top itself, and one in view below it.
    const int value = bar->value();
    const auto at = std::find_if(links.begin(), links.end(), [&](const TDLink& l) { return l.id == topId; })
        - links.begin();
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

    auto indexOf = [&](const QWidget* widget) {
        auto* card = dynamic_cast<const TDLinkCard*>(widget);
        if (!card)
            return -1;
        for (int i = 0; i < static_cast<int>(links.size()); ++i) {
            if (links[i].id == card->link().id)
                return i;
        }
        return -1;
    };
    TDLinkCard* start = view->cards()[1];
    const int startIndex = indexOf(start);
    start->setFocus(Qt::TabFocusReason);
    for (int step = 1; step <= 25; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCoreApplication::processEvents();
        QWidget* focused = QApplication::focusWidget();
        ASSERT_EQ(indexOf(focused), startIndex + step);
        EXPECT_TRUE(area->viewport()->rect().contains(focused->geometry())) << step;
    }
    for (int step = 1; step <= 30; ++step)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    QWidget* focused = QApplication::focusWidget();
    ASSERT_EQ(indexOf(focused), startIndex - 5);
    EXPECT_TRUE(area->viewport()->rect().contains(focused->geometry()));

    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), focused) << "the focused card is kept out of view";
    QTest::keyClick(focused, Qt::Key_Space);
    EXPECT_EQ(desktop.opened, (QList<QUrl> { QUrl(links[startIndex - 5].url) }));

    QTest::mouseClick(view->cards()[view->cards().size() - 2], Qt::LeftButton);
    ASSERT_EQ(desktop.opened.size(), 2);
    EXPECT_EQ(desktop.opened.back(), QUrl(links[links.size() - 2].url));
}

// The links past the first screens are measured between events; a jump to the end before that
// lands on the last links, each card at its exact place, and the scroll bar settles on the truth.
TEST(TDLinkMasterView, AJumpPastTheMeasuredLinksLandsOnExactPlaces)
{
    const auto links = manyLinks(8000);
    Links f(links);
    TDLinkMasterView* view = f.view();
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum());
    const auto cards = view->cards();
    ASSERT_FALSE(cards.empty());
    EXPECT_EQ(cards.back()->link().id, links.back().id);
    const int first = static_cast<int>(links.size() - cards.size());
    for (std::size_t k = 0; k < cards.size(); ++k)
        EXPECT_EQ(
            cards[k]->geometry(), view->cardRect(first + static_cast<int>(k)).translated(0, -bar->value()));
    expectOnlyTheCardsInView(view, links);
    EXPECT_EQ(bar->value(), bar->maximum());
}
