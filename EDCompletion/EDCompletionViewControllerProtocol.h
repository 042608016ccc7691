#pragma once

#include "EDCompletion/EDCompletionItem.h"

class QWidget;
class EDCompletionViewControllerDelegate;

// What the completion window needs of the controller of its content: a view, the items it lists,
// and a delegate told of the item the user chose.
class EDCompletionViewControllerProtocol {
public:
    virtual ~EDCompletionViewControllerProtocol() = default;

    virtual const EDCompletionItems& items() const = 0;
    virtual void setItems(EDCompletionItems items) = 0;
    // Not owned; a delegate clears itself before it goes.
    virtual EDCompletionViewControllerDelegate* delegate() const = 0;
    virtual void setDelegate(EDCompletionViewControllerDelegate* delegate) = 0;
    // The view the window shows, made on first use. The controller deletes it when it goes; a
    // window that shows it deletes it when the window goes first.
    virtual QWidget* view() = 0;
};

class EDCompletionViewControllerDelegate {
public:
    virtual void completionViewController(EDCompletionViewControllerProtocol& controller,
        const std::shared_ptr<EDCompletionItem>& item, EDTextMovement movement)
        = 0;

protected:
    ~EDCompletionViewControllerDelegate() = default;
};
