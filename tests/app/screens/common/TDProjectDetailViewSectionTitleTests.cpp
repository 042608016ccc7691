#include "../ScreenTestSupport.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDPopover.h"
#include "app/screens/common/TDProjectDetailViewSectionTitle.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A popover title in a window, its flag held here as an owner's state is.
struct Titled {
    QWidget window;
    bool open = false;
    int actions = 0;
    TDProjectDetailViewSectionTitleWithPopover* title;

    Titled(std::optional<Symbol> icon, bool withAction, const QString& label = "Reference Images")
    {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        std::function<void()> action;
        if (withAction)
            action = [this] {
                ++actions;
                open = !open;
            };
        title = new TDProjectDetailViewSectionTitleWithPopover(
            label, icon, action, { [this] { return open; }, [this](bool value) { open = value; } },
            [] {
                auto* content = new QLabel("Columns: ");
                content->setObjectName("popoverContent");
                return content;
            },
            &window);
        layout->addWidget(title);
        layout->addStretch(1);
        window.resize(600, 200);
        window.show();
        QCoreApplication::processEvents();
    }
    bool popoverShown() const { return title->popover() && title->popover()->isVisible(); }
};

} // namespace

TEST(TDProjectDetailViewSectionTitleWithPopover, TheButtonOpensThePopoverWhichFollowsTheFlag)
{
    Titled f(Symbol::sliderHorizontal3, true);
    ASSERT_TRUE(f.title->button());
    EXPECT_EQ(f.title->popover()->content()->objectName(), "popoverContent");
    EXPECT_GT(f.title->button()->x(), f.window.width() / 2) << "at the trailing edge";

    QTest::mouseClick(f.title->button(), Qt::LeftButton);
    EXPECT_EQ(f.actions, 1);
    EXPECT_TRUE(f.open);
    EXPECT_TRUE(f.popoverShown());
    const QRect button(f.title->button()->mapToGlobal(QPoint()), f.title->button()->size());
    EXPECT_GE(f.title->popover()->geometry().top(), button.bottom()) << "below its button";

    // A second click on the button closes it, as it opened it, rather than closing and reopening it.
    QTest::mouseClick(f.title->button(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.popoverShown());
    EXPECT_FALSE(f.open);

    // Closed by the user (a click elsewhere, Escape): the flag follows.
    QTest::mouseClick(f.title->button(), Qt::LeftButton);
    ASSERT_TRUE(f.popoverShown());
    f.title->popover()->hide();
    EXPECT_FALSE(f.open);

    // The owner's flag drives it.
    const int actions = f.actions;
    f.open = true;
    f.title->sync();
    EXPECT_TRUE(f.popoverShown());
    f.open = false;
    f.title->sync();
    EXPECT_FALSE(f.popoverShown());
    EXPECT_EQ(f.actions, actions) << "the owner's changes run no action";
}

TEST(TDProjectDetailViewSectionTitleWithPopover, WithoutAnIconOrAnActionThereIsNoButtonAndNoPopover)
{
    for (bool withIcon : { false, true }) {
        Titled f(withIcon ? std::optional(Symbol::plus) : std::nullopt, !withIcon);
        EXPECT_FALSE(f.title->button());
        EXPECT_FALSE(f.title->findChild<QToolButton*>());
        f.open = true;
        f.title->sync();
        EXPECT_FALSE(f.popoverShown());
        EXPECT_FALSE(f.title->popover());
    }
}

TEST(TDProjectDetailViewSectionTitle, AnEmptyCaptionKeepsTheBarAndItsColoursFollowTheAppearance)
{
    Titled written(Symbol::plus, true, "Links");
    Titled empty(Symbol::plus, true, "");
    EXPECT_EQ(empty.title->height(), written.title->height());
    EXPECT_EQ(empty.title->width(), empty.window.width());
    for (bool dark : { false, true }) {
        screentest::ScopedPalette palette(dark);
        QCoreApplication::processEvents();
        const QImage bar = empty.title->grab().toImage();
        const auto expected = dark ? tdappearance::SystemColor::windowBackground
                                   : tdappearance::SystemColor::controlBackground;
        EXPECT_EQ(bar.pixelColor(bar.width() / 3, 2).rgb(), tdappearance::color(expected, dark).rgb())
            << dark;
        EXPECT_NE(
            bar.pixelColor(bar.width() / 3, bar.height() - 1).rgb(), bar.pixelColor(bar.width() / 3, 2).rgb())
            << "the divider along the bottom";
    }
}
