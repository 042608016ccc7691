#pragma once

#include <QString>

#include <memory>
#include <vector>

class QWidget;

// One entry of the completion pop-up. The pop-up knows nothing of text: each item brings the view
// that shows it in its row, and the host decides what choosing it does.
class EDCompletionItem {
public:
    virtual ~EDCompletionItem() = default;

    virtual QString id() const = 0;
    // The view shown in the item's row. The item owns it: the list borrows it while it shows the
    // item, reparenting it into the row and back out (parentless and hidden) when the list changes.
    virtual QWidget* view() const = 0;
};

using EDCompletionItems = std::vector<std::shared_ptr<EDCompletionItem>>;

// How the user chose an item, in the text-movement codes of the platform's text fields.
enum class EDTextMovement : int {
    other = 0x00, // a double click
    returnKey = 0x10, // Return or Enter
    tab = 0x11,
};
