#pragma once

#include "EDCompletion/EDCompletionViewControllerProtocol.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class EDCompletionWindowController;

// The completion pop-up's window: frameless, shaped to its content's rounded corners, and never
// active, so the text view under it keeps the keyboard focus. It is a
// tooltip-type window that does not accept focus: the platform neither activates it when it is
// shown nor when it is clicked, and places it exactly where it is put. Made by the window
// controller; it owns its content view controller.
class EDCompletionWindow : public QWidget {
    Q_OBJECT

public:
    explicit EDCompletionWindow(std::shared_ptr<EDCompletionViewControllerProtocol> contentViewController);
    ~EDCompletionWindow() override;

    EDCompletionViewControllerProtocol* contentViewController() const
    {
        return m_contentViewController.get();
    }
    EDCompletionWindowController* windowController() const;
    void setWindowController(EDCompletionWindowController* controller);

    // Sizes the window to its content now rather than at the next pass of the event loop.
    void fitToContent();

signals:
    // Emitted when the window is asked to close, before it hides.
    void willClose();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::shared_ptr<EDCompletionViewControllerProtocol> m_contentViewController;
    QPointer<EDCompletionWindowController> m_windowController;
};
