#include "../ScreenTestSupport.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/screens/settings/SettingsView.h"
#include "app/store/TDLibraryLoader.h"
#include "platform/foundation/UserDefaults.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>

using apptest::LibraryRoot;
using screentest::alertOn;
using screentest::closeAlert;

namespace {

QStringList storedNames()
{
    auto stored = platform::UserDefaults::standard().data(TDCategoryStore::defaultsKey);
    return stored ? screentest::namesIn(*stored) : QStringList();
}

struct Fixture {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    QWidget window;
    SettingsView* view;

    explicit Fixture(std::function<void(Fixture&)> before = {})
    {
        if (before)
            before(*this);
        auto* layout = new QVBoxLayout(&window);
        view = new SettingsView(stores, &window);
        layout->addWidget(view);
        window.setFixedWidth(480);
        window.show();
        QCoreApplication::processEvents();
    }

    // What the rows show once the renders the last changes asked for have run.
    QStringList rowNames() const
    {
        QCoreApplication::processEvents();
        QStringList names;
        for (TDCategoryRow* row : view->rows())
            names.append(row->text());
        return names;
    }
    QStringList highlighted() const
    {
        QCoreApplication::processEvents();
        QStringList names;
        for (TDCategoryRow* row : view->rows()) {
            if (row->isSelected())
                names.append(row->text());
        }
        return names;
    }
    void click(int row)
    {
        QCoreApplication::processEvents();
        TDCategoryRow* target = view->rows()[row];
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(target->width() - 2, 5));
    }
    void minus() { view->deleteButton()->click(); }
    void add(const QString& name)
    {
        view->addButton()->click();
        QLineEdit* field = view->newCategoryField();
        ASSERT_TRUE(field);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        screentest::typeText(field, name);
        view->newCategorySheet()->findChild<QPushButton*>("addButton")->click();
    }
};

} // namespace

TEST(SettingsView, OpensOnTheFirstCategoryAndAPressAnywhereOnARowSelectsIt)
{
    Fixture f;
    EXPECT_EQ(
        f.rowNames(), (QStringList { "Software", "Hardware", "Illustration", "Graphic design", "Music" }));
    EXPECT_EQ(f.highlighted(), QStringList { "Software" });
    f.click(2);
    EXPECT_EQ(f.highlighted(), QStringList { "Illustration" });
    EXPECT_EQ(f.view->restoreButton()->text(), "Restore the default");
    EXPECT_EQ(f.view->findChild<QWidget*>("categoryControlGroup")->width(), 120);
}

// A large desktop font (a user with poor sight) leaves the list's controls no room for its label
// beside it, in a window of fixed width: the label goes above. A Thai name stacks tone marks over
// its vowels, above the tallest Latin letter: its row is as tall as the line it makes.
TEST(SettingsView, TheLabelAndRowsFollowALargeFontAndATallScript)
{
    const QFont saved = QApplication::font();
    const QString thai = QString::fromUtf8("\u0E17\u0E35\u0E48\u0E1B\u0E31\u0E49\u0E19");
    for (int points : { 7, 20 }) {
        QFont font = saved;
        font.setPointSize(points);
        QApplication::setFont(font);
        Fixture f([&](Fixture& f) {
            f.stores.categoryStore->setTdCategories({ TDCategory::make(platform::Uuid::random(), thai) });
        });
        auto* label = f.view->findChild<QLabel*>("categoryLabel");
        QWidget* box = f.view->findChild<QScrollArea*>("categoryList")->parentWidget();
        EXPECT_GE(label->width(), label->sizeHint().width()) << points;
        EXPECT_FALSE(label->geometry().intersects(box->geometry())) << points;
        EXPECT_GE(box->height(), box->minimumSizeHint().height()) << points;
        QTextLayout layout(thai, f.view->rows().front()->font());
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        EXPECT_GE(f.view->rows().front()->height(), std::floor(line.ascent() + line.descent()) + 8);
    }
    QApplication::setFont(saved);
}

// The box's border is a hairline of the tertiary label colour inside its bounds on a screen at 2x
// as at 1x: one device pixel, with the box's own background right inside it.
TEST(SettingsView, TheCategoryBoxBorderIsAHairlineAtEveryScale)
{
    Fixture f;
    QWidget* box = f.view->findChild<QWidget*>("categoryBox");
    ASSERT_TRUE(box);
    QColor border;
    for (int scale : { 1, 2 }) {
        SCOPED_TRACE(scale);
        QImage image(box->size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::magenta);
        box->render(&image);
        const QColor ground = tdappearance::color(tdappearance::SystemColor::controlBackground, box);
        const int middleX = image.width() / 2, middleY = image.height() / 2;
        const int right = image.width() - 1, bottom = image.height() - 1;
        if (!border.isValid())
            border = image.pixelColor(0, middleY);
        EXPECT_NE(border, ground);
        for (QPoint edge :
            { QPoint(0, middleY), QPoint(middleX, 0), QPoint(right, middleY), QPoint(middleX, bottom) })
            EXPECT_EQ(image.pixelColor(edge), border) << edge.x() << "," << edge.y();
        for (QPoint inside : { QPoint(1, middleY), QPoint(right - 1, middleY), QPoint(middleX, bottom - 1) })
            EXPECT_EQ(image.pixelColor(inside), ground) << inside.x() << "," << inside.y();
    }
}

// The application's font changed while the window is open (the desktop's font setting): the flat
// "Restore the default" follows it as the label beside the list does, and shows its text whole.
TEST(SettingsView, RestoreTheDefaultFollowsALiveChangeOfTheApplicationFont)
{
    Fixture f;
    const QFont saved = QApplication::font();
    auto* label = f.view->findChild<QLabel*>("categoryLabel");
    QPushButton* restore = f.view->restoreButton();
    for (int points : { 20, saved.pointSize() }) {
        QFont font = saved;
        font.setPointSize(points);
        QApplication::setFont(font);
        QCoreApplication::processEvents();
        EXPECT_EQ(label->font().pointSize(), points);
        EXPECT_EQ(restore->font().pointSize(), points);
        // The list's label moves above it once the wider bar has been laid out.
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return restore->width() >= restore->fontMetrics().horizontalAdvance(restore->text());
        })) << points;
    }
    QApplication::setFont(saved);
}

// "Restore the default" stands out from the bar it sits in after a live switch between light and
// dark, as it does when the window opens in either.
TEST(SettingsView, RestoreTheDefaultFollowsALiveChangeOfAppearance)
{
    Fixture f;
    QPushButton* restore = f.view->restoreButton();
    for (bool dark : { true, false }) {
        screentest::ScopedPalette palette(dark);
        QCoreApplication::processEvents();
        const QImage picture = f.window.grab().toImage();
        const QRect button(restore->mapTo(&f.window, QPoint(0, 0)), restore->size());
        const QColor ground = picture.pixelColor(button.topLeft());
        double strongest = 1;
        for (int y = button.top(); y <= button.bottom(); ++y)
            for (int x = button.left(); x <= button.right(); ++x)
                strongest
                    = std::max(strongest, tdappearance::contrastRatio(picture.pixelColor(x, y), ground));
        EXPECT_GE(strongest, 4.5) << (dark ? "dark" : "light");
    }
}

// The rows' names are set in the application's font at their own size: a change of that font while
// the window is open (the desktop's setting) reaches them, and they are laid out again for it.
TEST(SettingsView, CategoryRowsFollowALiveChangeOfTheApplicationFont)
{
    const QFont saved = QApplication::font();
    Fixture f;
    for (const char* family : { "DejaVu Serif", "DejaVu Sans Mono" }) {
        QFont font = saved;
        font.setFamily(QString::fromLatin1(family));
        font.setPointSize(18);
        QApplication::setFont(font);
        QCoreApplication::processEvents();
        TDCategoryRow* row = f.view->rows().front();
        EXPECT_EQ(row->font().family(), family);
        EXPECT_EQ(row->font().pixelSize(), 13);
        EXPECT_EQ(row->font().weight(), QFont::Normal);
        EXPECT_TRUE(testsupport::waitUntil([&] { return row->height() == row->sizeHint().height(); }))
            << family;
    }
    QApplication::setFont(saved);
}

// Without a mouse the category "minus" removes is chosen with the arrows.
// A long Latin name in a right-to-left layout is set against the right edge and still ends in
// its ellipsis: a dot on the baseline, not a letter, is the ink furthest right.
TEST(SettingsView, InARightToLeftLayoutALongNameStartsAtTheRightAndEndsInItsEllipsis)
{
    for (Qt::LayoutDirection direction : { Qt::LeftToRight, Qt::RightToLeft }) {
        QGuiApplication::setLayoutDirection(direction);
        Fixture f([](Fixture& f) {
            f.stores.categoryStore->setTdCategories({ TDCategory::make(platform::Uuid::random(),
                "Photography with a very long category name that does not fit in the box at all") });
        });
        TDCategoryRow* row = f.view->rows().front();
        f.click(0);
        QImage image = row->grab().toImage();
        QGuiApplication::setLayoutDirection(Qt::LeftToRight);
        const QColor ground = image.pixelColor(2, 2);
        const QRect ink = screentest::inkBounds(image, ground, {}, 80);
        ASSERT_FALSE(ink.isEmpty());
        if (direction == Qt::RightToLeft)
            EXPECT_GT(ink.right(), row->width() - 8 - 4);
        else
            EXPECT_LT(ink.left(), 8 + 4);
        const QRect end
            = screentest::inkBounds(image, ground, QRect(ink.right() - 1, 0, 2, image.height()), 80);
        EXPECT_LE(end.height(), 3) << "the last ink is the ellipsis's dot";
        EXPECT_GT(end.top(), ink.center().y());
    }
}

TEST(SettingsView, TheArrowsChooseTheCategoryMinusRemoves)
{
    Fixture f;
    QWidget* list = f.view->categoryList();
    EXPECT_TRUE(list->focusPolicy() & Qt::TabFocus);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(f.highlighted(), QStringList { "Software" }) << "nothing above the first";
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(f.highlighted(), QStringList { "Illustration" });
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(f.highlighted(), QStringList { "Music" });
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(f.highlighted(), QStringList { "Music" });
    f.minus();
    EXPECT_EQ(f.rowNames(), (QStringList { "Software", "Hardware", "Illustration", "Graphic design" }));
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(f.highlighted(), QStringList { "Software" }) << "after a deletion the arrows start again";
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(f.highlighted(), QStringList { "Software" });
}

TEST(SettingsView, MinusRefusesACategoryInUseAndTheLastOne)
{
    Fixture f([](Fixture& f) {
        auto categories = f.stores.categoryStore->tdCategories();
        f.stores.projectStore->setTdProjects({ screentest::project("P", categories[1]) });
    });
    f.click(1);
    f.minus();
    QMessageBox* alert = alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "Can't delete the category");
    EXPECT_EQ(alert->informativeText(),
        "Some projects are made in the category you are trying to remove. To delete this category, first "
        "delete the "
        "corresponding project or change the category.");
    closeAlert(alert);
    EXPECT_EQ(f.rowNames().size(), 5);

    // Down to the one in use: still the in-use alert; then with an unused last one, the count alert.
    for (int i = 0; i < 4; ++i) {
        int unused = f.rowNames().indexOf("Hardware") == 0 ? 1 : 0;
        f.click(unused);
        f.minus();
    }
    EXPECT_EQ(f.rowNames(), QStringList { "Hardware" });
    EXPECT_EQ(storedNames(), QStringList { "Hardware" });
    f.click(0);
    f.minus();
    ASSERT_TRUE(alertOn(&f.window));
    EXPECT_EQ(alertOn(&f.window)->text(), "Can't delete the category");
    closeAlert(alertOn(&f.window));
    f.stores.projectStore->setTdProjects({});
    f.minus();
    ASSERT_TRUE(alertOn(&f.window));
    EXPECT_EQ(alertOn(&f.window)->text(), "At least 1 category should exist.");
    EXPECT_EQ(alertOn(&f.window)->informativeText(),
        "At least one category should exist to create a project, so a category cannot be deleted.");
    closeAlert(alertOn(&f.window));
    EXPECT_EQ(f.rowNames(), QStringList { "Hardware" });
}

// Run only as the child of the test below: an earlier launch that made a project in the first
// default category and saved it, with nothing stored in the settings.
TEST(SettingsViewChild, DISABLED_SavesAProjectInTheFirstDefaultCategory)
{
    QString documents = qEnvironmentVariable("TINDREL_SETTINGS_CHILD_DOCUMENTS");
    ASSERT_FALSE(documents.isEmpty());
    platform::Environment::setRoots({ documents, {}, documents + "/settings.ini", {} });
    TDProjectStore store;
    bool saved = false;
    store.save({ screentest::project("Earlier", TDCategoryStore::defaultCategories().front()) },
        [&](auto result) { saved = bool(result); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return saved; }));
}

TEST(SettingsView, ADefaultCategoryAProjectTookInAnEarlierLaunchIsStillInUse)
{
    SKIP_WITHOUT_CHILD_PROCESSES();
    Fixture f([](Fixture& f) {
        f.root.makeLibraryFolder();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TINDREL_SETTINGS_CHILD_DOCUMENTS", f.root.documents());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
            { "--gtest_also_run_disabled_tests",
                "--gtest_filter=SettingsViewChild.DISABLED_SavesAProjectInTheFirstDefaultCategory" });
        ASSERT_TRUE(child.waitForFinished(60000));
        ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().constData();
        auto projects = tdlibrary::decodeProjects(f.root.read("projects.library"));
        ASSERT_TRUE(projects);
        f.stores.projectStore->setTdProjects(projects.value());
    });
    auto project = f.stores.projectStore->tdProjects().front();
    EXPECT_EQ(project->category()->id(), TDCategoryStore::defaultCategories().front()->id())
        << "the same id in this launch";
    f.minus();
    ASSERT_TRUE(alertOn(&f.window));
    EXPECT_EQ(alertOn(&f.window)->text(), "Can't delete the category");
    EXPECT_EQ(f.rowNames().size(), 5);
}

// The settings window opens at once, while the library may still be loading: until the projects
// are in, no category can be known to be unused.
TEST(SettingsView, MinusWaitsForTheProjectsToLoadBeforeDeletingACategory)
{
    Fixture f([](Fixture& f) {
        auto encoded = tdlibrary::encodeProjects(
            { screentest::project("Loaded", f.stores.categoryStore->tdCategories().front()) });
        ASSERT_TRUE(encoded);
        f.root.write("projects.library", encoded.value());
    });
    loadLibraryFiles(f.stores.projectStore, f.stores.mediaStore, f.stores.linkStore);
    ASSERT_TRUE(f.stores.projectStore->tdProjects().empty()) << "still loading";
    f.minus();
    QMessageBox* alert = alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "Can't delete the category");
    closeAlert(alert);
    EXPECT_EQ(f.rowNames().size(), 5);
    EXPECT_EQ(storedNames(), QStringList()) << "nothing saved";

    ASSERT_TRUE(testsupport::waitUntil([&] { return !f.stores.projectStore->tdProjects().empty(); }));
    f.click(1);
    f.minus();
    EXPECT_FALSE(alertOn(&f.window));
    EXPECT_EQ(f.rowNames().size(), 4) << "an unused one goes once the projects are in";
}

TEST(SettingsView, AfterADeletionMinusActsOnNothingUntilARowIsChosen)
{
    Fixture f;
    f.click(4);
    f.minus();
    EXPECT_EQ(f.rowNames(), (QStringList { "Software", "Hardware", "Illustration", "Graphic design" }));
    EXPECT_TRUE(f.highlighted().isEmpty());
    EXPECT_EQ(storedNames(), f.rowNames());
    // A new "Music" that a project uses is not removed through the stale selection.
    f.add("Music");
    auto music = f.stores.categoryStore->tdCategories().back();
    f.stores.projectStore->setTdProjects({ screentest::project("P", music) });
    f.minus();
    EXPECT_FALSE(alertOn(&f.window));
    EXPECT_EQ(f.rowNames().back(), "Music");
}

// Minus is offered only while it has a category to act on: not after a deletion left no row chosen,
// and again once one is.
TEST(SettingsView, MinusIsEnabledOnlyWhileACategoryIsChosen)
{
    Fixture f;
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.view->deleteButton()->isEnabled()) << "the first category is chosen on opening";
    f.click(4);
    f.minus();
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.view->deleteButton()->isEnabled());
    f.add("Music");
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.view->deleteButton()->isEnabled()) << "a new row of the old name is not chosen";
    f.click(2);
    EXPECT_TRUE(f.view->deleteButton()->isEnabled());
}

TEST(SettingsView, MinusNeverRemovesASameNamedCategoryInUse)
{
    Fixture f([](Fixture& f) {
        auto categories = f.stores.categoryStore->tdCategories();
        auto twin = TDCategory::make(platform::Uuid::random(), "Music");
        categories.push_back(twin);
        f.stores.categoryStore->setTdCategories(categories);
        f.stores.projectStore->setTdProjects({ screentest::project("P", twin) });
    });
    f.click(4);
    f.minus();
    ASSERT_TRUE(alertOn(&f.window));
    EXPECT_EQ(alertOn(&f.window)->text(), "Can't delete the category");
    EXPECT_EQ(f.rowNames().size(), 6);
}

TEST(SettingsView, RestoreAppendsTheMissingDefaultsWithTheirIdsAndAlwaysSaves)
{
    Fixture f;
    auto defaults = TDCategoryStore::defaultCategories();
    f.click(4);
    f.minus();
    f.click(1);
    f.minus();
    f.add("music");
    f.view->restoreButton()->click();
    EXPECT_EQ(f.rowNames(),
        (QStringList { "Software", "Illustration", "Graphic design", "music", "Hardware", "Music" }));
    auto categories = f.stores.categoryStore->tdCategories();
    EXPECT_EQ(categories[4], defaults[1]);
    EXPECT_EQ(categories[5], defaults[4]) << "the same record, the same id";

    ASSERT_TRUE(platform::UserDefaults::standard().setData(TDCategoryStore::defaultsKey, "[]"));
    f.view->restoreButton()->click();
    EXPECT_EQ(f.rowNames().size(), 6);
    EXPECT_EQ(storedNames(), f.rowNames()) << "written again although nothing changed";
}

TEST(SettingsView, AddRefusesDuplicatesAndBlanksAndKeepsTheTextAcrossCancel)
{
    Fixture f;
    f.add("Software");
    QWidget* sheet = f.view->newCategorySheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(alertOn(sheet));
    EXPECT_EQ(alertOn(sheet)->text(), "The category already exist.");
    EXPECT_EQ(alertOn(sheet)->informativeText(),
        "The category with the name you entered already exists. Please enter a different name.");
    closeAlert(alertOn(sheet));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(f.view->newCategoryField()->text(), "Software");

    f.view->newCategoryField()->selectAll();
    QTest::keyClick(f.view->newCategoryField(), Qt::Key_Backspace);
    sheet->findChild<QPushButton*>("addButton")->click();
    ASSERT_TRUE(alertOn(sheet));
    EXPECT_EQ(alertOn(sheet)->text(), "A name is blank");
    EXPECT_EQ(alertOn(sheet)->informativeText(),
        "A name is required to create a project name. Please enter a name.");
    closeAlert(alertOn(sheet));

    screentest::typeText(f.view->newCategoryField(), "Foo");
    sheet->findChild<QPushButton*>("cancelButton")->click();
    EXPECT_FALSE(sheet->isVisible());
    f.view->addButton()->click();
    EXPECT_EQ(f.view->newCategoryField()->text(), "Foo");
    EXPECT_EQ(f.view->newCategoryField()->placeholderText(), "New category name");

    f.view->newCategorySheet()->findChild<QPushButton*>("addButton")->click();
    EXPECT_FALSE(f.view->newCategorySheet() && f.view->newCategorySheet()->isVisible());
    EXPECT_EQ(f.rowNames().back(), "Foo");
    EXPECT_EQ(f.view->newCategoryTitle(), "");
    EXPECT_EQ(f.highlighted(), QStringList { "Software" }) << "the selection does not move";
    f.add("  ");
    f.add("software");
    EXPECT_EQ(f.rowNames().mid(5), (QStringList { "Foo", "  ", "software" }));
}

// Added below the fold, or restored there, a category is scrolled into view: the click shows what
// it did.
TEST(SettingsView, ANewCategoryBelowTheFoldIsScrolledIntoView)
{
    Fixture f;
    f.window.setFixedHeight(280);
    QScrollArea* list = f.view->categoryList();
    auto lastRowInView = [&] {
        TDCategoryRow* last = f.view->rows().last();
        return list->viewport()->rect().contains(
            QRect(last->mapTo(list->viewport(), QPoint()), last->size()));
    };
    for (int i = 0; i < 12; ++i)
        f.add(QStringLiteral("Category %1").arg(i));
    ASSERT_TRUE(testsupport::waitUntil([&] { return list->verticalScrollBar()->maximum() > 0; }))
        << "the rows overflow the box";
    EXPECT_EQ(f.rowNames().back(), "Category 11");
    EXPECT_TRUE(lastRowInView());

    list->verticalScrollBar()->setValue(0);
    ASSERT_TRUE(f.stores.categoryStore->remove(*f.stores.categoryStore->tdCategories().front()));
    f.view->restoreButton()->click();
    EXPECT_EQ(f.rowNames().back(), "Software");
    EXPECT_TRUE(lastRowInView());
}

TEST(SettingsView, TheCreateSheetPickerFollowsTheList)
{
    Fixture f;
    QWidget main;
    main.show();
    auto* sheet = new CreateTDProjectSheet(f.stores, &main);
    sheet->open();
    QCoreApplication::processEvents();
    QComboBox* picker = sheet->form()->categoryPicker();
    EXPECT_EQ(picker->count(), 5);
    f.add("Zines");
    ASSERT_TRUE(testsupport::waitUntil([&] { return picker->count() == 6; }));
    EXPECT_EQ(picker->itemText(5), "Zines");
    f.click(2);
    f.minus();
    ASSERT_TRUE(testsupport::waitUntil([&] { return picker->count() == 5; }));
    EXPECT_EQ(picker->findText("Illustration"), -1);
    EXPECT_EQ(picker->currentText(), "Software");
}

TEST(SettingsView, AStoredEmptyListShowsNoRowsAndPlusStillWorks)
{
    Fixture f([](Fixture& f) {
        ASSERT_TRUE(platform::UserDefaults::standard().setData(TDCategoryStore::defaultsKey, "[]"));
        f.stores.categoryStore = std::make_shared<TDCategoryStore>();
    });
    EXPECT_TRUE(f.rowNames().isEmpty());
    EXPECT_FALSE(f.view->selectedTDCategory());
    f.minus();
    EXPECT_FALSE(alertOn(&f.window));
    f.add("First");
    EXPECT_EQ(f.rowNames(), QStringList { "First" });
    EXPECT_EQ(storedNames(), QStringList { "First" });
}

TEST(SettingsView, ASettingsFileThatCannotBeWrittenIsShownAndKeptAsItWas)
{
    Fixture f;
    // A folder where the settings file must go: every write of the list fails.
    QDir(f.root.root()).mkdir("settings.ini");
    f.add("Zines");
    EXPECT_EQ(f.rowNames().back(), "Zines") << "the list stays changed in memory";
    QMessageBox* alert = alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The settings could not be saved.");
    EXPECT_TRUE(alert->informativeText().remove(QChar(0x200B)).contains("settings.ini"));
    closeAlert(alert);
    EXPECT_TRUE(QFileInfo(f.root.root() + "/settings.ini").isDir());
}
