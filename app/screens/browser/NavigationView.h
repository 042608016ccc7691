#pragma once

#include "app/TDStores.h"
#include "app/model/NavigationType.h"
#include "platform/ui/ObservedWidget.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class BottomBar;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;
class TDToolbar;

// The main window's content: a sidebar of the library's seven destinations in two collapsible
// sections, and a detail column of the toolbar, the selected destination's browser and the bar of
// counts. Exactly one destination is selected at all times.
class NavigationView : public platform::ObservedWidget {
public:
    static constexpr int sidebarWidth = 220;
    static constexpr int sidebarMinimumWidth = 180;
    // The width of a window that holds a project's workspace beside the sidebar at its own width, so
    // that opening a project does not widen the window.
    static int preferredWindowWidth();

    explicit NavigationView(TDStores stores, QWidget* parent = nullptr);

    // Runs each time the view is shown.
    void setOnAppear(std::function<void()> onAppear) { m_onAppear = std::move(onAppear); }

    NavigationType selectedNavigationItem() const { return m_selectedNavigationItem; }
    // Selects a destination, as a click on its sidebar row does.
    void select(NavigationType destination);
    bool isMenuExpanded() const { return m_isMenuExpanded; }
    bool isStatusExpanded() const { return m_isStatusExpanded; }

    QTreeWidget* sidebar() const { return m_sidebar; }
    QTreeWidgetItem* sidebarRow(NavigationType destination) const;
    TDToolbar* toolbar() const { return m_toolbar; }
    BottomBar* bottomBar() const { return m_bar; }
    // The browser of the selected destination.
    QWidget* destinationView() const { return m_destination; }
    QString navigationTitle() const;

    // The width the window may take on its screen, its frame left out. While a page pushed in the
    // detail column (a project's workspace) needs more than the screen leaves beside the sidebar,
    // the sidebar steps aside, so nothing of the page lies off the screen; going back brings it
    // again. Tests replace the screen's width.
    void setAvailableWidth(std::function<int()> availableWidth);

protected:
    void render() override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitSidebar();
    void buildSidebar();
    void applySidebarColors();
    void replaceDestination();
    void giveKeysToDestination();
    void keepSelection();
    std::vector<NavigationType> visibleDestinations() const;
    // The destination of the nearest row shown below (or above) the selected one, in sidebar order.
    std::optional<NavigationType> nearestVisibleDestination(bool below) const;
    bool moveSidebarSelection(int key);
    bool stepFromHeader(QTreeWidgetItem* header, int key);
    // The section header the keys are on, if they are on one rather than on the selected row.
    QTreeWidgetItem* keyHeader() const;
    void setKeyHeader(QTreeWidgetItem* header);

    TDStores m_stores;
    std::function<void()> m_onAppear;
    NavigationType m_selectedNavigationItem = NavigationType::projects;
    bool m_isMenuExpanded = true;
    bool m_isStatusExpanded = true;
    QSplitter* m_splitter;
    QTreeWidget* m_sidebar;
    TDToolbar* m_toolbar;
    QWidget* m_detail;
    QVBoxLayout* m_detailLayout;
    std::function<int()> m_availableWidth;
    QWidget* m_destination = nullptr;
    BottomBar* m_bar;
};
