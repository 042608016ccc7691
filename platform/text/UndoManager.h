#pragma once

#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

// Records undo actions in groups. With `groupsByEvent` on (the default), the first action
// registered outside an explicit group opens a group that closes when control returns to the event
// loop, so everything one user action registers undoes as one step. Actions registered while undoing
// go to the redo stack, and those registered while redoing back to the undo stack.
//
// What the steps keep (the text an edit replaced) can be bounded: past `maximumUndoBytes` the
// oldest undo steps go, then the furthest redo steps, but never the step that undo or redo would
// take next. Dropping from the far ends leaves every step that stays applicable.
class UndoManager : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;

    explicit UndoManager(QObject* parent = nullptr);
    ~UndoManager() override;

    // `target` only tags the action, so that `removeAllActions(target)` can drop it. `bytes` is
    // what the handler keeps alive (the text it puts back), counted against `maximumUndoBytes`.
    void registerUndo(const void* target, Handler handler, qint64 bytes = 0);
    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const { return m_groupingLevel; }
    bool groupsByEvent() const { return m_groupsByEvent; }
    void setGroupsByEvent(bool groupsByEvent) { m_groupsByEvent = groupsByEvent; }

    void disableUndoRegistration() { ++m_disabledCount; }
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return m_disabledCount == 0; }

    virtual bool canUndo() const;
    virtual bool canRedo() const;
    virtual bool isUndoing() const { return m_undoing; }
    virtual bool isRedoing() const { return m_redoing; }
    virtual void undo();
    virtual void redo();

    void removeAllActions();
    void removeAllActions(const void* target);

    void setActionName(const QString& name);
    virtual QString undoActionName() const;
    virtual QString redoActionName() const;
    virtual QString undoMenuItemTitle() const;
    virtual QString redoMenuItemTitle() const;
    int levelsOfUndo() const { return m_levelsOfUndo; }
    void setLevelsOfUndo(int levels) { m_levelsOfUndo = std::max(0, levels); }
    // 0, the default, bounds nothing.
    qint64 maximumUndoBytes() const { return m_maximumUndoBytes; }
    void setMaximumUndoBytes(qint64 bytes);
    // What the undo and redo steps keep, each action counted with its own upkeep.
    qint64 undoBytes() const { return m_bytes; }

signals:
    void didUndo();
    void didRedo();
    void didCloseUndoGroup();

private:
    struct Action {
        const void* target = nullptr;
        Handler handler;
        qint64 bytes = 0;
    };
    struct Group {
        std::vector<Action> actions;
        QString name;
        qint64 bytes = 0;
    };

    void closeGroup();
    void closeEventGroup();
    void trim();

    // Deques: the bound drops steps from the bottom, once per new step in a long session.
    std::deque<Group> m_undoStack;
    std::deque<Group> m_redoStack;
    Group m_openGroup;
    int m_groupingLevel = 0;
    bool m_eventGroupOpen = false;
    bool m_groupsByEvent = true;
    int m_disabledCount = 0;
    bool m_undoing = false;
    bool m_redoing = false;
    int m_levelsOfUndo = 0;
    qint64 m_maximumUndoBytes = 0;
    // The sum of the groups' bytes on both stacks.
    qint64 m_bytes = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace platform
