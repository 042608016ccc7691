#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/text/UndoManager.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/RulerView.h"
#include "platform/ui/SpeechSynthesizer.h"

#include <QAction>
#include <QHash>
#include <QMenu>

namespace {

// The rows of the validation table, matched by the command's name.
enum class Row {
    copy,
    cutDelete,
    selectAll,
    paste,
    pasteAsPlainText,
    undo,
    redo,
    findAction,
    stopSpeaking,
    startSpeaking,
    toggleRuler,
    toggleContinuousSpellChecking,
    toggleGrammarChecking,
    toggleAutomaticTextCompletion,
    toggleAutomaticSpellingCorrection,
    toggleAutomaticQuoteSubstitution,
};

const QHash<QString, Row>& rows()
{
    static const QHash<QString, Row> table {
        { QStringLiteral("copy:"), Row::copy },
        { QStringLiteral("cut:"), Row::cutDelete },
        { QStringLiteral("delete:"), Row::cutDelete },
        { QStringLiteral("selectAll:"), Row::selectAll },
        { QStringLiteral("paste:"), Row::paste },
        { QStringLiteral("pasteAsPlainText:"), Row::pasteAsPlainText },
        { QStringLiteral("pasteAsRichText:"), Row::paste },
        { QStringLiteral("undo:"), Row::undo },
        { QStringLiteral("redo:"), Row::redo },
        { QStringLiteral("performFindPanelAction:"), Row::findAction },
        { QStringLiteral("performTextFinderAction:"), Row::findAction },
        { QStringLiteral("stopSpeaking:"), Row::stopSpeaking },
        { QStringLiteral("startSpeaking:"), Row::startSpeaking },
        { QStringLiteral("toggleRuler:"), Row::toggleRuler },
        { QStringLiteral("toggleContinuousSpellChecking:"), Row::toggleContinuousSpellChecking },
        { QStringLiteral("toggleGrammarChecking:"), Row::toggleGrammarChecking },
        { QStringLiteral("toggleAutomaticTextCompletion:"), Row::toggleAutomaticTextCompletion },
        { QStringLiteral("toggleAutomaticSpellingCorrection:"), Row::toggleAutomaticSpellingCorrection },
        { QStringLiteral("toggleAutomaticQuoteSubstitution:"), Row::toggleAutomaticQuoteSubstitution },
    };
    return table;
}

// Only the explicit `yes` shows a check mark.
void showState(QAction& item, TextInputTraitType type)
{
    item.setCheckable(true);
    item.setChecked(type == TextInputTraitType::yes);
}

} // namespace

bool EDTextView::validateUserInterfaceItem(QAction& item)
{
    const QString action = item.data().toString();
    const auto row = rows().constFind(action);
    if (action.isEmpty() || row == rows().constEnd())
        return true;
    const bool documentIsEmpty = m_textContentStorage->length() == 0;
    switch (*row) {
    case Row::copy:
    case Row::cutDelete:
        // Each acts on every selected range, so a range selected beside a caret added after it
        // counts. Cut and Delete remove nothing from a read-only view (cut copies nothing
        // either), so they are offered only where they act.
        return !documentIsEmpty && !edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true).empty()
            && (*row == Row::copy || m_isEditable);
    case Row::selectAll:
        // A view that cannot select ignores the command.
        return !documentIsEmpty && m_isSelectable;
    case Row::paste:
    case Row::pasteAsPlainText: {
        if (!m_isEditable)
            return false;
        const platform::Pasteboard& pasteboard = platform::Pasteboard::general();
        if (pasteboard.string(platform::Pasteboard::stringType).has_value())
            return true;
        // Paste and Paste as Rich Text take rich text that comes without a plain copy.
        return *row == Row::paste
            && pasteboard.canReadItemWithDataConformingToTypes({ platform::Pasteboard::rtfType });
    }
    case Row::undo:
    case Row::redo: {
        platform::UndoManager* manager = undoManager();
        if (!manager)
            return false;
        const bool undo = *row == Row::undo;
        // The title follows the manager even when there is nothing to undo.
        item.setText(undo ? manager->undoMenuItemTitle() : manager->redoMenuItemTitle());
        // A read-only view refuses both, whatever its manager holds.
        return m_allowsUndo && m_isEditable && (undo ? manager->canUndo() : manager->canRedo());
    }
    case Row::findAction: {
        const auto tag = EDTextFinder::actionTag(&item);
        return tag && m_textFinder->validateAction(*tag);
    }
    case Row::stopSpeaking:
        // A synthesizer never made has never spoken.
        return m_speechSynthesizer && m_speechSynthesizer->isSpeaking();
    case Row::startSpeaking:
        return !documentIsEmpty;
    case Row::toggleRuler:
        // The view is its own scroll view; it has no horizontal ruler.
        return platform::RulerView::verticalRuler(*this) || m_verticalRuler;
    case Row::toggleContinuousSpellChecking:
        showState(item, spellCheckingType());
        return m_isEditable;
    case Row::toggleGrammarChecking:
        showState(item, grammarCheckingType());
        return m_isEditable;
    case Row::toggleAutomaticTextCompletion:
        showState(item, textCompletionType());
        return m_isEditable;
    case Row::toggleAutomaticSpellingCorrection:
        showState(item, autocorrectionType());
        return m_isEditable;
    case Row::toggleAutomaticQuoteSubstitution:
        // The menu item is checkable: without its state it would read "off" while quotes are
        // being replaced. Read-only, as the substitutions panel has it.
        showState(item, smartQuotesType());
        return m_isEditable;
    }
    return true;
}

void EDTextView::validateMenu(QMenu& menu)
{
    for (QAction* action : menu.actions()) {
        if (QMenu* submenu = action->menu())
            validateMenu(*submenu);
        else if (!action->isSeparator() && !action->data().toString().isEmpty())
            action->setEnabled(validateMenuItem(*action));
    }
}

void EDTextView::prepareMenu(QMenu& menu)
{
    for (QAction* action : menu.actions()) {
        if (QMenu* submenu = action->menu()) {
            prepareMenu(*submenu);
            continue;
        }
        const auto command = EDTextViewCommands::command(action->data().toString());
        if (!command)
            continue;
        connect(action, &QAction::triggered, this,
            [this, action, member = member(*command)] { (this->*member)(action); });
    }
    connect(&menu, &QMenu::aboutToShow, this, [this, menu = QPointer<QMenu>(&menu)] {
        if (menu)
            validateMenu(*menu);
    });
}
