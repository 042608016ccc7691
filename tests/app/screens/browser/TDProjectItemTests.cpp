#include "../ScreenTestSupport.h"
#include "Iris/declarative/ScriptedRetrieving.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/common/TDAppearance.h"

#include <QBuffer>

#include <sys/stat.h>

using screentest::ScopedPalette;

namespace {

// A file in the library folder, as a cover the workspace stored.
platform::Url libraryFile(const apptest::LibraryRoot& root, const QString& name)
{
    root.write(name, "image bytes");
    return apptest::fileUrl(root.file(name));
}

} // namespace

TEST(TDProjectItem, IsAQuarterOfTheWholeWidthLessTwelveAnd160High)
{
    auto project = screentest::project("Alpha", TDCategory::make(platform::Uuid::random(), "Software"));
    for (auto [whole, width] : { std::pair { 1000.0, 238 }, { 800.0, 188 }, { 1233.0, 296 } }) {
        TDProjectItem card(project, whole);
        EXPECT_EQ(card.size(), QSize(width, 160)) << whole;
    }
    TDProjectItem card(project, 1000);
    card.setWholeWidth(1000, 230);
    EXPECT_EQ(card.width(), 230) << "never wider than its cell";
}

// Thai marks stacked over a vowel reach above the Latin letters: a two-line name spaced for Latin
// alone would put the second line's marks on the first.
TEST(TDProjectItem, TheLinesOfANameInAnotherScriptDoNotOverlap)
{
    const QString thai
        = QString::fromUtf8("\u0E17\u0E35\u0E48\u0E1B\u0E31\u0E49\u0E19\u0E2A\u0E34\u0E49\u0E19 ");
    TDProjectItem card(
        screentest::project(thai.repeated(4), TDCategory::make(platform::Uuid::random(), "Software")), 1000);
    const QList<QRectF> lines = card.nameLineRects();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_LE(lines[0].bottom(), lines[1].top() + 0.5);
    EXPECT_GE(lines[0].top(), TDProjectItem::topPadding);
}

TEST(TDProjectItem, PlaceholderTileHasRoundedCornersAndAnInnerBorder)
{
    ScopedPalette light(false);
    auto project = screentest::project("Alpha", TDCategory::make(platform::Uuid::random(), "Software"));
    TDProjectItem card(project, 1000);
    card.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(card.hasCover());
    QImage image = card.grab().toImage();
    const QColor window = card.palette().color(QPalette::Window);
    EXPECT_EQ(image.pixelColor(0, 0).rgb(), window.rgb()) << "the corner is clipped";
    QColor border = image.pixelColor(0, 80);
    QColor fill = image.pixelColor(120, 100);
    EXPECT_LT(fill.lightness(), window.lightness()) << "the tile is a faint fill";
    EXPECT_LT(border.lightness(), fill.lightness()) << "the 1-pixel border is darker than the fill";
    EXPECT_EQ(card.categoryText(), "Software");
    EXPECT_EQ(card.nameText(), "Alpha");
}

TEST(TDProjectItem, MarksFollowFavouriteAndStatus)
{
    struct Case {
        TDStatus status;
        const char* label;
        tdappearance::SystemColor color;
    };
    ScopedPalette light(false);
    const Case cases[] = {
        { TDStatus::inProgress, "In Progress", tdappearance::SystemColor::green },
        { TDStatus::archived, "Archived", tdappearance::SystemColor::gray },
        { TDStatus::finished, "Finished", tdappearance::SystemColor::blue },
    };
    for (const auto& test : cases) {
        auto project
            = screentest::project("P", TDCategory::make(platform::Uuid::random(), "Music"), test.status);
        TDProjectItem card(project, 1000);
        card.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(card.accessibleDescription(), test.label);
        EXPECT_FALSE(card.showsStar());
        EXPECT_TRUE(card.starRect().isNull()) << "no space is kept for the star";
        EXPECT_NEAR(card.dotRect().right(), card.width() - TDProjectItem::trailingPadding, 0.01);
        QImage image = card.grab().toImage();
        QColor dot = image.pixelColor(card.dotRect().center().toPoint());
        QColor expected = tdappearance::color(test.color, false);
        EXPECT_NEAR(dot.red(), expected.red(), 40) << test.label;
        EXPECT_NEAR(dot.green(), expected.green(), 40) << test.label;
        EXPECT_NEAR(dot.blue(), expected.blue(), 40) << test.label;

        project->setIsFavorite(true);
        ASSERT_TRUE(testsupport::waitUntil([&] { return card.showsStar(); }));
        EXPECT_NEAR(card.dotRect().left() - card.starRect().right(), TDProjectItem::markSpacing, 0.01);
    }
}

TEST(TDProjectItem, FollowsTheProjectWithoutBeingRebuilt)
{
    auto category = TDCategory::make(platform::Uuid::random(), "Music");
    auto project = screentest::project("Before", category);
    TDProjectItem card(project, 1000);
    card.show();
    project->setName("After");
    category->setName("Sound");
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return card.nameText() == "After" && card.categoryText() == "Sound"; }));
    EXPECT_EQ(card.accessibleName(), "After");
}

TEST(TDProjectItem, TheCoverFillsTheTileUnderTheOverlayOnceInView)
{
    apptest::LibraryRoot root;
    iristest::ScopedRetrieving retrieving;
    auto project = screentest::project("Covered", TDCategory::make(platform::Uuid::random(), "Music"));
    project->setCoverImageURL(libraryFile(root, "red.png"));
    QWidget ground;
    ground.resize(400, 300);
    auto* card = new TDProjectItem(project, 1000, &ground);
    EXPECT_TRUE(retrieving.manager->calls.empty()) << "nothing loads before the card is in view";
    ground.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return retrieving.manager->calls.size() == 1; }));
    EXPECT_EQ(retrieving.manager->calls[0].source.cacheKey().endsWith("/Tindrel.folder/red.png"), true);

    // Before the image arrives the tile is the dark overlay alone.
    QImage waiting = card->grab().toImage();
    EXPECT_LT(waiting.pixelColor(card->width() / 2, 80).lightness(), 110);

    retrieving.manager->succeed(0, iristest::solidImage(QColor(255, 0, 0), 400, 200), iris::CacheType::none);
    ASSERT_TRUE(testsupport::waitUntil([&] { return card->coverView()->binder()->loadedImage != nullptr; }));
    QCoreApplication::processEvents();
    QImage shown = card->grab().toImage();
    for (QPoint at : { QPoint(card->width() / 2, 80), QPoint(5, 80), QPoint(card->width() - 6, 150) }) {
        QColor pixel = shown.pixelColor(at);
        EXPECT_NEAR(pixel.red(), 102, 3) << at.x() << "," << at.y();
        EXPECT_LT(pixel.green(), 5);
    }
    EXPECT_EQ(shown.pixelColor(0, 0).rgb(), ground.palette().color(QPalette::Window).rgb())
        << "rounded corner";
    EXPECT_EQ(card->coverView()->height(), 160);
    EXPECT_EQ(card->coverView()->width(), 320) << "filled with the aspect ratio kept";

    // A render that keeps the URL keeps the image; another URL retrieves anew.
    project->setName("Renamed");
    QCoreApplication::processEvents();
    EXPECT_EQ(retrieving.manager->calls.size(), 1u);
    project->setCoverImageURL(libraryFile(root, "blue.png"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return retrieving.manager->calls.size() == 2; }));
    project->setCoverImageURL(std::nullopt);
    ASSERT_TRUE(testsupport::waitUntil([&] { return card->coverView() == nullptr; }));
    EXPECT_FALSE(card->hasCover());
}

TEST(TDProjectItem, OnlyACoverFileInsideTheLibraryIsEverRead)
{
    apptest::LibraryRoot root;
    iristest::ScopedRetrieving retrieving;
    root.makeLibraryFolder();
    QFile::link("/etc/passwd", root.file("link-out.png"));
    QDir(root.library()).mkdir("folder.png");
    ::mkfifo(root.file("pipe.png").toLocal8Bit().constData(), 0600);
    const QString outside[] = { "file:///etc/passwd", "http://127.0.0.1:9/cover.png",
        QUrl::fromLocalFile(root.file("link-out.png")).toString(),
        QUrl::fromLocalFile(root.file("folder.png")).toString(),
        QUrl::fromLocalFile(root.file("pipe.png")).toString(),
        QUrl::fromLocalFile(root.file("missing.png")).toString(),
        QUrl::fromLocalFile(root.library() + "/../escape.png").toString() };
    QWidget ground;
    ground.resize(400, 300);
    ground.show();
    for (const QString& text : outside) {
        auto project = screentest::project("P", TDCategory::make(platform::Uuid::random(), "Music"));
        project->setCoverImageURL(platform::Url::fromString(text));
        auto* card = new TDProjectItem(project, 1000, &ground);
        card->show();
        QCoreApplication::processEvents();
        EXPECT_FALSE(card->hasCover()) << text.toStdString();
        EXPECT_FALSE(card->coverView()) << text.toStdString();
        delete card;
    }
    EXPECT_TRUE(retrieving.manager->calls.empty());
}

// A mirrored card keeps each text in its own direction: a Latin name in a right-to-left layout reads
// as it does elsewhere, with its punctuation at its end, set against the right edge.
TEST(TDProjectItem, InARightToLeftLayoutTheCardIsMirroredAndItsTextsKeepTheirOwnDirection)
{
    ScopedPalette light(false);
    auto project = screentest::project("Hello, world!", TDCategory::make(platform::Uuid::random(), "Music"));
    project->setIsFavorite(true);
    auto nameInk = [&](Qt::LayoutDirection direction, QRect* box) {
        // As a right-to-left language or -reverse sets it: painters take the application's.
        QGuiApplication::setLayoutDirection(direction);
        TDProjectItem card(project, 1000);
        card.show();
        QCoreApplication::processEvents();
        if (direction == Qt::RightToLeft) {
            EXPECT_NEAR(card.dotRect().left(), TDProjectItem::trailingPadding, 0.01);
            EXPECT_NEAR(card.starRect().left() - card.dotRect().right(), TDProjectItem::markSpacing, 0.01);
        }
        QImage image = card.grab().toImage();
        const int top = card.height() - TDProjectItem::bottomPadding - 30;
        *box = screentest::inkBounds(
            image, image.pixelColor(card.width() / 2, 70), QRect(2, top, card.width() - 4, 36));
        return box->isEmpty() ? QImage() : image.copy(*box);
    };
    QRect leftToRight, rightToLeft;
    const QImage forwards = nameInk(Qt::LeftToRight, &leftToRight);
    const QImage mirrored = nameInk(Qt::RightToLeft, &rightToLeft);
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
    ASSERT_FALSE(forwards.isNull());
    EXPECT_NEAR(leftToRight.left(), TDProjectItem::leadingPadding, 6);
    EXPECT_NEAR(rightToLeft.right(), 238 - TDProjectItem::leadingPadding, 6);
    EXPECT_EQ(mirrored, forwards) << "the same name, drawn the same way, against the other edge";
}

// A cover file that is there but holds no picture (junk, nothing, a picture cut short) is shown as a
// cover whose file is gone: the card's own tile, not a darkened empty one.
TEST(TDProjectItem, ACoverThatCannotBeDecodedShowsTheTileWithoutACover)
{
    ScopedPalette light(false);
    apptest::LibraryRoot root;
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&png, "PNG"));
    QBuffer jpeg;
    jpeg.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&jpeg, "JPEG"));
    const std::pair<const char*, QByteArray> damaged[]
        = { { "junk", "not a picture at all" }, { "empty", {} }, { "png header", png.data().left(40) },
              { "png half", png.data().left(png.data().size() / 2) },
              { "jpeg half", jpeg.data().left(jpeg.data().size() / 2) } };
    QWidget ground;
    ground.resize(520, 180);
    ground.show();
    for (const auto& [kind, bytes] : damaged) {
        SCOPED_TRACE(kind);
        const QString name = QString::fromLatin1(kind).replace(' ', '-') + ".png";
        root.write(name, bytes);
        auto spoilt = screentest::project("Cover", TDCategory::make(platform::Uuid::random(), "Music"));
        spoilt->setCoverImageURL(apptest::fileUrl(root.file(name)));
        auto gone = screentest::project("Cover", TDCategory::make(platform::Uuid::random(), "Music"));
        gone->setCoverImageURL(apptest::fileUrl(root.file("missing.png")));
        TDProjectItem shown(spoilt, 1000, &ground);
        TDProjectItem expected(gone, 1000, &ground);
        shown.show();
        expected.show();
        EXPECT_TRUE(testsupport::waitUntil([&] { return !shown.hasCover(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(shown.grab().toImage(), expected.grab().toImage());
    }
}

// A failed retrieval is not tried again by the card's next render nor by the card coming back into
// view; a cover chosen afterwards is retrieved and shown.
TEST(TDProjectItem, AFailedCoverIsNotRetrievedAgainUntilAnotherIsChosen)
{
    apptest::LibraryRoot root;
    iristest::ScopedRetrieving retrieving;
    auto project = screentest::project("Covered", TDCategory::make(platform::Uuid::random(), "Music"));
    project->setCoverImageURL(libraryFile(root, "spoilt.png"));
    QWidget ground;
    ground.resize(400, 300);
    auto* card = new TDProjectItem(project, 1000, &ground);
    ground.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return retrieving.manager->calls.size() == 1; }));
    EXPECT_TRUE(card->hasCover()) << "a cover on its way is shown as one";
    retrieving.manager->fail(
        0, iris::IrisError::processorError(iris::IrisError::ProcessorErrorReason::processingFailed({}, {})));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !card->hasCover(); }));

    project->setName("Renamed");
    card->hide();
    card->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(retrieving.manager->calls.size(), 1u);
    EXPECT_FALSE(card->hasCover());

    project->setCoverImageURL(libraryFile(root, "fresh.png"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return retrieving.manager->calls.size() == 2; }));
    retrieving.manager->succeed(1, iristest::solidImage(QColor(255, 0, 0), 400, 200), iris::CacheType::none);
    ASSERT_TRUE(testsupport::waitUntil([&] { return card->coverView()->binder()->loadedImage != nullptr; }));
    EXPECT_TRUE(card->hasCover());
    EXPECT_TRUE(card->coverView()->isVisible());
}
