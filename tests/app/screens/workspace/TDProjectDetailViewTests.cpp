#include "../ScreenTestSupport.h"
#include "WorkspaceTestSupport.h"
#include "app/TindrelApp.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/note/TDNoteWindow.h"
#include "app/screens/workspace/TDCoverImagePopover.h"
#include "app/screens/workspace/TDNoteItem.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/screens/workspace/TDStatusPicker.h"

#include <QAccessible>
#include <QAction>
#include <QAnimationDriver>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGraphicsOpacityEffect>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using apptest::LibraryRoot;
using screentest::alertOn;
using screentest::closeAlert;

namespace {

struct WindowCall {
    const char* what;
    platform::Uuid note;
};

// A project "Alpha" (the second of the store, with its folder) in a workspace shown in a window;
// the note windows are recorded, not opened.
struct Workspace {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> other;
    std::shared_ptr<TDProject> project;
    std::vector<WindowCall> windows;
    QWidget window;
    TDProjectDetailView* view = nullptr;

    explicit Workspace(std::function<void(Workspace&)> before = {})
    {
        root.makeLibraryFolder();
        QDir(root.library()).mkdir("Alpha");
        auto category = stores.categoryStore->tdCategories().front();
        other = screentest::project("Other", category);
        project = screentest::project("Alpha", category);
        stores.projectStore->setTdProjects({ other, project });
        stores.noteWindows
            = std::make_shared<TDNoteWindows>(TDNoteWindows { [this](const auto& note) {
                                                                 windows.push_back({ "open", note->id() });
                                                             },
                [this](const auto& note) {
                    windows.push_back({ "dismiss", note->id() });
                } });
        if (before)
            before(*this);
        view = screentest::showWorkspace(window, project, stores, false);
    }
    ~Workspace() { settle(); }

    // Waits until the saves this workspace started are done.
    void settle()
    {
        EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
        QCoreApplication::processEvents();
    }
    int projectSaves() const { return stores.projectStore->libraryFile()->writesRequested(); }

    // A note of the project with its folder and text on disk.
    std::shared_ptr<TDNote> addNote(
        const QString& title, double date = 800000000, const QByteArray& text = "")
    {
        QString folder = root.library() + "/Alpha/notes/" + title;
        QDir().mkpath(folder);
        QFile file(folder + "/" + title + ".txt");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        auto note = TDNote::make(platform::Uuid::random(), project->id(), title,
            apptest::fileUrl(folder + "/" + title + ".txt"), platform::Date(date));
        auto notes = project->tdNote();
        notes.push_back(note);
        project->setTdNote(notes);
        return note;
    }

    QStringList rowTitles() const
    {
        QCoreApplication::processEvents();
        QStringList titles;
        for (TDNoteItem* row : view->noteItems())
            titles.append(row->titleText());
        return titles;
    }
    TDNoteItem* row(const QString& title) const
    {
        QCoreApplication::processEvents();
        for (TDNoteItem* row : view->noteItems()) {
            if (row->titleText() == title)
                return row;
        }
        return nullptr;
    }
    void deleteRow(const QString& title)
    {
        TDNoteItem* target = row(title);
        ASSERT_TRUE(target);
        ASSERT_EQ(target->actions().size(), 1);
        EXPECT_EQ(target->actions().front()->text(), "Delete");
        target->actions().front()->trigger();
    }
    // Types `title` into the add-note sheet and presses "Create".
    void create(const QString& title)
    {
        if (!view->createNoteSheet())
            view->addNoteButton()->click();
        QLineEdit* field = view->newNoteField();
        ASSERT_TRUE(field);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        screentest::typeText(field, title);
        view->createNoteSheet()->findChild<QPushButton*>("createButton")->click();
    }
    QJsonArray storedNotes() const
    {
        for (const auto& value : QJsonDocument::fromJson(root.read("projects.library")).array()) {
            if (value.toObject()["_name"] == "Alpha")
                return value.toObject()["_tdNote"].toArray();
        }
        return {};
    }
};

QString writeImage(const QString& path, QSize size, bool transparentHalf = false)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(QColor(200, 30, 30));
    if (transparentHalf) {
        for (int y = 0; y < size.height(); ++y)
            for (int x = size.width() / 2; x < size.width(); ++x)
                image.setPixelColor(x, y, Qt::transparent);
    }
    EXPECT_TRUE(image.save(path));
    return path;
}

// Gives the workspace's project a cover and opens the popover that shows it.
TDCoverImagePopover* openCoverPopover(Workspace& f)
{
    f.view->setCoverImage(writeImage(f.root.root() + "/c.png", QSize(40, 30)));
    f.settle();
    f.view->setShowCoverImagePopover(true);
    QCoreApplication::processEvents();
    return f.view->coverPopoverContent();
}

// Counts the pictures shown over a widget to fade out, as each appears: a short fade may be over
// before a test that waits for something else, such as a save, looks for it.
class GhostCounter : public QObject {
public:
    explicit GhostCounter(QWidget* over)
        : QObject(over)
    {
        over->installEventFilter(this);
    }
    int shown = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ChildPolished
            && static_cast<QChildEvent*>(event)->child()->objectName() == "springGhost")
            ++shown;
        return false;
    }
};

// Animations advance only when the test steps this clock, from its installation to its end.
class SteppedAnimationDriver : public QAnimationDriver {
public:
    SteppedAnimationDriver() { install(); }
    ~SteppedAnimationDriver() override { uninstall(); }
    qint64 elapsed() const override { return m_now; }
    void step(qint64 ms)
    {
        m_now += ms;
        advance();
    }

private:
    qint64 m_now = 0;
};

QStringList coverFiles(const LibraryRoot& root)
{
    return QDir(root.library() + "/Alpha").entryList({ "*-cover-image.jpeg" }, QDir::Files);
}

} // namespace

TEST(TDProjectDetailView, LaysOutTheColumnsTitlesAndCountsOnlyItsOwnImages)
{
    Workspace f([](Workspace& f) {
        f.addNote("One");
        auto image = [](std::optional<platform::Uuid> owner) {
            return TDMedia::make(
                platform::Uuid::random(), apptest::fileUrl("/i.png"), apptest::fileUrl("/t.jpg"), owner);
        };
        f.stores.mediaStore->setTdMedia(
            { image(f.other->id()), image(std::nullopt), image(f.project->id()) });
    });
    EXPECT_EQ(f.view->title(), "Alpha");
    EXPECT_EQ(f.view->subtitle(), f.project->category()->name());
    EXPECT_GE(f.view->minimumWidth(), 1120);
    for (int width : { 1300, 2000 }) {
        f.window.resize(width, 700);
        QCoreApplication::processEvents();
        EXPECT_EQ(f.view->notesColumn()->width(), 320);
        EXPECT_GE(f.view->imagesColumn()->width(), 800);
    }
    QStringList captions;
    for (auto* label : f.view->findChildren<QLabel*>("sectionCaption"))
        captions.append(label->text());
    EXPECT_EQ(captions, (QStringList { "Notes", "Reference Images" }));
    ASSERT_TRUE(f.view->imagesTitle()->button()) << "the images title opens the grid settings";
    EXPECT_EQ(f.view->addNoteButton()->text(), "Add a note");
    EXPECT_EQ(f.view->imagesPlaceholder()->findChild<QLabel*>("imagesPlaceholderText")->text(),
        "Drag images for the reference.");
    // The project has an image of its own: the grid shows it, not the placeholder.
    EXPECT_FALSE(f.view->imagesPlaceholder()->isVisible());
    EXPECT_TRUE(f.view->referenceGrid()->isVisible());
    EXPECT_EQ(f.view->referenceGrid()->media().size(), 1u);
    EXPECT_EQ(std::get<bottombar::ProjectDetail>(f.view->bottomBar()->barType()).notes, 1);
    EXPECT_EQ(std::get<bottombar::ProjectDetail>(f.view->bottomBar()->barType()).images, 1);

    f.view->settingsAction()->trigger();
    ASSERT_TRUE(f.view->editSheet());
    EXPECT_TRUE(f.view->editSheet()->isVisible());
    f.view->editSheet()->reject();
}

// Right to left the notes column lies on the right: the line over its edge stays next to the
// images, and the filled symbol of "Add a note" leads its text on the right (the letters there fill
// little of the symbol's square).
TEST(TDProjectDetailView, RightToLeftTheColumnLineAndTheAddNoteSymbolFollowTheDirection)
{
    Workspace f;
    QWidget* divider = f.view->notesColumn()->findChild<QWidget*>("columnDivider");
    ASSERT_TRUE(divider);
    QPushButton* button = f.view->addNoteButton();
    for (Qt::LayoutDirection direction : { Qt::RightToLeft, Qt::LeftToRight }) {
        SCOPED_TRACE(direction == Qt::RightToLeft ? "right to left" : "left to right");
        const bool mirrored = direction == Qt::RightToLeft;
        f.window.setLayoutDirection(direction);
        QCoreApplication::processEvents();
        const QRect line(divider->mapTo(f.view, QPoint()), divider->size());
        const QRect images(f.view->imagesColumn()->mapTo(f.view, QPoint()), f.view->imagesColumn()->size());
        EXPECT_EQ(
            mirrored ? line.left() - 1 : line.right() + 1, mirrored ? images.right() : images.left());

        const QImage picture = button->grab().toImage();
        const int ground = picture.pixelColor(2, picture.height() / 2).lightness();
        const int symbol = 13;
        const int left
            = (button->width() - symbol - 5 - button->fontMetrics().horizontalAdvance(button->text())) / 2;
        QRect leading(mirrored ? button->width() - left - symbol : left, (button->height() - symbol) / 2,
            symbol, symbol);
        int ink = 0;
        for (int y = leading.top(); y <= leading.bottom(); ++y)
            for (int x = leading.left(); x <= leading.right(); ++x)
                ink += std::abs(picture.pixelColor(x, y).lightness() - ground) > 60;
        EXPECT_GT(ink, symbol * symbol / 2);
    }
}

TEST(TDProjectDetailView, NotesAreListedByDateAndNotesOfOneDateKeepTheirStoredOrder)
{
    QDateTime fifthOfDecember(QDate(2025, 12, 5), QTime(12, 0), Qt::LocalTime);
    double early = fifthOfDecember.toSecsSinceEpoch() - 978307200.0;
    Workspace f([&](Workspace& f) {
        f.addNote("B", early + 86400);
        f.addNote("A", early);
        f.addNote("C", early);
    });
    EXPECT_EQ(f.rowTitles(), (QStringList { "A", "C", "B" }));
    QStringList stored;
    for (const auto& note : f.project->tdNote())
        stored.append(note->title());
    EXPECT_EQ(stored, (QStringList { "B", "A", "C" })) << "the stored order is not touched";
    // Two digits, in the user's own.
    EXPECT_EQ(f.row("A")->dayText(), QLocale().zeroDigit() + QLocale().toString(5));
    EXPECT_EQ(f.row("A")->monthText(), QLocale().standaloneMonthName(12, QLocale::ShortFormat));

    // A note's date that changes moves its row.
    f.project->tdNote()[0]->setDate(platform::Date(early - 86400));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.rowTitles() == QStringList { "B", "A", "C" }; }));

    // A date too far off to show (a library file can hold any number) shows no day.
    f.project->tdNote()[0]->setDate(platform::Date(1e300));
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.rowTitles() == QStringList { "A", "C", "B" }; }));
    EXPECT_EQ(f.row("B")->dayText(), "");
    EXPECT_EQ(f.row("B")->monthText(), "");
}

// Titles line up whatever their rows' days and months, in each row's own width of date.
TEST(TDProjectDetailView, EveryNoteTitleStartsAtTheSamePlace)
{
    auto secondsOn = [](int month, int day) {
        return QDateTime(QDate(2025, month, day), QTime(12, 0), Qt::LocalTime).toSecsSinceEpoch()
            - 978307200.0;
    };
    Workspace f([&](Workspace& f) {
        f.addNote("Eleventh", secondsOn(1, 11));
        f.addNote("Wide", secondsOn(5, 28));
        f.addNote("Undated", 1e300);
    });
    const int start = f.row("Eleventh")->findChild<QWidget*>("noteTitle")->x();
    EXPECT_EQ(f.row("Wide")->findChild<QWidget*>("noteTitle")->x(), start);
    EXPECT_EQ(f.row("Undated")->findChild<QWidget*>("noteTitle")->x(), start);
}

TEST(TDProjectDetailView, CreatesOpensAndDeletesNotesWithTheirFiles)
{
    Workspace f;
    const int saves = f.projectSaves();
    f.view->addNoteButton()->click();
    ASSERT_TRUE(f.view->createNoteSheet());
    EXPECT_EQ(f.view->newNoteField()->text(), "New note");
    EXPECT_EQ(f.view->newNoteField()->placeholderText(), "New project name");
    f.create("Tone%20study");
    f.settle();
    EXPECT_EQ(f.projectSaves(), saves + 1);
    ASSERT_EQ(f.project->tdNote().size(), 1u);
    auto note = f.project->tdNote().front();
    EXPECT_EQ(note->title(), "Tone study");
    const QString text = f.root.library() + "/Alpha/notes/Tone study/Tone study.txt";
    EXPECT_TRUE(QFileInfo(text).isFile());
    EXPECT_EQ(QFileInfo(text).size(), 0);
    EXPECT_EQ(note->contentURL(), apptest::fileUrl(text));
    QJsonArray stored = f.storedNotes();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].toObject().keys(),
        (QStringList { "_$observationRegistrar", "_contentURL", "_date", "_title", "id", "tdProjectId" }));
    EXPECT_EQ(f.stores.projectStore->noteMap().at(note->id()), (TDProjectStore::NoteLocation { 1, 0 }));
    ASSERT_EQ(f.windows.size(), 1u);
    EXPECT_STREQ(f.windows[0].what, "open");
    EXPECT_EQ(f.windows[0].note, note->id());
    EXPECT_FALSE(f.view->createNoteSheet()) << "the sheet closed";
    // However the sheet closes, it opens again on "New note".
    for (int round = 0; round < 2; ++round) {
        f.view->openCreateNewNoteSheet();
        EXPECT_EQ(f.view->newNoteField()->text(), "New note");
        screentest::typeText(f.view->newNoteField(), "x");
        f.view->createNoteSheet()->reject();
    }

    // A click on the row writes the note's place and opens its window.
    f.stores.projectStore->setNoteMap({});
    QTest::mouseClick(f.row("Tone study"), Qt::LeftButton);
    EXPECT_EQ(f.stores.projectStore->noteMap().at(note->id()), (TDProjectStore::NoteLocation { 1, 0 }));
    EXPECT_EQ(f.windows.size(), 2u);

    // Deleting: the record and its links go at once, the folder only after both saves.
    auto keep = TDLink { {}, {}, "https://b.example", platform::Uuid::random(), platform::Uuid::random() };
    f.stores.linkStore->setTdLinks(
        { TDLink { {}, {}, "https://a.example", platform::Uuid::random(), note->id() }, keep });
    f.deleteRow("Tone study");
    EXPECT_TRUE(f.project->tdNote().empty());
    ASSERT_EQ(f.stores.linkStore->tdLinks().size(), 1u);
    EXPECT_EQ(f.stores.linkStore->tdLinks().front().id, keep.id);
    EXPECT_FALSE(f.stores.projectStore->noteMap().contains(note->id()));
    EXPECT_STREQ(f.windows.back().what, "dismiss");
    EXPECT_TRUE(QFileInfo(text).isFile()) << "the files wait for the saves";
    f.settle();
    EXPECT_FALSE(QFileInfo::exists(f.root.library() + "/Alpha/notes/Tone study"));
    EXPECT_TRUE(QFileInfo(f.root.library() + "/Alpha/notes").isDir());
    EXPECT_EQ(f.storedNotes().size(), 0);
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("links.library")).array().size(), 1);
    EXPECT_TRUE(f.rowTitles().isEmpty());
}

TEST(TDProjectDetailView, RefusesUnsafeBlankAndDuplicateTitlesAndNeverAdoptsAFolder)
{
    struct Case {
        QString title;
        const char* alert;
    };
    const Case cases[] = {
        { "Idea", "The note already exists" },
        { "Id%65a", "The note already exists" },
        { "Stray", "The note already exists" },
        { "", "The name is blank" },
        { "   ", "The name is blank" },
        { ".", "The name cannot be used" },
        { "..", "The name cannot be used" },
        { "a/b", "The name cannot be used" },
        { "a%2Fb", "The name cannot be used" },
        { "%2E%2E", "The name cannot be used" },
        { QString(252, 'x'), "The name is too long" },
    };
    Workspace f([](Workspace& f) { f.addNote("Idea", 800000000, "keep"); });
    // A folder left on disk by no note of the library.
    QDir().mkpath(f.root.library() + "/Alpha/notes/Stray");
    QFile stray(f.root.library() + "/Alpha/notes/Stray/Stray.txt");
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.write("someone's text");
    stray.close();
    const auto before = f.root.snapshot();
    const int saves = f.projectSaves();
    for (const auto& test : cases) {
        f.create(test.title);
        QMessageBox* alert = alertOn(f.view->createNoteSheet());
        ASSERT_TRUE(alert) << test.title.toStdString();
        EXPECT_EQ(alert->text(), test.alert) << test.title.toStdString();
        closeAlert(alert);
    }
    f.settle();
    EXPECT_EQ(f.project->tdNote().size(), 1u);
    EXPECT_EQ(f.projectSaves(), saves);
    EXPECT_EQ(f.root.snapshot(), before) << "nothing on disk changed";
    EXPECT_TRUE(f.view->createNoteSheet()->isVisible()) << "the sheet stays open";

    f.create("idea");
    f.settle();
    EXPECT_EQ(f.project->tdNote().size(), 2u) << "another case is another title";
    f.create("100%");
    f.settle();
    ASSERT_EQ(f.project->tdNote().size(), 3u);
    EXPECT_EQ(f.project->tdNote().back()->title(), "100%") << "a malformed escape is kept as typed";
}

TEST(TDProjectDetailView, StatusAndFavouriteAreSavedOncePerChange)
{
    QMainWindow window;
    Workspace f;
    auto* picker = new TDStatusPicker(f.project, &window);
    window.setCentralWidget(picker);
    window.show();
    QComboBox* combo = picker->picker();
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "In Progress");
    EXPECT_EQ(combo->itemText(1), "Archived");
    EXPECT_EQ(combo->itemText(2), "Finished");
    EXPECT_EQ(combo->accessibleName(), "status");

    int saves = f.projectSaves();
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    QCoreApplication::processEvents();
    f.settle();
    EXPECT_EQ(f.project->status(), TDStatus::archived);
    EXPECT_EQ(f.projectSaves(), saves + 1);
    EXPECT_TRUE(f.root.read("projects.library").contains("\"Archived\""));
    emit combo->activated(1);
    f.settle();
    EXPECT_EQ(f.projectSaves(), saves + 1) << "the same status again saves nothing";
    QColor dot = picker->dot()->pixmap().toImage().pixelColor(4, 5);
    EXPECT_NEAR(dot.red(), dot.blue(), 12) << "gray for Archived";

    saves = f.projectSaves();
    f.view->favoriteAction()->trigger();
    f.settle();
    EXPECT_TRUE(f.project->isFavorite());
    EXPECT_EQ(f.projectSaves(), saves + 1);
    EXPECT_EQ(f.view->favoriteTint(), tdappearance::color(tdappearance::SystemColor::orange, f.view));
    f.view->favoriteAction()->trigger();
    f.settle();
    EXPECT_FALSE(f.project->isFavorite());
    EXPECT_EQ(f.projectSaves(), saves + 2);
    EXPECT_EQ(f.view->favoriteTint(), tdappearance::color(tdappearance::SystemColor::gray, f.view));
}

// A status chosen from the keys is saved in the event that chose it: the page may go before the
// program has another turn (a click on the sidebar's next destination, Quit, in the same batch).
TEST(TDProjectDetailView, AStatusChosenJustBeforeThePageGoesIsStillSavedOncePerChange)
{
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto project = screentest::onlyProjectOf(root, stores, "Alpha");
    QWidget window;
    QPointer<TDProjectDetailView> view = screentest::showWorkspace(window, project, stores, false);
    auto* toolbar = new TDToolbar(&window);
    window.layout()->addWidget(toolbar);
    toolbar->setActions(view->toolbarActions());
    auto* picker = dynamic_cast<TDStatusPicker*>(toolbar->widgetFor(view->statusAction()));
    ASSERT_TRUE(picker);
    const auto writes = [&] { return stores.projectStore->libraryFile()->writesRequested(); };
    const int before = writes();

    QTest::keyClick(picker->picker(), Qt::Key_Down);
    QTest::keyClick(picker->picker(), Qt::Key_Down);
    EXPECT_EQ(project->status(), TDStatus::finished);
    EXPECT_EQ(writes(), before + 2) << "each change is saved as it is made";
    delete view.data();
    ASSERT_TRUE(testsupport::waitUntil([&] { return TDLibraryFile::writesInFlight() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(writes(), before + 2) << "and only once";
    EXPECT_TRUE(root.read("projects.library").contains("\"Finished\""));

    // The look the workspace takes after each change saves nothing more while it lives.
    view = new TDProjectDetailView(project, stores, &window);
    window.layout()->addWidget(view);
    toolbar->setActions(view->toolbarActions());
    picker = dynamic_cast<TDStatusPicker*>(toolbar->widgetFor(view->statusAction()));
    ASSERT_TRUE(picker);
    QTest::keyClick(picker->picker(), Qt::Key_Up);
    QTest::keyClick(picker->picker(), Qt::Key_Down);
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
    QCoreApplication::processEvents();
    project->setStatus(TDStatus::inProgress);
    ASSERT_TRUE(testsupport::waitUntil([&] { return writes() == before + 5; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(writes(), before + 5) << "a change from elsewhere is still saved once";
    EXPECT_TRUE(root.read("projects.library").contains("\"In Progress\""));
}

// A screen reader hears whether the project is a favourite, not only the star's name, and hears it
// change with a click and with a change made elsewhere; the star looks the same either way.
TEST(TDProjectDetailView, TheFavouriteStarSaysWhetherItIsOn)
{
    Workspace f;
    auto* toolbar = new TDToolbar(&f.window);
    f.window.layout()->addWidget(toolbar);
    toolbar->setActions(f.view->toolbarActions());
    QCoreApplication::processEvents();
    QToolButton* star = toolbar->buttonFor(f.view->favoriteAction());
    ASSERT_TRUE(star);
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(star);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->text(QAccessible::Name), "favorite");
    EXPECT_TRUE(face->state().checkable);
    EXPECT_FALSE(face->state().checked);
    const QImage off = star->grab().toImage();

    QTest::mouseClick(star, Qt::LeftButton);
    f.settle();
    ASSERT_TRUE(f.project->isFavorite());
    EXPECT_TRUE(face->state().checked);
    // Only the star's colour changes: the button draws no pressed-in panel behind it.
    const QImage on = star->grab().toImage();
    const QColor corner = off.pixelColor(2, 2);
    EXPECT_EQ(on.pixelColor(2, 2), corner);
    EXPECT_EQ(on.pixelColor(on.width() - 3, on.height() - 3), corner);

    f.project->setIsFavorite(false);
    f.settle();
    EXPECT_FALSE(face->state().checked) << "a change from elsewhere reaches the state";
}

TEST(TDProjectDetailView, TheCoverPickerOffersPhonePhotos)
{
    Workspace f;
    f.view->photoAction()->trigger();
    f.view->coverPopoverContent()->addButton()->click();
    auto* dialog = f.view->window()->findChild<QFileDialog*>(QStringLiteral("coverImageFileDialog"));
    ASSERT_TRUE(dialog);
    const QString filter = dialog->nameFilters().join(QLatin1Char(' '));
    for (const char* pattern : { "*.png", "*.jpeg", "*.heic", "*.heif", "*.avif" })
        EXPECT_TRUE(filter.contains(QLatin1String(pattern))) << pattern << " in " << filter.toStdString();
    dialog->reject();
    f.settle();
}

TEST(TDProjectDetailView, TheCoverIsSetReplacedAndRemovedOnlyInsideTheProjectFolder)
{
    Workspace f;
    QString chosen;
    f.view->setCoverImagePicker(
        [&](QWidget*, std::function<void(std::optional<QString>)> done) { done(chosen); });
    chosen = writeImage(f.root.root() + "/picked.png", QSize(300, 200), true);
    f.view->photoAction()->trigger();
    ASSERT_TRUE(f.view->coverPopover()->isVisible());
    TDCoverImagePopover* content = f.view->coverPopoverContent();
    EXPECT_FALSE(content->showsCover());
    content->addButton()->click();
    f.settle();
    EXPECT_FALSE(f.view->coverPopover()->isVisible());
    EXPECT_FALSE(f.view->showCoverImagePopover());
    QStringList files = coverFiles(f.root);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression("^[0-9a-f-]{36}-cover-image\\.jpeg$").match(files[0]).hasMatch());
    const QString first = f.root.library() + "/Alpha/" + files[0];
    QImageReader reader(first);
    EXPECT_EQ(reader.format(), "jpeg");
    QImage jpeg = reader.read();
    EXPECT_EQ(jpeg.size(), QSize(300, 200));
    EXPECT_GT(jpeg.pixelColor(280, 100).lightness(), 240) << "transparency becomes white";
    EXPECT_EQ(f.project->coverImageURL(), apptest::fileUrl(first));
    EXPECT_TRUE(f.root.read("projects.library").contains(files[0].toUtf8()));

    // Another picture replaces it; the old file goes once the library names the new one.
    chosen = writeImage(f.root.root() + "/second.png", QSize(64, 64));
    f.view->setCoverImage(chosen);
    f.settle();
    files = coverFiles(f.root);
    ASSERT_EQ(files.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(first));
    const QString second = f.root.library() + "/Alpha/" + files[0];

    // What is not an image within the bounds is refused with a message and changes nothing.
    QFile fake(f.root.root() + "/fake.png");
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("not an image at all");
    fake.close();
    f.view->setCoverImage(fake.fileName());
    f.settle();
    QMessageBox* alert = alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The image cannot be used as a cover.");
    closeAlert(alert);
    EXPECT_EQ(coverFiles(f.root).size(), 1);
    EXPECT_EQ(f.project->coverImageURL(), apptest::fileUrl(second));

    // The remove button shows while the pointer is over the cover.
    f.view->setShowCoverImagePopover(true);
    QCoreApplication::processEvents();
    ASSERT_TRUE(content->showsCover());
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(content->tile(), &enter);
    EXPECT_TRUE(content->removeButton()->isVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(content->tile(), &leave);
    EXPECT_FALSE(content->removeButton()->isVisible());
    QCoreApplication::sendEvent(content->tile(), &enter);
    content->removeButton()->click();
    f.settle();
    EXPECT_FALSE(QFileInfo::exists(second));
    EXPECT_FALSE(f.project->coverImageURL());
    EXPECT_FALSE(f.root.read("projects.library").contains("_coverImageURL"));

    // A cover path edited to point elsewhere is cleared, and what it names is left alone.
    const QString outside = writeImage(f.root.root() + "/outside-cover-image.jpeg", QSize(8, 8));
    for (const QString& path : { outside, f.root.library() + "/Alpha/gone-cover-image.jpeg" }) {
        f.project->setCoverImageURL(apptest::fileUrl(path));
        f.view->removeCoverImage(apptest::fileUrl(path));
        f.settle();
        EXPECT_FALSE(f.project->coverImageURL()) << path.toStdString();
    }
    EXPECT_TRUE(QFileInfo(outside).isFile());
}

TEST(TDProjectDetailView, DeletingANoteLeavesAnotherNotesOpenWindowOnItsOwnNote)
{
    LibraryRoot root;
    TindrelApp app;
    TDStores stores = app.stores();
    root.makeLibraryFolder();
    auto category = stores.categoryStore->tdCategories().front();
    auto project = screentest::project("Alpha", category);
    std::vector<std::shared_ptr<TDNote>> notes;
    for (QString title : { "n0", "n1", "n2", "n3" }) {
        QString folder = root.library() + "/Alpha/notes/" + title;
        QDir().mkpath(folder);
        notes.push_back(TDNote::make(platform::Uuid::random(), project->id(), title,
            apptest::fileUrl(folder + "/" + title + ".txt"), platform::Date(800000000)));
    }
    project->setTdNote(notes);
    stores.projectStore->setTdProjects({ screentest::project("Other", category), project });
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new TDProjectDetailView(project, stores, &window);
    layout->addWidget(view);
    window.resize(1300, 600);
    window.show();
    QCoreApplication::processEvents();

    auto rowOf = [&](const QString& title) {
        for (TDNoteItem* row : view->noteItems())
            if (row->titleText() == title)
                return row;
        return static_cast<TDNoteItem*>(nullptr);
    };
    auto shown = [&](const std::shared_ptr<TDNote>& note) {
        QMainWindow* noteWindow = app.noteWindow(note->id());
        auto* content = noteWindow ? dynamic_cast<TDNoteWindow*>(noteWindow->centralWidget()) : nullptr;
        return content ? content->shownTitle() : QString();
    };
    for (int i : { 1, 2, 3 })
        rowOf(notes[std::size_t(i)]->title())->openNote();
    EXPECT_EQ(stores.projectStore->noteMap().at(notes[2]->id()), (TDProjectStore::NoteLocation { 1, 2 }));
    EXPECT_EQ(shown(notes[2]), "n2");

    QPointer<QMainWindow> deletedWindow = app.noteWindow(notes[1]->id());
    for (QAction* action : rowOf("n1")->actions())
        action->trigger();
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0 && deletedWindow.isNull(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(notes[2]), "n2");
    EXPECT_EQ(shown(notes[3]), "n3");
    EXPECT_EQ(stores.projectStore->noteMap().at(notes[2]->id()), (TDProjectStore::NoteLocation { 1, 1 }));
    EXPECT_TRUE(QFileInfo(root.library() + "/Alpha/notes/n2").isDir());
    EXPECT_FALSE(QFileInfo::exists(root.library() + "/Alpha/notes/n1"));

    // Even a stale entry pointing at another note does not fool a window: it goes by id.
    auto map = stores.projectStore->noteMap();
    map[notes[3]->id()] = TDProjectStore::NoteLocation { 1, 0 };
    stores.projectStore->setNoteMap(map);
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown(notes[3]) == "n3"; }));

    // A row whose project has left the store drops the stale entry and still opens the window.
    stores.projectStore->setTdProjects({});
    rowOf("n0")->openNote();
    EXPECT_FALSE(stores.projectStore->noteMap().contains(notes[0]->id()));
    EXPECT_TRUE(app.noteWindow(notes[0]->id()));
}

TEST(TDProjectDetailView, AFailedSaveOnDeletionKeepsTheNotesFiles)
{
    Workspace f([](Workspace& f) { f.addNote("Draft", 800000000, "words"); });
    f.root.write("projects.library", "old projects");
    // A folder where the projects file must go makes its save fail; the links are saved first.
    QFile::remove(f.root.file("projects.library"));
    QDir(f.root.library()).mkdir("projects.library");
    apptest::CapturedStream out(stdout);
    f.deleteRow("Draft");
    f.settle();
    EXPECT_TRUE(out.take().contains("An error occurred: "));
    QFile text(f.root.library() + "/Alpha/notes/Draft/Draft.txt");
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(text.readAll(), "words");
    QMessageBox* alert = alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "The library could not be saved.");
    closeAlert(alert);
}

// The remove button fades in and out on a spring while taking clicks only over the cover, and a
// removed cover fades away over the "plus" tile; each animation ends and leaves nothing behind.
TEST(TDProjectDetailView, TheCoverPopoverFadesItsRemoveButtonAndARemovedCover)
{
    Workspace f;
    TDCoverImagePopover* content = openCoverPopover(f);
    ASSERT_TRUE(content->showsCover());
    auto opacity = [&] {
        auto* effect = dynamic_cast<QGraphicsOpacityEffect*>(content->removeButton()->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    };
    auto ghosts = [&] { return content->tile()->findChildren<QWidget*>("springGhost").size(); };

    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(content->tile(), &enter);
    EXPECT_TRUE(content->removeButton()->isVisible());
    EXPECT_LT(opacity(), 0.5) << "it starts faint";
    ASSERT_TRUE(testsupport::waitUntil([&] { return opacity() == 1.0; }));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(content->tile(), &leave);
    EXPECT_FALSE(content->removeButton()->isVisible());
    EXPECT_EQ(ghosts(), 1) << "a picture of it fades out";
    ASSERT_TRUE(testsupport::waitUntil([&] { return ghosts() == 0; }));

    QCoreApplication::sendEvent(content->tile(), &enter);
    GhostCounter fading(content->tile());
    content->removeButton()->click();
    f.settle();
    EXPECT_FALSE(content->showsCover());
    EXPECT_TRUE(content->addButton()->isVisible());
    EXPECT_EQ(fading.shown, 1) << "the cover fades away";
    ASSERT_TRUE(testsupport::waitUntil([&] { return ghosts() == 0; }));
}

// Without a pointer the cover is still removable: Tab reaches the tile, which then shows its remove
// button, and Delete removes the cover; the focus moves on to the "plus" button. The focus the
// popover gives back on opening shows nothing, and a first key only shows the button.
TEST(TDProjectDetailView, TheCoverIsRemovedFromTheKeyboard)
{
    Workspace f;
    TDCoverImagePopover* content = openCoverPopover(f);
    ASSERT_TRUE(content->showsCover());
    content->tile()->setFocus(Qt::PopupFocusReason);
    auto focus = [&](QEvent::Type type, Qt::FocusReason reason) {
        QFocusEvent event(type, reason);
        QCoreApplication::sendEvent(content->tile(), &event);
    };
    focus(QEvent::FocusIn, Qt::PopupFocusReason);
    EXPECT_FALSE(content->removeButton()->isVisible());
    QTest::keyClick(content->tile(), Qt::Key_Return);
    EXPECT_TRUE(content->removeButton()->isVisible());
    EXPECT_TRUE(content->showsCover());
    focus(QEvent::FocusOut, Qt::TabFocusReason);
    EXPECT_FALSE(content->removeButton()->isVisible());

    focus(QEvent::FocusIn, Qt::TabFocusReason);
    EXPECT_TRUE(content->removeButton()->isVisible());
    QTest::keyClick(content->tile(), Qt::Key_Delete);
    f.settle();
    EXPECT_FALSE(f.project->coverImageURL());
    EXPECT_TRUE(coverFiles(f.root).isEmpty());
    EXPECT_EQ(content->window()->focusWidget(), content->addButton());
}

// A double or triple click on the remove button, or Delete held on the tile, removes the cover
// and no more: the add button that takes the remove button's place asks for no new cover, and a
// held key only shows the button, as its first press does.
TEST(TDProjectDetailView, AnImpatientRemovalOfTheCoverAsksForNoOther)
{
    Workspace f;
    int asked = 0;
    f.view->setCoverImagePicker([&](QWidget*, std::function<void(std::optional<QString>)>) { ++asked; });
    TDCoverImagePopover* content = openCoverPopover(f);
    content->tile()->setFocus(Qt::PopupFocusReason);
    QFocusEvent focusIn(QEvent::FocusIn, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(content->tile(), &focusIn);
    screentest::holdKey(content->tile(), Qt::Key_Delete);
    f.settle();
    EXPECT_TRUE(content->showsCover());
    EXPECT_TRUE(content->removeButton()->isVisible());

    const ulong start = screentest::mouseClock();
    screentest::sendMouse(content->removeButton(), QEvent::MouseButtonPress, start);
    screentest::sendMouse(content->removeButton(), QEvent::MouseButtonRelease, start + 40);
    f.settle();
    ASSERT_FALSE(content->showsCover());
    ASSERT_TRUE(content->addButton()->isVisible());
    screentest::sendMouse(content->addButton(), QEvent::MouseButtonDblClick, start + 80);
    screentest::sendMouse(content->addButton(), QEvent::MouseButtonRelease, start + 120);
    screentest::sendMouse(content->addButton(), QEvent::MouseButtonPress, start + 160);
    screentest::sendMouse(content->addButton(), QEvent::MouseButtonRelease, start + 200);
    EXPECT_EQ(asked, 0);
    screentest::quickClicks(content->addButton(), 1);
    EXPECT_EQ(asked, 1) << "a click of its own asks";
}

// A deleted note's row leaves on a spring: a picture of it stays at its place between its
// neighbours, fades and closes up, and then goes.
TEST(TDProjectDetailView, ADeletedNotesRowClosesUpOnASpring)
{
    Workspace f([](Workspace& f) {
        f.addNote("A", 800000000);
        f.addNote("B", 800000001);
        f.addNote("C", 800000002);
    });
    QWidget* list = f.view->findChild<QWidget*>("notesList");
    ASSERT_TRUE(list);
    auto ghost = [&] { return list->findChild<QWidget*>("springGhost", Qt::FindDirectChildrenOnly); };
    const int rowHeight = f.row("B")->height();
    // The spring's clock is the test's: a busy machine must not end the removal while the test
    // still looks at the picture it leaves.
    SteppedAnimationDriver clock;
    f.deleteRow("B");
    EXPECT_EQ(f.rowTitles(), (QStringList { "A", "C" }));
    ASSERT_TRUE(ghost());
    EXPECT_GT(ghost()->y(), f.row("A")->y());
    EXPECT_LT(ghost()->y(), f.row("C")->y());
    EXPECT_LE(ghost()->height(), rowHeight);
    // Another change of the notes meanwhile leaves it closing up where it was.
    f.addNote("D", 800000003);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.rowTitles(), (QStringList { "A", "C", "D" }));
    ASSERT_TRUE(ghost()) << "an unrelated change does not cut the removal short";
    EXPECT_GT(ghost()->y(), f.row("A")->y());
    EXPECT_LT(ghost()->y(), f.row("C")->y());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        // From an event, as the animation timer would: what the spring's end deletes later goes.
        QMetaObject::invokeMethod(
            &clock, [&] { clock.step(50); }, Qt::QueuedConnection);
        return !ghost();
    }));
    f.settle();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.row("C")->y() - f.row("A")->y(), rowHeight + TDProjectDetailView::notesSpacing)
        << "the rows close up";
}

// A cover file that another program deleted or spoilt, before the popover first showed it or while
// it was closed, leaves no empty tile: the popover offers the "plus" tile, as the project's card
// shows its tile without a cover, and another picture can be chosen from it at once.
TEST(TDProjectDetailView, ACoverWhoseFileIsGoneOffersAnother)
{
    enum class Spoil { deletedBeforeShown, deletedAfterShown, overwritten };
    for (Spoil spoil : { Spoil::deletedBeforeShown, Spoil::deletedAfterShown, Spoil::overwritten }) {
        SCOPED_TRACE(int(spoil));
        Workspace f;
        QString chosen = writeImage(f.root.root() + "/c.png", QSize(40, 30));
        f.view->setCoverImagePicker(
            [&](QWidget*, std::function<void(std::optional<QString>)> done) { done(chosen); });
        f.view->setCoverImage(chosen);
        f.settle();
        ASSERT_TRUE(f.project->coverImageURL());
        const QString path = f.project->coverImageURL()->path();
        TDCoverImagePopover* content = f.view->coverPopoverContent();
        if (spoil == Spoil::deletedAfterShown) {
            f.view->setShowCoverImagePopover(true);
            ASSERT_TRUE(testsupport::waitUntil(
                [&] { return content->coverView()->binder()->loadedImage != nullptr; }));
            f.view->setShowCoverImagePopover(false);
        }
        if (spoil == Spoil::overwritten) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("no longer a picture");
        } else {
            ASSERT_TRUE(QFile::remove(path));
        }
        f.view->setShowCoverImagePopover(true);
        EXPECT_TRUE(testsupport::waitUntil([&] { return content->addButton()->isVisible(); }));
        EXPECT_FALSE(content->showsCover());

        chosen = writeImage(f.root.root() + "/d.png", QSize(40, 30));
        content->addButton()->click();
        f.settle();
        ASSERT_TRUE(f.project->coverImageURL());
        EXPECT_NE(f.project->coverImageURL()->path(), path);
        f.view->setShowCoverImagePopover(true);
        EXPECT_TRUE(testsupport::waitUntil(
            [&] { return content->coverView() && content->coverView()->binder()->loadedImage != nullptr; }));
        EXPECT_TRUE(content->showsCover());
        EXPECT_FALSE(content->addButton()->isVisible());
    }
}
