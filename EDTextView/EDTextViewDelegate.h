#pragma once

#include "EDCompletion/EDCompletionItem.h"
#include "EDTextView/EDInsertionPointView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/text/TextRange.h"

#include <QPointer>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class EDCompletionViewControllerProtocol;
class EDPluginEvents;
class EDTextView;
class QAction;
class QContextMenuEvent;
class QMenu;

namespace platform {
class UndoManager;
}

// What a text view tells its host, and what it asks of it. Every requirement has a default, so a
// delegate overrides only what it cares about. Everything runs on the main thread.
class EDTextViewDelegate {
public:
    virtual ~EDTextViewDelegate() = default;

    // An undo manager of the host's own for this view; none makes the view use its own.
    virtual platform::UndoManager* undoManager(EDTextView&) { return nullptr; }
    virtual void textWillChange(const platform::Notification&) { }
    virtual void textDidChange(const platform::Notification&) { }
    virtual void textViewDidChangeSelection(const platform::Notification&) { }
    // `replacement` is empty for a deletion.
    virtual bool textViewShouldChangeText(EDTextView&, platform::TextRange, const QString&) { return true; }
    virtual void textViewWillChangeText(EDTextView&, platform::TextRange, const QString&) { }
    virtual void textViewDidChangeText(EDTextView&, platform::TextRange, const QString&) { }
    // The context menu to show for a click at `location`; none shows no menu. The answer may be
    // the proposed menu (the view's), changed or not, or a menu the delegate keeps alive. The event
    // is null when the view was asked for its menu without one.
    virtual QMenu* textViewMenu(EDTextView&, QMenu* proposed, QContextMenuEvent*, platform::TextLocation)
    {
        return proposed;
    }
    // An indicator of the host's own for a caret of the given size; none uses the built-in one.
    virtual std::unique_ptr<EDInsertionPointIndicator> insertionPointIndicator(EDTextView&, QRectF)
    {
        return nullptr;
    }
    // The completions to offer at a caret; none (or none at all) shows no pop-up.
    virtual std::optional<EDCompletionItems> completionItems(EDTextView&, platform::TextLocation)
    {
        return std::nullopt;
    }
    // Inserts the item the user chose from the pop-up; the view inserts nothing itself.
    virtual void insertCompletionItem(EDTextView&, const std::shared_ptr<EDCompletionItem>&) { }
    // The controller of the pop-up's list, asked once per view; by default the standard list.
    virtual std::shared_ptr<EDCompletionViewControllerProtocol> completionViewController(EDTextView&);
};

// The only way the view reaches its delegate: it holds the delegate weakly (a delegate that has
// gone answers with the defaults) and joins the plug-ins' answers to the delegate's.
class EDTextViewDelegateProxy : public EDTextViewDelegate {
public:
    explicit EDTextViewDelegateProxy(EDTextView& view);

    std::weak_ptr<EDTextViewDelegate> source;

    platform::UndoManager* undoManager(EDTextView& view) override;
    void textWillChange(const platform::Notification& notification) override;
    void textDidChange(const platform::Notification& notification) override;
    void textViewDidChangeSelection(const platform::Notification& notification) override;
    // The delegate first; a refusal there asks no plug-in. Then the plug-ins in order, until one
    // refuses.
    bool textViewShouldChangeText(
        EDTextView& view, platform::TextRange range, const QString& replacement) override;
    void textViewWillChangeText(
        EDTextView& view, platform::TextRange range, const QString& replacement) override;
    void textViewDidChangeText(
        EDTextView& view, platform::TextRange range, const QString& replacement) override;
    // The delegate's menu, with the plug-ins' menus appended after a separator: a plug-in menu of
    // one item adds that item, a longer one a submenu titled with the menu's title. No delegate, or
    // a delegate that answers none, gives no menu.
    QMenu* textViewMenu(EDTextView& view, QMenu* proposed, QContextMenuEvent* event,
        platform::TextLocation location) override;
    std::unique_ptr<EDInsertionPointIndicator> insertionPointIndicator(
        EDTextView& view, QRectF frame) override;
    std::optional<EDCompletionItems> completionItems(
        EDTextView& view, platform::TextLocation location) override;
    void insertCompletionItem(EDTextView& view, const std::shared_ptr<EDCompletionItem>& item) override;
    std::shared_ptr<EDCompletionViewControllerProtocol> completionViewController(EDTextView& view) override;

    // The events of the plug-ins that are set up, in the view's order.
    std::vector<std::shared_ptr<EDPluginEvents>> events() const;
    // Whether a delegate or a plug-in hears the replacement text of a change.
    bool wantsChangedText() const;

private:
    // Takes the plug-ins' items out of the menu they were last added to: a menu the delegate
    // keeps and answers again would otherwise gain them once more on every opening.
    void removePluginItems();

    EDTextView& m_view;
    QPointer<QMenu> m_pluginItemsMenu;
    // The separator and submenus made for the plug-ins' items (the menu's own), and the plug-ins'
    // actions added as they are.
    std::vector<QPointer<QObject>> m_madePluginItems;
    std::vector<QPointer<QAction>> m_addedPluginActions;
    // The plug-ins' menus own the actions shown; they live until the next menu is asked for.
    std::vector<std::shared_ptr<QMenu>> m_pluginMenus;
};
