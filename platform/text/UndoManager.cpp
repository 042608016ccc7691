#include "platform/text/UndoManager.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace platform {

namespace {

// What an action costs besides what its handler keeps: the action, the closure and its captures.
constexpr qint64 actionUpkeepBytes = 128;

} // namespace

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

void UndoManager::registerUndo(const void* target, Handler handler, qint64 bytes)
{
    if (!isUndoRegistrationEnabled() || !handler)
        return;
    bytes = std::max<qint64>(0, bytes) + actionUpkeepBytes;
    if (m_groupingLevel == 0) {
        // Without an event loop there are no events to group by.
        if (!m_groupsByEvent || !QCoreApplication::instance()) {
            // Outside any group and without event grouping, each action is a step of its own.
            beginUndoGrouping();
            m_openGroup.actions.push_back({ target, std::move(handler), bytes });
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
    m_openGroup.actions.push_back({ target, std::move(handler), bytes });
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
    group.bytes = 0;
    for (const Action& action : group.actions)
        group.bytes += action.bytes;
    m_bytes += group.bytes;
    if (m_undoing) {
        m_redoStack.push_back(std::move(group));
    } else {
        if (!m_redoing) {
            for (const Group& dropped : m_redoStack)
                m_bytes -= dropped.bytes;
            m_redoStack.clear();
        }
        m_undoStack.push_back(std::move(group));
    }
    trim();
    emit didCloseUndoGroup();
}

void UndoManager::setMaximumUndoBytes(qint64 bytes)
{
    m_maximumUndoBytes = std::max<qint64>(0, bytes);
    trim();
}

void UndoManager::trim()
{
    // From the bottom of a stack: the step furthest from the text as it is now.
    const auto dropOldest = [this](std::deque<Group>& stack, size_t count) {
        for (size_t i = 0; i < count; ++i)
            m_bytes -= stack[i].bytes;
        stack.erase(stack.begin(), stack.begin() + qsizetype(count));
    };
    if (m_levelsOfUndo > 0 && int(m_undoStack.size()) > m_levelsOfUndo)
        dropOldest(m_undoStack, m_undoStack.size() - size_t(m_levelsOfUndo));
    if (m_maximumUndoBytes <= 0)
        return;
    for (std::deque<Group>* stack : { &m_undoStack, &m_redoStack }) {
        size_t count = 0;
        qint64 freed = 0;
        while (m_bytes - freed > m_maximumUndoBytes && count + 1 < stack->size())
            freed += (*stack)[count++].bytes;
        dropOldest(*stack, count);
    }
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
    m_bytes -= group.bytes;
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
    m_bytes -= group.bytes;
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
    m_bytes = 0;
}

void UndoManager::removeAllActions(const void* target)
{
    auto strip = [this, target](std::deque<Group>& stack) {
        for (Group& group : stack) {
            std::erase_if(group.actions, [target](const Action& action) { return action.target == target; });
            m_bytes -= group.bytes;
            group.bytes = 0;
            for (const Action& action : group.actions)
                group.bytes += action.bytes;
            m_bytes += group.bytes;
        }
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
