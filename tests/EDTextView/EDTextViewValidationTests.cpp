#include "EDTextView/EDTextFinder.h"
#include "EDTextView/YankingManager.h"
#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"
#include "platform/ui/RulerView.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMimeData>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;

namespace {

struct Validated {
    bool enabled;
    QString title;
    bool checkable;
    bool checked;
};

Validated validate(EDTextView& view, const QString& command, const QString& title = "Item")
{
    QAction action(title);
    action.setData(command);
    const bool enabled = view.validateMenuItem(action);
    EXPECT_EQ(enabled, view.validateUserInterfaceItem(action)) << command.toStdString();
    return { enabled, action.text(), action.isCheckable(), action.isChecked() };
}

// The items of the view's context menu at its second character, submenus' too, each menu validated
// as it would be on showing.
std::vector<QAction*> contextMenuItems(ShownView& view)
{
    const QPoint point = view.pointOf(1);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, view->viewport()->mapToGlobal(point));
    std::vector<QAction*> items;
    const std::function<void(QMenu&)> collect = [&](QMenu& menu) {
        emit menu.aboutToShow();
        for (QAction* action : menu.actions()) {
            if (action->menu())
                collect(*action->menu());
            else
                items.push_back(action);
        }
    };
    if (QMenu* menu = view->menuForEvent(&event))
        collect(*menu);
    return items;
}

void clipboardHoldsText()
{
    QGuiApplication::clipboard()->setText("pasted");
}

void clipboardHoldsAnImageOnly()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QGuiApplication::clipboard()->setImage(image);
}

} // namespace

// The table's rows for the document, the selection and the clipboard.
TEST(EDTextViewValidation, ClipboardAndSelectionRows)
{
    struct Case {
        const char* state;
        QString text;
        // One selection per range, in the order they were made.
        std::vector<TextRange> selections;
        bool editable;
        bool clipboardText;
        // copy:, cut:/delete:, selectAll:, startSpeaking:, paste and its kinds
        bool copy, cut, selectAll, speak, paste;
        bool selectable = true;
    };
    const Case cases[] = {
        { "empty document", "", { TextRange(0) }, true, true, false, false, false, false, true },
        { "a caret", "some text", { TextRange(4) }, true, true, false, false, true, true, true },
        { "a selection", "some text", { TextRange(0, 4) }, true, true, true, true, true, true, true },
        // Cut would neither remove nor copy anything there.
        { "read-only with a selection", "some text", { TextRange(0, 4) }, false, true, true, false, true,
            true, false },
        { "an image on the clipboard", "some text", { TextRange(4) }, true, false, false, false, true, true,
            false },
        { "a selection, then a caret added after it", "some text", { TextRange(0, 4), TextRange(7) }, true,
            true, true, true, true, true, true },
        { "a view that cannot select", "some text", { TextRange(4) }, true, true, false, false, false, true,
            false, false },
    };
    for (const Case& each : cases) {
        ShownView view(each.text);
        std::vector<platform::TextSelection> selections;
        for (const TextRange& range : each.selections)
            selections.emplace_back(range);
        view->textLayoutManager().setTextSelections(std::move(selections));
        view->setIsEditable(each.editable);
        view->setIsSelectable(each.selectable);
        each.clipboardText ? clipboardHoldsText() : clipboardHoldsAnImageOnly();
        EXPECT_EQ(validate(*view, "copy:").enabled, each.copy) << each.state;
        for (const char* command : { "cut:", "delete:" })
            EXPECT_EQ(validate(*view, command).enabled, each.cut) << each.state << " " << command;
        EXPECT_EQ(validate(*view, "selectAll:").enabled, each.selectAll) << each.state;
        EXPECT_EQ(validate(*view, "startSpeaking:").enabled, each.speak) << each.state;
        for (const char* command : { "paste:", "pasteAsPlainText:", "pasteAsRichText:" })
            EXPECT_EQ(validate(*view, command).enabled, each.paste) << each.state << " " << command;
        // A view that never spoke has nothing to stop.
        EXPECT_FALSE(validate(*view, "stopSpeaking:").enabled) << each.state;
        // Items the table does not know, and items without a command, are always enabled.
        EXPECT_TRUE(validate(*view, "myOwnCommand:").enabled);
        EXPECT_TRUE(validate(*view, "").enabled);
        // An enabled Copy puts the selected text on the clipboard.
        if (each.copy) {
            QGuiApplication::clipboard()->clear();
            view->copy(nullptr);
            EXPECT_EQ(QGuiApplication::clipboard()->text(), each.text.left(4)) << each.state;
        }
    }
}

// Paste as Rich Text, enabled by plain text on the clipboard, pastes that text.
TEST(EDTextViewValidation, PasteAsRichTextPastesPlainText)
{
    ShownView view("some text");
    view->setSelectedTextRange(TextRange(5));
    clipboardHoldsText();
    ASSERT_TRUE(validate(*view, "pasteAsRichText:").enabled);
    view->pasteAsRichText();
    EXPECT_EQ(view->string(), "some pastedtext");
}

// Rich text copied without a plain copy beside it is pasted by Paste and Paste as Rich Text, so
// both are offered; Paste and Match Style takes plain text only. A read-only view offers none.
TEST(EDTextViewValidation, RichTextAloneOnTheClipboardIsOfferedToPaste)
{
    ShownView view("some text");
    view->setSelectedTextRange(TextRange(5));
    auto* data = new QMimeData;
    data->setData("text/rtf", QByteArray("{\\rtf1\\ansi{\\fonttbl\\f0 Helvetica;}\\f0 rich}"));
    QGuiApplication::clipboard()->setMimeData(data);
    EXPECT_FALSE(validate(*view, "pasteAsPlainText:").enabled);
    const std::pair<const char*, void (EDTextView::*)(QObject*)> commands[]
        = { { "paste:", &EDTextView::paste }, { "pasteAsRichText:", &EDTextView::pasteAsRichText } };
    for (const auto& [command, run] : commands) {
        view->setIsEditable(false);
        EXPECT_FALSE(validate(*view, command).enabled) << command;
        view->setIsEditable(true);
        ASSERT_TRUE(validate(*view, command).enabled) << command;
        view->setString("some text");
        view->setSelectedTextRange(TextRange(5));
        ((*view).*run)(nullptr);
        EXPECT_EQ(view->string(), "some richtext") << command;
    }
}

TEST(EDTextViewValidation, UndoAndRedoKeepTheirTitlesCurrent)
{
    ShownView view("text");
    Validated undo = validate(*view, "undo:", "Old title");
    EXPECT_FALSE(undo.enabled);
    EXPECT_EQ(undo.title, view->undoManager()->undoMenuItemTitle()) << "refreshed with nothing to undo";

    view.setCaret(4);
    QTest::keyClicks(view.view.get(), "s");
    QCoreApplication::processEvents();
    undo = validate(*view, "undo:");
    EXPECT_TRUE(undo.enabled);
    EXPECT_EQ(undo.title, view->undoManager()->undoMenuItemTitle());
    EXPECT_FALSE(validate(*view, "redo:").enabled);
    view->undo();
    const Validated redo = validate(*view, "redo:");
    EXPECT_TRUE(redo.enabled);
    EXPECT_EQ(redo.title, view->undoManager()->redoMenuItemTitle());

    // Read-only, neither would act.
    view->setIsEditable(false);
    EXPECT_FALSE(validate(*view, "redo:").enabled);
    view->redo();
    EXPECT_EQ(view->string(), "text");
    view->setIsEditable(true);
    view->redo();
    view->setIsEditable(false);
    EXPECT_FALSE(validate(*view, "undo:").enabled);
    view->setIsEditable(true);

    // Without undo there is no undo manager: both are disabled and keep their titles.
    view->setAllowsUndo(false);
    EXPECT_EQ(validate(*view, "undo:", "Old title").title, "Old title");
    EXPECT_FALSE(validate(*view, "undo:").enabled);
    EXPECT_FALSE(validate(*view, "redo:").enabled);
}

TEST(EDTextViewValidation, TogglesShowTheirStateAndNeedAnEditableView)
{
    ShownView view("text");
    const struct {
        const char* command;
        std::function<void(bool)> set;
    } toggles[] = {
        { "toggleContinuousSpellChecking:", [&](bool on) { view->setIsContinuousSpellCheckingEnabled(on); } },
        { "toggleGrammarChecking:", [&](bool on) { view->setIsGrammarCheckingEnabled(on); } },
        { "toggleAutomaticTextCompletion:", [&](bool on) { view->setIsAutomaticTextCompletionEnabled(on); } },
        { "toggleAutomaticSpellingCorrection:",
            [&](bool on) { view->setIsAutomaticSpellingCorrectionEnabled(on); } },
        { "toggleAutomaticQuoteSubstitution:",
            [&](bool on) { view->setIsAutomaticQuoteSubstitutionEnabled(on); } },
    };
    for (const auto& toggle : toggles) {
        toggle.set(false);
        Validated state = validate(*view, toggle.command);
        EXPECT_TRUE(state.enabled && state.checkable && !state.checked) << toggle.command;
        toggle.set(true);
        state = validate(*view, toggle.command);
        EXPECT_TRUE(state.enabled && state.checked) << toggle.command;
        view->setIsEditable(false);
        EXPECT_FALSE(validate(*view, toggle.command).enabled) << toggle.command;
        view->setIsEditable(true);
        toggle.set(false);
    }
}

// Smart Quotes chosen from the context menu shows its check mark the next time the menu opens, and
// a second choice turns it off again.
TEST(EDTextViewValidation, SmartQuotesFromTheMenuShowsItsCheckMark)
{
    ShownView view("some text");
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    view->setIsAutomaticQuoteSubstitutionEnabled(false);
    const auto smartQuotes = [&] {
        for (QAction* item : contextMenuItems(view)) {
            if (item->data() == "toggleAutomaticQuoteSubstitution:")
                return item;
        }
        return static_cast<QAction*>(nullptr);
    };
    QAction* item = smartQuotes();
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->isCheckable() && !item->isChecked());
    item->trigger();
    ASSERT_TRUE(view->isAutomaticQuoteSubstitutionEnabled());
    item = smartQuotes();
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->isChecked()) << "on, and shown so";
    item->trigger();
    EXPECT_FALSE(view->isAutomaticQuoteSubstitutionEnabled());
    item = smartQuotes();
    ASSERT_TRUE(item);
    EXPECT_FALSE(item->isChecked());
}

// In the context menu every toggle shows whether it is on, Smart Quotes too.
TEST(EDTextViewValidation, TheContextMenuShowsWhetherEachToggleIsOn)
{
    ShownView view("some text");
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    view->setIsAutomaticSpellingCorrectionEnabled(true);
    const auto checkedToggles = [&] {
        QStringList checked;
        for (QAction* item : contextMenuItems(view)) {
            if (item->isChecked())
                checked << item->text();
        }
        return checked;
    };
    view->setIsAutomaticQuoteSubstitutionEnabled(false);
    EXPECT_EQ(checkedToggles(), (QStringList { "Correct Spelling Automatically" }));
    view->setIsAutomaticQuoteSubstitutionEnabled(true);
    EXPECT_EQ(checkedToggles(), (QStringList { "Correct Spelling Automatically", "Smart Quotes" }));
}

TEST(EDTextViewValidation, ToggleRulerNeedsARuler)
{
    ShownView view("text");
    view->setUsesRuler(true);
    EXPECT_FALSE(validate(*view, "toggleRuler:").enabled);
    view->setIsRulerVisible(true);
    view->setUsesRuler(false);
    EXPECT_TRUE(validate(*view, "toggleRuler:").enabled) << "a vertical ruler, whatever usesRuler says";
    view->setIsRulerVisible(false);
    EXPECT_TRUE(validate(*view, "toggleRuler:").enabled);
}

// The context menu is validated when it shows, submenus included; and the commands behind it refuse
// to change a read-only view whatever the menu says.
TEST(EDTextViewValidation, ContextMenuOfAReadOnlyView)
{
    ShownView view("some text");
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    view->setSelectedTextRange(TextRange(0, 4));
    view->setIsEditable(false);
    clipboardHoldsText();
    const QPoint point = view.pointOf(1);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, view->viewport()->mapToGlobal(point));
    QMenu* menu = view->menuForEvent(&event);
    ASSERT_TRUE(menu);
    emit menu->aboutToShow();
    QStringList enabled;
    const std::function<void(const QMenu&)> collect = [&](const QMenu& each) {
        for (QAction* action : each.actions()) {
            if (action->menu())
                collect(*action->menu());
            else if (!action->isSeparator() && action->isEnabled())
                enabled << action->text();
        }
    };
    collect(*menu);
    EXPECT_EQ(enabled,
        (QStringList { "Copy", "Select All", "Show Spelling and Grammar", "Check Document Now",
            "Show Substitutions", "Start Speaking" }));

    YankingManager::shared().append("yanked", YankingManager::DeleteAction::delete_);
    const std::pair<const char*, std::function<void()>> paths[] = {
        { "cut", [&] { view->cut(); } },
        { "paste", [&] { view->paste(); } },
        { "paste as plain text", [&] { view->pasteAsPlainText(); } },
        { "paste as rich text", [&] { view->pasteAsRichText(); } },
        { "delete", [&] { view->delete_(); } },
        { "yank", [&] { view->yank(); } },
        { "change spelling", [&] { view->changeSpelling(menu->actions().front()); } },
        { "upper-case word", [&] { view->uppercaseWord(); } },
    };
    for (const auto& [name, edit] : paths) {
        edit();
        EXPECT_EQ(view->string(), "some text") << name;
    }
}

// Find actions are enabled when the finder would carry them out now.
TEST(EDTextViewValidation, FindActionsAskTheFinder)
{
    ShownView view("find the word, the word");
    view.moveIntoNewWindow();
    QAction action;
    action.setData("performTextFinderAction:");
    EXPECT_FALSE(view->validateMenuItem(action)) << "no action tag";
    for (const int tag : { int(EDTextFinder::nextMatch), int(EDTextFinder::showFindInterface) }) {
        action.setProperty(EDTextFinder::tagProperty, tag);
        EXPECT_EQ(view->validateMenuItem(action), view->textFinder().validateAction(tag)) << tag;
    }
    action.setProperty(EDTextFinder::tagProperty, int(EDTextFinder::nextMatch));
    EXPECT_FALSE(view->validateMenuItem(action)) << "nothing searched for";
    view->textFinder().setSearchString("word");
    EXPECT_TRUE(view->validateMenuItem(action));
    action.setData("performFindPanelAction:");
    EXPECT_TRUE(view->validateMenuItem(action));
    view->setIsEditable(false);
    action.setProperty(EDTextFinder::tagProperty, int(EDTextFinder::replaceAll));
    EXPECT_FALSE(view->validateMenuItem(action));
}
