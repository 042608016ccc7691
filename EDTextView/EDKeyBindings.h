#pragma once

#include "EDTextView/EDTextViewCommandList.h"

#include <QKeyCombination>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class QKeyEvent;

// Which command a key runs in a text view: the arrows, Home and End, the page keys and the editing
// keys of a Linux desktop, a few Emacs bindings, and the shortcuts an Edit menu carries. The
// commands come from the text view's command list, so every key names a command that exists.
namespace EDKeyBindings {

struct Binding {
    EDTextViewCommand command;
    // A shortcut an Edit menu would carry (undo, cut, copy, paste, select all): it works in a view
    // that is not editable too, and is not part of typing.
    bool isMenuKeyEquivalent = false;
};

std::optional<Binding> binding(QKeyCombination key);
std::optional<Binding> binding(const QKeyEvent& event);
// Every key that is bound, with its binding.
std::vector<std::pair<QKeyCombination, Binding>> allBindings();

} // namespace EDKeyBindings
