#include "../MenuTestSupport.h"
#include "../ScreenTestSupport.h"
#include "app/model/TDMedia.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"
#include "app/screens/workspace/ReferenceImageDropDelegate.h"
#include "app/screens/workspace/TDImageGridSettings.h"
#include "app/screens/workspace/TDProjectDetailView.h"

#include <QAbstractButton>
#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using apptest::LibraryRoot;
using ContentMode = TDImageGrid::ContentMode;

namespace {

// The workspace of "Alpha" (its folder on disk) in a window, and a folder of files to drop.
struct Images {
    LibraryRoot root;
    TDStores stores = screentest::makeStores();
    std::shared_ptr<TDProject> project;
    QWidget window;
    TDProjectDetailView* view = nullptr;

    Images()
    {
        root.makeLibraryFolder();
        QDir(root.library()).mkdir("Alpha");
        QDir().mkpath(drop());
        project = screentest::project("Alpha", stores.categoryStore->tdCategories().front());
        stores.projectStore->setTdProjects({ project });
        open();
    }
    ~Images() { settle(); }

    void open()
    {
        delete view;
        if (!window.layout())
            new QVBoxLayout(&window);
        window.layout()->setContentsMargins(0, 0, 0, 0);
        view = new TDProjectDetailView(project, stores, &window);
        view->referenceGrid()->setOpener([](const QUrl&) {});
        window.layout()->addWidget(view);
        window.resize(1300, 700);
        window.show();
        QCoreApplication::processEvents();
    }
    void settle()
    {
        EXPECT_TRUE(testsupport::waitUntil([&] { return view->savesInFlight() == 0; }));
        QCoreApplication::processEvents();
    }
    QString drop() const { return root.root() + "/drop"; }
    // An image file, or a text file when `name` ends in ".txt".
    QUrl file(const QString& name) const
    {
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QFile file(drop() + "/" + name);
        EXPECT_TRUE(name.endsWith(".txt") ? file.open(QIODevice::WriteOnly) && file.write("words")
                                          : picture.save(file.fileName()));
        return QUrl::fromLocalFile(file.fileName());
    }
    // Drags `urls` over the images area; drops them when the area takes them.
    bool dragAndDrop(const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        return dragAndDrop(data);
    }
    bool dragAndDrop(const QMimeData& data)
    {
        QWidget* area = view->imagesArea();
        const QPoint at = area->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &enter);
        if (!enter.isAccepted())
            return false;
        EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        EXPECT_TRUE(view->dropDelegate()->isTargeted());
        QDropEvent dropped(
            QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
        EXPECT_FALSE(view->dropDelegate()->isTargeted());
        return true;
    }
    int projectSaves() const { return stores.projectStore->libraryFile()->writesRequested(); }
    int images() const
    {
        return int(std::get<bottombar::ProjectDetail>(view->bottomBar()->barType()).images);
    }
};

} // namespace

// The first drop of images makes the grid appear in place of the placeholder; the file that is no
// image is named in an alert; a drag of no image at all is refused before it drops.
TEST(TDProjectDetailViewImages, ADropOfImagesReplacesThePlaceholderWithTheGrid)
{
    Images f;
    EXPECT_TRUE(f.view->imagesPlaceholder()->isVisible());
    EXPECT_FALSE(f.dragAndDrop({ f.file("notes.txt") })) << "nothing in it may be an image";

    ASSERT_TRUE(f.dragAndDrop({ f.file("one.png"), f.file("readme.txt"), f.file("two.jpg") }));
    f.settle();
    EXPECT_FALSE(f.view->imagesPlaceholder()->isVisible());
    ASSERT_TRUE(f.view->referenceGrid()->isVisible());
    EXPECT_EQ(f.view->referenceGrid()->cells().size(), 2u);
    EXPECT_EQ(f.images(), 2);
    QMessageBox* alert = screentest::alertOn(&f.window);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), "A file could not be added.");
    EXPECT_TRUE(alert->informativeText().contains(QString::fromUtf8("\u201Creadme.txt\u201D")))
        << alert->informativeText().toStdString();
    screentest::closeAlert(alert);
}

// A file manager's list as it comes: CR LF line ends, a comment line, names percent-encoded and a
// URL naming this machine; the comment is no file the alert should name.
TEST(TDProjectDetailViewImages, AFileManagersUriListImportsEachFileAndSkipsComments)
{
    Images f;
    const QUrl spaced = f.file(QString::fromUtf8("caf\u00e9 one.png"));
    const QUrl plain = f.file("two.png");
    QMimeData data;
    data.setData("text/uri-list",
        "# dragged from a file manager\r\n" + spaced.toEncoded() + "\r\nfile://localhost"
            + plain.path(QUrl::FullyEncoded).toUtf8() + "\r\n");
    ASSERT_TRUE(f.dragAndDrop(data));
    f.settle();
    EXPECT_EQ(f.images(), 2);
    EXPECT_FALSE(screentest::alertOn(&f.window));
}

// One drop naming a file twice, as it is, through "localhost" or by a longer path to it, imports it
// once; an address that is no file here is named once, and a folder written with a closing "/" by
// its name.
TEST(TDProjectDetailViewImages, AFileNamedTwiceInOneDropIsImportedOnce)
{
    Images f;
    const QUrl one = f.file("one.png");
    const QByteArray path = one.path(QUrl::FullyEncoded).toUtf8();
    QDir().mkpath(f.drop() + "/Pictures");
    QMimeData data;
    data.setData("text/uri-list",
        one.toEncoded() + "\r\n" + one.toEncoded() + "\r\nfile://localhost" + path + "\r\nfile://"
            + QByteArray(path).replace("/one.png", "/./one.png") + "\r\nfile://" + f.drop().toUtf8()
            + "/Pictures/\r\nhttps://example.com/cat.jpg\r\nhttps://example.com/cat.jpg\r\n");
    ASSERT_TRUE(f.dragAndDrop(data));
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(testsupport::waitUntil([&] { return (alert = screentest::alertOn(&f.window)); }));
    EXPECT_EQ(alert->text(), "2 files could not be added.");
    EXPECT_TRUE(alert->informativeText().startsWith(QStringLiteral("\u201CPictures\u201D")))
        << alert->informativeText().toStdString();
    screentest::closeAlert(alert);
    f.settle();
    EXPECT_EQ(f.images(), 1);
    EXPECT_EQ(f.stores.mediaStore->tdMedia().size(), 1u);
}

// A drag hovering over the images reads its list when it enters, not again at every move: a list
// from another program is fetched from it at each read.
TEST(TDProjectDetailViewImages, AHoveringDragReadsItsListOnce)
{
    struct CountingData : QMimeData {
        mutable int listReads = 0;
        QVariant retrieveData(const QString& type, QMetaType metaType) const override
        {
            listReads += type == "text/uri-list";
            return QMimeData::retrieveData(type, metaType);
        }
    };
    Images f;
    CountingData data;
    data.setUrls({ f.file("one.png") });
    QWidget* area = f.view->imagesArea();
    QDragEnterEvent enter(area->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &enter);
    for (int step = 0; step < 10; ++step) {
        QDragMoveEvent move(
            area->rect().center() + QPoint(step, 0), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &move);
        EXPECT_TRUE(move.isAccepted());
    }
    EXPECT_EQ(data.listReads, 1);
}

// The images title's button opens the settings: the slider runs from 6 to 12 in whole steps, each
// step re-lays the grid and saves the projects; Fit and Fill are exclusive and kept by the
// workspace only, so a workspace opened anew fills again.
TEST(TDProjectDetailViewImages, TheSettingsPopoverSetsTheColumnsAndFitOrFill)
{
    Images f;
    QToolButton* button = f.view->imagesTitle()->button();
    ASSERT_TRUE(button);
    button->click();
    ASSERT_TRUE(f.view->gridSettings());
    EXPECT_TRUE(f.view->imagesTitle()->popover()->isVisible());
    EXPECT_TRUE(f.view->showPopoverToChangeImageColumnCount());
    TDImageGridSettings* settings = f.view->gridSettings();
    QStringList texts;
    for (auto* label : settings->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_EQ(texts, (QStringList { "Columns: ", "6", "12", "Present mode: " }));
    QSlider* slider = settings->slider();
    EXPECT_EQ(slider->minimum(), 6);
    EXPECT_EQ(slider->maximum(), 12);
    EXPECT_EQ(slider->singleStep(), 1);
    EXPECT_EQ(slider->width(), 200);
    EXPECT_EQ(slider->value(), 12);

    const int saves = f.projectSaves();
    for (int columns : { 11, 10, 9 }) {
        slider->triggerAction(QAbstractSlider::SliderSingleStepSub);
        EXPECT_TRUE(
            testsupport::waitUntil([&] { return f.view->referenceGrid()->columnCount() == columns; }));
    }
    EXPECT_EQ(f.projectSaves(), saves + 3);
    f.settle();
    const QJsonArray stored = QJsonDocument::fromJson(f.root.read("projects.library")).array();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].toObject()["_imageColumnCount"].toDouble(), 9);

    EXPECT_TRUE(settings->fillButton()->isChecked());
    settings->fillButton()->click();
    EXPECT_TRUE(settings->fillButton()->isChecked()) << "clicking the one that is on keeps it on";
    settings->fitButton()->click();
    EXPECT_TRUE(settings->fitButton()->isChecked());
    EXPECT_FALSE(settings->fillButton()->isChecked());
    EXPECT_EQ(f.view->contentMode(), ContentMode::fit);
    EXPECT_EQ(f.view->referenceGrid()->contentMode(), ContentMode::fit);
    EXPECT_EQ(f.projectSaves(), saves + 3) << "fit or fill is not saved";

    f.view->imagesTitle()->popover()->hide();
    EXPECT_FALSE(f.view->showPopoverToChangeImageColumnCount());
    f.open();
    EXPECT_EQ(f.view->contentMode(), ContentMode::fill);
    EXPECT_EQ(f.view->referenceGrid()->columnCount(), 9);

    // A count outside the slider's range (an edited library file) is shown as the nearest end and
    // left as it is: opening the popover writes and saves nothing.
    f.project->setImageColumnCount(3);
    f.open();
    EXPECT_EQ(f.view->referenceGrid()->columnCount(), 3);
    const int before = f.projectSaves();
    f.view->setShowPopoverToChangeImageColumnCount(true);
    EXPECT_EQ(f.view->gridSettings()->slider()->value(), 6);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.project->imageColumnCount(), 3);
    EXPECT_EQ(f.projectSaves(), before);
    // A move against that end, which changes no value of the slider, chooses the end.
    f.view->gridSettings()->slider()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(f.project->imageColumnCount(), 6);
    EXPECT_EQ(f.projectSaves(), before + 1);
    f.view->setShowPopoverToChangeImageColumnCount(false);
}

// The two halves of the Fit and Fill switch are rounded at the switch's outer corners, on either
// side in a right-to-left layout too.
TEST(TDProjectDetailViewImages, TheFitAndFillSwitchIsRoundedOnItsOuterCorners)
{
    auto project = screentest::project("Alpha", nullptr);
    for (Qt::LayoutDirection direction : { Qt::LeftToRight, Qt::RightToLeft }) {
        SCOPED_TRACE(direction == Qt::RightToLeft ? "right to left" : "left to right");
        ContentMode mode = ContentMode::fill;
        TDImageGridSettings settings(project, { [&] { return mode; }, [&](ContentMode m) { mode = m; } }, {});
        settings.setLayoutDirection(direction);
        settings.show();
        QCoreApplication::processEvents();
        QAbstractButton* fill = settings.fillButton();
        const bool fillOnLeft = fill->x() < settings.fitButton()->x();
        EXPECT_EQ(fillOnLeft, direction == Qt::RightToLeft);
        const QImage picture = fill->grab().toImage();
        const QColor accent = picture.pixelColor(picture.rect().center() + QPoint(0, picture.height() / 4));
        auto filled = [&](int x) { return picture.pixelColor(x, 1) == accent; };
        const int outer = fillOnLeft ? 1 : picture.width() - 2;
        const int inner = fillOnLeft ? picture.width() - 2 : 1;
        EXPECT_FALSE(filled(outer)) << "the outer corner is rounded off";
        EXPECT_TRUE(filled(inner)) << "the inner corner meets the other half square";
    }
}

// "Delete" takes the image out of the library and saves the media; only then do its copy and
// thumbnail go to the trash. The last image gone, the placeholder is back.
TEST(TDProjectDetailViewImages, DeletingAnImageSavesAndThenTrashesItsFiles)
{
    Images f;
    f.view->importImages({ f.file("one.png"), f.file("two.png") });
    f.settle();
    auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 2u);
    const QString folder = media[0]->url().deletingLastPathComponent().path();
    ASSERT_TRUE(QFileInfo(folder).isDir());
    TDImageGridCell* cell = f.view->referenceGrid()->cellFor(media[0]->id());
    ASSERT_TRUE(cell);
    cell->actions().front()->trigger();
    EXPECT_EQ(f.stores.mediaStore->tdMedia().size(), 1u);
    f.settle();
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("media.library")).array().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(folder));
    const QString trash
        = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files/";
    EXPECT_TRUE(QFileInfo(trash + QFileInfo(folder).fileName() + "/one.png").isFile());
    EXPECT_EQ(f.images(), 1);

    f.view->deleteReferenceImage(media[1]);
    f.settle();
    EXPECT_TRUE(f.view->imagesPlaceholder()->isVisible());
    EXPECT_EQ(f.images(), 0);
}

// The grid and the count follow the library's images of the project as they change: added, given to
// the project or taken from it later, removed; other projects' images never show.
TEST(TDProjectDetailViewImages, TheGridFollowsTheProjectsImagesThroughEveryChange)
{
    Images f;
    auto other = platform::Uuid::random();
    auto make = [&](const platform::Uuid& project) {
        const QString folder
            = f.root.library() + "/Alpha/images/" + platform::Uuid::random().lowercaseString();
        return TDMedia::make(platform::Uuid::random(), platform::Url::fileUrl(folder + "/a.png"),
            platform::Url::fileUrl(folder + "/thumbnail.jpg"), project);
    };
    auto mine = make(f.project->id()), theirs = make(other), later = make(f.project->id());
    auto shown = [&] {
        std::vector<std::shared_ptr<TDMedia>> ids = f.view->referenceGrid()->media();
        EXPECT_EQ(f.images(), int(ids.size()));
        return ids;
    };
    using List = std::vector<std::shared_ptr<TDMedia>>;
    f.stores.mediaStore->setTdMedia({ theirs, mine });
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() == List { mine }; }));
    EXPECT_FALSE(f.view->imagesPlaceholder()->isVisible());

    theirs->setTdProjectId(f.project->id());
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() == List { theirs, mine }; }));
    f.project->setImageColumnCount(7);
    f.stores.mediaStore->setTdMedia({ theirs, mine, later });
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() == List { theirs, mine, later }; }));
    EXPECT_EQ(f.view->referenceGrid()->columnCount(), 7);
    mine->setTdProjectId(std::nullopt);
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown() == List { theirs, later }; }));
    f.stores.mediaStore->setTdMedia({ mine });
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown().empty(); }));
    EXPECT_TRUE(f.view->imagesPlaceholder()->isVisible());
}

// The folder of a deleted image stays while another record still names a file in it (a hand-edited
// library may share one), by its copy or by its thumbnail; records that only look alike do not keep it.
TEST(TDProjectDetailViewImages, ADeletedImagesFolderStaysWhileAnotherRecordNamesAFileInIt)
{
    Images f;
    f.view->importImages({ f.file("one.png"), f.file("two.png"), f.file("three.png") });
    f.settle();
    auto media = f.stores.mediaStore->tdMedia();
    ASSERT_EQ(media.size(), 3u);
    const platform::Url first = media[0]->url().deletingLastPathComponent();
    const platform::Url second = media[1]->url().deletingLastPathComponent();
    // Its id in the middle of a name, and a folder of that name elsewhere, keep nothing.
    const QString id = media[2]->id().lowercaseString();
    auto all = media;
    all.push_back(TDMedia::make(platform::Uuid::random(), first.appendingPathComponent("copy.png"),
        second.deletingLastPathComponent().appendingPathComponent("x" + id + "/thumbnail.jpg"),
        f.project->id()));
    all.push_back(TDMedia::make(platform::Uuid::random(),
        platform::Url::fileUrl(f.root.root() + "/elsewhere/" + id + "/copy.png"),
        second.appendingPathComponent("thumbnail.jpg"), f.project->id()));
    f.stores.mediaStore->setTdMedia(all);
    const QString third = media[2]->url().deletingLastPathComponent().path();

    for (const auto& image : media)
        f.view->deleteReferenceImage(image);
    f.settle();
    EXPECT_TRUE(QFileInfo(first.path()).isDir()) << "named by a copy";
    EXPECT_TRUE(QFileInfo(second.path()).isDir()) << "named by a thumbnail";
    EXPECT_FALSE(QFileInfo::exists(third));
    EXPECT_EQ(QJsonDocument::fromJson(f.root.read("media.library")).array().size(), 2);
}

// The images' menu opens from the keys as on the Media page: Shift+F10, and the menu key whether
// the desktop sends it as a menu request and a key press or as the key press alone (never twice).
TEST(TDProjectDetailViewImages, TheMenuKeysOpenTheCurrentImagesMenu)
{
    Images f;
    f.view->importImages({ f.file("one.png"), f.file("two.png") });
    f.settle();
    TDImageGrid* grid = f.view->referenceGrid();
    grid->setFocus(Qt::TabFocusReason);
    QTest::keyClick(grid, Qt::Key_Right);
    const QStringList menu { "Delete" };
    EXPECT_EQ(menutest::menuFrom([&] { QTest::keyClick(grid, Qt::Key_F10, Qt::ShiftModifier); }), menu);
    EXPECT_EQ(menutest::menuFrom([&] { QTest::keyClick(grid, Qt::Key_Menu); }), menu);
    // A menu request from the desktop and the menu key's press after it: one menu.
    int menus = 0;
    auto countMenu = [&] {
        QTimer::singleShot(0, [&] {
            if (auto* open = QApplication::activePopupWidget()) {
                ++menus;
                open->close();
            }
        });
    };
    const QPoint center = grid->viewport()->rect().center();
    QContextMenuEvent request(QContextMenuEvent::Keyboard, center, grid->viewport()->mapToGlobal(center));
    countMenu();
    QCoreApplication::sendEvent(grid, &request);
    countMenu();
    QTest::keyClick(grid, Qt::Key_Menu);
    QCoreApplication::processEvents();
    EXPECT_EQ(menus, 1);
}

// Deleting the last image from the keys hands them to the settings button over the placeholder
// that takes the grid's place; the placeholder itself would hold them with no ring and no use.
TEST(TDProjectDetailViewImages, DeletingTheLastImageFromTheKeysHandsThemToTheSettingsButton)
{
    Images f;
    f.window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    // Ringed when the keys came to the grid from the keyboard, not after a click.
    for (Qt::FocusReason reason : { Qt::TabFocusReason, Qt::MouseFocusReason }) {
        f.view->importImages({ f.file("one.png") });
        f.settle();
        f.view->referenceGrid()->setFocus(reason);
        f.view->deleteReferenceImage(f.stores.mediaStore->tdMedia().front());
        f.settle();
        ASSERT_TRUE(f.view->imagesPlaceholder()->isVisible());
        QWidget* focus = QApplication::focusWidget();
        EXPECT_EQ(focus, f.view->imagesTitle()->button()) << (focus ? focus->objectName().toStdString() : "");
        EXPECT_EQ(tdfocusring::isShown(f.view->imagesTitle()->button()), reason == Qt::TabFocusReason);
    }
}
