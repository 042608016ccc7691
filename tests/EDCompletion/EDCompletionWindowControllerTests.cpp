#include "EDCompletion/EDCompletionWindowController.h"
#include "EDCompletion/EDTableRowView.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class LabelItem : public EDCompletionItem {
public:
    explicit LabelItem(const QString& text)
        : m_label(std::make_unique<QLabel>(text))
    {
    }
    QString id() const override { return m_label->text(); }
    QWidget* view() const override { return m_label.get(); }

private:
    std::unique_ptr<QLabel> m_label;
};

EDCompletionItems labels(int count)
{
    EDCompletionItems items;
    for (int index = 0; index < count; ++index)
        items.push_back(std::make_shared<LabelItem>(QString("item %1").arg(index)));
    return items;
}

struct Choice {
    QString id;
    EDTextMovement movement;
    bool popUpStillShown;
};

class CountingController : public EDCompletionWindowController {
public:
    using EDCompletionWindowController::EDCompletionWindowController;
    int closes = 0;
    void close() override
    {
        ++closes;
        EDCompletionWindowController::close();
    }
};

// A text field in an active window, and a pop-up to show under it.
class CompletionPopUp : public ::testing::Test, public EDCompletionWindowDelegate {
protected:
    void SetUp() override
    {
        window.resize(400, 300);
        field = new QLineEdit(&window);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        viewController = std::make_shared<EDCompletionViewController>();
        controller = std::make_unique<CountingController>(viewController);
        controller->setDelegate(this);
    }

    void completionWindowController(EDCompletionWindowController& popUp,
        const std::shared_ptr<EDCompletionItem>& item, EDTextMovement movement) override
    {
        choices.push_back({ item->id(), movement, popUp.isVisible() });
    }

    void show(int count, QPoint at = QPoint(100, 100)) { controller->show(labels(count), field, at); }
    int selectedRow() const { return viewController->tableView()->selectedRow(); }

    QWidget window;
    QLineEdit* field = nullptr;
    std::shared_ptr<EDCompletionViewController> viewController;
    std::unique_ptr<CountingController> controller;
    std::vector<Choice> choices;
};

} // namespace

TEST_F(CompletionPopUp, IsAsTallAsItsRowsUpToEightAndAHalf)
{
    struct Case {
        int items;
        double height;
        bool scrolls;
    };
    for (const Case& test : { Case { 0, 22, false }, Case { 3, 80, false }, Case { 9, 212, true },
             Case { 20, 212, true }, Case { 3, 80, false } }) {
        SCOPED_TRACE(test.items);
        show(test.items);
        ASSERT_TRUE(viewController->heightConstraint());
        EXPECT_EQ(*viewController->heightConstraint(), test.height);
        const QScrollBar* scroller = viewController->tableView()->scrollView()->verticalScrollBar();
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return controller->window()->size() == QSize(320, int(test.height))
                && scroller->isVisible() == test.scrolls;
        })) << controller->window()->width()
            << " x " << controller->window()->height();
    }
}

TEST_F(CompletionPopUp, ArrowsMoveTheSelectionWhileTheFieldKeepsTheFocus)
{
    show(3);
    ASSERT_TRUE(controller->isVisible());
    EXPECT_EQ(selectedRow(), 0);
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(selectedRow(), 1);
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(selectedRow(), 2);
    QTest::keyClick(field, Qt::Key_Up);
    EXPECT_EQ(selectedRow(), 1);
    // Keys that type nothing leave the list alone.
    QTest::keyClick(field, Qt::Key_Shift);
    EXPECT_TRUE(controller->isVisible());

    EXPECT_EQ(QApplication::activeWindow(), &window);
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_TRUE(choices.empty());
}

TEST_F(CompletionPopUp, ReturnEnterAndTabAcceptTheSelectedItemThenClose)
{
    struct Case {
        Qt::Key key;
        EDTextMovement movement;
    };
    for (const Case& test : { Case { Qt::Key_Return, EDTextMovement::returnKey },
             Case { Qt::Key_Enter, EDTextMovement::returnKey }, Case { Qt::Key_Tab, EDTextMovement::tab } }) {
        SCOPED_TRACE(test.key);
        choices.clear();
        show(3);
        QTest::keyClick(field, Qt::Key_Down);
        QTest::keyClick(field, test.key);
        ASSERT_EQ(choices.size(), 1u);
        EXPECT_EQ(choices[0].id, "item 1");
        EXPECT_EQ(choices[0].movement, test.movement);
        EXPECT_TRUE(choices[0].popUpStillShown);
        EXPECT_FALSE(controller->isVisible());
        EXPECT_TRUE(viewController->items().empty());
        EXPECT_FALSE(viewController->hasEventMonitor());
        EXPECT_EQ(QApplication::focusWidget(), field);
        EXPECT_EQ(field->text(), "");
    }
}

TEST_F(CompletionPopUp, OtherKeysCloseWithoutChoosingAndOnlyTypingKeysReachTheField)
{
    struct Case {
        Qt::Key key;
        QString textAfter;
    };
    // The field holds "ab" with the caret between the letters.
    for (const Case& test : { Case { Qt::Key_Escape, "ab" }, Case { Qt::Key_Backspace, "ab" },
             Case { Qt::Key_X, "axb" }, Case { Qt::Key_Delete, "a" }, Case { Qt::Key_Left, "ab" } }) {
        SCOPED_TRACE(test.key);
        field->setText("ab");
        field->setCursorPosition(1);
        show(3);
        QTest::keyClick(field, test.key);
        EXPECT_FALSE(controller->isVisible());
        EXPECT_EQ(field->text(), test.textAfter);
        EXPECT_TRUE(viewController->items().empty());
    }
    EXPECT_TRUE(choices.empty());
}

TEST_F(CompletionPopUp, ClickSelectsAndDoubleClickAccepts)
{
    show(3);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    EDTableRowView* row1 = viewController->tableView()->rowViewAtRow(1);
    QTest::mouseClick(row1, Qt::LeftButton, {}, row1->rect().center());
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_TRUE(row1->isSelected());
    EXPECT_TRUE(choices.empty());

    EDTableRowView* row2 = viewController->tableView()->rowViewAtRow(2);
    QTest::mouseDClick(row2, Qt::LeftButton, {}, row2->rect().center());
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].id, "item 2");
    EXPECT_EQ(choices[0].movement, EDTextMovement::other);
    EXPECT_FALSE(controller->isVisible());
    EXPECT_EQ(QApplication::activeWindow(), &window);
}

TEST_F(CompletionPopUp, ShowingAgainMovesItAndReplacesTheItemsAndItClosesOnceWhenItsWindowGoesInactive)
{
    // Closing what is not shown does nothing.
    viewController->setItems(labels(2));
    controller->close();
    EXPECT_EQ(viewController->items().size(), 2u);

    show(3, QPoint(100, 100));
    show(5, QPoint(150, 120));
    show(4, QPoint(160, 130));
    EXPECT_EQ(controller->window()->pos(), QPoint(160, 130));
    EXPECT_EQ(controller->window()->parentWidget(), &window);
    EXPECT_EQ(viewController->items().size(), 4u);
    EXPECT_EQ(viewController->tableView()->numberOfRows(), 4);

    // It moves with its window.
    window.move(window.pos() + QPoint(30, 20));
    EXPECT_TRUE(testsupport::waitUntil([&] { return controller->window()->pos() == QPoint(190, 150); }));

    // It stays on the screen however close to its edge the caret is.
    show(4, QPoint(100000, 100000));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(controller->window()->frameGeometry())) << controller->window()->pos().x();

    controller->closes = 0;
    QWidget other;
    other.show();
    other.activateWindow();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !controller->isVisible(); }));
    EXPECT_EQ(controller->closes, 1);
    EXPECT_TRUE(viewController->items().empty());
}

TEST_F(CompletionPopUp, LeavesKeysMeantForOtherWindowsAlone)
{
    show(3);
    QLineEdit otherField;
    QTest::keyClick(&otherField, Qt::Key_Down);
    QTest::keyClick(&otherField, Qt::Key_Y);
    EXPECT_TRUE(controller->isVisible());
    EXPECT_EQ(selectedRow(), 0);
    EXPECT_EQ(otherField.text(), "y");
}

TEST_F(CompletionPopUp, OutlivesTheWindowItWasShownOver)
{
    auto* noteWindow = new QWidget;
    auto* noteField = new QLineEdit(noteWindow);
    noteWindow->show();
    controller->show(labels(3), noteField, QPoint(100, 100));
    ASSERT_TRUE(controller->isVisible());
    delete noteWindow;
    ASSERT_NE(controller->window(), nullptr);
    EXPECT_FALSE(controller->isVisible());
    EXPECT_FALSE(viewController->hasEventMonitor());

    controller->show(labels(3), field, QPoint(100, 100));
    EXPECT_EQ(controller->window()->parentWidget(), &window);
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].id, "item 0");
}

// The list serves its field: it closes once the focus goes to another field of the window (whose
// Return then chooses nothing), or the field is hidden or deleted, with or without the focus.
TEST_F(CompletionPopUp, ClosesWhenItsFieldLosesTheFocusIsHiddenOrGoes)
{
    auto* otherField = new QLineEdit(&window);
    otherField->show();
    const std::function<void()> leaves[] = { [&] { otherField->setFocus(); }, [&] { field->hide(); },
        [&] { delete std::exchange(field, otherField); } };
    for (int leave = 0; leave < 3; ++leave) {
        field->show();
        (leave == 0 ? field : otherField)->setFocus();
        show(3);
        leaves[leave]();
        EXPECT_FALSE(controller->isVisible()) << leave;
        QTest::keyClick(otherField, Qt::Key_Return);
        EXPECT_TRUE(choices.empty()) << leave;
    }
}

// Inside its window the field moves when a divider is dragged or a pane opens beside it: the list
// goes with it, and its host hears of every move and resize to place it again.
TEST_F(CompletionPopUp, FollowsItsFieldAsItMovesInsideTheWindow)
{
    auto* pane = new QWidget(&window);
    pane->setGeometry(0, 0, 200, 100);
    field->setParent(pane);
    field->setGeometry(10, 10, 150, 30);
    pane->show();
    field->show();
    field->setFocus();
    int told = 0;
    QObject::connect(controller.get(), &EDCompletionWindowController::hostGeometryChanged, [&] { ++told; });
    show(3, QPoint(100, 100));

    pane->move(50, 20);
    EXPECT_EQ(controller->window()->pos(), QPoint(150, 120));
    field->move(30, 10);
    EXPECT_EQ(controller->window()->pos(), QPoint(170, 120));
    field->resize(100, 30);
    EXPECT_EQ(controller->window()->pos(), QPoint(170, 120));
    EXPECT_EQ(told, 3);

    // Once closed it stays put, and is placed afresh when shown again.
    controller->close();
    pane->move(0, 0);
    EXPECT_EQ(told, 3);
    show(3, QPoint(100, 100));
    field->move(40, 10);
    EXPECT_EQ(controller->window()->pos(), QPoint(110, 100));
}

// A long list makes rows only for what is in sight, so it opens and closes at once; the keys still
// reach every item, each shown selected as it comes into sight, and a click takes the row clicked.
TEST_F(CompletionPopUp, ALongListHasRowsOnlyForWhatIsInSight)
{
    constexpr int count = 5000;
    show(count);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    EDCompletionTableView* table = viewController->tableView();
    const auto rowsMade = [&] {
        int made = 0;
        for (int row = 0; row < table->numberOfRows(); ++row)
            made += table->rowViewAtRow(row) != nullptr;
        return made;
    };
    EXPECT_EQ(table->numberOfRows(), count);
    EXPECT_LE(rowsMade(), 10);

    for (int row = 1; row <= 30; ++row)
        QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(selectedRow(), 30);
    EDTableRowView* selected = table->rowViewAtRow(30);
    ASSERT_NE(selected, nullptr);
    EXPECT_TRUE(selected->isSelected());
    const QRect inSight = table->scrollView()->viewport()->rect();
    EXPECT_TRUE(inSight.contains(
        QRect(selected->mapTo(table->scrollView()->viewport(), QPoint(0, 0)), selected->size())));
    EXPECT_EQ(table->viewAtRow(30)->parentWidget(), selected);
    EXPECT_EQ(table->rowViewAtRow(0), nullptr);
    EXPECT_EQ(viewController->items()[0]->view()->parentWidget(), nullptr) << "the item keeps its view";
    EXPECT_LE(rowsMade(), 10);

    table->scrollView()->verticalScrollBar()->setValue(table->scrollView()->verticalScrollBar()->maximum());
    EDTableRowView* last = table->rowViewAtRow(count - 1);
    ASSERT_NE(last, nullptr);
    QTest::mouseDClick(last, Qt::LeftButton, {}, last->rect().center());
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].id, QString("item %1").arg(count - 1));
    EXPECT_FALSE(controller->isVisible());
}
