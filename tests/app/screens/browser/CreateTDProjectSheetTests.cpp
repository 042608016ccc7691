#include "../../FatDisk.h"
#include "../ScreenTestSupport.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "platform/foundation/UserDefaults.h"

#include <QAccessible>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>

using apptest::LibraryRoot;
using screentest::alertOn;
using screentest::closeAlert;
using screentest::makeStores;

namespace {

struct Fixture {
    LibraryRoot root;
    TDStores stores = makeStores();
    QWidget window;

    Fixture() { window.show(); }

    CreateTDProjectSheet* open()
    {
        auto* sheet = new CreateTDProjectSheet(stores, &window);
        sheet->open();
        QCoreApplication::processEvents();
        return sheet;
    }
    void type(CreateTDProjectSheet* sheet, const QString& name)
    {
        sheet->form()->nameField()->setFocus();
        screentest::typeText(sheet->form()->nameField(), name);
    }
    void create(CreateTDProjectSheet* sheet)
    {
        QTest::mouseClick(sheet->form()->primaryButton(), Qt::LeftButton);
    }
};

} // namespace

TEST(CreateTDProjectSheet, CreatesTheRecordTheFolderAndTheLibraryFile)
{
    Fixture f;
    auto categories = f.stores.categoryStore->tdCategories();
    CreateTDProjectSheet* sheet = f.open();
    EXPECT_EQ(sheet->width(), 640);
    EXPECT_EQ(sheet->form()->categoryPicker()->currentText(), "Software");
    f.type(sheet, "Alpha");
    EXPECT_EQ(sheet->name(), "Alpha");
    sheet->form()->categoryPicker()->setCurrentIndex(1);
    emit sheet->form()->categoryPicker()->activated(1);
    f.create(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));

    auto projects = f.stores.projectStore->tdProjects();
    ASSERT_EQ(projects.size(), 1u);
    const auto& made = projects.front();
    EXPECT_EQ(made->name(), "Alpha");
    EXPECT_EQ(made->category(), categories[1]) << "the store's own category object";
    EXPECT_EQ(made->status(), TDStatus::inProgress);
    EXPECT_FALSE(made->isFavorite());
    EXPECT_TRUE(made->tdNote().empty());
    EXPECT_TRUE(made->quickAccessURL().empty());
    EXPECT_FALSE(made->coverImageURL());
    EXPECT_EQ(made->imageColumnCount(), 12.0);
    EXPECT_TRUE(QFileInfo(f.root.library() + "/Alpha").isDir());
    EXPECT_EQ(screentest::namesIn(f.root.read("projects.library")), QStringList { "Alpha" });
}

TEST(CreateTDProjectSheet, RefusedNamesRaiseTheirAlertAndCreateNothing)
{
    struct Case {
        QString name;
        QString title;
        QString message;
    };
    const QString same = "The project already exist.";
    const QString sameMessage
        = "A project with the name you entered already exists. Please enter a different name.";
    const QString blank = "A name is blank";
    const QString blankMessage = "A name is required to create a project name. Please enter a name.";
    const Case cases[] = {
        { "Existing", same, sameMessage },
        { QString::fromUtf8("Cafe\xcc\x81"), same, sameMessage },
        { "", blank, blankMessage },
        { "   ", blank, blankMessage },
        { ".", "The name cannot be used", {} },
        { "..", "The name cannot be used", {} },
        { "a/b", "The name cannot be used", {} },
        { "../x", "The name cannot be used", {} },
        { "projects.library", "The name cannot be used", {} },
        { "MEDIA.LIBRARY", "The name cannot be used", {} },
        { QString(256, QLatin1Char('a')), "The name is too long", {} },
        { "Leftover", "The project folder already exists.", {} },
    };
    for (const auto& test : cases) {
        Fixture f;
        auto category = f.stores.categoryStore->tdCategories().front();
        f.stores.projectStore->setTdProjects({ screentest::project("Existing", category),
            screentest::project(QString::fromUtf8("Caf\xc3\xa9"), category) });
        f.root.makeLibraryFolder();
        QDir(f.root.library()).mkdir("Leftover");
        QFile leftover(f.root.library() + "/Leftover/keep.txt");
        ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
        leftover.write("mine");
        leftover.close();
        auto before = f.root.snapshot();

        CreateTDProjectSheet* sheet = f.open();
        f.type(sheet, test.name);
        f.create(sheet);
        QMessageBox* alert = alertOn(sheet);
        ASSERT_TRUE(alert) << test.name.toStdString();
        EXPECT_EQ(alert->text(), test.title) << test.name.toStdString();
        if (!test.message.isEmpty()) {
            EXPECT_EQ(alert->informativeText(), test.message);
        }
        closeAlert(alert);
        EXPECT_TRUE(sheet->isVisible()) << "the sheet stays open";
        EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 2u);
        EXPECT_EQ(f.root.snapshot(), before) << test.name.toStdString();
    }
}

// On a disk that ignores letter case (a memory card), "idea" names the folder a project "Idea" would
// find again: deleting "Idea" would then remove the new project's folder. With "Idea"'s folder
// missing the disk cannot be asked, so the name is refused on every disk.
TEST(CreateTDProjectSheet, ANameAFolderlessProjectHasButForCaseIsRefused)
{
    for (bool card : { false, true }) {
        Fixture f;
        f.root.makeLibraryFolder();
        std::optional<apptest::FatDisk> disk;
        if (card) {
            disk.emplace(f.root.library());
            if (!disk->mounted())
                GTEST_SKIP() << "no FAT disk can be mounted here";
        }
        auto category = f.stores.categoryStore->tdCategories().front();
        f.stores.projectStore->setTdProjects({ screentest::project("Idea", category) });
        auto before = f.root.snapshot();
        CreateTDProjectSheet* sheet = f.open();
        f.type(sheet, "idea");
        f.create(sheet);
        QMessageBox* alert = alertOn(sheet);
        ASSERT_TRUE(alert) << "card " << card;
        EXPECT_EQ(alert->text(), "The project already exist.");
        closeAlert(alert);
        EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 1u);
        EXPECT_EQ(f.root.snapshot(), before);
        sheet->reject();
    }
}

TEST(CreateTDProjectSheet, CreatePreparesTheLibraryFolderEvenForARefusedName)
{
    Fixture f;
    CreateTDProjectSheet* sheet = f.open();
    f.create(sheet);
    ASSERT_TRUE(alertOn(sheet));
    EXPECT_TRUE(QFileInfo(f.root.library()).isDir());
    EXPECT_TRUE(f.root.libraryEntries().isEmpty());
}

TEST(CreateTDProjectSheet, CancelKeepsNothingAndTheNextSheetStartsAfresh)
{
    Fixture f;
    CreateTDProjectSheet* sheet = f.open();
    f.type(sheet, "Draft");
    emit sheet->form()->categoryPicker()->activated(3);
    QTest::mouseClick(sheet->form()->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(QFileInfo::exists(f.root.library()));
    EXPECT_TRUE(f.stores.projectStore->tdProjects().empty());

    CreateTDProjectSheet* again = f.open();
    EXPECT_EQ(again->form()->nameField()->text(), "");
    EXPECT_EQ(again->selectedTDCategory(), f.stores.categoryStore->tdCategories().front());
    EXPECT_EQ(again->form()->dateField()->date(), QDate::currentDate());
}

TEST(CreateTDProjectSheet, AFailedSaveClosesTheSheetAndSaysSoOnTheWindow)
{
    Fixture f;
    f.root.makeLibraryFolder();
    // The library file's place is taken by a folder: every write of it fails.
    QDir(f.root.library()).mkdir("projects.library");
    CreateTDProjectSheet* sheet = f.open();
    apptest::CapturedStream out(stdout);
    f.type(sheet, "Gamma");
    f.create(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_TRUE(out.take().contains("An error occurred: "));
    EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 1u) << "the project stays in memory";
    QMessageBox* warning = alertOn(&f.window);
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->text(), "The library could not be saved.");
}

TEST(CreateTDProjectSheet, ASecondPressWhileSavingCreatesNothingMore)
{
    Fixture f;
    CreateTDProjectSheet* sheet = f.open();
    f.type(sheet, "Once");
    sheet->createProject();
    sheet->createProject();
    EXPECT_FALSE(sheet->form()->primaryButton()->isEnabled());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 1u);
}

TEST(CreateTDProjectSheet, AStoredEmptyCategoryListRefusesWithoutCrashing)
{
    LibraryRoot root;
    ASSERT_TRUE(platform::UserDefaults::standard().setData(TDCategoryStore::defaultsKey, "[]"));
    TDStores stores = makeStores();
    ASSERT_TRUE(stores.categoryStore->tdCategories().empty());
    QWidget window;
    window.show();
    auto* sheet = new CreateTDProjectSheet(stores, &window);
    sheet->open();
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet->form()->categoryPicker()->count(), 0);
    QTest::keyClicks(sheet->form()->nameField(), "Alpha");
    sheet->createProject();
    QMessageBox* alert = alertOn(sheet);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "A category is required");
    EXPECT_EQ(alert->informativeText(), "Add a category in Settings to create a project.");
    EXPECT_TRUE(stores.projectStore->tdProjects().empty());

    // A category added meanwhile (in the settings window) appears and can be chosen.
    closeAlert(alert);
    stores.categoryStore->add("Sketches");
    ASSERT_TRUE(testsupport::waitUntil([&] { return sheet->form()->categoryPicker()->count() == 1; }));
    EXPECT_EQ(sheet->form()->categoryPicker()->currentIndex(), -1)
        << "the binding is not changed by the list";
    emit sheet->form()->categoryPicker()->activated(0);
    sheet->createProject();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    ASSERT_EQ(stores.projectStore->tdProjects().size(), 1u);
    EXPECT_EQ(stores.projectStore->tdProjects().front()->category()->name(), "Sketches");
}

TEST(CreateTDProjectSheet, ACategoryDeletedInTheSettingsSinceItWasPickedIsRefused)
{
    Fixture f;
    CreateTDProjectSheet* sheet = f.open();
    f.type(sheet, "Alpha");
    auto picked = f.stores.categoryStore->tdCategories()[1];
    emit sheet->form()->categoryPicker()->activated(1);
    ASSERT_TRUE(f.stores.categoryStore->remove(*picked));
    f.create(sheet);
    QMessageBox* alert = alertOn(sheet);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "A category is required");
    // Four categories are left to choose from in the picker: none needs adding in the settings.
    EXPECT_EQ(alert->informativeText(), "Please choose a category.");
    EXPECT_TRUE(f.stores.projectStore->tdProjects().empty());
}

TEST(TDProjectSheetTemplate, PickerFollowsTheStoreByIdAndDatesKeepTheirTimeOfDay)
{
    LibraryRoot root;
    TDStores stores = makeStores();
    auto categories = stores.categoryStore->tdCategories();
    auto twin = TDCategory::make(platform::Uuid::random(), "Music");
    categories.push_back(twin);
    stores.categoryStore->setTdCategories(categories);

    std::shared_ptr<TDCategory> bound = twin;
    QString name;
    int nameWrites = 0;
    platform::Date date = platform::Date::fromUnixSeconds(
        QDateTime(QDate(2024, 3, 5), QTime(15, 42, 10, 123)).toMSecsSinceEpoch() / 1000.0 + 0.000456);
    int dismissed = 0;
    TDProjectSheetTemplate form(
        stores, { [&] { return bound; }, [&](auto c) { bound = c; } },
        { [&] { return name; },
            [&](QString n) {
                name = n;
                ++nameWrites;
            } },
        { [&] { return date; }, [&](platform::Date d) { date = d; } }, [&] { ++dismissed; }, [] {},
        QStringLiteral("Save"));
    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.primaryButton()->text(), "Save");
    EXPECT_EQ(form.categoryPicker()->count(), 6);
    EXPECT_EQ(form.categoryPicker()->currentIndex(), 5)
        << "the entry of the bound id, not the first of its name";

    QTest::keyClicks(form.nameField(), "abc");
    EXPECT_EQ(name, "abc");
    EXPECT_EQ(nameWrites, 3);

    platform::Date before = date;
    form.dateField()->setDate(QDate(2024, 3, 7));
    double moved = date.timeIntervalSince1970() - before.timeIntervalSince1970();
    EXPECT_NEAR(moved, 2 * 86400, 3600.001) << "two days later, at the same local time";
    EXPECT_NEAR(std::fmod(date.timeIntervalSince1970() - 0.000456, 1.0), 0.123, 1e-6);

    stores.categoryStore->add("Zines");
    ASSERT_TRUE(testsupport::waitUntil([&] { return form.categoryPicker()->count() == 7; }));
    EXPECT_EQ(form.categoryPicker()->itemText(6), "Zines");
    EXPECT_EQ(form.categoryPicker()->currentIndex(), 5);
    categories = stores.categoryStore->tdCategories();
    categories.erase(categories.begin() + 5);
    stores.categoryStore->setTdCategories(categories);
    ASSERT_TRUE(testsupport::waitUntil([&] { return form.categoryPicker()->count() == 6; }));
    EXPECT_EQ(form.categoryPicker()->currentIndex(), -1);
    EXPECT_EQ(bound, twin) << "the binding keeps its value";

    QTest::mouseClick(form.cancelButton(), Qt::LeftButton);
    EXPECT_EQ(dismissed, 1);
}

// A screen reader on Linux names a list box by its choice alone: each field of the project form says
// what it is for, the category picker through its row's label and its description.
TEST(CreateTDProjectSheet, AScreenReaderHearsWhatEachFieldIsFor)
{
    Fixture f;
    CreateTDProjectSheet* sheet = f.open();
    const std::pair<QWidget*, QString> fields[] = { { sheet->form()->nameField(), "Project name" },
        { sheet->form()->dateField(), "Start date" }, { sheet->form()->categoryPicker(), "Category" } };
    for (const auto& [field, purpose] : fields) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(field);
        ASSERT_TRUE(face);
        QStringList heard { face->text(QAccessible::Name), face->text(QAccessible::Description) };
        for (const auto& [label, relation] : face->relations(QAccessible::Label))
            heard.append(label->text(QAccessible::Name));
        EXPECT_TRUE(heard.contains(purpose))
            << purpose.toStdString() << ": " << heard.join('|').toStdString();
    }
    QAccessibleInterface* picker = QAccessible::queryAccessibleInterface(sheet->form()->categoryPicker());
    EXPECT_EQ(picker->text(QAccessible::Value), "Software") << "the choice is still heard";
}

// The project is made when Create is pressed: Cancel and Escape after it cannot undo that, so the
// sheet stays until the save ends and closes as created.
TEST(CreateTDProjectSheet, CancelWhileSavingKeepsTheSheetUntilItIsCreated)
{
    Fixture f;
    CreateTDProjectSheet* sheet = f.open();
    f.type(sheet, "Kept");
    f.create(sheet);
    EXPECT_FALSE(sheet->form()->cancelButton()->isEnabled());
    QTest::mouseClick(sheet->form()->cancelButton(), Qt::LeftButton);
    QTest::keyClick(sheet, Qt::Key_Escape);
    sheet->close();
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(f.stores.projectStore->tdProjects().size(), 1u);
}
