#include "EDTextView/EDTextView.h"

#include "EDCompletion/EDCompletionViewController.h"
#include "EDTextView/EDTextContentStorage.h"

#include <QMenu>

#include <algorithm>

using platform::TextLocation;
using platform::TextRange;

EDPluginEvents& EDPluginEvents::onWillChangeText(WillChangeTextHandler handler)
{
    willChangeTextHandler = std::move(handler);
    return *this;
}

EDPluginEvents& EDPluginEvents::onDidChangeText(DidChangeTextHandler handler)
{
    didChangeTextHandler = std::move(handler);
    return *this;
}

EDPluginEvents& EDPluginEvents::shouldChangeText(ShouldChangeTextHandler handler)
{
    shouldChangeTextHandler = std::move(handler);
    return *this;
}

EDPluginEvents& EDPluginEvents::onContextMenu(ContextMenuHandler handler)
{
    onContextMenuHandler = std::move(handler);
    return *this;
}

EDPluginEvents& EDPluginEvents::onDidLayoutViewport(DidLayoutViewportHandler handler)
{
    didLayoutViewportHandler = std::move(handler);
    return *this;
}

EDTextViewDelegateProxy::EDTextViewDelegateProxy(EDTextView& view)
    : m_view(view)
{
}

std::vector<std::shared_ptr<EDPluginEvents>> EDTextViewDelegateProxy::events() const
{
    // A snapshot: a handler may add plug-ins while the list is walked.
    std::vector<std::shared_ptr<EDPluginEvents>> result;
    for (const EDTextView::PluginEntry& entry : m_view.m_plugins) {
        if (entry.events)
            result.push_back(entry.events);
    }
    return result;
}

bool EDTextViewDelegateProxy::wantsChangedText() const
{
    if (source.lock())
        return true;
    const auto all = events();
    return std::any_of(
        all.begin(), all.end(), [](const auto& each) { return bool(each->didChangeTextHandler); });
}

platform::UndoManager* EDTextViewDelegateProxy::undoManager(EDTextView& view)
{
    auto delegate = source.lock();
    return delegate ? delegate->undoManager(view) : nullptr;
}

void EDTextViewDelegateProxy::textWillChange(const platform::Notification& notification)
{
    if (auto delegate = source.lock())
        delegate->textWillChange(notification);
}

void EDTextViewDelegateProxy::textDidChange(const platform::Notification& notification)
{
    if (auto delegate = source.lock())
        delegate->textDidChange(notification);
}

void EDTextViewDelegateProxy::textViewDidChangeSelection(const platform::Notification& notification)
{
    if (auto delegate = source.lock())
        delegate->textViewDidChangeSelection(notification);
}

bool EDTextViewDelegateProxy::textViewShouldChangeText(
    EDTextView& view, TextRange range, const QString& replacement)
{
    if (auto delegate = source.lock();
        delegate && !delegate->textViewShouldChangeText(view, range, replacement))
        return false;
    for (const auto& each : events()) {
        if (each->shouldChangeTextHandler && !each->shouldChangeTextHandler(range, replacement))
            return false;
    }
    return true;
}

void EDTextViewDelegateProxy::textViewWillChangeText(
    EDTextView& view, TextRange range, const QString& replacement)
{
    if (auto delegate = source.lock())
        delegate->textViewWillChangeText(view, range, replacement);
    for (const auto& each : events()) {
        if (each->willChangeTextHandler)
            each->willChangeTextHandler(range);
    }
}

void EDTextViewDelegateProxy::textViewDidChangeText(
    EDTextView& view, TextRange range, const QString& replacement)
{
    if (auto delegate = source.lock())
        delegate->textViewDidChangeText(view, range, replacement);
    for (const auto& each : events()) {
        if (each->didChangeTextHandler)
            each->didChangeTextHandler(range, replacement);
    }
}

void EDTextViewDelegateProxy::removePluginItems()
{
    if (m_pluginItemsMenu) {
        for (const QPointer<QAction>& action : m_addedPluginActions) {
            if (action)
                m_pluginItemsMenu->removeAction(action);
        }
        for (const QPointer<QObject>& made : m_madePluginItems)
            delete made.data();
    }
    m_pluginItemsMenu = nullptr;
    m_madePluginItems.clear();
    m_addedPluginActions.clear();
    m_pluginMenus.clear();
}

QMenu* EDTextViewDelegateProxy::textViewMenu(
    EDTextView& view, QMenu* proposed, QContextMenuEvent* event, TextLocation location)
{
    removePluginItems();
    auto delegate = source.lock();
    QMenu* menu = delegate ? delegate->textViewMenu(view, proposed, event, location) : nullptr;
    std::vector<std::shared_ptr<QMenu>> collected;
    for (const auto& each : events()) {
        if (!each->onContextMenuHandler)
            continue;
        if (auto pluginMenu = each->onContextMenuHandler(location, view.textContentStorage()))
            collected.push_back(std::move(pluginMenu));
    }
    if (!menu)
        return nullptr;
    if (collected.empty())
        return menu;
    m_pluginItemsMenu = menu;
    m_madePluginItems.push_back(menu->addSeparator());
    for (const auto& pluginMenu : collected) {
        const QList<QAction*> actions = pluginMenu->actions();
        if (actions.size() == 1) {
            menu->addAction(actions.front());
            m_addedPluginActions.push_back(actions.front());
        } else if (actions.size() > 1) {
            QMenu* submenu = menu->addMenu(pluginMenu->title());
            submenu->addActions(actions);
            m_madePluginItems.push_back(submenu);
        }
    }
    m_pluginMenus = std::move(collected);
    return menu;
}

std::unique_ptr<EDInsertionPointIndicator> EDTextViewDelegateProxy::insertionPointIndicator(
    EDTextView& view, QRectF frame)
{
    auto delegate = source.lock();
    return delegate ? delegate->insertionPointIndicator(view, frame) : nullptr;
}

std::optional<EDCompletionItems> EDTextViewDelegateProxy::completionItems(
    EDTextView& view, platform::TextLocation location)
{
    auto delegate = source.lock();
    return delegate ? delegate->completionItems(view, location) : std::nullopt;
}

void EDTextViewDelegateProxy::insertCompletionItem(
    EDTextView& view, const std::shared_ptr<EDCompletionItem>& item)
{
    if (auto delegate = source.lock())
        delegate->insertCompletionItem(view, item);
}

std::shared_ptr<EDCompletionViewControllerProtocol> EDTextViewDelegateProxy::completionViewController(
    EDTextView& view)
{
    auto delegate = source.lock();
    return delegate ? delegate->completionViewController(view)
                    : EDTextViewDelegate::completionViewController(view);
}

std::shared_ptr<EDCompletionViewControllerProtocol> EDTextViewDelegate::completionViewController(EDTextView&)
{
    return std::make_shared<EDCompletionViewController>();
}

void EDTextView::addPlugin(std::shared_ptr<EDPlugin> plugin)
{
    if (plugin)
        m_plugins.push_back({ std::move(plugin), nullptr });
}

void EDTextView::viewDidMoveToWindow()
{
    setUpPlugins();
}

void EDTextView::setUpPlugins()
{
    // By index, over the plug-ins there were when set-up began: a plug-in may add others.
    const size_t count = m_plugins.size();
    for (size_t i = 0; i < count && i < m_plugins.size(); ++i) {
        const std::shared_ptr<EDPlugin> plugin = m_plugins[i].plugin;
        auto events = std::make_shared<EDPluginEvents>();
        EDPluginContext context { plugin->makeCoordinator(EDPluginCoordinatorContext { this }), this,
            events };
        plugin->setUp(context);
        if (i < m_plugins.size() && m_plugins[i].plugin == plugin)
            m_plugins[i].events = std::move(events);
    }
}
