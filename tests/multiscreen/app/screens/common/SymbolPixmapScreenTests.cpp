#include "multiscreen/MultiScreenSupport.h"

#include "app/model/TDProject.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/screens/workspace/TDStatusPicker.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The first label of `widget` that shows a pixmap.
QLabel* symbolLabel(QWidget* widget)
{
    for (QLabel* label : widget->findChildren<QLabel*>()) {
        if (!label->pixmap().isNull())
            return label;
    }
    return nullptr;
}

struct Shown {
    QWidget* owner;
    std::function<QPixmap()> pixmap;
};

// Each screen's symbol in a window of its own, made before the window is shown.
struct Maker {
    const char* name;
    std::function<Shown(QWidget* window)> make;
};

const std::vector<Maker>& makers()
{
    static const std::vector<Maker> all {
        { "status dot",
            [](QWidget* window) {
                auto* picker
                    = new TDStatusPicker(TDProject::make({ .name = QStringLiteral("Idea") }), window);
                return Shown { picker, [picker] { return picker->dot()->pixmap(); } };
            } },
        { "note bar dot",
            [](QWidget* window) {
                auto* bar = new BottomBar(bottombar::Note { Qt::green, QStringLiteral("Saved"), 2 }, window);
                return Shown { bar, [bar] { return bar->findChild<QLabel*>("barDot")->pixmap(); } };
            } },
        { "empty page symbol",
            [](QWidget* window) {
                auto* empty
                    = new TDContentUnavailableView("No Projects", Symbol::folder, "None yet.", window);
                return Shown { empty, [empty] { return symbolLabel(empty)->pixmap(); } };
            } },
        { "link warning",
            [](QWidget* window) {
                auto* popover = new TDAddLinkPopover(window);
                popover->showMessage(QStringLiteral("Only web pages can be added."));
                return Shown { popover, [popover] { return symbolLabel(popover)->pixmap(); } };
            } },
    };
    return all;
}

} // namespace

// A symbol drawn at one ratio is sharp only on a screen of that ratio: each label draws its symbol
// again when its window is shown on a denser screen than it was made for and when the window moves
// between screens of different ratios, and keeps its logical size.
TEST(SymbolPixmaps, FollowTheRatioOfTheScreenTheirWindowIsOn)
{
    REQUIRE_TEST_SCREENS();
    for (const Maker& maker : makers()) {
        SCOPED_TRACE(maker.name);
        QWidget window;
        window.setLayout(new QVBoxLayout);
        const Shown shown = maker.make(&window);
        window.layout()->addWidget(shown.owner);
        const QSize logical = shown.pixmap().deviceIndependentSize().toSize();
        window.move(900, 40);
        window.show();
        ASSERT_EQ(window.screen()->name(), "dense");
        EXPECT_EQ(shown.pixmap().devicePixelRatio(), 2);
        EXPECT_EQ(shown.pixmap().size(), logical * 2);

        screentest::moveTo(&window, "normal");
        EXPECT_EQ(shown.pixmap().devicePixelRatio(), 1);
        EXPECT_EQ(shown.pixmap().size(), logical);
        screentest::moveTo(&window, "dense");
        EXPECT_EQ(shown.pixmap().devicePixelRatio(), 2);
        EXPECT_EQ(shown.pixmap().deviceIndependentSize().toSize(), logical);
    }
}

// An alert's icon is made before the box is shown over its window; over a window on a dense screen
// it is drawn at that screen's ratio, and again when the box is moved to another.
TEST(SymbolPixmaps, AnAlertsIconFollowsTheScreenOfItsBox)
{
    REQUIRE_TEST_SCREENS();
    QWidget parent;
    parent.resize(400, 300);
    parent.move(900, 40);
    parent.show();
    ASSERT_EQ(parent.screen()->name(), "dense");
    QMessageBox* box = presentTDAlert(&parent, "The note already exists", "Please enter another name.");
    QCoreApplication::processEvents();
    ASSERT_TRUE(box->isVisible());
    ASSERT_EQ(box->screen()->name(), "dense");
    EXPECT_EQ(box->iconPixmap().devicePixelRatio(), 2);
    EXPECT_EQ(box->iconPixmap().size(), QSize(96, 96));

    screentest::moveTo(box, "normal");
    EXPECT_EQ(box->iconPixmap().devicePixelRatio(), 1);
    EXPECT_EQ(box->iconPixmap().size(), QSize(48, 48));
    box->buttons().front()->click();
    QCoreApplication::processEvents();
}
