#include "../ScreenTestSupport.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAppearance.h"

#include <QLabel>

using screentest::ScopedPalette;

namespace {

QList<QLabel*> labels(BottomBar& bar)
{
    QList<QLabel*> list = bar.findChildren<QLabel*>();
    std::sort(list.begin(), list.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
    return list;
}

QStringList texts(BottomBar& bar)
{
    QStringList list;
    for (QLabel* label : labels(bar))
        list.append(label->objectName() == "barDot" ? QStringLiteral("•") : label->text());
    return list;
}

} // namespace

TEST(BottomBar, ShowsEachCaseAtTheTrailingEnd)
{
    struct Case {
        BottomBarType type;
        QStringList shown;
    };
    const Case cases[] = {
        { bottombar::Projects { 0 }, { "Projects:", "0" } },
        { bottombar::Projects { 1234567 }, { "Projects:", "1234567" } },
        { bottombar::Projects { -3 }, { "Projects:", "-3" } },
        { bottombar::Media { 4 }, { "Media:", "4" } },
        { bottombar::Links { 5 }, { "Links:", "5" } },
        { bottombar::ProjectDetail { 3, 12 }, { "Notes:", "3", "Images:", "12" } },
        { bottombar::Note { Qt::red, "Not Saved", 2 }, { "•", "Not Saved", "Links:", "2" } },
    };
    for (const auto& test : cases) {
        BottomBar bar(test.type);
        bar.resize(600, bar.sizeHint().height());
        bar.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(texts(bar), test.shown);
        QLabel* last = labels(bar).back();
        EXPECT_EQ(bar.width() - (last->geometry().right() + 1), BottomBar::horizontalPadding);
        EXPECT_EQ(last->font().pixelSize(), 11);
    }
}

TEST(BottomBar, PairsAreTwoApartAndSevenFromEachOther)
{
    BottomBar bar(bottombar::ProjectDetail { 3, 12 });
    bar.resize(500, bar.sizeHint().height());
    bar.show();
    QCoreApplication::processEvents();
    QList<QLabel*> list = labels(bar);
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[1]->x() - list[0]->geometry().right() - 1, BottomBar::pairSpacing);
    EXPECT_EQ(list[2]->x() - list[1]->geometry().right() - 1, BottomBar::itemSpacing);
    EXPECT_EQ(list[3]->x() - list[2]->geometry().right() - 1, BottomBar::pairSpacing);
}

TEST(BottomBar, ALongStatusWidensTheBarInsteadOfBeingCut)
{
    QString status(200, QLatin1Char('x'));
    BottomBar bar(bottombar::Note { Qt::red, status, 1 });
    bar.show();
    QCoreApplication::processEvents();
    auto* text = bar.findChild<QLabel*>("barStatusText");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->text(), status);
    EXPECT_GE(bar.minimumWidth(), text->fontMetrics().horizontalAdvance(status));
    EXPECT_GE(text->width(), text->fontMetrics().horizontalAdvance(status));
}

TEST(BottomBar, TheDotTakesTheCaseColour)
{
    BottomBar bar(bottombar::Note { QColor(255, 0, 0), "Saved", 0 });
    bar.show();
    QCoreApplication::processEvents();
    auto* dot = bar.findChild<QLabel*>("barDot");
    ASSERT_TRUE(dot);
    QImage image = dot->grab().toImage();
    QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_GT(centre.red(), 200);
    EXPECT_LT(centre.green(), 60);
}

TEST(BottomBar, BackgroundFollowsTheAppearanceWithADividerOnTop)
{
    for (bool dark : { false, true }) {
        ScopedPalette palette(dark);
        BottomBar bar(bottombar::Projects { 1 });
        bar.resize(300, bar.sizeHint().height());
        bar.show();
        QCoreApplication::processEvents();
        QImage image = bar.grab().toImage();
        using tdappearance::SystemColor;
        QColor expected = tdappearance::color(
            dark ? SystemColor::windowBackground : SystemColor::controlBackground, dark);
        EXPECT_EQ(image.pixelColor(20, bar.height() / 2).rgb(), expected.rgb()) << (dark ? "dark" : "light");
        EXPECT_NE(image.pixelColor(20, 0).rgb(), expected.rgb()) << "the divider";
    }
}
