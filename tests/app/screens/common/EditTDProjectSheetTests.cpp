#include "../ScreenTestSupport.h"
#include "app/screens/common/EditTDProjectSheet.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/store/TDDirectoryPath.h"
#include "app/store/TDProjectRename.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <ctime>

using apptest::LibraryRoot;
using platform::Url;
using screentest::alertOn;
using screentest::closeAlert;

namespace {

void writeFile(const QString& path, const QByteArray& bytes = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Project P with two notes (one whose folder is the decoded form of its title), two images and a
// cover, all on disk; project Q with one image.
struct Fixture {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> p;
    std::shared_ptr<TDProject> q;
    std::shared_ptr<TDMedia> qImage;
    QWidget window;

    Fixture()
    {
        root.makeLibraryFolder();
        auto category = stores.categoryStore->tdCategories().front();
        p = screentest::project("P", category);
        q = screentest::project("Q", category);
        QString pFolder = root.library() + "/P";
        std::vector<std::shared_ptr<TDNote>> notes;
        notes.push_back(TDNote::make(platform::Uuid::random(), p->id(), "Idea",
            apptest::fileUrl(pFolder + "/notes/Idea/Idea.txt"), {}));
        notes.push_back(TDNote::make(platform::Uuid::random(), p->id(), "a%20b",
            apptest::fileUrl(pFolder + "/notes/a b/a b.txt"), {}));
        p->setTdNote(notes);
        writeFile(pFolder + "/notes/Idea/Idea.txt", "idea");
        writeFile(pFolder + "/notes/a b/a b.txt", "spaced");
        TDMediaStore::MediaList media;
        for (int i = 0; i < 2; ++i) {
            auto id = platform::Uuid::random();
            QString folder = pFolder + "/images/" + id.lowercaseString();
            writeFile(folder + "/photo.png");
            writeFile(folder + "/thumbnail.jpg");
            media.push_back(TDMedia::make(id, apptest::fileUrl(folder + "/photo.png"),
                apptest::fileUrl(folder + "/thumbnail.jpg"), p->id()));
        }
        auto qId = platform::Uuid::random();
        QString qFolder = root.library() + "/Q/images/" + qId.lowercaseString();
        writeFile(qFolder + "/q.png");
        qImage = TDMedia::make(
            qId, apptest::fileUrl(qFolder + "/q.png"), apptest::fileUrl(qFolder + "/thumbnail.jpg"), q->id());
        media.push_back(qImage);
        stores.mediaStore->setTdMedia(media);
        writeFile(pFolder + "/P-cover-image.jpeg");
        p->setCoverImageURL(apptest::fileUrl(pFolder + "/P-cover-image.jpeg"));
        stores.projectStore->setTdProjects({ p, q });
        window.show();
    }

    EditTDProjectSheet* open()
    {
        auto* sheet = new EditTDProjectSheet(p, stores, &window);
        sheet->open();
        QCoreApplication::processEvents();
        return sheet;
    }
    void rename(EditTDProjectSheet* sheet, const QString& name)
    {
        sheet->form()->nameField()->selectAll();
        QTest::keyClick(sheet->form()->nameField(), Qt::Key_Backspace);
        screentest::typeText(sheet->form()->nameField(), name);
    }
    void save(EditTDProjectSheet* sheet)
    {
        QTest::mouseClick(sheet->form()->primaryButton(), Qt::LeftButton);
    }
};

} // namespace

TEST(EditTDProjectSheet, RenameMovesTheFolderAndEveryStoredPathFollows)
{
    Fixture f;
    EditTDProjectSheet* sheet = f.open();
    EXPECT_EQ(sheet->width(), 640);
    EXPECT_EQ(sheet->form()->nameField()->text(), "P");
    f.rename(sheet, "P2");
    f.save(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));

    const QString moved = f.root.library() + "/P2";
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/P"));
    EXPECT_EQ(f.p->name(), "P2");
    auto notes = f.p->tdNote();
    EXPECT_EQ(notes[0]->contentURL().path(), moved + "/notes/Idea/Idea.txt");
    EXPECT_EQ(notes[1]->contentURL().path(), moved + "/notes/a b/a b.txt") << "kept in its own folder";
    for (const auto& note : notes)
        EXPECT_TRUE(QFileInfo(note->contentURL().path()).isFile());
    for (const auto& item : f.stores.mediaStore->tdMedia()) {
        if (item == f.qImage)
            continue;
        QString folder = moved + "/images/" + item->id().lowercaseString();
        EXPECT_EQ(item->url().path(), folder + "/photo.png");
        EXPECT_EQ(item->thumbnailURL().path(), folder + "/thumbnail.jpg");
        EXPECT_TRUE(QFileInfo(item->url().path()).isFile());
    }
    EXPECT_TRUE(f.qImage->url().path().startsWith(f.root.library() + "/Q/")) << "another project's image";
    EXPECT_EQ(f.p->coverImageURL()->path(), moved + "/P-cover-image.jpeg");
    EXPECT_EQ(screentest::namesIn(f.root.read("projects.library")), (QStringList { "P2", "Q" }));
    EXPECT_TRUE(f.root.read("media.library").contains(QUrl::fromLocalFile(moved).toEncoded()));
}

TEST(EditTDProjectSheet, RefusedRenamesMoveNothing)
{
    struct Case {
        QString name;
        QString title;
    };
    const Case cases[] = {
        { " \t ", "A name is blank" },
        { "", "A name is blank" },
        { "Q", "The project already exist." },
        { "P/x", "The name cannot be used" },
        { "..", "The name cannot be used" },
        { "media.library", "The name cannot be used" },
        { "Empty", "The project folder already exists." },
    };
    for (const auto& test : cases) {
        Fixture f;
        QDir(f.root.library()).mkdir("Empty");
        auto before = f.root.snapshot();
        EditTDProjectSheet* sheet = f.open();
        f.rename(sheet, test.name);
        f.save(sheet);
        QMessageBox* alert = alertOn(sheet);
        ASSERT_TRUE(alert) << test.name.toStdString();
        EXPECT_EQ(alert->text(), test.title);
        if (test.title == "A name is blank") {
            EXPECT_EQ(alert->informativeText(),
                "A name is required to change the project name. Please enter a name.");
        }
        closeAlert(alert);
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_EQ(f.p->name(), "P");
        EXPECT_EQ(f.root.snapshot(), before) << test.name.toStdString();
    }
}

// A project whose folder is missing would find it again under a name that differs only in case,
// Unicode form or trailing dots on a disk that ignores those, and a deletion of it would remove the
// renamed project's folder. Where the other folder is there, the disk itself tells.
TEST(EditTDProjectSheet, ARenameOntoAFolderlessProjectsNameButForCaseIsRefused)
{
    for (const QString& name : { QString("GONE."), QString::fromUtf8("CAFE\xcc\x81 ") }) {
        Fixture f;
        auto category = f.stores.categoryStore->tdCategories().front();
        f.stores.projectStore->setTdProjects({ f.p, f.q, screentest::project("Gone", category),
            screentest::project(QString::fromUtf8("caf\xc3\xa9"), category) });
        auto before = f.root.snapshot();
        EditTDProjectSheet* sheet = f.open();
        f.rename(sheet, name);
        f.save(sheet);
        QMessageBox* alert = alertOn(sheet);
        ASSERT_TRUE(alert) << name.toStdString();
        EXPECT_EQ(alert->text(), "The project already exist.");
        closeAlert(alert);
        EXPECT_EQ(f.p->name(), "P");
        EXPECT_EQ(f.root.snapshot(), before) << name.toStdString();
    }

    Fixture f;
    EditTDProjectSheet* sheet = f.open();
    f.rename(sheet, "q");
    f.save(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_EQ(f.p->name(), "q") << "Q's folder is there, and this disk tells q from Q";
}

TEST(EditTDProjectSheet, AFailedMoveChangesNothing)
{
    Fixture f;
    auto notes = f.p->tdNote();
    Url noteUrl = notes[0]->contentURL();
    Url cover = *f.p->coverImageURL();
    // The new folder's place appears after the checks: the move itself fails.
    EditTDProjectSheet* sheet = f.open();
    f.rename(sheet, "Moved");
    QDir(f.root.library()).mkdir("Moved");
    auto result = renameTDProject(*f.p, "Moved", f.stores.mediaStore->tdMedia());
    EXPECT_FALSE(result);
    EXPECT_EQ(f.p->name(), "P");
    EXPECT_EQ(f.p->tdNote()[0]->contentURL(), noteUrl);
    EXPECT_EQ(*f.p->coverImageURL(), cover);
    EXPECT_TRUE(QFileInfo(f.root.library() + "/P/notes/Idea/Idea.txt").isFile());
    EXPECT_TRUE(QDir(f.root.library() + "/Moved").isEmpty()) << "the empty folder is not replaced";

    // The sheet refuses before moving, and says why.
    f.save(sheet);
    QMessageBox* alert = alertOn(sheet);
    ASSERT_TRUE(alert);
    closeAlert(alert);
    EXPECT_EQ(f.p->name(), "P");
}

TEST(EditTDProjectSheet, ChangesOnlyWhatDiffersAndAlwaysSavesBothLists)
{
    Fixture f;
    auto original = f.p->category();
    auto sameId = TDCategory::make(original->id(), "Renamed elsewhere");
    f.root.write("projects.library", "old");
    f.root.write("media.library", "old");
    EditTDProjectSheet* sheet = f.open();
    f.save(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_EQ(f.p->category(), original);
    EXPECT_EQ(screentest::namesIn(f.root.read("projects.library")), (QStringList { "P", "Q" }));
    EXPECT_NE(f.root.read("media.library"), "old");

    // Another category object with the project's category id counts as unchanged.
    auto categories = f.stores.categoryStore->tdCategories();
    categories[0] = sameId;
    f.stores.categoryStore->setTdCategories(categories);
    EditTDProjectSheet* second = f.open();
    emit second->form()->categoryPicker()->activated(0);
    f.save(second);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !second->isVisible(); }));
    EXPECT_EQ(f.p->category(), original);

    EditTDProjectSheet* third = f.open();
    emit third->form()->categoryPicker()->activated(2);
    third->form()->dateField()->setDate(QDate(2030, 1, 2));
    f.save(third);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !third->isVisible(); }));
    EXPECT_EQ(f.p->category(), f.stores.categoryStore->tdCategories()[2]);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(qint64(f.p->startDate().timeIntervalSince1970() * 1000)).date(),
        QDate(2030, 1, 2));

    // A category picked and then deleted in the settings window (no project used it) is not given.
    EditTDProjectSheet* fourth = f.open();
    auto picked = f.stores.categoryStore->tdCategories()[3];
    emit fourth->form()->categoryPicker()->activated(3);
    ASSERT_TRUE(f.stores.categoryStore->remove(*picked));
    f.save(fourth);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !fourth->isVisible(); }));
    EXPECT_EQ(f.p->category(), f.stores.categoryStore->tdCategories()[2]);
}

TEST(EditTDProjectSheet, AFailedSaveStaysOpenAndTheNextSaveWritesBoth)
{
    Fixture f;
    QDir(f.root.library()).mkdir("projects.library");
    f.root.write("media.library", "old");
    EditTDProjectSheet* sheet = f.open();
    f.rename(sheet, "P2");
    apptest::CapturedStream out(stdout);
    f.save(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return alertOn(sheet) != nullptr; }));
    EXPECT_TRUE(out.take().contains("An error occurred: "));
    EXPECT_EQ(alertOn(sheet)->text(), "The library could not be saved.");
    EXPECT_EQ(f.root.read("media.library"), "old") << "the media wait for the projects";
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(f.p->name(), "P2") << "memory matches the moved folder";
    closeAlert(alertOn(sheet));

    QDir(f.root.library() + "/projects.library").removeRecursively();
    f.save(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_EQ(screentest::namesIn(f.root.read("projects.library")), (QStringList { "P2", "Q" }));
    EXPECT_NE(f.root.read("media.library"), "old");
}

// Titled like the other sheets, not by the name the main window already shows.
TEST(EditTDProjectSheet, IsTitledForWhatItDoesNotByTheProjectsName)
{
    Fixture f;
    f.window.setWindowTitle("P");
    EXPECT_EQ(f.open()->windowTitle(), "Edit Project");
}

TEST(EditTDProjectSheet, CancelLeavesTheProjectAsItWas)
{
    Fixture f;
    auto before = f.root.snapshot();
    platform::Date date = f.p->startDate();
    auto category = f.p->category();
    EditTDProjectSheet* sheet = f.open();
    f.rename(sheet, "Other");
    sheet->form()->dateField()->setDate(QDate(2031, 5, 5));
    emit sheet->form()->categoryPicker()->activated(3);
    QTest::mouseClick(sheet->form()->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(f.p->name(), "P");
    EXPECT_EQ(f.p->startDate(), date);
    EXPECT_EQ(f.p->category(), category);
    EXPECT_EQ(f.root.snapshot(), before);
}

TEST(EditTDProjectSheet, AMissingOldFolderIsReportedAndTheRenameGoesOn)
{
    Fixture f;
    QDir(f.root.library() + "/P").removeRecursively();
    EditTDProjectSheet* sheet = f.open();
    f.rename(sheet, "P3");
    apptest::CapturedStream out(stdout);
    f.save(sheet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !sheet->isVisible(); }));
    EXPECT_TRUE(out.take().contains("File does not exist at path: " + f.root.library().toUtf8() + "/P"));
    EXPECT_EQ(f.p->name(), "P3");
    EXPECT_EQ(f.p->tdNote()[0]->contentURL().path(), f.root.library() + "/P3/notes/Idea/Idea.txt");
}

namespace {

// The local time zone for one test; a POSIX rule needs no zone database.
struct ScopedTimeZone {
    explicit ScopedTimeZone(const char* rule) { setZone(rule); }
    ~ScopedTimeZone() { setZone(m_old.isNull() ? nullptr : m_old.constData()); }
    static void setZone(const char* rule)
    {
        rule ? qputenv("TZ", rule) : qunsetenv("TZ");
        ::tzset();
    }
    QByteArray m_old = qEnvironmentVariableIsSet("TZ") ? qgetenv("TZ") : QByteArray();
};

platform::Date localDate(QDate day, QTime time)
{
    return platform::Date::fromUnixSeconds(QDateTime(day, time).toMSecsSinceEpoch() / 1000.0);
}

QString shownAt(platform::Date date)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::floor(date.timeIntervalSince1970() * 1000)))
        .toString(Qt::ISODateWithMs);
}

} // namespace

TEST(EditTDProjectSheet, AChosenDayIsKeptWhereAClockChangeSkipsPartOfIt)
{
    {
        // Clocks go from 23:00 on the last Saturday of March straight to the Sunday.
        ScopedTimeZone zone("AAA2BBB,M3.5.6/23,M10.5.0/1");
        const auto late = localDate(QDate(2026, 1, 10), QTime(23, 30)).addingTimeInterval(0.25);
        EXPECT_EQ(
            shownAt(TDProjectSheetTemplate::movedToDay(late, QDate(2026, 3, 28))), "2026-03-28T22:30:00.250");
    }
    {
        // Clocks go from midnight to 01:00: the time is read forward, within the day.
        ScopedTimeZone zone("AAA-2BBB,M4.5.5/0,M10.5.4/24");
        const auto early = localDate(QDate(2026, 1, 10), QTime(0, 30));
        EXPECT_EQ(shownAt(TDProjectSheetTemplate::movedToDay(early, QDate(2026, 4, 24))),
            "2026-04-24T01:30:00.000");
    }
    // A stored date too far off to show: the chosen day, from its start.
    EXPECT_EQ(shownAt(TDProjectSheetTemplate::movedToDay(platform::Date(1e300), QDate(2026, 5, 1))),
        "2026-05-01T00:00:00.000");
}

TEST(EditTDProjectSheet, AnEarlyStartDateShowsAsItIs)
{
    // The date fields of other programs go back further than 1752, the field's own first day.
    Fixture f;
    f.p->setStartDate(localDate(QDate(1600, 3, 1), QTime(12, 0)));
    EditTDProjectSheet* sheet = f.open();
    EXPECT_EQ(sheet->form()->dateField()->date().toString(Qt::ISODate), "1600-03-01");
    sheet->reject();
}

// Once Save has changed the project, Cancel and Escape cannot take it back: the sheet stays until
// the save ends, so that a failure is still shown on it.
TEST(EditTDProjectSheet, CancelWhileSavingKeepsTheSheetForTheOutcome)
{
    Fixture f;
    QDir(f.root.library()).mkdir("projects.library");
    EditTDProjectSheet* sheet = f.open();
    f.rename(sheet, "P2");
    apptest::CapturedStream out(stdout);
    f.save(sheet);
    ASSERT_TRUE(sheet->isSaving());
    EXPECT_FALSE(sheet->form()->cancelButton()->isEnabled());
    QTest::mouseClick(sheet->form()->cancelButton(), Qt::LeftButton);
    QTest::keyClick(sheet, Qt::Key_Escape);
    sheet->close();
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_TRUE(testsupport::waitUntil([&] { return alertOn(sheet) != nullptr; }));
    EXPECT_EQ(alertOn(sheet)->text(), "The library could not be saved.");
    EXPECT_TRUE(sheet->isVisible());
    closeAlert(alertOn(sheet));
    EXPECT_TRUE(sheet->form()->cancelButton()->isEnabled());
    QTest::mouseClick(sheet->form()->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isVisible());
}
