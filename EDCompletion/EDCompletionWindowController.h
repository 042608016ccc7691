#pragma once

#include "EDCompletion/EDCompletionItem.h"
#include "EDCompletion/EDCompletionViewController.h"
#include "EDCompletion/EDCompletionViewControllerProtocol.h"
#include "EDCompletion/EDCompletionWindow.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <memory>
#include <vector>

class EDCompletionWindowController;

class EDCompletionWindowDelegate {
public:
    virtual void completionWindowController(EDCompletionWindowController& controller,
        const std::shared_ptr<EDCompletionItem>& item, EDTextMovement movement)
        = 0;

protected:
    ~EDCompletionWindowDelegate() = default;
};

// The completion pop-up: a small list of items floating just below the caret of a text view,
// steered from the keyboard while the text view keeps the focus (EDCompletionViewController tells
// which keys do what). The host shows it with the items and where to put it; the item the user
// chooses goes to the delegate. Main thread only.
//
// Shown, the pop-up is a child window of its parent window, above it: it moves with it, and with
// the widget it was shown for when that moves inside the window (a divider dragged, a pane opened
// beside it); it closes when that window stops being the active one or is hidden, and when the
// widget loses the keyboard focus, is hidden or goes. Closing empties the list. One controller,
// view controller and window serve every showing, over whichever window, and outlive the windows
// they were shown over.
class EDCompletionWindowController : public QObject, public EDCompletionViewControllerDelegate {
    Q_OBJECT

public:
    // Makes the pop-up window around the view controller's view; the window owns the view
    // controller, and the view controller tells this controller of the chosen item.
    explicit EDCompletionWindowController(std::shared_ptr<EDCompletionViewControllerProtocol> viewController);
    ~EDCompletionWindowController() override;

    // Not owned; a delegate clears itself before it goes.
    EDCompletionWindowDelegate* delegate() const { return m_delegate; }
    void setDelegate(EDCompletionWindowDelegate* delegate) { m_delegate = delegate; }

    EDCompletionWindow* window() const { return m_window; }
    virtual bool isVisible() const;

    // Shows the window as it is, at its last place.
    virtual void show();
    // Lists `items` with the pop-up's top-left corner at `topLeft` (global coordinates), over the
    // window of `parent`; showing it again while it is shown moves it and replaces the items.
    // The pop-up is kept on the screen that holds the point. Does nothing without a window.
    virtual void show(EDCompletionItems items, QWidget* parent, QPoint topLeft);
    // Closes the window when it is shown; otherwise does nothing.
    virtual void close();

    void completionViewController(EDCompletionViewControllerProtocol& controller,
        const std::shared_ptr<EDCompletionItem>& item, EDTextMovement movement) override;

signals:
    // The widget the pop-up was shown for moved in its window or changed size while the pop-up
    // is shown. The pop-up has moved with it already; a host whose point moves inside the
    // widget (a caret rewrapped) places it again.
    void hostGeometryChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchParentWindow(QWidget* parentWindow);
    void watchHost(QWidget* host);
    void watchHostAncestors();
    void followHost();

    EDCompletionWindowDelegate* m_delegate = nullptr;
    QPointer<EDCompletionWindow> m_window;
    QPointer<QWidget> m_parentWindow;
    QMetaObject::Connection m_parentDestroyed;
    // The widget the pop-up serves, which keeps the keyboard focus while it is shown.
    QPointer<QWidget> m_host;
    QMetaObject::Connection m_hostDestroyed;
    // The widgets between the host and its window, whose moves move the host.
    std::vector<QPointer<QWidget>> m_hostAncestors;
    QPoint m_parentPosition;
    // The host's place in its window when the pop-up was last put beside it.
    QPoint m_hostPosition;
};
