#include "multiscreen/MultiScreenSupport.h"

#include "app/model/TDProject.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDContentUnavailableView.h"
#include "app/screens/note/TDAddLinkPopover.h"
#include "app/screens/workspace/TDStatusPicker.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>

namespace {

QPixmap symbolOf(QWidget* widget)
{
    for (QLabel* label : widget->findChildren<QLabel*>()) {
        if (!label->pixmap().isNull())
            return label->pixmap();
    }
    return {};
}

} // namespace

// Symbols are made before their window is shown, at the primary screen's ratio. Each is drawn again
// for the screen the window comes up on and for each screen it is moved to, at the same size in
// points, so it is never blurred nor four times too heavy.
TEST(SymbolPixmaps, FollowTheRatioOfTheScreenTheirWindowIsOn)
{
    REQUIRE_TEST_SCREENS();
    const std::vector<std::function<QWidget*(QWidget*)>> makers {
        [](QWidget* window) { return new TDStatusPicker(TDProject::make({ .name = "Idea" }), window); },
        [](QWidget* window) {
            return new BottomBar(bottombar::Note { Qt::green, "Saved", 2 }, window);
        },
        [](QWidget* window) { return new TDContentUnavailableView("None", Symbol::folder, "", window); },
        [](QWidget* window) {
            auto* popover = new TDAddLinkPopover(window);
            popover->showMessage("Only web pages can be added.");
            return popover;
        },
        [](QWidget* window) {
            QMessageBox* box = presentTDAlert(window, "The note already exists", "");
            box->hide();
            return box;
        },
    };
    for (std::size_t i = 0; i < makers.size(); ++i) {
        SCOPED_TRACE(i);
        QWidget window;
        window.setLayout(new QVBoxLayout);
        QWidget* shown = makers[i](&window);
        if (shown->isWindow())
            shown->move(900, 40);
        else
            window.layout()->addWidget(shown);
        const QSizeF points = symbolOf(shown).deviceIndependentSize();
        window.move(900, 40);
        window.show();
        shown->show();
        ASSERT_EQ(shown->screen()->name(), "second");
        EXPECT_EQ(symbolOf(shown).devicePixelRatio(), 2);
        moveTo(shown->window(), "first");
        EXPECT_EQ(symbolOf(shown).devicePixelRatio(), 1);
        EXPECT_EQ(symbolOf(shown).deviceIndependentSize(), points);
        if (shown->isWindow())
            static_cast<QMessageBox*>(shown)->buttons().front()->click();
    }
}
