#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDLinkMasterView.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/store/TDLibrary.h"

#include <QLabel>
#include <QMainWindow>

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
