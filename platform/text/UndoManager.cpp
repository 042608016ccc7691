#include "platform/text/UndoManager.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace platform {

UndoManager::UndoManager(QObject* parent)
    : QObject(parent)
{
}

UndoManager::~UndoManager()
{
    *m_alive = false;
}

void UndoManager::enableUndoRegistration()
{
    if (m_disabledCount > 0)
        --m_disabledCount;
}

void UndoManager::registerUndo(const void* target, Handler handler)
{
    if (!isUndoRegistrationEnabled() || !handler)
        return;
    if (m_groupingLevel == 0) {
        // Without an event loop there are no events to group by.
        if (!m_groupsByEvent || !QCoreApplication::instance()) {
            // Outside any group and without event grouping, each action is a step of its own.
            beginUndoGrouping();
            m_openGroup.actions.push_back({ target, std::move(handler) });
            endUndoGrouping();
            return;
        }
        beginUndoGrouping();
        m_eventGroupOpen = true;
        // Queued on the event loop: runs once control returns there, after the current event.
        std::weak_ptr<bool> alive = m_alive;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive] {
                if (auto flag = alive.lock(); flag && *flag)
                    closeEventGroup();
            },
            Qt::QueuedConnection);
    }
    m_openGroup.actions.push_back({ target, std::move(handler) });
}

void UndoManager::closeEventGroup()
{
    if (!m_eventGroupOpen)
        return;
    m_eventGroupOpen = false;
    if (m_groupingLevel == 1)
        endUndoGrouping();
}

void UndoManager::beginUndoGrouping()
{
    ++m_groupingLevel;
}

void UndoManager::endUndoGrouping()
{
    if (m_groupingLevel == 0)
        return;
    if (--m_groupingLevel == 0)
        closeGroup();
}

void UndoManager::closeGroup()
{
    Group group = std::move(m_openGroup);
    m_openGroup = {};
    if (group.actions.empty())
        return;
    if (m_undoing) {
        m_redoStack.push_back(std::move(group));
    } else {
        if (!m_redoing)
            m_redoStack.clear();
        m_undoStack.push_back(std::move(group));
        trim();
    }
    emit didCloseUndoGroup();
}

void UndoManager::trim()
{
    if (m_levelsOfUndo > 0 && int(m_undoStack.size()) > m_levelsOfUndo)
        m_undoStack.erase(m_undoStack.begin(), m_undoStack.end() - m_levelsOfUndo);
}

bool UndoManager::canUndo() const
{
    return !m_undoStack.empty() || !m_openGroup.actions.empty();
}

bool UndoManager::canRedo() const
{
    return !m_redoStack.empty();
}

void UndoManager::undo()
{
    // An undo closes the group the current event opened, so that it undoes too.
    if (m_eventGroupOpen)
        closeEventGroup();
    if (m_groupingLevel > 0 || m_undoStack.empty())
        return;
    Group group = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    m_undoing = true;
    beginUndoGrouping();
    m_openGroup.name = group.name;
    for (auto it = group.actions.rbegin(); it != group.actions.rend(); ++it)
        it->handler();
    endUndoGrouping();
    m_undoing = false;
    emit didUndo();
}

void UndoManager::redo()
{
    if (m_eventGroupOpen)
        closeEventGroup();
    if (m_groupingLevel > 0 || m_redoStack.empty())
        return;
    Group group = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    m_redoing = true;
    beginUndoGrouping();
    m_openGroup.name = group.name;
    for (auto it = group.actions.rbegin(); it != group.actions.rend(); ++it)
        it->handler();
    endUndoGrouping();
    m_redoing = false;
    emit didRedo();
}

void UndoManager::removeAllActions()
{
    m_undoStack.clear();
    m_redoStack.clear();
    m_openGroup.actions.clear();
}

void UndoManager::removeAllActions(const void* target)
{
    auto strip = [target](std::vector<Group>& stack) {
        for (Group& group : stack)
            std::erase_if(group.actions, [target](const Action& action) { return action.target == target; });
        std::erase_if(stack, [](const Group& group) { return group.actions.empty(); });
    };
    strip(m_undoStack);
    strip(m_redoStack);
    std::erase_if(m_openGroup.actions, [target](const Action& action) { return action.target == target; });
}

void UndoManager::setActionName(const QString& name)
{
    if (m_groupingLevel > 0)
        m_openGroup.name = name;
    else if (!m_undoStack.empty())
        m_undoStack.back().name = name;
}

QString UndoManager::undoActionName() const
{
    if (!m_openGroup.actions.empty() && !m_undoing && !m_redoing)
        return m_openGroup.name;
    return m_undoStack.empty() ? QString() : m_undoStack.back().name;
}

QString UndoManager::redoActionName() const
{
    return m_redoStack.empty() ? QString() : m_redoStack.back().name;
}

QString UndoManager::undoMenuItemTitle() const
{
    const QString undo = QCoreApplication::translate("UndoManager", "Undo");
    const QString name = undoActionName();
    return name.isEmpty() ? undo : undo + QLatin1Char(' ') + name;
}

QString UndoManager::redoMenuItemTitle() const
{
    const QString redo = QCoreApplication::translate("UndoManager", "Redo");
    const QString name = redoActionName();
    return name.isEmpty() ? redo : redo + QLatin1Char(' ') + name;
}

} // namespace platform
