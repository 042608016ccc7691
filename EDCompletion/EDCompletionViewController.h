#pragma once

#include "EDCompletion/EDCompletionTableView.h"
#include "EDCompletion/EDCompletionViewControllerProtocol.h"

#include <QObject>
#include <QPointer>

#include <optional>

class QKeyEvent;

// The content of the completion pop-up: a list of the items' views, at least 320 wide and as tall
// as eight and a half rows at most, on a rounded window-coloured background.
//
// While its view is shown, a key monitor steers the list from the keyboard without taking the
// focus from the text view. It watches key presses meant for the pop-up's parent window:
// - Up and Down move the selection in the list;
// - Tab, Return and Enter accept the selected item, Escape and Backspace close the list;
// - any other key that types or moves (forward Delete among them) closes the list and then reaches
//   the text view as usual;
// - keys that type nothing by themselves (Shift, dead keys) pass untouched.
// Keys meant for other windows (a menu, a dialog) are not the pop-up's.
class EDCompletionViewController : public QObject,
                                   public EDCompletionViewControllerProtocol,
                                   private EDCompletionTableViewDataSource {
    Q_OBJECT

public:
    static constexpr double cornerRadius = 5.0;

    explicit EDCompletionViewController(QObject* parent = nullptr);
    ~EDCompletionViewController() override;

    EDCompletionViewControllerDelegate* delegate() const override { return m_delegate; }
    void setDelegate(EDCompletionViewControllerDelegate* delegate) override { m_delegate = delegate; }
    const EDCompletionItems& items() const override { return m_items; }
    // Reloads the list (a row stays selected while there are items) and the height.
    void setItems(EDCompletionItems items) override;
    QWidget* view() override;
    bool isViewLoaded() const { return m_view; }

    EDCompletionTableView* tableView() const { return m_tableView; }
    // The height the view keeps: none until the view is loaded.
    std::optional<double> heightConstraint() const { return m_heightConstraint; }
    // Whether the key monitor is watching the keyboard.
    bool hasEventMonitor() const { return m_eventMonitor; }

    // A single click only selects its row.
    virtual void tableViewAction();
    virtual void tableViewDoubleAction();
    // Tells the delegate of the selected item, then closes the pop-up; with no row selected it
    // only closes.
    virtual void accept(EDTextMovement movement);

    // What the keys the monitor keeps for itself do.
    virtual void insertTab();
    virtual void insertNewline();
    virtual void insertLineBreak();
    virtual void cancelOperation();
    virtual void deleteBackward();
    virtual void deleteForward();

protected:
    virtual void loadView();
    // Keeps the view as tall as the items need (see heightConstraint()).
    virtual void updateViewConstraints();
    virtual void viewDidAppear();
    virtual void viewDidDisappear();
    // Turns a key the monitor keeps into one of the actions above.
    virtual void interpretKeyEvent(const QKeyEvent& event);

private:
    int numberOfRowsInTableView(EDCompletionTableView& tableView) override;
    QWidget* viewForRow(EDCompletionTableView& tableView, int row) override;
    EDTableRowView* rowViewForRow(EDCompletionTableView& tableView, int row) override;

    bool monitorKey(QObject* receiver, QKeyEvent& event);
    bool isMeantForPopUp(QObject* receiver) const;
    void removeEventMonitor();
    void closePopUp();

    EDCompletionViewControllerDelegate* m_delegate = nullptr;
    EDCompletionItems m_items;
    QPointer<EDCompletionTableView> m_tableView;
    QObject* m_eventMonitor = nullptr;
    std::optional<double> m_heightConstraint;
    QPointer<QWidget> m_view;
    QObject* m_keyMonitor = nullptr;
};
