#include "../ScreenTestSupport.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/screens/browser/NavigationView.h"
#include "app/screens/browser/TDProjectItem.h"
#include "app/screens/browser/TDProjectMasterView.h"
#include "app/screens/common/EditTDProjectSheet.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDLinkCard.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "app/screens/common/TDToolbar.h"
#include "app/screens/settings/SettingsView.h"
#include "app/screens/workspace/TDQuickAccessBar.h"
#include "platform/text/GraphemeClusters.h"

#include <QClipboard>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>

namespace {

// The main window's content on `stores`, shown on the project grid.
struct ShownGrid {
    QMainWindow window;
    NavigationView* content = nullptr;
    TDProjectMasterView* grid = nullptr;

    explicit ShownGrid(const TDStores& stores)
    {
        content = new NavigationView(stores, &window);
        window.setCentralWidget(content);
        window.resize(1200, 700);
        window.show();
        QCoreApplication::processEvents();
        grid = dynamic_cast<TDProjectMasterView*>(content->destinationView());
    }
};

// What a tooltip shows of `tip`: Qt reads it as markup when it looks like markup.
QString shownAsToolTip(const QString& tip)
{
    QString shown = tip;
    if (Qt::mightBeRichText(tip)) {
        QTextDocument document;
        document.setHtml(tip);
        shown = document.toPlainText();
    }
    return shown.remove(QChar(0x200B));
}

} // namespace

// Names come from library files, page titles and file names: one that looks like markup is a
// name, in its tooltip too, and never makes the tooltip load the picture an "<img>" names.
TEST(TDDisplayText, TooltipsShowNamesThatLookLikeMarkupAsWritten)
{
    const QStringList names = { "<b>Bold</b>", "<img src=\"file:///etc/hosts\">", "Plan <i>B</i>",
        "&lt;b&gt; entity", "<h1 style=\"font-size:2000px\">Huge</h1>", "<a href=\"file:///\">click</a>" };
    for (const QString& name : names) {
        auto project = screentest::project(name, TDCategory::make(platform::Uuid::random(), "Music"));
        TDProjectItem card(project, 1000);
        EXPECT_EQ(shownAsToolTip(card.toolTip()), name) << "project card";

        TDElidedLabel label;
        label.setFullText(name);
        EXPECT_EQ(shownAsToolTip(label.toolTip()), name) << "note or link title";

        const QString address = "https://example.com/?q=" + name;
        TDLinkCard link(
            TDLink { "Title", "Description", address, platform::Uuid::random(), platform::Uuid::random() });
        EXPECT_EQ(shownAsToolTip(link.toolTip()), "Title\n" + address) << "link address";

        const QString path = "/tmp/" + QString(name).replace('/', '|');
        TDQuickAccessEntry entry(platform::Url::fileUrl(path));
        EXPECT_EQ(shownAsToolTip(entry.toolTip()), path) << "quick-access entry";
    }
    EXPECT_EQ(tdToolTipText("Plain name"), "Plain name") << "a name without markup is given as it is";
}

// "[*]" in a window title is where the frame puts its unsaved-changes mark: a name holding it must
// still show it.
TEST(TDDisplayText, ABracketedStarInANameStaysInTheWindowTitle)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = TDCategory::make(platform::Uuid::random(), "Music");
    stores.categoryStore->setTdCategories({ category });
    const QString name = "Mix [*] v2 [*][*]";
    auto project = screentest::project(name, category);
    stores.projectStore->setTdProjects({ project });

    ShownGrid main(stores);
    ASSERT_TRUE(main.grid);
    main.grid->push(project);
    QCoreApplication::processEvents();
    ASSERT_TRUE(main.window.windowHandle());
    EXPECT_EQ(main.window.windowHandle()->title(), name);
}

TEST(TDDisplayText, CutsOnACharacterBoundary)

{
    EXPECT_EQ(tdDisplayText("short"), "short");
    QString exact(tdDisplayTextLimit, 'x');
    EXPECT_EQ(tdDisplayText(exact), exact);
    // A pair of surrogates straddling the limit is dropped whole.
    QString pairs = QString(tdDisplayTextLimit - 1, 'x') + QString::fromUtf8("\xF0\x9F\x8E\xB9") + "tail";
    QString cut = tdDisplayText(pairs);
    EXPECT_EQ(cut, QString(tdDisplayTextLimit - 1, 'x') + QChar(0x2026));

    // After Thai, neither the cut nor the breaks a long word gets fall inside a flag or a joined
    // sequence of emoji.
    const QString thai = QString::fromUtf8("\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35");
    const QString flag = QString::fromUtf8("\U0001F1F9\U0001F1ED");
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    QString flags = thai;
    while (flags.size() < tdDisplayTextLimit + 20)
        flags += flag;
    const qsizetype kept = tdDisplayTextLimit - 6 - (tdDisplayTextLimit - 6) % 4;
    EXPECT_EQ(tdDisplayText(flags), flags.left(6 + kept) + QChar(0x2026));
    const QString word = thai + (flag + family).repeated(10);
    const QString broken = tdBreakableText(word, QFontMetrics(QFont()), 20);
    qsizetype at = 0;
    for (const QChar c : broken) {
        if (c == QChar(0x200B))
            EXPECT_TRUE(platform::isGraphemeBoundary(word, at)) << at;
        else
            ++at;
    }
    EXPECT_EQ(QString(broken).remove(QChar(0x200B)), word);
    EXPECT_GT(broken.size(), word.size() + 10) << "broken between the characters";
}

// An address or a name quoted in a message loses its middle between whole characters: a cut through
// an emoji or a flag would show a box at each side of the "…".
TEST(TDDisplayText, AMessageCutsTheMiddleOfALongTextBetweenWholeCharacters)
{
    EXPECT_EQ(tdMiddleCut("abcdefg", 3), "abcdefg");
    EXPECT_EQ(tdMiddleCut("abcdefgh", 3), QString("abc") + QChar(0x2026) + "fgh");
    const QString flag = QString::fromUtf8("\U0001F1F9\U0001F1ED");
    // 21 units from either end fall inside a flag: 20 are kept before the cut, 18 after it.
    const QString address = "https://" + flag.repeated(20) + "xy";
    const QString cut = tdMiddleCut(address, 21);
    const qsizetype ellipsis = cut.indexOf(QChar(0x2026));
    ASSERT_GT(ellipsis, 0);
    const QString head = cut.left(ellipsis);
    const QString tail = cut.mid(ellipsis + 1);
    EXPECT_TRUE(address.startsWith(head) && platform::isGraphemeBoundary(address, head.size()))
        << head.toStdString();
    EXPECT_TRUE(address.endsWith(tail) && platform::isGraphemeBoundary(address, address.size() - tail.size()))
        << tail.toStdString();
    EXPECT_EQ(head.size(), 20);
    EXPECT_EQ(tail.size(), 18);
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

    ShownGrid main(stores);
    QMainWindow& window = main.window;
    NavigationView* content = main.content;
    TDProjectMasterView* grid = main.grid;
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

// A long category name is cut with an ellipsis in the sheets' picker; a short one is shown whole.
TEST(TDDisplayText, APickedCategorysLongNameIsElidedInItsPicker)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    const QString longName = QStringLiteral("Watercolour studies ").repeated(30).trimmed();
    auto category = TDCategory::make(platform::Uuid::random(), longName);
    auto shortOne = TDCategory::make(platform::Uuid::random(), "Ink");
    stores.categoryStore->setTdCategories({ category, shortOne });
    auto project = screentest::project("Name", category);
    stores.projectStore->setTdProjects({ project });

    EditTDProjectSheet sheet(project, stores);
    sheet.show();
    QCoreApplication::processEvents();
    auto* picker = sheet.findChild<TDElidedComboBox*>("categoryPicker");
    ASSERT_TRUE(picker);
    ASSERT_EQ(picker->currentText(), longName);
    const QString shown = picker->shownText();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_LT(picker->fontMetrics().horizontalAdvance(shown), picker->width());

    picker->setCurrentIndex(picker->findText("Ink"));
    EXPECT_EQ(picker->shownText(), "Ink");
}

// A one-line field shows a pasted line break as a space; the name it stores must be the one shown,
// and a name with line breaks written by another program must not show as two half-cut lines.
TEST(TDDisplayText, LineBreaksInNamesAreShownAndTypedAsSpaces)
{
    apptest::LibraryRoot root;
    TDStores stores = screentest::makeStores();
    auto category = TDCategory::make(platform::Uuid::random(), "Two\nlines");
    stores.categoryStore->setTdCategories({ category });
    auto project = screentest::project(QString::fromUtf8("Line one\r\nLine\ttwo\xe2\x80\xa8three"), category);
    stores.projectStore->setTdProjects({ project });
    const QString shown = "Line one  Line two three";

    ShownGrid main(stores);
    QMainWindow& window = main.window;
    NavigationView* content = main.content;
    TDProjectMasterView* grid = main.grid;
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->cards().size(), 1);
    EXPECT_EQ(grid->cards().front()->nameText(), shown);
    EXPECT_EQ(grid->cards().front()->categoryText(), "Two lines");
    grid->push(project);
    QCoreApplication::processEvents();
    EXPECT_EQ(content->toolbar()->title(), shown);
    EXPECT_FALSE(window.windowTitle().contains('\n'));
    SettingsView settings(stores);
    ASSERT_EQ(settings.rows().size(), 1);
    EXPECT_EQ(settings.rows().front()->text(), "Two lines");

    QApplication::clipboard()->setText("Pasted\nfrom a list\r\n");
    CreateTDProjectSheet create(stores, &window);
    create.open();
    QCoreApplication::processEvents();
    create.form()->nameField()->setFocus();
    QTest::keyClick(create.form()->nameField(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(create.name(), "Pasted from a list  ");
    create.reject();

    settings.addButton()->click();
    QLineEdit* field = settings.newCategoryField();
    ASSERT_TRUE(field);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), "Pasted from a list  ");
    EXPECT_EQ(project->name(), QString::fromUtf8("Line one\r\nLine\ttwo\xe2\x80\xa8three"))
        << "the stored name stays as it is";
}

// In a right-to-left layout a name starts at the right and still reads as written: a Latin name
// keeps its punctuation at its end. Back points to the right, where pages come from there.
TEST(TDDisplayText, InARightToLeftLayoutTextsStartAtTheRightInTheirOwnDirection)
{
    auto ink = [](Qt::LayoutDirection direction, QRect* box) {
        QGuiApplication::setLayoutDirection(direction);
        TDElidedLabel label;
        label.setFullText("Hello, world!");
        label.resize(300, label.sizeHint().height());
        QImage image = label.grab().toImage();
        *box = screentest::inkBounds(image, image.pixelColor(299, 0));
        return box->isEmpty() ? QImage() : image.copy(*box);
    };
    auto backIcon = [](Qt::LayoutDirection direction) {
        QGuiApplication::setLayoutDirection(direction);
        TDToolbar toolbar;
        return toolbar.findChild<QToolButton*>("backButton")->icon().pixmap(18).toImage();
    };
    QRect leftToRight, rightToLeft;
    const QImage forwards = ink(Qt::LeftToRight, &leftToRight);
    const QImage mirrored = ink(Qt::RightToLeft, &rightToLeft);
    const QImage backForwards = backIcon(Qt::LeftToRight);
    const QImage backMirrored = backIcon(Qt::RightToLeft);
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
    ASSERT_FALSE(forwards.isNull());
    EXPECT_LT(leftToRight.left(), 10);
    EXPECT_GT(rightToLeft.right(), 290);
    EXPECT_EQ(mirrored, forwards) << "the same text, drawn the same way, against the other edge";
    auto difference = [](const QImage& a, const QImage& b) {
        int sum = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                sum += std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y)));
        return sum;
    };
    EXPECT_LT(difference(backMirrored, backForwards.mirrored(true, false)) * 4,
        difference(backMirrored, backForwards));
}

// The tooltip is where an elided name is read whole: a name of one long word wraps there instead of
// running off the screen, and reads as it was given.
TEST(TDDisplayText, ATooltipWrapsANameOfOneLongWord)
{
    const QString name = QString(120, 'W') + QString::fromUtf8("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb")
        + QString(120, 'W');
    auto project = screentest::project(name, TDCategory::make(platform::Uuid::random(), "Music"));
    QWidget window;
    window.resize(600, 400);
    auto* card = new TDProjectItem(project, 1000, &window);
    auto* label = new TDElidedLabel(&window);
    label->setFullText(name);
    window.show();
    QCoreApplication::processEvents();
    for (QWidget* widget : { static_cast<QWidget*>(card), static_cast<QWidget*>(label) }) {
        QString tip = widget->toolTip();
        EXPECT_TRUE(tip.contains(QString::fromUtf8("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb")))
            << "never broken inside a character";
        EXPECT_EQ(tip.remove(QChar(0x200B)), name);
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), widget->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(widget, &help);
        QCoreApplication::processEvents();
        QWidget* shown = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->inherits("QTipLabel") && top->isVisible())
                shown = top;
        }
        ASSERT_TRUE(shown);
        EXPECT_LE(shown->width(), widget->screen()->geometry().width());
        QToolTip::hideText();
    }
}

TEST(TDDisplayText, AnElidedLabelIsAsTallAsTheLineItsTextMakes)
{
    TDElidedLabel label;
    label.setFullText("Latin");
    const QFontMetrics metrics(label.font());
    EXPECT_EQ(label.sizeHint().height(), metrics.height()) << "a Latin line keeps the font's height";

    // Thai marks stacked over a vowel come from a taller fallback font.
    const QString thai
        = QString::fromUtf8("\xe0\xb8\x97\xe0\xb8\xb5\xe0\xb9\x88\xe0\xb8\x99\xe0\xb8\xb5\xe0\xb9\x88");
    label.setFullText(thai);
    const QRect bounds = metrics.boundingRect(thai);
    if (bounds.height() <= metrics.height())
        GTEST_SKIP() << "no Thai font here whose marks stand above the Latin line";
    EXPECT_GE(label.sizeHint().height(), bounds.height());
    EXPECT_EQ(label.minimumSizeHint().height(), label.sizeHint().height());
}
