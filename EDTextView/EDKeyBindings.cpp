#include "EDTextView/EDKeyBindings.h"

#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>

#include <algorithm>

namespace EDKeyBindings {

namespace {

using C = EDTextViewCommand;

constexpr Qt::KeyboardModifiers none = Qt::NoModifier;
constexpr Qt::KeyboardModifiers shift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers control = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers alt = Qt::AltModifier;
constexpr Qt::KeyboardModifiers controlShift = Qt::ControlModifier | Qt::ShiftModifier;

struct Entry {
    Qt::KeyboardModifiers modifiers;
    Qt::Key key;
    EDTextViewCommand command;
    bool menu = false;
};

// Shift added to a movement extends the selection instead. Backtab (Shift+Tab) stays unbound:
// inserting the back-tab control character into a note helps nobody.
const Entry entries[] = {
    { none, Qt::Key_Left, C::moveLeft },
    { shift, Qt::Key_Left, C::moveLeftAndModifySelection },
    { none, Qt::Key_Right, C::moveRight },
    { shift, Qt::Key_Right, C::moveRightAndModifySelection },
    { none, Qt::Key_Up, C::moveUp },
    { shift, Qt::Key_Up, C::moveUpAndModifySelection },
    { none, Qt::Key_Down, C::moveDown },
    { shift, Qt::Key_Down, C::moveDownAndModifySelection },
    { control, Qt::Key_Left, C::moveWordLeft },
    { controlShift, Qt::Key_Left, C::moveWordLeftAndModifySelection },
    { control, Qt::Key_Right, C::moveWordRight },
    { controlShift, Qt::Key_Right, C::moveWordRightAndModifySelection },
    { control, Qt::Key_Up, C::moveToBeginningOfParagraph },
    { controlShift, Qt::Key_Up, C::moveParagraphBackwardAndModifySelection },
    { control, Qt::Key_Down, C::moveToEndOfParagraph },
    { controlShift, Qt::Key_Down, C::moveParagraphForwardAndModifySelection },
    { none, Qt::Key_Home, C::moveToBeginningOfLine },
    { shift, Qt::Key_Home, C::moveToBeginningOfLineAndModifySelection },
    { none, Qt::Key_End, C::moveToEndOfLine },
    { shift, Qt::Key_End, C::moveToEndOfLineAndModifySelection },
    { control, Qt::Key_Home, C::moveToBeginningOfDocument },
    { controlShift, Qt::Key_Home, C::moveToBeginningOfDocumentAndModifySelection },
    { control, Qt::Key_End, C::moveToEndOfDocument },
    { controlShift, Qt::Key_End, C::moveToEndOfDocumentAndModifySelection },
    { none, Qt::Key_PageUp, C::pageUp },
    { shift, Qt::Key_PageUp, C::pageUpAndModifySelection },
    { none, Qt::Key_PageDown, C::pageDown },
    { shift, Qt::Key_PageDown, C::pageDownAndModifySelection },

    { none, Qt::Key_Backspace, C::deleteBackward },
    { shift, Qt::Key_Backspace, C::deleteBackward },
    { none, Qt::Key_Delete, C::deleteForward },
    { control, Qt::Key_Backspace, C::deleteWordBackward },
    { control, Qt::Key_Delete, C::deleteWordForward },
    { controlShift, Qt::Key_Backspace, C::deleteToBeginningOfLine },
    { controlShift, Qt::Key_Delete, C::deleteToEndOfLine },
    { none, Qt::Key_Return, C::insertNewline },
    { none, Qt::Key_Enter, C::insertNewline },
    { shift, Qt::Key_Return, C::insertLineBreak },
    { shift, Qt::Key_Enter, C::insertLineBreak },
    { none, Qt::Key_Tab, C::insertTab },
    { none, Qt::Key_Escape, C::cancelOperation },
    { control, Qt::Key_Space, C::complete },

    // Emacs: kill to the end of the paragraph, yank, and the case of words.
    { control, Qt::Key_K, C::deleteToEndOfParagraph },
    { control, Qt::Key_Y, C::yank },
    { alt, Qt::Key_U, C::uppercaseWord },
    { alt, Qt::Key_L, C::lowercaseWord },
    { alt, Qt::Key_C, C::capitalizeWord },

    // Formatting, as word processors on Linux bind it, and the font and colour dialogs.
    { control, Qt::Key_U, C::underline },
    { control, Qt::Key_T, C::orderFrontFontPanel },
    { controlShift, Qt::Key_C, C::orderFrontColorPanel },

    { control, Qt::Key_Z, C::undo, true },
    { controlShift, Qt::Key_Z, C::redo, true },
    { control, Qt::Key_X, C::cut, true },
    { control, Qt::Key_C, C::copy, true },
    { control, Qt::Key_V, C::paste, true },
    // The older shortcuts of Linux desktops for the same.
    { shift, Qt::Key_Delete, C::cut, true },
    { control, Qt::Key_Insert, C::copy, true },
    { shift, Qt::Key_Insert, C::paste, true },
    { Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier, Qt::Key_V, C::pasteAsPlainText, true },
    { control, Qt::Key_A, C::selectAll, true },

    // Find and replace, as Linux editors bind them; the desktop's own keys for the same are added
    // where they are free (desktopFindEntries).
    { control, Qt::Key_F, C::showFindInterface, true },
    { none, Qt::Key_F3, C::findNext, true },
    { shift, Qt::Key_F3, C::findPrevious, true },
    { control, Qt::Key_G, C::findNext, true },
    { controlShift, Qt::Key_G, C::findPrevious, true },
    { control, Qt::Key_H, C::showReplaceInterface, true },
    { control, Qt::Key_E, C::useSelectionForFind, true },
};

// The desktop's keys for find and replace (they differ between desktops), where no entry above
// binds the key already.
std::vector<Entry> desktopFindEntries()
{
    const std::pair<QKeySequence::StandardKey, EDTextViewCommand> keys[] = {
        { QKeySequence::Find, C::showFindInterface },
        { QKeySequence::FindNext, C::findNext },
        { QKeySequence::FindPrevious, C::findPrevious },
        { QKeySequence::Replace, C::showReplaceInterface },
    };
    std::vector<Entry> result;
    for (const auto& [standardKey, command] : keys) {
        for (const QKeySequence& sequence : QKeySequence::keyBindings(standardKey)) {
            if (sequence.count() != 1)
                continue;
            const QKeyCombination key = sequence[0];
            const bool taken = std::any_of(std::begin(entries), std::end(entries), [&](const Entry& entry) {
                return QKeyCombination(entry.modifiers, entry.key) == key;
            }) || std::any_of(result.begin(), result.end(), [&](const Entry& entry) {
                return QKeyCombination(entry.modifiers, entry.key) == key;
            });
            if (!taken)
                result.push_back({ key.keyboardModifiers(), key.key(), command, true });
        }
    }
    return result;
}

// Every entry: the fixed ones, then the desktop's. Read once the application runs, when the
// desktop's key scheme is known.
const std::vector<Entry>& allEntries()
{
    static const std::vector<Entry> all = [] {
        std::vector<Entry> result(std::begin(entries), std::end(entries));
        const std::vector<Entry> desktop = desktopFindEntries();
        result.insert(result.end(), desktop.begin(), desktop.end());
        return result;
    }();
    return all;
}

const QHash<int, Binding>& table()
{
    static const QHash<int, Binding> bindings = [] {
        QHash<int, Binding> result;
        for (const Entry& entry : allEntries())
            result.insert(QKeyCombination(entry.modifiers, entry.key).toCombined(),
                Binding { entry.command, entry.menu });
        return result;
    }();
    return bindings;
}

} // namespace

std::optional<Binding> binding(QKeyCombination key)
{
    // The keypad's keys act as their main-keyboard twins.
    const Qt::KeyboardModifiers modifiers = key.keyboardModifiers()
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const auto it = table().find(QKeyCombination(modifiers, key.key()).toCombined());
    if (it == table().end())
        return std::nullopt;
    return *it;
}

std::optional<Binding> binding(const QKeyEvent& event)
{
    return binding(event.keyCombination());
}

std::vector<std::pair<QKeyCombination, Binding>> allBindings()
{
    std::vector<std::pair<QKeyCombination, Binding>> result;
    for (const Entry& entry : allEntries())
        result.emplace_back(
            QKeyCombination(entry.modifiers, entry.key), Binding { entry.command, entry.menu });
    return result;
}

} // namespace EDKeyBindings
