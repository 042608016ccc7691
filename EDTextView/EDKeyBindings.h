#pragma once

#include <QKeyCombination>
#include <QString>

#include <optional>

class QKeyEvent;

// Which command a key runs in a text view: the arrows, Home and End, the page keys and the editing
// keys of a Linux desktop, a few Emacs bindings, and the shortcuts an Edit menu carries. The
// commands are the text view's command names ("moveWordLeft:"); a command the view does not know
// does nothing.
namespace EDKeyBindings {

struct Binding {
    QString command;
    // A shortcut an Edit menu would carry (undo, cut, copy, paste, select all): it works in a view
    // that is not editable too, and is not part of typing.
    bool isMenuKeyEquivalent = false;
};

std::optional<Binding> binding(QKeyCombination key);
std::optional<Binding> binding(const QKeyEvent& event);

} // namespace EDKeyBindings
