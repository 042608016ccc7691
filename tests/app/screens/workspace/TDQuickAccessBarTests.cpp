#include "../ScreenTestSupport.h"
#include "../UrlRecorder.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/screens/workspace/TDQuickAccessBar.h"

#include <QAction>
#include <QFileDialog>
#include <QScrollArea>

using apptest::LibraryRoot;
using screentest::alertOn;
using screentest::closeAlert;

namespace {

// The workspace of "Alpha" in a window, beside a file "My File.txt" and a folder "Sketches" outside
// the library; the bar's file dialog answers with `picks`, one per opening.
struct Bar {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    QWidget window;
    TDProjectDetailView* view = nullptr;
    TDQuickAccessBar* bar = nullptr;
    std::vector<std::optional<QString>> picks;
    int pickerOpened = 0;

    enum class Dialog { fake, real };

    explicit Bar(Dialog dialog = Dialog::fake)
    {
        root.makeLibraryFolder();
        QDir(root.library()).mkdir("Alpha");
        QDir(root.root()).mkdir("Sketches");
        QFile file(filePath());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
        stores.projectStore->setTdProjects({ project });
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new TDProjectDetailView(project, stores, &window);
        layout->addWidget(view);
        bar = view->quickAccessBar();
        if (dialog == Dialog::fake)
            bar->setItemPicker([this](QWidget*, auto chosen) {
                ++pickerOpened;
                auto pick = picks.empty() ? std::nullopt : picks.front();
                if (!picks.empty())
                    picks.erase(picks.begin());
                chosen(pick);
            });
        window.resize(1300, 600);
        window.show();
        QCoreApplication::processEvents();
    }
    ~Bar() { settle(); }

    QString filePath() const { return root.root() + "/My File.txt"; }
    QString folderPath() const { return root.root() + "/Sketches"; }
    platform::Url file() const { return apptest::fileUrl(filePath()); }
    platform::Url folder() const { return apptest::fileUrl(folderPath()); }

    void settle()
    {
        EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
        QCoreApplication::processEvents();
    }
    // The entries as "name|separator" once the bar has re-rendered.
    QStringList shown()
    {
        QCoreApplication::processEvents();
        QStringList entries;
        for (auto* entry : bar->entries())
            entries.append(entry->name() + (entry->showsSeparator() ? "|" : ""));
        return entries;
    }
    // The strip is as wide as its entries, the add button right after it.
    bool stripFits()
    {
        QCoreApplication::processEvents();
        auto* strip = bar->findChild<QScrollArea*>();
        return strip->width() == strip->widget()->sizeHint().width()
            && bar->addButton()->x() == strip->geometry().right() + 1 + TDQuickAccessBar::barSpacing;
    }
    QStringList savedUrls() const
    {
        QStringList urls;
        for (const auto& value : QJsonDocument::fromJson(root.read("projects.library"))
                                     .array()
                                     .first()["_quickAccessURL"]
                                     .toArray())
            urls.append(value.toString());
        return urls;
    }
};

} // namespace

TEST(TDQuickAccessBar, SitsUnderTheToolbarAndAddsWhatTheDialogPicksInOrder)
{
    Bar f;
    ASSERT_TRUE(f.bar);
    EXPECT_TRUE(f.bar->isVisible());
    EXPECT_LT(f.bar->geometry().bottom(), f.view->notesColumn()->geometry().top());
    EXPECT_TRUE(f.shown().isEmpty()) << "only the add button";

    f.picks = { f.filePath(), f.folderPath() + "/", std::nullopt };
    f.bar->addButton()->click();
    f.bar->addButton()->click();
    EXPECT_EQ(f.shown(), (QStringList { "My File.txt|", "Sketches" }))
        << "the new entry comes last; the one before it gains the line";
    EXPECT_TRUE(f.stripFits());
    for (auto* entry : f.bar->entries())
        EXPECT_TRUE(entry->hasIcon());
    f.settle();
    EXPECT_EQ(f.savedUrls(), (QStringList { f.file().absoluteString(), f.folder().absoluteString() }));

    const int saves = f.stores.projectStore->libraryFile()->writesRequested();
    f.bar->addButton()->click();
    EXPECT_EQ(f.pickerOpened, 3);
    EXPECT_FALSE(f.bar->isFileImporterOpen());
    EXPECT_EQ(f.shown().size(), 2) << "a cancelled dialog changes nothing";
    EXPECT_EQ(f.stores.projectStore->libraryFile()->writesRequested(), saves);
}

// Two entries of one URL are both drawn, the line decided by place: only the last entry has none.
// "Delete" on either removes both and leaves the item on disk.
TEST(TDQuickAccessBar, DuplicatesAreDrawnByPlaceAndGoTogether)
{
    Bar f;
    f.project->setQuickAccessURL({ f.file(), f.folder(), f.file() });
    EXPECT_EQ(f.shown(), (QStringList { "My File.txt|", "Sketches|", "My File.txt" }));

    f.bar->entries().back()->deleteAction()->trigger();
    EXPECT_EQ(f.shown(), (QStringList { "Sketches" }));
    EXPECT_FALSE(f.bar->findChildren<QWidget*>("quickAccessGhost").isEmpty())
        << "the removed entries close up on a spring";
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return f.bar->findChildren<QWidget*>("quickAccessGhost").isEmpty(); }));
    EXPECT_TRUE(f.stripFits()) << "and the add button follows them";
    f.settle();
    EXPECT_EQ(f.savedUrls(), (QStringList { f.folder().absoluteString() }));
    EXPECT_TRUE(QFileInfo::exists(f.filePath()));
}

// Right to left the entries run from the right, each with its icon at the right of its name and
// its line at its left, between it and the next entry; the last one has none at either edge.
TEST(TDQuickAccessBar, RightToLeftTheIconLeadsAndTheLineFallsBetweenEntries)
{
    Bar f;
    f.project->setQuickAccessURL({ f.file(), f.folder() });
    f.shown();
    for (Qt::LayoutDirection direction : { Qt::LeftToRight, Qt::RightToLeft }) {
        SCOPED_TRACE(direction == Qt::RightToLeft ? "right to left" : "left to right");
        f.window.setLayoutDirection(direction);
        QCoreApplication::processEvents();
        const auto entries = f.bar->entries();
        ASSERT_EQ(entries.size(), 2u);
        const bool mirrored = direction == Qt::RightToLeft;
        EXPECT_EQ(entries[0]->x() > entries[1]->x(), mirrored);
        const QImage picture = f.bar->grab().toImage();
        auto inkAt = [&](TDQuickAccessEntry* entry, int x) {
            const QPoint at = entry->mapTo(f.bar, QPoint(x, entry->height() / 2));
            return std::abs(picture.pixelColor(at).lightness()
                       - picture.pixelColor(f.bar->width() - 2, at.y()).lightness())
                > 10;
        };
        const int last = entries[0]->width() - 1;
        EXPECT_EQ(inkAt(entries[0], last), !mirrored) << "the line, on the side of the next entry";
        EXPECT_EQ(inkAt(entries[0], 0), mirrored);
        EXPECT_FALSE(inkAt(entries[1], 0) || inkAt(entries[1], entries[1]->width() - 1));
        // The folder's icon, 16 pixels after a 5-pixel margin, leads.
        const int icon = TDQuickAccessEntry::iconHorizontalPadding + TDQuickAccessEntry::iconSize / 2;
        EXPECT_TRUE(inkAt(entries[1], mirrored ? entries[1]->width() - 1 - icon : icon));
    }
}

TEST(TDQuickAccessBar, TheAddButtonStopsAtNineEntriesAndComesBackAfterARemoval)
{
    Bar f;
    std::vector<platform::Url> urls;
    for (int i = 0; i < 8; ++i)
        urls.push_back(apptest::fileUrl(f.root.root() + QStringLiteral("/item %1").arg(i)));
    f.project->setQuickAccessURL(urls);
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.bar->addButton()->isEnabled());

    f.picks = { f.filePath(), f.filePath() };
    f.bar->addButton()->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.project->quickAccessURL().size(), 9u);
    EXPECT_FALSE(f.bar->addButton()->isEnabled());
    EXPECT_EQ(f.bar->addButton()->drawnOpacity(), 0.5);
    f.bar->openFileImporter();
    EXPECT_EQ(f.pickerOpened, 1) << "no dialog while the button is disabled";

    f.bar->removeQuickAccessURL(urls.front());
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.bar->addButton()->isEnabled());
    EXPECT_EQ(f.bar->addButton()->drawnOpacity(), 1.0);

    // An edited library file may list hundreds: they scroll in the bar, the window keeps its width.
    const int minimumWidth = f.view->minimumSizeHint().width();
    f.project->setQuickAccessURL(std::vector<platform::Url>(300, f.file()));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.bar->entries().size(), 300u);
    EXPECT_EQ(f.view->minimumSizeHint().width(), minimumWidth);
    EXPECT_LE(f.bar->width(), f.window.width());
}

// A full bar's greyed "+" says why it does not add, and offers to add again once there is room.
TEST(TDQuickAccessBar, TheFullBarsAddButtonSaysWhyItIsDisabled)
{
    Bar f;
    f.project->setQuickAccessURL(std::vector<platform::Url>(9, f.file()));
    QCoreApplication::processEvents();
    ASSERT_FALSE(f.bar->addButton()->isEnabled());
    EXPECT_EQ(f.bar->addButton()->toolTip(), "The bar is full. Delete an entry to add another.");
    f.project->setQuickAccessURL(std::vector<platform::Url>(8, f.file()));
    QCoreApplication::processEvents();
    EXPECT_EQ(f.bar->addButton()->toolTip(), "Add a file or folder");
}

// Items outside the library are opened only when the user clicks them, and only local files and
// folders; one that is gone, or an address of another kind, is reported instead of failing silently.
TEST(TDQuickAccessBar, OpensAClickedItemAndReportsOneThatIsGoneOrNotLocal)
{
    screentest::UrlRecorder desktop({ "file", "https", "http" });
    const auto web = *platform::Url::fromString("https://example.com/a");
    apptest::CapturedStream out(stdout);
    Bar f;
    const auto gone = apptest::fileUrl(f.root.root() + "/gone.png");
    f.project->setQuickAccessURL({ f.file(), f.folder(), gone, web });
    QCoreApplication::processEvents();
    EXPECT_TRUE(desktop.opened.isEmpty()) << "showing the bar opens nothing";
    auto entries = f.bar->entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2]->name(), "gone.png");
    EXPECT_FALSE(entries[2]->hasIcon()) << "an item that is gone keeps its name, without an icon";
    EXPECT_FALSE(entries[3]->hasIcon());

    QTest::mouseClick(entries[0], Qt::LeftButton);
    QTest::keyClick(entries[1], Qt::Key_Space);
    EXPECT_EQ(desktop.opened, (QList<QUrl> { f.file().qUrl(), f.folder().qUrl() }));
    EXPECT_FALSE(alertOn(&f.window));

    for (auto* entry : { entries[2], entries[3] }) {
        QTest::mouseClick(entry, Qt::LeftButton);
        QMessageBox* alert = alertOn(&f.window);
        ASSERT_TRUE(alert);
        EXPECT_TRUE(alert->informativeText().contains(entry->name()));
        closeAlert(alert);
    }
    EXPECT_EQ(desktop.opened.size(), 2) << "neither was handed to the desktop";
    EXPECT_EQ(f.project->quickAccessURL().size(), 4u) << "the entries stay until removed";
    EXPECT_TRUE(out.take().contains("File does not exist at path: " + f.root.root().toUtf8() + "/gone.png"));
}

// Entries the user keeps inside a project's folder, or the folder itself, follow the folder when the
// project is renamed, those of other projects pointing there too; entries elsewhere stay as chosen.
TEST(TDQuickAccessBar, EntriesInsideTheProjectFolderFollowARenameAndStillOpen)
{
    screentest::UrlRecorder desktop({ "file" });
    Bar f;
    QDir(f.root.library()).mkpath("Alpha/refs");
    QDir(f.root.library()).mkdir("Beta");
    QFile(f.root.library() + "/Alpha/refs/plan.txt").open(QIODevice::WriteOnly);
    auto inside = [&](const QString& name, const QString& rest) {
        return apptest::fileUrl(f.root.library() + "/" + name + rest);
    };
    auto beta = screentest::project("Beta", f.stores.categoryStore->tdCategories().front());
    beta->setQuickAccessURL({ inside("Alpha", "/refs/plan.txt") });
    f.stores.projectStore->setTdProjects({ f.project, beta });
    f.project->setQuickAccessURL({ inside("Alpha", "/refs/plan.txt"), inside("Alpha", "/refs"),
        inside("Alpha", ""), f.file(), inside("Alphabet", "/x.txt") });

    TDLibrary library(f.stores);
    bool renamed = false;
    library.editProject(f.project, { "Gamma", f.project->startDate(), f.project->category() },
        [&](auto done) { renamed = bool(done); });
    EXPECT_TRUE(testsupport::waitUntil([&] { return renamed && library.operationsInFlight() == 0; }));
    const std::vector<platform::Url> expected { inside("Gamma", "/refs/plan.txt"), inside("Gamma", "/refs"),
        inside("Gamma", ""), f.file(), inside("Alphabet", "/x.txt") };
    EXPECT_EQ(f.project->quickAccessURL(), expected);
    EXPECT_EQ(beta->quickAccessURL(), std::vector<platform::Url> { expected[0] });
    EXPECT_TRUE(f.savedUrls().contains(expected[0].absoluteString())) << "the moved entries are saved";

    auto entries = f.bar->entries();
    ASSERT_EQ(entries.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(entries[std::size_t(i)], Qt::LeftButton);
        EXPECT_FALSE(alertOn(&f.window)) << "entry " << i << " is still there";
    }
    EXPECT_EQ(desktop.opened, (QList<QUrl> { expected[0].qUrl(), expected[1].qUrl(), expected[2].qUrl() }));
}

TEST(TDQuickAccessBar, NamesAreTheDecodedLastComponentAndBoundedForDisplay)
{
    const std::pair<const char*, QString> cases[] = {
        { "file:///home/u/My%20File.txt", "My File.txt" },
        { "file:///home/u/100%25", "100%" },
        { "file:///home/u/Sketches/", "Sketches" },
        { "file:///", "/" },
        { "https://example.com/a%20b?c=d", "a b?c=d" },
    };
    for (const auto& [text, name] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(tdQuickAccessName(*platform::Url::fromString(text)), name);
    }
    LibraryRoot root;
    apptest::CapturedStream out(stdout);
    TDQuickAccessEntry entry(apptest::fileUrl("/" + QString(5000, 'x')));
    out.take();
    EXPECT_LE(entry.name().size(), 1001);
    EXPECT_LE(entry.sizeHint().width(), 2 * 5 + 16 + TDQuickAccessEntry::nameMaximumWidth + 5 + 5);
}

// The real dialog takes a folder as readily as a file.
TEST(TDQuickAccessBar, TheFileDialogChoosesAFolderOrAFile)
{
    Bar f(Bar::Dialog::real);
    for (const QString& path : { f.folderPath(), f.filePath() }) {
        SCOPED_TRACE(path.toStdString());
        f.bar->addButton()->click();
        auto* dialog = f.window.findChild<QFileDialog*>("quickAccessFileDialog");
        ASSERT_TRUE(dialog);
        dialog->setDirectory(f.root.root());
        dialog->selectFile(path);
        ASSERT_TRUE(testsupport::waitUntil([&] { return dialog->selectedFiles() == QStringList { path }; }));
        QMetaObject::invokeMethod(dialog, "accept");
        ASSERT_TRUE(testsupport::waitUntil([&] { return !f.bar->isFileImporterOpen(); }));
        EXPECT_EQ(f.project->quickAccessURL().back(), apptest::fileUrl(path));
        QCoreApplication::processEvents();
    }
}

// A double or triple click, or Return held down, opens the item once: one window of its
// application, not one per click or per repeat.
TEST(TDQuickAccessBar, AnImpatientClickOrAHeldKeyOpensTheItemOnce)
{
    screentest::UrlRecorder desktop({ "file" });
    Bar f;
    f.project->setQuickAccessURL({ f.file() });
    QCoreApplication::processEvents();
    auto* entry = f.bar->entries().at(0);
    screentest::quickClicks(entry, 2);
    screentest::quickClicks(entry, 3);
    screentest::holdKey(entry, Qt::Key_Return, "\r");
    EXPECT_EQ(desktop.opened.size(), 3);
}

// The keys stay in a full bar while its add button is enabled or disabled under them: deleting the
// focused last entry hands them to the button it enables, and the ninth entry, added from the
// keyboard, takes them from the button it disables.
TEST(TDQuickAccessBar, TheKeysStayInTheBarWhenTheAddButtonComesOrGoes)
{
    Bar f;
    f.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    std::vector<platform::Url> urls(8, f.folder());
    urls.push_back(f.file());
    f.project->setQuickAccessURL(urls);
    QCoreApplication::processEvents();
    ASSERT_FALSE(f.bar->addButton()->isEnabled());
    f.bar->entries().back()->setFocus(Qt::TabFocusReason);
    f.bar->entries().back()->deleteAction()->trigger();
    f.settle();
    EXPECT_TRUE(f.bar->addButton()->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), f.bar->addButton());

    f.picks = { f.filePath() };
    QTest::keyClick(f.bar->addButton(), Qt::Key_Space);
    f.settle();
    ASSERT_EQ(f.bar->entries().size(), 9u);
    EXPECT_FALSE(f.bar->addButton()->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), f.bar->entries().back());
}
