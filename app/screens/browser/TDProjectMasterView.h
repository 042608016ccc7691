#pragma once

#include "app/TDStores.h"
#include "app/model/NavigationType.h"
#include "app/screens/browser/CreateTDProjectSheet.h"
#include "app/store/TDLibrary.h"
#include "platform/foundation/Uuid.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class QAction;
class QMenu;
class QScrollArea;
class QStackedWidget;
class TDProject;
class TDProjectItem;
class TDProjectGridRoot;
class TDToolbar;

// The browser of one project destination: the projects it selects as a lazily built grid of
// cards (or the empty state), with a navigation stack of its own onto which a card pushes the
// project's page. Each card's menu deletes its project; on the all-projects destination the
// toolbar gets the button that opens the create sheet.
class TDProjectMasterView : public QWidget {
public:
    static constexpr int minimumWidth = 800;

    TDProjectMasterView(TDStores stores, NavigationType tdProjectMasterType, TDToolbar* toolbar = nullptr,
        QWidget* parent = nullptr);
    ~TDProjectMasterView() override;

    NavigationType tdProjectMasterType() const { return m_type; }

    // The projects `type` selects, in store order. Reads through observation.
    static std::vector<std::shared_ptr<TDProject>> selection(
        const TDProjectStore& store, NavigationType type);

    // The navigation stack: 0 while the grid shows.
    int stackDepth() const;
    QWidget* topPage() const;
    void push(const std::shared_ptr<TDProject>& project);
    void pop();

    bool showsEmptyState() const;
    QWidget* emptyState() const;
    QScrollArea* scrollArea() const;
    // The grid of cards: one stop in the Tab order, moved through with the arrow keys; Return opens
    // the ringed card's project and the menu key (or Shift+F10) opens its menu.
    QWidget* grid() const;
    // The cards built so far (only those near the visible part of the grid exist).
    QList<TDProjectItem*> cards() const;
    TDProjectItem* cardFor(const platform::Uuid& projectId) const;

    // Present only on the all-projects destination.
    QAction* createProjectAction() const { return m_createAction; }
    void openCreateProjectSheet();
    bool openCreateNewProjectSheet() const { return m_openCreateNewProjectSheet; }
    CreateTDProjectSheet* createProjectSheet() const { return m_createSheet; }

    // The card's context menu, not yet shown; the caller owns it.
    QMenu* cardMenu(const std::shared_ptr<TDProject>& project);
    // Removes the project from the stores (its card leaves on a spring), saves the links, media and
    // projects in that order and, once every save succeeded, moves the project's folder to the trash.
    void deleteProject(const std::shared_ptr<TDProject>& project);
    int deletesInFlight() const { return m_library.operationsInFlight(); }

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateToolbar();
    void applyColors();

    TDStores m_stores;
    TDLibrary m_library;
    NavigationType m_type;
    QPointer<TDToolbar> m_toolbar;
    QStackedWidget* m_stack;
    TDProjectGridRoot* m_root;
    QAction* m_createAction = nullptr;
    QPointer<CreateTDProjectSheet> m_createSheet;
    bool m_openCreateNewProjectSheet = false;
    // Whether the grid had the keys when the page on it was opened; Back gives them back.
    bool m_gridHadFocus = false;
};
