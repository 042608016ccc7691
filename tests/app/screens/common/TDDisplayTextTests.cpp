#include "../ScreenTestSupport.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/common/EditTDProjectSheet.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/settings/SettingsView.h"

#include <QComboBox>
#include <QMainWindow>

TEST(TDDisplayText, CutsOnACharacterBoundary)
{
    EXPECT_EQ(tdDisplayText("short"), "short");
    QString exact(tdDisplayTextLimit, 'x');
    EXPECT_EQ(tdDisplayText(exact), exact);
    // A pair of surrogates straddling the limit is dropped whole.
    QString pairs = QString(tdDisplayTextLimit - 1, 'x') + QString::fromUtf8("\xF0\x9F\x8E\xB9") + "tail";
    QString cut = tdDisplayText(pairs);
    EXPECT_EQ(cut, QString(tdDisplayTextLimit - 1, 'x') + QChar(0x2026));
}

// A library file edited or synced from elsewhere can hold names of megabytes; every screen that
// shows one lays out a bounded text, and the window can still be made narrow.
TEST(TDDisplayText, HugeStoredNamesAreShownBoundedEverywhere)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    const QString huge(5'000'000, QChar('n'));
    auto category = TDCategory::make(platform::Uuid::random(), huge);
    stores.categoryStore->setTdCategories({ category });
    auto project = screentest::project(huge, category);
    stores.projectStore->setTdProjects({ project });

    QMainWindow window;
    auto* content = new NavigationView(stores, &window);
    window.setCentralWidget(content);
    window.resize(1200, 700);
    window.show();
    QCoreApplication::processEvents();
    auto* grid = dynamic_cast<TDProjectMasterView*>(content->destinationView());
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->cards().size(), 1);
    TDProjectItem* card = grid->cards().front();
    EXPECT_LE(card->nameText().size(), tdDisplayTextLimit + 1);
    EXPECT_LE(card->categoryText().size(), tdDisplayTextLimit + 1);

    grid->push(project);
    QCoreApplication::processEvents();
    EXPECT_LE(content->toolbar()->title().size(), tdDisplayTextLimit + 1);
    EXPECT_LE(window.windowTitle().size(), tdDisplayTextLimit + 1);
    EXPECT_LT(content->toolbar()->minimumSizeHint().width(), 800);

    EditTDProjectSheet sheet(project, stores, &window);
    EXPECT_LE(sheet.windowTitle().size(), tdDisplayTextLimit + 1);
    for (auto* combo : sheet.findChildren<QComboBox*>())
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_LE(combo->itemText(i).size(), tdDisplayTextLimit + 1);

    SettingsView settings(stores);
    for (TDCategoryRow* row : settings.rows())
        EXPECT_LE(row->text().size(), tdDisplayTextLimit + 1);
    EXPECT_EQ(project->name().size(), huge.size()) << "the stored name stays as it is";
}
